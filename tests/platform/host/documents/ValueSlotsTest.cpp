// The values the host formats or derives for a module: the text of a 16.16 measure (with the
// host's decimal separator) and the style sheet of a range of story text.
#include <gtest/gtest.h>

#include <string>

#include "platform/host/documents/DocSlots.h"
#include "platform/host/documents/ValueSlots.h"
#include "platform/host/documents/XTValueSuites.h"

#include "SlotTestSupport.h"
#include "tests/platform/host/ScriptRun.h"

namespace xthost {
namespace {

using testing::kExamples;
using testing::Slot;

TEST(MeasureText, RoundsToThePrecisionWithoutTrailingZeros)
{
    struct Case {
        int32_t measure, precision;
        const char* text;
    };
    const Case cases[] = {
        {0x000C8000, 100, "12.5"},     {0x000C8000, 1, "13"},          {-30 * 65536, 100, "-30"},
        {0, 100, "0"},                 {21845, 100, "0.33"},           {21845, 10000, "0.3333"},
        {32768, 1, "1"},               {-32768, 1, "-1"},              {-1, 100, "0"},
        {330 * 65536, 100, "330"},     {INT32_MAX, 100, "32768"},      {INT32_MIN, 100, "-32768"},
        {0x00010CCD, 10, "1.1"},       {0x00010CCD, 1000, "1.05"},     {655, 100, "0.01"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MeasureText(c.measure, c.precision, false), c.text) << c.measure << " at " << c.precision;
    EXPECT_EQ(MeasureText(0x000C8000, 100, true), "12,5");
    EXPECT_EQ(MeasureText(65536, 100, true), "1");
    EXPECT_EQ(MeasureText(65536, 7, false), "");
}

TEST(ValueVerbs, DecimalNamesTheSeparatorOfTheMeasuresTheHostWrites)
{
    const auto app = std::filesystem::path(KESTO_BINARY_DIR) / "test-tmp" / "host-value-verbs";
    std::filesystem::create_directories(app);
    HostExtensions extensions;
    RegisterHostDocuments(extensions);
    const testing::ScriptRun comma = testing::RunScript(app, extensions, "decimal comma\ndecimal point\n");
    EXPECT_TRUE(comma.ok);
    EXPECT_NE(testing::Joined(comma.lines).find("decimal comma\ndecimal point\n"), std::string::npos)
        << testing::Joined(comma.lines);
    EXPECT_FALSE(testing::RunScript(app, extensions, "decimal dot\n").ok);
}

class ValueSlotsTest : public testing::SlotHostFixture {
protected:
    void SetUp() override
    {
        StartHost("host-value-slots");
        doc::DocHost& docs = DocumentsOf(*host);
        ASSERT_EQ(docs.Open(kExamples + "two-page-linked.qxp", 63), XT_OK);
        int32_t length = 0;
        box = docs.BoxHandle(3);
        ASSERT_EQ(docs.StoryOfBox(box, &text, &length), XT_OK);
        ASSERT_EQ(length, 39);
    }

    int32_t StyleOf(XTHandle story, int32_t start, int32_t end)
    {
        int32_t value = 99;
        EXPECT_EQ(Slot<XTY_RangeAttribute>()(story, start, end, XT_TEXT_ATTRIBUTE_STYLE_SHEET, &value), XT_OK)
            << start << ".." << end;
        return value;
    }

    XTHandle box = 0, text = 0;
};

TEST_F(ValueSlotsTest, MeasureTextTakesTheHostsSeparatorAndRefusesWhatDoesNotFit)
{
    char buffer[16] = "x";
    EXPECT_EQ(Slot<XAQ_MeasureText>()(0x000C8000, 100, buffer, sizeof buffer), XT_OK);
    EXPECT_STREQ(buffer, "12.5");
    SetDecimalComma(*host, true);
    EXPECT_EQ(Slot<XAQ_MeasureText>()(0x000C8000, 100, buffer, sizeof buffer), XT_OK);
    EXPECT_STREQ(buffer, "12,5");
    EXPECT_EQ(Slot<XAQ_MeasureText>()(0x000C8000, 100, buffer, 4), XT_ERR_PARAM);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(Slot<XAQ_MeasureText>()(0x000C8000, 100, buffer, 5), XT_OK);
    EXPECT_EQ(Slot<XAQ_MeasureText>()(0x000C8000, 50, buffer, sizeof buffer), XT_ERR_PARAM);
    EXPECT_EQ(Slot<XAQ_MeasureText>()(0x000C8000, 100, nullptr, 8), XT_ERR_PARAM);
}

TEST_F(ValueSlotsTest, MeasureTextAnswersFaultsByKeyAndRoleAndIsTracedAsARead)
{
    char buffer[16] = "";
    DocumentsOf(*host).SetTraceReads(true);
    EXPECT_EQ(Slot<XAQ_MeasureText>()(-30 * 65536, 100, buffer, sizeof buffer), XT_OK);
    EXPECT_NE(host->Log().Text().find("value.measure -1966080 precision=100"), std::string::npos) << host->Log().Text();
    host->Faults().Add(FaultRule{"XAQ3/100", -36, 0, 1});
    host->Faults().Add(FaultRule{"VAL-1", -50, 0, 1});
    EXPECT_EQ(Slot<XAQ_MeasureText>()(65536, 100, buffer, sizeof buffer), -36);
    EXPECT_EQ(Slot<XAQ_MeasureText>()(65536, 100, buffer, sizeof buffer), -50);
    EXPECT_EQ(Slot<XAQ_MeasureText>()(65536, 100, buffer, sizeof buffer), XT_OK);
    EXPECT_STREQ(buffer, "1");
}

TEST_F(ValueSlotsTest, StyleSheetOfARangeIsThatOfItsParagraphsOrNone)
{
    // "Annual Report\r" in Heading (2), then one paragraph in Normal (1) and an empty last one.
    EXPECT_EQ(StyleOf(text, 0, 14), 2);
    EXPECT_EQ(StyleOf(text, 0, 0), 2);
    EXPECT_EQ(StyleOf(text, 14, 39), 1);
    EXPECT_EQ(StyleOf(text, 20, 20), 1);
    EXPECT_EQ(StyleOf(text, 39, 39), 1);
    EXPECT_EQ(StyleOf(text, 13, 15), -1);
    EXPECT_EQ(StyleOf(text, 0, 39), -1);

    int32_t value = 7;
    EXPECT_EQ(Slot<XTY_RangeAttribute>()(text, 0, 40, XT_TEXT_ATTRIBUTE_STYLE_SHEET, &value), XT_ERR_PARAM);
    EXPECT_EQ(Slot<XTY_RangeAttribute>()(text, 5, 4, XT_TEXT_ATTRIBUTE_STYLE_SHEET, &value), XT_ERR_PARAM);
    EXPECT_EQ(Slot<XTY_RangeAttribute>()(text, 0, 4, 54, &value), XT_ERR_PARAM);
    EXPECT_EQ(Slot<XTY_RangeAttribute>()(0x05FFFFFF, 0, 4, XT_TEXT_ATTRIBUTE_STYLE_SHEET, &value), XT_ERR_PARAM);
    EXPECT_EQ(value, 7);
}

TEST_F(ValueSlotsTest, StyleSheetOfTheCurrentBoxesStoryWithANullText)
{
    int32_t value = 0;
    EXPECT_EQ(Slot<XTY_RangeAttribute>()(0, 0, 4, XT_TEXT_ATTRIBUTE_STYLE_SHEET, &value), XT_ERR_PARAM);
    ASSERT_EQ(DocumentsOf(*host).SetCurrentBox(box), XT_OK);
    EXPECT_EQ(StyleOf(0, 15, 16), 1);
    host->Faults().Add(FaultRule{"VAL-2", -36, 0, 1});
    EXPECT_EQ(Slot<XTY_RangeAttribute>()(0, 0, 4, XT_TEXT_ATTRIBUTE_STYLE_SHEET, &value), -36);
}

}  // namespace
}  // namespace xthost
