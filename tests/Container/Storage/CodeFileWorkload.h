// Code files of many streams from a fixed seed: 97% small streams (up to 16 KiB), 3% large ones
// (64 KiB to 1 MiB), half compressible text and half random bytes, in 110 nested folders. The
// code-file benchmark times them, and the stored-bytes test keeps the digests of what they make.
#pragma once

#include "Container/Storage/CodeFolder.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace codefile_workload {

using Bytes = std::vector<uint8_t>;

constexpr int kFolders = 110;  // 10 below the root, 10 below each of those, ...
constexpr uint32_t kSeed = 20261207;

struct Item {
  int folder;  // index into the folder list, -1 for the root
  std::string name;
  Bytes bytes;
};

inline Bytes Make(std::mt19937& random, size_t size, bool compressible) {
  static const char* const kWords[] = {"the ", "paragraph ", "style ", "run ", "Kesto ",
                                       "translation ", "of ", "box ", "story ", "\r"};
  Bytes b;
  b.reserve(size);
  if (compressible) {
    while (b.size() < size) {
      const char* w = kWords[random() % 10];
      b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(size);
  } else {
    b.resize(size);
    for (auto& c : b) c = uint8_t(random());
  }
  return b;
}

// Sizes log-uniform.
inline size_t DrawSize(std::mt19937& random) {
  std::uniform_real_distribution<double> unit(0, 1);
  if (random() % 100 < 3) return size_t(65536 * std::pow(16.0, unit(random)));
  const double s = std::pow(2.0, unit(random) * 14.0) - 1;
  return random() % 50 == 0 ? 0 : size_t(s);
}

inline std::vector<Item> MakeItems(std::mt19937& random, int count) {
  std::vector<Item> items;
  for (int i = 0; i < count; ++i) {
    const int folder = int(random() % (kFolders + 1)) - 1;
    items.push_back({folder, "m_Field" + std::to_string(i), Make(random, DrawSize(random), i % 2 == 0)});
  }
  return items;
}

// 64 MiB of text with random stretches.
inline Bytes MakeLarge(std::mt19937& random) {
  Bytes large;
  while (large.size() < (64u << 20)) {
    const Bytes part = Make(random, 1 << 16, random() % 4 != 0);
    large.insert(large.end(), part.begin(), part.end());
  }
  large.resize(64u << 20);
  return large;
}

// Writes the items through `folders` nested folders ("Folder[]/", ten per level) in item order,
// finishing the folders innermost first.
inline void Write(CF_OutStorage& file, const std::vector<Item>& items, int folders) {
  auto rootFolder = CreateCodeFolder(file);
  std::vector<std::unique_ptr<CF_OutFolder>> out;
  for (int f = 0; f < folders; ++f) {
    CF_OutFolder& parent = f < 10 ? *rootFolder : *out[f / 10 - 1];
    out.push_back(parent.CreateFolder("Folder[]/", f));
  }
  for (const Item& item : items) {
    CF_OutFolder& folder = item.folder < 0 ? *rootFolder : *out[item.folder];
    auto s = folder.CreateStream(item.name.c_str(), 0, cf_Automatic);
    if (!item.bytes.empty()) s->PutData(item.bytes.data(), uint32_t(item.bytes.size()));
    s->Finish();
  }
  for (auto it = out.rbegin(); it != out.rend(); ++it) (*it)->Finish();
  rootFolder->Finish();
  file.Finish();
}

}  // namespace codefile_workload
