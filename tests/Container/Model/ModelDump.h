// Test support for the exchange model: code files in memory, raw stream bytes, and a dump of a
// code file as a logical tree (folders with their indexes, streams with their type and decoded
// values). Folders and streams are listed by name, so two files built in different orders
// compare equal when they hold the same tree.
#pragma once

#include "Container/Storage/CodeFile.h"
#include "Container/Storage/CodeFolder.h"
#include "Container/Storage/MemFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class OLEStorage;

namespace model_test {

using Bytes = std::vector<uint8_t>;
// A folder path below the root: (name, index) pairs.
using FolderPath = std::vector<std::pair<std::string, int32_t>>;

// The two stored items of a code file, kept in memory.
struct MemoryCodeFile {
  MemFile code;
  MemFile summary;
  std::unique_ptr<CF_Medium> Medium() { return std::make_unique<CF_MemoryMedium>(code, summary); }
  Bytes CodeBytes() const { return Bytes(code.Data(), code.Data() + code.Size()); }
  // A copy to read while the original is still being written.
  std::unique_ptr<MemoryCodeFile> Snapshot() const {
    auto copy = std::make_unique<MemoryCodeFile>();
    copy->code.PutData(code.Data(), code.Size());
    copy->summary.PutData(summary.Data(), summary.Size());
    return copy;
  }
};

// The logical tree below the root folder, one line per folder and stream.
std::string DumpCodeFile(std::unique_ptr<CF_Medium> medium);
std::string DumpCodeFile(OLEStorage& storage);
std::string DumpFolder(CF_EnumerableInFolder& folder, int depth = 0);
// The decoded values of a field stream's bytes (type code first): "long 1 -1".
std::string DecodeFieldStream(const Bytes& bytes);

// The bytes of a stream, empty with `found` false when it is absent.
Bytes StreamBytes(std::unique_ptr<CF_Medium> medium, const FolderPath& path, const char* stream,
                  bool* found = nullptr);
// The bytes of a folder's table of sub-folders.
Bytes TableBytes(std::unique_ptr<CF_Medium> medium, const FolderPath& path);

// Field-stream bytes built by hand: a type code and little-endian values.
Bytes LongStream(const std::vector<int32_t>& values);
Bytes WideStringStream(const std::vector<std::u16string>& values);

}  // namespace model_test
