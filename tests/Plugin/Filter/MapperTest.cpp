// The story-to-box mapping against the emulated host on the shipped examples: link ids in walk
// order, the filler test, the stored bytes, a second analysis, save and reopen, the unused
// master page, and the removal of every trace.
#include <gtest/gtest.h>

#include <vector>

#include "Plugin/Filter/Filter_KS.h"
#include "Plugin/Filter/KestoBox.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/Shell/HostSuites.h"
#include "platform/host/documents/DocumentFile.h"

namespace {

class MapperTest : public kesto_test::ModuleHostTest {
protected:
    MapperTest() : ModuleHostTest("filter") {}

    // The bytes stored under key in a box, empty when there are none.
    std::vector<uint8_t> Stored(XTHandle box, uint32_t key)
    {
        XTHandle owner = 0;
        EXPECT_EQ(CallHost<XBY_PrivateOwner>(box, &owner), XT_OK);
        uint8_t bytes[16] = {};
        int32_t size = sizeof bytes;
        EXPECT_EQ(CallHost<XBY_GetPrivate>(owner, key, bytes, &size), XT_OK);
        return std::vector<uint8_t>(bytes, bytes + size);
    }

    int32_t LinkOf(uint32_t uid)
    {
        int32_t id = -100;
        return GetBoxPrivateData32(Box(uid), BoxLinkIdKey, &id) ? id : -100;
    }

    // The uids of mapping.qxp (examples builder): the head of the three-box chain, the anchored
    // caption, the story holding it, the two members of the group, the 19 spaced dots and the
    // 19 spaced pairs.
    static constexpr uint32_t kChainHead = 1, kCaption = 7, kAnchorHost = 9, kMember1 = 11, kMember2 = 13,
                              kDots19 = 18, kPairs19 = 22;
    static constexpr uint32_t kLinked[] = {kChainHead, kCaption, kAnchorHost, kMember1, kMember2, kDots19, kPairs19};
    static constexpr int32_t kStories = 7;
    static constexpr uint32_t kChainRest[] = {3, 5};
    static constexpr uint32_t kUnlinked[] = {16, 20, 24};
};

TEST_F(MapperTest, AnalysisNumbersTheStoriesInWalkOrder)
{
    Start();
    OpenExample("mapping.qxp");
    Mapper mapper;
    EXPECT_EQ(mapper.AnaliseDocument(), kStories);
    EXPECT_EQ(mapper.StoryCount(), kStories);

    // The anchored caption is numbered before the story that holds it; the group's members
    // follow the group in the spread's walk.
    for (int32_t id = 0; id < kStories; ++id)
        EXPECT_EQ(LinkOf(kLinked[id]), id) << id;
    for (uint32_t uid : kChainRest)
        EXPECT_EQ(LinkOf(uid), -100) << uid;
    // 20 dots, 20 pairs and the empty box stay unlinked.
    for (uint32_t uid : kUnlinked) {
        EXPECT_EQ(LinkOf(uid), -100) << uid;
        EXPECT_TRUE(Stored(Box(uid), BoxLinkMarkKey).empty()) << uid;
    }

    for (int32_t id = 0; id < kStories; ++id) {
        EXPECT_EQ(mapper.FindBox(id), Box(kLinked[id])) << id;
        EXPECT_EQ(Stored(Box(kLinked[id]), BoxLinkMarkKey), (std::vector<uint8_t>{0xAC, 0xAC})) << id;
    }
    EXPECT_EQ(mapper.FindBox(kStories), 0);
    EXPECT_EQ(Stored(Box(kCaption), BoxLinkIdKey), (std::vector<uint8_t>{0, 0, 0, 1}));

    // The private working boxes carry -1 and -2, big-endian, and the mark.
    const XTHandle first = mapper.FindBox(-1);
    const XTHandle second = mapper.FindBox(-2);
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    EXPECT_EQ(Stored(first, BoxLinkIdKey), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Stored(second, BoxLinkIdKey), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(Stored(second, BoxLinkMarkKey), (std::vector<uint8_t>{0xAC, 0xAC}));
    ASSERT_NE(dynamic_cast<KestoBoxExp*>(mapper.PrivateBox()), nullptr);
}

TEST_F(MapperTest, ASecondAnalysisGivesTheSameIds)
{
    Start();
    OpenExample("mapping.qxp");
    Mapper mapper;
    ASSERT_EQ(mapper.AnaliseDocument(), kStories);
    std::vector<XTHandle> boxes;
    for (int32_t id = 0; id < kStories; ++id)
        boxes.push_back(mapper.FindBox(id));
    const XTHandle oldPrivate = mapper.FindBox(-1);

    Mapper again;
    ASSERT_EQ(again.AnaliseDocument(), kStories);
    for (int32_t id = 0; id < kStories; ++id)
        EXPECT_EQ(again.FindBox(id), boxes[static_cast<size_t>(id)]) << id;
    // The old private boxes went with the first analysis's traces.
    EXPECT_NE(again.FindBox(-1), oldPrivate);
    EXPECT_NE(again.FindBox(-1), 0);
}

TEST_F(MapperTest, TheSavedLinksAreFoundAgainAfterReopening)
{
    Start();
    const std::string path = OpenExample("mapping.qxp");
    std::vector<XTHandle> probesBefore;
    {
        Mapper mapper;
        ASSERT_EQ(mapper.AnaliseDocument(), kStories);
    }
    const std::string saved = (app / "analysed.qxp").string();
    ASSERT_EQ(Docs().SaveAs(saved), XT_OK);

    // The saved document passes the loader's checks and holds the link values.
    const std::string text = kesto_test::ReadText(saved);
    EXPECT_NO_THROW(xthost::doc::ReadDocumentFile(saved));
    EXPECT_NE(text.find("[\"08414b42\", \"00000000\"]"), std::string::npos);
    EXPECT_NE(text.find("[\"09414b42\", \"acac\"]"), std::string::npos);
    EXPECT_NE(text.find("\"ffffffff\""), std::string::npos);
    EXPECT_NE(text.find("\"fffffffe\""), std::string::npos);

    ASSERT_EQ(CloseProject(-1, 1), XT_OK);
    ASSERT_EQ(Docs().Open(saved, 63), XT_OK);
    Mapper importer;
    ASSERT_TRUE(importer.Connect());
    EXPECT_EQ(importer.StoryCount(), kStories);
    EXPECT_EQ(importer.FindBox(1), Box(kCaption));
    const auto* probes = dynamic_cast<KestoBoxImp*>(importer.PrivateBox());
    ASSERT_NE(probes, nullptr);
    EXPECT_EQ(probes->Width(), 2);
    EXPECT_EQ(probes->mode, 2);
    ASSERT_FALSE(probes->Probes().empty());
    EXPECT_EQ(probes->Probes()[0].box, importer.FindBox(-2));
    EXPECT_EQ(probes->Probes()[0].start, 0);
    EXPECT_EQ(probes->Probes()[0].length, 2);
}

TEST_F(MapperTest, UnInstallLeavesNoKeyAndNoPrivateBox)
{
    Start();
    OpenExample("mapping.qxp");
    Mapper mapper;
    ASSERT_EQ(mapper.AnaliseDocument(), kStories);
    const size_t workBoxes = WorkBoxCount();
    mapper.UnInstall();
    // The disposed private boxes leave the work-box list with their handles.
    EXPECT_EQ(WorkBoxCount(), workBoxes - 2);
    EXPECT_EQ(mapper.StoryCount(), 0);
    EXPECT_EQ(FindBoxByPrivateData16(BoxLinkMarkKey, BoxLinkMark), 0);
    EXPECT_EQ(mapper.FindBox(-1), 0);
    EXPECT_EQ(mapper.FindBox(-2), 0);
    for (uint32_t uid : kLinked) {
        EXPECT_TRUE(Stored(Box(uid), BoxLinkIdKey).empty()) << uid;
        EXPECT_TRUE(Stored(Box(uid), BoxLinkMarkKey).empty()) << uid;
    }
    // A document without links is left as it is.
    mapper.UnInstall();
    EXPECT_FALSE(mapper.Connect());
}

TEST_F(MapperTest, ConnectWithoutLinkedStoriesAnswersFalse)
{
    Start();
    OpenExample("minimal.qxp");
    Mapper mapper;
    EXPECT_FALSE(mapper.Connect());
}

TEST_F(MapperTest, AStoryOfAnUnusedMasterPageIsFoundOnItsPage)
{
    Start("[Options]\nmasterPageMode=0\n");
    OpenExample("masters.qxp");
    Mapper mapper;
    const int32_t count = mapper.AnaliseDocument();
    ASSERT_GT(count, 0);
    // Master B (master page 2, entry 4 of the master list) is unused: its story comes last.
    const int32_t last = count - 1;
    ASSERT_EQ(mapper.UnusedMasterMap().count(last), 1u);
    EXPECT_EQ(mapper.UnusedMasterMap().at(last), 4);
    EXPECT_EQ(mapper.FindBox(last), Box(5));
    EXPECT_TRUE(mapper.ViewOnMaster());
    XTHandle doc = 0;
    const XTHandle view = xt_getdocviewref(&doc);
    XTHandle shown = 0, masterB = 0;
    uint8_t isMaster = 0;
    ASSERT_EQ(CallHost<XDD_CurrentSpread>(view, &shown), XT_OK);
    ASSERT_EQ(CallHost<XPH_MasterEntry>(doc, 4, &masterB, &isMaster), XT_OK);
    EXPECT_EQ(shown, masterB);

    // After saving and reopening, the link on the unused master page is found the same way.
    mapper.MasterPatch();
    const std::string saved = (app / "masters-analysed.qxp").string();
    ASSERT_EQ(Docs().SaveAs(saved), XT_OK);
    ASSERT_EQ(CloseProject(-1, 1), XT_OK);
    ASSERT_EQ(Docs().Open(saved, 63), XT_OK);
    Mapper importer;
    ASSERT_TRUE(importer.Connect());
    EXPECT_EQ(importer.StoryCount(), count);
    EXPECT_NE(importer.FindBox(last), 0);
    EXPECT_TRUE(importer.ViewOnMaster());
}

TEST_F(MapperTest, AnAnchoredBoxTheHostDoesNotReturnIsCountedAndLogged)
{
    Start();
    OpenExample("mapping.qxp");
    host->Faults().Add(xthost::FaultRule{"BOX-7", -50, 0, 1});
    Mapper mapper;
    EXPECT_EQ(mapper.AnaliseDocument(), kStories - 1);
    host->Faults().Clear();
    // The connection at the end of the analysis starts the count again.
    EXPECT_EQ(mapper.AnchBoxLives(), 0);
    EXPECT_EQ(LinkOf(kCaption), -100);
    EXPECT_EQ(LinkOf(kAnchorHost), 1);
    EXPECT_NE(GeneralLog().find("#######AnchBox is not AnchBox######, lives remain: 0\nstart=18    Story size=33\n"),
              std::string::npos)
        << GeneralLog();
}

TEST_F(MapperTest, AFailedViewSwitchIsReportedAtItsSite)
{
    Start("[Options]\ntestMode=1\n");
    OpenExample("mapping.qxp");
    Mapper mapper;
    ASSERT_EQ(mapper.AnaliseDocument(), kStories);
    host->Faults().Add(xthost::FaultRule{"VIEW-1", -50, 0, 1});
    const std::string before = GeneralLog();
    EXPECT_EQ(mapper.FindBox(99), 0);
    host->Faults().Clear();
    const std::string rule(80, ':');
    EXPECT_NE(GeneralLog().find("\n" + rule + "\nAPI_FAILURE<RETURN_VALUE>:\tFilter_KS.cpp[671]:Mapper::FindBox()\n" + rule + "\n",
                                before.size()),
              std::string::npos)
        << GeneralLog().substr(before.size());
}

TEST_F(MapperTest, UnInstallStopsWhenTheHostKeepsAMark)
{
    Start();
    OpenExample("mapping.qxp");
    Mapper mapper;
    ASSERT_EQ(mapper.AnaliseDocument(), kStories);
    // The host takes every private-data change without doing it.
    host->Faults().Add(xthost::FaultRule{"PD-3", 0, 0, -1});
    mapper.UnInstall();
    host->Faults().Clear();
    EXPECT_NE(FindBoxByPrivateData16(BoxLinkMarkKey, BoxLinkMark), 0);
}

} // namespace
