// The stream names of a code file, each kept once with a 32-bit value (its id), numbered in the
// order they were added, with a look-up from name to value. A big book has more than a million
// streams: their names lie one after the other in large blocks (no block per name, no copy of a
// name in a look-up structure), so that a name costs little more than its bytes.
//
// The look-up is by the names' order, searched from where the last look-up ended. Readers and
// writers go through the names of one folder after another, so the answer lies a few names away,
// in memory the last look-up brought to the cache, where a table of hashes of a million names
// would not fit the cache and cost a miss a look-up. Names added in ascending order (a code
// file's name table, as read) need nothing beside them: their numbers are in name order. The
// first name out of order puts the numbers in small sorted leaves, which also give the writer
// its directory's order without a sort. Look-ups move the search's starting point: an index is
// for one thread at a time, also when only reading it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

class NameIndex {
 public:
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  static constexpr size_t kMaxLength = 0xFFFF;

  // Adds `name` with `value` when it is new; answers the name's value and whether it was added.
  // Names up to kMaxLength bytes.
  std::pair<uint32_t, bool> Insert(std::string_view name, uint32_t value);
  // False when absent.
  bool Find(std::string_view name, uint32_t& value) const;
  // Where the name lies (for NameAt), kNone when absent.
  uint32_t Locate(std::string_view name) const;
  uint32_t Count() const { return static_cast<uint32_t>(m_at.size()); }
  // True while every name came after the one before it, so that nothing but the names is kept.
  bool InOrder() const { return m_branches.empty(); }
  // Where the name of a number below Count() lies.
  uint32_t Place(uint32_t number) const { return m_at[number]; }
  // The name at a place; its bytes are followed by a zero.
  std::string_view NameAt(uint32_t place) const;
  std::string_view Name(uint32_t number) const { return NameAt(Place(number)); }
  // Calls visit(number) for every number that `wanted` accepts, in the order of their names'
  // bytes (unsigned, a name before the longer ones it starts).
  void VisitByName(const std::function<bool(uint32_t)>& wanted,
                   const std::function<void(uint32_t)>& visit) const;

 private:
  static constexpr size_t kBlockBits = 18;
  static constexpr size_t kBlockSize = size_t(1) << kBlockBits;
  static constexpr size_t kEntryHead = 6;  // length (2 bytes), value (4 bytes)
  // A leaf holds the numbers of names that follow one another in order: small enough that making
  // room in one moves little. A branch holds leaves that follow one another, so that a new leaf
  // moves no more than one branch's list.
  static constexpr uint32_t kLeafSize = 128;
  static constexpr size_t kBranchSize = 256;

  struct Leaf {
    uint32_t size = 0;
    uint32_t numbers[kLeafSize];
  };
  using Branch = std::vector<std::unique_ptr<Leaf>>;  // not empty, at most kBranchSize
  struct Position {  // of a name in the order, or of where it would go
    size_t branch;
    size_t leaf;
    uint32_t at;
    bool found;
  };

  const char* EntryAt(uint32_t place) const;
  uint32_t ValueAt(uint32_t place) const;
  uint32_t Append(std::string_view name, uint32_t value);
  // The number of the name among names in order, kNone when absent.
  uint32_t SearchInOrder(std::string_view name) const;
  void BuildLeaves();
  std::string_view First(size_t branch, size_t leaf) const {
    return Name((*m_branches[branch])[leaf]->numbers[0]);
  }
  Position Search(std::string_view name) const;
  uint32_t NumberAt(const Position& p) const { return (*m_branches[p.branch])[p.leaf]->numbers[p.at]; }

  std::vector<std::unique_ptr<char[]>> m_blocks;  // entries: length, value, bytes, zero
  size_t m_used = kBlockSize;                      // in the last block
  std::deque<uint32_t> m_at;                       // by number: block << kBlockBits | offset
  mutable uint32_t m_cursor = 0;                   // in order: where the last search ended
  // Once out of order: the numbers in name order, leaf after leaf, none empty.
  std::vector<std::unique_ptr<Branch>> m_branches;
  mutable size_t m_fingerBranch = 0;               // the leaf of the last search
  mutable size_t m_fingerLeaf = 0;
};
