// The emulated host's documents in memory: projects (one per open file), their layouts (each
// one a host "document"), spreads, pages, boxes, stories and the shared tables of fonts,
// colours, formats and style sheets.
//
// Coordinates are 16.16 fixed point in spread space, with the origin at the top left of the
// spread's first page. Boxes and stories carry persistent uids; handles are issued by the
// session (DocHost) and never stored.
#pragma once

#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/host/Utf8.h"
#include "platform/host/documents/GapBuffer.h"
#include "platform/host/documents/ObjectRuns.h"

namespace xthost::doc {

// Results of the document calls; 0 is success. The negative numbers follow the host's own
// file-system codes where one fits.
namespace HostErr {
constexpr int32_t Ok = 0;
constexpr int32_t NoColour = -4;         // COL-2: no colour with these components
constexpr int32_t EndOfFile = -39;
constexpr int32_t FileNotFound = -43;
constexpr int32_t DuplicateName = -48;
constexpr int32_t BadRef = -50;          // wrong tag, unknown or disposed handle, bad argument
constexpr int32_t Cancelled = -128;
constexpr int32_t NotADocument = -3001;  // a file the host cannot read as a document
constexpr int32_t SplitsRun = -3002;     // an edit that would cut an object run
constexpr int32_t NoDocument = -3003;    // the call needs an open document
constexpr int32_t WriteFailed = -3004;   // a file could not be written
constexpr int32_t Locked = -3005;        // the story is locked against edits
constexpr int32_t NoUid = -3006;         // the document cannot number another box or story
constexpr int32_t TooLong = -3007;       // the story would be longer than a document's file can hold
}  // namespace HostErr

// A file the host refuses: the JSON path of the first fault and what is wrong there.
class DocumentError : public std::runtime_error {
public:
    DocumentError(std::string path, const std::string& what)
        : std::runtime_error(path.empty() ? what : path + ": " + what), path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

struct Rect {
    int32_t top = 0, left = 0, bottom = 0, right = 0;
    bool operator==(const Rect& o) const
    {
        return top == o.top && left == o.left && bottom == o.bottom && right == o.right;
    }
    bool operator!=(const Rect& o) const { return !(*this == o); }
};

struct Point {
    int32_t v = 0, h = 0;
    bool operator==(const Point& o) const { return v == o.v && h == o.h; }
};

// The predicate bits of BOX-1 name these kinds: text 0x01, picture 0x02, line 0x04, group 0x08,
// none 0x10.
enum class BoxKind : uint8_t { Text, Picture, Line, Group, None };
enum class ImageMode : uint8_t { None, Mono, Gray, Colour };

// Where a box lives; every box has exactly one owner.
enum class OwnerKind : uint8_t { Unowned, Spread, Master, Group, Story };
struct Owner {
    OwnerKind kind = OwnerKind::Unowned;
    uint32_t index = 0;  // spread or master index (from 0), group or story uid
    uint32_t position = 0;  // where the box stands in its owner's item list, from 0
};

struct Box {
    uint32_t uid = 0;
    BoxKind kind = BoxKind::Text;
    uint8_t shape = 5;
    Rect bounds;
    int32_t angle = 0;
    int32_t inset = 65536;
    int32_t runaround = 65536;
    int32_t layer = 0;  // layer id; 0 while the box is not placed in a layout
    int32_t fill = 0;
    int32_t frame = 0;
    uint32_t savedWord = 0;  // bit 0 locks the size
    bool noReflow = false;
    bool autoText = false;      // the master's automatic text box
    uint32_t derivedFrom = 0;   // uid of the master box this box was copied from
    bool autotext = false;      // a copy of an automatic text box
    std::vector<Point> outline;
    std::vector<uint32_t> members;  // group members in z-order
    ImageMode image = ImageMode::None;
    int32_t word6 = 6;
    std::map<uint32_t, std::vector<uint8_t>> privateData;

    // Derived by Layout::Index(), never stored.
    Owner owner;
    uint32_t story = 0;  // the story whose chain holds this text box

    // The outline's bounding box for shapes 10-12, the bounds for the others.
    Rect Bounds2() const;
};

struct Run {
    int32_t format = 0;
    int32_t length = 0;
    bool operator==(const Run& o) const { return format == o.format && length == o.length; }
};

struct Story {
    uint32_t uid = 0;
    std::vector<uint32_t> boxes;  // the chain, in order
    // Gap buffers: edits near the last one move only what lies between them.
    StoryText text;
    GapBuffer<Run> charRuns;
    GapBuffer<int32_t> paras;  // one paragraph format per paragraph
    ObjectRuns objects;
    bool locked = false;
    bool flag0 = false;
    // Session state.
    int32_t selStart = 0, selEnd = 0;
    int32_t insertFormat = 0;  // the format set at an empty selection, for the next insertion there

    // Where the last look-up into the text ended: a character position with the paragraph it
    // lies in, and a character run with its start. Edits and queries near the last one (as
    // a cursor that writes a story front to back makes them) walk from here instead of from
    // the story's start. Each holds only while the text and runs have the sizes it saw.
    struct Finger {
        size_t chars = 0, runs = 0, paras = 0;  // the sizes it saw
        int32_t pos = 0, para = 0;              // paragraph `para` holds position `pos`
        int32_t paraStart = 0;                  // where paragraph `para` starts; -1: not known
        size_t run = 0;                         // run `run` starts at `runStart`
        int32_t runStart = 0;
        // The length of each paragraph, its end included, kept up to date by the edits once
        // a run table has asked for it (`lengthsKept`).
        GapBuffer<int32_t> lengths;
        bool lengthsKept = false;
    };
    mutable Finger finger;
};

struct CharFormat {
    int16_t font = 0;
    uint8_t high = 0;
    uint16_t face = 0;
    int32_t size = 0;
    int32_t kern = 0;
    int32_t track = 0;
    int32_t colour = 0;
    int32_t shift = 0;
    uint32_t scriptLang = 0;
    uint32_t tag = 0;
    uint16_t extra = 0;
    auto Tie() const
    {
        return std::tie(font, high, face, size, kern, track, colour, shift, scriptLang, tag, extra);
    }
    bool operator<(const CharFormat& o) const { return Tie() < o.Tie(); }
    bool operator==(const CharFormat& o) const { return Tie() == o.Tie(); }
};

// The format of a paragraph run: its paragraph format and its kind (0 text, an object run's
// kind, or a tag run's tag << 8). Derived from the stories, never stored.
struct RunFormat {
    int32_t para = 0;
    uint32_t kind = 0;
    auto Tie() const { return std::tie(para, kind); }
    bool operator<(const RunFormat& o) const { return Tie() < o.Tie(); }
    bool operator==(const RunFormat& o) const { return Tie() == o.Tie(); }
};

enum class Align : uint8_t { Left, Center, Right, Justify };
enum class Direction : uint8_t { Auto, Ltr, Rtl };

struct ParaFormat {
    int32_t style = -1;
    int32_t style2 = -1;
    int32_t leftIndent = 0, firstIndent = 0, rightIndent = 0;
    int32_t leading = 0;  // 0 = automatic
    int32_t spaceBefore = 0, spaceAfter = 0;
    Align align = Align::Left;
    Direction direction = Direction::Auto;
    std::vector<std::pair<int32_t, int32_t>> other;  // further attribute codes, ascending
    auto Tie() const
    {
        return std::tie(style, style2, leftIndent, firstIndent, rightIndent, leading, spaceBefore,
                        spaceAfter, align, direction, other);
    }
    bool operator<(const ParaFormat& o) const { return Tie() < o.Tie(); }
    bool operator==(const ParaFormat& o) const { return Tie() == o.Tie(); }
};

// Equal formats share one id (from 1), so an id compares formatting.
template <class F>
class FormatTable {
public:
    int32_t Intern(const F& format)
    {
        auto found = ids_.find(format);
        if (found != ids_.end())
            return found->second;
        formats_.push_back(format);
        const auto id = static_cast<int32_t>(formats_.size());
        ids_.emplace(format, id);
        return id;
    }
    const F* Find(int32_t id) const
    {
        return id >= 1 && static_cast<size_t>(id) <= formats_.size() ? &formats_[id - 1] : nullptr;
    }
    size_t Size() const { return formats_.size(); }

private:
    std::vector<F> formats_;
    std::map<F, int32_t> ids_;
};

struct Font {
    int16_t id = 0;
    std::string name;
    std::string secondName;
    uint8_t script = 0;
    uint8_t extra = 0;
    std::string render = "DejaVu Sans";
    int32_t advance = 1000;
};

struct Colour {
    int32_t id = 0;
    std::string name;
    std::string model = "QRGB";
    uint32_t rgb = 0;
};

struct StyleSheet {
    int32_t id = 0;
    std::string name;
    int32_t charFormat = 0;
    int32_t paraFormat = 0;
};

struct Layer {
    int32_t id = 0;
    std::u16string name;
    bool visible = true;
};

struct MasterSpread {
    std::string name;
    int32_t pages = 1;
    std::vector<uint32_t> items;  // z-order
};

struct LayoutSpread {
    std::vector<int32_t> pages;  // per page the master page it is based on (0 = none)
    std::vector<uint32_t> items;  // z-order
};

// A page derived from the layout: its place and number.
struct PageInfo {
    Rect bounds;         // spread coordinates
    int32_t number = 0;  // from 1, continuous unless a section restarts it
    bool sectioned = false;
    int32_t master = 0;  // master page p, 0 = none
};

// Not on any page (the pasteboard); above 2000 as the module expects.
constexpr int32_t kPasteboardPage = 32767;

struct Layout {
    std::string name;
    std::string type = "XDOC";  // 'XDOC' print or 'XWEB' web
    int32_t pageWidth = 0, pageHeight = 0;
    Rect margins;
    std::vector<std::pair<int32_t, int32_t>> sections;  // [page index, first number], ascending
    std::vector<Layer> layers;
    std::vector<MasterSpread> masters;  // master page p is masters[p - 1]
    std::vector<LayoutSpread> spreads;
    std::map<uint32_t, Box> boxes;
    std::map<uint32_t, Story> stories;

    // Rebuilds the derived fields (owners, story of each text box). Mutations that change
    // structure call this and are counted in `structure`; checking the model fills the fields
    // as well, uncounted, for it changes nothing.
    void Index(bool counted = true);
    // How many structural changes (boxes placed or removed, group members, chains, anchored
    // boxes) the layout has seen: what is derived from its structure holds while this stays.
    uint64_t structure = 0;

    Box* FindBox(uint32_t uid);
    const Box* FindBox(uint32_t uid) const;
    Story* FindStory(uint32_t uid);
    const Story* FindStory(uint32_t uid) const;

    // Pages of layout spread s (from 0), in order, with their numbers.
    std::vector<PageInfo> Pages(size_t spread) const;
    // Pages of master spread m (from 0).
    std::vector<PageInfo> MasterPages(size_t master) const;
    // The number of the page holding the box's centre, or kPasteboardPage.
    int32_t PageNumberOf(const Box& box) const;
    // The top-level item that holds the box (itself when it is on a spread or master).
    const Box* TopLevelOf(const Box& box) const;
    // True when no layout page is based on master page p.
    bool MasterUnused(int32_t p) const;
    // Index of the first layout page of spread s, counted over the whole layout.
    int32_t FirstPageIndex(size_t spread) const;

    // Pages before each spread, so that page numbers cost no walk over earlier spreads. Spreads
    // gain or lose pages only when spreads are added (the count changes) or through a counted
    // structural change, so the table holds while both stay as they were when it was made.
    mutable std::vector<int32_t> pagesBefore_;
    mutable uint64_t pagesBeforeStructure_ = 0;
};

struct Project {
    bool mac = false;         // made on a Macintosh
    uint32_t nextUid = 1;     // the next uid for a box or story
    int32_t currentLayout = 0;
    std::vector<Font> fonts;
    std::vector<Colour> colours;
    FormatTable<CharFormat> charFormats;
    FormatTable<ParaFormat> paraFormats;
    FormatTable<RunFormat> runFormats;  // derived: the values of the paragraph-run tables
    std::vector<StyleSheet> styleSheets;
    std::vector<std::unique_ptr<Layout>> layouts;

    const Font* FindFont(int16_t id) const;
    const Colour* FindColour(int32_t id) const;
    const StyleSheet* FindStyleSheet(int32_t id) const;
    uint32_t NewUid() { return nextUid++; }
    // How many uids the document can still give: its file holds next_uid up to 2147483647, so
    // a uid past that would leave a document that cannot be opened again.
    uint32_t UidsLeft() const { return nextUid >= uint32_t(INT32_MAX) ? 0 : uint32_t(INT32_MAX) - nextUid; }
};

// Checks every invariant of the model; throws DocumentError naming the path of the first
// broken field as the document file spells it. Also refreshes the derived fields.
void CheckProject(Project& project);

// UTF-8 <-> UTF-16 for names and text. Invalid input is refused with an empty optional-like
// false result.
bool Utf8ToUtf16(const std::string& in, std::u16string* out);
using xthost::Utf16ToUtf8;  // lone surrogates become U+FFFD

}  // namespace xthost::doc
