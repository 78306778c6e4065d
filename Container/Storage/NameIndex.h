// The stream names of a code file, each kept once, numbered in the order they were added, with
// a look-up from name to number. A big book has more than a million streams: their names lie
// one after the other in large blocks (no block per name, no copy of a name in a look-up
// structure), and the look-up is a table of numbers, so that a name costs little more than its
// bytes.
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

  // The number of `name` and whether it was added now. Names up to kMaxLength bytes.
  std::pair<uint32_t, bool> Insert(std::string_view name);
  // kNone when absent.
  uint32_t Find(std::string_view name) const;
  // The name of a number below Count(); its bytes are followed by a zero.
  std::string_view Name(uint32_t number) const;
  uint32_t Count() const { return static_cast<uint32_t>(m_at.size()); }
  // Makes room in the look-up for `count` names at once, when their number is known ahead.
  void Reserve(size_t count);
  // Frees the look-up when no more names come and none is looked up: Insert and Find may not
  // be called any more, Name still may.
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

  static uint32_t Hash(std::string_view name);
  size_t SlotOf(std::string_view name, uint32_t hash) const;
  void Rehash(size_t slots);

  std::vector<std::unique_ptr<char[]>> m_blocks;  // each: length (2 bytes), bytes, zero, ...
  size_t m_used = kBlockSize;                      // in the last block
  std::deque<uint32_t> m_at;                       // by number: block << kBlockBits | offset
  std::deque<uint32_t> m_hashes;                   // by number: growing the look-up reads no name
  std::vector<uint32_t> m_slots;                   // number + 1, 0 when free
  // By slot: eight more bits of the name's hash, so that a probe rarely has to look at a name
  // (which lies elsewhere in memory) to pass it by.
  std::vector<uint8_t> m_checks;
};
