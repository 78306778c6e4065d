// Typed field streams: a stream of values of one type, stored after an unsigned 16-bit type
// code. The code is also the type identity a stream answers and a record field describes.
#pragma once

#include "Container/Model/Referred.h"
#include "Container/Storage/Variant.h"

#include <cstdint>
#include <string>

enum DWX_FieldType : uint16_t {
  ft_Raw = 0,  // bytes without framing; also every type without a code of its own
  ft_Bool = 1,
  ft_Char = 2,
  ft_UChar = 3,
  ft_Short = 4,
  ft_UShort = 5,
  ft_Long = 6,
  ft_ULong = 7,
  ft_Float = 8,
  ft_Double = 9,
  ft_String = 10,   // u16 count, then the bytes
  ft_WString = 11,  // u16 count, then UTF-16LE code units
  ft_Variant = 12,
  ft_Count = 13,  // stored codes from here on are not field streams
};

// The type code of a value type.
template <class T> struct DWX_TypeCode { static constexpr DWX_FieldType value = ft_Raw; };
template <> struct DWX_TypeCode<bool> { static constexpr DWX_FieldType value = ft_Bool; };
template <> struct DWX_TypeCode<char> { static constexpr DWX_FieldType value = ft_Char; };
template <> struct DWX_TypeCode<unsigned char> { static constexpr DWX_FieldType value = ft_UChar; };
template <> struct DWX_TypeCode<int16_t> { static constexpr DWX_FieldType value = ft_Short; };
template <> struct DWX_TypeCode<uint16_t> { static constexpr DWX_FieldType value = ft_UShort; };
template <> struct DWX_TypeCode<dwx_long> { static constexpr DWX_FieldType value = ft_Long; };
template <> struct DWX_TypeCode<dwx_ulong> { static constexpr DWX_FieldType value = ft_ULong; };
template <> struct DWX_TypeCode<float> { static constexpr DWX_FieldType value = ft_Float; };
template <> struct DWX_TypeCode<double> { static constexpr DWX_FieldType value = ft_Double; };
template <> struct DWX_TypeCode<std::string> { static constexpr DWX_FieldType value = ft_String; };
template <> struct DWX_TypeCode<std::u16string> { static constexpr DWX_FieldType value = ft_WString; };
template <> struct DWX_TypeCode<Variant> { static constexpr DWX_FieldType value = ft_Variant; };

static_assert(sizeof(float) == 4 && sizeof(double) == 8 && sizeof(int16_t) == 2,
              "field value widths");

class DWX_OutStream : public polymorphic {
 public:
  virtual DWX_FieldType TypeInfo() const = 0;
};

class DWX_InStream : public polymorphic {
 public:
  virtual DWX_FieldType TypeInfo() const = 0;
  // True once a value arrived cut short: the stream is damaged, not merely at its end.
  virtual bool Damaged() const = 0;
};

template <class T>
class outstream {
 public:
  virtual ~outstream() = default;
  // Failures (a string too long for its count, a storage error) are raised as FilterException.
  virtual void PutData(const T* values, dwx_ulong count) = 0;
};

template <class T>
class instream {
 public:
  virtual ~instream() = default;
  // Answers the number of whole values read (for raw streams: bytes).
  virtual dwx_ulong GetData(T* values, dwx_ulong count) = 0;
};

// Callers convert a stream to its value type by reference (dynamic_cast), which raises
// std::bad_cast on a stream of another type.
template <class T>
class DWX_Out : public virtual DWX_OutStream, public outstream<T> {
 public:
  DWX_FieldType TypeInfo() const override { return DWX_TypeCode<T>::value; }
};

template <class T>
class DWX_In : public virtual DWX_InStream, public instream<T> {
 public:
  DWX_FieldType TypeInfo() const override { return DWX_TypeCode<T>::value; }
};

class DWX_OutStream2 : public virtual DWX_OutStream, public ReferredObject {
 public:
  // Completes the stored stream; raises on failure. Releasing the last reference completes it
  // too, reporting a failure to the warning messenger.
  virtual void Finish() = 0;
};

class DWX_InStream2 : public virtual DWX_InStream, public ReferredObject {};
