// Batch jobs through xthost on a file system that keeps only what was synced, and a power cut
// right after the job's end: everything the job reported is on the disk, whole, with its mode.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Plugin/Shell/AppFolderTest.h"

namespace {

namespace fs = std::filesystem;
using kesto_test::ReadText;

// The live folder mounted through the synced-only file system while the object lives; its
// Cut() unmounts it, and the cut folder then holds what a restart would find.
class SyncedOnlyMount {
public:
    SyncedOnlyMount(const fs::path& live, const fs::path& mount, const fs::path& cut) : m_mount(mount)
    {
#ifdef SYNCED_ONLY_FS
        if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::execl(SYNCED_ONLY_FS, SYNCED_ONLY_FS, live.c_str(), mount.c_str(), cut.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500 && !Mounted(); ++i) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
#else
        (void)live, (void)cut;
#endif
    }
    ~SyncedOnlyMount() { Cut(); }
    bool Mounted() const { return ReadText("/proc/self/mounts").find(" " + m_mount.string() + " fuse") != std::string::npos; }
    // The power goes: nothing more reaches the disk.
    void Cut()
    {
        if (m_pid <= 0)
            return;
        ::umount2(m_mount.c_str(), MNT_DETACH);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    fs::path m_mount;
    pid_t m_pid = -1;
};

struct PowerCutCase {
    const char* name;
    const char* mode;     // the job's Mode
    const char* source;   // its Source, in the mounted folder
    // The keys of its [Path] that name the folders receiving its results, with those folders.
    std::vector<std::pair<const char*, const char*>> results;
};

class PowerCutTest : public ::testing::TestWithParam<PowerCutCase> {
protected:
    void SetUp() override
    {
        root = fs::path(KESTO_BINARY_DIR) / "test-tmp" / "power-cut" / GetParam().name;
        ::umount2((root / "mnt").c_str(), MNT_DETACH);   // left by a run that crashed
        fs::remove_all(root);
        for (const char* folder : {"live/app/XTensions", "live/app/Batch", "live/in/sub", "live/dwq/sub", "mnt", "cut"})
            fs::create_directories(root / folder);
    }

    fs::path root;
};

// A job writes its results into folders (and a subfolder it makes there), replacing an earlier
// one, then archives its status file; the power goes right after. The restarted disk holds the
// archive and, whole and with its mode, every result that the job's folders held at its end.
TEST_P(PowerCutTest, EveryResultTheJobReportedIsThereWhole)
{
    const PowerCutCase& c = GetParam();
    const fs::path live = root / "live", mnt = root / "mnt";
    const fs::path documents = fs::path(KESTO_SOURCE_DIR) / "examples/documents";
    fs::copy_file(documents / "minimal.qxp", live / "in/report.qxp");
    fs::copy_file(documents / "minimal.qxp", live / "in/sub/doc.qxp");
    fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/app/Folders/Translated/report.dwq", live / "dwq/report.dwq");
    fs::copy_file(live / "dwq/report.dwq", live / "dwq/sub/doc.dwq");
    std::string paths;
    for (const auto& [key, folder] : c.results) {
        paths += std::string(key) + "=" + (mnt / folder).string() + "\n";
        fs::create_directories(live / folder);
    }
    // An earlier result that the job replaces.
    const auto& [key, first] = c.results.front();
    fs::copy_file(live / (std::string(c.mode) == "Export" ? "dwq/report.dwq" : "in/report.qxp"),
                  live / first / (std::string(c.mode) == "Export" ? "report.dwq" : "report.qxp"));
    std::ofstream(live / "app/XTensions/kesto.ini")
        << "[Path]\nBatchFilePath=" << (mnt / "app/Batch/batch.ini").string()
        << "\n[Options]\nmapSourceFoldersToTarget=True\n";
    std::ofstream(live / "app/Batch/batch.ini")
        << "[General]\nMode=" << c.mode << "\nRecursive=True\n[Path]\nSource=" << (mnt / c.source).string() << "\n"
        << paths << "[Status]\nActive=True\n";
    std::ofstream(live / "app/run.xts") << "clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n";

    SyncedOnlyMount disk(live, mnt, root / "cut");
    if (!disk.Mounted())
        GTEST_SKIP() << "no synced-only file system can be mounted here (libfuse3, /dev/fuse and root are needed)";
    const std::string command = "cd " + (mnt / "app").string() + " && " + XTHOST_PROGRAM + " --app . --module " +
                                KESTO_MODULE + " --script run.xts >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    disk.Cut();

    // The job reported its end: its status file is gone and its archive written.
    const std::string archive = "app/Batch/batch.ini_20061205083007";
    ASSERT_FALSE(fs::exists(live / "app/Batch/batch.ini")) << ReadText(live / "app/KestoLogfile.txt");
    EXPECT_EQ(ReadText(root / "cut" / archive), ReadText(live / archive));
    int results = 0;
    for (const auto& [key, folder] : c.results)
        for (const auto& entry : fs::recursive_directory_iterator(live / folder)) {
            if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.')
                continue;
            ++results;
            const fs::path after = root / "cut" / fs::relative(entry.path(), live);
            struct stat was {}, kept {};
            ASSERT_EQ(::stat(after.c_str(), &kept), 0) << after << " is lost";
            ASSERT_EQ(::stat(entry.path().c_str(), &was), 0);
            EXPECT_EQ(kept.st_mode & 07777, was.st_mode & 07777) << after << " lost its mode (octal " << std::oct
                                                                 << (kept.st_mode & 07777) << ")";
            EXPECT_EQ(ReadText(after), ReadText(entry.path())) << after << " is not whole";
        }
    EXPECT_GE(results, 2) << ReadText(live / "app/KestoLogfile.txt");
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, PowerCutTest,
    ::testing::Values(
        PowerCutCase{"Export", "Export", "in", {{"Target", "Translated"}, {"PdfDir", "pdf"}}},
        PowerCutCase{"Import", "Import", "dwq", {{"Target", "back"}}}),
    [](const ::testing::TestParamInfo<PowerCutCase>& info) { return std::string(info.param.name); });

} // namespace
