#include "Plugin/Filter/KestoBox.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "Foundation/Settings.h"
#include "Plugin/Filter/Attrib_KS.h"
#include "Plugin/Filter/Filter_KS.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/MasterPages.h"
#include "Plugin/Mixer/Progress.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/BreakPoint.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoInterface.h"

namespace {

// Characters per run key in the second private box.
constexpr int32_t kUnitWidth = 2;
constexpr char16_t kFiller[kUnitWidth] = {u' ', u' '};

bool UseObsoleteCopyText()
{
    SettingsFile* settings = Settings.GetIf();
    return settings ? settings->GetUseObsoleteCopyText() : true;
}

bool MultiDocMode()
{
    KestoInterface* state = KestoInterface::Instance();
    return state && state->m_multiDocMode;
}

int32_t StoryLength(XTHandle box)
{
    QStory story(box);
    return static_cast<int32_t>(story.GetLength(true));
}

XTHandle TextOf(XTHandle box)
{
    QStory story(box);
    return story.GetTextHandle(true);
}

// The character format of the style run that holds position.
bool CharFormatAt(XTHandle box, int32_t position, XTCharFormat& format)
{
    QStoryText text(box);
    QStoryCursor cursor(text);
    while (cursor.HasMore() && cursor.NextBoundary() <= position)
        cursor.Next();
    if (!cursor.HasMore())
        return false;
    format = cursor.GetCharAttributes();
    return true;
}

bool SameFormat(const XTCharFormat& a, const XTCharFormat& b)
{
    return a.font == b.font && a.face == b.face && a.size == b.size && a.kern == b.kern && a.track == b.track &&
           a.colour == b.colour && a.shift == b.shift;
}

// A sample of the run at the cursor: the whole run, or, for text, its first space (settled).
SampleRecord SampleAt(QStoryCursor& cursor, QStoryText& text, uint32_t kind)
{
    SampleRecord sample;
    sample.box = text.GetBox();
    sample.start = cursor.GetPosition();
    sample.length = cursor.NextBoundary() - sample.start;
    sample.attributes = cursor.GetCharAttributes();
    if (kind != 0)
        return sample;
    const XTHandle handle = text.GetTextHandle(true);
    const int32_t end = sample.start + sample.length;
    for (int32_t position = sample.start; position < end;) {
        uint32_t code = 0;
        int32_t width = 1;
        if (CallHost<XTY_CharacterUnit>(handle, position, &code, &width) != XT_OK || width < 1)
            break;
        if (code == 0x20) {
            sample.start = position;
            sample.length = std::min(width, end - position);
            sample.settled = true;
            break;
        }
        position += width;
    }
    return sample;
}

} // namespace

RunKey RunKeyAt(const QStoryCursor& cursor)
{
    return RunKey{cursor.GetParaValue(), cursor.GetStyleValue()};
}

// ---- Base ------------------------------------------------------------------------------------

int32_t KestoBox::GetPrivateId(const RunKey&) const
{
    return -1;
}

int32_t KestoBox::CopyProbe(int32_t, XTHandle, int32_t)
{
    return -1;
}

int32_t KestoBox::Probe::CopyTo(XTHandle destinationBox, int32_t position) const
{
    try {
        const XTHandle document = xt_getdocref();
        if (UseObsoleteCopyText())
            return CopyHostText(document, box, start, start + length, document, destinationBox, position) == 0 ? length
                                                                                                               : 0;
        // The cursor that inserts the probe cuts it again by this count, so a copy that took
        // place answers its length here as well.
        const int32_t result = CopyStoryText(TextOf(box), start, start + length, TextOf(destinationBox), position);
        return result == 0 || result == 1 ? length : 0;
    } catch (...) {
        return 0;
    }
}

// ---- Export side -----------------------------------------------------------------------------

KestoBoxExp* KestoBoxExp::New(Mapper& owner)
{
    try {
        return new KestoBoxExp(owner);
    } catch (...) {
        return nullptr;
    }
}

KestoBoxExp::KestoBoxExp(Mapper& owner) : mOwner(owner)
{
    mode = 1;
    const XTHandle first = CreateWorkBox();
    const XTHandle second = first ? CreateWorkBox() : 0;
    if (!first || !second) {
        // Links on a box that is not there would be stored on box 0.
        if (first)
            CallHost<XBY_DisposeBox>(first, 1);
        throw std::runtime_error("no private working box");
    }
    box = first;
    mSecondBox = second;
    const XTHandle document = xt_getdocref();
    AddWorkBox(document, first);
    AddWorkBox(document, second);
    mOwner.Link(first, -1);
    mOwner.Link(second, -2);
    Install();
}

int32_t KestoBoxExp::GetPrivateId(const RunKey& key) const
{
    const auto found = mPrivateIds.find(key);
    return found == mPrivateIds.end() ? -1 : found->second;
}

void KestoBoxExp::Install()
{
    mOwner.SelectStoryStarts();

    std::vector<SampleRecord> records;
    std::vector<RunKey> keys;
    std::map<RunKey, std::size_t> byKey;
    mOwner.WalkStoryRuns(-1, [&](QStoryCursor& cursor, QStoryText& text) {
        const uint32_t kind = cursor.GetRunKind();
        if (kind != 0 && (kind < 5 || kind > 7))
            return;
        // A paragraph run's value alone is shared by runs of different character formats;
        // each of them needs a sample of its own.
        const RunKey key = RunKeyAt(cursor);
        const auto known = byKey.find(key);
        if (known == byKey.end()) {
            byKey.emplace(key, records.size());
            records.push_back(SampleAt(cursor, text, kind));
            keys.push_back(key);
        } else if (!records[known->second].settled) {
            // A settled sample (a space) stays; otherwise the shorter one is kept.
            const SampleRecord sample = SampleAt(cursor, text, kind);
            if (sample.settled || sample.length < records[known->second].length)
                records[known->second] = sample;
        }
    });
    // The private boxes lie on the layout; the last story may have been on a master page.
    if (mOwner.ViewOnMaster())
        xt_viewgotomaster(xt_getdocviewref(nullptr), 0);

    GroupPatch_Jap1(records, keys);

    const XTHandle first = box;
    const XTHandle document = xt_getdocref();
    BumpChangeCounter(1);
    CallHost<XBY_BoxCall>(first);
    SetCurrentBox(first);
    CallHost<XTY_SelectAll>();
    const int32_t length = StoryLength(first);
    if (UseObsoleteCopyText())
        CopyHostText(document, first, 0, length, document, mSecondBox, 0);
    else
        CopyStoryText(TextOf(first), 0, length, TextOf(mSecondBox), 0);
    CallHost<XBY_BoxCall>(mSecondBox);
    SetCurrentBox(mSecondBox);
    BumpChangeCounter(1);
    box = mSecondBox;

    const XTHandle text = TextOf(mSecondBox);
    int32_t normal = -1;
    if (CallHost<XSD_FindStyleSheet>("Normal", &normal) == XT_OK && normal >= 0) {
        CallHost<XTY_SelectAll>();
        CallHost<XSD_ApplyStyleSheet>(normal, 1, text);
        BumpChangeCounter(0);
    }
    const std::size_t count = keys.size();
    ProgressBar* progress = MultiDocMode() ? nullptr : mOwner.Progress();
    for (std::size_t n = 0; n < count; ++n) {
        const int32_t start = static_cast<int32_t>(n) * mWidth;
        CallHost<XTY_SelectRange>(start, start + mWidth);
        ApplyFormatDifferences(TextOf(mSecondBox), records[n].attributes);
        BumpChangeCounter(0);
        if (progress)
            progress->SetPosition(static_cast<uint32_t>(20 + (10 * n) / count));
    }

    // Every key has its unit of two characters, in the order of the keys.
    for (std::size_t n = 0; n < count; ++n)
        mPrivateIds.emplace(keys[n], static_cast<int32_t>(n));
}

void KestoBoxExp::GroupPatch_Jap1(std::vector<SampleRecord>& records, const std::vector<RunKey>& keys)
{
    const XTHandle first = box;
    QStoryCutter cutter(first, true);
    SetCurrentBox(first);
    CallHost<XTY_SetInsertionPoint>(0);
    SetTextAttribute(0, -111, 0);
    InsertHostText(TextOf(first), 0, 1, kFiller, 0);
    BumpChangeCounter(0);
    cutter.Add(0, 1);

    const std::size_t count = keys.size();
    ProgressBar* progress = MultiDocMode() ? nullptr : mOwner.Progress();
    for (std::size_t n = 0; n < count; ++n) {
        SampleRecord& sample = records[n];
        const int32_t before = StoryLength(first);
        KestoBox::Probe{sample.box, sample.start, sample.length}.CopyTo(first, before);
        ++ChangeCounter;
        const int32_t after = StoryLength(first);
        const int32_t growth = after - before;
        if (growth != sample.length) {
            sample.length = growth;
            XTCharFormat last{};
            if (growth <= 0 || !CharFormatAt(first, after - 1, last) || !SameFormat(last, sample.attributes))
                BreakPoint_KS("GroupPatch_Jap1 FAILED");
        }
        if (!sample.settled || growth != kUnitWidth) {
            // Two characters behind the copy take its formatting; the copy itself goes.
            InsertHostText(TextOf(first), after, kUnitWidth, kFiller, 0);
            BumpChangeCounter(0);
            cutter.Add(before, after);
        }
        if (progress)
            progress->SetPosition(static_cast<uint32_t>(10 + (10 * n) / count));
    }
    cutter.Apply();
}

// ---- Import side -----------------------------------------------------------------------------

KestoBoxImp* KestoBoxImp::New(Mapper& owner)
{
    try {
        return new KestoBoxImp(owner);
    } catch (...) {
        return nullptr;
    }
}

KestoBoxImp::KestoBoxImp(Mapper& owner)
{
    for (int32_t n = 2; n > 0; --n) {
        const XTHandle found = owner.FindBox(-n);
        if (!found)
            continue;
        const int32_t length = StoryLength(found);
        box = found;
        mWidth = n;
        mode = n;
        const int32_t count = length / n;
        mProbes.reserve(static_cast<std::size_t>(count));
        for (int32_t i = 0; i < count; ++i)
            mProbes.push_back(Probe{found, i * n, n});
        return;
    }
}

int32_t KestoBoxImp::CopyProbe(int32_t id, XTHandle destinationBox, int32_t position)
{
    if (id < 0 || id >= static_cast<int32_t>(mProbes.size()))
        return 0;
    return mProbes[static_cast<std::size_t>(id)].CopyTo(destinationBox, position);
}
