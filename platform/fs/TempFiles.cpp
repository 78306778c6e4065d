#include "platform/fs/TempFiles.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/NativeFS.h"
#include "platform/fs/Sweep.h"

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

} // namespace

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
    return ParseOwnedName(name, NameForm{OwnedKind::Temporary, suffix}, owner);
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
        // A sweep of another process may take a file between its making and its lock: it is
        // the sweep's then, and another name is drawn.
        const int held = fd < 0 ? errno : HoldOpenFile(fd, path);
        if (held == 0)
            break;
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if ((held != EEXIST && held != EAGAIN) || attempt == 100)
            return held != 0 ? held : EIO;
    }
    int error = KeepTargetMode(fd, native);
    if (error != 0) {
        ::close(fd);
        ::unlink(path.c_str());
        fd = -1;
    }
    return error;
}

int WriteTempBeside(const std::string& target, const std::string& suffix, const std::string& bytes, std::string& path,
                    OwnedLock* hold)
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
    // The lock belongs to the open file, which a duplicate keeps open past the close.
    if (error == 0 && hold)
        *hold = OwnedLock(::dup(fd));
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        if (hold)
            hold->Release();
        ::unlink(path.c_str());
    }
    return error;
}

int SweepStaleTemps(const std::string& folder, const std::string& suffix)
{
    int removed = 0;
    for (const SweptEntry& entry : SweepOwned(folder, NameForm{OwnedKind::Temporary, suffix}))
        removed += entry.error.empty() ? 1 : 0;
    return removed;
}

} // namespace platform::fs
