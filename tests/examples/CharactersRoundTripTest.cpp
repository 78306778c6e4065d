// characters.qxp through export, stand-in translation and import in xthost with Kesto.so with the
// paragraph style test off (the shipped settings have it on, as the story-by-story round trip
// runs it): every character and every paragraph format comes back as it was written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "Plugin/Shell/AppFolderTest.h"
#include "StoryCompare.h"
#include "tests/examples/ExampleRuns.h"
#include "examples/pseudo-translate/PseudoTranslate.h"

namespace fs = std::filesystem;

namespace {

const std::string kSource = KESTO_SOURCE_DIR;

class CharactersRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        work = fs::temp_directory_path() / ("kesto-characters-" + std::to_string(::getpid()));
        fs::remove_all(work);
        fs::create_directories(work);
        fs::copy(kSource + "/examples/app", work, fs::copy_options::recursive);
        fs::copy_file(kSource + "/examples/documents/characters.qxp", work / "characters.qxp");
        std::string ini = kesto_test::ReadText(work / "XTensions" / "kesto.ini");
        ini.insert(ini.find("[QUARK]\n") + 8, "TestStyleOfParagraph=False\n");
        std::ofstream(work / "XTensions" / "kesto.ini") << ini;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(work, ignored);
    }

    // Runs the script in the host; true when the host ends well.
    bool Host(const std::string& name, const std::string& script)
    {
        int status = -1;
        const std::string transcript = kesto_test::RunHost(work, script, name, "", &status);
        EXPECT_EQ(status, 0) << transcript;
        return status == 0;
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
    const std::string before = kesto_test::Canon(work / "characters.qxp", work),
                      after = kesto_test::Canon(work / "translated.qxp", work);
    ASSERT_NE(after.find("~]"), std::string::npos) << "nothing was translated";
    for (const std::string& difference : kesto_test::StoryDifferences(before, after))
        ADD_FAILURE() << difference;
}

}  // namespace
