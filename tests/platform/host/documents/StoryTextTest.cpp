// Story text through the document calls: seeded random edits against a per-character
// reference, the derived run tables, copies, hidden-content searches, refusals and the
// round trip of an edited document.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <unistd.h>

#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/StoryEdit.h"
#include "platform/host/documents/testing/DocBuilder.h"
#include "platform/host/documents/testing/HiddenExample.h"
#include "TempDir.h"

namespace xthost::doc {
namespace {

const std::string kExamples = std::string(KESTO_SOURCE_DIR) + "/examples/documents/";
constexpr int32_t pt(int32_t points) { return points * 65536; }

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class StoryTextTest : public ::testing::Test {
public:
    void SetUp() override
    {
        folder = std::make_unique<TempDir>("xthost-story");
        temp = folder->Path();
    }
    void TearDown() override { folder.reset(); }

    // Opens the document and answers the text handle of the story of box uid.
    int32_t Open(const std::string& path, uint32_t boxUid)
    {
        EXPECT_EQ(host.Open(path, 63), HostErr::Ok);
        int32_t text = 0, length = 0;
        EXPECT_EQ(host.StoryOfBox(host.BoxHandle(boxUid), &text, &length), HostErr::Ok);
        return text;
    }
    int32_t OpenBytes(const std::string& bytes, uint32_t boxUid)
    {
        const std::string path = temp + "/doc" + std::to_string(++files) + ".qxp";
        EXPECT_TRUE(WriteFileAtomically(path, bytes));
        return Open(path, boxUid);
    }
    Project& P() { return *host.FrontProject(); }
    const Story& S(int32_t text)
    {
        Layout& l = *P().layouts[0];
        for (auto& [uid, story] : l.stories)
            if (host.TextHandle(uid) == text)
                return story;
        throw std::logic_error("no such story");
    }
    std::vector<RunEntry> Runs(int32_t text)
    {
        std::vector<RunEntry> runs;
        EXPECT_EQ(host.ParagraphRuns(text, &runs), HostErr::Ok);
        return runs;
    }
    std::vector<RunEntry> Styles(int32_t text)
    {
        std::vector<RunEntry> runs;
        EXPECT_EQ(host.StyleRuns(text, &runs), HostErr::Ok);
        return runs;
    }
    uint32_t KindOf(int32_t text, uint32_t value)
    {
        int32_t store = 0;
        EXPECT_EQ(host.AttributeStore(text, &store), HostErr::Ok);
        ParaFormat format;
        uint32_t kind = 0;
        EXPECT_EQ(host.ParaAttributes(store, value, &format, &kind), HostErr::Ok);
        return kind;
    }

    DocHost host;
    std::unique_ptr<TempDir> folder;
    std::string temp;
    int files = 0;
};

// ---- The reference: one record per character ---------------------------------------------

// What the story should be: per character its code, character format and object (0 for
// none), and per position the format of the paragraph holding it (one more than the text,
// for the last paragraph).
struct Reference {
    struct Char {
        char16_t ch;
        CharFormat cf;
        int obj;
    };
    std::vector<Char> chars;
    std::vector<ParaFormat> para;
    std::map<int, uint32_t> kinds;  // object -> kind
    int nextObj = 1;
    CharFormat normal;

    int32_t Length() const { return static_cast<int32_t>(chars.size()); }
    bool Inside(int32_t pos) const
    {
        return pos > 0 && pos < Length() && chars[pos - 1].obj && chars[pos - 1].obj == chars[pos].obj;
    }
    bool Cuts(int32_t s, int32_t e) const { return Inside(s) || Inside(e); }
    CharFormat Neighbour(int32_t pos) const { return chars.empty() ? normal : chars[pos > 0 ? pos - 1 : 0].cf; }

    void Insert(int32_t pos, const std::u16string& text, const CharFormat& cf, int obj)
    {
        const ParaFormat pf = para[pos];
        for (size_t i = 0; i < text.size(); ++i)
            chars.insert(chars.begin() + pos + i, Char{text[i], cf, obj});
        para.insert(para.begin() + pos, text.size(), pf);
    }
    void Delete(int32_t s, int32_t e)
    {
        const ParaFormat f = para[s];
        chars.erase(chars.begin() + s, chars.begin() + e);
        para.erase(para.begin() + s, para.begin() + e);
        SetParagraph(s, f);
    }
    // From pos to the end of its paragraph.
    void SetParagraph(int32_t pos, const ParaFormat& f)
    {
        for (int32_t i = pos; i <= Length(); ++i) {
            para[i] = f;
            if (i < Length() && chars[i].ch == u'\r')
                break;
        }
    }
    void Copy(int32_t s, int32_t e, int32_t pos)
    {
        const std::vector<Char> part(chars.begin() + s, chars.begin() + e);
        const std::vector<ParaFormat> formats(para.begin() + s, para.begin() + e);
        const bool head = pos > 0 && chars[pos - 1].ch != u'\r';
        const ParaFormat own = para[pos];
        std::map<int, int> renumber;
        for (size_t i = 0; i < part.size(); ++i) {
            Char c = part[i];
            if (c.obj) {
                auto [it, added] = renumber.emplace(c.obj, nextObj);
                if (added)
                    kinds[nextObj++] = kinds[c.obj];
                c.obj = it->second;
            }
            chars.insert(chars.begin() + pos + i, c);
            para.insert(para.begin() + pos + i, formats[i]);
        }
        const int32_t n = e - s;
        const bool breaks = std::any_of(part.begin(), part.end(), [](const Char& c) { return c.ch == u'\r'; });
        if (head || !breaks)
            for (int32_t i = pos; i < pos + n; ++i) {
                para[i] = own;
                if (chars[i].ch == u'\r')
                    break;
            }
        if (part.back().ch != u'\r')
            SetParagraph(pos + n, !breaks ? own : formats.back());
    }
    std::vector<ParaFormat> Paragraphs() const
    {
        std::vector<ParaFormat> out;
        for (int32_t i = 0; i < Length(); ++i)
            if (chars[i].ch == u'\r')
                out.push_back(para[i]);
        out.push_back(para.back());
        return out;
    }
};

// Compares the story with the reference and checks the derived tables.
void Match(StoryTextTest& t, int32_t text, const Reference& ref, int step)
{
    SCOPED_TRACE("step " + std::to_string(step));
    const Story& story = t.S(text);
    Project& p = t.P();
    ASSERT_EQ(story.text.size(), ref.chars.size());
    std::vector<int32_t> formats;
    for (const doc::Run& run : story.charRuns)
        formats.insert(formats.end(), static_cast<size_t>(run.length), run.format);
    for (int32_t i = 0; i < ref.Length(); ++i) {
        ASSERT_EQ(story.text[i], ref.chars[i].ch) << i;
        ASSERT_TRUE(*p.charFormats.Find(formats[i]) == ref.chars[i].cf) << i;
    }
    const auto paras = ref.Paragraphs();
    ASSERT_EQ(story.paras.size(), paras.size());
    for (size_t k = 0; k < paras.size(); ++k)
        ASSERT_TRUE(*p.paraFormats.Find(story.paras[k]) == paras[k]) << k;
    // Objects: each run of one reference object, in order.
    size_t k = 0;
    for (int32_t i = 0; i < ref.Length();) {
        const int obj = ref.chars[i].obj;
        int32_t j = i + 1;
        while (obj && j < ref.Length() && ref.chars[j].obj == obj)
            ++j;
        if (obj) {
            ASSERT_LT(k, story.objects.size());
            EXPECT_EQ(story.objects[k].at, i);
            EXPECT_EQ(story.objects[k].len, j - i);
            EXPECT_EQ(story.objects[k].kind, ref.kinds.at(obj));
            ++k;
        }
        i = j;
    }
    EXPECT_EQ(k, story.objects.size());
    ASSERT_NO_THROW(CheckProject(p));

    // The paragraph runs cover the text, split after breaks and hold one object run each,
    // with the kind and paragraph format of their characters.
    int32_t pos = 0;
    size_t para = 0;
    for (const RunEntry& run : t.Runs(text)) {
        ASSERT_GT(run.length, 0u);
        const RunFormat& rf = *p.runFormats.Find(static_cast<int32_t>(run.value & 0xFFFF));
        const int obj = ref.chars[pos].obj;
        const uint32_t kind = obj ? ref.kinds.at(obj) : TagRunKind(ref.chars[pos].cf.tag);
        EXPECT_EQ(rf.kind, kind) << pos;
        EXPECT_TRUE(*p.paraFormats.Find(rf.para) == ref.para[pos]) << pos;
        for (uint32_t i = 0; i < run.length; ++i, ++pos) {
            const auto& c = ref.chars[pos];
            EXPECT_EQ(c.obj, obj) << pos;
            if (!obj) {
                EXPECT_EQ(TagRunKind(c.cf.tag), kind) << pos;
            }
            if (i + 1 < run.length) {
                EXPECT_TRUE(c.ch != u'\r' && c.ch != 0x0B && c.ch != 0x0C) << pos;
            }
            para += c.ch == u'\r';
        }
        EXPECT_TRUE(pos == ref.Length() || ref.chars[pos].obj != obj || obj == 0) << pos;
    }
    EXPECT_EQ(pos, ref.Length());
    uint32_t covered = 0;
    for (const RunEntry& run : t.Styles(text))
        covered += run.length;
    EXPECT_EQ(covered, static_cast<uint32_t>(ref.Length()));

    // One paragraph style run per paragraph that holds text, its length counted from the
    // reference (the edits keep the host's lengths; they are not counted again).
    std::vector<RunEntry> styles;
    ASSERT_EQ(t.host.ParagraphStyleRuns(text, &styles), HostErr::Ok);
    int32_t count = -1;
    ASSERT_EQ(t.host.ParagraphStyleRunCount(text, &count), HostErr::Ok);
    EXPECT_EQ(count, static_cast<int32_t>(styles.size()));
    pos = 0;
    for (const RunEntry& run : styles) {
        int32_t end = pos;
        while (end < ref.Length() && ref.chars[end++].ch != u'\r') {
        }
        EXPECT_EQ(run.length, static_cast<uint32_t>(end - pos)) << pos;
        EXPECT_TRUE(*p.paraFormats.Find(static_cast<int32_t>(run.value)) == ref.para[pos]) << pos;
        pos = end;
    }
    EXPECT_EQ(pos, ref.Length());
}

std::u16string RandomText(std::mt19937& rng)
{
    static const char16_t kPool[] = u"abcXYZ  \r\r\t\x0B\x0C\x1E\xE9";
    std::u16string text(std::uniform_int_distribution<int>(1, 6)(rng), u' ');
    for (char16_t& c : text)
        c = kPool[std::uniform_int_distribution<size_t>(0, std::size(kPool) - 2)(rng)];
    return text;
}

void RandomEdits(StoryTextTest& t, uint32_t seed, int steps)
{
    SCOPED_TRACE("seed " + std::to_string(seed));
    DocBuilder b;
    b.Font(1, "DejaVu Sans").Font(2, "DejaVu Serif").Colour(1, "Black", 0);
    CharFormat body;
    body.font = 1;
    body.size = pt(12);
    body.colour = 1;
    const int32_t cf = b.CharFormat(body);
    ParaFormat normal;
    normal.style = 1;
    const int32_t pf = b.ParaFormat(normal);
    b.StyleSheet(1, "Normal", cf, pf);
    b.Layout("Layout 1", pt(612), pt(792), pt(36));
    b.Page(0);
    const uint32_t box = b.TextBox(Place::OnSpread(0), {pt(36), pt(36), pt(700), pt(500)});
    b.Story({box}).Para(pf).End();
    const int32_t text = t.OpenBytes(b.Bytes(), box);

    Reference ref;
    ref.normal = body;
    ref.para = {normal};
    std::mt19937 rng(seed);
    auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    static const uint32_t kKinds[] = {0x45, 0x25, 0x88, 0x10, 6};
    for (int step = 0; step < steps; ++step) {
        const int32_t len = ref.Length();
        const int op = len > 300 ? 8 : pick(0, 9);
        const int32_t pos = pick(0, len);
        int32_t result = 0, expected = HostErr::Ok;
        if (op <= 1) {  // insert text
            const std::u16string chars = RandomText(rng);
            result = t.host.InsertText(text, pos, chars);
            if (ref.Inside(pos))
                expected = HostErr::SplitsRun;
            else
                ref.Insert(pos, chars, ref.Neighbour(pos), 0);
        } else if (op == 2) {  // a hidden run or a page number
            const uint32_t kind = kKinds[pick(0, 4)];
            std::vector<uint8_t> data(static_cast<size_t>(pick(0, 3)), 'd');
            result = t.host.InsertHidden(text, pos, kind, data);
            if (ref.Inside(pos)) {
                expected = HostErr::SplitsRun;
            } else {
                std::u16string chars = kind == 6 ? std::u16string(data.size() + 1, u'\x02') : HiddenRunChars(kind, data);
                ref.kinds[ref.nextObj] = kind;
                ref.Insert(pos, chars, ref.Neighbour(pos), ref.nextObj++);
            }
        } else if (op == 3) {  // a character attribute on a range
            const int32_t end = pick(pos, std::min(len, pos + 20));
            const bool tag = pick(0, 1) == 0;
            const int32_t value = tag ? (pick(0, 1) ? 0x00414B42 : 0) : pick(0, 3);
            ASSERT_EQ(t.host.SetSelection(text, pos, end), HostErr::Ok);
            result = t.host.SetTextAttribute(text, tag ? -111 : -102, value);
            for (int32_t i = pos; i < end; ++i) {
                if (tag)
                    ref.chars[i].cf.tag = static_cast<uint32_t>(value);
                else
                    ref.chars[i].cf.face = static_cast<uint16_t>(value);
            }
            // An empty range set the format of the next insertion there; move on from it.
            ASSERT_EQ(t.host.SetSelection(text, 0, 0), HostErr::Ok);
        } else if (op == 4) {  // a paragraph attribute on the paragraphs a range touches
            const int32_t end = pick(pos, std::min(len, pos + 20));
            const int32_t value = pt(pick(0, 3));
            ASSERT_EQ(t.host.SetSelection(text, pos, end), HostErr::Ok);
            result = t.host.SetTextAttribute(text, 0x11, value);
            int32_t first = pos;
            while (first > 0 && ref.chars[first - 1].ch != u'\r')
                --first;
            for (int32_t i = first; i <= ref.Length(); ++i) {
                ref.para[i].leftIndent = value;
                if (i >= end && (i == ref.Length() || ref.chars[i].ch == u'\r'))
                    break;
            }
            ASSERT_EQ(t.host.SetSelection(text, 0, 0), HostErr::Ok);
        } else if (op == 5) {  // typing after an attribute set at the insertion point
            ASSERT_EQ(t.host.SetSelection(text, pos, pos), HostErr::Ok);
            const int32_t face = pick(4, 7);
            ASSERT_EQ(t.host.SetTextAttribute(text, -102, face), HostErr::Ok);
            result = t.host.InsertText(text, pos, u"ty");
            if (ref.Inside(pos)) {
                expected = HostErr::SplitsRun;
            } else {
                CharFormat f = ref.Neighbour(pos);
                f.face = static_cast<uint16_t>(face);
                ref.Insert(pos, u"ty", f, 0);
            }
        } else if (op <= 7) {  // a copy within the story
            const int32_t s = pick(0, len);
            const int32_t e = pick(s, std::min(len, s + 30));
            result = t.host.CopyText(text, s, e, text, pos);
            if (ref.Cuts(s, e) || ref.Inside(pos))
                expected = HostErr::SplitsRun;
            else if (e > s)
                ref.Copy(s, e, pos);
        } else {  // a deletion
            const int32_t end = pick(pos, std::min(len, pos + 40));
            result = t.host.DeleteText(text, pos, end);
            if (ref.Cuts(pos, end))
                expected = HostErr::SplitsRun;
            else if (end > pos)
                ref.Delete(pos, end);
        }
        ASSERT_EQ(result, expected) << "step " << step << " op " << op;
        Match(t, text, ref, step);
        if (::testing::Test::HasFatalFailure())
            return;
    }
}

TEST_F(StoryTextTest, RandomEditsKeepTheInvariantsAndMatchTheReference)
{
    for (uint32_t seed : {1u, 2u, 3u})
        RandomEdits(*this, seed, 10000);
}


// ---- The example "hidden" -----------------------------------------------------------------

class HiddenTest : public StoryTextTest {
public:
    void SetUp() override
    {
        StoryTextTest::SetUp();
        at = HiddenExampleLayout();
        text = Open(kExamples + "hidden.qxp", at.storyBox);
    }
    // HID-3 as the module calls it.
    bool Find(int32_t from, int32_t limit, bool forward, uint32_t opcode, int32_t* position)
    {
        bool found = false;
        EXPECT_EQ(host.FindMarker(text, from, limit, forward ? 1 : 0, opcode, 0, &found, position), HostErr::Ok);
        return found;
    }
    // The partner of the paren at pos, skipping nested pairs, through HID-3 alone.
    int32_t Partner(int32_t pos, uint32_t kind)
    {
        const bool forward = (kind & kParenBits) == kOpenParen;
        const uint32_t wanted = kind ^ kParenBits;
        const int32_t limit = forward ? static_cast<int32_t>(S(text).text.size()) : 0;
        int32_t from = forward ? pos + 1 : pos, found = -1;
        while (true) {
            if (Find(from, limit, forward, wanted, &found))
                return found;
            int32_t nested = -1;
            if (!Find(from, limit, forward, kind, &nested))
                return -1;  // neither form: unmatched
            const int32_t inner = Partner(nested, kind);
            if (inner < 0)
                return -1;
            from = forward ? inner + 1 : inner;
        }
    }

    HiddenLayout at{};
    int32_t text = 0;
};

// The first marker of the family met decides: the wanted one is found, its opposite form or
// nothing is not.
TEST_F(HiddenTest, MarkerSearchStopsAtTheFirstMarkerOfTheFamily)
{
    int32_t pos = 0;
    // Nested pair: from the outer opening paren the inner opening paren comes first.
    EXPECT_FALSE(Find(at.nestedOuterOpen + 1, 1000, true, 0x25, &pos));
    EXPECT_EQ(pos, -1);
    EXPECT_TRUE(Find(at.nestedOuterOpen + 1, 1000, true, 0x45, &pos));
    EXPECT_EQ(pos, at.nestedInnerOpen);
    EXPECT_TRUE(Find(at.nestedInnerOpen + 1, 1000, true, 0x25, &pos));
    EXPECT_EQ(pos, at.nestedInnerClose);
    EXPECT_TRUE(Find(at.nestedInnerClose + 1, 1000, true, 0x25, &pos));
    EXPECT_EQ(pos, at.nestedOuterClose);
    // Backward the start is excluded and the limit included.
    EXPECT_FALSE(Find(at.nestedOuterClose, 0, false, 0x45, &pos));
    EXPECT_TRUE(Find(at.nestedInnerClose, 0, false, 0x45, &pos));
    EXPECT_EQ(pos, at.nestedInnerOpen);
    EXPECT_FALSE(Find(at.nestedOuterOpen, 0, false, 0x45, &pos));
    EXPECT_TRUE(Find(at.nestedOuterOpen + 1, at.nestedOuterOpen, false, 0x45, &pos));
    EXPECT_EQ(pos, at.nestedOuterOpen);
    // Forward the limit is excluded.
    EXPECT_FALSE(Find(at.nestedInnerClose + 1, at.nestedOuterClose, true, 0x25, &pos));
    // Sibling pairs ( ( ) ( ) ): between the two inner pairs the second one opens first.
    EXPECT_FALSE(Find(at.siblingClose[1] + 1, 1000, true, 0x26, &pos));
    EXPECT_TRUE(Find(at.siblingClose[1] + 1, 1000, true, 0x46, &pos));
    EXPECT_EQ(pos, at.siblingOpen[2]);
    EXPECT_TRUE(Find(at.siblingClose[2] + 1, 1000, true, 0x26, &pos));
    EXPECT_EQ(pos, at.siblingClose[0]);
    // Other families are passed over: the unmatched close finds no opening paren.
    EXPECT_FALSE(Find(at.unmatchedClose, 0, false, 0x47, &pos));
    EXPECT_EQ(pos, -1);
    EXPECT_FALSE(Find(0, 1000, true, 0x47, &pos));
}

TEST_F(HiddenTest, PartnersFollowThePairingRules)
{
    EXPECT_EQ(Partner(at.nestedOuterOpen, 0x45), at.nestedOuterClose);
    EXPECT_EQ(Partner(at.nestedOuterClose, 0x25), at.nestedOuterOpen);
    EXPECT_EQ(Partner(at.nestedInnerOpen, 0x45), at.nestedInnerClose);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Partner(at.siblingOpen[i], 0x46), at.siblingClose[i]) << i;
        EXPECT_EQ(Partner(at.siblingClose[i], 0x26), at.siblingOpen[i]) << i;
    }
    EXPECT_EQ(Partner(at.unmatchedClose, 0x27), -1);
}

TEST_F(HiddenTest, RunsItemsAndTheUniqueId)
{
    // The unique id: a marker and eight digits that read as 42; the other does not parse.
    std::u16string chars;
    int32_t end = 0;
    ASSERT_EQ(host.RunEnd(text, at.uniq + 1, 1, 8, &end), HostErr::Ok);
    EXPECT_EQ(end, at.uniq + 9);
    ASSERT_EQ(host.StoryChars(text, at.uniq, end - at.uniq, &chars), HostErr::Ok);
    ASSERT_EQ(chars.size(), 9u);
    EXPECT_EQ(chars[0], 0xE088);
    std::string digits(chars.begin() + 1, chars.end());
    EXPECT_EQ(digits, "      42");
    size_t used = 0;
    EXPECT_EQ(std::stoi(digits, &used), 42);
    EXPECT_EQ(used, 8u);
    ASSERT_EQ(host.RunEnd(text, at.badUniq + 1, 1, 8, &end), HostErr::Ok);
    ASSERT_EQ(host.StoryChars(text, at.badUniq + 1, end - at.badUniq - 1, &chars), HostErr::Ok);
    EXPECT_EQ(std::string(chars.begin(), chars.end()), "  4x2 ab");
    // No hidden run before an ordinary character: the run ends where it starts.
    ASSERT_EQ(host.RunEnd(text, 3, 1, 8, &end), HostErr::Ok);
    EXPECT_EQ(end, 3);

    // Anchored items with equal text and their own values; a page number answers its own.
    const Story& story = S(text);
    std::vector<uint32_t> values;
    for (const ObjectRun& o : story.objects)
        if (o.kind == 1) {
            uint32_t value = 0;
            ASSERT_EQ(host.ItemValue(text, o.at, 0, &value), HostErr::Ok);
            values.push_back(value);
        }
    EXPECT_EQ(values, (std::vector<uint32_t>{7, 8}));
    uint32_t value = 0;
    EXPECT_EQ(host.ItemValue(text, 0, 0, &value), HostErr::BadRef);

    // The paragraph runs: the tag run, page numbers, items and hidden runs each alone, and
    // breaks after 0x0B and 0x0C.
    std::vector<uint32_t> kinds;
    std::vector<std::u16string> pieces;
    int32_t pos = 0;
    for (const RunEntry& run : Runs(text)) {
        kinds.push_back(KindOf(text, run.value));
        pieces.push_back(story.text.substr(static_cast<size_t>(pos), run.length));
        pos += static_cast<int32_t>(run.length);
    }
    auto kindOf = [&](const std::u16string& piece) {
        auto it = std::find(pieces.begin(), pieces.end(), piece);
        return it == pieces.end() ? 0xFFFFFFFFu : kinds[static_cast<size_t>(it - pieces.begin())];
    };
    EXPECT_EQ(kindOf(u"tagged"), 0x414B4200u);
    EXPECT_EQ(kindOf(u"\x02"), 6u);
    EXPECT_EQ(kindOf(u"\xFFFC"), 1u);
    EXPECT_EQ(kindOf(u"\xE088      42"), 0x88u);
    EXPECT_EQ(kindOf(u"\xE027x"), 0x27u);
    EXPECT_EQ(kindOf(u"a\x1E" u"b\x1C" u"c\td\x0B"), 0u);
    EXPECT_EQ(kindOf(u"e\x0C"), 0u);
    EXPECT_EQ(pieces.back(), u"f");
}

// Copying any range into an empty story gives the source's tables over that range.
TEST_F(HiddenTest, CopiesOfAnyRangeCarryTheRunTables)
{
    // The copies leave their anchored items' boxes loose, so they work on a document of
    // their own.
    auto project = ReadDocumentFile(kExamples + "hidden.qxp");
    Project& p = *project;
    Layout& l = *p.layouts[0];
    Story& src = l.stories.begin()->second;
    const auto length = static_cast<int32_t>(src.text.size());
    auto clip = [](const std::vector<RunEntry>& runs, int32_t s, int32_t e) {
        std::vector<RunEntry> out;
        int32_t pos = 0;
        for (const RunEntry& r : runs) {
            const int32_t a = std::max(pos, s), b = std::min(pos + static_cast<int32_t>(r.length), e);
            if (a < b)
                out.push_back(RunEntry{r.value, static_cast<uint32_t>(b - a)});
            pos += static_cast<int32_t>(r.length);
        }
        return out;
    };
    const auto styles = StyleRuns(src);
    const auto paras = ParagraphRuns(p, src);
    int copied = 0;
    for (int32_t s = 0; s < length; ++s)
        for (int32_t e = s + 1; e <= length; ++e) {
            Story dst;
            // The copy lands at the start of a paragraph formatted as the one it starts in.
            dst.paras = {src.paras[static_cast<size_t>(std::count(src.text.begin(), src.text.begin() + s, u'\r'))]};
            const int32_t result = CopyText({&p, &l, &src}, s, e, {&p, &l, &dst}, 0);
            if (result == HostErr::SplitsRun)
                continue;
            ASSERT_EQ(result, HostErr::Ok);
            ++copied;
            ASSERT_EQ(dst.text, src.text.substr(static_cast<size_t>(s), static_cast<size_t>(e - s)));
            ASSERT_EQ(StyleRuns(dst), clip(styles, s, e)) << s << " " << e;
            ASSERT_EQ(ParagraphRuns(p, dst), clip(paras, s, e)) << s << " " << e;
        }
    EXPECT_GT(copied, length * length / 4);

    // Through the suite call: the copied anchored item is a new box of its own.
    int32_t box = 0, dst = 0, dstLength = 0, anchored = 0, copy = 0;
    ASSERT_EQ(host.NewBox({pt(0), pt(0), pt(100), pt(100)}, &box), HostErr::Ok);
    ASSERT_EQ(host.StoryOfBox(box, &dst, &dstLength), HostErr::Ok);
    const Story& fresh = S(text);
    const ObjectRun item = *std::find_if(fresh.objects.begin(), fresh.objects.end(), [](const ObjectRun& o) { return o.kind == 1; });
    ASSERT_EQ(host.CopyText(text, item.at - 2, item.at + 2, dst, 0), HostErr::Ok);
    ASSERT_EQ(host.AnchoredBox(text, item.at, &anchored), HostErr::Ok);
    ASSERT_EQ(host.AnchoredBox(dst, 2, &copy), HostErr::Ok);
    EXPECT_NE(copy, 0);
    EXPECT_NE(copy, anchored);
    ASSERT_NO_THROW(CheckProject(P()));
}

// Between projects formats travel by value; hidden runs and tag runs come along.
TEST_F(HiddenTest, CopiesBetweenProjectsCarryFormatsByValue)
{
    const Project& from = P();
    const Story& src = S(text);
    const auto start = static_cast<int32_t>(at.uniq - 3);
    const auto end = static_cast<int32_t>(src.text.find(u"tagged") + 6);
    ASSERT_EQ(host.Open(kExamples + "minimal.qxp", 63), HostErr::Ok);
    Project& to = P();
    ASSERT_NE(&from, &to);
    const Story& dst = to.layouts[0]->stories.begin()->second;
    const int32_t target = host.TextHandle(dst.uid);
    const auto before = dst.text.size();
    ASSERT_EQ(host.CopyText(text, start, end, target, 0), HostErr::Ok);
    ASSERT_EQ(dst.text.size(), before + static_cast<size_t>(end - start));
    EXPECT_EQ(dst.text.substr(0, static_cast<size_t>(end - start)), src.text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
    std::vector<int32_t> a, b;
    for (const doc::Run& r : src.charRuns)
        a.insert(a.end(), static_cast<size_t>(r.length), r.format);
    for (const doc::Run& r : dst.charRuns)
        b.insert(b.end(), static_cast<size_t>(r.length), r.format);
    for (int32_t i = 0; i < end - start; ++i)
        ASSERT_TRUE(*from.charFormats.Find(a[static_cast<size_t>(start + i)]) == *to.charFormats.Find(b[static_cast<size_t>(i)])) << i;
    ASSERT_FALSE(dst.objects.empty());
    EXPECT_EQ(dst.objects.front().at, 3);
    EXPECT_EQ(dst.objects.front().kind, 0x88u);
    std::vector<uint32_t> kinds;
    for (const RunEntry& run : Runs(target))
        kinds.push_back(KindOf(target, run.value));
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), 0x414B4200u), kinds.end());
    ASSERT_NO_THROW(CheckProject(to));
}

TEST_F(HiddenTest, EditsThatWouldCutObjectRunsOrALockedStoryAreRefused)
{
    const std::u16string before = S(text).text.str();
    EXPECT_EQ(host.InsertText(text, at.uniq + 3, u"x"), HostErr::SplitsRun);
    EXPECT_EQ(host.InsertHidden(text, at.uniq + 1, 0x45, {}), HostErr::SplitsRun);
    EXPECT_EQ(host.DeleteText(text, at.uniq + 1, at.uniq + 20), HostErr::SplitsRun);
    EXPECT_EQ(host.DeleteText(text, at.uniq - 1, at.uniq + 4), HostErr::SplitsRun);
    EXPECT_EQ(host.CopyText(text, at.uniq + 2, at.uniq + 12, text, 0), HostErr::SplitsRun);
    EXPECT_EQ(host.CopyText(text, 0, 3, text, at.uniq + 2), HostErr::SplitsRun);
    EXPECT_EQ(host.InsertHidden(text, 0, 1, {}), HostErr::BadRef);       // an item needs a box
    EXPECT_EQ(host.InsertHidden(text, 0, 0x45, {'\r'}), HostErr::BadRef);  // no paragraph end inside
    EXPECT_EQ(host.InsertText(text, -1, u"x"), HostErr::BadRef);
    EXPECT_EQ(host.DeleteText(text, 5, 4), HostErr::BadRef);

    ASSERT_EQ(host.SetLocked(text, true), HostErr::Ok);
    bool locked = false;
    EXPECT_EQ(host.IsLocked(text, &locked), HostErr::Ok);
    EXPECT_TRUE(locked);
    EXPECT_EQ(host.InsertText(text, 0, u"x"), HostErr::Locked);
    EXPECT_EQ(host.DeleteText(text, 0, 1), HostErr::Locked);
    EXPECT_EQ(host.InsertHidden(text, 0, 0x88, {'1'}), HostErr::Locked);
    EXPECT_EQ(host.SetTextAttribute(text, -102, 1), HostErr::Locked);
    EXPECT_EQ(host.CopyText(text, 0, 3, text, 0), HostErr::Locked);
    EXPECT_EQ(S(text).text, before);
    ASSERT_EQ(host.SetLocked(text, false), HostErr::Ok);
    EXPECT_EQ(host.InsertText(text, 0, u"x"), HostErr::Ok);
}

// Deleting a range with whole anchored items takes their boxes away too.
TEST_F(HiddenTest, DeletedAnchoredItemsTakeTheirBoxes)
{
    const Story& story = S(text);
    const auto length = story.text.size();
    std::vector<ObjectRun> items;
    for (const ObjectRun& o : story.objects)
        if (o.kind == 1)
            items.push_back(o);
    ASSERT_EQ(items.size(), 2u);
    int32_t first = 0, second = 0;
    ASSERT_EQ(host.AnchoredBox(text, items[0].at, &first), HostErr::Ok);
    ASSERT_EQ(host.AnchoredBox(text, items[1].at, &second), HostErr::Ok);
    ASSERT_EQ(host.DeleteText(text, items[0].at - 1, items[1].at + 1), HostErr::Ok);
    EXPECT_EQ(story.text.size(), length - static_cast<size_t>(items[1].at + 2 - items[0].at));
    EXPECT_EQ(P().layouts[0]->boxes.size(), 1u);
    uint8_t bits = 0;
    EXPECT_EQ(host.BoxKinds(first, &bits), HostErr::BadRef);
    EXPECT_EQ(host.BoxKinds(second, &bits), HostErr::BadRef);
    ASSERT_NO_THROW(CheckProject(P()));
}

// An attribute set at an empty selection is what the next text typed there takes.
TEST_F(HiddenTest, TheInsertionPointCarriesAFormatForTheNextInsertion)
{
    ASSERT_EQ(host.SetCurrentBox(host.BoxHandle(at.storyBox)), HostErr::Ok);
    ASSERT_EQ(host.SetInsertionPoint(3), HostErr::Ok);  // in the current box's story
    CharFormat before, after;
    ASSERT_EQ(host.InsertionAttributes(&before), HostErr::Ok);
    ASSERT_EQ(host.SetTextAttribute(text, -111, 0x00414B42), HostErr::Ok);
    ASSERT_EQ(host.InsertionAttributes(&after), HostErr::Ok);
    EXPECT_EQ(before.tag, 0u);
    EXPECT_EQ(after.tag, 0x00414B42u);
    EXPECT_EQ(S(text).charRuns.front().length, 139);  // nothing in the text changed
    ASSERT_EQ(host.InsertText(text, 3, u"TAG"), HostErr::Ok);
    std::vector<RunEntry> runs = Runs(text);
    EXPECT_EQ(KindOf(text, runs[1].value), 0x414B4200u);
    EXPECT_EQ(runs[1].length, 3u);
    // The format is used once: the insertion point moved after the text.
    int32_t t = 0, start = 0, end = 0, length = 0;
    ASSERT_EQ(host.StoryQuery(host.BoxHandle(at.storyBox), &t, &start, &end, &length), HostErr::Ok);
    EXPECT_EQ(start, 6);
    EXPECT_EQ(end, 6);
    ASSERT_EQ(host.InsertText(text, 6, u"x"), HostErr::Ok);
    EXPECT_EQ(KindOf(text, Runs(text)[1].value), 0x414B4200u);  // it takes its neighbour's
    // A paragraph attribute code and the colour.
    ASSERT_EQ(host.SetSelection(text, 0, 2), HostErr::Ok);
    ASSERT_EQ(host.SetTextAttribute(text, 5, 2), HostErr::Ok);
    EXPECT_EQ(P().charFormats.Find(S(text).charRuns.front().format)->colour, 2);
    ASSERT_EQ(host.SetTextAttribute(text, 0x18, 2), HostErr::Ok);
    EXPECT_EQ(P().paraFormats.Find(S(text).paras.front())->align, Align::Right);
    EXPECT_EQ(host.SetTextAttribute(text, -101, 99), HostErr::BadRef);  // no such font
    EXPECT_EQ(host.SetTextAttribute(text, -999, 1), HostErr::BadRef);
    // The baseline shift and the character set; a character set is one byte.
    ASSERT_EQ(host.SetTextAttribute(text, -110, -3 * 65536), HostErr::Ok);
    ASSERT_EQ(host.SetTextAttribute(text, -112, 128), HostErr::Ok);
    EXPECT_EQ(P().charFormats.Find(S(text).charRuns.front().format)->shift, -3 * 65536);
    EXPECT_EQ(P().charFormats.Find(S(text).charRuns.front().format)->high, 128);
    EXPECT_EQ(host.SetTextAttribute(text, -112, 256), HostErr::BadRef);
}

// After edits the document saves, loads and saves to the same bytes.
TEST_F(HiddenTest, AnEditedDocumentSavesLoadsAndSavesTheSame)
{
    ASSERT_EQ(host.InsertText(text, 0, u"New\rfirst "), HostErr::Ok);
    ASSERT_EQ(host.InsertHidden(text, 4, 0x88, {' ', ' ', ' ', ' ', ' ', ' ', ' ', '7'}), HostErr::Ok);
    ASSERT_EQ(host.SetSelection(text, 0, 3), HostErr::Ok);
    ASSERT_EQ(host.SetTextAttribute(text, -111, 0x00414B42), HostErr::Ok);
    ASSERT_EQ(host.SetTextAttribute(text, 0x2A, 5), HostErr::Ok);
    const Story& story = S(text);
    const ObjectRun item = *std::find_if(story.objects.begin(), story.objects.end(), [](const ObjectRun& o) { return o.kind == 1; });
    ASSERT_EQ(host.CopyText(text, item.at - 3, item.at + 4, text, 0), HostErr::Ok);
    ASSERT_EQ(host.DeleteText(text, 20, 24), HostErr::Ok);
    const std::string first = temp + "/first.qxp", second = temp + "/second.qxp";
    ASSERT_EQ(host.SaveAs(first), HostErr::Ok);
    DocHost other;
    ASSERT_EQ(other.Open(first, 63), HostErr::Ok);
    ASSERT_EQ(other.SaveAs(second), HostErr::Ok);
    EXPECT_EQ(ReadAll(first), ReadAll(second));
    EXPECT_EQ(other.FrontProject()->layouts[0]->boxes.size(), 4u);  // the story box, two items and the copy
}

}  // namespace
}  // namespace xthost::doc
