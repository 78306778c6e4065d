// characters.qxp through export, stand-in translation and import in xthost with Kesto.so with the
// paragraph style test off (the shipped settings have it on, as the story-by-story round trip
// runs it): every character and every paragraph format comes back as it was written. The
// spaces and hyphens of a font with the high flag travel as the character tables write them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Plugin/Exchange/DWX_Import.h"
#include "StoryCompare.h"
#include "tests/examples/ExampleRuns.h"
#include "examples/pseudo-translate/PseudoTranslate.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/Model.h"

namespace fs = std::filesystem;

namespace {

class CharactersRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string ini = work.Text("XTensions/kesto.ini");
        ini.insert(ini.find("[QUARK]\n") + 8, "TestStyleOfParagraph=False\n");
        std::ofstream(work.folder / "XTensions" / "kesto.ini") << ini;
        std::filesystem::copy_file(kesto_test::ExampleDocument("run-formats.qxp"), work.folder / "run-formats.qxp");
    }
    void TearDown() override { work.Remove(); }

    kesto_test::ExampleWork work{"kesto-characters-" + std::to_string(::getpid()), "characters.qxp"};
};

TEST_F(CharactersRoundTrip, WithoutTheParagraphStyleTestCharactersAndParagraphFormatsComeBackAsWritten)
{
    ASSERT_TRUE(work.Host("export.xts", "start\nopen-document characters.qxp\nmenu \"Export current document\"\n"
                                   "save * default\ndialog 101\n  press 1\nquit\n"));
    std::string error;
    ASSERT_TRUE(PseudoTranslateFile((work.folder / "characters.dwq").string(), (work.folder / "translated.dwq").string(), error))
        << error;
    ASSERT_TRUE(work.Host("import.xts", "start\nmenu \"Import Verbant file\"\nopen * translated.dwq\n"
                                   "save * translated.qxp\ndialog 103\n  press 1\nquit\n"));
    const std::string before = work.Canon("characters.qxp"), after = work.Canon("translated.qxp");
    ASSERT_NE(after.find("~]"), std::string::npos) << "nothing was translated";
    for (const std::string& difference : kesto_test::StoryDifferences(before, after))
        ADD_FAILURE() << difference;
}

// The text units of a Book's Unicodes runs, story by story, each with whether its run is in a code
// page other than 1200, that is, whether the export wrote it through a character record.
struct BookText {
    std::u16string units;
    std::vector<bool> throughRecord;
};

std::vector<BookText> BookTexts(const std::string& path)
{
    using namespace KS_DWX::Import;
    std::vector<BookText> stories;
    RefPtr<IBook> book = OpenImportBook(path);
    if (!book)
        return stories;
    for (int32_t d = 0; RefPtr<IDoc> doc = book->Document(d); ++d)
        for (int32_t s = 0; RefPtr<IStory> story = doc->Story(s); ++s) {
            BookText text;
            for (int32_t p = 0; RefPtr<IPara> para = story->Paragraph(p); ++p)
                for (int32_t r = 0; RefPtr<IRun> run = para->Run(r); ++r) {
                    if (run->Kind() != kRunUnicodes)
                        continue;
                    int32_t codePage = 0;
                    const bool throughRecord = !run->GetNumber(u"codepage", codePage) || codePage != 1200;
                    for (uint16_t unit = 0; run->Read(&unit, sizeof unit) == sizeof unit;) {
                        text.units += static_cast<char16_t>(unit);
                        text.throughRecord.push_back(throughRecord);
                    }
                }
            stories.push_back(text);
        }
    return stories;
}

// Each piece, between paragraph ends, of each run of the document whose character format has
// the high flag.
std::vector<std::u16string> HighFlagPieces(const xthost::doc::Project& project)
{
    std::vector<std::u16string> pieces;
    for (const auto& layout : project.layouts)
        for (const auto& [uid, story] : layout->stories) {
            size_t start = 0;
            for (const auto& run : story.charRuns) {
                const std::u16string text = story.text.substr(start, static_cast<size_t>(run.length));
                start += static_cast<size_t>(run.length);
                if (project.charFormats.Find(run.format)->high < 128)
                    continue;
                for (size_t from = 0; from < text.size();) {
                    const size_t end = std::min(text.find(u'\r', from), text.size());
                    if (end > from)
                        pieces.push_back(text.substr(from, end - from));
                    from = end + 1;
                }
            }
        }
    return pieces;
}

// Every story's text and the high byte of each of its characters.
std::vector<std::pair<std::u16string, std::vector<int>>> TextsAndHighBytes(const xthost::doc::Project& project)
{
    std::vector<std::pair<std::u16string, std::vector<int>>> stories;
    for (const auto& layout : project.layouts)
        for (const auto& [uid, story] : layout->stories) {
            std::vector<int> high;
            for (const auto& run : story.charRuns)
                high.insert(high.end(), static_cast<size_t>(run.length), project.charFormats.Find(run.format)->high);
            stories.emplace_back(story.text.substr(0), high);
        }
    return stories;
}

// The Book holds a space of such a run as U+00A0 and a hyphen as U+2011, both in the font's code
// page; the run's other characters as they stand. The untranslated container imported at once
// gives each story back unit by unit, with the high byte of each character.
TEST_F(CharactersRoundTrip, SpacesAndHyphensOfAFontWithTheHighFlagTravelAsTheTablesWriteThem)
{
    struct Case {
        const char* document;
        size_t pieces;
        // The untranslated container is imported and compared, character by character.
        bool importBack;
    };
    for (const Case& c : {Case{"characters.qxp", 1, true}, Case{"run-formats.qxp", 2, true}}) {
        SCOPED_TRACE(c.document);
        const std::string name = std::filesystem::path(c.document).stem().string();
        ASSERT_TRUE(work.Host(name + "-export.xts", std::string("start\nopen-document ") + c.document +
                                                   "\nmenu \"Export current document\"\nsave * default\n"
                                                   "dialog 101\n  press 1\nquit\n"));
        const auto source = xthost::doc::ReadDocumentFile((work.folder / c.document).string());
        const std::vector<std::u16string> pieces = HighFlagPieces(*source);
        ASSERT_EQ(pieces.size(), c.pieces);
        const std::vector<BookText> book = BookTexts((work.folder / (name + ".dwq")).string());
        for (const std::u16string& piece : pieces) {
            std::u16string written = piece;
            for (char16_t& unit : written)
                unit = unit == u' ' ? u'\u00A0' : unit == u'-' ? u'\u2011' : unit;
            ASSERT_NE(written, piece);
            size_t found = 0;
            for (const BookText& story : book)
                for (size_t at = story.units.find(written); at != std::u16string::npos;
                     at = story.units.find(written, at + 1), ++found)
                    for (size_t i = 0; i < written.size(); ++i)
                        EXPECT_EQ(story.throughRecord[at + i], written[i] != piece[i]) << "unit " << i;
            EXPECT_EQ(found, static_cast<size_t>(std::count(pieces.begin(), pieces.end(), piece)))
                << "a piece of " << written.size() << " units";
        }
        if (!c.importBack)
            continue;
        ASSERT_TRUE(work.Host(name + "-import.xts", "start\nmenu \"Import Verbant file\"\nopen * " + name +
                                                   ".dwq\nsave * " + name + "-back.qxp\ndialog 103\n  press 1\nquit\n"));
        const auto back = xthost::doc::ReadDocumentFile((work.folder / (name + "-back.qxp")).string());
        EXPECT_EQ(TextsAndHighBytes(*back), TextsAndHighBytes(*source));
    }
}

}  // namespace
