#include "Plugin/Shell/Menus.h"

#include <cstring>

#include "Foundation/Log.h"
#include "Foundation/MsgString.h"
#include "Foundation/Settings.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Shell/CBManager.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/HostLink.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoInterface.h"
#include "SHARED/Server/CnvTools/PathUtils.h"

PluginMenuRecord PluginMenu;

namespace {

// The host writes the menu identifier here; it keeps its value between menu buildings.
uint32_t g_menuIdVariable = 0;

constexpr uint16_t kNoMenu = 0xFFFF;
constexpr int32_t kModulesMenuPosition = XT_MENU_POSITION_MODULES;

int IndexOfAction(int action)
{
    for (int i = 0; i < PluginMenuRecord::kItemCount; ++i)
        if (PluginMenuRecord::kActions[i] == action)
            return i;
    return -1;
}

// Adds the item of button N when the button exists and the condition holds.
template <int N>
void AddItemOf(bool condition)
{
    RefPtr<MenuButton<N>> button = ClassObject<MenuButton<N>>::Instance();
    if (!button || !condition)
        return;
    PluginMenu.itemIds[IndexOfAction(N)] =
        AddMenuItem(PluginMenu.menuHandle, button->GetName().Text());
}

// Sets the enabled state of button N and of its item.
template <int N>
void EnableItemOf(bool enabled)
{
    RefPtr<MenuButton<N>> button = ClassObject<MenuButton<N>>::Instance();
    if (!button)
        return;
    button->SetEnabled(enabled);
    const uint16_t item = PluginMenu.ItemOf(N);
    if (item == 0 || PluginMenu.menuHandle == 0)
        return;
    if (enabled)
        CallHost<XMV_EnableItem>(PluginMenu.menuHandle, item);
    else
        CallHost<XMV_DisableItem>(PluginMenu.menuHandle, item);
}

template <int N>
void FireMenuButton(XTVoidRec* rec)
{
    PerformByClass<MenuButton<N>>(rec);
}

void SetMultiDocModeOff()
{
    KestoInterface* state = KestoInterface::Instance();
    if (state->m_multiDocMode)
        state->SetMultiDocMode(false);
}

void ExportMultipleDocuments()
{
    KestoInterface::Instance()->SetMultiDocMode(true);
    const std::string start = Settings->GetPath(SettingKey::SourceBookPath);
    int16_t volume = 0;
    int32_t folderId = 0;
    if (BrowseForFolder("Browse for Source Folder with QXP files", start, 0, &volume, &folderId, 0) != 0)
        return;

    // A folder the host cannot describe is no source: the run would start from an unfilled
    // specification.
    HostFileSpec folder{};
    if (xt_fsmakefsspec(volume, folderId, "", &folder) != 0) {
        LogMessage(KS_LOCATION("Menus::DoMenuItem"), "Unable to use the chosen source folder!", 6);
        SignalBeep(nullptr);
        return;
    }
    std::string path;
    if (FileSpecToPath(path, folder, false) == 0)
        Settings->SetPath(SettingKey::SourceBookPath, path, true, true);
    SavedFolderSpec = folder;
    RunModalDialog(DialogKind::SourceFolder, 0, nullptr);
}

void ImportMultipleFiles()
{
    KestoInterface::Instance()->SetMultiDocMode(true);
    RunModalDialog(DialogKind::ImportFolders, 0, nullptr);
}

void ReleaseMenuHandle()
{
    if (PluginMenu.menuHandle != 0)
        CallHost<XMV_DisposeMenu>(PluginMenu.menuHandle);
    PluginMenu = PluginMenuRecord{};
}

} // namespace

uint16_t PluginMenuRecord::ItemOf(int action) const
{
    const int index = IndexOfAction(action);
    return index < 0 ? 0 : itemIds[index];
}

XTHandle GetPluginMenu(uint16_t menuId)
{
    if (menuId == kNoMenu)
        return 0;
    XTHandle menu = 0;
    CallHost<XMV_NewMenu>(menuId, "Kesto 7", &menu);
    CallHost<XMV_InsertMenu>(menu, kModulesMenuPosition, menuId);
    return menu;
}

uint16_t AddMenuItem(XTHandle menu, const std::string& text)
{
    uint32_t id = 0;
    CallHost<XMV_NewId>(&id);
    const uint16_t commandId = static_cast<uint16_t>(id);
    CallHost<XMV_AppendItem>(menu, commandId, text.c_str());
    return commandId;
}

int32_t BrowseForFolder(const char* prompt, const std::string& startFolder, int32_t flags,
                        int16_t* volume, int32_t* folderId, int32_t reserved)
{
    char buffer[XT_PATH_BUFFER] = {};
    if (startFolder.size() < sizeof buffer)
        std::memcpy(buffer, startFolder.data(), startFolder.size());
    return CallHost<XFJ_BrowseForFolder>(prompt, buffer, flags, volume, folderId, reserved, 0);
}

namespace Menus {

int32_t AddItems::Call(xtaddmenuitemsrec*)
{
    CallHost<XMV_NewId>(&g_menuIdVariable);
    // The record keeps only the latest menu: an earlier one goes back to the host.
    if (PluginMenu.menuHandle != 0)
        CallHost<XMV_DisposeMenu>(PluginMenu.menuHandle);
    PluginMenu = PluginMenuRecord{};
    PluginMenu.menuId = static_cast<uint16_t>(g_menuIdVariable);
    PluginMenu.menuHandle = GetPluginMenu(PluginMenu.menuId);
    if (PluginMenu.menuHandle == 0)
        return 0;

    const KestoInterface* state = KestoInterface::Instance();
    const bool extended = state->m_extendedMode;
    AddItemOf<5>(true);
    AddItemOf<6>(extended && Settings->GetAddMenuItemExportCoords());
    AddItemOf<7>(extended && Settings->GetAddMenuItemExportTgx());
    AddItemOf<10>(true);
    AddItemOf<8>(extended);
    AddItemOf<15>(true);
    AddItemOf<16>(extended);
    return 0;
}

int32_t UpdateMenuItems::Call(xtupdatemenuitemsrec*)
{
    int16_t index = -1;
    if (CallHost<XDD_CurrentDocIndex>(&index) != 0)
        index = -1;
    const bool open = index >= 0;
    EnableItemOf<5>(open);
    if (Settings->GetAddMenuItemExportCoords())
        EnableItemOf<6>(open);
    if (Settings->GetAddMenuItemExportTgx())
        EnableItemOf<7>(open);
    return 0;
}

int32_t DoMenuItem::Call(xthandlecommandrec* rec)
{
    SetMultiDocModeOff();
    const uint16_t command = rec ? rec->commandId : 0;
    XTVoidRec* record = reinterpret_cast<XTVoidRec*>(rec);
    for (int i = 0; command != 0 && i < PluginMenuRecord::kItemCount; ++i) {
        if (PluginMenu.itemIds[i] != command)
            continue;
        switch (PluginMenuRecord::kActions[i]) {
        case 5: FireExportCurrentDocumentButton(record); break;
        case 6: FireMenuButton<6>(record); break;
        case 7: FireMenuButton<7>(record); break;
        case 10: FireMenuButton<10>(record); break;
        case 15: FireMenuButton<15>(record); break;
        case 8: ExportMultipleDocuments(); break;
        case 16: ImportMultipleFiles(); break;
        }
        break;
    }
    SetMultiDocModeOff();
    return 0;
}

bool Install()
{
    RegisterCallBack(XT_CB_ADDMENUITEMS, new AddItems);
    RegisterHostCallBack(XT_CB_HANDLECOMMAND, &HandleCommandCallBack, XT_PRIORITY_DEFAULT);
    RegisterCallBack(XT_CB_UPDATEMENUITEMS, new UpdateMenuItems);
    return true;
}

} // namespace Menus

int32_t HandleCommandCallBack(void* rec)
{
    // The multi-document mode goes off however the command ends.
    struct MultiDocModeOff {
        ~MultiDocModeOff()
        {
            try {
                SetMultiDocModeOff();
            } catch (...) {
            }
        }
    } modeOff;
    return CallBackBarrier([rec]() -> int32_t {
        RefPtr<Menus::DoMenuItem> handler(new Menus::DoMenuItem);
        return handler->Call(static_cast<xthandlecommandrec*>(rec));
    });
}

void RegisterMenuGlobals()
{
    ModuleGlobals::Register(GlobalStep::MenuHandle, nullptr, &ReleaseMenuHandle);
}
