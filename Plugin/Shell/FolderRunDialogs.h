// The dialogs of the folder runs: the source-folder dialog of a folder export with its two check
// boxes, the target-folder dialogs, the folder import dialog and the three overwrite questions.
// Every folder is chosen with the host's folder chooser and remembered in the settings file;
// the accepted dialog starts its folder run before its modal run returns. The window callbacks
// are declared in DialogKinds.h.
#pragma once

#include <cstdint>
#include <string>

#include "Plugin/Shell/DialogKinds.h"
#include "platform/host/HostServices.h"

// The check boxes of "Export Current Source Folder" as read at its acceptance (1 ticked).
extern int16_t GenerateDwqChoice;
extern int16_t GeneratePdfChoice;
// Set by "Cancel" in an overwrite question, cleared by "No" and when a check consumes it.
extern bool OverwriteCancelled;

// Kinds of the targets a folder run writes (the file kinds of the conversion job).
enum : int32_t {
    kFolderTargetDocument = 0,
    kFolderTargetOldDocument = 1,
    kFolderTargetExchangeFile = 2,
    kFolderTargetPdf = 3,
};

// Fills an edit item of the current dialog from the folder stored under the settings key and
// makes the folder's specification; with skip, or without a stored folder, or when the stored
// folder is gone, disables the confirm button instead. Answers whether every host call succeeded.
bool FillFolderField(int32_t editItem, int32_t settingsKey, HostFileSpec& spec, bool skip,
                     int32_t confirmItem);

// Lets the user choose the folder of an edit item with the host's folder chooser: the chosen
// folder becomes the file spec, the settings key's value and the item's text, and the
// confirm button is enabled when the dialog's other folder (otherKey, SettingKey::Count for none)
// is stored. A cancelled or failed choice changes nothing and answers false.
bool BrowseFolderField(int32_t editItem, int32_t settingsKey, HostFileSpec& spec, int32_t otherKey,
                       int32_t confirmItem);

// Puts the stored folder back into an edit item the user changed.
bool RestoreFolderField(int32_t editItem, int32_t settingsKey);

// The text of an edit item of the current dialog; out is unchanged on failure. Answers the
// host's code.
int32_t GetEditItemText(int32_t editItem, std::string& out);
int32_t SetEditItemText(int32_t editItem, const std::string& text);

// Before a folder run: when the target folder already holds files of the target kind, asks the
// overwrite question of that kind. Sets the run's overwrite switch of the kind (true when no
// such file is there or the user said "Yes", false for "No") and answers whether the run may go
// on ("Cancel", a closed question or an unknown kind: false).
bool CheckOverwrite(int32_t targetKind, const HostFileSpec& target, bool recursive,
                    DialogKind question);
