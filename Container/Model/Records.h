// Self-describing records: each names its fields (type, name, index) and writes or reads one
// field at a time, so that a bundle can store records as parallel columns, one field stream per
// field.
#pragma once

#include "Container/Model/FieldStreams.h"

#include <iterator>
#include <map>
#include <string>
#include <type_traits>
#include <utility>

class DWX_FieldReceiver : public polymorphic {
 public:
  virtual void AddField(DWX_FieldType type, const char* name, dwx_long index) = 0;
};

class DWX_FieldsEnumerator : public polymorphic {
 public:
  // Calls AddField once per field, in index order.
  virtual void EnumFields(DWX_FieldReceiver& receiver) const = 0;
};

class DWX_OutRecord : public virtual DWX_FieldsEnumerator {
 public:
  // Writes the one value of field `index`; an index the record lacks writes nothing. A stream of
  // another type than the field raises std::bad_cast.
  virtual void PutField(dwx_long index, DWX_OutStream& stream) const = 0;
};

class DWX_InRecord : public virtual DWX_FieldsEnumerator {
 public:
  // True when one whole value was read into field `index`.
  virtual bool GetField(dwx_long index, DWX_InStream& stream) = 0;
};

// The fields of one record, collected through EnumFields.
class DWX_FieldsList : public DWX_FieldReceiver {
 public:
  struct Field {
    DWX_FieldType type;
    std::string name;
  };
  using Map = std::map<dwx_long, Field>;

  void AddField(DWX_FieldType type, const char* name, dwx_long index) override {
    m_fields[index] = Field{type, name ? name : ""};
    m_cursor = m_fields.begin();
  }
  const Map& Fields() const { return m_fields; }
  // Iteration from the first field; every insertion starts it again.
  bool Next(Map::value_type const*& field) {
    if (m_cursor == m_fields.end()) return false;
    field = &*m_cursor++;
    return true;
  }

 private:
  Map m_fields;
  Map::const_iterator m_cursor = m_fields.end();
};

// ---- Plain records -----------------------------------------------------------------------
// Fields that hold string ids ("...Ref") default to -1, none; folder ids default to 0.

struct CF_ReferredString {
  dwx_long m_Ref = -1;
  std::u16string m_String;
};
struct CF_Attr {
  dwx_long m_NameRef = -1;
  dwx_long m_ValueRef = -1;
};
struct CF_SpecialChar {
  dwx_long m_NameRef = -1;
  dwx_long m_DataRef = -1;
};
struct CF_TextVariables {
  dwx_long m_UIDRef = -1;
  dwx_long m_ValueRef = -1;
};
struct CF_ConditionalText {
  dwx_long m_UIDRef = -1;
  dwx_long m_ValueRef = -1;
};
struct CF_RefPoint {
  dwx_long m_ObjectFolderID = 0;
  dwx_long m_ObjectTypeRef = -1;
  dwx_long m_RefTypeRef = -1;
};
struct CF_PlaceHolder {
  dwx_long m_ObjectFolderID = 0;
  dwx_long m_ObjectTypeRef = -1;
};

// Field tables: names in index order, and a visit of field `index` of a record.
template <class Plain> struct DWX_RecordFields;

#define DWX_FIELD_CASE(i, member) \
  case i:                         \
    return visit(record.member);

template <> struct DWX_RecordFields<CF_ReferredString> {
  static constexpr const char* kNames[] = {"m_Ref", "m_String"};
  template <class R, class V> static bool Visit(R& record, dwx_long index, V&& visit) {
    switch (index) { DWX_FIELD_CASE(0, m_Ref) DWX_FIELD_CASE(1, m_String) }
    return false;
  }
};
template <> struct DWX_RecordFields<CF_Attr> {
  static constexpr const char* kNames[] = {"m_NameRef", "m_ValueRef"};
  template <class R, class V> static bool Visit(R& record, dwx_long index, V&& visit) {
    switch (index) { DWX_FIELD_CASE(0, m_NameRef) DWX_FIELD_CASE(1, m_ValueRef) }
    return false;
  }
};
template <> struct DWX_RecordFields<CF_SpecialChar> {
  static constexpr const char* kNames[] = {"m_NameRef", "m_DataRef"};
  template <class R, class V> static bool Visit(R& record, dwx_long index, V&& visit) {
    switch (index) { DWX_FIELD_CASE(0, m_NameRef) DWX_FIELD_CASE(1, m_DataRef) }
    return false;
  }
};
template <> struct DWX_RecordFields<CF_TextVariables> {
  static constexpr const char* kNames[] = {"m_UIDRef", "m_ValueRef"};
  template <class R, class V> static bool Visit(R& record, dwx_long index, V&& visit) {
    switch (index) { DWX_FIELD_CASE(0, m_UIDRef) DWX_FIELD_CASE(1, m_ValueRef) }
    return false;
  }
};
template <> struct DWX_RecordFields<CF_ConditionalText> {
  static constexpr const char* kNames[] = {"m_UIDRef", "m_ValueRef"};
  template <class R, class V> static bool Visit(R& record, dwx_long index, V&& visit) {
    switch (index) { DWX_FIELD_CASE(0, m_UIDRef) DWX_FIELD_CASE(1, m_ValueRef) }
    return false;
  }
};
template <> struct DWX_RecordFields<CF_RefPoint> {
  static constexpr const char* kNames[] = {"m_ObjectFolderID", "m_ObjectTypeRef", "m_RefTypeRef"};
  template <class R, class V> static bool Visit(R& record, dwx_long index, V&& visit) {
    switch (index) {
      DWX_FIELD_CASE(0, m_ObjectFolderID) DWX_FIELD_CASE(1, m_ObjectTypeRef)
      DWX_FIELD_CASE(2, m_RefTypeRef)
    }
    return false;
  }
};
template <> struct DWX_RecordFields<CF_PlaceHolder> {
  static constexpr const char* kNames[] = {"m_ObjectFolderID", "m_ObjectTypeRef"};
  template <class R, class V> static bool Visit(R& record, dwx_long index, V&& visit) {
    switch (index) { DWX_FIELD_CASE(0, m_ObjectFolderID) DWX_FIELD_CASE(1, m_ObjectTypeRef) }
    return false;
  }
};

#undef DWX_FIELD_CASE

// ---- Describing, writing and reading forms -------------------------------------------------

template <class Plain>
class DWX_Rec : public Plain, public virtual DWX_FieldsEnumerator {
 public:
  using Fields = DWX_RecordFields<Plain>;
  static constexpr dwx_long kFieldCount = dwx_long(std::size(Fields::kNames));

  DWX_Rec() = default;
  DWX_Rec(const Plain& plain) : Plain(plain) {}
  DWX_Rec(const DWX_Rec&) = default;
  // Copies the fields only.
  DWX_Rec& operator=(const DWX_Rec& other) {
    Plain::operator=(other);
    return *this;
  }
  // A numbered string from its id and text.
  template <class P = Plain, class = std::enable_if_t<std::is_same_v<P, CF_ReferredString>>>
  DWX_Rec(dwx_long id, std::u16string text) : Plain{id, std::move(text)} {}

  void EnumFields(DWX_FieldReceiver& receiver) const override {
    for (dwx_long i = 0; i < kFieldCount; ++i)
      Fields::Visit(*this, i, [&](const auto& field) {
        using T = std::decay_t<decltype(field)>;
        receiver.AddField(DWX_TypeCode<T>::value, Fields::kNames[i], i);
        return true;
      });
  }
};

template <class Plain>
class DWX_Rec_Out : public DWX_Rec<Plain>, public DWX_OutRecord {
 public:
  using DWX_Rec<Plain>::DWX_Rec;
  DWX_Rec_Out() = default;
  DWX_Rec_Out(const DWX_Rec_Out&) = default;
  DWX_Rec_Out& operator=(const DWX_Rec_Out& other) {
    Plain::operator=(other);
    return *this;
  }

  void PutField(dwx_long index, DWX_OutStream& stream) const override {
    DWX_RecordFields<Plain>::Visit(*this, index, [&](const auto& field) {
      using T = std::decay_t<decltype(field)>;
      dynamic_cast<DWX_Out<T>&>(stream).PutData(&field, 1);
      return true;
    });
  }
};

template <class Plain>
class DWX_Rec_In : public DWX_Rec<Plain>, public DWX_InRecord {
 public:
  using DWX_Rec<Plain>::DWX_Rec;
  DWX_Rec_In() = default;
  DWX_Rec_In(const DWX_Rec_In&) = default;
  DWX_Rec_In& operator=(const DWX_Rec_In& other) {
    Plain::operator=(other);
    return *this;
  }

  bool GetField(dwx_long index, DWX_InStream& stream) override {
    return DWX_RecordFields<Plain>::Visit(*this, index, [&](auto& field) {
      using T = std::decay_t<decltype(field)>;
      return dynamic_cast<DWX_In<T>&>(stream).GetData(&field, 1) == 1;
    });
  }
};

using DWX_NumberedString = DWX_Rec<CF_ReferredString>;
using DWX_NumberedString_Out = DWX_Rec_Out<CF_ReferredString>;
using DWX_NumberedString_In = DWX_Rec_In<CF_ReferredString>;
using DWX_Attr_Rec = DWX_Rec<CF_Attr>;
using DWX_Attr_Rec_Out = DWX_Rec_Out<CF_Attr>;
using DWX_Attr_Rec_In = DWX_Rec_In<CF_Attr>;
using DWX_SpecialChar_Rec = DWX_Rec<CF_SpecialChar>;
using DWX_SpecialChar_Rec_Out = DWX_Rec_Out<CF_SpecialChar>;
using DWX_SpecialChar_Rec_In = DWX_Rec_In<CF_SpecialChar>;
using DWX_TextVariables_Rec = DWX_Rec<CF_TextVariables>;
using DWX_TextVariables_Rec_Out = DWX_Rec_Out<CF_TextVariables>;
using DWX_TextVariables_Rec_In = DWX_Rec_In<CF_TextVariables>;
using DWX_ConditionalText_Rec = DWX_Rec<CF_ConditionalText>;
using DWX_ConditionalText_Rec_Out = DWX_Rec_Out<CF_ConditionalText>;
using DWX_ConditionalText_Rec_In = DWX_Rec_In<CF_ConditionalText>;
using DWX_RefPoint_Rec = DWX_Rec<CF_RefPoint>;
using DWX_RefPoint_Rec_Out = DWX_Rec_Out<CF_RefPoint>;
using DWX_RefPoint_Rec_In = DWX_Rec_In<CF_RefPoint>;
using DWX_PlaceHolder_Rec = DWX_Rec<CF_PlaceHolder>;
using DWX_PlaceHolder_Rec_Out = DWX_Rec_Out<CF_PlaceHolder>;
using DWX_PlaceHolder_Rec_In = DWX_Rec_In<CF_PlaceHolder>;
