#include "platform/storage/CompoundFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/Folders.h"
#include "platform/fs/TempFiles.h"

namespace cfb {

namespace {

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr size_t kHeaderSize = 512;
constexpr size_t kHeaderDifat = 109;
constexpr size_t kEntrySize = 128;
constexpr unsigned kWriteShift = 9;         // version 3: 512-byte sectors
constexpr unsigned kDepthLimit = 1000;      // storage nesting accepted from a file
constexpr size_t kCopyBlock = 1 << 20;

// What the last damaged file of this thread was found to hold. A plain array: a thread-local
// object with a destructor would tie the library to the threads of a module that is unloaded.
thread_local char t_damage[512];

// Notes which check a damaged file failed, for StgTakeDamage.
HRESULT Damaged(const std::string& what) {
    const size_t n = std::min(what.size(), sizeof t_damage - 1);
    std::memcpy(t_damage, what.data(), n);
    t_damage[n] = '\0';
    return STG_E_DOCFILECORRUPT;
}

std::string Num(uint64_t n) { return std::to_string(n); }
constexpr size_t kHoldSize = 1 << 20;       // stream data gathered before it is written
constexpr uint32_t kPageAlignment = 4096;
constexpr uint32_t kLargeAlignment = 64 * 1024;
constexpr char16_t kRootName[] = u"Root Entry";

static_assert(sizeof(char16_t) == 2, "names are UTF-16 code units");

uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t get64(const uint8_t* p) { return get32(p) | uint64_t(get32(p + 4)) << 32; }
void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, uint16_t(v));
    put16(p + 2, uint16_t(v >> 16));
}
void put64(uint8_t* p, uint64_t v) {
    put32(p, uint32_t(v));
    put32(p + 4, uint32_t(v >> 32));
}

// Units of `unit` bytes that hold `bytes`, without overflowing for sizes a file may claim.
uint64_t unitsFor(uint64_t bytes, uint64_t unit) { return bytes / unit + (bytes % unit != 0); }

HRESULT fromErrno(int e, HRESULT otherwise) {
    switch (e) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return STG_E_MEDIUMFULL;
    case ENOMEM: return STG_E_INSUFFICIENTMEMORY;
    case EMFILE:
    case ENFILE: return STG_E_TOOMANYOPENFILES;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return STG_E_ACCESSDENIED;
    default: return otherwise;
    }
}

// Reads exactly `count` bytes; what lies beyond the end of the file reads as zeros (a file whose
// last sector is cut short).
HRESULT readAt(int fd, void* buffer, size_t count, uint64_t offset) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        const ssize_t r = ::pread(fd, p, count, off_t(offset));
        if (r < 0) {
            if (errno == EINTR) continue;
            return STG_E_READFAULT;
        }
        if (r == 0) {
            std::memset(p, 0, count);
            break;
        }
        p += r;
        count -= size_t(r);
        offset += uint64_t(r);
    }
    return S_OK;
}

HRESULT writeAt(int fd, const void* data, size_t count, uint64_t offset) {
    auto* p = static_cast<const uint8_t*>(data);
    while (count > 0) {
        const ssize_t r = ::pwrite(fd, p, count, off_t(offset));
        if (r < 0) {
            if (errno == EINTR) continue;
            return fromErrno(errno, STG_E_WRITEFAULT);
        }
        if (r == 0) return STG_E_WRITEFAULT;
        p += r;
        count -= size_t(r);
        offset += uint64_t(r);
    }
    return S_OK;
}

// Calls op(file offset, offset into the caller's buffer, length) over [offset, offset + count) of
// data kept in units of 1 << unitShift bytes, where(unit) giving each unit's file offset, with
// one call per run of adjacent units: a stream written in order is read and written with one
// call per run instead of one per sector.
template <class Where, class Op>
HRESULT forEachRun(const std::vector<uint32_t>& units, unsigned unitShift, Where where, uint64_t offset,
                   size_t count, Op op) {
    const uint64_t unitSize = uint64_t(1) << unitShift;
    size_t index = size_t(offset >> unitShift);
    uint64_t inner = offset & (unitSize - 1);
    size_t done = 0;
    while (done < count) {
        if (index >= units.size()) return E_UNEXPECTED;
        const uint64_t first = where(units[index]);
        uint64_t end = first + unitSize;
        size_t next = index + 1;
        while (done + (end - first - inner) < count && next < units.size() && where(units[next]) == end) {
            end += unitSize;
            ++next;
        }
        const size_t n = size_t(std::min<uint64_t>(end - first - inner, count - done));
        if (HRESULT hr = op(first + inner, done, n); FAILED(hr)) return hr;
        done += n;
        index = next;
        inner = 0;
    }
    return S_OK;
}

// Collects bytes into a buffer written out whenever it is full, so that the tables of a large
// file go out in few large writes without being built whole in memory.
class SequentialWriter {
public:
    SequentialWriter(int fd, uint64_t offset) : fd_(fd), offset_(offset), buffer_(1 << 20) {}

    void append(const void* data, size_t count) {
        auto* p = static_cast<const uint8_t*>(data);
        while (count > 0) {
            const size_t n = std::min(count, buffer_.size() - used_);
            std::memcpy(buffer_.data() + used_, p, n);
            used_ += n;
            p += n;
            count -= n;
            if (used_ == buffer_.size()) drain();
        }
    }
    void zeros(size_t count) {
        while (count > 0) {
            const size_t n = std::min(count, buffer_.size() - used_);
            std::memset(buffer_.data() + used_, 0, n);
            used_ += n;
            count -= n;
            if (used_ == buffer_.size()) drain();
        }
    }
    void u32(uint32_t value) {
        uint8_t bytes[4];
        put32(bytes, value);
        append(bytes, 4);
    }
    HRESULT finish() {
        drain();
        return result_;
    }

private:
    void drain() {
        if (SUCCEEDED(result_) && used_ > 0) result_ = writeAt(fd_, buffer_.data(), used_, offset_);
        offset_ += used_;
        used_ = 0;
    }

    int fd_;
    uint64_t offset_;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    HRESULT result_ = S_OK;
};

HRESULT lockFile(int fd, bool exclusive) {
    while (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? STG_E_SHAREVIOLATION : STG_E_LOCKVIOLATION;
    }
    return S_OK;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// An open() failure for `path`: an absent file and an absent folder answer differently.
HRESULT openFailure(int e, const std::string& path) {
    if (e == ENOTDIR || e == ENAMETOOLONG || e == ELOOP) return STG_E_PATHNOTFOUND;
    if (e == ENOENT) {
        struct stat st;
        const std::string folder = folderOf(path);
        return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? STG_E_FILENOTFOUND
                                                                       : STG_E_PATHNOTFOUND;
    }
    return fromErrno(e, STG_E_ACCESSDENIED);
}

// Opens an existing regular file for reading and locks it.
HRESULT openExisting(const std::string& path, bool exclusive, int& fd, uint64_t& size) {
    // Through no link that another user may have put on the way (platform/fs/Folders.h).
    if (const int error = platform::fs::OpenUnderRule(path, O_RDONLY | O_NONBLOCK, fd))
        return openFailure(error, path);
    struct stat st;
    HRESULT hr = S_OK;
    if (::fstat(fd, &st) != 0)
        hr = STG_E_READFAULT;
    else if (!S_ISREG(st.st_mode))
        hr = STG_E_ACCESSDENIED;
    else
        hr = lockFile(fd, exclusive);
    if (FAILED(hr)) {
        ::close(fd);
        fd = -1;
        return hr;
    }
    size = uint64_t(st.st_size);
    return S_OK;
}

void readClsid(const uint8_t* p, CLSID& c) {
    c.Data1 = get32(p);
    c.Data2 = get16(p + 4);
    c.Data3 = get16(p + 6);
    std::memcpy(c.Data4, p + 8, 8);
}

void writeEntry(uint8_t* p, const Node& e, uint32_t left, uint32_t right, uint32_t child, uint32_t start,
                uint64_t size) {
    const std::u16string_view name = e.kind == Kind::Root ? std::u16string_view(kRootName) : e.name;
    for (size_t k = 0; k < name.size(); ++k) put16(p + 2 * k, name[k]);
    put16(p + 64, uint16_t((name.size() + 1) * 2));
    p[66] = uint8_t(e.kind);
    p[67] = 1;   // black: a tree of black nodes is a valid red-black tree when balanced
    put32(p + 68, left);
    put32(p + 72, right);
    put32(p + 76, child);
    put32(p + 80, e.clsid.Data1);
    put16(p + 84, e.clsid.Data2);
    put16(p + 86, e.clsid.Data3);
    std::memcpy(p + 88, e.clsid.Data4, 8);
    put32(p + 96, e.stateBits);
    put64(p + 100, e.ctime);
    put64(p + 108, e.mtime);
    put32(p + 116, start);
    put64(p + 120, size);
}

}  // namespace

bool inUse(const Node& node) {
    std::vector<const Node*> stack{&node};
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (n->users) return true;
        for (const auto& c : n->children) stack.push_back(c.second.get());
    }
    return false;
}

// ---- Opening and creating -------------------------------------------------------------------

HRESULT File::openForReading(const std::string& path, bool exclusive, std::shared_ptr<File>& out) {
    std::shared_ptr<File> file(new File());
    uint64_t size = 0;
    if (HRESULT hr = openExisting(path, exclusive, file->fd_, size); FAILED(hr)) return hr;
    file->path_ = path;
    if (HRESULT hr = file->load(size); FAILED(hr)) return hr;
    out = std::move(file);
    return S_OK;
}

HRESULT File::create(const std::string& path, bool failIfThere, std::shared_ptr<File>& out) {
    // An existing target stays locked (and untouched) until the new file replaces it.
    int targetFd = -1;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (failIfThere) return STG_E_FILEALREADYEXISTS;
        uint64_t size = 0;
        if (HRESULT hr = openExisting(path, true, targetFd, size); FAILED(hr)) {
            // A target the process may write but not read (0602) is replaced without being
            // read: a descriptor for writing holds the lock as well, and leaves the file as it is.
            if (hr != STG_E_ACCESSDENIED || !S_ISREG(st.st_mode) ||
                (targetFd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW)) < 0)
                return hr;
            if (HRESULT locked = lockFile(targetFd, true); FAILED(locked)) {
                ::close(targetFd);
                return locked;
            }
        }
    } else if (errno != ENOENT) {
        return openFailure(errno, path);
    }
    return startWriting(path, targetFd, out);
}

HRESULT File::openForWriting(const std::string& path, std::shared_ptr<File>& out) {
    std::shared_ptr<File> source;
    if (HRESULT hr = openForReading(path, true, source); FAILED(hr)) return hr;
    std::shared_ptr<File> file;
    if (HRESULT hr = startWriting(path, -1, file); FAILED(hr)) return hr;
    Node& root = file->root_;
    root.clsid = source->root_.clsid;
    root.stateBits = source->root_.stateBits;
    root.ctime = source->root_.ctime;
    root.mtime = source->root_.mtime;
    for (const auto& child : source->root_.children) {
        if (HRESULT hr = file->copyInto(*source, *child.second, root, child.second->name); FAILED(hr)) {
            file->revert();   // a partial copy must never replace the file
            return hr;
        }
    }
    // The new file takes over the source's lock, so that no other open slips in before the rename.
    file->targetFd_ = source->fd_;
    source->fd_ = -1;
    out = std::move(file);
    return S_OK;
}

HRESULT File::startWriting(const std::string& path, int targetFd, std::shared_ptr<File>& out) {
    std::shared_ptr<File> file(new File());
    file->path_ = path;
    file->targetFd_ = targetFd;
    file->shift_ = kWriteShift;
    file->root_.kind = Kind::Root;
    file->root_.name = kRootName;

    // A hidden name beside the target, whatever the target's name; the next writer of the same
    // user into the folder removes it when a killed process left it behind.
    int fd = -1;
    std::string temp;
    if (const int error = platform::fs::CreateTempBeside(path, platform::fs::kTempSuffix, fd, temp))
        return openFailure(error, path);
    file->fd_ = fd;
    file->tempPath_ = std::move(temp);
    if (HRESULT hr = lockFile(file->fd_, true); FAILED(hr)) return hr;
    file->writable_ = true;
    file->dirty_ = true;
    out = std::move(file);
    return S_OK;
}

// The last reference of a file being written finishes it; callers that must know whether that
// worked call flush() before.
File::~File() {
    if (writable_ && !reverted_ && SUCCEEDED(failure_) && (dirty_ || !replaced_)) flush();
    if (!replaced_ && !tempPath_.empty()) ::unlink(tempPath_.c_str());
    if (fd_ >= 0) ::close(fd_);
    if (targetFd_ >= 0) ::close(targetFd_);
}

// ---- Reading a file -------------------------------------------------------------------------

// Every count, sector number and chain is checked against the file's size before it is used, and
// every sector may belong to one chain only (which also catches loops), so a damaged or hostile
// file costs no more memory and time than its size justifies.
HRESULT File::load(uint64_t fileSize) {
    uint8_t h[kHeaderSize];
    if (fileSize < kHeaderSize) return STG_E_FILEALREADYEXISTS;
    if (HRESULT hr = readAt(fd_, h, kHeaderSize, 0); FAILED(hr)) return hr;
    if (std::memcmp(h, kSignature, sizeof kSignature) != 0) return STG_E_FILEALREADYEXISTS;

    const uint16_t major = get16(h + 26);
    const uint16_t shift = get16(h + 30);
    if (get16(h + 28) != 0xFFFE || get16(h + 32) != 6 || get32(h + 56) != kMiniStreamCutoff ||
        !((major == 3 && shift == 9) || (major == 4 && shift == 12)))
        return Damaged("its header is that of no version 3 or 4 compound file");
    shift_ = shift;
    const uint64_t sectorSize = uint64_t(1) << shift;
    if (fileSize < sectorSize) return Damaged("it ends inside its header's sector");
    const uint64_t sectors = unitsFor(fileSize - sectorSize, sectorSize);
    if (sectors > kMaxRegSect) return Damaged("it has more sectors than a compound file can number");
    sectorCount_ = uint32_t(sectors);
    const auto sizeField = [major](const uint8_t* p) { return major == 3 ? uint64_t(get32(p)) : get64(p); };

    const uint32_t fatCount = get32(h + 44);
    const uint32_t firstDirectory = get32(h + 48);
    const uint32_t firstMiniFat = get32(h + 60);
    const uint32_t miniFatCount = get32(h + 64);
    const uint32_t firstDifat = get32(h + 68);
    const uint32_t difatCount = get32(h + 72);
    if (fatCount > sectorCount_ || miniFatCount > sectorCount_ || difatCount > sectorCount_)
        return Damaged("its header counts " + Num(std::max({fatCount, miniFatCount, difatCount})) +
                       " sectors of a table, more than the file's " + Num(sectorCount_) + " sectors");

    // Each sector belongs to one chain: a sector met again is a loop, or a sector two chains share.
    std::vector<uint8_t> used(sectorCount_);   // bytes, not bits: the chains of a large file are long
    std::string damage;
    const auto beyondOrTaken = [&](uint32_t s, size_t count, const std::string& chain, bool own) {
        damage = s >= count ? chain + " names sector " + Num(s) + ", beyond the " + Num(count) + " there are"
                 : own      ? chain + " loops back to sector " + Num(s)
                            : chain + " runs into sector " + Num(s) + ", which another chain holds";
        return false;
    };
    const auto claim = [&](uint32_t s, const char* chain) {
        if (s >= sectorCount_ || used[s]) return beyondOrTaken(s, sectorCount_, chain, false);
        used[s] = 1;
        return true;
    };
    const size_t perSector = size_t(sectorSize / 4);

    // The allocation table's own sectors: 109 in the header, the rest in the DIFAT chain.
    std::vector<uint32_t> fatSectors;
    fatSectors.reserve(fatCount);
    for (size_t i = 0; i < kHeaderDifat && fatSectors.size() < fatCount; ++i) {
        const uint32_t s = get32(h + 76 + 4 * i);
        if (!claim(s, "the allocation table's list of its sectors")) return Damaged(damage);
        fatSectors.push_back(s);
    }
    std::vector<uint8_t> block(sectorSize);
    uint32_t next = firstDifat;
    for (uint32_t seen = 0; fatSectors.size() < fatCount; ++seen) {
        if (seen == difatCount)
            return Damaged("its header lists " + Num(fatSectors.size()) + " of its " + Num(fatCount) +
                           " allocation-table sectors");
        if (!claim(next, "the chain of the allocation table's list")) return Damaged(damage);
        if (HRESULT hr = readAt(fd_, block.data(), sectorSize, (uint64_t(next) + 1) << shift); FAILED(hr))
            return hr;
        for (size_t k = 0; k + 1 < perSector && fatSectors.size() < fatCount; ++k) {
            const uint32_t s = get32(block.data() + 4 * k);
            if (!claim(s, "the allocation table's list of its sectors")) return Damaged(damage);
            fatSectors.push_back(s);
        }
        next = get32(block.data() + 4 * (perSector - 1));
    }

    // A table's sectors are read into its own entries, and each entry is then decoded from the
    // little-endian bytes that landed in it.
    const auto readTable = [&](const std::vector<uint32_t>& chain, std::vector<uint32_t>& table) -> HRESULT {
        table.resize(chain.size() * perSector);
        if (HRESULT hr = readSectors(chain, 0, table.data(), table.size() * 4); FAILED(hr)) return hr;
        for (uint32_t& entry : table) entry = get32(reinterpret_cast<const uint8_t*>(&entry));
        return S_OK;
    };
    std::vector<uint32_t> fat;
    if (HRESULT hr = readTable(fatSectors, fat); FAILED(hr)) return hr;

    // Follows `count` links of a chain (or up to its end for kWholeChain), claiming each unit;
    // false, with the damage noted, when a link leads out of the table or to a unit taken.
    constexpr uint64_t kWholeChain = ~uint64_t(0);
    const auto follow = [&](uint32_t start, uint64_t count, const std::vector<uint32_t>& table,
                            std::vector<uint8_t>& taken, std::vector<uint32_t>& out, const std::string& chain) {
        uint32_t s = start;
        const size_t first = out.size();
        for (uint64_t k = 0; count == kWholeChain ? s != kEndOfChain : k < count; ++k) {
            if (s >= table.size() || s >= taken.size() || taken[s])
                return beyondOrTaken(s, std::min(table.size(), taken.size()), chain,
                                     std::find(out.begin() + first, out.end(), s) != out.end());
            taken[s] = 1;
            out.push_back(s);
            s = table[s];
        }
        return true;
    };

    std::vector<uint32_t> directoryChain;
    if (!follow(firstDirectory, kWholeChain, fat, used, directoryChain, "the directory's chain")) return Damaged(damage);
    if (directoryChain.empty()) return Damaged("its directory is empty");
    const size_t directorySize = directoryChain.size() * sectorSize;
    const std::unique_ptr<uint8_t[]> directory(new uint8_t[directorySize]);   // every byte is read
    if (HRESULT hr = readSectors(directoryChain, 0, directory.get(), directorySize); FAILED(hr)) return hr;
    const size_t entries = directorySize / kEntrySize;
    const uint8_t* rootEntry = directory.get();
    if (rootEntry[66] != uint8_t(Kind::Root)) return Damaged("its directory begins with no root entry");

    std::vector<uint32_t> miniFat;
    if (miniFatCount > 0) {
        std::vector<uint32_t> miniFatChain;
        if (!follow(firstMiniFat, miniFatCount, fat, used, miniFatChain, "the mini allocation table's chain"))
            return Damaged(damage);
        if (HRESULT hr = readTable(miniFatChain, miniFat); FAILED(hr)) return hr;
    }

    // Streams below the cutoff are read through the mini stream's own chain when they are read.
    const uint64_t miniSize = sizeField(rootEntry + 120);
    miniSize_ = miniSize;
    if (miniSize > 0) {
        const uint64_t needed = unitsFor(miniSize, sectorSize);
        if (needed > sectorCount_)
            return Damaged("its mini stream of " + Num(miniSize) + " bytes is larger than the file");
        if (!follow(get32(rootEntry + 116), needed, fat, used, miniChain_, "the mini stream's chain"))
            return Damaged(damage);
    }
    std::vector<uint8_t> miniUsed(std::min<uint64_t>(miniFat.size(), miniSize / kMiniSectorSize));

    root_.kind = Kind::Root;
    root_.name = kRootName;
    readClsid(rootEntry + 80, root_.clsid);
    root_.stateBits = get32(rootEntry + 96);
    root_.ctime = get64(rootEntry + 100);
    root_.mtime = get64(rootEntry + 108);

    struct Pending {
        uint32_t id;
        Node* parent;
        unsigned depth;
    };
    std::vector<bool> visited(entries);
    visited[0] = true;
    std::vector<Pending> pending;
    if (get32(rootEntry + 76) != kNoStream) pending.push_back({get32(rootEntry + 76), &root_, 1});
    while (!pending.empty()) {
        const Pending p = pending.back();
        pending.pop_back();
        if (p.id >= entries)
            return Damaged("its directory links to entry " + Num(p.id) + ", beyond its " + Num(entries) + " entries");
        if (visited[p.id]) return Damaged("its directory links to entry " + Num(p.id) + " a second time (a cycle)");
        visited[p.id] = true;
        const uint8_t* e = directory.get() + size_t(p.id) * kEntrySize;

        const uint16_t nameBytes = get16(e + 64);
        const std::string entry = "directory entry " + Num(p.id);
        if (nameBytes < 4 || nameBytes > 64 || nameBytes % 2 != 0)
            return Damaged(entry + " has a name of " + Num(nameBytes) + " bytes");
        std::u16string name(nameBytes / 2 - 1, u'\0');
        for (size_t k = 0; k < name.size(); ++k)
            if ((name[k] = char16_t(get16(e + 2 * k))) == 0) return Damaged(entry + " has a NUL inside its name");
        const uint8_t type = e[66];
        if (type != uint8_t(Kind::Storage) && type != uint8_t(Kind::Stream))
            return Damaged(entry + " is of type " + Num(type) + ", neither storage nor stream");
        auto owned = std::make_unique<Node>();
        Node& node = *owned;
        if (!p.parent->children.emplace(upperCased(name), std::move(owned)).second)
            return Damaged(entry + " has the name of another item of its storage");
        node.name = std::move(name);
        node.kind = Kind(type);
        node.parent = p.parent;
        readClsid(e + 80, node.clsid);
        node.stateBits = get32(e + 96);
        node.ctime = get64(e + 100);
        node.mtime = get64(e + 108);

        if (node.kind == Kind::Stream) {
            node.size = sizeField(e + 120);
            const uint32_t start = get32(e + 116);
            if (node.size < kMiniStreamCutoff) {
                node.chain.reserve(size_t(unitsFor(node.size, kMiniSectorSize)));
                if (!follow(start, unitsFor(node.size, kMiniSectorSize), miniFat, miniUsed, node.chain,
                            "the mini-sector chain of stream \"" + utf16ToUtf8(node.name) + "\" (" + entry + ")"))
                    return Damaged(damage);
            } else {
                const uint64_t needed = unitsFor(node.size, sectorSize);
                if (needed > sectorCount_)
                    return Damaged("stream \"" + utf16ToUtf8(node.name) + "\" (" + entry + ") of " + Num(node.size) +
                                   " bytes is larger than the file");
                node.chain.reserve(size_t(needed));
                if (!follow(start, needed, fat, used, node.chain,
                            "the chain of stream \"" + utf16ToUtf8(node.name) + "\" (" + entry + ")"))
                    return Damaged(damage);
            }
        }
        for (const size_t at : {68, 72})
            if (get32(e + at) != kNoStream) pending.push_back({get32(e + at), p.parent, p.depth});
        if (node.kind == Kind::Storage && get32(e + 76) != kNoStream) {
            if (p.depth >= kDepthLimit)
                return Damaged("its storages nest deeper than " + Num(kDepthLimit) + " levels");
            pending.push_back({get32(e + 76), &node, p.depth + 1});
        }
    }
    return S_OK;
}

// ---- Stream data ----------------------------------------------------------------------------

HRESULT File::changeable() const {
    if (reverted_) return STG_E_REVERTED;
    if (!writable_) return STG_E_ACCESSDENIED;
    return failure_;
}

HRESULT File::fail(HRESULT hr) {
    if (SUCCEEDED(failure_)) failure_ = hr;
    return hr;
}

HRESULT File::readSectors(const std::vector<uint32_t>& chain, uint64_t offset, void* buffer, size_t count) const {
    auto* out = static_cast<uint8_t*>(buffer);
    const unsigned shift = shift_;
    return forEachRun(chain, shift, [shift](uint32_t s) { return (uint64_t(s) + 1) << shift; }, offset, count,
                      [&](uint64_t at, size_t done, size_t n) {
                          const HRESULT hr = readAt(fd_, out + done, n, at);
                          if (SUCCEEDED(hr)) overlayHeld(at, out + done, n);
                          return hr;
                      });
}

// The held bytes are newer than what the file has at their place.
void File::overlayHeld(uint64_t offset, uint8_t* buffer, size_t count) const {
    if (heldSize_ == 0) return;
    const uint64_t from = std::max(offset, heldAt_), to = std::min(offset + count, heldAt_ + heldSize_);
    if (from < to) std::memcpy(buffer + (from - offset), held_.get() + (from - heldAt_), size_t(to - from));
}

// A write that continues the held bytes joins them; any other write first sends them out, so
// that writes reach the file in the order they were made.
HRESULT File::putAt(const void* data, size_t count, uint64_t offset) {
    if (heldSize_ > 0 && offset == heldAt_ + heldSize_ && count <= kHoldSize - heldSize_) {
        std::memcpy(held_.get() + heldSize_, data, count);
        heldSize_ += count;
        return S_OK;
    }
    if (HRESULT hr = release(); FAILED(hr)) return hr;
    if (count >= kHoldSize / 2) return writeAt(fd_, data, count, offset);
    if (!held_) held_.reset(new uint8_t[kHoldSize]);
    std::memcpy(held_.get(), data, count);
    heldAt_ = offset;
    heldSize_ = count;
    return S_OK;
}

// Sends the held bytes out. They are let go also when that fails: the file has failed then and
// is never finished.
HRESULT File::release() {
    if (heldSize_ == 0) return S_OK;
    const size_t count = heldSize_;
    heldSize_ = 0;
    return writeAt(fd_, held_.get(), count, heldAt_);
}

// Mini sectors lie in the mini stream, which is read whole on first use: the streams below the
// cutoff are then served from memory instead of with one read from the file each.
HRESULT File::readMini(const std::vector<uint32_t>& units, uint64_t offset, void* buffer, size_t count) const {
    if (!miniStream_) {
        std::unique_ptr<uint8_t[]> mini(new uint8_t[size_t(miniSize_)]);   // every byte is read
        if (HRESULT hr = readSectors(miniChain_, 0, mini.get(), size_t(miniSize_)); FAILED(hr)) return hr;
        miniStream_ = std::move(mini);
    }
    auto* out = static_cast<uint8_t*>(buffer);
    return forEachRun(units, 6, [](uint32_t unit) { return uint64_t(unit) * kMiniSectorSize; }, offset, count,
                      [&](uint64_t at, size_t done, size_t n) {
                          std::memcpy(out + done, miniStream_.get() + at, n);
                          return S_OK;
                      });
}

HRESULT File::writeSectors(const std::vector<uint32_t>& chain, uint64_t offset, const void* data, size_t count) {
    auto* in = static_cast<const uint8_t*>(data);
    const unsigned shift = shift_;
    return forEachRun(chain, shift, [shift](uint32_t s) { return (uint64_t(s) + 1) << shift; }, offset, count,
                      [&](uint64_t at, size_t done, size_t n) { return putAt(in + done, n, at); });
}

HRESULT File::writeZeros(const std::vector<uint32_t>& chain, uint64_t from, uint64_t to) {
    static const std::vector<uint8_t> zeros(64 * 1024);
    while (from < to) {
        const size_t n = size_t(std::min<uint64_t>(zeros.size(), to - from));
        if (HRESULT hr = writeSectors(chain, from, zeros.data(), n); FAILED(hr)) return hr;
        from += n;
    }
    return S_OK;
}

// A chain that ends at the end of the file grows there, so that a stream written in order stays
// one run. A new chain that the free sectors cannot hold starts at the end on a page boundary,
// or on a 64 KiB boundary when it starts with 64 KiB or more (the sectors skipped are free for
// the next chains): its reads and writes in large blocks are then whole pages, and the page
// cache can hold it in large pages, which makes reading a large stream as fast as reading a
// plain file, while a small file wastes no more than a page.
HRESULT File::growChain(std::vector<uint32_t>& chain, uint64_t size) {
    const uint64_t needed = unitsFor(size, uint64_t(1) << shift_);
    if (chain.size() >= needed) return S_OK;
    // Grown geometrically: a stream written in small pieces would otherwise copy its whole
    // chain on every write.
    if (chain.capacity() < needed) chain.reserve(std::max(size_t(needed), 2 * chain.capacity()));
    bool atEnd = !chain.empty() && chain.back() + 1 == sectorCount_;
    if (chain.empty() && free_.size() < needed) {
        const uint32_t alignment = size >= kLargeAlignment ? kLargeAlignment : kPageAlignment;
        const uint32_t perRun = std::max(1u, alignment >> shift_);
        const uint32_t skip = std::min((perRun - (sectorCount_ + 1) % perRun) % perRun, kMaxRegSect - sectorCount_);
        for (uint32_t k = skip; k > 0; --k) free_.push_back(sectorCount_ + k - 1);   // taken again in ascending order
        sectorCount_ += skip;
        atEnd = true;
    }
    while (chain.size() < needed) {
        if (!atEnd && !free_.empty()) {
            chain.push_back(free_.back());
            free_.pop_back();
        } else {
            if (sectorCount_ >= kMaxRegSect) return STG_E_MEDIUMFULL;
            chain.push_back(sectorCount_++);
        }
    }
    return S_OK;
}

void File::trimChain(std::vector<uint32_t>& chain, uint64_t size) {
    const size_t keep = size_t(unitsFor(size, uint64_t(1) << shift_));
    // Freed in reverse so that later allocations take them in ascending, contiguous order.
    while (chain.size() > keep) {
        free_.push_back(chain.back());
        chain.pop_back();
    }
}

HRESULT File::read(const Node& s, uint64_t offset, void* buffer, uint32_t count, uint32_t& got) const {
    got = 0;
    if (offset >= s.size || count == 0) return S_OK;
    const size_t n = size_t(std::min<uint64_t>(count, s.size - offset));
    HRESULT hr = S_OK;
    if (s.size >= kMiniStreamCutoff)
        hr = readSectors(s.chain, offset, buffer, n);
    else if (writable_)
        std::memcpy(buffer, s.bytes.data() + offset, n);
    else
        hr = readMini(s.chain, offset, buffer, n);
    if (FAILED(hr)) return hr;
    got = uint32_t(n);
    return S_OK;
}

HRESULT File::write(Node& s, uint64_t offset, const void* data, uint32_t count) {
    if (HRESULT hr = changeable(); FAILED(hr)) return hr;
    if (count == 0) return S_OK;
    const uint64_t end = offset + count;
    if (offset > kMaxStreamSize || end > kMaxStreamSize) return STG_E_MEDIUMFULL;
    dirty_ = true;
    if (end < kMiniStreamCutoff && s.size < kMiniStreamCutoff) {
        if (end > s.bytes.size()) s.bytes.resize(size_t(end));   // a gap fills with zeros
        std::memcpy(s.bytes.data() + offset, data, count);
        s.size = std::max(s.size, end);
        return S_OK;
    }
    return place(s, offset, data, count);
}

// Where the sectors of a stream lie depends on the writes that made it: each one grows its chain
// (the first one also chooses its alignment by its size), and other streams may take sectors
// between two of them. A run of pieces written here one after the other places its sectors
// exactly as that many writes would; only their data goes out together, in large writes
// without a copy.
HRESULT File::writePieces(Node& s, uint64_t offset, const void* data, uint32_t count, uint32_t piece,
                          uint32_t& written) {
    written = 0;
    if (piece == 0 || piece >= count) {
        const HRESULT hr = write(s, offset, data, count);
        if (SUCCEEDED(hr)) written = count;
        return hr;
    }
    if (HRESULT hr = changeable(); FAILED(hr)) return hr;
    const auto* bytes = static_cast<const uint8_t*>(data);
    HRESULT hr = S_OK;
    uint32_t placed = 0;
    uint32_t inSectors = count;   // where the pieces placed in sectors start, count when none is
    while (placed < count) {
        const uint32_t n = std::min(piece, count - placed);
        const uint64_t at = offset + placed;
        if (at > kMaxStreamSize || at + n > kMaxStreamSize) {
            hr = STG_E_MEDIUMFULL;
            break;
        }
        dirty_ = true;
        if (at + n < kMiniStreamCutoff && s.size < kMiniStreamCutoff) {   // as write() keeps it in memory
            if (at + n > s.bytes.size()) s.bytes.resize(size_t(at + n));
            std::memcpy(s.bytes.data() + at, bytes + placed, n);
            s.size = std::max(s.size, at + n);
        } else {
            if (FAILED(hr = place(s, at, nullptr, n))) break;
            inSectors = std::min(inSectors, placed);
        }
        placed += n;
    }
    // The data last: a small stream's bytes moved to the sectors meanwhile are older than it.
    if (inSectors < placed) {
        if (HRESULT data = writeSectors(s.chain, offset + inSectors, bytes + inSectors, placed - inSectors);
            FAILED(data))
            return fail(data);
    }
    written = placed;
    return hr;
}

// Writes into a stream that is held in sectors afterwards: a small stream moves its bytes there
// first, and a gap between the old end and `offset` is filled with zeros. Without `data` only
// the room is made, and the caller writes the bytes. On failure the stream keeps its size and
// data.
HRESULT File::place(Node& s, uint64_t offset, const void* data, uint32_t count) {
    const uint64_t end = offset + count;
    const bool wasSmall = s.size < kMiniStreamCutoff;
    HRESULT hr = growChain(s.chain, std::max(end, s.size));
    if (SUCCEEDED(hr) && wasSmall && s.size > 0) hr = writeSectors(s.chain, 0, s.bytes.data(), size_t(s.size));
    if (SUCCEEDED(hr) && offset > s.size) hr = writeZeros(s.chain, s.size, offset);
    if (SUCCEEDED(hr) && count > 0 && data) hr = writeSectors(s.chain, offset, data, count);
    if (FAILED(hr)) {
        trimChain(s.chain, wasSmall ? 0 : s.size);
        return fail(hr);
    }
    if (wasSmall) std::vector<uint8_t>().swap(s.bytes);
    s.size = std::max(s.size, end);
    return S_OK;
}

HRESULT File::resize(Node& s, uint64_t size) {
    if (HRESULT hr = changeable(); FAILED(hr)) return hr;
    if (size > kMaxStreamSize) return STG_E_MEDIUMFULL;
    if (size == s.size) return S_OK;
    dirty_ = true;
    if (size >= kMiniStreamCutoff) {
        if (size > s.size) return place(s, size, nullptr, 0);
        trimChain(s.chain, size);
        s.size = size;
        return S_OK;
    }
    if (s.size >= kMiniStreamCutoff) {   // back into memory
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        if (HRESULT hr = readSectors(s.chain, 0, bytes.data(), bytes.size()); FAILED(hr)) return hr;
        trimChain(s.chain, 0);
        s.bytes = std::move(bytes);
    } else {
        s.bytes.resize(size_t(size));
    }
    s.size = size;
    return S_OK;
}

// ---- The tree -------------------------------------------------------------------------------

Node* File::find(Node& parent, const std::u16string& name) {
    const auto it = parent.children.find(upperCased(name));
    return it == parent.children.end() ? nullptr : it->second.get();
}

Node& File::insert(Node& parent, const std::u16string& name, Kind kind) {
    auto owned = std::make_unique<Node>();
    Node& node = *owned;
    node.name = name;
    node.kind = kind;
    node.parent = &parent;
    parent.children.emplace(upperCased(name), std::move(owned));
    dirty_ = true;
    return node;
}

void File::erase(Node& element) {
    std::vector<Node*> stack{&element};
    while (!stack.empty()) {
        Node* n = stack.back();
        stack.pop_back();
        trimChain(n->chain, 0);
        for (auto& c : n->children) stack.push_back(c.second.get());
    }
    element.parent->children.erase(upperCased(element.name));
    dirty_ = true;
}

void File::rename(Node& element, const std::u16string& name) { relink(element, *element.parent, name); }

void File::relink(Node& element, Node& parent, const std::u16string& name) {
    auto handle = element.parent->children.extract(upperCased(element.name));
    handle.key() = upperCased(name);
    element.name = name;
    element.parent = &parent;
    parent.children.insert(std::move(handle));
    dirty_ = true;
}

HRESULT File::copyInto(const File& from, const Node& source, Node& parent, const std::u16string& name) {
    if (HRESULT hr = changeable(); FAILED(hr)) return hr;
    struct Pending {
        const Node* source;
        Node* parent;
        const std::u16string* name;
    };
    std::vector<Pending> pending{{&source, &parent, &name}};
    Node* top = nullptr;
    std::vector<uint8_t> buffer;
    HRESULT hr = S_OK;
    while (!pending.empty() && SUCCEEDED(hr)) {
        const Pending p = pending.back();
        pending.pop_back();
        Node& n = insert(*p.parent, *p.name, p.source->kind == Kind::Stream ? Kind::Stream : Kind::Storage);
        if (!top) top = &n;
        n.clsid = p.source->clsid;
        n.stateBits = p.source->stateBits;
        n.ctime = p.source->ctime;
        n.mtime = p.source->mtime;
        if (p.source->kind != Kind::Stream) {
            for (const auto& c : p.source->children) pending.push_back({c.second.get(), &n, &c.second->name});
        } else if (p.source->size < kMiniStreamCutoff) {
            n.bytes.resize(size_t(p.source->size));
            uint32_t got = 0;
            hr = from.read(*p.source, 0, n.bytes.data(), uint32_t(n.bytes.size()), got);
            n.size = got;
        } else {
            buffer.resize(kCopyBlock);
            for (uint64_t at = 0; at < p.source->size && SUCCEEDED(hr); at += kCopyBlock) {
                const size_t count = size_t(std::min<uint64_t>(kCopyBlock, p.source->size - at));
                hr = from.readSectors(p.source->chain, at, buffer.data(), count);
                if (SUCCEEDED(hr)) hr = write(n, at, buffer.data(), uint32_t(count));
            }
        }
    }
    if (FAILED(hr) && top) erase(*top);
    return hr;
}

// ---- Finishing ------------------------------------------------------------------------------

HRESULT File::flush() {
    if (reverted_) return STG_E_REVERTED;
    if (!writable_) return S_OK;
    if (FAILED(failure_)) return failure_;
    if (!dirty_ && replaced_) return S_OK;
    if (HRESULT hr = writeStructures(); FAILED(hr)) return fail(hr);
    // A file already in the target's place is written in place: its changes are synced there.
    if (replaced_ && ::fsync(fd_) != 0 && errno != EINVAL) return fail(fromErrno(errno, STG_E_WRITEFAULT));
    if (!replaced_) {
        if (HRESULT hr = replaceTarget(); FAILED(hr)) return fail(hr);
        replaced_ = true;
        if (targetFd_ >= 0) ::close(targetFd_);
        targetFd_ = -1;
    }
    dirty_ = false;
    return S_OK;
}

// Puts the finished file in the target's place in one step, synced, so that neither a crash
// nor a power cut leaves an empty or partial container under the target's name.
HRESULT File::replaceTarget() {
    if (const int error = platform::fs::FinishTemp(fd_, tempPath_, path_)) return fromErrno(error, STG_E_WRITEFAULT);
    return S_OK;
}

HRESULT File::revert() {
    if (reverted_) return STG_E_REVERTED;
    if (!writable_ || replaced_) return STG_E_INVALIDFUNCTION;
    reverted_ = true;
    heldSize_ = 0;
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
    if (targetFd_ >= 0) ::close(targetFd_);
    targetFd_ = -1;
    return S_OK;
}

// Writes the mini stream, the directory, the mini allocation table, the allocation table and its
// DIFAT sectors as one block after the last sector in use, then the header. The block of the
// previous flush becomes free space.
HRESULT File::writeStructures() {
    if (HRESULT hr = release(); FAILED(hr)) return hr;
    const uint64_t sectorSize = uint64_t(1) << shift_;
    const size_t perSector = size_t(sectorSize / 4);
    for (const uint32_t s : meta_) free_.push_back(s);
    meta_.clear();

    // Directory ids: breadth first, so the children of a storage take consecutive ids in sibling
    // order, and each sibling set is written as a balanced search tree.
    std::vector<const Node*> order{&root_};
    std::vector<uint32_t> firstChild;
    for (size_t i = 0; i < order.size(); ++i) {
        firstChild.push_back(uint32_t(order.size()));
        for (const auto& c : order[i]->children) order.push_back(c.second.get());
    }
    const size_t count = order.size();
    if (count >= kMaxRegSect) return STG_E_MEDIUMFULL;
    std::vector<uint32_t> left(count, kNoStream), right(count, kNoStream), child(count, kNoStream);
    const auto balance = [&](auto& self, uint32_t lo, uint32_t hi) -> uint32_t {
        if (lo >= hi) return kNoStream;
        const uint32_t mid = lo + (hi - lo) / 2;
        left[mid] = self(self, lo, mid);
        right[mid] = self(self, mid + 1, hi);
        return mid;
    };
    for (size_t i = 0; i < count; ++i)
        if (!order[i]->children.empty())
            child[i] = balance(balance, firstChild[i], firstChild[i] + uint32_t(order[i]->children.size()));

    std::vector<uint32_t> start(count, 0);
    std::vector<uint32_t> miniFat;
    for (size_t i = 1; i < count; ++i) {
        const Node& n = *order[i];
        if (n.kind != Kind::Stream) continue;
        if (n.size == 0) {
            start[i] = kEndOfChain;
        } else if (n.size < kMiniStreamCutoff) {
            const uint32_t first = uint32_t(miniFat.size());
            const uint32_t units = uint32_t(unitsFor(n.size, kMiniSectorSize));
            for (uint32_t k = 1; k < units; ++k) miniFat.push_back(first + k);
            miniFat.push_back(kEndOfChain);
            start[i] = first;
        } else {
            start[i] = n.chain.front();
        }
    }
    const size_t miniBytes = miniFat.size() * kMiniSectorSize;

    const uint64_t miniSectors = unitsFor(miniBytes, sectorSize);
    const uint64_t directorySectors = unitsFor(count * kEntrySize, sectorSize);
    const uint64_t miniFatSectors = unitsFor(miniFat.size() * 4, sectorSize);
    const uint64_t base = sectorCount_;
    const uint64_t used = base + miniSectors + directorySectors + miniFatSectors;
    uint64_t fatSectors = 0, difatSectors = 0;
    for (;;) {
        const uint64_t fat = unitsFor(used + fatSectors + difatSectors, perSector);
        const uint64_t difat = fat > kHeaderDifat ? unitsFor(fat - kHeaderDifat, perSector - 1) : 0;
        if (fat == fatSectors && difat == difatSectors) break;
        fatSectors = fat;
        difatSectors = difat;
    }
    const uint64_t total = used + fatSectors + difatSectors;
    if (total > kMaxRegSect) return STG_E_MEDIUMFULL;

    const uint64_t miniAt = base, directoryAt = miniAt + miniSectors, miniFatAt = directoryAt + directorySectors;
    const uint64_t fatAt = miniFatAt + miniFatSectors, difatAt = fatAt + fatSectors;

    std::vector<uint32_t> fat(size_t(fatSectors * perSector), kFreeSect);
    const auto link = [&fat](const std::vector<uint32_t>& chain) {
        for (size_t k = 0; k < chain.size(); ++k) fat[chain[k]] = k + 1 < chain.size() ? chain[k + 1] : kEndOfChain;
    };
    const auto linkRun = [&fat](uint64_t first, uint64_t n) {
        for (uint64_t k = 0; k < n; ++k) fat[size_t(first + k)] = k + 1 < n ? uint32_t(first + k + 1) : kEndOfChain;
    };
    for (const Node* n : order)
        if (n->kind == Kind::Stream && n->size >= kMiniStreamCutoff) link(n->chain);
    linkRun(miniAt, miniSectors);
    linkRun(directoryAt, directorySectors);
    linkRun(miniFatAt, miniFatSectors);
    for (uint64_t k = 0; k < fatSectors; ++k) fat[size_t(fatAt + k)] = kFatSect;
    for (uint64_t k = 0; k < difatSectors; ++k) fat[size_t(difatAt + k)] = kDifSect;

    SequentialWriter out(fd_, (base + 1) * sectorSize);
    for (size_t i = 1; i < count; ++i) {
        const Node& n = *order[i];
        if (n.kind != Kind::Stream || n.size == 0 || n.size >= kMiniStreamCutoff) continue;
        out.append(n.bytes.data(), size_t(n.size));
        out.zeros(size_t(unitsFor(n.size, kMiniSectorSize) * kMiniSectorSize - n.size));
    }
    out.zeros(size_t(miniSectors * sectorSize - miniBytes));
    for (size_t i = 0; i < directorySectors * sectorSize / kEntrySize; ++i) {
        uint8_t entry[kEntrySize] = {};
        if (i < count) {
            const Node& n = *order[i];
            const uint32_t first = i == 0 ? (miniSectors ? uint32_t(miniAt) : kEndOfChain) : start[i];
            const uint64_t size = i == 0 ? miniBytes : n.kind == Kind::Stream ? n.size : 0;
            writeEntry(entry, n, left[i], right[i], child[i], first, size);
        } else {
            for (const size_t at : {68, 72, 76}) put32(entry + at, kNoStream);
        }
        out.append(entry, sizeof entry);
    }
    for (size_t i = 0; i < miniFatSectors * perSector; ++i) out.u32(i < miniFat.size() ? miniFat[i] : kFreeSect);
    for (const uint32_t next : fat) out.u32(next);
    for (uint64_t d = 0; d < difatSectors; ++d) {
        for (size_t k = 0; k + 1 < perSector; ++k) {
            const uint64_t index = kHeaderDifat + d * (perSector - 1) + k;
            out.u32(index < fatSectors ? uint32_t(fatAt + index) : kFreeSect);
        }
        out.u32(d + 1 < difatSectors ? uint32_t(difatAt + d + 1) : kEndOfChain);
    }
    if (HRESULT hr = out.finish(); FAILED(hr)) return hr;

    uint8_t h[kHeaderSize] = {};
    std::memcpy(h, kSignature, sizeof kSignature);
    put16(h + 24, 0x003E);
    put16(h + 26, 3);
    put16(h + 28, 0xFFFE);
    put16(h + 30, uint16_t(shift_));
    put16(h + 32, 6);
    put32(h + 44, uint32_t(fatSectors));
    put32(h + 48, uint32_t(directoryAt));
    put32(h + 56, kMiniStreamCutoff);
    put32(h + 60, miniFatSectors ? uint32_t(miniFatAt) : kEndOfChain);
    put32(h + 64, uint32_t(miniFatSectors));
    put32(h + 68, difatSectors ? uint32_t(difatAt) : kEndOfChain);
    put32(h + 72, uint32_t(difatSectors));
    for (size_t i = 0; i < kHeaderDifat; ++i) put32(h + 76 + 4 * i, i < fatSectors ? uint32_t(fatAt + i) : kFreeSect);

    if (HRESULT hr = writeAt(fd_, h, sizeof h, 0); FAILED(hr)) return hr;
    if (::ftruncate(fd_, off_t((total + 1) * sectorSize)) != 0) return fromErrno(errno, STG_E_WRITEFAULT);

    sectorCount_ = uint32_t(total);
    for (uint64_t s = base; s < total; ++s) meta_.push_back(uint32_t(s));
    return S_OK;
}

}  // namespace cfb

std::string StgTakeDamage() {
    std::string damage = cfb::t_damage;
    cfb::t_damage[0] = '\0';
    return damage;
}
