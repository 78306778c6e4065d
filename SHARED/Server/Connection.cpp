#include "SHARED/Server/Connection.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Foundation/Log.h"

namespace {

struct WinsockText {
    int code;
    const char* text;
};

// Sorted by code for the binary search.
constexpr WinsockText kWinsockTexts[] = {
    {0, "No error"},
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open sockets"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Net connection reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network system is unavailable"},
    {10092, "Winsock version out of range"},
    {10093, "WSAStartup not yet called"},
    {10101, "Graceful shutdown in progress"},
    {11001, "Host not found"},
    {11004, "No host data of that type was found"},
};
static_assert(sizeof kWinsockTexts / sizeof kWinsockTexts[0] == 50, "fifty rows");

const char* WinsockTextOf(int code) {
    const auto end = std::end(kWinsockTexts);
    const auto it = std::lower_bound(std::begin(kWinsockTexts), end, code,
                                     [](const WinsockText& row, int c) { return row.code < c; });
    return it != end && it->code == code ? it->text : "unknown error";
}

ct_Connection::Limits g_Limits;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Closes the file and tells whether everything written reached it.
bool CloseFile(FilePtr& file) {
    return std::fclose(file.release()) == 0;
}

// Writes a received file on a thread of its own, in pieces of 1 MiB: receiving the next blocks
// and writing the last ones then overlap, where one after the other each would wait for the
// other (writing a file costs about as much as taking the same bytes from the socket).
class WriteBehind {
public:
    explicit WriteBehind(std::FILE* file) : m_file(file), m_thread([this] { Run(); }) {}
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;
    ~WriteBehind() { Finish(); }

    // False once a write of the file failed.
    bool Write(const uint8_t* data, size_t n) {
        while (n > 0) {
            if (m_filling.capacity() == 0)
                m_filling = TakeBuffer();
            const size_t take = std::min(n, kPiece - m_filling.size());
            m_filling.insert(m_filling.end(), data, data + take);
            data += take;
            n -= take;
            if (m_filling.size() == kPiece && !HandOver())
                return false;
        }
        return !m_failed;
    }

    // Writes what is left and waits for the thread; false when any write failed.
    bool Finish() {
        if (m_thread.joinable()) {
            HandOver();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_done = true;
            }
            m_changed.notify_all();
            m_thread.join();
        }
        return !m_failed;
    }

private:
    static constexpr size_t kPiece = 1 << 20;
    static constexpr size_t kQueued = 4;

    std::vector<uint8_t> TakeBuffer() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<uint8_t> buffer;
        if (!m_spare.empty()) {
            buffer = std::move(m_spare.back());
            m_spare.pop_back();
        }
        buffer.clear();
        buffer.reserve(kPiece);
        return buffer;
    }

    bool HandOver() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_queue.size() < kQueued || m_failed; });
        if (m_failed)
            return false;
        if (!m_filling.empty()) {
            m_queue.push_back(std::move(m_filling));
            m_filling = std::vector<uint8_t>();
            m_changed.notify_all();
        }
        return true;
    }

    void Run() {
        for (;;) {
            std::vector<uint8_t> piece;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [this] { return !m_queue.empty() || m_done; });
                if (m_queue.empty())
                    return;
                piece = std::move(m_queue.front());
                m_queue.pop_front();
            }
            if (!m_failed && std::fwrite(piece.data(), 1, piece.size(), m_file) != piece.size())
                m_failed = true;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_spare.push_back(std::move(piece));
            m_changed.notify_all();
        }
    }

    std::FILE* m_file;
    std::vector<uint8_t> m_filling;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<uint8_t>> m_queue;   // pieces to write, in order
    std::vector<std::vector<uint8_t>> m_spare;  // written pieces, for reuse
    std::atomic<bool> m_failed{false};
    bool m_done = false;
    std::thread m_thread;  // last: it starts with everything above in place
};

void PutLength(uint8_t* at, int32_t length) {
    at[0] = static_cast<uint8_t>(length & 0xFF);
    at[1] = static_cast<uint8_t>((length >> 8) & 0xFF);
}

} // namespace

void ct_Connection::SetLimits(const Limits& limits) { g_Limits = limits; }

void ct_Connection::SetConcealed(const std::string& secret) { SetLogSecret(secret); }

std::string ct_Connection::Conceal(const std::string& text) { return ConcealSecret(text); }
const ct_Connection::Limits& ct_Connection::GetLimits() { return g_Limits; }

ct_Connection::ct_Connection() {
    Initialize();
}

ct_Connection::~ct_Connection() {
    Cleanup();
    // Nothing releases sockets behind our back here: close what is still open.
    if (m_ClientSocket != sockets::kInvalid)
        sockets::Close(m_ClientSocket);
    if (m_ListenSocket != sockets::kInvalid)
        sockets::Close(m_ListenSocket);
}

bool ct_Connection::Initialize() {
    // POSIX sockets need no start-up call.
    return true;
}

bool ct_Connection::Cleanup() {
    LogMessage(KS_LOCATION("ct_Connection::Cleanup"), "Cleaning up...", 4);
    return true;
}

// ---------------------------------------------------------------------------------------
// Server side

uint16_t ct_Connection::startServer(uint16_t port) {
    LogMessage(KS_LOCATION("ct_Connection::startServer"), "Starting server...", 5);
    Cleanup();
    Initialize();
    // A fresh start releases what an earlier start of this object left open.
    if (m_ClientSocket != sockets::kInvalid) {
        sockets::Close(m_ClientSocket);
        m_ClientSocket = sockets::kInvalid;
    }
    if (m_ListenSocket != sockets::kInvalid) {
        sockets::Close(m_ListenSocket);
        m_ListenSocket = sockets::kInvalid;
    }
    ResetInput();

    m_ListenSocket = sockets::OpenTcp();
    if (m_ListenSocket == sockets::kInvalid) {
        socketError(KS_LOCATION("ct_Connection::startServer"), SocketErrorText("Failed socket()", ""));
        m_Status = ec_ServerDown;
        return 1;
    }
    m_Port = port != 0 ? port : kDefaultPort;
    if (!sockets::Bind(m_ListenSocket, m_Port, m_Address)) {
        socketError(KS_LOCATION("ct_Connection::startServer"), SocketErrorText("Failed bind()", ""));
        haltServer();
        return 1;
    }
    if (!sockets::Listen(m_ListenSocket, 1)) {
        socketError(KS_LOCATION("ct_Connection::startServer"), SocketErrorText("Failed listen()", ""));
        haltServer();
        return 1;
    }
    m_Status = ec_ServerUp;
    LogMessage(KS_LOCATION("ct_Connection::startServer"),
               "Listening on " + sockets::AddressText(m_Address) + ":" + std::to_string(m_Port), 7);
    return 0;
}

uint16_t ct_Connection::waitForClient() {
    if (m_Status < ec_ServerUp) {
        socketError(KS_LOCATION("ct_Connection::waitForClient"), "Server not started yet!");
        return 1;
    }
    if (IsConnected()) {
        // A client that is still connected would otherwise be left open for good.
        LogMessage(KS_LOCATION("ct_Connection::waitForClient"), "Warning: already connected!", 5);
        closeClient();
    } else {
        LogMessage(KS_LOCATION("ct_Connection::waitForClient"), "Not already connected -> OK", 4);
    }
    m_Status = ec_Accepting;
    LogMessage(KS_LOCATION("ct_Connection::waitForClient"), "Waiting for a connection...", 5);
    std::string peer;
    uint16_t peerPort = 0;
    m_ClientSocket = sockets::Accept(m_ListenSocket, &peer, &peerPort);
    m_PeerAddress = peer;
    if (m_ClientSocket == sockets::kInvalid) {
        socketError(KS_LOCATION("ct_Connection::waitForClient"), SocketErrorText("Accept connection", ""));
        closeClient();
        return 1;
    }
    ResetInput();
    if (g_Limits.idleTimeoutMs > 0) {
        sockets::SetReceiveTimeout(m_ClientSocket, g_Limits.idleTimeoutMs);
        sockets::SetSendTimeout(m_ClientSocket, g_Limits.idleTimeoutMs);
    }
    LogMessage(KS_LOCATION("ct_Connection::waitForClient"),
               "Accepted connection from " + peer + ":" + std::to_string(peerPort), 7);
    m_Status = ec_Connected;
    return 0;
}

uint16_t ct_Connection::closeClient() {
    if (!IsConnected())
        LogMessage(KS_LOCATION("ct_Connection::closeClient"), "Warning: not connected!", 5);
    if (m_ClientSocket == sockets::kInvalid)
        return 1;
    LogMessage(KS_LOCATION("ct_Connection::closeClient"), "Shutting connection down...", 5);
    int error = 0;
    const bool down = ShutdownConnection(m_ClientSocket, &error);
    // The failing call's own code: the close that followed it has cleared the last error.
    if (!down)
        socketError(KS_LOCATION("ct_Connection::closeClient"), WinsockErrorText("Shutdown connection", error));
    else
        LogMessage(KS_LOCATION("ct_Connection::closeClient"), "Connection is down", 5);
    m_ClientSocket = sockets::kInvalid;
    m_Status = ec_ServerUp;
    ResetInput();
    return down ? 0 : 1;
}

uint16_t ct_Connection::haltServer() {
    if (!IsConnected())
        LogMessage(KS_LOCATION("ct_Connection::haltServer"), "Warning: not connected!", 5);
    closeClient();
    if (!IsServerOk())
        LogMessage(KS_LOCATION("ct_Connection::haltServer"), "Warning: server not ok!", 5);
    if (m_ListenSocket != sockets::kInvalid)
        sockets::Close(m_ListenSocket);
    m_ListenSocket = sockets::kInvalid;
    m_Status = ec_ServerDown;
    return Cleanup() ? 0 : 1;
}

bool ct_Connection::IsServerOk() {
    const bool up = m_Status >= ec_ServerUp;
    const bool listening = m_ListenSocket != sockets::kInvalid;
    if (up && listening)
        return true;
    LogMessage(KS_LOCATION("ct_Connection::IsServerOk"),
               std::string("STATUS: ") + (up ? "up" : "DOWN!") + "\t(SERVER: " +
                   (listening ? "ok" : "NOT ok!") + ")",
               4);
    return false;
}

bool ct_Connection::IsConnected() {
    const bool connected = m_Status >= ec_Connected;
    const bool client = m_ClientSocket != sockets::kInvalid;
    const bool listening = m_ListenSocket != sockets::kInvalid;
    if (connected && client && listening)
        return true;
    LogMessage(KS_LOCATION("ct_Connection::IsConnected"),
               std::string("STATUS: ") + (connected ? "connected" : "NOT connected!") +
                   "\t(CLIENT: " + (client ? "connected" : "NOT connected!") +
                   "\tSERVER: " + (listening ? "ok" : "NOT ok!") + ")",
               4);
    return false;
}

bool ct_Connection::ShutdownConnection(sockets::Handle socket, int* errorCode) {
    if (errorCode)
        *errorCode = 0;
    if (!sockets::ShutdownSend(socket)) {
        if (errorCode)
            *errorCode = sockets::LastError();
        sockets::Close(socket);
        return false;
    }
    // Read what the client still sends until it closes, but neither for ever nor without end:
    // the bounds hold for the whole drain, so a client trickling bytes cannot hold the host.
    using Clock = std::chrono::steady_clock;
    const bool timed = g_Limits.drainTimeoutMs > 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(g_Limits.drainTimeoutMs);
    char buffer[1024];
    size_t drained = 0;
    while (drained < g_Limits.drainByteCap) {
        if (timed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            sockets::SetReceiveTimeout(socket, static_cast<int>(left));
        }
        const size_t room = std::min(sizeof buffer, g_Limits.drainByteCap - drained);
        const long n = sockets::Receive(socket, buffer, room);
        if (n <= 0)
            break;
        std::cerr << "\nFYI, received " << n << " unexpected bytes during shutdown.\n";
        drained += static_cast<size_t>(n);
    }
    if (sockets::Close(socket))
        return true;
    if (errorCode)
        *errorCode = sockets::LastError();
    return false;
}

// ---------------------------------------------------------------------------------------
// Lines

bool ct_Connection::ReceiveMore(bool* peerClosed) {
    if (m_InBegin > 0) {
        std::memmove(m_In, m_In + m_InBegin, m_InEnd - m_InBegin);
        m_InEnd -= m_InBegin;
        m_InBegin = 0;
    }
    const long n = sockets::Receive(m_ClientSocket, m_In + m_InEnd, kInputBufferSize - m_InEnd);
    if (n < 0) {
        socketError(KS_LOCATION("ct_Connection::readLine"), SocketErrorText("Failed recv()", ""));
        closeClient();
        return false;
    }
    if (n == 0) {
        *peerClosed = true;
        return false;
    }
    m_InEnd += static_cast<size_t>(n);
    return true;
}

std::string ct_Connection::readLine(bool strip, char terminator, bool logText) {
    if (m_Status < ec_Connected) {
        socketError(KS_LOCATION("ct_Connection::readLine"), "Not connected to client!");
        return std::string();
    }
    std::string line;
    bool tooLong = false;
    for (;;) {
        const char* begin = m_In + m_InBegin;
        const char* end = m_In + m_InEnd;
        const char* found = std::find(begin, end, terminator);
        if (found != end) {
            tooLong = static_cast<size_t>(found - begin) > kMaxLineLength;
            if (!tooLong) {
                line.assign(begin, found + 1);
                m_InBegin += line.size();
            }
            break;
        }
        tooLong = static_cast<size_t>(end - begin) > kMaxLineLength;
        if (tooLong)
            break;
        bool peerClosed = false;
        if (!ReceiveMore(&peerClosed)) {
            if (!peerClosed)
                return std::string();
            // The client closed its side: what it sent last is its last line.
            line.assign(m_In + m_InBegin, m_In + m_InEnd);
            ResetInput();
            break;
        }
    }
    if (tooLong) {
        LogMessage(KS_LOCATION("ct_Connection::readLine"),
                   "Error: line longer than " + std::to_string(kMaxLineLength) + " bytes!", 6);
        closeClient();
        return std::string();
    }
    line.resize(std::strlen(line.c_str())); // a zero byte ends the line
    if (strip && !line.empty() && line.back() == terminator)
        line.pop_back();
    LogMessage(KS_LOCATION("ct_Connection::readLine"),
               "READ:\t" + (logText ? Conceal(line) : "(" + std::to_string(line.size()) + " bytes not logged)"), 4);
    return line;
}

bool ct_Connection::writeLine(const std::string& text, bool appendTerminator, char terminator) {
    if (m_Status < ec_Connected) {
        socketError(KS_LOCATION("ct_Connection::writeLine"), "Not connected to client!");
        return false; // nothing went out
    }
    // The client gets the line as it is (a result it owns may carry the password in its
    // name); only the log masks it.
    std::string out = text;
    if (appendTerminator && !out.empty() && out.back() != terminator)
        out += terminator;
    if (!out.empty() && sockets::SendAll(m_ClientSocket, out.data(), out.size()) < 0) {
        socketError(KS_LOCATION("ct_Connection::writeLine"), SocketErrorText("Failed send()", ""));
        closeClient();
        return false;
    }
    LogMessage(KS_LOCATION("ct_Connection::writeLine"), "WRITE:\t" + Conceal(out), 4);
    return true;
}

// ---------------------------------------------------------------------------------------
// Errors

void ct_Connection::socketError(const std::string& location, const std::string& message) {
    LogMessage(location.empty() ? KS_LOCATION("ct_Connection::socketError") : location,
               "SOCKET ERROR - " + (message.empty() ? std::string("UNKNOWN REASON") : message), 6);
}

std::string ct_Connection::SocketErrorText(const std::string& text, const std::string& comment) {
    std::string message = WinsockErrorText(text.empty() ? "UNKNOWN REASON" : text, 0);
    if (!comment.empty())
        message += "\tCOMMENT: " + comment;
    return message;
}

std::string ct_Connection::WinsockErrorText(const std::string& prefix, int code) {
    if (code == 0)
        code = sockets::LastError();
    return prefix + ": " + WinsockTextOf(code) + " (" + std::to_string(code) + ")";
}

// ---------------------------------------------------------------------------------------
// Block-wise file transfer

bool ct_Connection::SendOrFail(const uint8_t* data, size_t length) {
    if (m_ClientSocket != sockets::kInvalid &&
        sockets::SendAll(m_ClientSocket, data, length) >= 0)
        return true;
    socketError(KS_LOCATION("ct_Connection::SendFileTransferBlock"), SocketErrorText("Failed send()", ""));
    closeClient();
    return false;
}

bool ct_Connection::FailTransfer(const char* method, const char* text) {
    LogMessage(KS_LOCATION(method), text, 6);
    closeClient();
    return false;
}

int32_t ct_Connection::SendFileTransferBlock(uint8_t* buffer, int32_t length, bool last,
                                             bool deflated, bool sendRemainderNow) {
    if (length == kFullPayload) {
        buffer[2] = static_cast<uint8_t>(kFlagFull | (last ? kFlagLast : 0) | (deflated ? kFlagDeflated : 0));
        return SendOrFail(buffer + 2, kBlockSize) ? 0 : -1;
    }
    const int32_t heldBack = length > kHeaderPayload ? length - kHeaderPayload : 0;
    const int32_t carried = length - heldBack;
    buffer[0] = static_cast<uint8_t>((last && heldBack == 0 ? kFlagLast : 0) | (deflated ? kFlagDeflated : 0));
    PutLength(buffer + 1, carried);
    // The rest of a header block means nothing; zeros keep earlier data off the wire.
    std::memset(buffer + 3 + carried, 0, static_cast<size_t>(kHeaderPayload - carried));
    if (!SendOrFail(buffer, kBlockSize))
        return -1;
    if (heldBack == 0)
        return 0;
    std::memmove(buffer + 3, buffer + kBlockSize, static_cast<size_t>(heldBack));
    if (last || sendRemainderNow)
        return SendFileTransferBlock(buffer, heldBack, last, deflated, false) < 0 ? -1 : 0;
    return heldBack;
}

bool ct_Connection::SendFileData(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return FailTransfer("ct_Connection::SendFileData", "Failed send: error opening file!");
    std::vector<uint8_t> buffer(kSendBufferSize);
    int32_t heldBack = 0;
    for (;;) {
        const size_t n = std::fread(buffer.data() + 3 + heldBack, 1,
                                    static_cast<size_t>(kFullPayload - heldBack), file.get());
        if (n == 0)
            break;
        heldBack = SendFileTransferBlock(buffer.data(), heldBack + static_cast<int32_t>(n), false, false, false);
        if (heldBack < 0)
            return false;
    }
    if (std::ferror(file.get()))
        return FailTransfer("ct_Connection::SendFileData", "Failed send: error reading file!");
    file.reset();
    return SendFileTransferBlock(buffer.data(), heldBack, true, false, true) >= 0;
}

bool ct_Connection::SendFileDataCompressed(const std::string& path, int level) {
    static constexpr const char* kMethod = "ct_Connection::SendFileDataCompressed";
    z_stream zs{};
    if (deflateInit(&zs, level) != Z_OK)
        return FailTransfer(kMethod, "Failed send: compression init error!");
    struct DeflateEnd {
        z_stream* zs;
        ~DeflateEnd() { deflateEnd(zs); }
    } deflateEndGuard{&zs};

    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return FailTransfer(kMethod, "Failed send: error opening file!");

    std::vector<uint8_t> buffer(kSendBufferSize);
    std::vector<uint8_t> chunk(kDeflateReadChunk);
    auto resetOutput = [&] {
        zs.next_out = buffer.data() + 3;
        zs.avail_out = kFullPayload;
    };
    resetOutput();

    for (;;) {
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (n == 0)
            break;
        zs.next_in = chunk.data();
        zs.avail_in = static_cast<uInt>(n);
        while (zs.avail_in > 0) {
            if (zs.avail_out == 0) {
                if (SendFileTransferBlock(buffer.data(), kFullPayload, false, true, true) < 0)
                    return false;
                resetOutput();
            }
            if (deflate(&zs, Z_NO_FLUSH) != Z_OK)
                return FailTransfer(kMethod, "Failed send: compression error!");
        }
    }
    if (std::ferror(file.get()))
        return FailTransfer(kMethod, "Failed send: error reading file!");
    file.reset();

    bool finished = false;
    for (;;) {
        if (zs.avail_out == 0) {
            if (SendFileTransferBlock(buffer.data(), kFullPayload, false, true, true) < 0)
                return false;
            resetOutput();
        } else if (finished) {
            const int32_t pending = kFullPayload - static_cast<int32_t>(zs.avail_out);
            if (pending != 0 && SendFileTransferBlock(buffer.data(), pending, false, true, true) < 0)
                return false;
            break;
        } else {
            const int rc = deflate(&zs, Z_FINISH);
            if (rc == Z_STREAM_END)
                finished = true;
            else if (rc != Z_OK)
                return FailTransfer(kMethod, "Failed send: compression error!");
        }
    }
    return SendFileTransferBlock(buffer.data(), 0, true, false, true) >= 0;
}

bool ct_Connection::ReceiveFileTransferBlock(uint8_t* block) {
    // Bytes that arrived behind the last line belong to the block.
    size_t got = std::min<size_t>(m_InEnd - m_InBegin, kBlockSize);
    std::memcpy(block, m_In + m_InBegin, got);
    m_InBegin += got;
    while (got < static_cast<size_t>(kBlockSize)) {
        if (m_ClientSocket == sockets::kInvalid)
            return false;
        const long n = sockets::Receive(m_ClientSocket, block + got, kBlockSize - got);
        if (n < 0) {
            socketError(KS_LOCATION("ct_Connection::ReceiveFileTransferBlock"), SocketErrorText("Failed recv()", ""));
            closeClient();
            return false;
        }
        if (n == 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

bool ct_Connection::ReceiveFileData(const std::string& path, bool& compressed, uint64_t maxBytes,
                                    uint64_t* received) {
    static constexpr const char* kMethod = "ct_Connection::ReceiveFileData";
    maxBytes = std::min(maxBytes, g_Limits.maxReceivedFileBytes);
    uint64_t written = 0;
    if (received)
        *received = 0;
    compressed = false;
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file)
        return FailTransfer(kMethod, "Failed receive: error creating file!");

    std::vector<uint8_t> block(kBlockSize);
    std::vector<uint8_t> area;
    z_stream zs{};
    bool inflating = false;
    bool streamEnded = false;

    std::optional<WriteBehind> behind;
    behind.emplace(file.get());
    auto writeOut = [&](const uint8_t* data, size_t n) {
        if (written + n > maxBytes)
            return FailTransfer(kMethod, "Failed receive: file larger than allowed!");
        if (!behind->Write(data, n))
            return FailTransfer(kMethod, "Failed receive: error writing file!");
        written += n;
        return true;
    };

    bool result = false;
    for (;;) {
        if (!ReceiveFileTransferBlock(block.data()))
            break;
        const uint8_t flags = block[0];
        if (flags & kFlagCancel) {
            FailTransfer(kMethod, "Failed receive: file transfer canceled by user!");
            break;
        }
        if ((flags & kFlagDeflated) && !inflating) {
            if (inflateInit(&zs) != Z_OK) {
                FailTransfer(kMethod, "DeCompression init error!");
                break;
            }
            area.resize(kInflateAreaSize);
            inflating = true;
        }
        size_t offset = 1;
        size_t length = kFullPayload;
        if (!(flags & kFlagFull)) {
            offset = 3;
            length = static_cast<size_t>(block[1]) | static_cast<size_t>(block[2]) << 8;
        }
        if (offset + length > static_cast<size_t>(kBlockSize)) {
            FailTransfer(kMethod, "Failed receive: file transfer error! (Header: bytes to write invalid!)");
            break;
        }
        bool ok = true;
        if (length > 0 && !inflating) {
            ok = writeOut(block.data() + offset, length);
        } else if (length > 0 && !streamEnded) {
            zs.next_in = block.data() + offset;
            zs.avail_in = static_cast<uInt>(length);
            for (;;) {
                zs.next_out = area.data();
                zs.avail_out = static_cast<uInt>(area.size());
                const int rc = inflate(&zs, Z_NO_FLUSH);
                if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                    ok = FailTransfer(kMethod, "Failed receive: DeCompression error!");
                    break;
                }
                const size_t produced = area.size() - zs.avail_out;
                if (produced > 0 && !(ok = writeOut(area.data(), produced)))
                    break;
                if (rc == Z_STREAM_END) {
                    streamEnded = true;
                    break;
                }
                if (zs.avail_in == 0 && zs.avail_out != 0)
                    break;
                if (rc == Z_BUF_ERROR && produced == 0)
                    break; // no progress possible with this input
            }
        }
        if (!ok)
            break;
        if (flags & kFlagLast) {
            // A compressed file that stops before the end of its stream is not the file sent.
            result = !inflating || streamEnded ||
                     FailTransfer(kMethod, "Failed receive: compressed data incomplete!");
            break;
        }
    }
    const bool allWritten = behind->Finish();
    behind.reset();
    if ((!CloseFile(file) || !allWritten) && result)
        result = FailTransfer(kMethod, "Failed receive: error writing file!");
    if (inflating)
        inflateEnd(&zs);
    compressed = inflating;
    if (received)
        *received = written;
    return result;
}
