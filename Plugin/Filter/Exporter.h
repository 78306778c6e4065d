// The document exporter: walks one open host document and writes every story the story-to-box
// map numbered into one document of an exchange Book, with its paragraphs, their coordinates
// and style names, and the paragraphs' text runs by kind, each run with its character
// attributes.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <set>

#include "Plugin/Exchange/DWX_Export.h"
#include "Plugin/Filter/Filter_KS.h"
#include "Plugin/QAPI/CurDocAPI.h"

class RunAttribs;
struct ct_Box;

// The unique ids an export command met so far; an id is written only when it enters the set.
using UniqIdSet = std::set<int32_t>;

// Values of the layout kind that names the stories' "story_type".
enum : int32_t {
    kLayoutNone = 0,     // no "story_type"
    kLayoutPrint = 1,    // "layout_prn" + number
    kLayoutWeb = 2,      // "layout_web" + number
    kLayoutCurrent = 3,  // "layout_cur" + number
};

// The last paragraph geometry: a working value, then position and size.
struct ParaGeometry {
    int32_t work = 0;
    int32_t horizontal = 0;
    int32_t vertical = 0;
    int32_t width = 0;
    int32_t height = 0;
};

class Exporter : public Mapper {
public:
    // Holds a reference of both and analyses the current document (links, master pages,
    // private working boxes).
    Exporter(QuarkDoc& document, KS_DWX::Export::IDoc& exportDoc, UniqIdSet& uniqIds);
    // The same without an export document (the walkers that write files of their own): then
    // ExportBox writes nothing.
    Exporter(QuarkDoc& document, KS_DWX::Export::IDoc* exportDoc, UniqIdSet& uniqIds);
    ~Exporter() override;

    // One story per box the map finds, in link-id order.
    void ExportDocument();
    // One story for the box linked under index (the coordinates export writes lines instead).
    virtual void ExportBox(int32_t index, XTHandle box);

    // The coordinate attributes of a box (paragraph clear) or of the paragraph [start, end) of
    // the box's story, with "stylename" when withStyle is set. masterIndex is the master-page
    // index of a box of an unused master page (0 otherwise): "sectional_pos" then counts
    // without the master pages.
    void ExportCoords(XTHandle box, KS_DWX::Export::IAttrs* attributes, int32_t start, int32_t end,
                      bool paragraph, bool withStyle, int32_t masterIndex = 0);
    // "layer_name" and "layer_visibility" of the box; false when the box is null or skipped.
    // Takes its own reference of the attributes.
    static bool ExportLayer(XTHandle box, RefPtr<KS_DWX::Export::IAttrs> attributes, bool textBoxesOnly,
                            bool skipMasterBoxes);

    void SetLayout(int32_t kind, int32_t number)
    {
        mLayoutKind = kind;
        mLayoutNumber = number;
    }
    int32_t LayoutKind() const { return mLayoutKind; }
    int32_t LayoutNumber() const { return mLayoutNumber; }
    // The largest unique id met in this document (0 when none).
    int32_t LargestUniqID() const { return mLargestUniqID; }
    const ParaGeometry& LastParagraphGeometry() const { return mLastGeometry; }
    QuarkDoc& Document() const { return *mDocument; }

    // Forgets the setting SkipProcessHidden read for the process, so that the next export
    // reads it again (module load).
    static void ForgetSkipProcessHidden();

protected:
    // How a box stands to the master pages: its class (masterPageMode 1), its "story_sub_type"
    // (null for none) and, for a box of an unused master page, its master-page index.
    struct MasterInfo {
        int32_t boxClass = 0;
        const char16_t* subType = nullptr;
        int32_t masterIndex = 0;
    };
    // record (when given) receives the box's record of the classification.
    MasterInfo ClassifyBox(int32_t index, XTHandle box, ct_Box* record);
    int32_t MasterIndexOf(int32_t index, XTHandle box) { return ClassifyBox(index, box, nullptr).masterIndex; }

    // An object run at the cursor: a placeholder or a reference point of its hidden item.
    void ExportObjectRun(const RefPtr<KS_DWX::Export::IPara>& para, QStoryCursor& cursor, uint32_t opcode,
                         const RunAttribs& attribs);

    RefPtr<QuarkDoc> mDocument;
    RefPtr<KS_DWX::Export::IDoc> mExportDoc;
    int32_t mLayoutKind = kLayoutNone;
    int32_t mLayoutNumber = 0;
    int32_t mLargestUniqID = 0;
    UniqIdSet* mUniqIds;
    ParaGeometry mLastGeometry;
};

// A new exporter of the current document, or null when either is null.
std::unique_ptr<Exporter> CreateExporter(QuarkDoc* document, KS_DWX::Export::IDoc* exportDoc,
                                         UniqIdSet* uniqIds);

// A 16.16 host measure as a float, through the host's text of it at precision 100 (a decimal
// comma is read as a point, whatever the process locale).
float MeasureToFloat(int32_t value);

// The fields of a box's host record; false when the host gives none.
bool ReadBoxRecord(XTHandle box, XTBoxRecord& fields);
// The page number of a box (a box off the pages: the page of its spread); false when the host
// cannot say.
bool PageNumberOfBox(XTHandle box, bool viewOnMaster, int32_t& number);
// Where a box stands, as the Book records it for the box's story: the page, the first corner
// (turned with the box about its centre) and the size in points, the angle from 0 to 360 degrees.
struct BoxFrame {
    bool onPage = false;
    int32_t page = 0;
    float angle = 0.0f;
    float left = 0.0f, top = 0.0f, width = 0.0f, height = 0.0f;
    // The corner of the box's page.
    float originX = 0.0f, originY = 0.0f;

    // The whole points of the Book's "horizontal_pos", "vertical_pos", "width" and "height".
    int32_t Horizontal() const { return static_cast<int32_t>(left - originX); }
    int32_t Vertical() const { return static_cast<int32_t>(top - originY); }
    int32_t Width() const { return static_cast<int32_t>(std::fabs(width)); }
    int32_t Height() const { return static_cast<int32_t>(std::fabs(height)); }
    int32_t Angle() const { return static_cast<int32_t>(std::fabs(angle)); }
};
// False when the box's record cannot be read; onPage is false when the host cannot say its page.
bool ReadBoxFrame(XTHandle box, bool viewOnMaster, BoxFrame& frame);
// The unique id of the marker at position: the 8 characters after the marker hold it as a
// right-aligned decimal; any other text gives none (false).
bool ParseUniqueId(XTHandle text, int32_t position, int32_t& id);
// The unique ids an export writes as a paragraph's "uniqID": those its 8-character marker holds
// without a sign. An import takes no other: a negative marker would come back as another text,
// and -1 (no id) would take the paragraph's marker away.
constexpr int32_t kLargestUniqueId = 99999999;
constexpr bool IsWrittenUniqueId(int32_t id)
{
    return id >= 0 && id <= kLargestUniqueId;
}

// Whether the character before position of the story ends a host paragraph (a return, or the
// story's end).
bool EndsHostParagraph(XTHandle text, int32_t position, int32_t storyLength);

// The host's line that ends the paragraph [start, end) of the story: its position and measure
// in points as the line record gives them, and the paragraph's height (the lines' heights up to
// it, never below the first line's). False when no valid line ends at end.
struct ParagraphLine {
    float top = 0.0f;
    float left = 0.0f;
    float measure = 0.0f;
    float height = 0.0f;
};
bool FindParagraphLine(XTHandle text, int32_t start, int32_t end, ParagraphLine& out);

// count characters of the story text at offset, the low byte of each; answers the host result.
int32_t ReadStoryChars(XTHandle text, int32_t offset, int32_t count, uint8_t* out);
