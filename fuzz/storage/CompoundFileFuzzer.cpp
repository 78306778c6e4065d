// Opens an arbitrary file as a compound file and walks all of it. A file that reads without
// error is then also opened for writing, changed and finished, and what that wrote must read
// back without error.
#include "fuzz/storage/WalkStorage.h"

#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// A folder of this process for the files rewritten, removed at exit.
struct Scratch {
    Scratch() : folder("/tmp/compound-file-fuzzer-" + std::to_string(::getpid())) {
        made = ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
    }
    ~Scratch() { ::rmdir(folder.c_str()); }
    std::string folder;
    bool made = false;
};

// Rewrites a readable file through the writing side: one element destroyed, one stream added.
void rewrite(const uint8_t* data, size_t size) {
    static const Scratch scratch;
    const std::string path = scratch.folder + "/input.cfb";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (!scratch.made || fd < 0) return;
    const bool written = writeAll(fd, data, size);
    ::close(fd);
    IStorage* root = nullptr;
    if (!written ||
        FAILED(StgOpenStorage(path.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, &root)))
        return;
    IEnumSTATSTG* elements = nullptr;
    STATSTG stat;
    if (SUCCEEDED(root->EnumElements(0, nullptr, 0, &elements))) {
        if (elements->Next(1, &stat, nullptr) == S_OK) {
            root->DestroyElement(stat.pwcsName);
            storage_walk::freeName(stat);
        }
        elements->Release();
    }
    IStream* stream = nullptr;
    if (SUCCEEDED(root->CreateStream(u"added", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream))) {
        uint32_t count = 0;
        stream->Write(data, uint32_t(size), &count);
        stream->Release();
    }
    const HRESULT flushed = root->Flush();
    root->Release();
    if (SUCCEEDED(flushed) && storage_walk::walkFile(path.c_str()) != S_OK) {
        std::fprintf(stderr, "a rewritten file does not read back\n");
        std::abort();
    }
    ::unlink(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = ::memfd_create("compound-file", MFD_CLOEXEC);
    if (fd < 0) return 0;
    const bool written = writeAll(fd, data, size);
    const HRESULT walked = written ? storage_walk::walkFile(("/proc/self/fd/" + std::to_string(fd)).c_str()) : E_UNEXPECTED;
    ::close(fd);
    if (walked == S_OK) rewrite(data, size);
    return 0;
}
