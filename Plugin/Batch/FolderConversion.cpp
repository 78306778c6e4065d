#include "Plugin/Batch/FolderRuns.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iomanip>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <utility>
#include <sstream>
#include <sys/stat.h>

#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Batch/BatchMode.h"
#include "Plugin/Batch/BatchStatusFile.h"
#include "Plugin/Batch/ConversionDriver.h"
#include "Plugin/Batch/HostFiles.h"
#include "Plugin/Batch/PdfCreation.h"
#include "Plugin/Mixer/MessageBox.h"
#include "Plugin/Mixer/Progress.h"
#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/KestoInterface.h"
#include "SHARED/Server/CnvTools/NodeFS.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/fs/Folders.h"

HostFileSpec SavedFolderSpec{};
HostFileSpec SavedSourceSpec{};
HostFileSpec SavedTargetSpec{};
ModuleGlobal<std::string> PdfTargetFolder;
bool ShowFinishedNotice = true;
ModuleGlobal<std::vector<std::string>> ConversionFileList;
ModuleGlobal<std::vector<std::string>> ProtectedTargetList;

namespace {

constexpr int32_t kRunDiagnostic = 12;

// The folder runs probe the host's PDF naming at most once per process, apart from the
// server entry's own probe.
bool FolderPdfProbeDone = false;

std::string PathOfSpec(const HostFileSpec& spec)
{
    std::string path;
    return FileSpecToPath(path, spec, false) == 0 ? path : std::string();
}

// One line of a run's numbered file list: the number right-aligned in 8 characters, ".) ", the path.
void LogNumbered(std::ostream& log, std::size_t number, const std::string& path)
{
    log << std::setw(8) << number << ".) " << path << '\n';
}

// A file of a run that was not converted, and what its conversion still left at its target
// (empty: nothing).
struct NotConverted {
    std::size_t index;
    std::string partlyWritten;
};

// Closes a run that converted not every file with the list of those it did not, so that the
// log names each, whatever stopped it (the command's own lines above say why), and the file a
// failed conversion still left.
void LogNotConverted(const std::vector<std::string>& files, const std::vector<NotConverted>& failed,
                     ConversionKind kind)
{
    if (failed.empty())
        return;
    std::ostream& log = GeneralLogStream();
    log << "\n##### Not converted: " << failed.size() << " of " << files.size() << " files\n";
    for (const NotConverted& f : failed)
        LogNumbered(log, f.index + 1, files[f.index] + PartlyWrittenNote(kind, f.partlyWritten));
    log.flush();
}

// Logs a path the scan leaves out, with the reason a link on its way was not followed, else the
// system's.
void LogSkipped(const std::string& path, int error, const std::string& refused = std::string())
{
    GeneralLogStream() << "\nSkipped \"" << path << "\": " << (refused.empty() ? std::strerror(error) : refused)
                       << std::endl;
}

const char* TargetExtension(ConversionKind kind)
{
    FileKind target = FileKind::None;
    DefaultFileKinds(kind, nullptr, &target, nullptr);
    return FileKindExtensions[static_cast<int>(target)];
}

// The folder that receives the targets of a kind.
std::string TargetRootOf(ConversionKind kind)
{
    switch (kind) {
    case ConversionKind::ToPdf: return PdfTargetFolder.IsBuilt() ? *PdfTargetFolder : std::string();
    case ConversionKind::ToDocument: return PathOfSpec(SavedTargetSpec);
    default: return PathOfSpec(SavedSourceSpec);
    }
}

bool* OverwriteSwitchOf(ConversionKind kind)
{
    switch (kind) {
    case ConversionKind::ToExchange: return &OverwriteFlags.exchangeFile;
    case ConversionKind::ToPdf: return &OverwriteFlags.pdf;
    case ConversionKind::ToCoordinates: return &OverwriteFlags.coordinates;
    case ConversionKind::ToXTags: return &OverwriteFlags.xtags;
    case ConversionKind::ToDocument: return &OverwriteFlags.document;
    default: return nullptr;
    }
}

// The source root as the runs map it: a source that is a single file has its folder as root,
// so that its target lands inside the target folder.
std::string MappingRoot(std::string root)
{
    StripTrailingSeparators(root);
    bool isDirectory = false;
    if (PathExists(root, &isDirectory) && !isDirectory) {
        const std::size_t separator = root.find_last_of("/\\");
        if (separator != std::string::npos)
            root.erase(separator == 0 ? 1 : separator);
    }
    return root;
}

// Makes the folder of a target when it is missing; the run goes on either way.
void PrepareTargetFolder(const std::string& target)
{
    const std::size_t separator = target.find_last_of("/\\");
    if (separator == std::string::npos || separator == 0)
        return;
    MakeMissingFolder(target.substr(0, separator));
}

bool IsDocumentKind(FileKind kind)
{
    return kind == FileKind::Qxp || kind == FileKind::Qxd;
}

int32_t ScanEntries(const std::string& path, FileKind wanted, bool recursive, bool findOne)
{
    std::vector<std::string>& list = *ConversionFileList;
    // The folder is opened through no link that another user may have put on its way: a member
    // of a team folder could aim it at a colleague's private folder and read the results.
    int folder = -1;
    std::string refused;
    const int opened = platform::fs::OpenUnderRule(path, O_RDONLY | O_DIRECTORY, folder, &refused);
    DIR* dir = opened == 0 ? ::fdopendir(folder) : nullptr;
    if (!dir) {
        if (folder >= 0)
            ::close(folder);
        LogSkipped(path, opened == 0 ? errno : opened, refused);
        return findOne ? 0 : static_cast<int32_t>(list.size());
    }
    // Sorted, so that a run lists and converts its files in the same order every time.
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());

    const std::unique_ptr<DIR, int (*)(DIR*)> closing(dir, ::closedir);
    const bool document = IsDocumentKind(wanted);
    const std::string extension = std::string(DotString) + FileKindExtensions[static_cast<int>(wanted)];
    for (const std::string& name : names) {
        const std::string entryPath = JoinPath(path, name);
        struct stat linkInfo {};
        if (::fstatat(::dirfd(dir), name.c_str(), &linkInfo, AT_SYMLINK_NOFOLLOW) != 0) {
            LogSkipped(entryPath, errno);
            continue;
        }
        struct stat info = linkInfo;
        if (S_ISLNK(linkInfo.st_mode)) {
            const std::string linkRefused = platform::fs::LinkRefusal(entryPath);
            if (!linkRefused.empty() || ::fstatat(::dirfd(dir), name.c_str(), &info, 0) != 0) {
                if (!findOne)
                    LogSkipped(entryPath, errno, linkRefused);
                continue;
            }
        }
        // A link to a folder is never entered, so that a link back up cannot loop.
        if (S_ISLNK(linkInfo.st_mode) && S_ISDIR(info.st_mode))
            continue;
        if (S_ISDIR(info.st_mode)) {
            if (!recursive)
                continue;
            HostFileSpec sub{};
            if (xt_fsmakefsspec(0, 0, entryPath.c_str(), &sub) != 0) {
                GeneralLogStream() << "\nSkipped \"" << entryPath << "\": the host cannot name it" << std::endl;
                continue;
            }
            ScanFolder(sub, wanted, recursive, false, std::string());
            continue;
        }
        if (IsHiddenOrSystem(name))
            continue;
        if (!document && !CompareStrings(GetExtension(name, true), extension, false))
            continue;
        // A pipe would block the host in its open, and a device is no document.
        if (!S_ISREG(info.st_mode)) {
            if (!findOne)
                GeneralLogStream() << "\nSkipped \"" << entryPath << "\": no plain file" << std::endl;
            continue;
        }
        if (findOne) {
            if (!document || IsOpenableDocument(entryPath))
                return 1;
            continue;
        }
        list.push_back(entryPath);
    }
    return findOne ? 0 : static_cast<int32_t>(list.size());
}

// Whether a listed file can give its target. A document run lists every visible file and lets
// the host decide, but a file of one of the module's own other kinds (an exchange file, a PDF, a
// log) is never a document: the target named after it is not this run's to replace.
bool MayWriteTarget(const std::string& file, FileKind sourceKind)
{
    const FileKind kind = FileKindOfPath(file, false);
    return kind == sourceKind || kind == FileKind::None || (IsDocumentKind(kind) && IsDocumentKind(sourceKind));
}

// The files a run converts, by identity, so that a target folder that is also the source folder
// (under any spelling of its path) never loses a source before it is converted.
class RunSources {
public:
    explicit RunSources(const std::vector<std::string>& files)
    {
        for (const std::string& file : files) {
            struct stat info {};
            if (::stat(file.c_str(), &info) == 0)
                m_files.insert({info.st_dev, info.st_ino});
        }
    }

    bool Holds(const std::string& path) const
    {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && m_files.count({info.st_dev, info.st_ino}) != 0;
    }

private:
    std::set<std::pair<dev_t, ino_t>> m_files;
};

// Why a listed file may not write its target in this run; empty when it may. A target that an
// earlier file of the run wrote is that file's result ("twin.qxp" and "twin.qxd" both give
// "twin.dwq"), and a file that is its own target would be replaced by its result.
std::string RefusedTarget(const std::string& file, const std::string& target,
                          const std::map<std::string, std::string>& written)
{
    const auto earlier = written.find(target);
    if (earlier != written.end())
        return "\nNot converted: \"" + file + "\" has the same target \"" + target + "\" as \"" + earlier->second +
               "\", which was converted before it.";
    if (IsSameFile(file, target))
        return "\nNot converted: \"" + file + "\" is its own target.";
    return std::string();
}

template <class Run>
void RunFolderEntry(const HostFileSpec& source, const char* failure, Run run)
{
    bool failed = false;
    try {
        run();
    } catch (...) {
        failed = true;
    }
    // What the run wrote is on the disk before it says so (and before a batch job's archive); a
    // run whose results the disk may lose failed, and the general log names the folder and why.
    if (!SyncWrittenNames() || failed)
        ShowMessageBox(kAlertResource, failure, PathOfSpec(source), "", "", false, false, false);
    if (ShowFinishedNotice) {
        // Shown at the end of a folder command; a batch or server run only logs it, since
        // nobody is there to close it.
        const UnattendedState state = CurrentUnattendedState();
        ShowMessageBox(kAlertResource, "Conversion finished.", "", "", "", state.multiDoc && !state.batch && !state.server,
                       false, false);
    }
    SetAlertText("", "", "", "");
}

} // namespace

void ExportFolder(const HostFileSpec& target, bool recursive)
{
    RunFolderEntry(SavedFolderSpec, "Export failed for folder: ", [&] {
        ProcessFolderConversion(SavedFolderSpec, target, FileKind::Qxp, FileKind::Dwq, recursive);
    });
}

void ExportFolderToPdf(const HostFileSpec& target, bool recursive)
{
    RunFolderEntry(SavedFolderSpec, "Export failed for folder: ", [&] {
        ProcessFolderConversion(SavedFolderSpec, target, FileKind::Qxp, FileKind::Pdf, recursive);
    });
}

void ImportFolder(const HostFileSpec&, bool recursive)
{
    RunFolderEntry(SavedSourceSpec, "Import failed for folder: ", [&] {
        ProcessFolderConversion(SavedSourceSpec, SavedTargetSpec, FileKind::Dwq, FileKind::Qxp, recursive);
    });
}

bool MakeMissingFolder(std::string folder)
{
    StripTrailingSeparators(folder);
    bool isDirectory = false;
    if (PathExists(folder, &isDirectory)) {
        if (!isDirectory)
            debug_check(kRunDiagnostic, "Target is not a folder but a file having the same name!");
        return isDirectory;
    }
    std::string parent;
    std::string name;
    bool created = false;
    if (SplitPathAtBackslash(folder, parent, name, nullptr, true)) {
        t_Folder node(name, parent, false, true);
        created = node.CreateWithParents();
    }
    if (created && PathExists(folder, &isDirectory) && isDirectory)
        return true;
    debug_check(kRunDiagnostic, "Unable to create missing target folders!");
    GeneralLogStream() << "\nUnable to create missing target folders: \"" << folder << "\"" << std::endl;
    return false;
}

int32_t ScanFolder(const HostFileSpec& folder, FileKind wanted, bool recursive, bool findOne,
                   const std::string& subPath)
{
    std::vector<std::string>& list = *ConversionFileList;
    std::string path;
    if (FileSpecToPath(path, folder, false) != 0) {
        GeneralLogStream() << "\nSkipped \"" << FileSpecName(folder) << "\": the host cannot give its path" << std::endl;
        return findOne ? 0 : static_cast<int32_t>(list.size());
    }
    if (!subPath.empty())
        path = JoinPath(path, subPath);
    struct stat info {};
    if (const std::string refused = platform::fs::LinkRefusal(path); !refused.empty() || ::stat(path.c_str(), &info) != 0) {
        LogSkipped(path, errno, refused);
        return findOne ? 0 : static_cast<int32_t>(list.size());
    }
    if (!S_ISDIR(info.st_mode)) {
        if (S_ISREG(info.st_mode) && !IsHiddenOrSystem(GetFileName(path, true)))
            list.push_back(path);
        return static_cast<int32_t>(list.size());
    }
    return ScanEntries(path, wanted, recursive, findOne);
}

bool CollectSourceFiles(const HostFileSpec& folder, int32_t fileKind, bool recursive, const std::string& subFolder)
{
    if (fileKind < 0 || fileKind >= kFileKindCount - 1)
        return false;
    return ScanFolder(folder, static_cast<FileKind>(fileKind), recursive, true, subFolder) != 0;
}

std::string FolderRunTarget(const std::string& sourceFile, const std::string& sourceRoot, ConversionKind kind)
{
    // The new name keeps every dot of the old one but the extension's: "a.b.qxp" and "a.c.qxp"
    // stay apart.
    std::string folder;
    std::string name;
    if (!SplitPathAtBackslash(sourceFile, folder, name, nullptr, false))
        return std::string();
    const std::string newName = name + DotString + TargetExtension(kind);

    std::string root = TargetRootOf(kind);
    StripTrailingSeparators(root);
    // Without a target folder a target would land in whatever folder the host runs in.
    if (root.empty())
        return std::string();
    const bool mapFolders = Settings.IsBuilt() && Settings->GetMapSourceFoldersToTarget();
    const bool includeRoot = Settings.IsBuilt() && Settings->GetIncludeSourceFolderInTarget();
    if (!mapFolders && !includeRoot)
        return JoinPath(root, newName);

    const std::string sourceBase = MappingRoot(sourceRoot);
    if (includeRoot) {
        std::string parent;
        std::string last;
        if (SplitPathAtBackslash(sourceBase, parent, last, nullptr, true) && !last.empty())
            root = JoinPath(root, last);
    }
    if (mapFolders && sourceBase.size() < folder.size() && folder.compare(0, sourceBase.size(), sourceBase) == 0 &&
        IsPathSeparator(folder[sourceBase.size()])) {
        std::string relative = folder.substr(sourceBase.size() + 1);
        for (char& c : relative)
            if (c == '\\')
                c = '/';
        root = JoinPath(root, relative);
    }
    return JoinPath(root, newName);
}

int32_t CountProtectedTargets(const std::string& sourceRoot, ConversionKind kind)
{
    const bool* allowed = OverwriteSwitchOf(kind);
    if (!allowed || !*allowed)
        return 0;
    ProtectedTargetList->clear();
    FileKind sourceKind = FileKind::None;
    DefaultFileKinds(kind, &sourceKind, nullptr, nullptr);
    const RunSources sources(*ConversionFileList);
    // Nothing is removed here: a target goes only when its conversion's complete result takes
    // its place, so a document that fails to open or convert leaves its old target as it was.
    int32_t replaceable = 0;
    for (const std::string& file : *ConversionFileList) {
        if (!MayWriteTarget(file, sourceKind))
            continue;
        const std::string target = FolderRunTarget(file, sourceRoot, kind);
        if (target.empty() || sources.Holds(target))
            continue;
        // A target below a link that is not followed is protected whether or not it exists.
        if (IsWriteProtected(target))
            ProtectedTargetList->push_back(target);
        else if (PathExists(target))
            ++replaceable;
    }
    return replaceable;
}

void ShowProtectedTargets(std::size_t count)
{
    ShowMessageBox(kAlertResource, "Overwrite not allowed for " + std::to_string(count) + " files in your target!",
                   "\nChange attributes or rename on request.", "", "", false, false, false);
}

void ShowConversionProgress(XTHandle dialog, int32_t count, int32_t number, const std::string& name,
                            ConversionKind kind)
{
    if (static_cast<int32_t>(kind) < 0 || kind >= ConversionKind::Invalid)
        return;
    std::ostringstream text;
    if (kind == ConversionKind::ToDocument) {
        text << "Import to Quark ";
    } else {
        text << "Export to ";
        FileKind target = FileKind::None;
        DefaultFileKinds(kind, nullptr, &target, nullptr);
        switch (target) {
        case FileKind::Dwq: text << "Verbant -> analysing file "; break;
        case FileKind::Pdf: text << "PDF -> analysing file "; break;
        case FileKind::Coo: text << "Coordinates."; break;
        case FileKind::Tgx: text << "XTags."; break;
        default: break;
        }
    }
    const KestoInterface* state = KestoInterface::Instance();
    if (!(state && state->m_serverMode)) {
        const int digits = count > 0 ? static_cast<int>(std::log10(static_cast<double>(count))) + 1 : 1;
        text << std::setw(digits) << number << " of " << count;
        if (kind == ConversionKind::ToDocument)
            text << " files";
    }
    if (ConversionProgressState* progress = ConversionProgress.GetIf()) {
        progress->dialog = dialog;
        progress->count = count;
        progress->number = number;
        progress->name = name;
        progress->kind = kind;
    }
    if (!dialog)
        return;
    SetProgressDialogText(dialog, text.str());
    SetProgressDialogValue(dialog, number, count);
}

void RefreshConversionProgress()
{
    const ConversionProgressState* progress = ConversionProgress.GetIf();
    if (!progress)
        return;
    const ConversionProgressState last = *progress;
    ShowConversionProgress(last.dialog, last.count, last.number, last.name, last.kind);
}

void ProcessFolderConversion(const HostFileSpec& source, const HostFileSpec&, FileKind sourceKind,
                             FileKind targetKind, bool recursive)
{
    const ConversionKind kind = ConversionKindOf(sourceKind, targetKind, FileKind::None);
    if (kind == ConversionKind::Invalid)
        return;
    ConversionFileList->clear();
    const int32_t count = ScanFolder(source, sourceKind, recursive, false, std::string());
    if (count == 0)
        return;

    const std::string sourceRoot = PathOfSpec(source);
    const ConversionProgressScope progress;
    CountProtectedTargets(sourceRoot, kind);
    for (const std::string& target : *ProtectedTargetList)
        GeneralLogStream() << "\nWrite-protected target \"" << ConcealSecret(target) << "\": " << WriteProtection(target)
                           << std::endl;
    if (!ProtectedTargetList->empty())
        ShowProtectedTargets(ProtectedTargetList->size());
    if (BatchJobRunning()) {
        BatchStatus->SetTotal(count, true, true);
        BatchStatus->SetCount(0, true, true);
    }

    std::ostream& log = GeneralLogStream();
    log << "\n\n#####\n##### IMPORT/EXPORT-FILES #####\n#####\n\n";
    // A copy: the list must not change under the run, whatever the commands do.
    const std::vector<std::string> files = *ConversionFileList;
    for (std::size_t i = 0; i < files.size(); ++i)
        LogNumbered(log, i + 1, files[i]);
    log.flush();

    ConversionJob& job = *CurrentJob;
    job.Reset();
    job.kind = kind;
    job.SetFileTypes();
    // The targets this run has written, each with the file it came from.
    std::map<std::string, std::string> written;
    std::vector<NotConverted> failed;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const int32_t number = static_cast<int32_t>(i + 1);
        const std::string& file = files[i];
        if (job.source.SetPath(file) != 0) {
            debug_check(kRunDiagnostic, "Set source error => conversion failed!");
            failed.push_back({i, std::string()});
            continue;
        }
        std::string folder;
        std::string name;
        if (!SplitPathAtBackslash(file, folder, name, nullptr, false)) {
            debug_check(kRunDiagnostic, "Split path error => conversion failed!");
            failed.push_back({i, std::string()});
            continue;
        }
        ShowConversionProgress(progress.Dialog(), count, number, name, kind);
        const std::string target = FolderRunTarget(file, sourceRoot, kind);
        if (target.empty()) {
            debug_check(kRunDiagnostic, "Replace extension error => conversion failed!");
            failed.push_back({i, std::string()});
            continue;
        }
        const std::string refused = RefusedTarget(file, target, written);
        if (!refused.empty()) {
            GeneralLogStream() << refused << std::endl;
            failed.push_back({i, std::string()});
            SetAlertText("", "", "", "");
            BatchCountUpdate(number);
            continue;
        }
        PrepareTargetFolder(target);
        if (job.target.SetPath(target) != 0) {
            debug_check(kRunDiagnostic, "Set target error => conversion failed!");
            failed.push_back({i, std::string()});
            continue;
        }
        if (kind == ConversionKind::ToPdf && PdfMode == 3 && !FolderPdfProbeDone) {
            const ConversionJob saved = job;
            FolderPdfProbeDone = true;
            try {
                PdfMode = PreparePdfMode(3);
            } catch (...) {
                debug_check(kRunDiagnostic, "PDF-Mode check failed => using default values");
            }
            job = saved;
        }
        bool partlyWritten = false;
        const bool converted = ConvertJob(job, &partlyWritten);
        if (converted || partlyWritten)
            written[target] = file;
        if (!converted) {
            debug_check(kRunDiagnostic, (job.source.GetName() + " not converted!").c_str());
            failed.push_back({i, partlyWritten ? target : std::string()});
        }
        SetAlertText("", "", "", "");
        BatchCountUpdate(number);
    }
    LogNotConverted(files, failed, kind);
    if (progress.Dialog())
        RefreshProgressDialog(progress.Dialog());
}
