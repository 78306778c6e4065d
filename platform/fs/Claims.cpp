#include "platform/fs/Claims.h"

#include <cerrno>
#include <cstdlib>
#include <string>

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

} // namespace

int CreateFileExclusive(const std::string& path, const std::string& bytes)
{
    if (const int fault = InjectedFault(Operation::ReplaceFile, path))
        return fault;
    // The bytes go into a private file first; linking it under the final name is the one step
    // that can succeed for only one caller, and the file appears complete.
    return WriteBeside(path, kTempSuffix, bytes, Finish::Exclusive);
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
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) != 0 || ::stat(native.c_str(), &named) != 0 || opened.st_dev != named.st_dev ||
            opened.st_ino != named.st_ino) {
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
    ::unlink(m_path.c_str());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}

} // namespace platform::fs
