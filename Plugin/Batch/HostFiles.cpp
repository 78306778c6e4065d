#include "Plugin/Batch/HostFiles.h"

#include <cerrno>
#include <cstring>
#include <ostream>

#include "Container/Storage/Errors.h"
#include "Foundation/Log.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Batch/HostFileObject.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/HostText.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/fs/Folders.h"
#include "platform/fs/TempFiles.h"
#include "platform/host/documents/XTDocSuites.h"

const char PathSeparator[] = "/";
const char DotString[] = ".";
int32_t PdfMode = 3;

namespace {

// The host's error of an open without a specification.
constexpr int16_t kNoSpecToOpen = 4;
// The host's option value for a test open.
constexpr int32_t kTestOpenOptions = 63;

} // namespace

bool IsHiddenOrSystem(const std::string& name)
{
    return !name.empty() && name[0] == '.';
}

bool GetSystemTempPathU(std::string& out)
{
    return GetSystemTempPath(out);
}

std::string SystemTempPathU()
{
    return SystemTempPath<std::string>();
}

FileKind FileKindByExtension(const std::string& extension, bool strict)
{
    if (strict && extension.size() != 4)
        return FileKind::None;
    for (int kind = 0; kind < kFileKindCount; ++kind) {
        if (*FileKindExtensions[kind] == '\0')
            continue;
        if (CompareStrings(extension, std::string(DotString) + FileKindExtensions[kind], false))
            return static_cast<FileKind>(kind);
    }
    return FileKind::None;
}

FileKind FileKindOfPath(const std::string& path, bool strict)
{
    return FileKindByExtension(GetExtension(path, true), strict);
}

int16_t RemoveHostFile(const std::string& path)
{
    HostFileSpec spec{};
    int32_t result = xt_fsmakefsspec(0, 0, path.c_str(), &spec);
    if (result == XT_OK) {
        HostFileObject file;
        result = file.Result();
        if (result == XT_OK)
            result = CallHost<XFJ_SetFileSpec>(file.Ref(), &spec);
        if (result == XT_OK)
            result = CallHost<XFJ_DeleteFile>(file.Ref());
    }
    return HostCode(debug_check(result));
}

bool IsOpenableDocument(const std::string& path)
{
    HostFileObject file(path, XT_CREATOR_XPRESS);
    if (file.Result() != XT_OK)
        return false;
    if (CallHost<XDD_OpenDocument>(file.Ref(), kTestOpenOptions) != XT_OK)
        return false;
    CloseProject(-1, 1);
    return true;
}

std::string HostOpenRefusal()
{
    char text[2048] = {};
    return CallHost<XDD_OpenRefusal>(text, static_cast<int32_t>(sizeof text)) == XT_OK ? text : "";
}

int16_t CreateHostDocumentFile(const std::string& path, int16_t* ref, int32_t access)
{
    return HostCode(CallHost<XFJ_CreateDocumentFile>(path.c_str(), ref, access));
}

namespace {

// A failed open goes to the host's error reporting, whose alert waits for a user. Nobody is there
// in a folder, batch or server run: the failure goes to the general log and the run goes on.
int16_t ReportOpenFailure(const HostFileSpec* spec, int32_t result)
{
    if (result == XT_OK || !CurrentUnattendedState().Any()) {
        // The alert only tells the user; the caller still needs the open's own outcome.
        CallHost<XAQ_ReportError>(result);
        return HostCode(result);
    }
    std::string path;
    if (!spec || FileSpecToPath(path, *spec, false) != 0)
        path = spec ? FileSpecName(*spec) : std::string();
    const std::string refusal = HostOpenRefusal();
    GeneralLogStream() << "\nUnable to open \"" << ConcealSecret(path) << "\" as a document (host error " << result
                       << (refusal.empty() ? "" : ": " + ConcealSecret(refusal)) << "); it is not converted."
                       << std::endl;
    return HostCode(result);
}

// The host's save of a project into a file that the caller names.
constexpr int32_t kSaveToFile = 0x43;

// A host file object pointed at the file spec, handed to call; answers the host's code.
template <class Call>
int32_t WithFileObject(const HostFileSpec& spec, Call call)
{
    HostFileObject file;
    int32_t result = file.Result();
    if (result == XT_OK)
        result = CallHost<XFJ_SetFileSpec>(file.Ref(), &spec);
    if (result == XT_OK)
        result = call(file.Ref());
    return result;
}

} // namespace

int16_t OpenHostDocument(const HostFileSpec* spec, int32_t options)
{
    if (!spec)
        return ReportOpenFailure(nullptr, kNoSpecToOpen);
    const int32_t result =
        WithFileObject(*spec, [options](XTHandle file) { return CallHost<XDD_OpenDocument>(file, options); });
    return ReportOpenFailure(spec, result);
}

int32_t SaveProjectTo(const HostFileSpec& spec)
{
    return WithFileObject(spec, [](XTHandle file) { return CallHost<XDD_SaveTo>(file, kSaveToFile); });
}

int16_t SetJobTargetName(std::string& path)
{
    std::string name = CurrentJob->GetTarget().GetPath();
    // Only a dot in the file's own name starts an extension, not one in a folder's name.
    const std::size_t dot = name.rfind('.');
    const std::size_t separator = name.find_last_of("/\\");
    if (dot != std::string::npos && (separator == std::string::npos || dot > separator) &&
        name.size() - dot == 4)
        name.erase(dot);
    if (PdfMode == 2)
        name += std::string(DotString) + FileKindExtensions[static_cast<int>(FileKind::Pdf)];
    const int16_t result = CurrentJob->target.SetPath(name);
    if (result == 0)
        path = name;
    return result;
}

FileVersion VersionOf(const std::string& path)
{
    struct stat status {};
    FileVersion version;
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return version;
    version.exists = true;
    version.inode = status.st_ino;
    version.written = status.st_mtim;
    version.size = status.st_size;
    return version;
}

std::string WriteProtection(const std::string& path)
{
    // A link that is not followed protects its name also when it names no file, and one on the
    // way protects every name below it.
    if (std::string link = platform::fs::LinkRefusal(path); !link.empty())
        return link;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return std::string();
    const std::string refused = platform::fs::ReplaceRefusal(path);
    if (refused.empty() && ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        return "it is no plain file";
    return refused;
}

bool IsWriteProtected(const std::string& path)
{
    return !WriteProtection(path).empty();
}

bool IsSameFile(const std::string& one, const std::string& other)
{
    struct stat a {};
    struct stat b {};
    return ::stat(one.c_str(), &a) == 0 && ::stat(other.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::string ContainerFileErrorText(int32_t code)
{
    switch (code) {
    case FE_StorageMediumFull: return SystemErrorText(ENOSPC);
    case FE_StorageAccessDenied: return SystemErrorText(EACCES);
    case FE_StorageFileNotFound: return SystemErrorText(ENOENT);
    case FE_StorageWriteFault: return SystemErrorText(EIO);
    case FE_StorageTooManyOpenFiles: return SystemErrorText(EMFILE);
    case FE_StorageOutOfMemory: return SystemErrorText(ENOMEM);
    default: return FilterErrorText(code);
    }
}

bool NewFileWritten(const std::string& path, const FileVersion& before)
{
    const FileVersion after = VersionOf(path);
    return after.exists && after.size > 0 && !(before.exists && after == before);
}
