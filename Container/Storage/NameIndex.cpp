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
  // The leaf: the last whose first name is not after `name` (the very first for a name before
  // all). Usually the one of the last search, or the next.
  const size_t branches = m_branches.size();
  const auto holds = [&](size_t branch, size_t leaf) {
    if ((branch > 0 || leaf > 0) && name < First(branch, leaf)) return false;
    if (leaf + 1 < m_branches[branch]->size()) return name < First(branch, leaf + 1);
    return branch + 1 == branches || name < First(branch + 1, 0);
  };
  size_t branch = std::min(m_fingerBranch, branches - 1);
  size_t leaf = std::min(m_fingerLeaf, m_branches[branch]->size() - 1);
  if (!holds(branch, leaf)) {
    if (leaf + 1 < m_branches[branch]->size() && holds(branch, leaf + 1)) {
      ++leaf;
    } else {
      // The last of [0, end) whose first name is not after `name`, or 0.
      const auto last = [&name](size_t end, auto first) {
        size_t low = 0, high = end;
        while (high - low > 1) {
          const size_t middle = low + (high - low) / 2;
          (name < first(middle) ? high : low) = middle;
        }
        return low;
      };
      branch = last(branches, [this](size_t b) { return First(b, 0); });
      leaf = last(m_branches[branch]->size(), [this, branch](size_t l) { return First(branch, l); });
    }
  }
  m_fingerBranch = branch;
  m_fingerLeaf = leaf;
  const Leaf& l = *(*m_branches[branch])[leaf];
  uint32_t low = 0, high = l.size;  // the first not before `name` lies in [low, high]
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    if (Name(l.numbers[middle]) < name)
      low = middle + 1;
    else
      high = middle;
  }
  return {branch, leaf, low, low < l.size && Name(l.numbers[low]) == name};
}

uint32_t NameIndex::Locate(std::string_view name) const {
  if (InOrder()) {
    const uint32_t number = SearchInOrder(name);
    return number == kNone ? kNone : m_at[number];
  }
  const Position p = Search(name);
  return p.found ? m_at[NumberAt(p)] : kNone;
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
  if (p.found) return {ValueAt(m_at[NumberAt(p)]), false};
  const uint32_t number = Count();
  Append(name, value);
  Branch& branch = *m_branches[p.branch];
  if (branch[p.leaf]->size == kLeafSize) {  // split in halves
    auto upper = std::make_unique<Leaf>();
    Leaf& lower = *branch[p.leaf];
    upper->size = kLeafSize / 2;
    std::memcpy(upper->numbers, lower.numbers + kLeafSize / 2, sizeof(uint32_t) * (kLeafSize / 2));
    lower.size = kLeafSize / 2;
    branch.insert(branch.begin() + std::ptrdiff_t(p.leaf) + 1, std::move(upper));
    if (p.at > kLeafSize / 2) {  // exactly at the half it ends the lower leaf
      ++p.leaf;
      p.at -= kLeafSize / 2;
    }
    if (branch.size() > kBranchSize) {
      auto right = std::make_unique<Branch>();
      right->reserve(kBranchSize + 1);
      for (size_t k = kBranchSize / 2; k < branch.size(); ++k) right->push_back(std::move(branch[k]));
      branch.resize(kBranchSize / 2);
      m_branches.insert(m_branches.begin() + std::ptrdiff_t(p.branch) + 1, std::move(right));
      if (p.leaf >= kBranchSize / 2) {
        ++p.branch;
        p.leaf -= kBranchSize / 2;
      }
    }
  }
  Leaf& leaf = *(*m_branches[p.branch])[p.leaf];
  std::memmove(leaf.numbers + p.at + 1, leaf.numbers + p.at, sizeof(uint32_t) * (leaf.size - p.at));
  leaf.numbers[p.at] = number;
  ++leaf.size;
  m_fingerBranch = p.branch;
  m_fingerLeaf = p.leaf;
  return {value, true};
}

// The names so far leave their order: their numbers, which are in name order, go into leaves,
// three quarters full, so that the next names find room without splitting every one.
void NameIndex::BuildLeaves() {
  constexpr uint32_t kFill = kLeafSize * 3 / 4;
  for (uint32_t number = 0; number < Count(); number += kFill) {
    if (m_branches.empty() || m_branches.back()->size() == kBranchSize / 2) {
      m_branches.push_back(std::make_unique<Branch>());
      m_branches.back()->reserve(kBranchSize + 1);
    }
    auto leaf = std::make_unique<Leaf>();
    leaf->size = std::min(kFill, Count() - number);
    for (uint32_t k = 0; k < leaf->size; ++k) leaf->numbers[k] = number + k;
    m_branches.back()->push_back(std::move(leaf));
  }
  m_fingerBranch = m_fingerLeaf = 0;
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
    const std::vector<std::unique_ptr<Branch>>& branches;
    size_t branch = 0;
    size_t leaf = 0;
    uint32_t at = 0;
    bool Valid() const { return branch < branches.size(); }
    uint32_t Number() const { return (*branches[branch])[leaf]->numbers[at]; }
    void Next() {
      if (++at < (*branches[branch])[leaf]->size) return;
      at = 0;
      if (++leaf < branches[branch]->size()) return;
      leaf = 0;
      ++branch;
    }
  };
  Cursor current{m_branches}, placeAhead{m_branches}, nameAhead{m_branches};
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
