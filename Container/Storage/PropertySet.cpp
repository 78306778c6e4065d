#include "Container/Storage/PropertySet.h"

#include "Container/Storage/Errors.h"
#include "Container/Storage/MemFile.h"
#include "Container/Storage/OLEStorage.h"
#include "Container/Storage/ReadGrowing.h"

#include <algorithm>
#include <cstring>

namespace {

// Property types of the property-set stream.
enum PropertyType : uint32_t {
  pt_Empty = 0,
  pt_Short = 2,
  pt_Long = 3,
  pt_Float = 4,
  pt_Double = 5,
  pt_Bool = 11,
  pt_Char = 16,
  pt_UShort = 18,
  pt_ULong = 19,
  pt_String = 30,
  pt_WString = 31,
  pt_FileTime = 64,
  pt_ClipboardData = 71,
};

constexpr uint32_t kHeaderSize = 28;
constexpr uint32_t kSectionOffset = kHeaderSize + 20;

// A block of memory read as a stream.
class SpanInStream : public InStream {
 public:
  SpanInStream(const uint8_t* data, uint32_t size) : m_data(data), m_size(size) {}
  uint32_t GetData(void* buffer, uint32_t count) override {
    count = std::min(count, m_size - m_position);
    if (count) std::memcpy(buffer, m_data + m_position, count);
    m_position += count;
    return count;
  }
  uint32_t Position() const { return m_position; }

 private:
  const uint8_t* m_data;
  uint32_t m_size;
  uint32_t m_position = 0;
};

void PadTo4(MemFile& out) {
  static const uint8_t kZeros[3] = {};
  if (out.Size() % 4) out.PutData(kZeros, 4 - out.Size() % 4);
}

// One value of the section: the type word and its data.
void PutValue(MemFile& out, const Variant& value) {
  switch (value.Type()) {
    case vt_Bool: PutU32(out, pt_Bool); break;
    case vt_Short: PutU32(out, pt_Short); break;
    case vt_Float: PutU32(out, pt_Float); break;
    case vt_Char: PutU32(out, pt_Char); break;
    case vt_Long: PutU32(out, pt_Long); break;
    case vt_Double: PutU32(out, pt_Double); break;
    case vt_UShort: PutU32(out, pt_UShort); break;
    case vt_ULong: PutU32(out, pt_ULong); break;
    case vt_CharArray: {
      const uint32_t length = value.StringLength();
      PutU32(out, pt_String);
      PutU32(out, length + 1);
      value.PutValue(out, length);
      PutU8(out, 0);
      return;
    }
    case vt_WCharArray: {
      const uint32_t length = value.StringLength();
      PutU32(out, pt_WString);
      PutU32(out, (length + 1) * 2);
      value.PutValue(out, length * 2);
      PutU16(out, 0);
      return;
    }
    default:
      // No property type of this stream holds the value; it is stored as empty.
      PutU32(out, pt_Empty);
      return;
  }
  value.PutValue(out, value.TypeSize());
}

struct Entry {
  uint32_t id;
  MemFile value;
};

// The pass-through block: u32 entry count, then {u32 id, u32 type, stored Variant} per entry.
// A block that does not parse ends at its last complete entry.
void AddPassThrough(const Variant& block, std::vector<Entry>& entries) {
  if (block.Type() != vt_ULongArray || block.ArraySize() < 4) return;
  SpanInStream in(reinterpret_cast<const uint8_t*>(static_cast<uint32_t*>(block)),
                  block.ArraySize());
  uint32_t count = 0;
  GetU32(in, count);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t id = 0, type = 0;
    Variant data;
    if (!GetU32(in, id) || !GetU32(in, type) || !(data << in)) return;
    entries.push_back(Entry{id, {}});
    MemFile& out = entries.back().value;
    PutU32(out, type);
    if (type == pt_FileTime) {
      uint8_t bytes[8] = {};
      if (data.IsArray())
        std::memcpy(bytes, static_cast<char*>(data), std::min<uint32_t>(8, data.ArraySize()));
      out.PutData(bytes, 8);
    } else if (type == pt_ClipboardData) {
      PutU32(out, data.ArraySize());
      data.PutValue(out, data.ArraySize());
    }
  }
}

// Bounds-checked view of a whole property-set stream.
class Section {
 public:
  Section(const std::vector<uint8_t>& data, const std::u16string& name)
      : m_data(data), m_name(name) {}

  const uint8_t* At(uint64_t offset, uint64_t count) const {
    if (offset > m_data.size() || count > m_data.size() - offset)
      Error(FE_StorageFalse, m_name.c_str());
    return m_data.data() + offset;
  }
  uint32_t U32(uint64_t offset) const {
    const uint8_t* p = At(offset, 4);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }

 private:
  const std::vector<uint8_t>& m_data;
  const std::u16string& m_name;
};

// Text read from a file may lack its terminator; one is added so that it can serve as a string.
template <class C>
Variant TextVariant(const uint8_t* bytes, uint32_t units) {
  std::vector<C> text(units);
  if (units) std::memcpy(text.data(), bytes, units * sizeof(C));
  if (text.empty() || text.back() != C(0)) text.push_back(C(0));
  return Variant(text.data(), static_cast<uint32_t>(text.size()));
}

template <class T>
Variant ScalarAt(const Section& section, uint64_t offset) {
  T value;
  std::memcpy(&value, section.At(offset, sizeof(T)), sizeof(T));
  return Variant(value);
}

}  // namespace

std::vector<Property>::iterator PropertySet::LowerBound(int32_t id) {
  return std::lower_bound(m_properties.begin(), m_properties.end(), id,
                          [](const Property& p, int32_t key) { return p.ID() < key; });
}

Property* PropertySet::Find(int32_t id) {
  auto it = LowerBound(id);
  return it != m_properties.end() && it->ID() == id ? &*it : nullptr;
}

const Property* PropertySet::Find(int32_t id) const {
  return const_cast<PropertySet*>(this)->Find(id);
}

PropertySet& PropertySet::operator+=(const Property& property) {
  auto it = LowerBound(property.ID());
  if (it != m_properties.end() && it->ID() == property.ID())
    *it = property;
  else
    m_properties.insert(it, property);
  return *this;
}

PropertySet& PropertySet::operator+=(const PropertySet& other) {
  if (&other == this) return *this;
  for (const Property& p : other.m_properties) *this += p;
  return *this;
}

PropertySet& PropertySet::operator-=(const Property& property) {
  auto it = LowerBound(property.ID());
  if (it != m_properties.end() && it->ID() == property.ID()) m_properties.erase(it);
  return *this;
}

PropertySet& PropertySet::operator-=(const PropertySet& other) {
  if (&other == this) {
    m_properties.clear();
    return *this;
  }
  for (const Property& p : other.m_properties) *this -= p;
  return *this;
}

void PropertySet::Put(OLEStorage storage) const {
  OLEStream stream(storage, m_name.c_str(), CD_CreateWrite);
  Write(stream);
}

void PropertySet::Get(OLEStorage storage) {
  OLEStream stream(storage, m_name.c_str(), CD_OpenRead);
  Read(stream);
}

void PropertySet::Write(OutStream& stream) const {
  std::vector<Entry> entries;
  if (const Property* passThrough = Find(kPassThroughId))
    AddPassThrough(passThrough->Value(), entries);
  for (const Property& p : m_properties) {
    if (p.ID() == kPassThroughId) continue;
    entries.push_back(Entry{static_cast<uint32_t>(p.ID()), {}});
    if (p.ID() == 0)
      PutU32(entries.back().value, static_cast<uint32_t>(p.Value().ExpandedInteger()));
    else
      PutValue(entries.back().value, p.Value());
  }

  MemFile out;
  PutU16(out, 0xFFFE);  // byte order
  PutU16(out, 0);       // format
  PutU32(out, 0x00020004);
  static const uint8_t kClassId[16] = {};
  out.PutData(kClassId, sizeof kClassId);
  PutU32(out, 1);  // one section
  m_stat.Put(out);
  PutU32(out, kSectionOffset);

  PutU32(out, 0);  // section size, filled in below
  PutU32(out, static_cast<uint32_t>(entries.size()));
  uint32_t valueOffset = 8 + 8 * static_cast<uint32_t>(entries.size());
  for (Entry& e : entries) {
    PutU32(out, e.id);
    PutU32(out, valueOffset);
    PadTo4(e.value);
    valueOffset += e.value.Size();
  }
  for (const Entry& e : entries) out.PutData(e.value.Data(), e.value.Size());
  out.Seek(kSectionOffset, SO_Begin);
  PutU32(out, out.Size() - kSectionOffset);
  stream.PutData(out.Data(), out.Size());
}

void PropertySet::Read(InStream& stream) {
  std::vector<uint8_t> data;
  ReadGrowing(stream, data, UINT32_MAX);  // the whole stream
  const Section section(data, m_name);
  section.At(0, kSectionOffset);
  PS_Stat stat;
  SpanInStream formatId(section.At(kHeaderSize, 16), 16);
  stat.Get(formatId);
  const uint64_t start = section.U32(kHeaderSize + 16);
  const uint32_t count = section.U32(start + 4);
  section.At(start + 8, uint64_t(count) * 8);  // every pair is present before any is used

  m_properties.clear();
  m_stat = stat;
  MemFile passThrough;
  uint32_t passThroughCount = 0;
  PutU32(passThrough, 0);  // entry count, filled in at the end
  for (uint32_t i = 0; i < count; ++i) {
    const int32_t id = static_cast<int32_t>(section.U32(start + 8 + 8 * uint64_t(i)));
    const uint64_t at = start + section.U32(start + 12 + 8 * uint64_t(i));
    const uint32_t type = section.U32(at);
    const uint64_t valueAt = at + 4;
    if (id == 0) {
      *this += Property(id, Variant(type));
      continue;
    }
    switch (type) {
      case pt_Empty: *this += Property(id); continue;
      case pt_Short: *this += Property(id, ScalarAt<int16_t>(section, valueAt)); continue;
      case pt_Long: *this += Property(id, ScalarAt<int32_t>(section, valueAt)); continue;
      case pt_Float: *this += Property(id, ScalarAt<float>(section, valueAt)); continue;
      case pt_Double: *this += Property(id, ScalarAt<double>(section, valueAt)); continue;
      case pt_Bool: *this += Property(id, Variant(*section.At(valueAt, 1) != 0)); continue;
      case pt_Char: *this += Property(id, ScalarAt<char>(section, valueAt)); continue;
      case pt_UShort: *this += Property(id, ScalarAt<uint16_t>(section, valueAt)); continue;
      case pt_ULong: *this += Property(id, ScalarAt<uint32_t>(section, valueAt)); continue;
      case pt_String: {
        const uint32_t bytes = section.U32(valueAt);
        *this += Property(id, TextVariant<char>(section.At(valueAt + 4, bytes), bytes));
        continue;
      }
      case pt_WString: {
        const uint32_t bytes = section.U32(valueAt);
        *this += Property(id, TextVariant<char16_t>(section.At(valueAt + 4, bytes), bytes / 2));
        continue;
      }
      default:
        break;
    }
    // Types this library does not interpret travel as bytes to the next Write.
    ++passThroughCount;
    PutU32(passThrough, static_cast<uint32_t>(id));
    if (type == pt_FileTime) {
      PutU32(passThrough, type);
      Variant(reinterpret_cast<const char*>(section.At(valueAt, 8)), 8u) >> passThrough;
    } else if (type == pt_ClipboardData) {
      const uint32_t bytes = section.U32(valueAt);
      PutU32(passThrough, type);
      Variant(reinterpret_cast<const char*>(section.At(valueAt + 4, bytes)), bytes) >> passThrough;
    } else {
      PutU32(passThrough, pt_Empty);
      Variant() >> passThrough;
    }
  }
  if (passThroughCount) {
    PadTo4(passThrough);
    passThrough.Seek(0, SO_Begin);
    PutU32(passThrough, passThroughCount);
    *this += Property(kPassThroughId,
                      Variant(reinterpret_cast<const uint32_t*>(passThrough.Data()),
                              passThrough.Size() / 4));
  }
}
