#include "Plugin/Filter/ExportProto.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <ostream>
#include <string>

#include "Container/Storage/Errors.h"
#include "Foundation/ErrorCodes.h"
#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Batch/BatchRequest.h"
#include "Plugin/Batch/BatchStatusFile.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Batch/HostFiles.h"
#include "Plugin/Exchange/DWX_Export.h"
#include "Plugin/Filter/Exporter.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/MessageBox.h"
#include "Plugin/Mixer/Progress.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/FileDialogs.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoException.h"
#include "Plugin/Shell/KestoInterface.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/host/documents/XTDocSuites.h"

SaveAnswerMemory RememberedSaveAnswer;

namespace {

constexpr int32_t kEndOfFile = -39;
constexpr int32_t kReadPermission = 1;
constexpr int32_t kMessageBoxRes = 22100;
constexpr int32_t kChangedDocumentAlert = 22200;
constexpr int32_t kContinue = 2;
constexpr int32_t kSaveCancelled = 1;
constexpr uint32_t kWriterDoneProgress = 85;
constexpr int32_t kCurrentProject = -1;
constexpr char kUnsavedName[] = "New Unsaved Document";
constexpr char kUnsetTarget[] = "<YET UNSET>";

// ---- Run signs ---------------------------------------------------------------------------------

bool MultiDocRun()
{
    return KestoInterface::Instance()->m_multiDocMode;
}

bool ServerRun()
{
    return KestoInterface::Instance()->m_serverMode;
}

// A valid batch status file whose job is under way.
bool BatchStatusRun()
{
    BatchStatusFile* status = BatchStatus.GetIf();
    if (!status || !status->IsValid())
        return false;
    const BatchMode mode = status->GetMode();
    return mode != BatchMode::None && mode != BatchMode::Done;
}

bool BatchOrServerRun()
{
    return BatchStatusRun() || ServerRun();
}

// Nobody sits at the host: the target comes from the job.
bool UnattendedTarget()
{
    if (MultiDocRun() || IsBatchRequested() || ServerRun())
        return true;
    BatchStatusFile* status = BatchStatus.GetIf();
    return status && status->HasPendingJob();
}

bool UnattendedResult()
{
    return MultiDocRun() || IsBatchRequested() || BatchStatusRun() || ServerRun();
}

// ---- General log -------------------------------------------------------------------------------

std::string LeftAligned(const std::string& text, size_t width)
{
    return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

void LogLine(const std::string& line)
{
    GeneralLogStream() << line << std::endl;
}

std::string FileLine(const char* label, const std::string& path)
{
    return LeftAligned(label, 10) + LeftAligned(path, 70);
}

std::string StarLine()
{
    return std::string(80, '*');
}

std::string TimeStamp()
{
    return HostTimeStamp(false, true, true);
}

std::string TargetText()
{
    const std::string target = CurrentJob->target.GetPath();
    return target.empty() ? kUnsetTarget : target;
}

void LogBanner()
{
    LogLine("");
    LogLine(StarLine());
    LogLine(TimeStamp());
    LogLine("Starting export ...");
    LogLine(FileLine("Source:", CurrentJob->source.GetPath()));
    LogLine(FileLine("Target:", TargetText()));
}

void LogClosing()
{
    LogLine("... finished.");
    LogLine(TimeStamp());
    LogLine(StarLine());
}

// The text of whatever left the command, for the log.
std::string CaughtText()
{
    try {
        throw;
    } catch (const KestoException& e) {
        const char* name = ErrorCodeName(e.GetCode());
        return std::string(name ? name : "") + "<" + std::to_string(e.GetCode()) + ">:\t" + e.GetText().Text() +
               "\n";
    } catch (const FilterException& e) {
        return "<" + std::to_string(e.Code()) + ">:\t" + (e.Text() ? e.Text() : "") + "\n";
    } catch (const std::bad_alloc&) {
        return "<" + std::to_string(ErrorCode::LowMemory) + ">:\t" + ErrorCodeNameOrUnknown(ErrorCode::LowMemory) +
               "\n";
    } catch (const std::exception& e) {
        return std::string("<") + std::to_string(ErrorCode::Unexpected) + ">:\t" + e.what() + "\n";
    } catch (int code) {
        return "<" + std::to_string(code) + ">:\t\n";
    } catch (...) {
        return "<" + std::to_string(ErrorCode::Unexpected) + ">:\t" + ErrorCodeNameOrUnknown(ErrorCode::Unexpected) +
               "\n";
    }
}

void LogCaught()
{
    std::ostream& log = GeneralLogStream();
    log << "\nExportProto::ActionPerformed():\t" << CaughtText();
    log.flush();
}

// ---- Dialogs -----------------------------------------------------------------------------------

void ShowResult(DialogKind dialog)
{
    ShowDialog(dialog, 0, nullptr, nullptr, false, false, false);
}

void ShowFailed()
{
    ShowResult(DialogKind::ExportFailed);
}

void ConversionFailedBox()
{
    ShowMessageBox(kMessageBoxRes, "Conversion failed for file: ", CurrentJob->source.GetName(), "", "", false, false,
                   false);
}

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

// ---- One export --------------------------------------------------------------------------------

// What a run holds; the way out restores and releases it, whatever happened.
struct ExportRun {
    UniqIdSet uniqIds;
    int32_t largestUniqID = 0;
    HostPrefs prefs;
    bool prefsSuspended = false;
    RefPtr<QuarkDoc> doc;
    HostFileSpec source{};
    HostFileSpec target{};
    bool targetMade = false;
    bool layoutsStarted = false;
    RefPtr<KS_DWX::Export::IBook> book;
    RefPtr<KS_DWX::Export::IDoc> bookDoc;
    std::unique_ptr<Exporter> exporter;

    // After a failure: the container is given up and the empty file the target choice made goes.
    void DropContainer()
    {
        exporter.reset();
        bookDoc = nullptr;
        if (book) {
            book->Abandon();
            book = nullptr;
        }
        if (!targetMade)
            return;
        std::string path;
        if (FileSpecToPath(path, target, false) != 0)
            return;
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error) && std::filesystem::file_size(path, error) == 0 && !error)
            RemoveHostFile(path);
        targetMade = false;
    }

    void Release()
    {
        exporter.reset();
        bookDoc = nullptr;
        book = nullptr;
        doc = nullptr;
        if (prefsSuspended) {
            prefsSuspended = false;
            RestoreHostPrefs(prefs);
        }
    }
};

// Finds the document's file and makes it the job's source when it is not already.
bool FindSource(ExportRun& run)
{
    if (CurDocAPI::IsUntitled()) {
        run.source = HostFileSpec{};
        SetFileSpecName(run.source, kUnsavedName);
        return true;
    }
    if (run.doc->GetSpec(&run.source) != 0)
        return false;
    std::string path;
    if (FileSpecToPath(path, run.source, false) == 0 &&
        !CompareStrings<std::string>(path, CurrentJob->source.GetPath(), false)) {
        const std::string target = CurrentJob->target.GetPath();
        CurrentJob->Reset();
        CurrentJob->kind = ConversionKind::ToExchange;
        CurrentJob->SetFileTypes();
        CurrentJob->source.SetPath(path);
        CurrentJob->target.SetPath(target);
    }
    return true;
}

// Saves a changed document, asking when somebody may answer; false stops the export.
bool SaveChangedSource(ExportRun& run)
{
    if (!run.doc->GetProjectFlag())
        return true;
    if (BatchOrServerRun()) {
        if (!run.doc->Save()) {
            LogLine("FAILED");
            return false;
        }
    } else {
        SettingsFile* settings = Settings.GetIf();
        const int32_t setting = settings ? settings->GetAutoOverwriteSource() : 0;
        const int32_t defaultAnswer =
            setting == 2 ? 2 : setting == 1 ? RememberedSaveAnswer.answer : kSaveCancelled;
        const bool askNow = setting == 1 && !RememberedSaveAnswer.remembered;
        const bool force = setting == 0 || askNow;
        int32_t answer = defaultAnswer;
        ShowDialog(DialogKind::SaveChanges, 0, &answer, &defaultAnswer, force, false, false);
        if (askNow) {
            RememberedSaveAnswer.answer = answer;
            RememberedSaveAnswer.remembered = true;
        }
        if (answer == kSaveCancelled) {
            LogLine("User pressed CANCEL or auto-saving is not allowed.");
            CloseProject(kCurrentProject, 1);
            ShowFailed();
            return false;
        }
        GeneralLogStream() << "User pressed OK or auto-saving is allowed => Trying to save file ... " << std::flush;
        if (!run.doc->Save()) {
            LogLine("FAILED");
            ShowFailed();
            return false;
        }
        LogLine("OK");
    }
    run.doc->GetSpec(&run.source);
    return true;
}

// The target: from the job when unattended, else from the save dialog; false stops the export.
bool ChooseTarget(ExportRun& run)
{
    if (UnattendedTarget()) {
        if (CurrentJob->target.CreateHostFile(run.target, OverwriteFlags.exchangeFile, XT_CREATOR_XPRESS,
                                              XT_FILETYPE_NONE) != 0) {
            CloseProject(kCurrentProject, 1);
            return false;
        }
        run.targetMade = true;
        return true;
    }
    run.target = run.source;
    if (!ChooseExportOutput(run.target)) {
        CloseProject(kCurrentProject, 1);
        SignalBeep(nullptr);
        ShowFailed();
        return false;
    }
    run.targetMade = true;
    LogLine("");
    LogLine(TimeStamp());
    LogLine("User selected missing target:");
    LogLine(FileLine("Target:", CurrentJob->target.GetPath()));
    return true;
}

int32_t LayoutKindOf(int16_t doc, int16_t current)
{
    if (doc == current)
        return kLayoutCurrent;
    uint32_t type = 0;
    if (CallHost<XPK_LayoutType>(doc, &type) == XT_OK && type == XT_FOURCC('X', 'W', 'E', 'B'))
        return kLayoutWeb;
    return kLayoutPrint;
}

// After the last layout: the run's largest id, the saved document stored in the container.
// False when the container would not carry the document as saved.
bool StoreDocument(ExportRun& run, int16_t current)
{
    CallHost<LTY_MakeLayoutCurrent>(current);
    run.book->AddAttr(u"maxuniqID", Wide(std::to_string(run.largestUniqID)).c_str());
    run.doc->SetOwns(true);
    if (!run.doc->Save()) {
        LogLine("FAILED");
        return false;
    }
    Writer writer(run.source, run.exporter->Progress());
    run.book->StoreQXP(0, &writer);
    if (!writer.IsIntact()) {
        ConversionFailedBox();
        return false;
    }
    return true;
}

// Every layout of the project into the Book's one document; false when the export failed.
bool ExportLayouts(ExportRun& run)
{
    int16_t current = -1;
    CallHost<XDD_CurrentDocId>(&current);
    XTHandle project = 0;
    int16_t count = 0;
    if (CallHost<XPK_CurrentProject>(&project) != XT_OK || CallHost<XPK_LayoutCount>(project, &count) != XT_OK)
        count = 0;
    for (int16_t i = 0; i < count; ++i) {
        int16_t layout = -1;
        CallHost<XPK_LayoutDocument>(project, i, &layout);
        run.doc->Finish();
        run.layoutsStarted = true;
        run.doc->SetIndex(static_cast<uint16_t>(layout));
        CallHost<LTY_MakeLayoutCurrent>(layout);
        run.exporter = CreateExporter(run.doc.Get(), run.bookDoc.Get(), &run.uniqIds);
        if (!run.exporter) {
            ShowMessageBox(kMessageBoxRes, "ExportProto: exporter is invalid for file: ", CurrentJob->source.GetName(),
                           "", "", false, false, false);
            return false;
        }
        run.exporter->SetLayout(LayoutKindOf(layout, current), i);
        run.exporter->ExportDocument();
        run.largestUniqID = std::max(run.largestUniqID, run.exporter->LargestUniqID());
        if (i == count - 1 && !StoreDocument(run, current))
            return false;
        run.exporter.reset();
    }
    return true;
}

// The export; every failure has been reported when it returns (an unattended run passes over
// a refused target and a failed save silently, as its driver expects).
void Export(ExportRun& run)
{
    if (CurDocAPI::NeedsSave())
        SetCurrentDocOption(1);
    SuspendHostPrefs(run.prefs);
    run.prefsSuspended = true;

    if (!CurDocAPI::IsExist()) {
        ShowFailed();
        return;
    }
    run.doc = RefPtr<QuarkDoc>(new QuarkDoc);
    if (CurDocAPI::NeedsSave())
        run.doc->RefreshFonts();
    if (!FindSource(run)) {
        ShowFailed();
        return;
    }
    LogBanner();
    if (!SaveChangedSource(run) || !ChooseTarget(run))
        return;
    if (!CurrentJob->IsValid(false))
        debug_check(1, "Warning: Invalid conversion!");

    KS_DWX::Export::CreateExportBookFromSpec(run.book, run.target);
    if (!run.book) {
        ConversionFailedBox();
        CloseProject(kCurrentProject, 1);
        run.DropContainer();
        return;
    }
    run.book->AddAttr(u"source_data_type", HostVersionString().c_str());
    run.book->CreateDocument(run.bookDoc, 0);
    run.bookDoc->AddAttr(u"source_platform", run.doc->WasFlagSet() ? u"mac" : u"win");

    if (!ExportLayouts(run)) {
        run.DropContainer();
        if (run.layoutsStarted)
            run.doc->Finish();
        ShowFailed();
        return;
    }
    // The container is complete only once its finishing call succeeded.
    run.bookDoc = nullptr;
    run.book->Finish();
    run.book = nullptr;
    run.targetMade = false;
    LogClosing();

    run.doc->Finish();
    // Unattended runs saved the document with the private working boxes in it; it is saved again
    // without them, as the interactive finish does.
    if (BatchOrServerRun() && run.doc->Owns())
        run.doc->Save();
    if (!UnattendedResult())
        ShowResult(DialogKind::ExportDone);
}

} // namespace

// ---- Writer ------------------------------------------------------------------------------------

uint32_t CopyProgressPosition(double blocks)
{
    return static_cast<uint32_t>(std::trunc(blocks * 25.0 / (blocks + 10000.0) + 70.0));
}

Writer::Writer(const HostFileSpec& spec, ProgressBar* progress)
    : mVolume(static_cast<uint16_t>(spec.volume)), mProgress(progress)
{
    int16_t ref = 0;
    const std::string name = FileSpecName(spec);
    const int32_t result =
        CallHost<XFJ_OpenDataFork>(static_cast<int16_t>(spec.volume), spec.parentId, name.c_str(), kReadPermission, &ref);
    mStatus = static_cast<int16_t>(result);
    if (result != XT_OK) {
        ReportError(KestoException(ErrorCode::FileOpen, name).GetCode());
        return;
    }
    mFileRef = static_cast<uint16_t>(ref);
    mOpened = true;
}

Writer::~Writer()
{
    if (mOpened)
        CallHost<XFJ_CloseData>(static_cast<int16_t>(mFileRef));
    if (mProgress && !MultiDocRun())
        mProgress->SetPosition(kWriterDoneProgress);
}

uint32_t Writer::read(void* buffer, uint32_t size)
{
    if (mProgress && !MultiDocRun())
        mProgress->SetPosition(CopyProgressPosition(mBlocks));
    mBlocks += 1.0;
    if (!mOpened || mStatus == kEndOfFile)
        return 0;
    int32_t count = static_cast<int32_t>(std::min<uint32_t>(size, INT32_MAX));
    const int32_t result = CallHost<XFJ_ReadData>(static_cast<int16_t>(mFileRef), &count, buffer);
    mStatus = static_cast<int16_t>(result);
    if (count < 0 || static_cast<uint32_t>(count) > size)
        count = 0;
    if (result == kEndOfFile && count > 0) {
        // The last partial block: stored, and the next call finds the end.
        mStatus = 0;
    } else if (result != XT_OK && result != kEndOfFile) {
        mFailed = true;
        ReportError(ErrorCode::FileRead);
        count = 0;
    } else if (result == XT_OK && count == 0) {
        ReportError(ErrorCode::FileRead);
    }
    return static_cast<uint32_t>(count);
}

uint32_t Writer::size()
{
    int32_t length = 0;
    if (!mOpened || CallHost<XFJ_DataLength>(static_cast<int16_t>(mFileRef), &length) != XT_OK || length < 0)
        return 0;
    return static_cast<uint32_t>(length);
}

// ---- Commands ----------------------------------------------------------------------------------

template <>
void CommandAdapter<9>::ActionPerformed(XTVoidRec*)
{
    ExportRun run;
    try {
        Export(run);
    } catch (...) {
        LogCaught();
        try {
            run.DropContainer();
            if (run.layoutsStarted && run.doc)
                run.doc->Finish();
            ShowFailed();
        } catch (...) {
            // The failure is reported; nothing more may leave the command.
        }
    }
    try {
        run.Release();
    } catch (...) {
    }
}

template <>
void CommandAdapter<11>::ActionPerformed(XTVoidRec* rec)
{
    HostPrefs prefs;
    bool suspended = false;
    try {
        CurrentJob->Reset();
        CurrentJob->kind = ConversionKind::ToExchange;
        CurrentJob->SetFileTypes();
        HostFileSpec chosen{};
        if (!ChooseExportSource(chosen))
            return;
        HostFileSpec jobSpec{};
        CurrentJob->source.GetHostSpec(jobSpec);
        SavedSourceSpec = jobSpec;
        if (chosen.volume != jobSpec.volume || chosen.parentId != jobSpec.parentId ||
            FileSpecName(chosen) != FileSpecName(jobSpec))
            debug_check(1, "Warning: File specs differ!");

        SuspendHostPrefs(prefs);
        suspended = true;
        const uint16_t before = CurDocAPI::GetDocumentCount();
        XTHandle opening = 0;
        CallHost<XCF_RunModeless>(DialogKindOf(DialogKind::Opening), 0, &opening);
        const bool opened = CurDocAPI::Open(chosen, false);
        if (opening)
            CallHost<XCF_CloseModeless>(opening);

        const std::string name = CurrentJob->source.GetName();
        if (!opened) {
            ShowMessageBox(kMessageBoxRes, "Unable to open the file: '", name, "'", "", false, false, false);
        } else {
            bool go = true;
            if (CurDocAPI::GetDocumentCount() == before && CurDocAPI::NeedsSave()) {
                SetAlertText("'", name, "' is already opened and was changed", "Do save it and start export any way?");
                go = CallHost<XCF_ShowAlert>(kChangedDocumentAlert, 0x30, 0) == kContinue;
                if (go)
                    CurDocAPI::SaveIfNeeded();
            }
            if (go)
                FireDocumentExport(rec);
        }
    } catch (...) {
        LogCaught();
        try {
            ShowFailed();
        } catch (...) {
        }
    }
    if (suspended) {
        try {
            RestoreHostPrefs(prefs);
        } catch (...) {
        }
    }
}
