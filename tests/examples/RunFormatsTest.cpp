// The run formats of run-formats.qxp and run-formats-mac.qxd through export, stand-in translation
// and import with xthost and Kesto.so (examples/app/roundtrip.sh): every run comes back with its
// own font, character set, face, size, kerning, tracking, colour and baseline shift, whatever
// formatting its paragraph's sample carries; and the Book names the fonts by their characters.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "Plugin/Exchange/DWX_Import.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/Model.h"
#include "tests/examples/ExampleRuns.h"

namespace fs = std::filesystem;
using xthost::doc::CharFormat;
using xthost::doc::Project;
using xthost::doc::Story;

namespace {

const Story& OnlyStory(const Project& project)
{
    return project.layouts.at(0)->stories.begin()->second;
}

const CharFormat& FormatAt(const Project& project, const Story& story, size_t pos)
{
    size_t start = 0;
    for (const auto& run : story.charRuns) {
        if (pos < start + static_cast<size_t>(run.length))
            return *project.charFormats.Find(run.format);
        start += static_cast<size_t>(run.length);
    }
    throw std::out_of_range("position past the story");
}

// Each piece of a source run's text between paragraph ends, without the spaces at its edges,
// stands in the translation in order; each of its characters has the source run's format.
void ExpectRunsKeepTheirFormats(const Project& source, const Project& imported)
{
    const Story& before = OnlyStory(source);
    const Story& after = OnlyStory(imported);
    size_t from = 0, start = 0;
    for (const auto& run : before.charRuns) {
        const std::u16string text = before.text.substr(start, static_cast<size_t>(run.length));
        start += static_cast<size_t>(run.length);
        const CharFormat& want = *source.charFormats.Find(run.format);
        for (size_t piece = 0; piece < text.size();) {
            const size_t end = std::min(text.find(u'\r', piece), text.size());
            const size_t first = text.find_first_not_of(u' ', piece);
            const size_t last = text.find_last_not_of(u' ', end - 1);
            const bool blank = first >= end || last == std::u16string::npos || last < first;
            const std::u16string word = blank ? u"" : text.substr(first, last + 1 - first);
            piece = end + 1;
            if (word.empty())
                continue;
            const size_t at = after.text.find(word, from);
            ASSERT_NE(at, std::u16string::npos) << "run ending at " << start;
            from = at + word.size();
            for (size_t pos = at; pos < from; ++pos) {
                const CharFormat& got = FormatAt(imported, after, pos);
                SCOPED_TRACE("run ending at " + std::to_string(start) + ", character " + std::to_string(pos - at));
                EXPECT_EQ(got.font, want.font);
                EXPECT_EQ(got.high, want.high);
                EXPECT_EQ(got.face, want.face);
                EXPECT_EQ(got.size, want.size);
                EXPECT_EQ(got.kern, want.kern);
                EXPECT_EQ(got.track, want.track);
                EXPECT_EQ(got.colour, want.colour);
                EXPECT_EQ(got.shift, want.shift);
                if (got.font != want.font || got.colour != want.colour)
                    break;  // one report per run
            }
        }
    }
}

// The "typeface" of every run of the Book.
std::set<std::u16string> Typefaces(const fs::path& book)
{
    using namespace KS_DWX::Import;
    std::set<std::u16string> names;
    RefPtr<IBook> opened = OpenImportBook(book.string());
    if (!opened)
        return names;
    for (int32_t d = 0; RefPtr<IDoc> doc = opened->Document(d); ++d)
        for (int32_t s = 0; RefPtr<IStory> story = doc->Story(s); ++s)
            for (int32_t p = 0; RefPtr<IPara> para = story->Paragraph(p); ++p)
                for (int32_t r = 0; RefPtr<IRun> run = para->Run(r); ++r)
                    if (const char16_t* name = run->GetText(u"typeface"))
                        names.insert(name);
    return names;
}

const char16_t kBodoni[] = u"Bodoni \u0421\u0442\u0430\u0440\u044B\u0439 \u0421\u0442\u0438\u043B\u044C";

struct Case {
    const char* document;
    std::set<std::u16string> typefaces;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.document; }

class RunFormats : public ::testing::TestWithParam<Case> {};

TEST_P(RunFormats, EveryRunComesBackInItsOwnFormatAndTheBookNamesFontsByTheirCharacters)
{
    const std::string name = GetParam().document;
    const fs::path imported = kesto_test::RoundTripOf(name);
    ASSERT_FALSE(imported.empty());
    const auto source = xthost::doc::ReadDocumentFile(std::string(KESTO_SOURCE_DIR) + "/examples/documents/" + name);
    const auto result = xthost::doc::ReadDocumentFile(imported.string());
    ExpectRunsKeepTheirFormats(*source, *result);
    const fs::path book = imported.parent_path() / (fs::path(name).stem().string() + ".dwq");
    EXPECT_EQ(Typefaces(book), GetParam().typefaces);
    std::error_code ignored;
    fs::remove_all(imported.parent_path(), ignored);
}

// A container of run-formats.qxp that an earlier build wrote, with one formatting sample (the
// dingbat's) for every run of the story's one paragraph format, still imports each run in its own
// format.
TEST(RunFormatsOfAnEarlierBuild, AContainerWithOneSamplePerParagraphFormatStillImports)
{
    const fs::path work = kesto_test::RoundTripOf("run-formats.qxp").parent_path();
    ASSERT_FALSE(work.empty());
    fs::copy_file(std::string(KESTO_SOURCE_DIR) + "/tests/examples/data/run-formats-one-sample.dwq", work / "old.dwq");
    const std::string transcript = kesto_test::ImportIn(work, "old.dwq", "old.qxp");
    ASSERT_NE(transcript.find("dialog 103"), std::string::npos) << transcript;
    ExpectRunsKeepTheirFormats(*xthost::doc::ReadDocumentFile((work / "run-formats.qxp").string()),
                               *xthost::doc::ReadDocumentFile((work / "old.qxp").string()));
    fs::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, RunFormats,
    ::testing::Values(
        Case{"run-formats.qxp",
             {u"DejaVu Sans", u"Dingbats", kBodoni, u"Garamond Caf\u00E9 \u2122", u"Unknown Font 77"}},
        // Made on a Macintosh: é and ™ in Mac Roman (0x8E, 0xAA); Cyrillic, which Mac Roman lacks,
        // and the multibyte font's name as their characters.
        Case{"run-formats-mac.qxd",
             {u"DejaVu Sans", u"Garamond Caf\u008E \u00AA", kBodoni, u"Mincho \u660E\u671D"}}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string name = info.param.document;
        for (char& c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

}  // namespace
