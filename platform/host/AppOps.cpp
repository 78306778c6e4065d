// The application, module-object, menu and document operations of the host core.
#include "platform/host/Suites.h"
#include "platform/host/Text.h"

namespace xthost {

namespace {

Host& H()
{
    return *Host::Current();  // the slot wrapper answers before this when there is no host
}

int32_t RequestQuit()
{
    H().Note("quit requested");
    H().RequestQuit();
    return XT_OK;
}

int32_t ReportError(int32_t code)
{
    if (code != 0)
        H().RaiseHostAlert("QuarkXPress (tm)", "The operation failed (error " + std::to_string(code) + ").");
    return code;
}

int32_t NewModuleObject(const void* module, int32_t, XTHandle* out)
{
    if (!module || !out) {
        H().Error("new module object: no module handle or no variable");
        return XT_ERR_PARAM;
    }
    *out = H().moduleObjects.Issue(module);
    H().Note("module object " + Hex(static_cast<uint32_t>(*out)) + " made");
    return XT_OK;
}

int32_t DisposeModuleObject(XTHandle object)
{
    if (!H().moduleObjects.Dispose(object)) {
        H().Error("dispose module object: unknown handle " + Hex(static_cast<uint32_t>(object)));
        return XT_ERR_PARAM;
    }
    H().Note("module object " + Hex(static_cast<uint32_t>(object)) + " handed back");
    return XT_OK;
}

Menu* FindMenu(XTHandle handle, const char* operation)
{
    Menu* menu = H().menus.Find(handle);
    if (!menu)
        H().Error(std::string(operation) + ": unknown menu handle " +
                  Hex(static_cast<uint32_t>(handle)));
    return menu;
}

int32_t NewMenu(uint16_t menuId, const char* title, XTHandle* out)
{
    if (!out) {
        H().Error("new menu: no variable");
        return XT_ERR_PARAM;
    }
    Menu menu;
    menu.menuId = menuId;
    menu.title = BoundedString(title, 256);
    *out = H().menus.Issue(menu);
    H().Note("menu " + Quote(menu.title) + " made (menu id " + Hex(menuId, 4) + ")");
    return XT_OK;
}

int32_t InsertMenu(XTHandle handle, int32_t position, uint16_t menuId)
{
    Menu* menu = FindMenu(handle, "insert menu");
    if (!menu)
        return XT_ERR_PARAM;
    menu->inserted = true;
    menu->position = position;
    menu->menuId = menuId;
    H().Note("menu " + Quote(menu->title) + " inserted at " + std::to_string(position));
    return XT_OK;
}

int32_t DisposeMenu(XTHandle handle)
{
    Menu* menu = FindMenu(handle, "dispose menu");
    if (!menu)
        return XT_ERR_PARAM;
    H().Note("menu " + Quote(menu->title) + " disposed");
    H().menus.Dispose(handle);
    return XT_OK;
}

int32_t NewMenuId(uint32_t* out)
{
    if (!out) {
        H().Error("new menu id: no variable");
        return XT_ERR_PARAM;
    }
    Host& host = H();
    if (host.nextMenuId >= 0xFFFF)
        host.nextMenuId = 0x100;
    *out = host.nextMenuId++;
    return XT_OK;
}

int32_t AppendItem(XTHandle handle, uint16_t commandId, const char* text)
{
    Menu* menu = FindMenu(handle, "append item");
    if (!menu)
        return XT_ERR_PARAM;
    if (commandId == 0 || commandId == 0xFFFF) {
        H().Error("append item: command id " + Hex(commandId, 4));
        return XT_ERR_PARAM;
    }
    menu->items.push_back(MenuItem{commandId, BoundedString(text, 256), true});
    H().Note("menu " + Quote(menu->title) + ": item " + Quote(menu->items.back().text) +
             " (command " + Hex(commandId, 4) + ")");
    return XT_OK;
}

int32_t SetItemEnabled(XTHandle handle, uint16_t commandId, bool enabled)
{
    Menu* menu = FindMenu(handle, enabled ? "enable item" : "disable item");
    if (!menu)
        return XT_ERR_PARAM;
    for (auto& item : menu->items) {
        if (item.commandId != commandId)
            continue;
        if (item.enabled != enabled)
            H().Note("menu " + Quote(menu->title) + ": " + Quote(item.text) +
                     (enabled ? " enabled" : " disabled"));
        item.enabled = enabled;
        return XT_OK;
    }
    H().Error(std::string(enabled ? "enable" : "disable") + " item: no command " +
              Hex(commandId, 4) + " in menu " + Quote(menu->title));
    return XT_ERR_PARAM;
}

int32_t EnableItem(XTHandle handle, uint16_t commandId)
{
    return SetItemEnabled(handle, commandId, true);
}

int32_t DisableItem(XTHandle handle, uint16_t commandId)
{
    return SetItemEnabled(handle, commandId, false);
}

int32_t CurrentDocIndex(int16_t* index)
{
    if (!index) {
        H().Error("current document index: no variable");
        return XT_ERR_PARAM;
    }
    *index = H().FrontDocumentIndex();
    return XT_OK;
}

}  // namespace

void DefineDialogOperations();
void DefineFileOperations();
void DefineApplicationStateOperations();

void DefineCoreOperations()
{
    static bool defined = false;
    if (defined)
        return;
    defined = true;
    XTHOST_DEFINE_SLOT(XAQ_ReportError, ReportError);
    XTHOST_DEFINE_SLOT(XAQ_RequestQuit, RequestQuit);
    XTHOST_DEFINE_SLOT(XRN_NewModuleObject, NewModuleObject);
    XTHOST_DEFINE_SLOT(XRN_DisposeModuleObject, DisposeModuleObject);
    XTHOST_DEFINE_SLOT(XMV_NewMenu, NewMenu);
    XTHOST_DEFINE_SLOT(XMV_InsertMenu, InsertMenu);
    XTHOST_DEFINE_SLOT(XMV_DisposeMenu, DisposeMenu);
    XTHOST_DEFINE_SLOT(XMV_NewId, NewMenuId);
    XTHOST_DEFINE_SLOT(XMV_AppendItem, AppendItem);
    XTHOST_DEFINE_SLOT(XMV_EnableItem, EnableItem);
    XTHOST_DEFINE_SLOT(XMV_DisableItem, DisableItem);
    XTHOST_DEFINE_SLOT(XDD_CurrentDocIndex, CurrentDocIndex);
    DefineDialogOperations();
    DefineFileOperations();
    DefineApplicationStateOperations();
}

}  // namespace xthost
