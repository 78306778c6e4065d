// The font list of scripts.qxp: ids of the multibyte ranges, scripts and their code pages, the
// log line of a missing font, and the code pages of the document's formats.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "Plugin/ModuleHostFixture.h"
#include "Plugin/Filter/CodePage_KS.h"
#include "Plugin/QAPI/QFontList.h"
#include "Plugin/QAPI/QStory.h"

namespace {

class QFontListTest : public kesto_test::ModuleHostTest {
protected:
    QFontListTest() : ModuleHostTest("qapi") {}
};

TEST_F(QFontListTest, FontsOfScriptsExample)
{
    Start();
    OpenExample("scripts.qxp");
    QFontList fonts;
    EXPECT_EQ(fonts.Size(), 4u);
    const QFontEntry* japanese = fonts.Find(20000);
    ASSERT_NE(japanese, nullptr);
    EXPECT_EQ(japanese->script, 1);
    EXPECT_EQ(japanese->codePage, 932u);
    EXPECT_STREQ(japanese->name.c_str(), "DejaVu Sans");
    const QFontEntry* chinese = fonts.Find(static_cast<uint16_t>(-12000));
    ASSERT_NE(chinese, nullptr);
    EXPECT_EQ(chinese->codePage, 950u);
    const QFontEntry* roman = fonts.Find(1);
    ASSERT_NE(roman, nullptr);
    EXPECT_EQ(roman->codePage, 65535u);

    const std::string before = GeneralLog();
    EXPECT_EQ(fonts.Find(0x2A), nullptr);
    EXPECT_EQ(GeneralLog().substr(before.size()), "##### fontID 2a  (42) is not found will return something\n");
    // The log's integers are decimal again.
    const std::string next = GeneralLog();
    EXPECT_EQ(fonts.Find(12), nullptr);
    EXPECT_NE(GeneralLog().find("(12)", next.size()), std::string::npos);
}

// A packed list in the host's form.
std::vector<uint8_t> Packed(std::initializer_list<std::pair<uint16_t, std::string>> fonts, uint16_t count)
{
    std::vector<uint8_t> out{static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)};
    for (const auto& font : fonts) {
        out.insert(out.end(), {static_cast<uint8_t>(font.first), static_cast<uint8_t>(font.first >> 8), 1, 0});
        out.insert(out.end(), font.second.begin(), font.second.end());
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

TEST(QFontListParse, AMalformedListIsReadOnlyWithinItsSize)
{
    // A duplicate id keeps its first entry.
    auto packed = Packed({{7, "First"}, {7, "Second"}, {9, "Third"}}, 3);
    QFontList twice(packed.data(), packed.size());
    EXPECT_EQ(twice.Size(), 2u);
    EXPECT_STREQ(twice.Find(7)->name.c_str(), "First");
    EXPECT_EQ(twice.Find(9)->codePage, 932u);

    // A count beyond the bytes, and a name without its NUL at the end of the list.
    packed = Packed({{1, "One"}, {2, "Two"}}, 5);
    EXPECT_EQ(QFontList(packed.data(), packed.size()).Size(), 2u);
    packed.pop_back();
    packed.pop_back();
    EXPECT_EQ(QFontList(packed.data(), packed.size()).Size(), 1u);
    EXPECT_EQ(QFontList(packed.data(), 1).Size(), 0u);

    // A name longer than the entry holds is cut at 255 bytes, without an assertion.
    const std::string longName(300, 'n');
    packed = Packed({{3, longName}}, 1);
    ::testing::internal::CaptureStderr();
    QFontList cut(packed.data(), packed.size());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(cut.Size(), 1u);
    EXPECT_EQ(std::string(cut.Find(3)->name.c_str()), longName.substr(0, 255));
}

TEST(QFontListParse, InOrderFollowsTheHostsListNotTheIds)
{
    const auto packed = Packed({{9, "Nine"}, {7, "Seven"}, {9, "Again"}, {8, "Eight"}}, 4);
    const QFontList fonts(packed.data(), packed.size());
    std::vector<std::string> names;
    for (const QFontEntry* entry : fonts.InOrder())
        names.push_back(entry->name.c_str());
    EXPECT_EQ(names, (std::vector<std::string>{"Nine", "Seven", "Eight"}));
}

TEST_F(QFontListTest, TheHighFlagOfARunPicksItsRecords)
{
    Start();
    OpenExample("scripts.qxp");
    QStoryText text(Box(29));  // "High flag font"
    QStoryCursor cursor(text);
    const XTCharFormat& format = cursor.GetCharAttributes();
    EXPECT_EQ(format.font, 3);
    const bool high = format.high >= 128 || format.high == 1;
    ASSERT_TRUE(high);
    QFontList fonts;
    ASSERT_NE(fonts.Find(static_cast<uint16_t>(format.font)), nullptr);
    EXPECT_STREQ(fonts.Find(static_cast<uint16_t>(format.font))->name.c_str(), "DejaVu Sans Mono");
    ASSERT_NE(FindSpecialCharRecord(0x2D, high), nullptr);
    EXPECT_EQ(FindSpecialCharRecord(0x2D, high)->unicode, 0x2011);
    EXPECT_EQ(FindSpecialCharRecord(0x09, high), nullptr);
}

TEST_F(QFontListTest, CodePagesOfTheExamplesFormats)
{
    Start();
    OpenExample("scripts.qxp");
    XTCharFormat format{};
    format.font = 20000;  // a Japanese font, no script of its own
    EXPECT_EQ(CodePageForScript(format, 1252).windows, 932u);
    EXPECT_EQ(CodePageForScript(format, 1252).mac, 10001u);
    format.font = -12000;  // negative ids keep the default without a script of their own
    EXPECT_EQ(CodePageForScript(format, 1252).windows, 1252u);
    format.scriptLang = 29u << 16 | 44;
    EXPECT_EQ(CodePageForScript(format, 1252).windows, 1257u);
    format.font = 1;
    format.scriptLang = 0;  // a Roman font keeps the default
    EXPECT_EQ(CodePageForScript(format, 10000).windows, 10000u);
    format.scriptLang = 24;  // Roman with a Turkish language
    EXPECT_EQ(CodePageForScript(format, 10000).windows, 1254u);
}

} // namespace
