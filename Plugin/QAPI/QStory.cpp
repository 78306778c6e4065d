#include "Plugin/QAPI/QStory.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

#include "Foundation/TraceHooks.h"
#include "Plugin/Shell/BreakPoint.h"
#include "Plugin/Shell/HostSuites.h"

namespace {

// Story text is queried only in this text mode of the host.
constexpr int32_t kStoryTextMode = 1;

// A run table of the story's text handle from one of the host's run calls.
template <class Descriptor>
void FetchRuns(XTHandle text, RunTable& table)
{
    int32_t count = 0;
    if (CallHost<Descriptor>(text, nullptr, &count) != XT_OK || count < 0)
        throw std::bad_alloc();
    std::vector<XTRunEntry> entries(static_cast<size_t>(count));
    if (count > 0 && CallHost<Descriptor>(text, entries.data(), &count) != XT_OK)
        throw std::bad_alloc();
    entries.resize(static_cast<size_t>(count));
    table.Assign(entries);
    table.Trim();
}

XTHandle AttributeStore(QStoryText& text)
{
    XTHandle store = 0;
    CallHost<XTY_AttributeStore>(text.GetTextHandle(true), &store);
    return store;
}

} // namespace

// ---- QStory ------------------------------------------------------------------------------------

QStory::QStory(XTHandle box) : mBox(box)
{
    if (box > 0 && GetTextMode() != kStoryTextMode)
        SetTextMode(kStoryTextMode);
    Fetch();
    mInitLen = mTextLen;
    mInitSelStart = mSelStart;
    mInitSelEnd = mSelEnd;
}

void QStory::Fetch()
{
    mTextHandle = 0;
    mTextLen = 0;
    mSelStart = 0;
    mSelEnd = 0;
    mStamp = ChangeCounter;
    if (mBox <= 0)
        return;
    int32_t start = 0, end = 0, length = 0;
    CallHost<XTY_StoryOfBox>(mBox, &mTextHandle, &start, &end, &length);
    mSelStart = static_cast<uint32_t>(start);
    mSelEnd = static_cast<uint32_t>(end);
    mTextLen = length > 0 ? static_cast<uint32_t>(length) : 0;
}

void QStory::Refresh()
{
    const int32_t previous = GetTextMode();
    int32_t current = GetTextMode();
    if (current != kStoryTextMode) {
        SetTextMode(kStoryTextMode);
        current = kStoryTextMode;
    }
    Fetch();
    if (previous != current)
        SetTextMode(previous);
}

XTHandle QStory::GetTextHandle(bool refresh)
{
    if (refresh && IsStale())
        Refresh();
    return mTextHandle;
}

uint32_t QStory::GetLength(bool refresh)
{
    if (refresh && IsStale())
        Refresh();
    return mTextLen;
}

// ---- QStoryText --------------------------------------------------------------------------------

QStoryText::QStoryText(XTHandle box) : QStory(box)
{
    FetchRuns<XTY_StyleRuns>(mTextHandle, mStyleRuns);
    FetchRuns<XTY_ParagraphRuns>(mTextHandle, mParaRuns);
    mCopy.assign(static_cast<size_t>(mInitLen) + 1, 0);
    if (mInitLen > 0)
        CallHost<XTY_Bytes>(mTextHandle, 0, static_cast<int32_t>(mInitLen), mCopy.data());
    mCopy[mInitLen] = 0;
}

QStoryText::~QStoryText() = default;

// ---- QStoryCursor ------------------------------------------------------------------------------

QStoryCursor::QStoryCursor(QStoryText& text)
    : mStyleRuns(&text.StyleRuns()), mParaRuns(&text.ParaRuns()),
      mEnd(static_cast<int32_t>(text.mInitLen)), mText(&text)
{
    if (mStyleRuns->Count() > 0)
        ReadCharAttributes((*mStyleRuns)[0].value);
}

void QStoryCursor::ReadCharAttributes(uint32_t value)
{
    const XTHandle store = AttributeStore(*mText);
    CallHost<XTY_CharAttributes>(store, value, &mAttributes, &mExtra);
}

int64_t QStoryCursor::StyleEnd() const
{
    // Past the style table the style walker no longer limits the walk.
    if (mStyleIndex >= mStyleRuns->Count())
        return INT64_MAX;
    return int64_t(mStyleStart) + (*mStyleRuns)[mStyleIndex].length;
}

int64_t QStoryCursor::ParaEnd() const
{
    if (mParaIndex >= mParaRuns->Count())
        return INT64_MAX;
    return int64_t(mParaStart) + (*mParaRuns)[mParaIndex].length;
}

bool QStoryCursor::HasMore() const
{
    return mParaStart < mEnd && mParaIndex < mParaRuns->Count();
}

int32_t QStoryCursor::NextBoundary() const
{
    const int64_t boundary = std::min(StyleEnd(), ParaEnd());
    return boundary == INT64_MAX ? mEnd : static_cast<int32_t>(boundary);
}

bool QStoryCursor::StyleEndsFirst() const
{
    return StyleEnd() <= ParaEnd();
}

void QStoryCursor::Next()
{
    const int64_t styleEnd = StyleEnd();
    const int64_t paraEnd = ParaEnd();
    mPosition = NextBoundary();
    if (paraEnd == mPosition) {
        mParaStart += static_cast<int32_t>((*mParaRuns)[mParaIndex].length);
        ++mParaIndex;
        if (mParaIndex >= mParaRuns->Count())
            return;
    }
    if (mStyleIndex >= mStyleRuns->Count())
        return;
    const uint32_t remembered = (*mStyleRuns)[mStyleIndex].value;
    if (styleEnd != mPosition)
        return;
    mStyleStart += static_cast<int32_t>((*mStyleRuns)[mStyleIndex].length);
    ++mStyleIndex;
    // A story whose style runs end before its paragraph runs: the walker stays past its table.
    if (mStyleIndex >= mStyleRuns->Count())
        return;
    const uint32_t value = (*mStyleRuns)[mStyleIndex].value;
    if (value != remembered)
        ReadCharAttributes(value);
}

uint16_t QStoryCursor::GetParaValue() const
{
    return mParaIndex < mParaRuns->Count() ? static_cast<uint16_t>((*mParaRuns)[mParaIndex].value & 0xFFFF) : 0;
}

uint32_t QStoryCursor::GetStyleValue() const
{
    return mStyleIndex < mStyleRuns->Count() ? (*mStyleRuns)[mStyleIndex].value : 0;
}

uint32_t QStoryCursor::GetParaLength() const
{
    return mParaIndex < mParaRuns->Count() ? (*mParaRuns)[mParaIndex].length : 0;
}

uint32_t QStoryCursor::GetStyleLength() const
{
    return mStyleIndex < mStyleRuns->Count() ? (*mStyleRuns)[mStyleIndex].length : 0;
}

int32_t QStoryCursor::GetParaAttributes(XTParaAttribs* record, uint16_t* extra) const
{
    if (!record || mParaIndex >= mParaRuns->Count())
        return kHostLayerFailure;
    const XTHandle store = AttributeStore(*mText);
    uint16_t value = mExtra;
    const int32_t result = CallHost<XTY_ParaAttributes>(store, (*mParaRuns)[mParaIndex].value, record, &value);
    if (extra)
        *extra = value;
    return result;
}

uint32_t QStoryCursor::GetRunKind() const
{
    XTParaAttribs record{};
    if (GetParaAttributes(&record, nullptr) != XT_OK)
        return 0;
    return record.kind;
}

// ---- QStoryCutter ------------------------------------------------------------------------------

QStoryCutter::QStoryCutter(XTHandle box, bool descending) : mBox(box), mDescending(descending ? 1 : 0) {}

void QStoryCutter::Add(int32_t start, int32_t end)
{
    if (start < end) {
        mRanges.emplace_back(start, end);
        mRemoved += static_cast<uint32_t>(end - start);
    }
    mLastEnd = end;
}

int32_t QStoryCutter::Apply(const std::function<int32_t(int32_t start, int32_t end)>& before)
{
    mApplied.clear();
    SetHostUpdate(0);
    ++ChangeCounter;
    QStory story(mBox);
    const uint32_t length = story.mTextLen;
    // A breach of the queue's bounds means text would go at the wrong place: it is written to
    // the general log, and the work goes on as before.
    if (mLastEnd > 0 && length < static_cast<uint32_t>(mLastEnd))
        BreakPoint_KS(("QStoryCutter::Apply: story length " + std::to_string(length) + " below the last end " +
                       std::to_string(mLastEnd))
                          .c_str());
    SetCurrentBox(mBox);
    const XTHandle text = story.GetTextHandle(true);
    uint8_t flagSet = 0;
    CallHost<XTY_GetFlag>(text, 0, &flagSet);
    if (flagSet)
        CallHost<XTY_SetFlag>(text, 0, 0);
    CallHost<XTY_BeginEdit>(text, 0, 0, 0);

    int32_t refused = XT_OK;
    auto remove = [&](int32_t start, int32_t end) {
        if (before && (refused = before(start, end)) != XT_OK)
            return;
        story.Refresh();
        refused = CallHost<XTY_DeleteText>(story.GetTextHandle(false), start, end);
        if (refused == XT_OK)
            mApplied.emplace_back(start, end);
    };
    if (!mDescending) {
        int32_t shift = 0;
        while (!mRanges.empty() && refused == XT_OK) {
            auto [start, end] = mRanges.front();
            mRanges.pop_front();
            while (!mRanges.empty() && mRanges.front().first == end) {
                end = mRanges.front().second;
                mRanges.pop_front();
            }
            remove(start - shift, end - shift);
            shift += end - start;
        }
    } else {
        while (!mRanges.empty() && refused == XT_OK) {
            auto [start, end] = mRanges.back();
            mRanges.pop_back();
            while (!mRanges.empty() && mRanges.back().second == start) {
                start = mRanges.back().first;
                mRanges.pop_back();
            }
            remove(start, end);
        }
    }

    SetHostUpdate(0);
    ++ChangeCounter;
    CallHost<XTY_EndEdit>(0, 0, 0);
    if (flagSet)
        CallHost<XTY_SetFlag>(story.GetTextHandle(true), 0, 1);
    const uint32_t now = story.GetLength(true);
    if (now != length - mRemoved)
        BreakPoint_KS(("QStoryCutter::Apply: story length " + std::to_string(now) + " after the cut, expected " +
                       std::to_string(length - mRemoved))
                          .c_str());
    mRanges.clear();
    return refused;
}

// ---- Free functions ------------------------------------------------------------------------------

int32_t CopyStoryText(XTHandle sourceText, int32_t start, int32_t end, XTHandle targetText, int32_t position)
{
    const int32_t result = CallHost<XTY_CopyText>(sourceText, start, end, targetText, position);
    if (result != XT_OK)
        return debug_check(result);
    SetHostUpdate(0);
    ++ChangeCounter;
    return debug_check(ChangeCounter != 0 ? 1 : 0);
}

std::string StoryTextOrWarning(XTHandle box)
{
    std::string text;
    try {
        QStoryText story(box);
        text = story.CopyText();
    } catch (const std::bad_alloc&) {
        text.clear();
    }
    return text.empty() ? std::string("#-#-#- WARNING: EMPTY STORY -#-#-#") : text;
}
