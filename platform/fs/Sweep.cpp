#include "platform/fs/Sweep.h"

#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/NativeFS.h"
#include "platform/fs/TempFiles.h"

namespace platform::fs {

const char kLockName[] = ".kesto.lock";
const char kProbePrefix[] = "KS_PdfProbe_";

namespace {

constexpr char kJobPrefix[] = "OMRA_";
constexpr std::size_t kJobStamp = 14;
constexpr std::size_t kJobLetters = 16;
constexpr std::size_t kOwnerLetters = 6;
constexpr std::size_t kCheckLetters = 2;
// Longer runs of digits are no process id of any system.
constexpr std::size_t kPidDigits = 9;
// The random part of a temporary's name.
constexpr std::size_t kRandomLetters = 13;

bool AllOf(const std::string& text, std::size_t from, std::size_t to, char low, char high)
{
    if (from >= to || to > text.size())
        return false;
    for (std::size_t i = from; i < to; ++i)
        if (text[i] < low || text[i] > high)
            return false;
    return true;
}

bool Digits(const std::string& text, std::size_t from, std::size_t to)
{
    return AllOf(text, from, to, '0', '9');
}

// The pid in text[from, to), which must be digits only.
bool PidDigits(const std::string& text, std::size_t from, std::size_t to, pid_t& owner)
{
    if (!Digits(text, from, to) || to - from > kPidDigits)
        return false;
    owner = static_cast<pid_t>(std::stol(text.substr(from, to - from)));
    return owner > 0;
}

std::string CheckLetters(const std::string& stamp, const std::string& owner)
{
    uint32_t hash = 2166136261u;
    for (char c : stamp + owner)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    hash %= 26 * 26;
    return {static_cast<char>('A' + hash / 26), static_cast<char>('A' + hash % 26)};
}

// "." + stem + kTempTag + pid + "-" + kRandomLetters letters (a to z, 2 to 7) + suffix.
bool ParseTemporary(const std::string& name, const std::string& suffix, pid_t& owner)
{
    const std::string tag = kTempTag;
    if (name.size() < 2 + tag.size() + 2 + kRandomLetters + suffix.size() || name[0] != '.' ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::size_t random = name.size() - suffix.size() - kRandomLetters;
    for (std::size_t i = random; i < random + kRandomLetters; ++i)
        if (!((name[i] >= 'a' && name[i] <= 'z') || (name[i] >= '2' && name[i] <= '7')))
            return false;
    const std::size_t at = name.rfind(tag, random - 1);
    return at != std::string::npos && at >= 2 && name[random - 1] == '-' &&
           PidDigits(name, at + tag.size(), random - 1, owner);
}

bool ParseProbeFolder(const std::string& name, pid_t& owner)
{
    const std::size_t from = sizeof kProbePrefix - 1;
    if (name.compare(0, from, kProbePrefix) != 0)
        return false;
    const std::size_t to = name.find('_', from);
    if (to == std::string::npos)
        return false;
    const std::size_t last = name.find('_', to + 1);
    return last != std::string::npos && PidDigits(name, from, to, owner) && Digits(name, to + 1, last) &&
           Digits(name, last + 1, name.size());
}

bool ParseJobFolder(const std::string& name, pid_t& owner)
{
    const std::size_t stampAt = sizeof kJobPrefix - 1;
    const std::size_t lettersAt = stampAt + kJobStamp + 1;
    if (name.size() != lettersAt + kJobLetters || name.compare(0, stampAt, kJobPrefix) != 0 ||
        !Digits(name, stampAt, stampAt + kJobStamp) || name[lettersAt - 1] != '_' ||
        !AllOf(name, lettersAt, name.size(), 'A', 'Z'))
        return false;
    const std::size_t codeAt = name.size() - kOwnerLetters - kCheckLetters;
    const std::string letters = name.substr(codeAt, kOwnerLetters);
    if (name.compare(codeAt + kOwnerLetters, kCheckLetters, CheckLetters(name.substr(stampAt, kJobStamp), letters)) != 0)
        return false;
    long pid = 0;
    for (char c : letters)
        pid = pid * 26 + (c - 'A');
    owner = static_cast<pid_t>(pid);
    return owner > 0;
}

// Opens path to lock it: for writing where the process may, as an exclusive lock on a network
// file system needs, else for reading. Never through a link.
int OpenToLock(const std::string& path, int flags)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | flags);
    if (fd >= 0 || (errno != EACCES && errno != EROFS && errno != EPERM))
        return fd;
    return ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | flags);
}

int LockExclusive(int fd)
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        if (errno != EINTR)
            return errno == EWOULDBLOCK ? EAGAIN : errno;
    return 0;
}

// Whether path names the file that fd has open (a link at path never does).
bool StillNamed(int fd, const std::string& path)
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

// The lock of the folder at path for a sweep: opened, and made only for a folder that holds
// none (an earlier build's, or one whose owner has not locked it yet) whose owner hint says the
// process is gone. -1 when the folder is not to be taken.
int OpenFolderLock(const std::string& lock, pid_t owner)
{
    const int fd = OpenToLock(lock, O_NONBLOCK);
    if (fd >= 0 || errno != ENOENT || !OwnerGone(owner))
        return fd;
    // Made exclusively: an owner that made its own in the meantime keeps its folder.
    return ::open(lock.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

} // namespace

bool OwnerGone(pid_t owner)
{
    // A process of another user counts as running (the answer is then EPERM).
    return owner > 0 && owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH;
}

bool ParseOwnedName(const std::string& name, const NameForm& form, pid_t& owner)
{
    switch (form.kind) {
    case OwnedKind::Temporary:
        return ParseTemporary(name, form.suffix, owner);
    case OwnedKind::ProbeFolder:
        return ParseProbeFolder(name, owner);
    case OwnedKind::JobFolder:
        return ParseJobFolder(name, owner);
    }
    return false;
}

std::string JobOwnerLetters(const std::string& stamp, unsigned long owner)
{
    std::string letters(kOwnerLetters, 'A');
    for (std::size_t i = kOwnerLetters; i-- > 0; owner /= 26)
        letters[i] = static_cast<char>('A' + owner % 26);
    return letters + CheckLetters(stamp, letters);
}

OwnedLock& OwnedLock::operator=(OwnedLock&& other) noexcept
{
    if (this != &other) {
        Release();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void OwnedLock::Release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int HoldOpenFile(int fd, const std::string& path)
{
    if (const int error = LockExclusive(fd))
        return error;
    return StillNamed(fd, NativePath(path)) ? 0 : EAGAIN;
}

int HoldFile(const std::string& path, OwnedLock& lock)
{
    lock.Release();
    const int fd = OpenToLock(NativePath(path), 0);
    if (fd < 0)
        return errno;
    if (const int error = HoldOpenFile(fd, path)) {
        ::close(fd);
        return error;
    }
    lock = OwnedLock(fd);
    return 0;
}

int MakeOwnedFolder(const std::string& path, OwnedLock& lock)
{
    lock.Release();
    if (const int error = MakeFolder(path))
        return error;
    const std::string file = NativePath(path) + "/" + kLockName;
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    int error = fd < 0 ? errno : HoldOpenFile(fd, file);
    if (error == 0) {
        lock = OwnedLock(fd);
        return 0;
    }
    if (fd >= 0)
        ::close(fd);
    // A lock file that is there already, or held, is a sweep's: the sweep removes the folder.
    if (error == EEXIST || error == EAGAIN)
        return EEXIST;
    ::rmdir(NativePath(path).c_str());
    return error;
}

std::string RemoveTree(const std::string& path)
{
    std::error_code ec;
    std::filesystem::remove_all(NativePath(path), ec);
    return ec ? ec.message() : std::string();
}

std::vector<SweptEntry> SweepOwned(const std::string& folder, const NameForm& form)
{
    std::vector<SweptEntry> swept;
    const std::string native = NativePath(folder);
    DIR* dir = ::opendir(native.empty() ? "." : native.c_str());
    if (!dir)
        return swept;
    const std::string prefix = native.empty() || native.back() == '/' ? native : native + "/";
    const bool folders = form.kind != OwnedKind::Temporary;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        pid_t owner = 0;
        if (!ParseOwnedName(name, form, owner))
            continue;
        const std::string path = prefix + name;
        // Another user's is never the process's own making, whatever its name.
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || (folders ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) ||
            st.st_uid != ::geteuid())
            continue;
        const std::string lockPath = folders ? path + "/" + kLockName : path;
        const int fd = folders ? OpenFolderLock(lockPath, owner) : OpenToLock(path, O_NONBLOCK);
        if (fd < 0)
            continue;
        // Locked, and still the file of that name: then nobody uses it, and nobody can take it
        // up while the lock is held here.
        struct stat held {};
        if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && HoldOpenFile(fd, lockPath) == 0) {
            SweptEntry gone{path, owner, std::string()};
            if (folders)
                gone.error = RemoveTree(path);
            else if (::unlink(path.c_str()) != 0)
                gone.error = std::strerror(errno);
            swept.push_back(gone);
        }
        ::close(fd);
    }
    ::closedir(dir);
    return swept;
}

} // namespace platform::fs
