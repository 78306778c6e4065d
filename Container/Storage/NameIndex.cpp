#include "Container/Storage/NameIndex.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

uint32_t NameIndex::Hash(std::string_view name) {
  uint32_t h = 2166136261u;
  for (const char c : name) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  // Mixed, so that the high bits (which choose the slot) depend on every byte.
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

const char* NameIndex::EntryAt(uint32_t place) const {
  return m_blocks[place >> kBlockBits].get() + (place & (kBlockSize - 1));
}

std::string_view NameIndex::NameAt(uint32_t place) const {
  const char* p = EntryAt(place);
  uint16_t length;
  std::memcpy(&length, p, 2);
  return std::string_view(p + kEntryHead, length);
}

namespace {

// The first slot to try for a hash, in a table of any size.
size_t HomeOf(uint32_t hash, size_t slots) { return size_t((uint64_t(hash) * slots) >> 32); }

}  // namespace

// The slot holding `name`, or the free slot where it would go.
size_t NameIndex::SlotOf(std::string_view name, uint32_t hash) const {
  for (size_t slot = HomeOf(hash, m_slots.size());; slot = slot + 1 == m_slots.size() ? 0 : slot + 1) {
    const uint64_t held = m_slots[slot];
    if (held == 0 || (held >> 32 == hash && NameAt(uint32_t(held) - 1) == name)) return slot;
  }
}

uint32_t NameIndex::Locate(std::string_view name) const {
  if (m_slots.empty()) return kNone;
  const uint64_t held = m_slots[SlotOf(name, Hash(name))];
  return held ? uint32_t(held) - 1 : kNone;
}

bool NameIndex::Find(std::string_view name, uint32_t& value) const {
  const uint32_t place = Locate(name);
  if (place == kNone) return false;
  std::memcpy(&value, EntryAt(place) + 2, 4);
  return true;
}

std::pair<uint32_t, bool> NameIndex::Insert(std::string_view name, uint32_t value) {
  if (name.size() > kMaxLength) throw std::length_error("name too long");
  // Grown by half at three quarters full: half full after a growth, never less.
  if (4 * (size_t(Count()) + 1) > 3 * m_slots.size()) Rehash(m_slots.empty() ? 64 : m_slots.size() * 3 / 2);
  const uint32_t hash = Hash(name);
  const size_t slot = SlotOf(name, hash);
  if (m_slots[slot]) {
    uint32_t held;
    std::memcpy(&held, EntryAt(uint32_t(m_slots[slot]) - 1) + 2, 4);
    return {held, false};
  }
  if (Count() == kNone - 1) throw std::length_error("too many names");

  const size_t need = kEntryHead + name.size() + 1;
  if (kBlockSize - m_used < need) {
    // Places are 32 bits, and one of them stays free to mark a free slot.
    if ((m_blocks.size() + 1) >> (32 - kBlockBits)) throw std::length_error("too many names");
    m_blocks.emplace_back(new char[kBlockSize]);
    m_used = 0;
  }
  char* p = m_blocks.back().get() + m_used;
  const auto length = static_cast<uint16_t>(name.size());
  std::memcpy(p, &length, 2);
  std::memcpy(p + 2, &value, 4);
  std::memcpy(p + 6, &hash, 4);
  if (!name.empty()) std::memcpy(p + kEntryHead, name.data(), name.size());
  p[kEntryHead + name.size()] = 0;
  const auto place = static_cast<uint32_t>((m_blocks.size() - 1) << kBlockBits | m_used);
  m_at.push_back(place);
  m_used += need;
  m_slots[slot] = uint64_t(hash) << 32 | (uint64_t(place) + 1);
  return {value, true};
}

void NameIndex::Reserve(size_t count) {
  const size_t slots = (count + 1) * 4 / 3 + 1;
  if (slots > m_slots.size()) Rehash(slots);
}

void NameIndex::Rehash(size_t count) {
  std::vector<uint64_t>().swap(m_slots);
  m_slots.assign(count, 0);
  for (uint32_t number = 0; number < Count(); ++number) {
    const uint32_t place = m_at[number];
    uint32_t hash;
    std::memcpy(&hash, EntryAt(place) + 6, 4);
    size_t slot = HomeOf(hash, count);
    while (m_slots[slot]) slot = slot + 1 == count ? 0 : slot + 1;
    m_slots[slot] = uint64_t(hash) << 32 | (uint64_t(place) + 1);
  }
}

void NameIndex::DropLookup() { std::vector<uint64_t>().swap(m_slots); }
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
