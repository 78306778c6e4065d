// The document part of the host's extension interface: records and suite slots for
// documents, views, projects, layouts, spreads, pages, boxes, box records, outlines, private
// data, style sheets, fonts, colours, layers and file data. Slots the host's published
// numbering gives keep their suite and number; the others are numbered from 100.
//
// Buffers the host fills are passed with their size; a text that does not fit answers
// XT_ERR_PARAM and leaves an empty string. Boolean answers are bytes, 1 for true.
#pragma once

#include <cstdint>

#include "platform/host/xtapi/XTSuites.h"

// The largest document file the host opens; a larger one is refused unread, and the host saves
// none larger, so that every document it writes it can open again.
constexpr uint64_t XT_MAX_DOCUMENT_FILE_BYTES = uint64_t(64) << 20;
// The longest story: every character of a story takes at least one byte of the document's file,
// so a longer story could not be saved. Text that would make a story longer is refused.
constexpr uint64_t XT_MAX_STORY_CHARACTERS = XT_MAX_DOCUMENT_FILE_BYTES;
constexpr int32_t XT_ERR_STORY_TOO_LONG = -3007;
// Text edits the host refuses: one that would cut a hidden or object run apart, and any edit of a
// locked story.
constexpr int32_t XT_ERR_SPLITS_RUN = -3002;
constexpr int32_t XT_ERR_STORY_LOCKED = -3005;

// Suites of the documents without a published code of their own take these.
enum : uint32_t {
    XT_SUITE_XPK = XT_SUITE('X','P','K',14),  // projects
    XT_SUITE_LTY = XT_SUITE('L','T','Y',2),   // layouts
    XT_SUITE_XPH = XT_SUITE('X','P','H',3),   // spreads and pages
    XT_SUITE_XBY = XT_SUITE('X','B','Y',9),   // boxes, private data, layers
    XT_SUITE_XIG = XT_SUITE('X','I','G',3),   // box tests
    XT_SUITE_XXC = XT_SUITE('X','X','C',4),   // box records and outlines
    XT_SUITE_XSD = XT_SUITE('X','S','D',4),   // style sheets, fonts, colours
    XT_SUITE_XWQ = XT_SUITE('X','W','Q',7),   // windows
    XT_SUITE_XTY = XT_SUITE('X','T','Y',4),   // story text and line records
    XT_SUITE_XBG = XT_SUITE('X','B','G',9),   // box flags
    XT_SUITE_XFS = XT_SUITE('X','F','S',2),   // the view's limits
    XT_SUITE_XSQ = XT_SUITE('X','S','Q',2),   // the view's limits
};

// ---- Records --------------------------------------------------------------------------------

// Callback 501: a master-page box was copied onto a page (or its story changed while its
// master page was shown); callback 106: a layout box is linked as automatic text.
struct xtmasterboxcopyrec {
    XTHandle source;       // the master box
    XTHandle destination;  // the layout box derived from it
};
struct xtautotextboxrec {
    XTHandle box;
};

// The location of a box: the spread word (a master box: its master page p + 2, which the
// master-page name call takes; a layout box: its spread from 1) and 8 bytes of the host's.
struct XTBoxLocation {
    int16_t spread;
    uint8_t opaque[8];
};

struct XTRect {
    int32_t top, left, bottom, right;  // 16.16
};
struct XTPoint {
    int32_t v, h;  // 16.16
};

// The fields of a box record that callers read and change.
struct XTBoxRecord {
    uint8_t shape;       // 5-12
    uint32_t savedWord;  // bit 0 locks the size
    XTRect bounds;
    XTRect bounds2;      // the outline's bounding box (shapes 10-12), else the bounds
    int32_t angle;       // 16.16 degrees
    XTHandle outline;    // an outline to apply, 0 to keep the box's own
    XTHandle master;     // the master box this box derives from, 0 for none
    int32_t inset;
    int32_t runaround;
    int32_t word6;
};

// A page of a spread.
struct XTPageRec {
    XTRect bounds;
    int16_t number;     // from 1
    uint8_t sectioned;  // the number comes from a section start
    int16_t master;     // the master page it is based on, 0 for none
};

struct XTCharFormat {
    int16_t font;
    uint8_t high;
    uint16_t face;
    int32_t size, kern, track;
    uint16_t colour;
    int32_t shift;
    uint32_t scriptLang;
    uint32_t tag;
    uint16_t extra;
};
struct XTParaFormat {
    int32_t style, style2;
    int32_t leftIndent, firstIndent, rightIndent, leading, spaceBefore, spaceAfter;
    int32_t align;      // 0 left, 1 centre, 2 right, 3 justified
    int32_t direction;  // 0 automatic, 1 left to right, 2 right to left
};
// Style sheet records of kind 1 (character) and 2 (paragraph) carry the same fields here.
struct XTStyleSheetRec {
    int32_t id;
    char name[256];
    XTCharFormat charFormat;
    XTParaFormat paraFormat;
};

struct XTColourRec {
    int32_t id;
    uint32_t model;  // four characters in memory order, 'QRGB'
    char name[256];
    uint32_t rgb;    // 0xRRGGBB
};

// ---- Documents, views and windows -----------------------------------------------------------
XT_SLOT(XDD_DocumentChanged, XT_SUITE_XDD, 2, int32_t (*)(XTHandle doc, int32_t value));
XT_SLOT(XDD_ClosingCall, XT_SUITE_XDD, 6, int32_t (*)(XTHandle doc, int32_t flag));
XT_SLOT(XDD_LayoutNumber, XT_SUITE_XDD, 67, int32_t (*)(XTHandle doc, int16_t* number));
XT_SLOT(XDD_DocumentRef, XT_SUITE_XDD, 100, int32_t (*)(int16_t id, XTHandle* doc));
XT_SLOT(XDD_DocumentView, XT_SUITE_XDD, 101, int32_t (*)(XTHandle doc, XTHandle* view));
XT_SLOT(XDD_DocumentCount, XT_SUITE_XDD, 102, int32_t (*)(uint16_t* count));
XT_SLOT(XDD_DocumentFlags, XT_SUITE_XDD, 103, int32_t (*)(uint8_t* platform, uint8_t* untitled));
XT_SLOT(XDD_ChangeFlags, XT_SUITE_XDD, 104, int32_t (*)(uint8_t* flags));
XT_SLOT(XDD_QueryPrefFlag, XT_SUITE_XDD, 105, int32_t (*)());
// The file of the current document, and a flag byte: 1 when the file cannot be written.
XT_SLOT(XDD_DocumentLocation, XT_SUITE_XDD, 106, int32_t (*)(XTFileSpec* spec, uint8_t* flag));
XT_SLOT(XDD_OpenDocument, XT_SUITE_XDD, 107, int32_t (*)(XTHandle fileRef, int32_t options));
// Why the last XDD_OpenDocument did not open its file, in the host's words (the file and what is
// wrong with it); "" after an open that succeeded or failed without more to say than its code.
// The text is cut to size - 1 bytes and ended by 0.
XT_SLOT(XDD_OpenRefusal, XT_SUITE_XDD, 118, int32_t (*)(char* text, int32_t size));
XT_SLOT(XDD_BringToFront, XT_SUITE_XDD, 108, int32_t (*)(uint16_t index));
XT_SLOT(XDD_SaveDocument, XT_SUITE_XDD, 109, int32_t (*)());
XT_SLOT(XDD_CloseWindow, XT_SUITE_XDD, 110, int32_t (*)());
XT_SLOT(XDD_RefreshFonts, XT_SUITE_XDD, 111, int32_t (*)(XTHandle doc));
XT_SLOT(XDD_SetDocOption, XT_SUITE_XDD, 112, int32_t (*)(XTHandle doc, int32_t flag));
XT_SLOT(XDD_MasterPageName, XT_SUITE_XDD, 113, int32_t (*)(XTHandle doc, int16_t spreadWord, char* name, int32_t size));
XT_SLOT(XDD_DocumentQuestion, XT_SUITE_XDD, 114, int32_t (*)(int32_t which));
XT_SLOT(XDD_HostCommand, XT_SUITE_XDD, 115, int32_t (*)(int32_t command));  // 105 saves
XT_SLOT(XDD_SaveTo, XT_SUITE_XDD, 116, int32_t (*)(XTHandle fileRef, int32_t options));
// The id of the current document; -1 and a failure when none is open.
XT_SLOT(XDD_CurrentDocId, XT_SUITE_XDD, 117, int32_t (*)(int16_t* id));
// xt_viewgotomaster: page p >= 1 shows master page p, 0 returns to the layout.
XT_SLOT(XDD_GotoMaster, XT_SUITE_XDD, 120, int32_t (*)(XTHandle view, int16_t page));
XT_SLOT(XDD_ShowsMasters, XT_SUITE_XDD, 121, int32_t (*)(XTHandle view, uint8_t* masters));
XT_SLOT(XDD_CurrentSpread, XT_SUITE_XDD, 122, int32_t (*)(XTHandle view, XTHandle* spread));
XT_SLOT(XWQ_BringViewToFront, XT_SUITE_XWQ, 100, int32_t (*)(XTHandle view));

// ---- Projects and layouts ---------------------------------------------------------------------
XT_SLOT(XPK_CurrentProject, XT_SUITE_XPK, 1, int32_t (*)(XTHandle* project));
XT_SLOT(XPK_CurrentLayout, XT_SUITE_XPK, 5, int32_t (*)(XTHandle project, XTHandle* doc));
XT_SLOT(XPK_CloseProject, XT_SUITE_XPK, 100, int32_t (*)(XTHandle project, int32_t flag));
XT_SLOT(XPK_ProjectChangeFlags, XT_SUITE_XPK, 101, int32_t (*)(uint8_t* flags));
XT_SLOT(XPK_LayoutCount, XT_SUITE_XPK, 102, int32_t (*)(XTHandle project, int16_t* count));
XT_SLOT(XPK_LayoutDocument, XT_SUITE_XPK, 103, int32_t (*)(XTHandle project, int16_t layout, int16_t* id));
XT_SLOT(XPK_LayoutType, XT_SUITE_XPK, 104, int32_t (*)(int16_t id, uint32_t* type));
// A new untitled project with one print or web layout of one page (type 'XDOC' or 'XWEB').
XT_SLOT(XPK_NewProject, XT_SUITE_XPK, 105, int32_t (*)(const char* layoutName, uint32_t type, int32_t width, int32_t height, int32_t margin, XTHandle* project));
XT_SLOT(XPK_NewBox, XT_SUITE_XPK, 106, int32_t (*)(const XTRect* bounds, XTHandle* box));
XT_SLOT(LTY_SelectLayout, XT_SUITE_LTY, 2, int32_t (*)(int16_t number));
XT_SLOT(LTY_MakeLayoutCurrent, XT_SUITE_LTY, 100, int32_t (*)(int16_t id));

// ---- Spreads and pages ------------------------------------------------------------------------
// Kind 0 counts the layout spreads; kind 1 the master list, whose entries 1 and 2 are reserved
// (master page p is entry p + 2).
XT_SLOT(XPH_SpreadCount, XT_SUITE_XPH, 100, int32_t (*)(XTHandle doc, int16_t kind, int16_t* count));
XT_SLOT(XPH_MasterEntry, XT_SUITE_XPH, 101, int32_t (*)(XTHandle doc, int16_t m, XTHandle* spread, uint8_t* isMaster));
XT_SLOT(XPH_MasterSpread, XT_SUITE_XPH, 102, int32_t (*)(XTHandle doc, int16_t i, XTHandle* spread, uint8_t* unused, char* name, int32_t size));
XT_SLOT(XPH_LayoutSpread, XT_SUITE_XPH, 103, int32_t (*)(XTHandle doc, int16_t s, XTHandle* spread));
XT_SLOT(XPH_FirstBox, XT_SUITE_XPH, 104, int32_t (*)(XTHandle spread, XTHandle* box));
XT_SLOT(XPH_NextBox, XT_SUITE_XPH, 105, int32_t (*)(XTHandle box, XTHandle* next));
XT_SLOT(XPH_IsMasterItem, XT_SUITE_XPH, 106, int32_t (*)(XTHandle box, XTHandle spread, uint8_t* item));
XT_SLOT(XPH_PageOfBox, XT_SUITE_XPH, 107, int32_t (*)(XTHandle box, int16_t* page));
XT_SLOT(XPH_PageCount, XT_SUITE_XPH, 108, int32_t (*)(XTHandle spread, int16_t* count));
XT_SLOT(XPH_PageRecord, XT_SUITE_XPH, 109, int32_t (*)(XTHandle spread, int16_t index, XTPageRec* page));

// ---- Boxes, private data, layers --------------------------------------------------------------
XT_SLOT(XBY_CurrentBox, XT_SUITE_XBY, 16, int32_t (*)(XTHandle* box));
XT_SLOT(XBY_BoxKinds, XT_SUITE_XBY, 100, int32_t (*)(XTHandle box, uint8_t* bits));
// The group itself first, then its members; count is the room in, the number out.
XT_SLOT(XBY_GroupMembers, XT_SUITE_XBY, 101, int32_t (*)(XTHandle box, uint8_t* isGroup, XTHandle* members, int32_t* count));
XT_SLOT(XBY_IsOnMaster, XT_SUITE_XBY, 102, int32_t (*)(XTHandle box, int32_t reserved, uint8_t* master));
XT_SLOT(XBY_BoxLocation, XT_SUITE_XBY, 103, int32_t (*)(XTHandle box, XTBoxLocation* location));
XT_SLOT(XBY_SetCurrentBox, XT_SUITE_XBY, 104, int32_t (*)(XTHandle box));
XT_SLOT(XBY_PreviousInChain, XT_SUITE_XBY, 105, int32_t (*)(XTHandle box, XTHandle* previous));
XT_SLOT(XBY_AnchoredBox, XT_SUITE_XBY, 106, int32_t (*)(XTHandle text, int32_t pos, XTHandle* box));
XT_SLOT(XBY_CreateTextBox, XT_SUITE_XBY, 107, int32_t (*)(XTHandle record, XTHandle spread, XTHandle* box));
XT_SLOT(XBY_DisposeBox, XT_SUITE_XBY, 108, int32_t (*)(XTHandle box, int32_t flag));
XT_SLOT(XBY_BoxCall, XT_SUITE_XBY, 109, int32_t (*)(XTHandle box));
XT_SLOT(XBY_DefaultId, XT_SUITE_XBY, 110, int32_t (*)(XTHandle box, int32_t* id));
XT_SLOT(XBY_PrivateOwner, XT_SUITE_XBY, 120, int32_t (*)(XTHandle box, XTHandle* owner));
// With a null buffer, size answers the value's size; otherwise size is the room in, the size out.
XT_SLOT(XBY_GetPrivate, XT_SUITE_XBY, 121, int32_t (*)(XTHandle owner, uint32_t key, uint8_t* buffer, int32_t* size));
// size 0 removes the key.
XT_SLOT(XBY_SetPrivate, XT_SUITE_XBY, 122, int32_t (*)(XTHandle owner, uint32_t key, const uint8_t* bytes, int32_t size));
XT_SLOT(XBY_FindByPrivate, XT_SUITE_XBY, 123, int32_t (*)(XTHandle view, uint32_t key, const uint8_t* bytes, int32_t size, XTHandle* box));
XT_SLOT(XBY_LayerOfBox, XT_SUITE_XBY, 124, int32_t (*)(XTHandle box, int32_t* layer));
XT_SLOT(XBY_LayerName, XT_SUITE_XBY, 125, int32_t (*)(int32_t layer, char16_t* name, int32_t size));
XT_SLOT(XBY_LayerVisible, XT_SUITE_XBY, 126, int32_t (*)(int32_t layer, uint8_t* visible));
XT_SLOT(XIG_IsTextBox, XT_SUITE_XIG, 3, int32_t (*)(XTHandle box, uint8_t* text));

// ---- Box records and outlines -----------------------------------------------------------------
XT_SLOT(XXC_ReleaseRecord, XT_SUITE_XXC, 2, int32_t (*)(XTHandle record, int32_t flag));
XT_SLOT(XXC_GetRecord, XT_SUITE_XXC, 4, int32_t (*)(int32_t reserved1, XTHandle box, int32_t reserved2, XTHandle* record));
XT_SLOT(XXC_ApplyRecord, XT_SUITE_XXC, 5, int32_t (*)(XTHandle record, XTHandle box, int32_t reserved, uint16_t* violation));
XT_SLOT(XXC_NewRecord, XT_SUITE_XXC, 100, int32_t (*)(XTHandle* record));
XT_SLOT(XXC_ReadRecord, XT_SUITE_XXC, 101, int32_t (*)(XTHandle record, XTBoxRecord* fields));
XT_SLOT(XXC_WriteRecord, XT_SUITE_XXC, 102, int32_t (*)(XTHandle record, const XTBoxRecord* fields));
XT_SLOT(XXC_OutlineOf, XT_SUITE_XXC, 110, int32_t (*)(XTHandle box, XTHandle* outline));
XT_SLOT(XXC_MakePolygon, XT_SUITE_XXC, 111, int32_t (*)(const XTPoint* points, int32_t count, XTHandle* outline));
XT_SLOT(XXC_DisposeOutline, XT_SUITE_XXC, 112, int32_t (*)(XTHandle outline));

// ---- Style sheets, fonts, colours -------------------------------------------------------------
XT_SLOT(XSD_ApplyStyleSheet, XT_SUITE_XSD, 5, int32_t (*)(int32_t id, int32_t one, XTHandle text));
XT_SLOT(XSD_GetStyleSheet, XT_SUITE_XSD, 100, int32_t (*)(int32_t id, int32_t kind, XTStyleSheetRec* sheet));
XT_SLOT(XSD_FindStyleSheet, XT_SUITE_XSD, 101, int32_t (*)(const char* name, int32_t* id));
// The packed font list: u16 count, then per font u16 id, u8 script, u8 extra, name and second
// name each zero-terminated (little-endian). size is the room in, the list's size out.
XT_SLOT(XSD_FontList, XT_SUITE_XSD, 110, int32_t (*)(uint8_t* buffer, int32_t* size));
XT_SLOT(XSD_FontScript, XT_SUITE_XSD, 111, int32_t (*)(int16_t id));  // negative: no such font
XT_SLOT(XSD_ColourCount, XT_SUITE_XSD, 120, int32_t (*)(int32_t* count));
XT_SLOT(XSD_ColourAt, XT_SUITE_XSD, 121, int32_t (*)(int32_t index, XTColourRec* colour));
XT_SLOT(XSD_FindRgbColour, XT_SUITE_XSD, 122, int32_t (*)(uint32_t rgb, int32_t* id));  // -4: none
XT_SLOT(XSD_CreateRgbColour, XT_SUITE_XSD, 123, int32_t (*)(int32_t* id, const char* name, uint32_t rgb));

// ---- File data --------------------------------------------------------------------------------
// Data forks by 16-bit file reference. Reading past the end answers -39 with count set to the
// bytes read.
XT_SLOT(XFJ_OpenDataFork, XT_SUITE_XFJ, 100, int32_t (*)(int16_t volume, int32_t folderId, const char* name, int32_t permission, int16_t* ref));
XT_SLOT(XFJ_ReadData, XT_SUITE_XFJ, 101, int32_t (*)(int16_t ref, int32_t* count, void* buffer));
XT_SLOT(XFJ_DataLength, XT_SUITE_XFJ, 102, int32_t (*)(int16_t ref, int32_t* length));
XT_SLOT(XFJ_CloseData, XT_SUITE_XFJ, 103, int32_t (*)(int16_t ref));
XT_SLOT(XFJ_CreateDocumentFile, XT_SUITE_XFJ, 104, int32_t (*)(const char* path, int16_t* ref, int32_t access));
XT_SLOT(XFJ_WriteData, XT_SUITE_XFJ, 105, int32_t (*)(int16_t ref, int32_t* count, const void* buffer));
