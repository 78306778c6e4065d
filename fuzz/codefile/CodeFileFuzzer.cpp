// Opens a code file from arbitrary bytes and walks everything in it: the flat directory, the
// folder tree and every stream's data. Input: major version, minor version (0xFF: no summary
// property set), then the bytes of "VerbantCodeFile".
#include "Container/Storage/CodeFolder.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/MemFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kMaxDepth = 16;
constexpr size_t kMaxItems = 4096;

void Drain(CF_InStream& stream) {
  uint8_t buffer[1500];
  while (stream.GetData(buffer, sizeof buffer) == sizeof buffer) {
  }
}

struct Collect : IdentifierReceiver {
  std::vector<std::pair<std::string, uint32_t>> items;
  bool operator()(const char* name, uint32_t tag) override {
    items.emplace_back(name, tag);
    return items.size() < kMaxItems;
  }
};

void Walk(CF_EnumerableInFolder& folder, int depth, size_t& budget) {
  Collect streams;
  folder.EnumerateStreams(streams);
  for (const auto& [name, tag] : streams.items) {
    if (budget-- == 0) return;
    try {
      if (auto s = folder.OpenStream(name.c_str(), tag)) Drain(*s);
    } catch (const FilterException&) {
    }
  }
  if (depth == kMaxDepth) return;
  Collect folders;
  folder.EnumerateFolders(folders);
  for (const auto& [name, index] : folders.items) {
    if (budget-- == 0) return;
    try {
      if (auto sub = folder.OpenEnumerableFolder(name.c_str(), static_cast<int32_t>(index)))
        Walk(*sub, depth + 1, budget);
    } catch (const FilterException&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (1u << 24)) return 0;
  MemFile code, summary;
  if (size > 2) code.PutData(data + 2, static_cast<uint32_t>(size - 2));
  if (data[1] != 0xFF) {
    PropertySet set(kCodeFileSummaryName);
    set += Property(kCodeFileMajorVersionId, Variant(uint16_t(data[0])));
    set += Property(kCodeFileMinorVersionId, Variant(uint16_t(data[1])));
    set.Write(summary);
  }
  try {
    auto file = OpenEnumerableCodeFile(std::make_unique<CF_MemoryMedium>(code, summary));
    Collect all;
    file->EnumerateStreams(all);
    size_t budget = kMaxItems;
    for (const auto& [name, tag] : all.items) {
      if (budget-- == 0) break;
      try {
        if (auto s = file->OpenStream(name.c_str(), tag)) Drain(*s);
      } catch (const FilterException&) {
      }
    }
    auto root = OpenEnumerableCodeFolder(*file);
    budget = kMaxItems;
    Walk(*root, 0, budget);
  } catch (const FilterException&) {
  }
  return 0;
}
