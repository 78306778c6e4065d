// What the book fuzzers share: how an input becomes the two stored items of a code file, how far
// a collection is walked, and a stream read to its end.
//
// Input: a 4-byte little-endian length n, then n bytes of the summary property set, then the
// code stream. A shorter input is all code stream, with no summary.
#pragma once

#include "Container/Model/FieldStreams.h"
#include "Container/Storage/CodeFile.h"
#include "Container/Storage/MemFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Enough elements to reach every index a small file can hold.
constexpr dwx_long kMaxElements = 4096;

// The code file an input describes, in memory.
struct BookFuzzInput {
  MemFile code;
  MemFile summary;

  BookFuzzInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    if (size >= 4) {
      const uint32_t n = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                         uint32_t(data[3]) << 24;
      if (n <= size - 4) {
        summary.PutData(data + 4, n);
        at = 4 + size_t(n);
      }
    }
    if (size > at) code.PutData(data + at, uint32_t(size - at));
  }

  std::unique_ptr<CF_Medium> Medium() { return std::make_unique<CF_MemoryMedium>(code, summary); }
};

// Reads a stream of T to its end.
template <class T>
void DrainStream(DWX_InStream& stream) {
  T buffer[64];
  auto& in = dynamic_cast<DWX_In<T>&>(stream);
  while (in.GetData(buffer, 64) == 64) {
  }
}
