// The dialog, alert, window and dialog-item operations of the host core.
#include "platform/host/Suites.h"
#include "platform/host/Text.h"

namespace xthost {

namespace {

Host& H()
{
    return *Host::Current();
}

const char* KindName(XTItemKind kind)
{
    switch (kind) {
    case XT_ITEM_BUTTON: return "button";
    case XT_ITEM_CHECKBOX: return "check box";
    case XT_ITEM_EDIT: return "edit";
    case XT_ITEM_STATIC: return "static text";
    case XT_ITEM_ICON: return "icon";
    case XT_ITEM_PROGRESS: return "progress bar";
    }
    return "item";
}

// The item of the current dialog that an item call names, or null (noted as an error).
DialogItem* CurrentItem(const char* operation, int32_t itemId, XTItemKind kind,
                        Dialog** dialogOut = nullptr)
{
    Dialog* dialog = H().CurrentDialog(operation);
    if (!dialog)
        return nullptr;
    DialogItem* item = dialog->Item(itemId);
    const bool buttonLike = kind == XT_ITEM_BUTTON && item && item->kind == XT_ITEM_CHECKBOX;
    if (!item || (item->kind != kind && !buttonLike)) {
        H().Error(std::string(operation) + ": " + dialog->Name() + " has no " + KindName(kind) +
                  " " + std::to_string(itemId));
        return nullptr;
    }
    if (dialogOut)
        *dialogOut = dialog;
    return item;
}

int32_t RunModal(int32_t kind, int32_t arg, int32_t* result)
{
    Host& host = H();
    int32_t failure = XT_OK;
    Dialog* dialog = host.OpenDialog(kind, arg, true, &failure);
    if (!dialog)
        return failure;
    const XTHandle handle = dialog->handle;
    if (!dialog->ended) {
        Prompt prompt;
        prompt.kind = Prompt::kDialog;
        prompt.title = dialog->title;
        prompt.resId = dialog->resId;
        prompt.dialog = dialog;
        host.Ask(prompt);
        host.InteractWith(handle);
    }
    dialog = host.dialogs.Find(handle);
    if (!dialog)
        return XT_ERR_PARAM;
    const bool confirmed = dialog->endValue == 1;
    host.Note(dialog->Name() + (confirmed ? " ends confirmed" : " ends cancelled"));
    if (confirmed)
        host.SendDialogMessage(*dialog, XT_DLG_MSG_ENDED);
    host.dialogs.Dispose(handle);
    if (result)
        *result = confirmed ? XT_DLG_RESULT_CONFIRMED : XT_DLG_RESULT_CANCELLED;
    return XT_OK;
}

int32_t RunModeless(int32_t kind, int32_t arg, XTHandle* out)
{
    if (!out) {
        H().Error("modeless dialog: no variable for the handle");
        return XT_ERR_PARAM;
    }
    int32_t failure = XT_OK;
    Dialog* dialog = H().OpenDialog(kind, arg, false, &failure);
    if (!dialog)
        return failure;
    *out = dialog->handle;
    return XT_OK;
}

int32_t SetCurrent(XTHandle handle)
{
    if (!H().dialogs.Find(handle)) {
        H().Error("make dialog current: unknown dialog " + Hex(static_cast<uint32_t>(handle)));
        return XT_ERR_PARAM;
    }
    H().currentDialogs.push_back(handle);
    return XT_OK;
}

int32_t EndCurrent()
{
    if (H().currentDialogs.empty()) {
        H().Error("end current dialog: no current dialog");
        return XT_ERR_PARAM;
    }
    H().currentDialogs.pop_back();
    return XT_OK;
}

int32_t CloseModeless(XTHandle handle)
{
    Dialog* dialog = H().dialogs.Find(handle);
    if (!dialog || dialog->modal) {
        H().Error("close dialog: " + std::string(dialog ? "a modal dialog " : "unknown dialog ") +
                  Hex(static_cast<uint32_t>(handle)));
        return XT_ERR_PARAM;
    }
    H().CloseDialog(handle);
    return XT_OK;
}

int32_t ShowAlert(int32_t resId, int32_t flags, int32_t)
{
    Host& host = H();
    const XTDialogTemplate* t = host.Template(resId);
    if (!t)
        return 0;
    Dialog view;
    view.alert = true;
    host.LoadTemplate(view, *t);
    host.Note(view.Name() + " " + Quote(view.title) + " opens (" + Hex(static_cast<uint32_t>(flags), 2) + ")");
    host.NoteDialogItems(view);
    Prompt prompt;
    prompt.kind = Prompt::kAlert;
    prompt.title = view.title;
    prompt.resId = resId;
    prompt.dialog = &view;
    const Answer answer = host.Ask(prompt);
    const DialogItem* pressed = answer.kind == Answer::kPress ? view.Item(answer.item) : nullptr;
    if (!pressed || pressed->kind != XT_ITEM_BUTTON) {
        host.Error(view.Name() + ": expected a press of one of its buttons");
        pressed = view.DefaultButton();
    }
    const int32_t id = pressed ? pressed->id : 0;
    host.Note(view.Name() + ": press " + std::to_string(id) + (pressed ? " " + Quote(pressed->text) : ""));
    return id;
}

int32_t SetAlertText(const char* t0, const char* t1, const char* t2, const char* t3)
{
    Host& host = H();
    const char* texts[4] = {t0, t1, t2, t3};
    std::string line = "alert texts";
    for (int i = 0; i < 4; ++i) {
        host.alertTexts[i] = BoundedString(texts[i], 4096);
        line += " " + Quote(host.alertTexts[i]);
    }
    host.Note(line);
    return XT_OK;
}

int32_t Beep(int32_t)
{
    H().Beep();
    H().Note("beep");
    return XT_OK;
}

XTHandle FindWindow(const char* className, const char* title)
{
    Host& host = H();
    const std::string cls = BoundedString(className, 256);
    const std::string name = BoundedString(title, 256);
    for (auto& entry : host.windows.Items()) {
        if (entry.second.open && entry.second.className == cls && entry.second.title == name) {
            host.Note("find window " + Quote(cls) + " " + Quote(name) + ": found");
            return entry.first;
        }
    }
    host.Note("find window " + Quote(cls) + " " + Quote(name) + ": none");
    return 0;
}

XTHandle GetDlgItem(XTHandle window, int32_t itemId)
{
    HostWindow* w = H().windows.Find(window);
    if (!w || !w->open)
        return 0;
    auto it = w->buttonHandles.find(itemId);
    return it == w->buttonHandles.end() ? 0 : it->second;
}

int32_t PostMessage(XTHandle target, uint32_t message, uint32_t, int32_t)
{
    Host& host = H();
    if (!host.windowItems.Find(target) && !host.windows.Find(target)) {
        host.Note("post message " + std::to_string(message) + " to an unknown window refused");
        return 0;
    }
    host.posted.push_back(PostedMessage{target, message});
    return 1;
}

int32_t DrawDialog()
{
    return H().CurrentDialog("draw dialog") ? XT_OK : XT_ERR_PARAM;
}

int32_t EndDialog(int32_t value, int32_t, int32_t)
{
    Dialog* dialog = H().CurrentDialog("end dialog");
    if (!dialog)
        return XT_ERR_PARAM;
    if (!dialog->modal) {
        H().CloseDialog(dialog->handle);
        return XT_OK;
    }
    dialog->ended = true;
    dialog->endValue = value == 1 ? 1 : 0;
    return XT_OK;
}

int32_t RequestTimer(int32_t interval, int32_t, int32_t)
{
    Dialog* dialog = H().CurrentDialog("request timer");
    if (!dialog)
        return XT_ERR_PARAM;
    // The request itself is not shown; the timer messages it causes are.
    (void)interval;
    dialog->timer = true;
    return XT_OK;
}

int32_t SetButtonState(int32_t itemId, int32_t state)
{
    Dialog* dialog = nullptr;
    DialogItem* item = CurrentItem("button state", itemId, XT_ITEM_BUTTON, &dialog);
    if (!item)
        return XT_ERR_PARAM;
    if (state != XT_BUTTON_DISABLED && state != XT_BUTTON_ENABLED) {
        H().Error("button state: " + std::to_string(state) + " for item " + std::to_string(itemId));
        return XT_ERR_PARAM;
    }
    const bool enabled = state == XT_BUTTON_ENABLED;
    if (item->enabled != enabled)
        H().NoteChange(*dialog, std::to_string(itemId) + (enabled ? " enabled" : " disabled"));
    item->enabled = enabled;
    return XT_OK;
}

int32_t ShowDialog(XTHandle handle, int32_t show)
{
    Dialog* dialog = H().dialogs.Find(handle);
    if (!dialog) {
        H().Error("show dialog: unknown dialog " + Hex(static_cast<uint32_t>(handle)));
        return XT_ERR_PARAM;
    }
    H().Note(dialog->Name() + (show ? " shown" : " hidden"));
    return XT_OK;
}

int32_t ButtonSetup(int32_t itemId, int32_t, int32_t)
{
    return CurrentItem("button set-up", itemId, XT_ITEM_BUTTON) ? XT_OK : XT_ERR_PARAM;
}

int32_t SetCheckValue(const char* operation, int32_t itemId, int32_t value)
{
    Dialog* dialog = nullptr;
    DialogItem* item = CurrentItem(operation, itemId, XT_ITEM_CHECKBOX, &dialog);
    if (!item)
        return XT_ERR_PARAM;
    const int32_t v = value ? 1 : 0;
    if (item->value != v)
        H().NoteChange(*dialog, std::to_string(itemId) + (v ? " on" : " off"));
    item->value = v;
    return XT_OK;
}

int32_t CheckInit(int32_t itemId, int32_t value)
{
    return SetCheckValue("check box set-up", itemId, value);
}

int32_t CheckSet(int32_t itemId, int32_t value)
{
    return SetCheckValue("check box value", itemId, value);
}

int32_t CheckGet(int32_t itemId, int16_t* value)
{
    DialogItem* item = CurrentItem("read check box", itemId, XT_ITEM_CHECKBOX);
    if (!item || !value) {
        if (item)
            H().Error("read check box: no variable");
        return XT_ERR_PARAM;
    }
    *value = static_cast<int16_t>(item->value);
    return XT_OK;
}

int32_t EditSetup(int32_t itemId, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t)
{
    return CurrentItem("edit set-up", itemId, XT_ITEM_EDIT) ? XT_OK : XT_ERR_PARAM;
}

int32_t EditGetText(int32_t itemId, char* buffer, int32_t bufferSize, int32_t)
{
    DialogItem* item = CurrentItem("read edit text", itemId, XT_ITEM_EDIT);
    if (!item)
        return XT_ERR_PARAM;
    if (!buffer || bufferSize <= 0) {
        H().Error("read edit text: no buffer or no buffer size");
        return XT_ERR_PARAM;
    }
    if (static_cast<int64_t>(item->text.size()) + 1 > bufferSize) {
        buffer[0] = '\0';
        H().Note("read edit text: " + std::to_string(item->text.size()) +
                 " bytes do not fit a buffer of " + std::to_string(bufferSize));
        return XT_ERR_PARAM;
    }
    std::copy(item->text.begin(), item->text.end(), buffer);
    buffer[item->text.size()] = '\0';
    return XT_OK;
}

int32_t EditSetText(int32_t itemId, const char* text)
{
    Dialog* dialog = nullptr;
    DialogItem* item = CurrentItem("set edit text", itemId, XT_ITEM_EDIT, &dialog);
    if (!item)
        return XT_ERR_PARAM;
    // A text the module sets is no user edit: no message 3 follows.
    item->text = BoundedString(text, 65536);
    H().NoteChange(*dialog, std::to_string(itemId) + " text " + Quote(item->text));
    return XT_OK;
}

int32_t EditSetMaxLength(int32_t itemId, int32_t length)
{
    DialogItem* item = CurrentItem("edit length", itemId, XT_ITEM_EDIT);
    if (!item || length < 0) {
        if (item)
            H().Error("edit length: " + std::to_string(length));
        return XT_ERR_PARAM;
    }
    item->maxLength = length;
    return XT_OK;
}

int32_t StaticSetup(int32_t itemId, int32_t)
{
    return CurrentItem("static text set-up", itemId, XT_ITEM_STATIC) ? XT_OK : XT_ERR_PARAM;
}

int32_t StaticSetText(int32_t itemId, const char* text)
{
    Dialog* dialog = nullptr;
    DialogItem* item = CurrentItem("set static text", itemId, XT_ITEM_STATIC, &dialog);
    if (!item)
        return XT_ERR_PARAM;
    item->text = BoundedString(text, 65536);
    H().NoteChange(*dialog, std::to_string(itemId) + " text " + Quote(item->text));
    return XT_OK;
}

int32_t BarSetup(int32_t itemId, int32_t)
{
    return CurrentItem("progress bar set-up", itemId, XT_ITEM_PROGRESS) ? XT_OK : XT_ERR_PARAM;
}

int32_t BarSet(int32_t itemId, int32_t maximum, int32_t value)
{
    Dialog* dialog = nullptr;
    DialogItem* item = CurrentItem("set progress bar", itemId, XT_ITEM_PROGRESS, &dialog);
    if (!item)
        return XT_ERR_PARAM;
    if (maximum < 0 || value < 0 || value > maximum) {
        H().Error("set progress bar: " + std::to_string(value) + " of " + std::to_string(maximum));
        return XT_ERR_PARAM;
    }
    item->barMaximum = maximum;
    item->barValue = value;
    H().NoteChange(*dialog, std::to_string(itemId) + " bar " + std::to_string(value) + "/" +
                                std::to_string(maximum));
    return XT_OK;
}

}  // namespace

void DefineDialogOperations()
{
    XTHOST_DEFINE_SLOT(XCF_RunModal, RunModal);
    XTHOST_DEFINE_SLOT(XCF_RunModeless, RunModeless);
    XTHOST_DEFINE_SLOT(XCF_SetCurrent, SetCurrent);
    XTHOST_DEFINE_SLOT(XCF_EndCurrent, EndCurrent);
    XTHOST_DEFINE_SLOT(XCF_CloseModeless, CloseModeless);
    XTHOST_DEFINE_SLOT(XCF_ShowAlert, ShowAlert);
    XTHOST_DEFINE_SLOT(XCF_SetAlertText, SetAlertText);
    XTHOST_DEFINE_SLOT(XCF_Beep, Beep);
    XTHOST_DEFINE_SLOT(XCF_FindWindow, FindWindow);
    XTHOST_DEFINE_SLOT(XCF_GetDlgItem, GetDlgItem);
    XTHOST_DEFINE_SLOT(XCF_PostMessage, PostMessage);
    XTHOST_DEFINE_SLOT(XCF_DrawDialog, DrawDialog);
    XTHOST_DEFINE_SLOT(XCF_EndDialog, EndDialog);
    XTHOST_DEFINE_SLOT(XCF_RequestTimer, RequestTimer);
    XTHOST_DEFINE_SLOT(XCF_SetButtonState, SetButtonState);
    XTHOST_DEFINE_SLOT(XCF_ShowDialog, ShowDialog);
    XTHOST_DEFINE_SLOT(XZC_Setup, ButtonSetup);
    XTHOST_DEFINE_SLOT(XZC_InitValue, CheckInit);
    XTHOST_DEFINE_SLOT(XZC_GetValue, CheckGet);
    XTHOST_DEFINE_SLOT(XZC_SetValue, CheckSet);
    XTHOST_DEFINE_SLOT(XZD_Setup, EditSetup);
    XTHOST_DEFINE_SLOT(XZD_GetText, EditGetText);
    XTHOST_DEFINE_SLOT(XZD_SetText, EditSetText);
    XTHOST_DEFINE_SLOT(XZD_SetMaxLength, EditSetMaxLength);
    XTHOST_DEFINE_SLOT(XZO_Setup, StaticSetup);
    XTHOST_DEFINE_SLOT(XZO_SetText, StaticSetText);
    XTHOST_DEFINE_SLOT(XZH_Setup, BarSetup);
    XTHOST_DEFINE_SLOT(XZH_Set, BarSet);
}

}  // namespace xthost
