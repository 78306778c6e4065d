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

void CachedOutStream::PutPieces(const void* data, uint32_t count, uint32_t piece) {
  if (!data || count == 0)
    return;
  if (piece == 0 || piece >= count) {
    PutData(data, count);
    return;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  const uint8_t* runStart = nullptr;  // whole pieces for the target, one after the other
  uint32_t runSize = 0;
  const uint8_t* borrowed = nullptr;  // the pending bytes, while they are still the caller's
  const auto sendRun = [&] {
    if (runSize == 0)
      return;
    const uint32_t size = runSize;
    runSize = 0;
    m_target.PutPieces(runStart, size, piece);
    m_passedOn += size;
  };
  // One write PutData would send the target, in order.
  const auto send = [&](const uint8_t* at, uint32_t size, bool callers) {
    if (callers && size == piece) {
      if (runSize > 0 && runStart + runSize == at) {
        runSize += size;
        return;
      }
      sendRun();
      runStart = at;
      runSize = size;
      return;
    }
    sendRun();
    m_target.PutData(at, size);
    m_passedOn += size;
  };
  const auto keep = [&] {
    if (borrowed)
      std::memcpy(m_buffer, borrowed, m_pending);
    borrowed = nullptr;
  };
  try {
    for (uint32_t done = 0; done < count;) {
      const uint32_t n = std::min(piece, count - done);
      const uint8_t* at = bytes + done;
      done += n;
      if (m_pending + n <= kBufferSize) {
        if (m_pending == 0) {
          borrowed = at;
        } else {
          keep();
          std::memcpy(m_buffer + m_pending, at, n);
        }
        m_pending += n;
        continue;
      }
      const uint32_t pending = m_pending;
      m_pending = 0;
      if (pending > 0)
        send(borrowed ? borrowed : m_buffer, pending, borrowed != nullptr);
      borrowed = nullptr;
      if (n > kPassThrough) {
        send(at, n, true);
      } else {
        borrowed = at;
        m_pending = n;
      }
    }
    sendRun();
  } catch (...) {
    keep();
    throw;
  }
  keep();
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
