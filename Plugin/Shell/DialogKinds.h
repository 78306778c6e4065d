// The callback kinds under which the host runs the module's dialogs: reserved at start-up, one
// per dialog, and the dialogs' window callbacks registered under them at setup.
#pragma once

#include <cstdint>

enum class DialogKind : int32_t {
    Progress,       // 22300
    ExportDone,     // 101
    ExportFailed,   // 112
    ImportDone,     // 103
    ImportFailed,   // 104
    SaveChanges,    // 105 "File was changed. Save it?"
    SourceFolder,   // 108 "Export Current Source Folder"
    DwqTarget,      // 107 "Target folder for DWQ"
    PdfTarget,      // 113 "Target folder for PDF"
    DwqPdfTarget,   // 114 "Target folder for DWQ/PDF"
    ImportFolders,  // 115 "Import Verbant Files"
    OverwriteDwq,   // 111 "Overwrite files?"
    OverwritePdf,   // 116
    OverwriteQxp,   // 117
    Opening,        // 106 "Opening...", which closes the host's own alerts
    Count,
};
constexpr int32_t kDialogKindCount = static_cast<int32_t>(DialogKind::Count);
static_assert(kDialogKindCount == 15, "the module reserves 15 dialog kinds");

// The kinds the host granted, in the order above; 0 until granted.
extern uint32_t DialogKinds[kDialogKindCount];

inline int32_t DialogKindOf(DialogKind dialog)
{
    return static_cast<int32_t>(DialogKinds[static_cast<int32_t>(dialog)]);
}

// The window callbacks of the dialogs, one per kind in the order above.
int32_t ProgressDlgCB(void* rec);
int32_t ExportDoneDlgCB(void* rec);
int32_t ExportFailedDlgCB(void* rec);
int32_t ImportDoneDlgCB(void* rec);
int32_t ImportFailedDlgCB(void* rec);
int32_t SaveChangesDlgCB(void* rec);
int32_t SourceFolderDlgCB(void* rec);
int32_t DwqTargetDlgCB(void* rec);
int32_t PdfTargetDlgCB(void* rec);
int32_t DwqPdfTargetDlgCB(void* rec);
int32_t ImportFoldersDlgCB(void* rec);
int32_t OverwriteDwqDlgCB(void* rec);
int32_t OverwritePdfDlgCB(void* rec);
int32_t OverwriteQxpDlgCB(void* rec);
int32_t DismissHostAlert(void* rec);
