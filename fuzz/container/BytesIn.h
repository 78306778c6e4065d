// The fuzz input read as a stream, shared by the container fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Container/Storage/Streams.h"

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
