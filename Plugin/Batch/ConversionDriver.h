// The conversion driver: one document of the current job converted the way a user's menu choice
// would do it. The driver opens the source document, clears or guards the target and fires the
// menu button whose listeners are the command of the conversion kind, so that a menu, a folder
// run, a batch step and the server all convert alike.
#pragma once

#include <cstdint>
#include <string>

#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Shell/Commands.h"
#include "platform/host/xtapi/XTAPI.h"

// The command buttons of the per-document commands, or null when the shell holds none. The
// button " Export current document" (5) is the shell's own: GetExportCurrentDocumentButton and
// FireExportCurrentDocumentButton in Commands.h.
RefPtr<MenuButton<6>> GetExportCoordinatesButton();
RefPtr<MenuButton<7>> GetExportXTagsButton();
RefPtr<MenuButton<15>> GetImportFileButton();
// Fire the button with the record (its command, then the beep); nothing without a button.
void FireExportCoordinatesButton(XTVoidRec* rec);
void FireExportXTagsButton(XTVoidRec* rec);
void FireImportFileButton(XTVoidRec* rec);

// Converts the job by its kind; true when the conversion wrote its target. Anything thrown is
// caught and shown as "Conversion failed for file: " with the source's path. `partlyWritten`
// (when given) tells whether a conversion that failed still left a file at the target, such as
// an import whose stories did not all find their place.
bool ConvertJob(ConversionJob& job, bool* partlyWritten = nullptr);
// The per-kind conversions of CurrentJob: true only when the command fired did not report a
// failure and left a whole target of its own (a non-empty file that was not there when the
// button fired).
bool ConvertToExchangeFile(bool* partlyWritten = nullptr);
bool ConvertToCoordinates(bool* partlyWritten = nullptr);
bool ConvertToXTags(bool* partlyWritten = nullptr);
bool ConvertToDocument(bool* partlyWritten = nullptr);
// What a run's log adds to the name of a file not converted whose conversion still left
// `target` (empty: nothing): ": partly imported into "<target>"" for an import.
std::string PartlyWrittenNote(ConversionKind kind, const std::string& target);

// What a folder or server run shows in its progress dialog.
struct ConversionProgressState {
    XTHandle dialog = 0;
    int32_t count = 0;
    int32_t number = 0;  // 1-based
    std::string name;
    ConversionKind kind = ConversionKind::Invalid;
};
extern ModuleGlobal<ConversionProgressState> ConversionProgress;

// Closes the run's progress dialog when one is open, resets the progress state and the file
// list of the folder runs, and clears the alert texts.
void ResetConversionGlobals();

// Opens the progress dialog of a run and, on every way out of the run, closes it and resets the
// conversion globals.
class ConversionProgressScope {
public:
    ConversionProgressScope();
    ~ConversionProgressScope();
    ConversionProgressScope(const ConversionProgressScope&) = delete;
    ConversionProgressScope& operator=(const ConversionProgressScope&) = delete;

    XTHandle Dialog() const { return m_dialog; }

private:
    XTHandle m_dialog = 0;
};

// Adds the driver's and the folder runs' globals to the module's initialisation list.
void RegisterConversionGlobals();
