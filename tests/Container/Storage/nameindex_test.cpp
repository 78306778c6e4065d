// The code file's name index: numbers in the order of first insertion, look-up through many
// growths of its table, names of every length the name records allow.
#include "Container/Storage/NameIndex.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(NameIndex, NumbersInOrderOfFirstInsertionThroughManyGrowths) {
  NameIndex index;
  EXPECT_EQ(index.Find("a"), NameIndex::kNone);
  const auto name = [](int i) { return "Folder\x01" + std::to_string(i % 97) + "\x01m_Field" + std::to_string(i); };
  constexpr int kCount = 100000;
  for (int i = 0; i < kCount; ++i) {
    const auto [number, added] = index.Insert(name(i));
    ASSERT_TRUE(added) << i;
    ASSERT_EQ(number, uint32_t(i));
  }
  EXPECT_EQ(index.Count(), uint32_t(kCount));
  for (int i = 0; i < kCount; i += 7) {
    EXPECT_EQ(index.Find(name(i)), uint32_t(i));
    EXPECT_EQ(index.Insert(name(i)), std::make_pair(uint32_t(i), false));
    EXPECT_EQ(index.Name(uint32_t(i)), name(i));
  }
  EXPECT_EQ(index.Find(name(kCount)), NameIndex::kNone);
  EXPECT_EQ(index.Count(), uint32_t(kCount));
}

TEST(NameIndex, EmptyLongAndZeroHoldingNames) {
  NameIndex index;
  index.Reserve(10);
  const std::string empty, withZero("a\0b", 3);
  EXPECT_EQ(index.Insert(empty).first, 0u);
  EXPECT_EQ(index.Insert(withZero).first, 1u);
  EXPECT_EQ(index.Insert("a").first, 2u);  // not the name that starts like it
  EXPECT_EQ(index.Name(0), empty);
  EXPECT_EQ(index.Name(1), withZero);
  EXPECT_EQ(index.Name(1).data()[3], '\0');  // followed by a zero, for callers of C strings
  EXPECT_EQ(index.Find(std::string("a\0c", 3)), NameIndex::kNone);

  // The longest names: a few to a block, one starting a new block when the rest is too short.
  std::string longest(NameIndex::kMaxLength, 'x');
  for (char last = '0'; last < '8'; ++last) {
    longest.back() = last;
    EXPECT_EQ(index.Insert(longest), std::make_pair(uint32_t(3 + last - '0'), true));
  }
  for (char last = '0'; last < '8'; ++last) {
    longest.back() = last;
    EXPECT_EQ(index.Name(3 + last - '0'), longest);
  }
  EXPECT_THROW(index.Insert(longest + "y"), std::length_error);
  EXPECT_EQ(index.Count(), 11u);
}

}  // namespace
