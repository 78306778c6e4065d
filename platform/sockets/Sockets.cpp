#include "platform/sockets/Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace sockets {
namespace {

// In the thread's static TLS block, also in the module that the host loads and unloads: a
// module with dynamic TLS leaves every thread that touched it a range the loader frees at
// unload, and the leak checker, which scans each thread's TLS for roots, would stop on such a
// stale range instead of checking. The few bytes fit the room the loader keeps for libraries
// loaded later.
__attribute__((tls_model("initial-exec"))) thread_local int t_lastError = 0;

// Records the failure of the call that just returned and answers the given result.
template <typename T>
T Fail(T result) {
    t_lastError = WsaCodeFromErrno(errno);
    return result;
}

bool Succeed() {
    t_lastError = 0;
    return true;
}

sockaddr_in AddressOf(uint32_t hostOrderAddress, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(hostOrderAddress);
    return addr;
}

bool SetTimeout(Handle s, int option, int milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    if (::setsockopt(s, SOL_SOCKET, option, &tv, sizeof tv) != 0)
        return Fail(false);
    return Succeed();
}

} // namespace

int LastError() { return t_lastError; }

int WsaCodeFromErrno(int err) {
    switch (err) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
    // Sockets here block; a blocking call only answers "again" when its timeout ran out.
    case EAGAIN: return 10060;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: case EPIPE: return 10054;
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return err; // not a socket condition: the text table answers "unknown error"
    }
}

Handle OpenTcp() {
    Handle s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0)
        return Fail(kInvalid);
    Succeed();
    return s;
}

bool ParseAddress(const std::string& text, uint32_t& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return false;
    address = ntohl(parsed.s_addr);
    return true;
}

std::string AddressText(uint32_t address) {
    in_addr addr{};
    addr.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

bool IsLoopback(uint32_t address) { return (address >> 24) == 127; }

bool Bind(Handle s, uint16_t port, uint32_t address) {
    // A restarted server must bind again at once while old connections linger.
    int on = 1;
    if (::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return Fail(false);
    const sockaddr_in addr = AddressOf(address, port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        return Fail(false);
    return Succeed();
}

bool Listen(Handle s, int backlog) {
    if (::listen(s, backlog) != 0)
        return Fail(false);
    return Succeed();
}

uint16_t LocalPort(Handle s) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return Fail<uint16_t>(0);
    Succeed();
    return ntohs(addr.sin_port);
}

Handle Accept(Handle s, std::string* peerAddress, uint16_t* peerPort) {
    sockaddr_in addr{};
    Handle c;
    do {
        socklen_t len = sizeof addr;
        c = ::accept4(s, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
    } while (c < 0 && errno == EINTR);
    if (c < 0)
        return Fail(kInvalid);
    Succeed();
    if (peerAddress) {
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
        *peerAddress = text;
    }
    if (peerPort)
        *peerPort = ntohs(addr.sin_port);
    return c;
}

Handle ConnectLoopback(uint16_t port) {
    Handle s = OpenTcp();
    if (s == kInvalid)
        return kInvalid;
    const sockaddr_in addr = AddressOf(INADDR_LOOPBACK, port);
    int rc;
    do {
        rc = ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(s);
        errno = err;
        return Fail(kInvalid);
    }
    Succeed();
    return s;
}

long Receive(Handle s, void* buf, size_t len) {
    ssize_t n;
    do {
        n = ::recv(s, buf, len, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return Fail(-1L);
    Succeed();
    return static_cast<long>(n);
}

long SendAll(Handle s, const void* buf, size_t len) {
    const char* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::send(s, p + done, len - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail(-1L);
        }
        done += static_cast<size_t>(n);
    }
    Succeed();
    return static_cast<long>(len);
}

bool ShutdownSend(Handle s) {
    if (::shutdown(s, SHUT_WR) != 0)
        return Fail(false);
    return Succeed();
}

bool Close(Handle s) {
    // Linux releases the descriptor even when close reports EINTR: never retry it.
    if (::close(s) != 0 && errno != EINTR)
        return Fail(false);
    return Succeed();
}

bool SetReceiveTimeout(Handle s, int milliseconds) { return SetTimeout(s, SO_RCVTIMEO, milliseconds); }
bool SetSendTimeout(Handle s, int milliseconds) { return SetTimeout(s, SO_SNDTIMEO, milliseconds); }

} // namespace sockets
