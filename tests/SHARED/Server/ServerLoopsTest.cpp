#include "SHARED/Server/ServerLoops.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <chrono>
#include <future>
#include <map>
#include <memory>

#include "Foundation/Settings.h"
#include "SHARED/Server/DriverDouble.h"
#include "SHARED/Server/ServerDoor.h"
#include "SHARED/Server/ServerTestSupport.h"

using protocol::Client;
using namespace servertest;
using namespace std::chrono_literals;

namespace {

// Shuts the listening socket of this process on the port down, so that its accept fails.
bool BreakListenerOn(uint16_t port) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return false;
    bool broken = false;
    while (dirent* entry = readdir(dir)) {
        const int fd = atoi(entry->d_name);
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        int listening = 0;
        socklen_t optLen = sizeof listening;
        if (fd > 2 && getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0 &&
            addr.sin_family == AF_INET && ntohs(addr.sin_port) == port &&
            getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &optLen) == 0 && listening) {
            broken = shutdown(fd, SHUT_RDWR) == 0 || broken;
        }
    }
    closedir(dir);
    return broken;
}

class ServerLoopsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterServerGlobals();
        ModuleGlobals::Init();
    }

    void SetUp() override {
        SetServerRestartPolicy({2, 10, 40});
        // Wrong passwords here are answered and the next client's checked at once.
        SetPasswordWaitPolicy(0, 0);
        driverdouble::Reset();
        m_Port = protocol::FreeLoopbackPort();
        m_Server = std::async(std::launch::async, [this] { return DoStartServer(m_Port); });
    }

    void TearDown() override {
        if (m_Server.valid() && m_Server.wait_for(0s) != std::future_status::ready) {
            auto client = Login();
            client->SendLine("haltServer");
            client->ReadLine();
        }
        if (m_Server.valid()) {
            ASSERT_EQ(m_Server.wait_for(20s), std::future_status::ready) << "server did not end";
        }
        SetServerRestartPolicy(ServerRestartPolicy{});
        SetPasswordWaitPolicy(1000, 60000);
    }

    std::unique_ptr<Client> Login() {
        auto client = std::make_unique<Client>(m_Port);
        EXPECT_TRUE(client->Connected());
        client->SendLine(ServerPassword);
        EXPECT_EQ(client->ReadLine(), "password ok");
        return client;
    }

    // Sends one line and answers the server's reply, or "<closed>".
    static std::string Ask(Client& client, const std::string& line) {
        client.SendLine(line);
        return client.ReadLine().value_or("<closed>");
    }

    bool Halt() {
        auto client = Login();
        EXPECT_EQ(Ask(*client, "haltServer"), "halt server");
        EXPECT_TRUE(client->AtEof());
        EXPECT_EQ(m_Server.wait_for(20s), std::future_status::ready);
        return m_Server.get();
    }

    ScopedLimits m_Limits{10000};
    uint16_t m_Port = 0;
    std::future<bool> m_Server;
};

} // namespace

TEST_F(ServerLoopsTest, StatusCommandsAnswerAndHaltEndsTheServer) {
    auto client = Login();
    EXPECT_EQ(Ask(*client, "serveralive"), "server alive v2");
    EXPECT_EQ(Ask(*client, "get_server_version"), "3");
    EXPECT_EQ(Ask(*client, "get_transfer_mode"), "file"); // settings not loaded
    EXPECT_EQ(Ask(*client, "haltServer"), "halt server");
    EXPECT_TRUE(client->AtEof());
    ASSERT_EQ(m_Server.wait_for(20s), std::future_status::ready);
    EXPECT_TRUE(m_Server.get());
    EXPECT_TRUE(ServerWasHalted());
}

TEST_F(ServerLoopsTest, TransferModeFollowsTheSettings) {
    ScratchDir dir;
    struct Case {
        const char* ini;
        const char* mode;
    } cases[] = {
        {"[Server]\nsocketTransferMode=False\n[Options]\nsockXferCanCompress=True\n", "file"},
        {"[Server]\nsocketTransferMode=True\n[Options]\nsockXferCanCompress=False\n", "socket"},
        {"[Server]\nsocketTransferMode=True\n[Options]\nsockXferCanCompress=True\n", "socket_can_compr"},
    };
    auto client = Login();
    for (const Case& c : cases) {
        WriteFile(dir.File("kesto.ini"), c.ini);
        ASSERT_TRUE(Settings->Load(dir.File("kesto.ini"), false));
        EXPECT_EQ(Ask(*client, "get_transfer_mode"), c.mode);
    }
    Settings.Build(false);
    client->SendLine("quit");
    EXPECT_TRUE(client->AtEof());
    EXPECT_TRUE(Halt());
}

TEST_F(ServerLoopsTest, WrongPasswordIsAnsweredAndClosedWithoutLoggingIt) {
    testing::internal::CaptureStderr();
    {
        Client client(m_Port);
        EXPECT_EQ(Ask(client, "serveralive"), "Wrong password.");
        EXPECT_TRUE(client.AtEof());
    }
    {
        Client client(m_Port);
        EXPECT_EQ(Ask(client, std::string(ServerPassword) + "\r"), "Wrong password.");
        EXPECT_TRUE(client.AtEof());
    }
    auto client = Login(); // the server goes on with the next client
    EXPECT_EQ(Ask(*client, "serveralive"), "server alive v2");
    client->SendLine("quit");
    EXPECT_TRUE(client->AtEof());
    EXPECT_TRUE(Halt());
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find(ServerPassword), std::string::npos) << "the password reached a log";
    EXPECT_NE(log.find("Password (wrong)"), std::string::npos);
}

TEST_F(ServerLoopsTest, UnknownCommandIsAnsweredThenTheClientIsClosed) {
    auto client = Login();
    EXPECT_EQ(Ask(*client, "serveralive\r"), "Unknown command 'serveralive\r'.");
    EXPECT_TRUE(client->AtEof());
    client = Login();
    EXPECT_EQ(Ask(*client, "HaltServer"), "Unknown command 'HaltServer'.");
    EXPECT_TRUE(client->AtEof());
    EXPECT_TRUE(Halt());
}

TEST_F(ServerLoopsTest, LinesSplitOrJoinedByTcpAreEachAnswered) {
    auto client = Login();
    client->SendRaw("serveralive\nget_server_version\n");
    EXPECT_EQ(client->ReadLine(), "server alive v2");
    EXPECT_EQ(client->ReadLine(), "3");
    client->SendRaw("get_server");
    std::this_thread::sleep_for(30ms);
    client->SendRaw("_version\n");
    EXPECT_EQ(client->ReadLine(), "3");
    client->SendLine("quit");
    EXPECT_TRUE(client->AtEof());
    EXPECT_TRUE(Halt());
}

TEST_F(ServerLoopsTest, OversizedLineClosesTheClientAndTheServerGoesOn) {
    auto client = Login();
    client->SendLine(std::string(ct_Connection::kMaxLineLength + 10, 'x'));
    EXPECT_TRUE(client->AtEof());
    EXPECT_TRUE(Halt());
}

TEST_F(ServerLoopsTest, QuitAndCloseConnectionEndTheDialogueQuietly) {
    for (const char* word : {"quit", "closeConnection"}) {
        testing::internal::CaptureStderr();
        auto client = Login();
        client->SendLine(word);
        EXPECT_TRUE(client->AtEof());
        client.reset();
        auto next = Login(); // accepted only once the dialogue above has ended
        next->SendLine("closeConnection");
        EXPECT_TRUE(next->AtEof());
        const std::string log = testing::internal::GetCapturedStderr();
        if (std::string(word) == "quit") {
            const size_t first = log.find("Command 'closeConnection' done");
            ASSERT_NE(first, std::string::npos);
            EXPECT_NE(log.find("Command 'quit' done", first), std::string::npos);
        }
    }
    EXPECT_TRUE(Halt());
}

TEST_F(ServerLoopsTest, ExportWordsRunAJobOfTheirConversionType) {
    const std::map<std::string, std::string> words = {
        {"exportjpgs", "export jpgs"},
        {"exportpdf", "export pdf"},
        {"exportpdfandoverset", "export pdf and overset"},
        {"exportdwx", "export dwx"},
        {"exportdwq", "export dwx"},
        {"exportdwxandpdf", "export dwx and pdf"},
        {"exportdwqandpdf", "export dwx and pdf"},
        {"exportdwxandpdfandoverset", "export dwx and pdf and overset"},
        {"exportdwqandpdfandoverset", "export dwx and pdf and overset"},
        {"exportindd", "export indd"},
        {"exportqxp", "export indd"},
        {"exportinddandpdf", "export indd and pdf"},
        {"exportqxpandpdf", "export indd and pdf"},
        {"exportinddandpdfandoverset", "export indd and pdf and overset"},
        {"exportqxpandpdfandoverset", "export indd and pdf and overset"},
    };
    for (const auto& [word, announcement] : words) {
        auto client = Login();
        EXPECT_EQ(Ask(*client, word), announcement) << word;
        // A job that fails ends the dialogue.
        EXPECT_EQ(Ask(*client, "/no/such/source.qxp"), "Could not open file '/no/such/source.qxp'.");
        EXPECT_TRUE(client->AtEof()) << word;
    }
    EXPECT_TRUE(driverdouble::Driver().calls.empty());
    EXPECT_TRUE(Halt());
}

// The mask is for the logs: the client that sent a line gets it back as it sent it.
TEST_F(ServerLoopsTest, ThePasswordSentLaterIsNeverLogged) {
    testing::internal::CaptureStderr();
    auto client = Login();
    EXPECT_EQ(Ask(*client, ServerPassword), "Unknown command '" + std::string(ServerPassword) + "'.");
    EXPECT_TRUE(client->AtEof());
    client = Login();
    EXPECT_EQ(Ask(*client, "exportdwq"), "export dwx");
    const std::string inside = std::string("/x/") + ServerPassword + "/y.qxp";
    EXPECT_EQ(Ask(*client, inside), "Could not open file '" + inside + "'.");
    EXPECT_TRUE(client->AtEof());
    EXPECT_TRUE(Halt());
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find(ServerPassword), std::string::npos) << "the password reached a log";
    EXPECT_NE(log.find("Command '********' failed"), std::string::npos) << log;
}

TEST_F(ServerLoopsTest, SilentClientIsDroppedAndTheNextOneServed) {
    ct_Connection::Limits limits = ct_Connection::GetLimits();
    limits.idleTimeoutMs = 200;
    ct_Connection::SetLimits(limits);
    Client silent(m_Port);
    EXPECT_TRUE(silent.AtEof()); // never sent its password
    auto client = Login();
    EXPECT_TRUE(client->AtEof()); // logged in, then silent
    limits.idleTimeoutMs = 10000;
    ct_Connection::SetLimits(limits);
    EXPECT_TRUE(Halt());
}

TEST_F(ServerLoopsTest, HaltAfterAnAutomaticRestartDoesNotReportSuccess) {
    auto client = Login();
    client->SendLine("quit");
    EXPECT_TRUE(client->AtEof());
    ASSERT_TRUE(BreakListenerOn(m_Port));
    EXPECT_FALSE(Halt()); // served by the restarted server
    EXPECT_TRUE(ServerWasHalted());
}

TEST_F(ServerLoopsTest, RestartsAreBoundedWhenAcceptKeepsFailing) {
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (m_Server.wait_for(5ms) != std::future_status::ready && std::chrono::steady_clock::now() < until)
        BreakListenerOn(m_Port);
    ASSERT_EQ(m_Server.wait_for(0s), std::future_status::ready);
    EXPECT_FALSE(m_Server.get());
    EXPECT_FALSE(ServerWasHalted());
}

TEST(ServerStart, PortSettingOutsideTheRangeMeansTheDefault) {
    EXPECT_EQ(ServerPortFromSetting(0), 0);
    EXPECT_EQ(ServerPortFromSetting(8200), 8200);
    EXPECT_EQ(ServerPortFromSetting(65535), 65535);
    EXPECT_EQ(ServerPortFromSetting(70000), 0);
    EXPECT_EQ(ServerPortFromSetting(-1), 0);
}

TEST(ServerStart, PortInUseEndsAtOnceWithoutRestart) {
    ScopedLimits limits;
    ct_Connection holder;
    const uint16_t port = protocol::FreeLoopbackPort();
    ASSERT_EQ(holder.startServer(port), 0);
    EXPECT_FALSE(DoStartServer(port));
    EXPECT_FALSE(ServerWasHalted());
}

// An address waits a second after its first wrong password, twice as long after each further
// one, at most a minute; the wait runs on the clock alone, per address, and a right password
// ends it.
TEST(ServerDoor, WrongPasswordsMakeTheirAddressWaitLongerUpToAMinute) {
    using std::chrono::milliseconds;
    PasswordWaits waits;
    const auto t0 = PasswordWaits::Clock::time_point() + std::chrono::hours(1);
    const long expected[] = {1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000};
    auto now = t0;
    for (const long wait : expected) {
        EXPECT_EQ(waits.Left("10.0.0.1", now), milliseconds(0));
        EXPECT_EQ(waits.Missed("10.0.0.1", now), milliseconds(wait));
        EXPECT_EQ(waits.Left("10.0.0.1", now + milliseconds(1)), milliseconds(wait - 1));
        EXPECT_EQ(waits.Left("10.0.0.2", now), milliseconds(0)) << "another address waits for nothing";
        now += milliseconds(wait);
    }
    waits.Passed("10.0.0.1");
    EXPECT_EQ(waits.Missed("10.0.0.1", now), milliseconds(1000));
}

// Passwords compare whole, a shared-folder list splits at semicolons alone, and a password file
// gives its first line whole, or is refused.
TEST(ServerDoor, PasswordsAndSharedFolderListsAreReadAsWritten) {
    const struct {
        std::string line, password;
        bool same;
    } passwords[] = {
        {"abc", "abc", true}, {"abd", "abc", false}, {"ab", "abc", false},
        {"abcd", "abc", false}, {"", "abc", false}, {std::string("ab\0", 3), "ab", false},
    };
    for (const auto& p : passwords)
        EXPECT_EQ(SamePassword(p.line, p.password), p.same) << p.line;
    EXPECT_EQ(SplitSharedFolders(" /srv/a ; ;/srv/my folder; "), (std::vector<std::string>{"/srv/a", "/srv/my folder"}));

    ScratchDir dir;
    const std::string file = dir.File("pw");
    const struct {
        std::string content;
        std::string password;  // "" when refused
    } files[] = {
        {"secret", "secret"}, {" with blanks \r\nsecond\n", " with blanks "},
        {std::string(ct_Connection::kMaxLineLength + 1, 'x'), ""},
        {std::string(ct_Connection::kMaxLineLength, 'x'), std::string(ct_Connection::kMaxLineLength, 'x')},
        {std::string("a\0b\n", 4), ""},
    };
    for (const auto& f : files) {
        WriteFile(file, f.content);
        ::chmod(file.c_str(), 0600);
        std::string password;
        const std::string why = ReadPasswordFile(file, password);
        EXPECT_EQ(why.empty(), !f.password.empty()) << why;
        EXPECT_EQ(password, f.password);
    }
}
