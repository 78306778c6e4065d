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

namespace {

using xthost::doc::DocBuilder;
using xthost::doc::Place;

constexpr int32_t pt(int32_t points) { return points * 65536; }

// A run of a translated Book: its kind, named attributes, string table and content units.
class FakeRun : public KS_DWX::Import::IRun {
public:
    explicit FakeRun(int32_t kind) : mKind(kind) {}

    const char16_t* GetText(const char16_t* name) override
    {
        auto found = attributes.find(name);
        return found == attributes.end() ? nullptr : found->second.c_str();
    }
    bool GetNumber(const char16_t* name, int32_t& value) override
    {
        const char16_t* text = GetText(name);
        if (!text)
            return false;
        value = std::stoi(std::string(text, text + std::char_traits<char16_t>::length(text)));
        return true;
    }
    int32_t GetTable(const char16_t* name, int32_t) override
    {
        auto found = table.find(name);
        return found == table.end() ? -1 : found->second;
    }
    uint32_t Read(void* buffer, uint32_t size) override
    {
        if (next >= units.size())
            return 0;
        const std::vector<uint8_t>& unit = units[next++];
        std::memcpy(buffer, unit.data(), std::min<std::size_t>(size, unit.size()));
        return static_cast<uint32_t>(unit.size());
    }
    int32_t Kind() override { return mKind; }

    // Appends the text as 2-byte little-endian units.
    FakeRun& Text(const std::u16string& text)
    {
        for (char16_t c : text)
            units.push_back({uint8_t(c & 0xFF), uint8_t(c >> 8)});
        return *this;
    }
    FakeRun& Record(int32_t name, int32_t data)
    {
        std::vector<uint8_t> unit;
        for (int32_t field : {name, data})
            for (int b = 0; b < 4; ++b)
                unit.push_back(uint8_t(uint32_t(field) >> (8 * b)));
        units.push_back(unit);
        return *this;
    }

    std::map<std::u16string, std::u16string> attributes;
    std::map<std::u16string, int32_t> table;
    std::vector<std::vector<uint8_t>> units;
    std::size_t next = 0;

private:
    int32_t mKind;
};

RefPtr<FakeRun> Unicodes(const std::u16string& text, int32_t probe = -1)
{
    RefPtr<FakeRun> run(new FakeRun(KS_DWX::Import::kRunUnicodes));
    run->Text(text);
    if (probe >= 0)
        run->attributes[u"private"] = std::u16string(u"") + std::u16string(std::to_string(probe).begin(), std::to_string(probe).end());
    return run;
}

std::u16string StoryChars(XTHandle box)
{
    QStory story(box);
    const int32_t length = static_cast<int32_t>(story.GetLength(true));
    std::u16string chars(static_cast<size_t>(length), u'\0');
    if (length > 0) {
        EXPECT_EQ(CallHost<XTY_Chars>(story.GetTextHandle(true), 0, length, &chars[0]), XT_OK);
    }
    return chars;
}

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

XTCharFormat FormatAt(XTHandle box, int32_t position)
{
    for (const RunView& run : Runs(box))
        if (run.start <= position && position < run.end)
            return run.format;
    return XTCharFormat{};
}

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
                const uint16_t key = cursor.GetParaValue();
                probes[cursor.GetPosition()] = exporter.PrivateBox()->GetPrivateId(key);
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

TEST_F(FixedStoryTest, AStoryWithoutBreaksIsOnePieceOfText)
{
    OpenStory(u"Just text, no break.");
    const FixedStory story = Segments();
    ASSERT_EQ(story.size(), 1u) << Describe(story);
    EXPECT_EQ(story[0].id, kTextSegment);
    EXPECT_EQ(story[0].start, 0);
    EXPECT_EQ(story[0].end, 20);
}

TEST_F(FixedStoryTest, AnEmptyStoryHasNoSegment)
{
    OpenStory(u"");
    EXPECT_TRUE(Segments().empty());
}

TEST_F(FixedStoryTest, ATrailingParagraphEndIsABreakWithoutAnEmptyPieceBehind)
{
    OpenStory(u"One\rTwo\r");
    const FixedStory story = Segments();
    EXPECT_EQ(Describe(story), "{-3,0,0,3}{-2,0,3,4}{-3,0,4,7}{-2,0,7,8}");
}

TEST_F(FixedStoryTest, AdjacentHiddenRunsHaveNoTextBetweenThem)
{
    OpenStory(u"Head ", true);
    const FixedStory story = Segments();
    ASSERT_EQ(story.size(), 4u) << Describe(story);
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

    // The segments cover the story without gaps, in order.
    int32_t expected = 0;
    for (const StorySegment& s : story) {
        EXPECT_EQ(s.start, expected) << Describe(story);
        EXPECT_LT(s.start, s.end);
        expected = s.end;
    }
    EXPECT_EQ(expected, static_cast<int32_t>(chars.size()));

    std::map<int32_t, StorySegment> byStart;
    for (const StorySegment& s : story)
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
    EXPECT_FALSE(byStart.count(at.unmatchedClose));
    // Unique ids are runs of their own, the one that does not parse as well.
    marker(at.uniq, 1000, 9);
    marker(at.badUniq, 1000, 9);

    // Breaks: every paragraph end, the column and the box break, each one character.
    int32_t breaks = 0;
    for (const StorySegment& s : story) {
        if (s.id != kBreakSegment)
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
            EXPECT_FALSE(byStart.count(run.start)) << run.start;
        }
    }
    EXPECT_EQ(anchored, 2);
}

} // namespace
