// The file, file-dialog, folder-chooser and text-object operations of the host core.
//
// A file specification names an item by its folder (volume 1 and a folder id that the host
// issues the first time it sees the folder) and its name. File references hold a path and
// need not name an existing item.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <system_error>

#include "platform/host/FileErrors.h"
#include "platform/host/Suites.h"
#include "platform/host/Text.h"

namespace xthost {

namespace {

namespace fs = std::filesystem;

constexpr int16_t kVolume = 1;
constexpr int32_t kRootParentId = 1;
constexpr int32_t kRootId = 2;
constexpr int32_t kMaxFilters = 8;

Host& H()
{
    return *Host::Current();
}

std::string HandleText(XTHandle handle)
{
    return Hex(static_cast<uint32_t>(handle));
}

std::string CreatorText(uint32_t code)
{
    std::string text;
    for (int shift = 0; shift <= 24; shift += 8) {
        const char c = static_cast<char>(code >> shift & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

bool IsFolder(const std::string& path)
{
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool Exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

int32_t FolderId(const std::string& folder)
{
    if (folder == "/")
        return kRootId;
    Host& host = H();
    auto it = host.folderIds.find(folder);
    if (it != host.folderIds.end())
        return it->second;
    const int32_t id = host.nextFolderId++;
    host.folderIds.emplace(folder, id);
    host.folderPaths.emplace(id, folder);
    return id;
}

bool FolderPath(int32_t id, std::string& path)
{
    if (id == kRootId) {
        path = "/";
        return true;
    }
    auto it = H().folderPaths.find(id);
    if (it == H().folderPaths.end())
        return false;
    path = it->second;
    return true;
}

// The file spec of a normal path whose folder exists.
int32_t SpecOf(const std::string& path, XTFileSpec& spec)
{
    XTFileSpec made{};
    made.volume = kVolume;
    if (path == "/") {
        made.parentId = kRootParentId;
    } else {
        const std::string folder = FolderOf(path);
        const std::string name = NameOf(path);
        if (name.size() >= sizeof made.name)
            return XT_ERR_BAD_NAME;
        if (!IsFolder(folder))
            return XT_ERR_DIR_NOT_FOUND;
        made.parentId = FolderId(folder);
        std::copy(name.begin(), name.end(), made.name);
    }
    spec = made;
    return XT_OK;
}

int32_t PathOfSpec(const XTFileSpec& spec, std::string& path)
{
    if (spec.volume != kVolume)
        return XT_ERR_PARAM;
    const void* end = std::memchr(spec.name, 0, sizeof spec.name);
    if (!end)
        return XT_ERR_BAD_NAME;
    const std::string name(spec.name, static_cast<const char*>(end) - spec.name);
    if (spec.parentId == kRootParentId && name.empty()) {
        path = "/";
        return XT_OK;
    }
    std::string folder;
    if (!FolderPath(spec.parentId, folder))
        return XT_ERR_DIR_NOT_FOUND;
    if (name.empty())
        path = folder;
    else
        path = folder == "/" ? "/" + name : folder + "/" + name;
    return XT_OK;
}

std::string* FindRef(XTHandle ref, const char* operation)
{
    std::string* path = H().fileRefs.Find(ref);
    if (!path)
        H().Error(std::string(operation) + ": unknown file reference " + HandleText(ref));
    return path;
}

std::u16string* FindText(XTHandle text, const char* operation)
{
    std::u16string* chars = H().texts.Find(text);
    if (!chars)
        H().Error(std::string(operation) + ": unknown text object " + HandleText(text));
    return chars;
}

XTHandle NewText(const std::string& utf8)
{
    return H().texts.Issue(Utf8ToUtf16(utf8));
}

// ---------------------------------------------------------------------------------------------
// File references and specifications.

int32_t NewFileRef(XTHandle* out)
{
    if (!out) {
        H().Error("new file reference: no variable");
        return XT_ERR_PARAM;
    }
    *out = H().fileRefs.Issue(std::string());
    return XT_OK;
}

int32_t GetFileSpec(XTHandle ref, XTFileSpec* out)
{
    std::string* path = FindRef(ref, "file specification");
    if (!path || !out) {
        if (path)
            H().Error("file specification: no record");
        return XT_ERR_PARAM;
    }
    if (path->empty())
        return XT_ERR_PARAM;
    return SpecOf(*path, *out);
}

int32_t SetFileSpec(XTHandle ref, const XTFileSpec* spec)
{
    std::string* path = FindRef(ref, "set file specification");
    if (!path || !spec) {
        if (path)
            H().Error("set file specification: no record");
        return XT_ERR_PARAM;
    }
    std::string made;
    const int32_t result = PathOfSpec(*spec, made);
    if (result == XT_OK)
        *path = made;
    return result;
}

int32_t GetApplicationFolder(XTHandle ref)
{
    std::string* path = FindRef(ref, "application folder");
    if (!path)
        return XT_ERR_PARAM;
    *path = H().AppFolder();
    return XT_OK;
}

int32_t GetTempFolder(XTHandle* ref)
{
    if (!ref) {
        H().Error("temporary folder: no variable");
        return XT_ERR_PARAM;
    }
    if (*ref == 0)
        *ref = H().fileRefs.Issue(std::string());
    std::string* path = FindRef(*ref, "temporary folder");
    if (!path)
        return XT_ERR_PARAM;
    *path = H().TempFolder();
    return XT_OK;
}

int32_t ResolveRelativePath(XTHandle ref, XTHandle relative)
{
    std::string* path = FindRef(ref, "resolve relative path");
    std::u16string* text = path ? FindText(relative, "resolve relative path") : nullptr;
    if (!path || !text)
        return XT_ERR_PARAM;
    const std::string rel = Utf16ToUtf8(*text);
    if (path->empty() || rel.empty())
        return XT_ERR_PARAM;
    *path = NormalPath(rel, *path);
    return XT_OK;
}

int32_t GetFullPathText(XTHandle ref, XTHandle* out)
{
    std::string* path = FindRef(ref, "full path");
    if (!path || !out) {
        if (path)
            H().Error("full path: no variable");
        return XT_ERR_PARAM;
    }
    if (path->empty())
        return XT_ERR_PARAM;
    *out = NewText(*path);
    return XT_OK;
}

int32_t GetFileNameText(XTHandle ref, XTHandle* out)
{
    std::string* path = FindRef(ref, "file name");
    if (!path || !out) {
        if (path)
            H().Error("file name: no variable");
        return XT_ERR_PARAM;
    }
    if (path->empty())
        return XT_ERR_PARAM;
    *out = NewText(NameOf(*path));
    return XT_OK;
}

int32_t CreateFile(XTHandle ref, uint32_t creator, uint32_t, int32_t replace)
{
    std::string* found = FindRef(ref, "create file");
    if (!found)
        return XT_ERR_PARAM;
    const std::string path = *found;
    if (path.empty())
        return XT_ERR_PARAM;
    if (!IsFolder(FolderOf(path)))
        return XT_ERR_DIR_NOT_FOUND;
    if (Exists(path)) {
        if (!replace)
            return XT_ERR_DUPLICATE_FILE;
        if (IsFolder(path))
            return XT_ERR_PARAM;
        // A plain file of one name is emptied, not removed and made anew: it keeps its owner and
        // its mode (a file private to its owner is never open to others on its way), a link stays
        // a link, and whoever holds it (an import holds its work document against other
        // processes' sweeps) still holds it. A file of several names is replaced alone.
        struct stat st {};
        std::error_code ec;
        if ((::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) && !fs::remove(path, ec))
            return HostFileError(ec.value(), XT_ERR_IO);
    }
    // A new file gets the process's default mode. The system's reason for a refusal becomes the
    // host's code for it: a folder nobody may write answers otherwise than a full disk.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return HostFileError(errno, XT_ERR_IO);
    ::close(fd);
    H().Note("file created " + Quote(path) + " (" + CreatorText(creator) + ")");
    return XT_OK;
}

int32_t DeleteFile(XTHandle ref)
{
    std::string* found = FindRef(ref, "delete file");
    if (!found)
        return XT_ERR_PARAM;
    const std::string path = *found;
    if (path.empty() || !Exists(path))
        return XT_ERR_FILE_NOT_FOUND;
    std::error_code ec;
    if (!fs::remove(path, ec))
        return XT_ERR_IO;
    H().Note("file deleted " + Quote(path));
    return XT_OK;
}

int16_t SpecToPath(char* buffer, int32_t bufferSize, const XTFileSpec* spec, int32_t)
{
    if (!buffer || bufferSize <= 0 || !spec) {
        H().Error("path of a file specification: no buffer, no size or no record");
        return XT_ERR_PARAM;
    }
    buffer[0] = '\0';
    std::string path;
    const int32_t result = PathOfSpec(*spec, path);
    if (result != XT_OK)
        return static_cast<int16_t>(result);
    if (static_cast<int64_t>(path.size()) + 1 > bufferSize)
        return XT_ERR_BAD_NAME;
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = '\0';
    return XT_OK;
}

int16_t MakeFSSpec(int16_t volume, int32_t folderId, const char* nameOrPath, XTFileSpec* out)
{
    if (!out) {
        H().Error("make file specification: no record");
        return XT_ERR_PARAM;
    }
    const std::string text = BoundedString(nameOrPath, XT_PATH_BUFFER);
    // A path longer than the system takes is refused, never cut to name another item.
    if (text.size() >= static_cast<std::size_t>(XT_PATH_BUFFER))
        return XT_ERR_BAD_NAME;
    std::string path;
    if (volume == 0 && folderId == 0) {
        if (text.empty())
            return XT_ERR_PARAM;
        path = NormalPath(text);
    } else {
        std::string folder;
        if (volume != kVolume || !FolderPath(folderId, folder))
            return XT_ERR_DIR_NOT_FOUND;
        path = text.empty() ? folder : NormalPath(text, folder);
    }
    if (!Exists(path))
        return XT_ERR_FILE_NOT_FOUND;
    return static_cast<int16_t>(SpecOf(path, *out));
}

int32_t FileRefFromText(XTHandle text, uint32_t, int32_t, int32_t, XTHandle* out)
{
    std::u16string* chars = FindText(text, "file reference from text");
    if (!chars || !out) {
        if (chars)
            H().Error("file reference from text: no variable");
        return XT_ERR_PARAM;
    }
    const std::string path = Utf16ToUtf8(*chars);
    if (path.empty())
        return XT_ERR_PARAM;
    *out = H().fileRefs.Issue(NormalPath(path));
    return XT_OK;
}

// ---------------------------------------------------------------------------------------------
// The folder chooser and the file dialogs.

int16_t BrowseForFolder(const char* prompt, char* startFolder, int32_t, int16_t* volume,
                        int32_t* folderId, int32_t, int32_t)
{
    Host& host = H();
    if (!volume || !folderId) {
        host.Error("folder chooser: no variables for the choice");
        return XT_ERR_PARAM;
    }
    Prompt question;
    question.kind = Prompt::kFolder;
    question.title = BoundedString(prompt, 1024);
    question.proposed = BoundedString(startFolder, XT_PATH_BUFFER);
    host.Note("folder chooser " + Quote(question.title) + " starts at " + Quote(question.proposed));
    const Answer answer = host.Ask(question);
    if (answer.kind == Answer::kPaths && answer.paths.size() == 1) {
        const std::string path = NormalPath(answer.paths.front());
        if (IsFolder(path)) {
            *volume = kVolume;
            *folderId = FolderId(path);
            host.Note("folder chooser: " + Quote(path));
            return XT_OK;
        }
        host.Error("folder chooser: " + Quote(path) + " is no folder");
    } else if (answer.kind != Answer::kCancel) {
        host.Error("folder chooser: expected one folder or cancel");
    }
    host.Note("folder chooser: cancelled");
    return XT_ERR_CANCELLED;
}

int32_t RunFileDialog(bool save, XTHandle dialog, XTHandle defaultRef, const char* title,
                      const char* defaultName, const XTFileFilter* const* filters)
{
    Host& host = H();
    const char* what = save ? "save dialog" : "open dialog";
    FileDialogState* state = host.fileDialogs.Find(dialog);
    if (!state) {
        host.Error(std::string(what) + ": unknown file dialog " + HandleText(dialog));
        return XT_ERR_PARAM;
    }
    state->chosen.clear();
    Prompt question;
    question.kind = save ? Prompt::kSaveFile : Prompt::kOpenFile;
    question.title = BoundedString(title, 1024);
    std::string line = std::string(what) + " " + Quote(question.title);
    for (int i = 0; filters && i < kMaxFilters && filters[i]; ++i) {
        const std::string ext = BoundedString(filters[i]->extension, sizeof filters[i]->extension);
        question.extensions.push_back(ext);
        line += " filter " + Quote(BoundedString(filters[i]->name, sizeof filters[i]->name)) +
                " (*." + ext + ")";
    }
    if (save) {
        std::string folder;
        std::string name = BoundedString(defaultName, 256);
        if (defaultRef) {
            std::string* refPath = FindRef(defaultRef, what);
            if (!refPath)
                return XT_ERR_PARAM;
            folder = refPath->empty() ? std::string() : FolderOf(*refPath);
            if (name.empty() && !refPath->empty())
                name = NameOf(*refPath);
        }
        question.proposed = NormalPath(name.empty() ? "." : name, folder);
        line += " proposes " + Quote(question.proposed);
    }
    host.Note(line);
    const Answer answer = host.Ask(question);
    if (answer.kind == Answer::kCancel) {
        host.Note(std::string(what) + ": cancelled");
        return XT_ERR_CANCELLED;
    }
    if (answer.kind != Answer::kPaths || answer.paths.empty() || (save && answer.paths.size() != 1)) {
        host.Error(std::string(what) + ": expected " + (save ? "one path" : "paths") + " or cancel");
        host.Note(std::string(what) + ": cancelled");
        return XT_ERR_CANCELLED;
    }
    std::vector<std::string> chosen;
    for (const auto& given : answer.paths) {
        std::string path = NormalPath(given);
        bool matches = question.extensions.empty();
        for (const auto& ext : question.extensions)
            matches = matches || EqualNoCase(ExtensionOf(path), ext);
        if (save && !matches && ExtensionOf(path).empty() && !question.extensions.empty()) {
            path += "." + question.extensions.front();
            matches = true;
        }
        std::string problem;
        if (!save && (!Exists(path) || IsFolder(path)))
            problem = " is no file";
        else if (!save && !matches)
            problem = " does not match the filter";
        else if (save && !IsFolder(FolderOf(path)))
            problem = " is in no existing folder";
        if (!problem.empty()) {
            host.Error(std::string(what) + ": " + Quote(path) + problem);
            host.Note(std::string(what) + ": cancelled");
            return XT_ERR_CANCELLED;
        }
        host.Note(std::string(what) + ": " + Quote(path) +
                  (save && Exists(path) ? " (replace confirmed)" : ""));
        chosen.push_back(path);
    }
    state->chosen = chosen;
    return XT_OK;
}

int32_t RunOpenDialog(XTHandle dialog, XTHandle, const char* title, int32_t, const char*, int32_t,
                      const XTFileFilter* const* filters)
{
    return RunFileDialog(false, dialog, 0, title, nullptr, filters);
}

int32_t RunSaveDialog(XTHandle dialog, XTHandle defaultRef, const char* title, int32_t,
                      const char* defaultName, int32_t, const XTFileFilter* const* filters)
{
    return RunFileDialog(true, dialog, defaultRef, title, defaultName, filters);
}

int32_t NewFileDialog(XTHandle* out)
{
    if (!out) {
        H().Error("new file dialog: no variable");
        return XT_ERR_PARAM;
    }
    *out = H().fileDialogs.Issue(FileDialogState{});
    return XT_OK;
}

int32_t Dispose(XTHandle handle)
{
    if (H().fileDialogs.Dispose(handle) || H().fileRefs.Dispose(handle))
        return XT_OK;
    H().Error("dispose: unknown file dialog or file reference " + HandleText(handle));
    return XT_ERR_PARAM;
}

int32_t GetChosenCount(XTHandle dialog, int32_t* count)
{
    FileDialogState* state = H().fileDialogs.Find(dialog);
    if (!state || !count) {
        H().Error("chosen files: unknown file dialog " + HandleText(dialog) + " or no variable");
        return XT_ERR_PARAM;
    }
    *count = static_cast<int32_t>(state->chosen.size());
    return XT_OK;
}

int32_t GetChosenFileText(XTHandle dialog, XTHandle* out)
{
    FileDialogState* state = H().fileDialogs.Find(dialog);
    if (!state || !out) {
        H().Error("chosen file: unknown file dialog " + HandleText(dialog) + " or no variable");
        return XT_ERR_PARAM;
    }
    if (state->chosen.empty())
        return XT_ERR_PARAM;
    *out = NewText(state->chosen.front());
    return XT_OK;
}

// ---------------------------------------------------------------------------------------------
// Text objects.

int32_t TextLength(XTHandle text, int32_t* length)
{
    std::u16string* chars = FindText(text, "text length");
    if (!chars || !length)
        return XT_ERR_PARAM;
    *length = static_cast<int32_t>(chars->size());
    return XT_OK;
}

int32_t TextChars(XTHandle text, char16_t* buffer, int32_t size)
{
    std::u16string* chars = FindText(text, "text characters");
    if (!chars || !buffer || size <= 0)
        return XT_ERR_PARAM;
    if (static_cast<int64_t>(chars->size()) + 1 > size)
        return XT_ERR_PARAM;
    std::copy(chars->begin(), chars->end(), buffer);
    buffer[chars->size()] = u'\0';
    return XT_OK;
}

int32_t TextDispose(XTHandle text)
{
    if (!H().texts.Dispose(text)) {
        H().Error("dispose text: unknown text object " + HandleText(text));
        return XT_ERR_PARAM;
    }
    return XT_OK;
}

int32_t TextNew(const char16_t* chars, int32_t, int32_t length, XTHandle* out)
{
    constexpr int32_t kMaxLength = 1 << 24;
    if (!out || length < 0 || length > kMaxLength || (length > 0 && !chars)) {
        H().Error("new text: length " + std::to_string(length) + ", no characters or no variable");
        return XT_ERR_PARAM;
    }
    *out = H().texts.Issue(std::u16string(chars ? chars : u"", static_cast<std::size_t>(length)));
    return XT_OK;
}

}  // namespace

void DefineFileOperations()
{
    XTHOST_DEFINE_SLOT(XFJ_NewFileRef, NewFileRef);
    XTHOST_DEFINE_SLOT(XFJ_GetFileSpec, GetFileSpec);
    XTHOST_DEFINE_SLOT(XFJ_SetFileSpec, SetFileSpec);
    XTHOST_DEFINE_SLOT(XFJ_GetApplicationFolder, GetApplicationFolder);
    XTHOST_DEFINE_SLOT(XFJ_GetTempFolder, GetTempFolder);
    XTHOST_DEFINE_SLOT(XFJ_ResolveRelativePath, ResolveRelativePath);
    XTHOST_DEFINE_SLOT(XFJ_GetFullPathText, GetFullPathText);
    XTHOST_DEFINE_SLOT(XFJ_GetFileNameText, GetFileNameText);
    XTHOST_DEFINE_SLOT(XFJ_CreateFile, CreateFile);
    XTHOST_DEFINE_SLOT(XFJ_DeleteFile, DeleteFile);
    XTHOST_DEFINE_SLOT(XFJ_SpecToPath, SpecToPath);
    XTHOST_DEFINE_SLOT(XFJ_BrowseForFolder, BrowseForFolder);
    XTHOST_DEFINE_SLOT(XFJ_RunOpenDialog, RunOpenDialog);
    XTHOST_DEFINE_SLOT(XFJ_RunSaveDialog, RunSaveDialog);
    XTHOST_DEFINE_SLOT(XFJ_NewFileDialog, NewFileDialog);
    XTHOST_DEFINE_SLOT(XFJ_Dispose, Dispose);
    XTHOST_DEFINE_SLOT(XFJ_GetChosenCount, GetChosenCount);
    XTHOST_DEFINE_SLOT(XFJ_MakeFSSpec, MakeFSSpec);
    XTHOST_DEFINE_SLOT(XFJ_FileRefFromText, FileRefFromText);
    XTHOST_DEFINE_SLOT(XFJ_GetChosenFileText, GetChosenFileText);
    XTHOST_DEFINE_SLOT(XText_GetLength, TextLength);
    XTHOST_DEFINE_SLOT(XText_GetChars, TextChars);
    XTHOST_DEFINE_SLOT(XText_Dispose, TextDispose);
    XTHOST_DEFINE_SLOT(XText_New, TextNew);
}

}  // namespace xthost
