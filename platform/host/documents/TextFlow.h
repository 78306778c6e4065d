// How the emulated host sets a story into its chain of text boxes: an integer metric model,
// so every machine places the same lines and tests can work the positions out by hand.
//
// All lengths are 16.16 in spread coordinates. A character advances size x class x
// font.advance / 10^6 (class in thousandths of an em), rounded half up; lines fill greedily,
// trailing spaces hang, and text left after the last box overflows. An oval's lines stay inside
// its ellipse; every other shape sets its text in the box's rectangle.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/host/documents/Model.h"

namespace xthost::doc {

// A position or height the host could not set.
constexpr uint32_t kNotSet = 0x7CCCCCCC;
// Positions at or above this are not valid positions.
constexpr uint32_t kValidBelow = 0x72222222;
constexpr int32_t kLineRecordSize = 64;

// Line flags.
constexpr uint32_t kLineParagraphEnd = 0x01;
constexpr uint32_t kLineBoxBreak = 0x02;
constexpr uint32_t kLineEmergency = 0x04;
constexpr uint32_t kLineRightToLeft = 0x08;
constexpr uint32_t kLineLastInBox = 0x10;
constexpr uint32_t kLineOverflow = 0x80;

struct LineRecord {
    int32_t start = 0, length = 0;
    int32_t top = 0, left = 0, measure = 0, height = 0, baseline = 0;
    uint32_t box = 0;     // uid of the box holding the line, 0 for the overflow record
    int32_t paragraph = 0;
    uint32_t flags = 0;
    int32_t largest = 0;  // the largest character size of the line
    int32_t spaceBefore = 0;
    bool Overflow() const { return (flags & kLineOverflow) != 0; }
};

// The lines of a story, the overflow record last when text is left over.
struct StoryLines {
    std::vector<LineRecord> lines;
    bool Overflows() const { return !lines.empty() && lines.back().Overflow(); }
};

// Sets the story through its chain. Pure: the same story, geometry and formats give the same
// lines.
StoryLines LayOutStory(const Project& project, const Layout& layout, const Story& story);

// The lines that meet [start, end) (an empty range: the line holding start), with the overflow
// record when the range reaches the unset text.
std::vector<LineRecord> LinesInRange(const StoryLines& all, int32_t start, int32_t end);

// The 64-byte form: 16 little-endian words; boxHandle names the line's box to the caller.
void EncodeLineRecord(const LineRecord& line, int32_t boxHandle, uint8_t out[kLineRecordSize]);

// A character that ends a line (0x0D, 0x0B, 0x0C, the host's new line 0x07, U+2028).
bool EndsLine(char16_t c);

// The text area of a text box: its bounds less the inset on every side.
Rect TextArea(const Box& box);

// The page number a page-number character shows in a line of this box (kinds 5 previous box,
// 6 this box, 7 next box of the chain).
int32_t PageNumberShown(const Layout& layout, const Story& story, uint32_t box, uint32_t kind);

}  // namespace xthost::doc
