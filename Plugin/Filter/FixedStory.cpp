#include "Plugin/Filter/FixedStory.h"

#include <algorithm>
#include <string>

#include "Plugin/Filter/Filter_KS.h"
#include "Plugin/Filter/Hidden.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/HostSuites.h"

namespace {

bool IsBreak(char16_t c)
{
    return c == 11 || c == 12 || c == 13;
}

} // namespace

FixedStory::FixedStory(QStoryText& story, const Mapper& mapper)
{
    const int32_t length = static_cast<int32_t>(story.ConstructionLength());
    if (length <= 0)
        return;
    // The break test needs the real characters: a byte copy would take U+010D for a paragraph end.
    std::u16string chars(static_cast<std::size_t>(length), u'\0');
    if (CallHost<XTY_Chars>(story.GetTextHandle(true), 0, length, &chars[0]) != XT_OK)
        chars.assign(static_cast<std::size_t>(length), u'\0');

    int32_t pieceStart = 0;
    auto closePiece = [&](int32_t end) {
        if (end > pieceStart)
            push_back(StorySegment{kTextSegment, 0, pieceStart, end});
    };

    // The exporter opens one exchange paragraph per host paragraph run, and the import steps at the end of each;
    // a paragraph run that ends without a break character (a hidden run is a run of its own, and so are the
    // texts around it) therefore ends in an empty break, so that both sides count the same paragraphs. A
    // unique-id marker shares its exchange paragraph with the run it opens: its end is a break only
    // for an exchange document that gave the marker a paragraph of its own.
    QStoryCursor cursor(story);
    int32_t breakEnd = -1;
    auto endParagraphRun = [&](uint32_t paraIndex, int32_t direction) {
        if (!cursor.HasMore() || cursor.GetParaIndex() == paraIndex)
            return;
        const int32_t position = cursor.GetPosition();
        if (position == breakEnd || position <= 0 || position >= length)
            return;
        closePiece(position);
        push_back(StorySegment{kBreakSegment, direction, position, position});
        pieceStart = position;
        breakEnd = position;
    };

    while (cursor.HasMore()) {
        const int32_t start = cursor.GetPosition();
        const uint32_t paraIndex = cursor.GetParaIndex();
        const uint32_t kind = cursor.GetRunKind();
        if (kind == 0) {
            const int32_t end = cursor.NextBoundary();
            if (end > start && end <= length && IsBreak(chars[static_cast<std::size_t>(end - 1)])) {
                closePiece(end - 1);
                push_back(StorySegment{kBreakSegment, 0, end - 1, end});
                pieceStart = end;
                breakEnd = end;
            }
            cursor.Next();
            endParagraphRun(paraIndex, 0);
            continue;
        }
        if (kind >= 5 && kind <= 7) {
            cursor.Next();
            endParagraphRun(paraIndex, 0);
            continue;
        }
        HiddenRecord record;
        mapper.FindHidden(record, cursor);  // leaves the cursor behind the run
        if (cursor.HasMore() && cursor.GetPosition() <= start)
            cursor.Next();
        const int32_t end = cursor.HasMore() ? cursor.GetPosition() : length;
        if (record.id >= 0 && end > start) {
            closePiece(start);
            push_back(StorySegment{record.id, ParenDirection(record.item), start, end});
            pieceStart = end;
        }
        endParagraphRun(paraIndex, OpensNextParagraphRun(kind, cursor) ? kMarkerEnd : 0);
    }
    closePiece(length);
}

int32_t FixedStory::ExportedParagraphs(bool markerParagraphs, int32_t length) const
{
    int32_t paragraphs = 1;
    for (const StorySegment& segment : *this)
        if (segment.id == kBreakSegment && segment.end < length &&
            (markerParagraphs || segment.direction != kMarkerEnd))
            ++paragraphs;
    return paragraphs;
}

void FixedStory::Cut(const std::vector<std::pair<int32_t, int32_t>>& ranges)
{
    if (ranges.empty())
        return;
    // removed[k]: the characters the first k ranges take out.
    std::vector<int32_t> removed(ranges.size() + 1, 0);
    for (std::size_t k = 0; k < ranges.size(); ++k)
        removed[k + 1] = removed[k] + std::max(0, ranges[k].second - ranges[k].first);
    auto moved = [&](int32_t at) {
        // The last range that starts before at.
        const auto after = std::upper_bound(ranges.begin(), ranges.end(), at,
                                            [](int32_t offset, const std::pair<int32_t, int32_t>& range) {
                                                return offset <= range.first;
                                            });
        const std::size_t k = static_cast<std::size_t>(after - ranges.begin());
        if (k == 0)
            return at;
        const std::pair<int32_t, int32_t>& range = ranges[k - 1];
        return at < range.second ? range.first - removed[k - 1] : at - removed[k];
    };
    auto kept = begin();
    for (StorySegment& segment : *this) {
        segment.start = moved(segment.start);
        segment.end = moved(segment.end);
        if (segment.id != kTextSegment || segment.end > segment.start)
            *kept++ = segment;
    }
    erase(kept, end());
}
