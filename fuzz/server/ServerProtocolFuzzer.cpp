// Feeds client bytes to the server over a loopback connection: the command dialogue (with or
// without the password in front, export words running their job dialogue), the block receiver,
// and the upload handshake.
// The first input byte picks the path; the rest is what the client sends before it closes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "Plugin/Batch/FolderUtils.h"
#include "SHARED/Server/Connection.h"
#include "SHARED/Server/ConversionBase.h"
#include "SHARED/Server/ServerLoops.h"
#include "tests/TempDir.h"
#include "platform/sockets/Sockets.h"

// Jobs run their whole dialogue; the conversion itself is not what is fuzzed here.
bool FolderUtils::ProcessConversion(const ustring&, const ustring&, FileKind, FileKind) {
    return false;
}

namespace {

class UploadOnly : public ct_ConversionBase {
public:
    explicit UploadOnly(ct_Connection& conn) : ct_ConversionBase(conn, 3) {}
    bool doExport(ServerFileType, const std::string&, const std::string&) override { return false; }
    bool closeAllDocuments() override { return true; }
};

struct Harness {
    ct_Connection conn;
    std::filesystem::path folder;
    // What the server writes to the standard error stream (its log echo), one input's worth:
    // a long run would otherwise write gigabytes of it.
    std::ostringstream log;

    Harness() {
        std::cerr.rdbuf(log.rdbuf());
        // The job folders the server makes go into this process's own folder, which goes at exit.
        static const TempDir scratch("srv-fuzz");
        folder = scratch.Path();
        ::setenv("TMPDIR", folder.c_str(), 1);
        ct_Connection::Limits limits = ct_Connection::GetLimits();
        limits.idleTimeoutMs = 2000;
        limits.drainTimeoutMs = 200;
        limits.maxReceivedFileBytes = 16 << 20;
        ct_Connection::SetLimits(limits);
        // Every input's password is checked, whatever the one before sent.
        SetPasswordWaitPolicy(0, 0);
    }

    bool EnsureListening() {
        if (conn.GetCurrentStatus() >= ct_Connection::ec_ServerUp)
            return true;
        // "haltServer" in an input stops the listener: start again on a fresh port.
        sockets::Handle probe = sockets::OpenTcp();
        sockets::Bind(probe, 0, sockets::kLoopbackAddress);
        const uint16_t port = sockets::LocalPort(probe);
        sockets::Close(probe);
        return conn.startServer(port) == 0;
    }
};

Harness& GetHarness() {
    static Harness* harness = new Harness;
    return *harness;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1 << 20))
        return 0;
    Harness& h = GetHarness();
    h.log.str(std::string());
    if (!h.EnsureListening())
        return 0;
    sockets::Handle client = sockets::ConnectLoopback(h.conn.GetPort());
    if (client == sockets::kInvalid)
        return 0;
    if (h.conn.waitForClient() != 0) {
        sockets::Close(client);
        return 0;
    }
    const uint8_t mode = data[0] % 4;
    std::string wire(reinterpret_cast<const char*>(data + 1), size - 1);
    if (mode == 0)
        wire = std::string(ServerPassword) + "\n" + wire;
    // Everything the client says is in the socket before the server reads; then it closes.
    sockets::SendAll(client, wire.data(), wire.size());
    sockets::ShutdownSend(client);

    bool halt = false;
    bool compressed = false;
    switch (mode) {
    case 0:
    case 1:
        commandLoopRun(h.conn, halt);
        break;
    case 2:
        h.conn.ReceiveFileData((h.folder / "received").string(), compressed);
        break;
    case 3: {
        UploadOnly job(h.conn);
        job.ReceiveFile(h.folder.string(), compressed);
        break;
    }
    }
    if (h.conn.IsConnected())
        h.conn.closeClient();
    sockets::Close(client);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(h.folder, ec))
        std::filesystem::remove_all(entry.path(), ec);
    return 0;
}
