// Who reaches the module's server and what its jobs may name, as a user runs it: xthost loads
// Kesto.so in server mode and a client written from the wire protocol alone knocks. Other
// machines are played by the loopback addresses beside 127.0.0.1; no traffic leaves the machine.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
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

// The addresses that listen on the port, from the kernel's table of IPv4 sockets.
std::set<std::string> ListeningAddresses(uint16_t port)
{
    std::set<std::string> addresses;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        unsigned address = 0, localPort = 0;
        if (state != "0A" || std::sscanf(local.c_str(), "%X:%X", &address, &localPort) != 2 || localPort != port)
            continue;
        // The table holds the address in the machine's byte order, which is little-endian here.
        addresses.insert(std::to_string(address & 0xFF) + "." + std::to_string((address >> 8) & 0xFF) + "." +
                         std::to_string((address >> 16) & 0xFF) + "." + std::to_string(address >> 24));
    }
    return addresses;
}

class ServerDoorTest : public kesto_test::ServerHostTest {
protected:
    ServerDoorTest() : ServerHostTest("kesto-server-door") {}

    void SetUp() override
    {
        ServerHostTest::SetUp();
        for (const char* folder : {"logs", "tmp", "shared", "out", "private", "secret"})
            fs::create_directories(app / folder);
        fs::permissions(app / "secret", fs::perms::owner_all);
        source = (app / "shared" / "doc.qxp").string();
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples" / "documents" / "minimal.qxp", source);
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

    // A password file with the mode (and, when given, the owner).
    void WritePasswordFile(const std::string& text, mode_t mode, uid_t owner = 0)
    {
        std::ofstream(passwordFile) << text;
        kesto_test::Own(passwordFile, owner, owner, mode);
    }

    std::string ServerLog() const
    {
        std::string text;
        for (const auto& entry : fs::directory_iterator(app / "logs"))
            text += ReadText(entry.path() / "KS7_srv.log");
        return text;
    }

    // A host whose server its settings keep closed: it runs its idle calls, and nobody can
    // connect. Answers the reason both logs give.
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
        std::atomic<bool> started{false};
        std::thread guard([&] {
            while (!idled) {
                Client knock(port, 50);
                if (knock.Connected()) {
                    started = true;
                    Ask(knock, password);
                    Ask(knock, "haltServer");
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        host.Idle(3);
        idled = true;
        guard.join();
        EXPECT_FALSE(started) << "the server started";
        EXPECT_FALSE(Client(port, 300).Connected());
        EXPECT_TRUE(ListeningAddresses(port).empty());
        EXPECT_FALSE(host.Failed()) << host.Log().Text();
        const std::string general = GeneralLog();
        const size_t at = general.find("Server not started: ");
        if (at == std::string::npos) {
            ADD_FAILURE() << "no reason in the general log:\n" << general;
            return std::string();
        }
        const std::string reason = general.substr(at, general.find('\n', at) - at);
        EXPECT_NE(ServerLog().find(reason), std::string::npos) << ServerLog();
        // The reason stays the same: the server is not tried again at each idle call.
        EXPECT_EQ(CountOf(general, "Server not started: "), 1) << general;
        return reason;
    }

    // Logs in from the address with the password; the first reply.
    std::string Knock(const char* from, const std::string& line)
    {
        Client client(port, 5000, "127.0.0.1", from);
        EXPECT_TRUE(client.Connected()) << from;
        return Ask(client, line);
    }

    static std::vector<std::string> Converted()
    {
        return {"export dwx", "filename ok", "target folder ok", "target name ok", "export finished"};
    }

    static std::vector<std::string> NoSource(const std::string& path)
    {
        return {"export dwx", "Could not open file '" + path + "'."};
    }

    static std::vector<std::string> NoFolder(const std::string& folder)
    {
        return {"export dwx", "filename ok", "Target folder '" + folder + "' does not exist."};
    }

    std::string source;
    std::string secretDoc;
    std::string passwordFile;
};

} // namespace

// Unset, the server listens on 127.0.0.1 alone: another address of the machine finds nobody,
// and the server log says where it listens.
TEST_F(ServerDoorTest, TheDefaultListensOnTheLoopbackAddressOnly)
{
    WriteDoorSettings("");
    Serve([&] {
        // Logged in, the server listens: only then does what it listens on tell.
        auto client = Login();
        EXPECT_EQ(ListeningAddresses(port), std::set<std::string>{"127.0.0.1"});
        EXPECT_FALSE(Client(port, 300, "127.0.0.2").Connected());
        EXPECT_EQ(Ask(*client, "serveralive"), "server alive v2");
        client->SendLine("quit");
    });
    EXPECT_NE(ServerLog().find("Listening on 127.0.0.1:" + std::to_string(port)), std::string::npos) << ServerLog();
}

// A server that would listen beyond this machine without a password of its own, or whose
// password file other accounts could read or change, does not start; both logs say why and
// what to set.
TEST_F(ServerDoorTest, ADoorOpenToOthersKeepsTheServerFromStarting)
{
    KESTO_SKIP_UNLESS_ROOT();
    const struct {
        const char* name;
        std::string door;
        mode_t mode;  // of the password file; 0 for none
        uid_t owner;
        std::vector<std::string> reason;
    } cases[] = {
        {"fixed password on every address", "listenAddress=0.0.0.0\n", 0, 0,
         {"listen on 0.0.0.0, beyond this machine, with the fixed password", "Set serverPasswordFile in [Server]"}},
        {"fixed password on an address of the machine", "listenAddress=10.1.2.3\n", 0, 0,
         {"listen on 10.1.2.3"}},
        {"no address", "listenAddress=localhost\n", 0, 0, {"listenAddress 'localhost' is no IPv4 address"}},
        {"readable by all", "serverPasswordFile=" + passwordFile + "\n", 0644, 0,
         {"is refused: other accounts may read or write it (mode 0644)", "chmod 600 " + passwordFile}},
        {"writable by the group", "listenAddress=0.0.0.0\nserverPasswordFile=" + passwordFile + "\n", 0620, 0,
         {"(mode 0620)"}},
        {"another account's", "serverPasswordFile=" + passwordFile + "\n", 0600, 65534,
         {"it belongs to another account (user id 65534)"}},
        {"missing", "serverPasswordFile=" + passwordFile + ".none\n", 0, 0, {"it cannot be opened"}},
        {"empty", "serverPasswordFile=" + passwordFile + "\n", 0600, 0, {"its first line is empty"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(app / "logs");
        fs::create_directories(app / "logs");
        fs::remove(app / "KestoLogfile.txt");
        fs::remove(passwordFile);
        password = c.mode != 0 ? "S3cret-of-this-host" : kPassword;
        if (c.mode != 0)
            WritePasswordFile(std::string(c.name) == "empty" ? "\r\nsecond line\n" : password + "\n", c.mode, c.owner);
        WriteDoorSettings(c.door);
        const std::string reason = RefusedStart();
        for (const std::string& part : c.reason)
            EXPECT_NE(reason.find(part), std::string::npos) << reason;
        EXPECT_EQ(GeneralLog().find("S3cret"), std::string::npos);
        EXPECT_EQ(ServerLog().find("S3cret"), std::string::npos);
    }
}

// With a password file that only its owner may read, the server takes that password alone,
// also on every address: the fixed one is a wrong password now. Neither reaches a log.
TEST_F(ServerDoorTest, APasswordFileOfTheServersOwnReplacesTheFixedPassword)
{
    password = "S3cret of this host";
    WritePasswordFile(password + "\r\n", 0600);
    WriteDoorSettings("listenAddress=0.0.0.0\nserverPasswordFile=" + passwordFile + "\n");
    Serve([&] {
        EXPECT_EQ(Knock("127.0.0.2", kPassword), "Wrong password.");
        EXPECT_EQ(ListeningAddresses(port), std::set<std::string>{"0.0.0.0"});
        EXPECT_EQ(Knock("127.0.0.3", password + "\r"), "Wrong password.");
        Client other(port, 5000, "127.0.0.2", "127.0.0.4");
        EXPECT_EQ(Ask(other, password), "password ok");
        EXPECT_EQ(Ask(other, "serveralive"), "server alive v2");
        other.SendLine("quit");
    });
    EXPECT_NE(ServerLog().find("Listening on 0.0.0.0:" + std::to_string(port)), std::string::npos);
    EXPECT_NE(ServerLog().find("Password: from " + passwordFile), std::string::npos);
    for (const std::string& log : {ServerLog(), GeneralLog()}) {
        EXPECT_EQ(log.find(password), std::string::npos) << log;
        EXPECT_EQ(log.find(kPassword), std::string::npos) << log;
    }
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
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(Knock("127.0.0.3", kPassword), "password ok");
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
        EXPECT_LT(std::chrono::steady_clock::now() - missed, std::chrono::milliseconds(900))
            << "the refusal within the wait came too late to tell";
        // A probe that connects and closes guesses nothing and starts no wait.
        EXPECT_TRUE(Client(port, 1000, "127.0.0.1", "127.0.0.4").Connected());
        EXPECT_EQ(Knock("127.0.0.4", kPassword), "password ok");
        std::this_thread::sleep_until(missed + std::chrono::milliseconds(1100));
        EXPECT_EQ(Knock("127.0.0.2", kPassword), "password ok");
    });
    const std::string log = ServerLog() + GeneralLog();
    EXPECT_EQ(log.find("guess-1"), std::string::npos) << log;
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

    const std::string viaDots = (shared / ".." / "private" / "secret.qxp").string();
    const std::string viaLink = (shared / "link.qxp").string();
    const std::string viaFolderLink = (shared / "folder-link" / "secret.qxp").string();
    const std::string planted = (shared / "planted.qxp").string();
    std::map<std::string, std::vector<std::string>> replies;
    Serve([&] {
        replies["plain"] = SharedJob("exportdwq", secretDoc, out, "stolen");
        replies["dots"] = SharedJob("exportdwq", viaDots, out, "stolen");
        replies["link"] = SharedJob("exportdwq", viaLink, out, "stolen");
        replies["folder link"] = SharedJob("exportdwq", viaFolderLink, out, "stolen");
        replies["planted"] = SharedJob("exportdwq", planted, out, "planted");
        replies["target"] = SharedJob("exportdwq", source, privateFolder, "stolen");
        replies["target dots"] = SharedJob("exportdwq", source, out + "/../private/", "stolen");
        replies["target link"] = SharedJob("exportdwq", source, (shared / "folder-link").string(), "stolen");
        replies["inside"] = SharedJob("exportdwq", source, out, "report");
        replies["inside links"] = SharedJob("exportdwq", (shared / "alias.qxp").string(),
                                            (shared / "out-link").string(), "linked");
        replies["shared itself"] = SharedJob("exportdwq", source, shared.string() + "/", "beside");
    });
    EXPECT_EQ(replies["plain"], NoSource(secretDoc));
    EXPECT_EQ(replies["dots"], NoSource(viaDots));
    EXPECT_EQ(replies["link"], NoSource(viaLink));
    EXPECT_EQ(replies["folder link"], NoSource(viaFolderLink));
    EXPECT_EQ(replies["planted"], NoSource(planted));
    EXPECT_EQ(replies["target"], NoFolder(privateFolder));
    EXPECT_EQ(replies["target dots"], NoFolder(out + "/../private"));
    EXPECT_EQ(replies["target link"], NoFolder((shared / "folder-link").string()));
    EXPECT_EQ(replies["inside"], Converted());
    EXPECT_EQ(replies["inside links"], Converted());
    EXPECT_EQ(replies["shared itself"], Converted());

    std::set<std::string> written;
    for (const auto& entry : fs::directory_iterator(app / "out"))
        written.insert(entry.path().filename().string());
    EXPECT_EQ(written, (std::set<std::string>{"linked.dwq", "report.dwq"}));
    EXPECT_TRUE(fs::exists(shared / "beside.dwq"));
    std::set<std::string> privateFiles;
    for (const auto& entry : fs::directory_iterator(app / "private"))
        privateFiles.insert(entry.path().filename().string());
    EXPECT_EQ(privateFiles, std::set<std::string>{"secret.qxp"});

    const std::string log = ServerLog();
    EXPECT_NE(log.find("Refused source '" + secretDoc + "': it is outside the shared folders: it leads to " + secretDoc),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Refused source '" + viaFolderLink + "': it is outside the shared folders"), std::string::npos);
    EXPECT_NE(log.find("Refused source '" + planted + "': it does not resolve: a link on its way is one the file "
                       "writers do not follow"),
              std::string::npos);
    EXPECT_NE(log.find("Refused target folder '" + privateFolder + "': it is outside the shared folders"),
              std::string::npos);
    EXPECT_NE(log.find("Shared folder: " + (app / "none").string() + " (not used: No such file or directory)"),
              std::string::npos);
}

// Without shared folders no shared-folder job runs: it ends with the reply of a missing file,
// and the server log says why. Socket-mode jobs, which carry their file, run as before.
TEST_F(ServerDoorTest, WithoutSharedFoldersOnlySocketJobsRun)
{
    WriteDoorSettings("");
    const std::string document = ReadText(source);
    std::vector<std::string> shared;
    std::vector<std::string> socket;
    Serve([&] {
        shared = SharedJob("exportdwq", source, (app / "out").string(), "r");
        auto client = Login();
        for (const std::string& line :
             {std::string("exportdwq"), std::string("///file_sock_transfer///"), std::string("file_transfer_start"),
              std::string("doc.qxp"), std::to_string(document.size())})
            socket.push_back(Ask(*client, line));
        client->SendBlocks(protocol::EncodeStream(document, 0));
        socket.push_back(client->ReadLine().value_or("<closed>"));
        for (const std::string& line : {std::string("0"), std::string("r"), std::string("wait_for_file"),
                                        std::string("file_transfer_start ok")})
            socket.push_back(Ask(*client, line));
        client->SendLine("quit");
    });
    EXPECT_EQ(shared, NoSource(source));
    EXPECT_EQ(socket, (std::vector<std::string>{"export dwx", "file_sock_transfer ok", "file_transfer_start ok",
                                                "filename ok", "size ok", "file ok", "hash ok", "target name ok",
                                                "file_transfer_start", "r.dwq"}));
    EXPECT_TRUE(fs::is_empty(app / "out"));
    EXPECT_NE(ServerLog().find("Refused source '" + source +
                               "': it is outside the shared folders: none are set (setting sharedFolders)"),
              std::string::npos)
        << ServerLog();
}
