#include "platform/fs/Claims.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/NativeFS.h"
#include "platform/fs/Sweep.h"
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

// MoveExclusive, and where the file system offers no such step, the name created exclusively
// and filled with the bytes (those of `from`): nothing that landed under the name is ever
// replaced, though a reader may see the file filling. For a file that others write by its name
// without any claim, losing their write would be worse than a reader's glimpse of it filling.
int PlaceExclusive(const std::string& from, const std::string& to, const std::string& bytes)
{
    const int moved = MoveExclusive(from, to);
    if (moved != ENOTSUP)
        return moved;
    struct stat source {};
    const mode_t mode = ::stat(from.c_str(), &source) == 0 ? (source.st_mode & 0777) : 0600;
    const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return errno;
    int error = WriteAll(fd, bytes);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlink(to.c_str());
        return error;
    }
    ::unlink(from.c_str());
    return 0;
}

// The file at target taken away under a private temporary name of this process beside it,
// opened and locked: from then on nobody else writes it by its name. ENOENT when there is none.
int TakeFile(const std::string& target, int& fd, std::string& taken)
{
    fd = -1;
    int reserved = -1;
    if (const int error = CreateTempBeside(target, kTempSuffix, reserved, taken))
        return error;
    int error = 0;
    fd = OpenLocked(target);
    if (fd < 0 || ::rename(target.c_str(), taken.c_str()) != 0) {
        error = errno;
        ::unlink(taken.c_str());
    }
    ::close(reserved);
    if (error != 0) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        return error;
    }
    fd = Reopened(fd, taken);
    return fd < 0 ? errno : 0;
}

// ReplaceOwnFile where the file system exchanges two names in one step: the replacement and
// the file at target change places, so the target's name is never without a file, and what
// came out is compared. A file of somebody else's that came out goes back the same way; kept
// answers whether the replacement's name holds such a file still, after a failure.
int ExchangeOwn(const std::string& target, const std::string& own, const std::string& replacement, bool& ours,
                bool& kept)
{
    struct stat put {};
    if (::lstat(replacement.c_str(), &put) != 0)
        return errno;
    int fd = OpenLocked(target);
    if (fd < 0)
        return errno == ENOENT ? 0 : errno;   // removed by somebody else: there is nothing to keep
    int error = Exchange(replacement, target);
    if (error != 0) {
        ::close(fd);
        return error == ENOENT ? 0 : error;   // removed meanwhile: the replacement stays out
    }
    if ((fd = Reopened(fd, replacement)) < 0)
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
        if (::lstat(replacement.c_str(), &back) != 0)
            return errno;
        if ((error = Exchange(replacement, target)) != 0 || ::lstat(replacement.c_str(), &out) != 0)
            return error != 0 ? error : errno;
        if (SameInode(out, put)) {
            kept = false;
            return 0;
        }
        put = back;
    }
    return ours ? 0 : EAGAIN;
}

// ReplaceOwnFile by taking the file away first, where names cannot be exchanged; the name is
// without a file only while the file is compared.
int TakeOwn(const std::string& target, const std::string& own, const std::string& replacement,
            const std::string& replacementBytes, bool& ours)
{
    int fd = -1;
    std::string taken;
    int error = TakeFile(target, fd, taken);
    if (error != 0) {
        if (!replacement.empty())
            ::unlink(replacement.c_str());
        return error == ENOENT ? 0 : error;
    }
    std::string bytes;
    ours = ReadAll(fd, bytes) == 0 && bytes == own;
    int saved = ours && !replacement.empty() ? PlaceExclusive(replacement, target, replacementBytes) : 0;
    if ((saved != 0 || !ours) && !replacement.empty())
        ::unlink(replacement.c_str());
    if (saved == EEXIST) {
        ours = false;   // written meanwhile by somebody else: theirs stays, and supersedes the taken file
        saved = 0;
    } else if (saved != 0 || !ours) {
        // Somebody else's file goes back, unless a newer one has landed since; a failed save
        // leaves the own file as it was.
        error = PlaceExclusive(taken, target, bytes);
    }
    if (error == EEXIST)
        error = 0;
    if (error == 0)
        ::unlink(taken.c_str());
    ::close(fd);
    return saved != 0 ? saved : error;
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
    bool kept = false;
    const std::string target = NativePath(path);
    int error = replacement.empty() ? ENOTSUP : ExchangeOwn(target, own, replacement, ours, kept);
    if (error == ENOTSUP) {
        error = TakeOwn(target, own, replacement, replacementBytes, ours);
    } else if (!kept) {
        // What is left under the replacement's name is the own earlier file, or a file superseded
        // by a newer write; never, unless a call failed, somebody's file that is not in its place.
        ::unlink(replacement.c_str());
    }
    // The names as they now stand survive a power cut.
    const int synced = SyncFolderOf(target);
    return error != 0 ? error : synced;
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
    // A holder that gives its claim up removes the file while it still holds the lock; a
    // claimant that locked that removed file tries again on the new one.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
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
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
            error = errno != 0 ? errno : EIO;
            ::unlink(native.c_str());
            ::close(fd);
            return Result::Failed;
        }
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
