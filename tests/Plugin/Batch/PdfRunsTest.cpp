// PDF runs through xthost with the module as a shared object, in both ways a host names the PDF
// it is given: the folder dialogs and the controller's batch runs write one PDF per document of
// the example tree, leave neither the host's log files nor the naming probe's files behind, and
// tell each creation in the general log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "PdfTools.h"
#include "Plugin/Shell/AppFolderTest.h"

namespace {

namespace fs = std::filesystem;
using kesto_test::CountOf;
using kesto_test::ReadText;

// The documents of the example tree with their page counts; the hidden one is passed over.
const std::map<std::string, std::string> kPages = {{"report", "1"}, {"a.b", "2"}, {"News/front", "3"}};

class PdfRunsTest : public kesto_test::AppFolderTest, public ::testing::WithParamInterface<const char*> {
protected:
    PdfRunsTest() : AppFolderTest("pdf-runs") {}

    void SetUp() override
    {
        AppFolderTest::SetUp();
        fs::copy(fs::path(KESTO_SOURCE_DIR) / "examples/app", app, fs::copy_options::recursive);
        fs::create_directories(app / "Batch");
    }

    // Runs the script after the start and the naming mode of the test; true for exit 0.
    bool Run(const std::string& script)
    {
        std::ofstream(app / "run.xts") << "start\npdf-naming " << GetParam() << "\n" << script << "quit\n";
        const std::string command = "cd '" + app.string() + "' && " + XTHOST_PROGRAM + " --app . --module " +
                                    KESTO_MODULE + " --script run.xts --transcript '" +
                                    (app / "run.transcript").string() + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }
    std::string Transcript() const { return ReadText(app / "run.transcript"); }
    std::string Folder(const std::string& name) const { return (app / "Folders" / name).string(); }

    // One PDF per document below the folder, each with its document's pages, and nothing else.
    void ExpectPdfs(const fs::path& folder) const
    {
        std::set<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                files.insert(fs::relative(entry.path(), folder).string());
        std::set<std::string> expected;
        for (const auto& [name, pages] : kPages) {
            expected.insert(name + ".pdf");
            EXPECT_EQ(kesto_test::PdfInfoField((folder / (name + ".pdf")).string(), "Pages"), pages) << name;
        }
        EXPECT_EQ(files, expected);
    }

    // Neither a log the host writes beside a PDF nor a file of the naming probe is left anywhere.
    void ExpectNoLeftovers() const { EXPECT_EQ(kesto_test::PdfLeftovers(app), std::vector<std::string>{}); }

    // The creation blocks of the general log, each naming its target in the folder.
    void ExpectCreationBlocks(const std::string& pdfFolder) const
    {
        const std::string log = GeneralLog();
        EXPECT_EQ(CountOf(log, "Starting PDF creation ..."), 3) << log;
        for (const auto& entry : kPages)
            EXPECT_EQ(CountOf(log, "Target:   " + pdfFolder + "/" + entry.first + ".pdf"), 1) << log;
        EXPECT_EQ(log.find("PDF creation failed"), std::string::npos) << log;
        // The hook named each PDF as the probe found this host wants it.
        const std::string folder = "<app>/" + fs::relative(pdfFolder, app).string() + "/";
        const std::string extension = std::string(GetParam()) == "as-given" ? ".pdf" : "";
        for (const auto& entry : kPages)
            EXPECT_EQ(CountOf(Transcript(), "pdf.file \"" + folder + entry.first + extension + "\"\n"), 1) << entry.first;
    }

    // The controller's export job; an empty Target leaves the key out.
    void WriteJob(const std::string& target, const std::string& pdfDir) const
    {
        std::ofstream(app / "XTensions" / "kesto.ini") << "[Path]\nBatchFilePath=" << (app / "Batch" / "batch.ini").string() << "\n";
        std::ofstream batch(app / "Batch" / "batch.ini");
        batch << "[General]\nMode=Export\nRecursive=True\n[Path]\nSource=" << Folder("Books") << "\n";
        if (!target.empty())
            batch << "Target=" << target << "\n";
        batch << "PdfDir=" << pdfDir << "\n[Status]\nActive=True\n";
    }

    // A run that wrote every PDF into the folder and left nothing else.
    void ExpectPdfRun(const std::string& pdfFolder) const
    {
        ExpectPdfs(pdfFolder);
        ExpectNoLeftovers();
        ExpectCreationBlocks(pdfFolder);
    }

    std::string Archive() const { return ReadText(app / "Batch" / "batch.ini_20061205083007"); }
};

const char kFolderDialog[] = R"(menu "Export multiple documents"
folder "Browse for Source Folder with QXP files" Folders/Books
dialog 108
)";

// Dialog 108 with the PDF box alone, then the PDF folder in dialog 113.
const std::string kPdfOnlyDialogs = std::string(kFolderDialog) + R"(  check 1001 off
  press 1004
dialog 113
  press 1007
  folder "Select folder" Folders/Pdf
  press 1004
)";

TEST_P(PdfRunsTest, FolderDialogWithBothBoxes)
{
    ASSERT_TRUE(Run(std::string(kFolderDialog) + R"(  press 1004
dialog 114
  press 1012
  folder "Select folder" Folders/Translated
  press 1013
  folder "Select folder" Folders/Pdf
  press 1004
dialog 111
  press 1020
alert 22100 press 1
)")) << Transcript();
    ExpectPdfRun(Folder("Pdf"));
    for (const auto& entry : kPages)
        EXPECT_TRUE(fs::is_regular_file(Folder("Translated") + "/" + entry.first + ".dwq")) << entry.first;
}

TEST_P(PdfRunsTest, FolderDialogWithPdfOnly)
{
    ASSERT_TRUE(Run(kPdfOnlyDialogs + "alert 22100 press 1\n")) << Transcript();
    ExpectPdfRun(Folder("Pdf"));
    EXPECT_FALSE(fs::exists(Folder("Translated") + "/a.b.dwq"));
}

// Told not to replace PDFs, the run opens the document of an existing PDF, closes it again
// without export and says so; the other documents get theirs.
TEST_P(PdfRunsTest, ExistingPdfWithTheSwitchOffIsSkipped)
{
    std::ofstream(Folder("Pdf") + "/report.pdf") << "kept";
    ASSERT_TRUE(Run(kPdfOnlyDialogs + "dialog 116\n  press 1015\nalert 22100 press 1\n")) << Transcript();
    EXPECT_EQ(ReadText(Folder("Pdf") + "/report.pdf"), "kept");
    EXPECT_EQ(kesto_test::PdfInfoField(Folder("Pdf") + "/a.b.pdf", "Pages"), "2");
    EXPECT_EQ(kesto_test::PdfInfoField(Folder("Pdf") + "/News/front.pdf", "Pages"), "3");
    ExpectNoLeftovers();
    const std::string log = GeneralLog();
    auto line = [](const std::string& label, const std::string& text) {
        return label + std::string(10 - label.size(), ' ') + text + std::string(70 - text.size(), ' ') + "\n";
    };
    EXPECT_EQ(CountOf(log, "Starting PDF creation ..."), 3) << log;
    EXPECT_EQ(CountOf(log, line("WARNING:", "Target already exists!") +
                               line("NOTICE:", "Overwrite mode disabled by user.") +
                               line(" => ", "Skipping PDF creation.")),
              1)
        << log;
    EXPECT_EQ(CountOf(log, "... finished."), 2) << log;
}

TEST_P(PdfRunsTest, BatchRunWithTargetAndPdfDir)
{
    fs::create_directories(app / "out");
    fs::create_directories(app / "pdf");
    WriteJob((app / "out").string(), (app / "pdf").string());
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nidle 3\n")) << Transcript();
    EXPECT_NE(Archive().find("Active=False\n"), std::string::npos) << Archive();
    ExpectPdfRun((app / "pdf").string());
    for (const auto& entry : kPages)
        EXPECT_TRUE(fs::is_regular_file(app / "out" / (entry.first + ".dwq"))) << entry.first;
}

TEST_P(PdfRunsTest, BatchRunWithPdfDirAlone)
{
    fs::create_directories(app / "pdf");
    WriteJob("", (app / "pdf").string());
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nidle 3\n")) << Transcript();
    EXPECT_NE(Archive().find("Active=False\n"), std::string::npos) << Archive();
    ExpectPdfRun((app / "pdf").string());
    EXPECT_EQ(GeneralLog().find(".dwq"), std::string::npos) << GeneralLog();
}

INSTANTIATE_TEST_SUITE_P(Naming, PdfRunsTest, ::testing::Values("append", "as-given"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "append" ? "Append" : "AsGiven";
                         });

} // namespace
