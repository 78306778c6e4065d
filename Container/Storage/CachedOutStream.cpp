#include "Container/Storage/CachedOutStream.h"

#include <cstring>

#include "Container/Storage/Errors.h"

CachedOutStream::CachedOutStream(OutStream& target, bool owns) : m_target(target), m_owns(owns) {}

CachedOutStream::~CachedOutStream() {
  try {
    Flush();
  } catch (...) {
    WarnAboutCurrentException();
  }
  if (m_owns)
    delete &m_target;
}

void CachedOutStream::PutData(const void* data, uint32_t count) {
  if (!data || count == 0)
    return;
  if (m_pending + count <= kBufferSize) {
    std::memcpy(m_buffer + m_pending, data, count);
    m_pending += count;
    return;
  }
  Flush();
  if (count > kPassThrough) {
    m_target.PutData(data, count);
    m_passedOn += count;
  } else {
    std::memcpy(m_buffer, data, count);
    m_pending = count;
  }
}

void CachedOutStream::Finish() { Flush(); }

void CachedOutStream::Flush() {
  if (m_pending == 0)
    return;
  const uint32_t pending = m_pending;
  // Cleared first: bytes the target refused are not offered a second time.
  m_pending = 0;
  m_target.PutData(m_buffer, pending);
  m_passedOn += pending;
}
