#include "Plugin/Filter/ExportProto.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <unistd.h>

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
#include "Plugin/Filter/ExporterCoord.h"
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
#include "platform/fs/Sweep.h"
#include "platform/fs/TempFiles.h"
#include "platform/host/documents/XTDocSuites.h"

SaveAnswerMemory RememberedSaveAnswer;

namespace {

constexpr int32_t kEndOfFile = -39;
constexpr int32_t kReadPermission = 1;
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

// The line that names the target that could not be written, the reason (when known), and why the
// target is write-protected when it is; empty when there is neither.
std::string UnwritableLine(const std::string& reason)
{
    const std::string why = WriteProtection(TargetText());
    if (reason.empty() && why.empty())
        return std::string();
    return FileLine("ERROR:", "Unable to write " + ConcealSecret(TargetText()) + ": " + reason +
                                  (why.empty() ? "" : reason.empty() ? why : " (" + why + ")"));
}

void LogBanner(const char* starting)
{
    LogLine("");
    LogLine(StarLine());
    LogLine(TimeStamp());
    LogLine(starting);
    // A server client's path may hold the server's password, which no log shows.
    LogLine(FileLine("Source:", ConcealSecret(CurrentJob->source.GetPath())));
    LogLine(FileLine("Target:", ConcealSecret(TargetText())));
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
        return "Container Error<" + std::to_string(e.Code()) + ">:\t" + (e.Text() ? e.Text() : FilterErrorText(e.Code())) +
               "\n";
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

void LogCaught(const char* command)
{
    std::ostream& log = GeneralLogStream();
    log << "\n" << command << "::ActionPerformed():\t" << CaughtText();
    // A storage failure is the target's: the line names it and the system's reason.
    try {
        throw;
    } catch (const FilterException& e) {
        log << UnwritableLine(ContainerFileErrorText(e.Code())) << "\n";
    } catch (...) {
    }
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
    ShowMessageBox(kAlertResource, "Conversion failed for file: ", CurrentJob->source.GetName(), "", "", false, false,
                   false);
}

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

// ---- One export --------------------------------------------------------------------------------

struct ExportRun;

// What sets one export command apart from the others: its job kind, its log texts, its target
// file and what it writes there.
class ExportOutput {
public:
    virtual ~ExportOutput() = default;
    virtual ConversionKind Kind() const = 0;
    virtual const char* Starting() const = 0;
    // The command's name in the log of a failure.
    virtual const char* Command() const = 0;
    virtual bool MayReplace() const = 0;
    // The output dialog; false when cancelled.
    virtual bool Choose(HostFileSpec& target) const = 0;
    virtual bool CancelClosesProject() const = 0;
    // Opens the target for writing; false once the failure was reported.
    virtual bool Open(ExportRun& run) = 0;
    // Walks one layout; false once the failure was reported.
    virtual bool ExportLayout(ExportRun& run, int32_t layoutKind, int32_t number) = 0;
    // After the last layout, with the noted document current again; false on failure.
    virtual bool AfterLastLayout(ExportRun& run) = 0;
    // The exporter of the layout goes.
    virtual void EndLayout() = 0;
    // Completes the target; false (or an exception) when it could not be.
    virtual bool Close() = 0;
    // Gives up what was written, after a failure.
    virtual void Abandon() = 0;
    // Drops every reference, before the document object goes.
    virtual void Release() = 0;
};

// What a run holds; the way out restores and releases it, whatever happened.
struct ExportRun {
    explicit ExportRun(ExportOutput& out) : output(out) {}

    ExportOutput& output;
    UniqIdSet uniqIds;
    int32_t largestUniqID = 0;
    HostPrefs prefs;
    bool prefsSuspended = false;
    RefPtr<QuarkDoc> doc;
    HostFileSpec source{};
    HostFileSpec target{};
    bool layoutsStarted = false;
    bool finished = false;   // the document's final save was made (or refused)

    // The document as the container stores it, with its working boxes, saved beside its own
    // file under the module's temporary name (the next export into the folder removes it when
    // this one is killed).
    std::string copyPath;
    // Held from its making to its removal, whoever writes it: another process's sweep of the
    // folder takes only what nobody holds.
    platform::fs::OwnedLock copyLock;

    // After a failure: what was written is given up. Every output writes beside its target
    // until complete, and nothing makes the target before, so a file there is one that was
    // there before the run, and stays.
    void DropTarget() { output.Abandon(); }

    // Saves the document as it is now into a private copy, whose file spec goes to copy;
    // false when it could not be saved. The document's own file only ever takes the export's
    // final save, so that a run killed at any moment leaves it as it was or as the export left it.
    bool SaveCopy(HostFileSpec& copy)
    {
        std::string own;
        if (CurDocAPI::IsUntitled() || FileSpecToPath(own, source, false) != 0)
            return false;
        int fd = -1;
        if (platform::fs::CreateTempBeside(own, platform::fs::kTempSuffix, fd, copyPath) != 0) {
            copyPath.clear();
            return false;
        }
        copyLock = platform::fs::OwnedLock(fd);
        ConvFileSpec file;
        if (file.SetPath(copyPath) != 0 || file.GetHostSpec(copy) != XT_OK || doc->SaveCopy(copy) != XT_OK)
            return false;
        // The host's save put a new file under the copy's name (it held it until then).
        platform::fs::HoldFile(copyPath, copyLock);
        return true;
    }

    void RemoveCopy()
    {
        if (!copyPath.empty())
            RemoveHostFile(copyPath);
        copyPath.clear();
        copyLock.Release();
    }

    void Release()
    {
        output.Release();
        doc = nullptr;
        RemoveCopy();
        if (prefsSuspended) {
            prefsSuspended = false;
            RestoreHostPrefs(prefs);
        }
    }
};

void ExporterInvalidBox(const char* command)
{
    ShowMessageBox(kAlertResource, std::string(command) + ": exporter is invalid for file: ",
                   CurrentJob->source.GetName(), "", "", false, false, false);
}

// The exchange container with the saved document in it.
class BookOutput final : public ExportOutput {
public:
    ConversionKind Kind() const override { return ConversionKind::ToExchange; }
    const char* Starting() const override { return "Starting export ..."; }
    const char* Command() const override { return "ExportProto"; }
    bool MayReplace() const override { return OverwriteFlags.exchangeFile; }
    bool Choose(HostFileSpec& target) const override { return ChooseExportOutput(target); }
    bool CancelClosesProject() const override { return true; }

    bool Open(ExportRun& run) override;
    bool ExportLayout(ExportRun& run, int32_t layoutKind, int32_t number) override;
    bool AfterLastLayout(ExportRun& run) override;
    void EndLayout() override { mExporter.reset(); }
    bool Close() override;
    void Abandon() override;
    void Release() override;

private:
    RefPtr<KS_DWX::Export::IBook> mBook;
    RefPtr<KS_DWX::Export::IDoc> mBookDoc;
    std::unique_ptr<Exporter> mExporter;
};

// A text file of the front document: its exporter of kind E writes into a stream of kind S.
// A cancelled output dialog leaves the project open; nothing is stored.
template <class E, class S>
class TextOutput : public ExportOutput {
public:
    bool CancelClosesProject() const override { return false; }

    bool ExportLayout(ExportRun& run, int32_t, int32_t) override
    {
        mExporter = Create(run.doc.Get(), mOut.get(), &run.uniqIds);
        if (!mExporter) {
            ExporterInvalidBox(Command());
            return false;
        }
        mExporter->ExportDocument();
        run.largestUniqID = std::max(run.largestUniqID, mExporter->LargestUniqID());
        return true;
    }
    // The document is saved once the export has disposed of its working boxes.
    bool AfterLastLayout(ExportRun& run) override
    {
        run.doc->SetOwns(true);
        return true;
    }
    void EndLayout() override { mExporter.reset(); }
    bool Close() override
    {
        mExporter.reset();
        const bool written = CloseStream();
        mOut.reset();
        return written;
    }
    // Text that was not closed never reaches the target.
    void Abandon() override { Release(); }
    void Release() override
    {
        mExporter.reset();
        mOut.reset();
    }

protected:
    virtual std::unique_ptr<E> Create(QuarkDoc* document, S* out, UniqIdSet* uniqIds) const = 0;
    // Puts the text in place of the target; false when the data did not all reach it.
    virtual bool CloseStream() = 0;
    // Starts the text of the job's target; when it cannot reach the target, the message box
    // that begins with failedText.
    bool OpenTarget(const char* failedText)
    {
        mOut = std::make_unique<S>(CurrentJob->target.GetPath());
        if (mOut->good())
            return true;
        ShowMessageBox(kAlertResource, failedText, CurrentJob->source.GetName(), "", "", false, false, false);
        return false;
    }

    std::unique_ptr<S> mOut;
    std::unique_ptr<E> mExporter;
};

// The paragraph coordinates file.
class CoordOutput final : public TextOutput<ExporterCoord, ReplacingText> {
public:
    ConversionKind Kind() const override { return ConversionKind::ToCoordinates; }
    const char* Starting() const override { return "Starting export coordinates ..."; }
    const char* Command() const override { return "ExportCoord"; }
    bool MayReplace() const override { return OverwriteFlags.coordinates; }
    bool Choose(HostFileSpec& target) const override { return ChooseCoordOutput(target); }
    bool Open(ExportRun&) override
    {
        if (!OpenTarget("Export of coordinates failed for file: "))
            return false;
        WriteCoordHead(*mOut, CurrentJob->source.GetPath());
        return true;
    }

protected:
    std::unique_ptr<ExporterCoord> Create(QuarkDoc* document, ReplacingText* out, UniqIdSet* uniqIds) const override
    {
        return CreateExporterCoord(document, out, uniqIds);
    }
    bool CloseStream() override { return mOut->Commit(); }
};

// The XTags file.
class TgxOutput final : public TextOutput<ExporterTgx, WideTextFile> {
public:
    ConversionKind Kind() const override { return ConversionKind::ToXTags; }
    const char* Starting() const override { return "Starting export XTags ..."; }
    const char* Command() const override { return "ExportTgx"; }
    bool MayReplace() const override { return OverwriteFlags.xtags; }
    bool Choose(HostFileSpec& target) const override { return ChooseTgxOutput(target); }
    bool Open(ExportRun&) override
    {
        if (!OpenTarget("Export of XTags failed for file: "))
            return false;
        WriteTgxHead(*mOut, CurrentJob->source.GetPath());
        return true;
    }

protected:
    std::unique_ptr<ExporterTgx> Create(QuarkDoc* document, WideTextFile* out, UniqIdSet* uniqIds) const override
    {
        return CreateExporterTgx(document, out, uniqIds);
    }
    bool CloseStream() override { return mOut->Close(); }
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
        CurrentJob->kind = run.output.Kind();
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
        if (CurrentJob->target.OutputHostSpec(run.target, run.output.MayReplace()) != 0) {
            CloseProject(kCurrentProject, 1);
            return false;
        }
        return true;
    }
    run.target = run.source;
    if (!run.output.Choose(run.target)) {
        if (run.output.CancelClosesProject())
            CloseProject(kCurrentProject, 1);
        SignalBeep(nullptr);
        ShowFailed();
        return false;
    }
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

// Every layout of the project through the output; false when the export failed.
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
        // Each layout's formatting samples stay in it until the document is stored: the import
        // takes every layout's runs from that layout's own samples. The finish after the
        // export disposes them all, and only then is the document saved.
        run.layoutsStarted = true;
        run.doc->SetIndex(static_cast<uint16_t>(layout));
        CallHost<LTY_MakeLayoutCurrent>(layout);
        if (!run.output.ExportLayout(run, LayoutKindOf(layout, current), i))
            return false;
        if (i == count - 1) {
            // The document object follows, so that the saves keep the layout that was current
            // in front: the document and its stored copy open on it again.
            CallHost<LTY_MakeLayoutCurrent>(current);
            run.doc->SetIndex(static_cast<uint16_t>(current));
            if (!run.output.AfterLastLayout(run))
                return false;
        }
        run.output.EndLayout();
    }
    return true;
}

// The export; every failure has been reported when it returns, except a target that an
// unattended run may not replace, which its driver passes over without a trace.
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
    // A new result shows no more of the document than the document itself does.
    std::string sourcePath;
    if (CurDocAPI::IsUntitled() || FileSpecToPath(sourcePath, run.source, false) != 0)
        sourcePath.clear();
    const platform::fs::NewFilesFrom fromSource(sourcePath);
    LogBanner(run.output.Starting());
    if (!SaveChangedSource(run) || !ChooseTarget(run))
        return;
    if (!CurrentJob->IsValid(false))
        debug_check(1, "Warning: Invalid conversion!");

    if (!run.output.Open(run)) {
        CloseProject(kCurrentProject, 1);
        run.DropTarget();
        return;
    }
    if (!ExportLayouts(run)) {
        run.DropTarget();
        if (run.layoutsStarted)
            run.doc->Finish();
        ShowFailed();
        return;
    }
    // The export's final save, without the working boxes: the interactive finish makes it, and
    // unattended runs make it here. A document that could not be saved is no export done: its
    // file holds what it held before the export, and the target keeps what it held too, since
    // the new result takes its place only after the save.
    int32_t saved = run.doc->Finish();
    run.finished = true;
    if (saved == XT_OK && BatchOrServerRun() && run.doc->Owns())
        saved = run.doc->SaveCode();
    if (saved != XT_OK) {
        std::string path;
        if (FileSpecToPath(path, run.source, false) != 0)
            path = CurrentJob->source.GetPath();
        run.DropTarget();
        LogLine(FileLine("ERROR:", "Unable to save the document " + ConcealSecret(path) + ": " + HostFileErrorText(saved)));
        LogClosing();
        ShowFailed();
        return;
    }
    // The target is complete only once its finishing call succeeded.
    if (!run.output.Close()) {
        run.DropTarget();
        ShowFailed();
        return;
    }
    LogClosing();
    // An unattended export is reported by its folder run, batch job or server reply, which
    // make the names durable once for all their documents.
    if (UnattendedResult())
        return;
    // A result the disk may lose is no export done; the general log names the folder and why.
    ShowResult(SyncWrittenNames() ? DialogKind::ExportDone : DialogKind::ExportFailed);
}

// ---- Outputs -----------------------------------------------------------------------------------

bool BookOutput::Open(ExportRun& run)
{
    KS_DWX::Export::CreateExportBookFromSpec(mBook, run.target);
    if (!mBook) {
        if (const std::string line = UnwritableLine(std::string()); !line.empty())
            LogLine(line);
        ConversionFailedBox();
        return false;
    }
    mBook->AddAttr(u"source_data_type", HostVersionString().c_str());
    mBook->CreateDocument(mBookDoc, 0);
    mBookDoc->AddAttr(u"source_platform", run.doc->WasFlagSet() ? u"mac" : u"win");
    return true;
}

bool BookOutput::ExportLayout(ExportRun& run, int32_t layoutKind, int32_t number)
{
    mExporter = CreateExporter(run.doc.Get(), mBookDoc.Get(), &run.uniqIds);
    if (!mExporter) {
        ExporterInvalidBox(Command());
        return false;
    }
    mExporter->SetLayout(layoutKind, number);
    mExporter->ExportDocument();
    run.largestUniqID = std::max(run.largestUniqID, mExporter->LargestUniqID());
    return true;
}

// The run's largest id and the saved document, with its working boxes, stored in the container;
// false when the container would not carry the document as saved.
bool BookOutput::AfterLastLayout(ExportRun& run)
{
    mBook->AddAttr(u"maxuniqID", Wide(std::to_string(run.largestUniqID)).c_str());
    run.doc->SetOwns(true);
    HostFileSpec copy{};
    if (!run.SaveCopy(copy)) {
        LogLine("FAILED");
        return false;
    }
    {
        Writer writer(copy, mExporter->Progress());
        mBook->StoreQXP(0, &writer);
        if (!writer.IsIntact()) {
            ConversionFailedBox();
            return false;
        }
    }
    run.RemoveCopy();
    return true;
}

bool BookOutput::Close()
{
    mExporter.reset();
    mBookDoc = nullptr;
    mBook->Finish();
    mBook = nullptr;
    return true;
}

void BookOutput::Abandon()
{
    mExporter.reset();
    mBookDoc = nullptr;
    if (mBook) {
        mBook->Abandon();
        mBook = nullptr;
    }
}

void BookOutput::Release()
{
    mExporter.reset();
    mBookDoc = nullptr;
    mBook = nullptr;
}

// One export command from start to end: nothing leaves it, and the preferences are restored
// whatever happened.
void RunExportCommand(ExportOutput& output)
{
    ExportRun run(output);
    try {
        Export(run);
    } catch (...) {
        LogCaught(output.Command());
        try {
            run.DropTarget();
            if (run.layoutsStarted && run.doc && !run.finished)
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

} // namespace

// ---- Writer ------------------------------------------------------------------------------------

uint32_t CopyProgressPosition(double blocks)
{
    return static_cast<uint32_t>(std::trunc(blocks * 25.0 / (blocks + 10000.0) + 70.0));
}

Writer::Writer(const HostFileSpec& spec, ProgressBar* progress)
    : mProgress(progress)
{
    int16_t ref = 0;
    const std::string name = FileSpecName(spec);
    const int32_t result =
        CallHost<XFJ_OpenDataFork>(static_cast<int16_t>(spec.volume), spec.parentId, name.c_str(), kReadPermission, &ref);
    mStatus = static_cast<int16_t>(result);
    if (result != XT_OK) {
        ReportError(ErrorCode::FileOpen);
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
    BookOutput output;
    RunExportCommand(output);
}

template <>
void CommandAdapter<13>::ActionPerformed(XTVoidRec*)
{
    CoordOutput output;
    RunExportCommand(output);
}

template <>
void CommandAdapter<14>::ActionPerformed(XTVoidRec*)
{
    TgxOutput output;
    RunExportCommand(output);
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
            ShowMessageBox(kAlertResource, "Unable to open the file: '", name, "'", "", false, false, false);
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
        LogCaught("ExportProto");
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
