#include "platform/fs/NativeFS.h"

#include "platform/fs/Sweep.h"
#include "platform/fs/Folders.h"
#include "platform/fs/TempFiles.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::fs {

namespace {

FaultHook& Faults()
{
    static FaultHook hook;
    return hook;
}

PauseHook& Pauses()
{
    static PauseHook hook;
    return hook;
}

int ResultOf(int rc)
{
    return rc == 0 ? 0 : (errno != 0 ? errno : EIO);
}

} // namespace

std::string NativePath(const std::string& path)
{
    std::string native(path);
    for (char& c : native)
        if (c == '\\')
            c = '/';
    return native;
}

bool GetStatus(const std::string& path, Status& status)
{
    struct stat st {};
    if (::stat(NativePath(path).c_str(), &st) != 0)
        return false;
    status.isDirectory = S_ISDIR(st.st_mode);
    status.isRegular = S_ISREG(st.st_mode);
    status.size = static_cast<uint64_t>(st.st_size);
    return true;
}

int InjectedFault(Operation op, const std::string& path)
{
    const FaultHook& hook = Faults();
    return hook ? hook(op, path) : 0;
}

int RemoveFile(const std::string& path)
{
    if (int fault = InjectedFault(Operation::RemoveFile, path))
        return fault;
    // Never through a link on the way that another user may have put there.
    Place place;
    if (const int error = OpenPlace(path, place))
        return error;
    return ResultOf(::unlinkat(place.folder.Get(), place.name.c_str(), 0));
}

int MakeFolder(const std::string& path)
{
    if (int fault = InjectedFault(Operation::MakeFolder, path))
        return fault;
    // A folder named with a trailing separator is made all the same.
    std::string folder = NativePath(path);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    Place place;
    int error = OpenPlace(folder, place);
    if (error == 0)
        error = ResultOf(::mkdirat(place.folder.Get(), place.name.empty() ? "." : place.name.c_str(), 0777));
    // The new folder is a name in its parent: durable, with the names made in it, before the
    // run reports what it put there.
    if (error == 0)
        DeferFolderSync(path);
    return error;
}

int RemoveFolder(const std::string& path)
{
    if (int fault = InjectedFault(Operation::RemoveFolder, path))
        return fault;
    return ResultOf(::rmdir(NativePath(path).c_str()));
}

int ReplaceFile(const std::string& path, const std::string& bytes)
{
    if (int fault = InjectedFault(Operation::ReplaceFile, path))
        return fault;
    const std::string target = NativePath(path);
    const std::size_t slash = target.rfind('/');
    if (target.empty() || slash + 1 == target.size())
        return EISDIR;
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISDIR(old.st_mode))
        return EISDIR;
    return WriteBeside(target, kTempSuffix, bytes, Finish::Replace);
}

int MoveOver(const std::string& from, const std::string& to)
{
    if (int fault = InjectedFault(Operation::MoveOver, to))
        return fault;
    const int fd = ::open(NativePath(from).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = FinishTemp(fd, NativePath(from), to);
    ::close(fd);
    return error;
}

std::string ErrorText(int error)
{
    return std::strerror(error);
}

std::string TempFolder()
{
    std::string folder;
    if (const char* env = std::getenv("TMPDIR"); env && *env)
        folder = env;
    else
        folder = P_tmpdir;
    if (folder.empty())
        return folder;
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

void Pause(unsigned milliseconds)
{
    if (const PauseHook& hook = Pauses()) {
        hook(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetFaultHook(FaultHook hook)
{
    Faults() = std::move(hook);
}

void SetPauseHook(PauseHook hook)
{
    Pauses() = std::move(hook);
}

} // namespace platform::fs
