// The import's fixed view of a host story: the story as it was before the import, cut into
// pieces of ordinary text, single break characters and the hidden-content runs that the
// document's hidden-content table knows. The text cursor of the import walks these pieces while
// it writes the translated text in front of them.
#pragma once

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

class Mapper;
class QStoryText;

struct StorySegment {
    // -3 ordinary text, -2 one break character (11, 12 or 13) or the end of a paragraph run
    // without one (empty), 0 or more the hidden-content id of a hidden run.
    int32_t id = -3;
    // Of a hidden run: 1 for a closing paren, 0 for an opening one, 1000 for any other run. Of
    // an empty break: kMarkerEnd behind a unique-id marker that opens the next paragraph run.
    int32_t direction = 0;
    // Character offsets in the story before the import: [start, end).
    int32_t start = 0;
    int32_t end = 0;
};

enum : int32_t {
    kTextSegment = -3,
    kBreakSegment = -2,
    kMarkerEnd = 1,
};

class FixedStory : public std::deque<StorySegment> {
public:
    FixedStory() = default;
    // Cuts the story at its breaks and at the hidden runs that mapper's table holds; runs of
    // page numbers pass as text, and hidden runs the table lacks stay inside their text piece.
    FixedStory(QStoryText& story, const Mapper& mapper);
    // The old text of the ranges [start, end) (ascending, not overlapping) leaves the story before
    // the import writes: offsets behind a range move back by its length, offsets inside it go to
    // its start, and text pieces left empty go. Breaks stay, so the view still counts the
    // paragraph runs the story had when it was exported.
    void Cut(const std::vector<std::pair<int32_t, int32_t>>& ranges);
    // The paragraphs an export of the story of `length` characters writes: one per paragraph
    // run, a unique-id marker's own run counted only with `markerParagraphs`.
    int32_t ExportedParagraphs(bool markerParagraphs, int32_t length) const;
};
