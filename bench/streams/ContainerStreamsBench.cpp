// The read pager and the write cache over a compound-file stream, against the stream alone;
// zlib stream throughput at the two parameter sets in use.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "Container/Storage/CachedOutStream.h"
#include "Container/Storage/InPager.h"
#include "Container/Storage/LZStreams.h"
#include "Container/Storage/MemFile.h"
#include "Container/Storage/OLEStorage.h"

namespace {

constexpr uint32_t kStreamSize = 4u << 20;

std::vector<uint8_t> Bytes(size_t size, bool compressible) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 random(5);
  for (size_t i = 0; i < size; ++i)
    bytes[i] = compressible ? static_cast<uint8_t>("paragraph text run "[i % 19]) : static_cast<uint8_t>(random());
  return bytes;
}

// A container with one stream of kStreamSize bytes, made once.
const std::string& ContainerPath() {
  static const std::string path = [] {
    const std::string file = "/tmp/kesto-streams-bench-" + std::to_string(::getpid()) + ".dwq";
    OLEStorage root(file.c_str(), CD_CreateWrite);
    OLEStream stream(root, u"data", CD_CreateWrite);
    const auto bytes = Bytes(kStreamSize, false);
    stream.PutData(bytes.data(), kStreamSize);
    root.Flush();
    return file;
  }();
  return path;
}

// Small reads at random places clustered the way the code-file reader jumps between its tables:
// a few neighbouring reads, then a jump.
void RandomSmallReads(benchmark::State& state, bool paged) {
  OLEStorage root(ContainerPath().c_str(), CD_OpenRead);
  OLEStream stream = root.OpenStream(u"data", CD_OpenRead);
  std::unique_ptr<InPager> pager;
  InFile* source = &stream;
  if (paged) {
    pager = std::make_unique<InPager>(stream, false);
    source = pager.get();
  }
  std::mt19937 random(9);
  uint8_t buffer[64];
  uint32_t position = 0;
  for (auto _ : state) {
    if (random() % 8 == 0)
      position = random() % (kStreamSize - 64);
    source->Seek(static_cast<int32_t>(position), SO_Begin);
    const uint32_t size = 4 + random() % 60;
    benchmark::DoNotOptimize(source->GetData(buffer, size));
    position += size + random() % 32;
    position %= kStreamSize - 64;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(RandomSmallReads, direct, false);
BENCHMARK_CAPTURE(RandomSmallReads, paged, true);

// Many small writes, as a code-file writer makes them.
void SmallWrites(benchmark::State& state, bool cached) {
  const std::string file = "/tmp/kesto-streams-bench-w-" + std::to_string(::getpid()) + ".dwq";
  const auto bytes = Bytes(64, false);
  for (auto _ : state) {
    OLEStorage root(file.c_str(), CD_CreateWrite);
    OLEStream stream(root, u"out", CD_CreateWrite);
    if (cached) {
      CachedOutStream cache(stream, false);
      for (uint32_t i = 0; i < 100000; ++i)
        cache.PutData(bytes.data(), 2 + i % 30);
      cache.Finish();
    } else {
      for (uint32_t i = 0; i < 100000; ++i)
        stream.PutData(bytes.data(), 2 + i % 30);
    }
    root.Flush();
  }
  state.SetItemsProcessed(state.iterations() * 100000);
  ::unlink(file.c_str());
}
BENCHMARK_CAPTURE(SmallWrites, direct, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SmallWrites, cached, true)->Unit(benchmark::kMillisecond);

// Compressing and decompressing 4 MiB with (level, window bits, memory level).
void Compress(benchmark::State& state) {
  const int windowBits = static_cast<int>(state.range(0));
  const auto input = Bytes(kStreamSize, state.range(1) != 0);
  for (auto _ : state) {
    MemFile packed;
    auto lz = LZ_OutStream::New(packed, -1, windowBits, windowBits == 10 ? 3 : 8);
    lz->PutData(input.data(), kStreamSize);
    lz->Finish();
    benchmark::DoNotOptimize(packed.Size());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kStreamSize});
}
BENCHMARK(Compress)->ArgsProduct({{10, 15}, {0, 1}})->Unit(benchmark::kMillisecond);

void Decompress(benchmark::State& state) {
  const int windowBits = static_cast<int>(state.range(0));
  const auto input = Bytes(kStreamSize, state.range(1) != 0);
  MemFile packed;
  {
    auto lz = LZ_OutStream::New(packed, -1, windowBits, windowBits == 10 ? 3 : 8);
    lz->PutData(input.data(), kStreamSize);
    lz->Finish();
  }
  std::vector<uint8_t> output(64 * 1024);
  for (auto _ : state) {
    packed.Seek(0, SO_Begin);
    auto lz = LZ_InStream::New(packed, windowBits);
    while (lz->GetData(output.data(), static_cast<uint32_t>(output.size())) == output.size()) {
    }
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kStreamSize});
}
BENCHMARK(Decompress)->ArgsProduct({{10, 15}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ::unlink(ContainerPath().c_str());
  return 0;
}
