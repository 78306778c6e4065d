#include "platform/fs/TempFiles.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/NativeFS.h"

namespace platform::fs {

const char kTempSuffix[] = ".tmp";

namespace {

// A folder swept by this process is swept again only after this long: a folder run writes
// thousands of files into one folder, and each would read the whole folder again.
constexpr auto kSweepInterval = std::chrono::seconds(60);

std::string FolderPart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return path.substr(0, slash + 1);
}

std::string NamePart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Digits(const std::string& text, std::size_t from, std::size_t to)
{
    if (from >= to)
        return false;
    for (std::size_t i = from; i < to; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

bool SweepDue(const std::string& folder, const std::string& suffix)
{
    static std::mutex lock;
    static std::map<std::string, std::chrono::steady_clock::time_point> swept;
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard<std::mutex> hold(lock);
    auto [it, added] = swept.emplace(folder + '\0' + suffix, now);
    if (!added && now - it->second < kSweepInterval)
        return false;
    it->second = now;
    return true;
}

int LockExclusive(int fd)
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        if (errno != EINTR)
            return errno;
    return 0;
}

// A system whose folder or file cannot be synced (EINVAL) keeps what it keeps: nothing to wait for.
int Synced(int fd)
{
    return ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
}

// The mode a new file of this process gets: 0666 less the umask. The umask is read from the
// process's status, not by setting it, which would leave other threads' new files without one
// for a moment; without the status the file stays its owner's.
mode_t DefaultMode()
{
    mode_t mask = 077;
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned value = 0;
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        std::fclose(status);
    }
    return 0666 & ~mask;
}

bool InGroup(gid_t gid)
{
    if (gid == ::getegid())
        return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    const int got = count > 0 ? ::getgroups(count, groups.data()) : 0;
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid)
            return true;
    return false;
}

int WriteAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

} // namespace

bool OwnerGone(pid_t owner)
{
    // A process of another user counts as running (the answer is then EPERM).
    return owner > 0 && owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH;
}

std::string TempNameBeside(const std::string& target, pid_t owner, unsigned long serial, const std::string& suffix)
{
    const std::string path = NativePath(target);
    const std::string tail = "." + std::to_string(owner) + "-" + std::to_string(serial) + suffix;
    std::string stem = NamePart(path);
    const std::size_t room = kNameMax > tail.size() + 2 ? kNameMax - tail.size() - 1 : 1;
    if (stem.size() > room) {
        std::size_t cut = room;
        // Never half a UTF-8 character: back to the first byte of the one cut through.
        while (cut > 1 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80)
            --cut;
        stem.resize(cut);
    }
    return FolderPart(path) + "." + stem + tail;
}

bool ParseTempName(const std::string& name, const std::string& suffix, pid_t& owner)
{
    if (name.size() < suffix.size() + 6 || name[0] != '.' ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::size_t end = name.size() - suffix.size();
    const std::size_t dot = name.rfind('.', end - 1);
    if (dot == std::string::npos || dot < 2)
        return false;
    const std::size_t dash = name.find('-', dot);
    if (dash == std::string::npos || dash > end || !Digits(name, dot + 1, dash) || !Digits(name, dash + 1, end) ||
        dash - dot - 1 > 9)
        return false;
    owner = static_cast<pid_t>(std::stol(name.substr(dot + 1, dash - dot - 1)));
    return owner > 0;
}

int ResolveLinks(const std::string& target, std::string& resolved)
{
    resolved = NativePath(target);
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(resolved.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return 0;
        std::string named(PATH_MAX, '\0');
        const ssize_t size = ::readlink(resolved.c_str(), &named[0], named.size());
        if (size <= 0)
            return 0;
        named.resize(static_cast<std::size_t>(size));
        resolved = named[0] == '/' ? named : FolderPart(resolved) + named;
    }
    return ELOOP;
}

int ReplaceRefused(const std::string& target)
{
    const std::string native = NativePath(target);
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0)
        return 0;
    // The read-only attribute holds for every user; a process that may not write the file, or
    // whose new content would change hands, would take over another's file by its folder.
    const bool mayChown = ::geteuid() == 0;
    if ((st.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, native.c_str(), W_OK, AT_EACCESS) != 0 ||
        (!mayChown && (st.st_uid != ::geteuid() || !InGroup(st.st_gid))))
        return EACCES;
    return 0;
}

int CreateTempBeside(const std::string& target, const std::string& suffix, int& fd, std::string& path)
{
    static std::atomic<unsigned long> serial{0};
    fd = -1;
    std::string native;
    if (const int error = ResolveLinks(target, native))
        return error;
    const std::string folder = FolderPart(native);
    if (SweepDue(folder.empty() ? "./" : folder, suffix))
        SweepStaleTemps(folder.empty() ? "." : folder, suffix);
    for (int attempt = 0;; ++attempt) {
        path = TempNameBeside(native, ::getpid(), ++serial, suffix);
        // Nobody else may open it while it fills: a reader who got in would keep its descriptor
        // and read the new content whatever mode it gets later.
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            break;
        if (errno != EEXIST || attempt == 100)
            return errno != 0 ? errno : EIO;
    }
    if (const int error = LockExclusive(fd)) {
        ::close(fd);
        ::unlink(path.c_str());
        fd = -1;
        return error;
    }
    return 0;
}

int SyncFolderOf(const std::string& path)
{
    const std::string folder = FolderPart(NativePath(path));
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = Synced(fd);
    ::close(fd);
    return error;
}

int FinishTemp(int fd, const std::string& temp, const std::string& target, Finish how)
{
    std::string final = NativePath(target);
    if (how == Finish::Replace)
        if (const int error = ResolveLinks(target, final))
            return error;
    struct stat own {};
    if (::fstat(fd, &own) != 0)
        return errno;
    if (!S_ISREG(own.st_mode))
        return EISDIR;
    // The content reaches the disk before any name points at it.
    if (const int error = Synced(fd))
        return error;
    mode_t mode = DefaultMode();
    struct stat old {};
    if (how == Finish::Replace && ::stat(final.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode))
            return EISDIR;
        if ((old.st_uid != own.st_uid || old.st_gid != own.st_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0)
            return EACCES;
        // New content never runs with rights that were granted to the old.
        mode = old.st_mode & 07777 & ~(S_ISUID | S_ISGID);
    }
    if (::fchmod(fd, mode) != 0)
        return errno;
    if (how == Finish::Replace) {
        if (::rename(temp.c_str(), final.c_str()) != 0)
            return errno;
    } else {
        if (::link(temp.c_str(), final.c_str()) != 0)
            return errno;
        ::unlink(temp.c_str());
    }
    return SyncFolderOf(final);
}

int WriteBeside(const std::string& target, const std::string& suffix, const std::string& bytes, Finish how,
                const std::function<void()>& beforeFinish)
{
    int fd = -1;
    std::string temp;
    if (const int error = CreateTempBeside(target, suffix, fd, temp))
        return error;
    int error = WriteAll(fd, bytes);
    if (error == 0 && beforeFinish)
        beforeFinish();
    if (error == 0)
        error = FinishTemp(fd, temp, target, how);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        ::unlink(temp.c_str());
    return error;
}

int SweepStaleTemps(const std::string& folder, const std::string& suffix)
{
    const std::string native = NativePath(folder);
    DIR* dir = ::opendir(native.c_str());
    if (!dir)
        return 0;
    const std::string prefix = native.empty() || native.back() == '/' ? native : native + "/";
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        pid_t owner = 0;
        if (!ParseTempName(name, suffix, owner) || !OwnerGone(owner))
            continue;
        const std::string path = prefix + name;
        // A plain file only, and one that nobody holds: a process of another machine that
        // shares the folder keeps its lock while it writes.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && LockExclusive(fd) == 0 && ::unlink(path.c_str()) == 0)
            ++removed;
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

} // namespace platform::fs
