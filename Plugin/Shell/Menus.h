// The plug-in's menu "Kesto 7": built at the host's menu building, its items enabled at the
// menu update, and the menu command that fires the item's button or starts a folder run.
#pragma once

#include <cstdint>
#include <string>

#include "Plugin/Shell/CallBack.h"
#include "platform/host/xtapi/XTAPI.h"

// The module's record of its menu, kept from one menu building to the next.
struct PluginMenuRecord {
    // The menu buttons in menu order: actions 5, 6, 7, 10, 8, 15 and 16.
    static constexpr int kItemCount = 7;
    static constexpr int kActions[kItemCount] = {5, 6, 7, 10, 8, 15, 16};

    uint16_t menuId = 0;
    uint16_t itemIds[kItemCount] = {};  // 0: the item is not in the menu
    XTHandle menuHandle = 0;            // 0: no menu

    // The command id of the item of an action, 0 when it is not in the menu.
    uint16_t ItemOf(int action) const;
};
extern PluginMenuRecord PluginMenu;

namespace Menus {

// Menu building (kind 6).
class AddItems : public CallBack<xtaddmenuitemsrec*> {
public:
    int32_t Call(xtaddmenuitemsrec* rec) override;
};

// Menu update (kind 7): the export items of the front document are enabled only while one is open.
class UpdateMenuItems : public CallBack<xtupdatemenuitemsrec*> {
public:
    int32_t Call(xtupdatemenuitemsrec* rec) override;
};

// Menu command (kind 618).
class DoMenuItem : public CallBack<xthandlecommandrec*> {
public:
    int32_t Call(xthandlecommandrec* rec) override;
};

// Registers menu building and update with the callback manager and the menu command with the host.
bool Install();

} // namespace Menus

// The host callback of kind 618. Nothing a command lets through reaches the host, and
// multi-document mode is always off when it returns.
int32_t HandleCommandCallBack(void* rec);

// Appends an item to a host menu; answers its command id.
uint16_t AddMenuItem(XTHandle menu, const std::string& text);

// The host folder chooser; answers the host's code, 0 when a folder was chosen. A start folder
// that does not fit the host's buffer is not offered.
int32_t BrowseForFolder(const char* prompt, const std::string& startFolder, int32_t flags,
                        int16_t* volume, int32_t* folderId, int32_t reserved);

// The module's host menu "Kesto 7" under the menu id; 0 when the id is 0xFFFF.
XTHandle GetPluginMenu(uint16_t menuId);

// Adds the release of the menu's host handle to the module's globals (library unload).
void RegisterMenuGlobals();
