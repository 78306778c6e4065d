// characters.qxp through export, stand-in translation and import in xthost with Kesto.so with the
// paragraph style test off (the shipped settings have it on, as the story-by-story round trip
// runs it): every character and every paragraph format comes back as it was written.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <unistd.h>

#include "StoryCompare.h"
#include "tests/examples/ExampleRuns.h"
#include "examples/pseudo-translate/PseudoTranslate.h"

namespace {

class CharactersRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string ini = work.Text("XTensions/kesto.ini");
        ini.insert(ini.find("[QUARK]\n") + 8, "TestStyleOfParagraph=False\n");
        std::ofstream(work.folder / "XTensions" / "kesto.ini") << ini;
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

}  // namespace
