// The code file's name index: numbers in the order of first insertion, look-up through many
// splits of its leaves, names of every length the name records allow.
#include "Container/Storage/NameIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

TEST(NameIndex, NumbersInOrderOfFirstInsertionThroughManySplits) {
  NameIndex index;
  uint32_t value = 0;
  EXPECT_FALSE(index.Find("a", value));
  const auto name = [](int i) { return "Folder\x01" + std::to_string(i % 97) + "\x01m_Field" + std::to_string(i); };
  constexpr int kCount = 100000;
  for (int i = 0; i < kCount; ++i) {
    const auto [value, added] = index.Insert(name(i), uint32_t(3 * i));
    ASSERT_TRUE(added) << i;
    ASSERT_EQ(value, uint32_t(3 * i));
  }
  EXPECT_EQ(index.Count(), uint32_t(kCount));
  for (int i = 0; i < kCount; i += 7) {
    ASSERT_TRUE(index.Find(name(i), value));
    EXPECT_EQ(value, uint32_t(3 * i));
    EXPECT_EQ(index.Insert(name(i), 7), std::make_pair(uint32_t(3 * i), false));  // the first value stays
    EXPECT_EQ(index.Name(uint32_t(i)), name(i));
    EXPECT_EQ(index.NameAt(index.Locate(name(i))), name(i));
  }
  EXPECT_FALSE(index.Find(name(kCount), value));
  EXPECT_EQ(index.Locate(name(kCount)), NameIndex::kNone);
  EXPECT_EQ(index.Count(), uint32_t(kCount));
}

// Names in random order: every one is found where it went, absent ones are not, and the order
// the leaves give is the names' order.
TEST(NameIndex, NamesInRandomOrder) {
  std::mt19937 random(3);
  std::vector<std::string> names;
  for (int i = 0; i < 30000; ++i) names.push_back(std::to_string(random() % 1000000) + "\x01" + std::to_string(i % 13));
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  std::vector<std::string> shuffled = names;
  std::shuffle(shuffled.begin(), shuffled.end(), random);
  NameIndex index;
  for (size_t i = 0; i < shuffled.size(); ++i) ASSERT_TRUE(index.Insert(shuffled[i], uint32_t(i)).second);
  EXPECT_FALSE(index.InOrder());
  for (size_t i = 0; i < shuffled.size(); i += 3) {
    uint32_t value = 0;
    ASSERT_TRUE(index.Find(shuffled[i], value));
    EXPECT_EQ(value, uint32_t(i));
    EXPECT_FALSE(index.Find(shuffled[i] + "\x01", value));
    EXPECT_FALSE(index.Find(shuffled[i].substr(0, shuffled[i].size() - 1), value) &&
                 !std::binary_search(names.begin(), names.end(), shuffled[i].substr(0, shuffled[i].size() - 1)));
  }
  std::vector<std::string> visited;
  index.VisitByName([](uint32_t) { return true; }, [&](uint32_t n) { visited.emplace_back(index.Name(n)); });
  EXPECT_EQ(visited, names);
}

TEST(NameIndex, EmptyLongAndZeroHoldingNames) {
  NameIndex index;
  const std::string empty, withZero("a\0b", 3);
  EXPECT_EQ(index.Insert(empty, 0).first, 0u);
  EXPECT_EQ(index.Insert(withZero, 1).first, 1u);
  EXPECT_EQ(index.Insert("a", NameIndex::kNone), std::make_pair(NameIndex::kNone, true));  // not the name that starts like it
  uint32_t value = 0;
  EXPECT_TRUE(index.Find("a", value));
  EXPECT_EQ(value, NameIndex::kNone);  // every value may be held
  EXPECT_EQ(index.Name(0), empty);
  EXPECT_EQ(index.Name(1), withZero);
  EXPECT_EQ(index.Name(1).data()[3], '\0');  // followed by a zero, for callers of C strings
  EXPECT_FALSE(index.Find(std::string("a\0c", 3), value));

  // The longest names: a few to a block, one starting a new block when the rest is too short.
  std::string longest(NameIndex::kMaxLength, 'x');
  for (char last = '0'; last < '8'; ++last) {
    longest.back() = last;
    EXPECT_EQ(index.Insert(longest, 3 + last - '0'), std::make_pair(uint32_t(3 + last - '0'), true));
  }
  for (char last = '0'; last < '8'; ++last) {
    longest.back() = last;
    EXPECT_EQ(index.Name(3 + last - '0'), longest);
  }
  EXPECT_THROW(index.Insert(longest + "y", 0), std::length_error);
  EXPECT_EQ(index.Count(), 11u);
}

// Names added in order are looked up with nothing beside them, by a search from where the last
// one ended: every name and every absent one is answered alike from any point, in any order, and
// still after a name out of order has put them into leaves.
TEST(NameIndex, NamesInOrderAndAfterLeavingTheOrder) {
  std::mt19937 random(11);
  std::set<std::string> unique;
  while (unique.size() < 3000) {
    std::string name = "\x01" + std::to_string(random() % 40) + "\x01";
    for (int n = int(random() % 6); n >= 0; --n) name.push_back(char("ab\x01\x02\x7F\x80\xFF"[random() % 7]));
    unique.insert(name);
  }
  const std::vector<std::string> names(unique.begin(), unique.end());
  std::vector<std::string> absent{"", "\x01", "\xFF\xFF\xFF"};
  for (size_t i = 0; i < names.size(); i += 3) {
    for (const char* tail : {"\x01", "\x7F\x7F\x7F"})
      if (!unique.count(names[i] + tail)) absent.push_back(names[i] + tail);
  }

  NameIndex index;
  for (size_t i = 0; i < names.size(); ++i) ASSERT_EQ(index.Insert(names[i], uint32_t(i)), std::make_pair(uint32_t(i), true));
  EXPECT_EQ(index.Insert(names[1234], 5), std::make_pair(1234u, false));  // known: nothing added
  EXPECT_EQ(index.Insert(names.back(), 5), std::make_pair(uint32_t(names.size() - 1), false));
  EXPECT_EQ(index.Count(), uint32_t(names.size()));
  EXPECT_TRUE(index.InOrder());

  const auto check = [&](const char* when) {
    std::vector<size_t> order(names.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::vector<size_t> backwards(order.rbegin(), order.rend());
    std::vector<size_t> shuffled = order;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    for (const auto* sequence : {&order, &backwards, &shuffled}) {
      for (const size_t i : *sequence) {
        uint32_t value = 0;
        ASSERT_TRUE(index.Find(names[i], value)) << when << " " << i;
        ASSERT_EQ(value, uint32_t(i)) << when;
        ASSERT_EQ(index.NameAt(index.Locate(names[i])), names[i]) << when;
        const std::string& missing = absent[i % absent.size()];
        ASSERT_FALSE(index.Find(missing, value)) << when << " " << i;
        ASSERT_EQ(index.Locate(missing), NameIndex::kNone) << when;
      }
    }
  };
  check("in order");
  EXPECT_TRUE(index.InOrder());

  // A new name before the last: the leaves are made, with all the names so far.
  const std::string late = absent[5];
  EXPECT_EQ(index.Insert(late, 99999), std::make_pair(99999u, true));
  absent.erase(absent.begin() + 5);
  uint32_t value = 0;
  EXPECT_TRUE(index.Find(late, value));
  EXPECT_EQ(value, 99999u);
  EXPECT_FALSE(index.InOrder());
  check("through the leaves");
  EXPECT_EQ(index.Count(), uint32_t(names.size() + 1));
}

// As std::string orders them: bytes unsigned, a name before the longer ones it starts; names
// alike for many eight-byte steps, ending on and off the steps.
TEST(NameIndex, SortsByNameAsStringsCompare) {
  std::mt19937 random(5);
  std::vector<std::string> names;
  const std::string stems[] = {"", "Folder\x01" "1A\x01", "Folder\x01" "1A\x01" "2\x01\xE9", "abcdefgh", "abcdefghabcdefgh"};
  for (const std::string& stem : stems) {
    names.push_back(stem + "z");
    for (int i = 0; i < 300; ++i) {
      std::string name = stem;
      for (int n = int(random() % 12); n >= 0; --n) name.push_back(char("ab\x01\x7F\x80\xFF"[random() % 6]));
      names.push_back(name);
    }
  }
  NameIndex index;
  for (const std::string& name : names) index.Insert(name, 0);
  std::vector<std::string> sorted;
  index.VisitByName([](uint32_t n) { return n % 5 != 2; },
                    [&](uint32_t n) { sorted.emplace_back(index.Name(n)); });
  std::vector<std::string> expected;
  for (uint32_t n = 0; n < index.Count(); ++n)
    if (n % 5 != 2) expected.emplace_back(index.Name(n));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted, expected);
}

}  // namespace
