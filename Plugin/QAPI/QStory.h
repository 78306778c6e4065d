// The module's view of a story (the text of a text box with its attributes). The host's
// handles of a story go stale whenever its text is edited; every edit made through these types
// or the host wrappers raises ChangeCounter (Plugin/Mixer/HostCalls.h), and a story object
// whose stamp differs re-reads itself before it hands out a host handle or a length.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/QAPI/QHandle.h"
#include "platform/host/documents/XTTextSuites.h"

using RunTable = QHandle<XTRunEntry>;

// The story of one text box with its host text handle and lengths.
class QStory {
public:
    explicit QStory(XTHandle box);

    // Re-reads the story from the host and re-stamps it.
    void Refresh();
    bool IsStale() const { return mStamp != ChangeCounter; }
    // The host's text handle, re-read first when refresh is set and the story is stale.
    XTHandle GetTextHandle(bool refresh = true);
    // The number of characters, re-read first when refresh is set and the story is stale.
    uint32_t GetLength(bool refresh = true);
    XTHandle GetBox() const { return mBox; }
    uint32_t Length() { return GetLength(true); }
    uint32_t Value1() const { return mSelStart; }
    uint32_t Value2() const { return mSelEnd; }
    uint32_t ConstructionLength() const { return mInitLen; }

    int32_t mBox = 0;
    XTHandle mTextHandle = 0;
    uint32_t mTextLen = 0;
    uint32_t mSelStart = 0;  // the two further values the host answers with the text handle
    uint32_t mSelEnd = 0;
    uint32_t mInitLen = 0;   // length and further values when the object was made
    uint32_t mInitSelStart = 0;
    uint32_t mInitSelEnd = 0;
    uint32_t mStamp = 0;

private:
    void Fetch();
};

// A story with its style runs, its paragraph runs and a private copy of its characters (one
// byte each), all as they were when the object was made.
class QStoryText : public QStory {
public:
    // std::bad_alloc when the host gives no memory or refuses a run table.
    explicit QStoryText(XTHandle box);
    ~QStoryText();
    QStoryText(const QStoryText&) = delete;
    QStoryText& operator=(const QStoryText&) = delete;

    const RunTable& StyleRuns() const { return mStyleRuns; }
    const RunTable& ParaRuns() const { return mParaRuns; }
    // Characters 0 .. mInitLen - 1 and a NUL.
    const uint8_t* Copy() const { return mCopy.data(); }
    std::string CopyText() const { return std::string(reinterpret_cast<const char*>(mCopy.data()), mInitLen); }

private:
    RunTable mStyleRuns;
    RunTable mParaRuns;
    std::vector<uint8_t> mCopy;
};

// Walks a story from run boundary to run boundary (the smaller of the style run's and the
// paragraph run's end), keeping the character attributes of the current style run.
class QStoryCursor {
public:
    explicit QStoryCursor(QStoryText& text);

    bool HasMore() const;
    int32_t NextBoundary() const;
    bool StyleEndsFirst() const;
    void Next();

    int32_t GetPosition() const { return mPosition; }
    int32_t GetEnd() const { return mEnd; }
    QStoryText& GetText() const { return *mText; }
    // The low 16 bits of the current paragraph run's value.
    uint16_t GetParaValue() const;
    // The current style run's value (0 past the table): equal values, equal character formats.
    uint32_t GetStyleValue() const;
    // The paragraph attributes of the current paragraph run; the cursor's extra goes in, the
    // host's answer to extra (when given). Answers the host's result.
    int32_t GetParaAttributes(XTParaAttribs* record, uint16_t* extra) const;
    // The kind word of the current paragraph run: 0 for text.
    uint32_t GetRunKind() const;
    const XTCharFormat& GetCharAttributes() const { return mAttributes; }
    const XTCharFormat& CharAttributes() const { return mAttributes; }
    uint16_t GetAttributeExtra() const { return mExtra; }

    int32_t GetStyleStart() const { return mStyleStart; }
    uint32_t GetStyleIndex() const { return mStyleIndex; }
    int32_t GetParaStart() const { return mParaStart; }
    uint32_t GetParaIndex() const { return mParaIndex; }
    // The length of the current paragraph run (0 past the table).
    uint32_t GetParaLength() const;
    uint32_t GetStyleLength() const;

private:
    void ReadCharAttributes(uint32_t value);
    int64_t StyleEnd() const;
    int64_t ParaEnd() const;

    XTCharFormat mAttributes{};
    const RunTable* mStyleRuns = nullptr;
    int32_t mStyleStart = 0;
    uint32_t mStyleIndex = 0;
    const RunTable* mParaRuns = nullptr;
    int32_t mParaStart = 0;
    uint32_t mParaIndex = 0;
    uint16_t mExtra = 0;
    int32_t mPosition = 0;
    int32_t mEnd = 0;
    QStoryText* mText = nullptr;
};

// Collects text ranges of one story and removes them together, merging adjacent ranges into
// one host call. Ranges are queued in ascending, non-overlapping order.
class QStoryCutter {
public:
    QStoryCutter(XTHandle box, bool descending);

    // Queues [start, end) when start < end; end always becomes the last end.
    void Add(int32_t start, int32_t end);
    // Removes the queued ranges; later text first when descending, else earlier text first
    // with the positions shifted by what went before. Stops at a removal the host refuses, as
    // the ranges still queued would then go wrong: answers the host's refusal, else XT_OK.
    // `before`, when given, is asked first for each range as it is removed (host positions);
    // its refusal stops the removal as the host's would.
    int32_t Apply(const std::function<int32_t(int32_t start, int32_t end)>& before = nullptr);
    // The ranges the last Apply removed, in their order, at the host positions of their removal.
    const std::vector<std::pair<int32_t, int32_t>>& Applied() const { return mApplied; }

    uint32_t Removed() const { return mRemoved; }
    int32_t LastEnd() const { return mLastEnd; }
    size_t Queued() const { return mRanges.size(); }

private:
    std::deque<std::pair<int32_t, int32_t>> mRanges;
    std::vector<std::pair<int32_t, int32_t>> mApplied;
    int32_t mBox = 0;
    uint32_t mRemoved = 0;
    int32_t mLastEnd = 0;
    uint8_t mDescending = 0;
};

// The host's text copy between two stories; on success the edit is counted (SetHostUpdate(0),
// ChangeCounter raised) and the answer is 1 (0 when the counter wrapped); else the host's code.
int32_t CopyStoryText(XTHandle sourceText, int32_t start, int32_t end, XTHandle targetText, int32_t position);

// The story's text as a narrow string, or "#-#-#- WARNING: EMPTY STORY -#-#-#" when it has no
// characters.
std::string StoryTextOrWarning(XTHandle box);
