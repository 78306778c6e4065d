// The text calls through the suite slots a module binds: snapshots into buffers with their
// sizes, the paragraph record's kind word, byte copies, hidden runs, the copy call's answer,
// faults by role and the transcript.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/host/documents/Model.h"
#include "platform/host/documents/XTTextSuites.h"

#include "SlotTestSupport.h"

namespace xthost {
namespace {

using testing::kExamples;
using testing::Slot;

class TextSlotsTest : public testing::SlotHostFixture {
protected:
    void SetUp() override
    {
        StartHost("host-text-slots");

        XTFileSpec spec{};
        ASSERT_EQ(Slot<XFJ_MakeFSSpec>()(0, 0, (kExamples + "hidden.qxp").c_str(), &spec), XT_OK);
        XTHandle ref = 0;
        ASSERT_EQ(Slot<XFJ_NewFileRef>()(&ref), XT_OK);
        ASSERT_EQ(Slot<XFJ_SetFileSpec>()(ref, &spec), XT_OK);
        ASSERT_EQ(Slot<XDD_OpenDocument>()(ref, 63), XT_OK);
        int16_t id = -1;
        XTHandle doc = 0, spread = 0;
        ASSERT_EQ(Slot<XDD_CurrentDocId>()(&id), XT_OK);
        ASSERT_EQ(Slot<XDD_DocumentRef>()(id, &doc), XT_OK);
        ASSERT_EQ(Slot<XPH_LayoutSpread>()(doc, 1, &spread), XT_OK);
        ASSERT_EQ(Slot<XPH_FirstBox>()(spread, &box), XT_OK);
        int32_t start = -1, end = -1;
        ASSERT_EQ(Slot<XTY_StoryOfBox>()(box, &text, &start, &end, &length), XT_OK);
        EXPECT_EQ(start, 0);
        EXPECT_EQ(end, 0);
        docRef = doc;
    }

    std::vector<XTRunEntry> ParagraphRuns()
    {
        int32_t count = 0;
        EXPECT_EQ(Slot<XTY_ParagraphRuns>()(text, nullptr, &count), XT_OK);
        std::vector<XTRunEntry> runs(static_cast<size_t>(count));
        EXPECT_EQ(Slot<XTY_ParagraphRuns>()(text, runs.data(), &count), XT_OK);
        return runs;
    }
    bool Saw(const std::string& start) const
    {
        for (const auto& line : host->Log().Lines())
            if (line.rfind(start, 0) == 0)
                return true;
        return false;
    }

    XTHandle box = 0, text = 0, docRef = 0;
    int32_t length = 0;
};

TEST_F(TextSlotsTest, RunTablesAreSnapshotsIntoBuffersThatHoldThem)
{
    int32_t count = 0;
    ASSERT_EQ(Slot<XTY_StyleRuns>()(text, nullptr, &count), XT_OK);
    EXPECT_EQ(count, 3);
    std::vector<XTRunEntry> styles(2);
    count = 2;
    EXPECT_EQ(Slot<XTY_StyleRuns>()(text, styles.data(), &count), XT_ERR_PARAM);
    EXPECT_EQ(Slot<XTY_StyleRuns>()(text, nullptr, nullptr), XT_ERR_PARAM);

    const auto runs = ParagraphRuns();
    uint32_t covered = 0;
    XTHandle store = 0;
    ASSERT_EQ(Slot<XTY_AttributeStore>()(text, &store), XT_OK);
    std::vector<uint32_t> kinds;
    for (const XTRunEntry& run : runs) {
        covered += run.length;
        XTParaAttribs attribs{};
        uint16_t extra = 0x1234;
        ASSERT_EQ(Slot<XTY_ParaAttributes>()(store, run.value, &attribs, &extra), XT_OK);
        EXPECT_EQ(extra, 0x1234);  // passed through
        const auto* words = reinterpret_cast<const uint32_t*>(&attribs);
        kinds.push_back(words[7]);
    }
    EXPECT_EQ(covered, static_cast<uint32_t>(length));
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), 0x414B4200u), kinds.end());
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), 0x88u), kinds.end());

    // The table stays as it was handed out while the story changes.
    const char16_t chars[] = u"More ";
    ASSERT_EQ(Slot<XTY_InsertText>()(text, 0, 5, chars, 0), XT_OK);
    EXPECT_EQ(covered, static_cast<uint32_t>(length));
    EXPECT_EQ(ParagraphRuns().front().length, runs.front().length + 5);
    EXPECT_TRUE(Saw("text.insert story="));
}

TEST_F(TextSlotsTest, CharactersBytesAndStrings)
{
    std::vector<char16_t> chars(static_cast<size_t>(length));
    ASSERT_EQ(Slot<XTY_Chars>()(text, 0, length, chars.data()), XT_OK);
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    ASSERT_EQ(Slot<XTY_Bytes>()(text, 0, length, bytes.data()), XT_OK);
    for (size_t i = 0; i < chars.size(); ++i)
        ASSERT_EQ(bytes[i], static_cast<uint8_t>(chars[i])) << i;
    EXPECT_EQ(Slot<XTY_Chars>()(text, length + 1, 1, chars.data()), XT_ERR_PARAM);
    EXPECT_EQ(Slot<XTY_Chars>()(text, 0, -1, chars.data()), XT_ERR_PARAM);

    XTHandle a = 0, b = 0, c = 0;
    ASSERT_EQ(Slot<XTY_CharsToString>()(text, 0, 6, &a), XT_OK);
    ASSERT_EQ(Slot<XTY_CharsToString>()(text, 0, 6, &b), XT_OK);
    ASSERT_EQ(Slot<XTY_CharsToString>()(text, 1, 6, &c), XT_OK);
    uint8_t equal = 9;
    ASSERT_EQ(Slot<XTY_CompareStrings>()(a, b, &equal), XT_OK);
    EXPECT_EQ(equal, 1);
    ASSERT_EQ(Slot<XTY_CompareStrings>()(a, c, &equal), XT_OK);
    EXPECT_EQ(equal, 0);
    EXPECT_EQ(Slot<XTY_CompareStrings>()(a, 0x7FFF, &equal), XT_ERR_PARAM);
    uint32_t code = 0;
    int32_t width = 0;
    ASSERT_EQ(Slot<XTY_CharacterUnit>()(text, 7, &code, &width), XT_OK);
    EXPECT_EQ(code, 0xE045u);
    EXPECT_EQ(width, 1);
}

TEST_F(TextSlotsTest, HiddenRunsGoInAndAreFound)
{
    const uint8_t id[] = {' ', ' ', ' ', ' ', ' ', ' ', '9', '9'};
    ASSERT_EQ(Slot<XHJ_InsertHidden>()(text, 0, 0x88, 8, id, 0), XT_OK);
    EXPECT_EQ(Slot<XHJ_CloseHidden>()(0), XT_OK);
    int32_t end = 0;
    ASSERT_EQ(Slot<XHJ_RunEnd>()(text, 1, 1, 8, &end), XT_OK);
    EXPECT_EQ(end, 9);
    EXPECT_EQ(Slot<XHJ_InsertHidden>()(text, 3, 0x45, 0, nullptr, 0), doc::HostErr::SplitsRun);
    EXPECT_EQ(Slot<XHJ_InsertHidden>()(text, 0, 0x45, 2, nullptr, 0), XT_ERR_PARAM);

    uint8_t found = 0;
    int32_t position = 0;
    ASSERT_EQ(Slot<XHJ_FindMarker>()(text, 0, length + 9, 1, 0x88, 0, &found, &position), XT_OK);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(position, 0);
    ASSERT_EQ(Slot<XHJ_FindMarker>()(text, 9 + 8, 0, 0, 0x45, 0, &found, &position), XT_OK);  // the inner pair opens first
    EXPECT_EQ(found, 1);
    EXPECT_EQ(position, 9 + 7);
    EXPECT_EQ(Slot<XHJ_FindMarker>()(text, 0, 10, 2, 0x45, 0, &found, &position), doc::HostErr::BadRef);
    uint32_t value = 0;
    EXPECT_EQ(Slot<XHJ_ItemValue>()(text, 0, box, &value), XT_OK);
    EXPECT_EQ(value, 0u);
}

// The old copy call answers 1 for a copy and 0 for a refusal.
TEST_F(TextSlotsTest, CopiesLocksAndTheInsertionPoint)
{
    EXPECT_EQ(Slot<XTY_CopyBoxText>()(docRef, box, 0, 7, docRef, box, length), 1);
    EXPECT_EQ(Slot<XTY_CopyBoxText>()(docRef, box, 0, 8, docRef, box, 0), 0);  // cuts a hidden run
    EXPECT_EQ(Slot<XTY_CopyText>()(text, 0, 7, text, 0), XT_OK);

    ASSERT_EQ(Slot<XSS_SetLocked>()(text, 1), XT_OK);
    uint8_t locked = 0;
    ASSERT_EQ(Slot<XSS_IsLocked>()(text, &locked), XT_OK);
    EXPECT_EQ(locked, 1);
    EXPECT_EQ(Slot<XTY_DeleteText>()(text, 0, 1), doc::HostErr::Locked);
    ASSERT_EQ(Slot<XSS_SetLocked>()(text, 0), XT_OK);
    EXPECT_EQ(Slot<XTY_DeleteText>()(text, 0, 1), XT_OK);

    // The insertion point and selection calls act on the current box's story.
    EXPECT_EQ(Slot<XTY_SetInsertionPoint>()(2), doc::HostErr::BadRef);
    ASSERT_EQ(Slot<XBY_SetCurrentBox>()(box), XT_OK);
    ASSERT_EQ(Slot<XTY_SetInsertionPoint>()(2), XT_OK);
    ASSERT_EQ(Slot<XTY_SetAttribute>()(0, -102, 1), XT_OK);
    XTCharFormat format{};
    ASSERT_EQ(Slot<XTY_InsertionAttributes>()(&format, nullptr), XT_OK);
    EXPECT_EQ(format.face, 1);
    ASSERT_EQ(Slot<XTY_SelectAll>()(), XT_OK);
    int32_t t = 0, start = 0, end = 0, n = 0;
    ASSERT_EQ(Slot<XTY_StoryOfBox>()(box, &t, &start, &end, &n), XT_OK);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, n);
}

// Code 5 is the colour only; a paragraph attribute set to 0 leaves no entry behind, so setting
// a paragraph's own values back keeps its format.
TEST_F(TextSlotsTest, ColourCodeAndParagraphAttributesSetBack)
{
    ASSERT_EQ(Slot<XBY_SetCurrentBox>()(box), XT_OK);
    ASSERT_EQ(Slot<XTY_SelectRange>()(0, 3), XT_OK);
    EXPECT_EQ(Slot<XTY_SetAttribute>()(0, 5, 2), XT_OK);
    EXPECT_EQ(Slot<XTY_SetAttribute>()(0, 5, 999), doc::HostErr::BadRef);
    XTHandle store = 0;
    ASSERT_EQ(Slot<XTY_AttributeStore>()(text, &store), XT_OK);
    int32_t count = 0;
    ASSERT_EQ(Slot<XTY_StyleRuns>()(text, nullptr, &count), XT_OK);
    std::vector<XTRunEntry> styles(static_cast<size_t>(count));
    ASSERT_EQ(Slot<XTY_StyleRuns>()(text, styles.data(), &count), XT_OK);
    XTCharFormat format{};
    ASSERT_EQ(Slot<XTY_CharAttributes>()(store, styles[0].value, &format, nullptr), XT_OK);
    EXPECT_EQ(format.colour, 2);
    EXPECT_EQ(styles[0].length, 3u);

    const std::vector<XTRunEntry> before = ParagraphRuns();
    EXPECT_EQ(Slot<XTY_SetAttribute>()(0, 7, 40), XT_OK);
    EXPECT_NE(ParagraphRuns()[0].value, before[0].value);
    XTParaAttribs attribs{};
    ASSERT_EQ(Slot<XTY_ParaAttributes>()(store, ParagraphRuns()[0].value, &attribs, nullptr), XT_OK);
    EXPECT_EQ(attribs.values[7], 40);
    EXPECT_EQ(attribs.values[5], 0);  // code 5 set no paragraph attribute
    EXPECT_EQ(Slot<XTY_SetAttribute>()(0, 7, 0), XT_OK);
    EXPECT_EQ(ParagraphRuns()[0].value, before[0].value);
}

// Text copied without a paragraph end to a paragraph's start leaves that paragraph its format,
// the second style id included, which the paragraph record reports under its own code.
TEST_F(TextSlotsTest, ACopyWithoutAParagraphEndKeepsTheFormatOfTheParagraphItStarts)
{
    int32_t count = 0;
    ASSERT_EQ(Slot<XTY_ParagraphStyleRuns>()(text, nullptr, &count), XT_OK);
    std::vector<XTRunEntry> paragraphs(static_cast<size_t>(count));
    ASSERT_EQ(Slot<XTY_ParagraphStyleRuns>()(text, paragraphs.data(), &count), XT_OK);
    const auto second = static_cast<int32_t>(paragraphs.at(0).length);  // where "Siblings" starts
    ASSERT_EQ(Slot<XBY_SetCurrentBox>()(box), XT_OK);
    ASSERT_EQ(Slot<XTY_SetInsertionPoint>()(second), XT_OK);
    ASSERT_EQ(Slot<XTY_SetAttribute>()(0, 0x19, 2), XT_OK);
    ASSERT_EQ(Slot<XTY_SetAttribute>()(0, 0x36, 1), XT_OK);
    XTHandle store = 0;
    ASSERT_EQ(Slot<XTY_AttributeStore>()(text, &store), XT_OK);
    auto secondParagraph = [&] {
        XTParaAttribs attribs{};
        int32_t at = 0;
        for (const XTRunEntry& run : ParagraphRuns()) {
            if (at == second) {
                EXPECT_EQ(Slot<XTY_ParaAttributes>()(store, run.value, &attribs, nullptr), XT_OK);
            }
            at += static_cast<int32_t>(run.length);
        }
        return attribs;
    };
    const XTParaAttribs before = secondParagraph();
    EXPECT_EQ(before.style2, 1);
    EXPECT_EQ(before.values[0x36], 1);
    EXPECT_EQ(before.values[0x19], 2);

    for (int copy = 0; copy < 2; ++copy) {
        if (copy == 0)
            ASSERT_EQ(Slot<XTY_CopyText>()(text, 0, 3, text, second), XT_OK);
        else
            ASSERT_EQ(Slot<XTY_CopyBoxText>()(docRef, box, 0, 3, docRef, box, second), 1);
        const XTParaAttribs after = secondParagraph();
        EXPECT_EQ(after.style2, 1) << copy;
        EXPECT_EQ(after.values[0x19], 2) << copy;
    }
}

TEST_F(TextSlotsTest, FaultsByRoleAnswerFirst)
{
    host->Faults().Add(FaultRule{"TXT-11", -36, 1, 1});
    const char16_t chars[] = u"ab";
    EXPECT_EQ(Slot<XTY_InsertText>()(text, 0, 2, chars, 0), XT_OK);
    EXPECT_EQ(Slot<XTY_InsertText>()(text, 0, 2, chars, 0), -36);
    EXPECT_EQ(Slot<XTY_InsertText>()(text, 0, 2, chars, 0), XT_OK);
    host->Faults().Add(FaultRule{"HID-3", -50});
    uint8_t found = 0;
    int32_t position = 0;
    EXPECT_EQ(Slot<XHJ_FindMarker>()(text, 0, 10, 1, 0x45, 0, &found, &position), -50);
}

}  // namespace
}  // namespace xthost
