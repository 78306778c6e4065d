// The documents through the suite slots a module binds: buffers with their sizes, typed
// records, file references and specifications of the host core.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

#include "platform/host/documents/DocSlots.h"
#include "platform/host/documents/XTDocSuites.h"

#include "SlotTestSupport.h"

namespace xthost {
namespace {

using testing::FileRef;
using testing::kExamples;
using testing::Slot;

class DocSlotsTest : public testing::SlotHostFixture {
protected:
    void SetUp() override { StartHost("host-doc-slots"); }

    // Opens an example; answers its document and view.
    void Open(const std::string& name, XTHandle* doc, XTHandle* view)
    {
        ASSERT_EQ(Slot<XDD_OpenDocument>()(FileRef(kExamples + name), 63), XT_OK);
        int16_t id = -1;
        ASSERT_EQ(Slot<XDD_CurrentDocId>()(&id), XT_OK);
        ASSERT_EQ(Slot<XDD_DocumentRef>()(id, doc), XT_OK);
        ASSERT_EQ(Slot<XDD_DocumentView>()(*doc, view), XT_OK);
    }
};

TEST_F(DocSlotsTest, CurrentIndexFallsBackToTheCoresUntilADocumentIsOpen)
{
    int16_t index = 0;
    host->SetFrontDocumentIndex(4);
    ASSERT_EQ(Slot<XDD_CurrentDocIndex>()(&index), XT_OK);
    EXPECT_EQ(index, 4);
    XTHandle doc = 0, view = 0;
    Open("minimal.qxp", &doc, &view);
    ASSERT_EQ(Slot<XDD_CurrentDocIndex>()(&index), XT_OK);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(Slot<XDD_CurrentDocIndex>()(nullptr), XT_ERR_PARAM);
}

TEST_F(DocSlotsTest, NamesGoIntoBuffersThatHoldThem)
{
    XTHandle doc = 0, view = 0;
    Open("masters.qxp", &doc, &view);
    char name[32];
    ASSERT_EQ(Slot<XDD_MasterPageName>()(doc, 3, name, sizeof name), XT_OK);
    EXPECT_STREQ(name, "A-Master A");
    EXPECT_EQ(Slot<XDD_MasterPageName>()(doc, 3, name, 10), XT_ERR_PARAM);
    EXPECT_STREQ(name, "");
    XTHandle spread = 0;
    uint8_t unused = 0;
    ASSERT_EQ(Slot<XPH_MasterSpread>()(doc, 4, &spread, &unused, name, sizeof name), XT_OK);
    EXPECT_EQ(unused, 1);
    EXPECT_STREQ(name, "B-Master B");

    // The document's file as a specification of the core's folder table.
    XTFileSpec spec{};
    uint8_t locked = 2;
    ASSERT_EQ(Slot<XDD_DocumentLocation>()(&spec, &locked), XT_OK);
    EXPECT_EQ(locked, ::access((kExamples + "masters.qxp").c_str(), W_OK) == 0 ? 0 : 1);
    EXPECT_STREQ(spec.name, "masters.qxp");
    char path[XT_PATH_BUFFER];
    ASSERT_EQ(Slot<XFJ_SpecToPath>()(path, sizeof path, &spec, 0), XT_OK);
    EXPECT_EQ(std::filesystem::path(path), std::filesystem::canonical(kExamples + "masters.qxp"));

    // Fonts: ask the size, then fetch; a short buffer is refused with the size needed.
    int32_t size = 0;
    ASSERT_EQ(Slot<XSD_FontList>()(nullptr, &size), XT_OK);
    std::vector<uint8_t> fonts(static_cast<size_t>(size));
    int32_t room = size - 1;
    EXPECT_EQ(Slot<XSD_FontList>()(fonts.data(), &room), XT_ERR_PARAM);
    EXPECT_EQ(room, size);
    ASSERT_EQ(Slot<XSD_FontList>()(fonts.data(), &size), XT_OK);
    EXPECT_EQ(fonts[0], 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(fonts.data() + 6), "DejaVu Sans");

    char16_t layer[8];
    EXPECT_EQ(Slot<XBY_LayerName>()(1, layer, 8), XT_OK);
    EXPECT_EQ(std::u16string(layer), u"Default");
    EXPECT_EQ(Slot<XBY_LayerName>()(1, layer, 7), XT_ERR_PARAM);
}

TEST_F(DocSlotsTest, PrivateDataTravelsAsBytes)
{
    XTHandle doc = 0, view = 0;
    Open("two-page-linked.qxp", &doc, &view);
    XTHandle spread = 0, box = 0, owner = 0;
    ASSERT_EQ(Slot<XPH_LayoutSpread>()(doc, 1, &spread), XT_OK);
    ASSERT_EQ(Slot<XPH_FirstBox>()(spread, &box), XT_OK);
    ASSERT_EQ(Slot<XBY_PrivateOwner>()(box, &owner), XT_OK);
    int32_t size = 0;
    ASSERT_EQ(Slot<XBY_GetPrivate>()(owner, 0x08414B42, nullptr, &size), XT_OK);
    EXPECT_EQ(size, 4);
    uint8_t id[4] = {9, 9, 9, 9};
    ASSERT_EQ(Slot<XBY_GetPrivate>()(owner, 0x08414B42, id, &size), XT_OK);
    EXPECT_EQ(std::vector<uint8_t>(id, id + 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    ASSERT_EQ(Slot<XBY_GetPrivate>()(owner, 0x12345678, nullptr, &size), XT_OK);
    EXPECT_EQ(size, 0) << "an absent key has no bytes";

    const uint8_t link[4] = {0, 0, 0, 1};
    ASSERT_EQ(Slot<XBY_SetPrivate>()(owner, 0x08414B42, link, 4), XT_OK);
    XTHandle found = 0;
    ASSERT_EQ(Slot<XBY_FindByPrivate>()(view, 0x08414B42, link, 4, &found), XT_OK);
    EXPECT_EQ(found, box);
    ASSERT_EQ(Slot<XBY_SetPrivate>()(owner, 0x08414B42, nullptr, 0), XT_OK);
    ASSERT_EQ(Slot<XBY_FindByPrivate>()(view, 0x08414B42, link, 4, &found), XT_OK);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(Slot<XBY_SetPrivate>()(owner, 1, nullptr, 3), XT_ERR_PARAM);
    uint8_t flags = 0;
    ASSERT_EQ(Slot<XDD_ChangeFlags>()(&flags), XT_OK);
    EXPECT_EQ(flags, 1);
}

TEST_F(DocSlotsTest, BoxRecordsGoThroughTypedFields)
{
    XTHandle doc = 0, view = 0;
    Open("masters.qxp", &doc, &view);
    XTHandle spread = 0, box = 0, record = 0;
    ASSERT_EQ(Slot<XPH_LayoutSpread>()(doc, 1, &spread), XT_OK);
    ASSERT_EQ(Slot<XPH_FirstBox>()(spread, &box), XT_OK);
    ASSERT_EQ(Slot<XXC_GetRecord>()(0, box, 0, &record), XT_OK);
    XTBoxRecord fields{};
    ASSERT_EQ(Slot<XXC_ReadRecord>()(record, &fields), XT_OK);
    EXPECT_EQ(fields.shape, 5);
    EXPECT_NE(fields.master, 0) << "a copy of a master box";
    fields.bounds.bottom += 65536;
    fields.savedWord = 1;
    ASSERT_EQ(Slot<XXC_WriteRecord>()(record, &fields), XT_OK);
    uint16_t violation = 0;
    ASSERT_EQ(Slot<XXC_ApplyRecord>()(record, box, 0, &violation), XT_OK);
    EXPECT_EQ(violation, 1);
    fields.savedWord = 0;
    ASSERT_EQ(Slot<XXC_WriteRecord>()(record, &fields), XT_OK);
    ASSERT_EQ(Slot<XXC_ApplyRecord>()(record, box, 0, &violation), XT_OK);
    EXPECT_EQ(violation, 0);
    ASSERT_EQ(Slot<XXC_ReleaseRecord>()(record, 1), XT_OK);
    EXPECT_EQ(Slot<XXC_ReadRecord>()(record, &fields), XT_ERR_PARAM);

    // A new text box on master A from a fresh record; the reserved entries take none.
    XTHandle entry = 0, made = 0;
    uint8_t isMaster = 0;
    ASSERT_EQ(Slot<XXC_NewRecord>()(&record), XT_OK);
    ASSERT_EQ(Slot<XPH_MasterEntry>()(doc, 2, &entry, &isMaster), XT_OK);
    EXPECT_EQ(isMaster, 0);
    EXPECT_EQ(Slot<XBY_CreateTextBox>()(record, entry, &made), XT_ERR_PARAM);
    ASSERT_EQ(Slot<XPH_MasterEntry>()(doc, 3, &entry, &isMaster), XT_OK);
    ASSERT_EQ(Slot<XBY_CreateTextBox>()(record, entry, &made), XT_OK);
    uint8_t onMaster = 0, item = 0, text = 0;
    ASSERT_EQ(Slot<XBY_IsOnMaster>()(made, 0, &onMaster), XT_OK);
    ASSERT_EQ(Slot<XPH_IsMasterItem>()(made, entry, &item), XT_OK);
    ASSERT_EQ(Slot<XIG_IsTextBox>()(made, &text), XT_OK);
    EXPECT_TRUE(onMaster && item && text);
    XTBoxLocation location{};
    ASSERT_EQ(Slot<XBY_BoxLocation>()(made, &location), XT_OK);
    EXPECT_EQ(location.spread, 3);
}

TEST_F(DocSlotsTest, GroupsListThemselvesFirst)
{
    XTHandle doc = 0, view = 0;
    Open("mapping.qxp", &doc, &view);
    XTHandle spread = 0, box = 0;
    ASSERT_EQ(Slot<XPH_LayoutSpread>()(doc, 1, &spread), XT_OK);
    // Walk to the group (the fifth item).
    ASSERT_EQ(Slot<XPH_FirstBox>()(spread, &box), XT_OK);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(Slot<XPH_NextBox>()(box, &box), XT_OK);
    uint8_t bits = 0, isGroup = 0;
    ASSERT_EQ(Slot<XBY_BoxKinds>()(box, &bits), XT_OK);
    EXPECT_EQ(bits, 0x08);
    XTHandle members[3] = {};
    int32_t count = 2;
    EXPECT_EQ(Slot<XBY_GroupMembers>()(box, &isGroup, members, &count), XT_ERR_PARAM);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(Slot<XBY_GroupMembers>()(box, &isGroup, members, &count), XT_OK);
    EXPECT_EQ(isGroup, 1);
    EXPECT_EQ(members[0], box);
    XTHandle previous = -1;
    ASSERT_EQ(Slot<XBY_PreviousInChain>()(members[1], &previous), XT_OK);
    EXPECT_EQ(previous, 0);
}

TEST_F(DocSlotsTest, ProjectsLayoutsAndNewProjects)
{
    XTHandle doc = 0, view = 0, project = 0;
    Open("layouts.qxp", &doc, &view);
    ASSERT_EQ(Slot<XPK_CurrentProject>()(&project), XT_OK);
    XTHandle current = 0;
    int16_t number = -1, id = 0;
    ASSERT_EQ(Slot<XPK_CurrentLayout>()(project, &current), XT_OK);
    ASSERT_EQ(Slot<XDD_LayoutNumber>()(current, &number), XT_OK);
    EXPECT_EQ(number, 1);
    uint32_t type = 0;
    ASSERT_EQ(Slot<XPK_LayoutDocument>()(project, 1, &id), XT_OK);
    ASSERT_EQ(Slot<XPK_LayoutType>()(id, &type), XT_OK);
    EXPECT_EQ(type, XT_FOURCC('X', 'W', 'E', 'B'));
    ASSERT_EQ(Slot<LTY_SelectLayout>()(0), XT_OK);
    ASSERT_EQ(Slot<XPK_CurrentLayout>()(project, &current), XT_OK);
    ASSERT_EQ(Slot<XDD_LayoutNumber>()(current, &number), XT_OK);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(Slot<LTY_SelectLayout>()(3), XT_ERR_PARAM);

    // The PDF probe's project: 792 x 576 pt, margins 36 pt, a box from 144 to 216 pt, saved.
    XTHandle made = 0, box = 0;
    ASSERT_EQ(Slot<XPK_NewProject>()("Dummy Print Layout", XT_FOURCC('X', 'D', 'O', 'C'), 792 << 16,
                                     576 << 16, 36 << 16, &made),
              XT_OK);
    const XTRect bounds{0x900000, 0x900000, 0xD80000, 0xD80000};
    ASSERT_EQ(Slot<XPK_NewBox>()(&bounds, &box), XT_OK);
    const std::string target = (app / "dummy.qxp").string();
    std::ofstream(target).put('x');  // the module creates the file first
    ASSERT_EQ(Slot<XDD_SaveTo>()(FileRef(target), 0x43), XT_OK);
    uint16_t count = 0;
    ASSERT_EQ(Slot<XDD_DocumentCount>()(&count), XT_OK);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(Slot<XPK_CloseProject>()(made, 1), XT_OK);
    EXPECT_EQ(Slot<XBY_BoxKinds>()(box, reinterpret_cast<uint8_t*>(&count)), XT_ERR_PARAM);
}

TEST_F(DocSlotsTest, FileDataByFolderIdAndName)
{
    const std::string path = (app / "data.bin").string();
    int16_t ref = 0;
    ASSERT_EQ(Slot<XFJ_CreateDocumentFile>()(path.c_str(), &ref, 2), XT_OK);
    int32_t count = 5;
    ASSERT_EQ(Slot<XFJ_WriteData>()(ref, &count, "hello"), XT_OK);
    ASSERT_EQ(Slot<XFJ_CloseData>()(ref), XT_OK);
    XTFileSpec spec{};
    ASSERT_EQ(Slot<XFJ_MakeFSSpec>()(0, 0, path.c_str(), &spec), XT_OK);
    ASSERT_EQ(Slot<XFJ_OpenDataFork>()(spec.volume, spec.parentId, spec.name, 1, &ref), XT_OK);
    char buffer[16] = {};
    count = sizeof buffer;
    EXPECT_EQ(Slot<XFJ_ReadData>()(ref, &count, buffer), -39);
    EXPECT_EQ(count, 5);
    EXPECT_STREQ(buffer, "hello");
    ASSERT_EQ(Slot<XFJ_CloseData>()(ref), XT_OK);
    EXPECT_EQ(Slot<XFJ_OpenDataFork>()(spec.volume, spec.parentId, "missing", 1, &ref), XT_ERR_FILE_NOT_FOUND);
}

// A save that the system refuses (the fault plan's "write" rules stand for the system's answer)
// answers the host's code for the reason: a full disk is told apart from a file nobody may
// write, and the document's file keeps what it held.
TEST_F(DocSlotsTest, AFailedSaveAnswersTheCodeOfTheSystemsReason)
{
    const std::string document = (app / "minimal.qxp").string();
    std::filesystem::copy_file(std::string(KESTO_SOURCE_DIR) + "/examples/documents/minimal.qxp", document);
    ASSERT_EQ(DocumentsOf(*host).Open(document, 63), XT_OK);
    host->Faults().Add(FaultRule{"write:DOC-11", 28, 0, 1});
    host->Faults().Add(FaultRule{"write", 13, 0, 1});
    EXPECT_EQ(Slot<XDD_SaveDocument>()(), XT_ERR_DISK_FULL);
    EXPECT_EQ(Slot<XDD_SaveDocument>()(), XT_ERR_PERMISSION);
    std::ifstream saved(document, std::ios::binary);
    std::ifstream shipped(std::string(KESTO_SOURCE_DIR) + "/examples/documents/minimal.qxp", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}),
              std::string(std::istreambuf_iterator<char>(shipped), {}));
}

}  // namespace
}  // namespace xthost
