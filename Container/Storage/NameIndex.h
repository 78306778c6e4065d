// The stream names of a code file, each kept once with a 32-bit value (its id), numbered in the
// order they were added, with a look-up from name to value. A big book has more than a million
// streams: their names lie one after the other in large blocks (no block per name, no copy of a
// name in a look-up structure), so that a name costs little more than its bytes.
//
// Names added in ascending order (a code file's name table, as read) need no table for their
// look-up: numbers are then in name order, and a look-up searches outward from where the one
// before ended. Readers ask for the names of one folder after another, so the answer lies a few
// names away, in memory the last look-up brought to the cache; a table of a million names does
// not fit there and costs a miss a look-up. The first name out of order builds a table of places
// and hashes, through which a look-up reads two places of memory. Look-ups move the search's
// starting point: an index is for one thread at a time, also when only reading it.
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
  // True while every name came after the one before it, so that no table was needed.
  bool InOrder() const { return m_inOrder; }
  // Where the name of a number below Count() lies.
  uint32_t Place(uint32_t number) const { return m_at[number]; }
  // The name at a place; its bytes are followed by a zero.
  std::string_view NameAt(uint32_t place) const;
  std::string_view Name(uint32_t number) const { return NameAt(Place(number)); }
  // Makes room in the look-up for `count` names at once, when their number is known ahead.
  void Reserve(size_t count);
  // Frees the look-up when no more names come and none is looked up: Insert, Find and Locate
  // may not be called any more, the names still may.
  void DropLookup();
  // Calls visit(number) for every number that `wanted` accepts, in the order of their names'
  // bytes (unsigned, a name before the longer ones it starts), for names without zero bytes.
  // Comparing whole names at random places of memory is what makes sorting a million of them
  // slow: this sorts by eight bytes at a time, read once each, in 12 bytes a name.
  void VisitByName(const std::function<bool(uint32_t)>& wanted,
                   const std::function<void(uint32_t)>& visit) const;

 private:
  static constexpr size_t kBlockBits = 18;
  static constexpr size_t kBlockSize = size_t(1) << kBlockBits;
  static constexpr size_t kEntryHead = 6;  // length (2 bytes), value (4 bytes)

  static uint32_t Hash(std::string_view name);
  const char* EntryAt(uint32_t place) const;
  uint32_t ValueAt(uint32_t place) const;
  uint32_t Append(std::string_view name, uint32_t value);
  // The number of the name among names in order, kNone when absent.
  uint32_t SearchInOrder(std::string_view name) const;
  void BuildTable();
  size_t SlotOf(std::string_view name, uint32_t hash) const;
  void Rehash(size_t slots);

  std::vector<std::unique_ptr<char[]>> m_blocks;  // entries: length, value, bytes, zero
  size_t m_used = kBlockSize;                      // in the last block
  std::deque<uint32_t> m_at;                       // by number: block << kBlockBits | offset
  bool m_inOrder = true;                           // every name after the one added before it
  mutable uint32_t m_cursor = 0;                   // where the last search in order ended
  size_t m_reserved = 0;                           // slots asked for before there was a table
  // Once out of order: the hashes by number, and the name's hash above its place + 1 in the
  // slots, 0 when free: a probe passes other names by their hash alone. Growing the table frees
  // the old one first and takes the hashes from their list, so that the look-up never needs
  // two tables at once.
  std::deque<uint32_t> m_hashes;
  std::vector<uint64_t> m_slots;
};
