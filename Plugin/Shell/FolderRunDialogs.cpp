#include "Plugin/Shell/FolderRunDialogs.h"

#include <cstring>

#include "Foundation/Settings.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/Menus.h"
#include "SHARED/Server/CnvTools/PathUtils.h"

int16_t GenerateDwqChoice = 0;
int16_t GeneratePdfChoice = 0;
bool OverwriteCancelled = false;

namespace {

constexpr int32_t kNoOtherKey = SettingKey::Count;

// ---- The folder dialogs -----------------------------------------------------------------------

// One folder of a dialog: its edit item, its "..." button, where it is remembered and the
// specification it fills.
struct FolderField {
    int32_t edit;
    int32_t browse;
    int32_t key;
    HostFileSpec* spec;
};

struct FolderDialog {
    uint32_t resId;
    int32_t confirm;  // "Export" or "Import"
    int32_t cancel;
    FolderField fields[2];
    int count;

    int32_t OtherKey(int i) const { return count == 2 ? fields[1 - i].key : kNoOtherKey; }
};

const FolderDialog kDwqTarget = {
    107, 1004, 1005, {{1009, 1008, SettingKey::TargetDWQPath, &SavedSourceSpec}}, 1};
const FolderDialog kPdfTarget = {
    113, 1004, 1005, {{1006, 1007, SettingKey::TargetPDFPath, &SavedSourceSpec}}, 1};
const FolderDialog kDwqPdfTarget = {114, 1004, 1005,
                                    {{1010, 1012, SettingKey::TargetDWQPath, &SavedSourceSpec},
                                     {1011, 1013, SettingKey::TargetPDFPath, &SavedTargetSpec}},
                                    2};
const FolderDialog kImportFolders = {115, 1023, 1022,
                                     {{1003, 1002, SettingKey::SourceDWQPath, &SavedSourceSpec},
                                      {1005, 1004, SettingKey::TargetBookPath, &SavedTargetSpec}},
                                     2};

// Opaque set-up values of the host's edit items.
void SetUpEdit(int32_t item)
{
    CallHost<XZD_Setup>(item, 32, 80, 1000, 0, 0x640000, 26);
}

// Folder runs are never recursive without the extended interface.
bool RecursiveRuns()
{
    return Settings->GetExtendedInterface() && Settings->GetRecursiveDirScan();
}

// Everything but the acceptance, which differs from dialog to dialog.
void HandleFolderDialog(const FolderDialog& dialog, XTDialogRec& rec)
{
    switch (rec.message) {
    case XT_DLG_MSG_GETRESOURCE:
        AnswerDialogResource(rec, dialog.resId);
        break;
    case XT_DLG_MSG_ITEMSCREATED:
        for (int i = 0; i < dialog.count; ++i)
            CallHost<XZC_Setup>(dialog.fields[i].browse, 0, 0);
        for (int i = 0; i < dialog.count; ++i)
            SetUpEdit(dialog.fields[i].edit);
        rec.handled = 1;
        break;
    case XT_DLG_MSG_FILL: {
        // Without the first folder the second is not offered either.
        bool filled = false;
        for (int i = 0; i < dialog.count; ++i) {
            const FolderField& f = dialog.fields[i];
            filled = FillFolderField(f.edit, f.key, *f.spec, i > 0 && !filled, dialog.confirm);
        }
        break;
    }
    case XT_DLG_MSG_ITEMHIT:
        if (rec.itemId == dialog.confirm || rec.itemId == dialog.cancel) {
            EndCurrentDialog(rec.itemId == dialog.confirm);
            break;
        }
        for (int i = 0; i < dialog.count; ++i) {
            const FolderField& f = dialog.fields[i];
            if (rec.itemId == f.browse)
                BrowseFolderField(f.edit, f.key, *f.spec, dialog.OtherKey(i), dialog.confirm);
        }
        break;
    case XT_DLG_MSG_EDITCHANGED:
        for (int i = 0; i < dialog.count; ++i)
            if (rec.itemId == dialog.fields[i].edit)
                RestoreFolderField(dialog.fields[i].edit, dialog.fields[i].key);
        break;
    default:
        break;
    }
}

// The PDF folder of a run is the text of its edit item.
void TakePdfTargetFolder(int32_t editItem)
{
    std::string text;
    if (GetEditItemText(editItem, text) == XT_OK)
        *PdfTargetFolder = text;
}

// Only the last of two runs in a row announces the end; a run that fails does not keep the
// announcement off.
class SilentRun {
public:
    SilentRun() { ShowFinishedNotice = false; }
    ~SilentRun() { ShowFinishedNotice = true; }
    SilentRun(const SilentRun&) = delete;
    SilentRun& operator=(const SilentRun&) = delete;
};

// ---- The overwrite questions ------------------------------------------------------------------

struct OverwriteQuestion {
    uint32_t resId;
    int32_t yes;
    int32_t no;
    int32_t cancel;
};

const OverwriteQuestion kOverwriteDwq = {111, 1020, 1005, 1021};
const OverwriteQuestion kOverwritePdf = {116, 1014, 1015, 1016};
const OverwriteQuestion kOverwriteQxp = {117, 1017, 1018, 1019};

int32_t OverwriteCallBack(void* rec, const OverwriteQuestion& question)
{
    return HandleDialogMessage(rec, [&question](XTDialogRec& d) {
        switch (d.message) {
        case XT_DLG_MSG_GETRESOURCE:
            // Until the user answers "No", a question that ends cancelled was not answered: a
            // question closed by its close box stops the run as "Cancel" does.
            OverwriteCancelled = true;
            AnswerDialogResource(d, question.resId);
            break;
        case XT_DLG_MSG_ITEMSCREATED:
            CallHost<XZC_Setup>(question.cancel, 0, 0);
            d.handled = 1;
            break;
        case XT_DLG_MSG_ITEMHIT:
            if (d.itemId == question.cancel || d.itemId == question.no) {
                OverwriteCancelled = d.itemId == question.cancel;
                EndCurrentDialog(false);
            } else if (d.itemId == question.yes) {
                EndCurrentDialog(true);
            }
            break;
        default:
            break;
        }
    });
}

bool* OverwriteSwitchOf(int32_t targetKind)
{
    switch (targetKind) {
    case kFolderTargetDocument:
    case kFolderTargetOldDocument: return &OverwriteFlags.document;
    case kFolderTargetExchangeFile: return &OverwriteFlags.exchangeFile;
    case kFolderTargetPdf: return &OverwriteFlags.pdf;
    default: return nullptr;
    }
}

} // namespace

// ---- Field operations -------------------------------------------------------------------------

int32_t GetEditItemText(int32_t editItem, std::string& out)
{
    char buffer[XT_PATH_BUFFER] = {};
    const int32_t result = CallHost<XZD_GetText>(editItem, buffer, XT_PATH_BUFFER, 0);
    if (result == XT_OK)
        out.assign(buffer, strnlen(buffer, sizeof buffer));
    return result;
}

int32_t SetEditItemText(int32_t editItem, const std::string& text)
{
    return CallHost<XZD_SetText>(editItem, text.c_str());
}

namespace {

// Shows a folder in an edit item that fits it.
bool ShowFolder(int32_t editItem, const std::string& path)
{
    const int32_t limit = CallHost<XZD_SetMaxLength>(editItem, static_cast<int32_t>(path.size()) + 1);
    return SetEditItemText(editItem, path) == XT_OK && limit == XT_OK;
}

} // namespace

bool FillFolderField(int32_t editItem, int32_t settingsKey, HostFileSpec& spec, bool skip,
                     int32_t confirmItem)
{
    const auto disableConfirm = [confirmItem] {
        return CallHost<XCF_SetButtonState>(confirmItem, XT_BUTTON_DISABLED) == XT_OK;
    };
    if (skip || Settings->IsDefault(settingsKey))
        return disableConfirm();
    const std::string path = Settings->GetPath(settingsKey);
    if (xt_fsmakefsspec(0, 0, path.c_str(), &spec) != 0) {
        // A remembered folder that is gone: the file spec still names an earlier folder (or
        // none), so nothing may run into it until a folder is chosen.
        disableConfirm();
        return false;
    }
    return ShowFolder(editItem, path);
}

bool BrowseFolderField(int32_t editItem, int32_t settingsKey, HostFileSpec& spec, int32_t otherKey,
                       int32_t confirmItem)
{
    const std::string start = Settings->GetPath(settingsKey);
    int16_t volume = 0;
    int32_t folderId = 0;
    if (BrowseForFolder("Select folder", start, 0, &volume, &folderId, 0) != 0)
        return false;
    // The field, the setting and the file spec change together or not at all.
    HostFileSpec chosen{};
    if (xt_fsmakefsspec(volume, folderId, "", &chosen) != 0)
        return false;
    std::string path;
    if (FileSpecToPath(path, chosen, false) != 0)
        return false;
    spec = chosen;
    Settings->SetPath(settingsKey, path, true, true);
    bool ok = ShowFolder(editItem, path);
    if (otherKey == kNoOtherKey || !Settings->IsDefault(otherKey))
        ok = CallHost<XCF_SetButtonState>(confirmItem, XT_BUTTON_ENABLED) == XT_OK && ok;
    return ok;
}

bool RestoreFolderField(int32_t editItem, int32_t settingsKey)
{
    // A host that reports the text set here as a change must not start an endless exchange.
    static bool restoring = false;
    if (restoring)
        return true;
    restoring = true;
    const bool ok = SetEditItemText(editItem, Settings->GetPath(settingsKey)) == XT_OK;
    restoring = false;
    return ok;
}

bool CheckOverwrite(int32_t targetKind, const HostFileSpec& target, bool recursive,
                    DialogKind question)
{
    bool* allowed = OverwriteSwitchOf(targetKind);
    if (!allowed)
        return false;
    // With the source folder's name in the target, the runs write below a sub-folder named
    // after their source root: the import's source is SavedSourceSpec, the exports' is
    // SavedFolderSpec.
    std::string subFolder;
    if (Settings->GetIncludeSourceFolderInTarget()) {
        const bool import = targetKind == kFolderTargetDocument || targetKind == kFolderTargetOldDocument;
        subFolder = FileSpecName(import ? SavedSourceSpec : SavedFolderSpec);
    }
    if (!CollectSourceFiles(target, targetKind, recursive, subFolder)) {
        *allowed = true;
        return true;
    }

    int32_t result = 0;
    RunModalDialog(question, 0, &result);
    const bool cancelled = OverwriteCancelled;
    OverwriteCancelled = false;
    if (result == XT_DLG_RESULT_CONFIRMED) {
        *allowed = true;
        return true;
    }
    if (result == XT_DLG_RESULT_CANCELLED && !cancelled) {
        *allowed = false;
        return true;
    }
    return false;
}

// ---- Window callbacks -------------------------------------------------------------------------

int32_t SourceFolderDlgCB(void* rec)
{
    enum : int32_t { kOk = 1004, kCancel = 1005, kGenerateDwq = 1001, kGeneratePdf = 1002 };
    return HandleDialogMessage(rec, [](XTDialogRec& d) {
        switch (d.message) {
        case XT_DLG_MSG_GETRESOURCE:
            AnswerDialogResource(d, 108);
            break;
        case XT_DLG_MSG_ITEMSCREATED:
            CallHost<XZC_InitValue>(kGenerateDwq, 0);
            CallHost<XZC_InitValue>(kGeneratePdf, 0);
            d.handled = 1;
            break;
        case XT_DLG_MSG_FILL:
            CallHost<XZC_SetValue>(kGenerateDwq, 1);
            CallHost<XZC_SetValue>(kGeneratePdf, 1);
            break;
        case XT_DLG_MSG_ITEMHIT:
            if (d.itemId == kOk || d.itemId == kCancel)
                EndCurrentDialog(d.itemId == kOk);
            break;
        case XT_DLG_MSG_ENDED:
            GenerateDwqChoice = 0;
            GeneratePdfChoice = 0;
            CallHost<XZC_GetValue>(kGenerateDwq, &GenerateDwqChoice);
            CallHost<XZC_GetValue>(kGeneratePdf, &GeneratePdfChoice);
            if (GenerateDwqChoice == 1 && GeneratePdfChoice == 1)
                RunModalDialog(DialogKind::DwqPdfTarget, 0, nullptr);
            else if (GenerateDwqChoice == 1)
                RunModalDialog(DialogKind::DwqTarget, 0, nullptr);
            else if (GeneratePdfChoice == 1)
                RunModalDialog(DialogKind::PdfTarget, 0, nullptr);
            break;
        default:
            break;
        }
    });
}

int32_t DwqTargetDlgCB(void* rec)
{
    return HandleDialogMessage(rec, [](XTDialogRec& d) {
        HandleFolderDialog(kDwqTarget, d);
        if (d.message != XT_DLG_MSG_ENDED)
            return;
        const bool recursive = RecursiveRuns();
        if (CheckOverwrite(kFolderTargetExchangeFile, SavedSourceSpec, recursive, DialogKind::OverwriteDwq))
            ExportFolder(SavedSourceSpec, recursive);
    });
}

int32_t PdfTargetDlgCB(void* rec)
{
    return HandleDialogMessage(rec, [](XTDialogRec& d) {
        HandleFolderDialog(kPdfTarget, d);
        if (d.message != XT_DLG_MSG_ENDED)
            return;
        const bool recursive = RecursiveRuns();
        TakePdfTargetFolder(kPdfTarget.fields[0].edit);
        if (CheckOverwrite(kFolderTargetPdf, SavedSourceSpec, recursive, DialogKind::OverwritePdf))
            ExportFolderToPdf(SavedSourceSpec, recursive);
    });
}

int32_t DwqPdfTargetDlgCB(void* rec)
{
    return HandleDialogMessage(rec, [](XTDialogRec& d) {
        HandleFolderDialog(kDwqPdfTarget, d);
        if (d.message != XT_DLG_MSG_ENDED)
            return;
        const bool recursive = RecursiveRuns();
        TakePdfTargetFolder(kDwqPdfTarget.fields[1].edit);
        if (!CheckOverwrite(kFolderTargetExchangeFile, SavedSourceSpec, recursive, DialogKind::OverwriteDwq) ||
            !CheckOverwrite(kFolderTargetPdf, SavedTargetSpec, recursive, DialogKind::OverwritePdf))
            return;
        {
            const SilentRun silent;
            ExportFolder(SavedSourceSpec, recursive);
        }
        ExportFolderToPdf(SavedTargetSpec, recursive);
    });
}

int32_t ImportFoldersDlgCB(void* rec)
{
    return HandleDialogMessage(rec, [](XTDialogRec& d) {
        HandleFolderDialog(kImportFolders, d);
        if (d.message != XT_DLG_MSG_ENDED)
            return;
        const bool recursive = RecursiveRuns();
        if (CheckOverwrite(kFolderTargetDocument, SavedTargetSpec, recursive, DialogKind::OverwriteQxp))
            ImportFolder(SavedSourceSpec, recursive);
    });
}

int32_t OverwriteDwqDlgCB(void* rec)
{
    return OverwriteCallBack(rec, kOverwriteDwq);
}

int32_t OverwritePdfDlgCB(void* rec)
{
    return OverwriteCallBack(rec, kOverwritePdf);
}

int32_t OverwriteQxpDlgCB(void* rec)
{
    return OverwriteCallBack(rec, kOverwriteQxp);
}
