#include "Container/Storage/NameIndex.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

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

NameIndex::Position NameIndex::Search(std::string_view name) const {
  // The leaf: the last whose first name is not after `name` (the first leaf for a name before
  // all). Usually the one of the last search, or the next.
  const size_t leaves = m_leaves.size();
  const auto holds = [&](size_t leaf) {
    return (leaf == 0 || First(leaf) <= name) && (leaf + 1 == leaves || name < First(leaf + 1));
  };
  size_t leaf = std::min(m_finger, leaves - 1);
  if (!holds(leaf)) {
    if (leaf + 1 < leaves && holds(leaf + 1)) {
      ++leaf;
    } else {
      size_t low = 0, high = leaves;  // First(low) <= name or low == 0; name < First(high) or high == leaves
      while (high - low > 1) {
        const size_t middle = low + (high - low) / 2;
        (name < First(middle) ? high : low) = middle;
      }
      leaf = low;
    }
  }
  m_finger = leaf;
  const Leaf& l = *m_leaves[leaf];
  uint32_t low = 0, high = l.size;  // the first not before `name` lies in [low, high]
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    if (Name(l.numbers[middle]) < name)
      low = middle + 1;
    else
      high = middle;
  }
  return {leaf, low, low < l.size && Name(l.numbers[low]) == name};
}

uint32_t NameIndex::Locate(std::string_view name) const {
  if (InOrder()) {
    const uint32_t number = SearchInOrder(name);
    return number == kNone ? kNone : m_at[number];
  }
  const Position p = Search(name);
  return p.found ? m_at[m_leaves[p.leaf]->numbers[p.at]] : kNone;
}

bool NameIndex::Find(std::string_view name, uint32_t& value) const {
  const uint32_t place = Locate(name);
  if (place == kNone) return false;
  value = ValueAt(place);
  return true;
}

// Stores a new name; answers its place.
uint32_t NameIndex::Append(std::string_view name, uint32_t value) {
  if (Count() == kNone) throw std::length_error("too many names");
  const size_t need = kEntryHead + name.size() + 1;
  if (kBlockSize - m_used < need) {
    // Places are 32 bits.
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
  if (InOrder()) {
    if (Count() == 0 || Name(Count() - 1) < name) {
      Append(name, value);
      return {value, true};
    }
    const uint32_t known = SearchInOrder(name);
    if (known != kNone) return {ValueAt(m_at[known]), false};
    BuildLeaves();
  }
  Position p = Search(name);
  if (p.found) return {ValueAt(m_at[m_leaves[p.leaf]->numbers[p.at]]), false};
  const uint32_t number = Count();
  Append(name, value);
  if (m_leaves[p.leaf]->size == kLeafSize) {  // split in halves
    auto upper = std::make_unique<Leaf>();
    Leaf& lower = *m_leaves[p.leaf];
    upper->size = kLeafSize / 2;
    std::memcpy(upper->numbers, lower.numbers + kLeafSize / 2, sizeof(uint32_t) * (kLeafSize / 2));
    lower.size = kLeafSize / 2;
    m_leaves.insert(m_leaves.begin() + std::ptrdiff_t(p.leaf) + 1, std::move(upper));
    if (p.at > kLeafSize / 2) {  // exactly at the half it ends the lower leaf
      ++p.leaf;
      p.at -= kLeafSize / 2;
    }
  }
  Leaf& leaf = *m_leaves[p.leaf];
  std::memmove(leaf.numbers + p.at + 1, leaf.numbers + p.at, sizeof(uint32_t) * (leaf.size - p.at));
  leaf.numbers[p.at] = number;
  ++leaf.size;
  m_finger = p.leaf;
  return {value, true};
}

// The names so far leave their order: their numbers, which are in name order, go into leaves,
// three quarters full, so that the next names find room without splitting every one.
void NameIndex::BuildLeaves() {
  constexpr uint32_t kFill = kLeafSize * 3 / 4;
  for (uint32_t number = 0; number < Count(); number += kFill) {
    auto leaf = std::make_unique<Leaf>();
    leaf->size = std::min(kFill, Count() - number);
    for (uint32_t k = 0; k < leaf->size; ++k) leaf->numbers[k] = number + k;
    m_leaves.push_back(std::move(leaf));
  }
  m_finger = 0;
}

void NameIndex::VisitByName(const std::function<bool(uint32_t)>& wanted,
                            const std::function<void(uint32_t)>& visit) const {
  if (InOrder()) {
    for (uint32_t number = 0; number < Count(); ++number)
      if (wanted(number)) visit(number);
    return;
  }
  // The names in order lie all over memory: the place of a name some steps ahead and then its
  // bytes are asked for early, so that many misses wait at once.
  struct Cursor {
    const std::vector<std::unique_ptr<Leaf>>& leaves;
    size_t leaf = 0;
    uint32_t at = 0;
    bool Valid() const { return leaf < leaves.size(); }
    uint32_t Number() const { return leaves[leaf]->numbers[at]; }
    void Next() {
      if (++at == leaves[leaf]->size) {
        ++leaf;
        at = 0;
      }
    }
  };
  Cursor current{m_leaves}, placeAhead{m_leaves}, nameAhead{m_leaves};
  for (int k = 0; k < 16 && placeAhead.Valid(); ++k) placeAhead.Next();
  for (int k = 0; k < 8 && nameAhead.Valid(); ++k) nameAhead.Next();
  for (; current.Valid(); current.Next()) {
    if (placeAhead.Valid()) {
      __builtin_prefetch(&m_at[placeAhead.Number()]);
      placeAhead.Next();
    }
    if (nameAhead.Valid()) {
      __builtin_prefetch(EntryAt(m_at[nameAhead.Number()]));
      nameAhead.Next();
    }
    const uint32_t number = current.Number();
    if (wanted(number)) visit(number);
  }
}
