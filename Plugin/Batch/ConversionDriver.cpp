#include "Plugin/Batch/ConversionDriver.h"

#include <exception>

#include "Foundation/Log.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Batch/FolderUtils.h"
#include "Plugin/Batch/HostFiles.h"
#include "Plugin/Batch/PdfCreation.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/MessageBox.h"
#include "Plugin/Mixer/Progress.h"
#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/HostSuites.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/fs/TempFiles.h"

ModuleGlobal<ConversionProgressState> ConversionProgress;

namespace {

// The host's open option value of a conversion's source document.
constexpr int32_t kConversionOpenOptions = 31;
// The code the driver's diagnostics go to debug_check with.
constexpr int32_t kDriverDiagnostic = 12;

// The server entry probes the host's PDF naming at most once per process, apart from the
// folder runs' own probe.
bool ServerPdfProbeDone = false;

template <class Button>
void FireButton(RefPtr<Button> button, XTVoidRec* rec)
{
    if (button)
        button->ActionPerformed(rec);
}

// Fires the command of a job and answers whether it converted: by its own verdict (the result it
// showed or logged) and by a new file at the target. A command that failed but wrote the target
// sets `partlyWritten`.
template <class Fire>
bool FireForTarget(const std::string& target, Fire fire, bool* partlyWritten)
{
    const FileVersion before = VersionOf(target);
    ForgetCommandResult();
    fire();
    const DialogKind verdict = LastCommandResult();
    const bool failed = verdict == DialogKind::ExportFailed || verdict == DialogKind::ImportFailed;
    const bool written = NewFileWritten(target, before);
    if (partlyWritten)
        *partlyWritten = failed && written;
    return written && !failed;
}

// Opens the job's source, guards the target, fires the command and answers whether the command
// converted.
template <class Fire>
bool ConvertFromDocument(bool allowReplace, Fire fire, bool* partlyWritten)
{
    HostFileSpec source{};
    if (CurrentJob->source.GetHostSpec(source) != 0)
        return false;
    if (OpenHostDocument(&source, kConversionOpenOptions) != 0)
        return false;
    // An existing target stays until the command's complete result takes its place, so a
    // command that fails leaves it as it was.
    const std::string target = CurrentJob->target.GetPath();
    if (PathExists(target) && (!allowReplace || IsWriteProtected(target))) {
        CloseProject(-1, 1);
        return false;
    }
    return FireForTarget(target, fire, partlyWritten);
}

// A path the system cannot take fails the conversion with a line in the general log, rather
// than letting the host cut it or name something else.
bool PathsFit(const ConversionJob& job)
{
    for (const ConvFileSpec* spec : {&job.source, &job.target}) {
        if (spec->GetPath().size() > kLongestPath) {
            GeneralLogStream() << "\nNot converted: the path is longer than " << kLongestPath
                               << " bytes: \"" << ConcealSecret(spec->GetPath()) << "\"" << std::endl;
            return false;
        }
    }
    return true;
}

bool SetPathReported(ConvFileSpec& spec, const std::string& path, const char* failure)
{
    if (spec.SetPath(path) == 0)
        return true;
    debug_check(kDriverDiagnostic, failure);
    return false;
}

} // namespace

RefPtr<MenuButton<6>> GetExportCoordinatesButton()
{
    return ClassObject<MenuButton<6>>::Instance();
}

RefPtr<MenuButton<7>> GetExportXTagsButton()
{
    return ClassObject<MenuButton<7>>::Instance();
}

RefPtr<MenuButton<15>> GetImportFileButton()
{
    return ClassObject<MenuButton<15>>::Instance();
}

void FireExportCoordinatesButton(XTVoidRec* rec)
{
    FireButton(GetExportCoordinatesButton(), rec);
}

void FireExportXTagsButton(XTVoidRec* rec)
{
    FireButton(GetExportXTagsButton(), rec);
}

void FireImportFileButton(XTVoidRec* rec)
{
    FireButton(GetImportFileButton(), rec);
}

bool ConvertToExchangeFile(bool* partlyWritten)
{
    return ConvertFromDocument(OverwriteFlags.exchangeFile, [] { FireExportCurrentDocumentButton(nullptr); },
                               partlyWritten);
}

bool ConvertToCoordinates(bool* partlyWritten)
{
    return ConvertFromDocument(OverwriteFlags.coordinates, [] { FireExportCoordinatesButton(nullptr); },
                               partlyWritten);
}

bool ConvertToXTags(bool* partlyWritten)
{
    return ConvertFromDocument(OverwriteFlags.xtags, [] { FireExportXTagsButton(nullptr); }, partlyWritten);
}

bool ConvertToDocument(bool* partlyWritten)
{
    ConversionJob& job = *CurrentJob;
    const FileKind targetKind = job.target.GetKind();
    if (job.source.GetKind() != FileKind::Dwq || (targetKind != FileKind::Qxp && targetKind != FileKind::Qxd) ||
        job.kind != ConversionKind::ToDocument)
        return false;
    HostFileSpec source{};
    if (job.source.GetHostSpec(source) != 0)
        return false;
    // The import command reads its source from here.
    SavedSourceSpec = source;
    const std::string target = job.target.GetPath();
    *ImportTargetPath = target;
    // As for the exports, an existing target stays until the import's complete document takes
    // its place.
    if (PathExists(target) && (!OverwriteFlags.document || IsWriteProtected(target)))
        return false;
    return FireForTarget(target, [] { FireImportFileButton(nullptr); }, partlyWritten);
}

bool ConvertJob(ConversionJob& job, bool* partlyWritten)
{
    if (partlyWritten)
        *partlyWritten = false;
    try {
        if (!PathsFit(job) || !job.IsValid(job.kind == ConversionKind::ToDocument))
            return false;
        bool converted = false;
        switch (job.kind) {
        case ConversionKind::ToExchange: converted = ConvertToExchangeFile(partlyWritten); break;
        case ConversionKind::ToPdf: converted = CreatePdf(false); break;
        case ConversionKind::ToCoordinates: converted = ConvertToCoordinates(partlyWritten); break;
        case ConversionKind::ToXTags: converted = ConvertToXTags(partlyWritten); break;
        case ConversionKind::ToDocument: converted = ConvertToDocument(partlyWritten); break;
        default: break;
        }
        // The host writes some targets itself (a PDF): their names, too, are made durable
        // before the run reports them.
        if (converted)
            platform::fs::DeferFolderSync(job.target.GetPath());
        return converted;
    } catch (...) {
        ShowMessageBox(kAlertResource, "Conversion failed for file: ", job.source.GetPath(), "", "", false, false,
                       false);
        return false;
    }
}

std::string PartlyWrittenNote(ConversionKind kind, const std::string& target)
{
    if (target.empty())
        return std::string();
    return std::string(kind == ConversionKind::ToDocument ? ": partly imported into \"" : ": partly written to \"") +
           ConcealSecret(target) + "\"";
}

void ResetConversionGlobals()
{
    if (ConversionProgressState* progress = ConversionProgress.GetIf())
        *progress = ConversionProgressState();
    if (auto* files = ConversionFileList.GetIf())
        files->clear();
    SetAlertText("", "", "", "");
}

ConversionProgressScope::ConversionProgressScope() : m_dialog(OpenProgressDialog())
{
    if (ConversionProgressState* progress = ConversionProgress.GetIf())
        progress->dialog = m_dialog;
}

ConversionProgressScope::~ConversionProgressScope()
{
    if (m_dialog)
        CallHost<XCF_CloseModeless>(m_dialog);
    ResetConversionGlobals();
}

bool FolderUtils::ProcessConversion(const ustring& sourcePathText, const ustring& targetPathText,
                                    FileKind sourceKind, FileKind targetKind)
{
    const std::string sourcePath = ToStdString(sourcePathText);
    const std::string targetPath = ToStdString(targetPathText);
    // The server converts without asking, whatever the earlier runs chose.
    OverwriteFlags.document = OverwriteFlags.exchangeFile = OverwriteFlags.pdf = OverwriteFlags.coordinates =
        OverwriteFlags.xtags = true;
    const ConversionKind kind = ConversionKindOf(sourceKind, targetKind, FileKind::None);
    if (kind == ConversionKind::Invalid)
        return false;

    const ConversionProgressScope progress;
    ConversionJob& job = *CurrentJob;
    job.Reset();
    job.kind = kind;
    job.SetFileTypes();
    if (!SetPathReported(job.source, sourcePath, "Set source error => conversion failed!"))
        return false;
    std::string folder;
    std::string name;
    if (!SplitPathAtBackslash(sourcePath, folder, name, nullptr, false))
        debug_check(kDriverDiagnostic, "Split path error => conversion failed!");
    ShowConversionProgress(progress.Dialog(), 1, 1, name, kind);
    if (!SetPathReported(job.target, targetPath, "Set target error => conversion failed!"))
        return false;

    if (kind == ConversionKind::ToPdf && PdfMode == 3) {
        std::string targetFolder;
        std::string targetName;
        if (SplitPathAtBackslash(targetPath, targetFolder, targetName, nullptr, false))
            *PdfTargetFolder = targetFolder;
        else
            debug_check(kDriverDiagnostic, "Split path error => conversion failed!");
        if (!ServerPdfProbeDone) {
            ServerPdfProbeDone = true;
            const ConversionJob saved = job;
            try {
                PdfMode = PreparePdfMode(3);
            } catch (...) {
                debug_check(kDriverDiagnostic, "PDF-Mode check failed => using default values");
            }
            job = saved;
        }
    }

    bool converted = false;
    bool partlyWritten = false;
    try {
        converted = ConvertJob(job, &partlyWritten);
        if (!converted)
            debug_check(kDriverDiagnostic, (job.source.GetName() + " not converted!").c_str());
    } catch (...) {
        ShowMessageBox(kAlertResource, "Conversion failed for file: ", job.source.GetName(), "", "", false, false,
                       false);
    }
    // The general log names the file whatever stopped it; the command's own lines say why.
    if (!converted)
        GeneralLogStream() << "\nNot converted: \"" << ConcealSecret(sourcePath) << "\""
                           << PartlyWrittenNote(kind, partlyWritten ? targetPath : std::string()) << std::endl;
    if (progress.Dialog())
        RefreshProgressDialog(progress.Dialog());
    return converted;
}

void RegisterConversionGlobals()
{
    ModuleGlobals::Register(
        GlobalStep::FolderRunFileLists,
        [] {
            ConversionFileList.Build();
            ProtectedTargetList.Build();
        },
        [] {
            ProtectedTargetList.Destroy();
            ConversionFileList.Destroy();
        });
    ModuleGlobals::Register(
        GlobalStep::CommandStrings,
        [] {
            PdfTargetFolder.Build();
            ConversionProgress.Build();
        },
        [] {
            ConversionProgress.Destroy();
            PdfTargetFolder.Destroy();
        });
}
