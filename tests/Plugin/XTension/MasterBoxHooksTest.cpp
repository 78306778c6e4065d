// The host's master-box callbacks reaching the module: Kesto.so loaded by the emulated host from
// its XTensions folder, a master story edited by a script, and the master-page log.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Plugin/Shell/AppFolderTest.h"
#include "platform/host/Host.h"
#include "platform/host/HostExtensions.h"
#include "platform/host/Script.h"
#include "tests/platform/host/ScriptRun.h"

namespace fs = std::filesystem;

namespace {

class MasterBoxHooksTest : public kesto_test::AppFolderTest {
protected:
    MasterBoxHooksTest() : AppFolderTest("kesto") {}

    void SetUp() override
    {
        AppFolderTest::SetUp();
        fs::create_symlink(KESTO_MODULE, app / "XTensions" / "Kesto.so");
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/documents/two-page-linked.qxp",
                      app / "two-page-linked.qxp");
        xthost::RegisterHostDocuments(extensions);
    }

    // Runs the script against a fresh host; answers whether it ran to its end.
    bool Run(const std::string& script)
    {
        const auto run = xthost::testing::RunScript(app, extensions, script);
        EXPECT_TRUE(run.ok) << xthost::testing::Joined(run.lines);
        return run.ok;
    }

    static int Count(const std::string& text, const std::string& part) { return kesto_test::CountOf(text, part); }

    xthost::HostExtensions extensions;
};

TEST_F(MasterBoxHooksTest, EditingAMasterStoryRegistersItsCopies)
{
    WriteSettings("[Options]\nmasterPageLogMode=4\n");
    const std::string path = (app / "two-page-linked.qxp").string();
    ASSERT_TRUE(Run("start\nopen-document " + path +
                    "\nview master 1\ntype 1 0 \"Master text\"\nview master 0\n"
                    "view master 1\ntype 1 0 \"More \"\nview master 0\nquit\n"));
    const std::string log = GeneralLog();
    // The second edit starts with the second entry "SRCBOX 0: " (with the line break before it).
    const size_t second = log.find("\nSRCBOX 0: ", log.find("\nSRCBOX 0: ") + 1);
    ASSERT_NE(second, std::string::npos) << log;
    const std::string first = log.substr(0, second);
    const std::string again = log.substr(second);

    EXPECT_EQ(Count(first, "\nSRCBOX 1: "), 1);
    EXPECT_EQ(Count(first, "\nSRCBOX 0: "), 1);
    EXPECT_EQ(Count(first, "\nDSTBOX 1: "), 2);
    EXPECT_EQ(Count(first, "\nRegister linked layout box as AUTOTEXT BOX: "), 2);
    EXPECT_EQ(Count(first, "\nDSTBOX 0: "), 0);

    EXPECT_EQ(Count(again, "\nSRCBOX 0: "), 2);
    EXPECT_EQ(Count(again, "\nDSTBOX 0: "), 2);
    EXPECT_EQ(Count(again, "\nLinked layout box already registered as AUTOTEXT BOX: "), 2);
    EXPECT_EQ(Count(again, "SRCBOX 1: ") + Count(again, "DSTBOX 1: ") + Count(again, "Register linked"), 0);
}

// At level 5 each entry shows the box's story text; in test mode a failed host call of a box
// record writes the failure block with the adapter's file and line.
TEST_F(MasterBoxHooksTest, TheStoryTextAndAFailedLocationReachTheLog)
{
    WriteSettings("[Options]\nmasterPageLogMode=5\ntestMode=1\n");
    const std::string path = (app / "two-page-linked.qxp").string();
    ASSERT_TRUE(Run("start\nopen-document " + path +
                    "\nview master 1\ntype 1 0 \"Master text\"\nfail BOX-4 times 1 with -50\nview master 0\nquit\n"));
    const std::string log = GeneralLog();
    const std::string tildes(80, '~');
    EXPECT_NE(log.find("\n" + tildes + "\nMaster text"), std::string::npos) << log;
    const size_t text = log.find("Master text");
    ASSERT_NE(text, std::string::npos);
    EXPECT_NE(log.find("\n" + tildes + "\n", text), std::string::npos);
    const std::string rule(80, ':');
    EXPECT_NE(log.find("\n" + rule + "\nAPI_FAILURE<RETURN_EMPTY>:\tMixer.cpp[3435]:ct_Box::ct_Box()\n" + rule + "\n"),
              std::string::npos)
        << log;
}

} // namespace
