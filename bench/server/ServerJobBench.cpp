// Jobs per second through the module's server: Kesto.so in the emulated host in server mode,
// a loopback client converting examples/documents/minimal.qxp to ".dwq" ("exportdwq") again and
// again, in socket mode (plain and deflated upload) and in shared-folder mode. Each job is one
// connection: login, the job dialogue, the result, the close. The time of each phase is shown
// as the client sees it.
//
// Every job converts for real: the host opens the uploaded document and the module writes the
// exchange file, which the client takes back (socket modes) or finds in the folder (shared
// folder). A job counts as complete when an exchange file came back.
//
// Usage: ServerJobBench [jobs per mode]   (default 300). The module's log echo to the standard
// error stream is sent to /dev/null while the server runs.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/host/Host.h"
#include "platform/host/HostExtensions.h"
#include "client/ProtocolClient.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kPassword = "omra.Kesto#2026";

struct Phases {
    double login = 0, upload = 0, task = 0, close = 0;
    int jobs = 0, complete = 0;
};

double Since(Clock::time_point& mark) {
    const auto now = Clock::now();
    const double s = std::chrono::duration<double>(now - mark).count();
    mark = now;
    return s;
}

std::string Ask(protocol::Client& c, const std::string& line) {
    c.SendLine(line);
    return c.ReadLine().value_or("<closed>");
}

bool IsExchangeFile(const std::string& bytes) { return bytes.compare(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0; }

// Takes every result the server offers after a conversion; true when one is an exchange file.
bool TakeResults(protocol::Client& c) {
    bool exchange = false;
    for (;;) {
        if (Ask(c, "wait_for_file") != "file_transfer_start")
            return Ask(c, "no_more_files ok") == "export finished" && exchange;
        Ask(c, "file_transfer_start ok");
        Ask(c, "filename ok");
        c.SendLine("size ok");
        auto blocks = c.ReadBlocks();
        if (!blocks)
            return false;
        exchange = exchange || IsExchangeFile(protocol::DecodeBlocks(*blocks).value_or(""));
        Ask(c, "file ok");
        Ask(c, "hash ok");
    }
}

// One job; the phases go into p.
void Job(uint16_t port, const std::string& mode, const std::string& document, const std::string& source,
         const std::string& folder, int n, Phases& p) {
    auto mark = Clock::now();
    protocol::Client c(port, 30000);
    c.SendLine(kPassword);
    c.ReadLine();
    Ask(c, "exportdwq");
    p.login += Since(mark);
    bool converted = false;
    const std::string name = "job" + std::to_string(n);
    if (mode == "shared folder") {
        Ask(c, source);
        Ask(c, folder);
        p.upload += Since(mark);
        Ask(c, name);
        converted = c.ReadLine().value_or("<closed>") == "export finished";
        std::error_code ec;
        converted = converted && fs::file_size(fs::path(folder) / (name + ".dwq"), ec) > 0 && !ec;
        c.SendLine("quit");
    } else {
        for (const char* line : {"///file_sock_transfer///", "file_transfer_start", "minimal.qxp"})
            Ask(c, line);
        Ask(c, std::to_string(document.size()));
        const bool deflate = mode == "socket, deflated";
        c.SendBlocks(deflate ? protocol::EncodeStream(protocol::Deflate(document, 1), 8)
                             : protocol::EncodeStream(document, 0));
        c.ReadLine();
        Ask(c, "0");
        p.upload += Since(mark);
        Ask(c, name);
        converted = TakeResults(c);
        c.SendLine("quit");
    }
    p.task += Since(mark);
    if (c.AtEof() && converted)
        ++p.complete;
    p.close += Since(mark);
    ++p.jobs;
}

// Runs every mode against a fresh host; prints one table.
bool RunModes(const fs::path& app, const std::string& document, const std::string& source, int jobs,
              bool heartbeat) {
    const uint16_t port = protocol::FreeLoopbackPort();
    std::ofstream(app / "XTensions" / "kesto.ini")
        << "[Server]\nserverMode=True\nlistenPort=" << port << "\nsocketTransferMode=True\nclearTempFiles=True\nsharedFolders=" << app.string() << "\n"
        << "[Path]\nTemporaryPath=" << (app / "tmp").string()
        << "\nServerAlivePath=" << (heartbeat ? app.string() : std::string(" ")) << "\n";
    const char* modes[] = {"socket, plain", "socket, deflated", "shared folder"};
    Phases phases[3];
    double seconds[3] = {0, 0, 0};
    const int savedErr = ::dup(2);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 2);
    {
        // The conversions open the job's documents in the host; a server's host keeps no
        // transcript.
        xthost::HostExtensions extensions;
        xthost::RegisterHostDocuments(extensions);
        xthost::HostOptions options;
        options.appFolder = app.string();
        xthost::Host host(options);
        host.Log().KeepLines(false);
        if (host.Start() != xthost::StartResult::kOk)
            return false;
        std::thread client([&] {
            for (int m = 0; m < 3; ++m) {
                const auto start = Clock::now();
                for (int n = 0; n < jobs; ++n)
                    Job(port, modes[m], document, source, (app / "out").string(), n, phases[m]);
                seconds[m] = std::chrono::duration<double>(Clock::now() - start).count();
            }
            protocol::Client c(port);
            c.SendLine(kPassword);
            c.ReadLine();
            Ask(c, "haltServer");
            c.AtEof();
        });
        host.Idle(1);
        client.join();
    }
    ::dup2(savedErr, 2);
    ::close(savedErr);
    ::close(devNull);

    std::printf("\nheartbeat file %s\n", heartbeat ? "on" : "off (ServerAlivePath unset)");
    std::printf("%-18s %10s %10s | per job, ms: %8s %8s %8s %8s\n", "mode", "jobs/s", "complete", "login",
                "source", "task", "close");
    for (int m = 0; m < 3; ++m) {
        const Phases& p = phases[m];
        const double ms = 1000.0 / std::max(1, p.jobs);
        std::printf("%-18s %10.1f %10d | %21.3f %8.3f %8.3f %8.3f\n", modes[m], p.jobs / seconds[m], p.complete,
                    p.login * ms, p.upload * ms, p.task * ms, p.close * ms);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int jobs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    char pattern[] = "/tmp/kesto-jobbench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const fs::path app = pattern;
    for (const char* folder : {"XTensions", "tmp", "shared", "out"})
        fs::create_directories(app / folder);
    fs::create_symlink(KESTO_MODULE, app / "XTensions" / "Kesto.so");
    const fs::path example = fs::path(KESTO_SOURCE_DIR) / "examples" / "documents" / "minimal.qxp";
    const std::string source = (app / "shared" / "minimal.qxp").string();
    fs::copy_file(example, source);
    std::ifstream in(example, std::ios::binary);
    const std::string document((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const fs::path home = fs::current_path();
    fs::current_path(app);
    std::printf("Server jobs through Kesto.so in xthost: exportdwq of minimal.qxp (%zu bytes), %d jobs per mode\n",
                document.size(), jobs);
    std::printf("(each job converts the document and takes the exchange file back)\n");
    for (bool heartbeat : {true, false})
        if (!RunModes(app, document, source, jobs, heartbeat))
            return 1;
    fs::current_path(home);
    std::error_code ec;
    fs::remove_all(app, ec);
    return 0;
}
