// Suites, interface tables and components of the host's extension interface.
//
// A suite is a numbered set of host operations, known by its code: three ASCII letters in the
// three high bytes and the suite version in the low byte (XT_SUITE('X','N','D',2) ==
// 0x584E4402). The module binds each suite it uses into a table of its own through
// XTSetupRec::bindSuite with a selector list: the word XT_SELECTOR_LIST_HEAD, then one selector
// number per table entry. The host writes the operation of selector list[i + 1] into entry i,
// so a module that lists the selectors 0..n-1 in order finds selector k in entry k, its "slot
// k". Each operation's signature is given by a slot descriptor below (XT_SLOT); call through
// XTSlot<Descriptor>(table). A selector the host does not provide is still bound, to an entry
// that fails loudly (XT_ERR_NOT_EMULATED, and the host reports the suite and slot). List only
// the selectors up to the highest slot you call, and none for a suite you do not call.
//
// Interface tables (XTSetupRec::requestInterface) and component tables (bindSuite with a
// component handle) are filled the same way, entry by entry.
#pragma once

#include <cstdint>

#include "platform/host/xtapi/XTAPI.h"

constexpr uint32_t XT_SUITE(char a, char b, char c, uint8_t version)
{
    return uint32_t(uint8_t(a)) << 24 | uint32_t(uint8_t(b)) << 16 | uint32_t(uint8_t(c)) << 8 |
           version;
}

enum : uint32_t { XT_SELECTOR_LIST_HEAD = 0x46470000u };

// An entry of any host table; the descriptor of the slot gives its real signature.
typedef void (*XTProc)();

// A module's table for one suite. A module may bind a suite into a shorter table of its own
// as long as its selector list has no more entries than the table.
enum : int32_t { XT_SUITE_SLOTS = 128 };
struct XTSuiteTable {
    XTProc slot[XT_SUITE_SLOTS];
};

// A component table (bindSuite with a component handle and no selector list): the host fills
// all XT_COMPONENT_SLOTS entries.
enum : int32_t { XT_COMPONENT_SLOTS = 32 };
struct XTComponentTable {
    XTProc slot[XT_COMPONENT_SLOTS];
};

// Slot descriptors: XT_SLOT(Name, suite code, slot, signature).
template <uint32_t Code, int Slot, typename Fn>
struct XTSlotDescriptor {
    using Type = Fn;
    static constexpr uint32_t kCode = Code;
    static constexpr int kSlot = Slot;
};
#define XT_SLOT(name, code, slot, ...) using name = XTSlotDescriptor<code, slot, __VA_ARGS__>

// The typed operation in a bound table.
template <class Descriptor, class Table>
typename Descriptor::Type XTSlot(const Table& table)
{
    return reinterpret_cast<typename Descriptor::Type>(table.slot[Descriptor::kSlot]);
}

// ---------------------------------------------------------------------------------------------
// Every suite the host offers, in the order a module of this SDK level binds them:
// X(first, second, third letter, version).
#define XT_SUITE_LIST(X)                                                                      \
    X('X','N','D',2) X('X','A','Q',3) X('X','P','M',3) X('X','B','U',2) X('X','B','Y',9)      \
    X('X','C','D',3) X('X','C','I',2) X('X','C','M',7) X('X','C','N',4) X('X','C','S',3)      \
    X('X','C','Y',2) X('X','O','N',2) X('X','D','T',7) X('X','D','H',3) X('X','D','D',9)      \
    X('X','D','G',2) X('X','D','E',4) X('X','D','N',2) X('X','E','Q',2) X('X','E','S',3)      \
    X('X','F','J',12) X('X','F','E',2) X('X','F','M',6) X('X','F','S',2) X('X','F','U',2)     \
    X('X','F','B',2) X('X','G','F',4) X('X','G','D',3) X('X','G','Y',6) X('X','G','S',2)      \
    X('X','G','E',3) X('X','H','K',6) X('X','H','J',2) X('X','H','Z',2) X('X','I','F',2)      \
    X('X','I','G',3) X('X','K','S',4) X('X','L','C',2) X('X','L','T',2) X('X','M','B',4)      \
    X('X','M','Y',2) X('X','M','N',2) X('X','M','O',5) X('X','N','T',8) X('X','P','H',3)      \
    X('X','P','B',6) X('X','P','U',7) X('L','T','Y',2) X('X','P','G',9) X('X','O','Q',2)      \
    X('X','P','S',7) X('X','O','T',2) X('X','N','E',2) X('X','R','T',2) X('X','S','B',2)      \
    X('X','S','D',4) X('X','S','E',2) X('X','S','I',7) X('X','S','M',2) X('X','S','Q',2)      \
    X('X','S','S',2) X('X','S','U',2) X('X','S','F',2) X('X','S','J',2) X('X','S','N',2)      \
    X('X','S','Z',6) X('X','T','G',2) X('X','T','Y',4) X('X','T','S',2) X('X','T','U',3)      \
    X('X','U','E',8) X('X','U','U',4) X('X','W','Q',7) X('X','C','F',5) X('X','Z','C',2)      \
    X('X','Z','D',2) X('X','Z','E',2) X('X','Z','F',2) X('X','Z','G',4) X('X','Z','H',2)      \
    X('X','Z','I',2) X('X','Z','K',2) X('X','Z','M',2) X('X','Z','N',2) X('X','Z','O',2)      \
    X('X','Z','S',2) X('X','D','W',3) X('X','R','S',3) X('X','M','M',2) X('X','X','S',3)      \
    X('X','X','C',4) X('X','X','U',3) X('X','M','H',2) X('X','R','B',2) X('X','M','F',7)      \
    X('X','B','G',9) X('X','Z','R',3) X('X','I','O',3) X('X','V','J',4) X('X','M','V',4)      \
    X('X','P','K',14) X('X','S','O',8) X('X','D','F',12) X('X','B','C',2) X('X','A','C',2)    \
    X('X','R','N',2) X('X','A','T',2) X('X','I','M',2) X('X','P','D',2) X('X','V','S',2)      \
    X('X','B','D',2) X('X','B','E',2) X('X','G','Q',2) X('X','A','D',2) X('X','T','F',2)      \
    X('X','O','U',2) X('X','O','E',2) X('X','B','L',3) X('X','T','T',2)

// Codes of the suites whose operations the host core provides.
enum : uint32_t {
    XT_SUITE_XAQ = XT_SUITE('X','A','Q',3),   // application
    XT_SUITE_XCF = XT_SUITE('X','C','F',5),   // dialogs, alerts and the host's windows
    XT_SUITE_XDD = XT_SUITE('X','D','D',9),   // documents
    XT_SUITE_XFJ = XT_SUITE('X','F','J',12),  // files, file dialogs, folder chooser
    XT_SUITE_XMV = XT_SUITE('X','M','V',4),   // menus
    XT_SUITE_XMM = XT_SUITE('X','M','M',2),   // memory handles
    XT_SUITE_XRN = XT_SUITE('X','R','N',2),   // module objects
    XT_SUITE_XZC = XT_SUITE('X','Z','C',2),   // dialog items: buttons and check boxes
    XT_SUITE_XZD = XT_SUITE('X','Z','D',2),   // dialog items: edit texts
    XT_SUITE_XZH = XT_SUITE('X','Z','H',2),   // dialog items: progress bars
    XT_SUITE_XZO = XT_SUITE('X','Z','O',2),   // dialog items: static texts
    XT_SUITE_XSZ = XT_SUITE('X','S','Z',6),   // screen update mode
};

// ---------------------------------------------------------------------------------------------
// XAQ 3: the application. ReportError hands the host a result code: 0 does nothing, any other
// code makes the host show its own alert "QuarkXPress (tm)"; answers the code.
XT_SLOT(XAQ_ReportError, XT_SUITE_XAQ, 0, int32_t (*)(int32_t code));
XT_SLOT(XAQ_RequestQuit, XT_SUITE_XAQ, 16, int32_t (*)());

// The application's state that a module reads and switches. The version word is
// major << 24 | minor << 16 | revision. The clock is the local time (a test may freeze it).
// The tool mode and the text mode start at 0; the two application preferences (0 and 1) start
// on; the text-update switch and the further mode flag are kept as given.
struct XTClockRec {
    int16_t year, month, day;
    int16_t hour, minute, second;
};
XT_SLOT(XAQ_Version, XT_SUITE_XAQ, 101, int32_t (*)(uint32_t* version));
XT_SLOT(XAQ_Clock, XT_SUITE_XAQ, 102, int32_t (*)(XTClockRec* clock));
XT_SLOT(XAQ_GetToolMode, XT_SUITE_XAQ, 103, int32_t (*)(int32_t* mode));
XT_SLOT(XAQ_SetToolMode, XT_SUITE_XAQ, 104, int32_t (*)(int32_t mode));
XT_SLOT(XAQ_GetTextMode, XT_SUITE_XAQ, 105, int32_t (*)(int32_t* mode));
XT_SLOT(XAQ_SetTextMode, XT_SUITE_XAQ, 106, int32_t (*)(int32_t mode));
XT_SLOT(XAQ_GetPreference, XT_SUITE_XAQ, 107, int32_t (*)(int32_t which, uint8_t* on));
XT_SLOT(XAQ_SetPreference, XT_SUITE_XAQ, 108, int32_t (*)(int32_t which, int32_t on));
XT_SLOT(XAQ_SetTextUpdate, XT_SUITE_XAQ, 109, int32_t (*)(int32_t flag));
XT_SLOT(XAQ_GetModeFlag, XT_SUITE_XAQ, 110, int32_t (*)(uint8_t* set));
// XSZ 6: the screen update mode of the session (1 when the host follows every change).
XT_SLOT(XSZ_GetUpdateMode, XT_SUITE_XSZ, 8, int32_t (*)(int32_t* mode));
XT_SLOT(XSZ_SetUpdateMode, XT_SUITE_XSZ, 3, int32_t (*)(int32_t mode));
XT_SLOT(XAQ_ClearModeFlag, XT_SUITE_XAQ, 111, int32_t (*)(XTHandle box));

// XMM 2: memory handles. A handle names a resizable block of bytes; its address stays valid
// until the block is resized or disposed. An unknown or disposed handle answers XT_ERR_PARAM.
XT_SLOT(XMM_NewHandle, XT_SUITE_XMM, 100, int32_t (*)(uint32_t size, XTHandle* out));
XT_SLOT(XMM_DisposeHandle, XT_SUITE_XMM, 101, int32_t (*)(XTHandle handle));
XT_SLOT(XMM_HandleSize, XT_SUITE_XMM, 102, int32_t (*)(XTHandle handle, uint32_t* size));
XT_SLOT(XMM_SetHandleSize, XT_SUITE_XMM, 103, int32_t (*)(XTHandle handle, uint32_t size));
XT_SLOT(XMM_HandleAddress, XT_SUITE_XMM, 104, int32_t (*)(XTHandle handle, void** address));
XT_SLOT(XMM_LockHandle, XT_SUITE_XMM, 105, int32_t (*)(XTHandle handle));

// XRN 2: the module's host object, made from the module's own handle.
XT_SLOT(XRN_NewModuleObject, XT_SUITE_XRN, 1, int32_t (*)(const void* module, int32_t one, XTHandle* out));
XT_SLOT(XRN_DisposeModuleObject, XT_SUITE_XRN, 2, int32_t (*)(XTHandle object));

// XMV 4: menus. Menu and command ids are 16-bit; the host never hands out 0 or 0xFFFF.
XT_SLOT(XMV_NewMenu, XT_SUITE_XMV, 0, int32_t (*)(uint16_t menuId, const char* title, XTHandle* out));
XT_SLOT(XMV_InsertMenu, XT_SUITE_XMV, 1, int32_t (*)(XTHandle menu, int32_t position, uint16_t menuId));
XT_SLOT(XMV_DisposeMenu, XT_SUITE_XMV, 2, int32_t (*)(XTHandle menu));
XT_SLOT(XMV_NewId, XT_SUITE_XMV, 3, int32_t (*)(uint32_t* out));
XT_SLOT(XMV_AppendItem, XT_SUITE_XMV, 4, int32_t (*)(XTHandle menu, uint16_t commandId, const char* text));
XT_SLOT(XMV_EnableItem, XT_SUITE_XMV, 10, int32_t (*)(XTHandle menu, uint16_t commandId));
XT_SLOT(XMV_DisableItem, XT_SUITE_XMV, 11, int32_t (*)(XTHandle menu, uint16_t commandId));
enum : int32_t { XT_MENU_POSITION_MODULES = 9 };

// XDD 9: documents. The index of the current document, negative when none is open.
XT_SLOT(XDD_CurrentDocIndex, XT_SUITE_XDD, 9, int32_t (*)(int16_t* index));

// XCF 5: dialogs, alerts, the host's windows and the beep.
XT_SLOT(XCF_RunModal, XT_SUITE_XCF, 2, int32_t (*)(int32_t kind, int32_t arg, int32_t* result));
XT_SLOT(XCF_RunModeless, XT_SUITE_XCF, 3, int32_t (*)(int32_t kind, int32_t arg, XTHandle* out));
XT_SLOT(XCF_SetCurrent, XT_SUITE_XCF, 4, int32_t (*)(XTHandle dialog));
XT_SLOT(XCF_EndCurrent, XT_SUITE_XCF, 5, int32_t (*)());
XT_SLOT(XCF_CloseModeless, XT_SUITE_XCF, 6, int32_t (*)(XTHandle dialog));
// Shows module alert resId (22100, 22200) with its "^0".."^3" replaced by the alert texts;
// answers the id of the pressed button, 0 when nothing was shown.
XT_SLOT(XCF_ShowAlert, XT_SUITE_XCF, 7, int32_t (*)(int32_t resId, int32_t flags, int32_t reserved));
XT_SLOT(XCF_SetAlertText, XT_SUITE_XCF, 8, int32_t (*)(const char* t0, const char* t1, const char* t2, const char* t3));
XT_SLOT(XCF_Beep, XT_SUITE_XCF, 9, int32_t (*)(int32_t type));
// The host's own windows: find a window by class and title (0 when none), one of its items,
// and post it a message that takes effect when the host next processes its queue.
XT_SLOT(XCF_FindWindow, XT_SUITE_XCF, 10, XTHandle (*)(const char* className, const char* title));
XT_SLOT(XCF_GetDlgItem, XT_SUITE_XCF, 11, XTHandle (*)(XTHandle window, int32_t itemId));
XT_SLOT(XCF_PostMessage, XT_SUITE_XCF, 12, int32_t (*)(XTHandle window, uint32_t message, uint32_t wparam, int32_t lparam));
// Redraws the current dialog.
XT_SLOT(XCF_DrawDialog, XT_SUITE_XCF, 13, int32_t (*)());
// Ends the current dialog: 1 confirmed (then XT_DLG_MSG_ENDED), 0 cancelled.
XT_SLOT(XCF_EndDialog, XT_SUITE_XCF, 19, int32_t (*)(int32_t value, int32_t reserved1, int32_t reserved2));
// Asks for XT_DLG_MSG_TIMER to the current dialog while it is shown.
XT_SLOT(XCF_RequestTimer, XT_SUITE_XCF, 36, int32_t (*)(int32_t interval, int32_t reserved1, int32_t reserved2));
XT_SLOT(XCF_SetButtonState, XT_SUITE_XCF, 46, int32_t (*)(int32_t itemId, int32_t state));
XT_SLOT(XCF_ShowDialog, XT_SUITE_XCF, 67, int32_t (*)(XTHandle dialog, int32_t show));

// XZC 2: buttons and check boxes of the current dialog (check box values: 1 ticked, 0 not).
XT_SLOT(XZC_Setup, XT_SUITE_XZC, 1, int32_t (*)(int32_t itemId, int32_t reserved1, int32_t reserved2));
XT_SLOT(XZC_InitValue, XT_SUITE_XZC, 7, int32_t (*)(int32_t itemId, int32_t value));
XT_SLOT(XZC_GetValue, XT_SUITE_XZC, 9, int32_t (*)(int32_t itemId, int16_t* value));
XT_SLOT(XZC_SetValue, XT_SUITE_XZC, 10, int32_t (*)(int32_t itemId, int32_t value));

// XZD 2: edit items of the current dialog. GetText writes at most bufferSize - 1 bytes and a
// zero, and refuses a text that does not fit.
XT_SLOT(XZD_Setup, XT_SUITE_XZD, 1, int32_t (*)(int32_t itemId, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f));
XT_SLOT(XZD_GetText, XT_SUITE_XZD, 3, int32_t (*)(int32_t itemId, char* buffer, int32_t bufferSize, int32_t reserved));
XT_SLOT(XZD_SetText, XT_SUITE_XZD, 5, int32_t (*)(int32_t itemId, const char* text));
XT_SLOT(XZD_SetMaxLength, XT_SUITE_XZD, 18, int32_t (*)(int32_t itemId, int32_t length));

// XZO 2: static texts of the current dialog.
XT_SLOT(XZO_Setup, XT_SUITE_XZO, 1, int32_t (*)(int32_t itemId, int32_t reserved));
XT_SLOT(XZO_SetText, XT_SUITE_XZO, 6, int32_t (*)(int32_t itemId, const char* text));

// XZH 2: progress bars of the current dialog.
XT_SLOT(XZH_Setup, XT_SUITE_XZH, 1, int32_t (*)(int32_t itemId, int32_t reserved));
XT_SLOT(XZH_Set, XT_SUITE_XZH, 2, int32_t (*)(int32_t itemId, int32_t maximum, int32_t value));

// XFJ 12: file references, file specifications, file dialogs and the folder chooser.
// A file reference names a file or folder that need not exist.
XT_SLOT(XFJ_NewFileRef, XT_SUITE_XFJ, 0, int32_t (*)(XTHandle* out));
XT_SLOT(XFJ_GetFileSpec, XT_SUITE_XFJ, 1, int32_t (*)(XTHandle ref, XTFileSpec* out));
XT_SLOT(XFJ_SetFileSpec, XT_SUITE_XFJ, 2, int32_t (*)(XTHandle ref, const XTFileSpec* spec));
XT_SLOT(XFJ_GetApplicationFolder, XT_SUITE_XFJ, 3, int32_t (*)(XTHandle ref));
XT_SLOT(XFJ_GetTempFolder, XT_SUITE_XFJ, 4, int32_t (*)(XTHandle* ref));
// Resolves a relative path (text object; either separator) against the reference's folder
// and points the reference at the result.
XT_SLOT(XFJ_ResolveRelativePath, XT_SUITE_XFJ, 5, int32_t (*)(XTHandle ref, XTHandle relativePath));
XT_SLOT(XFJ_GetFullPathText, XT_SUITE_XFJ, 6, int32_t (*)(XTHandle ref, XTHandle* text));
XT_SLOT(XFJ_GetFileNameText, XT_SUITE_XFJ, 7, int32_t (*)(XTHandle ref, XTHandle* text));
// Creates the file: XT_ERR_DUPLICATE_FILE when it exists and replace is 0; with replace the
// existing file is deleted first.
XT_SLOT(XFJ_CreateFile, XT_SUITE_XFJ, 8, int32_t (*)(XTHandle ref, uint32_t creator, uint32_t type, int32_t replace));
XT_SLOT(XFJ_DeleteFile, XT_SUITE_XFJ, 9, int32_t (*)(XTHandle ref));
// The full path of a specification into a buffer of bufferSize bytes (path and zero); a path
// that does not fit gives XT_ERR_BAD_NAME and an empty buffer.
XT_SLOT(XFJ_SpecToPath, XT_SUITE_XFJ, 10, int16_t (*)(char* buffer, int32_t bufferSize, const XTFileSpec* spec, int32_t flags));
// Folder chooser: startFolder is a buffer of XT_PATH_BUFFER bytes; answers 0 and the chosen
// folder's volume and id, or XT_ERR_CANCELLED.
XT_SLOT(XFJ_BrowseForFolder, XT_SUITE_XFJ, 13, int16_t (*)(const char* prompt, char* startFolder, int32_t flags, int16_t* volume, int32_t* folderId, int32_t reserved1, int32_t reserved2));
// File dialogs on a dialog handle (XFJ_NewFileDialog); filters is {record, null}. The open
// dialog takes no default reference or name.
XT_SLOT(XFJ_RunOpenDialog, XT_SUITE_XFJ, 14, int32_t (*)(XTHandle dialog, XTHandle defaultRef, const char* title, int32_t reserved1, const char* defaultName, int32_t reserved2, const XTFileFilter* const* filters));
XT_SLOT(XFJ_RunSaveDialog, XT_SUITE_XFJ, 15, int32_t (*)(XTHandle dialog, XTHandle defaultRef, const char* title, int32_t reserved1, const char* defaultName, int32_t reserved2, const XTFileFilter* const* filters));
XT_SLOT(XFJ_NewFileDialog, XT_SUITE_XFJ, 37, int32_t (*)(XTHandle* out));
// Hands back a file dialog or a file reference.
XT_SLOT(XFJ_Dispose, XT_SUITE_XFJ, 38, int32_t (*)(XTHandle handle));
XT_SLOT(XFJ_GetChosenCount, XT_SUITE_XFJ, 49, int32_t (*)(XTHandle dialog, int32_t* count));
// A file specification from (volume, folder id, name): an empty name gives the folder's own
// specification; (0, 0, full path) that of the path. XT_ERR_FILE_NOT_FOUND when the item does
// not exist (the record is left alone).
XT_SLOT(XFJ_MakeFSSpec, XT_SUITE_XFJ, 55, int16_t (*)(int16_t volume, int32_t folderId, const char* nameOrPath, XTFileSpec* out));
XT_SLOT(XFJ_FileRefFromText, XT_SUITE_XFJ, 63, int32_t (*)(XTHandle path, uint32_t creator, int32_t reserved1, int32_t reserved2, XTHandle* out));
XT_SLOT(XFJ_GetChosenFileText, XT_SUITE_XFJ, 67, int32_t (*)(XTHandle dialog, XTHandle* text));

// ---------------------------------------------------------------------------------------------
// Interface tables: code, index and the number of entries the host offers.
enum : uint32_t {
    XT_IFACE_QLIU = XT_FOURCC('Q','L','I','U'),
    XT_IFACE_QLID = XT_FOURCC('Q','L','I','D'),
    XT_IFACE_QLIS = XT_FOURCC('Q','L','I','S'),
    XT_IFACE_QLOT = XT_FOURCC('Q','L','O','T'),
};

// Interface table descriptors: XT_IFACE_SLOT(Name, code, index, entry, signature).
template <uint32_t Code, int Index, int Entry, typename Fn>
struct XTInterfaceSlotDescriptor {
    using Type = Fn;
    static constexpr uint32_t kCode = Code;
    static constexpr int kIndex = Index;
    static constexpr int kSlot = Entry;
};
#define XT_IFACE_SLOT(name, code, index, entry, ...) \
    using name = XTInterfaceSlotDescriptor<code, index, entry, __VA_ARGS__>

// A module's interface table of n entries; pass sizeof to requestInterface.
template <int N>
struct XTInterfaceTable {
    XTProc slot[N];
};

// QLIS 1: host text objects, which hold UTF-16 text (19 entries).
enum : int32_t { XT_TEXT_INTERFACE_INDEX = 1, XT_TEXT_INTERFACE_ENTRIES = 19 };
using XTTextInterface = XTInterfaceTable<XT_TEXT_INTERFACE_ENTRIES>;
XT_IFACE_SLOT(XText_GetLength, XT_IFACE_QLIS, 1, 1, int32_t (*)(XTHandle text, int32_t* length));
// Copies the text and a terminating zero; XT_ERR_PARAM when size (in code units) is too small.
XT_IFACE_SLOT(XText_GetChars, XT_IFACE_QLIS, 1, 2, int32_t (*)(XTHandle text, char16_t* buffer, int32_t size));
XT_IFACE_SLOT(XText_Dispose, XT_IFACE_QLIS, 1, 3, int32_t (*)(XTHandle text));
XT_IFACE_SLOT(XText_New, XT_IFACE_QLIS, 1, 17, int32_t (*)(const char16_t* chars, int32_t reserved, int32_t length, XTHandle* out));

// Components that a module looks up and binds (XTSetupRec::lookupComponentHandle, bindSuite).
enum : uint32_t {
    XT_COMPONENT_XPTA = XT_FOURCC('X','P','T','A'),
    XT_COMPONENT_QLY = XT_FOURCC('Q','L','Y','\0'),
    XT_COMPONENT_XPDF = XT_FOURCC('X','P','D','F'),
};
