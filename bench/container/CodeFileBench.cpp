// Writes and reads back code files, in a compound file on disk and in memory, and compares the
// times with baselines on the same bytes: for compressed streams zlib alone (each stream
// deflated into memory with the code file's parameters and inflated again); for stored streams
// a plain copy (on disk a buffered write of the bytes into a fresh plain file and a buffered
// read back, in memory a copy into one buffer and a copy out).
//
//   CodeFileBench [folder for the temporary files] [repetitions] [stored | compressed | walk]
//
// First, the walk through every folder of a code file in memory that enumerates each folder's
// streams and sub-folders, for 1,000 to 100,000 entries (streams and folder tables): its time
// per entry stays the same as the entries grow ("walk" runs only these rows).
// Case 1: 10,000 streams in nested folders, sizes from 0 bytes to 1 MiB, half of them
// compressible text, half random bytes. Case 2: one stream of 64 MiB. Each figure is the median
// of the repetitions (default 5), ours and the baseline run in turn; ratios are ours over the
// baseline.
#include "Container/Storage/CodeFolder.h"
#include "Container/Storage/MemFile.h"
#include "Container/Storage/OLEStorage.h"
#include "tests/Container/Storage/CodeFileWorkload.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using codefile_workload::Bytes;
using codefile_workload::Item;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Timing {
  double write = 0, read = 0;
};

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "%s failed\n", what);
    std::exit(1);
  }
}

Timing ZlibAlone(const std::vector<Item>& items) {
  Timing t;
  std::vector<Bytes> packed(items.size());
  auto start = Clock::now();
  for (size_t i = 0; i < items.size(); ++i) {
    const Bytes& in = items[i].bytes;
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
  for (size_t i = 0; i < items.size(); ++i) {
    out.resize(items[i].bytes.size());
    z_stream z{};
    inflateInit2(&z, 10);
    z.next_in = packed[i].data();
    z.avail_in = uInt(packed[i].size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    Check(inflate(&z, Z_FINISH) == Z_STREAM_END, "inflate");
    inflateEnd(&z);
  }
  t.read = Seconds(start);
  return t;
}

// The streams' bytes one after the other in a fresh plain file, through a buffer of 1 MiB.
Timing PlainFile(const std::vector<Item>& items, const std::string& path) {
  Timing t;
  ::unlink(path.c_str());
  auto start = Clock::now();
  FILE* f = std::fopen(path.c_str(), "wb");
  Check(f != nullptr, "plain create");
  std::setvbuf(f, nullptr, _IOFBF, 1 << 20);
  for (const Item& item : items)
    Check(std::fwrite(item.bytes.data(), 1, item.bytes.size(), f) == item.bytes.size(), "plain write");
  Check(std::fclose(f) == 0, "plain close");
  t.write = Seconds(start);
  start = Clock::now();
  f = std::fopen(path.c_str(), "rb");
  Check(f != nullptr, "plain open");
  std::setvbuf(f, nullptr, _IOFBF, 1 << 20);
  Bytes buffer;
  for (const Item& item : items) {
    buffer.resize(item.bytes.size());
    Check(std::fread(buffer.data(), 1, buffer.size(), f) == buffer.size(), "plain read");
  }
  std::fclose(f);
  t.read = Seconds(start);
  ::unlink(path.c_str());
  return t;
}

// The streams' bytes copied one after the other into a buffer (kept from run to run, as the
// code file's memory files are), then copied out again.
Timing MemoryCopy(const std::vector<Item>& items) {
  static Bytes all;
  size_t total = 0;
  for (const Item& item : items) total += item.bytes.size();
  all.resize(total);
  Timing t;
  auto start = Clock::now();
  size_t at = 0;
  for (const Item& item : items) {
    if (!item.bytes.empty()) std::memcpy(all.data() + at, item.bytes.data(), item.bytes.size());
    at += item.bytes.size();
  }
  t.write = Seconds(start);
  start = Clock::now();
  Bytes buffer;
  at = 0;
  for (const Item& item : items) {
    buffer.resize(item.bytes.size());
    if (!buffer.empty()) std::memcpy(buffer.data(), all.data() + at, buffer.size());
    at += buffer.size();
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
  // A fresh file for the next write, removed outside the timing.
  void Clear() {
    if (!m_path.empty()) ::unlink(m_path.c_str());
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
  place.Clear();
  auto start = Clock::now();
  codefile_workload::Write(*CreateCodeFile(place.ForWriting(), compress), items, folders);
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
    double checking = 0;  // the comparison with what was written is no work of the reader
    for (const Item& item : items) {
      CF_InFolder& folder = item.folder < 0 ? *rootFolder : *in[item.folder];
      auto s = folder.OpenStream(item.name.c_str(), 0);
      buffer.resize(item.bytes.size() + 1);
      const uint32_t got = s->GetData(buffer.data(), uint32_t(buffer.size()));
      const auto compared = Clock::now();
      if (got != item.bytes.size() ||
          (got && std::memcmp(buffer.data(), item.bytes.data(), got) != 0)) {
        std::fprintf(stderr, "stream %s differs\n", item.name.c_str());
        std::exit(1);
      }
      checking += Seconds(compared);
    }
    t.read = -checking;
  }
  place.Close();
  t.read += Seconds(start);
  return t;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// ---- Walk through every folder ----------------------------------------------------------------

constexpr int kWalkFanOut = 10;       // sub-folders of a folder
constexpr int kStreamsPerFolder = 4;  // as an element of the exchange model has a few fields

// Folder k of `folders` holds its streams and the folders 10k+1 to 10k+10, written depth first.
void WriteWalkFolder(CF_OutFolder& folder, int k, int folders) {
  for (int s = 0; s < kStreamsPerFolder; ++s) {
    auto stream = folder.CreateStream(("m_Field" + std::to_string(s)).c_str(), 0, cf_Stored);
    const uint32_t value = uint32_t(k);
    stream->PutData(&value, sizeof value);
    stream->Finish();
  }
  for (int c = kWalkFanOut * k + 1; c <= kWalkFanOut * k + kWalkFanOut && c < folders; ++c) {
    auto sub = folder.CreateFolder("Element[]/", c);
    WriteWalkFolder(*sub, c, folders);
    sub->Finish();
  }
}

struct CountNames : IdentifierReceiver {
  std::vector<std::pair<std::string, uint32_t>> names;
  bool operator()(const char* name, uint32_t tag) override {
    names.emplace_back(name, tag);
    return true;
  }
};

size_t WalkFolder(CF_EnumerableInFolder& folder) {
  CountNames streams, folders;
  folder.EnumerateStreams(streams);
  folder.EnumerateFolders(folders);
  size_t seen = streams.names.size() + 1;  // its table too
  for (const auto& [name, index] : folders.names)
    seen += WalkFolder(*folder.OpenEnumerableFolder(name.c_str(), int32_t(index)));
  return seen;
}

void RunWalks(int repetitions) {
  std::printf("walk through every folder, in memory, median of %d runs\n", repetitions);
  for (int entries : {1000, 3000, 10000, 30000, 100000}) {
    const int folders = entries / (kStreamsPerFolder + 1);
    MemFile code, summary;
    {
      auto file = CreateCodeFile(std::make_unique<CF_MemoryMedium>(code, summary), false);
      auto root = CreateCodeFolder(*file);
      WriteWalkFolder(*root, 0, folders);
      root->Finish();
      file->Finish();
    }
    std::vector<double> times;
    for (int r = 0; r < repetitions; ++r) {
      const auto start = Clock::now();
      auto file = OpenEnumerableCodeFile(std::make_unique<CF_MemoryMedium>(code, summary));
      const size_t seen = WalkFolder(*OpenEnumerableCodeFolder(*file));
      times.push_back(Seconds(start));
      Check(seen == size_t(folders) * (kStreamsPerFolder + 1), "walk count");
    }
    const double t = Median(times);
    std::printf("walk of %7d entries (%6d folders, code stream %5.1f MB)  %8.3f s  %6.2f us per entry\n",
                folders * (kStreamsPerFolder + 1), folders, code.Size() / 1e6, t,
                t * 1e6 / (folders * (kStreamsPerFolder + 1)));
    std::fflush(stdout);
  }
}

struct Samples {
  std::vector<double> write, read;
  void Add(const Timing& t) {
    write.push_back(t.write);
    read.push_back(t.read);
  }
  Timing Median() const { return {::Median(write), ::Median(read)}; }
};

void Report(const char* label, double megabytes, const Timing& ours, const char* baseline,
            const Timing& base, uintmax_t fileSize) {
  std::printf("%-31s %6.1f MB  write %7.3f s (%-10s %7.3f s, x%5.2f)  read %7.3f s (%-10s %7.3f s, "
              "x%5.2f)  file %.1f MB\n",
              label, megabytes, ours.write, baseline, base.write, ours.write / std::max(base.write, 1e-9),
              ours.read, baseline, base.read, ours.read / std::max(base.read, 1e-9), fileSize / 1e6);
  std::fflush(stdout);
}

void RunCase(const char* name, const std::vector<Item>& items, int folders, Place& disk, Place& memory,
             const std::string& plainPath, int repetitions, const std::string& only) {
  double total = 0;
  for (const Item& item : items) total += double(item.bytes.size());
  for (bool compress : {true, false}) {
    if (!only.empty() && only != (compress ? "compressed" : "stored")) continue;
    Samples onDisk, inMemory, base, baseMemory;
    for (int r = 0; r < repetitions; ++r) {
      if (compress) {
        base.Add(ZlibAlone(items));
      } else {
        base.Add(PlainFile(items, plainPath));
        baseMemory.Add(MemoryCopy(items));
      }
      onDisk.Add(CodeFile(disk, items, folders, compress));
      inMemory.Add(CodeFile(memory, items, folders, compress));
    }
    const std::string label = std::string(name) + (compress ? ", compressed" : ", stored");
    Report(label.c_str(), total / 1e6, onDisk.Median(), compress ? "zlib alone" : "plain file",
           base.Median(), disk.Size());
    Report("  the same in memory", total / 1e6, inMemory.Median(), compress ? "zlib alone" : "memory",
           (compress ? base : baseMemory).Median(), memory.Size());
  }
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::string only = argc > 3 ? argv[3] : "";
  RunWalks(repetitions);
  if (only == "walk") return 0;
  const std::string path = (dir / "kesto-codefile-bench.dwq").string();
  const std::string plainPath = (dir / "kesto-codefile-bench.bin").string();
  std::mt19937 random(codefile_workload::kSeed);
  const std::vector<Item> items = codefile_workload::MakeItems(random, 10000);
  std::vector<Item> big;
  big.push_back({-1, "0", codefile_workload::MakeLarge(random)});

  Place disk(path), memory("");
  std::printf("median of %d runs\n", repetitions);
  RunCase("10,000 streams", items, codefile_workload::kFolders, disk, memory, plainPath, repetitions, only);
  RunCase("one 64 MiB stream", big, 0, disk, memory, plainPath, repetitions, only);
  fs::remove(path);
  return 0;
}
