// Batch runs through xthost and Kesto.so that die: the host stops itself at a named point of a
// writer (its fault plan's stop-at) and the test kills it with SIGKILL, as a crash would. Every
// target is then its earlier content, a whole new result or absent; the next run removes what
// the killed one left. Also names as long as the system allows, and the modes of saved files.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Plugin/Shell/AppFolderTest.h"
#include "platform/fs/TempFiles.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/storage/CompoundFile.h"

namespace {

namespace fs = std::filesystem;
using kesto_test::ReadText;

enum class Job { Export, Import };

struct KillPoint {
    const char* name;
    Job job;
    const char* point;   // where the host stops
    int after;           // how many times it passes the point first
};

std::ostream& operator<<(std::ostream& out, const KillPoint& k)
{
    return out << k.name;
}

mode_t ModeOf(const fs::path& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// A whole result of its kind: an exchange file that opens, a PDF with its end, a host document
// that reads.
bool Whole(const fs::path& path)
{
    const std::string ext = path.extension().string();
    if (ext == ".dwq") {
        std::shared_ptr<cfb::File> file;
        return SUCCEEDED(cfb::File::openForReading(path.string(), false, file));
    }
    if (ext == ".pdf") {
        const std::string text = ReadText(path);
        return text.rfind("%PDF-", 0) == 0 && text.find("%%EOF", text.size() > 64 ? text.size() - 64 : 0) !=
                                                   std::string::npos;
    }
    if (ext == ".qxp") {
        try {
            return xthost::doc::ReadDocumentFile(path.string()) != nullptr;
        } catch (...) {
            return false;
        }
    }
    return false;
}

// Temporary files of the module's or the host's writers below the folder.
std::vector<std::string> TempFilesBelow(const fs::path& folder)
{
    std::vector<std::string> found;
    if (!fs::exists(folder))
        return found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        pid_t owner = 0;
        if (platform::fs::ParseTempName(name, platform::fs::kTempSuffix, owner) ||
            platform::fs::ParseTempName(name, xthost::doc::kHostTempSuffix, owner) ||
            name.rfind("KS_PdfProbe_", 0) == 0 || (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0))
            found.push_back(entry.path().string());
    }
    return found;
}

class CrashRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/')
                c = '_';
        app = fs::path(KESTO_BINARY_DIR) / "test-tmp" / "crash-runs" / name;
        fs::remove_all(app);
        fs::create_directories(app / "XTensions");
        fs::create_directories(app / "Batch");
        std::ofstream(app / "XTensions" / "kesto.ini") << "[Path]\nBatchFilePath=" << BatchFile() << "\n";
        fs::copy(fs::path(KESTO_SOURCE_DIR) / "examples/app/Folders/Books", app / "in", fs::copy_options::recursive);
        fs::create_directories(app / "out");
        fs::create_directories(app / "pdf");
    }

    std::string BatchFile() const { return (app / "Batch" / "batch.ini").string(); }

    // The controller writes the job (again, after a crash).
    void WriteJob(Job job, const fs::path& source, const fs::path& target, const fs::path& pdf = {})
    {
        fs::remove(BatchFile());
        std::ofstream(BatchFile()) << "[General]\nMode=" << (job == Job::Export ? "Export" : "Import")
                                   << "\nRecursive=True\n[Path]\nSource=" << source.string()
                                   << "\nTarget=" << target.string() << "\nPdfDir=" << pdf.string() << "\n";
    }

    // Starts the host on the batch; with a stop point, kills it there. Answers how it ended:
    // "stopped" (and killed), "exit N" or "signal N".
    std::string Run(const std::string& stop = std::string())
    {
        std::ofstream(app / "run.xts") << stop << "start\nidle 3\nquit\n";
        const pid_t child = ::fork();
        if (child == 0) {
            if (::chdir(app.c_str()) != 0)
                ::_exit(126);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl(XTHOST_PROGRAM, XTHOST_PROGRAM, "--app", ".", "--module", KESTO_MODULE, "--script", "run.xts",
                    "--quiet", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(child, &status, WUNTRACED);
        if (WIFSTOPPED(status)) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return "stopped";
        }
        return WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                 : "signal " + std::to_string(WTERMSIG(status));
    }

    // Every regular file below the folder with its bytes.
    static std::map<fs::path, std::string> Contents(const fs::path& folder)
    {
        std::map<fs::path, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file())
                files[entry.path()] = ReadText(entry.path());
        return files;
    }

    // Each target below the folder is its earlier content or a whole result; temporary files
    // are not looked at here.
    static void ExpectOnlyWholeOrEarlier(const fs::path& folder, const std::map<fs::path, std::string>& earlier,
                                         const std::string& when)
    {
        for (const auto& [path, bytes] : Contents(folder)) {
            pid_t owner = 0;
            const std::string name = path.filename().string();
            if (platform::fs::ParseTempName(name, platform::fs::kTempSuffix, owner) ||
                platform::fs::ParseTempName(name, xthost::doc::kHostTempSuffix, owner) || name.rfind('.', 0) == 0)
                continue;
            const auto old = earlier.find(path);
            if (old != earlier.end() && old->second == bytes)
                continue;
            EXPECT_FALSE(bytes.empty()) << when << ": empty " << path;
            EXPECT_TRUE(Whole(path)) << when << ": partial " << path << " (" << bytes.size() << " bytes)";
        }
    }

    fs::path app;
};

class KillPointTest : public CrashRunTest, public ::testing::WithParamInterface<KillPoint> {};

// The host is killed at one point of a run; after the controller starts the job again, every
// target is whole and nothing of the killed run is left, in the target folders, beside the
// source documents or in the host's temporary folder.
TEST_P(KillPointTest, TargetsAreWholeOrAsBeforeAndTheNextRunLeavesNoTemporaryFile)
{
    const KillPoint& kill = GetParam();
    fs::path source = app / "in";
    fs::path target = app / "out";
    if (kill.job == Job::Import) {
        // The exchange files of an earlier export are the import's sources; one target holds
        // an earlier document.
        WriteJob(Job::Export, app / "in", app / "dwq");
        ASSERT_EQ(Run(), "exit 0");
        source = app / "dwq";
        fs::copy_file(app / "in" / "report.qxp", target / "report.qxp");
    } else {
        // Earlier results of both kinds; the other targets are new.
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/batch/earlier-run/report.dwq", target / "report.dwq");
        std::ofstream(app / "pdf" / "report.pdf") << "%PDF-1.4 an earlier PDF\n%%EOF\n";
    }
    const auto earlier = Contents(app);
    WriteJob(kill.job, source, target, kill.job == Job::Export ? app / "pdf" : fs::path());
    ASSERT_EQ(Run("stop-at " + std::string(kill.point) + " after " + std::to_string(kill.after) + "\n"), "stopped")
        << kill.point << " was never reached";
    for (const char* folder : {"in", "out", "pdf"})
        ExpectOnlyWholeOrEarlier(app / folder, earlier, "after the kill");

    WriteJob(kill.job, source, target, kill.job == Job::Export ? app / "pdf" : fs::path());
    ASSERT_EQ(Run(), "exit 0");
    for (const char* folder : {"in", "out", "pdf"})
        ExpectOnlyWholeOrEarlier(app / folder, earlier, "after the next run");
    for (const char* folder : {"in", "out", "pdf", "Temp"})
        EXPECT_EQ(TempFilesBelow(app / folder), std::vector<std::string>()) << folder;
    // The next run made every target.
    const std::vector<fs::path> made =
        kill.job == Job::Export
            ? std::vector<fs::path>{target / "report.dwq", target / "News" / "front.dwq", app / "pdf" / "report.pdf"}
            : std::vector<fs::path>{target / "report.qxp", target / "News" / "front.qxp"};
    for (const fs::path& path : made)
        EXPECT_TRUE(Whole(path)) << path;
}

// Points of the export's container (while the source document is read into it), of the host's
// saves (a file written beside its target, not yet renamed: the source document, the imported
// document), of the PDF writer (the probe's PDF, a real one) and of the import's work document.
INSTANTIATE_TEST_SUITE_P(
    Points, KillPointTest,
    ::testing::Values(KillPoint{"ExportContainer", Job::Export, "XFJ12/101", 1},
                      KillPoint{"ExportLaterContainer", Job::Export, "XFJ12/101", 4},
                      KillPoint{"ExportSourceSave", Job::Export, "file.written", 0},
                      KillPoint{"ProbePdf", Job::Export, "pdf.page", 0},
                      KillPoint{"TargetPdf", Job::Export, "pdf.page", 1},
                      KillPoint{"ImportWorkDocument", Job::Import, "XFJ12/105", 0},
                      KillPoint{"ImportSave", Job::Import, "file.written", 0}),
    [](const ::testing::TestParamInfo<KillPoint>& info) { return std::string(info.param.name); });

// The shipped example of a crash, as a user runs it: killed while an exchange file is written,
// and while a PDF is.
TEST_F(CrashRunTest, ShippedCrashExampleLeavesWholeTargetsAndNoTemporaryFile)
{
    for (const char* point : {"XFJ12/101 after 1", "pdf.page after 1"}) {
        const std::string command = "TMPDIR=" + app.string() + " bash " + KESTO_SOURCE_DIR +
                                    "/examples/batch/crash.sh " + KESTO_BINARY_DIR + " '" + point + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << point;
    }
}

// A document whose name is as long as the system allows is exported, its PDF made, and its
// source saved, although every temporary name is longer than the target's would be.
TEST_F(CrashRunTest, DocumentsWithTheLongestNamesAreExported)
{
    // Names of 249 and 255 bytes, the second with characters of two bytes.
    const std::vector<std::string> stems = {std::string(245, 'l'),
                                            std::string(241, 'm') + "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"};
    fs::create_directories(app / "long");
    for (const std::string& stem : stems)
        fs::copy_file(app / "in" / "report.qxp", app / "long" / (stem + ".qxp"));
    WriteJob(Job::Export, app / "long", app / "out", app / "pdf");
    ASSERT_EQ(Run(), "exit 0");
    for (const std::string& stem : stems) {
        EXPECT_TRUE(Whole(app / "out" / (stem + ".dwq"))) << stem.size() + 4;
        EXPECT_TRUE(Whole(app / "pdf" / (stem + ".pdf"))) << stem.size() + 4;
    }
    const std::string log = ReadText(app / "KestoLogfile.txt");
    EXPECT_EQ(log.find("FAILED"), std::string::npos) << log;
    EXPECT_EQ(TempFilesBelow(app), std::vector<std::string>());
}

// Saves keep the mode of the file they replace; new files get the process's default.
TEST_F(CrashRunTest, SavedFilesKeepTheirModes)
{
    fs::create_directories(app / "private");
    fs::copy_file(app / "in" / "report.qxp", app / "private" / "report.qxp");
    fs::copy_file(app / "in" / "a.b.qxp", app / "private" / "a.b.qxp");
    ::chmod((app / "private" / "report.qxp").c_str(), 0600);
    ::chmod((app / "private" / "a.b.qxp").c_str(), 0640);
    fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/batch/earlier-run/report.dwq", app / "out" / "report.dwq");
    ::chmod((app / "out" / "report.dwq").c_str(), 0600);
    const mode_t mask = ::umask(022);
    ::umask(mask);

    WriteJob(Job::Export, app / "private", app / "out", app / "pdf");
    ASSERT_EQ(Run(), "exit 0");
    EXPECT_EQ(ModeOf(app / "private" / "report.qxp"), 0600u);   // saved by the export
    EXPECT_EQ(ModeOf(app / "private" / "a.b.qxp"), 0640u);
    EXPECT_EQ(ModeOf(app / "out" / "report.dwq"), 0600u);       // replaced
    EXPECT_EQ(ModeOf(app / "out" / "a.b.dwq"), 0666u & ~mask);  // new
    EXPECT_EQ(ModeOf(app / "pdf" / "a.b.pdf"), 0666u & ~mask);

    // An import over a private document keeps it private.
    fs::create_directories(app / "back");
    fs::copy_file(app / "private" / "report.qxp", app / "back" / "report.qxp");
    ::chmod((app / "back" / "report.qxp").c_str(), 0600);
    fs::remove(app / "out" / "a.b.dwq");
    WriteJob(Job::Import, app / "out", app / "back");
    // Stopped while its saved document waits beside the target: no file of it is open to others.
    ASSERT_EQ(Run("stop-at file.written\n"), "stopped");
    for (const auto& entry : fs::directory_iterator(app / "back"))
        EXPECT_EQ(ModeOf(entry.path()), 0600u) << entry.path();
    WriteJob(Job::Import, app / "out", app / "back");
    ASSERT_EQ(Run(), "exit 0");
    ASSERT_TRUE(Whole(app / "back" / "report.qxp"));
    EXPECT_EQ(ModeOf(app / "back" / "report.qxp"), 0600u);
}

} // namespace
