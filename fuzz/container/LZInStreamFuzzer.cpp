// Arbitrary bytes as a compressed stream: every outcome is data or a library error.
#include <cstddef>
#include <cstdint>

#include "Container/Storage/Errors.h"
#include "Container/Storage/LZStreams.h"
#include "fuzz/container/BytesIn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  // The first byte picks the window and the size of the reads.
  const int windowBits = data[0] & 1 ? 15 : 10;
  const uint32_t piece = 1u + (data[0] >> 1) * 37u;
  BytesIn source(data + 1, size - 1);
  try {
    auto lz = LZ_InStream::New(source, windowBits);
    uint8_t buffer[5000];
    uint64_t total = 0;
    while (total < (64u << 20)) {
      const uint32_t got = lz->GetData(buffer, piece);
      total += got;
      if (got < piece)
        break;
    }
  } catch (const FilterException&) {
  }
  return 0;
}
