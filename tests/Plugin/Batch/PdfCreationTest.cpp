// PDF creation and the probe of the host's PDF naming against the emulated host with its
// documents: the general-log block, skipped creations, outcomes that must not pass for success,
// and a probe that leaves no trace.
#include "Plugin/Batch/PdfCreation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <ios>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Foundation/Log.h"
#include "Plugin/Batch/ConversionDriver.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Batch/HostFiles.h"
#include "Plugin/Mixer/PdfOutput.h"
#include "Plugin/ModuleHostFixture.h"
#include "PdfTools.h"
#include "Plugin/Shell/HostSuites.h"
#include "platform/host/documents/FlowSuites.h"
#include "platform/host/documents/XTDocSuites.h"

namespace {

namespace fs = std::filesystem;

const std::string kStars(80, '*');

// Every file below a folder, by path relative to it, with its content.
std::vector<std::pair<std::string, std::string>> Snapshot(const fs::path& folder)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        files.emplace_back(fs::relative(entry.path(), folder).string(),
                           entry.is_regular_file() ? kesto_test::ReadText(entry.path()) : std::string("<dir>"));
    std::sort(files.begin(), files.end());
    return files;
}

std::string Field(const std::string& text, size_t width)
{
    return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

class PdfCreationTest : public kesto_test::ModuleHostTest {
protected:
    PdfCreationTest() : ModuleHostTest("batch-host") {}

    void TearDown() override
    {
        PdfMode = 3;
        PdfHookActive = 0;
        OverwriteFlags = OverwriteSwitches{};
        ModuleHostTest::TearDown();
    }

    void StartAt(const std::string& settings = "")
    {
        Start(settings);
        host->application.clockFrozen = true;
        host->application.clock = XTClockRec{2026, 3, 4, 5, 6, 7};
    }

    std::string CopyExample(const std::string& name)
    {
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/documents" / name, app / name);
        return (app / name).string();
    }

    // A job from a copy of the example to target, set up as the folder runs do.
    void Job(const std::string& example, const std::string& target)
    {
        CurrentJob->Reset();
        CurrentJob->kind = ConversionKind::ToPdf;
        CurrentJob->SetFileTypes();
        ASSERT_EQ(CurrentJob->source.SetPath(CopyExample(example)), 0);
        ASSERT_EQ(CurrentJob->target.SetPath(target), 0);
    }

    bool ProjectOpen()
    {
        XTHandle project = 0;
        return CallHost<XPK_CurrentProject>(&project) == XT_OK;
    }

    std::string Transcript() { return host->Log().Text(); }

    std::string Block(const std::string& source, const std::string& target)
    {
        return "\n" + kStars + "\n2026-03-04 05:06:07\nStarting PDF creation ...\n" + Field("Source:", 10) +
               Field(source, 70) + "\n" + Field("Target:", 10) + Field(target, 70) + "\n";
    }

    void InjectExport(int32_t answer)
    {
        xthost::FaultRule rule;
        rule.key = "XPDF/1";
        rule.value = answer;
        host->Faults().Add(rule);
    }
};

TEST_F(PdfCreationTest, ThePdfIsWrittenAndTheBlockLogged)
{
    StartAt("[Options]\npdfOutputStyle=1\n");
    ASSERT_EQ(PreparePdfMode(3), 1);
    PdfMode = 1;
    const std::string target = (app / "out" / "geometry.pdf").string();
    fs::create_directories(app / "out");
    Job("geometry.qxp", target);
    const std::string source = CurrentJob->GetSource().GetPath();
    const std::string before = GeneralLog();

    EXPECT_TRUE(CreatePdf(false));
    EXPECT_EQ(PdfHookActive, 0);
    EXPECT_FALSE(ProjectOpen());
    EXPECT_EQ(GeneralLog().substr(before.size()),
              Block(source, target) + "2026-03-04 05:06:07\n... finished.\n" + kStars + "\n");
    EXPECT_EQ(kesto_test::PdfInfoField(target, "Title"), "Kesto Output - better resolution");
    EXPECT_EQ(kesto_test::PdfInfoField(target, "Pages"), "2");
    // Only the PDF is left: the host's log beside it is gone.
    EXPECT_EQ(Snapshot(app / "out").size(), 1u);
}

// The block leaves the shared log's alignment as it found it, and the run's progress is drawn
// again once the host's export is done.
TEST_F(PdfCreationTest, TheBlockLeavesTheLogAlignedAsFoundAndRedrawsTheRunsProgress)
{
    StartAt();
    ASSERT_EQ(PreparePdfMode(3), 1);
    PdfMode = 1;
    fs::create_directories(app / "out");
    Job("geometry.qxp", (app / "out" / "geometry.pdf").string());
    const ConversionProgressScope progress;
    ShowConversionProgress(progress.Dialog(), 3, 2, "geometry", ConversionKind::ToPdf);
    const std::string shown = "Export to PDF -> analysing file 2 of 3";
    const int before = kesto_test::CountOf(Transcript(), shown);

    EXPECT_TRUE(CreatePdf(false));
    EXPECT_EQ(kesto_test::CountOf(Transcript(), shown), before + 1) << Transcript();
    EXPECT_FALSE(GeneralLogStream().flags() & std::ios::left);
}

TEST_F(PdfCreationTest, TheAsGivenHostGetsTheNameWithItsExtension)
{
    StartAt("[Options]\npdfOutputStyle=2\n");
    xthost::PdfOf(*host).naming = xthost::PdfNaming::AsGiven;
    ASSERT_EQ(PreparePdfMode(3), 2);
    PdfMode = 2;
    const std::string target = (app / "geometry.pdf").string();
    Job("geometry.qxp", target);
    EXPECT_TRUE(CreatePdf(false));
    EXPECT_EQ(kesto_test::PdfInfoField(target, "Title"), "Kesto Output - normal resolution");
    EXPECT_FALSE(fs::exists(app / "geometry"));
    EXPECT_FALSE(fs::exists(app / "geometry_pdf.log"));
}

// pdfOutputStyle 1 to 3 choose the module's styles, 0 the host's default.
class PdfStyleTest : public PdfCreationTest, public ::testing::WithParamInterface<int> {};

TEST_P(PdfStyleTest, TheStyleSetsTitleAndMonochromeResolution)
{
    const int n = GetParam();
    StartAt("[Options]\npdfOutputStyle=" + std::to_string(n) + "\n");
    PdfMode = PreparePdfMode(3);
    ASSERT_EQ(PdfMode, 1);
    const std::string target = (app / "g.pdf").string();
    Job("geometry.qxp", target);
    ASSERT_TRUE(CreatePdf(false));
    const std::array<const char*, 4> titles = {"geometry.qxp", "Kesto Output - better resolution",
                                               "Kesto Output - normal resolution", "Kesto Output - lower resolution"};
    const std::array<int, 4> mono = {144, 144, 144, 72};
    EXPECT_EQ(kesto_test::PdfInfoField(target, "Title"), titles[static_cast<size_t>(n)]);
    const std::vector<int> ppi = kesto_test::PdfPictureResolutions(target);
    ASSERT_FALSE(ppi.empty());
    EXPECT_EQ(ppi[0], mono[static_cast<size_t>(n)]);
    if (n == 0) {
        EXPECT_NE(Transcript().find(std::string("pdf.style \"") + xthost::doc::kDefaultPdfStyleName + "\""),
                  std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Styles, PdfStyleTest, ::testing::Values(0, 1, 2, 3));

TEST_F(PdfCreationTest, AnExistingTargetIsKeptWhileItsSwitchIsOff)
{
    StartAt();
    PdfMode = 1;
    const std::string target = (app / "kept.pdf").string();
    std::ofstream(target, std::ios::binary) << "an older PDF";
    Job("minimal.qxp", target);
    const std::string source = CurrentJob->GetSource().GetPath();
    const size_t exports = CountCalls("XPDF/1");
    const std::string before = GeneralLog();

    OverwriteFlags.pdf = false;
    EXPECT_FALSE(CreatePdf(false));
    EXPECT_EQ(Calls(exports), 0);
    EXPECT_FALSE(ProjectOpen());
    EXPECT_EQ(PdfHookActive, 0);
    EXPECT_EQ(kesto_test::ReadText(target), "an older PDF");
    EXPECT_EQ(GeneralLog().substr(before.size()),
              Block(source, target) + Field("WARNING:", 10) + Field("Target already exists!", 70) + "\n" +
                  Field("NOTICE:", 10) + Field("Overwrite mode disabled by user.", 70) + "\n" + Field(" => ", 10) +
                  Field("Skipping PDF creation.", 70) + "\n");

    // With the switch on the host's export replaces it.
    OverwriteFlags.pdf = true;
    EXPECT_TRUE(CreatePdf(false));
    EXPECT_EQ(Calls(exports), 1);
    EXPECT_EQ(kesto_test::ReadText(target).rfind("%PDF", 0), 0u);
}

TEST_F(PdfCreationTest, ASourceTheHostCannotOpenIsSkipped)
{
    StartAt();
    const std::string target = (app / "broken.pdf").string();
    std::ofstream(app / "broken.qxp") << "not a document";
    CurrentJob->Reset();
    ASSERT_EQ(CurrentJob->source.SetPath((app / "broken.qxp").string()), 0);
    ASSERT_EQ(CurrentJob->target.SetPath(target), 0);
    const std::string before = GeneralLog();
    EXPECT_FALSE(CreatePdf(false));
    EXPECT_EQ(PdfHookActive, 0);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(GeneralLog().substr(before.size()),
              Block((app / "broken.qxp").string(), target) + Field("ERROR:", 10) +
                  Field("Unable to open apparently invalid source file!", 70) + "\n" + Field(" => ", 10) +
                  Field("Skipping PDF creation.", 70) + "\n");

    // Nothing is logged in the probe's own creation.
    const std::string probeBefore = GeneralLog();
    EXPECT_FALSE(CreatePdf(true));
    EXPECT_EQ(GeneralLog(), probeBefore);
}

TEST_F(PdfCreationTest, AnExportThatWritesNothingIsNoSuccess)
{
    StartAt();
    PdfMode = 1;
    const std::string target = (app / "minimal.pdf").string();
    Job("minimal.qxp", target);
    const std::string failed = Field("ERROR:", 10) + Field("PDF creation failed!", 70) + "\n";

    // The export answers 0 but writes nothing.
    InjectExport(0);
    std::string before = GeneralLog();
    EXPECT_FALSE(CreatePdf(false));
    EXPECT_FALSE(ProjectOpen());
    EXPECT_NE(GeneralLog().substr(before.size()).find(failed), std::string::npos);

    // An older PDF at the target does not pass for the new one.
    std::ofstream(target, std::ios::binary) << "%PDF- an older one";
    OverwriteFlags.pdf = true;
    CurrentJob->target.SetPath(target);
    EXPECT_FALSE(CreatePdf(false));
    EXPECT_EQ(kesto_test::ReadText(target), "%PDF- an older one");

    // The export fails.
    host->Faults().Clear();
    InjectExport(XT_ERR_PARAM);
    fs::remove(target);
    CurrentJob->target.SetPath(target);
    before = GeneralLog();
    EXPECT_FALSE(CreatePdf(false));
    EXPECT_EQ(PdfHookActive, 0);
    EXPECT_NE(GeneralLog().substr(before.size()).find(failed), std::string::npos);
}

TEST_F(PdfCreationTest, OnlyTheProbeModeProbes)
{
    StartAt();
    const size_t projects = CountCalls("XPK14/105");
    EXPECT_EQ(PreparePdfMode(0), 0);
    EXPECT_EQ(PreparePdfMode(2), 0);
    EXPECT_EQ(PreparePdfMode(1), 3);
    EXPECT_EQ(PreparePdfMode(7), 3);
    EXPECT_EQ(Calls(projects), 0);
}

// The probe: its outcome by the host's naming, and no trace of it anywhere.
class PdfProbeTest : public PdfCreationTest {
protected:
    void SetUp() override
    {
        PdfCreationTest::SetUp();
        StartAt();
        // A folder run's PDF folder that happens to hold files of the probe's names.
        fs::create_directories(app / "pdf");
        *PdfTargetFolder = (app / "pdf").string();
        std::ofstream(app / "pdf" / "dummy.pdf", std::ios::binary) << "%PDF- the user's own";
        std::ofstream(app / "pdf" / "dummy.qxp", std::ios::binary) << "the user's document";
        std::ofstream(app / "pdf" / "dummy", std::ios::binary) << "the user's file";
        CurrentJob->Reset();
        CurrentJob->kind = ConversionKind::ToPdf;
        CurrentJob->source.SetPath((app / "in.qxp").string());
        CurrentJob->target.SetPath((app / "pdf" / "in.pdf").string());
        fs::create_directories(host->TempFolder());
        appBefore = Files(app);
        tempBefore = Files(host->TempFolder());
    }

    void TearDown() override
    {
        PdfTargetFolder->clear();
        PdfCreationTest::TearDown();
    }

    // Nothing changed but the module's style files in the host's temporary folder.
    void ExpectNoTrace()
    {
        EXPECT_EQ(Files(app), appBefore);
        EXPECT_EQ(Files(host->TempFolder()), tempBefore);
        EXPECT_FALSE(ProjectOpen());
        EXPECT_EQ(PdfHookActive, 0);
        EXPECT_EQ(CurrentJob->GetSource().GetPath(), (app / "in.qxp").string());
        EXPECT_EQ(CurrentJob->GetTarget().GetPath(), (app / "pdf" / "in.pdf").string());
        EXPECT_EQ(GeneralLog().find("Starting PDF creation"), std::string::npos);
    }

    // The files of a folder, without the host's temporary folder, the style files in it and the
    // host's font cache that the first PDF of a process sets up there.
    std::vector<std::pair<std::string, std::string>> Files(const fs::path& folder)
    {
        const fs::path temp = host->TempFolder();
        std::vector<std::pair<std::string, std::string>> files;
        for (auto& file : Snapshot(folder)) {
            const fs::path path = folder / file.first;
            const std::string inTemp = path.lexically_relative(temp).string();
            if (path == temp || inTemp.rfind("KS_PdfStyle_", 0) == 0 || inTemp.rfind("fontconfig", 0) == 0)
                continue;
            files.push_back(file);
        }
        return files;
    }

    std::vector<std::pair<std::string, std::string>> appBefore, tempBefore;
};

TEST_F(PdfProbeTest, AHostThatAddsTheExtensionGivesOne)
{
    EXPECT_EQ(PreparePdfMode(3), 1);
    ExpectNoTrace();
    for (const char* style : {"Kesto High", "Kesto Medium", "Kesto Low"})
        EXPECT_TRUE(PdfOutputStyleExists(style)) << style;
    EXPECT_NE(Transcript().find("project.new layout=\"Dummy Print Layout\" type=XDOC"), std::string::npos);
}

TEST_F(PdfProbeTest, AHostThatWritesTheNameAsGivenGivesTwo)
{
    xthost::PdfOf(*host).naming = xthost::PdfNaming::AsGiven;
    EXPECT_EQ(PreparePdfMode(3), 2);
    ExpectNoTrace();
}

TEST_F(PdfProbeTest, AnExportThatWritesNothingGivesZero)
{
    InjectExport(0);
    EXPECT_EQ(PreparePdfMode(3), 0);
    ExpectNoTrace();
}

TEST_F(PdfProbeTest, AProjectThatCannotBeSavedGivesZero)
{
    xthost::FaultRule rule;
    rule.key = "XDD9/116";
    rule.value = XT_ERR_PARAM;
    host->Faults().Add(rule);
    EXPECT_EQ(PreparePdfMode(3), 0);
    ExpectNoTrace();
}

// A host killed during its probe left its folder; the next probe of a process removes the probe
// folders that nobody holds, whatever process id their names carry (process 1, a running one),
// and keeps one that a running host holds, also when its id names no process here (a host in
// another pid namespace sharing the temporary folder).
TEST_F(PdfProbeTest, TheProbeRemovesTheProbeFoldersThatNobodyHolds)
{
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    const fs::path temp = host->TempFolder();
    const std::string held = "KS_PdfProbe_" + std::to_string(gone) + "_1_0";
    const std::vector<std::string> left = {"KS_PdfProbe_" + std::to_string(gone) + "_2_0", "KS_PdfProbe_1_3_0",
                                           "KS_PdfProbe_" + std::to_string(::getppid()) + "_4_0"};
    for (const auto& names : {left, std::vector<std::string>{held}})
        for (const std::string& name : names) {
            fs::create_directories(temp / name);
            std::ofstream(temp / name / ".kesto.lock");
            std::ofstream(temp / name / "dummy.qxp") << "left by a killed probe";
        }
    // A link of the probe's form stays, and is never followed.
    const std::string link = "KS_PdfProbe_" + std::to_string(gone) + "_5_0";
    fs::create_directory_symlink(temp / held, temp / link);
    const int holder = ::open((temp / held / ".kesto.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_EQ(PreparePdfMode(3), 1);
    ::close(holder);
    for (const std::string& name : left)
        EXPECT_FALSE(fs::exists(temp / name)) << name;
    EXPECT_EQ(kesto_test::ReadText(temp / held / "dummy.qxp"), "left by a killed probe");
    EXPECT_TRUE(fs::is_symlink(temp / link));
}

} // namespace
