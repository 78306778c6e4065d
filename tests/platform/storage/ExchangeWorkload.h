// An exchange-sized compound file: one 64 MiB stream and 10,000 small streams in nested
// storages, from a fixed seed. The storage benchmark times it, and the stored-bytes test keeps
// the digest of the file it makes, so that no speed-up may move a stored byte.
#pragma once

#include "platform/storage/StructuredStorage.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace exchange_workload {

constexpr size_t kBigSize = 64u << 20;
constexpr size_t kChunk = 64 * 1024;
constexpr int kGroups = 10, kSets = 10, kStreamsPerSet = 100;   // 10,000 small streams

struct Workload {
    std::vector<uint8_t> big;
    std::vector<std::vector<uint8_t>> small;

    size_t bytes() const {
        size_t total = big.size();
        for (const auto& s : small) total += s.size();
        return total;
    }
};

inline Workload make() {
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

inline std::u16string name(const char* prefix, int n) {
    std::u16string out;
    for (const char* p = prefix; *p; ++p) out.push_back(char16_t(*p));
    for (char c : std::to_string(n)) out.push_back(char16_t(c));
    return out;
}

inline void check(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw std::runtime_error(std::string(what) + " failed");
}

// The big stream in 64 KiB writes first, then the small ones, "Group<g>/Set<s>/Field<i>".
inline void write(const std::string& path, const Workload& w) {
    constexpr uint32_t create = STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE;
    IStorage* root = nullptr;
    check(StgCreateDocfile(path.c_str(), create, 0, &root), "create");
    IStream* stream = nullptr;
    uint32_t written = 0;
    check(root->CreateStream(u"0", create, 0, 0, &stream), "create stream");
    for (size_t at = 0; at < w.big.size(); at += kChunk)
        check(stream->Write(w.big.data() + at, uint32_t(std::min(kChunk, w.big.size() - at)), &written), "write");
    stream->Release();
    size_t n = 0;
    for (int g = 0; g < kGroups; ++g) {
        IStorage* group = nullptr;
        check(root->CreateStorage(name("Group", g).c_str(), create, 0, 0, &group), "create storage");
        for (int s = 0; s < kSets; ++s) {
            IStorage* set = nullptr;
            check(group->CreateStorage(name("Set", s).c_str(), create, 0, 0, &set), "create storage");
            for (int i = 0; i < kStreamsPerSet; ++i, ++n) {
                check(set->CreateStream(name("Field", i).c_str(), create, 0, 0, &stream), "create stream");
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

}  // namespace exchange_workload
