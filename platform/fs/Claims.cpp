#include "platform/fs/Claims.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/NativeFS.h"
#include "platform/fs/TempFiles.h"

namespace platform::fs {

namespace {

// The process id a claim file holds; 0 when it holds none.
long ReadOwner(int fd)
{
    char text[32] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    if (got <= 0)
        return 0;
    text[got] = '\0';
    return std::strtol(text, nullptr, 10);
}

// The call is not offered by this file system (or kernel): the next way is tried.
bool Unsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

// A file system without hard links refuses them with one of these.
bool NoHardLinks(int error)
{
    return error == EPERM || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

int RenameWith(const std::string& from, const std::string& to, unsigned flags)
{
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags) == 0 ? 0 : errno;
}

// Exchanges the files of two names in one step; ENOTSUP where the file system cannot.
int Exchange(const std::string& a, const std::string& b)
{
    const int error = RenameWith(a, b, RENAME_EXCHANGE);
    return Unsupported(error) ? ENOTSUP : error;
}

bool SameInode(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the name (no link followed) holds the file of the descriptor.
bool Names(const std::string& path, int fd)
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && SameInode(opened, named);
}

// The file at path, opened for reading and locked, so that a sweep of stale temporaries leaves
// it alone once it is under a private name; -1 with errno when it cannot be opened.
int OpenLocked(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        ::flock(fd, LOCK_EX | LOCK_NB);   // advisory: the file is still read when it cannot be had
    return fd;
}

// The descriptor of the file that `path` names now: fd itself, or when the name holds another
// file since fd was opened, that file opened and locked in its place.
int Reopened(int fd, const std::string& path)
{
    if (Names(path, fd))
        return fd;
    ::close(fd);
    return OpenLocked(path);
}

int ReadAll(int fd, std::string& bytes)
{
    bytes.clear();
    char buffer[16384];
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
        bytes.append(buffer, static_cast<std::size_t>(got));
        at += got;
    }
}

std::string PlaceClaimOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, name) + "." + path.substr(name) + ".place";
}

// The complete file `from` renamed onto `to` while `to` is free, on a file system that can
// neither rename without replacing nor link. Whoever makes such a name through here holds the
// name's claim from the look until the rename, so no two of them ever both find it free; the
// rename makes the file appear whole. A claimant that finds the claim held takes the name as
// taken, as it would be a moment later.
int MoveUnderClaim(const std::string& from, const std::string& to)
{
    OwnerClaim claim;
    long owner = 0;
    int error = 0;
    switch (claim.Claim(PlaceClaimOf(to), owner, error)) {
    case OwnerClaim::Result::Held:
        return EEXIST;
    case OwnerClaim::Result::Failed:
        return error;
    case OwnerClaim::Result::Claimed:
        break;
    }
    struct stat taken {};
    if (::lstat(to.c_str(), &taken) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// The end of a held-out name: no writer's temporary has it, so no sweep removes it.
const char kHeldSuffix[] = ".held";
// The two checksums of a held-out name, each 16 hex digits, a dash between them.
constexpr std::size_t kHeldSums = 33;

uint64_t Checksum(const std::string& bytes)
{
    uint64_t hash = 1469598103934665603ull;
    for (const unsigned char c : bytes)
        hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

std::string Hex(uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// "." + the file's name (cut at a character boundary to fit) + ".": the start of every held-out
// name of the file, in its folder.
std::string HeldPrefix(const std::string& target)
{
    const std::size_t slash = target.rfind('/');
    const std::size_t at = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t room = kNameMax - 2 - kHeldSums - sizeof kHeldSuffix;
    return target.substr(0, at) + "." + CutName(target.substr(at), room) + ".";
}

// The name under which a replace of target keeps what it takes out. It carries the checksums
// of the replacing process's two files, the one it compared against and the one it puts in, so
// that whoever restores it tells them from a file somebody else wrote.
std::string HeldName(const std::string& target, const std::string& own, const std::string& replacement)
{
    return HeldPrefix(target) + Hex(Checksum(own)) + "-" + Hex(Checksum(replacement)) + kHeldSuffix;
}

struct HeldFile {
    std::string path;
    uint64_t own = 0;
    uint64_t replacement = 0;
    struct timespec modified {};
};

bool Older(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

// The held-out files of target, oldest first (links and folders are none).
std::vector<HeldFile> HeldFiles(const std::string& target)
{
    std::vector<HeldFile> held;
    const std::string prefix = HeldPrefix(target);
    const std::size_t slash = prefix.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : prefix.substr(0, slash + 1);
    const std::string start = prefix.substr(slash == std::string::npos ? 0 : slash + 1);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return held;
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() != start.size() + kHeldSums + sizeof kHeldSuffix - 1 || name.compare(0, start.size(), start) != 0 ||
            name.compare(name.size() - (sizeof kHeldSuffix - 1), std::string::npos, kHeldSuffix) != 0 ||
            name[start.size() + 16] != '-')
            continue;
        const std::string sums = name.substr(start.size(), kHeldSums);
        if (sums.find_first_not_of("0123456789abcdef-") != std::string::npos)
            continue;
        HeldFile file;
        file.path = (slash == std::string::npos ? std::string() : folder) + name;
        struct stat st {};
        if (::lstat(file.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        file.own = std::strtoull(sums.substr(0, 16).c_str(), nullptr, 16);
        file.replacement = std::strtoull(sums.substr(17).c_str(), nullptr, 16);
        file.modified = st.st_mtim;
        held.push_back(file);
    }
    ::closedir(dir);
    std::sort(held.begin(), held.end(),
              [](const HeldFile& a, const HeldFile& b) { return Older(a.modified, b.modified); });
    return held;
}

// The file `from` under the private name `to`, which no file may hold yet. Only the holder of
// the file's claim makes such names, so a look before the rename serves.
int MoveAside(const std::string& from, const std::string& to)
{
    struct stat taken {};
    if (::lstat(to.c_str(), &taken) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// ReplaceOwnFile where the file system exchanges two names in one step: the replacement (under
// its held-out name) and the file at target change places, so the target's name is never
// without a file, and what came out is compared. A file of somebody else's that came out goes
// back the same way; kept answers whether the held-out name holds such a file still, after a
// failure.
int ExchangeOwn(const std::string& target, const std::string& own, const std::string& held, bool& ours, bool& kept)
{
    struct stat put {};
    if (::lstat(held.c_str(), &put) != 0)
        return errno;
    int fd = OpenLocked(target);
    if (fd < 0)
        return errno == ENOENT ? 0 : errno;   // removed by somebody else: there is nothing to keep
    int error = Exchange(held, target);
    if (error != 0) {
        ::close(fd);
        return error == ENOENT ? 0 : error;   // removed meanwhile: the replacement stays out
    }
    if ((fd = Reopened(fd, held)) < 0)
        return errno;
    std::string bytes;
    ours = ReadAll(fd, bytes) == 0 && bytes == own;
    ::close(fd);
    // Each round puts back what came out, and takes out what is under the name then: the file
    // put there in the round before, or one written there since, which is newer than what went
    // back and so goes back itself in the next round, superseding it.
    kept = !ours;
    for (int round = 0; !ours && round < 64; ++round) {
        struct stat back {};
        struct stat out {};
        if (::lstat(held.c_str(), &back) != 0)
            return errno;
        if ((error = Exchange(held, target)) != 0 || ::lstat(held.c_str(), &out) != 0)
            return error != 0 ? error : errno;
        if (SameInode(out, put)) {
            kept = false;
            return 0;
        }
        put = back;
    }
    return ours ? 0 : EAGAIN;
}

// ReplaceOwnFile where names cannot be exchanged: the replacement is renamed over the file once
// the file is compared, so the name always holds one of the two.
int RenameOwn(const std::string& target, const std::string& own, const std::string& held, bool& ours)
{
    const int fd = OpenLocked(target);
    if (fd < 0)
        return errno == ENOENT ? 0 : errno;   // removed by somebody else: it stays so
    std::string bytes;
    ours = ReadAll(fd, bytes) == 0 && bytes == own && Names(target, fd);
    int error = 0;
    if (ours && ::rename(held.c_str(), target.c_str()) != 0) {
        error = errno;
        ours = false;
    }
    ::close(fd);
    return error;
}

// ReplaceOwnFile's removal: the file is taken out of its name under a held-out name, compared
// there, and removed when it is the own file; a file of somebody else's goes back, unless a
// newer one has landed since.
int TakeOwn(const std::string& target, const std::string& own, bool& ours)
{
    const std::string held = HeldName(target, own, own);
    int fd = OpenLocked(target);
    if (fd < 0)
        return errno == ENOENT ? 0 : errno;
    int error = MoveAside(target, held);
    if (error != 0 || (fd = Reopened(fd, held)) < 0) {
        error = error != 0 ? error : errno;
        if (fd >= 0)
            ::close(fd);
        return error == ENOENT ? 0 : error;
    }
    std::string bytes;
    ours = ReadAll(fd, bytes) == 0 && bytes == own;
    ::close(fd);
    if (!ours && (error = PutExclusive(held, target)) != EEXIST)
        return error;
    ::unlink(held.c_str());
    return 0;
}

} // namespace

int MoveExclusive(const std::string& from, const std::string& to)
{
    const std::string source = NativePath(from);
    const std::string target = NativePath(to);
    const int renamed = RenameWith(source, target, RENAME_NOREPLACE);
    if (!Unsupported(renamed))
        return renamed;
    if (::link(source.c_str(), target.c_str()) != 0)
        return NoHardLinks(errno) ? ENOTSUP : errno;
    ::unlink(source.c_str());
    return 0;
}

int CreateFileExclusive(const std::string& path, const std::string& bytes)
{
    if (const int fault = InjectedFault(Operation::ReplaceFile, path))
        return fault;
    // The bytes go into a private file first; putting it under the final name is the one step
    // that can succeed for only one caller, and the file appears complete.
    return WriteBeside(path, kTempSuffix, bytes, Finish::Exclusive);
}

int PutExclusive(const std::string& from, const std::string& to)
{
    const int moved = MoveExclusive(from, to);
    return moved == ENOTSUP ? MoveUnderClaim(NativePath(from), NativePath(to)) : moved;
}

int ReplaceOwnFile(const std::string& path, const std::string& own, const std::string& replacement,
                   const std::string& replacementBytes, bool& ours)
{
    ours = false;
    const std::string target = NativePath(path);
    int error = 0;
    if (replacement.empty()) {
        error = TakeOwn(target, own, ours);
    } else {
        // From here on the replacement, and whatever comes out of the name in its place, waits
        // under a name that survives a kill and a sweep.
        const std::string held = HeldName(target, own, replacementBytes);
        if ((error = MoveAside(replacement, held)) != 0) {
            ::unlink(replacement.c_str());
            return error;
        }
        bool kept = false;
        error = ExchangeOwn(target, own, held, ours, kept);
        if (error == ENOTSUP)
            error = RenameOwn(target, own, held, ours);
        // What is left under the held-out name is the own earlier file or the unused
        // replacement, or a file superseded by a newer write; never, unless a call failed,
        // somebody's file that is not in its place.
        if (!kept)
            ::unlink(held.c_str());
    }
    // The names as they now stand survive a power cut once the caller reports them.
    DeferFolderSync(target);
    return error;
}

bool HasHeldOut(const std::string& path)
{
    return !HeldFiles(NativePath(path)).empty();
}

int RestoreHeldOut(const std::string& path)
{
    const std::string target = NativePath(path);
    int restored = 0;
    bool changed = false;
    for (const HeldFile& held : HeldFiles(target)) {
        std::string bytes;
        const int fd = ::open(held.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 || ReadAll(fd, bytes) != 0) {
            if (fd >= 0)
                ::close(fd);
            continue;
        }
        ::close(fd);
        const auto ownOf = [&held](const std::string& content) {
            const uint64_t sum = Checksum(content);
            return sum == held.own || sum == held.replacement;
        };
        changed = true;
        if (ownOf(bytes)) {
            ::unlink(held.path.c_str());
            continue;
        }
        // Somebody else's file, taken out of the name: it goes back over the process's own file,
        // or over an older one of somebody else's.
        std::string there;
        struct stat named {};
        const int at = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (at < 0 && errno != ENOENT)
            continue;   // a name that cannot be read cannot be judged: the held-out file waits
        const bool present = at >= 0 && ::fstat(at, &named) == 0 && ReadAll(at, there) == 0;
        if (at >= 0)
            ::close(at);
        int error = 0;
        if (!present)
            error = PutExclusive(held.path, target);
        else if (ownOf(there) || Older(named.st_mtim, held.modified))
            error = ::rename(held.path.c_str(), target.c_str()) == 0 ? 0 : errno;
        else
            error = EEXIST;
        if (error == 0)
            ++restored;
        else if (error == EEXIST)
            ::unlink(held.path.c_str());   // superseded by a newer write
    }
    if (changed)
        SyncFolderOf(target);
    return restored;
}

OwnerClaim::~OwnerClaim()
{
    Release();
}

OwnerClaim::Result OwnerClaim::Claim(const std::string& path, long& owner, int& error)
{
    owner = 0;
    error = 0;
    const std::string native = NativePath(path);
    if (m_fd >= 0 && native == m_path)
        return Result::Claimed;
    Release();
    long earlier = 0;
    m_tookOver = false;
    // A holder that gives its claim up removes the file while it still holds the lock; a
    // claimant that locked that removed file tries again on the new one.
    for (int attempt = 0; attempt < 16; ++attempt) {
        // A claim file that is there already is an earlier claimant's, whatever it holds.
        int fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        const bool made = fd >= 0;
        if (fd < 0 && errno == EEXIST) {
            fd = ::open(native.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
            if (fd < 0 && errno == ENOENT)
                continue;   // removed by its holder in the meantime
        }
        bool readOnly = false;
        if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
            // The claim file of another account: a lock needs no write access.
            fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
            readOnly = fd >= 0;
            if (fd < 0 && errno == ENOENT)
                continue;   // removed by its holder in the meantime
        }
        if (fd < 0) {
            error = errno;
            return Result::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int lockError = errno;
            owner = ReadOwner(fd);
            ::close(fd);
            if (lockError == EWOULDBLOCK)
                return Result::Held;
            if (lockError == EINTR)
                continue;
            error = lockError;
            return Result::Failed;
        }
        if (!Names(native, fd)) {
            ::close(fd);
            continue;
        }
        owner = ReadOwner(fd);
        if (earlier == 0)
            earlier = owner;
        // Locked and still under the name: a claimant that has ended left it.
        m_tookOver = m_tookOver || !made;
        if (readOnly) {
            // Its place goes to a claim file of this process's own where the folder lets it go;
            // else the lock on it is the claim.
            if (::unlink(native.c_str()) == 0) {
                ::close(fd);
                continue;
            }
            owner = earlier;
            m_fd = fd;
            m_path = native;
            return Result::Claimed;
        }
        // Readable for every account whatever the umask, so that any later claimant can lock it.
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 0777) != 0644)
            ::fchmod(fd, 0644);
        const std::string pid = std::to_string(::getpid()) + "\n";
        // The id is on the disk with the name, so that a power cut leaves no claim without it.
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()) ||
            (::fsync(fd) != 0 && errno != EINVAL)) {
            error = errno != 0 ? errno : EIO;
            ::unlink(native.c_str());
            ::close(fd);
            return Result::Failed;
        }
        owner = earlier;
        m_fd = fd;
        m_path = native;
        return Result::Claimed;
    }
    error = EAGAIN;
    return Result::Failed;
}

void OwnerClaim::Release()
{
    if (m_fd < 0)
        return;
    // Compared while the lock is held. No claimant removes a claim file whose lock it does not
    // hold, so a name that holds this file now keeps it until it is removed here (unless somebody
    // removes it by hand in that instant); a newer claimant's file under the name stays.
    if (Names(m_path, m_fd))
        ::unlink(m_path.c_str());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}

} // namespace platform::fs
