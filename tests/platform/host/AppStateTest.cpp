// The application state a module reads and switches through the XAQ slots, the memory handles
// of the XMM suite, their faults by role, and the script verb that freezes the clock.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/host/Host.h"
#include "platform/host/Suites.h"
#include "tests/platform/host/HostTestSupport.h"

namespace xthost::testing {
namespace {

template <class Descriptor>
typename Descriptor::Type Op()
{
    return reinterpret_cast<typename Descriptor::Type>(
        SuiteCatalog::Instance().SuiteEntry(Descriptor::kCode, Descriptor::kSlot));
}

class AppStateTest : public ::testing::Test {
protected:
    AppStateTest() : host(HostOptions{}) {}

    bool Noted(const std::string& line)
    {
        for (const auto& l : host.Log().Lines())
            if (l == line)
                return true;
        return false;
    }

    Host host;
};

TEST_F(AppStateTest, VersionModesPreferencesAndSwitches)
{
    uint32_t version = 0;
    ASSERT_EQ(Op<XAQ_Version>()(&version), XT_OK);
    EXPECT_EQ(version, 0x07000002u);
    host.application.version = 0x08000000;
    ASSERT_EQ(Op<XAQ_Version>()(&version), XT_OK);
    EXPECT_EQ(version, 0x08000000u);

    int32_t mode = -1;
    ASSERT_EQ(Op<XAQ_GetToolMode>()(&mode), XT_OK);
    EXPECT_EQ(mode, 0);
    ASSERT_EQ(Op<XAQ_GetTextMode>()(&mode), XT_OK);
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(Op<XAQ_SetToolMode>()(1), XT_OK);
    EXPECT_EQ(Op<XAQ_SetToolMode>()(1), XT_OK);
    ASSERT_EQ(Op<XAQ_GetToolMode>()(&mode), XT_OK);
    EXPECT_EQ(mode, 1);
    EXPECT_TRUE(Noted("tool mode 1"));
    EXPECT_EQ(Op<XAQ_SetTextMode>()(1), XT_OK);
    EXPECT_TRUE(Noted("text mode 1"));

    uint8_t on = 0;
    for (int32_t which = 0; which < 2; ++which) {
        ASSERT_EQ(Op<XAQ_GetPreference>()(which, &on), XT_OK);
        EXPECT_EQ(on, 1);
    }
    EXPECT_EQ(Op<XAQ_GetPreference>()(2, &on), XT_ERR_PARAM);
    EXPECT_EQ(Op<XAQ_SetPreference>()(1, 0), XT_OK);
    ASSERT_EQ(Op<XAQ_GetPreference>()(1, &on), XT_OK);
    EXPECT_EQ(on, 0);
    EXPECT_TRUE(Noted("preference 1 off"));

    EXPECT_EQ(Op<XAQ_SetTextUpdate>()(0), XT_OK);
    EXPECT_EQ(host.application.textUpdate, 0);
    EXPECT_TRUE(Noted("text update 0"));

    uint8_t set = 9;
    ASSERT_EQ(Op<XAQ_GetModeFlag>()(&set), XT_OK);
    EXPECT_EQ(set, 0);
    host.application.modeFlag = true;
    EXPECT_EQ(Op<XAQ_ClearModeFlag>()(0x04000007), XT_OK);
    EXPECT_FALSE(host.application.modeFlag);
    EXPECT_TRUE(Noted("mode flag cleared for box 0x04000007"));

    // A role fault, and the slot key of the same call.
    host.Faults().Add(FaultRule{"APP-1", -50, 0, 1});
    EXPECT_EQ(Op<XAQ_Version>()(&version), -50);
    host.Faults().Add(FaultRule{"XAQ3/103", -51, 0, 1});
    EXPECT_EQ(Op<XAQ_GetToolMode>()(&mode), -51);
    EXPECT_FALSE(host.Failed());
}

TEST_F(AppStateTest, TheClockRunsUnlessFrozen)
{
    XTClockRec clock{};
    ASSERT_EQ(Op<XAQ_Clock>()(&clock), XT_OK);
    EXPECT_GE(clock.year, 2000);
    EXPECT_GE(clock.month, 1);
    EXPECT_LE(clock.month, 12);
    host.application.clock = XTClockRec{2006, 12, 5, 8, 30, 7};
    host.application.clockFrozen = true;
    ASSERT_EQ(Op<XAQ_Clock>()(&clock), XT_OK);
    EXPECT_EQ(clock.year, 2006);
    EXPECT_EQ(clock.second, 7);
    EXPECT_EQ(Op<XAQ_Clock>()(nullptr), XT_ERR_PARAM);
}

TEST_F(AppStateTest, MemoryHandles)
{
    XTHandle handle = 0;
    ASSERT_EQ(Op<XMM_NewHandle>()(0, &handle), XT_OK);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(uint32_t(handle) >> 24, 0x18u);
    uint32_t size = 7;
    ASSERT_EQ(Op<XMM_HandleSize>()(handle, &size), XT_OK);
    EXPECT_EQ(size, 0u);
    ASSERT_EQ(Op<XMM_SetHandleSize>()(handle, 16), XT_OK);
    void* address = nullptr;
    ASSERT_EQ(Op<XMM_HandleAddress>()(handle, &address), XT_OK);
    ASSERT_NE(address, nullptr);
    std::memcpy(address, "0123456789abcdef", 16);
    ASSERT_EQ(Op<XMM_SetHandleSize>()(handle, 20), XT_OK);
    ASSERT_EQ(Op<XMM_HandleAddress>()(handle, &address), XT_OK);
    EXPECT_EQ(std::memcmp(address, "0123456789abcdef", 16), 0);
    ASSERT_EQ(Op<XMM_HandleSize>()(handle, &size), XT_OK);
    EXPECT_EQ(size, 20u);
    EXPECT_EQ(Op<XMM_LockHandle>()(handle), XT_OK);
    // Blocks no module size could ask for are refused.
    EXPECT_EQ(Op<XMM_SetHandleSize>()(handle, 0xFFFFFFFFu), XT_ERR_PARAM);
    EXPECT_EQ(Op<XMM_DisposeHandle>()(handle), XT_OK);
    EXPECT_FALSE(host.Failed());

    // A disposed handle is unknown for good: an error, never a crash.
    EXPECT_EQ(Op<XMM_HandleSize>()(handle, &size), XT_ERR_PARAM);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(Op<XMM_DisposeHandle>()(handle), XT_ERR_PARAM);
    EXPECT_EQ(Op<XMM_HandleAddress>()(0x18FFFFFF, &address), XT_ERR_PARAM);
    EXPECT_EQ(address, nullptr);
    EXPECT_TRUE(host.Failed());

    host.Faults().Add(FaultRule{"MEM-1", -108, 0, 1});
    handle = 5;
    EXPECT_EQ(Op<XMM_NewHandle>()(0, &handle), -108);
}

class ClockVerbTest : public HostFixture {};

TEST_F(ClockVerbTest, FreezesAndThawsTheClock)
{
    EXPECT_EQ(RunFailing("clock 2006-13-05 08:30:07\n"),
              "error: script line 1 (clock 2006-13-05 08:30:07): expected YYYY-MM-DD hh:mm:ss");
    EXPECT_NE(RunFailing("clock tomorrow\n").find("expected live or a date and a time"), std::string::npos);
    RunOk("clock 2006-12-05 08:30:07\nclock live\n");
}

}  // namespace
}  // namespace xthost::testing
