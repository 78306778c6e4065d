// The character attribute mapping in the emulated host: typefaces and code pages of the
// document's fonts, colours on export, and the import applying run attributes to the selection.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Plugin/ModuleHostFixture.h"
#include "Plugin/Filter/Attrib_KS.h"
#include "Plugin/Filter/MapRunAttrs.h"
#include "Plugin/QAPI/QFontList.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/Model.h"
#include "platform/host/documents/testing/DocBuilder.h"

namespace {

using MapAttrs = kesto_test::MapRunAttrs;

using xthost::doc::CharFormat;

class AttribHostTest : public kesto_test::ModuleHostTest {
protected:
    AttribHostTest() : ModuleHostTest("attrib-host") {}

    // export.qxp: the story chained through boxes 11 and 13, its first box current.
    void OpenExport() { OpenStory("export.qxp", 11); }

    // The story of the example's box `uid`, that box current.
    void OpenStory(const char* example, uint32_t uid)
    {
        Start();
        OpenExample(example);
        box = Box(uid);
        int32_t length = 0;
        ASSERT_EQ(Docs().StoryOfBox(box, &text, &length), XT_OK);
        ASSERT_EQ(Docs().StoryText(text, &chars), XT_OK);
        ASSERT_EQ(Docs().SetCurrentBox(box), XT_OK);
    }

    // Selects the first occurrence of the word; answers its start.
    int32_t Select(const std::u16string& word)
    {
        const auto at = chars.find(word);
        EXPECT_NE(at, std::u16string::npos);
        const auto start = static_cast<int32_t>(at);
        EXPECT_EQ(Docs().SetSelection(text, start, start + static_cast<int32_t>(word.size())), XT_OK);
        return start;
    }

    void SelectStart() { EXPECT_EQ(Docs().SetSelection(text, 0, 2), XT_OK); }

    CharFormat FormatAt(int32_t pos)
    {
        std::vector<xthost::doc::RunEntry> runs;
        EXPECT_EQ(Docs().StyleRuns(text, &runs), XT_OK);
        int32_t store = 0;
        EXPECT_EQ(Docs().AttributeStore(text, &store), XT_OK);
        CharFormat format;
        int32_t start = 0;
        for (const auto& run : runs) {
            if (pos < start + static_cast<int32_t>(run.length)) {
                EXPECT_EQ(Docs().CharAttributes(store, run.value, &format), XT_OK);
                break;
            }
            start += static_cast<int32_t>(run.length);
        }
        return format;
    }

    size_t ColourCount()
    {
        std::vector<xthost::doc::Colour> colours;
        EXPECT_EQ(Docs().ColourTable(&colours), XT_OK);
        return colours.size();
    }

    XTHandle box = 0, text = 0;
    std::u16string chars;
};

XTCharFormat Format(int16_t font, uint16_t colour = 2)
{
    XTCharFormat f{};
    f.font = font;
    f.size = 12 << 16;
    f.colour = colour;
    return f;
}

TEST_F(AttribHostTest, TypefaceAndCodePagesComeFromTheFontListOrTheFontsScript)
{
    OpenExport();
    QFontList fonts;
    struct Case {
        int16_t font;
        const char16_t* typeface;
        const char16_t* typefaceCodePage;
        bool multibyte;
    };
    const Case cases[] = {
        {2, u"Greek Sans", u"1253", false},
        {3, u"Hebrew Sans", u"1255", false},
        {4, u"Japanese Gothic", u"932", true},
        {1, u"DejaVu Sans", u"1252", false},
        {20000, u"Wide Gothic", u"1252", true},
        // Neither the list nor the host knows font 77: its script gives no code page.
        {77, u"Unknown Font 77", u"10000", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.font);
        RunAttribs run(Format(c.font), 7, true, &fonts);
        EXPECT_EQ(run.Multibyte(), c.multibyte);
        MapAttrs attrs;
        run.WriteSelf(attrs, static_cast<int32_t>(run.FontCodePage()));
        EXPECT_EQ(attrs.At(u"typeface"), c.typeface);
        EXPECT_EQ(attrs.At(u"typeface_codepage"), c.typefaceCodePage);
        EXPECT_EQ(attrs.At(u"private"), u"7");
    }
    MapAttrs missing;
    RunAttribs run(Format(77), -1, true, &fonts);
    run.WriteSelf(missing, static_cast<int32_t>(run.FontCodePage()));
    EXPECT_EQ(missing.At(u"codepage"), u"0xFFFF");
    // A document whose flag is set writes code page 1 for the typeface.
    MapAttrs mac;
    RunAttribs(Format(2), -1, false, &fonts).WriteSelf(mac, 1253);
    EXPECT_EQ(mac.At(u"typeface_codepage"), u"1");
    EXPECT_EQ(mac.At(u"codepage"), u"1253");
}

TEST_F(AttribHostTest, FontNamesGoOutAsTheirCharactersAndThroughMacRomanOnlyForSingleByteFontsOfFlaggedDocuments)
{
    Start();
    xthost::doc::DocBuilder b;
    b.PlainText(12 << 16);
    b.Font(20000, "Gothic \xC3\xA9").Font(5, "Mincho \xC3\xA9", 1).Font(6, "Roman Caf\xC3\xA9 \xE2\x84\xA2", 0);
    b.Font(7, "Bodoni \xD0\xA1\xD1\x82\xD0\xB0\xD1\x80\xD1\x8B\xD0\xB9", 0);
    b.Page(0);
    const std::string path = (app / "fonts.qxp").string();
    ASSERT_TRUE(xthost::doc::WriteFileAtomically(path, b.Bytes()));
    ASSERT_EQ(Docs().Open(path, 63), XT_OK);
    QFontList fonts;
    struct Case {
        int16_t font;
        const char16_t* windows;
        const char16_t* mac;
    };
    const Case cases[] = {
        {20000, u"Gothic \u00E9", u"Gothic \u00E9"},
        {5, u"Mincho \u00E9", u"Mincho \u00E9"},
        // é and ™ are Windows-1252 0xE9 and 0x99, Mac Roman 0x8E and 0xAA.
        {6, u"Roman Caf\u00E9 \u2122", u"Roman Caf\u008E \u00AA"},
        {7, u"Bodoni \u0421\u0442\u0430\u0440\u044B\u0439", u"Bodoni \u0421\u0442\u0430\u0440\u044B\u0439"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.font);
        EXPECT_EQ(XAttribs::TypefaceText(RunAttribs(Format(c.font), -1, true, &fonts)), c.windows);
        EXPECT_EQ(XAttribs::TypefaceText(RunAttribs(Format(c.font), -1, false, &fonts)), c.mac);
    }
}

TEST_F(AttribHostTest, ColourOfTheFormatWithItsModelWhenAccepted)
{
    OpenExport();
    QFontList fonts;
    MapAttrs cyan;
    XAttribs::WriteFaceColor(RunAttribs(Format(1, 3), -1, true, &fonts), cyan);
    EXPECT_EQ(cyan.At(u"color_type"), u"QCMK");
    EXPECT_EQ(cyan.At(u"color_name"), u"Process Cyan");
    MapAttrs none;
    XAttribs::WriteFaceColor(RunAttribs(Format(1, 99), -1, true, &fonts), none);
    EXPECT_TRUE(none.values.empty());
    EXPECT_NE(GeneralLog().find("\nERROR in function XAttribs::WriteFaceColor(): color_getreference() failed!\n"),
              std::string::npos);
}

TEST_F(AttribHostTest, ReadFaceSetsTheDifferingBitsKerningAndTracking)
{
    OpenExport();
    XAttribs converter;
    const int32_t at = Select(u"bold");
    const MapAttrs attrs{{u"bold", u"off"},         {u"italic", u"on"},    {u"underline", u"by_word"},
                         {u"caps", u"small_caps"},  {u"shift", u"top"},       {u"size", u"24"},
                         {u"kerning", u"7"},        {u"tracking", u"-4"},  {u"outline", u"off"}};
    EXPECT_TRUE(converter.ReadSelf(attrs, 0));
    for (int32_t pos : {at, at + 3}) {
        const CharFormat f = FormatAt(pos);
        // "top" on a character without a position style makes it superior (0x120).
        EXPECT_EQ(f.face, 0x0002 | 0x1000 | 0x0800 | 0x0120);
        EXPECT_EQ(f.kern, 7);
        EXPECT_EQ(f.track, -4);
        EXPECT_EQ(f.size, 12 << 16);
    }
    EXPECT_EQ(FormatAt(at + 4).face, 0);  // the blank after the selection
    // A numeric shift takes the superior style away again; a new size is set.
    EXPECT_TRUE(converter.ReadSelf(MapAttrs{{u"shift", u"0"}, {u"size", u"20"}}, 0));
    EXPECT_EQ(FormatAt(at).face, 0x0002 | 0x1000 | 0x0800);
    EXPECT_EQ(FormatAt(at).size, 10 << 16);
}

TEST_F(AttribHostTest, AbsentFaceAttributesChangeNothingAndUnknownValuesFailTheRun)
{
    OpenExport();
    XAttribs converter;
    const int32_t underlined = Select(u"underlined");
    const int32_t calls = static_cast<int32_t>(CountCalls("XTY4/20"));
    EXPECT_TRUE(converter.ReadSelf(MapAttrs{{u"size", u"24"}}, 0));
    EXPECT_EQ(FormatAt(underlined).face, 0x1004);
    EXPECT_EQ(Calls(static_cast<size_t>(calls)), 0);  // nothing differed, nothing was set
    // Without "size" the run counts as not applied.
    EXPECT_FALSE(converter.ReadSelf(MapAttrs{{u"bold", u"on"}}, 0));
    EXPECT_EQ(FormatAt(underlined).face, 0x1005);
    // An empty underline over both underlines is that pair when the selection is the run's own
    // formatting sample, and no underline over any other text.
    const MapAttrs none{{u"underline", u""}, {u"caps", u""}, {u"size", u"24"}};
    converter.SetSampleApplied(true);
    EXPECT_TRUE(converter.ReadSelf(none, 0));
    EXPECT_EQ(FormatAt(underlined).face, 0x1005);
    converter.SetSampleApplied(false);
    EXPECT_TRUE(converter.ReadSelf(none, 0));
    EXPECT_EQ(FormatAt(underlined).face, 0x0001);

    const int32_t kerned = Select(u"kerned");
    EXPECT_FALSE(converter.ReadSelf(MapAttrs{{u"bold", u"maybe"}, {u"italic", u"on"}, {u"size", u"24"}}, 0));
    EXPECT_EQ(FormatAt(kerned).face, 0x0002);
    EXPECT_EQ(FormatAt(kerned).kern, 20);
    // An underline value no row has clears both underline bits.
    Select(u"underlined");
    EXPECT_TRUE(converter.ReadSelf(MapAttrs{{u"underline", u"double"}, {u"size", u"24"}}, 0));
    EXPECT_EQ(FormatAt(underlined).face, 0x0001);
}

TEST_F(AttribHostTest, RgbColourIsCreatedOnceAndFoundByItsComponentsAfterwards)
{
    OpenExport();
    XAttribs converter;
    const size_t before = ColourCount();
    const int32_t cyan = Select(u"cyan");
    const MapAttrs red{{u"color_type", u"RGB"}, {u"color_name", u"16711680"}, {u"size", u"24"}};
    EXPECT_TRUE(converter.ReadSelf(red, 0));
    ASSERT_EQ(ColourCount(), before + 1);
    std::vector<xthost::doc::Colour> colours;
    Docs().ColourTable(&colours);
    EXPECT_EQ(colours.back().name, "RGB_16711680");
    EXPECT_EQ(colours.back().rgb, 0xFF0000u);
    EXPECT_EQ(FormatAt(cyan).colour, colours.back().id);

    const int32_t tracked = Select(u"tracked");
    EXPECT_TRUE(converter.ReadSelf(red, 0));
    EXPECT_EQ(ColourCount(), before + 1);
    EXPECT_EQ(FormatAt(tracked).colour, colours.back().id);

    // Names that are not wholly a decimal 0..0xFFFFFF change no colour; other types neither.
    const int32_t kerned = Select(u"kerned");
    for (const char16_t* name : {u"Red", u"", u"0x10", u"16777216", u"-5", u" 12", u"12a", u"99999999999"}) {
        EXPECT_TRUE(converter.ReadSelf(MapAttrs{{u"color_type", u"RGB"}, {u"color_name", name}, {u"size", u"24"}}, 0));
        EXPECT_EQ(FormatAt(kerned).colour, 2) << std::string(name, name + std::char_traits<char16_t>::length(name));
    }
    EXPECT_TRUE(converter.ReadSelf(MapAttrs{{u"color_type", u"QRGB"}, {u"color_name", u"255"}, {u"size", u"24"}}, 0));
    EXPECT_EQ(FormatAt(kerned).colour, 2);
    EXPECT_EQ(ColourCount(), before + 1);
}

TEST_F(AttribHostTest, NamedColourOfTheDocumentIsTakenByModelAndNameAndAnUnknownOneChangesNothing)
{
    OpenExport();
    XAttribs converter;
    const int32_t kerned = Select(u"kerned");
    struct Case {
        const char16_t* type;
        const char16_t* name;
        int32_t colour;
    };
    const Case cases[] = {
        {u"QCMK", u"Process Cyan", 3},
        {u"QRGB", u"Black", 2},
        {u"QRGB", u"White", 1},
        {u"QCMK", u"Black", 1},  // a model the colour has not: kept
        {u"PnHx", u"PANTONE 999", 1},
        {u"", u"Black", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
        EXPECT_TRUE(converter.ReadSelf(MapAttrs{{u"color_type", c.type}, {u"color_name", c.name}, {u"size", u"24"}}, 0));
        EXPECT_EQ(FormatAt(kerned).colour, c.colour);
    }
}

TEST_F(AttribHostTest, ANumericShiftSetsTheBaselineShift)
{
    OpenExport();
    XAttribs converter;
    const int32_t bold = Select(u"bold");
    EXPECT_TRUE(converter.ReadSelf(MapAttrs{{u"shift", u"-6"}, {u"size", u"24"}}, 0));
    EXPECT_EQ(FormatAt(bold).shift, 3 << 16);
    EXPECT_TRUE(converter.ReadSelf(MapAttrs{{u"shift", u"4"}, {u"size", u"24"}}, 0));
    EXPECT_EQ(FormatAt(bold).shift, -(2 << 16));
}

TEST_F(AttribHostTest, AFontTheListLacksComesBackByItsId)
{
    OpenExport();
    XAttribs converter;
    const int32_t bold = Select(u"bold");
    // The text already uses font 77; 78 is nowhere, and "Unknown Font" takes no other form.
    for (const char16_t* typeface : {u"Unknown Font 78", u"Unknown Font +77", u"Unknown Font 77x"}) {
        converter.ReadTypeface(MapAttrs{{u"typeface", typeface}});
        EXPECT_EQ(FormatAt(bold).font, 1);
    }
    converter.ReadTypeface(MapAttrs{{u"typeface", u"Unknown Font 77"}});
    EXPECT_EQ(FormatAt(bold).font, 77);
}

TEST_F(AttribHostTest, TheCharacterSetStaysTheSamplesAndFollowsOnlyAFontChangedHere)
{
    OpenExport();
    XAttribs noted;
    noted.NoteCharacterSets(text);
    // Font 1 has the high flag on four characters only.
    uint8_t set = 0xFF;
    ASSERT_TRUE(noted.CharacterSetOf(1, set));
    EXPECT_EQ(set, 0);
    const int32_t high = Select(u"high");
    // The font the run's own sample gave: its character set stays.
    noted.ReadTypeface(MapAttrs{{u"typeface", u"DejaVu Sans"}, {u"typeface_codepage", u"1252"}});
    EXPECT_EQ(FormatAt(high).high, 128);
    // A font changed here, as by an earlier build's one sample for the runs of a paragraph format.
    SetTextAttribute(0, kAttrFont, 2);
    noted.ReadTypeface(MapAttrs{{u"typeface", u"DejaVu Sans"}, {u"typeface_codepage", u"1252"}});
    EXPECT_EQ(FormatAt(high).high, 0);

    // Without notes the set stays with its own font and does not go over to another.
    XAttribs unnoted;
    SetTextAttribute(0, kAttrCharacterSet, 128);
    unnoted.ReadTypeface(MapAttrs{{u"typeface", u"DejaVu Sans"}, {u"typeface_codepage", u"1252"}});
    EXPECT_EQ(FormatAt(high).high, 128);
    unnoted.ReadTypeface(MapAttrs{{u"typeface", u"Greek Sans"}, {u"typeface_codepage", u"1253"}});
    EXPECT_EQ(FormatAt(high).font, 2);
    EXPECT_EQ(FormatAt(high).high, 0);
}

TEST_F(AttribHostTest, TypefaceIsResolvedOncePerNameAndAppliedOnlyWhenItDiffers)
{
    OpenExport();
    XAttribs converter;
    const int32_t setCalls = static_cast<int32_t>(CountCalls("XTY4/20"));
    const int32_t bold = Select(u"bold");
    const MapAttrs greek{{u"typeface", u"Greek Sans"}, {u"typeface_codepage", u"1253"}, {u"codepage", u"1253"}};
    converter.ReadTypeface(greek);
    EXPECT_EQ(FormatAt(bold).font, 2);
    converter.ReadTypeface(greek);  // already Greek Sans: not set again
    EXPECT_EQ(Calls(static_cast<size_t>(setCalls)), 1);
    const int32_t missing = Select(u"missing");
    converter.ReadTypeface(greek);
    EXPECT_EQ(FormatAt(missing).font, 2);
    EXPECT_EQ(converter.Resolved().size(), 1u);

    // A unit the export could not have widened from a byte, a name too long for the host's
    // string, an unknown name and an empty one leave the font alone.
    const int32_t high = Select(u"high");
    converter.ReadTypeface(MapAttrs{{u"typeface", u"Greek\u0100Sans"}});
    converter.ReadTypeface(MapAttrs{{u"typeface", std::u16string(256, u'G')}});
    converter.ReadTypeface(MapAttrs{{u"typeface", u"Nowhere Sans"}});
    converter.ReadTypeface(MapAttrs{{u"typeface", u""}});
    EXPECT_EQ(FormatAt(high).font, 1);
    EXPECT_EQ(converter.Resolved().size(), 4u);
    for (const auto& [key, match] : converter.Resolved())
        EXPECT_EQ(match.found, key.first == u"Greek Sans");
}

TEST_F(AttribHostTest, TypefaceFindsTheFontTheExportNamedInMacRomanOrAmongFontsSharingItsName)
{
    // What the export writes for a run of the font, read back onto the first characters of the
    // story: the font they then have.
    auto roundTrip = [&](int16_t font, bool documentFlag, const std::u16string& drop = u"") {
        QFontList fonts;
        MapAttrs attrs;
        const RunAttribs run(Format(font), -1, documentFlag, &fonts);
        run.WriteSelf(attrs, static_cast<int32_t>(run.FontCodePage()));
        attrs.values.erase(drop);
        XAttribs converter;
        converter.ReadTypeface(attrs);
        return FormatAt(0).font;
    };
    // scripts.qxp names font 1 (Latin) and font 20000 (Japanese) both "DejaVu Sans".
    OpenStory("scripts.qxp", 1);
    SelectStart();
    EXPECT_EQ(roundTrip(1, true), 1);
    EXPECT_EQ(roundTrip(20000, true), 20000);
    // Without a code page, or in the Mac form that has none, the first of the list.
    EXPECT_EQ(roundTrip(20000, true, u"typeface_codepage"), 1);
    EXPECT_EQ(roundTrip(20000, false), 1);
    EXPECT_EQ(roundTrip(20000, true), 20000);

    // mac-origin.qxd's font 2, "Geneva Café ™", goes out through Mac Roman in a flagged
    // document and as its bytes otherwise; either way it comes back.
    OpenStory("mac-origin.qxd", 1);
    SelectStart();
    EXPECT_EQ(roundTrip(2, false), 2);
    EXPECT_EQ(roundTrip(1, false), 1);
    EXPECT_EQ(roundTrip(2, true), 2);
}

TEST_F(AttribHostTest, FormatDifferencesMakeTheSelectionCarryTheFormatsFace)
{
    OpenExport();
    const int32_t bold = Select(u"bold");
    XTCharFormat sample = Format(1);
    sample.face = 0x0802;
    sample.kern = 5;
    ApplyFormatDifferences(0, sample);
    EXPECT_EQ(FormatAt(bold).face, 0x0802);
    EXPECT_EQ(FormatAt(bold).kern, 0);
    const int32_t kerned = Select(u"kerned");
    sample.face = 0;
    ApplyFormatDifferences(0, sample);
    EXPECT_EQ(FormatAt(kerned).kern, 0);
    EXPECT_EQ(SetTextAttribute(0, kAttrColour, 3), XT_OK);
    EXPECT_EQ(FormatAt(kerned).colour, 3);
}

}  // namespace
