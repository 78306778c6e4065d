// The character attribute mapping without a host: the face table with its conflicts, the
// Windows-1252 to Mac Roman table against iconv, the multibyte font ranges, colour components
// and the converter modes.
#include <iconv.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Plugin/Filter/Attrib_KS.h"
#include "Plugin/Filter/MapRunAttrs.h"
#include "Plugin/Shell/ShellTestSupport.h"

namespace {

using MapAttrs = kesto_test::MapRunAttrs;

XTCharFormat Format(uint16_t face, int16_t font = 1)
{
    XTCharFormat f{};
    f.font = font;
    f.face = face;
    f.size = 12 << 16;
    f.colour = 2;
    return f;
}

class AttribLogTest : public ShellLogTest {};

TEST_F(AttribLogTest, FaceBitsBecomeSwitchesUnderlineAndCapsWithConflictsEmptied)
{
    struct Case {
        uint16_t face;
        const char16_t* bold;
        const char16_t* strike;
        const char16_t* underline;
        const char16_t* caps;
        std::vector<std::string> reports;
    };
    const Case cases[] = {
        {0x0000, u"off", u"off", u"", u"", {}},
        {0x0201, u"on", u"on", u"", u"", {}},
        {0x0004, u"off", u"off", u"single", u"", {}},
        {0x1000, u"off", u"off", u"by_word", u"", {}},
        {0x1004, u"off", u"off", u"", u"", {"Underline conflict"}},
        {0x0400, u"off", u"off", u"", u"uppercase", {}},
        {0x0800, u"off", u"off", u"", u"small_caps", {}},
        {0x0C00, u"off", u"off", u"", u"", {"Caps conflict"}},
        {0x1C05, u"on", u"off", u"", u"", {"Caps conflict", "Underline conflict"}},  // in row order
        {0xFFFF, u"off", u"off", u"", u"", {"Face conflict"}},
    };
    for (const Case& c : cases) {
        GeneralLog.Build(GeneralLogPath(), std::ios::out | std::ios::trunc);
        MapAttrs attrs;
        RunAttribs run(Format(c.face), -1, true, nullptr);
        XAttribs::WriteFace(run, attrs);
        SCOPED_TRACE(c.face);
        EXPECT_EQ(attrs.At(u"bold"), c.bold);
        EXPECT_EQ(attrs.At(u"strike"), c.strike);
        EXPECT_EQ(attrs.At(u"underline"), c.underline);
        EXPECT_EQ(attrs.At(u"caps"), c.caps);
        EXPECT_EQ(BreakPointLines(), c.reports);
        // Shift rows write nothing here; the position attributes do.
        EXPECT_EQ(attrs.values.count(u"shift"), 0u);
    }
}

TEST_F(AttribLogTest, SwitchesKerningAndTrackingAreWrittenInTableOrder)
{
    MapAttrs attrs;
    XTCharFormat f = Format(0x0002 | 0x0008 | 0x0010 | 0x0020);
    f.kern = -20;
    f.track = 150;
    XAttribs::WriteFace(RunAttribs(f, 3, true, nullptr), attrs);
    const std::vector<std::u16string> order = {u"bold", u"italic", u"outline", u"shadow", u"strike",
                                               u"underline", u"caps", u"kerning", u"tracking"};
    EXPECT_EQ(attrs.order, order);
    EXPECT_EQ(attrs.At(u"italic"), u"on");
    EXPECT_EQ(attrs.At(u"outline"), u"on");
    EXPECT_EQ(attrs.At(u"shadow"), u"on");
    EXPECT_EQ(attrs.At(u"kerning"), u"-20");
    EXPECT_EQ(attrs.At(u"tracking"), u"150");
}

TEST_F(AttribLogTest, WriteSelfStartsWithThePrivateIdAndKeepsWhatWasWrittenWhenAStepFails)
{
    MapAttrs attrs;
    RunAttribs run(Format(0x0001), 12345, true, nullptr);
    run.WriteSelf(attrs, 65535);
    ASSERT_FALSE(attrs.order.empty());
    EXPECT_EQ(attrs.order.front(), u"private");
    EXPECT_EQ(attrs.At(u"private"), u"12345");
    EXPECT_EQ(attrs.At(u"codepage"), u"0xFFFF");
    EXPECT_EQ(attrs.At(u"bold"), u"on");

    MapAttrs failing;
    failing.throwOn = u"italic";
    RunAttribs(Format(0), -1, true, nullptr).WriteSelf(failing, 1252);
    EXPECT_EQ(failing.At(u"private"), u"-1");
    EXPECT_EQ(failing.At(u"codepage"), u"1252");
    EXPECT_EQ(failing.At(u"bold"), u"off");
    EXPECT_EQ(failing.values.count(u"italic"), 0u);
    EXPECT_EQ(BreakPointLines(), std::vector<std::string>{"Attribs::WriteSelf FAILED"});
}

TEST_F(AttribLogTest, RefusedTypefaceAndCodePageAreLogged)
{
    MapAttrs attrs;
    attrs.refused.insert(u"typeface");
    attrs.refused.insert(u"typeface_codepage");
    RunAttribs run(Format(0, 77), -1, true, nullptr);
    XAttribs::WriteTypeface(run, attrs, 5);
    EXPECT_EQ(attrs.At(u"codepage"), u"5");
    const std::string log = GeneralLogText();
    EXPECT_NE(log.find("Error on adding typeface=Unknown Font 77\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Error on adding fontNameCP="), std::string::npos) << log;
}

TEST(AttribTables, MacRomanTableAgreesWithIconvAndKeepsCodesWithoutCounterpart)
{
    iconv_t cd = iconv_open("MACINTOSH", "CP1252");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    int kept = 0;
    for (int code = 0; code < 256; ++code) {
        char in = static_cast<char>(code), out[8] = {};
        char* inPtr = &in;
        char* outPtr = out;
        size_t inLeft = 1, outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) &&
                               sizeof out - outLeft == 1;
        if (converted) {
            EXPECT_EQ(kWin1252ToMacRoman[code], static_cast<uint8_t>(out[0])) << std::hex << code;
        } else {
            EXPECT_EQ(kWin1252ToMacRoman[code], code) << std::hex << code;
            ++kept;
        }
    }
    iconv_close(cd);
    // The five codes Windows-1252 leaves undefined, and twenty Mac Roman lacks.
    EXPECT_EQ(kept, 25);
}

TEST(AttribTables, MultibyteFontsByScriptAndByIdRangeInScriptZero)
{
    for (int script : {1, 2, 3, 25})
        EXPECT_TRUE(IsMultibyteFont(script, 1)) << script;
    for (int script : {4, 5, 6, 7, 29})
        EXPECT_FALSE(IsMultibyteFont(script, 20000)) << script;
    struct Case {
        int16_t id;
        bool multibyte;
    };
    const Case cases[] = {{16383, false}, {16384, true},  {29183, true},  {29184, false},
                          {-29183, false}, {-29182, true}, {-10000, true}, {-9999, false}};
    for (const Case& c : cases)
        EXPECT_EQ(IsMultibyteFont(0, c.id), c.multibyte) << c.id;
}

TEST(AttribTables, FaceTableRowsAndColourModels)
{
    uint16_t bits = 0;
    for (const FaceRow& row : kFaceTable)
        bits |= row.bit;
    EXPECT_EQ(bits, kFaceTableBits);
    EXPECT_EQ(std::u16string(FaceText(kFaceTable[0].setText)), u"on");
    EXPECT_EQ(std::u16string(FaceText(kFaceTable[0].clearText)), u"off");
    EXPECT_EQ(std::u16string(FaceText(kFaceTable[11].setText)), u"by_word");
    EXPECT_TRUE(IsAcceptedColourModel(XT_FOURCC('Q', 'C', 'M', 'K')));
    EXPECT_TRUE(IsAcceptedColourModel(XT_FOURCC('P', 'n', 'H', 'x')));
    EXPECT_FALSE(IsAcceptedColourModel(XT_FOURCC('Q', 'S', 'P', 'T')));
}

TEST(AttribTables, RgbComponentsAreEachByteTimes257)
{
    const ColorComponents c = RgbToColorComponents(0xFF8001);
    EXPECT_EQ(c.red, 65535);
    EXPECT_EQ(c.green, 32896);
    EXPECT_EQ(c.blue, 257);
    const ColorComponents black = RgbToColorComponents(0x12000000);
    EXPECT_EQ(black.red + black.green + black.blue, 0);
}

TEST(AttribModes, ReadSelfOfTheWritingFormDoesNothingAndUnknownModesFail)
{
    MapAttrs attrs;
    attrs.values[u"bold"] = u"on";
    RunAttribs writing(Format(0), -1, true, nullptr);
    EXPECT_TRUE(writing.ReadSelf(attrs, 0));
    struct Odd : Attribs {
        Odd() : Attribs(3, nullptr) {}
    } odd;
    EXPECT_FALSE(odd.ReadSelf(attrs, 0));
    EXPECT_TRUE(RunAttribs(Format(0), -1, true, nullptr).HasHighFlag() == false);
    XTCharFormat high = Format(0);
    high.high = 128;
    EXPECT_TRUE(RunAttribs(high, -1, true, nullptr).HasHighFlag());
}

}  // namespace
