// Write-behind buffer that turns many small writes into few large ones.
#pragma once

#include <cstdint>

#include "Container/Storage/Streams.h"

class CachedOutStream : public OutStream {
 public:
  static constexpr uint32_t kBufferSize = 4096;
  // Writes larger than this that do not fit the buffer pass straight through.
  static constexpr uint32_t kPassThrough = 2048;

  // With `owns` the target is deleted together with this stream.
  CachedOutStream(OutStream& target, bool owns);
  // Copies would write the pending bytes twice and could both own the target.
  CachedOutStream(const CachedOutStream&) = delete;
  CachedOutStream& operator=(const CachedOutStream&) = delete;
  // Passes on what is still pending; a failure then goes to the warning messenger.
  ~CachedOutStream() override;

  void PutData(const void* data, uint32_t count) override;
  // The target receives what PutData piece by piece would send it, in the same cuts; the runs of
  // whole pieces among them go on in one call, without a copy here.
  void PutPieces(const void* data, uint32_t count, uint32_t piece) override;
  // The logical position of the next byte written: bytes passed on plus bytes pending.
  uint32_t GetOffset() const { return m_passedOn + m_pending; }
  // Passes the pending bytes on; raises what the target raises.
  void Finish();

 protected:
  void Flush();

 private:
  OutStream& m_target;
  uint32_t m_passedOn = 0;
  uint32_t m_pending = 0;
  bool m_owns;
  uint8_t m_buffer[kBufferSize];
};
