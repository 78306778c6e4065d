// The example scripts of the folder dialogs, run by xthost with the module as a shared object on
// a copy of the example application folder: the folder runs they start convert the example tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// How often part occurs in text.
int CountOf(const std::string& text, const std::string& part)
{
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// Whether the compound file opens with olefile (Debian's Python) and with gsf.
bool OpensAsCompoundFile(const std::string& path)
{
    const std::string olefile = "/usr/bin/python3 -c 'import sys, olefile; olefile.OleFileIO(sys.argv[1]).listdir()' '" +
                                path + "' >/dev/null 2>&1";
    const std::string gsf = "gsf list '" + path + "' >/dev/null 2>&1";
    return std::system(olefile.c_str()) == 0 && std::system(gsf.c_str()) == 0;
}

// The documents of the example tree and where their exchange files go: the tree mirrored, the
// hidden document passed over.
const char* const kBooks[] = {"report", "a.b", "News/front"};

TEST_F(ExampleScriptsTest, FolderExport)
{
    ASSERT_TRUE(RunScript("folder-export.xts")) << Transcript("folder-export.xts");
    const std::string transcript = Transcript("folder-export.xts");
    const std::string log = ReadText(app / "KestoLogfile.txt");
    const std::string books = Folder("Books");
    // Both runs list the three visible documents of the tree.
    for (const char* book : kBooks)
        EXPECT_EQ(CountOf(log, ".) " + books + "/" + book + ".qxp\n"), 2) << log;
    EXPECT_EQ(log.find(".draft"), std::string::npos) << log;
    // Only the PDF run, the second, ends with the notice; every progress dialog closed again.
    EXPECT_EQ(CountOf(transcript, "alert texts \"Conversion finished.\""), 1) << transcript;
    EXPECT_GT(transcript.find("alert texts \"Conversion finished.\""),
              transcript.rfind("\"Export to PDF -> analysing file 3 of 3\""));
    // The two runs' dialogs and each export's analysis window.
    EXPECT_EQ(CountOf(transcript, "opens modeless"), 2 + 3) << transcript;
    EXPECT_EQ(CountOf(transcript, "dialog 22300 closed"), 2 + 3) << transcript;
    // The PDFs mirror the tree too, without the host's log files beside them.
    EXPECT_EQ(CountOf(log, "Starting PDF creation ..."), 3) << log;
    for (const char* book : kBooks) {
        const std::string pdf = Folder("Pdf") + "/" + book + ".pdf";
        EXPECT_EQ(ReadText(pdf).substr(0, 5), "%PDF-") << pdf;
        EXPECT_FALSE(fs::exists(Folder("Pdf") + "/" + book + "_pdf.log")) << book;
    }
    EXPECT_FALSE(fs::exists(Folder("Pdf") + "/.draft.pdf"));
    const std::string ini = ReadText(app / "XTensions" / "kesto.ini");
    EXPECT_NE(ini.find("SourceBookPath=" + books), std::string::npos) << ini;
    EXPECT_NE(ini.find("TargetDWQPath=" + Folder("Translated")), std::string::npos) << ini;
    EXPECT_NE(ini.find("TargetPDFPath=" + Folder("Pdf")), std::string::npos) << ini;

    if (log.find("Export of the current document: not available") != std::string::npos)
        GTEST_SKIP() << "needs the export command";
    for (const char* book : kBooks) {
        const std::string exchange = Folder("Translated") + "/" + book + ".dwq";
        EXPECT_TRUE(OpensAsCompoundFile(exchange)) << exchange;
    }
    EXPECT_FALSE(fs::exists(Folder("Translated") + "/.draft.dwq"));
    // One beep per converted file.
    EXPECT_EQ(CountOf(transcript, "\nbeep\n"), 3) << transcript;
}

TEST_F(ExampleScriptsTest, FolderImport)
{
    ASSERT_TRUE(RunScript("folder-import.xts")) << Transcript("folder-import.xts");
    const std::string log = ReadText(app / "KestoLogfile.txt");
    EXPECT_NE(log.find("       1.) " + Folder("Translated") + "/"), std::string::npos) << log;
    EXPECT_EQ(CountOf(Transcript("folder-import.xts"), "alert texts \"Conversion finished.\""), 1);
    const std::string ini = ReadText(app / "XTensions" / "kesto.ini");
    EXPECT_NE(ini.find("SourceDWQPath=" + Folder("Translated")), std::string::npos) << ini;
    EXPECT_NE(ini.find("TargetBookPath=" + Folder("Imported")), std::string::npos) << ini;
}

// The tree exported through dialog 107 alone, then imported back over the documents through
// dialog 115, each with its overwrite question; the documents come back as the host accepts them.
TEST_F(ExampleScriptsTest, FolderExportThenImportRoundTrip)
{
    std::ofstream(app / "scripts" / "round-trip.xts") << R"(start
menu "Export multiple documents"
folder "Browse for Source Folder with QXP files" Folders/Books
dialog 108
  check 1002 off
  press 1004
dialog 107
  press 1008
  folder "Select folder" Folders/Translated
  press 1004
dialog 111
  press 1020
alert 22100 press 1
)";
    std::ofstream(app / "scripts" / "round-trip-back.xts") << R"(start
menu "Import multiple Verbant files"
dialog 115
  press 1002
  folder "Select folder" Folders/Translated
  press 1004
  folder "Select folder" Folders/Books
  press 1023
dialog 117
  press 1017
alert 22100 press 1
)";
    ASSERT_TRUE(RunScript("round-trip.xts")) << Transcript("round-trip.xts");
    EXPECT_EQ(CountOf(Transcript("round-trip.xts"), "alert texts \"Conversion finished.\""), 1);
    // Each run writes its own general log.
    const bool exported =
        ReadText(app / "KestoLogfile.txt").find("Export of the current document: not available") == std::string::npos;
    ASSERT_TRUE(RunScript("round-trip-back.xts")) << Transcript("round-trip-back.xts");
    EXPECT_NE(Transcript("round-trip-back.xts").find("dialog 117 ends confirmed"), std::string::npos);
    EXPECT_EQ(CountOf(Transcript("round-trip-back.xts"), "alert texts \"Conversion finished.\""), 1);
    if (!exported)
        GTEST_SKIP() << "needs the export command";
    for (const char* book : kBooks)
        EXPECT_TRUE(OpensAsCompoundFile(Folder("Translated") + "/" + book + ".dwq")) << book;
    EXPECT_EQ(CountOf(Transcript("round-trip.xts"), "\nbeep\n"), 3);
    if (ReadText(app / "KestoLogfile.txt").find("Import of a Verbant file: not available") != std::string::npos)
        GTEST_SKIP() << "needs the import command";
    for (const char* book : kBooks) {
        const std::string document = Folder("Books") + "/" + book + ".qxp";
        const std::string check = std::string(XTHOST_PROGRAM) + " doc check '" + document + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(check.c_str()), 0) << document;
    }
    EXPECT_EQ(CountOf(Transcript("round-trip-back.xts"), "\nbeep\n"), 3);
}

TEST_F(ExampleScriptsTest, FolderCancel)
{
    ASSERT_TRUE(RunScript("folder-cancel.xts")) << Transcript("folder-cancel.xts");
    const std::string log = ReadText(app / "KestoLogfile.txt");
    EXPECT_EQ(log.find("Folder "), std::string::npos) << log;
    EXPECT_GT(log.rfind("MultiDoc mode:\tOFF"), log.rfind("MultiDoc mode:\tON"));
}

// A document whose path is longer than 300 bytes is listed, converted, and its exchange file
// written beside it, never in the folder the host runs in.
TEST_F(ExampleScriptsTest, LongPath)
{
    ASSERT_TRUE(RunScript("long-path.xts")) << Transcript("long-path.xts");
    const std::string log = ReadText(app / "KestoLogfile.txt");
    fs::path folder;
    for (const auto& entry : fs::recursive_directory_iterator(app / "Folders" / "Long"))
        if (entry.path().filename() == "catalogue.qxp")
            folder = entry.path().parent_path();
    const std::string source = (folder / "catalogue.qxp").string();
    ASSERT_GT(source.size(), 300u);
    EXPECT_NE(log.find("       1.) " + source + "\n"), std::string::npos) << log;
    const fs::path exchange = folder / "catalogue.dwq";
    EXPECT_TRUE(OpensAsCompoundFile(exchange.string())) << log;
    EXPECT_FALSE(fs::exists(app / "catalogue.dwq"));
}

} // namespace
