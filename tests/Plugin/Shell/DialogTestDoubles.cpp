#include "DialogTestDoubles.h"

#include <cctype>
#include <filesystem>

#include "Foundation/Settings.h"
#include "Plugin/Batch/BatchRequest.h"
#include "Plugin/Batch/BatchStatusFile.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/FolderUtils.h"
#include "Plugin/Mixer/HostHooks.h"
#include "Plugin/Mixer/MessageBox.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoException.h"
#include "SHARED/Server/CnvTools/PathUtils.h"

namespace dialogtest {

Doubles& State()
{
    static Doubles doubles;
    return doubles;
}

void Reset()
{
    State() = Doubles{};
}

} // namespace dialogtest

using dialogtest::State;

namespace {

std::string PathOf(const HostFileSpec& spec)
{
    std::string path;
    return FileSpecToPath(path, spec, false) == 0 ? path : std::string();
}

void RecordRun(const char* run, const HostFileSpec& source, const HostFileSpec& target, bool recursive)
{
    State().runs.push_back({run, PathOf(source), PathOf(target), recursive, OverwriteFlags,
                            *PdfTargetFolder, ShowFinishedNotice});
    if (State().runThrows)
        throw KestoException(1004);
}

} // namespace

// ---- Folder runs ---------------------------------------------------------------------------

HostFileSpec SavedFolderSpec{};
HostFileSpec SavedSourceSpec{};
HostFileSpec SavedTargetSpec{};
OverwriteSwitches OverwriteFlags;
ModuleGlobal<std::string> PdfTargetFolder;
bool ShowFinishedNotice = true;

void ExportFolder(const HostFileSpec& target, bool recursive)
{
    RecordRun("export", SavedFolderSpec, target, recursive);
}

void ExportFolderToPdf(const HostFileSpec& target, bool recursive)
{
    RecordRun("pdf", SavedFolderSpec, target, recursive);
}

void ImportFolder(const HostFileSpec&, bool recursive)
{
    RecordRun("import", SavedSourceSpec, SavedTargetSpec, recursive);
}

bool CollectSourceFiles(const HostFileSpec& folder, int32_t fileKind, bool recursive, const std::string& subFolder)
{
    static const char* const kExtensions[] = {".qxp", ".qxd", ".dwq", ".pdf"};
    std::string path = PathOf(folder);
    State().census.push_back({path, fileKind, recursive, subFolder});
    if (path.empty() || fileKind < 0 || fileKind > 3)
        return false;
    if (!subFolder.empty())
        path = JoinPath(path, subFolder);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path, error))
        if (entry.path().extension() == kExtensions[fileKind])
            return true;
    return false;
}

// ---- The conversion job --------------------------------------------------------------------

ModuleGlobal<ConversionJob> CurrentJob;

int16_t ConvFileSpec::SetPath(const std::string& path)
{
    m_path = path;
    if (State().setPathFails)
        return -43;
    m_name = GetFileName(path, true);
    return 0;
}

// The host's file record of the path, which names a file whether it exists or not, as the
// module's own does; with create, the file is made first.
static int16_t HostRecord(const std::string& path, HostFileSpec& out, bool create, bool replace, uint32_t creator,
                          uint32_t fileType)
{
    if (State().createFails)
        return -48;
    const std::u16string wide(path.begin(), path.end());
    XTHandle text = 0;
    XTHandle ref = 0;
    int32_t rc = CallHost<XText_New>(wide.data(), 0, static_cast<int32_t>(wide.size()), &text);
    if (rc == 0)
        rc = CallHost<XFJ_FileRefFromText>(text, creator, 0, 0, &ref);
    if (rc == 0 && create)
        rc = CallHost<XFJ_CreateFile>(ref, creator, fileType, replace ? 1 : 0);
    HostFileSpec created{};
    if (rc == 0)
        rc = CallHost<XFJ_GetFileSpec>(ref, &created);
    if (rc == 0)
        out = created;
    if (ref)
        CallHost<XFJ_Dispose>(ref);
    if (text)
        CallHost<XText_Dispose>(text);
    return static_cast<int16_t>(rc);
}

int16_t ConvFileSpec::GetHostSpec(HostFileSpec& out) const
{
    return HostRecord(m_path, out, false, false, XT_CREATOR_XPRESS, 0);
}

int16_t ConvFileSpec::CreateHostFile(HostFileSpec& out, bool replace, uint32_t creator, uint32_t fileType)
{
    return HostRecord(m_path, out, true, replace, creator, fileType);
}

int16_t ResolveHostFileSpec(HostFileSpec&, const char* extension)
{
    State().resolvedExtensions.push_back(extension);
    return 0;
}

// The server's jobs are not reached by the dialogs.
bool FolderUtils::ProcessConversion(const ustring&, const ustring&, FileKind, FileKind)
{
    return false;
}

int16_t HostTextToString(XTHandle text, std::string& out)
{
    int32_t length = 0;
    if (const int32_t rc = CallHost<XText_GetLength>(text, &length))
        return static_cast<int16_t>(rc);
    std::u16string wide(static_cast<std::size_t>(length) + 1, u'\0');
    if (const int32_t rc = CallHost<XText_GetChars>(text, &wide[0], length + 1))
        return static_cast<int16_t>(rc);
    out.assign(wide.begin(), wide.begin() + length);
    return 0;
}

// ---- Batch state ---------------------------------------------------------------------------

ModuleGlobal<BatchStatusFile> BatchStatus;
bool LaunchedByBatch = false;

BatchStatusFile::BatchStatusFile() = default;
BatchStatusFile::~BatchStatusFile() = default;
bool BatchStatusFile::Load(bool) { return false; }
std::string BatchStatusFile::GetFilePath() const { return std::string(); }
BatchMode BatchStatusFile::GetMode() { return BatchMode::None; }
bool BatchStatusFile::IsValid() { return true; }
bool BatchStatusFile::NamesJob() { return false; }
bool BatchStatusFile::IsActiveJob() { return false; }
bool BatchStatusFile::MarkStarted() { return false; }
bool BatchStatusFile::OnIdle(bool) { return false; }
bool ActivateBatchIfPending(BatchStatusFile&) { return false; }

void RegisterBatchGlobals()
{
    ModuleGlobals::Register(GlobalStep::BatchStatus, [] { BatchStatus.Build(); }, [] { BatchStatus.Destroy(); });
    ModuleGlobals::Register(GlobalStep::ConversionJob, [] { CurrentJob.Build(); }, [] { CurrentJob.Destroy(); });
}

void RegisterConversionGlobals()
{
    ModuleGlobals::Register(GlobalStep::CommandStrings, [] { PdfTargetFolder.Build(); }, [] { PdfTargetFolder.Destroy(); });
}

bool IsBatchRequested()
{
    return State().batchRequested;
}

void DeleteBatchRequestKey() {}

// ---- Commands and host document access -----------------------------------------------------

template <> void CommandAdapter<9>::ActionPerformed(XTVoidRec*) {}
template <> void CommandAdapter<11>::ActionPerformed(XTVoidRec*) {}
template <> void CommandAdapter<13>::ActionPerformed(XTVoidRec*) {}
template <> void CommandAdapter<14>::ActionPerformed(XTVoidRec*) {}
template <> void CommandAdapter<17>::ActionPerformed(XTVoidRec*) {}
template <> void IdleAdapter<12>::ActionPerformed(XTIdleRec*) {}
template <> void IdleAdapter<18>::ActionPerformed(XTIdleRec*) {}

int16_t ShowMessageBox(int32_t, const std::string&, const std::string&, const std::string&,
                       const std::string&, bool, bool, bool)
{
    return 0;
}

int32_t PdfOutputHook(void*) { return 0; }
