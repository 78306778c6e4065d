// Box records, the registries the host's box callbacks fill, the box classes and the shape swap,
// against the emulated host on masters.qxp, overflow.qxp and geometry.qxp.
#include <gtest/gtest.h>

#include <string>

#include "Plugin/Mixer/BoxRecords.h"
#include "Plugin/Mixer/HostHooks.h"
#include "Plugin/Mixer/MasterPages.h"
#include "Plugin/ModuleHostFixture.h"

namespace {

const std::string kRule(80, ':');

std::string Hex(XTHandle box)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(box));
    return text;
}

class BoxRecordsTest : public kesto_test::ModuleHostTest {
protected:
    BoxRecordsTest() : ModuleHostTest("mixer") {}

    void Copy(uint32_t source, uint32_t destination)
    {
        xtmasterboxcopyrec rec{Box(source), Box(destination)};
        EXPECT_EQ(MasterBoxCopyHook(&rec), 0);
    }
    void Autotext(uint32_t box)
    {
        xtautotextboxrec rec{Box(box)};
        EXPECT_EQ(AutotextBoxHook(&rec), 0);
    }
    BoxClass Classify(uint32_t uid, int16_t* spread = nullptr) { return ClassifyMasterBox(ct_Box(Box(uid), 0), spread); }

    xthost::doc::Box& Model(uint32_t uid)
    {
        xthost::doc::DocHost::Target target;
        EXPECT_TRUE(Docs().ResolveBox(Box(uid), "test", &target));
        return *target.box;
    }

    // masters.qxp: master A's header (1) and automatic text box (3), master B's box (5), the
    // header copies (7, 11, 14), the automatic text copies (9, 13, 16) and a plain box (17).
    static constexpr uint32_t kHeader = 1, kAutoText = 3, kUnusedMaster = 5, kCopy1 = 7, kCopy2 = 11,
                              kAutoCopy = 9, kPlain = 17;
};

TEST_F(BoxRecordsTest, TheCallbacksFillTheRegistries)
{
    Start("[Options]\nmasterPageLogMode=4\n");
    OpenExample("masters.qxp");
    const std::string before = GeneralLog();

    Copy(kHeader, kCopy1);
    Copy(kHeader, kCopy2);
    Copy(kHeader, kCopy2);
    // A source that is not on a master page changes nothing and logs nothing.
    Copy(kPlain, kCopy1);
    ASSERT_EQ(MasterBoxRegistry->size(), 1u);
    const ct_MBox& entry = MasterBoxRegistry->at(static_cast<uint32_t>(Box(kHeader)));
    EXPECT_EQ(entry.usages.size(), 2u);
    EXPECT_EQ(entry.masterSpread, 0);
    EXPECT_EQ(entry.spreadName, "<INVALID>");
    EXPECT_EQ(entry.flag, 1);
    EXPECT_TRUE(entry.IsTextBox());

    Autotext(kAutoCopy);
    Autotext(kAutoCopy);
    Autotext(kAutoText);  // on a master page: ignored
    EXPECT_EQ(AutotextBoxRegistry->size(), 1u);

    const std::string h = Hex(Box(kHeader));
    const std::string expected = "\nSRCBOX 1: " + h + "\n\nDSTBOX 1: " + Hex(Box(kCopy1)) + "\n\nSRCBOX 0: " + h +
                                 "\n\nDSTBOX 1: " + Hex(Box(kCopy2)) + "\n\nSRCBOX 0: " + h + "\n\nDSTBOX 0: " +
                                 Hex(Box(kCopy2)) + "\n\nRegister linked layout box as AUTOTEXT BOX: " +
                                 Hex(Box(kAutoCopy)) + "\n\nLinked layout box already registered as AUTOTEXT BOX: " +
                                 Hex(Box(kAutoCopy)) + "\n";
    EXPECT_EQ(GeneralLog().substr(before.size()), expected);
}

TEST_F(BoxRecordsTest, BoxesAreClassifiedByTheRegistries)
{
    Start("[Options]\nmasterPageLogMode=4\n");
    OpenExample("masters.qxp");
    MasterBoxRegistry->emplace(static_cast<uint32_t>(Box(kUnusedMaster)), ct_MBox(Box(kUnusedMaster), 2));
    MasterBoxRegistry->emplace(static_cast<uint32_t>(Box(kHeader)), ct_MBox(Box(kHeader), 1));
    int16_t spread = -1;
    EXPECT_EQ(Classify(kHeader, &spread), BoxClassMasterUnused);
    EXPECT_EQ(spread, 1);
    Copy(kHeader, kCopy1);
    EXPECT_EQ(Classify(kHeader), BoxClassMasterUsed);
    EXPECT_EQ(Classify(kCopy1), BoxClassLinkedLayout);
    Copy(kAutoText, kAutoCopy);
    Autotext(kAutoCopy);
    EXPECT_EQ(Classify(kAutoCopy), BoxClassLinkedAutotext);
    EXPECT_EQ(Classify(kPlain), BoxClassLayout);
    EXPECT_EQ(Classify(kUnusedMaster, &spread), BoxClassMasterUnused);
    EXPECT_EQ(spread, 2);
    const std::string log = GeneralLog();
    EXPECT_NE(log.find("\nMasterpage box (used): " + Hex(Box(kHeader)) + "\n"), std::string::npos);
    EXPECT_NE(log.find("\nLayout box linked to master (NOT autotext): " + Hex(Box(kCopy1)) + "\n"), std::string::npos);
    EXPECT_NE(log.find("\nAutotext box linked to master: " + Hex(Box(kAutoCopy)) + "\n"), std::string::npos);
    EXPECT_NE(log.find("\nLayout box (NOT linked to any master): " + Hex(Box(kPlain)) + "\n"), std::string::npos);
}

TEST_F(BoxRecordsTest, AMasterBoxRecordCarriesItsPageAndName)
{
    Start();
    OpenExample("masters.qxp");
    const ct_MBox none(0, 1);
    EXPECT_EQ(none.spreadName, "<INVALID>");
    EXPECT_EQ(none.SpreadWord(), 0);
    const ct_MBox unknown(Box(kHeader), 0);
    EXPECT_EQ(unknown.spreadName, "<INVALID>");
    const ct_MBox a(Box(kHeader), 1);
    EXPECT_EQ(a.spreadName, "A-Master A");
    EXPECT_EQ(a.SpreadWord(), 3);
    EXPECT_EQ(a.storyId, -1);
    const ct_MBox b(Box(kUnusedMaster), 2);
    EXPECT_EQ(b.spreadName, "B-Master B");
    const ct_Box layout(Box(kPlain), 0);
    EXPECT_EQ(layout.SpreadWord(), 1);
    EXPECT_EQ(layout.flag, 0);
}

TEST_F(BoxRecordsTest, AFailedLocationIsReportedInTestMode)
{
    Start("[Options]\ntestMode=1\n");
    OpenExample("masters.qxp");
    host->Faults().Add(xthost::FaultRule{"BOX-4", -50, 0, 1});
    const std::string before = GeneralLog();
    const ct_Box record(Box(kPlain), 0);
    EXPECT_EQ(record.SpreadWord(), 0);
    EXPECT_EQ(GeneralLog().substr(before.size()),
              "\n" + kRule + "\nAPI_FAILURE<RETURN_EMPTY>:\tMixer.cpp[3435]:ct_Box::ct_Box()\n" + kRule + "\n");
}

class BoxShapeTest : public BoxRecordsTest {};

TEST_F(BoxShapeTest, ASimpleShapeTakesTheBoundsDirectly)
{
    Start();
    OpenExample("geometry.qxp");
    const std::string before = GeneralLog();
    const int32_t l = 72 << 16, t = 300 << 16, r = 300 << 16, b = 450 << 16;
    EXPECT_EQ(CheckBoxShape(Box(5), l, t, r, b, nullptr, nullptr, false), 0);
    const xthost::doc::Box& box = Model(5);
    EXPECT_EQ(box.bounds.top, t);
    EXPECT_EQ(box.bounds.left, l);
    EXPECT_EQ(box.bounds.bottom, b);
    EXPECT_EQ(box.bounds.right, r);
    EXPECT_EQ(box.shape, 9);
    EXPECT_EQ(GeneralLog().substr(before.size()),
              "Box shape type:      ->     Oval                                             <- \n");
}

TEST_F(BoxShapeTest, ALockedSizeIsFreedByTheSavedWordAndRestored)
{
    Start();
    OpenExample("overflow.qxp");
    const xthost::doc::Rect old = Model(15).bounds;
    const int32_t bottom = old.bottom + (20 << 16);
    // Without the saved word the host refuses the new size.
    EXPECT_EQ(CheckBoxShape(Box(15), old.left, old.top, old.right, bottom, nullptr, nullptr, false), 1);
    EXPECT_NE(GeneralLog().find("       WARNING: Constraint violation for box " + std::to_string(Box(15)) + ":\t1\n"),
              std::string::npos);
    EXPECT_EQ(Model(15).bounds.bottom, old.bottom);

    uint32_t saved = 0;
    EXPECT_EQ(CheckBoxShape(Box(15), old.left, old.top, old.right, bottom, &saved, nullptr, false), 0);
    EXPECT_EQ(saved, 1u);
    EXPECT_EQ(Model(15).savedWord, 0u);
    EXPECT_EQ(Model(15).bounds.bottom, bottom);
    EXPECT_EQ(CheckBoxShape(Box(15), old.left, old.top, old.right, bottom, &saved, nullptr, true), 0);
    EXPECT_EQ(Model(15).savedWord, 1u);
}

TEST_F(BoxShapeTest, AComplexShapeIsSwappedForARectangleAndBack)
{
    Start();
    OpenExample("overflow.qxp");
    for (uint32_t uid : {19u, 21u}) {
        const std::vector<xthost::doc::Point> original = Model(uid).outline;
        const xthost::doc::Rect old = Model(uid).bounds;
        const int32_t bottom = old.bottom + (30 << 16);
        uint32_t saved = 0;
        XTHandle shape = 0;
        const std::string before = GeneralLog();
        EXPECT_EQ(CheckBoxShape(Box(uid), old.left, old.top, old.right, bottom, &saved, &shape, false), 0) << uid;
        EXPECT_NE(shape, 0);
        const auto& swapped = Model(uid).outline;
        ASSERT_EQ(swapped.size(), 5u) << uid;
        EXPECT_EQ(swapped[0].v, old.top + 0x10000);
        EXPECT_EQ(swapped[0].h, old.left + 0x10000);
        EXPECT_EQ(swapped[2].v, bottom + 0x10000);
        EXPECT_EQ(swapped[2].h, old.right + 0x10000);
        EXPECT_EQ(Model(uid).bounds.bottom, bottom);
        EXPECT_NE(GeneralLog().find("    ATTENTION - Complex box shape treated with hidden-workaround", before.size()),
                  std::string::npos);
        EXPECT_NE(GeneralLog().find("      STEP 1/2: Replace with pseudo-rectangular shape (5 points).", before.size()),
                  std::string::npos);

        // Restoring disposes the rectangle and the saved outline, whose handle is then cleared.
        const size_t disposed = CountCalls("SHP-3");
        EXPECT_EQ(CheckBoxShape(Box(uid), old.left, old.top, old.right, bottom, &saved, &shape, true), 0);
        EXPECT_EQ(Calls(disposed), 2);
        EXPECT_EQ(shape, 0);
        EXPECT_EQ(Model(uid).outline.size(), original.size());
        EXPECT_EQ(Model(uid).outline[2].h, original[2].h);
        EXPECT_NE(GeneralLog().find("      STEP 2/2: Restore original complex shape.", before.size()), std::string::npos);
    }
}

TEST_F(BoxShapeTest, WhatCannotBeSwappedBackIsRefused)
{
    Start();
    OpenExample("overflow.qxp");
    const xthost::doc::Rect old = Model(19).bounds;
    const auto outline = Model(19).outline;
    // Without a place for the original outline a complex box would lose it.
    EXPECT_EQ(CheckBoxShape(Box(19), old.left, old.top, old.right, old.bottom + (9 << 16), nullptr, nullptr, false), 12);
    EXPECT_EQ(Model(19).bounds.bottom, old.bottom);
    EXPECT_EQ(Model(19).outline.size(), outline.size());
    EXPECT_EQ(CheckBoxShape(0, 0, 0, 1, 1, nullptr, nullptr, false), 12);
}

} // namespace
