// Arbitrary bytes as a subtree transfer read into a new compound file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "Container/Storage/Errors.h"
#include "Container/Storage/OLEStorage.h"
#include "fuzz/container/BytesIn.h"

namespace {

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
