#include "Container/Storage/Variant.h"

#include "Container/Storage/Errors.h"
#include "Container/Storage/ReadGrowing.h"
#include "platform/storage/Names.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "Variant blocks are kept in stored (little-endian) byte order"
#endif

namespace {

// Element size of a known type code (scalar or array), 0 for any other code.
int ElementSize(int code) {
  switch (code & ~vt_Array) {
    case vt_Bool:
    case vt_Char:
      return 1;
    case vt_WChar:
    case vt_Short:
    case vt_UShort:
      return 2;
    case vt_Long:
    case vt_ULong:
    case vt_Float:
      return 4;
    case vt_Double:
      return 8;
    default:
      return 0;
  }
}

template <class T>
int Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

template <class C>
uint32_t TextLength(const C* text, uint32_t units) {
  uint32_t n = 0;
  while (n < units && text[n] != C(0)) ++n;
  return n;
}

// Wide texts made from numbers, and 8-bit texts made from wide numbers, are limited like the
// fixed buffers they were converted through.
constexpr size_t kMaxConvertedNumber = 32;

// Code page 0, the system code page, is UTF-8 here; text that does not convert cleanly (an
// unpaired surrogate, an invalid UTF-8 sequence) is refused, as the system conversion refuses it.
bool ToNarrow(const std::u16string& wide, std::string& out) {
  bool valid = false;
  out = cfb::utf16ToUtf8(wide, &valid);
  return valid;
}

bool ToWide(const std::string& text, std::u16string& out) {
  bool valid = false;
  out = cfb::utf8ToUtf16(text, &valid);
  return valid;
}

// The 8-bit text of a string value that the number conversions parse; false for any other
// value and for wide text that does not narrow.
bool NumberText(const Variant& value, std::string& text) {
  if (value.Type() == vt_CharArray) {
    text.assign(static_cast<char*>(value), value.StringLength());
    return true;
  }
  if (value.Type() != vt_WCharArray) return false;
  return ToNarrow(std::u16string(static_cast<char16_t*>(value), value.StringLength()), text) &&
         text.size() <= kMaxConvertedNumber;
}

}  // namespace

Variant::Variant(const Variant& other) { *this = other; }

Variant::Variant(Variant&& other) noexcept
    : m_type(other.m_type), m_size(other.m_size), m_value(other.m_value), m_length(other.m_length) {
  other.m_type = vt_Empty;
  other.m_size = 0;
  other.m_length = 0;
  other.m_value.p = nullptr;
}

Variant& Variant::operator=(const Variant& other) {
  if (this == &other) return *this;
  if (!other.IsArray()) {
    Clear();
    m_type = other.m_type;
    m_size = other.m_size;
    m_value = other.m_value;
    return *this;
  }
  uint8_t* block = other.m_length ? new uint8_t[other.m_length] : nullptr;
  if (block) std::memcpy(block, other.m_value.p, other.m_length);
  Clear();
  m_type = other.m_type;
  m_size = other.m_size;
  m_length = other.m_length;
  m_value.p = block;
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this == &other) return *this;
  Clear();
  m_type = other.m_type;
  m_size = other.m_size;
  m_value = other.m_value;
  m_length = other.m_length;
  other.m_type = vt_Empty;
  other.m_size = 0;
  other.m_length = 0;
  other.m_value.p = nullptr;
  return *this;
}

Variant::~Variant() { Clear(); }

void Variant::Clear() noexcept {
  if (IsArray()) delete[] m_value.p;
  m_type = vt_Empty;
  m_size = 0;
  m_length = 0;
  m_value.d = 0;
  m_value.p = nullptr;
}

template <class T>
void Variant::AssignArray(int type, const T* data, uint32_t count) {
  static_assert(sizeof(T) <= 8, "element type");
  const uint64_t bytes = uint64_t(count) * sizeof(T);
  if (bytes > UINT32_MAX) Error(FE_StorageInvalidParameter);  // larger than its 32-bit length
  uint8_t* block = bytes ? new uint8_t[bytes] : nullptr;
  if (block) {
    // A block without source data is zero-filled so that no stray heap bytes reach a file.
    if (data)
      std::memcpy(block, data, bytes);
    else
      std::memset(block, 0, bytes);
  }
  Clear();
  m_type = static_cast<int16_t>(type);
  m_size = sizeof(T);
  m_length = static_cast<uint32_t>(bytes);
  m_value.p = block;
}

void Variant::assign(const bool* data, uint32_t count) { AssignArray(vt_BoolArray, data, count); }
void Variant::assign(const char* data, uint32_t count) { AssignArray(vt_CharArray, data, count); }
void Variant::assign(const char16_t* data, uint32_t count) {
  AssignArray(vt_WCharArray, data, count);
}
void Variant::assign(const int16_t* data, uint32_t count) {
  AssignArray(vt_ShortArray, data, count);
}
void Variant::assign(const int32_t* data, uint32_t count) {
  AssignArray(vt_LongArray, data, count);
}
void Variant::assign(const uint16_t* data, uint32_t count) {
  AssignArray(vt_UShortArray, data, count);
}
void Variant::assign(const uint32_t* data, uint32_t count) {
  AssignArray(vt_ULongArray, data, count);
}
void Variant::assign(const float* data, uint32_t count) {
  AssignArray(vt_FloatArray, data, count);
}
void Variant::assign(const double* data, uint32_t count) {
  AssignArray(vt_DoubleArray, data, count);
}
void Variant::assign(const char* text) {
  if (!text) text = "";
  assign(text, static_cast<uint32_t>(std::strlen(text) + 1));
}
void Variant::assign(const char16_t* text) {
  if (!text) text = u"";
  assign(text, static_cast<uint32_t>(std::char_traits<char16_t>::length(text) + 1));
}

uint32_t Variant::StringLength() const {
  if (m_type == vt_CharArray) return TextLength(reinterpret_cast<const char*>(m_value.p), m_length);
  if (m_type == vt_WCharArray)
    return TextLength(reinterpret_cast<const char16_t*>(m_value.p), m_length / 2);
  return 0;
}

int32_t Variant::ExpandedInteger() const {
  switch (m_type) {
    case vt_Short:
      return m_value.s;
    case vt_UShort:
      return m_value.us;
    case vt_Long:
      return m_value.l;
    case vt_ULong:
      return static_cast<int32_t>(m_value.ul);
    default:
      return 0;
  }
}

double Variant::ExpandedReal() const {
  switch (m_type) {
    case vt_Float:
      return m_value.f;
    case vt_Double:
      return m_value.d;
    default:
      return 0.0;
  }
}

void Variant::ScalarBytes(uint8_t out[8]) const {
  std::memset(out, 0, 8);
  if (!IsArray()) std::memcpy(out, &m_value, m_size);
}

int Variant::Compare(const Variant& other) const {
  if (!IsArray() && !other.IsArray()) {
    if (Domain() != other.Domain()) return Order(Domain(), other.Domain());
    if (Domain() == vd_Integer) return Order(ExpandedInteger(), other.ExpandedInteger());
    if (Domain() == vd_Real) return Order(ExpandedReal(), other.ExpandedReal());
    if (m_type != other.m_type) return Order(m_type, other.m_type);
    if (m_type == vt_Bool) return Order(m_value.b, other.m_value.b);
    uint8_t a[8], b[8];
    ScalarBytes(a);
    other.ScalarBytes(b);
    return Order(std::memcmp(a, b, m_size), 0);
  }
  if (m_type != other.m_type) return Order(m_type, other.m_type);
  if (m_length != other.m_length) return Order(m_length, other.m_length);
  if (m_length == 0) return 0;
  return Order(std::memcmp(m_value.p, other.m_value.p, m_length), 0);
}

bool Variant::ToInteger(Variant& out) const {
  if (Domain() == vd_Integer && !IsArray()) {
    out = *this;
    return true;
  }
  std::string text;
  if (!NumberText(*this, text)) return false;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
    return false;
  out = static_cast<int32_t>(value);
  return true;
}

bool Variant::ToReal(Variant& out) const {
  if (Domain() == vd_Real && !IsArray()) {
    out = *this;
    return true;
  }
  std::string text;
  if (!NumberText(*this, text)) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str()) return false;
  out = value;
  return true;
}

bool Variant::ToString(Variant& out, bool narrow) const {
  char buffer[512];  // "%f" of the largest double needs about 320 characters
  switch (m_type) {
    case vt_Short:
    case vt_Long:
      std::snprintf(buffer, sizeof buffer, "%" PRId32, ExpandedInteger());
      break;
    case vt_UShort:
    case vt_ULong:
      std::snprintf(buffer, sizeof buffer, "%" PRIu32, static_cast<uint32_t>(ExpandedInteger()));
      break;
    case vt_Float:
    case vt_Double:
      std::snprintf(buffer, sizeof buffer, "%f", ExpandedReal());
      break;
    case vt_CharArray: {
      if (narrow) {
        out = *this;
        return true;
      }
      std::u16string wide;
      if (!ToWide(std::string(reinterpret_cast<const char*>(m_value.p), StringLength()), wide))
        return false;
      out = wide.c_str();
      return true;
    }
    case vt_WCharArray:
      if (narrow) return false;
      out = *this;
      return true;
    default:
      return false;
  }
  if (narrow) {
    out = buffer;
    return true;
  }
  const size_t length = std::strlen(buffer);
  if (length > kMaxConvertedNumber) return false;
  std::u16string wide(buffer, buffer + length);
  out = wide.c_str();
  return true;
}

void Variant::PutValue(OutStream& stream, uint32_t count) const {
  if (IsArray()) {
    if (count > m_length) count = m_length;
    if (count) stream.PutData(m_value.p, count);
    return;
  }
  if (ElementSize(m_type) == 0) return;  // the empty value has no bytes
  uint8_t bytes[8];
  ScalarBytes(bytes);
  stream.PutData(bytes, m_size);
}

void Variant::operator>>(OutStream& stream) const {
  const int code = ElementSize(m_type) ? int(m_type) : int(vt_Empty);
  PutU16(stream, static_cast<uint16_t>(code | (code ? m_size << 10 : 0)));
  if (IsArray()) {
    PutU32(stream, m_length);
    PutValue(stream, m_length);
  } else {
    PutValue(stream, m_size);
  }
}

bool Variant::operator<<(InStream& stream) {
  Clear();
  uint16_t header = 0;
  if (!GetU16(stream, header)) return false;
  const int code = header & 0x3FF;
  const int size = header >> 10;
  const int element = ElementSize(code);
  uint32_t length = 0;
  if ((code & vt_Array) && !GetU32(stream, length)) return false;
  if (element == 0) {
    // A code outside the table reads like the empty value: nothing follows it.
    return size == 0 && length == 0;
  }
  if (size != element) return false;
  if (!(code & vt_Array)) {
    uint8_t bytes[8];
    if (stream.GetData(bytes, element) != uint32_t(element)) return false;
    if (code == vt_Bool) bytes[0] = bytes[0] != 0;  // a stored bool may hold any byte
    m_type = static_cast<int16_t>(code);
    m_size = static_cast<uint8_t>(element);
    std::memcpy(&m_value, bytes, element);
    return true;
  }
  if (length % element) return false;
  std::vector<uint8_t> data;
  if (!ReadGrowing(stream, data, length)) return false;
  if (code == vt_BoolArray)
    for (uint8_t& b : data) b = b != 0;
  uint8_t* block = length ? new uint8_t[length] : nullptr;
  if (block) std::memcpy(block, data.data(), length);
  m_type = static_cast<int16_t>(code);
  m_size = static_cast<uint8_t>(element);
  m_length = length;
  m_value.p = block;
  return true;
}
