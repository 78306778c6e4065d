#include "Container/Storage/LZStreams.h"

#include <zlib.h>

#include "Container/Storage/Errors.h"

namespace {

// The library code of a zlib result, or 0 when the result is no error for this side. A writer
// never sees a dictionary request or a data error from deflate, so those are errors of readers.
int ZlibErrorCode(int result, bool reading) {
  switch (result) {
    case Z_MEM_ERROR: return FE_ZlibMemory;
    case Z_VERSION_ERROR: return FE_ZlibVersion;
    case Z_STREAM_ERROR: return FE_ZlibStream;
    case Z_BUF_ERROR: return FE_ZlibBuffer;
    case Z_NEED_DICT: return reading ? FE_ZlibNeedDictionary : 0;
    case Z_DATA_ERROR: return reading ? FE_ZlibData : 0;
    default: return 0;
  }
}

// Shared by both directions: the ok flag stays clear after an error, so that a stream that
// failed is not driven any further.
class ZlibChecked {
 protected:
  explicit ZlibChecked(bool reading) : m_reading(reading) {}

  void Check(int result) {
    m_ok = false;
    if (const int code = ZlibErrorCode(result, m_reading)) {
      m_failure = code;
      Error(code);
    }
    m_ok = true;
  }

  z_stream m_zs{};
  bool m_ok = false;
  bool m_live = false;  // zlib's state exists and must be ended
  int m_failure = FE_ZlibStream;  // what a stream that is no longer ok answers

 private:
  bool m_reading;
};

class LZ_OutStream_Impl final : public LZ_OutStream, private ZlibChecked {
 public:
  LZ_OutStream_Impl(OutStream& target, LZ_CompressionLevel level, LZ_WindowBits windowBits,
                    LZ_MemoryLevel memoryLevel)
      : ZlibChecked(false), m_target(target), m_level(level) {
    Check(deflateInit2(&m_zs, level, Z_DEFLATED, windowBits, memoryLevel, Z_DEFAULT_STRATEGY));
    m_live = true;
  }

  ~LZ_OutStream_Impl() override {
    if (m_live && m_ok) {
      try {
        Finish();
      } catch (...) {
        WarnAboutCurrentException();
      }
    }
    // zlib's state goes on every path, also after an error.
    if (m_live)
      deflateEnd(&m_zs);
  }

  void PutData(const void* data, uint32_t count) override {
    if (count == 0)
      return;
    RequireOpen();
    m_zs.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    m_zs.avail_in = count;
    do {
      Deflate(Z_NO_FLUSH);
    } while (m_zs.avail_out == 0 || m_zs.avail_in > 0);
  }

  void SetCompressionLevel(LZ_CompressionLevel level) override {
    RequireOpen();
    GiveBuffer();
    Check(deflateParams(&m_zs, level, Z_DEFAULT_STRATEGY));
    PassOn();
    m_level = level;
  }

  LZ_CompressionLevel CompressionLevel() const override { return m_level; }

  void Finish() override {
    RequireOpen();
    int result;
    do {
      GiveBuffer();
      result = deflate(&m_zs, Z_FINISH);
      Check(result);
      PassOn();
    } while (result != Z_STREAM_END);
    m_live = false;
    Check(deflateEnd(&m_zs));
  }

 private:
  void RequireOpen() {
    // A finished stream, or one whose output was lost to an error, cannot go on.
    if (!m_live)
      Error(FE_ZlibStream);
    if (!m_ok)
      Error(m_failure);
  }

  void GiveBuffer() {
    m_zs.next_out = m_buffer;
    m_zs.avail_out = sizeof m_buffer;
  }

  void PassOn() {
    const uint32_t produced = static_cast<uint32_t>(sizeof m_buffer - m_zs.avail_out);
    if (produced == 0)
      return;
    // Bytes zlib already took would be lost if the target failed: the stream is broken then.
    m_ok = false;
    m_target.PutData(m_buffer, produced);
    m_ok = true;
  }

  void Deflate(int flush) {
    GiveBuffer();
    Check(deflate(&m_zs, flush));
    PassOn();
  }

  OutStream& m_target;
  LZ_CompressionLevel m_level;
  Bytef m_buffer[1024];
};

class LZ_InStream_Impl final : public LZ_InStream, private ZlibChecked {
 public:
  LZ_InStream_Impl(InStream& source, LZ_WindowBits windowBits)
      : ZlibChecked(true), m_source(source) {
    Check(inflateInit2(&m_zs, windowBits));
    m_live = true;
  }

  ~LZ_InStream_Impl() override {
    if (m_live)
      inflateEnd(&m_zs);
  }

  uint32_t GetData(void* buffer, uint32_t count) override {
    if (m_ended || count == 0)
      return 0;
    if (!m_ok)
      Error(m_failure);
    m_zs.next_out = static_cast<Bytef*>(buffer);
    m_zs.avail_out = count;
    while (m_zs.avail_out > 0) {
      if (m_zs.avail_in == 0) {
        const uint32_t got = m_source.GetData(m_input, sizeof m_input);
        if (got == 0) {
          // The source ended inside the compressed stream: the data is truncated.
          m_ok = false;
          m_failure = FE_ZlibData;
          Error(m_failure);
        }
        m_zs.next_in = m_input;
        m_zs.avail_in = got;
      }
      const int result = inflate(&m_zs, Z_NO_FLUSH);
      Check(result);
      if (result == Z_STREAM_END) {
        m_ended = true;
        break;
      }
    }
    return count - m_zs.avail_out;
  }

  uint64_t Deliverable() const override {
    if (m_ended) return 0;
    const uint64_t source = m_source.Deliverable();
    if (source == kUnknownDeliverable) return kUnknownDeliverable;
    return LZ_MostInflated(source + m_zs.avail_in);
  }

 private:
  InStream& m_source;
  bool m_ended = false;
  // Large enough that inflate runs long between refills: each call of it costs a setup that
  // small inputs would pay again and again.
  Bytef m_input[16 * 1024];
};

}  // namespace

uint64_t LZ_MostInflated(uint64_t compressed) {
  constexpr uint64_t kMaxRatio = 1032, kMaxPending = 258;
  return compressed > (UINT64_MAX - kMaxPending) / kMaxRatio ? InStream::kUnknownDeliverable
                                                             : compressed * kMaxRatio + kMaxPending;
}

std::unique_ptr<LZ_OutStream> LZ_OutStream::New(OutStream& target, LZ_CompressionLevel level,
                                                 LZ_WindowBits windowBits,
                                                 LZ_MemoryLevel memoryLevel) {
  return std::make_unique<LZ_OutStream_Impl>(target, level, windowBits, memoryLevel);
}

std::unique_ptr<LZ_InStream> LZ_InStream::New(InStream& source, LZ_WindowBits windowBits) {
  return std::make_unique<LZ_InStream_Impl>(source, windowBits);
}
