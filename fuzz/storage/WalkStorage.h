// Walks a whole compound file through the storage interface: every storage enumerated and
// opened, every stream stated, sized and read to its end. Shared by the fuzz target and the
// regression tests that replay its findings.
#pragma once

#include "platform/storage/StructuredStorage.h"

#include <vector>

namespace storage_walk {

inline void freeName(STATSTG& stat) {
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(CoGetMalloc(MEMCTX_TASK, &allocator))) allocator->Free(stat.pwcsName);
    stat.pwcsName = nullptr;
}

inline HRESULT walkStream(IStream* stream) {
    STATSTG stat;
    if (HRESULT hr = stream->Stat(&stat, STATFLAG_DEFAULT); FAILED(hr)) return hr;
    freeName(stat);
    uint64_t end = 0;
    if (HRESULT hr = stream->Seek(0, STREAM_SEEK_END, &end); FAILED(hr)) return hr;
    if (HRESULT hr = stream->Seek(0, STREAM_SEEK_SET, nullptr); FAILED(hr)) return hr;
    std::vector<uint8_t> buffer(64 * 1024);
    uint64_t total = 0;
    for (;;) {
        uint32_t got = 0;
        if (HRESULT hr = stream->Read(buffer.data(), uint32_t(buffer.size()), &got); FAILED(hr)) return hr;
        if (got == 0) break;
        total += got;
    }
    return total == end && end == stat.cbSize ? S_OK : E_UNEXPECTED;
}

inline HRESULT walkStorage(IStorage* storage) {
    IEnumSTATSTG* elements = nullptr;
    if (HRESULT hr = storage->EnumElements(0, nullptr, 0, &elements); FAILED(hr)) return hr;
    HRESULT result = S_OK;
    STATSTG stat;
    while (SUCCEEDED(result) && elements->Next(1, &stat, nullptr) == S_OK) {
        if (stat.type == STGTY_STORAGE) {
            IStorage* child = nullptr;
            result = storage->OpenStorage(stat.pwcsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &child);
            if (SUCCEEDED(result)) {
                result = walkStorage(child);
                child->Release();
            }
        } else {
            IStream* child = nullptr;
            result = storage->OpenStream(stat.pwcsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &child);
            if (SUCCEEDED(result)) {
                result = walkStream(child);
                child->Release();
            }
        }
        freeName(stat);
    }
    elements->Release();
    return result;
}

// The result of opening, or of the first failing step of the walk.
inline HRESULT walkFile(const char* path) {
    IStorage* root = nullptr;
    if (HRESULT hr = StgOpenStorage(path, nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &root); FAILED(hr))
        return hr;
    const HRESULT result = walkStorage(root);
    root->Release();
    return result;
}

}  // namespace storage_walk
