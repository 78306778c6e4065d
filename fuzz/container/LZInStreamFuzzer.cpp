// Arbitrary bytes as a compressed stream: every outcome is data or a library error.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Container/Storage/Errors.h"
#include "Container/Storage/LZStreams.h"

namespace {

class BytesIn : public InStream {
 public:
  BytesIn(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint32_t GetData(void* buffer, uint32_t count) override {
    const size_t take = count < m_size - m_at ? count : m_size - m_at;
    std::memcpy(buffer, m_data + m_at, take);
    m_at += take;
    return static_cast<uint32_t>(take);
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};

}  // namespace

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
