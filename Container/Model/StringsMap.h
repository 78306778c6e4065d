// The book's string table: every text that attributes and run records refer to, stored once
// and referred to by a 32-bit id handed out in order of first use.
#pragma once

#include "Container/Model/Folders.h"

#include <map>
#include <string>
#include <unordered_map>

class DWX_StringsMap : public polymorphic {
 public:
  DWX_StringsMap() = default;
  DWX_StringsMap(const DWX_StringsMap&) = delete;
  DWX_StringsMap& operator=(const DWX_StringsMap&) = delete;

  // The text of an id (valid while the table is unchanged); null for -1 and unknown ids.
  virtual const char16_t* operator[](dwx_long id) const;
  // The id of a text, interning it with the next free id when new; -1 for a null text.
  virtual dwx_long operator[](const char16_t* text);
  // The id of a text, or -1; never interns.
  virtual dwx_long find(const char16_t* text) const;

  dwx_long operator[](const std::u16string& text) { return Intern(text); }
  size_t size() const { return m_ids.size(); }

 protected:
  // Texts in UTF-16 code-unit order, as the table is stored.
  using Map = std::map<std::u16string, dwx_long>;
  const Map& Entries() const { return m_ids; }
  // Sets the id of a text as a stored table gives it; negative ids are not taken.
  void Restored(std::u16string text, dwx_long id);

 private:
  dwx_long Intern(const std::u16string& text);
  // The id of a new text: the next after the highest in use, else the lowest one free.
  dwx_long FreeId();
  void Index(const std::u16string& text, dwx_long id) const;

  Map m_ids;
  dwx_long m_nextId = 0;  // the number of texts, unless a stored table used higher ids
  dwx_long m_lowestFree = 0;  // every id below it is in use, once m_nextId has no room
  // id -> text, the first text in text order when a stored table repeats an id; rebuilt when
  // stale.
  mutable std::unordered_map<dwx_long, const std::u16string*> m_texts;
  mutable bool m_textsStale = false;
};

class DWX_StringsMap_Out : public DWX_StringsMap, private DWX_OutBundleProcessor {
 public:
  // The bundle `name` in `folder`: one record (id, text) per entry, in text order.
  void Store(DWX_OutFolder& folder, const char* name);

 private:
  void Call(DWX_OutBundle& bundle) override;
};

class DWX_StringsMap_In : public DWX_StringsMap, private DWX_InBundleProcessor {
 public:
  // False when the bundle is absent (the table unchanged).
  bool Restore(DWX_InFolder& folder, const char* name);

 private:
  void Call(DWX_InBundle& bundle) override;
};
