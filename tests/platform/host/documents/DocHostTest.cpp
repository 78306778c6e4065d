// The document calls: master numbering, private-data scopes, handles, change flags,
// callbacks, records and file data.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <unistd.h>

#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/StoryEdit.h"
#include "platform/host/documents/testing/DocBuilder.h"
#include "platform/host/documents/testing/GroupExamples.h"
#include "TempDir.h"

namespace xthost::doc {
namespace {

const std::string kExamples = std::string(KESTO_SOURCE_DIR) + "/examples/documents/";

class DocHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.SetNote([this](const std::string& line) { transcript.push_back(line); });
        folder = std::make_unique<TempDir>("xthost-dochost");
        temp = folder->Path();
    }
    void TearDown() override { folder.reset(); }

    void Open(const std::string& example) { OpenFile(kExamples + example + ".qxp"); }
    // Opens the document file and takes its reference and view.
    void OpenFile(const std::string& path)
    {
        ASSERT_EQ(host.Open(path, 63), HostErr::Ok);
        int16_t id = 0;
        uint16_t index = 0;
        ASSERT_EQ(host.CurrentDocument(&id, &index), HostErr::Ok);
        ASSERT_EQ(host.DocumentRef(id, &doc), HostErr::Ok);
        ASSERT_EQ(host.DocumentView(doc, &view), HostErr::Ok);
    }
    bool Saw(const std::string& start) const
    {
        for (const auto& line : transcript)
            if (line.rfind(start, 0) == 0)
                return true;
        return false;
    }
    // PD-4's answer in the view, -1 when the call fails.
    int32_t Found(uint32_t key, const std::vector<uint8_t>& bytes)
    {
        int32_t found = -1;
        EXPECT_EQ(host.FindByPrivate(view, key, bytes, &found), HostErr::Ok);
        return found;
    }
    uint8_t Flags()
    {
        uint8_t flags = 0xFF;
        EXPECT_EQ(host.ChangeFlags(&flags), HostErr::Ok);
        return flags;
    }

    DocHost host;
    std::vector<std::string> transcript;
    std::unique_ptr<TempDir> folder;
    std::string temp;
    int32_t doc = 0, view = 0;
};

// Master page p is entry p + 2 of the kind-1 list; entries 1 and 2 are reserved.
TEST_F(DocHostTest, MasterPagesAreNumberedAfterTwoReservedEntries)
{
    Open("masters");
    int16_t count = 0;
    ASSERT_EQ(host.SpreadCount(doc, 1, &count), HostErr::Ok);
    EXPECT_EQ(count, 4);
    ASSERT_EQ(host.SpreadCount(doc, 0, &count), HostErr::Ok);
    EXPECT_EQ(count, 2);

    int32_t spread = 0;
    bool master = true, unused = true;
    std::string name = "x";
    for (int16_t m = 1; m <= 2; ++m) {
        ASSERT_EQ(host.SpreadAt(doc, m, &spread, &master), HostErr::Ok);
        EXPECT_FALSE(master);
        ASSERT_EQ(host.MasterSpreadAt(doc, m, &spread, &unused, &name), HostErr::Ok);
        EXPECT_FALSE(unused) << "a reserved entry is never unused";
        int32_t box = -1;
        ASSERT_EQ(host.FirstBox(spread, &box), HostErr::Ok);
        EXPECT_EQ(box, 0);
    }
    ASSERT_EQ(host.MasterSpreadAt(doc, 3, &spread, &unused, &name), HostErr::Ok);
    EXPECT_EQ(name, "A-Master A");
    EXPECT_FALSE(unused);
    const int32_t masterA = spread;
    ASSERT_EQ(host.MasterSpreadAt(doc, 4, &spread, &unused, &name), HostErr::Ok);
    EXPECT_EQ(name, "B-Master B");
    EXPECT_TRUE(unused);
    EXPECT_EQ(host.SpreadAt(doc, 5, &spread, &master), HostErr::BadRef);

    // The walk of master A and the location word of its boxes (which DOC-16 takes).
    int32_t box = 0;
    ASSERT_EQ(host.FirstBox(masterA, &box), HostErr::Ok);
    std::vector<uint32_t> uids;
    for (; box > 0; host.NextBox(box, &box)) {
        uids.push_back(host.BoxUid(box));
        int16_t word = 0;
        uint8_t opaque[8];
        ASSERT_EQ(host.BoxLocation(box, &word, opaque), HostErr::Ok);
        EXPECT_EQ(word, 3);
        ASSERT_EQ(host.MasterPageName(doc, word, &name), HostErr::Ok);
        EXPECT_EQ(name, "A-Master A");
        bool onMaster = false, item = false;
        host.IsOnMaster(box, &onMaster);
        host.IsMasterItem(box, masterA, &item);
        EXPECT_TRUE(onMaster && item);
    }
    EXPECT_EQ(uids, (std::vector<uint32_t>{1, 3}));
    EXPECT_EQ(host.MasterPageName(doc, 2, &name), HostErr::BadRef);
    EXPECT_EQ(host.MasterPageName(doc, 5, &name), HostErr::BadRef);

    // A layout box names its spread from 1.
    int16_t word = 0;
    uint8_t opaque[8];
    ASSERT_EQ(host.BoxLocation(host.BoxHandle(11), &word, opaque), HostErr::Ok);
    EXPECT_EQ(word, 2);

    // Showing master page 1 makes entry 3 the current spread; page 3 does not exist.
    ASSERT_EQ(host.GotoMaster(view, 1), HostErr::Ok);
    bool shows = false;
    host.ShowsMasters(view, &shows);
    EXPECT_TRUE(shows);
    ASSERT_EQ(host.CurrentSpread(view, &spread), HostErr::Ok);
    EXPECT_EQ(spread, masterA);
    EXPECT_EQ(host.GotoMaster(view, 3), HostErr::BadRef);
    ASSERT_EQ(host.GotoMaster(view, 0), HostErr::Ok);
    host.ShowsMasters(view, &shows);
    EXPECT_FALSE(shows);
}

// The walk of a spread reaches every item: a group, then its members, depth first; a group's
// members are items of the master page that holds the group; an anchored group is on no walk.
TEST_F(DocHostTest, TheSpreadWalkReachesGroupMembersDepthFirst)
{
    Open("groups");
    const GroupsLayout groups = GroupsExampleLayout();
    auto walk = [&](int32_t spread) {
        std::vector<uint32_t> uids;
        int32_t box = 0;
        EXPECT_EQ(host.FirstBox(spread, &box), HostErr::Ok);
        while (box > 0 && uids.size() < 100) {
            uids.push_back(host.BoxUid(box));
            EXPECT_EQ(host.NextBox(box, &box), HostErr::Ok);
        }
        return uids;
    };
    int32_t spread = 0;
    for (int16_t s = 1; s <= 2; ++s) {
        ASSERT_EQ(host.LayoutSpreadAt(doc, s, &spread), HostErr::Ok);
        EXPECT_EQ(walk(spread), groups.walk[s - 1]) << "spread " << s;
    }

    bool unused = false;
    std::string name;
    ASSERT_EQ(host.MasterSpreadAt(doc, 4, &spread, &unused, &name), HostErr::Ok);
    ASSERT_TRUE(unused);
    EXPECT_EQ(walk(spread), groups.masterWalk);
    int32_t masterA = 0;
    ASSERT_EQ(host.MasterSpreadAt(doc, 3, &masterA, &unused, &name), HostErr::Ok);
    for (uint32_t uid : groups.masterWalk) {
        bool item = false;
        ASSERT_EQ(host.IsMasterItem(host.BoxHandle(uid), spread, &item), HostErr::Ok);
        EXPECT_TRUE(item) << uid;
        ASSERT_EQ(host.IsMasterItem(host.BoxHandle(uid), masterA, &item), HostErr::Ok);
        EXPECT_FALSE(item) << uid;
    }

    std::vector<int32_t> members;
    bool group = false;
    ASSERT_EQ(host.GroupMembers(host.BoxHandle(groups.anchoredGroup), &group, &members), HostErr::Ok);
    ASSERT_EQ(members.size(), 3u);
    for (int32_t box : members) {
        int32_t next = -1;
        ASSERT_EQ(host.NextBox(box, &next), HostErr::Ok);
        EXPECT_EQ(next, 0) << host.BoxUid(box);
    }
}

TEST_F(DocHostTest, PagesNumberBoxesByTheirCentre)
{
    Open("masters");
    int16_t page = 0;
    ASSERT_EQ(host.PageOfBox(host.BoxHandle(17), &page), HostErr::Ok);
    EXPECT_EQ(page, 1);
    ASSERT_EQ(host.PageOfBox(host.BoxHandle(14), &page), HostErr::Ok);
    EXPECT_EQ(page, 3) << "the right-hand page of the second spread";
    int32_t spread = 0;
    ASSERT_EQ(host.LayoutSpreadAt(doc, 2, &spread), HostErr::Ok);
    std::vector<PageInfo> pages;
    ASSERT_EQ(host.PageTable(spread, &pages), HostErr::Ok);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].bounds.left, 612 << 16);
    EXPECT_EQ(pages[1].number, 3);
    // A box off every page sits on the pasteboard (above 2000).
    int32_t record = 0;
    ASSERT_EQ(host.GetRecord(host.BoxHandle(17), &record), HostErr::Ok);
    host.Record(record)->bounds = Rect{-(200 << 16), -(200 << 16), -(100 << 16), -(100 << 16)};
    uint16_t violation = 9;
    ASSERT_EQ(host.ApplyRecord(record, host.BoxHandle(17), &violation), HostErr::Ok);
    EXPECT_EQ(violation, 0);
    ASSERT_EQ(host.PageOfBox(host.BoxHandle(17), &page), HostErr::Ok);
    EXPECT_EQ(page, kPasteboardPage);
}

// PD-4 answers from an index: every change of boxes, private data or anchored boxes must
// leave its answers those of a walk in walk order.
TEST_F(DocHostTest, PrivateDataSearchStaysExactThroughChanges)
{
    Open("mapping");
    const uint32_t key = 0x09414B42;
    const std::vector<uint8_t> mark = {0xAC, 0xAC}, other = {0xAC, 0xAD};
    const int32_t first = host.BoxHandle(1), caption = host.BoxHandle(7), member = host.BoxHandle(13);
    ASSERT_NE(caption, 0);
    ASSERT_NE(member, 0);
    auto find = [&](const std::vector<uint8_t>& bytes) { return Found(key, bytes); };
    EXPECT_EQ(find(mark), 0);

    // Values set, replaced and removed; the layout is searched with its anchored boxes and group
    // members.
    ASSERT_EQ(host.SetPrivate(member, key, &mark), HostErr::Ok);
    EXPECT_EQ(find(mark), member);
    ASSERT_EQ(host.SetPrivate(caption, key, &mark), HostErr::Ok);
    EXPECT_EQ(find(mark), caption) << "the anchored box comes first in walk order";
    EXPECT_EQ(find({0xAC}), 0) << "the bytes must match exactly";
    ASSERT_EQ(host.SetPrivate(caption, key, nullptr), HostErr::Ok);
    EXPECT_EQ(find(mark), member);
    ASSERT_EQ(host.SetPrivate(member, key, &other), HostErr::Ok);
    EXPECT_EQ(find(mark), 0);
    EXPECT_EQ(find(other), member);
    ASSERT_EQ(host.SetPrivate(member, key + 1, &mark), HostErr::Ok);
    EXPECT_EQ(find(mark), 0) << "another key's value";

    // A box added (last in walk order) and removed.
    int32_t record = 0, spread = 0, made = 0;
    ASSERT_EQ(host.NewRecord(&record), HostErr::Ok);
    ASSERT_EQ(host.LayoutSpreadAt(doc, 1, &spread), HostErr::Ok);
    ASSERT_EQ(host.CreateTextBox(record, spread, &made), HostErr::Ok);
    EXPECT_EQ(find(other), member);
    ASSERT_EQ(host.SetPrivate(made, key, &other), HostErr::Ok);
    EXPECT_EQ(find(other), member);
    ASSERT_EQ(host.SetPrivate(member, key, nullptr), HostErr::Ok);
    EXPECT_EQ(find(other), made);
    ASSERT_EQ(host.SetPrivate(member, key, &other), HostErr::Ok);
    ASSERT_EQ(host.DisposeBox(member, 1), HostErr::Ok);
    EXPECT_EQ(find(other), made);
    ASSERT_EQ(host.DisposeBox(made, 1), HostErr::Ok);
    EXPECT_EQ(find(other), 0);

    // The caption's anchor copied into the first story, ahead in walk order: the copy holds
    // no private data until it is given some; its anchor deleted, the copy is gone.
    ASSERT_EQ(host.SetPrivate(caption, key, &mark), HostErr::Ok);
    EXPECT_EQ(find(mark), caption);
    int32_t anchorText = 0, firstText = 0, length = 0, anchored = 0;
    ASSERT_EQ(host.StoryOfBox(host.BoxHandle(9), &anchorText, &length), HostErr::Ok);
    ASSERT_EQ(host.AnchoredBox(anchorText, 18, &anchored), HostErr::Ok);
    ASSERT_EQ(anchored, caption);
    ASSERT_EQ(host.StoryOfBox(first, &firstText, &length), HostErr::Ok);
    ASSERT_EQ(host.CopyText(anchorText, 18, 19, firstText, 0), HostErr::Ok);
    int32_t copy = 0;
    ASSERT_EQ(host.AnchoredBox(firstText, 0, &copy), HostErr::Ok);
    ASSERT_NE(copy, 0);
    ASSERT_NE(copy, caption);
    EXPECT_EQ(find(mark), caption);
    ASSERT_EQ(host.SetPrivate(copy, key, &mark), HostErr::Ok);
    EXPECT_EQ(find(mark), copy);
    ASSERT_EQ(host.DeleteText(firstText, 0, 1), HostErr::Ok);
    EXPECT_EQ(find(mark), caption);
    ASSERT_EQ(host.DeleteText(anchorText, 18, 19), HostErr::Ok);
    EXPECT_EQ(find(mark), 0);
}

// The master view's answers are kept while the layout view is shown, and the other way round.
TEST_F(DocHostTest, PrivateDataSearchKeepsBothScopes)
{
    Open("masters");
    const uint32_t key = 0x08414B42;
    const std::vector<uint8_t> id = {0, 0, 0, 7};
    const int32_t masterBox = host.BoxHandle(5), layoutBox = host.BoxHandle(17);
    auto find = [&] { return Found(key, id); };
    ASSERT_EQ(host.GotoMaster(view, 1), HostErr::Ok);
    EXPECT_EQ(find(), 0);
    ASSERT_EQ(host.GotoMaster(view, 0), HostErr::Ok);
    EXPECT_EQ(find(), 0);
    ASSERT_EQ(host.SetPrivate(masterBox, key, &id), HostErr::Ok);
    EXPECT_EQ(find(), 0);
    ASSERT_EQ(host.SetPrivate(layoutBox, key, &id), HostErr::Ok);
    EXPECT_EQ(find(), layoutBox);
    ASSERT_EQ(host.GotoMaster(view, 2), HostErr::Ok);
    EXPECT_EQ(find(), masterBox);
    ASSERT_EQ(host.SetPrivate(masterBox, key, nullptr), HostErr::Ok);
    EXPECT_EQ(find(), 0);
    ASSERT_EQ(host.GotoMaster(view, 0), HostErr::Ok);
    ASSERT_EQ(host.SetPrivate(layoutBox, key, nullptr), HostErr::Ok);
    EXPECT_EQ(find(), 0);
}

TEST_F(DocHostTest, PrivateDataSearchInMasterViewCoversEveryMaster)
{
    Open("masters");
    const uint32_t key = 0x08414B42;
    const std::vector<uint8_t> id = {0, 0, 0, 7};
    const int32_t unusedMasterBox = host.BoxHandle(5), layoutBox = host.BoxHandle(17);
    ASSERT_EQ(host.SetPrivate(unusedMasterBox, key, &id), HostErr::Ok);
    int32_t found = -1;
    ASSERT_EQ(host.FindByPrivate(view, key, id, &found), HostErr::Ok);
    EXPECT_EQ(found, 0) << "layout view does not see master boxes";
    ASSERT_EQ(host.GotoMaster(view, 1), HostErr::Ok);
    ASSERT_EQ(host.FindByPrivate(view, key, id, &found), HostErr::Ok);
    EXPECT_EQ(found, unusedMasterBox) << "master view on A still finds B's box";
    ASSERT_EQ(host.SetPrivate(unusedMasterBox, key, nullptr), HostErr::Ok);
    ASSERT_EQ(host.SetPrivate(layoutBox, key, &id), HostErr::Ok);
    ASSERT_EQ(host.FindByPrivate(view, key, id, &found), HostErr::Ok);
    EXPECT_EQ(found, 0) << "master view does not see layout boxes";
    // Private data is persisted, and a stored value is handed out as stored.
    ASSERT_EQ(host.SaveAs(temp + "/m.qxp"), HostErr::Ok);
    auto saved = ReadDocumentFile(temp + "/m.qxp");
    EXPECT_EQ(saved->layouts[0]->boxes.at(17).privateData.at(key), id);
    std::vector<uint8_t> bytes;
    bool present = false;
    ASSERT_EQ(host.GetPrivate(layoutBox, key, &bytes, &present), HostErr::Ok);
    EXPECT_TRUE(present);
    EXPECT_EQ(bytes, id);
    const std::vector<uint8_t> empty;
    EXPECT_EQ(host.SetPrivate(layoutBox, key, &empty), HostErr::BadRef);
}

TEST_F(DocHostTest, EditingAMasterStoryAnnouncesItsCopiesOnReturnToTheLayout)
{
    Open("two-page-linked");
    int32_t text = 0, length = -1;
    ASSERT_EQ(host.StoryOfBox(host.BoxHandle(1), &text, &length), HostErr::Ok);
    EXPECT_EQ(length, 0);
    // An edit in layout view announces nothing.
    ASSERT_EQ(host.InsertText(text, 0, u"x"), HostErr::Ok);
    ASSERT_EQ(host.GotoMaster(view, 0), HostErr::Ok);
    EXPECT_TRUE(host.TakeEvents().empty());

    ASSERT_EQ(host.GotoMaster(view, 1), HostErr::Ok);
    ASSERT_EQ(host.InsertText(text, 0, u"#$_@?&#"), HostErr::Ok);
    EXPECT_TRUE(host.TakeEvents().empty()) << "nothing before the view returns";
    ASSERT_EQ(host.GotoMaster(view, 0), HostErr::Ok);
    const auto events = host.TakeEvents();
    ASSERT_EQ(events.size(), 4u);
    const int32_t master = host.BoxHandle(1), first = host.BoxHandle(3), second = host.BoxHandle(5);
    EXPECT_EQ(events[0].kind, kMasterBoxCopy);
    EXPECT_EQ(events[0].box, master);
    EXPECT_EQ(events[0].other, first);
    EXPECT_EQ(events[1].kind, kAutotextBox);
    EXPECT_EQ(events[1].box, first);
    EXPECT_EQ(events[2].other, second);
    EXPECT_EQ(events[3].box, second);
    // Returning again without a change fires nothing; the copies' text was not touched.
    ASSERT_EQ(host.GotoMaster(view, 0), HostErr::Ok);
    EXPECT_TRUE(host.TakeEvents().empty());
    std::u16string chars;
    ASSERT_EQ(host.StoryOfBox(first, &text, &length), HostErr::Ok);
    ASSERT_EQ(host.StoryText(text, &chars), HostErr::Ok);
    EXPECT_EQ(chars.substr(0, 13), u"Annual Report");
}

// A hook may call the host back: callbacks come after the call that caused them.
TEST_F(DocHostTest, HooksThatCallTheHostSeeTheLayoutView)
{
    Open("two-page-linked");
    std::vector<std::string> seen;
    host.SetEventSink([&](const DocEvent& event) {
        bool master = false, shows = true;
        host.IsOnMaster(event.box, &master);
        host.ShowsMasters(view, &shows);
        seen.push_back(std::to_string(event.kind) + (master ? " master" : " layout") + (shows ? " shown" : ""));
    });
    int32_t text = 0, length = 0;
    ASSERT_EQ(host.StoryOfBox(host.BoxHandle(1), &text, &length), HostErr::Ok);
    ASSERT_EQ(host.GotoMaster(view, 1), HostErr::Ok);
    ASSERT_EQ(host.InsertText(text, 0, u"#"), HostErr::Ok);
    ASSERT_EQ(host.GotoMaster(view, 0), HostErr::Ok);
    EXPECT_EQ(seen, (std::vector<std::string>{"501 master", "106 layout", "501 master", "106 layout"}));
}

// Only groups carry a box to the master page above them: a box anchored in a master page's
// story is no item of that master page.
TEST_F(DocHostTest, ABoxAnchoredInAMasterStoryIsNoMasterItem)
{
    DocBuilder b;
    const int32_t cf = b.CharFormat(b.DejaVuBlack(1, 12 << 16));
    b.StyleSheet(1, "Normal", cf, b.ParaFormat(ParaFormat{}));
    b.Layout("Layout 1", 100 << 16, 100 << 16, 0);
    const int32_t master = b.Master("A-Master A");
    const uint32_t caption = b.TextBox(Place::Loose_(), Rect{0, 0, 10 << 16, 10 << 16});
    const uint32_t header = b.TextBox(Place::OnMaster(master), Rect{0, 0, 50 << 16, 90 << 16});
    b.Story({header}).Text(u"x", cf).Anchor(caption, cf).End();
    b.Page(0);
    ASSERT_TRUE(WriteFileAtomically(temp + "/anchored-master.qxp", b.Bytes()));
    OpenFile(temp + "/anchored-master.qxp");
    int32_t masterA = 0;
    bool unused = false, item = false;
    std::string name;
    ASSERT_EQ(host.MasterSpreadAt(doc, 3, &masterA, &unused, &name), HostErr::Ok);
    ASSERT_EQ(name, "A-Master A");
    ASSERT_EQ(host.IsMasterItem(host.BoxHandle(header), masterA, &item), HostErr::Ok);
    EXPECT_TRUE(item);
    ASSERT_EQ(host.IsMasterItem(host.BoxHandle(caption), masterA, &item), HostErr::Ok);
    EXPECT_FALSE(item);
}

// Sections restart the numbering; a box anchored in a story is on its host box's page.
TEST_F(DocHostTest, SectionsNumberPagesAndAnchorsFollowTheirStory)
{
    DocBuilder b;
    const int32_t cf = b.CharFormat(b.DejaVuBlack(1, 12 << 16));
    b.StyleSheet(1, "Normal", cf, b.ParaFormat(ParaFormat{}));
    b.Layout("Layout 1", 100 << 16, 100 << 16, 0);
    b.Page(0);
    b.Spread({0, 0});
    b.Section(2, 7);
    const uint32_t caption = b.TextBox(Place::Loose_(), Rect{0, 0, 10 << 16, 10 << 16});
    const uint32_t right = b.TextBox(Place::OnSpread(1), Rect{0, 150 << 16, 50 << 16, 190 << 16});
    b.Story({right}).Text(u"x", cf).Anchor(caption, cf).End();
    ASSERT_TRUE(WriteFileAtomically(temp + "/sections.qxp", b.Bytes()));
    OpenFile(temp + "/sections.qxp");
    int16_t page = 0;
    ASSERT_EQ(host.PageOfBox(host.BoxHandle(right), &page), HostErr::Ok);
    EXPECT_EQ(page, 7);
    int32_t text = 0, length = 0, anchored = 0;
    ASSERT_EQ(host.StoryOfBox(host.BoxHandle(right), &text, &length), HostErr::Ok);
    ASSERT_EQ(host.AnchoredBox(text, 1, &anchored), HostErr::Ok);
    EXPECT_EQ(anchored, host.BoxHandle(caption));
    ASSERT_EQ(host.AnchoredBox(text, 0, &anchored), HostErr::Ok);
    EXPECT_EQ(anchored, 0);
    int32_t spread = 0;
    std::vector<PageInfo> pages;
    ASSERT_EQ(host.LayoutSpreadAt(doc, 2, &spread), HostErr::Ok);
    ASSERT_EQ(host.PageTable(spread, &pages), HostErr::Ok);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].number, 2);
    EXPECT_FALSE(pages[0].sectioned);
    EXPECT_EQ(pages[1].number, 7);
    EXPECT_TRUE(pages[1].sectioned);
    // The anchored caption sits on the page of the box that holds it.
    ASSERT_EQ(host.PageOfBox(anchored = host.BoxHandle(caption), &page), HostErr::Ok);
    EXPECT_EQ(page, 2) << "its own bounds lie on the first page of the spread";
}

TEST_F(DocHostTest, NewBoxesGoToTheViewsSpreadAndStylesApplyToTheSelection)
{
    Open("two-page-linked");
    ASSERT_EQ(host.GotoMaster(view, 1), HostErr::Ok);
    int32_t box = 0;
    ASSERT_EQ(host.NewBox(Rect{0, 0, 65536, 65536}, &box), HostErr::Ok);
    bool master = false;
    ASSERT_EQ(host.IsOnMaster(box, &master), HostErr::Ok);
    EXPECT_TRUE(master);
    ASSERT_EQ(host.GotoMaster(view, 0), HostErr::Ok);
    ASSERT_EQ(host.NewBox(Rect{0, 0, 65536, 65536}, &box), HostErr::Ok);
    ASSERT_EQ(host.IsOnMaster(box, &master), HostErr::Ok);
    EXPECT_FALSE(master);
    EXPECT_EQ(host.NewBox(Rect{10, 0, 0, 65536}, &box), HostErr::BadRef) << "inverted bounds";

    // "Heading" over the selection in the second paragraph only.
    int32_t text = 0, length = 0, heading = 0, current = 0;
    ASSERT_EQ(host.StoryOfBox(host.BoxHandle(3), &text, &length), HostErr::Ok);
    ASSERT_EQ(host.FindStyleSheet("Heading", &heading), HostErr::Ok);
    ASSERT_EQ(host.SetSelection(text, 16, 20), HostErr::Ok);
    ASSERT_EQ(host.ApplyStyleSheet(heading, 1, text), HostErr::Ok);
    const Story& story = host.FrontProject()->layouts[0]->stories.at(4);
    EXPECT_EQ(story.paras[1], story.paras[0]);
    EXPECT_NE(story.paras[2], story.paras[0]);
    EXPECT_EQ(host.SetSelection(text, 5, 400), HostErr::BadRef);
    // Without a text the current box's story takes it.
    ASSERT_EQ(host.SetCurrentBox(host.BoxHandle(3)), HostErr::Ok);
    ASSERT_EQ(host.CurrentBox(&current), HostErr::Ok);
    EXPECT_EQ(current, host.BoxHandle(3));
    // The view follows the current box to its spread, where new boxes go.
    ASSERT_EQ(host.SetCurrentBox(host.BoxHandle(5)), HostErr::Ok);
    int32_t spread = 0, second = 0;
    ASSERT_EQ(host.CurrentSpread(view, &spread), HostErr::Ok);
    ASSERT_EQ(host.LayoutSpreadAt(doc, 2, &second), HostErr::Ok);
    EXPECT_EQ(spread, second);
    ASSERT_EQ(host.SetCurrentBox(host.BoxHandle(3)), HostErr::Ok);
    ASSERT_EQ(host.SetSelection(text, 39, 39), HostErr::Ok);
    ASSERT_EQ(host.ApplyStyleSheet(heading, 1, 0), HostErr::Ok);
    EXPECT_EQ(story.paras[2], story.paras[0]);
    EXPECT_EQ(host.ApplyStyleSheet(99, 1, 0), HostErr::BadRef);

    // A box of another project cannot become current here.
    const int32_t other = host.BoxHandle(3);
    Open("minimal");
    EXPECT_EQ(host.SetCurrentBox(other), HostErr::BadRef);
}

TEST_F(DocHostTest, ChangeFlagsFollowEditsNoticesAndSaves)
{
    Open("two-page-linked");
    EXPECT_EQ(Flags(), 0);
    ASSERT_EQ(host.DocumentChanged(doc, 3), HostErr::Ok);
    EXPECT_EQ(Flags(), 1);
    ASSERT_EQ(host.SaveAs(temp + "/a.qxp"), HostErr::Ok);
    EXPECT_EQ(Flags(), 0);
    const std::vector<uint8_t> value = {1};
    ASSERT_EQ(host.SetPrivate(host.BoxHandle(5), 0x41424344, &value), HostErr::Ok);
    EXPECT_EQ(Flags(), 1);
    ASSERT_EQ(host.Save(), HostErr::Ok);
    EXPECT_EQ(Flags(), 0);
    std::string path;
    ASSERT_EQ(host.DocumentLocation(&path), HostErr::Ok);
    EXPECT_EQ(path.substr(path.size() - 6), "/a.qxp");

    // A new project is untitled: it always needs saving and has no location.
    int32_t project = 0;
    ASSERT_EQ(host.NewProject("Dummy Print Layout", "XDOC", 792 << 16, 576 << 16, 36 << 16, &project), HostErr::Ok);
    EXPECT_EQ(Flags(), 1);
    EXPECT_EQ(host.DocumentLocation(&path), HostErr::FileNotFound);
    EXPECT_EQ(host.Save(), HostErr::FileNotFound);
    int32_t box = 0;
    ASSERT_EQ(host.NewBox(Rect{0x900000, 0x900000, 0xD80000, 0xD80000}, &box), HostErr::Ok);
    ASSERT_EQ(host.SaveTo(temp + "/new.qxp", 0x43), HostErr::Ok);
    EXPECT_EQ(Flags(), 0);
    EXPECT_EQ(host.DocumentCount(), 2);
    auto saved = ReadDocumentFile(temp + "/new.qxp");
    ASSERT_EQ(saved->layouts.size(), 1u);
    EXPECT_EQ(saved->layouts[0]->pageWidth, 792 << 16);
    EXPECT_EQ(saved->layouts[0]->boxes.size(), 1u);
}

TEST_F(DocHostTest, StaleAndWrongTagHandlesAnswerBadRef)
{
    Open("mapping");
    const int32_t box = host.BoxHandle(16);
    uint8_t bits = 0;
    ASSERT_EQ(host.BoxKinds(box, &bits), HostErr::Ok);
    EXPECT_EQ(bits, kIsText);
    int32_t text = 0, length = 0;
    ASSERT_EQ(host.StoryOfBox(box, &text, &length), HostErr::Ok);

    ASSERT_EQ(host.DisposeBox(box, 1), HostErr::Ok);
    transcript.clear();
    EXPECT_EQ(host.BoxKinds(box, &bits), HostErr::BadRef);
    EXPECT_TRUE(Saw("badref BOX-1 0x04"));
    EXPECT_EQ(host.InsertText(text, 0, u"x"), HostErr::BadRef) << "the story went with its only box";
    EXPECT_EQ(host.BoxKinds(text, &bits), HostErr::BadRef) << "a text handle is no box";
    EXPECT_EQ(host.BoxKinds(doc, &bits), HostErr::BadRef);
    EXPECT_EQ(host.BoxKinds(0, &bits), HostErr::BadRef);
    EXPECT_EQ(host.GotoMaster(box, 0), HostErr::BadRef);
    EXPECT_EQ(host.ReleaseRecord(box), HostErr::BadRef);

    // Serials are never reused: a new box gets a handle above every earlier one.
    int32_t fresh = 0;
    ASSERT_EQ(host.NewBox(Rect{0, 0, 65536, 65536}, &fresh), HostErr::Ok);
    EXPECT_GT(fresh, box);

    // Closing the project retires every handle it had.
    int32_t project = 0;
    ASSERT_EQ(host.CurrentProject(&project), HostErr::Ok);
    ASSERT_EQ(host.CloseProject(project, 1), HostErr::Ok);
    EXPECT_EQ(host.BoxKinds(fresh, &bits), HostErr::BadRef);
    EXPECT_EQ(host.DocumentView(doc, &view), HostErr::BadRef);
    EXPECT_EQ(host.CurrentProject(&project), HostErr::NoDocument);
    EXPECT_EQ(host.DocumentCount(), 0);
}

// Ownership stays whole when boxes go: members, anchors and chains.
TEST_F(DocHostTest, DisposingBoxesKeepsTheDocumentValid)
{
    Open("mapping");
    // A chained box leaves the chain; the anchored caption takes its anchor character along.
    ASSERT_EQ(host.DisposeBox(host.BoxHandle(3), 1), HostErr::Ok);
    ASSERT_EQ(host.DisposeBox(host.BoxHandle(7), 1), HostErr::Ok);
    ASSERT_EQ(host.DisposeBox(host.BoxHandle(11), 1), HostErr::Ok);  // a group member
    ASSERT_EQ(host.SaveAs(temp + "/d.qxp"), HostErr::Ok);
    auto saved = ReadDocumentFile(temp + "/d.qxp");
    const Layout& l = *saved->layouts[0];
    EXPECT_EQ(l.stories.at(2).boxes, (std::vector<uint32_t>{1, 5}));
    EXPECT_EQ(l.stories.at(10).text, u"Before the anchor  and after it.");
    EXPECT_TRUE(l.stories.at(10).objects.empty());
    EXPECT_EQ(l.boxes.at(15).members, (std::vector<uint32_t>{13}));
    // The group and its last member go together.
    ASSERT_EQ(host.DisposeBox(host.BoxHandle(15), 1), HostErr::Ok);
    EXPECT_EQ(host.BoxHandle(13), 0);
    ASSERT_EQ(host.Save(), HostErr::Ok);

    // A master box goes; its copies stay as plain boxes.
    Open("two-page-linked");
    ASSERT_EQ(host.DisposeBox(host.BoxHandle(1), 1), HostErr::Ok);
    ASSERT_EQ(host.SaveAs(temp + "/t.qxp"), HostErr::Ok);
    auto copies = ReadDocumentFile(temp + "/t.qxp");
    EXPECT_EQ(copies->layouts[0]->boxes.at(3).derivedFrom, 0u);
    EXPECT_FALSE(copies->layouts[0]->boxes.at(3).autotext);
}

TEST_F(DocHostTest, BoxRecordsRefuseInvertedBoundsAndLockedSizes)
{
    Open("two-page-linked");
    const int32_t box = host.BoxHandle(3);
    int32_t record = 0;
    ASSERT_EQ(host.GetRecord(box, &record), HostErr::Ok);
    BoxRecord& r = *host.Record(record);
    EXPECT_EQ(r.master, host.BoxHandle(1));
    const Rect before = r.bounds;
    uint16_t violation = 0;
    r.bounds = Rect{before.bottom, before.left, before.top, before.right};
    ASSERT_EQ(host.ApplyRecord(record, box, &violation), HostErr::Ok);
    EXPECT_EQ(violation, kViolationInverted);

    // The module clears the saved word to resize, then puts it back.
    r.bounds = before;
    r.savedWord = 1;
    ASSERT_EQ(host.ApplyRecord(record, box, &violation), HostErr::Ok);
    EXPECT_EQ(violation, 0) << "the same size is not a resize";
    r.bounds.bottom += 65536;
    ASSERT_EQ(host.ApplyRecord(record, box, &violation), HostErr::Ok);
    EXPECT_EQ(violation, kViolationLockedSize);
    r.savedWord = 0;
    ASSERT_EQ(host.ApplyRecord(record, box, &violation), HostErr::Ok);
    EXPECT_EQ(violation, 0);

    // A complex shape swapped for a five-point rectangle and back.
    int32_t original = 0, pseudo = 0;
    r.shape = 10;
    ASSERT_EQ(host.OutlineOf(box, &original), HostErr::Ok);
    ASSERT_EQ(host.MakePolygon({{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}}, &pseudo), HostErr::Ok);
    r.outline = pseudo;
    ASSERT_EQ(host.ApplyRecord(record, box, &violation), HostErr::Ok);
    int32_t check = 0;
    ASSERT_EQ(host.GetRecord(box, &check), HostErr::Ok);
    EXPECT_EQ(host.Record(check)->bounds2, (Rect{0, 0, 10, 10}));
    ASSERT_EQ(host.DisposeOutline(pseudo), HostErr::Ok);
    ASSERT_EQ(host.ApplyRecord(record, box, &violation), HostErr::BadRef) << "the outline was disposed";
    ASSERT_EQ(host.ReleaseRecord(record), HostErr::Ok);
    ASSERT_EQ(host.ReleaseRecord(check), HostErr::Ok);
    EXPECT_EQ(host.ReleaseRecord(record), HostErr::BadRef);
}

TEST_F(DocHostTest, OpeningTwiceBringsToFrontAndDamagedFilesAreRefused)
{
    Open("two-page-linked");
    Open("minimal");
    EXPECT_EQ(host.DocumentCount(), 2);
    ASSERT_EQ(host.Open(kExamples + "two-page-linked.qxp", 31), HostErr::Ok);
    EXPECT_EQ(host.DocumentCount(), 2);
    EXPECT_EQ(host.FrontProject()->layouts[0]->boxes.size(), 3u);
    EXPECT_EQ(host.Open(kExamples + "damaged/chain-cycle.qxp", 63), HostErr::NotADocument);
    EXPECT_NE(transcript.back().find("layouts[0].stories[1].boxes[2]"), std::string::npos) << transcript.back();
    EXPECT_EQ(host.Open(temp + "/missing.qxp", 63), HostErr::FileNotFound);
    EXPECT_EQ(host.DocumentCount(), 2);
}

TEST_F(DocHostTest, LayoutsAreDocumentsOfTheirProject)
{
    Open("layouts");
    int32_t project = 0;
    ASSERT_EQ(host.CurrentProject(&project), HostErr::Ok);
    int16_t count = 0, number = -1;
    ASSERT_EQ(host.LayoutCount(project, &count), HostErr::Ok);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(host.CurrentLayoutNumber(&number), HostErr::Ok);
    EXPECT_EQ(number, 1);
    std::vector<int16_t> ids(3);
    std::string type;
    for (int16_t i = 0; i < 3; ++i)
        ASSERT_EQ(host.LayoutDocument(project, i, &ids[i]), HostErr::Ok);
    ASSERT_EQ(host.LayoutType(ids[1], &type), HostErr::Ok);
    EXPECT_EQ(type, "XWEB");
    int16_t current = 0;
    uint16_t index = 0;
    ASSERT_EQ(host.CurrentDocument(&current, &index), HostErr::Ok);
    EXPECT_EQ(current, ids[1]);
    ASSERT_EQ(host.MakeLayoutCurrent(ids[2]), HostErr::Ok);
    ASSERT_EQ(host.CurrentDocument(&current, &index), HostErr::Ok);
    EXPECT_EQ(current, ids[2]);
    EXPECT_EQ(host.LayoutDocument(project, 3, &current), HostErr::BadRef);
}

TEST_F(DocHostTest, FaultsAnswerForTheirRole)
{
    int calls = 0;
    host.SetInject([&](const std::string& role) -> std::optional<int32_t> {
        if (role == "DOC-9" && ++calls == 2)
            return -1;
        return std::nullopt;
    });
    EXPECT_EQ(host.Open(kExamples + "minimal.qxp", 63), HostErr::Ok);
    EXPECT_EQ(host.Open(kExamples + "mapping.qxp", 63), -1);
    EXPECT_EQ(host.DocumentCount(), 1);
}

TEST_F(DocHostTest, FontsColoursStylesAndLayers)
{
    ASSERT_EQ(host.Open(kExamples + "mac-origin.qxd", 63), HostErr::Ok);
    uint8_t platform = 0, untitled = 1;
    ASSERT_EQ(host.DocumentFlags(&platform, &untitled), HostErr::Ok);
    EXPECT_EQ(platform, 1);
    EXPECT_EQ(untitled, 0);
    std::vector<uint8_t> fonts;
    ASSERT_EQ(host.FontList(&fonts), HostErr::Ok);
    const std::string second = "Geneva Caf\xC3\xA9 \xE2\x84\xA2";
    ASSERT_GT(fonts.size(), 2u);
    EXPECT_EQ(fonts[0] | fonts[1] << 8, 2);
    EXPECT_NE(std::string(fonts.begin(), fonts.end()).find(second + '\0' + "Geneva" + '\0'), std::string::npos);
    EXPECT_EQ(host.FontScript(1), 0);
    EXPECT_LT(host.FontScript(9), 0);

    int32_t id = 0;
    ASSERT_EQ(host.FindRgbColour(0x000000, &id), HostErr::Ok);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(host.FindRgbColour(0x123456, &id), HostErr::NoColour);
    ASSERT_EQ(host.CreateRgbColour("Teal", 0x008080, &id), HostErr::Ok);
    EXPECT_EQ(id, 3);
    EXPECT_EQ(host.CreateRgbColour(std::string(65, 'x'), 1, &id), HostErr::BadRef);

    int32_t sheet = 0;
    ASSERT_EQ(host.FindStyleSheet("Normal", &sheet), HostErr::Ok);
    StyleSheetRecord record;
    ASSERT_EQ(host.GetStyleSheet(sheet, 2, &record), HostErr::Ok);
    EXPECT_EQ(record.name, "Normal");
    EXPECT_EQ(record.charFormat.size, 12 << 16);
    EXPECT_EQ(host.FindStyleSheet("Missing", &sheet), HostErr::BadRef);

    int32_t layer = 0;
    std::u16string name;
    bool visible = false;
    ASSERT_EQ(host.LayerOfBox(host.BoxHandle(1), &layer), HostErr::Ok);
    ASSERT_EQ(host.LayerName(layer, &name), HostErr::Ok);
    ASSERT_EQ(host.LayerVisible(layer, &visible), HostErr::Ok);
    EXPECT_EQ(name, u"Default");
    EXPECT_TRUE(visible);
}

TEST_F(DocHostTest, FileDataReadsInBlocksAndWrites)
{
    const std::string path = temp + "/data.bin";
    int16_t out = 0;
    ASSERT_EQ(host.CreateDataFile(path, 2, &out), HostErr::Ok);
    std::string data(2500, 'a');
    int32_t count = static_cast<int32_t>(data.size());
    ASSERT_EQ(host.WriteData(out, &count, data.data()), HostErr::Ok);
    ASSERT_EQ(host.CloseData(out), HostErr::Ok);
    int16_t in = 0;
    ASSERT_EQ(host.OpenDataFork(path, 1, &in), HostErr::Ok);
    int32_t length = 0;
    ASSERT_EQ(host.DataLength(in, &length), HostErr::Ok);
    EXPECT_EQ(length, 2500);
    char block[1024];
    int32_t total = 0, result = HostErr::Ok;
    while (result == HostErr::Ok) {
        count = sizeof block;
        result = host.ReadData(in, &count, block);
        total += count;
    }
    EXPECT_EQ(result, HostErr::EndOfFile);
    EXPECT_EQ(total, 2500);
    EXPECT_EQ(count, 2500 - 2048) << "the last block reports what it read";
    ASSERT_EQ(host.CloseData(in), HostErr::Ok);
    EXPECT_EQ(host.CloseData(in), HostErr::BadRef);
    EXPECT_EQ(host.OpenDataFork(temp + "/none", 1, &in), HostErr::FileNotFound);
}

// After a save-as, the canonical file differs from the original only in the edited story.
TEST_F(DocHostTest, SaveAsChangesOnlyTheEditedStory)
{
    Open("two-page-linked");
    int32_t text = 0, length = 0;
    ASSERT_EQ(host.StoryOfBox(host.BoxHandle(1), &text, &length), HostErr::Ok);
    ASSERT_EQ(host.GotoMaster(view, 1), HostErr::Ok);
    ASSERT_EQ(host.InsertText(text, 0, u"Master text"), HostErr::Ok);
    ASSERT_EQ(host.GotoMaster(view, 0), HostErr::Ok);
    ASSERT_EQ(host.SaveAs(temp + "/edited.qxp"), HostErr::Ok);
    std::ifstream a(kExamples + "two-page-linked.qxp"), b(temp + "/edited.qxp");
    std::vector<std::string> before, after;
    for (std::string line; std::getline(a, line);)
        before.push_back(line);
    for (std::string line; std::getline(b, line);)
        after.push_back(line);
    ASSERT_EQ(before.size(), after.size());
    std::vector<std::string> changed;
    for (size_t i = 0; i < before.size(); ++i)
        if (before[i] != after[i])
            changed.push_back(after[i]);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_NE(changed[0].find("{\"uid\": 2, \"boxes\": [1], \"text\": \"Master text\""), std::string::npos);
}

// Edits keep runs, paragraphs and object runs whole, and refuse to cut an object run.
TEST(StoryEdit, InsertAndDeleteKeepRunsParagraphsAndObjects)
{
    auto project = ParseDocument(BuildExample("two-page-linked"));
    Story& story = project->layouts[0]->stories.at(4);
    const Story before = story;
    // Inside the hidden run "\ue045IX" (18-20) or across its end: refused, nothing changes.
    EXPECT_EQ(InsertText(*project, story, 19, u"x"), HostErr::SplitsRun);
    EXPECT_EQ(DeleteText(story, 17, 19), HostErr::SplitsRun);
    EXPECT_EQ(InsertText(*project, story, 40, u"x"), HostErr::BadRef);
    EXPECT_EQ(DeleteText(story, 5, 4), HostErr::BadRef);
    EXPECT_EQ(story.text, before.text);

    // A paragraph end typed into the heading splits it under the heading's format.
    ASSERT_EQ(InsertText(*project, story, 6, u"\r"), HostErr::Ok);
    EXPECT_EQ(story.paras.size(), 4u);
    EXPECT_EQ(story.paras[0], story.paras[1]);
    EXPECT_EQ(story.objects[0].at, 19);
    EXPECT_EQ(story.charRuns[0].length, 15) << "the new character takes the heading's format";
    // Deleting it joins them again; deleting the whole hidden run removes the run.
    ASSERT_EQ(DeleteText(story, 6, 7), HostErr::Ok);
    EXPECT_EQ(story.text, before.text);
    EXPECT_EQ(story.paras, before.paras);
    EXPECT_EQ(story.charRuns, before.charRuns);
    ASSERT_EQ(DeleteText(story, 18, 21), HostErr::Ok);
    ASSERT_EQ(story.objects.size(), 1u);
    EXPECT_EQ(story.objects[0].at, 23);
    CheckProject(*project);  // still whole

    // An empty story takes "Normal"'s character format; inserting at 0 the next character's.
    Story& empty = project->layouts[0]->stories.at(2);
    ASSERT_EQ(InsertText(*project, empty, 0, u"ab"), HostErr::Ok);
    EXPECT_EQ(empty.charRuns, (std::vector<xthost::doc::Run>{{project->styleSheets[0].charFormat, 2}}));
    ASSERT_EQ(InsertText(*project, story, 0, u">"), HostErr::Ok);
    EXPECT_EQ(story.charRuns[0].format, before.charRuns[0].format);
    CheckProject(*project);
}

}  // namespace
}  // namespace xthost::doc
