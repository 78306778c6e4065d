// The folders that the folder runs convert from and into.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/HostServices.h"

// The source folder of the export folder runs.
extern HostFileSpec SavedFolderSpec;
// The folders chosen in the folder-run dialogs.
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

// The folder of the PDF targets of a folder run.
extern std::string PdfTargetFolderPath;
// A folder run ends with the message "Conversion finished." only while this is set.
extern bool AnnounceConversionFinished;

// Folder runs: host documents of SavedFolderSpec to exchange files or to PDF in the target
// folder, and exchange files of SavedSourceSpec back to host documents in SavedTargetSpec (the
// import's specification argument is not used).
void ExportFolder(const HostFileSpec& target, bool recursive);
void ExportFolderToPdf(const HostFileSpec& target, bool recursive);
void ImportFolder(const HostFileSpec& unused, bool recursive);

// True when the folder, extended by the sub-folder name when that is not empty, itself holds a
// file of the kind (0 "qxp", 1 "qxd", 2 "dwq", 3 "pdf"); with recursive its sub-folders are
// walked as well, but decide nothing.
bool CollectSourceFiles(const HostFileSpec& folder, int32_t fileKind, bool recursive,
                        const std::string& subFolder);
