#include "Foundation/ModuleGlobals.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "Foundation/AllocTracker.h"
#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Foundation/TestSupport.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

std::vector<std::string> g_trace;

// Runs the test in a scratch folder, where the general log goes.
class ModuleGlobalsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_trace.clear();
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(m_dir.Path());
    }
    void TearDown() override
    {
        ModuleGlobals::Shutdown();
        for (GlobalStep step : {GlobalStep::BatchStatus, GlobalStep::FileKindExtensions,
                                GlobalStep::ConversionJob, GlobalStep::KestoInterface})
            ModuleGlobals::Register(step, nullptr, nullptr);
        std::filesystem::current_path(m_previous);
    }

    TempDir m_dir;
    std::filesystem::path m_previous;
};

TEST_F(ModuleGlobalsTest, FoundationGlobalsAreBuiltAndTornDown)
{
    ModuleGlobals::Init();
    ASSERT_TRUE(ModuleGlobals::IsInitialized());
    ASSERT_TRUE(Allocations.IsBuilt());
    ASSERT_TRUE(Settings.IsBuilt());
    ASSERT_TRUE(GeneralLog.IsBuilt());
    EXPECT_FALSE(Settings->IsLoaded());
    EXPECT_EQ(Settings->GetValue(SettingKey::serverMode), "");
    EXPECT_EQ(ServerLog, nullptr);

    GeneralLogStream() << "Starting export ..." << std::endl;
    EXPECT_EQ(ReadFile(m_dir / kGeneralLogFileName), "Starting export ...\n");

    ModuleGlobals::Shutdown();
    EXPECT_FALSE(ModuleGlobals::IsInitialized());
    EXPECT_FALSE(Allocations.IsBuilt());
    EXPECT_FALSE(Settings.IsBuilt());
    EXPECT_FALSE(GeneralLog.IsBuilt());
    GeneralLogStream() << "dropped" << std::endl;
    EXPECT_EQ(ReadFile(m_dir / kGeneralLogFileName), "Starting export ...\n");
}

// What the unload leaves: on the standard error stream one line when nodes are still
// registered (released ones are no leak) and nothing otherwise, the nodes in the general log.
TEST_F(ModuleGlobalsTest, UnloadNamesWhatIsStillAllocatedInOneLine)
{
    const std::string log = m_dir / kGeneralLogFileName;
    for (int live = 0; live < 3; ++live) {
        ModuleGlobals::Init();
        int nodes[3] = {};
        for (int k = 0; k < live; ++k)
            TrackAlloc("t_File", &nodes[k], "job file");
        TrackAlloc("t_Folder", &nodes[2]);
        UntrackAlloc("t_Folder", &nodes[2]);
        CaptureStderr();
        ModuleGlobals::Shutdown();
        EXPECT_EQ(GetCapturedStderr(), live == 0 ? "" : "Kesto: " + std::to_string(live) + (live == 1 ? " object" : " objects") +
                                                             " still allocated at unload (listed in " + log + ")\n");
        EXPECT_EQ(ReadFile(log).find("Memory allocated at unload:\nt_File ") != std::string::npos, live > 0)
            << ReadFile(log);
    }
}

void BuildJob() { g_trace.push_back("build job " + std::to_string(Settings.IsBuilt())); }
void DestroyJob() { g_trace.push_back("destroy job " + std::to_string(Settings.IsBuilt())); }
void BuildBatch() { g_trace.push_back("build batch " + std::to_string(Allocations.IsBuilt())); }
void DestroyBatch() { g_trace.push_back("destroy batch " + std::to_string(Allocations.IsBuilt())); }
void BuildInterface() { g_trace.push_back("build interface " + std::to_string(GeneralLog.IsBuilt())); }
void DestroyInterface() { g_trace.push_back("destroy interface " + std::to_string(GeneralLog.IsBuilt())); }
void SetPointers() { g_trace.push_back("pointers"); }

TEST_F(ModuleGlobalsTest, StepsRunInLoadOrderAndGoInReverse)
{
    // Registered out of order; each build and teardown sees which foundation globals exist.
    ModuleGlobals::Register(GlobalStep::KestoInterface, BuildInterface, DestroyInterface);
    ModuleGlobals::Register(GlobalStep::ConversionJob, BuildJob, DestroyJob);
    ModuleGlobals::Register(GlobalStep::FileKindExtensions, SetPointers, nullptr);
    ModuleGlobals::Register(GlobalStep::BatchStatus, BuildBatch, DestroyBatch);
    ModuleGlobals::Init();
    ModuleGlobals::Shutdown();
    const std::vector<std::string> expected = {
        "build batch 0",   "pointers",        "build job 0",  "build interface 1",
        "destroy interface 1", "destroy job 0", "destroy batch 0",
    };
    EXPECT_EQ(g_trace, expected);
}

TEST_F(ModuleGlobalsTest, StepRegisteredLateIsBuiltAtOnceAndGoesFirst)
{
    ModuleGlobals::Init();
    ModuleGlobals::Register(GlobalStep::ConversionJob, BuildJob, DestroyJob);
    EXPECT_EQ(g_trace, std::vector<std::string>{"build job 1"});
    ModuleGlobals::Shutdown();
    EXPECT_EQ(g_trace.back(), "destroy job 1");
}

TEST_F(ModuleGlobalsTest, UnloadNeverCreatesOrRewritesTheSettingsFile)
{
    FakeHostServices host;
    host.applicationFolder = m_dir.Path();
    std::filesystem::create_directory(m_dir / "XTensions");

    ModuleGlobals::Init();
    CaptureStdout();
    Settings->Load("", false);
    GetCapturedStdout();
    ModuleGlobals::Shutdown();
    EXPECT_FALSE(std::filesystem::exists(m_dir / "XTensions/kesto.ini"));

    const std::string original = "[Server]\nlistenPort = 9000\n\n# end\n";
    WriteFile(m_dir / "XTensions/kesto.ini", original);
    ModuleGlobals::Init();
    ASSERT_TRUE(Settings->Load("", false));
    EXPECT_EQ(Settings->GetListenPort(), 9000);
    ModuleGlobals::Shutdown();
    EXPECT_EQ(ReadFile(m_dir / "XTensions/kesto.ini"), original);
}

} // namespace
