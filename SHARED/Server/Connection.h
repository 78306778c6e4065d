#pragma once
// The conversion server's network object: one listening TCP socket, at most one client,
// line input and output for the command dialogue, and the block-wise file transfer.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sockets/Sockets.h"

class ct_Connection {
public:
    enum Status : int32_t {
        ec_NotStarted = 0,
        ec_ServerDown = 1,
        ec_ServerUp = 2,
        ec_Accepting = 3,
        ec_Connected = 4,
    };

    static constexpr uint16_t kDefaultPort = 8126;
    // Longest line a client may send, its terminator not counted.
    static constexpr size_t kMaxLineLength = 4095;

    // Every transfer block has this size on the stream, whatever it carries.
    static constexpr int32_t kBlockSize = 31944;
    static constexpr int32_t kFullPayload = kBlockSize - 1;   // flags, then payload
    static constexpr int32_t kHeaderPayload = kBlockSize - 3; // flags, length, then payload
    // Sender buffer: payload at offset 3, one byte of room behind a full payload.
    static constexpr int32_t kSendBufferSize = 3 + kFullPayload;
    static constexpr int32_t kInflateAreaSize = 4 * kBlockSize;
    static constexpr int32_t kDeflateReadChunk = 10 * kFullPayload;

    enum BlockFlags : uint8_t {
        kFlagFull = 1,
        kFlagLast = 2,
        kFlagCancel = 4,
        kFlagDeflated = 8,
    };

    // Bounds that keep a silent or hostile client from holding the host's thread or disk.
    struct Limits {
        int idleTimeoutMs = 10 * 60 * 1000; // one receive or send on a client
        int drainTimeoutMs = 5000;          // reading what a closing client still sends
        size_t drainByteCap = size_t(4) << 20;
        // What an upload may grow to, inflated or not: 2 GiB, the largest stream the module
        // writes, so that a small deflated upload cannot fill the disk.
        uint64_t maxReceivedFileBytes = uint64_t(2) << 30;
    };
    static void SetLimits(const Limits& limits);
    static const Limits& GetLimits();

    ct_Connection();
    ~ct_Connection();
    ct_Connection(const ct_Connection&) = delete;
    ct_Connection& operator=(const ct_Connection&) = delete;

    static bool Initialize();
    static bool Cleanup();

    // The address startServer binds to (host order): the loopback address unless set.
    void SetListenAddress(uint32_t address) { m_Address = address; }
    uint16_t startServer(uint16_t port);
    uint16_t waitForClient();
    uint16_t closeClient();
    uint16_t haltServer();

    bool IsServerOk();
    bool IsConnected();
    Status GetCurrentStatus() const { return m_Status; }
    uint16_t GetPort() const { return m_Port; }
    // The dotted address of the client connected last.
    const std::string& GetPeerAddress() const { return m_PeerAddress; }

    // One line of the dialogue, read through a buffer: TCP may split a line over several
    // receives or join several lines in one. A line longer than kMaxLineLength closes the
    // client. With logText false the line's content stays out of every log.
    std::string readLine(bool strip = true, char terminator = '\n', bool logText = true);
    bool writeLine(const std::string& text, bool appendTerminator = true, char terminator = '\n');

    // Block-wise file transfer.
    int32_t SendFileTransferBlock(uint8_t* buffer, int32_t length, bool last, bool deflated,
                                  bool sendRemainderNow);
    bool SendFileData(const std::string& path);
    bool SendFileDataCompressed(const std::string& path, int level);
    bool ReceiveFileTransferBlock(uint8_t* block);
    // Receives a file of at most maxBytes bytes (and never more than GetLimits allows);
    // *received gets the bytes written.
    bool ReceiveFileData(const std::string& path, bool& compressed, uint64_t maxBytes = UINT64_MAX,
                         uint64_t* received = nullptr);

    static void socketError(const std::string& location, const std::string& message);
    static std::string SocketErrorText(const std::string& text, const std::string& comment);
    static std::string WinsockErrorText(const std::string& prefix, int code);
    // Closes gracefully: the sending side first, then what the client still sends is read
    // (5 s and 4 MiB at most in all), then the socket. *errorCode (when given) receives the
    // socket error of the call that failed, 0 when none did.
    static bool ShutdownConnection(sockets::Handle socket, int* errorCode = nullptr);

    // A text no client line may carry into a log (the server's password): every occurrence
    // reads as "********" in what the connection logs. Lines go to the client unmasked.
    static void SetConcealed(const std::string& secret);
    static std::string Conceal(const std::string& text);

private:
    void ResetInput() { m_InBegin = m_InEnd = 0; }
    // Fills the input buffer by one receive; false when the peer closed or the call failed
    // (the failure is reported and the client closed).
    bool ReceiveMore(bool* peerClosed);
    bool SendOrFail(const uint8_t* data, size_t length);
    bool FailTransfer(const char* method, const char* text);

    sockets::Handle m_ListenSocket = sockets::kInvalid;
    sockets::Handle m_ClientSocket = sockets::kInvalid;
    uint16_t m_Port = 0;
    Status m_Status = ec_NotStarted;
    uint32_t m_Address = sockets::kLoopbackAddress;
    std::string m_PeerAddress;

    static constexpr size_t kInputBufferSize = 2 * (kMaxLineLength + 1);
    char m_In[kInputBufferSize];
    size_t m_InBegin = 0;
    size_t m_InEnd = 0;
};

static_assert(sizeof(ct_Connection::Status) == 4, "the status is a 32-bit enumeration");
