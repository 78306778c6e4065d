#include "Plugin/Filter/Importer.h"

#include <algorithm>
#include <exception>
#include <map>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "Container/Storage/Errors.h"
#include "Foundation/ErrorCodes.h"
#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Filter/Attrib_KS.h"
#include "Plugin/Filter/Digger2.h"
#include "Plugin/Filter/FixedStory.h"
#include "Plugin/Filter/KestoBox.h"
#include "Plugin/Mixer/BoxRecords.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/MasterPages.h"
#include "Plugin/Mixer/Progress.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoException.h"
#include "Plugin/Shell/KestoInterface.h"
#include "platform/host/documents/XTDocSuites.h"
#include "platform/host/documents/XTFlowSuites.h"
#include "platform/host/documents/XTTextSuites.h"

using namespace KS_DWX::Import;

namespace {

constexpr char kImporterFile[] = "Importer.cpp";
constexpr int32_t kStepPoints = 0x00120000;  // 18 pt
constexpr int kEnlargeTries = 20;
constexpr uint32_t kOverflowHeight = 0x7CCCCCCC;
constexpr size_t kLineRecordSize = 64;
constexpr size_t kHeightWord = 5;
constexpr uint32_t kTagRunMask = 0xFFFFFF00;
constexpr uint32_t kTagRunKind = 0x414B4200;
constexpr int32_t kPointDirection = 1000;

// Documents imported in one multi-document run: the total of its progress window.
uint32_t g_importedDocuments = 0;

bool MultiDocRun()
{
    return KestoInterface::Instance()->m_multiDocMode;
}

std::ostream& Log()
{
    return GeneralLogStream();
}

int32_t Word(const uint8_t* bytes)
{
    return static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24);
}

std::vector<int32_t> RunRecords(IRun& run, uint32_t size)
{
    std::vector<int32_t> words;
    uint8_t record[16];
    while (run.Read(record, sizeof record) == size)
        for (uint32_t i = 0; i < size; i += 4)
            words.push_back(Word(record + i));
    return words;
}

// A further counted reference of an object somebody else holds.
template <class T>
RefPtr<T> Shared(T& object)
{
    object.AddRef();
    return RefPtr<T>(&object);
}

// The layout number an exchange story names: its "story_type" is "layout_cur" and a decimal.
bool StoryLayout(IStory& story, int32_t& n)
{
    const char16_t* type = story.GetText(u"story_type");
    if (!type)
        return false;
    const std::u16string text(type);
    if (text.size() <= 10)
        return false;
    int64_t value = 0;
    for (size_t i = 10; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return false;
        value = value * 10 + (text[i] - u'0');
        if (value > 0x7FFF)
            return false;
    }
    n = static_cast<int32_t>(value);
    return true;
}

void UpdateModeOne()
{
    int32_t mode = 0;
    if (CallHost<XSZ_GetUpdateMode>(&mode) != XT_OK || mode != 1)
        CallHost<XSZ_SetUpdateMode>(1);
}

int16_t LayoutCount()
{
    XTHandle project = 0;
    int16_t count = 0;
    if (CallHost<XPK_CurrentProject>(&project) != XT_OK || CallHost<XPK_LayoutCount>(project, &count) != XT_OK)
        return 0;
    return count;
}

// Guards the editing of one host story: the box is made current, its selection collapsed,
// screen updates stopped and stray copies of the module's tag run removed. `view` receives the
// import's fixed view of the story, taken as the export walked it: a tag run was a paragraph run
// of its own there, so the view keeps its paragraph-run ends where the run stood.
class ImpSentry {
public:
    ImpSentry(Mapper& mapper, XTHandle box, FixedStory& view) : mBox(box)
    {
        const XTHandle previous = SetCurrentBox(box);
        QStoryText text(box);
        CallHost<XTY_SetSelection>(text.GetTextHandle(), 0, 0, 0);
        SetHostUpdate(0);
        view = FixedStory(text, mapper);
        std::vector<std::pair<int32_t, int32_t>> cuts;
        QStoryCutter cutter(box, true);
        QStoryCursor cursor(text);
        while (cursor.HasMore()) {
            const uint32_t kind = cursor.GetRunKind();
            if (kind == 0 || (kind >= 5 && kind <= 7)) {
                cursor.Next();
                continue;
            }
            // The lookup leaves the cursor behind the run: the run's own range is taken around it.
            const int32_t start = cursor.GetPosition();
            HiddenRecord record;
            mapper.FindHidden(record, cursor);
            if (cursor.HasMore() && cursor.GetPosition() <= start)
                cursor.Next();
            const int32_t end =
                cursor.HasMore() ? cursor.GetPosition() : static_cast<int32_t>(text.ConstructionLength());
            if (record.id < 0 && (kind & kTagRunMask) == kTagRunKind && end > start) {
                cutter.Add(start, end);
                cuts.emplace_back(start, end);
            }
        }
        cutter.Apply();
        view.Cut(cuts);
        SetCurrentBox(previous);
    }
    virtual ~ImpSentry()
    {
        const XTHandle previous = SetCurrentBox(mBox);
        QStory story(mBox);
        story.Refresh();
        CallHost<XTY_SetSelection>(story.GetTextHandle(), 0, 0, 0);
        SetCurrentBox(previous);
    }
    virtual void Unused() {}

private:
    XTHandle mBox;
};

} // namespace

// ---- Failure texts ----------------------------------------------------------------------------

std::string CaughtErrorText()
{
    const auto form = [](int32_t code, const char* name, const std::string& text) {
        return std::string(name) + "<" + std::to_string(code) + ">:\t" + text;
    };
    try {
        throw;
    } catch (const KestoException& e) {
        return form(e.GetCode(), ErrorCodeNameOrUnknown(e.GetCode()), e.GetText().Text());
    } catch (const FilterException& e) {
        return form(e.Code(), "Container Error", e.Text() ? e.Text() : FilterErrorText(e.Code()));
    } catch (const std::bad_alloc&) {
        return form(ErrorCode::LowMemory, ErrorCodeNameOrUnknown(ErrorCode::LowMemory), "");
    } catch (const std::exception& e) {
        return form(ErrorCode::Unexpected, ErrorCodeNameOrUnknown(ErrorCode::Unexpected), e.what());
    } catch (int code) {
        return form(code, ErrorCodeNameOrUnknown(static_cast<uint16_t>(code)), "");
    } catch (...) {
        return form(ErrorCode::Unexpected, ErrorCodeNameOrUnknown(ErrorCode::Unexpected), "");
    }
}

// ---- Story points ------------------------------------------------------------------------------

namespace {

// The string ids by which reference-point records name their kind: 1 a point, 2 the start of a
// range, 3 its end.
std::map<int32_t, int32_t> ReferenceKinds(IStory& story)
{
    std::map<int32_t, int32_t> kinds;
    const char16_t* names[3] = {u"point", u"start", u"end"};
    for (int32_t kind = 1; kind <= 3; ++kind) {
        const int32_t id = story.GetTable(names[kind - 1], kind);
        if (id >= 0)
            kinds.emplace(id, kind);
    }
    return kinds;
}

} // namespace

StoryPoints ReadStoryPoints(IStory& story)
{
    const std::map<int32_t, int32_t> kinds = ReferenceKinds(story);
    std::map<int32_t, int32_t> openStarts;
    StoryPoints points;
    for (int32_t p = 0;; ++p) {
        RefPtr<IPara> para = story.Paragraph(p);
        if (!para)
            break;
        for (int32_t r = 0;; ++r) {
            RefPtr<IRun> run = para->Run(r);
            if (!run)
                break;
            const int32_t kind = run->Kind();
            if (kind >= kRunUnicodes && kind <= kRunSpecialChars) {
                points.push_back({kPointText, -1, p, r});
            } else if (kind == kRunRefPoints) {
                const std::vector<int32_t> words = RunRecords(*run, 12);
                for (size_t i = 0; i + 2 < words.size(); i += 3) {
                    const int32_t a = words[i];
                    const auto found = kinds.find(words[i + 2]);
                    if (found == kinds.end())
                        continue;
                    if (found->second == 1) {
                        points.push_back({a, kPointDirection, p, -1});
                    } else if (found->second == 2) {
                        points.push_back({a, 0, p, -1});
                        ++openStarts[a];
                    } else if (found->second == 3) {
                        auto open = openStarts.find(a);
                        if (open == openStarts.end() || open->second == 0)
                            continue;
                        --open->second;
                        points.push_back({a, 1, p, -1});
                    }
                }
            } else if (kind == kRunPlaceHolders) {
                const std::vector<int32_t> words = RunRecords(*run, 8);
                for (size_t i = 0; i + 1 < words.size(); i += 2)
                    points.push_back({words[i], kPointDirection, p, -1});
            }
        }
        points.push_back({kPointParagraphEnd, -1, p, -1});
    }
    return points;
}

bool HasStoryPoints(IStory& story)
{
    for (const StoryPoint& point : ReadStoryPoints(story))
        if (point.id >= 0)
            return true;
    return false;
}

// ---- Gaps in a story's Book data --------------------------------------------------------------

namespace {

// The first index of `count` children read 0, 1, ... that the stored set lists behind the end
// of the reading, or -1: a child the reading would have lost.
int32_t StoredBeyond(const std::vector<int32_t>& stored, int32_t count)
{
    for (const int32_t index : stored)
        if (index >= count)
            return index;
    return -1;
}

std::string Where(int32_t paragraph, int32_t run)
{
    return "run " + std::to_string(run) + " of paragraph " + std::to_string(paragraph);
}

// What the records of one run lack; empty when each names only what the Book holds.
std::string RecordGap(IStory& story, IRun& run, const std::map<int32_t, int32_t>& kinds, const std::string& where)
{
    const auto unknown = [&](int32_t ref) { return ref != -1 && !story.HasString(ref); };
    const int32_t kind = run.Kind();
    const uint32_t size = kind == kRunRefPoints ? 12 : 8;
    const std::vector<int32_t> words = RunRecords(run, size);
    const size_t fields = size / 4;
    for (size_t i = 0; i + fields <= words.size(); i += fields) {
        const std::string record = "record " + std::to_string(i / fields) + " of " + where;
        if (kind == kRunSpecialChars) {
            if (unknown(words[i]) || unknown(words[i + 1]) || !Digger::KnowsSpecialChar(run, words[i], words[i + 1]))
                return record + " names a special character the Book does not hold";
        } else if (kind == kRunRefPoints) {
            if (unknown(words[i + 1]) || kinds.find(words[i + 2]) == kinds.end())
                return record + " names a reference the Book does not hold";
        } else if (unknown(words[i + 1])) {
            return record + " names an object type the Book does not hold";
        }
    }
    return std::string();
}

// The old text the exchange story's paragraphs do not reach: the cursor passes one host
// paragraph run per exchange paragraph, and what lies behind the last one would be cut with
// nothing written for it. Empty when the exchange story's `paragraphs` reach the story's end.
std::string OldTextBeyond(int32_t paragraphs, const Digger& digger)
{
    int32_t breaks = 0;
    for (const StorySegment& segment : digger.Segments()) {
        if (segment.id == kBreakSegment) {
            breaks += digger.EndsParagraph(segment) ? 1 : 0;
            continue;
        }
        if (breaks >= paragraphs && (segment.id >= 0 || segment.end > segment.start))
            return "the exchange file holds " + std::to_string(paragraphs) +
                   " paragraphs of it, the document's story has text beyond them";
    }
    return std::string();
}

} // namespace

std::string FindStoryGap(IStory& story)
{
    std::string where = "the story's attributes";
    try {
        story.GetText(u"story_type");
        const std::map<int32_t, int32_t> kinds = ReferenceKinds(story);
        int32_t p = 0;
        for (;; ++p) {
            where = "paragraph " + std::to_string(p);
            RefPtr<IPara> para = story.Paragraph(p);
            if (!para)
                break;
            para->GetText(u"uniqID");
            int32_t r = 0;
            for (;; ++r) {
                where = Where(p, r);
                RefPtr<IRun> run = para->Run(r);
                if (!run)
                    break;
                run->GetText(u"private");
                const int32_t kind = run->Kind();
                if (kind == kRunNone)
                    return where + " has no readable content";
                if (kind >= kRunSpecialChars && kind <= kRunPlaceHolders) {
                    const std::string gap = RecordGap(story, *run, kinds, where);
                    if (!gap.empty())
                        return gap;
                } else {
                    uint8_t unit[4];
                    while (run->Read(unit, sizeof unit) != 0) {
                    }
                }
            }
            where = "the run list of paragraph " + std::to_string(p);
            const int32_t lost = StoredBeyond(para->StoredChildren(), r);
            if (lost >= 0)
                return Where(p, r) + " is missing (the paragraph lists run " + std::to_string(lost) + " behind it)";
        }
        where = "the paragraph list";
        const int32_t lost = StoredBeyond(story.StoredChildren(), p);
        if (lost >= 0)
            return "paragraph " + std::to_string(p) + " is missing (the story lists paragraph " + std::to_string(lost) +
                   " behind it)";
    } catch (...) {
        return where + " cannot be read: " + CaughtErrorText();
    }
    return std::string();
}

// ---- Overflow and enlargement ------------------------------------------------------------------

bool TextOverflows(XTHandle box)
{
    int16_t index = -1;
    CallHost<XDD_CurrentDocIndex>(&index);
    XTHandle current = 0;
    CallHost<XBY_CurrentBox>(&current);
    uint8_t noReflow = 0;
    if (CallHost<XBG_BoxFlag>(box, &noReflow) == XT_OK && noReflow)
        return false;
    UpdateModeOne();
    XTRect bounds{}, obstacle{};
    CallHost<XBY_Bounds>(box, &bounds);
    CallHost<XBY_ObstacleBounds>(box, &obstacle);
    if ((bounds.top == obstacle.top && bounds.left == obstacle.left) ||
        (bounds.left == obstacle.left && bounds.right == obstacle.right))
        return false;
    int32_t size = 0;
    if (CallHost<XTY_LineRecords>(box, nullptr, &size) != XT_OK || size < 0)
        size = 0;
    std::vector<uint8_t> records(static_cast<size_t>(size));
    if (size > 0 && CallHost<XTY_LineRecords>(box, records.data(), &size) != XT_OK)
        size = 0;
    const size_t count = static_cast<size_t>(size) / kLineRecordSize;
    if (count == 0) {
        // A box that shows no line at all holds none of its text.
        QStory story(box);
        return story.GetLength(true) > 0;
    }
    const uint8_t* last = records.data() + (count - 1) * kLineRecordSize;
    return static_cast<uint32_t>(Word(last + 4 * kHeightWord)) == kOverflowHeight;
}

void EnlargeTextBox(XTHandle box, int32_t lastParagraph)
{
    UpdateModeOne();
    XTHandle doc = 0;
    const XTHandle view = xt_getdocviewref(&doc);
    XTRect limit{};
    XTHandle current = 0, spread = 0;
    int16_t page = -1;
    bool haveLimit = false;
    if (CallHost<XDD_ViewCurrentBox>(view, &current) == XT_OK && current == box &&
        CallHost<XDD_SpreadOfBox>(current, &spread) == XT_OK &&
        CallHost<XPH_PageIndexOfBox>(spread, current, &page) == XT_OK &&
        CallHost<XPH_PageBounds>(spread, page, &limit) == XT_OK)
        haveLimit = true;
    if (!haveLimit && CallHost<XFS_LimitRect>(box, &limit) != XT_OK && CallHost<XSQ_LimitRect>(box, &limit) != XT_OK)
        return;

    QStory story(box);
    CallHost<XTY_SetSelection>(story.GetTextHandle(), 0, 0, 1);
    for (int tries = 0; tries < kEnlargeTries; ++tries) {
        XTHandle record = 0;
        if (CallHost<XXC_GetRecord>(0, box, 0, &record) != XT_OK || record == 0)
            break;
        XTBoxRecord fields{};
        if (CallHost<XXC_ReadRecord>(record, &fields) != XT_OK) {
            CallHost<XXC_ReleaseRecord>(record, 1);
            break;
        }
        XTRect& b = fields.bounds;
        const int32_t bottom = lastParagraph > 0 ? b.bottom + kStepPoints : b.bottom;
        const int32_t right = b.right + kStepPoints;
        bool enlarge = false;
        if (b.top >= limit.top)
            enlarge = true;
        if (b.left >= limit.left)
            enlarge = true;
        if (bottom <= limit.bottom) {
            enlarge = true;
            b.bottom = bottom;
        }
        bool apply = enlarge;
        if (right <= limit.right) {
            b.right = right;
            apply = true;
        }
        if (!apply) {
            CallHost<XXC_ReleaseRecord>(record, 1);
            break;
        }
        CallHost<XDD_DocumentChanged>(doc, 3);
        CallHost<XXC_WriteRecord>(record, &fields);
        uint16_t violation = 0;
        CallHost<XXC_ApplyRecord>(record, box, 0, &violation);
        CallHost<XXC_ReleaseRecord>(record, 1);
        if (!TextOverflows(box))
            break;
    }
    if (SetHostUpdate(1) == 0)
        ++ChangeCounter;
}

// ---- Importer ----------------------------------------------------------------------------------

Importer::Importer(QuarkDoc& document, IDoc& importDoc, bool autoResize, bool testStyle, bool setUniqueID,
                   bool newMasterPages)
    : mDoc(Shared(document)), mImportDoc(Shared(importDoc)), mAutoResize(autoResize), mTestStyle(testStyle),
      mSetUniqueID(setUniqueID), mNewMasterPages(newMasterPages)
{
    mFailed = 0;
    mDoc->MakeCurrent();
    CurDocAPI::QueryPrefFlag();
    mLinkedStories = Connect() ? StoryCount() : 0;
    mConverter = std::make_unique<XAttribs>();
}

Importer::~Importer()
{
    mConverter.reset();
    mImportDoc = nullptr;
    mDoc = nullptr;
}

void Importer::Reconnect()
{
    mPrivateBox.reset();
    mHidden = HiddenTable();
    mUnusedMasterMap.clear();
    mSkippedItems.clear();
    mLinkedStories = Connect() ? StoryCount() : 0;
}

bool Importer::GroupStories(std::vector<StoryGroup>& groups)
{
    groups.clear();
    int32_t i = 0;
    try {
        for (;; ++i) {
            RefPtr<IStory> story = mImportDoc->Story(i);
            if (!story)
                break;
            int32_t n = -1;
            const bool named = StoryLayout(*story, n);
            if (groups.empty())
                groups.push_back({named ? n : -1, i, 0});
            else if (named && n != groups.back().layout)
                groups.push_back({n, i, 0});
            ++groups.back().count;
        }
        const int32_t lost = StoredBeyond(mImportDoc->StoredChildren(), i);
        if (lost < 0)
            return true;
        Log() << "####story " << i << " is missing (the exchange file lists story " << lost << " behind it)"
              << std::endl;
    } catch (...) {
        Log() << "####story " << i << " and the stories after it cannot be read: " << CaughtErrorText() << std::endl;
    }
    // Without the whole story list no story can be matched to its box for sure.
    groups.clear();
    return false;
}

bool Importer::StoriesMatchLinks(const StoryGroup& group)
{
    const int32_t linked = mLinkedStories;
    if (group.count == linked)
        return true;
    Log() << "####stories " << group.first << " to " << group.first + group.count - 1 << " of the exchange file do not "
          << "belong to this document: it links " << linked << " boxes to stories of layout "
          << (group.layout < 0 ? 0 : group.layout) << ", the exchange file holds " << group.count
          << " for it; their boxes keep their text" << std::endl;
    SignalBeep(nullptr);
    return false;
}

bool Importer::SelectExchangeLayout(int32_t n, int32_t& current, int32_t& linkCounter)
{
    if (n < 0 || n >= LayoutCount())
        return false;
    if (n == current)
        return true;
    CallHost<LTY_SelectLayout>(static_cast<int16_t>(n));
    linkCounter = 0;
    current = n;
    if (n != mConnectedLayout) {
        mConnectedLayout = n;
        mTouchedLayouts.push_back(static_cast<int16_t>(n));
        Reconnect();
    }
    return true;
}

void Importer::Close(int16_t baseLayout)
{
    if (!MultiDocRun())
        mProgress.reset();
    // Every layout loses its links, marks and private boxes: those the run connected, and any
    // other, since the export leaves formatting samples in every layout, also in one whose
    // stories did not come back.
    std::deque<int16_t> layouts = mTouchedLayouts;
    for (int16_t layout = 0; layout < LayoutCount(); ++layout)
        if (std::find(layouts.begin(), layouts.end(), layout) == layouts.end())
            layouts.push_back(layout);
    for (const int16_t layout : layouts) {
        if (layout == baseLayout)
            continue;
        CallHost<LTY_SelectLayout>(layout);
        UnInstall();
    }
    CallHost<LTY_SelectLayout>(baseLayout);
    UnInstall();
    XTHandle doc = 0;
    xt_getdocviewref(&doc);
    CallHost<XDD_DocumentChanged>(doc, 3);
    CallHost<XDD_ClosingCall>(doc, 1);
}

void Importer::Run()
{
    mFailed = 0;
    const uint32_t total = StoryCount() > 0 ? static_cast<uint32_t>(StoryCount()) : 1u;
    if (!MultiDocRun()) {
        mProgress = std::make_unique<ProgressBar>("Importing document", total);
    } else if (!mProgress) {
        mProgress = std::make_unique<ProgressBar>("Importing document", ++g_importedDocuments);
    } else {
        const uint32_t position = mProgress->Position();
        mProgress = std::make_unique<ProgressBar>("Importing next document", position);
    }
    mProgress->Show();

    XTHandle project = 0, layoutDoc = 0;
    int16_t base = 0;
    if (CallHost<XPK_CurrentProject>(&project) != XT_OK || CallHost<XPK_CurrentLayout>(project, &layoutDoc) != XT_OK ||
        CallHost<XDD_LayoutNumber>(layoutDoc, &base) != XT_OK)
        base = 0;
    CallHost<LTY_SelectLayout>(base);
    mConnectedLayout = base;
    mTouchedLayouts.assign(1, base);

    int32_t exchangeLayout = -1;
    int32_t linkCounter = 0;
    SettingsFile* settings = Settings.GetIf();
    const int32_t maximize = settings ? settings->GetTempBoxMaximizeMode() : 0;
    std::vector<StoryGroup> groups;
    if (!GroupStories(groups))
        mFailed = 1;
    size_t group = 0;
    for (int32_t i = 0; group < groups.size(); ++i, ++linkCounter) {
        if (i == groups[group].first + groups[group].count)
            ++group;
        if (group == groups.size())
            break;
        if (i == groups[group].first) {
            const int32_t n = groups[group].layout;
            const bool selected = n < 0 || n == exchangeLayout || SelectExchangeLayout(n, exchangeLayout, linkCounter);
            if (!selected)
                Log() << "####stories " << i << " to " << i + groups[group].count - 1 << " of the exchange file name layout "
                      << n << ", which the document does not have; they are not imported" << std::endl;
            if (!selected || !StoriesMatchLinks(groups[group])) {
                mFailed = 1;
                i += groups[group].count - 1;
                continue;
            }
        }
        RefPtr<IStory> story = mImportDoc->Story(i);
        if (!story)
            break;

        const XTHandle box = FindBox(linkCounter);
        if (!box) {
            Log() << "####box for story " << i << " is not found. Trying to import into new created box" << std::endl;
            SignalBeep(nullptr);
            mFailed = 1;
            continue;
        }
        ct_Box record(static_cast<uint32_t>(box), 0);
        int16_t spread = -1;
        const BoxClass boxClass = mNewMasterPages ? ClassifyMasterBox(record, &spread) : BoxClassNone;
        if (boxClass == BoxClassLinkedAutotext) {
            LogMasterBox(record, "Import => skipping autotext box", -1);
            continue;
        }

        const std::string gap = FindStoryGap(*story);
        if (!gap.empty()) {
            // Writing what can be read would cut the old text that the missing part was to replace.
            Log() << "####story " << i << " not imported, its text stays as it was: " << gap << std::endl;
            SignalBeep(nullptr);
            mFailed = 1;
            continue;
        }
        bool shapeChanged = false;
        uint32_t savedWord = 0;
        XTHandle savedShape = 0;
        if (maximize != 0) {
            uint8_t isText = 0;
            CallHost<XIG_IsTextBox>(box, &isText);
            if (isText && (maximize == 2 || HasStoryPoints(*story))) {
                int32_t l = 0, t = 0, r = 0, b = 0, pl = 0, pt = 0, pr = 0, pb = 0;
                if (GetBoxBounds(box, &l, &t, &r, &b) == 0 && GetBoxPageBounds(box, &pl, &pt, &pr, &pb) == 0)
                    shapeChanged =
                        CheckBoxShape(static_cast<uint32_t>(box), l, t, r, b, &savedWord, &savedShape, false) == 0;
            }
        }
        const auto restoreShape = [&] {
            if (!shapeChanged)
                return;
            int32_t l = 0, t = 0, r = 0, b = 0;
            if (GetBoxBounds(box, &l, &t, &r, &b) == 0)
                CheckBoxShape(static_cast<uint32_t>(box), l, t, r, b, &savedWord, &savedShape, true);
        };
        if (!MultiDocRun() && mProgress)
            mProgress->Advance(1);

        mStoryIndex = i;
        if (boxClass != BoxClassMasterUsed) {
            ProcessStory(*story, box);
        } else {
            const XTHandle view = xt_getdocviewref(nullptr);
            bool switched = false;
            if (spread < 0) {
                LogMasterBox(record, "WARNING: Spread number invalid for masterpage box", spread);
            } else if (xt_viewgotomaster(view, spread) != XT_OK) {
                ReportApiFailure(FailureMode::ReturnEmpty, kImporterFile, 273, "Importer::Run");
                // The stories that follow are not imported: the run ends as a failure, with the
                // box's shape and the document's links put right.
                mFailed = 1;
                restoreShape();
                Close(base);
                return;
            } else {
                switched = true;
            }
            ProcessStory(*story, box);
            LogMasterBox(record, "SWITCH VIEW TO LAYOUT [BEFORE] => Masterpage box (used)", -1);
            if (xt_viewgotomaster(view, 0) != XT_OK) {
                ReportApiFailure(FailureMode::ReturnEmpty, kImporterFile, 309, "Importer::Run");
                mFailed = 1;
                restoreShape();
                Close(base);
                return;
            }
            (void)switched;
            LogMasterBox(record, "SWITCH VIEW TO LAYOUT [AFTER] => Masterpage box (used)", -1);
        }
        restoreShape();
    }
    // A layout whose links the Book names no story for lost all of them.
    bool namesLayouts = false;
    for (const StoryGroup& g : groups)
        namesLayouts |= g.layout >= 0;
    for (int32_t n = 0; namesLayouts && n < LayoutCount(); ++n) {
        bool named = false;
        for (const StoryGroup& g : groups)
            named |= g.layout == n;
        if (named || !SelectExchangeLayout(n, exchangeLayout, linkCounter) || mLinkedStories <= 0)
            continue;
        Log() << "####layout " << n << " links " << mLinkedStories
              << " boxes to stories, the exchange file holds none of them; their boxes keep their text" << std::endl;
        mFailed = 1;
    }
    Close(base);
}

void Importer::ProcessStory(IStory& story, XTHandle box)
{
    FixedStory segments;
    ImpSentry sentry(*this, box, segments);
    std::unique_ptr<Digger> digger;
    XTHandle textHandle = 0;
    bool unlocked = false;
    const auto relock = [&] {
        if (unlocked && CallHost<XSS_SetLocked>(textHandle, 1) != XT_OK)
            debug_check(1, "Importer::ProcessStory(): ERROR - Relocking temporary unlock of current story failed!");
        unlocked = false;
    };
    try {
        const StoryPoints points = ReadStoryPoints(story);
        QStoryText text(box);
        digger = std::make_unique<Digger>(box, *this, *mConverter, segments, mTestStyle != 0);
        // An exchange story that gave each unique-id marker a paragraph of its own has as many
        // paragraphs as the story has runs; one whose markers share the paragraph they open, fewer.
        int32_t paragraphs = 0;
        for (const StoryPoint& point : points)
            paragraphs += point.id == kPointParagraphEnd;
        digger->SetMarkerParagraphs(paragraphs != segments.ExportedParagraphs(false, digger->TextEnd()) &&
                                    paragraphs == segments.ExportedParagraphs(true, digger->TextEnd()));
        textHandle = text.GetTextHandle();
        const std::string unplaced = OldTextBeyond(paragraphs, *digger);
        if (!unplaced.empty()) {
            Log() << "####story " << mStoryIndex << " not imported, its text stays as it was: " << unplaced << std::endl;
            SignalBeep(nullptr);
            mFailed = 1;
            return;
        }
        for (const StoryPoint& point : points) {
            if (point.id < 0 || digger->Positions().count(Digger::Key(point.id, point.direction)))
                continue;
            // The marker's place could not be found: the old text around it would go untranslated.
            Log() << "####story " << mStoryIndex << " not imported, its text stays as it was: it places marker "
                  << point.id << " that the document's story does not hold" << std::endl;
            SignalBeep(nullptr);
            mFailed = 1;
            return;
        }

        uint8_t locked = 0;
        if (CallHost<XSS_IsLocked>(textHandle, &locked) == XT_OK && locked) {
            unlocked = CallHost<XSS_SetLocked>(textHandle, 0) == XT_OK;
            if (!unlocked)
                debug_check(1, "Importer::ProcessStory(): ERROR - Temporary unlock of current story failed!");
        }

        int32_t paragraphIndex = -1;
        RefPtr<IPara> paragraph;
        for (size_t k = 0; k < points.size(); ++k) {
            const StoryPoint& point = points[k];
            // A paragraph's unique id goes in once, in front of whatever the paragraph holds
            // first: a text run, a marker, or only its end.
            if (point.paragraph != paragraphIndex) {
                paragraph = story.Paragraph(point.paragraph);
                paragraphIndex = point.paragraph;
                int32_t uniqueId = -1;
                if (mSetUniqueID && paragraph && paragraph->GetNumber(u"uniqID", uniqueId) && uniqueId != -1)
                    digger->InsertHidden(uniqueId);
            }
            if (point.id == kPointParagraphEnd) {
                digger->Step(true);
            } else if (point.id == kPointText) {
                if (!paragraph)
                    continue;
                RefPtr<IRun> run = paragraph->Run(point.run);
                if (!run)
                    continue;
                if (run->Kind() == kRunMultibytes)
                    Log() << "*** Multibyte run not imported: para=" << point.paragraph << "  run=" << point.run
                          << std::endl;
                const bool last = k + 1 < points.size() && points[k + 1].id == kPointParagraphEnd;
                digger->InsertRun(*run, last);
            } else if (!digger->Seek(point.id, point.direction, true)) {
                Log() << "*** Object(s) not been imported: para=" << point.id << "  ref=" << paragraphIndex
                      << std::endl;
            }
        }
        // The old text goes before the box is measured: a box grown while it still held both
        // texts would end up wider than its translation needs.
        digger->Flush();
        if (mAutoResize && TextOverflows(box))
            EnlargeTextBox(box, paragraphIndex);
        relock();
    } catch (...) {
        // The story stays as far as it was written: the carriers and the old text already
        // passed go, the rest of the old text stays; the other stories are still imported.
        Log() << "####import of story " << mStoryIndex << " failed: " << CaughtErrorText() << std::endl;
        SignalBeep(nullptr);
        mFailed = 1;
        try {
            if (digger)
                digger->ApplyCuts();
        } catch (...) {
        }
        try {
            relock();
        } catch (...) {
        }
    }
}

std::unique_ptr<Importer> CreateImporter(QuarkDoc* document, IDoc* importDoc, bool autoResize, bool testStyle,
                                         bool setUniqueID, bool newMasterPages)
{
    if (!document || !importDoc)
        return nullptr;
    try {
        return std::make_unique<Importer>(*document, *importDoc, autoResize, testStyle, setUniqueID, newMasterPages);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
