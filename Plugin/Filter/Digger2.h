// The import's text cursor over one host story. The translated text arrives run by run and is
// written in front of the old text; every hidden-content marker of the old text is kept, moved
// to where the translation puts it, and the old text goes when the cursor is flushed. Until
// then every position is an old offset plus the characters inserted so far (the shift).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Plugin/Exchange/DWX_Import.h"
#include "Plugin/Filter/FixedStory.h"
#include "Plugin/QAPI/QStory.h"

class Mapper;
class XAttribs;
struct SpecialCharRow;

// Why the host refused a story edit, as far as its answer tells, with the answer and the call.
std::string HostRefusalText(int32_t result, const std::string& call);

class Digger {
public:
    // A marker's key: its hidden-content id and its direction.
    using Key = std::pair<int32_t, int32_t>;

    struct Position {
        int32_t id = 0;
        int32_t direction = 0;
        int32_t start = 0;
        int32_t end = 0;
        // The shift when the cursor first reached the marker's old place; -1 until then.
        int32_t placement = -1;
        // Segments with this key that still wait to be placed.
        int16_t pending = 0;
    };

    // Run kinds 1, 3 and 4 read their content in chunks of at most these many bytes.
    static constexpr uint32_t kTextChunk = 2048;
    static constexpr uint32_t kRecordChunk = 8192;
    // Characters written into the story at once.
    static constexpr std::size_t kTextBuffer = 1023;

    // owner supplies the private working boxes; converter applies the runs' character
    // attributes; styleTest re-applies each paragraph's style sheet under a probe.
    Digger(XTHandle box, Mapper& owner, XAttribs& converter, const FixedStory& segments, bool styleTest);
    Digger(const Digger&) = delete;
    Digger& operator=(const Digger&) = delete;

    // Where the next insertion goes.
    int32_t CurrentPos() const;
    // Passes the old text up to the next break (and the break itself), queueing it for cutting.
    // With `runEnd` the end of a host paragraph run counts as a break too: the import steps once per
    // exchange paragraph, and the export opened one per paragraph run.
    void Step(bool runEnd = false);
    // Brings the marker with the key to the cursor; false when the story has no such marker.
    // KestoException 1003 when a marker in the way has no entry.
    bool Seek(int32_t id, int32_t direction, bool retry);
    bool Seek(const Key& key, bool retry) { return Seek(key.first, key.second, retry); }
    // The markers that `walk`, a run of Step and Seek calls as the writing would make them, finds
    // away from the cursor: Seek moves such a marker by copying it to the cursor, and the old one
    // goes with the old text. Nothing is written, and the cursor is where it was afterwards.
    std::vector<Position> MarkersMoved(const std::function<void()>& walk);
    // Passes the rest of the old text and removes everything queued for cutting. A removal the
    // host refuses puts back what was removed before it, so that Withdraw still finds the old
    // text whole.
    void Flush();
    // Takes out everything the cursor wrote, so that a story whose writing failed half-way
    // keeps its old text; nothing once the flush has cut old text it could not put back.
    // Answers the host's refusal of a removal, else XT_OK.
    int32_t Withdraw();
    // Writes one run of the translation at the cursor with its attributes; last tells that it
    // ends its paragraph. KestoException 1003 for a chunk longer than a read may deliver.
    void InsertRun(KS_DWX::Import::IRun& run, bool last);
    // Inserts the paragraph's unique id as a hidden run at the cursor. `oldMarker`, the old
    // story's position of the marker that held the id (-1 for none), lends the new one its format.
    void InsertHidden(int32_t uniqueId, int32_t oldMarker = -1);
    // Whether a special-character record of the run (its name and qualifier by string id)
    // names a character this cursor can write.
    static bool KnowsSpecialChar(KS_DWX::Import::IRun& run, int32_t nameRef, int32_t qualifierRef);
    // The row of the character table such a record names; null when it names none.
    static const SpecialCharRow* SpecialCharRowOf(KS_DWX::Import::IRun& run, int32_t nameRef, int32_t qualifierRef);

    // Whether the exchange story gives each unique-id marker a paragraph of its own, ended
    // where the marker ends (as an export did before a marker shared the paragraph it opens).
    void SetMarkerParagraphs(bool own) { mMarkerParagraphs = own; }
    // Whether the segment ends an exchange paragraph: a break, but not the empty one behind a
    // unique-id marker unless markers have paragraphs of their own.
    bool EndsParagraph(const StorySegment& segment) const { return EndsParagraph(segment, mMarkerParagraphs); }
    static bool EndsParagraph(const StorySegment& segment, bool markerParagraphs);

    // The NUL characters of the runs written so far, which the story's text cannot hold and
    // which were left out.
    int32_t DroppedNuls() const { return mDroppedNuls; }
    int32_t Shift() const { return mShift; }
    int32_t TextEnd() const { return mTextEnd; }
    std::size_t SegmentIndex() const { return mCurrent; }
    const FixedStory& Segments() const { return mSegments; }
    const std::map<Key, Position>& Positions() const { return mPositions; }
    const QStoryCutter& CutQueue() const { return mCutter; }

private:
    void Note(Position& position, int32_t at, bool placed);
    Position& PositionOf(const StorySegment& segment);
    void AttributeStep(KS_DWX::Import::IRun& run);
    // Fails the story when the host refused an attribute the converter set for the run's `what`.
    void CheckAttributes(const char* what);
    void ReadParagraphStyle(int32_t& sheet, XTParaAttribs& attributes);
    // ReadParagraphStyle from the last table read, when that still answers as a new read would.
    bool ReadParagraphStyleAgain(int32_t& sheet, XTParaAttribs& attributes);
    // Answers the attributes read for the cursor's paragraph, with their style sheet when the
    // document has it, and keeps them as the answer for that paragraph.
    void AnswerParagraphStyle(const XTParaAttribs& read, int32_t& sheet, XTParaAttribs& attributes);
    // The attributes of the paragraph run that holds position start; false when none does.
    bool ReadParagraphRun(int64_t start, XTParaAttribs& attributes);
    void SetBackParagraph(int32_t sheet, const XTParaAttribs& attributes);
    // Inserts one character at position that only carries attributes; it is cut at the flush.
    void InsertCarrier(int32_t position, char16_t character);
    void WriteText(const std::u16string& chars, bool special);
    void InsertSpecialItem(uint32_t opcode);
    void InsertUnicodes(KS_DWX::Import::IRun& run, bool wide);
    void InsertSpecialChars(KS_DWX::Import::IRun& run);
    void MoveMarker(Position& position);
    // Copies the marker of length characters at present to the cursor; answers the growth.
    int32_t CopyMarker(int32_t present, int32_t length, int32_t cursor);
    // Gives the characters [start, end) the tag value (0 takes it off).
    void Tag(int32_t start, int32_t end, int32_t value);
    // Counts growth characters inserted at position: cut at the flush when carrier, taken out
    // again by Withdraw in any case.
    void Inserted(int32_t position, int32_t growth, bool carrier);
    int32_t Length();

    Mapper& mOwner;
    XAttribs& mConverter;
    QStoryCutter mCutter;
    // Everything inserted, ascending; the ranges stay valid as the cursor inserts only behind them.
    QStoryCutter mInserted;
    // The flush has cut old text.
    bool mCut = false;
    QStory mStory;
    int32_t mShift = 0;
    int32_t mTextEnd = 0;
    FixedStory mSegments;
    std::size_t mCurrent = 0;
    std::map<Key, Position> mPositions;
    bool mStyleTest = false;
    // The paragraph attributes read for each paragraph style value.
    std::map<uint32_t, XTParaAttribs> mParagraphStyles;
    // The paragraph-style table as last read. The cursor only inserts text without paragraph
    // ends in front of the old text and only moves forward, so while the host counts as many
    // paragraphs as then, a paragraph the cursor reaches later still has the value read, and a
    // position maps to the table by taking away what was inserted since. The paragraph of the
    // last answer has been given its style again since, which gives it the same attributes.
    struct StyleTable {
        std::vector<XTRunEntry> runs;  // empty: no table
        int32_t shift = 0;           // the cursor's shift when read
        std::size_t at = 0;          // the entry of the last position asked
        int64_t atStart = 0;         // its start, in the positions of the table
        bool answered = false;       // the last read of entry `at` found its attributes
        int32_t sheet = -1;
        XTParaAttribs attributes{};
    } mStyleTable;
    // The high flag of the format the current run's text takes, as its export will read it.
    bool mHighFlag = false;
    bool mMarkerParagraphs = false;
    int32_t mDroppedNuls = 0;
    // While MarkersMoved walks: the markers Seek would move; null while the cursor writes.
    std::vector<Position>* mMoved = nullptr;
};
