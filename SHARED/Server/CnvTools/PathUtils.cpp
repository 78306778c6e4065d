#include "SHARED/Server/CnvTools/PathUtils.h"

#include <algorithm>
#include <new>

#include "Foundation/Log.h"
#include "Foundation/TraceHooks.h"
#include "platform/fs/NativeFS.h"
#include "platform/fs/TempFiles.h"

namespace {

namespace fs = platform::fs;

constexpr std::size_t kHostPathBufferSize = kLongestPath + 1;
constexpr int16_t kHostUnavailable = 12;   // general failure: no host services installed

template <class Ch>
Ch Lower(Ch c)
{
    return (c >= Ch('A') && c <= Ch('Z')) ? static_cast<Ch>(c - Ch('A') + Ch('a')) : c;
}

template <class TStr>
std::size_t FindLastSeparator(const TStr& path)
{
    for (std::size_t i = path.size(); i > 0; --i)
        if (IsPathSeparator(path[i - 1]))
            return i - 1;
    return TStr::npos;
}

template <class TStr>
bool ContainsSeparator(const TStr& text)
{
    return FindLastSeparator(text) != TStr::npos;
}

// Removes the trailing run of characters that match, never the first character.
template <class TStr, class Match>
std::size_t StripTrailingIf(TStr& text, Match match)
{
    std::size_t end = text.size();
    while (end > 1 && match(text[end - 1]))
        --end;
    const std::size_t removed = text.size() - end;
    text.erase(end);
    return removed;
}

} // namespace

template <class TStr>
std::size_t StripTrailing(TStr& text, typename TStr::value_type c)
{
    return StripTrailingIf(text, [c](typename TStr::value_type x) { return x == c; });
}

template <class TStr>
std::size_t StripTrailingSeparators(TStr& text)
{
    return StripTrailingIf(text, [](typename TStr::value_type x) { return IsPathSeparator(x); });
}

template <class TStr>
bool PathExists(const TStr& path, bool* isDirectory)
{
    if (path.empty())
        return false;
    TStr copy(path);
    StripTrailingSeparators(copy);
    fs::Status status;
    if (!fs::GetStatus(ToStdString(copy), status))
        return false;
    if (isDirectory)
        *isDirectory = status.isDirectory;
    return true;
}

template <class TStr>
bool RemoveFile(const TStr& path, int retries)
{
    if (!PathExists(path))
        return false;
    const std::string native = ToStdString(path);
    int error = fs::RemoveFile(native);
    for (int retry = 0; error != 0 && retry < retries; ++retry) {
        fs::Pause(fs::kRetryPauseMs);
        error = fs::RemoveFile(native);
    }
    return error == 0;
}

template <class TStr>
bool createDirectory(const TStr& path)
{
    if (path.empty() || PathExists(path))
        return false;
    if (const int error = fs::MakeFolder(ToStdString(path))) {
        LogMessage(KS_LOCATION("createDirectory"), "Error: " + fs::ErrorText(error), 6);
        return false;
    }
    bool isDirectory = false;
    return PathExists(path, &isDirectory) && isDirectory;
}

bool SyncWrittenNames(std::string* failure)
{
    std::string folder;
    const int error = fs::SyncPendingFolders(&folder);
    if (error == 0)
        return true;
    const std::string text =
        "the names written in \"" + folder + "\" may not survive a power cut: " + fs::ErrorText(error);
    GeneralLogStream() << "\nT" << text.substr(1) << std::endl;
    if (failure)
        *failure = text;
    return false;
}

template <class TStr>
bool removeDirectory(const TStr& path, int retries)
{
    bool isDirectory = false;
    if (!PathExists(path, &isDirectory) || !isDirectory)
        return false;
    const std::string native = ToStdString(path);
    int error = fs::RemoveFolder(native);
    for (int retry = 0; error != 0 && retry < retries; ++retry) {
        fs::Pause(fs::kRetryPauseMs);
        LogMessage(KS_LOCATION("removeDirectory"), "Error: " + fs::ErrorText(error), 6);
        error = fs::RemoveFolder(native);
    }
    return error == 0;
}

template <class TStr>
TStr GetExtension(const TStr& path, bool withDot)
{
    using Ch = typename TStr::value_type;
    const std::size_t dot = path.rfind(Ch('.'));
    if (dot == TStr::npos || dot == 0)
        return TStr();
    const Ch before = path[dot - 1];
    if (before == Ch('.') || before == Ch(':') || IsPathSeparator(before))
        return TStr();
    TStr extension = path.substr(withDot ? dot : dot + 1);
    if (ContainsSeparator(extension))
        return TStr();
    return extension;
}

template <class TStr>
bool TruncateAtLast(TStr& text, typename TStr::value_type c, bool dropCharacter)
{
    const std::size_t at = text.rfind(c);
    if (at == TStr::npos)
        return false;
    text.erase(dropCharacter ? at : at + 1);
    return true;
}

template <class TStr>
TStr GetFileName(const TStr& path, bool keepExtension)
{
    const std::size_t separator = FindLastSeparator(path);
    if (separator == TStr::npos)
        return TStr();
    TStr name = path.substr(separator + 1);
    if (!keepExtension && !GetExtension(path, false).empty())
        TruncateAtLast(name, typename TStr::value_type('.'), true);
    return name;
}

template <class TStr>
bool SplitPathAtBackslash(const TStr& path, TStr& folder, TStr& name,
                          typename NonDeduced<TStr>::type* extension, bool keepExtension)
{
    const TStr ext = GetExtension(path, false);
    if (extension)
        *extension = ext;
    const std::size_t separator = FindLastSeparator(path);
    if (separator == TStr::npos)
        return false;
    folder = path.substr(0, separator);
    name = path.substr(separator + 1);
    if (!keepExtension && !ext.empty())
        TruncateAtLast(name, typename TStr::value_type('.'), true);
    return !name.empty() && !folder.empty();
}

template <class TStr>
bool ChangeExtension(TStr& path, const TStr& extension, bool sameLengthOnly, bool appendWhenNone)
{
    using Ch = typename TStr::value_type;
    try {
        TStr newExtension(extension);
        if (!newExtension.empty() && newExtension[0] == Ch('.'))
            newExtension.erase(0, 1);

        // Only a dot in the last component counts: a dot in a folder name is no extension.
        const std::size_t dot = path.rfind(Ch('.'));
        const std::size_t separator = FindLastSeparator(path);
        if (dot != TStr::npos && (separator == TStr::npos || dot > separator)) {
            const TStr current = path.substr(dot + 1);
            if (sameLengthOnly && current.size() != newExtension.size())
                return false;
            if (!CompareStrings(current, newExtension, false))
                path.replace(dot + 1, TStr::npos, newExtension);
            return true;
        }
        if (!appendWhenNone)
            return false;
        path += Ch('.');
        path += newExtension;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

template <class TStr>
bool CompareStrings(const TStr& a, const TStr& b, bool exact)
{
    if (exact)
        return a == b;
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

template <class TStr>
uint32_t FileSizeOf(const TStr& path)
{
    if (path.empty())
        return 0;
    TStr copy(path);
    StripTrailingSeparators(copy);
    fs::Status status;
    if (!fs::GetStatus(ToStdString(copy), status) || status.isDirectory)
        return 0;
    // A size beyond 32 bits reads as the largest one rather than wrapping to a small one.
    return status.size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(status.size);
}

template <class TStr>
bool GetSystemTempPath(TStr& out)
{
    const std::string folder = fs::TempFolder();
    if (folder.empty())
        return false;
    // A folder longer than the system takes gives nothing.
    out = folder.size() > kLongestPath ? TStr() : MakeStr<TStr>(folder);
    StripTrailingSeparators(out);
    bool isDirectory = false;
    return PathExists(out, &isDirectory) && isDirectory;
}

template <class TStr>
TStr SystemTempPath()
{
    TStr path;
    return GetSystemTempPath(path) ? path : TStr();
}

template <class TStr>
TStr JoinPath(const TStr& folder, const TStr& name)
{
    if (folder.empty())
        return name;
    TStr path(folder);
    if (!IsPathSeparator(path.back()))
        path += typename TStr::value_type(kPathSeparator);
    path += name;
    return path;
}

#define KS_PATH_FUNCTIONS_INSTANTIATE(TStr)                                                    \
    template std::size_t StripTrailing<TStr>(TStr&, TStr::value_type);                        \
    template std::size_t StripTrailingSeparators<TStr>(TStr&);                                 \
    template bool PathExists<TStr>(const TStr&, bool*);                                        \
    template bool RemoveFile<TStr>(const TStr&, int);                                          \
    template bool createDirectory<TStr>(const TStr&);                                          \
    template bool removeDirectory<TStr>(const TStr&, int);                                     \
    template TStr GetExtension<TStr>(const TStr&, bool);                                       \
    template bool TruncateAtLast<TStr>(TStr&, TStr::value_type, bool);                         \
    template TStr GetFileName<TStr>(const TStr&, bool);                                        \
    template bool SplitPathAtBackslash<TStr>(const TStr&, TStr&, TStr&, TStr*, bool);          \
    template bool ChangeExtension<TStr>(TStr&, const TStr&, bool, bool);                       \
    template bool CompareStrings<TStr>(const TStr&, const TStr&, bool);                        \
    template uint32_t FileSizeOf<TStr>(const TStr&);                                           \
    template bool GetSystemTempPath<TStr>(TStr&);                                              \
    template TStr SystemTempPath<TStr>();                                                      \
    template TStr JoinPath<TStr>(const TStr&, const TStr&);

KS_PATH_FUNCTIONS_INSTANTIATE(std::string)
KS_PATH_FUNCTIONS_INSTANTIATE(ustring)
#undef KS_PATH_FUNCTIONS_INSTANTIATE

// ---- Host file specifications --------------------------------------------------------------

int16_t GetFileSpecName(const HostFileSpec& spec, ustring& out)
{
    out = ToUString(FileSpecName(spec));
    return 0;
}

namespace {

template <class TStr>
int16_t FileSpecToPathT(TStr& out, const HostFileSpec& spec, bool takeName)
{
    std::string buffer(kHostPathBufferSize, '\0');
    HostServices* host = GetHostServices();
    const int16_t result = host ? host->GetFileSpecPath(&buffer[0], buffer.size(), spec, 0) : kHostUnavailable;
    buffer.resize(std::min(buffer.find('\0'), kLongestPath));
    out = MakeStr<TStr>(buffer);

    // A file name with a three-character extension is the file spec's own name.
    if (takeName) {
        using Ch = typename TStr::value_type;
        const std::size_t dot = out.rfind(Ch('.'));
        const std::size_t separator = FindLastSeparator(out);
        if (dot != TStr::npos && dot + 4 == out.size() && separator != TStr::npos && separator < dot) {
            const TStr name = MakeStr<TStr>(FileSpecName(spec));
            if (out.compare(separator + 1, TStr::npos, name) != 0)
                out.replace(separator + 1, TStr::npos, name);
        }
    }
    return static_cast<int16_t>(debug_check(result));
}

} // namespace

int16_t FileSpecToPath(ustring& out, const HostFileSpec& spec, bool takeName)
{
    return FileSpecToPathT(out, spec, takeName);
}

int16_t FileSpecToPath(std::string& out, const HostFileSpec& spec, bool takeName)
{
    return FileSpecToPathT(out, spec, takeName);
}

ustring GetHostTempFolder()
{
    ustring path;
    HostServices* host = GetHostServices();
    if (!host)
        return path;
    HostHandle handle = 0;
    host->NewFileSpecHandle(&handle);
    int16_t result = host->GetTempFolder(&handle);
    if (result == 0) {
        HostFileSpec spec{};
        result = host->CopyFileSpec(handle, &spec);
        if (result == 0)
            result = FileSpecToPath(path, spec, false);
    }
    if (handle != 0)
        host->DisposeFileSpecHandle(handle);
    if (debug_check(result, "xt_gettempfolder: api_err != ERR_SUCCESS") != 0)
        path.clear();
    return path;
}

std::string GetHostTempPath()
{
    const ustring folder = GetHostTempFolder();
    std::string path = ToStdString(folder);
    const std::size_t zero = path.find('\0');
    if (zero != std::string::npos)
        path.erase(zero);
    return path;
}
