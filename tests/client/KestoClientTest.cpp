// kesto-client against a real server: xthost runs Kesto.so in server mode on a free port, and
// the client is run as a user runs it. Results are read back with tools nobody here wrote
// (pdfinfo, olefile).
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "PdfTools.h"
#include "Plugin/XTension/ServerHostTest.h"

namespace fs = std::filesystem;

namespace {

class KestoClientTest : public kesto_test::ServerHostTest {
protected:
    KestoClientTest() : ServerHostTest("kesto-client") {}

    void SetUp() override
    {
        ServerHostTest::SetUp();
        ShareExample({"logs", "tmp", "plain", "deflated", "folder with spaces"}, "minimal.qxp", "Bericht März.qxp");
        WriteSettings("[Server]\nserverMode=True\nlistenPort=" + std::to_string(port) +
                      "\nsocketTransferMode=True\nsockXferCanCompress=True\nsharedFolders=" + app.string() +
                      "\n[Path]\nTemporaryPath=" + (app / "tmp").string() + "\nLogPath=" + (app / "logs").string() +
                      "\n");
    }

    static bool IsCompoundFile(const fs::path& path)
    {
        // Debian's Python, where python3-olefile is installed.
        return std::system(("/usr/bin/python3 -c 'import olefile,sys; sys.exit(0 if olefile.isOleFile(sys.argv[1]) "
                            "else 1)' " + Quoted(path) + " >/dev/null 2>&1")
                               .c_str()) == 0;
    }
};

TEST_F(KestoClientTest, AsksConvertsInBothTransferModesAndHalts)
{
    const std::string server = "server 127.0.0.1:" + std::to_string(port) + ": ";
    const auto expect = [](const ClientRun& run, int status, const std::string& out) {
        EXPECT_EQ(run.status, status) << run.out;
        EXPECT_EQ(run.out.substr(0, out.size()), out);
    };
    testing::internal::CaptureStderr();
    Serve([&] {
        expect(RunClient("status"), 0, server + "alive, version 3, transfer mode socket_can_compr\n");
        // The same questions from Python's own socket module, a client nobody here wrote.
        const std::string python =
            "import socket,sys\ns=socket.create_connection((\"127.0.0.1\",int(sys.argv[1])))\nf=s.makefile(\"rwb\")\n"
            "for line in (sys.argv[2],\"serveralive\",\"get_server_version\",\"quit\"):\n"
            " f.write((line+chr(10)).encode()); f.flush()\n if line!=\"quit\": print(f.readline().decode().rstrip())\n";
        expect(Run("/usr/bin/python3 -c " + Quoted(python) + " " + std::to_string(port) + " " + Quoted(kPassword)), 0,
               "password ok\nserver alive v2\n3\n");

        // Over the connection, plain and deflated: each result arrives whole under its name.
        for (const std::string mode : {"plain", "deflated"}) {
            const fs::path out = app / mode;
            expect(RunClient("export dwqandpdf " + Quoted(source) + " result " +
                             (mode == "plain" ? "--socket" : "--compress") + " --out " + Quoted(out)),
                   0, (out / "result.dwq").string() + ": ok\n" + (out / "result.pdf").string() + ": ok\n");
            EXPECT_TRUE(IsCompoundFile(out / "result.dwq")) << mode;
            EXPECT_EQ(kesto_test::PdfInfoField((out / "result.pdf").string(), "Pages"), "1") << mode;
        }

        // In a folder both share: the server writes the results where it is told.
        const fs::path shared = app / "folder with spaces";
        expect(RunClient("export exportdwq " + Quoted(source) + " shared --target-folder " + Quoted(shared)), 0,
               source + ": ok: export dwx into " + shared.string() + " as shared\n");
        EXPECT_TRUE(IsCompoundFile(shared / "shared.dwq"));
        // Beside the source by default; a password file with the fixed password is read too.
        std::ofstream(app / "password") << kPassword << "\r\nsecond line\n";
        expect(RunClient("--password-file " + Quoted(app / "password") + " export pdf " + Quoted(source) + " beside"),
               0, "");
        EXPECT_EQ(kesto_test::PdfInfoField((app / "shared" / "beside.pdf").string(), "Pages"), "1");

        // A conversion the server cannot make: named, with status 1, in either mode.
        for (const std::string& flag : {"--socket --out " + Quoted(app / "plain"), std::string()})
            expect(RunClient("export jpgs " + Quoted(source) + " pictures " + flag), 1, source + ": failed: ");
        // A password the server does not take: status 2.
        std::ofstream(app / "wrong") << "not the password\n";
        const ClientRun refused = RunClient("--password-file " + Quoted(app / "wrong") + " status");
        EXPECT_EQ(refused.status, 2) << refused.out;
        EXPECT_NE(refused.out.find("refused the password"), std::string::npos) << refused.out;

        // After a wrong password the server checks this address's next one only a second later.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        expect(RunClient("halt"), 0, server + "halted\n");
        halted = true;
    });
    // The jobs' allocation reports went to the server log, none to the terminal.
    const std::string errors = testing::internal::GetCapturedStderr();
    for (const char* report : {"Memory allocated", "completely deallocated", "still allocated"})
        EXPECT_EQ(errors.find(report), std::string::npos) << report;
    // A server that is not there: status 2.
    const ClientRun gone = RunClient("status");
    EXPECT_EQ(gone.status, 2) << gone.out;
    EXPECT_NE(gone.out.find("cannot reach the server at 127.0.0.1:" + std::to_string(port)), std::string::npos)
        << gone.out;
}

// Arguments it cannot use end with status 2 and a line that says why, before any connection:
// one case for each way the parser refuses.
TEST_F(KestoClientTest, RefusesArgumentsItCannotUse)
{
    const std::string file = Quoted(source);
    const struct {
        std::string arguments, says;
    } cases[] = {
        {"", "which command"},
        {"convert", "unknown command convert"},
        {"--frobnicate status", "unknown option --frobnicate"},
        {"--port 0 status", "--port needs a number"},
        {"export dwq " + file, "export takes WORD SOURCE TARGET-NAME"},
        {"export tiff " + file + " t", "unknown export word tiff"},
        {"export dwq " + file + " t --out " + Quoted(app), "--out is for --socket"},
        {"export dwq " + Quoted(app / "none.qxp") + " t --socket", "no file"},
        {"--password-file " + Quoted(app / "none") + " status", "cannot read the password file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const ClientRun run = RunClient(c.arguments);
        EXPECT_EQ(run.status, 2) << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
    }
    const ClientRun help = RunClient("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: kesto-client", 0), 0u) << help.out;
}

} // namespace
