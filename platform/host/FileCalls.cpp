// The calls that change names in a folder, made by the module or the host, pass the fault
// plan on their way to the system: a rule may stop the host just before a file is renamed,
// linked or removed (so that a test acts as another process would at that moment, and then
// lets it go on), or answer the call with an error number, as a file system without hard links
// or a full disk would. The program exports these names, so the module's calls come here first.
//
// Keys, most specific first: "CALL:NAME" for each file name the call names (no folder), then
// "CALL", then "file:FOLDER/" with the name of the (first) file's folder, then "file" for every
// one of them. CALL is rename, rename.noreplace, rename.exchange, link or unlink (their
// folder-relative forms alike).
//
// The sync of a folder (fsync on a folder's descriptor) passes it too, under its own keys only:
// "fsync.folder:NAME" with the folder's own name, then "fsync.folder", so that a rule may make
// the disk refuse it (5: an input/output error) or stop the host before it.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <climits>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/host/Host.h"

namespace {

std::string NameOf(const char* path)
{
    const std::string text = path ? path : "";
    const std::size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

// The name of the file's folder with a slash; empty when the path names none.
std::string FolderOf(const char* path)
{
    const std::string text = path ? path : "";
    const std::size_t slash = text.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return std::string();
    return NameOf(text.substr(0, slash).c_str()) + "/";
}

// The injected error number of the keys, 0 to let the call through.
int InjectedFor(const std::vector<std::string>& keys)
{
    xthost::Host* host = xthost::Host::Current();
    if (!host || host->Faults().Rules().empty())
        return 0;
    const int saved = errno;
    const auto answer = host->Inject(keys);
    errno = saved;
    return answer ? *answer : 0;
}

// The injected error number of the call, 0 to let it through.
int Injected(const char* call, const char* first, const char* second = nullptr)
{
    xthost::Host* host = xthost::Host::Current();
    if (!host || host->Faults().Rules().empty())
        return 0;
    std::vector<std::string> keys{std::string(call) + ":" + NameOf(first)};
    if (second)
        keys.push_back(std::string(call) + ":" + NameOf(second));
    keys.emplace_back(call);
    if (const std::string folder = FolderOf(first); !folder.empty())
        keys.push_back("file:" + folder);
    keys.emplace_back("file");
    return InjectedFor(keys);
}

template <class Function>
Function Next(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

int Fail(int error)
{
    errno = error;
    return -1;
}

}  // namespace

extern "C" {

int rename(const char* from, const char* to) noexcept
{
    static const auto next = Next<int (*)(const char*, const char*)>("rename");
    if (const int error = Injected("rename", from, to))
        return Fail(error);
    return next(from, to);
}

// The writers rename and remove relative to a folder they opened; a rule names the file alike.
int renameat(int fromFolder, const char* from, int toFolder, const char* to) noexcept
{
    static const auto next = Next<int (*)(int, const char*, int, const char*)>("renameat");
    if (const int error = Injected("rename", from, to))
        return Fail(error);
    return next(fromFolder, from, toFolder, to);
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags) noexcept
{
    static const auto next = Next<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
    const char* call = (flags & RENAME_EXCHANGE) ? "rename.exchange"
                       : (flags & RENAME_NOREPLACE) ? "rename.noreplace"
                                                    : "rename";
    if (const int error = Injected(call, from, to))
        return Fail(error);
    return next(fromFolder, from, toFolder, to, flags);
}

int link(const char* from, const char* to) noexcept
{
    static const auto next = Next<int (*)(const char*, const char*)>("link");
    if (const int error = Injected("link", from, to))
        return Fail(error);
    return next(from, to);
}

int fsync(int fd)
{
    static const auto next = Next<int (*)(int)>("fsync");
    struct stat st {};
    if (xthost::Host::Current() && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        char folder[PATH_MAX] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t size = ::readlink(link.c_str(), folder, sizeof folder - 1);
        const std::string name = size > 0 ? NameOf(std::string(folder, static_cast<std::size_t>(size)).c_str()) : "";
        if (const int error = InjectedFor({"fsync.folder:" + name, "fsync.folder"}))
            return Fail(error);
    }
    return next(fd);
}

int unlink(const char* path) noexcept
{
    static const auto next = Next<int (*)(const char*)>("unlink");
    if (const int error = Injected("unlink", path))
        return Fail(error);
    return next(path);
}

int unlinkat(int folder, const char* path, int flags) noexcept
{
    static const auto next = Next<int (*)(int, const char*, int)>("unlinkat");
    if (const int error = (flags & AT_REMOVEDIR) ? 0 : Injected("unlink", path))
        return Fail(error);
    return next(folder, path, flags);
}

}  // extern "C"
