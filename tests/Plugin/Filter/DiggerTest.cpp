// The import's text cursor against the emulated host: the fixed view of a story cut at breaks
// and hidden runs, and the cursor that writes translated runs in front of the old text, keeps
// and moves the hidden markers and cuts the old text, on documents analysed by an export,
// saved, reopened and connected as an import finds them.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Plugin/Exchange/DWX_Import.h"
#include "Plugin/Filter/Attrib_KS.h"
#include "Plugin/Filter/Digger2.h"
#include "Plugin/Filter/Filter_KS.h"
#include "Plugin/Filter/FixedStory.h"
#include "Plugin/Filter/KestoBox.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoException.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/DocBuilder.h"
#include "platform/host/documents/testing/HiddenExample.h"

#include "FakeRun.h"
#include "StoryView.h"

namespace {

using xthost::doc::DocBuilder;
using xthost::doc::Place;

constexpr int32_t pt(int32_t points) { return points * 65536; }

using kesto_test::FakeRun;

RefPtr<FakeRun> Unicodes(const std::u16string& text, int32_t probe = -1)
{
    RefPtr<FakeRun> run(new FakeRun(KS_DWX::Import::kRunUnicodes));
    run->Text(text);
    const std::string digits = std::to_string(probe);
    if (probe >= 0)
        run->attributes[u"private"] = std::u16string(digits.begin(), digits.end());
    return run;
}

using kesto_test::StoryChars;

// Each cursor run of a story: its start, kind and character format.
struct RunView {
    int32_t start;
    int32_t end;
    uint32_t kind;
    XTCharFormat format;
};
std::vector<RunView> Runs(XTHandle box)
{
    std::vector<RunView> runs;
    QStoryText text(box);
    QStoryCursor cursor(text);
    while (cursor.HasMore()) {
        runs.push_back({cursor.GetPosition(), cursor.NextBoundary(), cursor.GetRunKind(), cursor.GetCharAttributes()});
        cursor.Next();
    }
    return runs;
}

using kesto_test::FormatAt;

void ExpectFormat(XTHandle box, int32_t from, int32_t to, const XTCharFormat& want, const std::string& what)
{
    for (int32_t at = from; at < to; ++at) {
        const XTCharFormat got = FormatAt(box, at);
        EXPECT_EQ(got.font, want.font) << what << " at " << at;
        EXPECT_EQ(got.face, want.face) << what << " at " << at;
        EXPECT_EQ(got.size, want.size) << what << " at " << at;
        EXPECT_EQ(got.colour, want.colour) << what << " at " << at;
    }
}

std::string Describe(const FixedStory& story)
{
    std::string text;
    for (const StorySegment& s : story)
        text += "{" + std::to_string(s.id) + "," + std::to_string(s.direction) + "," + std::to_string(s.start) + "," +
                std::to_string(s.end) + "}";
    return text;
}

class CursorHostTest : public kesto_test::ModuleHostTest {
protected:
    CursorHostTest() : ModuleHostTest("filter") {}

    void TearDown() override
    {
        converter.reset();
        importer.reset();
        ModuleHostTest::TearDown();
    }

    // Analyses the open document as an export does (noting the private id of every run key of
    // the story box), saves it, reopens it and connects the import's Mapper.
    void AnalyseAndReopen(uint32_t storyUid, const std::string& name)
    {
        {
            Mapper exporter;
            ASSERT_GT(exporter.AnaliseDocument(), 0);
            ASSERT_NE(exporter.PrivateBox(), nullptr);
            QStoryText text(Box(storyUid));
            QStoryCursor cursor(text);
            while (cursor.HasMore()) {
                probes[cursor.GetPosition()] = exporter.PrivateBox()->GetPrivateId(RunKeyAt(cursor));
                formats[cursor.GetPosition()] = cursor.GetCharAttributes();
                cursor.Next();
            }
        }
        const std::string saved = (app / name).string();
        ASSERT_EQ(Docs().SaveAs(saved), XT_OK);
        ASSERT_EQ(CloseProject(-1, 1), XT_OK);
        ASSERT_EQ(Docs().Open(saved, 63), XT_OK) << host->Log().Text();
        importer = std::make_unique<Mapper>();
        ASSERT_TRUE(importer->Connect());
        ASSERT_NE(dynamic_cast<KestoBoxImp*>(importer->PrivateBox()), nullptr);
        converter = std::make_unique<XAttribs>();
        box = Box(storyUid);
    }

    void OpenBuilt(DocBuilder& builder, const std::string& name)
    {
        const std::string path = (app / name).string();
        ASSERT_TRUE(xthost::doc::WriteFileAtomically(path, builder.Bytes()));
        ASSERT_EQ(Docs().Open(path, 63), XT_OK) << host->Log().Text();
    }

    FixedStory Segments()
    {
        QStoryText text(box);
        return FixedStory(text, *importer);
    }

    std::unique_ptr<Digger> Cursor(bool styleTest = false)
    {
        segments = Segments();
        return std::make_unique<Digger>(box, *importer, *converter, segments, styleTest);
    }

    std::unique_ptr<Mapper> importer;
    std::unique_ptr<XAttribs> converter;
    FixedStory segments;
    XTHandle box = 0;
    std::map<int32_t, int32_t> probes;         // run start -> private id of its key
    std::map<int32_t, XTCharFormat> formats;   // run start -> character format
};

// ---- The fixed view ------------------------------------------------------------------------

class FixedStoryTest : public CursorHostTest {
protected:
    // A document with one story box of the chars (and a hidden pair when asked for).
    void OpenStory(const std::u16string& chars, bool adjacentHidden = false)
    {
        Start();
        DocBuilder b;
        const int32_t cf = b.PlainText(pt(12));
        b.Page(0);
        storyUid = b.TextBox(Place::OnSpread(0), {pt(36), pt(36), pt(300), pt(300)});
        auto story = b.Story({storyUid});
        story.Text(chars, cf);
        if (adjacentHidden)
            story.Hidden(0x45, "op", cf).Hidden(0x25, "cl", cf).Text(u"tail", cf);
        story.End();
        OpenBuilt(b, "story.qxp");
        if (!chars.empty()) {
            AnalyseAndReopen(storyUid, "story-analysed.qxp");
            return;
        }
        // An empty story is never linked: the view needs no hidden-content table.
        importer = std::make_unique<Mapper>();
        box = Box(storyUid);
    }

    uint32_t storyUid = 0;
};

// A story without breaks is one piece of text, an empty one has no segment, and a trailing
// paragraph end is a break without an empty piece behind it.
TEST_F(FixedStoryTest, PlainStoriesAreCutAtTheirBreaks)
{
    const struct {
        const char16_t* chars;
        const char* segments;
    } cases[] = {
        {u"Just text, no break.", "{-3,0,0,20}"},
        {u"", ""},
        {u"One\rTwo\r", "{-3,0,0,3}{-2,0,3,4}{-3,0,4,7}{-2,0,7,8}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.segments);
        OpenStory(c.chars);
        EXPECT_EQ(Describe(Segments()), c.segments);
    }
}

// "One " | tag run | "\r" | tag run | "Two " | marker | "two": the tag runs leave, their paragraph-run
// ends stay as breaks at the place where each run stood, and the pieces left empty go.
TEST(FixedStoryCut, OffsetsFollowTheCutsAndEveryBreakStays)
{
    FixedStory story;
    for (const StorySegment& s : std::vector<StorySegment>{{kTextSegment, 0, 0, 4},
                                                          {kBreakSegment, 0, 4, 4},
                                                          {kTextSegment, 0, 4, 10},
                                                          {kBreakSegment, 0, 10, 10},
                                                          {kBreakSegment, 0, 10, 11},
                                                          {kTextSegment, 0, 11, 17},
                                                          {kBreakSegment, 0, 17, 17},
                                                          {kTextSegment, 0, 17, 21},
                                                          {kBreakSegment, 0, 21, 21},
                                                          {7, 1000, 21, 22},
                                                          {kBreakSegment, 0, 22, 22},
                                                          {kTextSegment, 0, 22, 25}})
        story.push_back(s);
    story.Cut({{4, 10}, {11, 17}});
    EXPECT_EQ(Describe(story), "{-3,0,0,4}{-2,0,4,4}{-2,0,4,4}{-2,0,4,5}{-2,0,5,5}{-3,0,5,9}{-2,0,9,9}"
                               "{7,1000,9,10}{-2,0,10,10}{-3,0,10,13}");
    story.Cut({});
    EXPECT_EQ(story.size(), 10u);
    // A range that ends inside a piece takes only its part of the piece.
    story.Cut({{3, 6}});
    EXPECT_EQ(Describe(story).substr(0, 40), "{-3,0,0,3}{-2,0,3,3}{-2,0,3,3}{-2,0,3,3}");
    EXPECT_EQ(story[4].start, 3);
    EXPECT_EQ(story[5].start, 3);
    EXPECT_EQ(story[5].end, 6);
}

TEST_F(FixedStoryTest, AdjacentHiddenRunsHaveNoTextBetweenThem)
{
    OpenStory(u"Head ", true);
    const FixedStory all = Segments();
    // Each paren is a paragraph run of its own: an empty break ends every run before the last.
    std::vector<StorySegment> story;
    std::vector<int32_t> emptyBreaks;
    for (const StorySegment& s : all) {
        if (s.id == kBreakSegment && s.end == s.start)
            emptyBreaks.push_back(s.start);
        else
            story.push_back(s);
    }
    EXPECT_EQ(emptyBreaks, (std::vector<int32_t>{5, 8, 11})) << Describe(all);
    ASSERT_EQ(story.size(), 4u) << Describe(all);
    EXPECT_EQ(story[0].id, kTextSegment);
    EXPECT_EQ(story[1].start, 5);
    EXPECT_EQ(story[1].end, 8);
    EXPECT_EQ(story[1].direction, 0);
    EXPECT_EQ(story[2].start, 8);
    EXPECT_EQ(story[2].end, 11);
    EXPECT_EQ(story[2].direction, 1);
    // Both parens of the pair carry the pair's id.
    EXPECT_GE(story[1].id, 0);
    EXPECT_EQ(story[1].id, story[2].id);
    EXPECT_EQ(story[3].id, kTextSegment);
    EXPECT_EQ(story[3].start, 11);
}

TEST_F(FixedStoryTest, TheHiddenExampleIsCutAtEveryBreakAndKnownRun)
{
    Start();
    OpenExample("hidden.qxp");
    const xthost::doc::HiddenLayout at = xthost::doc::HiddenExampleLayout();
    AnalyseAndReopen(at.storyBox, "hidden-analysed.qxp");
    const FixedStory story = Segments();
    const std::u16string chars = StoryChars(box);
    ASSERT_FALSE(story.empty());

    // The segments cover the story without gaps, in order; only the end of a paragraph run without a
    // break character is empty.
    int32_t expected = 0;
    for (const StorySegment& s : story) {
        EXPECT_EQ(s.start, expected) << Describe(story);
        if (s.id == kBreakSegment && s.end == s.start) {
            EXPECT_GT(s.start, 0);
            EXPECT_LT(s.start, static_cast<int32_t>(chars.size()));
        } else {
            EXPECT_LT(s.start, s.end);
        }
        expected = s.end;
    }
    EXPECT_EQ(expected, static_cast<int32_t>(chars.size()));

    std::map<int32_t, StorySegment> byStart;
    for (const StorySegment& s : story)
        if (s.end > s.start)
            byStart[s.start] = s;
    auto marker = [&](int32_t position, int32_t direction, int32_t length) {
        ASSERT_TRUE(byStart.count(position)) << position << " " << Describe(story);
        const StorySegment& s = byStart[position];
        EXPECT_GE(s.id, 0) << position;
        EXPECT_EQ(s.direction, direction) << position;
        EXPECT_EQ(s.end - s.start, length) << position;
    };
    // The nested pairs: both parens of a pair share its id, the two pairs differ.
    marker(at.nestedOuterOpen, 0, 3);
    marker(at.nestedInnerOpen, 0, 3);
    marker(at.nestedInnerClose, 1, 3);
    marker(at.nestedOuterClose, 1, 3);
    EXPECT_EQ(byStart[at.nestedOuterOpen].id, byStart[at.nestedOuterClose].id);
    EXPECT_EQ(byStart[at.nestedInnerOpen].id, byStart[at.nestedInnerClose].id);
    EXPECT_NE(byStart[at.nestedOuterOpen].id, byStart[at.nestedInnerOpen].id);
    for (int i = 0; i < 3; ++i) {
        marker(at.siblingOpen[i], 0, 2);
        marker(at.siblingClose[i], 1, 2);
        EXPECT_EQ(byStart[at.siblingOpen[i]].id, byStart[at.siblingClose[i]].id);
    }
    // A closing paren without its opening one gives no item and stays inside its text.
    EXPECT_TRUE(!byStart.count(at.unmatchedClose) || byStart[at.unmatchedClose].id == kTextSegment);
    // Unique ids are runs of their own, the one that does not parse as well.
    marker(at.uniq, 1000, 9);
    marker(at.badUniq, 1000, 9);

    // Breaks: every paragraph end, the column and the box break, each one character.
    int32_t breaks = 0;
    for (const StorySegment& s : story) {
        if (s.id != kBreakSegment || s.end == s.start)
            continue;
        ++breaks;
        EXPECT_EQ(s.end, s.start + 1);
        const char16_t c = chars[static_cast<size_t>(s.start)];
        EXPECT_TRUE(c == 13 || c == 11 || c == 12) << s.start;
    }
    int32_t expectedBreaks = 0;
    for (char16_t c : chars)
        expectedBreaks += (c == 13 || c == 11 || c == 12) ? 1 : 0;
    EXPECT_EQ(breaks, expectedBreaks);

    // Anchored items are markers; page numbers and the module's tag run stay in their text.
    int32_t anchored = 0;
    for (const RunView& run : Runs(box)) {
        if (run.kind == 1) {
            ++anchored;
            marker(run.start, 1000, 1);
        } else if ((run.kind >= 5 && run.kind <= 7) || IsModuleTagKind(run.kind)) {
            EXPECT_TRUE(!byStart.count(run.start) || byStart[run.start].id == kTextSegment) << run.start;
        }
    }
    EXPECT_EQ(anchored, 2);
}

// ---- The cursor ----------------------------------------------------------------------------

// Two paragraphs in two formats: the first holds a hidden pair around an anchored box, the
// second plain text.
class DiggerTest : public CursorHostTest {
protected:
    static constexpr uint32_t kOpen = 0x45, kClose = 0x25;

    void OpenTranslatable(const std::string& settings = "", uint8_t secondHigh = 0)
    {
        Start(settings);
        DocBuilder b;
        b.Font(1, "DejaVu Sans").Font(2, "DejaVu Serif").Colour(1, "Black", 0x000000).Colour(2, "Red", 0xFF0000);
        xthost::doc::CharFormat plain;
        plain.font = 1;
        plain.size = pt(12);
        plain.colour = 1;
        xthost::doc::CharFormat other = plain;
        other.font = 2;
        other.face = 2;
        other.size = pt(14);
        other.colour = 2;
        other.high = secondHigh;
        const int32_t c1 = b.CharFormat(plain), c2 = b.CharFormat(other);
        xthost::doc::ParaFormat p1;
        p1.style = 1;
        xthost::doc::ParaFormat p2 = p1;
        p2.leftIndent = pt(18);
        const int32_t f1 = b.ParaFormat(p1), f2 = b.ParaFormat(p2);
        b.StyleSheet(1, "Normal", c1, f1);
        b.Layout("Layout 1", pt(612), pt(792), pt(36));
        b.Page(0);
        storyUid = b.TextBox(Place::OnSpread(0), {pt(36), pt(36), pt(500), pt(576)});
        const uint32_t anchored = b.TextBox(Place::Loose_(), {0, 0, pt(40), pt(40)});
        b.Story({anchored}).Text(u"Inside", c1).End();
        b.Story({storyUid})
            .Para(f1)
            .Text(u"Alpha ", c1)
            .Hidden(kOpen, "o1", c1)
            .Text(u"beta ", c1)
            .Anchor(anchored, c1, 3)
            .Text(u" gamma ", c1)
            .Hidden(kClose, "o2", c1)
            .Text(u" delta\r", c1)
            .Para(f2)
            .Text(u"Second line", c2)
            .End();
        OpenBuilt(b, "translatable.qxp");
        AnalyseAndReopen(storyUid, "translatable-analysed.qxp");
        // Old offsets: the pair at 6 and 22, the anchored item at 14, the second paragraph at 32.
        first = formats.at(0);
        second = formats.at(32);
        firstProbe = probes.at(0);
        secondProbe = probes.at(32);
    }

    // The key of the segment at an old offset.
    Digger::Key KeyAt(int32_t start)
    {
        for (const StorySegment& s : segments)
            if (s.start == start && s.end > start)
                return Digger::Key(s.id, s.direction);
        ADD_FAILURE() << "no segment at " << start << " " << Describe(segments);
        return Digger::Key(-9, -9);
    }

    uint32_t storyUid = 0;
    XTCharFormat first{}, second{};
    int32_t firstProbe = -1, secondProbe = -1;
};

class DiggerCopyTest : public DiggerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DiggerCopyTest, TheTranslationMovesTheMarkersAndTheOldTextGoes)
{
    OpenTranslatable(std::string("[Options]\nuseObsoleteCopyText=") + (GetParam() ? "True" : "False") + "\n");
    ASSERT_GE(firstProbe, 0);
    ASSERT_GE(secondProbe, 0);
    ASSERT_NE(firstProbe, secondProbe);
    auto cursor = Cursor();
    ASSERT_EQ(Describe(segments).substr(0, 9), "{-3,0,0,6");
    const Digger::Key open = KeyAt(6), anchor = KeyAt(14), close = KeyAt(22);
    EXPECT_EQ(open.first, close.first);
    EXPECT_EQ(open.second, 0);
    EXPECT_EQ(close.second, 1);
    EXPECT_EQ(anchor.second, 1000);

    // The closing paren moves in front of the anchored item, which moves into the second
    // paragraph, and the first paragraph gets its unique id.
    cursor->InsertRun(*Unicodes(u"Anfang ", firstProbe), false);
    EXPECT_TRUE(cursor->Seek(open, true));
    cursor->InsertRun(*Unicodes(u"Beta", firstProbe), false);
    EXPECT_TRUE(cursor->Seek(close, true));
    cursor->InsertRun(*Unicodes(u" Gamma Delta", firstProbe), true);
    cursor->InsertHidden(77);
    cursor->Step();
    cursor->InsertRun(*Unicodes(u"Zweite ", secondProbe), false);
    EXPECT_TRUE(cursor->Seek(anchor, true));
    cursor->InsertRun(*Unicodes(u" Zeile", secondProbe), true);
    cursor->Flush();
    EXPECT_TRUE(cursor->Positions().empty());

    const std::u16string chars = StoryChars(box);
    const std::u16string marker = std::u16string(1, char16_t(0xE000 | kOpen)) + u"o1";
    const std::u16string closing = std::u16string(1, char16_t(0xE000 | kClose)) + u"o2";
    const std::u16string uniq = std::u16string(1, char16_t(0xE088)) + u"      77";
    const std::u16string want = u"Anfang " + marker + u"Beta" + closing + u" Gamma Delta" + uniq + u"\rZweite " +
                                std::u16string(1, char16_t(0xFFFC)) + u" Zeile";
    EXPECT_EQ(chars, want);

    // Each marker once, at its new place, with its data; no tag run, no stray object.
    std::map<int32_t, uint32_t> objects;
    for (const RunView& run : Runs(box)) {
        EXPECT_EQ(run.format.tag, 0u) << run.start;
        EXPECT_FALSE(IsModuleTagKind(run.kind)) << run.start;
        if (run.kind != 0)
            objects[run.start] = run.kind;
    }
    const int32_t openAt = 7, closeAt = 14, uniqAt = 29, anchorAt = 46;
    EXPECT_EQ(objects, (std::map<int32_t, uint32_t>{{openAt, kOpen}, {closeAt, kClose}, {uniqAt, 0x88}, {anchorAt, 1}}));
    uint32_t value = 0;
    ASSERT_EQ(CallHost<XHJ_ItemValue>(QStory(box).GetTextHandle(true), anchorAt, box, &value), XT_OK);
    EXPECT_EQ(value, 3u);
    // The anchored box went over with its story; the old one went with its anchor.
    int32_t count = 0;
    for (const RunView& run : Runs(box))
        count += run.kind == 1 ? 1 : 0;
    EXPECT_EQ(count, 1);

    // Each run in the format of its probe.
    ExpectFormat(box, 0, 7, first, "Anfang");
    ExpectFormat(box, 10, 14, first, "Beta");
    ExpectFormat(box, 17, 29, first, "Gamma Delta");
    ExpectFormat(box, 39, 46, second, "Zweite");
    ExpectFormat(box, 47, 53, second, "Zeile");
}

INSTANTIATE_TEST_SUITE_P(OldAndNewCopy, DiggerCopyTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Obsolete" : "New"; });

TEST_F(DiggerTest, ALongRunIsWrittenInPiecesOf1023Characters)
{
    OpenTranslatable();
    auto cursor = Cursor();
    std::u16string text;
    for (int i = 0; i < 1500; ++i)
        text.push_back(static_cast<char16_t>(u'a' + i % 26));
    host->Log().Clear();
    cursor->InsertRun(*Unicodes(text), true);
    std::vector<std::string> inserts;
    for (const std::string& line : host->Log().Lines())
        if (line.find("text.insert ") != std::string::npos)
            inserts.push_back(line.substr(line.find(" at=")));
    EXPECT_EQ(inserts, (std::vector<std::string>{" at=0 n=1023", " at=1023 n=477"}));
    EXPECT_EQ(cursor->Shift(), 1500);
    EXPECT_EQ(StoryChars(box).substr(0, 1500), text);
}

TEST_F(DiggerTest, AMultibyteRunChangesNothing)
{
    OpenTranslatable();
    const std::u16string before = StoryChars(box);
    auto cursor = Cursor();
    RefPtr<FakeRun> run(new FakeRun(KS_DWX::Import::kRunMultibytes));
    run->units = {{'a'}, {'b'}};
    cursor->InsertRun(*run, true);
    EXPECT_EQ(StoryChars(box), before);
    EXPECT_EQ(cursor->Shift(), 0);
    EXPECT_EQ(cursor->CutQueue().Queued(), 0u);
}

TEST_F(DiggerTest, BoldOnOverAPlainProbeComesOutBold)
{
    OpenTranslatable();
    auto cursor = Cursor();
    auto run = Unicodes(u"Fett", firstProbe);
    run->attributes[u"bold"] = u"on";
    cursor->InsertRun(*run, true);
    cursor->Flush();
    const std::u16string chars = StoryChars(box);
    ASSERT_EQ(chars.substr(0, 5), u"Fett\r");
    for (int32_t at = 0; at < 4; ++at) {
        const XTCharFormat format = FormatAt(box, at);
        EXPECT_EQ(format.face & 1, 1) << at;
        EXPECT_EQ(format.font, first.font) << at;
        EXPECT_EQ(format.size, first.size) << at;
    }
}

// The second paragraph's character format has the high flag. Its U+00A0 and U+2011 go back to a
// space and a hyphen unless they came in code page 1200, where the no-break space is the host's own.
TEST_F(DiggerTest, ANoBreakSpaceAndHyphenGoBackToASpaceAndHyphenOnlyIntoAFontWithTheHighFlag)
{
    OpenTranslatable("", 128);
    ASSERT_EQ(second.high, 128);
    const struct {
        bool high;
        const char16_t* codePage;  // null: the run has none
        std::u16string want;
    } cases[] = {{true, u"1252", u" -"}, {true, nullptr, u" -"}, {true, u"1200", u"\u00A0-"},
                 {false, u"1252", u"\u00A0\u2011"}};
    auto cursor = Cursor();
    for (const auto& c : cases) {
        auto run = Unicodes(u"\u00A0\u2011", c.high ? secondProbe : firstProbe);
        if (c.codePage)
            run->attributes[u"codepage"] = c.codePage;
        cursor->InsertRun(*run, false);
    }
    cursor->Flush();
    const std::u16string chars = StoryChars(box);
    for (size_t n = 0; n < std::size(cases); ++n) {
        EXPECT_EQ(chars.substr(2 * n, 2), cases[n].want) << "case " << n;
        EXPECT_EQ(FormatAt(box, static_cast<int32_t>(2 * n)).high >= 128, cases[n].high) << "case " << n;
    }
}

TEST_F(DiggerTest, MalformedUnitsAreLeftOut)
{
    OpenTranslatable();
    auto cursor = Cursor();
    RefPtr<FakeRun> run(new FakeRun(KS_DWX::Import::kRunUnicodes));
    run->Text(u"ab");
    run->units.push_back({0, 0});     // a zero character
    run->units.push_back({'x'});      // one byte
    run->units.push_back({'y', 0, 'z'});
    run->Text(u"c");
    cursor->InsertRun(*run, true);
    EXPECT_EQ(StoryChars(box).substr(0, 4), u"abcA");
    EXPECT_EQ(cursor->Shift(), 3);
}

TEST_F(DiggerTest, AnOverlongChunkThrowsStackCorrupt)
{
    OpenTranslatable();
    auto cursor = Cursor();
    RefPtr<FakeRun> text(new FakeRun(KS_DWX::Import::kRunUnicodes));
    text->units.push_back(std::vector<uint8_t>(Digger::kTextChunk + 2, 'a'));
    try {
        cursor->InsertRun(*text, true);
        ADD_FAILURE() << "no exception";
    } catch (const KestoException& e) {
        EXPECT_EQ(e.GetCode(), 1003);
    }
    RefPtr<FakeRun> records(new FakeRun(KS_DWX::Import::kRunSpecialChars));
    records->units.push_back(std::vector<uint8_t>(Digger::kRecordChunk + 8, 0));
    EXPECT_THROW(cursor->InsertRun(*records, true), KestoException);
}

TEST_F(DiggerTest, SpecialRecordsBecomeCharactersAndPageNumbers)
{
    OpenTranslatable();
    auto cursor = Cursor();
    RefPtr<FakeRun> run(new FakeRun(KS_DWX::Import::kRunSpecialChars));
    run->table = {{u"tabulator", 4}, {u"TempIndent", 9}, {u"page_number", 5}, {u"Curr", 6}, {u"Last", 7}, {u"Next", 8},
                  {u"column_break", 11}};
    run->Record(4, -1).Record(4, 9).Record(5, 6).Record(5, 7).Record(5, 8).Record(11, -1);
    run->Record(5, -1);          // a page number without a qualifier: no row
    run->Record(99, -1);         // a name the table lacks
    run->units.push_back({1, 0, 0, 0});  // not a whole record
    host->Log().Clear();
    cursor->InsertRun(*run, true);
    EXPECT_EQ(StoryChars(box).substr(0, 7), std::u16string(u"\t\x1E") + u"\x02\x01\x03" + u"\x0B" + u"A");
    std::vector<uint32_t> kinds;
    for (const RunView& run : Runs(box))
        if (run.start >= 2 && run.start < 5)
            kinds.push_back(run.kind);
    EXPECT_EQ(kinds, (std::vector<uint32_t>{6, 5, 7}));
    EXPECT_EQ(cursor->Shift(), 6);
    int32_t hidden = 0;
    for (const std::string& line : host->Log().Lines())
        hidden += line.find("hidden.insert ") != std::string::npos && line.find(" n=0") != std::string::npos;
    EXPECT_EQ(hidden, 3);
}

TEST_F(DiggerTest, AMarkerTheStoryLacksIsNotFoundAndAPlacedOneStaysInPlace)
{
    OpenTranslatable();
    auto cursor = Cursor();
    EXPECT_FALSE(cursor->Seek(12345, 0, true));
    const Digger::Key open = KeyAt(6);
    cursor->InsertRun(*Unicodes(u"X"), false);
    EXPECT_TRUE(cursor->Seek(open, true));
    // The marker stood at the cursor once the text before it was passed: nothing copied.
    EXPECT_EQ(cursor->Shift(), 1);
    EXPECT_EQ(cursor->CurrentPos(), 1 + 9);
    cursor->Flush();
    EXPECT_FALSE(cursor->Seek(open, true));
    EXPECT_EQ(StoryChars(box), std::u16string(u"X") + char16_t(0xE000 | kOpen) + u"o1\r");
}

// A marker copied ahead and then met at its old place stays there too: neither keeps the tag.
TEST_F(DiggerTest, AMarkerPlacedTwiceKeepsNoTag)
{
    OpenTranslatable();
    auto cursor = Cursor();
    const Digger::Key open = KeyAt(6), anchor = KeyAt(14), close = KeyAt(22);
    EXPECT_TRUE(cursor->Seek(close, false));
    EXPECT_TRUE(cursor->Seek(open, true));
    EXPECT_TRUE(cursor->Seek(anchor, true));
    EXPECT_TRUE(cursor->Seek(close, true));
    cursor->Flush();
    const std::u16string closing = std::u16string(1, char16_t(0xE000 | kClose)) + u"o2";
    EXPECT_EQ(StoryChars(box), closing + char16_t(0xE000 | kOpen) + u"o1" + char16_t(0xFFFC) + closing + u"\r");
    for (const RunView& run : Runs(box)) {
        EXPECT_EQ(run.format.tag, 0u) << run.start;
        EXPECT_FALSE(IsModuleTagKind(run.kind)) << run.start;
    }
}

TEST_F(DiggerTest, AStyleTestSetsBackTheParagraphUnderTheProbe)
{
    OpenTranslatable();
    auto cursor = Cursor(true);
    cursor->Step();
    cursor->InsertRun(*Unicodes(u"Zweite", secondProbe), true);
    cursor->Flush();
    const std::u16string chars = StoryChars(box);
    EXPECT_EQ(chars, u"\rZweite");
    XTParaAttribs attributes{};
    QStoryText text(box);
    QStoryCursor at(text);
    at.Next();
    ASSERT_TRUE(at.HasMore());
    ASSERT_EQ(at.GetParaAttributes(&attributes, nullptr), XT_OK);
    EXPECT_EQ(attributes.style, 1);
    EXPECT_EQ(attributes.values[0x11], pt(18));
    ExpectFormat(box, 1, 7, second, "Zweite");
}

// The paragraph-style table is read again only for a paragraph whose value is new: every other
// run asks the host for the number of paragraphs alone, and each paragraph still gets its own
// attributes back.
TEST_F(DiggerTest, AStyleTestReadsTheParagraphTableOncePerNewParagraphValue)
{
    OpenTranslatable();
    auto cursor = Cursor(true);
    const size_t reads = CountCalls("TXT-19");
    for (const char16_t* word : {u"Eins ", u"zwei ", u"drei"})
        cursor->InsertRun(*Unicodes(word, firstProbe), false);
    cursor->Step();
    for (const char16_t* word : {u"Vier ", u"fuenf ", u"sechs"})
        cursor->InsertRun(*Unicodes(word, secondProbe), false);
    // Six counts and a table for each of the two paragraph values.
    EXPECT_EQ(Calls(reads), 6 + 2);
    cursor->Flush();
    EXPECT_EQ(StoryChars(box).substr(0, 15), u"Eins zwei drei\r");
    QStoryText text(box);
    QStoryCursor at(text);
    std::vector<int32_t> indents;
    for (; at.HasMore(); at.Next()) {
        XTParaAttribs attributes{};
        ASSERT_EQ(at.GetParaAttributes(&attributes, nullptr), XT_OK);
        indents.push_back(attributes.values[0x11]);
    }
    ASSERT_FALSE(indents.empty());
    EXPECT_EQ(indents.front(), 0);
    EXPECT_EQ(indents.back(), pt(18));
}

} // namespace
