// Attribute sets: named attributes of a book object, kept as pairs of string ids of the book's
// string table, with an optional base set, a fixed list of defaults, and groups of dependent
// attributes that are defined or cleared together.
#pragma once

#include "Container/Model/Folders.h"
#include "Container/Model/StringsMap.h"

#include <map>

class DWX_AttrsSet : public polymorphic {
 public:
  class AttrsReceiver {
   public:
    virtual ~AttrsReceiver() = default;
    // False stops the walk.
    virtual bool OnAttr(const char16_t* name, const char16_t* value) = 0;
  };

  DWX_AttrsSet() = default;
  // A copy has its own entries and the same base set.
  DWX_AttrsSet(const DWX_AttrsSet& other) = default;
  DWX_AttrsSet& operator=(const DWX_AttrsSet&) = delete;

  // AddAttr of every default attribute, in the order of the defaults table.
  virtual void SetDefaultValues(DWX_StringsMap& strings);
  // The base set is not owned. A base that would make the chain of bases circular is refused.
  virtual void DefineBaseAttrsSet(const DWX_AttrsSet* base);
  virtual const DWX_AttrsSet* BaseAttrsSet() const { return m_base; }
  // Sets the attribute (null name or value: nothing) and keeps its group consistent.
  virtual void AddAttr(const char16_t* name, const char16_t* value, DWX_StringsMap& strings);
  // AddAttr when the name is defined neither here nor in a base.
  virtual void AddUndefAttr(const char16_t* name, const char16_t* value, DWX_StringsMap& strings);
  // AddAttr when the name currently has a non-empty value.
  virtual void RedefineAttr(const char16_t* name, const char16_t* value, DWX_StringsMap& strings);
  // Reports every visible attribute once, the most derived definition winning; `top` is the set
  // the walk started from (null: this one). Entries whose name id the table lacks are skipped,
  // a value id it lacks is reported as the empty text.
  virtual bool EnumAttrs(AttrsReceiver& receiver, const DWX_StringsMap& strings,
                         const DWX_AttrsSet* top = nullptr) const;
  // The value here or in the nearest base; null when undefined.
  virtual const char16_t* GetAttrValue(const char16_t* name, const DWX_StringsMap& strings) const;

  // Reads a number from an attribute value, which it must be whole: "0x" and hexadecimal digits,
  // or decimal digits after an optional minus sign, nothing before or behind them, within 32
  // bits. The result keeps the low 32 bits ("0xFFFFFFFF" is -1). False, `out` untouched, for a
  // null or empty text and for any other text ("4x2", " 12", "12pt"): a value taken as far as it
  // parses would be another value than the one written.
  static bool GetNumericValue(const char16_t* text, dwx_long& out);

  // The own entries: name id -> value id.
  const std::map<dwx_long, dwx_long>& OwnAttrs() const { return m_attrs; }

 protected:
  virtual const DWX_AttrsSet* FindSetByNameRef(dwx_long nameId) const;
  std::map<dwx_long, dwx_long>& Attrs() { return m_attrs; }

 private:
  std::map<dwx_long, dwx_long> m_attrs;
  const DWX_AttrsSet* m_base = nullptr;
};

class DWX_AttrsSet_Out : public DWX_AttrsSet, public DWX_OutBundleProcessor {
 public:
  // The bundle `name` in `folder`: one record per own entry, in ascending name id.
  void Store(DWX_OutFolder& folder, const char* name);

 private:
  void Call(DWX_OutBundle& bundle) override;
};

class DWX_AttrsSet_In : public DWX_AttrsSet, public DWX_InBundleProcessor {
 public:
  // Reads the bundle `name` of `folder` into the own entries, a later record overwriting an
  // earlier one; records without a name or a value are skipped. False when the bundle is absent.
  // With `strings`, an id the table does not hold raises FE_CodeFileShortRead: the ids then do
  // not belong to that table.
  bool Restore(DWX_InFolder& folder, const char* name, const DWX_StringsMap* strings = nullptr);

 private:
  void Call(DWX_InBundle& bundle) override;

  const DWX_StringsMap* m_check = nullptr;
};
