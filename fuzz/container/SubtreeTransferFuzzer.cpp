// Arbitrary bytes as a subtree transfer read into a new compound file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "Container/Storage/Errors.h"
#include "Container/Storage/OLEStorage.h"

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

const std::string& TargetPath() {
  static const std::string path = "/tmp/kesto-transfer-fuzz-" + std::to_string(::getpid()) + ".dwq";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BytesIn source(data, size);
  try {
    OLEStorage root(TargetPath().c_str(), CD_CreateWrite);
    OLEStorageEnumerator items(root);
    for (int i = 0; i < 64 && (items << source); ++i) {
    }
    root.Flush();
  } catch (const FilterException&) {
  }
  ::unlink(TargetPath().c_str());
  return 0;
}
