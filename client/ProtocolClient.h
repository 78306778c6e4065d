#pragma once
// A client of the conversion server written from the wire protocol alone: its own sockets,
// its own line reader and its own block coder, so that it checks the server rather than
// sharing its mistakes. Every wait is bounded. kesto-client speaks through it, and so do the
// tests of the server.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace protocol {

constexpr size_t kBlock = 31944;
constexpr size_t kFull = 31943;
constexpr size_t kHeader = 31941;

using Block = std::vector<uint8_t>;

// A port nobody listens on right now (the system picks it).
inline uint16_t FreeLoopbackPort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

inline Block HeaderBlock(uint8_t flags, const uint8_t* data, size_t n) {
    Block b(kBlock, 0);
    b[0] = flags;
    b[1] = static_cast<uint8_t>(n & 0xFF);
    b[2] = static_cast<uint8_t>(n >> 8);
    if (n)
        std::memcpy(b.data() + 3, data, n);
    return b;
}

inline Block FullBlock(uint8_t flags, const uint8_t* data) {
    Block b(kBlock);
    b[0] = static_cast<uint8_t>(flags | 1);
    std::memcpy(b.data() + 1, data, kFull);
    return b;
}

// Cuts a byte stream into full blocks and one header block for the rest, then closes
// with an empty last block.
inline std::vector<Block> EncodeStream(const std::string& bytes, uint8_t extraFlags) {
    std::vector<Block> out;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t at = 0;
    for (; bytes.size() - at >= kFull; at += kFull)
        out.push_back(FullBlock(extraFlags, p + at));
    if (at < bytes.size()) {
        // A header block holds at most kHeader bytes.
        while (bytes.size() - at > kHeader) {
            out.push_back(HeaderBlock(extraFlags, p + at, kHeader));
            at += kHeader;
        }
        out.push_back(HeaderBlock(extraFlags, p + at, bytes.size() - at));
    }
    out.push_back(HeaderBlock(2, nullptr, 0));
    return out;
}

inline std::string Deflate(const std::string& data, int level) {
    uLongf len = compressBound(static_cast<uLong>(data.size()));
    std::string out(len, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &len, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), level);
    out.resize(len);
    return out;
}

// The inflated stream; nullopt when it is damaged, cut short or inflates beyond `limit` bytes.
inline std::optional<std::string> Inflate(const std::string& data, size_t limit = SIZE_MAX) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return std::nullopt;
    std::string out;
    char buf[65536];
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    int rc;
    do {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, sizeof buf - zs.avail_out);
        if (out.size() > limit) {
            inflateEnd(&zs);
            return std::nullopt;
        }
    } while (rc == Z_OK);
    inflateEnd(&zs);
    if (rc != Z_STREAM_END)
        return std::nullopt;
    return out;
}

// The payload of one block as the protocol defines it; nullopt for an invalid length.
inline std::optional<std::string> PayloadOf(const Block& b) {
    if (b[0] & 1)
        return std::string(b.begin() + 1, b.end());
    const size_t n = b[1] | size_t(b[2]) << 8;
    if (n > kHeader)
        return std::nullopt;
    return std::string(b.begin() + 3, b.begin() + 3 + static_cast<long>(n));
}

// The file a sequence of blocks carries, inflated when any block is flagged 8; nullopt for an
// invalid block or a file of more than `limit` bytes.
inline std::optional<std::string> DecodeBlocks(const std::vector<Block>& blocks, size_t limit = SIZE_MAX) {
    std::string stream;
    bool deflated = false;
    for (const Block& b : blocks) {
        auto p = PayloadOf(b);
        if (!p)
            return std::nullopt;
        deflated = deflated || (b[0] & 8);
        stream += *p;
    }
    if (deflated)
        return Inflate(stream, limit);
    if (stream.size() > limit)
        return std::nullopt;
    return stream;
}

class Client {
public:
    // Connects to the port of `to`, from the address `from` when given (a loopback address
    // other than 127.0.0.1 stands for another machine).
    explicit Client(uint16_t port, int timeoutMs = 15000, const char* to = "127.0.0.1", const char* from = nullptr)
        : m_TimeoutMs(timeoutMs) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < until) {
            m_Fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            if (from) {
                ::inet_pton(AF_INET, from, &a.sin_addr);
                if (::bind(m_Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                    ::close(m_Fd);
                    m_Fd = -1;
                    return;
                }
            }
            a.sin_port = htons(port);
            ::inet_pton(AF_INET, to, &a.sin_addr);
            if (::connect(m_Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
                return;
            ::close(m_Fd);
            m_Fd = -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // One attempt to reach host (a name or an address, IPv4 or IPv6) on port; null, with the
    // reason in `error`, when no address of the host answers.
    static std::unique_ptr<Client> Connect(const std::string& host, uint16_t port, int timeoutMs, std::string& error) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found)) {
            error = ::gai_strerror(rc);
            return nullptr;
        }
        error = "no address";
        for (const addrinfo* a = found; a; a = a->ai_next) {
            const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
            if (fd < 0) {
                error = std::strerror(errno);
                continue;
            }
            if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
                ::freeaddrinfo(found);
                return std::unique_ptr<Client>(new Client(Adopt{fd}, timeoutMs));
            }
            error = std::strerror(errno);
            ::close(fd);
        }
        ::freeaddrinfo(found);
        return nullptr;
    }
    ~Client() { Close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Connected() const { return m_Fd >= 0; }

    bool SendRaw(const void* data, size_t n) {
        const char* p = static_cast<const char*>(data);
        while (n > 0) {
            const ssize_t k = ::send(m_Fd, p, n, MSG_NOSIGNAL);
            if (k <= 0)
                return false;
            p += k;
            n -= static_cast<size_t>(k);
        }
        return true;
    }
    bool SendRaw(const std::string& s) { return SendRaw(s.data(), s.size()); }
    bool SendLine(const std::string& s) { return SendRaw(s + "\n"); }
    bool SendBlocks(const std::vector<Block>& blocks) {
        for (const Block& b : blocks)
            if (!SendRaw(b.data(), b.size()))
                return false;
        return true;
    }

    // The next line without its LF; nullopt at the end of the stream or after the timeout.
    std::optional<std::string> ReadLine() {
        for (;;) {
            const size_t lf = m_Pending.find('\n');
            if (lf != std::string::npos) {
                std::string line = m_Pending.substr(0, lf);
                m_Pending.erase(0, lf + 1);
                return line;
            }
            if (!Fill())
                return std::nullopt;
        }
    }

    bool ReadExact(uint8_t* out, size_t n) {
        while (m_Pending.size() < n)
            if (!Fill())
                return false;
        std::memcpy(out, m_Pending.data(), n);
        m_Pending.erase(0, n);
        return true;
    }

    // Blocks up to and including the first one flagged last; nullopt when they would carry more
    // than `maxPayload` bytes.
    std::optional<std::vector<Block>> ReadBlocks(size_t maxPayload = SIZE_MAX) {
        std::vector<Block> blocks;
        for (;;) {
            if (blocks.size() * kFull > maxPayload)
                return std::nullopt;
            Block b(kBlock);
            if (!ReadExact(b.data(), b.size()))
                return std::nullopt;
            blocks.push_back(b);
            if (b[0] & 2)
                return blocks;
        }
    }

    // True when the server closed its side (after any unread bytes); a client that saw
    // the end closes as well, which is what the server waits for.
    bool AtEof() {
        while (Fill()) {
        }
        if (m_Eof)
            Close();
        return m_Eof;
    }

    void ShutdownSend() {
        if (m_Fd >= 0)
            ::shutdown(m_Fd, SHUT_WR);
    }
    void Close() {
        if (m_Fd >= 0)
            ::close(m_Fd);
        m_Fd = -1;
    }

private:
    struct Adopt {
        int fd;
    };
    Client(Adopt socket, int timeoutMs) : m_Fd(socket.fd), m_TimeoutMs(timeoutMs) {}

    bool Fill() {
        if (m_Fd < 0 || m_Eof)
            return false;
        pollfd p{m_Fd, POLLIN, 0};
        if (::poll(&p, 1, m_TimeoutMs) <= 0)
            return false;
        char buf[65536];
        const ssize_t k = ::recv(m_Fd, buf, sizeof buf, 0);
        if (k <= 0) {
            m_Eof = true;
            return false;
        }
        m_Pending.append(buf, static_cast<size_t>(k));
        return true;
    }

    int m_Fd = -1;
    int m_TimeoutMs;
    bool m_Eof = false;
    std::string m_Pending;
};

} // namespace protocol
