// The document calls on file data: data forks read and written through the host.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/Folders.h"
#include "platform/host/FileErrors.h"
#include "platform/host/documents/DocHostState.h"

namespace xthost::doc {

namespace {
// Opens a file through no link that another user may have put on the way: the export's copy of
// a document must be the document the user opened, and what the host writes must land where the
// user meant.
int OpenFile(const std::string& path, int flags)
{
    int fd = -1;
    errno = platform::fs::OpenUnderRule(path, flags, fd, nullptr, 0644);
    return fd;
}
}  // namespace

int32_t DocHost::OpenDataFork(const std::string& path, int32_t permission, int16_t* ref)
{
    return Call("FIO-1", false,
                [&] { return "file.open " + Quoted(path) + " permission=" + std::to_string(permission); },
                [&] {
                    if (nextFileRef_ == INT16_MAX)
                        return HostErr::BadRef;
                    const int fd = OpenFile(path, O_RDONLY);
                    if (fd < 0)
                        return HostErr::FileNotFound;
                    *ref = nextFileRef_++;
                    files_[*ref] = std::make_unique<FileData>();
                    files_[*ref]->fd = fd;
                    return HostErr::Ok;
                });
}

int32_t DocHost::ReadData(int16_t ref, int32_t* count, void* buffer)
{
    return Call("FIO-2", false, [&] { return "file.read ref=" + std::to_string(ref); }, [&] {
        auto it = files_.find(ref);
        if (it == files_.end() || *count < 0 || (*count > 0 && !buffer)) {
            *count = 0;
            return HostErr::BadRef;
        }
        const int32_t wanted = *count;
        int32_t done = 0;
        while (done < wanted) {
            const ssize_t n = ::read(it->second->fd, static_cast<char*>(buffer) + done,
                                     static_cast<size_t>(wanted - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<int32_t>(n);
        }
        *count = done;
        return done < wanted ? HostErr::EndOfFile : HostErr::Ok;
    });
}

int32_t DocHost::DataLength(int16_t ref, int32_t* length)
{
    return Call("FIO-3", false, [&] { return "file.length ref=" + std::to_string(ref); }, [&] {
        auto it = files_.find(ref);
        struct stat st {};
        *length = 0;
        if (it == files_.end() || ::fstat(it->second->fd, &st) != 0)
            return HostErr::BadRef;
        if (st.st_size > INT32_MAX)
            return HostErr::BadRef;
        *length = static_cast<int32_t>(st.st_size);
        return HostErr::Ok;
    });
}

int32_t DocHost::CloseData(int16_t ref)
{
    return Call("FIO-4", false, [&] { return "file.close ref=" + std::to_string(ref); },
                [&] { return files_.erase(ref) ? HostErr::Ok : HostErr::BadRef; });
}

int32_t DocHost::CreateDataFile(const std::string& path, int32_t access, int16_t* ref)
{
    return Call("FIO-5", true, [&] { return "file.create " + Quoted(path) + " access=" + std::to_string(access); },
                [&] {
                    if (nextFileRef_ == INT16_MAX)
                        return HostErr::BadRef;
                    const int fd = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC);
                    if (fd < 0)
                        return HostFileError(errno, HostErr::FileNotFound);
                    *ref = nextFileRef_++;
                    files_[*ref] = std::make_unique<FileData>();
                    files_[*ref]->fd = fd;
                    return HostErr::Ok;
                });
}

int32_t DocHost::WriteData(int16_t ref, int32_t* count, const void* buffer)
{
    return Call("FIO-6", false, [&] { return "file.write ref=" + std::to_string(ref); }, [&] {
        auto it = files_.find(ref);
        if (it == files_.end() || *count < 0 || (*count > 0 && !buffer)) {
            *count = 0;
            return HostErr::BadRef;
        }
        int32_t done = 0;
        int error = WriteFault("FIO-6");
        while (error == 0 && done < *count) {
            const ssize_t n = ::write(it->second->fd, static_cast<const char*>(buffer) + done,
                                      static_cast<size_t>(*count - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = n < 0 ? errno : EIO;
                break;
            }
            done += static_cast<int32_t>(n);
        }
        *count = done;
        return error == 0 ? HostErr::Ok : HostFileError(error, HostErr::WriteFailed);
    });
}

int DocHost::WriteFault(const char* role)
{
    if (!inject_)
        return 0;
    if (const auto error = inject_(std::string("write:") + role))
        return *error;
    const auto error = inject_("write");
    return error ? *error : 0;
}

}  // namespace xthost::doc
