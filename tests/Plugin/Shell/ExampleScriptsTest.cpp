// The example scripts of the folder dialogs, run by xthost with the module as a shared object on
// a copy of the example application folder: the runs they start reach the module's stand-ins,
// which note their folders and switches in the general log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "Plugin/Shell/AppFolderTest.h"

namespace {

namespace fs = std::filesystem;
using kesto_test::ReadText;

class ExampleScriptsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        app = fs::path(KESTO_BINARY_DIR) / "test-tmp" / "dialog-examples" / info->name();
        fs::remove_all(app);
        fs::create_directories(app.parent_path());
        fs::copy(fs::path(KESTO_SOURCE_DIR) / "examples" / "app", app, fs::copy_options::recursive);
    }

    // Runs the script in the copy (whose folder receives the general log); true for exit 0.
    bool RunScript(const std::string& name)
    {
        const std::string command = "cd " + app.string() + " && " + XTHOST_PROGRAM + " --app . --module " +
                                    KESTO_MODULE + " --script scripts/" + name + " --transcript " +
                                    (app / (name + ".transcript")).string() + " 2>/dev/null";
        return std::system(command.c_str()) == 0;
    }

    std::string Transcript(const std::string& name) const { return ReadText(app / (name + ".transcript")); }
    std::string Folder(const std::string& name) const { return (app / "Folders" / name).string(); }

    fs::path app;
};

TEST_F(ExampleScriptsTest, FolderExport)
{
    ASSERT_TRUE(RunScript("folder-export.xts")) << Transcript("folder-export.xts");
    const std::string log = ReadText(app / "KestoLogfile.txt");
    const std::string books = Folder("Books");
    const std::string translated = Folder("Translated");
    EXPECT_NE(log.find("Folder export to DWQ from \"" + books + "\" into \"" + translated +
                       "\" (recursive off, overwrite documents off, DWQ on, PDF on, PDF folder \"" + books +
                       "\", announce off)"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Folder export to PDF from \"" + books + "\" into \"" + books + "\""), std::string::npos);
    const std::string ini = ReadText(app / "XTensions" / "kesto.ini");
    EXPECT_NE(ini.find("SourceBookPath=" + books), std::string::npos) << ini;
    EXPECT_NE(ini.find("TargetDWQPath=" + translated), std::string::npos) << ini;
    EXPECT_NE(ini.find("TargetPDFPath=" + books), std::string::npos) << ini;
}

TEST_F(ExampleScriptsTest, FolderImport)
{
    ASSERT_TRUE(RunScript("folder-import.xts")) << Transcript("folder-import.xts");
    const std::string log = ReadText(app / "KestoLogfile.txt");
    EXPECT_NE(log.find("Folder import from \"" + Folder("Translated") + "\" into \"" + Folder("Books") +
                       "\" (recursive off, overwrite documents off"),
              std::string::npos)
        << log;
    const std::string ini = ReadText(app / "XTensions" / "kesto.ini");
    EXPECT_NE(ini.find("SourceDWQPath=" + Folder("Translated")), std::string::npos) << ini;
    EXPECT_NE(ini.find("TargetBookPath=" + Folder("Books")), std::string::npos) << ini;
}

TEST_F(ExampleScriptsTest, FolderCancel)
{
    ASSERT_TRUE(RunScript("folder-cancel.xts")) << Transcript("folder-cancel.xts");
    const std::string log = ReadText(app / "KestoLogfile.txt");
    EXPECT_EQ(log.find("Folder "), std::string::npos) << log;
    EXPECT_GT(log.rfind("MultiDoc mode:\tOFF"), log.rfind("MultiDoc mode:\tON"));
}

} // namespace
