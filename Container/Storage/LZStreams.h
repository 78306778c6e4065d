// zlib-compressed streams (RFC 1950): a deflating writer and an inflating reader placed in
// front of another stream.
#pragma once

#include <memory>

#include "Container/Storage/Streams.h"

using LZ_CompressionLevel = int;  // -1: zlib's default level
using LZ_WindowBits = int;        // 10 for code-file streams, 15 for stored documents
using LZ_MemoryLevel = int;       // 3 for code-file streams, 8 for stored documents

class LZ_OutStream : public OutStream {
 public:
  // `target` is not owned and must outlive the stream.
  static std::unique_ptr<LZ_OutStream> New(OutStream& target, LZ_CompressionLevel level,
                                           LZ_WindowBits windowBits, LZ_MemoryLevel memoryLevel);

  virtual void SetCompressionLevel(LZ_CompressionLevel level) = 0;
  virtual LZ_CompressionLevel CompressionLevel() const = 0;
  // Writes the end of the compressed stream and frees zlib's state; raises on failure, also
  // when an earlier error left the stream incomplete. The destructor finishes a stream that
  // was not finished and reports a failure to the warning messenger.
  virtual void Finish() = 0;
};

// The most bytes `compressed` bytes of a zlib stream can inflate to: deflate describes at most
// 258 bytes with two bits, so no byte of input gives more than 1032 bytes, and inflate may still
// owe the rest of one such match.
uint64_t LZ_MostInflated(uint64_t compressed);

class LZ_InStream : public InStream {
 public:
  // `source` is not owned and must outlive the stream. Reading past the end of the compressed
  // stream answers 0; a source that ends before the compressed stream does raises FE_ZlibData.
  static std::unique_ptr<LZ_InStream> New(InStream& source, LZ_WindowBits windowBits);
};
