// A small module for testing the emulated host: it activates, reserves identifiers, binds the
// host's suites, registers its callbacks, builds a menu "Test 7" and, from its items, runs a
// modal dialog through the whole message protocol, the folder chooser, file dialogs, alerts,
// modeless dialogs, the settings path, a quit request and a few deliberate faults.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/host/xtapi/XTAPI.h"
#include "platform/host/xtapi/XTSuites.h"

namespace {

XTSetupRec* g_setup = nullptr;
XTSuiteTable g_xaq, g_xcf, g_xdd, g_xfj, g_xmv, g_xrn, g_xzc, g_xzd, g_xzo, g_xzh, g_xnd;
XTTextInterface g_text;
XTComponentTable g_xpta;

enum { kResultKind, kOptionsKind, kProgressKind, kOpeningKind, kKindCount };
uint32_t g_kinds[kKindCount];
XTHandle g_moduleObject = 0;
XTHandle g_menu = 0;
XTHandle g_opening = 0;
bool g_quitOnIdle = false;
std::string g_folder;

const char* const kItems[] = {" Needs document", " Run options", " Pick folder", " Open file",
                              " Save file", " Ask alert", " Opening", " Close opening",
                              " Progress", " Settings path", " Quit on idle", " Beep",
                              " Unemulated", " Bad handle", " Report error"};
constexpr int kItemCount = sizeof kItems / sizeof kItems[0];
uint16_t g_itemIds[kItemCount];

template <class Slot, class Table, class... A>
auto Call(const Table& table, A... args)
{
    return XTSlot<Slot>(table)(args...);
}

// The module's own end of the menu: handed back at library unload.
struct MenuOwner {
    ~MenuOwner()
    {
        if (g_menu)
            Call<XMV_DisposeMenu>(g_xmv, g_menu);
    }
} g_menuOwner;

int32_t BindSuite(uint32_t code, XTSuiteTable& table, int slots)
{
    uint32_t list[XT_SUITE_SLOTS + 1];
    list[0] = XT_SELECTOR_LIST_HEAD;
    for (int i = 0; i < slots; ++i)
        list[i + 1] = static_cast<uint32_t>(i);
    return g_setup->bindSuite(code, &table, list, slots + 1);
}

std::u16string Widen(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

XTHandle NewText(const std::string& text)
{
    const std::u16string wide = Widen(text);
    XTHandle handle = 0;
    Call<XText_New>(g_text, wide.data(), 0, static_cast<int32_t>(wide.size()), &handle);
    return handle;
}

std::string TextOf(XTHandle text)
{
    int32_t length = 0;
    if (Call<XText_GetLength>(g_text, text, &length) != 0)
        return std::string();
    std::u16string wide(static_cast<std::size_t>(length) + 1, u'\0');
    if (Call<XText_GetChars>(g_text, text, &wide[0], length + 1) != 0)
        return std::string();
    return std::string(wide.begin(), wide.begin() + length);
}

int32_t ShowAlert(int32_t resId, const std::string& a, const std::string& b = "")
{
    Call<XCF_SetAlertText>(g_xcf, a.c_str(), b.c_str(), "", "");
    return Call<XCF_ShowAlert>(g_xcf, resId, 0x40, 0);
}

void Beep()
{
    Call<XCF_Beep>(g_xcf, 0);
}

bool BrowseFolder(std::string& path)
{
    char start[XT_PATH_BUFFER] = {};
    std::strncpy(start, g_folder.empty() ? " " : g_folder.c_str(), XT_PATH_BUFFER - 1);
    int16_t volume = 0;
    int32_t folderId = 0;
    if (Call<XFJ_BrowseForFolder>(g_xfj, "Select folder", start, 0, &volume, &folderId, 0, 0) != 0)
        return false;
    XTFileSpec spec{};
    if (Call<XFJ_MakeFSSpec>(g_xfj, volume, folderId, "", &spec) != 0)
        return false;
    char buffer[XT_PATH_BUFFER];
    if (Call<XFJ_SpecToPath>(g_xfj, buffer, XT_PATH_BUFFER, &spec, 0) != 0)
        return false;
    path = buffer;
    return true;
}

const XTFileFilter* const* Filter(const char* name, const char* extension)
{
    static XTFileFilter record;
    static const XTFileFilter* list[2] = {&record, nullptr};
    record = XTFileFilter{};
    std::strncpy(record.name, name, sizeof record.name - 1);
    record.value = 1;
    std::memcpy(record.extension, extension,
                std::min(std::strlen(extension), sizeof record.extension - 1));
    return list;
}

// ---------------------------------------------------------------------------------------------
// Dialog callbacks.

int32_t ResultDialog(void* rec)
{
    auto* d = static_cast<XTDialogRec*>(rec);
    if (d->message == XT_DLG_MSG_GETRESOURCE) {
        *d->resIdOut = 101;
        d->handled = 1;
    }
    return 0;
}

int32_t OptionsDialog(void* rec)
{
    auto* d = static_cast<XTDialogRec*>(rec);
    switch (d->message) {
    case XT_DLG_MSG_GETRESOURCE:
        *d->resIdOut = 201;
        d->handled = 1;
        break;
    case XT_DLG_MSG_ITEMSCREATED:
        Call<XZC_Setup>(g_xzc, 1002, 0, 0);
        Call<XZC_InitValue>(g_xzc, 1001, 0);
        Call<XZD_Setup>(g_xzd, 1003, 32, 80, 1000, 0, 0x640000, 26);
        d->handled = 1;
        break;
    case XT_DLG_MSG_FILL:
        Call<XZC_SetValue>(g_xzc, 1001, 1);
        if (g_folder.empty()) {
            Call<XCF_SetButtonState>(g_xcf, 1004, XT_BUTTON_DISABLED);
        } else {
            Call<XZD_SetMaxLength>(g_xzd, 1003, static_cast<int32_t>(g_folder.size()) + 1);
            Call<XZD_SetText>(g_xzd, 1003, g_folder.c_str());
        }
        break;
    case XT_DLG_MSG_ITEMHIT:
        if (d->itemId == 1002) {
            std::string path;
            if (BrowseFolder(path)) {
                g_folder = path;
                Call<XZD_SetText>(g_xzd, 1003, g_folder.c_str());
                Call<XCF_SetButtonState>(g_xcf, 1004, XT_BUTTON_ENABLED);
            }
        } else if (d->itemId == 1004) {
            Call<XCF_EndDialog>(g_xcf, 1, 0, 0);
        } else if (d->itemId == 1005) {
            Call<XCF_EndDialog>(g_xcf, 0, 0, 0);
        }
        break;
    case XT_DLG_MSG_EDITCHANGED:
        Call<XZD_SetText>(g_xzd, d->itemId, g_folder.c_str());
        break;
    case XT_DLG_MSG_ENDED: {
        int16_t ticked = 0;
        Call<XZC_GetValue>(g_xzc, 1001, &ticked);
        char buffer[XT_PATH_BUFFER] = {};
        Call<XZD_GetText>(g_xzd, 1003, buffer, XT_PATH_BUFFER, 0);
        int32_t result = 0;
        Call<XCF_RunModal>(g_xcf, static_cast<int32_t>(g_kinds[kResultKind]), 0, &result);
        ShowAlert(22100, ticked ? "ticked " : "unticked ", std::string(buffer) + " result " + std::to_string(result));
        break;
    }
    default:
        break;
    }
    return 0;
}

int32_t ProgressDialog(void* rec)
{
    auto* d = static_cast<XTDialogRec*>(rec);
    if (d->message == XT_DLG_MSG_GETRESOURCE) {
        *d->resIdOut = 22300;
        d->handled = 1;
    } else if (d->message == XT_DLG_MSG_ITEMSCREATED) {
        Call<XZO_Setup>(g_xzo, 2, 1);
        Call<XZH_Setup>(g_xzh, 1, 0);
        d->handled = 1;
    }
    return 0;
}

int32_t OpeningDialog(void* rec)
{
    auto* d = static_cast<XTDialogRec*>(rec);
    if (d->message == XT_DLG_MSG_GETRESOURCE) {
        *d->resIdOut = 106;
        d->handled = 1;
        Call<XCF_RequestTimer>(g_xcf, 40, 0, 0);
    } else if (d->message == XT_DLG_MSG_TIMER) {
        XTHandle window = Call<XCF_FindWindow>(g_xcf, "#32770", "QuarkXPress (tm)");
        if (!window)
            window = Call<XCF_FindWindow>(g_xcf, "#32770", "QuarkXPress Passport (tm)");
        const XTHandle button = window ? Call<XCF_GetDlgItem>(g_xcf, window, 2) : 0;
        if (button) {
            Call<XCF_PostMessage>(g_xcf, button, XT_WM_LBUTTONDOWN, 1u, 0x10001);
            Call<XCF_PostMessage>(g_xcf, button, XT_WM_LBUTTONUP, 0u, 0x10001);
        }
        d->handled = 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Menu commands.

void RunCommand(int index)
{
    const std::string item = kItems[index];
    if (item == " Run options") {
        int32_t result = 0;
        Call<XCF_RunModal>(g_xcf, static_cast<int32_t>(g_kinds[kOptionsKind]), 0, &result);
        if (result == XT_DLG_RESULT_CANCELLED)
            Beep();
    } else if (item == " Pick folder") {
        std::string path;
        if (BrowseFolder(path))
            ShowAlert(22100, path);
        else
            Beep();
    } else if (item == " Open file" || item == " Save file") {
        const bool save = item == " Save file";
        XTHandle dialog = 0;
        Call<XFJ_NewFileDialog>(g_xfj, &dialog);
        XTHandle defaultRef = 0;
        int32_t answer;
        if (save) {
            XTHandle appRef = 0;
            Call<XFJ_NewFileRef>(g_xfj, &appRef);
            Call<XFJ_GetApplicationFolder>(g_xfj, appRef);
            XTHandle appText = 0;
            Call<XFJ_GetFullPathText>(g_xfj, appRef, &appText);
            const XTHandle path = NewText(TextOf(appText) + "/Documents/report.dwq");
            Call<XFJ_FileRefFromText>(g_xfj, path, XT_CREATOR_XPRESS, 0, 0, &defaultRef);
            Call<XText_Dispose>(g_text, path);
            Call<XText_Dispose>(g_text, appText);
            Call<XFJ_Dispose>(g_xfj, appRef);
            answer = Call<XFJ_RunSaveDialog>(g_xfj, dialog, defaultRef, "Verbant output file name:", 0,
                                            "report.dwq", 0, Filter("Verbant Files", "dwq"));
        } else {
            answer = Call<XFJ_RunOpenDialog>(g_xfj, dialog, 0, "Choose Verbant file to import:", 0,
                                            nullptr, 0, Filter("Verbant Files", "dwq"));
        }
        int32_t count = 2;
        Call<XFJ_GetChosenCount>(g_xfj, dialog, &count);
        if (answer == 0 && count == 1) {
            XTHandle text = 0;
            Call<XFJ_GetChosenFileText>(g_xfj, dialog, &text);
            const std::string path = TextOf(text);
            if (save) {
                XTHandle ref = 0;
                Call<XFJ_FileRefFromText>(g_xfj, text, XT_CREATOR_XPRESS, 0, 0, &ref);
                Call<XFJ_CreateFile>(g_xfj, ref, XT_CREATOR_XPRESS, XT_FILETYPE_NONE, 1);
                Call<XFJ_Dispose>(g_xfj, ref);
            }
            Call<XText_Dispose>(g_text, text);
            ShowAlert(22100, path);
        } else {
            Beep();
        }
        if (defaultRef)
            Call<XFJ_Dispose>(g_xfj, defaultRef);
        Call<XFJ_Dispose>(g_xfj, dialog);
    } else if (item == " Ask alert") {
        if (ShowAlert(22200, "Continue?") == 2)
            Beep();
    } else if (item == " Opening") {
        Call<XCF_RunModeless>(g_xcf, static_cast<int32_t>(g_kinds[kOpeningKind]), 0, &g_opening);
        Call<XCF_ShowDialog>(g_xcf, g_opening, 1);
    } else if (item == " Close opening") {
        Call<XCF_CloseModeless>(g_xcf, g_opening);
        g_opening = 0;
    } else if (item == " Progress") {
        XTHandle progress = 0;
        Call<XCF_RunModeless>(g_xcf, static_cast<int32_t>(g_kinds[kProgressKind]), 0, &progress);
        Call<XCF_ShowDialog>(g_xcf, progress, 1);
        Call<XCF_SetCurrent>(g_xcf, progress);
        Call<XZO_SetText>(g_xzo, 2, "");
        Call<XZH_Set>(g_xzh, 1, 100, 0);
        Call<XZO_SetText>(g_xzo, 2, "Half way");
        Call<XZH_Set>(g_xzh, 1, 100, 50);
        Call<XCF_DrawDialog>(g_xcf);
        Call<XCF_EndCurrent>(g_xcf);
        Call<XCF_CloseModeless>(g_xcf, progress);
    } else if (item == " Settings path") {
        const XTHandle relative = NewText("XTensions\\kesto.ini");
        XTHandle ref = 0;
        Call<XFJ_NewFileRef>(g_xfj, &ref);
        Call<XFJ_GetApplicationFolder>(g_xfj, ref);
        Call<XFJ_ResolveRelativePath>(g_xfj, ref, relative);
        XTHandle full = 0;
        Call<XFJ_GetFullPathText>(g_xfj, ref, &full);
        XTHandle temp = 0;
        Call<XFJ_NewFileRef>(g_xfj, &temp);
        Call<XFJ_GetTempFolder>(g_xfj, &temp);
        XTFileSpec spec{};
        Call<XFJ_GetFileSpec>(g_xfj, temp, &spec);
        char buffer[XT_PATH_BUFFER];
        Call<XFJ_SpecToPath>(g_xfj, buffer, XT_PATH_BUFFER, &spec, 0);
        ShowAlert(22100, TextOf(full), buffer);
        Call<XText_Dispose>(g_text, full);
        Call<XText_Dispose>(g_text, relative);
        Call<XFJ_Dispose>(g_xfj, ref);
        Call<XFJ_Dispose>(g_xfj, temp);
    } else if (item == " Quit on idle") {
        g_quitOnIdle = true;
    } else if (item == " Beep") {
        Beep();
    } else if (item == " Unemulated") {
        if (reinterpret_cast<int32_t (*)()>(g_xcf.slot[30])() != XT_ERR_NOT_EMULATED)
            Beep();
    } else if (item == " Report error") {
        if (Call<XAQ_ReportError>(g_xaq, 0) == 0 && Call<XAQ_ReportError>(g_xaq, -43) == -43)
            Beep();
    } else if (item == " Bad handle") {
        Call<XMV_DisposeMenu>(g_xmv, 0x10FFFFFF);
    }
}

// ---------------------------------------------------------------------------------------------
// Host callbacks.

int32_t AddMenuItems(void*)
{
    uint32_t menuId = 0;
    Call<XMV_NewId>(g_xmv, &menuId);
    Call<XMV_NewMenu>(g_xmv, static_cast<uint16_t>(menuId), "Test 7", &g_menu);
    Call<XMV_InsertMenu>(g_xmv, g_menu, XT_MENU_POSITION_MODULES, static_cast<uint16_t>(menuId));
    for (int i = 0; i < kItemCount; ++i) {
        uint32_t id = 0;
        Call<XMV_NewId>(g_xmv, &id);
        g_itemIds[i] = static_cast<uint16_t>(id);
        Call<XMV_AppendItem>(g_xmv, g_menu, g_itemIds[i], kItems[i]);
    }
    return 0;
}

int32_t UpdateMenuItems(void*)
{
    int16_t index = -1;
    Call<XDD_CurrentDocIndex>(g_xdd, &index);
    if (index >= 0)
        Call<XMV_EnableItem>(g_xmv, g_menu, g_itemIds[0]);
    else
        Call<XMV_DisableItem>(g_xmv, g_menu, g_itemIds[0]);
    return 0;
}

int32_t HandleCommand(void* rec)
{
    const auto* command = static_cast<const xthandlecommandrec*>(rec);
    for (int i = 0; i < kItemCount; ++i)
        if (g_itemIds[i] == command->commandId)
            RunCommand(i);
    return 0;
}

int32_t Idle(void*)
{
    if (g_quitOnIdle) {
        g_quitOnIdle = false;
        Call<XAQ_RequestQuit>(g_xaq);
    }
    return 0;
}

int32_t Unload(void*)
{
    Call<XRN_DisposeModuleObject>(g_xrn, g_moduleObject);
    g_moduleObject = 0;
    return 0;
}

int32_t ReserveIds(void* rec)
{
    auto* ids = static_cast<XTIdRec*>(rec);
    for (auto& kind : g_kinds)
        if (ids->newId(1, &kind) != 0)
            return static_cast<int32_t>(XT_MODULE_FAILED);
    return 0;
}

int32_t SetupFailed()
{
    g_setup->setErrorText("Test setup failed");
    return static_cast<int32_t>(XT_MODULE_FAILED);
}

int32_t Setup(void* rec)
{
    g_setup = static_cast<XTSetupRec*>(rec);
    if (g_setup->tag0 != static_cast<int32_t>(XT_SETUP_TAG0) ||
        g_setup->tag1 != static_cast<int32_t>(XT_SETUP_TAG1) || g_setup->sdkLevel != XT_SETUP_SDK_LEVEL)
        return SetupFailed();
    const struct {
        uint32_t code;
        XTSuiteTable* table;
        int slots;
    } suites[] = {
        {XT_SUITE('X', 'N', 'D', 2), &g_xnd, 0}, {XT_SUITE_XAQ, &g_xaq, 17}, {XT_SUITE_XDD, &g_xdd, 10},
        {XT_SUITE_XFJ, &g_xfj, 68},  {XT_SUITE_XCF, &g_xcf, 68},  {XT_SUITE_XZC, &g_xzc, 11},
        {XT_SUITE_XZD, &g_xzd, 19},  {XT_SUITE_XZH, &g_xzh, 3},   {XT_SUITE_XZO, &g_xzo, 7},
        {XT_SUITE_XMV, &g_xmv, 12},  {XT_SUITE_XRN, &g_xrn, 3},
    };
    for (const auto& suite : suites)
        if (BindSuite(suite.code, *suite.table, suite.slots) != 0)
            return SetupFailed();
    if (g_setup->requestInterface(XT_IFACE_QLIS, 1, XT_TEXT_INTERFACE_INDEX, &g_text,
                                  static_cast<int32_t>(sizeof g_text)) != 0)
        return SetupFailed();
    XTHandle component = 0;
    if (g_setup->lookupComponentHandle(XT_COMPONENT_XPTA, &component) != 0 ||
        g_setup->bindSuite(static_cast<uint32_t>(component), &g_xpta, nullptr, 0) != 0)
        return SetupFailed();
    static int moduleToken;
    Call<XRN_NewModuleObject>(g_xrn, &moduleToken, 1, &g_moduleObject);
    g_setup->registerCallback(XT_CB_UNLOAD, &Unload, XT_CB_CONVENTION, XT_PRIORITY_DEFAULT, 0);
    const XTCallbackFn dialogs[kKindCount] = {&ResultDialog, &OptionsDialog, &ProgressDialog,
                                              &OpeningDialog};
    for (int i = 0; i < kKindCount; ++i)
        g_setup->registerCallback(static_cast<int32_t>(g_kinds[i]), dialogs[i], XT_CB_CONVENTION,
                                  XT_PRIORITY_DEFAULT, 0);
    g_setup->registerCallback(XT_CB_ADDMENUITEMS, &AddMenuItems, XT_CB_CONVENTION, XT_PRIORITY_DEFAULT, 0);
    g_setup->registerCallback(XT_CB_UPDATEMENUITEMS, &UpdateMenuItems, XT_CB_CONVENTION, XT_PRIORITY_DEFAULT, 0);
    g_setup->registerCallback(XT_CB_IDLE, &Idle, XT_CB_CONVENTION, XT_PRIORITY_DEFAULT, 0);
    g_setup->registerCallback(XT_CB_HANDLECOMMAND, &HandleCommand, XT_CB_CONVENTION, XT_PRIORITY_DEFAULT, 0);
    for (uint32_t word : {0x913u, 0x912u})
        if (g_setup->request(0, &word, 1) != 0)
            return static_cast<int32_t>(XT_MODULE_FAILED);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Templates.

const XTDialogItemTemplate kResultItems[] = {
    {1, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "OK", nullptr, 48, 36, 50, 14},
    {XT_ITEM_UNADDRESSED, XT_ITEM_STATIC, XT_ITEM_CENTERED, "Export done", nullptr, 18, 12, 111, 14},
};
const XTDialogItemTemplate kOptionsItems[] = {
    {1004, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "OK", nullptr, 43, 75, 50, 14},
    {1005, XT_ITEM_BUTTON, 0, "Cancel", nullptr, 108, 75, 50, 14},
    {1001, XT_ITEM_CHECKBOX, 0, "Generate DWQ files", nullptr, 24, 29, 76, 10},
    {1002, XT_ITEM_BUTTON, 0, "...", nullptr, 361, 45, 27, 12},
    {1003, XT_ITEM_EDIT, XT_ITEM_READONLY | XT_ITEM_BORDER, "", nullptr, 23, 45, 324, 12},
    {XT_ITEM_UNADDRESSED, XT_ITEM_STATIC, 0, "Target folder", nullptr, 23, 33, 84, 8},
};
const XTDialogItemTemplate kOpeningItems[] = {
    {XT_ITEM_UNADDRESSED, XT_ITEM_STATIC, XT_ITEM_SUNKEN | XT_ITEM_CENTERED, "Opening...", nullptr, 4, 7, 71, 12},
};
const XTDialogItemTemplate kProgressItems[] = {
    {1, XT_ITEM_PROGRESS, XT_ITEM_BORDER, "Progress4", "msctls_progress32", 0, 18, 268, 16},
    {2, XT_ITEM_STATIC, XT_ITEM_VCENTERED, "^0", nullptr, 3, 3, 253, 13},
};
const XTDialogItemTemplate kAlertItems[] = {
    {4, XT_ITEM_ICON, 0, "", nullptr, 7, 17, 21, 20},
    {5, XT_ITEM_STATIC, 0, "^0^1^2", nullptr, 63, 21, 149, 16},
    {6, XT_ITEM_STATIC, XT_ITEM_NOPREFIX, "^3", nullptr, 47, 41, 127, 24},
    {1, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "OK", nullptr, 75, 52, 71, 14},
};
const XTDialogItemTemplate kQuestionItems[] = {
    {5, XT_ITEM_STATIC, 0, "^0^1^2", nullptr, 47, 7, 235, 16},
    {1, XT_ITEM_BUTTON, XT_ITEM_DEFAULT, "Cancel", nullptr, 169, 63, 100, 14},
    {2, XT_ITEM_BUTTON, 0, "Continue", nullptr, 41, 63, 100, 14},
};

template <std::size_t N>
constexpr XTDialogTemplate Make(int32_t id, int32_t language, const char* title,
                                const XTDialogItemTemplate (&items)[N])
{
    return XTDialogTemplate{id, language, title, "MS Sans Serif", 8, 0, 0, 200, 100,
                            XT_DLG_CAPTION | XT_DLG_MODALFRAME, items, static_cast<int32_t>(N)};
}

const XTDialogTemplate kTemplates[] = {
    Make(101, 1033, "Result", kResultItems),   Make(201, 1033, "Options", kOptionsItems),
    Make(106, 1033, "", kOpeningItems),        Make(22300, 1049, "", kProgressItems),
    Make(22100, 1049, "", kAlertItems),        Make(22200, 1049, "", kQuestionItems),
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const XTDialogTemplate* XTGetDialogTemplate(int32_t resId)
{
    for (const auto& t : kTemplates)
        if (t.resId == resId)
            return &t;
    return nullptr;
}

extern "C" __attribute__((visibility("default"))) uint32_t XTActivateCallback(XTActivationRec* rec)
{
    if ((rec->compatQuery(0x00595043, 0, 11, 0x40A20014, 0) & 0xFF) == 0) {
        rec->setErrorText("Test activation failed");
        return XT_MODULE_FAILED;
    }
    rec->setMemoryPriority(200);
    rec->registerSetupCallback(&Setup, XT_CB_CONVENTION, XT_PRIORITY_DEFAULT, 0);
    rec->registerIdCallback(&ReserveIds, XT_CB_CONVENTION, XT_PRIORITY_DEFAULT, 0);
    return 0;
}
