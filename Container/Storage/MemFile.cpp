#include "Container/Storage/MemFile.h"

#include <algorithm>
#include <cstring>
#include <new>

uint32_t MemSeekMethod::Seek(int32_t offset, SeekOrigin origin) {
  // Positions wrap around at 32 bits as in the stored formats; nothing is checked here.
  switch (origin) {
    case SO_Begin: m_position = static_cast<uint32_t>(offset); break;
    case SO_Current: m_position += static_cast<uint32_t>(offset); break;
    case SO_End: m_position = Size() + static_cast<uint32_t>(offset); break;
    default: break;
  }
  return m_position;
}

uint32_t MemInFile::GetData(void* buffer, uint32_t count) {
  const uint32_t position = Position();
  const uint32_t size = Size();
  if (size < position)
    return 0;
  count = std::min(count, size - position);
  if (count > 0)
    std::memcpy(buffer, Data() + position, count);
  SetPosition(position + count);
  return count;
}

MemOutFile::MemOutFile(const MemOutFile& other)
    : MemSeekMethod(other), m_capacity(other.m_capacity), m_size(other.m_size) {
  if (other.m_data) {
    m_data.reset(new uint8_t[m_capacity]);
    std::memcpy(m_data.get(), other.m_data.get(), m_capacity);
  }
}

void MemOutFile::PutData(const void* data, uint32_t count) {
  if (count == 0)
    return;
  const uint64_t position = Position();
  const uint64_t end = position + count;
  if (end > m_capacity) {
    // Growing to twice the position keeps appending at amortised constant cost.
    const uint64_t capacity = count + 2 * position;
    if (capacity > UINT32_MAX)
      throw std::bad_alloc();
    std::unique_ptr<uint8_t[]> block(new uint8_t[capacity]());
    if (m_data)
      std::memcpy(block.get(), m_data.get(), m_capacity);
    m_data = std::move(block);
    m_capacity = static_cast<uint32_t>(capacity);
  }
  std::memcpy(m_data.get() + position, data, count);
  SetPosition(static_cast<uint32_t>(end));
  m_size = std::max(m_size, static_cast<uint32_t>(end));
}

void MemOutFile::Clear() {
  SetPosition(0);
  m_size = 0;
}

void MemOutFile::Resize() {
  const uint32_t position = Position();
  std::unique_ptr<uint8_t[]> block(new uint8_t[position]());
  if (m_data)
    std::memcpy(block.get(), m_data.get(), std::min(position, m_capacity));
  m_data = std::move(block);
  m_size = m_capacity = position;
}
