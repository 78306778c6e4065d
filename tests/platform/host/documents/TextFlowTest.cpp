// Line records worked out by hand: 12 pt text in a font of advance 1000 sets letters 6 pt
// wide, spaces 3 pt and lines (6 x 12 + 2) / 5 = 14.4 pt high; 18 pt letters are 9 pt wide
// and lines 21.6 pt high.
#include <gtest/gtest.h>

#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/TextFlow.h"
#include "platform/host/documents/testing/DocBuilder.h"
#include "platform/host/documents/testing/FlowExamples.h"

namespace xthost::doc {
namespace {

constexpr int32_t pt(int32_t points) { return points * 65536; }
constexpr int32_t kLine12 = 943718, kLine18 = 1415578;

struct Doc {
    std::unique_ptr<Project> project;
    Layout& layout() { return *project->layouts.front(); }
    StoryLines Lines(uint32_t box)
    {
        const Box* b = layout().FindBox(box);
        return LayOutStory(*project, layout(), *layout().FindStory(b->story));
    }
};
Doc Example(const std::string& name) { return Doc{ParseDocument(BuildExample(name))}; }

void ExpectLine(const LineRecord& l, int32_t start, int32_t length, int32_t top, int32_t left, int32_t measure,
                int32_t height, uint32_t flags)
{
    EXPECT_EQ(l.start, start);
    EXPECT_EQ(l.length, length);
    EXPECT_EQ(l.top, top);
    EXPECT_EQ(l.left, left);
    EXPECT_EQ(l.measure, measure);
    EXPECT_EQ(l.height, height);
    EXPECT_EQ(l.flags, flags);
    EXPECT_FALSE(l.Overflow());
}

void ExpectOverflow(const LineRecord& l, int32_t start, int32_t length)
{
    EXPECT_TRUE(l.Overflow());
    EXPECT_EQ(l.start, start);
    EXPECT_EQ(l.length, length);
}

TEST(TextFlowTest, TwoPageLinkedGivesTheWorkedRecords)
{
    Doc d = Example("two-page-linked");
    const uint32_t first = d.layout().spreads[0].items[0];
    const StoryLines lines = d.Lines(first);
    ASSERT_EQ(lines.lines.size(), 2u);  // the empty last paragraph has no record
    // "Annual Report": 12 letters of 9 pt and a space of 4.5 pt.
    ExpectLine(lines.lines[0], 0, 14, pt(37), pt(37), pt(112) + pt(1) / 2, kLine18, kLineParagraphEnd);
    EXPECT_EQ(lines.lines[0].baseline, pt(37) + kLine18 - 235930);  // 0.2 x 18 pt, rounded
    EXPECT_EQ(lines.lines[0].largest, pt(18));
    // The heading's 12 pt space after; the hidden run takes no room: 21 + 0 + 30 + 60.
    ExpectLine(lines.lines[1], 14, 25, pt(37) + kLine18 + pt(12), pt(37), pt(111), kLine12,
               kLineParagraphEnd | kLineLastInBox);
    EXPECT_EQ(lines.lines[1].paragraph, 1);
    EXPECT_EQ(lines.lines[1].box, first);
}

// The example of two linked pages with paragraph 2 repeated: box 3 holds 33 copies below the
// heading, box 4 holds 35, and one more overflows.
std::unique_ptr<Project> Copies(int copies)
{
    DocBuilder b;
    b.Font(1, "DejaVu Sans").Colour(2, "Black", 0);
    CharFormat body;
    body.font = 1;
    body.size = pt(12);
    body.colour = 2;
    CharFormat heading = body;
    heading.size = pt(18);
    const int32_t cBody = b.CharFormat(body), cHead = b.CharFormat(heading);
    ParaFormat normal;
    normal.spaceAfter = pt(6);
    ParaFormat head;
    head.spaceAfter = pt(12);
    const int32_t pNormal = b.ParaFormat(normal), pHead = b.ParaFormat(head);
    b.StyleSheet(1, "Normal", cBody, pNormal);
    b.Layout("Layout 1", pt(612), pt(792), pt(36));
    b.Master("A-Master A");
    BoxOptions autoText;
    autoText.autoText = true;
    b.TextBox(Place::OnMaster(1), Rect{pt(36), pt(36), pt(756), pt(576)}, autoText);
    b.Page(1);
    b.Page(1);
    auto story = b.Story({b.Current().spreads[0].items[0], b.Current().spreads[1].items[0]});
    story.Para(pHead).Text(u"Annual Report\r", cHead).Para(pNormal);
    for (int i = 0; i < copies; ++i)
        story.Text(u"The ", cBody).Hidden(0x45, "IX", cBody).Text(u"quick", cBody).Hidden(0x25, "", cBody).Text(u" brown fox.\r", cBody);
    story.End();
    return b.Build();
}

TEST(TextFlowTest, SixtyEightCopiesFillBothBoxesAndOneMoreOverflows)
{
    for (int copies : {68, 69}) {
        Doc d{Copies(copies)};
        const StoryLines lines = d.Lines(d.layout().spreads[0].items[0]);
        const uint32_t box3 = d.layout().spreads[0].items[0], box4 = d.layout().spreads[1].items[0];
        int in3 = 0, in4 = 0;
        for (const LineRecord& l : lines.lines) {
            in3 += l.box == box3;
            in4 += l.box == box4;
        }
        EXPECT_EQ(in3, 1 + 33) << copies;
        EXPECT_EQ(in4, 35) << copies;
        EXPECT_EQ(lines.Overflows(), copies == 69);
        if (copies == 69) {
            ExpectOverflow(lines.lines.back(), 14 + 68 * 25, 25);
            EXPECT_EQ(lines.lines.back().paragraph, 69);
        }
        // Space before is dropped and space after does not carry over: box 4 starts at its top.
        EXPECT_EQ(lines.lines[34].top, pt(37));
        EXPECT_TRUE(lines.lines[33].flags & kLineLastInBox);
    }
}

TEST(TextFlowTest, AnExactFitHasNoOverflowAndOneMoreCharacterAddsIt)
{
    Doc d = Example("overflow");
    const StoryLines exact = d.Lines(overflow::kExact);
    ASSERT_EQ(exact.lines.size(), 1u);
    ExpectLine(exact.lines[0], 0, 10, pt(37), pt(37), pt(60), kLine12, kLineLastInBox);

    const StoryLines more = d.Lines(overflow::kOneMore);
    ASSERT_EQ(more.lines.size(), 2u);
    ExpectLine(more.lines[0], 0, 10, pt(61), pt(37), pt(60), kLine12, kLineEmergency | kLineLastInBox);
    ExpectOverflow(more.lines[1], 10, 1);

    uint8_t bytes[kLineRecordSize];
    EncodeLineRecord(more.lines[1], 0, bytes);
    auto word = [&](int w) {
        return uint32_t(bytes[4 * w]) | uint32_t(bytes[4 * w + 1]) << 8 | uint32_t(bytes[4 * w + 2]) << 16 |
               uint32_t(bytes[4 * w + 3]) << 24;
    };
    EXPECT_EQ(word(0), 10u);
    EXPECT_EQ(word(1), 1u);
    EXPECT_EQ(word(2), kNotSet);
    EXPECT_EQ(word(5), kNotSet);  // the word a fit test reads
    EXPECT_EQ(word(9), kLineOverflow);
    EncodeLineRecord(exact.lines[0], 0x04000001, bytes);
    EXPECT_EQ(word(2), uint32_t(pt(37)));
    EXPECT_EQ(word(4), uint32_t(pt(60)));
    EXPECT_EQ(word(5), uint32_t(kLine12));
    EXPECT_EQ(word(7), 0x04000001u);
    EXPECT_LT(word(2), kValidBelow);
}

TEST(TextFlowTest, AChainBreaksAfterSpacesAndEveryBoxAnswersTheWholeStory)
{
    Doc d = Example("overflow");
    const StoryLines a = d.Lines(overflow::kChainA);
    // "aaaa bbbb " fits 60 pt (51 pt without the hanging space); "cccc" does not.
    ASSERT_EQ(a.lines.size(), 3u);
    ExpectLine(a.lines[0], 0, 10, pt(85), pt(37), pt(51), kLine12, kLineLastInBox);
    ExpectLine(a.lines[1], 10, 10, pt(109), pt(37), pt(51), kLine12, kLineLastInBox);
    EXPECT_EQ(a.lines[0].box, overflow::kChainA);
    EXPECT_EQ(a.lines[1].box, overflow::kChainB);
    ExpectOverflow(a.lines[2], 20, 4);
    EXPECT_EQ(d.Lines(overflow::kChainB).lines.size(), 3u);
}

TEST(TextFlowTest, ParagraphsAddTheirSpaceAfterAndRangesPickTheirLines)
{
    Doc d = Example("overflow");
    const StoryLines lines = d.Lines(overflow::kParagraphs);
    ASSERT_EQ(lines.lines.size(), 3u);
    ExpectLine(lines.lines[0], 0, 4, pt(301), pt(37), pt(18), kLine12, kLineParagraphEnd);
    ExpectLine(lines.lines[1], 4, 4, pt(301) + kLine12 + pt(6), pt(37), pt(18), kLine12,
               kLineParagraphEnd | kLineLastInBox);
    ExpectOverflow(lines.lines[2], 8, 10);
    EXPECT_EQ(lines.lines[2].paragraph, 2);

    auto range = LinesInRange(lines, 4, 8);
    ASSERT_EQ(range.size(), 1u);
    EXPECT_EQ(range[0].start, 4);
    range = LinesInRange(lines, 4, 12);  // reaches the unset text
    ASSERT_EQ(range.size(), 2u);
    EXPECT_TRUE(range[1].Overflow());
    range = LinesInRange(lines, 5, 5);
    ASSERT_EQ(range.size(), 1u);
    EXPECT_EQ(range[0].start, 4);
}

TEST(TextFlowTest, ScriptsBreakAndRunAsTheirWritingDoes)
{
    Doc d = Example("scripts");
    auto box = [](int sample) { return uint32_t(2 * sample + 1); };
    // Japanese: 16 wide letters would fit 198 pt, but the full stop may not start a line.
    StoryLines l = d.Lines(box(0));
    ASSERT_EQ(l.lines.size(), 2u);
    ExpectLine(l.lines[0], 0, 15, pt(37), pt(37), pt(180), kLine12, 0);
    ExpectLine(l.lines[1], 15, 4, pt(37) + kLine12, pt(37), pt(48), kLine12, kLineLastInBox);
    // Hebrew with points: 8 letters and a space, the points take no room; set from the right edge.
    l = d.Lines(box(5));
    ASSERT_EQ(l.lines.size(), 1u);
    ExpectLine(l.lines[0], 0, 14, pt(317), pt(511) - pt(51), pt(51), kLine12, kLineRightToLeft | kLineLastInBox);
    // A paragraph set right to left by its format, Hebrew with Latin inside.
    l = d.Lines(box(6));
    EXPECT_EQ(l.lines[0].flags & kLineRightToLeft, kLineRightToLeft);
    EXPECT_EQ(l.lines[0].measure, pt(84));
    // Cyrillic reads left to right.
    EXPECT_EQ(d.Lines(box(8)).lines[0].flags & kLineRightToLeft, 0u);
    // Thai has no spaces: 33 letters (8 marks combine) fill 198 pt, the rest breaks by width.
    l = d.Lines(box(9));
    ASSERT_EQ(l.lines.size(), 2u);
    ExpectLine(l.lines[0], 0, 41, pt(597), pt(313), pt(198), kLine12, kLineEmergency);
    EXPECT_EQ(l.lines[1].length, 3);
    // A surrogate pair is one wide character: 12 + 12 + 3 + 24.
    EXPECT_EQ(d.Lines(box(13)).lines[0].measure, pt(51));
}

TEST(TextFlowTest, ANarrowBoxSetsOneCharacterPerLine)
{
    DocBuilder b;
    const int32_t cf = b.PlainText(pt(12));
    b.Page(0);
    const uint32_t narrow = b.TextBox(Place::OnSpread(0), Rect{pt(36), pt(36), pt(336), pt(39)});
    b.Story({narrow}).Text(u"ab\U00020BB7\tc", cf).End();
    const uint32_t tabs = b.TextBox(Place::OnSpread(0), Rect{pt(36), pt(100), pt(336), pt(400)});
    b.Story({tabs}).Text(u"ab\tc", cf).End();
    const uint32_t tiny = b.TextBox(Place::OnSpread(0), Rect{pt(400), pt(100), pt(410), pt(400)});
    b.Story({tiny}).Text(u"x", cf).End();
    const uint32_t empty = b.TextBox(Place::OnSpread(0), Rect{pt(420), pt(100), pt(500), pt(400)});
    Doc d{b.Build()};

    const StoryLines l = d.Lines(narrow);
    ASSERT_EQ(l.lines.size(), 4u);  // a | b | the pair and the hanging tab | c
    EXPECT_EQ(l.lines[0].length, 1);
    EXPECT_EQ(l.lines[1].length, 1);
    EXPECT_EQ(l.lines[2].length, 3);
    EXPECT_EQ(l.lines[3].length, 1);
    EXPECT_TRUE(l.lines[0].flags & kLineEmergency);  // no break between a and b
    EXPECT_FALSE(l.lines[1].flags & kLineEmergency);  // a wide character may start a line
    EXPECT_EQ(l.lines[2].measure, pt(12));
    // A tab goes to the next multiple of 36 pt from the line's start.
    EXPECT_EQ(d.Lines(tabs).lines[0].measure, pt(42));
    // A box too small for a line is skipped: the text overflows from its start.
    const StoryLines t = d.Lines(tiny);
    ASSERT_EQ(t.lines.size(), 1u);
    ExpectOverflow(t.lines[0], 0, 1);
    EXPECT_TRUE(d.Lines(empty).lines.empty());
}

TEST(TextFlowTest, AnchoredBoxesAndPageNumbersTakeTheirRoom)
{
    // "Before the anchor " (99 pt), the anchored caption 120 pt wide and 24 pt high, " and".
    Doc d = Example("mapping");
    uint32_t host = 0;
    for (const auto& [uid, story] : d.layout().stories)
        if (!story.objects.empty() && story.objects.front().kind == 1)
            host = story.boxes.front();
    ASSERT_NE(host, 0u);
    const StoryLines l = d.Lines(host);
    EXPECT_EQ(l.lines[0].length, 24);
    EXPECT_EQ(l.lines[0].measure, pt(240));
    EXPECT_EQ(l.lines[0].height, pt(24));

    // Page 120 shows three digits of 6 pt.
    DocBuilder b;
    const int32_t cf = b.PlainText(pt(12));
    b.Section(0, 120);
    b.Page(0);
    const uint32_t box = b.TextBox(Place::OnSpread(0), Rect{pt(36), pt(36), pt(336), pt(336)});
    b.Story({box}).Text(u"Page ", cf).PageNumber(6, cf).End();
    Doc p{b.Build()};
    EXPECT_EQ(p.Lines(box).lines[0].measure, pt(24 + 3 + 18));
}

TEST(TextFlowTest, AlignmentAndIndentsPlaceTheLine)
{
    DocBuilder b;
    const int32_t cf = b.PlainText(pt(12));
    b.Page(0);
    auto para = [&](Align align, int32_t left, int32_t first, int32_t right) {
        ParaFormat f;
        f.align = align;
        f.leftIndent = pt(left);
        f.firstIndent = pt(first);
        f.rightIndent = pt(right);
        return b.ParaFormat(f);
    };
    // Text areas 198 pt wide from 37 pt; "ab cd ef" measures 42 pt.
    std::vector<uint32_t> boxes;
    const std::pair<int32_t, std::u16string> cases[] = {
        {para(Align::Center, 0, 0, 0), u"ab cd ef"},  {para(Align::Right, 0, 0, 0), u"ab cd ef"},
        {para(Align::Left, 10, 5, 20), u"ab cd ef"},  {para(Align::Justify, 0, 0, 138), u"aaaa bbbb cccc"},
    };
    int32_t top = 36;
    for (const auto& [format, text] : cases) {
        boxes.push_back(b.TextBox(Place::OnSpread(0), Rect{pt(top), pt(36), pt(top + 60), pt(236)}));
        b.Story({boxes.back()}).Para(format).Text(text, cf).End();
        top += 80;
    }
    Doc d{b.Build()};
    EXPECT_EQ(d.Lines(boxes[0]).lines[0].left, pt(37 + 78));
    EXPECT_EQ(d.Lines(boxes[1]).lines[0].left, pt(235 - 42));
    EXPECT_EQ(d.Lines(boxes[2]).lines[0].left, pt(37 + 10 + 5));
    // Justified: every line but the paragraph's last reports the full 60 pt.
    const StoryLines j = d.Lines(boxes[3]);
    ASSERT_EQ(j.lines.size(), 2u);
    EXPECT_EQ(j.lines[0].measure, pt(60));
    EXPECT_EQ(j.lines[1].measure, pt(24));
}

}  // namespace
}  // namespace xthost::doc
