// Writes and reads an exchange-sized compound file (one 64 MiB stream and 10,000 small streams
// in nested storages) and compares it with fair baselines on the same bytes: a buffered plain
// write of them into a fresh file and a buffered read back, and, when the build found libgsf,
// libgsf's compound-file writer and reader on the same workload.
//
// Every write goes to a fresh file (the previous one is removed outside the timing), and the
// sides alternate which goes first, so that none always meets another's write-back. Figures
// are medians of the paired runs; ratios are ours over the baseline.
//
// Usage: StorageBenchmark [folder] [repetitions]
#include "platform/storage/StructuredStorage.h"
#include "tests/platform/storage/ExchangeWorkload.h"

#ifdef KESTO_HAVE_GSF
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using exchange_workload::kChunk;
using exchange_workload::Workload;

constexpr size_t kPlainBuffer = 1 << 20;
constexpr uint32_t kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "%s failed\n", what);
        std::exit(1);
    }
}
void check(HRESULT hr, const char* what) { check(SUCCEEDED(hr), what); }

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

// The same bytes in the same pieces, through a buffer of 1 MiB, as one plain file.
void writePlain(const std::string& path, const Workload& w) {
    FILE* f = std::fopen(path.c_str(), "wb");
    check(f != nullptr, "plain create");
    std::setvbuf(f, nullptr, _IOFBF, kPlainBuffer);
    for (size_t at = 0; at < w.big.size(); at += kChunk)
        check(std::fwrite(w.big.data() + at, 1, std::min(kChunk, w.big.size() - at), f) > 0, "plain write");
    for (const auto& s : w.small) check(std::fwrite(s.data(), 1, s.size(), f) == s.size(), "plain write");
    check(std::fclose(f) == 0, "plain close");
}

size_t readPlain(const std::string& path, const Workload& w) {
    FILE* f = std::fopen(path.c_str(), "rb");
    check(f != nullptr, "plain open");
    std::setvbuf(f, nullptr, _IOFBF, kPlainBuffer);
    std::vector<uint8_t> buffer(kChunk);
    size_t total = 0;
    for (size_t at = 0; at < w.big.size(); at += kChunk)
        total += std::fread(buffer.data(), 1, std::min(kChunk, w.big.size() - at), f);
    for (const auto& s : w.small) total += std::fread(buffer.data(), 1, s.size(), f);
    std::fclose(f);
    return total;
}

#ifdef KESTO_HAVE_GSF
void writeGsf(const std::string& path, const Workload& w) {
    GError* error = nullptr;
    GsfOutput* file = gsf_output_stdio_new(path.c_str(), &error);
    check(file != nullptr, "gsf create");
    GsfOutfile* root = gsf_outfile_msole_new(file);
    g_object_unref(file);
    GsfOutput* big = gsf_outfile_new_child(root, "0", FALSE);
    for (size_t at = 0; at < w.big.size(); at += kChunk)
        check(gsf_output_write(big, std::min(kChunk, w.big.size() - at), w.big.data() + at), "gsf write");
    gsf_output_close(big);
    g_object_unref(big);
    size_t n = 0;
    using exchange_workload::kGroups;
    using exchange_workload::kSets;
    using exchange_workload::kStreamsPerSet;
    for (int g = 0; g < kGroups; ++g) {
        GsfOutput* group = gsf_outfile_new_child(root, ("Group" + std::to_string(g)).c_str(), TRUE);
        for (int s = 0; s < kSets; ++s) {
            GsfOutput* set = gsf_outfile_new_child(GSF_OUTFILE(group), ("Set" + std::to_string(s)).c_str(), TRUE);
            for (int i = 0; i < kStreamsPerSet; ++i, ++n) {
                GsfOutput* stream = gsf_outfile_new_child(GSF_OUTFILE(set), ("Field" + std::to_string(i)).c_str(), FALSE);
                check(gsf_output_write(stream, w.small[n].size(), w.small[n].data()), "gsf write");
                gsf_output_close(stream);
                g_object_unref(stream);
            }
            gsf_output_close(set);
            g_object_unref(set);
        }
        gsf_output_close(group);
        g_object_unref(group);
    }
    check(gsf_output_close(GSF_OUTPUT(root)), "gsf close");
    g_object_unref(root);
}

size_t readGsf(GsfInfile* storage, std::vector<uint8_t>& buffer) {
    size_t total = 0;
    const int count = gsf_infile_num_children(storage);
    for (int i = 0; i < count; ++i) {
        GsfInput* child = gsf_infile_child_by_index(storage, i);
        check(child != nullptr, "gsf open");
        if (GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0) {
            total += readGsf(GSF_INFILE(child), buffer);
        } else {
            for (gsf_off_t left; (left = gsf_input_remaining(child)) > 0;) {
                const size_t n = size_t(std::min<gsf_off_t>(left, gsf_off_t(buffer.size())));
                check(gsf_input_read(child, n, buffer.data()) != nullptr, "gsf read");
                total += n;
            }
        }
        g_object_unref(child);
    }
    return total;
}

size_t readGsf(const std::string& path) {
    GError* error = nullptr;
    GsfInput* file = gsf_input_stdio_new(path.c_str(), &error);
    check(file != nullptr, "gsf open");
    GsfInfile* root = gsf_infile_msole_new(file, &error);
    g_object_unref(file);
    check(root != nullptr, "gsf open");
    std::vector<uint8_t> buffer(kChunk);
    const size_t total = readGsf(root, buffer);
    g_object_unref(root);
    return total;
}
#endif

double millis(const std::function<void()>& body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Side {
    const char* name;
    std::string path;
    std::function<void()> write;
    std::function<size_t()> read;
    std::vector<double> writes, reads;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "/tmp";
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 11;
    const Workload w = exchange_workload::make();
    const size_t expected = w.bytes();

    std::vector<Side> sides;
    const std::string ours = folder + "/storage-benchmark.dwq";
    sides.push_back({"compound file", ours, [&] { exchange_workload::write(ours, w); },
                     [&] { return readContainer(ours); }, {}, {}});
    const std::string plain = folder + "/storage-benchmark.bin";
    sides.push_back({"plain file", plain, [&] { writePlain(plain, w); }, [&] { return readPlain(plain, w); }, {}, {}});
#ifdef KESTO_HAVE_GSF
    gsf_init();
    const std::string gsf = folder + "/storage-benchmark-gsf.dwq";
    sides.push_back({"libgsf", gsf, [&] { writeGsf(gsf, w); }, [&] { return readGsf(gsf); }, {}, {}});
#endif

    // Rotating which side goes first.
    for (int r = 0; r < repetitions; ++r) {
        for (size_t k = 0; k < sides.size(); ++k) {
            Side& side = sides[(r + k) % sides.size()];
            ::unlink(side.path.c_str());
            side.writes.push_back(millis(side.write));
            side.reads.push_back(millis([&] { check(side.read() == expected, "size read"); }));
        }
    }
    for (const Side& side : sides) ::unlink(side.path.c_str());

    std::printf("payload %.1f MiB: one 64 MiB stream and %zu small streams in %d storages (median of %d)\n",
                double(expected) / (1 << 20), w.small.size(), exchange_workload::kGroups * (exchange_workload::kSets + 1),
                repetitions);
    for (const Side& side : sides)
        std::printf("%-14s write %8.1f ms   read %8.1f ms\n", side.name, median(side.writes), median(side.reads));
    for (size_t k = 1; k < sides.size(); ++k)
        std::printf("ratio compound file / %-11s write %.2f   read %.2f\n", sides[k].name,
                    median(sides[0].writes) / median(sides[k].writes), median(sides[0].reads) / median(sides[k].reads));
    return 0;
}
