// Reads a property-set stream from arbitrary bytes, writes it back and reads that again; then
// reads the same bytes as a sequence of stored Variants.
#include "Container/Storage/Errors.h"
#include "Container/Storage/MemFile.h"
#include "Container/Storage/PropertySet.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  MemFile in;
  if (size) in.PutData(data, static_cast<uint32_t>(size));
  in.Seek(0, SO_Begin);
  try {
    PropertySet set(u"fuzz");
    set.Read(in);
    MemFile out;
    set.Write(out);
    out.Seek(0, SO_Begin);
    PropertySet again(u"fuzz");
    again.Read(out);  // what was written must read back
  } catch (const FilterException& e) {
    if (e.Code() != FE_StorageFalse) std::abort();
  }
  in.Seek(0, SO_Begin);
  for (Variant v; v << in;) {
    Variant copy(v);
    if (!(copy == v)) std::abort();
  }
  return 0;
}
