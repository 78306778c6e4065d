// characters.qxp through export, stand-in translation and import in xthost with Kesto.so, with
// the paragraph style test on and off: every character comes back as it was written, in the
// document and in its export, and every paragraph keeps its format.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "Plugin/Exchange/DWX_Import.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "examples/pseudo-translate/PseudoTranslate.h"
#include "platform/host/documents/DocumentFile.h"

namespace fs = std::filesystem;
using namespace xthost::doc;

namespace {

const std::string kSource = KESTO_SOURCE_DIR;
const std::string kBuild = KESTO_BINARY_DIR;

int Shell(const std::string& command)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    std::array<char, 4096> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe)) {
    }
    return pclose(pipe);
}

// An application folder of its own with the shipped example and the settings as given.
class CharactersRoundTrip : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        work = fs::temp_directory_path() /
               ("kesto-characters-" + std::to_string(::getpid()) + (GetParam() ? "-styled" : "-plain"));
        fs::remove_all(work);
        fs::create_directories(work);
        fs::copy(kSource + "/examples/app", work, fs::copy_options::recursive);
        fs::copy_file(kSource + "/examples/documents/characters.qxp", work / "characters.qxp");
        std::string ini = kesto_test::ReadText(work / "XTensions" / "kesto.ini");
        ini.insert(ini.find("[QUARK]\n") + 8,
                   std::string("TestStyleOfParagraph=") + (GetParam() ? "True" : "False") + "\n");
        std::ofstream(work / "XTensions" / "kesto.ini") << ini;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(work, ignored);
    }

    int Host(const std::string& name, const std::string& script)
    {
        std::ofstream(work / name) << script;
        return Shell("cd '" + work.string() + "' && '" + kBuild + "/platform/host/xthost' --app '" + work.string() + "' --module '" + kBuild +
                   "/Plugin/XTension/Kesto.so' --script '" + (work / name).string() + "'");
    }
    int Export(const std::string& document)
    {
        return Host("export.xts", "start\nopen-document " + document +
                                      "\nmenu \"Export current document\"\nsave * default\ndialog 101\n  press 1\nquit\n");
    }

    fs::path work;
};

// The translation's brackets and tildes taken out again.
std::u16string Untranslated(const std::u16string& text)
{
    std::u16string out;
    for (char16_t c : text)
        if (c != u'[' && c != u']' && c != u'~')
            out += c;
    return out;
}

// The text of each story of a container, its text runs one after another.
std::vector<std::u16string> StoryTexts(const std::string& path)
{
    using namespace KS_DWX::Import;
    std::vector<std::u16string> stories;
    RefPtr<IBook> book = OpenImportBook(path);
    if (!book)
        return stories;
    for (int32_t d = 0; RefPtr<IDoc> doc = book->Document(d); ++d)
        for (int32_t s = 0; RefPtr<IStory> story = doc->Story(s); ++s) {
            std::u16string text;
            for (int32_t p = 0; RefPtr<IPara> para = story->Paragraph(p); ++p) {
                for (int32_t r = 0; RefPtr<IRun> run = para->Run(r); ++r) {
                    if (run->Kind() != kRunUnicodes && run->Kind() != kRunWideMultibytes)
                        continue;
                    uint16_t unit = 0;
                    while (run->Read(&unit, sizeof unit) == sizeof unit)
                        text += static_cast<char16_t>(unit);
                }
                text += u'\r';
            }
            stories.push_back(text);
        }
    return stories;
}

std::string Hex(const std::u16string& text)
{
    std::string out;
    char unit[8];
    for (char16_t c : text) {
        std::snprintf(unit, sizeof unit, c >= 0x20 && c < 0x7F ? "%c" : "<%04X>", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

TEST_P(CharactersRoundTrip, CharactersAndParagraphFormatsComeBackAsWritten)
{
    ASSERT_EQ(Export("characters.qxp"), 0);
    std::string error;
    ASSERT_TRUE(PseudoTranslateFile((work / "characters.dwq").string(), (work / "translated.dwq").string(), error))
        << error;
    ASSERT_EQ(Host("import.xts", "start\nmenu \"Import Verbant file\"\nopen * translated.dwq\nsave * "
                                 "translated.qxp\ndialog 103\n  press 1\nquit\n"),
              0);

    const std::unique_ptr<Project> source = ReadDocumentFile((work / "characters.qxp").string());
    const std::unique_ptr<Project> imported = ReadDocumentFile((work / "translated.qxp").string());
    ASSERT_TRUE(source && imported);
    const auto& before = source->layouts.at(0)->stories;
    const auto& after = imported->layouts.at(0)->stories;
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [uid, story] : before) {
        ASSERT_TRUE(after.count(uid)) << uid;
        const Story& got = after.at(uid);
        EXPECT_EQ(Hex(Untranslated(got.text)), Hex(story.text)) << "story " << uid;
        EXPECT_NE(got.text, story.text) << "story " << uid << " was not translated";
        ASSERT_EQ(got.paras.size(), story.paras.size()) << "story " << uid;
        for (size_t p = 0; p < story.paras.size(); ++p) {
            const ParaFormat& want = *source->paraFormats.Find(story.paras[p]);
            const ParaFormat& have = *imported->paraFormats.Find(got.paras[p]);
            EXPECT_EQ(have.style, want.style) << "story " << uid << " paragraph " << p;
            EXPECT_EQ(have.style2, want.style2) << "story " << uid << " paragraph " << p;
            EXPECT_EQ(static_cast<int>(have.direction), static_cast<int>(want.direction)) << "story " << uid << " paragraph " << p;
            EXPECT_EQ(static_cast<int>(have.align), static_cast<int>(want.align)) << "story " << uid << " paragraph " << p;
        }
    }

    // Exported again, the document gives back what the translation wrote.
    fs::rename(work / "characters.dwq", work / "first.dwq");
    fs::copy_file(work / "translated.qxp", work / "again.qxp");
    ASSERT_EQ(Export("again.qxp"), 0);
    const std::vector<std::u16string> translated = StoryTexts((work / "translated.dwq").string());
    const std::vector<std::u16string> again = StoryTexts((work / "again.dwq").string());
    ASSERT_FALSE(translated.empty());
    ASSERT_EQ(again.size(), translated.size());
    for (size_t s = 0; s < translated.size(); ++s)
        EXPECT_EQ(Hex(again[s]), Hex(translated[s])) << "story " << s;
}

INSTANTIATE_TEST_SUITE_P(StyleTest, CharactersRoundTrip, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "StyleTestOn" : "StyleTestOff");
                         });

}  // namespace
