// Export, stand-in translation and import of every shipped document through xthost and Kesto.so
// with the example application folder (examples/app/roundtrip.sh).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "Container/Model/BookReaders.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/OLEStorage.h"
#include "Plugin/Exchange/DWX_Import.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "examples/pseudo-translate/PseudoTranslate.h"
#include "platform/host/documents/testing/FlowExamples.h"
#include "tests/examples/ExampleRuns.h"
#include "tests/examples/StoryCompare.h"

namespace fs = std::filesystem;

namespace {

// What a translator sees of one story: the text of each paragraph that has text, and the markers
// (reference points by their kind, placeholders) in the order they stand.
struct StoryView {
    std::vector<std::string> paragraphs;
    std::vector<std::string> markers;
    std::vector<int32_t> uniqueIds;
};

std::vector<StoryView> ReadStories(const std::string& path)
{
    using namespace KS_DWX::Import;
    std::vector<StoryView> stories;
    RefPtr<IBook> book = OpenImportBook(path);
    if (!book)
        return stories;
    const int32_t point = book->GetTable(u"point", 0);
    const int32_t start = book->GetTable(u"start", 0);
    const int32_t end = book->GetTable(u"end", 0);
    for (int32_t d = 0; RefPtr<IDoc> doc = book->Document(d); ++d) {
        for (int32_t s = 0; RefPtr<IStory> story = doc->Story(s); ++s) {
            StoryView view;
            for (int32_t p = 0; RefPtr<IPara> para = story->Paragraph(p); ++p) {
                std::string text;
                int32_t id = -1;
                if (para->GetNumber(u"uniqID", id))
                    view.uniqueIds.push_back(id);
                for (int32_t r = 0; RefPtr<IRun> run = para->Run(r); ++r) {
                    if (run->Kind() == kRunUnicodes) {
                        uint16_t unit = 0;
                        while (run->Read(&unit, sizeof unit) == sizeof unit)
                            text += unit < 0x80 ? static_cast<char>(unit) : '?';
                    } else if (run->Kind() == kRunRefPoints) {
                        int32_t record[3] = {};
                        while (run->Read(record, sizeof record) == sizeof record)
                            view.markers.push_back(record[2] == point   ? "point"
                                                   : record[2] == start ? "start"
                                                   : record[2] == end   ? "end"
                                                                        : "?");
                    } else if (run->Kind() == kRunPlaceHolders) {
                        int32_t record[2] = {};
                        while (run->Read(record, sizeof record) == sizeof record)
                            view.markers.push_back("placeholder");
                    }
                }
                if (!text.empty())
                    view.paragraphs.push_back(text);
            }
            stories.push_back(view);
        }
    }
    return stories;
}

// The string table of a container by id: attribute names and the texts its run records name.
std::map<int32_t, std::u16string> StringTable(const std::string& path)
{
    OLEStorage root(path.c_str(), CD_OpenRead);
    DWX_InStorage2* storage = OpenDWX2(root);
    std::map<int32_t, std::u16string> table;
    {
        DWX_Book_In2 book(storage->OpenFolder2());
        const DWX_StringsMap& strings = book.StringsMap();
        // Ids are handed out in order of first use, so the search ends soon after the last one.
        for (dwx_long id = 0; table.size() < strings.size() && id < dwx_long(4 * strings.size() + 16); ++id)
            if (const char16_t* text = strings[id])
                table[static_cast<int32_t>(id)] = text;
    }
    storage->Release();
    return table;
}

std::string Narrow(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text)
        out += c >= 0x20 && c < 0x80 ? std::string(1, static_cast<char>(c)) : "\\u" + std::to_string(c);
    return out;
}

std::u16string Decimal(int32_t number)
{
    const std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

// One run as the import reads it: its kind, its text or its records (string ids as their texts)
// and its attributes but "private", which names the formatting sample of one export only.
struct RunView {
    int32_t kind = 0;
    std::u16string text;
    std::vector<std::u16string> fields;
    std::map<std::u16string, std::u16string> attrs;

    bool operator==(const RunView& o) const
    {
        return kind == o.kind && text == o.text && fields == o.fields && attrs == o.attrs;
    }
    size_t Units() const { return text.size() + fields.size(); }
};

std::ostream& operator<<(std::ostream& out, const RunView& run)
{
    out << "\n  {kind " << run.kind << " \"" << Narrow(run.text) << "\"";
    for (const std::u16string& field : run.fields)
        out << " " << Narrow(field);
    for (const auto& [name, value] : run.attrs)
        out << " " << Narrow(name) << "=" << Narrow(value);
    return out << "}";
}

struct ParaRuns {
    std::vector<RunView> runs;
    int32_t uniqueId = -1;
};

// The runs of each paragraph of each story, every attribute of a run read by each name of the
// container's string table.
std::vector<std::vector<ParaRuns>> ReadRuns(const std::string& path)
{
    using namespace KS_DWX::Import;
    const std::map<int32_t, std::u16string> table = StringTable(path);
    auto text = [&](int32_t id) {
        const auto at = table.find(id);
        return at == table.end() ? u"#" + Decimal(id) : at->second;
    };
    std::vector<std::vector<ParaRuns>> stories;
    RefPtr<IBook> book = OpenImportBook(path);
    if (!book)
        return stories;
    for (int32_t d = 0; RefPtr<IDoc> doc = book->Document(d); ++d) {
        for (int32_t s = 0; RefPtr<IStory> story = doc->Story(s); ++s) {
            std::vector<ParaRuns> paras;
            for (int32_t p = 0; RefPtr<IPara> para = story->Paragraph(p); ++p) {
                ParaRuns view;
                para->GetNumber(u"uniqID", view.uniqueId);
                for (int32_t r = 0; RefPtr<IRun> run = para->Run(r); ++r) {
                    RunView runView;
                    runView.kind = run->Kind();
                    int32_t record[3] = {};
                    for (uint32_t got; (got = run->Read(record, sizeof record)) != 0;) {
                        switch (runView.kind) {
                        case kRunUnicodes:
                        case kRunWideMultibytes:
                            runView.text += static_cast<char16_t>(record[0] & 0xFFFF);
                            break;
                        case kRunMultibytes:
                            runView.text += static_cast<char16_t>(record[0] & 0xFF);
                            break;
                        case kRunSpecialChars:  // name, qualifier
                            runView.fields.push_back(text(record[0]));
                            runView.fields.push_back(text(record[1]));
                            break;
                        case kRunRefPoints:  // hidden id, -1, kind of point
                            runView.fields.push_back(Decimal(record[0]) + u"/" + text(record[2]));
                            break;
                        default:  // placeholders: hidden id, -1
                            runView.fields.push_back(Decimal(record[0]));
                            break;
                        }
                    }
                    for (const auto& [id, name] : table)
                        if (name != u"private")
                            if (const char16_t* value = run->GetText(name.c_str()))
                                runView.attrs[name] = value;
                    view.runs.push_back(runView);
                }
                paras.push_back(view);
            }
            stories.push_back(paras);
        }
    }
    return stories;
}

// The runs of a translated container as a re-export gives them. The translation's brackets and
// tildes are plain text, which an export writes in the Unicode code page, whatever code page
// the run they were added to has (a tab's run has the font's).
std::vector<RunView> AsReexported(const std::vector<RunView>& runs)
{
    std::vector<RunView> out;
    for (const RunView& run : runs) {
        const size_t length = run.text.size();
        size_t n = 0;
        while (n + (2 * n + 4) / 5 + 2 < length)
            ++n;
        if (run.kind != KS_DWX::Import::kRunUnicodes || n + (2 * n + 4) / 5 + 2 != length ||
            PseudoTranslateText(run.text.substr(1, n)) != run.text) {
            out.push_back(run);
            continue;
        }
        RunView added = run;
        added.attrs[u"codepage"] = u"1200";
        added.text = run.text.substr(0, 1);
        out.push_back(added);
        RunView own = run;
        own.text = run.text.substr(1, n);
        out.push_back(own);
        added.text = run.text.substr(1 + n);
        out.push_back(added);
    }
    return out;
}

// Text runs side by side of one kind and the same attributes are one text to the host, so an
// export writes them as one: the first export's may stand apart where it dropped a character
// (0x1C) or a marker between them.
std::vector<RunView> Merged(const std::vector<RunView>& runs)
{
    std::vector<RunView> out;
    for (const RunView& run : runs) {
        const bool text = run.kind == KS_DWX::Import::kRunUnicodes || run.kind == KS_DWX::Import::kRunWideMultibytes;
        if (text && run.text.empty())
            continue;
        if (text && !out.empty() && out.back().kind == run.kind && out.back().attrs == run.attrs)
            out.back().text += run.text;
        else
            out.push_back(run);
    }
    return out;
}

size_t Units(const std::vector<RunView>& runs)
{
    size_t units = 0;
    for (const RunView& run : runs)
        units += run.Units();
    return units;
}

// Compares the runs of one story of the translated container with those of its re-export,
// paragraph by paragraph; paragraphs without runs carry nothing to compare.
void ExpectSameRuns(const std::vector<ParaRuns>& want, const std::vector<ParaRuns>& got, size_t story)
{
    auto nextWithRuns = [](const std::vector<ParaRuns>& paras, size_t& at) {
        while (at < paras.size() && paras[at].runs.empty())
            ++at;
        return at < paras.size();
    };
    // Adds the next paragraph with runs to `group` when paragraphs without runs stand before it.
    auto joinAcrossEmpty = [&](const std::vector<ParaRuns>& paras, size_t& at, std::vector<RunView>& group) {
        size_t next = at;
        if (at >= paras.size() || !paras[at].runs.empty() || !nextWithRuns(paras, next))
            return false;
        group.insert(group.end(), paras[next].runs.begin(), paras[next].runs.end());
        at = next + 1;
        return true;
    };
    size_t w = 0, g = 0;
    while (nextWithRuns(want, w) && nextWithRuns(got, g)) {
        EXPECT_EQ(got[g].uniqueId, want[w].uniqueId) << "story " << story << ", translated paragraph " << w;
        std::vector<RunView> wanted = want[w++].runs, gotten = got[g++].runs;
        for (;;) {
            // A hidden run the export writes nothing for (a paren without its pair, the module's
            // tag run, a unique id that does not parse) leaves a paragraph without runs; the
            // import cuts it with the old text, so the re-export joins the text on either side.
            if (Units(wanted) < Units(gotten) && joinAcrossEmpty(want, w, wanted))
                continue;
            break;
        }
        EXPECT_EQ(Merged(gotten), Merged(AsReexported(wanted)))
            << "story " << story << ", translated paragraph " << w - 1 << ", re-exported " << g - 1;
    }
    EXPECT_FALSE(nextWithRuns(want, w)) << "story " << story << ": translated paragraph " << w << " not re-exported";
    EXPECT_FALSE(nextWithRuns(got, g)) << "story " << story << ": re-exported paragraph " << g << " not translated";
}

// The first letter of each host paragraph (ended by a paragraph end, a column or a box break) of
// each story in the canonical form that `xthost doc canon` writes, escapes and markers skipped.
std::vector<std::string> ParagraphStarts(const std::string& canon)
{
    std::vector<std::string> stories;
    const std::string key = "\"text\": \"";
    for (size_t at = canon.find(key); at != std::string::npos; at = canon.find(key, at + 1)) {
        std::string starts;
        bool wanted = true;
        for (size_t i = at + key.size(); i < canon.size() && canon[i] != '"'; ++i) {
            if (canon[i] == '\\') {
                const char kind = i + 1 < canon.size() ? canon[i + 1] : 0;
                const std::string code = kind == 'u' ? canon.substr(i + 2, 4) : "";
                if (kind == 'r' || code == "000b" || code == "000c") {
                    starts += wanted ? "_|" : "|";
                    wanted = true;
                }
                i += kind == 'u' ? 5 : 1;
                continue;
            }
            if (wanted && isalpha(static_cast<unsigned char>(canon[i]))) {
                starts += canon[i];
                wanted = false;
            }
        }
        stories.push_back(starts);
    }
    return stories;
}

// The anchored items of the canonical form in the order they stand: "box B value V".
std::vector<std::string> AnchoredItems(const std::string& canon)
{
    std::vector<std::string> items;
    const std::string key = "\"kind\": 1, \"box\": ";
    for (size_t at = canon.find(key); at != std::string::npos; at = canon.find(key, at + 1)) {
        size_t next = at + key.size();
        const std::string box = canon.substr(next, canon.find(',', next) - next);
        const std::string valueKey = "\"value\": ";
        const size_t value = canon.find(valueKey, next);
        const size_t close = canon.find('}', next);
        items.push_back("box " + box + " value " +
                        (value < close ? canon.substr(value + valueKey.size(), close - value - valueKey.size()) : "-"));
    }
    return items;
}

class RoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(RoundTrip, ExportTranslateImportEndsInImportDoneAndACleanDocument)
{
    std::string out;
    const fs::path imported = kesto_test::RoundTripOf(GetParam(), &out);
    ASSERT_FALSE(imported.empty());
    const fs::path work = imported.parent_path();
    EXPECT_NE(out.find(": ok"), std::string::npos) << out;

    const std::string transcript = kesto_test::ReadText(work / "import.transcript");
    EXPECT_NE(transcript.find("dialog 103 \"Result\" opens"), std::string::npos) << transcript;
    const std::string document = kesto_test::ReadText(imported);
    for (const char* link : {"08414b42", "08414B42", "09414b42", "09414B42"})
        EXPECT_EQ(kesto_test::CountOf(document, link), 0) << link;
    EXPECT_NE(document.find("~]"), std::string::npos);
    const std::string log = kesto_test::ReadText(work / "KestoLogfile.txt");
    EXPECT_NE(log.find("Starting import ..."), std::string::npos);
    EXPECT_NE(log.find("... finished."), std::string::npos);

    // Each host paragraph keeps its own text: no break moved in front of a marker's neighbours.
    int status = 0;
    const std::string canonBefore = kesto_test::Canon(kesto_test::ExampleDocument(GetParam()), work, &status);
    ASSERT_EQ(status, 0);
    const std::string canonAfter = kesto_test::Canon(imported, work, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(ParagraphStarts(canonAfter), ParagraphStarts(canonBefore));
    // Story by story, each character, its formatting, each paragraph's format, the markers and
    // unique ids come back as they were, but for the translation.
    for (const std::string& difference : kesto_test::StoryDifferences(canonBefore, canonAfter))
        ADD_FAILURE() << difference;

    // The imported document exported again gives the translation back, paragraph by paragraph,
    // with the markers of the first export once each and in their order.
    fs::copy_file(imported, work / "again.qxp");
    const std::string again = kesto_test::RunHost(
        work, "start\nopen-document again.qxp\nmenu \"Export current document\"\nsave * default\ndialog 101\n  press 1\nquit\n",
        "again.xts", "", &status);
    ASSERT_EQ(status, 0) << again;
    const std::string translatedPath = imported.parent_path() / (imported.stem().string() + ".dwq");
    const std::vector<StoryView> translated = ReadStories(translatedPath);
    const std::vector<StoryView> reexported = ReadStories((work / "again.dwq").string());
    ASSERT_FALSE(translated.empty());
    ASSERT_EQ(reexported.size(), translated.size());
    for (size_t s = 0; s < translated.size(); ++s) {
        // Paragraph by paragraph; a run the import drops (an unparsable unique id, a paren without
        // its pair) only joins the paragraphs on either side of it.
        const std::vector<std::string>& want = translated[s].paragraphs;
        size_t next = 0;
        for (const std::string& got : reexported[s].paragraphs) {
            std::string joined;
            while (next < want.size() && joined.size() < got.size())
                joined += want[next++];
            EXPECT_EQ(got, joined) << "story " << s;
        }
        EXPECT_EQ(next, want.size()) << "story " << s;
        EXPECT_EQ(reexported[s].markers, translated[s].markers) << "story " << s;
    }
    const std::string name = GetParam();
    // Run by run, with the first export's run attributes.
    const auto want = ReadRuns(translatedPath);
    const auto got = ReadRuns((work / "again.dwq").string());
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(got.size(), want.size());
    for (size_t s = 0; s < want.size(); ++s)
        ExpectSameRuns(want[s], got[s], s);
    if (name == "hidden.qxp") {
        // The unique id goes out on the paragraph that follows its marker.
        auto carries42 = [](const std::vector<StoryView>& stories) {
            for (const StoryView& story : stories)
                for (int32_t id : story.uniqueIds)
                    if (id == 42)
                        return true;
            return false;
        };
        EXPECT_TRUE(carries42(translated));
        // The import puts "      42" back before the text it stood with, so it goes out again.
        EXPECT_TRUE(carries42(reexported));
        // Both anchored items go out as placeholders and stay in place, once each and in order.
        size_t placeholders = 0;
        for (const StoryView& story : translated)
            for (const std::string& marker : story.markers)
                placeholders += marker == "placeholder";
        EXPECT_EQ(placeholders, 2u);
        const std::vector<std::string> anchored = AnchoredItems(canonBefore);
        EXPECT_EQ(anchored, (std::vector<std::string>{"box 3 value 7", "box 4 value 8"}));
        EXPECT_EQ(AnchoredItems(canonAfter), anchored);
        // "Items [anchored] and [anchored]" keeps both items inside its paragraph.
        EXPECT_NE(canonAfter.find("[Items ~~~]\\ufffc[ and ~~]\\ufffc\\r"), std::string::npos) << canonAfter;
    }
    std::error_code ignored;
    fs::remove_all(work, ignored);
}

// ---- Single documents ------------------------------------------------------------------------

// What `xthost doc canon` or `xthost doc lines` writes for a document.
std::string HostDoc(const std::string& command, const fs::path& document)
{
    int status = 0;
    const std::string out =
        kesto_test::RunShell("'" + std::string(KESTO_BINARY_DIR) + "/platform/host/xthost' doc " + command + " '" +
                     document.string() + "'", &status);
    EXPECT_EQ(status, 0) << command << " " << document;
    return out;
}

struct Bounds {
    int64_t top, left, bottom, right;
    bool operator==(const Bounds& o) const
    {
        return top == o.top && left == o.left && bottom == o.bottom && right == o.right;
    }
};

std::ostream& operator<<(std::ostream& out, const Bounds& b)
{
    return out << "[" << b.top << ", " << b.left << ", " << b.bottom << ", " << b.right << "]";
}

// Box uid to bounds (16.16) in a canonical document.
std::map<uint32_t, Bounds> BoxBounds(const std::string& canon)
{
    std::map<uint32_t, Bounds> boxes;
    static const std::regex box(R"re(\{"uid": (\d+), "kind": "[a-z]+", "bounds": \[(-?\d+), (-?\d+), (-?\d+), (-?\d+)\])re");
    for (std::sregex_iterator it(canon.begin(), canon.end(), box), end; it != end; ++it)
        boxes[std::stoul((*it)[1])] = {std::stoll((*it)[2]), std::stoll((*it)[3]), std::stoll((*it)[4]),
                                       std::stoll((*it)[5])};
    return boxes;
}

// The line records `xthost doc lines` lists for the story whose chain starts with box `first`.
std::vector<std::string> StoryLines(const std::string& lines, uint32_t first)
{
    std::vector<std::string> records;
    const std::string head = "boxes " + std::to_string(first);
    bool in = false;
    size_t at = 0;
    while (at < lines.size()) {
        const size_t next = lines.find('\n', at);
        const std::string line = lines.substr(at, next == std::string::npos ? std::string::npos : next - at);
        at = next == std::string::npos ? lines.size() : next + 1;
        if (line.rfind("story ", 0) == 0) {
            const size_t boxes = line.find(head);
            in = boxes != std::string::npos &&
                 (boxes + head.size() == line.size() || line[boxes + head.size()] == ' ');
        } else if (in) {
            records.push_back(line);
        }
    }
    return records;
}

double Field(const std::string& record, const std::string& name)
{
    const size_t at = record.find(" " + name + "=");
    return at == std::string::npos ? NAN : std::stod(record.substr(at + name.size() + 2));
}

constexpr int64_t kPoint = 65536;
constexpr int64_t kStep = 18 * kPoint;

TEST(RoundTripBoxes, TheExactFitGrowsRightUntilItsTextFitsAndLockedAndNoReflowBoxesKeepTheirBounds)
{
    const fs::path imported = kesto_test::RoundTripOf("overflow.qxp");
    ASSERT_FALSE(imported.empty());
    namespace ov = xthost::doc::overflow;
    const std::map<uint32_t, Bounds> before = BoxBounds(HostDoc("canon", kesto_test::ExampleDocument("overflow.qxp")));
    const std::map<uint32_t, Bounds> after = BoxBounds(HostDoc("canon", imported));
    ASSERT_EQ(after.size(), before.size());

    const std::vector<std::string> fitted = StoryLines(HostDoc("lines", kesto_test::ExampleDocument("overflow.qxp")), ov::kExact);
    const std::vector<std::string> grown = StoryLines(HostDoc("lines", imported), ov::kExact);
    ASSERT_EQ(fitted.size(), 1u);
    ASSERT_EQ(grown.size(), 1u) << "the translation is one line with no overflow record";
    EXPECT_EQ(grown[0].rfind("  line ", 0), 0u) << grown[0];
    // The text area was as wide as the text, so the box grows by as many steps as the text
    // needs and not one more.
    const double widthBefore = Field(fitted[0], "measure"), widthAfter = Field(grown[0], "measure");
    ASSERT_GT(widthAfter, widthBefore);
    const int64_t steps = static_cast<int64_t>(std::ceil((widthAfter - widthBefore) / 18));
    const Bounds& exact = before.at(ov::kExact);
    EXPECT_EQ(after.at(ov::kExact), (Bounds{exact.top, exact.left, exact.bottom, exact.right + steps * kStep}))
        << steps << " steps";

    // Their text still overflows, and still they keep their size.
    EXPECT_EQ(after.at(ov::kLocked), before.at(ov::kLocked));
    EXPECT_EQ(after.at(ov::kNoReflow), before.at(ov::kNoReflow));
    EXPECT_EQ(StoryLines(HostDoc("lines", imported), ov::kLocked).back().rfind("  overflow ", 0), 0u);
    std::error_code ignored;
    fs::remove_all(imported.parent_path(), ignored);
}

// The boxes and story texts of each layout of a canonical document, in layout order.
struct LayoutView {
    std::string name;
    std::map<uint32_t, Bounds> boxes;
    std::vector<std::string> texts;
};

std::vector<LayoutView> Layouts(const std::string& canon)
{
    std::vector<LayoutView> layouts;
    const std::string key = "\n      \"name\": \"";
    size_t at = canon.find(key, canon.find("\"layouts\": ["));
    while (at != std::string::npos) {
        const size_t next = canon.find(key, at + 1);
        const std::string block = canon.substr(at, next == std::string::npos ? std::string::npos : next - at);
        LayoutView layout;
        layout.name = block.substr(key.size(), block.find('"', key.size()) - key.size());
        layout.boxes = BoxBounds(block);
        static const std::regex text(R"re("text": "((?:[^"\\]|\\.)*)")re");
        for (std::sregex_iterator it(block.begin(), block.end(), text), end; it != end; ++it)
            layout.texts.push_back((*it)[1]);
        layouts.push_back(layout);
        at = next;
    }
    return layouts;
}

TEST(RoundTripBoxes, EachLayoutsBoxesHoldTheirOwnStoriesAndNoPrivateDataStays)
{
    const std::string sourceCanon = HostDoc("canon", kesto_test::ExampleDocument("layouts.qxp"));
    // The second layout is current: a base other than 0 would send the stories of a layout
    // numbered from it into the boxes of another.
    ASSERT_NE(sourceCanon.find("\"current_layout\": 1,"), std::string::npos) << sourceCanon;
    const fs::path imported = kesto_test::RoundTripOf("layouts.qxp");
    ASSERT_FALSE(imported.empty());
    const std::string canon = HostDoc("canon", imported);
    const std::vector<LayoutView> before = Layouts(sourceCanon);
    const std::vector<LayoutView> after = Layouts(canon);
    ASSERT_EQ(before.size(), 3u);
    ASSERT_EQ(after.size(), before.size());
    for (size_t k = 0; k < before.size(); ++k) {
        EXPECT_EQ(after[k].name, before[k].name);
        // No private box stays behind, and no box moves.
        EXPECT_EQ(after[k].boxes, before[k].boxes) << after[k].name;
        ASSERT_EQ(after[k].texts.size(), before[k].texts.size()) << after[k].name;
        for (size_t s = 0; s < before[k].texts.size(); ++s)
            EXPECT_EQ(after[k].texts[s], kesto_test::Translation(before[k].texts[s])) << after[k].name;
    }
    EXPECT_EQ(canon.find("\"private\""), std::string::npos) << canon;
    std::error_code ignored;
    fs::remove_all(imported.parent_path(), ignored);
}

// A space and a hyphen of a font with the high flag go out as U+00A0 and U+2011, as the character
// tables write them (the identity round trip sees them come back as 0x20 and 0x2D).
TEST(RoundTripCharacters, SpacesAndHyphensOfAFontWithTheHighFlagGoOutAsTheTablesWriteThem)
{
    const fs::path imported = kesto_test::RoundTripOf("characters.qxp");
    ASSERT_FALSE(imported.empty());
    std::u16string units;
    for (const auto& story : ReadRuns((imported.parent_path() / "characters.dwq").string()))
        for (const ParaRuns& para : story)
            for (const RunView& run : para.runs)
                units += run.text;
    // "one two-three four" stands in such a font.
    EXPECT_NE(units.find(u"one\u00A0two\u2011three\u00A0four"), std::u16string::npos) << Narrow(units);
    fs::remove_all(imported.parent_path());
}

INSTANTIATE_TEST_SUITE_P(Documents, RoundTrip,
                         ::testing::Values("minimal.qxp", "two-page-linked.qxp", "mapping.qxp", "masters.qxp",
                                           "layouts.qxp", "mac-origin.qxd", "overflow.qxp", "scripts.qxp",
                                           "geometry.qxp", "hidden.qxp", "export.qxp", "groups.qxp",
                                           "current-layout.qxp", "characters.qxp", "menu.qxp",
                                           "unique-ids.qxp", "run-formats.qxp", "run-formats-mac.qxd"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

} // namespace
