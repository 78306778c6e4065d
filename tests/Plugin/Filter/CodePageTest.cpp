// The character tables, position styles and code pages, row by row where a row is easy to get
// wrong, without a host.
#include <gtest/gtest.h>

#include <string>

#include "Plugin/Filter/CodePage_KS.h"
#include "Plugin/Filter/MapRunAttrs.h"

namespace {

using Attrs = kesto_test::MapRunAttrs;

TEST(CodePageTest, SpecialCharacterRows)
{
    const SpecialCharRow* row = FindSpecialCharRow(0x1E);
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->name, "tabulator");
    EXPECT_STREQ(row->qualifier, "TempIndent");
    EXPECT_EQ(FindSpecialCharRow(0x01)->value, 5);
    EXPECT_EQ(FindSpecialCharRow(0x0D), nullptr);
    EXPECT_EQ(FindSpecialRowByName("tabulator", nullptr)->hostChar, 0x09);
    EXPECT_EQ(FindSpecialRowByName("tabulator", "TempIndent")->hostChar, 0x1E);
    EXPECT_EQ(FindSpecialRowByName("page_number", nullptr), nullptr);
    EXPECT_EQ(FindSpecialRowByName("page_number", "Next")->hostChar, 0x03);
    EXPECT_EQ(FindSpecialRowByName("page_number", "First"), nullptr);
}

TEST(CodePageTest, CharacterRecordsFollowTheHighFlag)
{
    const CharRecord* dash = FindSpecialCharRecord(0x2D, true);
    ASSERT_NE(dash, nullptr);
    EXPECT_EQ(dash->unicode, 0x2011);
    EXPECT_EQ(FindSpecialCharRecord(0x2D, false), nullptr);
    EXPECT_EQ(FindSpecialCharRecord(0x41, true), nullptr);

    const CharRecord* high = FindSpecialCharRecord(0x0F, true);
    ASSERT_NE(high, nullptr);
    EXPECT_EQ(high->flags, 0x1000001u);
    EXPECT_EQ(high->unicode, 0x2001);
    const CharRecord* low = FindSpecialCharRecord(0x0F, false);
    ASSERT_NE(low, nullptr);
    EXPECT_EQ(low->flags, 0x1000000u);
    EXPECT_EQ(low->unicode, 0x2001);
    // With the high flag the ordinary control characters have no record.
    EXPECT_EQ(FindSpecialCharRecord(0x09, true), nullptr);
    EXPECT_EQ(FindSpecialCharRecord(0x07, false)->unicode, 0x000A);
    EXPECT_EQ(FindSpecialCharRecord(0x1D, false)->flags, 0x2000000u);
    EXPECT_EQ(FindSpecialCharRecord(0x1D, false)->unicode, 0x001D);
    EXPECT_EQ(FindSpecialCharRecord(0x1C, false)->flags, 0x4000000u);
    EXPECT_EQ(FindSpecialCharRecord(0x0D, false)->flags, 0x10000000u);
    EXPECT_EQ(FindSpecialCharRecord(0x15, false)->flags, 0x40000000u);

    EXPECT_EQ(FindRecordByUnicode(0x00AD)->hostChar, 31);
    EXPECT_EQ(FindRecordByUnicode(0x2011)->hostChar, 0x2D);
    EXPECT_EQ(FindRecordByUnicode(0x2015)->hostChar, 0x96);
    EXPECT_EQ(FindRecordByUnicode(0x2007)->hostChar, 0x0F);
    EXPECT_EQ(FindRecordByUnicode(0x0009)->hostChar, 9);
    EXPECT_EQ(FindRecordByUnicode(0x2001)->hostChar, 15);  // the control table comes first
    EXPECT_EQ(FindRecordByUnicode(0x001D), nullptr);       // written unchanged, not mapped
    EXPECT_EQ(FindRecordByUnicode(0x0041), nullptr);

    EXPECT_TRUE(IsControlSpecialChar(128));
    EXPECT_TRUE(IsControlSpecialChar(159, false));
    EXPECT_FALSE(IsControlSpecialChar(160));
    EXPECT_TRUE(IsControlSpecialChar(0x2011));
    EXPECT_FALSE(IsControlSpecialChar(0x2011, false));
}

// What an import writes for a character must be what an export reads back as that character:
// a host code stands in for it only where the export maps the code to it again.
TEST(CodePageTest, TheImportWritesWhatTheExportReadsBackAsTheSameCharacter)
{
    struct Case {
        uint16_t unicode;
        bool high;
        char16_t host;
        bool asItStands = false;  // the run came in code page 1200
    };
    const Case cases[] = {
        {0x2011, false, 0x2011}, {0x2011, true, 0x2D},    // the high flag's hyphen goes out as U+2011
        {0x2000, false, 0x2000}, {0x2000, true, 0x2000},  // 0x0F reads back as U+2001
        {0x2001, false, 0x0F},   {0x2001, true, 0x0F},
        {0x000A, false, 0x07},   {0x000A, true, 0x000A},  // 7 has no record under the high flag
        {0x00A0, true, 0x20},    {0x00A0, false, 0x00A0}, {0x00A0, true, 0x00A0, true},  // the host's own
        {0x2007, false, 0x2007}, {0x0041, false, 0x0041},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ImportHostChar(c.unicode, c.high, c.asItStands), c.host)
            << std::hex << c.unicode << " high " << c.high << " as it stands " << c.asItStands;
}

TEST(CodePageTest, PositionStylesAndTheirArithmetic)
{
    const uint16_t faces[] = {0, 0x20, 0x40, 0x100, 0x120, 0x140};
    for (int32_t style = 0; style < 6; ++style)
        EXPECT_EQ(PositionStyleOfFace(static_cast<uint16_t>(faces[style] | 0x1)), style);
    EXPECT_EQ(PositionFaceBits(0, 2), 0x120);
    EXPECT_EQ(PositionFaceBits(1, 2), 0x20);
    EXPECT_EQ(PositionFaceBits(3, 2), 0x100);
    EXPECT_EQ(PositionFaceBits(2, 2), 0);
    EXPECT_EQ(PositionFaceBits(0, 4), 0x140);
    EXPECT_EQ(PositionFaceBits(1, 4), 0x40);
    EXPECT_EQ(PositionFaceBits(3, 4), 0x140);
    EXPECT_EQ(PositionFaceBits(4, 4), 0);

    PositionAttribs attribs;
    attribs.shift = 16384;
    EXPECT_EQ(BaselineShiftHalfPoints(attribs), 1);
    attribs.shift = -16384;
    EXPECT_EQ(BaselineShiftHalfPoints(attribs), -1);
    attribs.shift = 16383;
    EXPECT_EQ(BaselineShiftHalfPoints(attribs), 0);
    attribs.shift = -3 * 65536;
    EXPECT_EQ(BaselineShiftHalfPoints(attribs), -6);

    Attrs out;
    attribs.size = 0x2000;  // below one half point
    WritePositionAttribs(attribs, out);
    EXPECT_EQ(out.values[u"size"], u"1");
    EXPECT_EQ(out.values[u"shift"], u"6");
    attribs.size = 12 << 16;
    attribs.face = 0x140;
    WritePositionAttribs(attribs, out);
    EXPECT_EQ(out.values[u"size"], u"24");
    EXPECT_EQ(out.values[u"shift"], u"bottom");
}

TEST(CodePageTest, ReadingPositionAttributesBack)
{
    PositionAttribs attribs;
    attribs.size = 12 << 16;
    attribs.shift = 2 << 16;
    Attrs in;
    EXPECT_FALSE(ReadPositionAttribs(attribs, in, 0));
    in.values[u"size"] = u"48";  // 24 pt: the shift doubles
    in.values[u"shift"] = u"top";
    EXPECT_TRUE(ReadPositionAttribs(attribs, in, 0));
    EXPECT_EQ(attribs.size, 24 << 16);
    EXPECT_EQ(attribs.shift, 4 << 16);
    EXPECT_EQ(attribs.face, 0x120);
    in.values[u"size"] = u"10000";
    in.values[u"shift"] = u"-3";
    EXPECT_FALSE(ReadPositionAttribs(attribs, in, 0));
    EXPECT_EQ(attribs.shift, 3 * 32768);
    in.values[u"shift"] = u"3x";
    EXPECT_FALSE(ReadPositionAttribs(attribs, in, 0));
    EXPECT_EQ(attribs.shift, 3 * 32768);
    // A shift finer than half a point stays when the number is the one the export wrote for it.
    attribs.shift = 85196;  // 1.3 pt, written as -3
    in.values[u"shift"] = u"-3";
    ReadPositionAttribs(attribs, in, 0);
    EXPECT_EQ(attribs.shift, 85196);
    in.values[u"shift"] = u"-4";
    ReadPositionAttribs(attribs, in, 0);
    EXPECT_EQ(attribs.shift, 4 * 32768);
}

TEST(CodePageTest, CodePagesByScriptAndLanguage)
{
    struct Row {
        int32_t script, language;
        uint32_t windows, mac;
    };
    const Row rows[] = {
        {0, 24, 1254, 10081}, {0, 21, 1252, 10079}, {0, 47, 1252, 10079}, {0, 25, 1250, 10082},
        {0, -1, 1252, 10000}, {29, 44, 1257, 10029}, {29, 41, 1257, 10029}, {29, 3, 1250, 10029},
        {40, 0, 65535, 65535}, {-1, 0, 65535, 65535}, {1, -1, 932, 10001}, {2, -1, 950, 950},
        {8, -1, 5, 5},        {13, -1, 65535, 65535}, {14, -1, 65535, 1200}, {30, -1, 1258, 1200},
        {25, -1, 936, 10008}, {31, -1, 65535, 1200},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.script) + "/" + std::to_string(row.language));
        const CodePagePair pair = CodePageForScript(row.script, row.language);
        EXPECT_EQ(pair.windows, row.windows);
        EXPECT_EQ(pair.mac, row.mac);
    }
    EXPECT_EQ(CodePageForScript(7), 1251u);
    EXPECT_EQ(DefaultCodePage(true), 10000u);
    EXPECT_EQ(DefaultCodePage(false), 1252u);
}

} // namespace
