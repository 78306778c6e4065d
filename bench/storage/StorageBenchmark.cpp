// Writes and reads an exchange-sized compound file (one 64 MiB stream and 10,000 small streams
// in nested storages) and the same bytes as one plain file, and reports both times.
//
// Usage: StorageBenchmark [folder] [repetitions]
#include "platform/storage/StructuredStorage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kBigSize = 64u << 20;
constexpr size_t kChunk = 64 * 1024;
constexpr int kGroups = 10, kSets = 10, kStreamsPerSet = 100;   // 10,000 small streams

struct Workload {
    std::vector<uint8_t> big;
    std::vector<std::vector<uint8_t>> small;
};

Workload makeWorkload() {
    Workload w;
    w.big.resize(kBigSize);
    uint32_t x = 12345;
    const auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    for (auto& b : w.big) b = uint8_t(next());
    for (int i = 0; i < kGroups * kSets * kStreamsPerSet; ++i) {
        std::vector<uint8_t> s(16 + next() % 2000);
        for (auto& b : s) b = uint8_t(next());
        w.small.push_back(std::move(s));
    }
    return w;
}

std::u16string name(const char* prefix, int n) {
    std::u16string out;
    for (const char* p = prefix; *p; ++p) out.push_back(char16_t(*p));
    for (char c : std::to_string(n)) out.push_back(char16_t(c));
    return out;
}

void check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s failed: 0x%08X\n", what, unsigned(hr));
        std::exit(1);
    }
}

constexpr uint32_t kCreate = STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE;
constexpr uint32_t kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;

void writeContainer(const std::string& path, const Workload& w) {
    IStorage* root = nullptr;
    check(StgCreateDocfile(path.c_str(), kCreate, 0, &root), "create");
    IStream* stream = nullptr;
    uint32_t written = 0;
    check(root->CreateStream(u"0", kCreate, 0, 0, &stream), "create stream");
    for (size_t at = 0; at < w.big.size(); at += kChunk)
        check(stream->Write(w.big.data() + at, uint32_t(std::min(kChunk, w.big.size() - at)), &written), "write");
    stream->Release();
    size_t n = 0;
    for (int g = 0; g < kGroups; ++g) {
        IStorage* group = nullptr;
        check(root->CreateStorage(name("Group", g).c_str(), kCreate, 0, 0, &group), "create storage");
        for (int s = 0; s < kSets; ++s) {
            IStorage* set = nullptr;
            check(group->CreateStorage(name("Set", s).c_str(), kCreate, 0, 0, &set), "create storage");
            for (int i = 0; i < kStreamsPerSet; ++i, ++n) {
                check(set->CreateStream(name("Field", i).c_str(), kCreate, 0, 0, &stream), "create stream");
                check(stream->Write(w.small[n].data(), uint32_t(w.small[n].size()), &written), "write");
                stream->Release();
            }
            set->Release();
        }
        group->Release();
    }
    check(root->Flush(), "flush");
    root->Release();
}

size_t readStream(IStream* stream, std::vector<uint8_t>& buffer) {
    size_t total = 0;
    for (uint32_t got = 0;; total += got) {
        check(stream->Read(buffer.data(), uint32_t(buffer.size()), &got), "read");
        if (got == 0) return total;
    }
}

size_t readStorage(IStorage* storage, std::vector<uint8_t>& buffer) {
    IEnumSTATSTG* elements = nullptr;
    check(storage->EnumElements(0, nullptr, 0, &elements), "enumerate");
    IMalloc* allocator = nullptr;
    check(CoGetMalloc(MEMCTX_TASK, &allocator), "allocator");
    size_t total = 0;
    STATSTG stat;
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        if (stat.type == STGTY_STORAGE) {
            IStorage* child = nullptr;
            check(storage->OpenStorage(stat.pwcsName, nullptr, kRead, nullptr, 0, &child), "open storage");
            total += readStorage(child, buffer);
            child->Release();
        } else {
            IStream* child = nullptr;
            check(storage->OpenStream(stat.pwcsName, nullptr, kRead, 0, &child), "open stream");
            total += readStream(child, buffer);
            child->Release();
        }
        allocator->Free(stat.pwcsName);
    }
    elements->Release();
    return total;
}

size_t readContainer(const std::string& path) {
    IStorage* root = nullptr;
    check(StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &root), "open");
    std::vector<uint8_t> buffer(kChunk);
    const size_t total = readStorage(root, buffer);
    root->Release();
    return total;
}

void writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) check(E_UNEXPECTED, "plain write");
        data += n;
        size -= size_t(n);
    }
}

// The same bytes in the same pieces, as one plain file.
void writePlain(const std::string& path, const Workload& w) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) check(E_UNEXPECTED, "plain create");
    for (size_t at = 0; at < w.big.size(); at += kChunk) writeAll(fd, w.big.data() + at, std::min(kChunk, w.big.size() - at));
    for (const auto& s : w.small) writeAll(fd, s.data(), s.size());
    ::close(fd);
}

size_t readPlain(const std::string& path, const Workload& w) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) check(E_UNEXPECTED, "plain open");
    std::vector<uint8_t> buffer(kChunk);
    size_t total = 0;
    for (size_t at = 0; at < w.big.size(); at += kChunk) total += size_t(::read(fd, buffer.data(), kChunk));
    for (const auto& s : w.small) total += size_t(::read(fd, buffer.data(), s.size()));
    ::close(fd);
    return total;
}

template <class Body>
double millis(Body&& body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "/tmp";
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::string container = folder + "/storage-benchmark.dwq", plain = folder + "/storage-benchmark.bin";
    const Workload w = makeWorkload();
    size_t expected = w.big.size();
    for (const auto& s : w.small) expected += s.size();

    std::vector<double> cw, cr, pw, pr;
    const auto runPlain = [&] {
        pw.push_back(millis([&] { writePlain(plain, w); }));
        pr.push_back(millis([&] {
            if (readPlain(plain, w) != expected) check(E_UNEXPECTED, "plain size");
        }));
    };
    const auto runContainer = [&] {
        cw.push_back(millis([&] { writeContainer(container, w); }));
        cr.push_back(millis([&] {
            if (readContainer(container) != expected) check(E_UNEXPECTED, "container size");
        }));
    };
    // Alternating which goes first, so that neither always meets the other's write-back.
    for (int r = 0; r < repetitions; ++r) {
        if (r % 2) {
            runContainer();
            runPlain();
        } else {
            runPlain();
            runContainer();
        }
    }
    ::unlink(container.c_str());
    ::unlink(plain.c_str());

    const double c = median(cw) + median(cr), p = median(pw) + median(pr);
    std::printf("payload %.1f MiB: one 64 MiB stream and %zu small streams in %d storages (median of %d)\n",
                double(expected) / (1 << 20), w.small.size(), kGroups * (kSets + 1), repetitions);
    std::printf("compound file: write %8.1f ms   read %8.1f ms   total %8.1f ms\n", median(cw), median(cr), c);
    std::printf("plain file:    write %8.1f ms   read %8.1f ms   total %8.1f ms\n", median(pw), median(pr), p);
    std::printf("ratio (compound / plain): write %.2f   read %.2f   total %.2f\n", median(cw) / median(pw),
                median(cr) / median(pr), c / p);
    return 0;
}
