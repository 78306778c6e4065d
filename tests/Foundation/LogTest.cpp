#include "Foundation/Log.h"

#include <gtest/gtest.h>

#include <regex>

#include "Foundation/Settings.h"
#include "Foundation/TestSupport.h"
#include "SHARED/Server/CnvTools/NodeFS.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// A server log in a scratch folder, with the module's settings loaded from `ini` text (or
// missing when the text is empty).
class ServerLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetServerLogMinimum();
        Settings.Build(false);
        ServerLog = &m_log;
    }

    void TearDown() override
    {
        ServerLog = nullptr;
        Settings.Destroy();
        ResetServerLogMinimum();
    }

    void LoadSettings(const std::string& ini)
    {
        WriteFile(m_dir / "kesto.ini", ini);
        Settings->Load(m_dir / "kesto.ini", false);
    }

    // Logs and answers what reached the server log; the echo goes to the captured stderr.
    std::string Log(const std::string& location, const std::string& text, int32_t priority)
    {
        const std::size_t before = ReadFile(LogPath()).size();
        CaptureStderr();
        LogMessage(location, text, priority);
        m_echo = GetCapturedStderr();
        return ReadFile(LogPath()).substr(before);
    }

    std::string LogPath() const { return m_dir / "logs/KS7_srv.log"; }

    TempDir m_dir;
    t_Folder m_folder{"logs", m_dir.Path(), true, false};
    t_LogFile m_log{"KS7_srv.log", &m_folder};
    std::string m_echo;
};

TEST_F(ServerLogTest, LineHoldsStampLocationColumnAndText)
{
    LoadSettings("[Server]\nserverLogMinPriority=0\n");
    const std::string line = Log("Conn.cpp[12]:ct_Connection::Open()", "Listening", 5);
    const std::string location = "Conn.cpp[12]:ct_Connection::Open()";
    ASSERT_GE(line.size(), 19u);
    EXPECT_TRUE(std::regex_match(line.substr(0, 19), std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")))
        << line;
    EXPECT_EQ(line.substr(19), "\t" + location + std::string(48 - location.size(), ' ') + "\tListening\n");
    EXPECT_EQ(m_echo, location + ":\nListening");
}

TEST_F(ServerLogTest, LongLocationIsWrittenWhole)
{
    LoadSettings("[Server]\nserverLogMinPriority=0\n");
    const std::string location(60, 'L');
    const std::string line = Log(location, "t", 6);
    ASSERT_GE(line.size(), 20u);
    EXPECT_EQ(line.substr(19), "\t" + location + "\tt\n");
}

TEST_F(ServerLogTest, OnlyPrioritiesFromTheMinimumToEightAreWritten)
{
    LoadSettings("[Server]\nserverLogMinPriority=8\n");
    for (int32_t priority : {-1, 0, 5, 7, 9, 12})
        EXPECT_EQ(Log("L", "p", priority), "") << priority;
    EXPECT_NE(Log("L", "p", 8), "");
    EXPECT_EQ(m_echo, "L:\np");
    Log("L", "p", 9);
    EXPECT_EQ(m_echo, "L:\np");   // every priority is echoed
}

// A line for the record only: the open server log takes it by the same minimum, a closed one
// leaves it to the general log; the terminal never sees it.
TEST_F(ServerLogTest, RecordOnlyLinesGoToTheServerLogOrElseTheGeneralLog)
{
    LoadSettings("[Server]\nserverLogMinPriority=6\n");
    GeneralLog.Build(m_dir / "general.log");
    auto record = [&](int32_t priority) {
        const std::size_t before = ReadFile(LogPath()).size();
        CaptureStderr();
        LogToFile("L", "\nMemory completely deallocated.\n", priority);
        EXPECT_EQ(GetCapturedStderr(), "");
        return ReadFile(LogPath()).substr(before);
    };
    EXPECT_NE(record(6).find("\tL" + std::string(47, ' ') + "\t\nMemory completely deallocated.\n"), std::string::npos);
    EXPECT_EQ(record(5), "");
    EXPECT_EQ(ReadFile(m_dir / "general.log"), "");

    m_log.GetStream().close();
    EXPECT_EQ(record(6), "");
    EXPECT_EQ(ReadFile(m_dir / "general.log"), "L:\n\nMemory completely deallocated.\n");
    GeneralLog.Destroy();
}

TEST_F(ServerLogTest, NegativeMinimumWritesZeroToEight)
{
    LoadSettings("[Server]\nserverLogMinPriority=-5\n");
    for (int32_t priority = 0; priority <= 8; ++priority)
        EXPECT_NE(Log("L", "p", priority), "") << priority;
    EXPECT_EQ(Log("L", "p", -1), "");
    EXPECT_EQ(Log("L", "p", 9), "");
}

TEST_F(ServerLogTest, MinimumFollowsTheSettingUntilTheyAreLoadedThenStays)
{
    // Not loaded: the setting answers 0, so everything passes.
    EXPECT_NE(Log("L", "early", 0), "");
    LoadSettings("[Server]\nserverLogMinPriority=6\n");
    EXPECT_EQ(Log("L", "p", 5), "");
    LoadSettings("[Server]\nserverLogMinPriority=1\n");
    EXPECT_EQ(Log("L", "p", 5), "");   // latched at 6
}

TEST_F(ServerLogTest, MissingSettingsFileKeepsTheDefaultSeven)
{
    CaptureStdout();
    Settings->Load(m_dir / "missing.ini", false);
    GetCapturedStdout();
    EXPECT_EQ(Log("L", "p", 6), "");   // not loaded: the default 7 holds, but the latch stays open
    EXPECT_NE(Log("L", "p", 7), "");
}

TEST(ServerLogOff, MessagesOnlyReachTheErrorStream)
{
    ASSERT_EQ(ServerLog, nullptr);
    CaptureStderr();
    LogMessage("A.cpp[1]:A::B()", "text", 7);
    LogMessage("A.cpp[2]:A::B()", "more", 7);
    EXPECT_EQ(GetCapturedStderr(), "A.cpp[1]:A::B():\ntextA.cpp[2]:A::B():\nmore");
}

TEST(ServerLogFile, FailedStreamTakesNothing)
{
    TempDir dir;
    t_Folder missing("gone", dir.Path(), false, false);
    t_LogFile log("KS7_srv.log", &missing);
    EXPECT_FALSE(log.GetStream().good());
    LogFile::WriteLine(log, "L", "text");
    EXPECT_FALSE(std::filesystem::exists(dir / "gone/KS7_srv.log"));
}

TEST(LogLocation, NamesTheSourceFileLineAndQualifiedFunction)
{
    EXPECT_EQ(LogLocation("/src/SHARED/Server/Connection.cpp", 42, "ct_Connection::readLine"),
              "Connection.cpp[42]:ct_Connection::readLine()");
    EXPECT_EQ(LogLocation("C:\\src\\Connection.cpp", 7, "F"), "Connection.cpp[7]:F()");
    EXPECT_EQ(LogLocation("bare.cpp", 1, "F"), "bare.cpp[1]:F()");
    const int line = __LINE__ + 1;
    EXPECT_EQ(KS_LOCATION("LogTest::Macro"), "LogTest.cpp[" + std::to_string(line) + "]:LogTest::Macro()");
}

} // namespace
