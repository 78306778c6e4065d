// Stand-ins for the services of the subsystems that this build does not contain yet: host
// document access, document export and import, and batch and folder conversion. Each one says
// in the general log that it is not available and never reports success. The real implementations replace this file in the module's link.
#include <cctype>
#include <filesystem>
#include <string>

#include "Foundation/Log.h"
#include "Plugin/Batch/BatchStatusFile.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Batch/FolderUtils.h"
#include "Plugin/Mixer/HostHooks.h"
#include "Plugin/Shell/Commands.h"
#include "SHARED/Server/CnvTools/PathUtils.h"

namespace {

void NotAvailable(const std::string& what)
{
    GeneralLogStream() << "\n" << what << ": not available in this build" << std::endl;
}

} // namespace

// ---- Document export and import ------------------------------------------------------------

template <>
void CommandAdapter<13>::ActionPerformed(XTVoidRec*)
{
    NotAvailable("Export of paragraph coordinates");
}

template <>
void CommandAdapter<14>::ActionPerformed(XTVoidRec*)
{
    NotAvailable("Export of XTags");
}

// ---- Batch and folder conversion -----------------------------------------------------------

template <>
void IdleAdapter<12>::ActionPerformed(XTIdleRec*)
{
    NotAvailable("Batch export step");
}

template <>
void IdleAdapter<18>::ActionPerformed(XTIdleRec*)
{
    NotAvailable("Batch import step");
}

HostFileSpec SavedFolderSpec{};
HostFileSpec SavedSourceSpec{};
HostFileSpec SavedTargetSpec{};
std::string PdfTargetFolderPath;
bool AnnounceConversionFinished = true;

namespace {

std::string PathOf(const HostFileSpec& spec)
{
    std::string path;
    return FileSpecToPath(path, spec, false) == 0 ? path : "(" + FileSpecName(spec) + ")";
}

// The call of a folder run, with its folders and switches, so that a run of the dialogs can be
// followed in the general log.
void FolderRunNotAvailable(const char* run, const HostFileSpec& source, const HostFileSpec& target,
                           bool recursive)
{
    NotAvailable(std::string(run) + " from \"" + PathOf(source) + "\" into \"" + PathOf(target) +
                 "\" (recursive " + (recursive ? "on" : "off") + ", overwrite documents " +
                 (OverwriteFlags.document ? "on" : "off") + ", DWQ " +
                 (OverwriteFlags.exchangeFile ? "on" : "off") + ", PDF " +
                 (OverwriteFlags.pdf ? "on" : "off") + ", PDF folder \"" + PdfTargetFolderPath +
                 "\", announce " + (AnnounceConversionFinished ? "on" : "off") + ")");
}

} // namespace

void ExportFolder(const HostFileSpec& target, bool recursive)
{
    FolderRunNotAvailable("Folder export to DWQ", SavedFolderSpec, target, recursive);
}

void ExportFolderToPdf(const HostFileSpec& target, bool recursive)
{
    FolderRunNotAvailable("Folder export to PDF", SavedFolderSpec, target, recursive);
}

void ImportFolder(const HostFileSpec&, bool recursive)
{
    FolderRunNotAvailable("Folder import", SavedSourceSpec, SavedTargetSpec, recursive);
}

// Looks only at the extensions of the folder's own files, which is enough to ask the
// overwrite questions.
bool CollectSourceFiles(const HostFileSpec& folder, int32_t fileKind, bool, const std::string& subFolder)
{
    static const char* const kExtensions[] = {".qxp", ".qxd", ".dwq", ".pdf"};
    if (fileKind < 0 || fileKind > 3)
        return false;
    std::string path;
    if (FileSpecToPath(path, folder, false) != 0)
        return false;
    if (!subFolder.empty())
        path = JoinPath(path, subFolder);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (entry.is_regular_file(error) && extension == kExtensions[fileKind])
            return true;
    }
    return false;
}

bool ActivateBatchIfPending(BatchStatusFile&)
{
    NotAvailable("Batch activation");
    return false;
}

bool FolderUtils::ProcessConversion(const ustring& sourcePath, const ustring& targetPath, FileKind, FileKind)
{
    NotAvailable("Conversion of \"" + ToStdString(sourcePath) + "\" into \"" + ToStdString(targetPath) + "\"");
    return false;
}

