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
#include "Plugin/Shell/AppFolderTest.h"
#include "StoryCompare.h"
#include "examples/pseudo-translate/PseudoTranslate.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/Model.h"

namespace fs = std::filesystem;

namespace {

const std::string kSource = KESTO_SOURCE_DIR;
const std::string kBuild = KESTO_BINARY_DIR;

class CharactersRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        work = fs::temp_directory_path() / ("kesto-characters-" + std::to_string(::getpid()));
        fs::remove_all(work);
        fs::create_directories(work);
        fs::copy(kSource + "/examples/app", work, fs::copy_options::recursive);
        for (const char* document : {"characters.qxp", "run-formats.qxp"})
            fs::copy_file(kSource + "/examples/documents/" + document, work / document);
        std::string ini = kesto_test::ReadText(work / "XTensions" / "kesto.ini");
        ini.insert(ini.find("[QUARK]\n") + 8, "TestStyleOfParagraph=False\n");
        std::ofstream(work / "XTensions" / "kesto.ini") << ini;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(work, ignored);
    }

    // Runs a shell command in the working folder, its output into `out`.
    bool Shell(const std::string& command, const std::string& out)
    {
        return std::system(("cd '" + work.string() + "' && " + command + " > '" + out + "' 2>&1").c_str()) == 0;
    }
    bool Host(const std::string& name, const std::string& script)
    {
        std::ofstream(work / name) << script;
        return Shell("'" + kBuild + "/platform/host/xthost' --app . --module '" + kBuild +
                         "/Plugin/XTension/Kesto.so' --script " + name,
                     name + ".transcript");
    }
    std::string Canon(const std::string& document)
    {
        EXPECT_TRUE(Shell("'" + kBuild + "/platform/host/xthost' doc canon " + document, document + ".canon"));
        return kesto_test::ReadText(work / (document + ".canon"));
    }

    fs::path work;
};

TEST_F(CharactersRoundTrip, WithoutTheParagraphStyleTestCharactersAndParagraphFormatsComeBackAsWritten)
{
    ASSERT_TRUE(Host("export.xts", "start\nopen-document characters.qxp\nmenu \"Export current document\"\n"
                                   "save * default\ndialog 101\n  press 1\nquit\n"));
    std::string error;
    ASSERT_TRUE(PseudoTranslateFile((work / "characters.dwq").string(), (work / "translated.dwq").string(), error))
        << error;
    ASSERT_TRUE(Host("import.xts", "start\nmenu \"Import Verbant file\"\nopen * translated.dwq\n"
                                   "save * translated.qxp\ndialog 103\n  press 1\nquit\n"));
    const std::string before = Canon("characters.qxp"), after = Canon("translated.qxp");
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
        // The import gives the run its high byte back: the run's font is one that only runs
        // with the high flag use. In characters.qxp the run shares its font and its formatting
        // sample with the plain text of its paragraph.
        bool importBack;
    };
    for (const Case& c : {Case{"characters.qxp", 1, false}, Case{"run-formats.qxp", 2, true}}) {
        SCOPED_TRACE(c.document);
        const std::string name = fs::path(c.document).stem().string();
        ASSERT_TRUE(Host(name + "-export.xts", std::string("start\nopen-document ") + c.document +
                                                   "\nmenu \"Export current document\"\nsave * default\n"
                                                   "dialog 101\n  press 1\nquit\n"));
        const auto source = xthost::doc::ReadDocumentFile((work / c.document).string());
        const std::vector<std::u16string> pieces = HighFlagPieces(*source);
        ASSERT_EQ(pieces.size(), c.pieces);
        const std::vector<BookText> book = BookTexts((work / (name + ".dwq")).string());
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
        ASSERT_TRUE(Host(name + "-import.xts", "start\nmenu \"Import Verbant file\"\nopen * " + name +
                                                   ".dwq\nsave * " + name + "-back.qxp\ndialog 103\n  press 1\nquit\n"));
        const auto back = xthost::doc::ReadDocumentFile((work / (name + "-back.qxp")).string());
        EXPECT_EQ(TextsAndHighBytes(*back), TextsAndHighBytes(*source));
    }
}

}  // namespace
