#include "Plugin/Filter/Filter_KS.h"

#include <ostream>
#include <vector>

#include "Container/Storage/Errors.h"
#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Plugin/Filter/Digger2.h"
#include "Plugin/Filter/KestoBox.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/MasterPages.h"
#include "Plugin/Mixer/Progress.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/BreakPoint.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoInterface.h"
#include "platform/host/documents/XTTextSuites.h"

namespace {

// The source file as the failure blocks and the assertion name it.
constexpr const char* kFilterFile = "Filter_KS.cpp";

constexpr uint32_t kAnchoredItem = 1;
constexpr int32_t kMaxDepth = 1000;
// A story of this many repetitions of one character or pair is a filler rule, not text.
constexpr int32_t kFillerUnits = 20;

void EnsureToolMode()
{
    if (GetToolMode() != 1)
        SetToolMode(1);
}

void DocumentChanged()
{
    CallHost<XDD_DocumentChanged>(xt_getdocref(), 3);
}

XTHandle OwnerOf(XTHandle box)
{
    XTHandle owner = 0;
    CallHost<XBY_PrivateOwner>(box, &owner);
    return owner;
}

void StorePrivate(XTHandle box, uint32_t key, const uint8_t* bytes, int32_t size)
{
    EnsureToolMode();
    CallHost<XBY_SetPrivate>(OwnerOf(box), key, bytes, size);
    DocumentChanged();
}

XTHandle FindByPrivate(uint32_t key, const uint8_t* bytes, int32_t size)
{
    EnsureToolMode();
    XTHandle box = 0;
    if (CallHost<XBY_FindByPrivate>(xt_getdocviewref(nullptr), key, bytes, size, &box) != XT_OK)
        return 0;
    return box > 0 ? box : 0;
}

bool IsTextBox(XTHandle box)
{
    uint8_t text = 0;
    return CallHost<XIG_IsTextBox>(box, &text) == XT_OK && text != 0;
}

// One host view switch of the mapper; a failure writes the block of its site.
bool ViewTo(XTHandle view, int16_t page, FailureMode mode, int line, const char* function)
{
    if (xt_viewgotomaster(view, page) == XT_OK)
        return true;
    ReportApiFailure(mode, kFilterFile, line, function);
    return false;
}

// Whether the document has master pages at all (the master list's first two entries are the
// host's own). A failed count answers true: the walk that follows reports it at its own site.
bool HasMasterPages(XTHandle doc)
{
    int16_t count = 0;
    return CallHost<XPH_SpreadCount>(doc, 1, &count) != XT_OK || count > 2;
}

// The filler test: a story made only of white space, or of 20 or more repetitions of one
// character or one pair of characters (a rule of dots), carries no text worth a number.
class FillerTest {
public:
    void Feed(const uint8_t* chars, int32_t count)
    {
        for (int32_t i = 0; i < count && !m_realText; ++i) {
            const uint8_t c = chars[i];
            if (c <= 0x20)
                continue;
            const bool hasNext = i + 1 < count;
            if (m_units == 0) {
                m_first = c;
                if (hasNext && chars[i + 1] > 0x20 && chars[i + 1] != c) {
                    m_second = chars[i + 1];
                    ++i;
                }
                m_units = 1;
                continue;
            }
            if (c != m_first || (m_second && (!hasNext || chars[i + 1] != m_second))) {
                m_realText = true;
                break;
            }
            if (m_second)
                ++i;
            ++m_units;
        }
    }
    bool Links() const { return m_realText || (m_units > 0 && m_units < kFillerUnits); }

private:
    bool m_realText = false;
    int32_t m_units = 0;
    uint8_t m_first = 0;
    uint8_t m_second = 0;
};

// The progress of the analysis, and the count of documents analysed in a folder run.
uint32_t g_analysedDocuments = 0;

bool MultiDocMode()
{
    KestoInterface* state = KestoInterface::Instance();
    return state && state->m_multiDocMode;
}

} // namespace

// ---- Box private data ----------------------------------------------------------------------

bool GetBoxPrivateData32(XTHandle box, uint32_t key, int32_t* value)
{
    EnsureToolMode();
    uint8_t bytes[4] = {};
    int32_t size = static_cast<int32_t>(sizeof bytes);
    if (CallHost<XBY_GetPrivate>(OwnerOf(box), key, bytes, &size) != XT_OK || size <= 0)
        return false;
    if (value)
        *value = static_cast<int32_t>(uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 |
                                      uint32_t{bytes[2]} << 8 | uint32_t{bytes[3]});
    return true;
}

void SetBoxPrivateData16(XTHandle box, uint32_t key, uint16_t value)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    StorePrivate(box, key, bytes, 2);
}

void SetBoxPrivateData32(XTHandle box, uint32_t key, int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    StorePrivate(box, key, bytes, 4);
}

void RemoveBoxPrivateData(XTHandle box, uint32_t key)
{
    StorePrivate(box, key, nullptr, 0);
}

XTHandle FindBoxByPrivateData16(uint32_t key, uint16_t value)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return FindByPrivate(key, bytes, 2);
}

XTHandle FindBoxByPrivateData32(uint32_t key, int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    return FindByPrivate(key, bytes, 4);
}

// ---- Links ---------------------------------------------------------------------------------

Mapper::Mapper() = default;
Mapper::~Mapper() = default;

bool Mapper::IsLinked(XTHandle box, int32_t* id)
{
    return GetBoxPrivateData32(box, BoxLinkIdKey, id);
}

void Mapper::Link(XTHandle box, int32_t id)
{
    SetBoxPrivateData16(box, BoxLinkMarkKey, BoxLinkMark);
    SetBoxPrivateData32(box, BoxLinkIdKey, id);
    FindBox(id);
}

void Mapper::Unlink(XTHandle box)
{
    RemoveBoxPrivateData(box, BoxLinkIdKey);
    RemoveBoxPrivateData(box, BoxLinkMarkKey);
}

XTHandle Mapper::FindBox(int32_t id)
{
    if (const XTHandle box = FindBoxByPrivateData32(BoxLinkIdKey, id))
        return box;
    const XTHandle view = xt_getdocviewref(nullptr);
    const auto master = mUnusedMasterMap.find(id);
    if (master != mUnusedMasterMap.end()) {
        if (!ViewTo(view, static_cast<int16_t>(master->second - 2), FailureMode::ReturnValue, 665, "Mapper::FindBox"))
            return 0;
        mViewOnMaster = 1;
    } else {
        if (!ViewTo(view, 0, FailureMode::ReturnValue, 671, "Mapper::FindBox"))
            return 0;
        mViewOnMaster = 0;
    }
    return FindBoxByPrivateData32(BoxLinkIdKey, id);
}

XTHandle Mapper::FindSlugFromMP(uint32_t key, uint16_t value)
{
    XTHandle doc = 0;
    const XTHandle view = xt_getdocviewref(&doc);
    if (!HasMasterPages(doc))
        return 0;
    if (!ViewTo(view, 1, FailureMode::ReturnValue, 689, "Mapper::FindSlugFromMP"))
        return 0;
    int16_t count = 0;
    if (CallHost<XPH_SpreadCount>(doc, 1, &count) != XT_OK) {
        ReportApiFailure(FailureMode::ReturnValue, kFilterFile, 692, "Mapper::FindSlugFromMP");
        return 0;
    }
    for (int16_t i = 1; i <= count && i > 0; ++i) {
        XTHandle spread = 0;
        uint8_t unused = 0;
        char name[256] = {};
        if (CallHost<XPH_MasterSpread>(doc, i, &spread, &unused, name, static_cast<int32_t>(sizeof name)) != XT_OK) {
            ReportApiFailure(FailureMode::ReturnValue, kFilterFile, 698, "Mapper::FindSlugFromMP");
            return 0;
        }
        if (!unused)
            continue;
        if (const XTHandle box = FindBoxByPrivateData16(key, value))
            return box;
    }
    ViewTo(view, 0, FailureMode::ReturnValue, 714, "Mapper::FindSlugFromMP");
    return 0;
}

void Mapper::MasterPatch()
{
    if (CallHost<XDD_DocumentQuestion>(0) != XT_OK) {
        ReportApiFailure(FailureMode::ReturnEmpty, kFilterFile, 1375, "Mapper::MasterPatch");
        return;
    }
    if (CallHost<XDD_DocumentQuestion>(1) != XT_OK) {
        ReportApiFailure(FailureMode::ReturnEmpty, kFilterFile, 1379, "Mapper::MasterPatch");
        return;
    }
    const XTHandle view = xt_getdocviewref(nullptr);
    uint8_t masters = 0;
    if (CallHost<XDD_ShowsMasters>(view, &masters) != XT_OK) {
        ReportApiFailure(FailureMode::ReturnEmpty, kFilterFile, 1385, "Mapper::MasterPatch");
        return;
    }
    if (masters)
        ViewTo(view, 0, FailureMode::ReturnEmpty, 1398, "Mapper::MasterPatch");
}

void Mapper::UnInstall()
{
    MasterPatch();
    XTHandle previous = 0;
    for (;;) {
        XTHandle box = FindBoxByPrivateData16(BoxLinkMarkKey, BoxLinkMark);
        if (!box)
            box = FindSlugFromMP(BoxLinkMarkKey, BoxLinkMark);
        // A host that keeps a mark we removed would hand the same box back for ever.
        if (!box || box == previous)
            break;
        previous = box;
        int32_t id = 0;
        if (!GetBoxPrivateData32(box, BoxLinkIdKey, &id))
            RemoveBoxPrivateData(box, BoxLinkMarkKey);
        else if (id < 0) {
            // A disposed box leaves the work-box list too, or a later clean-up would dispose
            // its handle again, by then perhaps another box's.
            CallHost<XBY_DisposeBox>(box, 1);
            RemoveWorkBox(box);
        } else
            Unlink(box);
    }
    if (ViewTo(xt_getdocviewref(nullptr), 0, FailureMode::ReturnEmpty, 307, "Mapper::UnInstall")) {
        mNextLinkId = 0;
        mStoryCount = 0;
        mAnchBoxLives = 0;
    }
}

// ---- Analysis ------------------------------------------------------------------------------

int32_t Mapper::AnaliseDocument()
{
    UnInstall();
    EnsureToolMode();
    mNextLinkId = 0;
    mAnchBoxLives = 0;
    mStoryCount = -777;
    mMasterSpreadCount = 0;
    mViewOnMaster = 0;

    if (!MultiDocMode()) {
        mProgress = std::make_unique<ProgressBar>("Analyzing document", 100);
    } else if (!mProgress) {
        mProgress = std::make_unique<ProgressBar>("Analyzing document", ++g_analysedDocuments);
    } else {
        const uint32_t position = mProgress->Position();
        mProgress = std::make_unique<ProgressBar>("Analyzing next document", position);
    }
    mProgress->Show();

    XTHandle doc = 0;
    xt_getdocviewref(&doc);
    int16_t spreads = 0;
    CallHost<XPH_SpreadCount>(doc, 0, &spreads);
    uint32_t visited = 0;
    for (int16_t s = 1; s <= spreads && s > 0; ++s) {
        XTHandle spread = 0;
        if (CallHost<XPH_LayoutSpread>(doc, s, &spread) != XT_OK)
            continue;
        XTHandle box = 0;
        CallHost<XPH_FirstBox>(spread, &box);
        while (box > 0) {
            if (IsTextBox(box))
                AnaliseText(box, 0, 0);
            mProgress->SetPosition(static_cast<uint32_t>(10.0 * visited / (visited + 100)));
            ++visited;
            XTHandle next = 0;
            if (CallHost<XPH_NextBox>(box, &next) != XT_OK)
                break;
            box = next;
        }
    }
    FindBoxFromUnusedMP(true);
    mProgress->SetPosition(10);

    mPrivateBox.reset();
    mPrivateBox.reset(KestoBoxExp::New(*this));

    EnsureToolMode();
    return Connect() ? mStoryCount : 0;
}

bool Mapper::AnaliseText(XTHandle box, int32_t depth, int16_t index)
{
    XTHandle previous = 0;
    if (CallHost<XBY_PreviousInChain>(box, &previous) == XT_OK && previous != 0)
        return false;
    if (index != 0)
        SetCurrentBox(box);
    int32_t id = 0;
    if (IsLinked(box, &id)) {
        if (index != 0)
            mUnusedMasterMap.emplace(id, static_cast<uint16_t>(index));
        return true;
    }

    std::list<XTHandle> skipped;
    FillerTest filler;
    {
        QStoryText text(box);
        QStoryCursor cursor(text);
        const uint8_t* chars = text.Copy();
        while (cursor.HasMore()) {
            const uint32_t kind = cursor.GetRunKind();
            const int32_t start = cursor.GetPosition();
            const int32_t end = cursor.NextBoundary();
            if (kind == 0) {
                filler.Feed(chars + start, end - start);
            } else if (kind == kAnchoredItem) {
                if (depth > kMaxDepth) {
                    GeneralLogStream() << "#######stack overflows soon########" << std::endl;
                } else {
                    XTHandle anchored = 0;
                    CallHost<XBY_AnchoredBox>(text.GetTextHandle(true), start, &anchored);
                    if (anchored <= 0) {
                        GeneralLogStream() << "#######AnchBox is not AnchBox######, lives remain: " << std::dec
                                           << mAnchBoxLives << std::endl
                                           << "start=" << start << "    Story size=" << text.mInitLen
                                           << std::endl;
                        ++mAnchBoxLives;
                    } else if (!AnaliseItem(anchored, depth)) {
                        skipped.push_back(anchored);
                    }
                }
            }
            cursor.Next();
        }
    }
    if (!filler.Links())
        return false;

    mSkippedItems.splice(mSkippedItems.end(), skipped);
    const int32_t linkId = mNextLinkId++;
    Link(box, linkId);
    if (index == 0)
        SetCurrentBox(box);
    else
        mUnusedMasterMap.emplace(linkId, static_cast<uint16_t>(index));
    return true;
}

bool Mapper::AnaliseItem(XTHandle item, int32_t depth)
{
    if (IsTextBox(item))
        return AnaliseText(item, depth + 1, 0);
    uint8_t isGroup = 0;
    std::vector<XTHandle> members(16);
    int32_t count = static_cast<int32_t>(members.size());
    int32_t result = CallHost<XBY_GroupMembers>(item, &isGroup, members.data(), &count);
    if (result == XT_ERR_PARAM && count > static_cast<int32_t>(members.size())) {
        members.resize(static_cast<std::size_t>(count));
        result = CallHost<XBY_GroupMembers>(item, &isGroup, members.data(), &count);
    }
    if (result != XT_OK || !isGroup)
        return false;
    for (int32_t i = count - 1; i >= 0; --i)
        if (members[static_cast<std::size_t>(i)] != item)
            AnaliseItem(members[static_cast<std::size_t>(i)], depth);
    return false;
}

void Mapper::FindBoxFromUnusedMP(bool analyse)
{
    static const char* const kFunction = "Mapper::FindBoxFromUnusedMP";
    XTHandle doc = 0;
    const XTHandle view = xt_getdocviewref(&doc);
    if (!HasMasterPages(doc)) {
        mMasterSpreadCount = 0;
        return;
    }
    if (!ViewTo(view, 1, FailureMode::ReturnEmpty, 1231, kFunction))
        return;
    int16_t count = 0;
    if (CallHost<XPH_SpreadCount>(doc, 1, &count) != XT_OK) {
        ReportApiFailure(FailureMode::ReturnEmpty, kFilterFile, 1234, kFunction);
        return;
    }
    mMasterSpreadCount = 0;
    for (int16_t i = 1; i <= count && i > 0; ++i) {
        XTHandle spread = 0;
        uint8_t unused = 0;
        char name[256] = {};
        if (CallHost<XPH_MasterSpread>(doc, i, &spread, &unused, name, static_cast<int32_t>(sizeof name)) != XT_OK) {
            ReportApiFailure(FailureMode::ReturnEmpty, kFilterFile, 1243, kFunction);
            return;
        }
        ++mMasterSpreadCount;
        if (!unused)
            continue;
        xt_viewgotomaster(view, static_cast<int16_t>(i - 2));
        XTHandle box = 0;
        if (CallHost<XPH_FirstBox>(spread, &box) != XT_OK) {
            ReportApiFailure(FailureMode::ReturnEmpty, kFilterFile, 1273, kFunction);
            return;
        }
        while (box > 0) {
            uint8_t item = 0;
            if (CallHost<XPH_IsMasterItem>(box, spread, &item) == XT_OK && item && IsTextBox(box)) {
                int32_t id = 0;
                if (analyse)
                    AnaliseText(box, 0, i);
                else if (IsLinked(box, &id))
                    mUnusedMasterMap.emplace(id, static_cast<uint16_t>(i));
            }
            XTHandle next = 0;
            if (CallHost<XPH_NextBox>(box, &next) != XT_OK)
                break;
            box = next;
        }
    }
    ViewTo(view, 0, FailureMode::ReturnEmpty, 1327, kFunction);
}

void Mapper::SelectStoryStarts()
{
    for (int32_t id = 0;; ++id) {
        const XTHandle box = FindBox(id);
        if (!box)
            return;
        QStory story(box);
        if (story.mSelStart == 0 && story.mSelEnd == 0)
            continue;
        EnsureToolMode();
        if (CallHost<XBY_SetCurrentBox>(box) == XT_OK) {
            const XTHandle text = story.GetTextHandle(true);
            CallHost<XTY_SetSelection>(text, 0, 0, 1);
        } else {
            GeneralLogStream() << "Unable to set curbox(" << std::hex << box << std::dec
                               << "),   storyID=" << id << std::endl;
            BreakPoint_KS(nullptr);
        }
    }
}

// ---- Connection ----------------------------------------------------------------------------

void Mapper::CountLinkedStories()
{
    while (FindBox(mNextLinkId))
        ++mNextLinkId;
}

void Mapper::AnchoredBoxPass()
{
    WalkStoryRuns(mStoryCount, [this](QStoryCursor& cursor, QStoryText& text) {
        if (cursor.GetRunKind() != kAnchoredItem)
            return;
        XTHandle anchored = 0;
        CallHost<XBY_AnchoredBox>(text.GetTextHandle(true), cursor.GetPosition(), &anchored);
        int32_t linkId = 0;
        const bool linked = anchored > 0 && IsLinked(anchored, &linkId);
        if (!linked)
            linkId = mNextLinkId;
        mHidden.Add(cursor, linkId);
        if (!linked)
            ++mNextLinkId;
    });
}

void Mapper::HiddenContentPass()
{
    WalkStoryRuns(mStoryCount, [this](QStoryCursor& cursor, QStoryText&) {
        const uint32_t kind = cursor.GetRunKind();
        if (kind == 0 || (kind >= 5 && kind <= 7))
            return;
        if (mHidden.Add(cursor, mNextLinkId) && kind != kAnchoredItem)
            ++mNextLinkId;
    });
}

bool Mapper::PrepareMasterPages()
{
    if (MasterBoxMap* masters = MasterBoxRegistry.GetIf())
        masters->clear();
    if (AutotextBoxMap* autotext = AutotextBoxRegistry.GetIf())
        autotext->clear();
    // Pass 1 runs even after a failed pass 0, and once more after a failed pass 1: no document
    // may keep a tag that pass 0 placed.
    const char* placing = nullptr;
    const char* removing = nullptr;
    const int32_t placed = PreprocessMasterBoxes(0, &placing);
    const int32_t removed = PreprocessMasterBoxes(1, &removing);
    if (placed == XT_OK && removed == XT_OK)
        return true;
    mLinkTagKept = removed != XT_OK && PreprocessMasterBoxes(1) != XT_OK;
    const char* call = placed != XT_OK ? placing : removing;
    mLinkRefusal = HostRefusalText(placed != XT_OK ? placed : removed, call ? call : "a call of the master pages");
    xt_viewgotomaster(xt_getdocviewref(nullptr), 0);
    ReportApiFailure(FailureMode::ReturnValue, kFilterFile, placed != XT_OK ? 595 : 596, "Mapper::Connect");
    return false;
}

bool Mapper::CountOnUnusedMasterPages(XTHandle view, XTHandle doc)
{
    if (!ViewTo(view, 1, FailureMode::ReturnValue, 477, "Mapper::Connect"))
        return false;
    int16_t count = 0;
    if (CallHost<XPH_SpreadCount>(doc, 1, &count) != XT_OK) {
        ReportApiFailure(FailureMode::ReturnError, kFilterFile, 480, "Mapper::Connect");
        return false;
    }
    for (int16_t i = 1; i <= count && i > 0; ++i) {
        XTHandle spread = 0;
        uint8_t unused = 0;
        char name[256] = {};
        if (CallHost<XPH_MasterSpread>(doc, i, &spread, &unused, name, static_cast<int32_t>(sizeof name)) == XT_OK &&
            unused)
            CountLinkedStories();
    }
    return ViewTo(view, 0, FailureMode::ReturnValue, 503, "Mapper::Connect");
}

bool Mapper::Connect()
{
    mLinkRefusal.clear();
    MasterPatch();
    FindBoxFromUnusedMP(false);
    if (!mPrivateBox) {
        SelectStoryStarts();
        mPrivateBox.reset(KestoBoxImp::New(*this));
        if (!mPrivateBox)
            AssertFail(kFilterFile, 459, "mPrivateBox.get()");
    }

    // The story count keeps its mark of an analysis under way until the stories are counted.
    mNextLinkId = mAnchBoxLives = 0;
    CountLinkedStories();

    XTHandle doc = 0;
    const XTHandle view = xt_getdocviewref(&doc);
    if (HasMasterPages(doc) && !CountOnUnusedMasterPages(view, doc))
        return false;

    if (mNextLinkId == 0)
        return false;
    mStoryCount = mNextLinkId;

    AnchoredBoxPass();
    mHiddenBase = mNextLinkId;
    HiddenContentPass();

    SettingsFile* settings = Settings.GetIf();
    if (!settings || settings->GetMasterPageMode() != 1)
        return true;
    if (!PrepareMasterPages())
        return false;

    const int32_t level = MasterPageLogLevel();
    if (level == 0)
        return true;
    if (level >= 3)
        CheckMasterStoryIds(*this);
    GeneralLogStream() << MasterPageSummary(level >= 2, level >= 3) << std::flush;
    return true;
}

// ---- Private working boxes ---------------------------------------------------------------

int32_t Mapper::GetPrivateId(const RunKey& key) const
{
    return mPrivateBox ? mPrivateBox->GetPrivateId(key) : -1;
}

int32_t Mapper::CopyProbe(int32_t id, XTHandle box, int32_t position)
{
    return mPrivateBox ? mPrivateBox->CopyProbe(id, box, position) : 0;
}

int32_t Mapper::ProbeCount() const
{
    return mPrivateBox ? mPrivateBox->ProbeCount() : 0;
}

// ---- Hidden content ------------------------------------------------------------------------

void Mapper::FindHidden(HiddenRecord& record, QStoryCursor& cursor) const
{
    record = mHidden.Lookup(cursor);
}

bool Mapper::GetHiddenId(QStoryCursor& cursor, int32_t& id) const
{
    const HiddenRecord record = mHidden.Lookup(cursor);
    if (record.id == -1)
        return false;
    id = record.id;
    return true;
}
