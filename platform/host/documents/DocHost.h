// The document calls of the emulated host: open projects with their layouts (each one a
// host document with one view), spreads, pages, boxes, box records and outlines, private
// data, styles, fonts, colours, layers and file data.
//
// Every call answers an int32 result (0 = success) and goes through one wrapper: an injected
// fault for its role answers first (the role name is the fault key, "DOC-9"); handles are
// checked for their tag and life (HostErr::BadRef, noted in the transcript, never a crash);
// mutating calls write a transcript line, reads only while reads are traced.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/host/documents/Model.h"
#include "platform/host/documents/StoryEdit.h"

namespace xthost::doc {

// Handle tags of the documents (tag << 24 | serial; serials are never reused).
enum class Tag : uint8_t {
    Document = 0x01,
    View = 0x02,
    Spread = 0x03,
    Box = 0x04,
    Text = 0x05,
    BoxRecord = 0x06,
    Outline = 0x07,
    Project = 0x08,
};

// The callbacks the documents fire: 501 (a master box copied onto a page: source, copy) and
// 106 (a box linked as automatic text: box, 0).
constexpr int32_t kMasterBoxCopy = 501;
constexpr int32_t kAutotextBox = 106;
struct DocEvent {
    int32_t kind = 0;
    int32_t box = 0;
    int32_t other = 0;
};

// A box record: a copy of a box's geometry that the caller changes and applies.
struct BoxRecord {
    uint8_t shape = 5;
    uint32_t savedWord = 0;  // bit 0 locks the size
    Rect bounds;
    Rect bounds2;            // the outline's bounding box (shapes 10-12), else the bounds
    int32_t angle = 0;
    int32_t outline = 0;     // outline handle, 0 for none
    int32_t master = 0;      // the master box this box derives from, 0 for none
    int32_t inset = 65536;
    int32_t runaround = 65536;
    int32_t word6 = 6;
};

// Constraint violations of REC-3.
constexpr uint16_t kViolationLockedSize = 1;
constexpr uint16_t kViolationInverted = 2;

// BOX-1's predicate bits.
constexpr uint8_t kIsText = 0x01, kIsPicture = 0x02, kIsLine = 0x04, kIsGroup = 0x08, kIsNone = 0x10;

struct StyleSheetRecord {
    int32_t id = 0;
    std::string name;
    CharFormat charFormat;
    ParaFormat paraFormat;
};

class DocHost {
public:
    using NoteFn = std::function<void(const std::string&)>;
    using InjectFn = std::function<std::optional<int32_t>(const std::string& role)>;
    using EventFn = std::function<void(const DocEvent&)>;

    DocHost();
    ~DocHost();
    DocHost(const DocHost&) = delete;
    DocHost& operator=(const DocHost&) = delete;

    // Where transcript lines go, where faults come from and where callbacks are delivered.
    // Without an event sink, events are queued for TakeEvents().
    void SetNote(NoteFn note) { note_ = std::move(note); }
    void SetInject(InjectFn inject) { inject_ = std::move(inject); }
    void SetEventSink(EventFn sink) { sink_ = std::move(sink); }
    void SetTraceReads(bool on) { traceReads_ = on; }
    std::vector<DocEvent> TakeEvents();

    // ---- Documents and projects -----------------------------------------------------------
    int32_t CurrentDocument(int16_t* id, uint16_t* index);                    // DOC-1
    int32_t DocumentRef(int16_t id, int32_t* doc);                            // DOC-2
    int32_t DocumentView(int32_t doc, int32_t* view);                         // DOC-3
    uint16_t DocumentCount();                                                 // DOC-4 (open files)
    int32_t DocumentFlags(uint8_t* platform, uint8_t* untitled);              // DOC-5
    int32_t ChangeFlags(uint8_t* flags);                                      // DOC-6
    int32_t QueryPrefFlag();                                                  // DOC-7
    int32_t DocumentLocation(std::string* path);                              // DOC-8
    int32_t Open(const std::string& path, int32_t options);                   // DOC-9
    // Why the last Open did not open its file, in the host's words; empty after one that did,
    // and after a failure the fault plan injected (the host knows no more than its code then).
    const std::string& OpenRefusal() const { return openRefusal_; }
    int32_t BringToFront(uint16_t index);                                     // DOC-10
    int32_t Save();                                                           // DOC-11, APP-8(105)
    int32_t CloseWindow();                                                    // DOC-12
    int32_t RefreshFonts(int32_t doc);                                        // DOC-13
    int32_t SetDocOption(int32_t doc, int32_t flag);                          // DOC-14
    int32_t DocumentChanged(int32_t doc, int32_t value);                      // DOC-15
    int32_t MasterPageName(int32_t doc, int16_t spreadWord, std::string* name); // DOC-16
    int32_t DocumentQuestion(int32_t which);                                  // DOC-17
    int32_t SaveAs(const std::string& path);                                  // save-as, NEW-3
    int32_t CurrentProject(int32_t* project);                                 // PRJ-1
    int32_t CloseProject(int32_t project, int32_t flag);                      // PRJ-2
    int32_t ProjectChangeFlags(uint8_t* flags);                               // PRJ-3

    // ---- Layouts and new projects ---------------------------------------------------------
    int32_t LayoutCount(int32_t project, int16_t* count);                     // LAY-1
    int32_t LayoutDocument(int32_t project, int16_t layout, int16_t* id);     // LAY-2 (layout from 0)
    int32_t LayoutType(int16_t id, std::string* type);                        // LAY-3
    int32_t MakeLayoutCurrent(int16_t id);                                    // LAY-4
    int32_t CurrentLayoutNumber(int16_t* number);                             // LAY-5
    int32_t ProjectCurrentLayout(int32_t project, int32_t* doc);              // XPK 5
    int32_t LayoutNumber(int32_t doc, int16_t* number);                       // XDD 67
    int32_t SelectLayout(int16_t number);                                     // layout suite 2
    int32_t NewProject(const std::string& layoutName, const std::string& type, int32_t width,
                       int32_t height, int32_t margin, int32_t* project);     // NEW-1
    int32_t NewBox(const Rect& bounds, int32_t* box);                         // NEW-2
    int32_t SaveTo(const std::string& path, int32_t options);                 // NEW-3

    // ---- Views ----------------------------------------------------------------------------
    int32_t GotoMaster(int32_t view, int16_t page);                           // VIEW-1
    int32_t ShowsMasters(int32_t view, bool* masters);                        // VIEW-2
    int32_t CurrentSpread(int32_t view, int32_t* spread);                     // VIEW-3
    int32_t BringViewToFront(int32_t view);                                   // window call

    // ---- Spreads and pages ----------------------------------------------------------------
    int32_t SpreadCount(int32_t doc, int16_t kind, int16_t* count);           // SPR-1
    int32_t SpreadAt(int32_t doc, int16_t m, int32_t* spread, bool* master);  // SPR-2 (kind 1)
    int32_t MasterSpreadAt(int32_t doc, int16_t i, int32_t* spread, bool* unused,
                         std::string* name);                                  // SPR-3
    int32_t LayoutSpreadAt(int32_t doc, int16_t s, int32_t* spread);            // kind 0, from 1
    int32_t FirstBox(int32_t spread, int32_t* box);                           // SPR-4
    int32_t NextBox(int32_t box, int32_t* next);                              // SPR-4
    int32_t IsMasterItem(int32_t box, int32_t spread, bool* item);            // SPR-5
    int32_t PageOfBox(int32_t box, int16_t* page);                            // PAGE-1
    int32_t PageTable(int32_t spread, std::vector<PageInfo>* pages);          // PAGE-2/3

    // ---- Boxes ----------------------------------------------------------------------------
    int32_t BoxKinds(int32_t box, uint8_t* bits);                             // BOX-1
    int32_t GroupMembers(int32_t box, bool* group, std::vector<int32_t>* members); // BOX-2
    int32_t IsOnMaster(int32_t box, bool* master);                            // BOX-3
    int32_t BoxLocation(int32_t box, int16_t* spreadWord, uint8_t opaque[8]); // BOX-4
    int32_t CurrentBox(int32_t* box);                                         // BOX-5
    int32_t SetCurrentBox(int32_t box);                                       // BOX-5
    int32_t PreviousInChain(int32_t box, int32_t* previous);                  // BOX-6
    int32_t AnchoredBox(int32_t text, int32_t pos, int32_t* box);             // BOX-7
    int32_t CreateTextBox(int32_t record, int32_t spread, int32_t* box);      // BOX-8
    int32_t DisposeBox(int32_t box, int32_t flag);                            // BOX-9
    int32_t BoxCall(int32_t box);                                             // BOX-10
    int32_t DefaultId(int32_t box, int32_t* id);                              // BOX-11

    // ---- Box records and outlines ---------------------------------------------------------
    int32_t NewRecord(int32_t* record);                                       // REC-1
    int32_t GetRecord(int32_t box, int32_t* record);                          // REC-2
    int32_t ApplyRecord(int32_t record, int32_t box, uint16_t* violation);    // REC-3
    int32_t ReleaseRecord(int32_t record);                                    // REC-4
    BoxRecord* Record(int32_t record);  // the fields of a record handle, null when unknown
    int32_t OutlineOf(int32_t box, int32_t* outline);                         // SHP-1
    int32_t MakePolygon(const std::vector<Point>& points, int32_t* outline);  // SHP-2
    int32_t DisposeOutline(int32_t outline);                                  // SHP-3
    const std::vector<Point>* Outline(int32_t outline) const;

    // ---- Private data ---------------------------------------------------------------------
    int32_t PrivateOwner(int32_t box, int32_t* owner);                        // PD-1
    int32_t GetPrivate(int32_t owner, uint32_t key, std::vector<uint8_t>* bytes, bool* found); // PD-2
    int32_t SetPrivate(int32_t owner, uint32_t key, const std::vector<uint8_t>* bytes);       // PD-3
    int32_t FindByPrivate(int32_t view, uint32_t key, const std::vector<uint8_t>& bytes,
                          int32_t* box);                                      // PD-4

    // ---- Stories and text ------------------------------------------------------------------
    // Text handles name stories; a null text handle (0) names the current box's story where
    // the host's calls allow it. Run tables and characters are snapshots. A locked story
    // refuses edits with HostErr::Locked.
    int32_t StoryOfBox(int32_t box, int32_t* text, int32_t* length);
    int32_t StoryQuery(int32_t box, int32_t* text, int32_t* selStart, int32_t* selEnd,
                       int32_t* length);                                      // TXT-1
    int32_t StyleRuns(int32_t text, std::vector<RunEntry>* runs);             // TXT-2
    int32_t ParagraphRuns(int32_t text, std::vector<RunEntry>* runs);         // TXT-3
    int32_t AttributeStore(int32_t text, int32_t* store);                     // TXT-4
    int32_t CharAttributes(int32_t store, uint32_t value, CharFormat* format); // TXT-5
    int32_t ParaAttributes(int32_t store, uint32_t value, ParaFormat* format, uint32_t* kind); // TXT-6
    int32_t StoryText(int32_t text, std::u16string* chars);
    int32_t StoryChars(int32_t text, int32_t start, int32_t count, std::u16string* chars); // TXT-7
    int32_t StoryFlag(int32_t text, int32_t n, bool* set);                    // TXT-8
    int32_t SetStoryFlag(int32_t text, int32_t n, bool set);                  // TXT-8
    int32_t BeginEdit(int32_t text);                                          // TXT-9
    int32_t EndEdit();                                                        // TXT-9
    int32_t DeleteText(int32_t text, int32_t start, int32_t end);             // TXT-10
    int32_t InsertText(int32_t text, int32_t pos, const std::u16string& chars); // TXT-11
    int32_t CopyBoxText(int32_t srcDoc, int32_t srcBox, int32_t start, int32_t end, int32_t dstDoc,
                        int32_t dstBox, int32_t pos);                         // TXT-12
    int32_t CopyText(int32_t src, int32_t start, int32_t end, int32_t dst, int32_t pos); // TXT-13
    int32_t SetSelection(int32_t text, int32_t start, int32_t end);           // TXT-14
    int32_t SetInsertionPoint(int32_t pos);                                   // TXT-15
    int32_t SelectRange(int32_t start, int32_t end);                          // TXT-15
    int32_t SelectAll();                                                      // TXT-15
    int32_t SetTextAttribute(int32_t text, int32_t code, int32_t value);      // TXT-16
    int32_t InsertionAttributes(CharFormat* format);                          // TXT-17
    int32_t CharacterUnit(int32_t text, int32_t pos, uint32_t* code, int32_t* width); // TXT-18
    int32_t ParagraphStyleRuns(int32_t text, std::vector<RunEntry>* runs);    // TXT-19
    int32_t ParagraphStyleRunCount(int32_t text, int32_t* count);             // TXT-19, the number only
    int32_t IsLocked(int32_t text, bool* locked);                             // XSS 2
    int32_t SetLocked(int32_t text, bool locked);                             // XSS 3

    // ---- Hidden content -------------------------------------------------------------------
    int32_t InsertHidden(int32_t text, int32_t pos, uint32_t opcode, const std::vector<uint8_t>& data); // HID-1
    int32_t CloseHidden(int32_t pos);                                         // HID-2
    int32_t FindMarker(int32_t text, int32_t from, int32_t limit, int32_t direction, uint32_t opcode,
                       uint32_t data, bool* found, int32_t* position);        // HID-3
    int32_t RunEnd(int32_t text, int32_t pos, int32_t a, int32_t b, int32_t* end); // HID-4
    int32_t ItemValue(int32_t text, int32_t pos, int32_t box, uint32_t* value); // HID-5

    // ---- Styles, fonts, colours, layers ---------------------------------------------------
    int32_t GetStyleSheet(int32_t id, int32_t kind, StyleSheetRecord* sheet); // STY-1
    int32_t FindStyleSheet(const std::string& name, int32_t* id);             // STY-2
    int32_t ApplyStyleSheet(int32_t id, int32_t one, int32_t text);           // STY-3
    int32_t FontList(std::vector<uint8_t>* packed);                           // FNT-1
    int32_t FontScript(int16_t id);                                           // FNT-2 (negative: error)
    int32_t ColourTable(std::vector<Colour>* colours);                        // COL-1
    int32_t FindRgbColour(uint32_t rgb, int32_t* id);                         // COL-2 (-4 none)
    int32_t CreateRgbColour(const std::string& name, uint32_t rgb, int32_t* id); // COL-3
    int32_t LayerOfBox(int32_t box, int32_t* layer);                          // LYR-1
    int32_t LayerName(int32_t layer, std::u16string* name);                   // LYR-2
    int32_t LayerVisible(int32_t layer, bool* visible);                       // LYR-3

    // ---- File data (file references are 16-bit) -------------------------------------------
    int32_t OpenDataFork(const std::string& path, int32_t permission, int16_t* ref); // FIO-1
    int32_t ReadData(int16_t ref, int32_t* count, void* buffer);              // FIO-2 (-39 at end)
    int32_t DataLength(int16_t ref, int32_t* length);                         // FIO-3
    int32_t CloseData(int16_t ref);                                           // FIO-4
    int32_t CreateDataFile(const std::string& path, int32_t access, int16_t* ref); // FIO-5
    int32_t WriteData(int16_t ref, int32_t* count, const void* buffer);       // FIO-6

    // ---- For the host program and tests ---------------------------------------------------
    // The project in front, null when none is open.
    Project* FrontProject();
    // The handle of a box by its uid in the current layout, 0 when there is none.
    int32_t BoxHandle(uint32_t uid);
    uint32_t BoxUid(int32_t box);
    int32_t TextHandle(uint32_t storyUid);

    // ---- For the parts built on the documents (text flow, PDF) ----------------------------
    // What a handle names; a wrong or stale handle is noted as BadRef for the role.
    struct Target {
        Project* project = nullptr;
        Layout* layout = nullptr;
        Box* box = nullptr;
        Story* story = nullptr;
        int32_t doc = 0;  // the layout's document handle
    };
    bool ResolveBox(int32_t handle, const char* role, Target* target);
    bool ResolveText(int32_t handle, const char* role, Target* target);
    bool ResolveDocument(int32_t handle, const char* role, Target* target);
    // The handle of a box or story of the layout behind a document handle, 0 when none.
    int32_t HandleOf(int32_t doc, uint32_t boxUid);
    // Changes with every call that may change a document (before and after it), and is never
    // the same for two hosts of a process, so what is derived from the documents can be cached.
    uint64_t Generation() const { return generation_; }
    // Runs a call of another part through the documents' wrapper (faults, transcript, hooks).
    int32_t Wrap(const char* role, bool mutates, const std::function<std::string()>& args,
                 const std::function<int32_t()>& body);

private:
    struct PrivateIndex;
    struct Layoutx;
    struct Projectx;
    struct Ref;
    struct FileData;

    int32_t ParagraphStyles(int32_t text, std::vector<RunEntry>* runs, int32_t* count);
    template <class Body>
    int32_t Call(const char* role, bool mutates, const std::function<std::string()>& args, Body body);
    void Note(const std::string& line);
    const Ref* Resolve(int32_t handle, Tag tag, const char* role);
    Layoutx* LayoutOf(int32_t doc, const char* role);
    Layoutx* Front();
    // Where the layout with that document id is: its project and its index there; false when
    // no open layout has it.
    bool FindDocId(int16_t id, size_t* project, size_t* layout) const;
    Box* BoxRef(int32_t handle, const char* role, Layoutx** layout);
    Story* TextRef(int32_t handle, const char* role, Layoutx** layout);
    Story* TextOrCurrent(int32_t handle, const char* role, Layoutx** layout);
    Story* Editable(int32_t handle, const char* role, Layoutx** layout, int32_t* result);
    void IssueNew(Layoutx& layout);
    int32_t Issue(Tag tag, const Ref& ref);
    void Retire(int32_t handle);
    int32_t AdoptProject(std::unique_ptr<Project> project, const std::string& path);
    void AdoptLayout(Projectx& project, Layout& layout);
    int32_t IssueBox(Layoutx& layout, uint32_t uid);
    int32_t IssueText(Layoutx& layout, uint32_t uid);
    void CloseProjectx(Projectx* project);
    void Touch(Layoutx& layout);
    void StoryChanged(Layoutx& layout, const Story& story);
    void ReturnToLayout(Layoutx& layout);
    void Fire(const DocEvent& event);
    void RemoveBox(Layoutx& layout, uint32_t uid);
    // `role` names the call for the fault plan (see WriteFault).
    int32_t WriteProject(Projectx& project, const std::string& path, const char* role);
    // The system error that a file write of the call `role` meets instead of writing, by the
    // fault plan: a rule "write:ROLE" or "write" whose value is the error number (28 for a
    // full disk). 0 lets the write through.
    int WriteFault(const char* role);
    Projectx* OpenByPath(const std::string& path);
    template <class Visit>
    void WalkScope(const Layoutx& layout, bool masters, Visit visit) const;
    // The layout's private-data index for a scope, built anew when its structure changed.
    const PrivateIndex& ScopeIndex(Layoutx& layout, bool masters);
    // Keeps the built indexes up to date with a box's value for a key (null: none).
    void Reindex(Layoutx& layout, uint32_t uid, uint32_t key, const std::vector<uint8_t>* before,
                 const std::vector<uint8_t>* after);

    NoteFn note_;
    InjectFn inject_;
    EventFn sink_;
    bool traceReads_ = false;
    static uint64_t NextGeneration()
    {
        static uint64_t last = 0;
        return ++last;
    }
    uint64_t generation_ = NextGeneration();
    std::vector<DocEvent> events_;   // delivered, without a sink
    std::vector<DocEvent> pending_;  // fired by the call under way
    int depth_ = 0;

    uint32_t serials_[16] = {};
    std::unordered_map<int32_t, std::unique_ptr<Ref>> refs_;
    std::vector<std::unique_ptr<Projectx>> projects_;  // the front project last
    std::string openRefusal_;
    int16_t nextDocId_ = 1;
    std::map<int32_t, BoxRecord> records_;
    std::map<int32_t, std::vector<Point>> outlines_;
    std::map<int16_t, std::unique_ptr<FileData>> files_;
    int16_t nextFileRef_ = 1;
};

}  // namespace xthost::doc
