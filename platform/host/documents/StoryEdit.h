// Text of a story: edits that keep its runs, paragraphs and object runs consistent, the run
// tables derived from it, and the hidden-content queries.
//
// A story's paragraph format belongs to the paragraph; an edit never leaves a paragraph
// without one. Object runs (anchored items, page numbers, hidden runs) are atoms: an edit
// that would cut one is refused with SplitsRun, since the module never needs it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/documents/Model.h"

namespace xthost::doc {

// Special characters of a story.
constexpr char16_t kParagraphEnd = 0x0D;
constexpr char16_t kColumnBreak = 0x0B;
constexpr char16_t kBoxBreak = 0x0C;
constexpr char16_t kAnchorChar = 0xFFFC;
constexpr char16_t kHiddenMarker = 0xE000;  // | (kind & 0xFF)

// The module's tag (character attribute -111) makes a tag run of kind tag << 8.
constexpr uint32_t TagRunKind(uint32_t tag) { return tag << 8; }

// The paren type bits of a hidden run's kind: an opening and a closing paren of one family
// differ only in them (kind ^ 0x60).
constexpr uint32_t kParenBits = 0x60, kOpenParen = 0x40, kCloseParen = 0x20;

// One entry of a run table: a value and the number of characters it covers.
struct RunEntry {
    uint32_t value = 0;
    uint32_t length = 0;
    bool operator==(const RunEntry& o) const { return value == o.value && length == o.length; }
};

// The format an insertion at pos takes: that of the character before pos; at 0 that of the
// next one; in an empty story that of "Normal" (or the first format).
int32_t NeighbourFormat(Project& project, const Story& story, int32_t pos);

// Inserts text at pos in the given character format (0: the neighbour's). Each 0x0D starts a
// paragraph with the format of the one it splits. Answers SplitsRun when pos lies inside an
// object run, BadRef when pos is outside the text.
int32_t InsertText(Project& project, Story& story, int32_t pos, const std::u16string& text,
                   int32_t format = 0);

// Inserts the characters of one object run at pos (run.at is set to pos); the same rules and
// answers as InsertText, and BadRef for characters the kind does not allow.
int32_t InsertObject(Project& project, Story& story, int32_t pos, const std::u16string& chars,
                     ObjectRun run, int32_t format = 0);

// The characters of a hidden run: its marker, then one character per data byte.
std::u16string HiddenRunChars(uint32_t kind, const std::vector<uint8_t>& data);

// Deletes [start, end). Answers SplitsRun when the range cuts an object run or holds an
// anchored item (whose box has to go first), BadRef when it is outside the text. A deleted
// 0x0D joins two paragraphs under the format of the first.
int32_t DeleteText(Story& story, int32_t start, int32_t end);
// [start, end) cuts an object run: it holds part of one, or lies inside one.
bool CutsObject(const Story& story, int32_t start, int32_t end);

// Where a copy comes from and where it goes: the story with its layout and project.
struct StoryPlace {
    Project* project = nullptr;
    Layout* layout = nullptr;
    Story* story = nullptr;
};

// Copies [start, end) of from into to at pos with character formats, paragraph formats and
// object runs; anchored boxes are copied (a text box with its story). Copied paragraph ends
// bring the formats of their paragraphs; the paragraph the copy lands in keeps its own
// format unless the copy starts it with a paragraph end of its own (or, for the last piece,
// unless the copy's tail starts it). A copy without a paragraph end changes no paragraph's
// format. Between projects formats are carried by value. Answers SplitsRun when the range cuts
// an object run or pos lies inside one, BadRef for positions outside the texts. from and to
// may be the same story.
int32_t CopyText(const StoryPlace& from, int32_t start, int32_t end, const StoryPlace& to, int32_t pos);

// Sets a character attribute on [start, end): -101 font, -102 face, -103 size, -108 kerning,
// -109 tracking, 5 colour, -111 the module's tag. With an empty range it answers the format
// an insertion there would take, changed (for the story's insertFormat). BadRef for an
// unknown code or a value out of range.
int32_t SetCharAttribute(Project& project, Story& story, int32_t start, int32_t end, int32_t code,
                         int32_t value, int32_t* insertFormat);
// Sets a paragraph attribute (codes 1-0x3F) on every paragraph that [start, end] touches.
int32_t SetParaAttribute(Project& project, Story& story, int32_t start, int32_t end, int32_t code,
                         int32_t value);
bool IsParaAttribute(int32_t code);
// The paragraph attribute code of the second style id (-1: none).
constexpr int32_t kSecondStyleCode = 0x36;
// Gives every paragraph that [start, end] touches the paragraph format.
void SetParagraphFormat(Story& story, int32_t start, int32_t end, int32_t format);
// The attribute values of a paragraph format by code (0 for a code it does not set; the
// second style id under its own code).
void ParaAttributeValues(const ParaFormat& format, int32_t values[0x40]);

// ---- Derived tables (snapshots) ---------------------------------------------------------

// Character-format runs (value = character-format id).
std::vector<RunEntry> StyleRuns(const Story& story);
// Paragraph runs: split after 0x0B, 0x0C and 0x0D, at changes of paragraph format and of
// kind, and around every object run; value = the interned run format (paragraph format, kind).
std::vector<RunEntry> ParagraphRuns(Project& project, const Story& story);
// One entry per non-empty paragraph (value = paragraph-format id).
std::vector<RunEntry> ParagraphStyleRuns(const Story& story);
// The number of entries ParagraphStyleRuns answers.
size_t ParagraphStyleRunCount(const Story& story);

// ---- Hidden content ---------------------------------------------------------------------

// The first object run at or after pos (the runs are sorted and never overlap).
ObjectRuns::const_iterator ObjectFrom(const Story& story, int32_t pos);
// The object run starting at pos, null when none does.
std::optional<ObjectRun> ObjectAt(const Story& story, int32_t pos);
// Searches hidden-run markers of opcode's family (kind & ~0x60 equal) forward over
// [from, limit) or backward over [limit, from). Found only when the first family marker met
// is opcode itself; *at is then its position, else -1.
bool FindMarker(const Story& story, int32_t from, int32_t limit, bool forward, uint32_t opcode, int32_t* at);
// The end (exclusive) of the hidden run whose marker is at pos - 1; pos when there is none.
int32_t HiddenRunEnd(const Story& story, int32_t pos);

}  // namespace xthost::doc
