#include "Plugin/Shell/Dialogs.h"

#include <ostream>

#include "Foundation/Log.h"
#include "Plugin/Shell/DialogTemplates.h"
#include "Plugin/Batch/BatchRequest.h"
#include "Plugin/Batch/BatchStatusFile.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoInterface.h"

namespace {

// Resource ids of the dialogs of this file.
enum : uint32_t {
    kExportDoneRes = 101,
    kImportDoneRes = 103,
    kImportFailedRes = 104,
    kSaveChangesRes = 105,
    kOpeningRes = 106,
    kExportFailedRes = 112,
    kProgressRes = 22300,
};

// Items of the progress dialog.
enum : int32_t { kProgressBarItem = 1, kProgressTextItem = 2 };

// The host's own alert windows that "Opening..." closes, by their Windows class and titles.
constexpr const char* kHostAlertClass = "#32770";
constexpr const char* kHostAlertTitles[] = {"QuarkXPress (tm)", "QuarkXPress Passport (tm)"};
// A click at x 1, y 1 of the alert's button 2.
constexpr int32_t kClickPosition = 0x10001;
// How often the host is asked to send "Opening..." its timer message.
constexpr int32_t kOpeningTimerInterval = 40;

// A result dialog names its template; the host's own handling of its push buttons ends it.
int32_t ResultDialog(void* rec, uint32_t resId)
{
    return HandleDialogMessage(rec, [resId](XTDialogRec& d) {
        if (d.message == XT_DLG_MSG_GETRESOURCE)
            AnswerDialogResource(d, resId);
    });
}

// The host's alert window that is on screen, or 0.
XTHandle FindHostAlert()
{
    for (const char* title : kHostAlertTitles)
        if (const XTHandle window = CallHost<XCF_FindWindow>(kHostAlertClass, title))
            return window;
    return 0;
}

bool IsBatchUnattended()
{
    if (IsBatchRequested())
        return true;
    BatchStatusFile* status = BatchStatus.GetIf();
    if (!status || !status->IsValid())
        return false;
    const BatchMode mode = status->GetMode();
    return mode != BatchMode::None && mode != BatchMode::Done;
}

} // namespace

// ---- Window callbacks --------------------------------------------------------------------------

extern "C" __attribute__((visibility("default"))) const XTDialogTemplate* XTGetDialogTemplate(int32_t resId)
{
    return FindDialogTemplate(resId);
}

int32_t ExportDoneDlgCB(void* rec)
{
    return ResultDialog(rec, kExportDoneRes);
}

int32_t ExportFailedDlgCB(void* rec)
{
    return ResultDialog(rec, kExportFailedRes);
}

int32_t ImportDoneDlgCB(void* rec)
{
    return ResultDialog(rec, kImportDoneRes);
}

int32_t ImportFailedDlgCB(void* rec)
{
    return ResultDialog(rec, kImportFailedRes);
}

int32_t SaveChangesDlgCB(void* rec)
{
    return ResultDialog(rec, kSaveChangesRes);
}

int32_t DismissHostAlert(void* rec)
{
    return HandleDialogMessage(rec, [](XTDialogRec& d) {
        if (d.message == XT_DLG_MSG_GETRESOURCE) {
            AnswerDialogResource(d, kOpeningRes);
            CallHost<XCF_RequestTimer>(kOpeningTimerInterval, 0, 0);
        } else if (d.message == XT_DLG_MSG_TIMER) {
            // Only button 2 is clicked: it lets the host go on without the user.
            if (const XTHandle window = FindHostAlert()) {
                if (const XTHandle button = CallHost<XCF_GetDlgItem>(window, 2)) {
                    CallHost<XCF_PostMessage>(button, XT_WM_LBUTTONDOWN, 1u, kClickPosition);
                    CallHost<XCF_PostMessage>(button, XT_WM_LBUTTONUP, 0u, kClickPosition);
                }
            }
            d.handled = 1;
        }
    });
}

int32_t ProgressDlgCB(void* rec)
{
    return HandleDialogMessage(rec, [](XTDialogRec& d) {
        if (d.message == XT_DLG_MSG_GETRESOURCE) {
            AnswerDialogResource(d, kProgressRes);
        } else if (d.message == XT_DLG_MSG_ITEMSCREATED) {
            CallHost<XZO_Setup>(kProgressTextItem, 1);
            CallHost<XZH_Setup>(kProgressBarItem, 0);
            d.handled = 1;
        }
    });
}

// ---- Running dialogs ---------------------------------------------------------------------------

int32_t RunModalDialog(DialogKind dialog, int32_t arg, int32_t* result)
{
    return CallHost<XCF_RunModal>(DialogKindOf(dialog), arg, result);
}

int32_t EndCurrentDialog(bool confirmed)
{
    return CallHost<XCF_EndDialog>(confirmed ? 1 : 0, 0, 0);
}

XTHandle OpenProgressDialog()
{
    XTHandle handle = 0;
    if (CallHost<XCF_RunModeless>(DialogKindOf(DialogKind::Progress), 0, &handle) != XT_OK || !handle)
        return 0;
    CallHost<XCF_ShowDialog>(handle, 1);
    CallHost<XCF_SetCurrent>(handle);
    SetStaticItemText(kProgressTextItem, "");
    CallHost<XZH_Set>(kProgressBarItem, 100, 0);
    CallHost<XCF_EndCurrent>();
    return handle;
}

void SetProgressDialogText(XTHandle dialog, const std::string& text)
{
    // A progress dialog that did not open has no text to show.
    if (!dialog)
        return;
    CallHost<XCF_SetCurrent>(dialog);
    SetStaticItemText(kProgressTextItem, text);
    CallHost<XCF_EndCurrent>();
}

int32_t SetStaticItemText(int32_t itemId, const std::string& text)
{
    return CallHost<XZO_SetText>(itemId, text.c_str());
}

// ---- Unattended runs ---------------------------------------------------------------------------

UnattendedState CurrentUnattendedState()
{
    UnattendedState state;
    const KestoInterface* module = KestoInterface::Instance();
    state.multiDoc = module->m_multiDocMode;
    state.server = module->m_serverMode;
    state.batch = IsBatchUnattended();
    return state;
}

DialogLogText LoggedDialogText(DialogKind dialog)
{
    switch (dialog) {
    case DialogKind::ExportDone: return {"Result", "Export done"};
    case DialogKind::ExportFailed: return {"Result", "Export failed"};
    case DialogKind::ImportDone: return {"Result", "Import done"};
    case DialogKind::ImportFailed: return {"Result", "Import failed"};
    case DialogKind::SaveChanges: return {"", "File was changed. Save it?"};
    case DialogKind::Opening: return {"", "Opening..."};
    case DialogKind::SourceFolder: return {"Export Current Source Folder", ""};
    case DialogKind::DwqTarget: return {"Target folder for DWQ", ""};
    case DialogKind::PdfTarget: return {"Target folder for PDF", ""};
    case DialogKind::DwqPdfTarget: return {"Target folder for DWQ/PDF", ""};
    case DialogKind::ImportFolders: return {"Import Verbant Files", ""};
    case DialogKind::OverwriteDwq:
    case DialogKind::OverwritePdf:
    case DialogKind::OverwriteQxp: return {"Overwrite files?", ""};
    case DialogKind::Progress:
    case DialogKind::Count: break;
    }
    return {"", ""};
}

namespace {
DialogKind LastResult = DialogKind::Count;
}

DialogKind LastCommandResult()
{
    return LastResult;
}

void ForgetCommandResult()
{
    LastResult = DialogKind::Count;
}

int32_t ShowDialog(DialogKind dialog, int32_t arg, int32_t* result, const int32_t* defaultResult,
                   bool forceMultiDoc, bool forceBatch, bool forceServer)
{
    switch (dialog) {
    case DialogKind::ExportDone:
    case DialogKind::ExportFailed:
    case DialogKind::ImportDone:
    case DialogKind::ImportFailed: LastResult = dialog; break;
    default: break;
    }
    const UnattendedState state = CurrentUnattendedState();
    const bool suppressed = (state.multiDoc && !forceMultiDoc) || (state.batch && !forceBatch) ||
                            (state.server && !forceServer);
    if (suppressed) {
        const DialogLogText logged = LoggedDialogText(dialog);
        std::ostream& log = GeneralLogStream();
        log << "\nSUPPRESSED DIALOG:\t" << logged.title << "\t->\t" << logged.text << '\n';
        log.flush();
        if (result && defaultResult)
            *result = *defaultResult;
        if (!forceMultiDoc && !forceBatch && !forceServer)
            return 0;
    }
    return RunModalDialog(dialog, arg, result);
}
