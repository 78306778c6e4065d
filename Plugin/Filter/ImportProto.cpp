#include "Plugin/Filter/ImportProto.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <fcntl.h>
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
#include "Plugin/Exchange/DWX_Import.h"
#include "Plugin/Filter/Importer.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Mixer/MessageBox.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/FileDialogs.h"
#include "Plugin/Shell/KestoException.h"
#include "Plugin/Shell/KestoInterface.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/fs/Folders.h"
#include "platform/fs/NativeFS.h"
#include "platform/fs/Sweep.h"
#include "platform/fs/TempFiles.h"
#include "platform/host/documents/XTDocSuites.h"

MasterPageModeMemory ImportMasterPageMode;

namespace {

constexpr int32_t kWritePermission = 2;
constexpr uint32_t kTargetType = XT_FOURCC('Q', 'X', 'P', '\0');

// ---- Run signs ---------------------------------------------------------------------------------

bool Unattended()
{
    KestoInterface* shell = KestoInterface::Instance();
    if (shell->m_multiDocMode || shell->m_serverMode || IsBatchRequested())
        return true;
    BatchStatusFile* status = BatchStatus.GetIf();
    return status && status->IsValid() && status->HasPendingJob() &&
           (status->GetMode() == BatchMode::Export || status->GetMode() == BatchMode::Import);
}

// ---- General log -------------------------------------------------------------------------------

std::string LeftAligned(const std::string& text, size_t width)
{
    return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

// Every line of the import reaches the log through here: a server client's path may hold the
// server's password, in whatever line names the file, and no log shows it.
void LogLine(const std::string& line)
{
    GeneralLogStream() << ConcealSecret(line) << std::endl;
}

// The text is masked before it is padded, so that its column is as wide as any other's; LogLine
// masks it anyway.
std::string Field(const char* label, const std::string& text)
{
    return LeftAligned(label, 10) + LeftAligned(ConcealSecret(text), 70);
}

// The folder of a path, without its last separator ("." for a bare name).
std::string FolderOf(const std::string& path)
{
    const size_t at = path.find_last_of("/\\");
    return at == std::string::npos ? "." : at == 0 ? "/" : path.substr(0, at);
}

std::string StarLine()
{
    return std::string(80, '*');
}

void LogCaught()
{
    LogLine("\nImportProto::ActionPerformed():\t" + CaughtErrorText());
}

void ShowResult(DialogKind dialog)
{
    ShowDialog(dialog, 0, nullptr, nullptr, false, false, false);
}

// ---- One import --------------------------------------------------------------------------------

struct ImportRun {
    HostFileSpec source{};
    HostFileSpec target{};
    RefPtr<KS_DWX::Import::IBook> book;
    RefPtr<KS_DWX::Import::IDoc> bookDoc;
    RefPtr<QuarkDoc> doc;
    std::unique_ptr<Importer> importer;
    HostPrefs prefs;
    bool prefsSuspended = false;

    // The document is made beside the target and takes its place only once it is complete, so
    // an import that fails at any step leaves a document that was there as it was.
    std::string targetPath;
    std::string workPath;
    HostFileSpec work{};
    // The target held a document before the run, which only a whole import replaces.
    bool earlier = false;
    bool saved = false;
    // Why the work file could not be made: the folder that refused it, or the work file and the
    // host's reason.
    std::string workRefusal;
    // Held from its making to its end, whoever writes it: another process's sweep of the folder
    // takes only what nobody holds.
    platform::fs::OwnedLock workLock;

    // Names and creates the hidden work file beside the target; false when it cannot be made.
    // The target itself never stands in for it: a failed import removes its work file. Its name
    // is the module's temporary name: it fits whatever the target's name is, and the next run
    // into the folder removes it when this one is killed.
    bool PrepareWork()
    {
        if (FileSpecToPath(targetPath, target, false) != 0) {
            workRefusal = FileSpecName(target) + ": the target's path cannot be had";
            return false;
        }
        const FileVersion version = VersionOf(targetPath);
        earlier = version.exists && version.size > 0;
        int fd = -1;
        std::string reserved;
        if (const int error = platform::fs::CreateTempBeside(targetPath, platform::fs::kTempSuffix, fd, reserved)) {
            // The name it was refused under, else the file the target names through links.
            std::string named = reserved;
            if (named.empty() && platform::fs::ResolveLinks(targetPath, named) != 0)
                named = targetPath;
            const std::string link = error == EACCES ? platform::fs::LinkRefusal(targetPath) : std::string();
            workRefusal = "The folder " + FolderOf(named) + " refused it: " + (link.empty() ? std::strerror(error) : link);
            return false;
        }
        workLock = platform::fs::OwnedLock(fd);
        workPath = reserved;
        ConvFileSpec file;
        if (file.SetPath(reserved) != 0) {
            workRefusal = reserved + ": its path cannot be had";
            return false;
        }
        if (const int32_t error = file.CreateHostFile(work, true, XT_CREATOR_XPRESS, kTargetType)) {
            workRefusal = reserved + ": " + HostFileErrorText(error);
            return false;
        }
        return true;
    }

    // The host's save puts a new file under the work document's name, which the run holds
    // from then on (the host held it until it had that name).
    void HoldWork()
    {
        platform::fs::HoldFile(workPath, workLock);
    }

    // Removes what the run wrote and never completed.
    void RemoveTarget()
    {
        if (!workPath.empty())
            RemoveHostFile(workPath);
        workLock.Release();
    }

    // Closes the saved document and puts it in place of the target, where it gets the target's
    // owner and mode (until then it is its owner's only); false (logged, the work file removed)
    // when it could not get there.
    bool PutInPlace()
    {
        doc = nullptr;
        // A new document shows no more than the exchange file it was made from.
        std::string sourcePath;
        if (FileSpecToPath(sourcePath, source, false) != 0)
            sourcePath.clear();
        const platform::fs::NewFilesFrom fromSource(sourcePath);
        if (const int error = platform::fs::MoveOver(workPath, targetPath)) {
            const std::string refused = error == EACCES ? platform::fs::ReplaceRefusal(targetPath) : std::string();
            LogLine(Field("ERROR:", "Unable to replace the target: " +
                                        (refused.empty() ? platform::fs::ErrorText(error) : refused)));
            RemoveTarget();
            return false;
        }
        workLock.Release();
        return true;
    }

    void Release()
    {
        importer.reset();
        bookDoc = nullptr;
        doc = nullptr;
        book = nullptr;
        if (prefsSuspended) {
            prefsSuspended = false;
            RestoreHostPrefs(prefs);
        }
    }
};

bool ChooseSource(ImportRun& run, XTVoidRec* rec)
{
    if (Unattended()) {
        run.source = SavedSourceSpec;
        return true;
    }
    CurrentJob->Reset();
    CurrentJob->kind = ConversionKind::ToDocument;
    CurrentJob->SetFileTypes();
    if (ChooseImportSource(run.source))
        return true;
    SignalBeep(rec);
    ShowResult(DialogKind::ImportFailed);
    return false;
}

bool ChooseTarget(ImportRun& run)
{
    if (Unattended())
        return CurrentJob->target.OutputHostSpec(run.target, OverwriteFlags.document) == 0;
    run.target = run.source;
    if (!ChooseImportOutput(run.target)) {
        ShowResult(DialogKind::ImportFailed);
        return false;
    }
    if (std::string* path = ImportTargetPath.GetIf())
        *path = CurrentJob->target.GetPath();
    return true;
}

void LogBanner()
{
    LogLine("");
    LogLine(StarLine());
    LogLine(HostTimeStamp(false, true, true));
    LogLine("Starting import ...");
    LogLine(Field("Source:", CurrentJob->source.GetPath()));
    LogLine(Field("Target:", CurrentJob->target.GetPath()));
}

// The path of the run's container, for the log.
std::string SourcePath(const ImportRun& run)
{
    std::string path;
    return FileSpecToPath(path, run.source, false) == 0 ? path : FileSpecName(run.source);
}

// Whether the exception being handled is the Reader's: the target could not be written, the
// container may be whole.
bool TargetNotWritten()
{
    try {
        throw;
    } catch (const KestoException& e) {
        return e.GetCode() == ErrorCode::FileCreate || e.GetCode() == ErrorCode::FileWrite;
    } catch (...) {
        return false;
    }
}

// The stored host document written to the target; false (logged) when it could not be.
bool RestoreDocument(ImportRun& run)
{
    try {
        Reader reader(run.work);
        run.book->LoadQXP(0, &reader);
        reader.Close();
        return true;
    } catch (...) {
        LogCaught();
        // A full disk or a locked folder is no fault of the container: the line says which.
        if (TargetNotWritten()) {
            LogLine(Field("ERROR:", "Unable to write the document restored from DWQ to " + run.targetPath + "!"));
        } else {
            LogLine(Field("ERROR:", "Unable to load original QXP source from DWQ!"));
            LogLine(Field(" -> ", SourcePath(run) + ": " + CaughtErrorText()));
        }
        LogLine(Field(" => ", "skipping file."));
    }
    // What was written is no document: nothing may open or take it for one later.
    run.RemoveTarget();
    return false;
}

// Whether the chosen target may take the imported document: never the container being read
// (however the path reaches it), and never a file nobody may write, which folder and batch runs
// keep as well. False once logged.
bool TargetMayBeWritten(const ImportRun& run)
{
    std::string target;
    if (FileSpecToPath(target, run.target, false) != 0)
        return true;  // the work file's preparation reports it
    if (IsSameFile(SourcePath(run), target)) {
        LogLine(Field("ERROR:", "Unable to import " + target + " into itself: the target is the DWQ being imported!"));
        return false;
    }
    if (const std::string why = WriteProtection(target); !why.empty()) {
        ShowProtectedTargets(1);
        LogLine(Field("ERROR:", "Overwrite not allowed for " + target + ": " + std::strerror(EACCES) + " (" + why + ")"));
        return false;
    }
    return true;
}

void LogOpenFailure()
{
    LogLine(Field("ERROR:", "Unable to open document for import!"));
    // The host's own reason first: the lines below only list what to check.
    const std::string refusal = HostOpenRefusal();
    if (!refusal.empty())
        LogLine(Field(" -> ", "The host refused it: " + ConcealSecret(refusal)));
    LogLine(Field(" -> ", "Please check validity of source and target (characters, length)."));
    LogLine(Field(" -> ", "Do you have write permissions for the given target folder?"));
    LogLine(Field(" -> ", "Please check that current version of QuarkXPress is equal (or newer) to that being used "
                          "to create the document."));
    LogLine(Field(" -> ", "Do you really try to import a valid Verbant (\"-Text-and-Code-\") document, i.e. "
                          "\"*.dwq\"?"));
}

// Steps 7 and 8: the stories into the opened document, then the save. True when every story
// found its place and the document was saved.
bool ImportStories(ImportRun& run)
{
    SuspendHostPrefs(run.prefs);
    run.prefsSuspended = true;
    bool failed = false;
    run.bookDoc = run.book->Document(0);
    if (!run.bookDoc) {
        LogLine(Field("ERROR:", SourcePath(run) + ": the DWQ holds no document to import!"));
        failed = true;
    } else {
        const uint8_t decision = MasterPageDecision(run.book->GetText(u"source_data_type"));
        SettingsFile* settings = Settings.GetIf();
        run.importer = CreateImporter(run.doc.Get(), run.bookDoc.Get(),
                                      settings && settings->GetAutomaticResizeOfFrames(),
                                      settings && settings->GetTestStyleOfParagraph(),
                                      settings && settings->GetSetUniqueID(), decision != 0);
        bool tagKept = false;
        if (run.importer) {
            run.importer->NoteBookAttributes(run.book->GetText(u"source_data_type"), run.book->GetText(u"maxuniqID"));
            run.importer->Run();
            failed = run.importer->Failed();
            tagKept = run.importer->LinkTagKept();
            run.importer.reset();
        } else {
            failed = true;
        }
        run.bookDoc = nullptr;
        if (tagKept) {
            // Text nobody wrote would stand in the document: it is given up unsaved.
            LogLine(Field("ERROR:", "The host refused to take the module's linking text \"#$_@?&#\" out of the document's "
                                    "master stories again: the document is not saved!"));
            run.doc->SetOwns(true);
            return false;
        }
    }
    const int32_t saved = run.doc->SaveCode();
    run.saved = saved == XT_OK;
    if (run.saved)
        run.HoldWork();
    if (!run.saved) {
        LogLine(Field("ERROR:", "Unable to save the imported document " + run.targetPath + ": " +
                                    HostFileErrorText(saved)));
        failed = true;
    }
    run.doc->SetOwns(true);
    return !failed;
}

// The container's Book; false, with the file and the reason in the log inside the import's
// banner, when it cannot be opened. The container library's errors keep their code and text.
bool OpenContainer(ImportRun& run)
{
    const std::string path = SourcePath(run);
    std::string reason;
    try {
        run.book = KS_DWX::Import::OpenImportBook(path, &reason);
    } catch (...) {
        reason = CaughtErrorText();
    }
    // An export writes one document, the stored document's; the stories of a second would land
    // in boxes of stories of the first, so which of them translates it cannot be told.
    size_t listed = 0;
    try {
        listed = run.book ? run.book->StoredChildren().size() : 0;
    } catch (...) {
        // The reading of the document names what cannot be read.
    }
    if (listed > 1) {
        reason = "the DWQ lists " + std::to_string(listed) +
                 " documents, where an export writes one: which of them translates the document cannot be told";
        run.book = nullptr;
    }
    if (run.book)
        return true;
    LogBanner();
    LogLine(Field("ERROR:", "OpenDWX FAILED: unable to open the DWQ for import!"));
    LogLine(Field(" -> ", ConcealSecret(path) + ": " + reason));
    LogLine(Field(" => ", "skipping file."));
    return false;
}

void Import(ImportRun& run, XTVoidRec* rec)
{
    if (!ChooseSource(run, rec))
        return;
    if (!OpenContainer(run)) {
        SignalBeep(rec);
        ShowResult(DialogKind::ImportFailed);
        return;
    }
    if (!ChooseTarget(run))
        return;
    LogBanner();
    if (!TargetMayBeWritten(run)) {
        ShowResult(DialogKind::ImportFailed);
        return;
    }
    if (!run.PrepareWork()) {
        LogLine(Field("ERROR:", "Unable to create a document beside the target!"));
        LogLine(Field(" -> ", run.workRefusal));
        run.RemoveTarget();
        ShowResult(DialogKind::ImportFailed);
        return;
    }
    if (!RestoreDocument(run)) {
        ShowResult(DialogKind::ImportFailed);
        return;
    }

    {
        // The host opens the work document in the target's stead: for the while of the open the
        // job names it, so that the open finds the document it expects.
        struct Stead {
            ConvFileSpec& file;
            const std::string kept;
            ~Stead() { file.SetPath(kept); }
        } stead{CurrentJob->target, CurrentJob->target.GetPath()};
        stead.file.SetPath(run.workPath);
        run.doc = RefPtr<QuarkDoc>(QuarkDoc::Open(run.work, false));
    }
    if (!run.doc) {
        LogOpenFailure();
        // What the host refused to open is no document: it does not stay at the target.
        run.RemoveTarget();
        ShowMessageBox(kAlertResource, "ERROR: Unable to open document for import!\n-> see KestoLogfile.txt for details",
                       "", "", "", false, false, false);
        ShowResult(DialogKind::ImportFailed);
        return;
    }
    bool done = ImportStories(run);
    // A saved document whose stories did not all find their place is still a whole document, and
    // the log names what it lacks: it may take the place of a target that held none, never of
    // an earlier document.
    if (run.saved && (done || !run.earlier)) {
        done = run.PutInPlace() && done;
    } else {
        run.doc = nullptr;
        run.RemoveTarget();
    }
    LogLine("... finished.");
    LogLine(HostTimeStamp(false, true, true));
    LogLine(StarLine());
    // An unattended import is reported by its folder run, batch job or server reply. A result
    // the disk may lose is no import done; the general log names the folder and why.
    if (!Unattended() && !SyncWrittenNames())
        done = false;
    ShowResult(done ? DialogKind::ImportDone : DialogKind::ImportFailed);
}

} // namespace

// ---- Master-page decision ----------------------------------------------------------------------

uint8_t MasterPageDecision(const char16_t* sourceDataType)
{
    if (!ImportMasterPageMode.cached) {
        SettingsFile* settings = Settings.GetIf();
        ImportMasterPageMode.mode = settings ? settings->GetMasterPageMode() : 1;
        ImportMasterPageMode.newHandling = ImportMasterPageMode.mode == 1;
        ImportMasterPageMode.cached = true;
    }
    const bool userNew = ImportMasterPageMode.newHandling;
    std::ostream& log = GeneralLogStream();
    const auto oldLines = [&] {
        log << (userNew ? " => Forcing import with appropriate OLD masterpage handling (overriding user settings!)\n"
                        : " => Importing with appropriate OLD masterpage handling (selected by user)\n")
            << std::flush;
    };
    if (!sourceDataType) {
        log << "\nERROR: d_CFAN_SourceDataType returns empty string (NULL)!\n" << std::flush;
        return 0;
    }
    const std::u16string text(sourceDataType);
    const size_t mark = text.rfind(u"{MB=");
    if (mark == std::u16string::npos) {
        log << "\nWARNING: Current document was previously exported with an OLD-MASTERPAGE version of Kesto"
            << std::endl;
        oldLines();
        return 0;
    }
    const size_t close = text.find(u'}', mark + 4);
    if (close == std::u16string::npos)
        return 0;
    const std::u16string value = text.substr(mark + 4, close - mark - 4);
    if (value == u"0") {
        log << "\nWARNING: Current document was previously exported with explicit OLD-MASTERPAGE settings" << std::endl;
        oldLines();
        return 0;
    }
    if (!userNew)
        log << "\nWARNING: Current document was previously exported with explicit NEW-MASTERPAGE settings\n"
            << " => Forcing import with appropriate NEW masterpage handling (overriding user settings!)\n"
            << std::flush;
    return 1;
}

// ---- Reader ------------------------------------------------------------------------------------

Reader::Reader(const HostFileSpec& target)
{
    FileSpecToPath(mPath, target, false);
    ConvFileSpec file;
    file.SetPath(mPath);
    HostFileSpec made{};
    int16_t ref = 0;
    int32_t result = file.CreateHostFile(made, true, XT_CREATOR_XPRESS, kTargetType);
    if (result == 0)
        result = CreateHostDocumentFile(mPath, &ref, kWritePermission);
    if (result != 0)
        throw KestoException(ErrorCode::FileCreate, MsgString(mPath + ": " + HostFileErrorText(result)));
    mFileRef = static_cast<uint16_t>(ref);
    mOpen = true;
}

Reader::~Reader()
{
    Close();
}

void Reader::Close()
{
    if (!mOpen)
        return;
    mOpen = false;
    CallHost<XFJ_CloseData>(static_cast<int16_t>(mFileRef));
}

void Reader::write(const void* data, uint32_t count)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    while (count > 0) {
        if (!mOpen)
            throw KestoException(ErrorCode::FileWrite, MsgString(mPath));
        int32_t taken = static_cast<int32_t>(std::min<uint32_t>(count, INT32_MAX));
        const int32_t result = CallHost<XFJ_WriteData>(static_cast<int16_t>(mFileRef), &taken, bytes);
        // A host that takes nothing would be asked for ever; a refusal leaves a cut document.
        if (result != XT_OK || taken <= 0 || static_cast<uint32_t>(taken) > count)
            throw KestoException(ErrorCode::FileWrite,
                                 MsgString(mPath + ": " + HostFileErrorText(result != XT_OK ? result : XT_ERR_IO)));
        bytes += taken;
        count -= static_cast<uint32_t>(taken);
    }
}

// ---- Command -----------------------------------------------------------------------------------

template <>
void CommandAdapter<17>::ActionPerformed(XTVoidRec* rec)
{
    ImportRun run;
    try {
        Import(run, rec);
    } catch (...) {
        // Whatever escaped the stories: the document is given up unsaved and its file goes.
        LogCaught();
        LogLine(Field("ERROR:", "Import stopped by the error above!"));
        LogLine(Field(" => ", "skipping file."));
        try {
            run.importer.reset();
            if (run.doc) {
                run.doc->SetOwns(false);
                CloseProject(-1, 1);
                run.doc = nullptr;
            }
            run.RemoveTarget();
            ShowResult(DialogKind::ImportFailed);
        } catch (...) {
        }
    }
    try {
        run.Release();
    } catch (...) {
    }
}
