// The host's published extension interface: what a module compiles against.
//
// The host application loads a module (an XTension) from the "XTensions" folder of its
// application folder, calls its exported XTActivateCallback with an activation record, then
// the identifier and setup callbacks that the module registered there, and from then on calls
// the module back for the callback kinds it registered. The module reaches every host service
// through the setup record: suites bound by code and version (see XTSuites.h), interface
// tables, components, callback registration, requests and the error text.
//
// Records are typed structures whose fields keep the order of the host's 32-bit records; a
// field that the host does not define for modules is named reservedN. Handles that the host
// hands out (menus, dialogs, windows, text objects, file references, components) are 32-bit
// integers; 0 is never a valid handle.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t XTHandle;

// ---------------------------------------------------------------------------------------------
// Result codes. 0 is success everywhere; the file-system codes keep the host's own numbers.
enum : int32_t {
    XT_OK = 0,
    XT_ERR_NOT_EMULATED = -4,     // a suite slot or interface entry the host does not provide
    XT_ERR_DISK_FULL = -34,       // no room left on the volume (or the file may grow no further)
    XT_ERR_BAD_NAME = -37,        // a path that does not fit the caller's buffer or is malformed
    XT_ERR_FILE_NOT_FOUND = -43,
    XT_ERR_WRITE_PROTECTED = -44, // the volume takes no writes
    XT_ERR_DUPLICATE_FILE = -48,  // the file exists and replacing was not allowed
    XT_ERR_PARAM = -50,           // unknown or disposed handle, null pointer, bad argument
    XT_ERR_PERMISSION = -54,      // the file or its folder may not be written (or read)
    XT_ERR_DIR_NOT_FOUND = -120,
    XT_ERR_CANCELLED = -128,      // the user cancelled a dialog or chooser
    XT_ERR_IO = -36,
};

// Answers of a module's activation and setup callbacks.
enum : uint32_t {
    XT_MODULE_FAILED = 0x51000401u,
    XT_MODULE_BAD_RECORD = 0x5100040Fu,
};

// ---------------------------------------------------------------------------------------------
// Callback kinds. The dialog kinds are identifiers that the host reserves for the module at
// start-up (XTIdRec::newId); they never collide with these fixed kinds.
enum : int32_t {
    XT_CB_UNLOAD = 4,            // once, at quit, before the module is unloaded
    XT_CB_ADDMENUITEMS = 6,      // build the module's menus
    XT_CB_UPDATEMENUITEMS = 7,   // before a menu is shown or chosen
    XT_CB_IDLE = 10,             // repeatedly while the host is idle
    XT_CB_AUTOTEXTBOX = 106,     // a box was linked as automatic text
    XT_CB_STARTUPDONE = 134,     // the host finished starting; nothing to do
    XT_CB_MASTERBOXCOPY = 501,   // a master-page box was copied onto a page
    XT_CB_HANDLECOMMAND = 618,   // a menu item of the module was chosen
    XT_CB_PDFOUTPUT = 681,       // a PDF export needs the module's help
};

// Every callback the module registers takes one pointer to the host's record of that kind.
typedef int32_t (*XTCallbackFn)(void* rec);

// Fixed argument of every registration (the callback convention of this interface).
enum : int32_t { XT_CB_CONVENTION = 5 };
enum : int32_t { XT_PRIORITY_DEFAULT = 200 };

// Records of the callbacks that carry their kind in their first word (kinds 6, 7 and 10).
struct XTVoidRec {
    int32_t kind;
    int32_t reserved0;
};
struct XTIdleRec {
    int32_t kind;        // XT_CB_IDLE
    int32_t reserved0;
};
struct xtaddmenuitemsrec {
    int32_t kind;        // XT_CB_ADDMENUITEMS
    int32_t reserved0;
};
struct xtupdatemenuitemsrec {
    int32_t kind;        // XT_CB_UPDATEMENUITEMS
    int32_t reserved0;
};
// The menu-command record (kind 618); handed on to commands as an XTVoidRec*.
struct xthandlecommandrec {
    int32_t kind;        // XT_CB_HANDLECOMMAND
    int32_t reserved0;
    uint16_t commandId;  // the command id of the chosen item
};
static_assert(offsetof(XTIdleRec, kind) == 0 && offsetof(xtaddmenuitemsrec, kind) == 0 &&
                  offsetof(xtupdatemenuitemsrec, kind) == 0 && offsetof(xthandlecommandrec, kind) == 0,
              "the callback kind is the first word of the record");

// ---------------------------------------------------------------------------------------------
// Loading and activation.

// The activation record handed to XTActivateCallback.
struct XTActivationRec {
    int32_t reserved0;
    int32_t reserved1;
    const uint32_t* apiTable;  // the host API table: XT_API_TABLE_WORDS words
    int32_t reserved2;
    // Is the module's SDK level compatible? The low byte of the answer is non-zero when it is.
    int32_t (*compatQuery)(uint32_t code, uint32_t a, uint32_t b, uint32_t level, uint32_t c);
    int32_t reserved3;
    int32_t (*registerSetupCallback)(XTCallbackFn fn, int32_t convention, int32_t priority,
                                     int32_t reserved);
    int32_t (*registerIdCallback)(XTCallbackFn fn, int32_t convention, int32_t priority,
                                  int32_t reserved);
    int32_t (*setMemoryPriority)(int32_t value);
    // Hands the host a zero-terminated error text that it shows for a module that failed.
    void (*setErrorText)(const char* text);
};
enum : int32_t { XT_API_TABLE_WORDS = 68 };

// The identifier record, argument of the identifier callback: runs before setup.
struct XTIdRec {
    int32_t reserved0;
    int32_t reserved1;
    // Writes count (always 1) fresh identifiers; answers 0.
    int32_t (*newId)(int32_t count, uint32_t* out);
};

// The setup record, argument of the setup callback; valid until the module is unloaded.
struct XTSetupRec {
    int32_t tag0;   // XT_SETUP_TAG0
    int32_t tag1;   // XT_SETUP_TAG1
    // Registers a callback for a kind; the callbacks of one kind are called in ascending order
    // of priority, and in the order of registration within one priority.
    int32_t (*registerCallback)(int32_t kind, XTCallbackFn fn, int32_t convention,
                                int32_t priority, int32_t reserved);
    // A one-word request such as 0x913 or 0x912: (0, the words, their count).
    int32_t (*request)(int32_t reserved, const uint32_t* words, int32_t count);
    // Binds a suite: (code, the module's table, selector list, list length in words), or a
    // component: (component handle, the module's component table, null, 0). See XTSuites.h.
    int32_t (*bindSuite)(uint32_t code, void* table, const uint32_t* selectors, int32_t length);
    int32_t (*lookupComponent)(uint32_t code, uint32_t* out);
    int32_t (*lookupComponentHandle)(uint32_t code, XTHandle* out);
    uint32_t sdkLevel;  // XT_SETUP_SDK_LEVEL
    void (*setErrorText)(const char* text);
    int32_t reserved2;
    int32_t reserved3;
    int32_t reserved4;
    // Fills an interface table: (code, 1, index, the module's table, its size in bytes).
    int32_t (*requestInterface)(uint32_t code, int32_t one, int32_t index, void* table,
                                int32_t sizeBytes);
};
enum : uint32_t {
    XT_SETUP_TAG0 = 11,
    XT_SETUP_TAG1 = 0x102,
    XT_SETUP_SDK_LEVEL = 0x40A20000u,
};

// The module's exported entry (extern "C" XTActivateCallback).
typedef uint32_t (*XTActivateFn)(XTActivationRec* rec);
#define XT_ACTIVATE_SYMBOL "XTActivateCallback"

// Four-character codes in memory order: XT_FOURCC('X','P','T','A') == 0x41545058.
constexpr uint32_t XT_FOURCC(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

// ---------------------------------------------------------------------------------------------
// Dialogs. A module dialog runs under a dialog kind that the module registered a window
// callback for. The host calls that callback with a dialog record for each message below;
// the callback answers 0.
struct XTDialogRec {
    int32_t kind;           // the dialog kind
    XTHandle dialog;        // the running dialog
    uint32_t message;       // XT_DLG_MSG_*
    int32_t itemId;         // the item concerned (messages 2 and 3)
    uint32_t* resIdOut;     // message 0x80000000: the callback writes its template's id here
    int32_t reserved0;
    int32_t handled;        // the callback sets 1 for a message it dealt with
};

enum : uint32_t {
    XT_DLG_MSG_GETRESOURCE = 0x80000000u,  // which template? write it through resIdOut
    XT_DLG_MSG_ITEMSCREATED = 0x80000002u, // the items exist: set them up
    XT_DLG_MSG_FILL = 0,                   // fill the items with values
    XT_DLG_MSG_ITEMHIT = 2,                // a button or check box was hit (itemId)
    XT_DLG_MSG_EDITCHANGED = 3,            // the user changed an edit item's text (itemId)
    XT_DLG_MSG_TIMER = 24,                 // periodic, after XCF_RequestTimer
    XT_DLG_MSG_ENDED = 0x08000001u,        // ended confirmed; the items still exist
};

// Results of a modal run (XCF_RunModal).
enum : int32_t {
    XT_DLG_RESULT_CANCELLED = 1,
    XT_DLG_RESULT_CONFIRMED = 2,
};

// Button states (XCF_SetButtonState).
enum : int32_t {
    XT_BUTTON_DISABLED = 2,
    XT_BUTTON_ENABLED = 4,
};

// Window messages that XCF_PostMessage understands.
enum : uint32_t {
    XT_WM_LBUTTONDOWN = 513,
    XT_WM_LBUTTONUP = 514,
};

// ---------------------------------------------------------------------------------------------
// Dialog templates. They are the module's own compiled-in table; the host reads them through
// the one function the module exports, XTGetDialogTemplate (by resource id; null when the
// module has none).
enum XTItemKind : int32_t {
    XT_ITEM_BUTTON = 1,
    XT_ITEM_CHECKBOX = 2,
    XT_ITEM_EDIT = 3,
    XT_ITEM_STATIC = 4,
    XT_ITEM_ICON = 5,
    XT_ITEM_PROGRESS = 6,
};

enum : uint32_t {
    XT_ITEM_DEFAULT = 1u << 0,     // the default push button
    XT_ITEM_READONLY = 1u << 1,
    XT_ITEM_NOPREFIX = 1u << 2,
    XT_ITEM_CENTERED = 1u << 3,
    XT_ITEM_VCENTERED = 1u << 4,
    XT_ITEM_SUNKEN = 1u << 5,
    XT_ITEM_BORDER = 1u << 6,
    XT_ITEM_HSCROLL = 1u << 7,
};

enum : uint32_t {
    XT_DLG_CAPTION = 1u << 0,
    XT_DLG_SYSMENU = 1u << 1,
    XT_DLG_MODALFRAME = 1u << 2,
    XT_DLG_POPUP = 1u << 3,
    XT_DLG_VISIBLE = 1u << 4,
    XT_DLG_SYSMODAL = 1u << 5,
};

enum : int32_t { XT_ITEM_UNADDRESSED = 65535 };  // id of static items never addressed

struct XTDialogItemTemplate {
    int32_t id;
    XTItemKind kind;
    uint32_t flags;          // XT_ITEM_*
    const char* text;        // UTF-8; "^0" to "^3" are the alert parameters
    const char* className;   // a window class of its own (e.g. "msctls_progress32"), or null
    int16_t x, y, width, height;  // dialog units
};

struct XTDialogTemplate {
    int32_t resId;
    int32_t language;        // 1033, 1049, ...
    const char* title;       // UTF-8, "" for none
    const char* fontName;
    int16_t fontPoints;
    int16_t x, y, width, height;
    uint32_t style;          // XT_DLG_*
    const XTDialogItemTemplate* items;
    int32_t itemCount;
};

typedef const XTDialogTemplate* (*XTGetDialogTemplateFn)(int32_t resId);
#define XT_TEMPLATE_SYMBOL "XTGetDialogTemplate"

// ---------------------------------------------------------------------------------------------
// Files.

// The host's file specification: the folder that holds an item and the item's name. Copied
// whole; 262 bytes with the zero-terminated name at byte 6.
#pragma pack(push, 1)
struct XTFileSpec {
    int16_t volume;
    int32_t parentId;
    char name[256];
};
#pragma pack(pop)
static_assert(sizeof(XTFileSpec) == 262, "the host file specification is 262 bytes");
static_assert(offsetof(XTFileSpec, name) == 6, "the name starts at byte 6");

// A file-type filter record of the file dialogs, 52 bytes.
struct XTFileFilter {
    char name[30];           // display name, zero-padded
    uint16_t value;
    uint8_t zero[16];
    char extension[4];       // three characters and a zero
};
static_assert(sizeof(XTFileFilter) == 52, "a file-type filter record is 52 bytes");
static_assert(offsetof(XTFileFilter, value) == 30 && offsetof(XTFileFilter, extension) == 48,
              "filter record layout");

// Creator and type codes of host files: four characters in memory order.
enum : uint32_t {
    XT_CREATOR_XPRESS = XT_FOURCC('X','P','R','3'),
    XT_FILETYPE_NONE = 0xFFFFFFFFu,
};

// The size of every path buffer the module hands the host: the system's longest path, 4095
// bytes, and a zero.
enum : int32_t { XT_PATH_BUFFER = 4096 };
