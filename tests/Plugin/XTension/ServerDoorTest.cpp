// Who reaches the module's server and what its jobs may name, as a user runs it: xthost loads
// Kesto.so in server mode and a client written from the wire protocol alone knocks. Other
// machines are played by the loopback addresses beside 127.0.0.1; no traffic leaves the machine.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ServerHostTest.h"
#include "tests/platform/fs/Accounts.h"

namespace fs = std::filesystem;
using kesto_test::CountOf;
using kesto_test::ReadText;
using protocol::Client;

namespace {

class ServerDoorTest : public kesto_test::ServerHostTest {
protected:
    ServerDoorTest() : ServerHostTest("kesto-server-door") {}

    void SetUp() override
    {
        ServerHostTest::SetUp();
        ShareExample({"logs", "tmp", "out", "private", "secret"});
        fs::permissions(app / "secret", fs::perms::owner_all);
        secretDoc = (app / "private" / "secret.qxp").string();
        fs::copy_file(source, secretDoc);
        fs::permissions(secretDoc, fs::perms::owner_read | fs::perms::owner_write);
        passwordFile = (app / "secret" / "password").string();
    }

    void WriteDoorSettings(const std::string& door)
    {
        WriteSettings("[Server]\nserverMode=True\nlistenPort=" + std::to_string(port) +
                      "\nactivateServerLog=True\nkeepServerLog=True\nsocketTransferMode=True\n" + door +
                      "[Path]\nLogPath=" + (app / "logs").string() + "\nTemporaryPath=" + (app / "tmp").string() +
                      "\n");
    }

    std::string ServerLog() const
    {
        std::string text;
        for (const auto& entry : fs::directory_iterator(app / "logs"))
            text += ReadText(entry.path() / "KS7_srv.log");
        return text;
    }

    // A host whose settings keep its server closed: nobody can connect while it idles. Answers
    // the reason both logs give.
    std::string RefusedStart()
    {
        xthost::HostOptions options;
        options.appFolder = app.string();
        xthost::Host host(options);
        kesto_test::NobodyAtTheHost nobody;
        host.SetAnswerer(&nobody);
        EXPECT_EQ(host.Start(), xthost::StartResult::kOk) << host.Log().Text();
        // Should the server start after all, it is halted, so that the test fails instead of
        // waiting for ever.
        std::atomic<bool> idled{false};
        std::thread guard([&] {
            for (; !idled; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
                if (Client knock(port, 50); knock.Connected()) {
                    ADD_FAILURE() << "the server started";
                    Ask(knock, password);
                    Ask(knock, "haltServer");
                    return;
                }
        });
        host.Idle(3);
        idled = true;
        guard.join();
        EXPECT_FALSE(host.Failed()) << host.Log().Text();
        const std::string general = GeneralLog();
        // Said once: the server is not tried again at each idle call.
        EXPECT_EQ(CountOf(general, "Server not started: "), 1) << general;
        const size_t at = general.find("Server not started: ");
        const std::string reason = at == std::string::npos ? "" : general.substr(at, general.find('\n', at) - at);
        EXPECT_NE(ServerLog().find(reason), std::string::npos) << ServerLog();
        return reason;
    }

    // Connects from the address and sends the line; the first reply.
    std::string Knock(const char* from, const std::string& line)
    {
        Client client(port, 5000, "127.0.0.1", from);
        EXPECT_TRUE(client.Connected()) << from;
        return Ask(client, line);
    }

    std::string secretDoc;
    std::string passwordFile;
};

} // namespace

// A server that would listen beyond this machine with the fixed password, or whose password
// file other accounts could read or change, does not start; both logs say why and what to set.
TEST_F(ServerDoorTest, ADoorOpenToOthersKeepsTheServerFromStarting)
{
    KESTO_SKIP_UNLESS_ROOT();
    const std::string file = "serverPasswordFile=" + passwordFile + "\n";
    const struct {
        std::string door;
        const char* content;  // of the password file; none when null
        mode_t mode;
        uid_t owner;
        std::vector<std::string> reason;
    } cases[] = {
        {"listenAddress=0.0.0.0\n", nullptr, 0, 0,
         {"listen on 0.0.0.0, beyond this machine, with the fixed password", "Set serverPasswordFile in [Server]"}},
        {"listenAddress=localhost\n", nullptr, 0, 0, {"listenAddress 'localhost' is no IPv4 address"}},
        {file, "S3cret\n", 0644, 0,
         {"is refused: other accounts may read or write it (mode 0644)", "chmod 600 " + passwordFile}},
        {"listenAddress=0.0.0.0\n" + file, "S3cret\n", 0620, 0, {"(mode 0620)"}},
        {file, "S3cret\n", 0600, 65534, {"it belongs to another account (user id 65534)"}},
        {"serverPasswordFile=" + passwordFile + ".none\n", nullptr, 0, 0, {"it cannot be opened"}},
        {file, "\r\nS3cret\n", 0600, 0, {"its first line is empty"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.door);
        fs::remove_all(app / "logs");
        fs::create_directories(app / "logs");
        fs::remove(app / "KestoLogfile.txt");
        fs::remove(passwordFile);
        password = c.content ? "S3cret" : kPassword;
        if (c.content) {
            std::ofstream(passwordFile) << c.content;
            kesto_test::Own(passwordFile, c.owner, c.owner, c.mode);
        }
        WriteDoorSettings(c.door);
        const std::string reason = RefusedStart();
        for (const std::string& part : c.reason)
            EXPECT_NE(reason.find(part), std::string::npos) << reason;
        EXPECT_EQ((GeneralLog() + ServerLog()).find("S3cret"), std::string::npos);
    }
}

// With a password file that only its owner may read, the server takes that password alone,
// also on every address: the fixed one is a wrong password now. Neither reaches a log.
TEST_F(ServerDoorTest, APasswordFileOfTheServersOwnReplacesTheFixedPassword)
{
    password = "S3cret of this host";
    std::ofstream(passwordFile) << password << "\r\n";
    fs::permissions(passwordFile, fs::perms::owner_read | fs::perms::owner_write);
    WriteDoorSettings("listenAddress=0.0.0.0\nserverPasswordFile=" + passwordFile + "\n");
    Serve([&] {
        EXPECT_EQ(Knock("127.0.0.2", kPassword), "Wrong password.");
        EXPECT_EQ(Knock("127.0.0.3", password + "\r"), "Wrong password.");
        // Every address of the machine is listened on.
        Client other(port, 5000, "127.0.0.2", "127.0.0.4");
        EXPECT_EQ(Ask(other, password), "password ok");
    });
    const std::string logs = ServerLog() + GeneralLog();
    EXPECT_NE(logs.find("Password: from " + passwordFile), std::string::npos) << logs;
    EXPECT_EQ(logs.find(password), std::string::npos) << logs;
    EXPECT_EQ(logs.find(kPassword), std::string::npos) << logs;
}

// After a wrong password an address waits: its next tries are refused unchecked, the right
// one too, while another address is served at once; after the wait the right one is taken.
TEST_F(ServerDoorTest, AWrongPasswordMakesItsAddressWaitWhileOthersAreServed)
{
    WriteDoorSettings("");
    Serve([&] {
        const auto missed = std::chrono::steady_clock::now();
        EXPECT_EQ(Knock("127.0.0.2", "guess-1"), "Wrong password.");
        EXPECT_EQ(Knock("127.0.0.2", kPassword), "Wrong password.");
        EXPECT_EQ(Knock("127.0.0.3", kPassword), "password ok");
        EXPECT_LT(std::chrono::steady_clock::now() - missed, std::chrono::milliseconds(900))
            << "the refusal within the wait came too late to tell";
        // A probe that connects and closes guesses nothing and starts no wait.
        EXPECT_TRUE(Client(port, 1000, "127.0.0.1", "127.0.0.4").Connected());
        EXPECT_EQ(Knock("127.0.0.4", kPassword), "password ok");
        std::this_thread::sleep_until(missed + std::chrono::milliseconds(1100));
        EXPECT_EQ(Knock("127.0.0.2", kPassword), "password ok");
    });
    EXPECT_EQ((ServerLog() + GeneralLog()).find("guess-1"), std::string::npos);
}

// A shared-folder job reaches only the shared folders, wherever the path leads: plainly, through
// "..", a link or a folder link, or through a link another account made that the file writers
// would not follow. Each is refused with the reply of a missing file or folder, the server log
// says why, and nothing outside is read or written. Inside, jobs run as before, links included.
TEST_F(ServerDoorTest, ASharedFolderJobReachesOnlyTheSharedFolders)
{
    KESTO_SKIP_UNLESS_ROOT();
    const fs::path shared = app / "shared";
    const std::string out = (app / "out").string();
    const std::string privateFolder = (app / "private").string();
    fs::create_symlink("../private/secret.qxp", shared / "link.qxp");
    fs::create_directory_symlink(app / "private", shared / "folder-link");
    fs::create_symlink("doc.qxp", shared / "alias.qxp");
    // A link to a document inside that an account made in a folder not its own.
    fs::create_symlink("doc.qxp", shared / "planted.qxp");
    kesto_test::Own(shared / "planted.qxp", 65534, 65534, 0);
    fs::create_directory_symlink(app / "out", shared / "out-link");
    WriteDoorSettings("sharedFolders=" + shared.string() + " ; ;" + out + ";" + (app / "none").string() + "\n");

    const std::string viaFolderLink = (shared / "folder-link" / "secret.qxp").string();
    const std::string planted = (shared / "planted.qxp").string();
    // The refusals name the path as sent, a target folder without its last slash.
    enum Outcome { kNoSource, kNoFolder, kConverted };
    const struct {
        std::string source, folder, name;
        Outcome outcome;
    } jobs[] = {
        {secretDoc, out, "stolen", kNoSource},
        {(shared / ".." / "private" / "secret.qxp").string(), out, "stolen", kNoSource},
        {(shared / "link.qxp").string(), out, "stolen", kNoSource},
        {viaFolderLink, out, "stolen", kNoSource},
        {planted, out, "planted", kNoSource},
        {source, privateFolder, "stolen", kNoFolder},
        {source, out + "/../private/", "stolen", kNoFolder},
        {source, (shared / "folder-link").string(), "stolen", kNoFolder},
        {source, out, "report", kConverted},
        {(shared / "alias.qxp").string(), (shared / "out-link").string(), "linked", kConverted},
        {source, shared.string() + "/", "beside", kConverted},
    };
    std::vector<std::vector<std::string>> replies;
    Serve([&] {
        for (const auto& job : jobs)
            replies.push_back(SharedJob("exportdwq", job.source, job.folder, job.name));
    });
    ASSERT_EQ(replies.size(), std::size(jobs));
    for (size_t i = 0; i < replies.size(); ++i) {
        const auto& job = jobs[i];
        std::vector<std::string> expected{"export dwx"};
        if (job.outcome == kNoSource)
            expected.push_back("Could not open file '" + job.source + "'.");
        else if (job.outcome == kNoFolder)
            expected.insert(expected.end(), {"filename ok", "Target folder '" +
                                                                job.folder.substr(0, job.folder.find_last_not_of('/') + 1) +
                                                                "' does not exist."});
        else
            expected.insert(expected.end(), {"filename ok", "target folder ok", "target name ok", "export finished"});
        EXPECT_EQ(replies[i], expected) << job.source << " into " << job.folder;
    }

    std::set<std::string> written;
    for (const fs::path& folder : {app / "out", app / "private"})
        for (const auto& entry : fs::directory_iterator(folder))
            written.insert(entry.path().filename().string());
    EXPECT_EQ(written, (std::set<std::string>{"linked.dwq", "report.dwq", "secret.qxp"}));
    EXPECT_TRUE(fs::exists(shared / "beside.dwq"));

    const std::string log = ServerLog();
    for (const std::string& line :
         {"Refused source '" + secretDoc + "': it is outside the shared folders: it leads to " + secretDoc,
          "Refused source '" + planted + "': it does not resolve: a link on its way is one the file writers do not follow",
          "Refused target folder '" + privateFolder + "': it is outside the shared folders",
          "Shared folder: " + (app / "none").string() + " (not used: No such file or directory)"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

// Unset, the server listens on 127.0.0.1 alone: another address of the machine finds nobody.
// Nor does a shared-folder job run: it ends with the reply of a missing file, and the server
// log says why. Socket-mode jobs, which carry their file, run as before.
TEST_F(ServerDoorTest, TheDefaultListensOnLoopbackAloneAndRunsOnlySocketJobs)
{
    WriteDoorSettings("");
    fs::create_directories(app / "received");
    Serve([&] {
        EXPECT_FALSE(Client(port, 300, "127.0.0.2").Connected());
        EXPECT_EQ(SharedJob("exportdwq", source, (app / "out").string(), "r"),
                  (std::vector<std::string>{"export dwx", "Could not open file '" + source + "'."}));
        const ClientRun run = RunClient("export dwq " + Quoted(source) + " r --socket --out " + Quoted(app / "received"));
        EXPECT_EQ(run.status, 0) << run.out;
    });
    EXPECT_TRUE(fs::exists(app / "received" / "r.dwq"));
    EXPECT_TRUE(fs::is_empty(app / "out"));
    const std::string log = ServerLog();
    for (const std::string& line :
         {"Listening on 127.0.0.1:" + std::to_string(port),
          "Refused source '" + source + "': it is outside the shared folders: none are set (setting sharedFolders)"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}
