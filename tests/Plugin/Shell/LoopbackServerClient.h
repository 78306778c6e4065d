// Loopback helpers for tests that run the conversion server inside an idle call: a free port,
// a port held by someone else, and a client that talks to the server from another thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "SHARED/Server/ServerLoops.h"

namespace kesto_test {

// A listening loopback socket on a port the system chose; the server cannot take that port
// while the holder lives.
class PortHolder {
public:
    PortHolder()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t length = sizeof address;
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_socket, 1);
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~PortHolder() { ::close(m_socket); }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    uint16_t Port() const { return m_port; }

private:
    int m_socket = -1;
    uint16_t m_port = 0;
};

// A port that nothing listens on at the moment.
inline uint16_t FreePort()
{
    return PortHolder().Port();
}

// Connects to the server (retrying while it comes up), sends the password and the commands,
// and collects what the server says until it closes the connection.
class ServerClient {
public:
    ServerClient(uint16_t port, std::vector<std::string> commands)
        : m_thread([this, port, commands] { Run(port, commands); })
    {
    }
    ~ServerClient() { Join(); }
    ServerClient(const ServerClient&) = delete;
    ServerClient& operator=(const ServerClient&) = delete;

    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    // Valid after Join.
    const std::string& Received() const { return m_received; }

private:
    void Run(uint16_t port, const std::vector<std::string>& commands)
    {
        int s = -1;
        for (int attempt = 0; attempt < 1000 && s < 0; ++attempt) {
            s = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(port);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                ::close(s);
                s = -1;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (s < 0)
            return;
        std::string lines = std::string(ServerPassword) + "\n";
        for (const auto& command : commands)
            lines += command + "\n";
        ::send(s, lines.data(), lines.size(), MSG_NOSIGNAL);
        char buffer[512];
        for (ssize_t n; (n = ::recv(s, buffer, sizeof buffer, 0)) > 0;)
            m_received.append(buffer, static_cast<std::size_t>(n));
        ::close(s);
    }

    std::string m_received;
    std::thread m_thread;
};

} // namespace kesto_test
