#pragma once
// Stream sockets with the behaviour the server expects of Windows sockets: a send never
// raises SIGPIPE and always completes, interrupted calls are retried, listening sockets
// reuse their address, and every failure leaves a Windows socket error code behind so
// that log texts read the same on every platform.

#include <cstddef>
#include <cstdint>
#include <string>

namespace sockets {

using Handle = int;
constexpr Handle kInvalid = -1;

// The Windows socket code of the last failed call of this thread (0 when none failed).
int LastError();
// The Windows socket code for a POSIX errno value.
int WsaCodeFromErrno(int err);

// A blocking IPv4 TCP socket; kInvalid on failure.
Handle OpenTcp();
// IPv4 addresses in host order.
constexpr uint32_t kLoopbackAddress = 0x7F000001; // 127.0.0.1
constexpr uint32_t kAnyAddress = 0;               // every local address
// The address of a dotted text such as "192.168.1.10"; false for anything else (names too).
bool ParseAddress(const std::string& text, uint32_t& address);
std::string AddressText(uint32_t address);
// Whether the address stays on this machine (127.0.0.0/8).
bool IsLoopback(uint32_t address);
// Binds with address reuse on the port of the address.
bool Bind(Handle s, uint16_t port, uint32_t address);
bool Listen(Handle s, int backlog);
// The port a bound socket holds (0 when it cannot be read).
uint16_t LocalPort(Handle s);
// Accepts one client; fills the peer's dotted address and port (host order).
Handle Accept(Handle s, std::string* peerAddress, uint16_t* peerPort);
// Connects to 127.0.0.1 at the port; kInvalid on failure.
Handle ConnectLoopback(uint16_t port);

// One receive of at most len bytes: the count, 0 when the peer closed, -1 on failure
// (a receive timeout fails with "Connection timed out").
long Receive(Handle s, void* buf, size_t len);
// Sends all len bytes; answers len, or -1 on failure.
long SendAll(Handle s, const void* buf, size_t len);

bool ShutdownSend(Handle s);
bool Close(Handle s);

// Limits how long one receive or send may block; 0 means no limit.
bool SetReceiveTimeout(Handle s, int milliseconds);
bool SetSendTimeout(Handle s, int milliseconds);

} // namespace sockets
