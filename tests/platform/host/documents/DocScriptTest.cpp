// The documents as xthost scripts drive them: verbs, callbacks in the transcript, faults by
// role, and the "doc" subcommand.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/HostExtensions.h"
#include "tests/platform/host/ScriptRun.h"

namespace xthost {
namespace {

using testing::Joined;
using testing::RunScript;
using testing::ScriptRun;

const std::string kExamples = std::string(KESTO_SOURCE_DIR) + "/examples/documents/";

class DocScriptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        app = std::filesystem::path(KESTO_BINARY_DIR) / "test-tmp" / "host-docs" / info->name();
        std::filesystem::remove_all(app);
        std::filesystem::create_directories(app);
        RegisterHostDocuments(extensions);
    }

    std::vector<std::string> Run(const std::string& script, bool* ok)
    {
        ScriptRun run = RunScript(app, extensions, script);
        *ok = run.ok;
        return std::move(run.lines);
    }

    std::filesystem::path app;
    HostExtensions extensions;
};

std::string Shell(const std::string& command, int* status)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    const int raw = pipe ? ::pclose(pipe) : -1;
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

// Editing the master's story and returning to the layout announces both copies, once each.
TEST_F(DocScriptTest, MasterEditAnnouncesCopiesAndSaveAsChangesOnlyThatStory)
{
    std::filesystem::copy_file(kExamples + "two-page-linked.qxp", app / "two-page-linked.qxp");
    std::ifstream script(kExamples + "master-edit.xts");
    std::stringstream source;
    source << script.rdbuf();
    bool ok = false;
    const auto lines = Run(source.str(), &ok);
    ASSERT_TRUE(ok) << Joined(lines);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("callback 501", 0) == 0; }), 2);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("callback 106", 0) == 0; }), 2);

    int status = -1;
    const std::string canon = Shell(std::string(XTHOST_PROGRAM) + " doc canon " + (app / "edited.qxp").string() +
                                        " | diff " + kExamples + "two-page-linked.qxp -",
                                    &status);
    EXPECT_EQ(canon,
              "33c33\n"
              "<         {\"uid\": 2, \"boxes\": [1], \"paras\": [1]},\n"
              "---\n"
              ">         {\"uid\": 2, \"boxes\": [1], \"text\": \"Master text\", \"char_runs\": [[1, 11]], \"paras\": [1]},\n");
}

TEST_F(DocScriptTest, FaultsByRoleAndRefusedFiles)
{
    bool ok = true;
    auto lines = Run("fail DOC-9 with -36\nopen-document " + kExamples + "minimal.qxp\n", &ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(Joined(lines).find("open answered -36"), std::string::npos) << Joined(lines);

    lines = Run("open-document " + kExamples + "damaged/runs-short.qxp\n", &ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(Joined(lines).find("refused: layouts[0].stories[1].char_runs"), std::string::npos) << Joined(lines);
}

TEST_F(DocScriptTest, NewProjectSaveLayoutsAndDump)
{
    bool ok = false;
    auto lines = Run("new-project\n"
                     "save-as new.qxp\n"
                     "open-document " + kExamples + "layouts.qxp\n"
                     "layout 3\n"
                     "trace-reads on\n"
                     "expect-text 5 \"Text of layout Print B\"\n"
                     "expect \"text.chars\"\n"
                     "dump layouts-dump.qxp\n"
                     "close-document\n"
                     "save-document\n",
                     &ok);
    ASSERT_TRUE(ok) << Joined(lines);
    std::ifstream dump(app / "layouts-dump.qxp");
    std::stringstream text;
    text << dump.rdbuf();
    EXPECT_NE(text.str().find("\"current_layout\": 2,"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(app / "new.qxp"));
}

TEST_F(DocScriptTest, DocCheckNamesTheFirstFault)
{
    int status = -1;
    EXPECT_EQ(Shell(std::string(XTHOST_PROGRAM) + " doc check " + kExamples + "masters.qxp", &status),
              kExamples + "masters.qxp: ok\n");
    EXPECT_EQ(status, 0);
    const std::string out = Shell(std::string(XTHOST_PROGRAM) + " doc check " + kExamples + "damaged/two-owners.qxp", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("refused: layouts[0].spreads[1].items[1]: box has two owners"), std::string::npos) << out;
    Shell(std::string(XTHOST_PROGRAM) + " doc frobnicate 2>/dev/null", &status);
    EXPECT_EQ(status, 2);
}

// A "doc" command without its file, or with a verb it does not know, shows every verb the help
// lists, whichever verb it was given.
TEST_F(DocScriptTest, DocWithoutAFilePrintsEveryVerbTheHelpLists)
{
    int status = -1;
    const std::string help = Shell(std::string(XTHOST_PROGRAM) + " --help", &status);
    const std::string key = "  doc ";
    const size_t at = help.find(key);
    ASSERT_NE(at, std::string::npos) << help;
    std::vector<std::string> verbs;
    std::stringstream list(help.substr(at + key.size(), help.find(' ', at + key.size()) - at - key.size()));
    for (std::string verb; std::getline(list, verb, '|');)
        verbs.push_back(verb);
    ASSERT_EQ(verbs.size(), 4u) << help;
    for (const char* args : {"", " check", " lines", " pdf", " frobnicate"}) {
        SCOPED_TRACE(args);
        const std::string usage = Shell(std::string(XTHOST_PROGRAM) + " doc" + args + " 2>&1", &status);
        EXPECT_EQ(status, 2);
        for (const std::string& verb : verbs)
            EXPECT_NE(usage.find("xthost doc " + verb + " FILE"), std::string::npos) << verb << "\n" << usage;
    }
}

}  // namespace
}  // namespace xthost
