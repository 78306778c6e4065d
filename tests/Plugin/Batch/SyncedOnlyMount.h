// A folder mounted through the synced-only file system (SyncedOnlyFs.c), which keeps only what
// was synced, for tests that cut the power after a run.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>
#include <thread>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Plugin/Shell/AppFolderTest.h"

namespace kesto_test {

// The live folder mounted through the synced-only file system while the object lives; its
// Cut() unmounts it, and the cut folder then holds what a restart would find.
class SyncedOnlyMount {
public:
    using Path = std::filesystem::path;

    SyncedOnlyMount(const Path& live, const Path& mount, const Path& cut) : m_mount(mount)
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
    Path m_mount;
    pid_t m_pid = -1;
};

// Every file at or under path (relative to live, its hidden files left out) is in cut as the run
// left it in live: whole and with its mode. Answers how many.
inline int ExpectKeptThroughCut(const std::filesystem::path& live, const std::filesystem::path& cut,
                                const std::filesystem::path& path)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    if (fs::is_directory(live / path)) {
        for (const auto& entry : fs::recursive_directory_iterator(live / path))
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                files.push_back(fs::relative(entry.path(), live));
    } else {
        files.push_back(path);
    }
    for (const fs::path& file : files) {
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

} // namespace kesto_test
