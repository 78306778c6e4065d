// The host's file dialogs as the commands use them: an open dialog for the source of an export
// or an import and a save dialog for the output file, each with a file-type filter of the
// module's own. The chosen file goes into the current conversion job.
#pragma once

#include "platform/host/HostServices.h"
#include "platform/host/xtapi/XTAPI.h"

// The filter list of a dialog, {record, null}: XTags files when xtags, else coordinates files
// when coordinates, else exchange files when exchange, else host documents. One list serves all
// dialogs, so it is valid until the next call.
const XTFileFilter* const* GetFileTypeFilter(bool exchange, bool coordinates, bool xtags);

// Lets the user choose a host document to export, or an exchange file to import: the chosen file
// becomes the job's source and out its specification. False, out unchanged, when no single file
// was chosen and taken.
bool ChooseSourceFile(HostFileSpec& out, bool exportSource);
bool ChooseExportSource(HostFileSpec& out);
bool ChooseImportSource(HostFileSpec& out);

// Lets the user name an output file, proposed beside the job's source with the output's
// extension: the chosen file becomes the job's target and is created; out receives its
// specification. False, out unchanged, when the dialog was cancelled or any step failed.
bool ChooseOutputFile(HostFileSpec& out, bool exchange, bool coordinates, bool xtags);

// The four outputs. Each takes the caller's specification with its extension replaced by the
// output's, and hands it back only when the choice succeeded.
bool ChooseExportOutput(HostFileSpec& spec);  // exchange file
bool ChooseCoordOutput(HostFileSpec& spec);   // coordinates file
bool ChooseTgxOutput(HostFileSpec& spec);     // XTags file
bool ChooseImportOutput(HostFileSpec& spec);  // host document
