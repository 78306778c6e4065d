// The folder commands of the menu through their dialogs: source folder, check boxes, target
// folders, overwrite questions and the folder runs they start, driven as a user would.
#include "DialogTestSupport.h"

#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/FolderRunDialogs.h"

namespace dialogtest {
namespace {

const char* const kExtended = "[Options]\nextendedInterface=True\n";

// Starts the export of the folder Src into the folders Dwq (exchange files) and Pdf.
const std::string kExportSrcIntoDwqAndPdf = R"(
start
menu "Export multiple documents"
folder "Browse for Source Folder with QXP files" Src
dialog 108
  press 1004
dialog 114
  press 1012
  folder "Select folder" Dwq
  press 1013
  folder "Select folder" Pdf
  press 1004
)";

class FolderRunDialogsTest : public DialogHostTest {
protected:
    void SetUp() override
    {
        DialogHostTest::SetUp();
        WriteSettings(kExtended);
        MakeFolder("Src", {"a.qxp"});
        MakeFolder("Dwq");
        MakeFolder("Pdf");
    }

    const std::vector<FolderRunCall>& Runs() const { return State().runs; }
};

TEST_F(FolderRunDialogsTest, ExportToBothTargetsAsksBothQuestionsAndRunsWithTheAnswers)
{
    MakeFolder("Dwq", {"old.dwq"});
    MakeFolder("Pdf", {"old.pdf"});
    const auto lines = RunOk(kExportSrcIntoDwqAndPdf + R"(dialog 111
  press 1020
dialog 116
  press 1015
)");
    EXPECT_EQ(Filter(lines, {"opens", "ends", "folder chooser:", "1004 enabled"}),
              (std::vector<std::string>{
                  "folder chooser: \"<app>/Src\"",
                  "dialog 108 \"Export Current Source Folder\" opens",
                  "dialog 108 ends confirmed",
                  "dialog 114 \"Target folder for DWQ/PDF\" opens",
                  "folder chooser: \"<app>/Dwq\"",
                  "folder chooser: \"<app>/Pdf\"",
                  "dialog 114: 1004 enabled",
                  "dialog 114 ends confirmed",
                  "dialog 111 \"Overwrite files?\" opens",
                  "dialog 111 ends confirmed",
                  "dialog 116 \"Overwrite files?\" opens",
                  "dialog 116 ends cancelled",
              }));
    EXPECT_TRUE(Has(lines, "  1004 button \"Export\" disabled default"));
    EXPECT_TRUE(Has(lines, "  \"Target folder already contains PDF files.\""));

    ASSERT_EQ(Runs().size(), 2u);
    EXPECT_EQ(Runs()[0].run, "export");
    EXPECT_EQ(Runs()[0].source, Path("Src"));
    EXPECT_EQ(Runs()[0].target, Path("Dwq"));
    EXPECT_FALSE(Runs()[0].announce);
    EXPECT_EQ(Runs()[1].run, "pdf");
    EXPECT_EQ(Runs()[1].target, Path("Pdf"));
    EXPECT_EQ(Runs()[1].pdfFolder, Path("Pdf"));
    EXPECT_TRUE(Runs()[1].announce);
    for (const auto& run : Runs()) {
        EXPECT_TRUE(run.overwrite.exchangeFile);
        EXPECT_FALSE(run.overwrite.pdf);
        EXPECT_FALSE(run.recursive);
    }

    const std::string ini = SettingsText();
    EXPECT_NE(ini.find("SourceBookPath=" + Path("Src")), std::string::npos) << ini;
    EXPECT_NE(ini.find("TargetDWQPath=" + Path("Dwq")), std::string::npos) << ini;
    EXPECT_NE(ini.find("TargetPDFPath=" + Path("Pdf")), std::string::npos) << ini;
    const std::string log = GeneralLog();
    EXPECT_LT(log.find("MultiDoc mode:\tON"), log.find("MultiDoc mode:\tOFF"));
}

TEST_F(FolderRunDialogsTest, RememberedFoldersFillTheNextRunWithoutQuestionsForEmptyTargets)
{
    WriteSettings(std::string(kExtended) + "recursiveDirScan=True\n[Path]\nTargetDWQPath=" + Path("Dwq") +
                  "\nSourceBookPath=" + Path("Src") + "\n");
    const auto lines = RunOk(R"(
start
menu "Export multiple documents"
folder "Browse for Source Folder with QXP files" Src
dialog 108
  check 1002 off
  press 1004
dialog 107
  press 1004
)");
    EXPECT_TRUE(Has(lines, "folder chooser \"Browse for Source Folder with QXP files\" starts at \"<app>/Src\""));
    EXPECT_TRUE(Has(lines, "  1009 edit \"<app>/Dwq\""));
    EXPECT_FALSE(Has(lines, "dialog 111"));
    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_EQ(Runs()[0].target, Path("Dwq"));
    EXPECT_TRUE(Runs()[0].overwrite.exchangeFile);  // nothing to overwrite
    EXPECT_TRUE(Runs()[0].recursive);
    EXPECT_TRUE(Runs()[0].announce);
}

TEST_F(FolderRunDialogsTest, RecursionNeedsTheExtendedInterface)
{
    // Without the extended interface the menu has no folder items, so the dialog is run directly.
    WriteSettings("[Options]\nrecursiveDirScan=True\n[Path]\nTargetPDFPath=" + Path("Pdf") + "\n");
    calls["pdf-dialog"] = [] {
        RunModalDialog(DialogKind::PdfTarget, 0, nullptr);
    };
    RunOk(R"(
start
call pdf-dialog
dialog 113
  press 1004
)");
    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_EQ(Runs()[0].run, "pdf");
    EXPECT_FALSE(Runs()[0].recursive);
    EXPECT_EQ(Runs()[0].pdfFolder, Path("Pdf"));
}

TEST_F(FolderRunDialogsTest, NeitherBoxTickedOpensNothing)
{
    const auto lines = RunOk(R"(
start
menu "Export multiple documents"
folder "Browse for Source Folder with QXP files" Src
dialog 108
  check 1001 off
  check 1002 off
  press 1004
)");
    EXPECT_FALSE(Has(lines, "dialog 107"));
    EXPECT_TRUE(Runs().empty());
}

TEST_F(FolderRunDialogsTest, ACancelAtEachStepEndsTheRunCleanly)
{
    const std::vector<std::string> scripts = {
        // the target folders
        "folder \"Browse for Source Folder with QXP files\" Src\ndialog 108\n press 1004\n"
        "dialog 114\n press 1012\n folder \"Select folder\" Dwq\n press 1005\n",
        // a folder chooser inside the target dialog, then its close box
        "folder \"Browse for Source Folder with QXP files\" Src\ndialog 108\n press 1004\n"
        "dialog 114\n press 1013\n folder \"Select folder\" cancel\n close\n",
        // the overwrite question
        "folder \"Browse for Source Folder with QXP files\" Src\ndialog 108\n press 1004\n"
        "dialog 114\n press 1012\n folder \"Select folder\" Dwq\n press 1013\n"
        " folder \"Select folder\" Pdf\n press 1004\ndialog 111\n press 1021\n",
    };
    MakeFolder("Dwq", {"old.dwq"});
    MakeFolder("Pdf", {"old.pdf"});
    for (const auto& answers : scripts) {
        Reset();
        const auto lines = RunOk("start\nmenu \"Export multiple documents\"\n" + answers + "menus\n");
        EXPECT_TRUE(Runs().empty()) << answers;
        EXPECT_FALSE(Has(lines, "dialog 116")) << answers;
        EXPECT_FALSE(Has(lines, "error")) << Joined(lines);
        const std::string log = GeneralLog();
        ASSERT_NE(log.rfind("MultiDoc mode:\tON"), std::string::npos) << log;
        EXPECT_GT(log.rfind("MultiDoc mode:\tOFF"), log.rfind("MultiDoc mode:\tON")) << log;
    }
}

TEST_F(FolderRunDialogsTest, NoKeepsExistingTargetsWhileCancelAndTheCloseBoxStopTheRun)
{
    MakeFolder("Dwq", {"old.dwq"});
    WriteSettings(std::string(kExtended) + "[Path]\nTargetDWQPath=" + Path("Dwq") + "\n");
    const std::string run = R"(
menu "Export multiple documents"
folder "Browse for Source Folder with QXP files" Src
dialog 108
  check 1002 off
  press 1004
dialog 107
  press 1004
dialog 111
)";
    RunOk("start\n" + run + "  press 1021\n" + run + "  close\n" + run + "  press 1005\n");
    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_FALSE(Runs()[0].overwrite.exchangeFile);
    EXPECT_FALSE(OverwriteCancelled);
}

TEST_F(FolderRunDialogsTest, ImportAsksForDocumentsInTheSubFolderNamedAfterTheSource)
{
    MakeFolder("In", {"a.dwq"});
    MakeFolder("Out/In", {"a.qxp"});
    WriteSettings(std::string(kExtended) + "includeSourceFolderInTarget=True\n");
    const auto lines = RunOk(R"(
start
menu "Import multiple Verbant files"
dialog 115
  press 1002
  folder "Select folder" In
  press 1004
  folder "Select folder" Out
  press 1023
dialog 117
  press 1017
)");
    EXPECT_TRUE(Has(lines, "  1023 button \"Import\" disabled default"));
    ASSERT_EQ(State().census.size(), 1u);
    EXPECT_EQ(State().census[0].folder, Path("Out"));
    EXPECT_EQ(State().census[0].kind, 0);
    EXPECT_EQ(State().census[0].subFolder, "In");
    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_EQ(Runs()[0].run, "import");
    EXPECT_EQ(Runs()[0].source, Path("In"));
    EXPECT_EQ(Runs()[0].target, Path("Out"));
    EXPECT_TRUE(Runs()[0].overwrite.document);
    const std::string ini = SettingsText();
    EXPECT_NE(ini.find("SourceDWQPath=" + Path("In")), std::string::npos) << ini;
    EXPECT_NE(ini.find("TargetBookPath=" + Path("Out")), std::string::npos) << ini;
}

TEST_F(FolderRunDialogsTest, FieldsShowOnlyRememberedFolders)
{
    // A remembered DWQ folder that is gone: its field stays empty, "Export" is disabled and the
    // PDF field is not filled. A typed text is replaced by the remembered folder.
    WriteSettings(std::string(kExtended) + "[Path]\nTargetDWQPath=" + Path("Gone") + "\nTargetPDFPath=" +
                  Path("Pdf") + "\n");
    const auto lines = RunOk(R"(
start
menu "Export multiple documents"
folder "Browse for Source Folder with QXP files" Src
dialog 108
  press 1004
dialog 114
  edit 1011 "typed"
  press 1005
)");
    EXPECT_TRUE(Has(lines, "  1010 edit \"\""));
    EXPECT_TRUE(Has(lines, "  1011 edit \"\""));
    EXPECT_TRUE(Has(lines, "  1004 button \"Export\" disabled default"));
    EXPECT_TRUE(Has(lines, "dialog 114: 1011 text \"<app>/Pdf\""));
    EXPECT_TRUE(Runs().empty());
}

TEST_F(FolderRunDialogsTest, BrowsingEnablesTheConfirmButtonOnlyWithTheOtherFolder)
{
    calls["dwq-dialog"] = [] { RunModalDialog(DialogKind::DwqTarget, 0, nullptr); };
    const auto lines = RunOk(R"(
start
menu "Import multiple Verbant files"
dialog 115
  press 1002
  folder "Select folder" Src
  press 1022
call dwq-dialog
dialog 107
  press 1008
  folder "Select folder" Dwq
  press 1005
)");
    EXPECT_TRUE(Has(lines, "dialog 115: 1003 text \"<app>/Src\""));
    EXPECT_FALSE(Has(lines, "dialog 115: 1023 enabled"));
    EXPECT_TRUE(Has(lines, "dialog 107: 1004 enabled"));
    EXPECT_TRUE(Runs().empty());
}

TEST_F(FolderRunDialogsTest, AFailingRunReachesNeitherTheHostNorTheNextAnnouncement)
{
    State().runThrows = true;
    const auto lines = RunOk(kExportSrcIntoDwqAndPdf + R"(menus
)");
    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_TRUE(ShowFinishedNotice);
    const std::string log = GeneralLog();
    EXPECT_NE(log.find("MultiDoc mode:\tOFF"), std::string::npos);
}

} // namespace
} // namespace dialogtest
