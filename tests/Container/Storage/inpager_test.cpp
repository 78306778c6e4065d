#include <gtest/gtest.h>

#include <random>

#include "Container/Storage/InPager.h"
#include "TestStreams.h"

namespace {

// Random seeks and reads of every size through the pager, compared with the bytes themselves.
void CompareWithDirectReads(uint32_t sourceLimit, uint32_t seed) {
  const std::vector<uint8_t> data = Pattern(1 << 20, seed);
  auto* source = new VectorIn(data, sourceLimit);
  InPager pager(*source, true);
  std::mt19937 random(seed);
  std::vector<uint8_t> buffer(6000);
  uint32_t position = 0;
  for (int i = 0; i < 20000; ++i) {
    const uint32_t kind = random() % 8;
    if (kind < 3) {
      // Mostly near the last position, sometimes anywhere, sometimes beyond the end.
      const uint32_t target = kind == 0 ? static_cast<uint32_t>(random() % (data.size() + 100))
                              : kind == 1 ? position + random() % 4096
                                          : (position > 3000 ? position - random() % 3000 : 0);
      position = pager.Seek(static_cast<int32_t>(target), SO_Begin);
      ASSERT_EQ(position, target);
    }
    const uint32_t wanted = random() % 4 == 0 ? random() % 5000 : random() % 300;
    const uint32_t got = pager.GetData(buffer.data(), wanted);
    const uint32_t available = position < data.size() ? static_cast<uint32_t>(data.size()) - position : 0;
    if (sourceLimit == UINT32_MAX)
      ASSERT_EQ(got, std::min(wanted, available)) << "read " << i;
    else
      ASSERT_LE(got, std::min(wanted, available)) << "read " << i;
    ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + got, data.begin() + std::min<size_t>(position, data.size())))
        << "read " << i << " at " << position;
    position += got;
    ASSERT_EQ(pager.Seek(0, SO_Current), position);
  }
}

TEST(InPager, AnswersTheSameBytesAsDirectReads) { CompareWithDirectReads(UINT32_MAX, 7); }

TEST(InPager, AnswersTheSameBytesOverASourceThatDeliversShortReads) {
  CompareWithDirectReads(1000, 11);
}

TEST(InPager, FirstSmallReadFillsAWindowAroundThePosition) {
  VectorIn* source = new VectorIn(Pattern(10000));
  InPager pager(*source, true);
  source->reads.clear();
  pager.Seek(5000, SO_Begin);
  uint8_t byte = 0;
  ASSERT_EQ(pager.GetData(&byte, 1), 1u);
  EXPECT_EQ(byte, source->bytes[5000]);
  ASSERT_EQ(source->reads.size(), 1u);
  EXPECT_EQ(source->reads[0].position, 4352u);
  EXPECT_EQ(source->reads[0].count, 5256u - 4352u);
  // Later reads inside the window do not touch the source.
  pager.Seek(4400, SO_Begin);
  uint8_t bytes[800];
  ASSERT_EQ(pager.GetData(bytes, 800), 800u);
  EXPECT_EQ(source->reads.size(), 1u);
}

TEST(InPager, LargeReadsGoStraightToTheSource) {
  VectorIn* source = new VectorIn(Pattern(100000));
  InPager pager(*source, true);
  source->reads.clear();
  std::vector<uint8_t> buffer(5000);
  pager.Seek(20000, SO_Begin);
  ASSERT_EQ(pager.GetData(buffer.data(), 5000), 5000u);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), source->bytes.begin() + 20000));
  // One page for the start, then the rest in one direct read.
  ASSERT_EQ(source->reads.size(), 2u);
  EXPECT_GE(source->reads[1].count, 768u);
}

TEST(InPager, EndAndBeyond) {
  VectorIn* source = new VectorIn(Pattern(3000));
  InPager pager(*source, true);
  uint8_t buffer[16];
  EXPECT_EQ(pager.Seek(0, SO_End), 3000u);
  EXPECT_EQ(pager.GetData(buffer, 16), 0u);
  EXPECT_EQ(pager.Seek(-10, SO_Current), 2990u);
  EXPECT_EQ(pager.GetData(buffer, 16), 10u);
  EXPECT_EQ(pager.Seek(5000, SO_Begin), 5000u);  // the source decides beyond the end
  EXPECT_EQ(pager.GetData(buffer, 16), 0u);
  EXPECT_EQ(pager.Seek(0, SO_Begin), 0u);
  EXPECT_EQ(pager.GetData(buffer, 0), 0u);
}

}  // namespace
