// Batch jobs through xthost on a file system that keeps only what was synced, and a power cut
// right after the job's end: everything the job reported is on the disk, whole, with its mode.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Plugin/Batch/SyncedOnlyMount.h"

namespace {

namespace fs = std::filesystem;
using kesto_test::ReadText;

class PowerCutRun : public kesto_test::AppFolderTest {
protected:
    PowerCutRun() : AppFolderTest("power-cut") {}
    void SetUp() override
    {
        AppFolderTest::SetUp();
        disk = std::make_unique<kesto_test::SyncedOnlyMount>(app);
        live = disk->live;
        mnt = disk->mnt;
        fs::create_directories(live / "app/XTensions");
        fs::create_directories(live / "app/Batch");
    }

    // Runs xthost on the script in the mounted app folder and cuts the power once it has ended or
    // stopped at a "stop-at" point (killed there). False when nothing can be mounted here.
    bool RunThenCut(const std::string& script)
    {
        std::ofstream(live / "app/run.xts") << script;
        if (!disk->Mount())
            return false;
        const pid_t host = ::fork();
        if (host == 0) {
            const int quiet = ::open("/dev/null", O_WRONLY);
            if (::dup2(quiet, 1) >= 0 && ::dup2(quiet, 2) >= 0 && ::chdir((mnt / "app").c_str()) == 0)
                ::execl(XTHOST_PROGRAM, XTHOST_PROGRAM, "--app", ".", "--module", KESTO_MODULE, "--script", "run.xts",
                        static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = -1;
        EXPECT_EQ(::waitpid(host, &status, WUNTRACED), host);
        stopped = WIFSTOPPED(status);
        if (stopped) {
            ::kill(host, SIGKILL);
            ::waitpid(host, nullptr, 0);
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the host run failed";
        }
        disk->Cut();
        return true;
    }

    std::unique_ptr<kesto_test::SyncedOnlyMount> disk;
    fs::path live, mnt;
    bool stopped = false;   // the last run stopped at its stop-at point
    const fs::path examples = fs::path(KESTO_SOURCE_DIR) / "examples";
};

struct PowerCutCase {
    const char* name;
    const char* mode;     // the job's Mode
    const char* source;   // its Source, in the mounted folder
    // The keys of its [Path] that name the folders receiving its results, with those folders.
    std::vector<std::pair<const char*, const char*>> results;
};

class PowerCutJobTest : public PowerCutRun, public ::testing::WithParamInterface<PowerCutCase> {};

// A job writes its results into folders and a subfolder, replacing an earlier one, and archives its
// status file; after a power cut the archive and every result are there, whole and with their mode.
TEST_P(PowerCutJobTest, EveryResultTheJobReportedIsThereWhole)
{
    const PowerCutCase& c = GetParam();
    fs::create_directories(live / "in/sub");
    fs::create_directories(live / "dwq/sub");
    fs::copy_file(examples / "documents/minimal.qxp", live / "in/report.qxp");
    fs::copy_file(examples / "documents/minimal.qxp", live / "in/sub/doc.qxp");
    fs::copy_file(examples / "app/Folders/Translated/report.dwq", live / "dwq/report.dwq");
    fs::copy_file(live / "dwq/report.dwq", live / "dwq/sub/doc.dwq");
    std::string paths;
    for (const auto& [key, folder] : c.results) {
        paths += std::string(key) + "=" + (mnt / folder).string() + "\n";
        fs::create_directories(live / folder);
    }
    // An earlier result that the job replaces.
    const bool exporting = std::string(c.mode) == "Export";
    fs::copy_file(live / (exporting ? "dwq/report.dwq" : "in/report.qxp"),
                  live / c.results.front().second / (exporting ? "report.dwq" : "report.qxp"));
    std::ofstream(live / "app/XTensions/kesto.ini")
        << "[Path]\nBatchFilePath=" << (mnt / "app/Batch/batch.ini").string()
        << "\n[Options]\nmapSourceFoldersToTarget=True\n";
    std::ofstream(live / "app/Batch/batch.ini")
        << "[General]\nMode=" << c.mode << "\nRecursive=True\n[Path]\nSource=" << (mnt / c.source).string() << "\n"
        << paths << "[Status]\nActive=True\n";
    SKIP_UNLESS_MOUNTED(RunThenCut("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n"));

    // The job reported its end: its status file is gone and its archive written.
    ASSERT_FALSE(fs::exists(live / "app/Batch/batch.ini")) << ReadText(live / "app/KestoLogfile.txt");
    int results = disk->ExpectKept("app/Batch/batch.ini_20061205083007");
    for (const auto& [key, folder] : c.results)
        results += disk->ExpectKept(folder);
    EXPECT_GE(results, 3) << ReadText(live / "app/KestoLogfile.txt");
}

// The menu's export says "Export done" only once its exchange file is on the disk.
TEST_F(PowerCutRun, TheMenuExportsResultIsThereWholeOnceItSaysDone)
{
    fs::copy(examples / "app", live / "app", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    fs::copy_file(examples / "documents/export.qxp", live / "app/export.qxp");
    SKIP_UNLESS_MOUNTED(RunThenCut("stop-at XCF5/2\n" + ReadText(examples / "app/scripts/export.xts")));
    disk->ExpectKept("app/export.dwq");
}

// A settings save that no report follows (a folder the dialog remembers) is on the disk once
// the host has quit.
TEST_F(PowerCutRun, ASettingsSaveIsOnTheDiskOnceTheHostHasQuit)
{
    fs::copy(examples / "app", live / "app", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    SKIP_UNLESS_MOUNTED(RunThenCut("start\nmenu \"Export multiple documents\"\n"
                                   "folder \"Browse for Source Folder with QXP files\" Folders/Books\n"
                                   "dialog 108\n  press 1005\nquit\n"));
    ASSERT_NE(ReadText(live / "app/XTensions/kesto.ini").find((mnt / "app/Folders/Books").string()), std::string::npos);
    disk->ExpectKept("app/XTensions/kesto.ini");
}

// The power is cut before each sync of a folder in a batch job, whose results go to a folder
// beside its status folder whose name comes after it: whatever Count the status file or its
// archive keeps, as many results are kept whole.
TEST_F(PowerCutRun, NoCountKeptIsAheadOfTheResultsItCounts)
{
    int step = 0;
    for (; step < 60; ++step) {
        const std::string at = "step " + std::to_string(step);
        disk = std::make_unique<kesto_test::SyncedOnlyMount>(app / ("step-" + std::to_string(step)));
        live = disk->live, mnt = disk->mnt;
        for (const char* folder : {"app/XTensions", "app/Batch", "app/Translated", "in"})
            fs::create_directories(live / folder);
        for (const char* name : {"a.qxp", "b.qxp", "c.qxp"})
            fs::copy_file(examples / "documents/minimal.qxp", live / "in" / name);
        std::ofstream(live / "app/XTensions/kesto.ini") << "[Path]\nBatchFilePath=" << (mnt / "app/Batch/batch.ini").string()
                                                       << "\n";
        std::ofstream(live / "app/Batch/batch.ini") << "[General]\nMode=Export\n[Path]\nSource=" << (mnt / "in").string()
                                                    << "\nTarget=" << (mnt / "app/Translated").string() << "\n";
        SKIP_UNLESS_MOUNTED(RunThenCut("clock 2006-12-05 08:30:07\nstop-at fsync.folder after " + std::to_string(step) +
                                       "\nstart\nidle 3\nquit\n"));
        int whole = 0;
        for (const char* name : {"a.dwq", "b.dwq", "c.dwq"})
            whole += fs::exists(disk->cut / "app/Translated" / name) &&
                     ReadText(disk->cut / "app/Translated" / name) == ReadText(live / "app/Translated" / name);
        for (const char* kept : {"app/Batch/batch.ini", "app/Batch/batch.ini_20061205083007"}) {
            const std::string text = ReadText(disk->cut / kept);
            const std::size_t count = text.find("Count=");
            if (count != std::string::npos) {
                EXPECT_LE(std::stoi(text.substr(count + 6)), whole) << at << ": " << kept << "\n" << text;
            }
        }
        if (!stopped)
            break;   // the job ended before this step: every step was tried
    }
    EXPECT_GT(step, 3);
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, PowerCutJobTest,
    ::testing::Values(
        PowerCutCase{"Export", "Export", "in", {{"Target", "Translated"}, {"PdfDir", "pdf"}}},
        PowerCutCase{"Import", "Import", "dwq", {{"Target", "back"}}}),
    [](const ::testing::TestParamInfo<PowerCutCase>& info) { return std::string(info.param.name); });

} // namespace
