// Variant: the library's self-describing value (a scalar or an array of one of nine
// element types) with its compact stored form.
#pragma once

#include "Container/Storage/Streams.h"

#include <cstdint>

// Type codes: (kind << 4) | array bit 0x04 | domain (two low bits).
enum VariantType : int {
  vt_Empty = 0x00,
  vt_Bool = 0x11,
  vt_Char = 0x21,
  vt_WChar = 0x31,
  vt_Short = 0x12,
  vt_Long = 0x22,
  vt_UShort = 0x32,
  vt_ULong = 0x42,
  vt_Float = 0x13,
  vt_Double = 0x23,
  vt_Array = 0x04,
  vt_BoolArray = vt_Bool | vt_Array,
  vt_CharArray = vt_Char | vt_Array,  // also 8-bit strings, terminator included
  vt_WCharArray = vt_WChar | vt_Array,  // also wide strings, terminator included
  vt_ShortArray = vt_Short | vt_Array,
  vt_LongArray = vt_Long | vt_Array,
  vt_UShortArray = vt_UShort | vt_Array,
  vt_ULongArray = vt_ULong | vt_Array,
  vt_FloatArray = vt_Float | vt_Array,
  vt_DoubleArray = vt_Double | vt_Array,
};

enum VariantDomain : int {
  vd_None = 0,
  vd_Character = 1,
  vd_Integer = 2,
  vd_Real = 3,
};

// Widths of the stored form (the 32-bit Windows module's long, unsigned long and wchar_t).
static_assert(sizeof(char16_t) == 2 && sizeof(int16_t) == 2 && sizeof(int32_t) == 4 &&
                  sizeof(float) == 4 && sizeof(double) == 8,
              "Variant element widths");

class Variant {
 public:
  Variant() noexcept {}
  Variant(bool v) noexcept : m_type(vt_Bool), m_size(1) { m_value.b = v; }
  Variant(char v) noexcept : m_type(vt_Char), m_size(1) { m_value.c = v; }
  Variant(char16_t v) noexcept : m_type(vt_WChar), m_size(2) { m_value.w = v; }
  Variant(int16_t v) noexcept : m_type(vt_Short), m_size(2) { m_value.s = v; }
  Variant(int32_t v) noexcept : m_type(vt_Long), m_size(4) { m_value.l = v; }
  Variant(uint16_t v) noexcept : m_type(vt_UShort), m_size(2) { m_value.us = v; }
  Variant(uint32_t v) noexcept : m_type(vt_ULong), m_size(4) { m_value.ul = v; }
  Variant(float v) noexcept : m_type(vt_Float), m_size(4) { m_value.f = v; }
  Variant(double v) noexcept : m_type(vt_Double), m_size(8) { m_value.d = v; }

  // Arrays of `count` elements; a null `data` gives a zero-filled block.
  Variant(const bool* data, uint32_t count) { assign(data, count); }
  Variant(const char* data, uint32_t count) { assign(data, count); }
  Variant(const char16_t* data, uint32_t count) { assign(data, count); }
  Variant(const int16_t* data, uint32_t count) { assign(data, count); }
  Variant(const int32_t* data, uint32_t count) { assign(data, count); }
  Variant(const uint16_t* data, uint32_t count) { assign(data, count); }
  Variant(const uint32_t* data, uint32_t count) { assign(data, count); }
  Variant(const float* data, uint32_t count) { assign(data, count); }
  Variant(const double* data, uint32_t count) { assign(data, count); }

  // Strings, copied with their terminator.
  Variant(const char* text) { assign(text); }
  Variant(const char16_t* text) { assign(text); }

  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  virtual ~Variant();

  void assign(const bool* data, uint32_t count);
  void assign(const char* data, uint32_t count);
  void assign(const char16_t* data, uint32_t count);
  void assign(const int16_t* data, uint32_t count);
  void assign(const int32_t* data, uint32_t count);
  void assign(const uint16_t* data, uint32_t count);
  void assign(const uint32_t* data, uint32_t count);
  void assign(const float* data, uint32_t count);
  void assign(const double* data, uint32_t count);
  void assign(const char* text);
  void assign(const char16_t* text);

  int Type() const { return m_type; }
  int Domain() const { return m_type & 0x0B; }
  int TypeSize() const { return m_size; }
  bool IsArray() const { return (m_type & vt_Array) != 0; }
  uint32_t ArraySize() const { return IsArray() ? m_length : 0; }

  // The stored value of the character-like scalars.
  explicit operator char() const { return m_value.c; }
  explicit operator bool() const { return m_value.b; }
  explicit operator char16_t() const { return m_value.w; }
  // Integer and real conversions go through the expanded value (truncated).
  explicit operator int16_t() const { return static_cast<int16_t>(ExpandedInteger()); }
  explicit operator uint16_t() const { return static_cast<uint16_t>(ExpandedInteger()); }
  explicit operator int32_t() const { return ExpandedInteger(); }
  explicit operator uint32_t() const { return static_cast<uint32_t>(ExpandedInteger()); }
  explicit operator float() const { return static_cast<float>(ExpandedReal()); }
  explicit operator double() const { return ExpandedReal(); }

  // The array block (null for a scalar or an empty array).
  explicit operator bool*() const { return static_cast<bool*>(Block()); }
  explicit operator char*() const { return static_cast<char*>(Block()); }
  explicit operator char16_t*() const { return static_cast<char16_t*>(Block()); }
  explicit operator int16_t*() const { return static_cast<int16_t*>(Block()); }
  explicit operator int32_t*() const { return static_cast<int32_t*>(Block()); }
  explicit operator uint16_t*() const { return static_cast<uint16_t*>(Block()); }
  explicit operator uint32_t*() const { return static_cast<uint32_t*>(Block()); }
  explicit operator float*() const { return static_cast<float*>(Block()); }
  explicit operator double*() const { return static_cast<double*>(Block()); }

  // Characters of an 8-bit or wide string before its terminator (all of them when it has none);
  // 0 for any other value.
  uint32_t StringLength() const;

  int32_t ExpandedInteger() const;
  double ExpandedReal() const;

  bool operator==(bool v) const { return m_type == vt_Bool && m_value.b == v; }
  bool operator==(char v) const { return m_type == vt_Char && m_value.c == v; }
  bool operator==(char16_t v) const { return m_type == vt_WChar && m_value.w == v; }
  bool operator==(int16_t v) const { return Domain() == vd_Integer && ExpandedInteger() == v; }
  bool operator==(uint16_t v) const { return Domain() == vd_Integer && ExpandedInteger() == v; }
  bool operator==(int32_t v) const { return Domain() == vd_Integer && ExpandedInteger() == v; }
  bool operator==(uint32_t v) const {
    return Domain() == vd_Integer && ExpandedInteger() == static_cast<int32_t>(v);
  }
  bool operator==(float v) const { return Domain() == vd_Real && ExpandedReal() == double(v); }
  bool operator==(double v) const { return Domain() == vd_Real && ExpandedReal() == v; }
  bool operator==(const Variant& other) const { return Compare(other) == 0; }
  bool operator<(const Variant& other) const { return Compare(other) < 0; }

  bool ToInteger(Variant& out) const;
  bool ToReal(Variant& out) const;
  bool ToString(Variant& out, bool narrow) const;

  // Writes `count` bytes of the array block (at most the block), or the scalar value.
  void PutValue(OutStream& stream, uint32_t count) const;
  // The stored form: u16 header (code | element size << 10), for an array a u32 byte length
  // and the bytes, for a scalar the value.
  void operator>>(OutStream& stream) const;
  // Reads the stored form; false when it is incomplete or inconsistent.
  bool operator<<(InStream& stream);

  void Clear() noexcept;

 private:
  template <class T>
  void AssignArray(int type, const T* data, uint32_t count);
  void* Block() const { return IsArray() ? m_value.p : nullptr; }
  int Compare(const Variant& other) const;
  void ScalarBytes(uint8_t out[8]) const;

  int16_t m_type = vt_Empty;  // 10 bits in the stored header
  uint8_t m_size = 0;         // element size, 6 bits in the stored header
  union {
    bool b;
    char c;
    char16_t w;
    int16_t s;
    int32_t l;
    uint16_t us;
    uint32_t ul;
    float f;
    double d;
    uint8_t* p;
  } m_value{};
  uint32_t m_length = 0;  // bytes of the array block
};
