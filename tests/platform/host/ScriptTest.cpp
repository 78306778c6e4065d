// Script parsing, fault rules, the text helpers and the xthost program's command line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

#include "Utf8Cases.h"
#include "platform/host/Script.h"
#include "platform/host/Text.h"
#include "platform/host/Transcript.h"

namespace xthost {
namespace {

std::vector<std::vector<std::string>> Words(const std::string& source)
{
    std::vector<ScriptLine> lines;
    std::string error;
    EXPECT_TRUE(ParseScript(source, lines, error)) << error;
    std::vector<std::vector<std::string>> words;
    for (const auto& line : lines)
        words.push_back(line.words);
    return words;
}

TEST(HostScriptParse, WordsQuotesEscapesAndComments)
{
    using W = std::vector<std::vector<std::string>>;
    EXPECT_EQ(Words("menu \"Export current document\"  # comment\r\n\n   # only a comment\n"
                    "edit 1003 \"a \\\"b\\\" c\\\\ d\\n\"\nsave * \"\" x#y\n"),
              (W{{"menu", "Export current document"},
                 {"edit", "1003", "a \"b\" c\\ d\n"},
                 {"save", "*", "", "x"}}));
    std::vector<ScriptLine> lines;
    std::string error;
    ASSERT_TRUE(ParseScript("idle 3\n\n  quit  # done\n", lines, error));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].number, 3);
    EXPECT_EQ(lines[1].text, "quit");
}

TEST(HostScriptParse, MalformedScriptsAreRefusedWithTheirLine)
{
    std::vector<ScriptLine> lines;
    std::string error;
    EXPECT_FALSE(ParseScript("start\nmenu \"open\n", lines, error));
    EXPECT_EQ(error, "line 2: unterminated quote");
    EXPECT_FALSE(ParseScript("edit 1 \"abc\\", lines, error));
    EXPECT_EQ(error, "line 1: \\ at the end of the line");
    EXPECT_FALSE(ParseScript(std::string(70000, 'x'), lines, error));
    EXPECT_EQ(error, "line 1: too long a script");
}

TEST(HostScriptParse, Numbers)
{
    int64_t v = 0;
    EXPECT_TRUE(ParseNumber("0x913", v));
    EXPECT_EQ(v, 0x913);
    EXPECT_TRUE(ParseNumber("-128", v));
    EXPECT_EQ(v, -128);
    EXPECT_TRUE(ParseNumber("0xFFFFFFFF", v));
    EXPECT_EQ(v, 0xFFFFFFFFll);
    for (const char* bad : {"", "-", "0x", "12a", "0x1FFFFFFFF", "99999999999", "1 2"})
        EXPECT_FALSE(ParseNumber(bad, v)) << bad;
}

TEST(HostFaultRules, AfterAndTimesAndTheMostSpecificKey)
{
    FaultPlan plan;
    plan.Add(FaultRule{"bind:XFJ12", -1, 1, 1});
    plan.Add(FaultRule{"bind", -2, 0, -1});
    EXPECT_EQ(plan.Check({"bind:XND2", "bind"}), -2);
    EXPECT_EQ(plan.Check({"bind:XFJ12", "bind"}), -2);  // the specific rule lets one pass
    EXPECT_EQ(plan.Check({"bind:XFJ12", "bind"}), -1);
    EXPECT_EQ(plan.Check({"bind:XFJ12", "bind"}), -2);  // ... and applies once
    EXPECT_FALSE(plan.Check({"request"}).has_value());
}

// A run that keeps no transcript holds only the lines an expect still looks back at.
TEST(HostTranscript, WithoutKeptLinesOnlyThoseSinceTheHoldStayUntilReleased)
{
    Transcript log;
    log.KeepLines(false);
    log.Add("before");
    EXPECT_TRUE(log.Lines().empty());
    log.Hold();
    log.Add("one");
    log.Add("two");
    EXPECT_EQ(log.First(), 1u);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"one", "two"}));
    log.Release(2);
    EXPECT_EQ(log.First(), 2u);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"two"}));
    EXPECT_EQ(log.Count(), 3u);
}

TEST(HostTextHelpers, Utf8AndUtf16)
{
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide, (std::u16string{u'a', 0xE9, 0x20AC, 0xD83D, 0xDE00}));
    EXPECT_EQ(Utf16ToUtf8(wide), text);
    EXPECT_EQ(Utf8ToUtf16("\xEF\xBF\xBD"), std::u16string(1, 0xFFFD));  // a real U+FFFD
}

TEST(HostTextHelpers, InvalidTextBecomesOneReplacementPerBrokenPart)
{
    for (const auto& c : kesto_test::InvalidUtf8Cases())
        EXPECT_EQ(Utf8ToUtf16(c.bytes), c.wide) << Quote(c.bytes);
    for (const auto& c : kesto_test::UnpairedSurrogateCases())
        EXPECT_EQ(Utf16ToUtf8(c.wide), c.bytes) << Quote(c.bytes);
}

TEST(HostTextHelpers, Paths)
{
    EXPECT_EQ(NormalPath("a\\b/../c", "/base/dir/"), "/base/dir/a/c");
    EXPECT_EQ(NormalPath("/x//y/./z/"), "/x/y/z");
    EXPECT_EQ(NormalPath("/"), "/");
    EXPECT_EQ(FolderOf("/x/y.qxp"), "/x");
    EXPECT_EQ(FolderOf("/y"), "/");
    EXPECT_EQ(NameOf("/x/y.qxp"), "y.qxp");
    EXPECT_EQ(ExtensionOf("/x.dir/y"), "");
    EXPECT_EQ(ExtensionOf("/x/.hidden"), "");
    EXPECT_EQ(ExtensionOf("/x/y.tar.QXP"), "QXP");
    EXPECT_TRUE(EqualNoCase("QXP", "qxp"));
    EXPECT_EQ(BoundedString("abc", 2), "ab");
}

// ---------------------------------------------------------------------------------------------

int RunProgram(const std::string& arguments)
{
    const std::string command = std::string(XTHOST_PROGRAM) + " " + arguments + " > /dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HostProgram, ExitStatusTellsWhetherTheRunWentAsScripted)
{
    const std::filesystem::path app = std::filesystem::path(KESTO_BINARY_DIR) / "test-tmp" / "host" / "program";
    std::filesystem::remove_all(app);
    std::filesystem::create_directories(app / "XTensions");
    std::filesystem::create_symlink(XTHOST_TEST_MODULE, app / "XTensions" / "testmodule.so");
    std::ofstream(app / "good.xts") << "start\nmenu Beep\nexpect-beeps 1\nquit\n";
    std::ofstream(app / "bad.xts") << "start\nmenu Beep\nexpect-beeps 2\n";
    std::ofstream(app / "broken.xts") << "menu \"open\n";
    std::ofstream(app / "expects.xts") << "start\nexpect testmodule\nmenu Beep\nexpect-beeps 1\nquit\n";
    std::ofstream(app / "unmet.xts") << "start\nexpect testmodule\nexpect testmodule\nquit\n";
    std::ofstream(app / "kesto.ini") << "[Options]\n";
    const std::string base = "--app " + app.string();

    EXPECT_EQ(RunProgram("--help"), 0);
    EXPECT_EQ(RunProgram(base + " --script " + (app / "good.xts").string()), 0);
    EXPECT_EQ(RunProgram(base + " --auto"), 0);
    EXPECT_EQ(RunProgram(base + " --script " + (app / "bad.xts").string()), 1);
    EXPECT_EQ(RunProgram(base + " --script " + (app / "broken.xts").string()), 2);
    // Expects look back over the lines even when the transcript goes nowhere.
    EXPECT_EQ(RunProgram(base + " --quiet --script " + (app / "expects.xts").string()), 0);
    EXPECT_EQ(RunProgram(base + " --quiet --script " + (app / "unmet.xts").string()), 1);
    EXPECT_EQ(RunProgram(base), 2);
    EXPECT_EQ(RunProgram("--app /no/such/folder --auto"), 2);
    EXPECT_EQ(RunProgram("--bogus"), 2);
    EXPECT_EQ(RunProgram("nosuchsubcommand"), 2);

    const std::filesystem::path transcript = app / "transcript.txt";
    EXPECT_EQ(RunProgram(base + " --settings " + (app / "kesto.ini").string() + " --transcript " +
                         transcript.string() + " --script " + (app / "good.xts").string()),
              0);
    EXPECT_TRUE(std::filesystem::exists(app / "XTensions" / "kesto.ini"));
    std::ifstream in(transcript);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "load testmodule.so");
}

std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(HostProgram, TheExampleTourGivesItsCommittedTranscript)
{
    const std::filesystem::path examples = std::filesystem::path(KESTO_SOURCE_DIR) / "examples" / "host";
    const std::filesystem::path out = std::filesystem::path(KESTO_BINARY_DIR) / "test-tmp" / "host" / "tour.transcript";
    std::filesystem::create_directories(out.parent_path());
    ASSERT_EQ(RunProgram("--app " + (examples / "app").string() + " --module " + XTHOST_TEST_MODULE +
                         " --script " + (examples / "tour.xts").string() + " --transcript " + out.string()),
              0);
    EXPECT_EQ(ReadAll(out), ReadAll(examples / "tour.transcript"));
}

}  // namespace
}  // namespace xthost
