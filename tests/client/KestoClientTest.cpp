// kesto-client against a real server: xthost runs Kesto.so in server mode on a free port, as
// a user starts it, and the client is run as a user runs it. Results are read back with tools
// nobody here wrote (pdfinfo, pdftotext, olefile).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "PdfTools.h"
#include "SHARED/Server/ProtocolClient.h"
#include "TempDir.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// The client's exit status and everything it printed.
struct ClientRun {
    int status = -1;
    std::string out;
};

ClientRun Client(const std::string& arguments)
{
    ClientRun run;
    if (FILE* pipe = ::popen((std::string("'" KESTO_CLIENT "' ") + arguments + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            run.out.append(buffer, n);
        const int status = ::pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

std::string Quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

// xthost with Kesto.so in server mode in its own application folder, until a client halts it.
class ServerProcess {
public:
    explicit ServerProcess(const TempDir& dir) : m_app(fs::path(dir.Path()) / "app")
    {
        port = protocol::FreeLoopbackPort();
        fs::create_directories(m_app / "XTensions");
        for (const char* folder : {"tmp", "logs"})
            fs::create_directories(fs::path(dir.Path()) / folder);
        std::ofstream(m_app / "XTensions" / "kesto.ini")
            << "[Server]\nserverMode=True\nlistenPort=" << port
            << "\nsocketTransferMode=True\nsockXferCanCompress=True\nsharedFolders=" << dir.Path()
            << "\n[Path]\nTemporaryPath=" << dir / "tmp"
            << "\nLogPath=" << dir / "logs" << "\n";
        // The server blocks the idle call until a client halts it; the host then quits.
        std::ofstream(m_app / "serve.xts") << "start\nidle\nexpect-quit\nquit\n";
        const std::string transcript = (m_app / "transcript.txt").string();
        std::vector<std::string> args = {XTHOST_PROGRAM, "--app", m_app.string(), "--module", KESTO_MODULE,
                                         "--script", (m_app / "serve.xts").string(), "--transcript", transcript};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // The server's log lines and its word on a halt are not the test's output.
        posix_spawn_file_actions_addopen(&actions, 2, (m_app / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 2, 1);
        if (::posix_spawn(&m_pid, XTHOST_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        // Up when it answers.
        protocol::Client probe(port, 20000);
        up = probe.Connected();
    }

    // The host's exit status once it ended within the time; -1 otherwise (it is then killed).
    int Wait(std::chrono::seconds limit = std::chrono::seconds(30))
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (m_pid > 0) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (std::chrono::steady_clock::now() > until)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        Stop();
        return -1;
    }

    ~ServerProcess() { Stop(); }

    std::string Transcript() const { return Read("transcript.txt"); }
    // What the host wrote to its standard error stream (and output).
    std::string Errors() const { return Read("stderr.txt"); }

    uint16_t port = 0;
    bool up = false;

private:
    std::string Read(const char* name) const
    {
        std::ifstream in(m_app / name);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    void Stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

    fs::path m_app;
    pid_t m_pid = -1;
};

bool IsCompoundFile(const fs::path& path)
{
    // Debian's Python, where python3-olefile is installed.
    const std::string command = "/usr/bin/python3 -c 'import olefile,sys; sys.exit(0 if olefile.isOleFile(sys.argv[1]) else 1)' " +
                                Quoted(path) + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

class KestoClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* folder : {"shared", "out", "plain", "deflated", "folder with spaces"})
            fs::create_directories(fs::path(dir.Path()) / folder);
        source = fs::path(dir.Path()) / "shared" / "Bericht März.qxp";
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples" / "documents" / "minimal.qxp", source);
    }

    std::string At(const ServerProcess& server) const { return "--port " + std::to_string(server.port) + " "; }

    TempDir dir{"kesto-client"};
    fs::path source;
};

TEST_F(KestoClientTest, AsksConvertsInBothTransferModesAndHalts)
{
    ServerProcess server(dir);
    ASSERT_TRUE(server.up);
    const fs::path root = dir.Path();

    ClientRun run = Client(At(server) + "status");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, "server 127.0.0.1:" + std::to_string(server.port) +
                           ": alive, version 3, transfer mode socket_can_compr\n");

    // Over the connection, plain and deflated: each result arrives whole under its name.
    for (const char* mode : {"plain", "deflated"}) {
        SCOPED_TRACE(mode);
        const fs::path out = root / mode;
        const std::string flag = std::string(mode) == "plain" ? "--socket" : "--compress";
        run = Client(At(server) + "export dwqandpdf " + Quoted(source) + " result " + flag + " --out " + Quoted(out));
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.out, (out / "result.dwq").string() + ": ok\n" + (out / "result.pdf").string() + ": ok\n");
        EXPECT_TRUE(IsCompoundFile(out / "result.dwq"));
        EXPECT_EQ(kesto_test::PdfInfoField((out / "result.pdf").string(), "Pages"), "1");
    }

    // In a folder both share: the server writes the results where it is told.
    const fs::path shared = root / "folder with spaces";
    run = Client(At(server) + "export exportdwq " + Quoted(source) + " shared --target-folder " + Quoted(shared));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, source.string() + ": ok: export dwx into " + shared.string() + " as shared\n");
    EXPECT_TRUE(IsCompoundFile(shared / "shared.dwq"));
    // Beside the source by default; a password file with the fixed password is read too.
    std::ofstream(root / "password") << "omra.Kesto#2026\r\nsecond line\n";
    run = Client(At(server) + "--password-file " + Quoted(root / "password") + " export pdf " + Quoted(source) + " beside");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(kesto_test::PdfInfoField((root / "shared" / "beside.pdf").string(), "Pages"), "1");

    // The server's PDF of the document with a story in each script gives each back as text.
    fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples" / "documents" / "scripts.qxp", root / "shared" / "scripts.qxp");
    run = Client(At(server) + "export pdf " + Quoted(root / "shared" / "scripts.qxp") + " scripts --socket --out " +
                 Quoted(root / "out"));
    EXPECT_EQ(run.status, 0) << run.out;
    const std::string text = kesto_test::ShellOutput("pdftotext -enc UTF-8 " + Quoted(root / "out" / "scripts.pdf") + " -");
    for (const char* sample : {"日本語の文章", "繁體中文", "简体中文", "한국어 문장", "مرحبا", "עולם", "Привет", "ภาษาไทย",
                               "नमस्ते", "𠮷𠮷"})
        EXPECT_NE(text.find(sample), std::string::npos) << sample << "\n" << text;

    // A conversion the server cannot make: named, with status 1, in either mode; the server
    // goes on serving.
    for (const std::string& flag : {std::string("--socket --out ") + Quoted(root / "out"), std::string()}) {
        run = Client(At(server) + "export jpgs " + Quoted(source) + " pictures " + flag);
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_EQ(run.out.rfind(source.string() + ": failed: ", 0), 0u) << run.out;
    }
    // A password the server does not take, and a server that is not there: status 2.
    std::ofstream(root / "wrong") << "not the password\n";
    run = Client(At(server) + "--password-file " + Quoted(root / "wrong") + " status");
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_NE(run.out.find("refused the password"), std::string::npos) << run.out;

    // After a wrong password the server checks this address's next one only a second later.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    run = Client(At(server) + "halt");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, "server 127.0.0.1:" + std::to_string(server.port) + ": halted\n");
    EXPECT_EQ(server.Wait(), 0) << server.Transcript();
    // The jobs' allocation reports went to the server log, none to the terminal.
    EXPECT_NE(server.Errors().find("Command 'haltServer' done"), std::string::npos);
    for (const char* report : {"Memory allocated", "completely deallocated", "still allocated"})
        EXPECT_EQ(server.Errors().find(report), std::string::npos) << report;
    run = Client(At(server) + "status");
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_NE(run.out.find("cannot reach the server at 127.0.0.1:" + std::to_string(server.port)), std::string::npos)
        << run.out;
}

// Arguments it cannot use end with status 2 and a line that says why, before any connection.
TEST_F(KestoClientTest, RefusesArgumentsItCannotUse)
{
    const std::string file = Quoted(source);
    const struct {
        std::string arguments, says;
    } cases[] = {
        {"", "which command"},
        {"convert", "unknown command convert"},
        {"status extra", "status takes no words"},
        {"export dwq " + file, "export takes WORD SOURCE TARGET-NAME"},
        {"export tiff " + file + " t", "unknown export word tiff"},
        {"export dwq " + file + " t --out " + Quoted(fs::path(dir.Path()) / "out"), "--out is for --socket"},
        {"export dwq " + file + " t --socket --target-folder /tmp", "--target-folder is for shared folders"},
        {"export dwq " + Quoted(fs::path(dir.Path()) / "none.qxp") + " t --socket", "no file"},
        {"export dwq " + file + " t --socket --out " + Quoted(fs::path(dir.Path()) / "none"), "no folder"},
        {"halt --socket", "belong to export"},
        {"--port 0 status", "--port needs a number"},
        {"--port", "--port needs a number"},
        {"--password-file " + Quoted(fs::path(dir.Path()) / "none") + " status", "cannot read the password file"},
        {"--frobnicate status", "unknown option --frobnicate"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const ClientRun run = Client("--port 1 " + c.arguments);
        EXPECT_EQ(run.status, 2) << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
    }
    const ClientRun help = Client("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: kesto-client", 0), 0u) << help.out;
}

} // namespace
