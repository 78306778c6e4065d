// Folder runs: every suitable file of a source folder tree converted through the conversion
// driver, with the targets mirrored into a target folder, progress shown and the batch status
// file's counters kept current.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Foundation/ModuleGlobals.h"
#include "Plugin/Batch/ConversionJob.h"
#include "platform/host/HostServices.h"

// The source folder of the export folder runs.
extern HostFileSpec SavedFolderSpec;
// The folders chosen in the folder-run dialogs: the target of an export, the source of an
// import (SavedSourceSpec) and the target of an import (SavedTargetSpec).
extern HostFileSpec SavedSourceSpec;
extern HostFileSpec SavedTargetSpec;

// The switches that let a run replace an existing target of a kind without asking.
struct OverwriteSwitches {
    bool document = false;
    bool exchangeFile = false;
    bool pdf = false;
    bool coordinates = false;
    bool xtags = false;
};
extern OverwriteSwitches OverwriteFlags;

// The folder the PDF targets of a folder run go to.
extern ModuleGlobal<std::string> PdfTargetFolder;
// A folder run ends with the message "Conversion finished." only while this is set.
extern bool ShowFinishedNotice;
// The source files of the current run, and the existing targets that could not be removed.
extern ModuleGlobal<std::vector<std::string>> ConversionFileList;
extern ModuleGlobal<std::vector<std::string>> ProtectedTargetList;

// Folder runs: host documents of SavedFolderSpec to exchange files or to PDF, and exchange
// files of SavedSourceSpec back to host documents in SavedTargetSpec (the import's
// specification argument is not used). The exchange files go below SavedSourceSpec, the PDFs
// below PdfTargetFolder.
void ExportFolder(const HostFileSpec& target, bool recursive);
void ExportFolderToPdf(const HostFileSpec& target, bool recursive);
void ImportFolder(const HostFileSpec& unused, bool recursive);

// Converts the files of the kind below the source folder (or the source file itself) into the
// target kind.
void ProcessFolderConversion(const HostFileSpec& source, const HostFileSpec& target, FileKind sourceKind,
                             FileKind targetKind, bool recursive);

// Makes a missing folder with its missing parents, as a run does for its targets; answers
// whether it is a folder now. A failure is written to the general log.
bool MakeMissingFolder(std::string folder);

// Lists the visible files of the folder (extended by the sub-path when it is not empty) that
// suit the wanted kind into ConversionFileList: exchange files and the others by extension,
// host documents whatever their extension; with recursive, sub-folders too (never through a
// symbolic link). A folder that is a file lists itself. Answers the list's size; with findOne,
// 1 as soon as one of the folder's own files suits (host documents when the host opens them),
// else 0.
int32_t ScanFolder(const HostFileSpec& folder, FileKind wanted, bool recursive, bool findOne,
                   const std::string& subPath);

// True when the folder (extended by the sub-folder name when that is not empty) itself holds
// a file of the kind (0 "qxp", 1 "qxd", 2 "dwq", 3 "pdf"); host documents count only when
// the host opens them.
bool CollectSourceFiles(const HostFileSpec& folder, int32_t fileKind, bool recursive,
                        const std::string& subFolder);

// The target of one listed source file of a run: the target root of the conversion kind, the
// source root's folder name and the file's sub-folders below the root as the settings ask, and
// the file's name with the target kind's extension.
std::string FolderRunTarget(const std::string& sourceFile, const std::string& sourceRoot, ConversionKind kind);

// With the target kind's overwrite switch on, looks at the existing targets that the run will
// write again: never a listed file itself, never one named after a file of another of the module's
// kinds (an exchange file or a PDF beside the documents). Those that are write-protected are
// listed in ProtectedTargetList; the others stay until their conversion's complete result takes
// their place. Answers the number that may be replaced.
int32_t CountProtectedTargets(const std::string& sourceRoot, ConversionKind kind);
// Tells that `count` targets are write-protected and stay as they are (a message box, which an
// unattended run logs).
void ShowProtectedTargets(std::size_t count);

// Shows "n of count" of a run in its progress dialog and remembers it; kinds from Invalid on
// show nothing.
void ShowConversionProgress(XTHandle dialog, int32_t count, int32_t number, const std::string& name,
                            ConversionKind kind);
// Shows the remembered progress again.
void RefreshConversionProgress();
