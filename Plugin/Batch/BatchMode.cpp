#include "Plugin/Batch/BatchMode.h"

#include <ostream>
#include <string>

#include "Foundation/Log.h"
#include "Plugin/Batch/BatchStatusFile.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostFileServices.h"

namespace {

// The host file record of a path the status file names. An empty or unusable path never leaves
// the record of an earlier run or dialog in use: the step then does not start that run and says
// why in the general log.
bool MakeBatchSpec(const char* step, const char* key, const std::string& path, HostFileSpec& spec)
{
    spec = HostFileSpec{};
    if (!path.empty() && xt_fsmakefsspec(0, 0, path.c_str(), &spec) == 0)
        return true;
    spec = HostFileSpec{};
    GeneralLogStream() << "\n" << step << ": the " << key << " path \"" << path
                       << "\" cannot be used; the run does not start." << std::endl;
    return false;
}

// The status file of a step that may run: valid, with a mode other than None and Done.
BatchStatusFile* StepStatus()
{
    BatchStatusFile* status = BatchStatus.GetIf();
    if (!status || !status->IsValid())
        return nullptr;
    const BatchMode mode = status->GetMode();
    return mode == BatchMode::None || mode == BatchMode::Done ? nullptr : status;
}

// The three paths of a step that may run.
struct StepPaths {
    BatchStatusFile* status = nullptr;
    std::string source;
    std::string target;
    std::string pdfDir;
};

StepPaths ReadStepPaths()
{
    StepPaths paths;
    paths.status = StepStatus();
    if (paths.status)
        paths.status->GetPaths(paths.source, paths.target, paths.pdfDir);
    return paths;
}

bool RecursiveRun(BatchStatusFile& status)
{
    return status.HasPendingJob() && status.IsRecursive();
}

void AllowReplacing()
{
    OverwriteFlags.document = true;
    OverwriteFlags.exchangeFile = true;
    OverwriteFlags.pdf = true;
}

} // namespace

bool BatchJobRunning()
{
    return StepStatus() != nullptr;
}

void BatchCountUpdate(int32_t fileNumber)
{
    if (BatchStatusFile* status = StepStatus())
        status->SetCount(fileNumber, true, true);
}

bool ActivateBatchIfPending(BatchStatusFile& status)
{
    if (!status.HasPendingJob())
        return false;
    return status.SetActive(true, true, true);
}

template <>
void IdleAdapter<12>::ActionPerformed(XTIdleRec*)
{
    static const char kStep[] = "Batch export step";
    const StepPaths paths = ReadStepPaths();
    if (!paths.status)
        return;
    const bool exportWanted = !paths.source.empty() && !paths.target.empty();
    const bool pdfWanted = !paths.source.empty() && !paths.pdfDir.empty();
    if (!exportWanted && !pdfWanted)
        return;
    SavedSourceSpec = HostFileSpec{};
    if (!MakeBatchSpec(kStep, "Source", paths.source, SavedFolderSpec))
        return;
    AllowReplacing();
    const bool recursive = RecursiveRun(*paths.status);
    if (exportWanted && MakeBatchSpec(kStep, "Target", paths.target, SavedSourceSpec))
        ExportFolder(SavedSourceSpec, recursive);
    // The PDFs go to PdfDir, not below the exchange files' target.
    HostFileSpec pdfSpec{};
    if (pdfWanted && MakeBatchSpec(kStep, "PdfDir", paths.pdfDir, pdfSpec)) {
        *PdfTargetFolder = paths.pdfDir;
        ExportFolderToPdf(pdfSpec, recursive);
    }
}

template <>
void IdleAdapter<18>::ActionPerformed(XTIdleRec*)
{
    static const char kStep[] = "Batch import step";
    const StepPaths paths = ReadStepPaths();
    if (!paths.status || !MakeBatchSpec(kStep, "Source", paths.source, SavedSourceSpec) ||
        !MakeBatchSpec(kStep, "Target", paths.target, SavedTargetSpec))
        return;
    AllowReplacing();
    ImportFolder(SavedSourceSpec, RecursiveRun(*paths.status));
}
