// Writes and reads back code files inside a compound file and compares the time with what
// zlib alone takes to compress and expand the same bytes with the same parameters.
//
//   CodeFileBench [folder for the temporary files]
//
// Case 1: 10,000 streams in nested folders, sizes from 0 bytes to 1 MiB, half of them
// compressible text, half random bytes. Case 2: one stream of 64 MiB.
#include "Container/Storage/CodeFolder.h"
#include "Container/Storage/MemFile.h"
#include "Container/Storage/OLEStorage.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Item {
  int folder;  // index into the folder list, -1 for the root
  std::string name;
  Bytes bytes;
};

Bytes Make(std::mt19937& random, size_t size, bool compressible) {
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

// 97% small streams (up to 16 KiB), 3% large ones (64 KiB to 1 MiB); sizes log-uniform.
size_t DrawSize(std::mt19937& random) {
  std::uniform_real_distribution<double> unit(0, 1);
  if (random() % 100 < 3) return size_t(65536 * std::pow(16.0, unit(random)));
  const double s = std::pow(2.0, unit(random) * 14.0) - 1;
  return random() % 50 == 0 ? 0 : size_t(s);
}

struct Timing {
  double write = 0, read = 0;
};

// zlib alone: each stream deflated (default level, window bits 10, memory level 3, as the code
// file does) into memory and inflated again.
Timing ZlibAlone(const std::vector<const Bytes*>& streams, bool compress) {
  Timing t;
  std::vector<Bytes> packed(streams.size());
  auto start = Clock::now();
  for (size_t i = 0; i < streams.size(); ++i) {
    const Bytes& in = *streams[i];
    if (!compress) {
      packed[i] = in;
      continue;
    }
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 10, 3, Z_DEFAULT_STRATEGY);
    packed[i].resize(deflateBound(&z, in.size()));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = packed[i].data();
    z.avail_out = uInt(packed[i].size());
    deflate(&z, Z_FINISH);
    packed[i].resize(z.total_out);
    deflateEnd(&z);
  }
  t.write = Seconds(start);
  start = Clock::now();
  Bytes out;
  for (size_t i = 0; i < streams.size(); ++i) {
    out.resize(streams[i]->size());
    if (!compress) {
      if (!out.empty()) std::memcpy(out.data(), packed[i].data(), out.size());
      continue;
    }
    z_stream z{};
    inflateInit2(&z, 10);
    z.next_in = packed[i].data();
    z.avail_in = uInt(packed[i].size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    inflateEnd(&z);
  }
  t.read = Seconds(start);
  return t;
}

// Where the code file lives: a compound file on disk (path given) or two memory files.
class Place {
 public:
  explicit Place(std::string path) : m_path(std::move(path)) {}

  std::unique_ptr<CF_Medium> ForWriting() {
    if (m_path.empty()) return std::make_unique<CF_MemoryMedium>(m_code, m_summary);
    m_root = std::make_unique<OLEStorage>(m_path.c_str(), CD_CreateWrite);
    return OLEStorageMedium(OLEStorage(*m_root, u"VerbantTextAndCode", CD_CreateWrite));
  }
  std::unique_ptr<CF_Medium> ForReading() {
    if (m_path.empty()) return std::make_unique<CF_MemoryMedium>(m_code, m_summary);
    m_root = std::make_unique<OLEStorage>(m_path.c_str(), CD_OpenRead);
    return OLEStorageMedium(OLEStorage(*m_root, u"VerbantTextAndCode", CD_OpenRead));
  }
  void Close() {
    if (m_root && m_root->Stat().Mode() & 1) m_root->Flush();
    m_root.reset();
  }
  uintmax_t Size() const {
    return m_path.empty() ? m_code.Size() + m_summary.Size() : std::filesystem::file_size(m_path);
  }

 private:
  std::string m_path;
  std::unique_ptr<OLEStorage> m_root;
  MemFile m_code, m_summary;
};

Timing CodeFile(Place& place, const std::vector<Item>& items, int folders, bool compress) {
  Timing t;
  auto start = Clock::now();
  {
    auto file = CreateCodeFile(place.ForWriting(), compress);
    auto rootFolder = CreateCodeFolder(*file);
    std::vector<std::unique_ptr<CF_OutFolder>> out;
    for (int f = 0; f < folders; ++f) {
      CF_OutFolder& parent = f < 10 ? *rootFolder : *out[f / 10 - 1];  // ten per level
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
    file->Finish();
  }
  place.Close();
  t.write = Seconds(start);
  start = Clock::now();
  {
    auto file = OpenEnumerableCodeFile(place.ForReading());
    auto rootFolder = OpenCodeFolder(*file);
    std::vector<std::unique_ptr<CF_InFolder>> in;
    for (int f = 0; f < folders; ++f) {
      CF_InFolder& parent = f < 10 ? *rootFolder : *in[f / 10 - 1];
      in.push_back(parent.OpenFolder("Folder[]/", f));
    }
    Bytes buffer;
    for (const Item& item : items) {
      CF_InFolder& folder = item.folder < 0 ? *rootFolder : *in[item.folder];
      auto s = folder.OpenStream(item.name.c_str(), 0);
      buffer.resize(item.bytes.size() + 1);
      const uint32_t got = s->GetData(buffer.data(), uint32_t(buffer.size()));
      if (got != item.bytes.size() ||
          (got && std::memcmp(buffer.data(), item.bytes.data(), got) != 0)) {
        std::fprintf(stderr, "stream %s differs\n", item.name.c_str());
        std::exit(1);
      }
    }
  }
  place.Close();
  t.read = Seconds(start);
  return t;
}

void Report(const char* label, double megabytes, const Timing& packed, const Timing& zlib,
            uintmax_t fileSize) {
  std::printf("%-34s %8.1f MB  write %7.3f s (zlib alone %7.3f s, x%.2f)  read %7.3f s (zlib alone "
              "%7.3f s, x%.2f)  file %.1f MB\n",
              label, megabytes, packed.write, zlib.write, packed.write / std::max(zlib.write, 1e-9),
              packed.read, zlib.read, packed.read / std::max(zlib.read, 1e-9), fileSize / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const std::string path = (dir / "kesto-codefile-bench.dwq").string();
  std::mt19937 random(20261207);

  const int kFolders = 110;  // 10 below the root, 10 below each of those, ...
  std::vector<Item> items;
  double total = 0;
  for (int i = 0; i < 10000; ++i) {
    const int folder = int(random() % (kFolders + 1)) - 1;
    items.push_back({folder, "m_Field" + std::to_string(i), Make(random, DrawSize(random), i % 2 == 0)});
    total += items.back().bytes.size();
  }
  std::vector<const Bytes*> streams;
  for (const Item& item : items) streams.push_back(&item.bytes);

  Place disk(path), memory("");
  for (bool compress : {true, false}) {
    const Timing zlib = ZlibAlone(streams, compress);
    const Timing packed = CodeFile(disk, items, kFolders, compress);
    Report(compress ? "10,000 streams, compressed" : "10,000 streams, stored", total / 1e6,
           packed, zlib, disk.Size());
    const Timing inMemory = CodeFile(memory, items, kFolders, compress);
    Report("  the same in memory", total / 1e6, inMemory, zlib, memory.Size());
  }

  std::vector<Item> big;
  Bytes large;
  while (large.size() < (64u << 20)) {  // text with random stretches
    const Bytes part = Make(random, 1 << 16, random() % 4 != 0);
    large.insert(large.end(), part.begin(), part.end());
  }
  large.resize(64u << 20);
  big.push_back({-1, "0", std::move(large)});
  for (bool compress : {true, false}) {
    const Timing zlib = ZlibAlone({&big[0].bytes}, compress);
    const Timing packed = CodeFile(disk, big, 0, compress);
    Report(compress ? "one 64 MiB stream, compressed" : "one 64 MiB stream, stored",
           big[0].bytes.size() / 1e6, packed, zlib, disk.Size());
    const Timing inMemory = CodeFile(memory, big, 0, compress);
    Report("  the same in memory", big[0].bytes.size() / 1e6, inMemory, zlib, memory.Size());
  }
  fs::remove(path);
  return 0;
}
