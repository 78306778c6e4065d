#include "Plugin/Batch/PdfCreation.h"

#include <cerrno>
#include <chrono>
#include <iomanip>
#include <optional>
#include <set>
#include <ostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>

#include "Foundation/Log.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Batch/HostFileObject.h"
#include "Plugin/Batch/HostFiles.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/PdfComponent.h"
#include "Plugin/Mixer/PdfOutput.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/Shell/HostSuites.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/fs/Sweep.h"
#include "platform/host/documents/XTDocSuites.h"

uint8_t PdfHookActive = 0;

namespace {

// The open option value of the conversions.
constexpr int32_t kOpenOptions = 31;
// Every page of the layout.
constexpr int32_t kAllPages = 0xFFFF;
constexpr int32_t kPoint = 1 << 16;

// PdfHookActive is 1 exactly while a creation runs, whichever way it ends.
class HookActivation {
public:
    HookActivation() { PdfHookActive = 1; }
    ~HookActivation() { PdfHookActive = 0; }
    HookActivation(const HookActivation&) = delete;
    HookActivation& operator=(const HookActivation&) = delete;
};

// The fields are padded apart from the shared stream, whose alignment other writers rely on.
std::ostream& LogLine(const std::string& label, const std::string& text)
{
    std::ostringstream line;
    line << std::left << std::setw(10) << label << std::setw(70) << text;
    return GeneralLogStream() << line.str() << std::endl;
}

void LogRule()
{
    GeneralLogStream() << std::string(80, '*') << std::endl;
}

// A fresh folder of the probe's own under the host's temporary folder, held for as long as the
// probe runs; empty when none could be made. The folders that killed hosts left there go first,
// once per process and folder: the host's temporary folder may be large, and a host leaves at
// most the one folder of its probe.
std::string MakeProbeFolder(platform::fs::OwnedLock& lock)
{
    static std::set<std::string> swept;
    const std::string temp = GetHostTempPath();
    if (temp.empty())
        return std::string();
    if (swept.insert(temp).second)
        platform::fs::SweepOwned(temp, platform::fs::NameForm{platform::fs::OwnedKind::ProbeFolder, ""});
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string folder = JoinPath(temp, platform::fs::kProbePrefix + std::to_string(::getpid()) + "_" +
                                                      std::to_string(stamp) + "_" + std::to_string(attempt));
        const int error = platform::fs::MakeOwnedFolder(folder, lock);
        if (error == 0)
            return folder;
        if (error != EEXIST)
            break;
    }
    return std::string();
}

// The probe leaves the job and its folder as it found them, whichever way it ends.
class ProbeScope {
public:
    ProbeScope(std::string folder, platform::fs::OwnedLock lock)
        : m_job(*CurrentJob), m_folder(std::move(folder)), m_lock(std::move(lock))
    {
    }
    ~ProbeScope()
    {
        *CurrentJob = m_job;
        platform::fs::RemoveTree(m_folder);
    }
    ProbeScope(const ProbeScope&) = delete;
    ProbeScope& operator=(const ProbeScope&) = delete;

private:
    const ConversionJob m_job;
    const std::string m_folder;
    const platform::fs::OwnedLock m_lock;
};

// The probe itself; folder is its own fresh folder.
int32_t ProbeIn(const std::string& folder)
{
    // The host names a project by its file, so the project gets its name by the save below.
    XTHandle project = 0;
    if (CallHost<XPK_NewProject>("Dummy Print Layout", XT_FOURCC('X', 'D', 'O', 'C'), 792 * kPoint, 576 * kPoint,
                                 36 * kPoint, &project) != XT_OK) {
        debug_check(kHostLayerFailure, "PreparePdfMode: no probe project");
        return 0;
    }
    // The page needs content, or no page is written.
    const XTRect bounds{0x900000, 0x900000, 0xD80000, 0xD80000};
    XTHandle box = 0;
    CallHost<XPK_NewBox>(&bounds, &box);

    const std::string saved = JoinPath(folder, std::string("dummy") + DotString + QxpExtension);
    int32_t result = kHostLayerFailure;
    {
        ConvFileSpec file;
        HostFileSpec spec{};
        file.SetPath(saved);
        if (file.GetHostSpec(spec) == XT_OK)
            result = SaveProjectTo(spec);
    }
    if (result != XT_OK) {
        CloseProject(project, 1);
        debug_check(result, "PreparePdfMode: the probe project could not be saved");
        return 0;
    }

    HostFileSpec target{};
    std::string targetPath;
    CurrentJob->source.SetPath(saved);
    if (CurrentJob->source.GetHostSpec(target) == XT_OK && ResolveHostFileSpec(target, "pdf") == XT_OK &&
        FileSpecToPath(targetPath, target, false) == XT_OK && CurrentJob->target.SetPath(targetPath) == XT_OK)
        CreatePdf(true);
    // The creation closed the project already when it opened the saved file as this one.
    CloseProject(project, 1);
    RemoveHostFile(saved);

    // Only a removal that succeeded proves the file was there.
    if (RemoveHostFile(JoinPath(folder, std::string("dummy") + DotString + "pdf")) == XT_OK)
        return 1;
    return RemoveHostFile(JoinPath(folder, std::string("dummy"))) == XT_OK ? 2 : 0;
}

} // namespace

bool CreatePdf(bool probe)
{
    if (probe)
        for (int32_t style : {PdfStyleHigh, PdfStyleMedium, PdfStyleLow})
            InstallPdfOutputStyle(style);
    HookActivation active;

    const std::string source = CurrentJob->GetSource().GetPath();
    const std::string target = CurrentJob->GetTarget().GetPath();
    if (!probe) {
        GeneralLogStream() << std::endl;
        LogRule();
        GeneralLogStream() << HostTimeStamp(false, true, true) << std::endl;
        GeneralLogStream() << "Starting PDF creation ..." << std::endl;
        // A server client's path may hold the server's password, which no log shows.
        LogLine("Source:", ConcealSecret(source));
        LogLine("Target:", ConcealSecret(target));
    }

    HostFileSpec spec{};
    int32_t result = CurrentJob->GetSource().GetHostSpec(spec);
    std::optional<HostFileObject> file;
    if (result == XT_OK) {
        file.emplace();
        result = file->Result();
    }
    if (result == XT_OK)
        result = CallHost<XFJ_SetFileSpec>(file->Ref(), &spec);
    if (result == XT_OK)
        result = CallHost<XDD_OpenDocument>(file->Ref(), kOpenOptions);
    if (result != XT_OK) {
        if (!probe) {
            LogLine("ERROR:", "Unable to open apparently invalid source file!");
            LogLine(" => ", "Skipping PDF creation.");
        }
        return false;
    }

    // The host's export puts a complete PDF in place of an existing one, so a failed export
    // leaves that one as it was; a write-protected one is not replaced at all.
    const bool existed = PathExists(target);
    const std::string protection = WriteProtection(target);
    const bool protectedTarget = !protection.empty();
    if (existed && (!OverwriteFlags.pdf || protectedTarget)) {
        CloseProject(-1, 1);
        if (!probe) {
            LogLine("WARNING:", "Target already exists!");
            LogLine("NOTICE:", protectedTarget ? "Target is write-protected: " + protection + "."
                                               : std::string("Overwrite mode disabled by user."));
            LogLine(" => ", "Skipping PDF creation.");
        }
        return false;
    }
    const FileVersion before = VersionOf(target);

    const int32_t exported = CallXpdf<XTPdfExportFn>(XT_PDF_EXPORT, xt_getdocref(),
                                                    static_cast<uint32_t>(XT_COMPONENT_XPDF), kAllPages);
    // The host's export redraws its own progress over the run's: the run's comes back.
    RefreshConversionProgress();
    const int32_t closed = CloseProject(-1, 1);
    file.reset();

    std::string folder, name;
    if (SplitPathAtBackslash(target, folder, name, nullptr, false) &&
        RemoveHostFile(JoinPath(folder, name + "_pdf.log")) != XT_OK)
        debug_check(kHostLayerFailure, "Could not remove PDF log file!");

    // A closed document alone says nothing of the PDF: the export must have answered 0 and
    // left a PDF where the job asked for it.
    const bool created = exported == XT_OK && closed == XT_OK && NewFileWritten(target, before);
    if (!probe) {
        if (created) {
            GeneralLogStream() << HostTimeStamp(false, true, true) << std::endl;
            GeneralLogStream() << "... finished." << std::endl;
            LogRule();
        } else {
            LogLine("ERROR:", "PDF creation failed!");
        }
    }
    return created;
}

int32_t PreparePdfMode(int32_t mode)
{
    if (mode == 0 || mode == 2)
        return 0;
    if (mode != 3)
        return 3;
    // The probe must not touch a user's or a client's folder: it works in a folder of its own.
    platform::fs::OwnedLock lock;
    const std::string folder = MakeProbeFolder(lock);
    if (folder.empty()) {
        debug_check(kHostLayerFailure, "PreparePdfMode: no folder for the probe");
        return 0;
    }
    const ProbeScope scope(folder, std::move(lock));
    return ProbeIn(folder);
}
