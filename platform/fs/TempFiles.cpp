#include "platform/fs/TempFiles.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <map>
#include <mutex>

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

int KeepTargetMode(int fd, const std::string& target)
{
    struct stat old {};
    if (::stat(NativePath(target).c_str(), &old) != 0 || !S_ISREG(old.st_mode))
        return 0;
    return ::fchmod(fd, old.st_mode & 07777) == 0 ? 0 : errno;
}

int CreateTempBeside(const std::string& target, const std::string& suffix, int& fd, std::string& path)
{
    static std::atomic<unsigned long> serial{0};
    const std::string native = NativePath(target);
    const std::string folder = FolderPart(native);
    if (SweepDue(folder.empty() ? "./" : folder, suffix))
        SweepStaleTemps(folder.empty() ? "." : folder, suffix);
    fd = -1;
    for (int attempt = 0;; ++attempt) {
        path = TempNameBeside(native, ::getpid(), ++serial, suffix);
        // 0666 takes the process's umask, as any new file of the process does.
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            break;
        if (errno != EEXIST || attempt == 100)
            return errno != 0 ? errno : EIO;
    }
    int error = LockExclusive(fd);
    if (error == 0)
        error = KeepTargetMode(fd, native);
    if (error != 0) {
        ::close(fd);
        ::unlink(path.c_str());
        fd = -1;
    }
    return error;
}

int WriteTempBeside(const std::string& target, const std::string& suffix, const std::string& bytes, std::string& path)
{
    int fd = -1;
    if (const int error = CreateTempBeside(target, suffix, fd, path))
        return error;
    int error = 0;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = written < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(written);
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        ::unlink(path.c_str());
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
