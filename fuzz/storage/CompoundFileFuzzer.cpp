// Opens an arbitrary file as a compound file and walks all of it.
#include "fuzz/storage/WalkStorage.h"

#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = ::memfd_create("compound-file", MFD_CLOEXEC);
    if (fd < 0) return 0;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    if (done == size) storage_walk::walkFile(("/proc/self/fd/" + std::to_string(fd)).c_str());
    ::close(fd);
    return 0;
}
