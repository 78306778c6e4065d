// Runs part of a test as another account: the tests run as root, and shared folders are about
// the users who meet in them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#define KESTO_SKIP_UNLESS_ROOT() \
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as other accounts"

namespace kesto_test {

// A user id and its groups, the first one its own; root when uid is 0 and there are none.
struct Account { uid_t uid = 0; std::vector<gid_t> groups; };

// What fn answers when it runs in a child process as the account.
inline std::string AsAccount(const Account& as, const std::function<std::string()>& fn)
{
    int pipe[2];
    if (::pipe(pipe) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        std::string out = "cannot become the user";
        if (::setgroups(as.groups.size(), as.groups.data()) == 0 &&
            ::setgid(as.groups.empty() ? as.uid : as.groups[0]) == 0 && ::setuid(as.uid) == 0)
            out = fn();
        ::_exit(::write(pipe[1], out.data(), out.size()) == static_cast<ssize_t>(out.size()) ? 0 : 1);
    }
    ::close(pipe[1]);
    std::string out;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, std::size_t(n));
    ::close(pipe[0]);
    ::waitpid(child, nullptr, 0);
    return out;
}

// The id of a process that has ended, which no live process holds.
inline pid_t GonePid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    return ::waitpid(child, nullptr, 0);
}

// Gives path (a link itself, not what it names) to the user and group, with the mode.
inline void Own(const std::filesystem::path& path, uid_t uid, gid_t gid, mode_t mode)
{
    ASSERT_EQ(::lchown(path.c_str(), uid, gid), 0) << path;
    if (!std::filesystem::is_symlink(path)) {
        ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
    }
}

// Gives the folder and everything below it (links themselves) to the user and group.
inline void GiveAll(const std::filesystem::path& folder, uid_t uid, gid_t gid)
{
    ASSERT_EQ(::chown(folder.c_str(), uid, gid), 0) << folder;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        ASSERT_EQ(::lchown(entry.path().c_str(), uid, gid), 0) << entry.path();
}

} // namespace kesto_test
