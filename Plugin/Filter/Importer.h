// The importer: writes the translated stories of one exchange document into the host document
// the import command restored and opened. Each exchange story finds the box the export linked
// to it, and the box's story is rewritten run by run with the text cursor, keeping its hidden
// markers; master boxes are written while the view shows their master page, and boxes whose
// text no longer fits may grow.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Plugin/Exchange/DWX_Import.h"
#include "Plugin/Filter/Exporter.h"
#include "Plugin/Filter/Filter_KS.h"

class FixedStory;
class QuarkDoc;
class XAttribs;

// One entry of a story's point list: -3 a text run, -2 a paragraph end, 0 or more the id of a
// marker the host story must hold, with its direction (0 start, 1 end, 1000 a single point). A
// marker's entry names the run that holds its record.
struct StoryPoint {
    int32_t id = -3;
    int32_t direction = -1;
    int32_t paragraph = -1;
    int32_t run = -1;
};
enum : int32_t {
    kPointText = -3,
    kPointParagraphEnd = -2,
};
using StoryPoints = std::deque<StoryPoint>;

// The text of the exception being handled, for the log: the error's name, "<" + its code +
// ">:", a tab and its message; errors of the container library by their code and meaning.
std::string CaughtErrorText();

// What the Book data of a story lacks, in words a user can act on ("paragraph 3 is missing
// ..."); empty when every paragraph, run, content and record the story lists can be read, its
// paragraphs and runs are numbered 0 to n - 1 each once, as they are read, every number the
// import takes from it reads whole, and it names only what the Book holds.
std::string FindStoryGap(KS_DWX::Import::IStory& story);

StoryPoints ReadStoryPoints(KS_DWX::Import::IStory& story);
bool HasStoryPoints(KS_DWX::Import::IStory& story);

// Whether the box's text runs past its end: false for a box that does not reflow and for one
// without runaround (its two bounding boxes agree); a box that shows no line overflows when
// its story holds text.
bool TextOverflows(XTHandle box);
// Grows the box in 18 pt steps to the right (and down when the story has more than one
// paragraph) within its page, at most 20 times, while its text overflows.
void EnlargeTextBox(XTHandle box, int32_t lastParagraph);

class Importer : public Mapper {
public:
    Importer(QuarkDoc& document, KS_DWX::Import::IDoc& importDoc, bool autoResize, bool testStyle, bool setUniqueID,
             bool newMasterPages);
    ~Importer() override;

    void Run();
    void ProcessStory(KS_DWX::Import::IStory& story, XTHandle box);
    bool Failed() const { return mFailed != 0; }
    // The Book's "source_data_type" and "maxuniqID" (either may be null): what of them the
    // import does not apply is said at the end of the run.
    void NoteBookAttributes(const char16_t* sourceDataType, const char16_t* maxUniqueId);

private:
    // Selects layout n of the project for the stories that follow; false when n names none.
    bool SelectExchangeLayout(int32_t n, int32_t& current, int32_t& linkCounter);
    void Reconnect();
    // Notes where each linked box stands before any story is written: a story written earlier
    // moves the boxes anchored in it.
    void NoteFrames();
    // What of the story names a formatting sample that the connected layout's working boxes do
    // not hold; empty when each run's sample is there, or the layout is one an earlier build's
    // export left without samples.
    std::string SampleGap(KS_DWX::Import::IStory& story);
    // Whether the connected layout lacks working boxes as every layout but the last did in
    // exports of earlier builds; said once per layout in the log.
    bool SamplesLeftOutByEarlierBuild();
    // Notes the unique ids the story of the box holds, as those of exchange story `story` unless an
    // earlier one holds them.
    void NoteUniqueIds(int32_t story, XTHandle box);
    // Logs that the story keeps its text for the reason, beeps and marks the import failed.
    void RefuseStory(int32_t story, const std::string& reason);
    // Consecutive exchange stories of one layout (-1: the layout that is current).
    struct StoryGroup {
        int32_t layout;
        int32_t first;
        int32_t count;
    };
    // The stories by layout; false (logged, no group) when the story list cannot be read whole.
    bool GroupStories(std::vector<StoryGroup>& groups);
    // Whether the connected layout links exactly the group's stories; logged when not.
    bool StoriesMatchLinks(const StoryGroup& group);
    // Whether the group stands where the export writes its layout's stories; logged when not.
    bool GroupInPlace(const std::vector<StoryGroup>& groups, size_t index);
    void Close(int16_t baseLayout);

    RefPtr<QuarkDoc> mDoc;
    RefPtr<KS_DWX::Import::IDoc> mImportDoc;
    std::unique_ptr<XAttribs> mConverter;
    uint8_t mAutoResize = 0;
    uint8_t mTestStyle = 0;
    uint8_t mSetUniqueID = 0;
    uint8_t mNewMasterPages = 0;
    uint8_t mFailed = 0;
    // The exchange story being written, for the log.
    int32_t mStoryIndex = 0;
    // What the exchange file asks for that the import does not apply (the document keeps its
    // own): how often, and the first case; said once, at the end of the run.
    struct Unapplied {
        int32_t count = 0;
        std::string first;
        void Note(const std::string& where)
        {
            if (count++ == 0)
                first = where;
        }
    };
    Unapplied mHiddenRuns;
    Unapplied mStyleNames;
    std::u16string mSourceDataType;
    std::u16string mMaxUniqueId;
    bool mSourceDataTypeGiven = false;
    bool mMaxUniqueIdGiven = false;
    // The largest unique id of the document's linked stories, as an export counts it.
    int32_t mLargestUniqueId = 0;
    // Notes the hidden runs and the style sheet names of the exchange story that the import
    // does not apply to the story of the box, whose view is `segments`.
    void NoteUnapplied(KS_DWX::Import::IStory& story, XTHandle box, const FixedStory& segments, int32_t paragraphs,
                       bool markerParagraphs);
    // The characters the first `stories` exchange stories write at least; counted only until
    // they pass what a document holds.
    uint64_t BookCharacters(int32_t stories);
    // Says once what the exchange file asked for and the import did not apply.
    void SayUnapplied();
    // The first exchange story whose story in the document holds each unique id: an export gives
    // an id that several stories of the document hold to the first of them only.
    std::map<int32_t, int32_t> mHeldUniqueIds;
    // The stories the connected layout links boxes to (0 when it links none).
    int32_t mLinkedStories = 0;
    // The layout whose links, hidden-content table and private boxes are connected.
    int32_t mConnectedLayout = -1;
    // Where the box of each link id stood when its layout was connected.
    std::map<int32_t, BoxFrame> mFrames;
    // Every layout that was connected during the run; each is uninstalled at the end.
    std::deque<int16_t> mTouchedLayouts;
    // Whether the last layout holds working boxes (-1: not looked at yet), and the layouts
    // said to be without samples.
    int8_t mLastLayoutSamples = -1;
    std::set<int32_t> mLayoutsWithoutSamples;
    // The paragraphs whose unique ids the import left out, the setting being off.
    int32_t mUniqueIdsLeftOut = 0;
};

// Null when the document or the exchange document is missing or memory ran out.
std::unique_ptr<Importer> CreateImporter(QuarkDoc* document, KS_DWX::Import::IDoc* importDoc, bool autoResize,
                                         bool testStyle, bool setUniqueID, bool newMasterPages);
