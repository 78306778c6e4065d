#include "Container/Model/AttrsSet.h"

#include "Container/Storage/Errors.h"

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>

namespace {

struct DefaultAttr {
  const char16_t* name;
  const char16_t* value;
};

const DefaultAttr kDefaults[] = {
    {u"source_data_type", u"unknown"},
    {u"field_id", u"-1"},
    {u"index_id", u"-1"},
    {u"table_id", u"-1"},
    {u"row_id", u"-1"},
    {u"cell_id", u"-1"},
    {u"cell_width", u"-1"},
    {u"listlevel", u"0"},
    {u"codepage", u"0xFFFF"},
    {u"direction", u"left-to-right"},
    {u"bold", u"off"},
    {u"italic", u"off"},
    {u"outline", u"off"},
    {u"overline", u"off"},
    {u"strike", u"off"},
    {u"shadow", u"off"},
    {u"hidden", u"off"},
    {u"variable_name", u""},
};

// Attributes that only make sense together: defining one defines the others, clearing one
// clears the others.
using Group = std::initializer_list<std::u16string_view>;
const Group kGroups[] = {
    {u"fore_color_red", u"fore_color_green", u"fore_color_blue"},
    {u"fore_color_cyan", u"fore_color_magenta", u"fore_color_yellow", u"fore_color_black"},
    {u"sectional_pos", u"vertical_pos", u"horizontal_pos", u"width", u"height", u"angle"},
};

constexpr char16_t kEmpty[] = u"";
constexpr char16_t kZero[] = u"0";

}  // namespace

void DWX_AttrsSet::SetDefaultValues(DWX_StringsMap& strings) {
  for (const DefaultAttr& attr : kDefaults) AddAttr(attr.name, attr.value, strings);
}

void DWX_AttrsSet::DefineBaseAttrsSet(const DWX_AttrsSet* base) {
  for (const DWX_AttrsSet* set = base; set; set = set->m_base) {
    if (set == this) {
      AssertFail(__FILE__, __LINE__, "circular chain of base attribute sets");
      return;
    }
  }
  m_base = base;
}

void DWX_AttrsSet::AddAttr(const char16_t* name, const char16_t* value, DWX_StringsMap& strings) {
  if (!name || !value) return;
  const dwx_long nameId = strings[name];
  const dwx_long valueId = strings[value];
  m_attrs[nameId] = valueId;

  const std::u16string_view key(name);
  const bool clearing = value[0] == 0;
  for (const Group& group : kGroups) {
    bool member = false;
    for (const auto& m : group) member = member || m == key;
    if (!member) continue;
    for (const auto& m : group) {
      const std::u16string partner(m);
      if (clearing)
        RedefineAttr(partner.c_str(), kEmpty, strings);
      else
        AddUndefAttr(partner.c_str(), kZero, strings);
    }
  }
  if (!clearing && key == u"hyphen_char") AddUndefAttr(u"hyphen_type", u"normal", strings);
}

void DWX_AttrsSet::AddUndefAttr(const char16_t* name, const char16_t* value,
                                DWX_StringsMap& strings) {
  if (!GetAttrValue(name, strings)) AddAttr(name, value, strings);
}

void DWX_AttrsSet::RedefineAttr(const char16_t* name, const char16_t* value,
                                DWX_StringsMap& strings) {
  const char16_t* current = GetAttrValue(name, strings);
  if (current && current[0]) AddAttr(name, value, strings);
}

bool DWX_AttrsSet::EnumAttrs(AttrsReceiver& receiver, const DWX_StringsMap& strings,
                             const DWX_AttrsSet* top) const {
  for (const auto& [nameId, valueId] : m_attrs) {
    if (top && top->FindSetByNameRef(nameId) != this) continue;  // hidden nearer the top
    const char16_t* name = strings[nameId];
    if (!name) continue;
    const char16_t* value = strings[valueId];
    if (!receiver.OnAttr(name, value ? value : kEmpty)) return false;
  }
  if (m_base && m_base != this) return m_base->EnumAttrs(receiver, strings, top ? top : this);
  return true;
}

const char16_t* DWX_AttrsSet::GetAttrValue(const char16_t* name,
                                           const DWX_StringsMap& strings) const {
  const dwx_long nameId = strings.find(name);
  if (nameId != -1) {
    const auto entry = m_attrs.find(nameId);
    if (entry != m_attrs.end()) {
      const char16_t* value = strings[entry->second];
      return value ? value : kEmpty;
    }
  }
  return m_base ? m_base->GetAttrValue(name, strings) : nullptr;
}

const DWX_AttrsSet* DWX_AttrsSet::FindSetByNameRef(dwx_long nameId) const {
  if (m_attrs.count(nameId)) return this;
  return m_base ? m_base->FindSetByNameRef(nameId) : nullptr;
}

bool DWX_AttrsSet::GetNumericValue(const char16_t* text, dwx_long& out) {
  if (!text || !text[0]) return false;
  const std::u16string_view value(text);
  const bool hex = value.size() > 2 && value[0] == u'0' && value[1] == u'x';
  const bool negative = !hex && value[0] == u'-';
  const size_t first = hex ? 2 : negative ? 1 : 0;
  if (first == value.size()) return false;
  uint64_t number = 0;
  for (size_t at = first; at < value.size(); ++at) {
    const char16_t c = value[at];
    uint32_t digit = 16;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    else if (hex && c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    else if (hex && c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    if (digit >= (hex ? 16u : 10u)) return false;
    number = number * (hex ? 16 : 10) + digit;
    if (number > UINT32_MAX) return false;
  }
  if (negative && number > uint64_t(INT32_MAX) + 1) return false;
  const uint32_t bits = static_cast<uint32_t>(negative ? uint64_t(0) - number : number);
  out = static_cast<dwx_long>(bits);
  return true;
}

void DWX_AttrsSet_Out::Store(DWX_OutFolder& folder, const char* name) {
  folder.ProcessBundle(*this, DWX_Attr_Rec(), name, 0);
}

void DWX_AttrsSet_Out::Call(DWX_OutBundle& bundle) {
  for (const auto& [nameId, valueId] : OwnAttrs())
    bundle.PutRecord(DWX_Attr_Rec_Out(CF_Attr{nameId, valueId}));
}

bool DWX_AttrsSet_In::Restore(DWX_InFolder& folder, const char* name,
                              const DWX_StringsMap* strings) {
  m_check = strings;
  struct ResetCheck {
    const DWX_StringsMap*& slot;
    ~ResetCheck() { slot = nullptr; }
  } reset{m_check};
  return folder.ProcessBundle(*this, DWX_Attr_Rec(), name, 0);
}

void DWX_AttrsSet_In::Call(DWX_InBundle& bundle) {
  DWX_Attr_Rec_In record;
  while (bundle.GetRecord(record)) {
    if (m_check) {
      for (const dwx_long ref : {record.m_NameRef, record.m_ValueRef})
        if (!(*m_check)[ref])
          throw FilterException(FE_CodeFileShortRead,
                                "damaged code file: an attribute names string " + std::to_string(ref) +
                                    ", which the string table does not hold");
    }
    if (record.m_NameRef >= 0 && record.m_ValueRef >= 0)
      Attrs()[record.m_NameRef] = record.m_ValueRef;
    record = DWX_Attr_Rec_In();
  }
}
