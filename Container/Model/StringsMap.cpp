#include "Container/Model/StringsMap.h"

#include <algorithm>
#include <stdexcept>

const char16_t* DWX_StringsMap::operator[](dwx_long id) const {
  if (id < 0) return nullptr;
  if (m_textsStale) {
    m_texts.clear();
    for (const auto& [text, textId] : m_ids) m_texts.emplace(textId, &text);
    m_textsStale = false;
  }
  const auto entry = m_texts.find(id);
  return entry == m_texts.end() ? nullptr : entry->second->c_str();
}

dwx_long DWX_StringsMap::operator[](const char16_t* text) {
  return text ? Intern(text) : -1;
}

dwx_long DWX_StringsMap::find(const char16_t* text) const {
  if (!text) return -1;
  const auto entry = m_ids.find(text);
  return entry == m_ids.end() ? -1 : entry->second;
}

dwx_long DWX_StringsMap::Intern(const std::u16string& text) {
  auto at = m_ids.lower_bound(text);
  if (at != m_ids.end() && at->first == text) return at->second;
  const dwx_long id = FreeId();
  at = m_ids.emplace_hint(at, text, id);
  Index(at->first, id);
  return id;
}

dwx_long DWX_StringsMap::FreeId() {
  // A stored table may use the highest id itself: new texts then take the lowest ids it left
  // free, which exist as long as the table holds fewer than 2^31 texts.
  if (m_nextId < INT32_MAX) return m_nextId++;
  const auto taken = [this](dwx_long id) { return DWX_StringsMap::operator[](id) != nullptr; };
  if (!taken(m_nextId)) return m_nextId;
  while (m_lowestFree < INT32_MAX && taken(m_lowestFree)) ++m_lowestFree;
  if (taken(m_lowestFree)) throw std::length_error("the string table holds 2^31 texts");
  return m_lowestFree;
}

void DWX_StringsMap::Index(const std::u16string& text, dwx_long id) const {
  if (!m_textsStale && !m_texts.emplace(id, &text).second) m_textsStale = true;
}

void DWX_StringsMap::Restored(std::u16string text, dwx_long id) {
  if (id < 0) return;
  m_ids[std::move(text)] = id;
  m_textsStale = true;
  // New texts never reuse a stored id.
  m_nextId = std::max<dwx_long>({m_nextId, static_cast<dwx_long>(m_ids.size()),
                                 id == INT32_MAX ? id : id + 1});
}

void DWX_StringsMap_Out::Store(DWX_OutFolder& folder, const char* name) {
  folder.ProcessBundle(*this, DWX_NumberedString(), name, 0);
}

void DWX_StringsMap_Out::Call(DWX_OutBundle& bundle) {
  for (const auto& [text, id] : Entries()) bundle.PutRecord(DWX_NumberedString_Out(id, text));
}

bool DWX_StringsMap_In::Restore(DWX_InFolder& folder, const char* name) {
  return folder.ProcessBundle(*this, DWX_NumberedString(), name, 0);
}

void DWX_StringsMap_In::Call(DWX_InBundle& bundle) {
  DWX_NumberedString_In record;
  while (bundle.GetRecord(record)) {
    Restored(std::move(record.m_String), record.m_Ref);
    record = DWX_NumberedString_In();
  }
}
