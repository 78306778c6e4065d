// Running the module's dialogs: the modal run of a dialog kind, the modeless progress dialog,
// the texts of static items, and the dialog call that stays silent while nobody sits at the
// host. The window callbacks themselves are declared in DialogKinds.h.
#pragma once

#include <cstdint>
#include <string>

#include "Plugin/Shell/CBManager.h"
#include "Plugin/Shell/DialogKinds.h"
#include "platform/host/xtapi/XTAPI.h"

// Runs a window callback's work inside the exception barrier, for a record that is there; the
// host always gets 0.
template <class Fn>
int32_t HandleDialogMessage(void* rec, Fn&& fn) noexcept
{
    if (rec)
        CallBackBarrier([&] {
            fn(*static_cast<XTDialogRec*>(rec));
            return 0;
        });
    return 0;
}

// The answer to the host's question for the template: the resource id, and the message handled.
inline void AnswerDialogResource(XTDialogRec& rec, uint32_t resId)
{
    if (rec.resIdOut)
        *rec.resIdOut = resId;
    rec.handled = 1;
}

// Runs the dialog modally; result (may be null) receives 2 when it was confirmed and 1 when it
// was cancelled. Answers the host's code.
int32_t RunModalDialog(DialogKind dialog, int32_t arg, int32_t* result);

// Ends the current dialog: confirmed (the host then sends the dialog its acceptance) or cancelled.
int32_t EndCurrentDialog(bool confirmed);

// Opens the progress dialog modelessly with an empty text and the bar at 0 of 100; answers its
// handle, 0 when the host did not open it.
XTHandle OpenProgressDialog();
// Shows a text line in the progress dialog.
void SetProgressDialogText(XTHandle dialog, const std::string& text);
// Sets the text of a static item of the current dialog; answers the host's code.
int32_t SetStaticItemText(int32_t itemId, const std::string& text);

// The three ways a run is unattended, read afresh on every call.
struct UnattendedState {
    bool multiDoc = false;  // a folder command is running
    bool batch = false;     // a batch run was requested or the batch status file has a job
    bool server = false;    // server mode

    bool Any() const { return multiDoc || batch || server; }
};
UnattendedState CurrentUnattendedState();

// What the general log gets for a dialog that an unattended run does not show.
struct DialogLogText {
    const char* title;
    const char* text;
};
DialogLogText LoggedDialogText(DialogKind dialog);

// Runs the dialog modally, unless the run is unattended in a way whose force flag is clear:
// then writes "\nSUPPRESSED DIALOG:\t" with the dialog's title and text to the general log and
// copies the default answer (when given) into result; it still shows the dialog when any force
// flag is set, else answers 0. Answers the host's code of the modal run.
int32_t ShowDialog(DialogKind dialog, int32_t arg, int32_t* result, const int32_t* defaultResult,
                   bool forceMultiDoc, bool forceBatch, bool forceServer);

// The result dialog (export or import, done or failed) that ShowDialog was last given, shown or
// logged: the verdict of the command that ran last, which the runs that fire a command read.
// DialogKind::Count when none came since ForgetCommandResult.
DialogKind LastCommandResult();
void ForgetCommandResult();
