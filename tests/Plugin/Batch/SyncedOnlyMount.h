// A folder mounted through the synced-only file system (SyncedOnlyFs.c), which keeps only what
// was synced, for tests that cut the power after a run.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Plugin/Shell/AppFolderTest.h"

#define SKIP_UNLESS_MOUNTED(mounted) \
    if (!(mounted)) \
    GTEST_SKIP() << "no synced-only file system can be mounted here (libfuse3, /dev/fuse and root are needed)"

namespace kesto_test {

// root/live, mounted at root/mnt once Mount() succeeds; Cut() (or the end of the object) cuts the
// power: root/cut then holds what a restart would find.
class SyncedOnlyMount {
public:
    using Path = std::filesystem::path;

    explicit SyncedOnlyMount(const Path& root) : live(root / "live"), mnt(root / "mnt"), cut(root / "cut")
    {
        for (const Path& folder : {live, mnt, cut})
            std::filesystem::create_directories(folder);
    }
    ~SyncedOnlyMount() { Cut(); }

    // What live holds now is on the disk from the start. False where nothing can be mounted.
    bool Mount()
    {
#ifdef SYNCED_ONLY_FS
        if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
            return false;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::execl(SYNCED_ONLY_FS, SYNCED_ONLY_FS, live.c_str(), mnt.c_str(), cut.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500 && !Mounted(); ++i) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
#endif
        return Mounted();
    }
    bool Mounted() const { return ReadText("/proc/self/mounts").find(" " + mnt.string() + " fuse") != std::string::npos; }
    void Cut()
    {
        if (m_pid <= 0)
            return;
        ::umount2(mnt.c_str(), MNT_DETACH);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

    // Every file at or under path (relative to live, hidden files left out) is in cut as the run
    // left it in live: whole and with its mode. Answers how many.
    int ExpectKept(const Path& path) const
    {
        namespace fs = std::filesystem;
        std::vector<Path> files{path};
        if (fs::is_directory(live / path)) {
            files.clear();
            for (const auto& entry : fs::recursive_directory_iterator(live / path))
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                    files.push_back(fs::relative(entry.path(), live));
        }
        for (const Path& file : files) {
            struct stat was {}, kept {};
            EXPECT_EQ(::stat((live / file).c_str(), &was), 0) << file << " was not written";
            if (::stat((cut / file).c_str(), &kept) != 0) {
                ADD_FAILURE() << file << " is lost";
                continue;
            }
            EXPECT_EQ(kept.st_mode & 07777, was.st_mode & 07777)
                << file << " lost its mode (octal " << std::oct << (kept.st_mode & 07777) << ")";
            EXPECT_EQ(ReadText(cut / file), ReadText(live / file)) << file << " is not whole";
        }
        return static_cast<int>(files.size());
    }

    const Path live, mnt, cut;

private:
    pid_t m_pid = -1;
};

} // namespace kesto_test
