// The text conversion of the compound-file layer, which the container library's values share.
#include <gtest/gtest.h>

#include <string>

#include "Utf8Cases.h"
#include "platform/storage/Names.h"

namespace {

TEST(CompoundFileText, ValidTextRoundTrips)
{
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD";  // a é € 😀 U+FFFD
    bool valid = false;
    const std::u16string wide = cfb::utf8ToUtf16(text, &valid);
    EXPECT_TRUE(valid);
    EXPECT_EQ(wide, (std::u16string{u'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0xFFFD}));
    valid = false;
    EXPECT_EQ(cfb::utf16ToUtf8(wide, &valid), text);
    EXPECT_TRUE(valid);
}

TEST(CompoundFileText, InvalidTextBecomesOneReplacementPerBrokenPart)
{
    for (const auto& c : kesto_test::InvalidUtf8Cases()) {
        SCOPED_TRACE(c.bytes);
        bool valid = true;
        EXPECT_EQ(cfb::utf8ToUtf16(c.bytes, &valid), c.wide);
        EXPECT_FALSE(valid);
    }
    for (const auto& c : kesto_test::UnpairedSurrogateCases()) {
        SCOPED_TRACE(c.bytes);
        bool valid = true;
        EXPECT_EQ(cfb::utf16ToUtf8(c.wide, &valid), c.bytes);
        EXPECT_FALSE(valid);
    }
}

}  // namespace
