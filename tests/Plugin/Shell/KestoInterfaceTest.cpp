#include <filesystem>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "Foundation/AllocTracker.h"
#include "Foundation/Log.h"
#include "Plugin/Shell/KestoInterface.h"
#include "Plugin/Shell/ShellTestSupport.h"

namespace fs = std::filesystem;

namespace {

class KestoInterfaceTest : public ShellLogTest {
protected:
    void TearDown() override
    {
        KestoInterface::Destroy();
        ShellLogTest::TearDown();
    }

    std::string LogsDir() const { return Dir() + "/logs"; }

    // Settings with server logging on and LogPath pointing at a fresh folder.
    void LoadServerLogSettings(const std::string& extra = "")
    {
        fs::create_directory(LogsDir());
        LoadSettings("[Server]\nserverMode=True\nactivateServerLog=True\nserverLogMinPriority=0\n" +
                     extra + "[Path]\nLogPath=" + LogsDir() + "\n");
    }

    // The folders under a path, by name.
    static std::vector<std::string> FolderNames(const std::string& path)
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path))
            names.push_back(entry.path().filename().string());
        return names;
    }
};

} // namespace

TEST_F(KestoInterfaceTest, FlagsComeFromTheSettingsAndAreLogged)
{
    LoadSettings("[Options]\nextendedInterface=True\n[Server]\nserverMode=no\n");
    KestoInterface* state = KestoInterface::Instance();
    EXPECT_EQ(KestoInterface::Instance(), state);
    EXPECT_TRUE(state->m_extendedMode);
    EXPECT_FALSE(state->m_serverMode);
    EXPECT_FALSE(state->m_multiDocMode);
    EXPECT_EQ(state->m_tmpLogFolder, nullptr);
    EXPECT_EQ(GeneralLogText(), "\nExtended mode:\tON\n\nServer mode:\tOFF\n");

    state->SetServerMode(true);
    EXPECT_TRUE(state->m_serverMode);
    EXPECT_EQ(GeneralLogText(), "\nExtended mode:\tON\n\nServer mode:\tOFF\n\nServer mode:\tON\n");
}

TEST_F(KestoInterfaceTest, WithoutSettingsBothFlagsAreOff)
{
    KestoInterface* state = KestoInterface::Instance();
    EXPECT_FALSE(state->m_extendedMode);
    EXPECT_FALSE(state->m_serverMode);
    EXPECT_EQ(GeneralLogText(), "\nExtended mode:\tOFF\n\nServer mode:\tOFF\n");
    EXPECT_FALSE(state->InitServerLog());
    EXPECT_EQ(ServerLog, nullptr);
}

TEST_F(KestoInterfaceTest, ServerLoggingOffCreatesNoFolder)
{
    fs::create_directory(LogsDir());
    LoadSettings("[Server]\nactivateServerLog=False\n[Path]\nLogPath=" + LogsDir() + "\n");
    KestoInterface* state = KestoInterface::Instance();
    EXPECT_FALSE(state->CreateTmpLogFolder());
    EXPECT_FALSE(state->InitServerLog());
    EXPECT_EQ(state->m_tmpLogFolder, nullptr);
    EXPECT_EQ(ServerLog, nullptr);
    EXPECT_TRUE(fs::is_empty(LogsDir()));
    EXPECT_FALSE(state->ReleaseLogHolder());
}

TEST_F(KestoInterfaceTest, ServerLogIsMadeUnderLogPathAndWritten)
{
    LoadServerLogSettings();
    KestoInterface* state = KestoInterface::Instance();
    ASSERT_TRUE(state->InitServerLog());
    ASSERT_NE(ServerLog, nullptr);
    ASSERT_NE(state->m_tmpLogFolder, nullptr);
    EXPECT_EQ(Allocations->GetCount("t_Folder"), 1);
    EXPECT_EQ(Allocations->GetCount("t_LogFile"), 1);

    const std::vector<std::string> folders = FolderNames(LogsDir());
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_TRUE(std::regex_match(folders[0], std::regex("OMRA_[0-9]{14}_LOG"))) << folders[0];
    const std::string logPath = LogsDir() + "/" + folders[0] + "/KS7_srv.log";
    EXPECT_EQ(ServerLog->GetFullPath(), logPath);

    LogMessage("Here.cpp[1]:Here::There()", "hello server", 7);
    const std::string text = ReadFile(logPath);
    EXPECT_TRUE(std::regex_search(
        text, std::regex("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\tHere\\.cpp\\[1\\]:Here::There\\(\\) {23}"
                         "\thello server\n$")))
        << text;

    // Without keepServerLog the folder goes at unload; the nodes stay until the state goes.
    EXPECT_TRUE(state->ReleaseLogUnlessKept());
    EXPECT_FALSE(fs::exists(LogsDir() + "/" + folders[0]));
    EXPECT_NE(state->m_tmpLogFolder, nullptr);
    KestoInterface::Destroy();
    EXPECT_EQ(ServerLog, nullptr);
    EXPECT_EQ(Allocations->GetCount("t_Folder"), 0);
    EXPECT_EQ(Allocations->GetCount("t_LogFile"), 0);
}

TEST_F(KestoInterfaceTest, UnloadDeletesTheStateAndItsNodes)
{
    RegisterShellGlobals();
    LoadServerLogSettings();
    ASSERT_TRUE(KestoInterface::Instance()->InitServerLog());
    ModuleGlobals::Shutdown();
    EXPECT_EQ(ServerLog, nullptr);
    InitGlobals();
}

TEST_F(KestoInterfaceTest, KeptServerLogStaysOnDisk)
{
    LoadServerLogSettings("keepServerLog=True\n");
    KestoInterface* state = KestoInterface::Instance();
    ASSERT_TRUE(state->InitServerLog());
    const std::string folder = state->m_tmpLogFolder->GetFullPath();
    EXPECT_TRUE(state->ReleaseLogUnlessKept());
    EXPECT_FALSE(state->ReleaseLogHolder());
    KestoInterface::Destroy();
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_regular_file(folder + "/KS7_srv.log"));
}

TEST_F(KestoInterfaceTest, TemporaryPathServesWhenLogPathIsDefault)
{
    const std::string temp = Dir() + "/temp";
    fs::create_directory(temp);
    LoadSettings("[Server]\nactivateServerLog=True\n[Path]\nTemporaryPath=" + temp + "\n");
    ASSERT_TRUE(KestoInterface::Instance()->CreateTmpLogFolder());
    EXPECT_EQ(KestoInterface::Instance()->m_tmpLogFolder->GetFolderPath(), temp);
    EXPECT_EQ(FolderNames(temp).size(), 1u);
}

TEST_F(KestoInterfaceTest, MissingParentFolderGivesNoLog)
{
    LoadSettings("[Server]\nactivateServerLog=True\n[Path]\nLogPath=" + Dir() + "/absent/deeper\n");
    KestoInterface* state = KestoInterface::Instance();
    EXPECT_FALSE(state->InitServerLog());
    EXPECT_EQ(ServerLog, nullptr);
    EXPECT_FALSE(fs::exists(Dir() + "/absent"));
}

TEST_F(KestoInterfaceTest, KeptPreviousFolderIsReportedAndReplaced)
{
    LoadServerLogSettings("keepServerLog=True\n");
    KestoInterface* state = KestoInterface::Instance();
    ASSERT_TRUE(state->InitServerLog());
    CaptureStandardError();
    ASSERT_TRUE(state->InitServerLog());
    EXPECT_NE(StandardErrorText().find("Unable to remove previous temporary log folder!"),
              std::string::npos);
    EXPECT_EQ(Allocations->GetCount("t_Folder"), 1);
    EXPECT_EQ(Allocations->GetCount("t_LogFile"), 1);
}
