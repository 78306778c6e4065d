// Master-page boxes against the emulated host: the master-page log by level, the preparation of
// the master pages with its temporary tag (also when the host fails part-way), and the summary.
#include <gtest/gtest.h>

#include <string>

#include "Plugin/Filter/Filter_KS.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/MasterPages.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/HostSuites.h"
#include "Foundation/Settings.h"

namespace {

const std::string kRule(80, ':');
const std::string kTildes(80, '~');

class MasterPagesTest : public kesto_test::ModuleHostTest {
protected:
    MasterPagesTest() : ModuleHostTest("mixer") {}

    std::string Text(uint32_t uid) { return StoryTextOrWarning(Box(uid)); }

    // The master stories of masters.qxp hold no tag.
    void ExpectNoTag()
    {
        EXPECT_EQ(Text(1), "Header A");
        EXPECT_EQ(Text(5), "Text of an unused master");
        for (uint32_t uid : {1u, 3u, 5u, 7u, 9u, 11u, 14u})
            EXPECT_EQ(Text(uid).find("#$_@?&#"), std::string::npos) << uid;
    }

    bool ViewShowsMasters()
    {
        uint8_t masters = 1;
        EXPECT_EQ(CallHost<XDD_ShowsMasters>(xt_getdocviewref(nullptr), &masters), XT_OK);
        return masters != 0;
    }

    // The summary written to the general log since `from`.
    std::string Summary(size_t from)
    {
        const std::string log = GeneralLog();
        const size_t start = log.find("\n" + std::string(80, '#') + "\nMasterpage Summary:", from);
        return start == std::string::npos ? std::string() : log.substr(start);
    }
};

TEST_F(MasterPagesTest, TheLogWritesByItsLevel)
{
    Start("[Options]\nmasterPageLogMode=5\n");
    OpenExample("masters.qxp");
    const std::string before = GeneralLog();
    LogMasterBox(ct_Box(Box(1), 0), "MPTEXTBOX", 2);
    LogMasterBox(ct_Box(Box(3), 0), "Ignoring", -1);
    EXPECT_EQ(GeneralLog().substr(before.size()),
              "\nMPTEXTBOX 2: 4000001\n" + kTildes + "\nHeader A\n" + kTildes + "\n" + "\nIgnoring: 4000002\n" +
                  kTildes + "\n#-#-#- WARNING: EMPTY STORY -#-#-#\n" + kTildes + "\n");
}

TEST_F(MasterPagesTest, TheLevelIsReadOnceAndZeroWritesNothing)
{
    Start("[Options]\nmasterPageLogMode=0\n");
    OpenExample("masters.qxp");
    const std::string before = GeneralLog();
    LogMasterBox(ct_Box(Box(1), 0), "MASTERBOX", 1);
    WriteSettings("[Options]\nmasterPageLogMode=4\n");
    Settings->Load((app / "XTensions" / "kesto.ini").string(), false);
    LogMasterBox(ct_Box(Box(1), 0), "MASTERBOX", 1);
    EXPECT_EQ(GeneralLog(), before);
}

TEST_F(MasterPagesTest, FewerThanThreeMasterEntriesVisitNoPage)
{
    Start("[Options]\nmasterPageLogMode=4\n");
    OpenExample("minimal.qxp");
    const size_t views = CountCalls("VIEW-1");
    EXPECT_EQ(PreprocessMasterBoxes(0), 0);
    EXPECT_EQ(Calls(views), 1);
    EXPECT_FALSE(ViewShowsMasters());
}

TEST_F(MasterPagesTest, TheMappingPreparesTheMasterPagesAndWritesTheSummary)
{
    Start("[Options]\nmasterPageMode=1\nmasterPageLogMode=3\n");
    OpenExample("masters.qxp");
    const size_t from = GeneralLog().size();
    Mapper mapper;
    ASSERT_GT(mapper.AnaliseDocument(), 0);
    ExpectNoTag();

    // The registries hold every master text box, and the boxes the host reported.
    ASSERT_EQ(MasterBoxRegistry->size(), 3u);
    EXPECT_EQ(ClassifyMasterBox(ct_Box(Box(1), 0), nullptr), BoxClassMasterUsed);
    EXPECT_EQ(ClassifyMasterBox(ct_Box(Box(5), 0), nullptr), BoxClassMasterUnused);
    EXPECT_EQ(ClassifyMasterBox(ct_Box(Box(7), 0), nullptr), BoxClassLinkedLayout);
    EXPECT_EQ(ClassifyMasterBox(ct_Box(Box(17), 0), nullptr), BoxClassLayout);

    const std::string hashes(80, '#'), dashes(80, '-');
    // The master rows by spread word (master A's boxes: 3, master B's: 4), then the layout boxes
    // derived from the header of master A, with the story ids under which the mapping finds them.
    const std::string golden = "\n" + hashes + "\nMasterpage Summary:\n" +
                               "        Master Boxes\n" + dashes + "\n" +
                               "    MBoxIDSpread   StoryID              UsagesMSpreadName\n" + dashes + "\n" +
                               "   4000001" "3" "        -1" "                   3" "A-Master A\n" +
                               "   4000002" "3" "        -1" "                   0" "A-Master A\n" +
                               "   4000003" "4" "         5" "                   0" "B-Master B\n" +
                               "Layout Boxes\n" + dashes + "\n" +
                               "     BoxID    MBoxIDSpread   StoryID                AutoMSpreadName\n" + dashes + "\n" +
                               "   4000004" "   4000001" "1" "         0" "                -   " "A-Master A\n" +
                               "   4000006" "   4000001" "2" "         3" "                -   " "A-Master A\n" +
                               "   4000008" "   4000001" "2" "         4" "                -   " "A-Master A\n";
    EXPECT_EQ(Summary(from), golden);
}

TEST_F(MasterPagesTest, AFailureInTheFirstPassLeavesNoTag)
{
    Start("[Options]\nmasterPageMode=1\nmasterPageLogMode=1\ntestMode=1\n");
    OpenExample("masters.qxp");
    Mapper mapper;
    ASSERT_GT(mapper.AnaliseDocument(), 0);
    // The first pass places the tag in master A's header, then the host refuses the next one.
    host->Faults().Add(xthost::FaultRule{"TXT-11", -50, 1, 1});
    const std::string before = GeneralLog();
    EXPECT_FALSE(mapper.Connect());
    host->Faults().Clear();
    ExpectNoTag();
    EXPECT_FALSE(ViewShowsMasters());
    const std::string log = GeneralLog().substr(before.size());
    EXPECT_NE(log.find("API_FAILURE<RETURN_ERROR>:\tMixer.cpp[3591]:PreprocessMasterBoxes()\n"), std::string::npos);
    EXPECT_NE(log.find("API_FAILURE<RETURN_VALUE>:\tFilter_KS.cpp[595]:Mapper::Connect()\n" + kRule),
              std::string::npos);
    EXPECT_EQ(log.find("Masterpage Summary:"), std::string::npos);
}

} // namespace
