// Hidden content against the emulated host on hidden.qxp: paren pairs, nested and sibling
// pairs, an unmatched paren, items of kind 1, the module's tag run, and the table the mapping
// fills with it.
#include <gtest/gtest.h>

#include <string>

#include "Plugin/Filter/Filter_KS.h"
#include "Plugin/Filter/Hidden.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/QAPI/QStory.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/DocBuilder.h"
#include "platform/host/documents/testing/HiddenExample.h"

namespace {

class HiddenTest : public kesto_test::ModuleHostTest {
protected:
    HiddenTest() : ModuleHostTest("filter") {}

    void SetUp() override
    {
        ModuleHostTest::SetUp();
        Start();
        OpenExample("hidden.qxp");
        at = xthost::doc::HiddenExampleLayout();
        text = std::make_unique<QStoryText>(Box(at.storyBox));
    }

    void TearDown() override
    {
        text.reset();
        ModuleHostTest::TearDown();
    }

    // A cursor standing at position.
    std::unique_ptr<QStoryCursor> At(int32_t position)
    {
        auto cursor = std::make_unique<QStoryCursor>(*text);
        AdvanceCursorTo(*cursor, position);
        EXPECT_EQ(cursor->GetPosition(), position);
        return cursor;
    }

    HiddenItem ItemAt(int32_t position) { return HiddenItem(*At(position)); }

    xthost::doc::HiddenLayout at{};
    std::unique_ptr<QStoryText> text;
};

TEST(HiddenOpcodes, ParensArePairedByTheirTypeBits)
{
    EXPECT_EQ(OpenParenOpcode(0x25), 0x45u);
    EXPECT_EQ(OpenParenOpcode(0x45), 0x45u);
    EXPECT_EQ(OpenParenOpcode(0x88), 0x88u);
    EXPECT_EQ(OpenParenOpcode(0xA5), 0xC5u);
    HiddenItem item;
    item.mOpcode = 0x25;
    EXPECT_EQ(ParenDirection(item), 1);
    item.mOpcode = 0x45;
    EXPECT_EQ(ParenDirection(item), 0);
    item.mOpcode = 0x88;
    EXPECT_EQ(ParenDirection(item), 1000);
    item.mOpcode = 0xE5;
    EXPECT_EQ(ParenDirection(item), 1000);
    EXPECT_TRUE(IsModuleTagKind(0x414B4200));
    EXPECT_TRUE(IsModuleTagKind(0x414B42FF));
    EXPECT_FALSE(IsModuleTagKind(0x424B4100));
}

TEST_F(HiddenTest, BothParensOfANestedPairGiveTheSameItem)
{
    const HiddenItem open = ItemAt(at.nestedOuterOpen);
    const HiddenItem close = ItemAt(at.nestedOuterClose);
    EXPECT_EQ(open.key.text1, "o1");
    EXPECT_EQ(open.key.text2, "o2");
    EXPECT_FALSE(open < close);
    EXPECT_FALSE(close < open);
    const HiddenItem inner = ItemAt(at.nestedInnerClose);
    EXPECT_EQ(inner.key.text1, "i1");
    EXPECT_EQ(inner.key.text2, "i2");
    EXPECT_TRUE(inner < open || open < inner);

    HiddenTable table;
    auto cursor = At(at.nestedOuterOpen);
    EXPECT_TRUE(table.Add(*cursor, 17));
    // The cursor stands past the paren's text.
    EXPECT_EQ(cursor->GetPosition(), at.nestedOuterOpen + 3);
    EXPECT_FALSE(table.Add(*At(at.nestedOuterClose), 23));
    EXPECT_EQ(table.Lookup(*At(at.nestedOuterClose)).id, 17);
    EXPECT_EQ(table.Lookup(*At(at.nestedOuterOpen)).id, 17);
    EXPECT_EQ(table.Lookup(*At(at.nestedInnerOpen)).id, -1);
}

TEST_F(HiddenTest, AnOuterPairFindsItsPartnerOverSiblingPairs)
{
    const HiddenItem outer = ItemAt(at.siblingOpen[0]);
    EXPECT_EQ(outer.key.text1, "S");
    EXPECT_EQ(outer.key.text2, "s");
    const HiddenItem fromClose = ItemAt(at.siblingClose[0]);
    EXPECT_EQ(fromClose.key.text1, "S");
    EXPECT_EQ(fromClose.key.text2, "s");
    EXPECT_EQ(ItemAt(at.siblingClose[2]).key.text1, "B");
    EXPECT_EQ(ItemAt(at.siblingOpen[1]).key.text2, "a");
}

TEST_F(HiddenTest, AnUnmatchedParenIsLoggedAndGivesNoItem)
{
    const std::string before = GeneralLog();
    HiddenTable table;
    auto cursor = At(at.unmatchedClose);
    EXPECT_FALSE(table.Add(*cursor, 3));
    EXPECT_EQ(cursor->GetPosition(), at.unmatchedClose + 2);
    EXPECT_EQ(table.Count(), 0u);
    const std::string line = "\u00A5Unable to find paren:  mOpcode=27  myOffset=" + std::to_string(at.unmatchedClose) +
                             "  story->mTextLen=" + std::to_string(text->mInitLen) + "\n";
    EXPECT_NE(GeneralLog().find(line, before.size()), std::string::npos) << GeneralLog();
    EXPECT_NE(GeneralLog().find("######## BreakPoint_KS:", before.size()), std::string::npos);
    EXPECT_EQ(table.Lookup(*At(at.unmatchedClose)).id, -1);
}

TEST_F(HiddenTest, ItemsOfKindOneAreKeptApartByTheirValues)
{
    HiddenTable table;
    QStoryCursor cursor(*text);
    int added = 0;
    std::vector<uint32_t> values;
    while (cursor.HasMore()) {
        if (cursor.GetRunKind() == 1) {
            const int32_t position = cursor.GetPosition();
            values.push_back(HiddenItem(*At(position)).value);
            added += table.Add(cursor, 5 + added) ? 1 : 0;
            continue;
        }
        cursor.Next();
    }
    EXPECT_EQ(values, (std::vector<uint32_t>{7, 8}));
    EXPECT_EQ(added, 2);
}

TEST_F(HiddenTest, TheModuleTagRunIsSteppedOver)
{
    QStoryCursor cursor(*text);
    while (cursor.HasMore() && !IsModuleTagKind(cursor.GetRunKind()))
        cursor.Next();
    ASSERT_TRUE(cursor.HasMore());
    const int32_t start = cursor.GetPosition();
    const int32_t end = cursor.NextBoundary();
    HiddenTable table;
    EXPECT_FALSE(table.Add(cursor, 1));
    EXPECT_GE(cursor.GetPosition(), start + 1);
    EXPECT_LE(cursor.GetPosition(), end);
    EXPECT_EQ(table.Count(), 0u);
}

TEST_F(HiddenTest, TheUniqueIdRunIsASingleItemWithItsText)
{
    const HiddenItem uniq = ItemAt(at.uniq);
    EXPECT_EQ(uniq.mOpcode, 0x88u);
    EXPECT_EQ(uniq.key.text1, "      42");
    EXPECT_TRUE(uniq.key.text2.empty());
    EXPECT_EQ(ParenDirection(uniq), 1000);
}

TEST_F(HiddenTest, TheMappingNumbersTheHiddenContentAfterTheStories)
{
    Mapper mapper;
    ASSERT_EQ(mapper.AnaliseDocument(), 1);
    // Two anchored picture items take ids of their own, then each distinct hidden item.
    EXPECT_EQ(mapper.HiddenBase(), 3);
    EXPECT_GT(mapper.LinkIdCount(), mapper.HiddenBase());
    QStoryText story(Box(at.storyBox));
    QStoryCursor open(story);
    AdvanceCursorTo(open, at.nestedOuterOpen);
    QStoryCursor close(story);
    AdvanceCursorTo(close, at.nestedOuterClose);
    int32_t openId = -1, closeId = -1;
    ASSERT_TRUE(mapper.GetHiddenId(open, openId));
    ASSERT_TRUE(mapper.GetHiddenId(close, closeId));
    EXPECT_EQ(openId, closeId);
    EXPECT_GE(openId, mapper.HiddenBase());
    HiddenRecord record;
    QStoryCursor lone(story);
    AdvanceCursorTo(lone, at.unmatchedClose);
    mapper.FindHidden(record, lone);
    EXPECT_EQ(record.id, -1);
}

// Opcode classes 0xA0, 0xC0 and 0xE0 are logged as unusual and then handled by their type bits:
// 0xC5 opens what 0xA5 closes, 0xE5 (both type bits) stands alone.
class UnusualOpcodeTest : public kesto_test::ModuleHostTest {
protected:
    UnusualOpcodeTest() : ModuleHostTest("filter") {}
};

TEST_F(UnusualOpcodeTest, UnusualClassesAreLoggedAndProcessed)
{
    Start();
    xthost::doc::DocBuilder b;
    const int32_t cf = b.PlainText(12 << 16);
    b.Page(0);
    const uint32_t box = b.TextBox(xthost::doc::Place::OnSpread(0), {36 << 16, 36 << 16, 200 << 16, 300 << 16});
    b.Story({box}).Text(u"a ", cf).Hidden(0xC5, "p", cf).Text(u"b", cf).Hidden(0xA5, "q", cf).Hidden(0xE5, "z", cf).End();
    const std::string path = (app / "unusual.qxp").string();
    ASSERT_TRUE(xthost::doc::WriteFileAtomically(path, b.Bytes()));
    ASSERT_EQ(Docs().Open(path, 63), XT_OK);

    QStoryText text(Box(box));
    QStoryCursor open(text);
    AdvanceCursorTo(open, 2);
    const HiddenItem pair(open);
    EXPECT_EQ(pair.key.text1, "p");
    EXPECT_EQ(pair.key.text2, "q");
    QStoryCursor close(text);
    AdvanceCursorTo(close, 5);
    EXPECT_EQ(HiddenItem(close).key.text1, "p");
    QStoryCursor single(text);
    AdvanceCursorTo(single, 7);
    const HiddenItem alone(single);
    EXPECT_EQ(alone.key.text1, "z");
    EXPECT_EQ(ParenDirection(alone), 1000);
    const std::string log = GeneralLog();
    EXPECT_NE(log.find("\nnon-usual optype=c0  opcode=c5\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nnon-usual optype=a0  opcode=a5\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nnon-usual optype=e0  opcode=e5\n"), std::string::npos) << log;
}

} // namespace
