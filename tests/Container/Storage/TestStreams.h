// Stream doubles and helpers shared by the container-storage tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "Container/Storage/Errors.h"
#include "Container/Storage/Streams.h"

// Keeps every write, and the size of each call.
class RecordingOut : public OutStream {
 public:
  void PutData(const void* data, uint32_t count) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    this->bytes.insert(this->bytes.end(), bytes, bytes + count);
    calls.push_back(count);
  }
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> calls;
};

// A seekable source over a byte vector. It answers at most `limit` bytes per read (a source that
// delivers short reads) and records each read as {position, count asked}.
class VectorIn : public InFile {
 public:
  explicit VectorIn(std::vector<uint8_t> data, uint32_t limit = UINT32_MAX)
      : bytes(std::move(data)), m_limit(limit) {}

  uint32_t GetData(void* buffer, uint32_t count) override {
    reads.push_back({m_position, count});
    if (m_position >= bytes.size())
      return 0;
    const uint32_t got = std::min<uint32_t>(
        {count, m_limit, static_cast<uint32_t>(bytes.size()) - m_position});
    std::memcpy(buffer, bytes.data() + m_position, got);
    m_position += got;
    return got;
  }

  uint32_t Seek(int32_t offset, SeekOrigin origin) override {
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    switch (origin) {
      case SO_Begin: m_position = static_cast<uint32_t>(offset); break;
      case SO_Current: m_position += static_cast<uint32_t>(offset); break;
      default: m_position = size + static_cast<uint32_t>(offset); break;
    }
    return m_position;
  }

  struct Read {
    uint32_t position;
    uint32_t count;
  };
  std::vector<uint8_t> bytes;
  std::vector<Read> reads;

 private:
  uint32_t m_limit;
  uint32_t m_position = 0;
};

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return bytes;
}

// A sink whose every write fails with "medium full" while `failures` is set.
class FailingOut : public OutStream {
 public:
  void PutData(const void*, uint32_t) override {
    if (failures)
      Error(FE_StorageMediumFull);
  }
  bool failures = true;
};

// Collects the codes of the warnings delivered while it exists; the default messenger is back
// once it goes.
class RecordedWarnings {
 public:
  RecordedWarnings() {
    Codes().clear();
    SetWarningMessenger(Record);
  }
  ~RecordedWarnings() { SetWarningMessenger(nullptr); }
  RecordedWarnings(const RecordedWarnings&) = delete;
  RecordedWarnings& operator=(const RecordedWarnings&) = delete;

  static std::vector<int>& Codes() {
    static std::vector<int> codes;
    return codes;
  }

 private:
  static void Record(FilterException& e) { Codes().push_back(e.Code()); }
};

// The code of the library error that `action` raises, 0 when it raises none.
inline int CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const FilterException& e) {
    return e.Code();
  }
  return 0;
}

// The code and text of the library error that `action` raises: {0, ""} when it raises none, the
// code's general text when it has none of its own.
inline std::pair<int, std::string> ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const FilterException& e) {
    return {e.Code(), e.Text() ? e.Text() : FilterErrorText(e.Code())};
  }
  return {0, ""};
}
