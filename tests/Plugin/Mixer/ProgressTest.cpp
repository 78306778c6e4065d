// The progress bar in the emulated host: when it redraws, which positions it takes, and that a
// bar that never moved opens nothing.
#include <gtest/gtest.h>

#include <string>

#include "Plugin/ModuleHostFixture.h"
#include "Plugin/Mixer/Progress.h"

namespace {

class ProgressTest : public kesto_test::ModuleHostTest {
protected:
    ProgressTest() : ModuleHostTest("mixer") {}

    bool Opened() const
    {
        for (const auto& line : host->Log().Lines())
            if (line.find("dialog") != std::string::npos && line.find("opens") != std::string::npos)
                return true;
        return false;
    }
};

TEST_F(ProgressTest, RedrawsOnlyWhenThePercentageMovesByTwo)
{
    Start();
    const size_t draws = CountCalls("XCF5/13");
    {
        ProgressBar bar("Analysing", 200);
        EXPECT_EQ(ProgressTitle(), "Analysing");
        EXPECT_TRUE(ProgressActive());
        int drawn[7] = {};
        for (uint32_t position = 1; position <= 6; ++position) {
            const int before = Calls(draws);
            EXPECT_TRUE(bar.SetPosition(position));
            drawn[position] = Calls(draws) - before;
        }
        EXPECT_EQ(drawn[1], 1);
        EXPECT_EQ(drawn[2], 0);
        EXPECT_EQ(drawn[3], 0);
        EXPECT_EQ(drawn[4], 1);
        EXPECT_EQ(drawn[5], 0);
        EXPECT_EQ(drawn[6], 0);
        EXPECT_EQ(bar.LastShown(), 2u);
        EXPECT_NE(ProgressDialog, 0);

        // Below the current position or above the total: refused, nothing changes.
        EXPECT_FALSE(bar.SetPosition(5));
        EXPECT_FALSE(bar.SetPosition(201));
        EXPECT_FALSE(bar.Advance(0xFFFFFFFFu));
        EXPECT_EQ(bar.Position(), 6u);
        EXPECT_TRUE(bar.Advance(194));
        EXPECT_EQ(bar.LastShown(), 100u);
    }
    EXPECT_FALSE(ProgressActive());
    EXPECT_EQ(ProgressDialog, 0);
}

TEST_F(ProgressTest, ABarThatNeverMovedOpensNothing)
{
    Start();
    {
        ProgressBar bar("Quiet", 10);
    }
    EXPECT_FALSE(Opened());
    {
        // An empty bar takes no position and never divides.
        ProgressBar empty("Empty", 0);
        EXPECT_FALSE(empty.SetPosition(0));
        EXPECT_FALSE(empty.SetPosition(1));
        EXPECT_FALSE(empty.Advance(1));
    }
    EXPECT_FALSE(Opened());
    EXPECT_EQ(ProgressDialog, 0);
}

TEST_F(ProgressTest, ShowOpensOnceWithTheTitle)
{
    Start();
    ProgressBar bar("Exporting", 100);
    bar.Show();
    const XTHandle dialog = ProgressDialog;
    ASSERT_NE(dialog, 0);
    bar.Show();
    EXPECT_EQ(ProgressDialog, dialog);
    EXPECT_TRUE(Opened());
    const size_t draws = CountCalls("XCF5/13");
    SetProgressDialogValue(dialog, 5, 4);
    EXPECT_EQ(Calls(draws), 0);
    SetProgressDialogValue(dialog, 4, 4);
    RefreshProgressDialog(dialog);
    EXPECT_EQ(Calls(draws), 2);
    bar.Close();
    EXPECT_EQ(ProgressDialog, 0);
    EXPECT_FALSE(host->Failed()) << host->Log().Text();
}

} // namespace
