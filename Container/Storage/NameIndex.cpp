#include "Container/Storage/NameIndex.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

uint32_t NameIndex::Hash(std::string_view name) {
  uint32_t h = 2166136261u;
  for (const char c : name) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  // Mixed, so that the low bits (the slot) and the high ones (the check) both depend on every byte.
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

std::string_view NameIndex::Name(uint32_t number) const {
  const uint32_t at = m_at[number];
  const char* p = m_blocks[at >> kBlockBits].get() + (at & (kBlockSize - 1));
  uint16_t length;
  std::memcpy(&length, p, 2);
  return std::string_view(p + 2, length);
}

namespace {
uint8_t CheckOf(uint32_t hash) { return static_cast<uint8_t>(hash >> 24); }
}  // namespace

// The slot holding `name`, or the free slot where it would go.
size_t NameIndex::SlotOf(std::string_view name, uint32_t hash) const {
  const size_t mask = m_slots.size() - 1;
  const uint8_t check = CheckOf(hash);
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const uint32_t held = m_slots[slot];
    if (held == 0 || (m_checks[slot] == check && Name(held - 1) == name)) return slot;
  }
}

uint32_t NameIndex::Find(std::string_view name) const {
  if (m_slots.empty()) return kNone;
  const uint32_t held = m_slots[SlotOf(name, Hash(name))];
  return held ? held - 1 : kNone;
}

std::pair<uint32_t, bool> NameIndex::Insert(std::string_view name) {
  if (name.size() > kMaxLength) throw std::length_error("name too long");
  // Grown at three quarters full: the table stays below four bytes and a half per name.
  if (4 * (size_t(Count()) + 1) > 3 * m_slots.size()) Rehash(m_slots.empty() ? 64 : 2 * m_slots.size());
  const uint32_t hash = Hash(name);
  const size_t slot = SlotOf(name, hash);
  if (m_slots[slot]) return {m_slots[slot] - 1, false};
  if (Count() == kNone - 1) throw std::length_error("too many names");

  const size_t need = name.size() + 3;
  if (kBlockSize - m_used < need) {
    if (m_blocks.size() >> (32 - kBlockBits)) throw std::length_error("too many names");
    m_blocks.emplace_back(new char[kBlockSize]);
    m_used = 0;
  }
  char* p = m_blocks.back().get() + m_used;
  const auto length = static_cast<uint16_t>(name.size());
  std::memcpy(p, &length, 2);
  if (!name.empty()) std::memcpy(p + 2, name.data(), name.size());
  p[2 + name.size()] = 0;
  const uint32_t number = Count();
  m_at.push_back(static_cast<uint32_t>((m_blocks.size() - 1) << kBlockBits | m_used));
  m_hashes.push_back(hash);
  m_used += need;
  m_slots[slot] = number + 1;
  m_checks[slot] = CheckOf(hash);
  return {number, true};
}

void NameIndex::Reserve(size_t count) {
  size_t slots = m_slots.empty() ? 64 : m_slots.size();
  while (4 * (count + 1) > 3 * slots) slots *= 2;
  if (slots > m_slots.size()) Rehash(slots);
}

void NameIndex::Rehash(size_t count) {
  std::vector<uint32_t>(count, 0).swap(m_slots);
  std::vector<uint8_t>(count, 0).swap(m_checks);
  const size_t mask = count - 1;
  for (uint32_t number = 0; number < Count(); ++number) {
    const uint32_t hash = m_hashes[number];
    size_t slot = hash & mask;
    while (m_slots[slot]) slot = (slot + 1) & mask;
    m_slots[slot] = number + 1;
    m_checks[slot] = CheckOf(hash);
  }
}

void NameIndex::DropLookup() {
  std::vector<uint32_t>().swap(m_slots);
  std::vector<uint8_t>().swap(m_checks);
  std::deque<uint32_t>().swap(m_hashes);
}

void NameIndex::VisitByName(const std::function<bool(uint32_t)>& wanted,
                            const std::function<void(uint32_t)>& visit) const {
  struct Item {  // eight bytes of the name from the depth reached, big-endian, zeros after its end
    uint32_t high;
    uint32_t low;
    uint32_t number;
    bool operator<(const Item& o) const { return high != o.high ? high < o.high : low < o.low; }
    bool SameKey(const Item& o) const { return high == o.high && low == o.low; }
  };
  std::vector<Item> items;
  size_t count = 0;
  for (uint32_t n = 0; n < Count(); ++n) count += wanted(n);
  items.reserve(count);
  for (uint32_t n = 0; n < Count(); ++n)
    if (wanted(n)) items.push_back({0, 0, n});

  struct Range {
    size_t first, end, depth;
  };
  std::vector<Range> ranges{{0, items.size(), 0}};
  while (!ranges.empty()) {
    const Range r = ranges.back();
    ranges.pop_back();
    for (size_t i = r.first; i < r.end; ++i) {
      const std::string_view name = Name(items[i].number);
      uint64_t key = 0;
      for (size_t k = 0; k < 8; ++k) {
        const size_t at = r.depth * 8 + k;
        key = key << 8 | (at < name.size() ? static_cast<uint8_t>(name[at]) : 0);
      }
      items[i].high = static_cast<uint32_t>(key >> 32);
      items[i].low = static_cast<uint32_t>(key);
    }
    std::sort(items.begin() + r.first, items.begin() + r.end);
    // Names alike in these eight bytes go on to the next eight, unless they end here.
    for (size_t i = r.first; i < r.end;) {
      size_t j = i + 1;
      while (j < r.end && items[j].SameKey(items[i])) ++j;
      if (j - i > 1 && Name(items[i].number).size() > (r.depth + 1) * 8) ranges.push_back({i, j, r.depth + 1});
      i = j;
    }
  }
  for (const Item& item : items) visit(item.number);
}
