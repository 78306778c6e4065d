// Property sets: an ordered set of (id, Variant) pairs stored as a structured-storage
// property-set stream with one section.
#pragma once

#include "Container/Storage/Streams.h"
#include "Container/Storage/Variant.h"

#include <cstdint>
#include <string>
#include <vector>

class OLEStorage;

class Property {
 public:
  explicit Property(int32_t id) : m_id(id) {}
  Property(int32_t id, const Variant& value) : m_id(id), m_value(value) {}

  int32_t ID() const { return m_id; }
  const Variant& Value() const { return m_value; }
  Variant& Value() { return m_value; }
  Property& operator=(const Variant& value) {
    m_value = value;
    return *this;
  }

  bool operator<(const Property& other) const { return m_id < other.m_id; }
  bool operator==(const Property& other) const { return m_id == other.m_id; }

 private:
  int32_t m_id;
  Variant m_value;
};

// The section's format identifier.
class PS_Stat {
 public:
  void Put(OutStream& stream) const { stream.PutData(m_formatId, sizeof m_formatId); }
  bool Get(InStream& stream) { return stream.GetData(m_formatId, sizeof m_formatId) == 16; }
  const uint8_t* FormatId() const { return m_formatId; }

 private:
  uint8_t m_formatId[16] = {};
};

class PropertySet {
 public:
  // Property ids of the stream's own layout.
  static constexpr int32_t kPassThroughId = -32767;  // carries types this library keeps as bytes

  explicit PropertySet(const char16_t* streamName) : m_name(streamName ? streamName : u"") {}

  uint32_t Size() const { return static_cast<uint32_t>(m_properties.size()); }
  // The i-th property in id order.
  const Property& operator[](int i) const { return m_properties.at(i); }
  Property* Find(int32_t id);
  const Property* Find(int32_t id) const;

  // Inserts, replacing a property of the same id.
  PropertySet& operator+=(const Property& property);
  PropertySet& operator+=(const PropertySet& other);
  PropertySet& operator-=(const Property& property);
  PropertySet& operator-=(const PropertySet& other);

  const std::u16string& Name() const { return m_name; }
  const PS_Stat& Stat() const { return m_stat; }

  // Writes the set into a new stream of its name in `storage` / reads it from there.
  void Put(OLEStorage storage) const;
  void Get(OLEStorage storage);

  // The property-set stream itself.
  void Write(OutStream& stream) const;
  // Replaces the contents with the set read from `stream`; a stream that ends before the bytes
  // its layout announces raises 33010 with the set's name.
  void Read(InStream& stream);

 private:
  std::vector<Property>::iterator LowerBound(int32_t id);

  std::u16string m_name;
  std::vector<Property> m_properties;  // ascending id, one per id
  PS_Stat m_stat;
};
