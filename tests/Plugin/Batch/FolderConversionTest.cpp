// Folder runs against the emulated host with its documents: scans, target mapping, the log
// list, protected targets and the batch counters, with the export command writing each target.
#include "Plugin/Batch/FolderRuns.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "DriverTestSupport.h"
#include "Foundation/Settings.h"
#include "Plugin/Batch/BatchMode.h"
#include "Plugin/Batch/BatchStatusFile.h"
#include "Plugin/Batch/ConversionDriver.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/KestoInterface.h"

namespace {

using namespace kesto_test::driver_names;

class FolderConversionTest : public kesto_test::ModuleHostTest {
protected:
    FolderConversionTest() : ModuleHostTest("batch-folders") {}

    void SetUp() override
    {
        ModuleHostTest::SetUp();
        Start("[Options]\nmapSourceFoldersToTarget=True\n");
        host->SetAnswerer(&alerts);
        OverwriteFlags = OverwriteSwitches();
        ShowFinishedNotice = true;
        // As the folder commands set it before their dialogs: the export takes the job's target.
        KestoInterface::Instance()->m_multiDocMode = true;
        fs::create_directories(app / "in");
        fs::create_directories(app / "out");
    }

    void TearDown() override
    {
        OverwriteFlags = OverwriteSwitches();
        KestoInterface::Instance()->m_multiDocMode = false;
        ModuleHostTest::TearDown();
    }

    std::string Path(const std::string& name) const { return (app / name).string(); }

    HostFileSpec Spec(const std::string& name) const
    {
        HostFileSpec spec{};
        EXPECT_EQ(xt_fsmakefsspec(0, 0, Path(name).c_str(), &spec), 0) << name;
        return spec;
    }

    void Document(const std::string& name, const std::string& example = "minimal.qxp")
    {
        fs::create_directories((app / name).parent_path());
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/documents" / example, app / name);
    }

    void Text(const std::string& name, const std::string& text = "text\n")
    {
        fs::create_directories((app / name).parent_path());
        std::ofstream(app / name) << text;
    }

    void Mapping(bool mapFolders, bool includeRoot)
    {
        ASSERT_TRUE(Settings->SetValue(SettingKey::mapSourceFoldersToTarget, mapFolders ? "True" : "False", true, false));
        ASSERT_TRUE(Settings->SetValue(SettingKey::includeSourceFolderInTarget, includeRoot ? "True" : "False", true, false));
    }

    std::vector<std::string> Listed() const { return *ConversionFileList; }
    std::string Transcript() const { return host->Log().Text(); }

    // A folder command's user is there at its end, for its notice, and for nothing else.
    NobodyAtTheHost alerts{true};
};

TEST_F(FolderConversionTest, TargetsMapTheSourceTreeAsTheSettingsSay)
{
    SavedSourceSpec = Spec("out");
    const std::string file = Path("in/news/p1.qxp");
    Mapping(false, false);
    EXPECT_EQ(FolderRunTarget(file, Path("in"), ConversionKind::ToExchange), Path("out/p1.dwq"));
    Mapping(false, true);
    EXPECT_EQ(FolderRunTarget(file, Path("in"), ConversionKind::ToExchange), Path("out/in/p1.dwq"));
    Mapping(true, false);
    EXPECT_EQ(FolderRunTarget(file, Path("in"), ConversionKind::ToExchange), Path("out/news/p1.dwq"));
    Mapping(true, true);
    EXPECT_EQ(FolderRunTarget(file, Path("in"), ConversionKind::ToExchange), Path("out/in/news/p1.dwq"));
    // A trailing separator of the root changes nothing.
    EXPECT_EQ(FolderRunTarget(file, Path("in") + "/", ConversionKind::ToExchange), Path("out/in/news/p1.dwq"));

    // Only the file's own extension changes: other dots stay, a dotted folder stays whole.
    EXPECT_EQ(FolderRunTarget(Path("in/v1.2/a.b.qxp"), Path("in"), ConversionKind::ToExchange),
              Path("out/in/v1.2/a.b.dwq"));
    EXPECT_EQ(FolderRunTarget(Path("in/v1.2/doc"), Path("in"), ConversionKind::ToExchange), Path("out/in/v1.2/doc.dwq"));

    // Each kind has its own root: documents go to SavedTargetSpec, PDFs to PdfTargetFolder.
    SavedTargetSpec = Spec("in");
    *PdfTargetFolder = Path("pdf");
    EXPECT_EQ(FolderRunTarget(file, Path("in"), ConversionKind::ToPdf), Path("pdf/in/news/p1.pdf"));
    EXPECT_EQ(FolderRunTarget(Path("in/x.dwq"), Path("in"), ConversionKind::ToDocument), Path("in/in/x.qxp"));
    // No PDF folder: no target at all.
    PdfTargetFolder->clear();
    EXPECT_EQ(FolderRunTarget(file, Path("in"), ConversionKind::ToPdf), "");
}

TEST_F(FolderConversionTest, ExportWritesTheMappedTreeAndCreatesItsFolders)
{
    Mapping(true, true);
    Document("in/news/p1.qxp");
    Document("in/a.b.qxp", "two-page-linked.qxp");
    Document("in/a.c.qxp");
    SavedFolderSpec = Spec("in");
    SavedSourceSpec = Spec("out");
    OverwriteFlags.exchangeFile = true;
    ExportFolder(SavedSourceSpec, true);
    EXPECT_TRUE(IsExchangeFile(app / "out/in/news/p1.dwq")) << GeneralLog();
    EXPECT_TRUE(IsExchangeFile(app / "out/in/a.b.dwq"));
    EXPECT_TRUE(IsExchangeFile(app / "out/in/a.c.dwq"));
    // One beep per converted file; the notice once, at the end; no progress dialog stays open:
    // the run's own and each export's analysis window are closed again.
    EXPECT_EQ(host->Beeps(), 3);
    EXPECT_EQ(CountOf(Transcript(), "alert texts \"Conversion finished.\""), 1) << Transcript();
    EXPECT_EQ(CountOf(Transcript(), "opens modeless"), 1 + 3) << Transcript();
    EXPECT_EQ(CountOf(Transcript(), "22300 closed"), 1 + 3);
}

TEST_F(FolderConversionTest, ScansRecursiveOrFlatAndSkipHiddenFilesAndLinks)
{
    Text("in/a.qxp");
    Text("in/x.dwq");
    Text("in/.hidden.qxp");
    Text("in/sub/b.qxp");
    Text("in/sub/deeper/c.DWQ");
    fs::create_directory_symlink(app / "in", app / "in/sub/loop");
    fs::create_directory_symlink(app / "out", app / "in/elsewhere");
    Text("out/o.qxp");
    // Passed over, each with its line in the log: a pipe and a link to nothing.
    ASSERT_EQ(::mkfifo(Path("in/pipe.qxp").c_str(), 0600), 0);
    fs::create_symlink(app / "in/none.qxp", app / "in/gone.qxp");

    ConversionFileList->clear();
    EXPECT_EQ(ScanFolder(Spec("in"), FileKind::Qxp, true, false, ""), 4);
    EXPECT_EQ(Listed(), (std::vector<std::string>{Path("in/a.qxp"), Path("in/sub/b.qxp"), Path("in/sub/deeper/c.DWQ"),
                                                  Path("in/x.dwq")}));
    EXPECT_NE(GeneralLog().find("\nSkipped \"" + Path("in/pipe.qxp") + "\": no plain file\n"), std::string::npos);
    EXPECT_NE(GeneralLog().find("\nSkipped \"" + Path("in/gone.qxp") + "\": "), std::string::npos) << GeneralLog();
    ConversionFileList->clear();
    EXPECT_EQ(ScanFolder(Spec("in"), FileKind::Qxp, false, false, ""), 2);
    EXPECT_EQ(Listed(), (std::vector<std::string>{Path("in/a.qxp"), Path("in/x.dwq")}));
    ConversionFileList->clear();
    EXPECT_EQ(ScanFolder(Spec("in"), FileKind::Dwq, true, false, ""), 2);
    EXPECT_EQ(Listed(), (std::vector<std::string>{Path("in/sub/deeper/c.DWQ"), Path("in/x.dwq")}));
    ConversionFileList->clear();
    EXPECT_EQ(ScanFolder(Spec("in"), FileKind::Dwq, false, false, "sub/deeper"), 1);

    // A source that is a file lists just that file.
    ConversionFileList->clear();
    EXPECT_EQ(ScanFolder(Spec("in/a.qxp"), FileKind::Qxp, true, false, ""), 1);
    EXPECT_EQ(Listed(), std::vector<std::string>{Path("in/a.qxp")});
}

TEST_F(FolderConversionTest, CollectingAsksWhetherTheFolderItselfHoldsAFileOfTheKind)
{
    Text("in/sub/b.dwq");
    Text("in/notes.qxp");
    ConversionFileList->clear();
    EXPECT_FALSE(CollectSourceFiles(Spec("in"), 2, true, ""));   // only a sub-folder has one
    EXPECT_TRUE(CollectSourceFiles(Spec("in"), 2, false, "sub"));
    // Documents count only when the host opens them.
    EXPECT_FALSE(CollectSourceFiles(Spec("in"), 0, false, ""));
    Document("in/real.qxp");
    EXPECT_TRUE(CollectSourceFiles(Spec("in"), 0, false, ""));
    EXPECT_FALSE(CollectSourceFiles(Spec("in"), 3, false, ""));
    EXPECT_FALSE(CollectSourceFiles(Spec("in"), 9, false, ""));
}

TEST_F(FolderConversionTest, SingleFileSourceLandsInsideTheTargetFolder)
{
    Mapping(true, false);
    Document("in/only.qxp");
    RefPtr<TargetWriter> writer = AddTargetWriter<5>();
    SavedFolderSpec = Spec("in/only.qxp");
    SavedSourceSpec = Spec("out");
    ExportFolder(SavedSourceSpec, false);
    EXPECT_EQ(writer->targets, std::vector<std::string>{Path("out/only.dwq")});
    EXPECT_TRUE(fs::exists(app / "out/only.dwq"));
}

TEST_F(FolderConversionTest, LogListsTheFilesNumberedInAFieldOfEight)
{
    Mapping(false, false);
    for (int i = 1; i <= 12; ++i)
        Text("in/f" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".txt");
    SavedFolderSpec = Spec("in");
    SavedSourceSpec = Spec("out");
    ExportFolder(SavedSourceSpec, false);
    const std::string log = GeneralLog();
    const std::size_t banner = log.find("\n\n#####\n##### IMPORT/EXPORT-FILES #####\n#####\n\n");
    ASSERT_NE(banner, std::string::npos) << log;
    EXPECT_NE(log.find("#####\n\n       1.) " + Path("in/f01.txt") + "\n", banner), std::string::npos) << log;
    EXPECT_NE(log.find("\n      12.) " + Path("in/f12.txt") + "\n", banner), std::string::npos) << log;
    // None of them is a document: nothing is written, the run still ends with its notice.
    EXPECT_TRUE(fs::is_empty(app / "out"));
    EXPECT_EQ(CountOf(Transcript(), "alert texts \"Conversion finished.\""), 1);
}

TEST_F(FolderConversionTest, EmptySourceShowsOnlyTheNotice)
{
    Text("in/x.txt");
    SavedSourceSpec = Spec("in");
    SavedTargetSpec = Spec("out");
    ImportFolder(SavedSourceSpec, true);
    EXPECT_EQ(GeneralLog().find("IMPORT/EXPORT-FILES"), std::string::npos);
    EXPECT_EQ(CountOf(Transcript(), "opens modeless"), 0);
    EXPECT_EQ(CountOf(Transcript(), "alert texts \"Conversion finished.\""), 1);
    ShowFinishedNotice = false;
    ImportFolder(SavedSourceSpec, true);
    EXPECT_EQ(CountOf(Transcript(), "alert texts \"Conversion finished.\""), 1);
}

TEST_F(FolderConversionTest, OnlyComputedTargetsAreReplacedAndWriteProtectedOnesReported)
{
    Mapping(true, false);
    Document("in/news/p1.qxp");
    Document("in/p2.qxp");
    Text("out/news/p1.dwq", "old p1");
    Text("out/p2.dwq", "old p2");
    Text("out/p1.dwq", "decoy");   // named like a target, but not where p1's target goes
    SavedFolderSpec = Spec("in");
    SavedSourceSpec = Spec("out");

    // With the switch off nothing is removed in advance and nothing is reported.
    ExportFolder(SavedSourceSpec, true);
    EXPECT_EQ(ReadText(app / "out/p2.dwq"), "old p2");
    EXPECT_EQ(GeneralLog().find("Overwrite not allowed"), std::string::npos);

    // With it on, a write-protected target is reported and stays; the others are replaced.
    OverwriteFlags.exchangeFile = true;
    fs::permissions(app / "out/news/p1.dwq", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ExportFolder(SavedSourceSpec, true);
    EXPECT_NE(GeneralLog().find("\nSUPPRESSED MESSAGE BOX:\tOverwrite not allowed for 1 files in your target!\t\n"
                                "Change attributes or rename on request.\t\t\n"),
              std::string::npos)
        << GeneralLog();
    EXPECT_EQ(*ProtectedTargetList, std::vector<std::string>{Path("out/news/p1.dwq")});
    EXPECT_EQ(ReadText(app / "out/p1.dwq"), "decoy");
    EXPECT_EQ(ReadText(app / "out/news/p1.dwq"), "old p1");
    EXPECT_TRUE(IsExchangeFile(app / "out/p2.dwq")) << GeneralLog();
}

TEST_F(FolderConversionTest, RunIntoItsSourceFolderRemovesOnlyTargetsItWritesAgain)
{
    Mapping(false, false);
    Document("in/a.qxp");
    Text("in/a.dwq", "a's old export");
    Text("in/a.pdf", "a's old PDF");
    Text("in/x.dwq", "no document beside it");
    Text("in/unrelated.pdf", "somebody's PDF");
    Text("in/notes.txt", "notes");
    Text("in/y", "no document, whatever its name");
    Text("in/y.dwq", "named after a file that is no document");
    Text("out/x.dwq", "named after a listed exchange file");
    OverwriteFlags.exchangeFile = OverwriteFlags.pdf = true;
    SavedFolderSpec = Spec("in");

    // Target = Source, then PdfDir = Source: each document's old targets are replaced, and no
    // other file goes.
    SavedSourceSpec = Spec("in");
    ExportFolder(SavedSourceSpec, false);
    *PdfTargetFolder = Path("in");
    ExportFolderToPdf(Spec("in"), false);
    EXPECT_TRUE(IsExchangeFile(app / "in/a.dwq")) << GeneralLog();
    EXPECT_EQ(ReadText(app / "in/a.pdf").substr(0, 5), "%PDF-");
    EXPECT_EQ(ReadText(app / "in/x.dwq"), "no document beside it");
    EXPECT_EQ(ReadText(app / "in/unrelated.pdf"), "somebody's PDF");
    EXPECT_EQ(ReadText(app / "in/notes.txt"), "notes");
    EXPECT_EQ(ReadText(app / "in/y.dwq"), "named after a file that is no document");

    // Into another folder: the exchange file listed as a source gives no target to remove.
    SavedSourceSpec = Spec("out");
    ExportFolder(SavedSourceSpec, false);
    EXPECT_EQ(ReadText(app / "out/x.dwq"), "named after a listed exchange file");
    EXPECT_TRUE(IsExchangeFile(app / "out/a.dwq"));
}

TEST_F(FolderConversionTest, BatchRunKeepsTotalAndCount)
{
    const fs::path status = app / "batch.ini";
    std::ofstream(status) << "[General]\nMode=Export\n[Path]\nSource=" << Path("in") << "\nTarget=" << Path("out")
                          << "\n";
    ASSERT_TRUE(Settings->SetValue(SettingKey::BatchFilePath, status.string(), true, false));
    ASSERT_TRUE(BatchStatus->Load(false));
    Document("in/a.qxp");
    Document("in/b.qxp");
    Text("in/c.txt");
    // The counter is read back after every file, from the file on disk.
    class CountReader : public CommandListener {
    public:
        explicit CountReader(fs::path file) : m_file(std::move(file)) {}
        void ActionPerformed(XTVoidRec*) override { seen.push_back(ReadText(m_file)); }
        std::vector<std::string> seen;

    private:
        fs::path m_file;
    };
    RefPtr<CountReader> reader(new CountReader(status));
    ClassObject<MenuButton<5>>::Instance()->AddActionListener(reader);
    SavedFolderSpec = Spec("in");
    SavedSourceSpec = Spec("out");
    ExportFolder(SavedSourceSpec, false);
    ASSERT_EQ(reader->seen.size(), 2u);
    EXPECT_NE(reader->seen[0].find("Total=3\n"), std::string::npos) << reader->seen[0];
    EXPECT_NE(reader->seen[0].find("Count=0\n"), std::string::npos) << reader->seen[0];
    EXPECT_NE(reader->seen[1].find("Count=1\n"), std::string::npos) << reader->seen[1];
    EXPECT_NE(ReadText(status).find("Count=3\n"), std::string::npos) << ReadText(status);
    EXPECT_TRUE(IsExchangeFile(app / "out/a.dwq") && IsExchangeFile(app / "out/b.dwq")) << GeneralLog();
    // Unattended: the notice is only logged.
    EXPECT_NE(GeneralLog().find("SUPPRESSED MESSAGE BOX:\tConversion finished."), std::string::npos);
    EXPECT_EQ(CountOf(Transcript(), "alert texts \"Conversion finished.\""), 0);
}

TEST_F(FolderConversionTest, BatchExportStepRunsWhatTheStatusFileAsks)
{
    const fs::path status = app / "batch.ini";
    ASSERT_TRUE(Settings->SetValue(SettingKey::BatchFilePath, status.string(), true, false));
    Document("in/a.qxp");
    fs::create_directories(app / "pdf");
    // Target a single blank, PdfDir set: only the PDF run, into PdfDir.
    std::ofstream(status) << "[General]\nMode=Export\n[Path]\nSource=" << Path("in") << "\nTarget= \nPdfDir="
                          << Path("pdf") << "\n";
    ASSERT_TRUE(BatchStatus->Load(false));
    SavedSourceSpec = Spec("out");   // left from an earlier dialog: never used again
    FireBatchExportStep(nullptr);
    EXPECT_EQ(*PdfTargetFolder, Path("pdf"));
    EXPECT_EQ(CountOf(GeneralLog(), "IMPORT/EXPORT-FILES"), 1);
    EXPECT_EQ(ReadText(app / "pdf" / "a.pdf").substr(0, 5), "%PDF-") << GeneralLog();
    EXPECT_FALSE(fs::exists(app / "out" / "a.dwq"));
    EXPECT_EQ(FileSpecName(SavedSourceSpec), "");
    EXPECT_TRUE(OverwriteFlags.document && OverwriteFlags.exchangeFile && OverwriteFlags.pdf);
    EXPECT_FALSE(OverwriteFlags.coordinates || OverwriteFlags.xtags);

    // Mode Done: nothing.
    std::ofstream(status) << "[General]\nMode=Done\n[Path]\nSource=" << Path("in") << "\nTarget=" << Path("out")
                          << "\n";
    ASSERT_TRUE(BatchStatus->Load(false));
    FireBatchExportStep(nullptr);
    FireBatchImportStep(nullptr);
    EXPECT_EQ(CountOf(GeneralLog(), "IMPORT/EXPORT-FILES"), 1);
}

} // namespace
