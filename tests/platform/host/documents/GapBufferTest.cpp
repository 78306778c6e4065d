// The gap buffer against a plain string: every edit and read, with the gap before, inside and
// after the range read.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/documents/GapBuffer.h"
#include "platform/host/documents/ObjectRuns.h"

namespace {

using xthost::doc::StoryText;

TEST(GapBuffer, EditsAndReadsAgreeWithAStringWhereverTheGapLies)
{
    std::mt19937 random(7);
    StoryText text;
    std::u16string ref;
    for (int step = 0; step < 4000; ++step) {
        const size_t pos = random() % (ref.size() + 1);
        switch (random() % 4) {
        case 0:
        case 1: {
            const std::u16string piece(random() % 9, static_cast<char16_t>(u'a' + step % 26));
            text.insert(pos, piece);
            ref.insert(pos, piece);
            break;
        }
        case 2: {
            const size_t n = std::min<size_t>(random() % 7, ref.size() - pos);
            text.erase(pos, n);
            ref.erase(pos, n);
            break;
        }
        default: {
            // The text copied into itself, as a copy within one story does.
            const size_t n = std::min<size_t>(random() % 5, ref.size() - pos);
            const size_t to = random() % (ref.size() + 1);
            text.GapBuffer::insert(text.begin() + to, text.begin() + pos, text.begin() + pos + n);
            ref.insert(to, ref.substr(pos, n));
        }
        }
        ASSERT_EQ(text.size(), ref.size()) << step;
        const size_t from = random() % (ref.size() + 1), n = random() % 12;
        ASSERT_EQ(text.substr(from, n), ref.substr(from, n)) << step;
        const std::u16string part = ref.substr(from, 3);
        ASSERT_EQ(text.find(part, from / 2), ref.find(part, from / 2)) << step;
    }
    EXPECT_EQ(text.str(), ref);
    EXPECT_TRUE(text == ref);
}

// A paragraph split copies its own paragraph's format: the value comes from the buffer that
// grows under it.
TEST(GapBuffer, RepeatingOneOfItsOwnElementsWhileGrowingKeepsItsValue)
{
    xthost::doc::GapBuffer<int> formats{7};
    for (int i = 0; i < 20; ++i)
        formats.insert(formats.begin() + 1, formats.size() + 1, formats[0]);
    EXPECT_TRUE(std::all_of(formats.begin(), formats.end(), [](int f) { return f == 7; }));
}

// Object runs split where the last edit was, against a vector whose every run moves at once: the
// shift behind the split reaches exactly the runs from the edit on, wherever the split was.
TEST(ObjectRuns, ShiftsInsertsErasesAndReplacementsAgreeWithAVector)
{
    using xthost::doc::ObjectRun;
    std::mt19937 random(11);
    xthost::doc::ObjectRuns runs;
    std::vector<ObjectRun> ref;
    for (int step = 0; step < 6000; ++step) {
        const size_t i = random() % (ref.size() + 1);
        switch (random() % 4) {
        case 0: {
            const ObjectRun run{static_cast<int32_t>(random() % 1000), 1, static_cast<uint32_t>(step), 0, 0};
            runs.insert(runs.begin() + static_cast<std::ptrdiff_t>(i), run);
            ref.insert(ref.begin() + static_cast<std::ptrdiff_t>(i), run);
            break;
        }
        case 1: {
            const size_t n = std::min<size_t>(random() % 3, ref.size() - i);
            runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(i), runs.begin() + static_cast<std::ptrdiff_t>(i + n));
            ref.erase(ref.begin() + static_cast<std::ptrdiff_t>(i), ref.begin() + static_cast<std::ptrdiff_t>(i + n));
            break;
        }
        case 2: {
            const auto n = static_cast<int32_t>(random() % 41) - 20;
            runs.Shift(i, n);
            for (size_t k = i; k < ref.size(); ++k)
                ref[k].at += n;
            break;
        }
        default:
            if (i < ref.size()) {
                ref[i].value = static_cast<uint32_t>(step);
                runs.Set(i, ref[i]);
            }
        }
        ASSERT_EQ(runs.size(), ref.size()) << step;
        if (!ref.empty()) {
            const size_t k = random() % ref.size();
            ASSERT_EQ(runs[k], ref[k]) << step << " at " << k;
        }
    }
    EXPECT_TRUE(runs == xthost::doc::ObjectRuns(ref));
}

}  // namespace
