#include "Plugin/Batch/BatchMode.h"

#include <ostream>
#include <string>

#include "Foundation/Log.h"
#include "Plugin/Batch/BatchStatusFile.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostFileServices.h"

namespace {

// The host file record of a path the status file names; a missing Target or PdfDir folder is
// made first, as a folder run makes its target folders. Answers why the path cannot be used,
// empty when it can. An empty or unusable path never leaves the record of an earlier run or
// dialog in use.
std::string MakeBatchSpec(const char* key, const std::string& path, bool targetFolder, HostFileSpec& spec)
{
    spec = HostFileSpec{};
    if (!path.empty() && (!targetFolder || MakeMissingFolder(path)) && xt_fsmakefsspec(0, 0, path.c_str(), &spec) == 0)
        return std::string();
    spec = HostFileSpec{};
    return std::string("the ") + key + " path \"" + path + "\" cannot be used";
}

// A job that cannot run says why in the general log and in its status file, whose archive
// would otherwise look like that of a job that ran.
void RefuseJob(BatchStatusFile& status, const char* step, const std::string& reason)
{
    GeneralLogStream() << "\n" << step << ": " << reason << "; the run does not start." << std::endl;
    status.SetError(reason);
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

// The status file of a step: one that names a job, which runs when it is valid and is refused
// with its reason when it is not.
BatchStatusFile* JobStatus()
{
    BatchStatusFile* status = BatchStatus.GetIf();
    return status && status->NamesJob() ? status : nullptr;
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
    paths.status = JobStatus();
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
    // A job that cannot run is activated too: its step refuses it and archives the reason, so
    // that its controller does not wait for ever.
    if (!status.NamesJob() || !status.Claim())
        return false;
    // Read again under the claim: a host that held it until now may have finished the job.
    if (status.Reread() && status.NamesJob() && status.Activate())
        return true;
    status.ReleaseClaim();
    return false;
}

template <>
void IdleAdapter<12>::ActionPerformed(XTIdleRec*)
{
    static const char kStep[] = "Batch export step";
    const StepPaths paths = ReadStepPaths();
    if (!paths.status)
        return;
    // Without a PdfDir the Target is wanted, so that a job that names neither is refused for
    // its Target, as is one without a Source for its Source.
    const bool pdfWanted = !paths.pdfDir.empty();
    const bool exportWanted = !paths.target.empty() || !pdfWanted;
    // Every folder is checked before anything converts: a job runs whole or not at all.
    SavedSourceSpec = HostFileSpec{};
    HostFileSpec pdfSpec{};
    std::string refused = MakeBatchSpec("Source", paths.source, false, SavedFolderSpec);
    if (refused.empty() && exportWanted)
        refused = MakeBatchSpec("Target", paths.target, true, SavedSourceSpec);
    if (refused.empty() && pdfWanted)
        refused = MakeBatchSpec("PdfDir", paths.pdfDir, true, pdfSpec);
    if (!refused.empty()) {
        SavedFolderSpec = SavedSourceSpec = HostFileSpec{};
        RefuseJob(*paths.status, kStep, refused);
        return;
    }
    AllowReplacing();
    const bool recursive = RecursiveRun(*paths.status);
    if (exportWanted)
        ExportFolder(SavedSourceSpec, recursive);
    // The PDFs go to PdfDir, not below the exchange files' target.
    if (pdfWanted) {
        *PdfTargetFolder = paths.pdfDir;
        ExportFolderToPdf(pdfSpec, recursive);
    }
}

template <>
void IdleAdapter<18>::ActionPerformed(XTIdleRec*)
{
    static const char kStep[] = "Batch import step";
    const StepPaths paths = ReadStepPaths();
    if (!paths.status)
        return;
    std::string refused = MakeBatchSpec("Source", paths.source, false, SavedSourceSpec);
    if (refused.empty())
        refused = MakeBatchSpec("Target", paths.target, true, SavedTargetSpec);
    if (!refused.empty()) {
        SavedSourceSpec = SavedTargetSpec = HostFileSpec{};
        RefuseJob(*paths.status, kStep, refused);
        return;
    }
    AllowReplacing();
    ImportFolder(SavedSourceSpec, RecursiveRun(*paths.status));
}
