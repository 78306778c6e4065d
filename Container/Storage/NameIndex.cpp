#include "Container/Storage/NameIndex.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

uint32_t NameIndex::Hash(std::string_view name) {
  // Eight bytes a step, as the rounds of xxHash mix them; then every bit of the state into the
  // high bits, which choose the slot.
  constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87u, kPrime2 = 0xC2B2AE3D27D4EB4Fu;
  uint64_t h = kPrime1 ^ name.size();
  const char* p = name.data();
  for (size_t left = name.size(); left > 0;) {
    uint64_t word = 0;
    const size_t take = left < 8 ? left : 8;
    std::memcpy(&word, p, take);
    p += take;
    left -= take;
    h += word * kPrime2;
    h = (h << 31 | h >> 33) * kPrime1;
  }
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime1;
  h ^= h >> 32;
  return static_cast<uint32_t>(h);
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

uint32_t NameIndex::ValueAt(uint32_t place) const {
  uint32_t value;
  std::memcpy(&value, EntryAt(place) + 2, 4);
  return value;
}

namespace {

// The first slot to try for a hash, in a table of any size. It grows with the hash, so that
// names of one range of hashes start in one part of the table.
size_t HomeOf(uint32_t hash, size_t slots) { return size_t((uint64_t(hash) * slots) >> 32); }

}  // namespace

uint32_t NameIndex::SearchInOrder(std::string_view name) const {
  const uint32_t count = Count();
  if (count == 0) return kNone;
  // From the cursor outward by steps that double until the name is passed, then halving
  // between the last two steps: a name k places away costs about 2 log k comparisons. The
  // first step is the name after the cursor's, the usual next one.
  int64_t at = std::min(m_cursor, count - 1);
  int c = name.compare(Name(uint32_t(at)));
  if (c == 0) return uint32_t(at);
  int64_t below = at, above = at;  // Name(below) < name < Name(above); -1 and count stand for the ends
  const int64_t direction = c > 0 ? 1 : -1;
  for (int64_t step = 1;; step *= 2) {
    const int64_t next = at + direction * step;
    if (next < 0 || next >= int64_t(count)) {
      (direction > 0 ? above : below) = direction > 0 ? int64_t(count) : -1;
      (direction > 0 ? below : above) = at;
      break;
    }
    c = name.compare(Name(uint32_t(next)));
    if (c == 0) return m_cursor = uint32_t(next);
    if ((c > 0) != (direction > 0)) {
      below = std::min(at, next);
      above = std::max(at, next);
      break;
    }
    at = next;
  }
  while (above - below > 1) {
    const int64_t middle = below + (above - below) / 2;
    c = name.compare(Name(uint32_t(middle)));
    if (c == 0) return m_cursor = uint32_t(middle);
    (c < 0 ? above : below) = middle;
  }
  m_cursor = uint32_t(std::min<int64_t>(above, count - 1));  // where the name would be
  return kNone;
}

// The slot holding `name`, or the free slot where it would go.
size_t NameIndex::SlotOf(std::string_view name, uint32_t hash) const {
  for (size_t slot = HomeOf(hash, m_slots.size());; slot = slot + 1 == m_slots.size() ? 0 : slot + 1) {
    const uint64_t held = m_slots[slot];
    if (held == 0 || (held >> 32 == hash && NameAt(uint32_t(held) - 1) == name)) return slot;
  }
}

uint32_t NameIndex::Locate(std::string_view name) const {
  if (m_inOrder) {
    const uint32_t number = SearchInOrder(name);
    return number == kNone ? kNone : m_at[number];
  }
  if (m_slots.empty()) return kNone;
  const uint64_t held = m_slots[SlotOf(name, Hash(name))];
  return held ? uint32_t(held) - 1 : kNone;
}

bool NameIndex::Find(std::string_view name, uint32_t& value) const {
  const uint32_t place = Locate(name);
  if (place == kNone) return false;
  value = ValueAt(place);
  return true;
}

// Stores a new name; answers its place.
uint32_t NameIndex::Append(std::string_view name, uint32_t value) {
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
  if (!name.empty()) std::memcpy(p + kEntryHead, name.data(), name.size());
  p[kEntryHead + name.size()] = 0;
  const auto place = static_cast<uint32_t>((m_blocks.size() - 1) << kBlockBits | m_used);
  m_at.push_back(place);
  m_used += need;
  return place;
}

std::pair<uint32_t, bool> NameIndex::Insert(std::string_view name, uint32_t value) {
  if (name.size() > kMaxLength) throw std::length_error("name too long");
  if (m_inOrder) {
    if (Count() == 0 || Name(Count() - 1) < name) {
      Append(name, value);
      return {value, true};
    }
    const uint32_t known = SearchInOrder(name);
    if (known != kNone) return {ValueAt(m_at[known]), false};
    BuildTable();
  }
  // Grown by half at three quarters full: half full after a growth, never less.
  if (4 * (size_t(Count()) + 1) > 3 * m_slots.size()) Rehash(m_slots.empty() ? 64 : m_slots.size() * 3 / 2);
  const uint32_t hash = Hash(name);
  const size_t slot = SlotOf(name, hash);
  if (m_slots[slot]) return {ValueAt(uint32_t(m_slots[slot]) - 1), false};
  const uint32_t place = Append(name, value);
  m_hashes.push_back(hash);
  m_slots[slot] = uint64_t(hash) << 32 | (uint64_t(place) + 1);
  return {value, true};
}

// The names so far leave their order: every later look-up goes through a table.
void NameIndex::BuildTable() {
  m_inOrder = false;
  for (uint32_t number = 0; number < Count(); ++number) m_hashes.push_back(Hash(Name(number)));
  Rehash(std::max({size_t(64), (size_t(Count()) + 1) * 2, m_reserved}));
}

void NameIndex::Reserve(size_t count) {
  const size_t slots = (count + 1) * 4 / 3 + 1;
  if (m_inOrder)
    m_reserved = std::max(m_reserved, slots);
  else if (slots > m_slots.size())
    Rehash(slots);
}

void NameIndex::Rehash(size_t count) {
  std::vector<uint64_t>().swap(m_slots);
  m_slots.assign(count, 0);
  // Each name lands at a random place of a table larger than the cache, a miss each: the place
  // of a name some way ahead is asked for early, so that many misses wait at once.
  constexpr size_t kAhead = 16;
  auto ahead = m_hashes.begin();
  for (size_t k = 0; k < kAhead && ahead != m_hashes.end(); ++k, ++ahead)
    __builtin_prefetch(&m_slots[HomeOf(*ahead, count)], 1);
  auto place = m_at.begin();
  for (auto hash = m_hashes.begin(); hash != m_hashes.end(); ++hash, ++place) {
    if (ahead != m_hashes.end()) __builtin_prefetch(&m_slots[HomeOf(*ahead++, count)], 1);
    size_t slot = HomeOf(*hash, count);
    while (m_slots[slot]) slot = slot + 1 == count ? 0 : slot + 1;
    m_slots[slot] = uint64_t(*hash) << 32 | (uint64_t(*place) + 1);
  }
}

void NameIndex::DropLookup() {
  std::vector<uint64_t>().swap(m_slots);
  std::deque<uint32_t>().swap(m_hashes);
}

void NameIndex::VisitByName(const std::function<bool(uint32_t)>& wanted,
                            const std::function<void(uint32_t)>& visit) const {
  struct Item {  // eight bytes of the name from the depth reached, big-endian, zeros after its end
    uint32_t high;
    uint32_t low;
    uint32_t number;
    // Alike keys keep the order of their numbers, which is the order of the names in memory: the
    // next eight bytes of a range of them are then read from one place after the next, not from
    // places all over a large book's names.
    bool operator<(const Item& o) const {
      return high != o.high ? high < o.high : low != o.low ? low < o.low : number < o.number;
    }
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
    if (!std::is_sorted(items.begin() + r.first, items.begin() + r.end))
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
