#include "Container/Model/StringsMap.h"

#include <algorithm>

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
  const auto [entry, added] = m_ids.emplace(text, m_nextId);
  if (added) {
    Index(entry->first, m_nextId);
    ++m_nextId;
  }
  return entry->second;
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
