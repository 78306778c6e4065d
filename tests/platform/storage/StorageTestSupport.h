// Helpers of the compound-file tests: owning references, a scratch folder, stream contents.
#pragma once

#include "platform/storage/Names.h"
#include "platform/storage/StructuredStorage.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

// Holds one reference of a storage object and releases it.
template <class T>
class Ref {
public:
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { reset(); }
    T** out() {
        reset();
        return &p_;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

constexpr uint32_t kCreate = STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE;   // 0x1011
constexpr uint32_t kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;                    // 0x10
constexpr uint32_t kReadRoot = STGM_READ | STGM_SHARE_DENY_WRITE;               // 0x20

class TempFolder {
public:
    TempFolder() : dir_("cfb"), path_(dir_.Path()) {}
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }
    size_t entries() const {
        return size_t(std::distance(std::filesystem::directory_iterator(path_), std::filesystem::directory_iterator()));
    }

private:
    TempDir dir_;
    std::filesystem::path path_;
};

inline std::vector<uint8_t> pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    return bytes;
}

inline std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void putFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::string utf8(const std::u16string& text) { return cfb::utf16ToUtf8(text); }

inline void writeStream(IStorage* storage, const std::u16string& name, const std::vector<uint8_t>& data) {
    Ref<IStream> stream;
    ASSERT_EQ(storage->CreateStream(name.c_str(), kCreate, 0, 0, stream.out()), S_OK) << utf8(name);
    uint32_t written = 0;
    ASSERT_EQ(stream->Write(data.data(), uint32_t(data.size()), &written), S_OK);
    ASSERT_EQ(written, data.size());
}

inline std::vector<uint8_t> streamBytes(IStream* stream) {
    std::vector<uint8_t> out;
    uint8_t buffer[70000];
    for (;;) {
        uint32_t got = 0;
        if (stream->Read(buffer, sizeof buffer, &got) != S_OK || got == 0) break;
        out.insert(out.end(), buffer, buffer + got);
    }
    return out;
}

inline std::vector<uint8_t> readStream(IStorage* storage, const std::u16string& name) {
    Ref<IStream> stream;
    EXPECT_EQ(storage->OpenStream(name.c_str(), nullptr, kRead, 0, stream.out()), S_OK) << utf8(name);
    return stream ? streamBytes(stream.get()) : std::vector<uint8_t>();
}

inline void freeName(char16_t*& name) {
    IMalloc* allocator = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &allocator), S_OK);
    allocator->Free(name);
    name = nullptr;
}

struct Listed {
    std::u16string name;
    uint32_t type;
    uint64_t size;
};

inline std::vector<Listed> listChildren(IStorage* storage) {
    std::vector<Listed> out;
    Ref<IEnumSTATSTG> elements;
    EXPECT_EQ(storage->EnumElements(0, nullptr, 0, elements.out()), S_OK);
    STATSTG stat;
    while (elements && elements->Next(1, &stat, nullptr) == S_OK) {
        out.push_back({stat.pwcsName, stat.type, stat.cbSize});
        freeName(stat.pwcsName);
    }
    return out;
}

inline std::vector<std::u16string> childNames(IStorage* storage) {
    std::vector<std::u16string> names;
    for (const auto& e : listChildren(storage)) names.push_back(e.name);
    return names;
}
