#include "platform/fs/TempFiles.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/fs/Claims.h"
#include "platform/fs/Folders.h"
#include "platform/fs/NativeFS.h"
#include "platform/fs/Sweep.h"

namespace platform::fs {

const char kTempSuffix[] = ".tmp";
const char kTempTag[] = ".kesto-";

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

// A system whose folder or file cannot be synced (EINVAL) keeps what it keeps: nothing to wait for.
int Synced(int fd)
{
    return ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
}

mode_t g_umask = 0;
std::once_flag g_umaskRead;

// The mode a new file of this process gets: 0666 less the umask.
mode_t DefaultMode()
{
    KeepUmask();
    return 0666 & ~g_umask;
}

// A random number for a temporary's name; without the system's random source, one drawn from the
// clock, the process and a count, which O_EXCL makes safe in any case.
unsigned long RandomBits()
{
    unsigned long bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits))
        return bits;
    static std::atomic<unsigned long> count{0};
    uint64_t mix = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                   (static_cast<uint64_t>(::getpid()) << 40) ^ (++count * 0x9E3779B97F4A7C15ull);
    mix = (mix ^ (mix >> 30)) * 0xBF58476D1CE4E5B9ull;
    mix = (mix ^ (mix >> 27)) * 0x94D049BB133111EBull;
    return static_cast<unsigned long>(mix ^ (mix >> 31));
}

// Gives the temporary file (own) the owner and group of the file it replaces (old), as far as
// the process may; mode receives the group's bits that a group the file cannot keep gets.
int KeepOwners(int fd, const struct stat& own, const struct stat& old, mode_t& mode)
{
    if (own.st_uid == old.st_uid && own.st_gid == old.st_gid)
        return 0;
    if (::fchown(fd, old.st_uid, old.st_gid) == 0)
        return 0;
    if (errno != EPERM)
        return errno;
    // A colleague's file that the process may write: the new content is the process's own, in
    // the old group (a setgid team folder gave it that group already).
    if (own.st_gid == old.st_gid || ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0)
        return 0;
    if (errno != EPERM)
        return errno;
    // The process writes the file only as one of every other user, and the file changes group:
    // the members of the new group, and those of the old one who are now every other user, get
    // only what both had.
    const mode_t both = (mode >> 3) & mode & 07;
    mode = (mode & ~static_cast<mode_t>(077)) | (both << 3) | both;
    return 0;
}

} // namespace

void KeepUmask()
{
    std::call_once(g_umaskRead, [] {
        g_umask = ::umask(0);
        ::umask(g_umask);
    });
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

std::string TempNameBeside(const std::string& target, pid_t owner, unsigned long random, const std::string& suffix)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz234567";
    std::string letters;
    for (int i = 0; i < 13; ++i, random >>= 5)
        letters += kLetters[random & 31];
    const std::string path = NativePath(target);
    const std::string tail = kTempTag + std::to_string(owner) + "-" + letters + suffix;
    const std::size_t room = kNameMax > tail.size() + 2 ? kNameMax - tail.size() - 1 : 1;
    return FolderPart(path) + "." + CutName(NamePart(path), room) + tail;
}

std::string CutName(std::string name, std::size_t room)
{
    if (name.size() > room) {
        std::size_t cut = room;
        // Never half a UTF-8 character: back to the first byte of the one cut through.
        while (cut > 1 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return name;
}

bool ParseTempName(const std::string& name, const std::string& suffix, pid_t& owner)
{
    return ParseOwnedName(name, NameForm{OwnedKind::Temporary, suffix}, owner);
}

namespace {

// A new file's permission bits may hold no more than this (NewFilesFrom).
std::atomic<unsigned> g_newFileCap{07777};

struct Attribute {
    std::string name;
    std::string value;
};

// Reads the extended attributes of the file at place that its replacement must keep: its access
// list and every other attribute, but the security label that the system gives a new file itself.
// A file the process may not read is read through its /proc name, as the system lets its access
// list be read. Answers 0, or the system's error number with why saying which one cannot be kept.
int ReadAttributes(const Place& place, std::vector<Attribute>& attributes, std::string& why)
{
    UniqueFd file(::openat(place.folder.Get(), place.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    std::string proc;
    if (file.Get() < 0) {
        file.Reset(::openat(place.folder.Get(), place.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (file.Get() < 0)
            return errno;
        proc = "/proc/self/fd/" + std::to_string(file.Get());
    }
    // Reads a list or a value whose size may change between the two calls.
    const auto read = [](std::string& into, const std::function<ssize_t(char*, std::size_t)>& call) {
        for (int attempt = 0; attempt < 8; ++attempt) {
            const ssize_t size = call(nullptr, 0);
            if (size < 0)
                return errno;
            into.resize(static_cast<std::size_t>(size));
            const ssize_t got = call(into.empty() ? nullptr : &into[0], into.size());
            if (got >= 0) {
                into.resize(static_cast<std::size_t>(got));
                return 0;
            }
            if (errno != ERANGE)
                return errno;
        }
        return ERANGE;
    };
    std::string names;
    const int listed = read(names, [&](char* buffer, std::size_t size) {
        return proc.empty() ? ::flistxattr(file.Get(), buffer, size) : ::listxattr(proc.c_str(), buffer, size);
    });
    if (listed == ENOTSUP)
        return 0;
    if (listed != 0) {
        why = "its extended attributes cannot be listed (" + ErrorText(listed) + ")";
        return listed;
    }
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
        const std::string name = names.c_str() + at;
        if (name.empty() || name == "security.selinux")
            continue;
        // Besides its own attributes and access list, a user may set no attribute on its file.
        if (::geteuid() != 0 && name.rfind("user.", 0) != 0 && name != "system.posix_acl_access") {
            why = "its extended attribute \"" + name + "\" is one this user may not set";
            return EPERM;
        }
        Attribute attribute{name, std::string()};
        if (const int error = read(attribute.value, [&](char* buffer, std::size_t size) {
                return proc.empty() ? ::fgetxattr(file.Get(), name.c_str(), buffer, size)
                                    : ::getxattr(proc.c_str(), name.c_str(), buffer, size);
            })) {
            why = "its extended attribute \"" + name + "\" cannot be read by this user (" + ErrorText(error) + ")";
            return error;
        }
        attributes.push_back(std::move(attribute));
    }
    return 0;
}

// Why the existing file at place (links resolved) may not be replaced; empty when it may.
std::string RefusalAt(const Place& place)
{
    struct stat st {};
    if (place.name.empty() || ::fstatat(place.folder.Get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::string();
    // The read-only attribute holds for every user, root too.
    if ((st.st_mode & 0222) == 0)
        return "it is read-only";
    if (::faccessat(place.folder.Get(), place.name.c_str(), W_OK, AT_EACCESS) != 0)
        return errno == EROFS ? "its file system is read-only" : "this user may not write it";
    // A sticky folder lets only the owners of a file and of the folder replace the file: the
    // rename would fail after all the work.
    struct stat folder {};
    const uid_t self = ::geteuid();
    if (self != 0 && st.st_uid != self && ::fstat(place.folder.Get(), &folder) == 0 &&
        (folder.st_mode & S_ISVTX) != 0 && folder.st_uid != self)
        return "its folder lets only the file's owner replace it";
    // Whom the file's access list lets in or keeps out must not change with its content.
    std::vector<Attribute> attributes;
    std::string why;
    if (S_ISREG(st.st_mode) && ReadAttributes(place, attributes, why) != 0)
        return why + ", so a new file in its place could not keep it";
    return std::string();
}

} // namespace

NewFilesFrom::NewFilesFrom(const std::string& source) : m_previous(g_newFileCap.load())
{
    struct stat st {};
    if (!source.empty() && ::stat(NativePath(source).c_str(), &st) == 0 && S_ISREG(st.st_mode))
        g_newFileCap.store(m_previous & st.st_mode & 0777);
}

NewFilesFrom::~NewFilesFrom()
{
    g_newFileCap.store(m_previous);
}

int ResolveLinks(const std::string& target, std::string& resolved)
{
    Place place;
    const int error = ResolvePlace(target, place);
    resolved = error == 0 ? place.Path() : NativePath(target);
    return error;
}

int ResolvePath(const std::string& path, std::string& resolved)
{
    std::string native = NativePath(path);
    if (native.empty() || native[0] != '/')
        return EINVAL;
    // A slash at the end does not make a file's path a folder's.
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    // ResolvePlace follows the links under the rule; the folder it opened tells where it is.
    Place place;
    if (const int error = ResolvePlace(native, place))
        return error;
    const bool folder = place.name.empty() || place.name == "." || place.name == "..";
    UniqueFd end(folder ? ::openat(place.folder.Get(), place.name.empty() ? "." : place.name.c_str(),
                                   O_PATH | O_DIRECTORY | O_CLOEXEC)
                        : -1);
    struct stat st {};
    if (folder ? end.Get() < 0 : ::fstatat(place.folder.Get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    std::string where;
    const std::string fd = "/proc/self/fd/" + std::to_string(folder ? end.Get() : place.folder.Get());
    if (const int error = ReadLink(AT_FDCWD, fd, where))
        return error;
    resolved = folder ? where : (where == "/" ? where : where + "/") + place.name;
    return 0;
}

std::string ReplaceRefusal(const std::string& target)
{
    Place place;
    std::string why;
    const int error = ResolvePlace(target, place, &why);
    if (error == EACCES)
        return why;
    return error == 0 ? RefusalAt(place) : std::string();
}

int ReplaceRefused(const std::string& target)
{
    return ReplaceRefusal(target).empty() ? 0 : EACCES;
}

int CreateTempBeside(const std::string& target, const std::string& suffix, int& fd, std::string& path)
{
    fd = -1;
    Place place;
    if (const int error = ResolvePlace(target, place))
        return error;
    const std::string& folder = place.folderPath;
    if (SweepDue(folder.empty() ? "./" : folder, suffix))
        SweepStaleTemps(folder.empty() ? "." : folder, suffix);
    for (int attempt = 0;; ++attempt) {
        path = TempNameBeside(place.Path(), ::getpid(), RandomBits(), suffix);
        // Nobody else may open it while it fills: a reader who got in would keep its descriptor
        // and read the new content whatever mode it gets later.
        fd = ::openat(place.folder.Get(), NamePart(path).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600);
        // A sweep of another process may take a file between its making and its lock: it is
        // the sweep's then, and another name is drawn.
        const int held = fd < 0 ? errno : HoldOpenFile(fd, path);
        if (held == 0)
            return 0;
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if ((held != EEXIST && held != EAGAIN) || attempt == 100)
            return held != 0 ? held : EIO;
    }
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

namespace {

// The folders whose names wait for a sync before the next report, in the order of their last
// change: one list per process (per loaded copy of this code; the module and the host each have
// their own). A folder is synced no earlier than those changed before it, so a name that reports
// others (a status file's count of the results) is never on the disk before them.
struct PendingFolders {
    std::mutex lock;
    std::vector<std::string> folders;

    void Note(const std::string& folder)
    {
        const auto at = std::find(folders.begin(), folders.end(), folder);
        if (at != folders.end())
            folders.erase(at);
        folders.push_back(folder);
    }
};

PendingFolders& Pending()
{
    static PendingFolders pending;
    return pending;
}

} // namespace

void DeferFolderSync(const std::string& path)
{
    std::string native = NativePath(path);
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    const std::string folder = FolderPart(native);
    PendingFolders& pending = Pending();
    const std::lock_guard<std::mutex> hold(pending.lock);
    pending.Note(folder.empty() ? "./" : folder);
}

int SyncPendingFolders(std::string* failed)
{
    PendingFolders& pending = Pending();
    std::vector<std::string> folders;
    {
        const std::lock_guard<std::mutex> hold(pending.lock);
        folders.swap(pending.folders);
    }
    for (std::size_t next = 0; next < folders.size(); ++next) {
        // A folder removed since holds no name to keep.
        const int error = SyncFolderOf(folders[next]);
        if (error == 0 || error == ENOENT)
            continue;
        if (failed)
            *failed = folders[next];
        // The folders changed after it wait too: they may report what it holds. They go back
        // before any noted meanwhile, in their order.
        const std::lock_guard<std::mutex> hold(pending.lock);
        pending.folders.insert(pending.folders.begin(), folders.begin() + static_cast<std::ptrdiff_t>(next), folders.end());
        return error;
    }
    return 0;
}

namespace {

// ReadyTemp for the file at old (none: a new file).
int ReadyTempAt(int fd, const Place* old, bool durable)
{
    struct stat own {};
    if (::fstat(fd, &own) != 0)
        return errno;
    if (!S_ISREG(own.st_mode))
        return EISDIR;
    mode_t mode = DefaultMode() & g_newFileCap.load();
    struct stat st {};
    if (old && !old->name.empty() && ::fstatat(old->folder.Get(), old->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode))
            return EISDIR;
        // New content never runs with rights that were granted to the old.
        mode = st.st_mode & 07777 & ~(S_ISUID | S_ISGID);
        if (const int error = KeepOwners(fd, own, st, mode))
            return error;
        std::vector<Attribute> attributes;
        std::string why;
        if (const int error = ReadAttributes(*old, attributes, why))
            return error;
        // A folder's default access list gave the new file one of its own: the old file's, or none.
        if (::fremovexattr(fd, "system.posix_acl_access") != 0 && errno != ENODATA && errno != ENOTSUP)
            return errno;
        for (const Attribute& attribute : attributes)
            if (::fsetxattr(fd, attribute.name.c_str(), attribute.value.data(), attribute.value.size(), 0) != 0)
                return errno;
    }
    // After the access list: its owner, mask and other entries follow the mode.
    if (::fchmod(fd, mode) != 0)
        return errno;
    // The content, with the owner and mode it now has, reaches the disk before any name points
    // at it: a power cut never leaves a result with the temporary's private mode.
    return durable ? Synced(fd) : 0;
}

} // namespace

int ReadyTemp(int fd, const std::string& replaced, bool durable)
{
    Place place;
    if (!replaced.empty() && ResolvePlace(replaced, place) == 0)
        return ReadyTempAt(fd, &place, durable);
    return ReadyTempAt(fd, nullptr, durable);
}

int FinishTemp(int fd, const std::string& temp, const std::string& target, Finish how)
{
    Place place;
    if (const int error = how == Finish::Replace ? ResolvePlace(target, place) : OpenPlace(target, place))
        return error;
    if (how == Finish::Replace && !RefusalAt(place).empty())
        return EACCES;
    // The temporary is in the folder that was checked, so the rename cannot put it elsewhere.
    const std::string tempName = NamePart(NativePath(temp));
    struct stat own {};
    struct stat there {};
    if (::fstat(fd, &own) != 0)
        return errno;
    if (::fstatat(place.folder.Get(), tempName.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
        own.st_dev != there.st_dev || own.st_ino != there.st_ino)
        return EXDEV;
    // A temporary file that takes the name of another one (the host's save of the export's
    // private copy) is no result: whatever a power cut leaves of it is swept, so nothing waits
    // for the disk.
    pid_t owner = 0;
    const bool durable = !ParseTempName(place.name, kTempSuffix, owner);
    if (const int error = ReadyTempAt(fd, how == Finish::Replace ? &place : nullptr, durable))
        return error;
    const int folder = place.folder.Get();
    if (how == Finish::Replace) {
        if (::renameat(folder, tempName.c_str(), folder, place.name.c_str()) != 0)
            return errno;
    } else if (::renameat2(folder, tempName.c_str(), folder, place.name.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
            return errno;
        if (const int error = PutExclusive(place.folderPath + tempName, place.Path()))
            return error;
    }
    if (durable)
        DeferFolderSync(place.Path());
    return 0;
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
    int removed = 0;
    for (const SweptEntry& entry : SweepOwned(folder, NameForm{OwnedKind::Temporary, suffix}))
        removed += entry.error.empty() ? 1 : 0;
    return removed;
}

} // namespace platform::fs
