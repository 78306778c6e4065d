// Story handles on the example two-page-linked.qxp: staleness, the run walk with attribute
// reads, the cutter's merges in both orders checked on the story after the cut, and memory
// handles the host refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "Plugin/ModuleHostFixture.h"
#include "Plugin/QAPI/QStory.h"

namespace {

constexpr uint32_t kStoryBox = 3;  // the first box of the linked story
const std::u16string kStory = u"Annual Report\rThe \ue045IXquick\ue025 brown fox.\r";

class QStoryTest : public kesto_test::ModuleHostTest {
protected:
    QStoryTest() : ModuleHostTest("qapi") {}

    void SetUp() override
    {
        ModuleHostTest::SetUp();
        Start();
        OpenExample("two-page-linked.qxp");
        box = Box(kStoryBox);
        ASSERT_NE(box, 0);
    }

    std::u16string StoryNow()
    {
        XTHandle text = 0;
        int32_t length = 0;
        EXPECT_EQ(Docs().StoryOfBox(box, &text, &length), XT_OK);
        std::u16string chars;
        EXPECT_EQ(Docs().StoryText(text, &chars), XT_OK);
        return chars;
    }

    // The transcript lines of deletions since mark.
    std::vector<std::string> Deletions(size_t mark) const
    {
        std::vector<std::string> out;
        const auto& lines = host->Log().Lines();
        for (size_t i = mark; i < lines.size(); ++i)
            if (lines[i].find("text.delete") != std::string::npos)
                out.push_back(lines[i].substr(lines[i].find(" from=")));
        return out;
    }

    std::string BreakPoints() const
    {
        std::string found;
        const std::string log = GeneralLog();
        for (size_t at = log.find("######## BreakPoint_KS:"); at != std::string::npos;
             at = log.find("######## BreakPoint_KS:", at + 1))
            found += log.substr(at, log.find('\n', at) - at) + "\n";
        return found;
    }

    XTHandle box = 0;
};

TEST_F(QStoryTest, AStoryOfNoBoxAsksNothing)
{
    const size_t calls = CountCalls("TXT-1");
    QStory story(0);
    EXPECT_EQ(story.mTextLen, 0u);
    EXPECT_EQ(story.GetTextHandle(true), 0);
    EXPECT_EQ(Calls(calls), 0);
}

TEST_F(QStoryTest, AStaleStoryRereadsItselfOnce)
{
    QStory story(box);
    EXPECT_EQ(story.mTextLen, kStory.size());
    EXPECT_EQ(host->application.textMode, 1);
    const size_t calls = CountCalls("TXT-1");
    const XTHandle text = story.GetTextHandle(true);
    EXPECT_EQ(Calls(calls), 0);
    ASSERT_EQ(InsertHostText(text, 0, 2, u"Xy", 0), 0);
    BumpChangeCounter(0);
    // The refresh puts a text mode that it had to switch back.
    host->application.textMode = 3;
    EXPECT_EQ(story.GetLength(true), kStory.size() + 2);
    EXPECT_EQ(story.mInitLen, kStory.size());
    EXPECT_EQ(Calls(calls), 1);
    EXPECT_EQ(host->application.textMode, 3);
    EXPECT_EQ(story.GetLength(true), kStory.size() + 2);
    EXPECT_EQ(Calls(calls), 1);
}

TEST_F(QStoryTest, TheCursorWalksBoundariesAndReadsAttributesOnlyOnChange)
{
    QStoryText text(box);
    EXPECT_EQ(text.CopyText().size(), kStory.size());
    EXPECT_EQ(text.CopyText().substr(0, 14), "Annual Report\r");
    EXPECT_EQ(text.Copy()[kStory.size()], 0);
    ASSERT_EQ(text.StyleRuns().Count(), 4u);
    const size_t reads = CountCalls("TXT-5");
    QStoryCursor cursor(text);
    EXPECT_EQ(Calls(reads), 1);
    EXPECT_EQ(cursor.GetCharAttributes().size, 1179648);  // the heading's 18 pt
    std::vector<int32_t> stops;
    std::vector<uint32_t> kinds;
    while (cursor.HasMore()) {
        kinds.push_back(cursor.GetRunKind());
        cursor.Next();
        stops.push_back(cursor.GetPosition());
    }
    EXPECT_EQ(stops.back(), static_cast<int32_t>(kStory.size()));
    // Every stop lies on a style or paragraph boundary, in order.
    for (size_t i = 1; i < stops.size(); ++i)
        EXPECT_GT(stops[i], stops[i - 1]);
    EXPECT_NE(std::find(stops.begin(), stops.end(), 14), stops.end());
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), 0x45u), kinds.end());
    // Style values 2, 1, 3, 1: three changes, three more reads.
    EXPECT_EQ(Calls(reads), 4);
    // The last stop ends the paragraph table: the style walker stays on the last style run.
    EXPECT_EQ(cursor.GetStyleIndex(), 3u);
    EXPECT_EQ(cursor.GetParaIndex(), text.ParaRuns().Count());
}

TEST_F(QStoryTest, AscendingCutMergesAdjacentRangesAndShiftsLaterOnes)
{
    QStoryCutter cutter(box, false);
    cutter.Add(2, 5);
    cutter.Add(5, 9);
    cutter.Add(10, 10);
    EXPECT_EQ(cutter.LastEnd(), 10);
    EXPECT_EQ(cutter.Queued(), 2u);
    cutter.Add(12, 14);
    EXPECT_EQ(cutter.Removed(), 9u);
    const size_t mark = host->Log().Lines().size();
    const uint32_t before = ChangeCounter;
    cutter.Apply();
    EXPECT_EQ(Deletions(mark), (std::vector<std::string>{" from=2 to=9", " from=5 to=7"}));
    EXPECT_EQ(StoryNow(), u"An" u"por" + kStory.substr(14));
    EXPECT_EQ(ChangeCounter, before + 2);
    EXPECT_EQ(cutter.Queued(), 0u);
    EXPECT_EQ(BreakPoints(), "");
}

TEST_F(QStoryTest, DescendingCutRemovesLaterTextFirst)
{
    QStoryCutter cutter(box, true);
    cutter.Add(2, 5);
    cutter.Add(5, 9);
    cutter.Add(12, 14);
    const size_t mark = host->Log().Lines().size();
    cutter.Apply();
    EXPECT_EQ(Deletions(mark), (std::vector<std::string>{" from=12 to=14", " from=2 to=9"}));
    EXPECT_EQ(StoryNow(), u"An" u"por" + kStory.substr(14));
    EXPECT_EQ(BreakPoints(), "");
}

TEST_F(QStoryTest, ACutThatGoesWrongIsReportedAndTheWorkGoesOn)
{
    QStoryCutter cutter(box, false);
    cutter.Add(30, 70);  // beyond the story's end: the host refuses the deletion
    cutter.Apply();
    const std::string reports = BreakPoints();
    EXPECT_NE(reports.find("below the last end 70"), std::string::npos) << reports;
    EXPECT_NE(reports.find("expected"), std::string::npos) << reports;
    EXPECT_EQ(StoryNow(), kStory);
}

TEST_F(QStoryTest, CopiedTextIsCountedAsAnEdit)
{
    QStory story(box);
    const XTHandle text = story.GetTextHandle(true);
    const uint32_t before = ChangeCounter;
    EXPECT_EQ(CopyStoryText(text, 0, 6, text, 14), 1);
    EXPECT_EQ(ChangeCounter, before + 1);
    EXPECT_EQ(host->application.textUpdate, 0);
    EXPECT_EQ(StoryNow().substr(14, 6), u"Annual");
    EXPECT_TRUE(story.IsStale());
    EXPECT_NE(CopyStoryText(text, 0, 6, 0, 0), 1);
    EXPECT_EQ(StoryTextOrWarning(box).substr(0, 6), "Annual");
    EXPECT_EQ(StoryTextOrWarning(Box(1)), "#-#-#- WARNING: EMPTY STORY -#-#-#");
}

TEST_F(QStoryTest, RefusedHostMemoryThrows)
{
    host->Faults().Add(xthost::FaultRule{"MEM-1", -108, 0, 1});
    EXPECT_THROW(QHandle<XTRunEntry>(), std::bad_alloc);
    host->Faults().Add(xthost::FaultRule{"MEM-5", -108, 0, 1});
    EXPECT_THROW(QStoryText text(box), std::bad_alloc);
    host->Faults().Add(xthost::FaultRule{"TXT-3", -50, 0, 1});
    EXPECT_THROW(QStoryText text(box), std::bad_alloc);
    QHandle<XTRunEntry> runs;
    runs.Assign(std::vector<XTRunEntry>{{1, 4}, {2, 0}, {3, 5}, {4, 0}, {5, 0}});
    runs.Trim();
    EXPECT_EQ(runs.Count(), 3u);
    EXPECT_EQ(runs.HostSize(), 5u * sizeof(XTRunEntry));
    EXPECT_EQ(runs[2].value, 3u);
    runs.Lock();
    EXPECT_FALSE(host->Failed()) << host->Log().Text();
}

} // namespace
