#include "platform/registry/Registry.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/Claims.h"
#include "platform/fs/NativeFS.h"

namespace platform::registry {

namespace {

std::mutex g_rootLock;
std::string g_root;

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

// A name that a folder or file can hold as it is.
bool StorableName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos && name.size() <= 255;
}

int32_t FromErrno(int error, int32_t otherwise)
{
    switch (error) {
    case 0: return kSuccess;
    case ENOENT: return kFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kAccessDenied;
    case EEXIST: return kAlreadyExists;
    case ENAMETOOLONG:
    case EINVAL: return kBadKey;
    default: return otherwise;
    }
}

enum class EntryKind { Folder, File };

// The entries of one kind in a folder; false when it cannot be read.
bool ListEntries(const std::string& folder, EntryKind kind, std::vector<std::string>& out, int& error)
{
    out.clear();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        error = errno;
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        if (::lstat((folder + "/" + name).c_str(), &st) != 0)
            continue;
        if (kind == EntryKind::Folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode))
            out.push_back(name);
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end());
    return true;
}

// The spelling on disk of the entry named `name` ignoring case; empty when there is none.
std::string FindEntry(const std::string& folder, const std::string& name, EntryKind kind, int& error)
{
    std::vector<std::string> entries;
    error = 0;
    if (!ListEntries(folder, kind, entries, error))
        return std::string();
    for (const std::string& entry : entries)
        if (entry == name)
            return entry;
    for (const std::string& entry : entries)
        if (SameName(entry, name))
            return entry;
    return std::string();
}

// The names of a key path below a key; false for a name the store cannot hold.
bool SplitKeyPath(const std::string& path, std::vector<std::string>& names)
{
    names.clear();
    std::string current;
    for (const char c : path + '\\') {
        if (c == '\\' || c == '/') {
            if (!current.empty())
                names.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    return std::all_of(names.begin(), names.end(), StorableName);
}

// The open key's folder, or the reason it cannot be used.
int32_t CheckKey(const Key& key, uint32_t right)
{
    if (!key.IsOpen())
        return kInvalidHandle;
    if ((key.access & right) != right)
        return kAccessDenied;
    struct stat st {};
    if (::stat(key.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return kKeyDeleted;
    return kSuccess;
}

int32_t WalkKeys(const Key& parent, const std::string& subKey, uint32_t access, bool create, Key& out)
{
    std::vector<std::string> names;
    if (!SplitKeyPath(subKey, names))
        return kBadKey;
    if (const int32_t rc = CheckKey(parent, 0))
        return rc;
    std::string folder = parent.folder;
    for (const std::string& name : names) {
        int error = 0;
        std::string found = FindEntry(folder, name, EntryKind::Folder, error);
        if (error != 0)
            return FromErrno(error, kCantRead);
        if (found.empty()) {
            if (!create)
                return kFileNotFound;
            if ((parent.access & kCreateSubKey) == 0)
                return kAccessDenied;
            if (::mkdir((folder + "/" + name).c_str(), 0777) != 0 && errno != EEXIST)
                return FromErrno(errno, kCantWrite);
            // Another process may have made it at the same moment, in another spelling.
            found = FindEntry(folder, name, EntryKind::Folder, error);
            if (found.empty())
                return error != 0 ? FromErrno(error, kCantRead) : kCantWrite;
        }
        folder += "/" + found;
    }
    out.folder = folder;
    out.access = access;
    return kSuccess;
}

// Makes a folder and its missing ancestors.
int MakeFolders(const std::string& path)
{
    std::string partial;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        partial = path.substr(0, end);
        if (!partial.empty() && ::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST)
            return errno;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

} // namespace

void SetRoot(const std::string& folder)
{
    std::lock_guard<std::mutex> lock(g_rootLock);
    g_root = fs::NativePath(folder);
    while (g_root.size() > 1 && g_root.back() == '/')
        g_root.pop_back();
}

std::string Root()
{
    std::lock_guard<std::mutex> lock(g_rootLock);
    return g_root;
}

int32_t OpenHive(const char* hive, Key& out)
{
    const std::string root = Root();
    if (root.empty() || !hive || !StorableName(hive))
        return kCantOpen;
    const std::string folder = root + "/" + hive;
    if (MakeFolders(folder) != 0)
        return kCantOpen;
    out.folder = folder;
    out.access = kAllAccess;
    return kSuccess;
}

int32_t CreateKey(const Key& parent, const std::string& subKey, uint32_t access, Key& out)
{
    return WalkKeys(parent, subKey, access, true, out);
}

int32_t OpenKey(const Key& parent, const std::string& subKey, uint32_t access, Key& out)
{
    return WalkKeys(parent, subKey, access, false, out);
}

int32_t CloseKey(Key& key)
{
    if (!key.IsOpen())
        return kInvalidHandle;
    key = Key{};
    return kSuccess;
}

int32_t QueryString(const Key& key, const std::string& name, std::string& out)
{
    if (!StorableName(name))
        return kBadKey;
    if (const int32_t rc = CheckKey(key, kQueryValue))
        return rc;
    int error = 0;
    const std::string found = FindEntry(key.folder, name, EntryKind::File, error);
    if (error != 0)
        return FromErrno(error, kCantRead);
    if (found.empty())
        return kFileNotFound;
    std::ifstream in(key.folder + "/" + found, std::ios::binary);
    if (!in)
        return FromErrno(errno, kCantRead);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return kCantRead;
    out = text.str();
    return kSuccess;
}

int32_t SetString(const Key& key, const std::string& name, const std::string& text)
{
    if (!StorableName(name))
        return kBadKey;
    if (const int32_t rc = CheckKey(key, kSetValue))
        return rc;
    int error = 0;
    std::string found = FindEntry(key.folder, name, EntryKind::File, error);
    if (error != 0)
        return FromErrno(error, kCantRead);
    if (found.empty())
        found = name;
    return FromErrno(fs::ReplaceFile(key.folder + "/" + found, text), kCantWrite);
}

int32_t CreateStringExclusive(const Key& key, const std::string& name, const std::string& text)
{
    if (!StorableName(name))
        return kBadKey;
    if (const int32_t rc = CheckKey(key, kSetValue))
        return rc;
    int error = 0;
    if (!FindEntry(key.folder, name, EntryKind::File, error).empty())
        return kAlreadyExists;
    if (error != 0)
        return FromErrno(error, kCantRead);

    return FromErrno(fs::CreateFileExclusive(key.folder + "/" + name, text), kCantWrite);
}

int32_t ClaimString(const Key& key, const std::string& name, const std::string& text, fs::OwnerClaim& claim,
                    long& owner, long& stale)
{
    owner = stale = 0;
    if (!StorableName(name) || name.size() > 240)
        return kBadKey;
    if (const int32_t rc = CheckKey(key, kSetValue | kQueryValue))
        return rc;
    int error = 0;
    long previous = 0;
    switch (claim.Claim(key.folder + "/." + name + ".owner", previous, error)) {
    case fs::OwnerClaim::Result::Held:
        owner = previous;
        return kAlreadyExists;
    case fs::OwnerClaim::Result::Failed:
        return FromErrno(error, kCantWrite);
    case fs::OwnerClaim::Result::Claimed:
        break;
    }
    const bool present = !FindEntry(key.folder, name, EntryKind::File, error).empty();
    int32_t result = error != 0 ? FromErrno(error, kCantRead) : kSuccess;
    if (result == kSuccess && present && previous == 0)
        result = kAlreadyExists;   // set by a program that records no owner: it is not ours
    else if (result == kSuccess && present)
        result = SetString(key, name, text);
    else if (result == kSuccess)
        result = CreateStringExclusive(key, name, text);
    if (result != kSuccess) {
        claim.Release();
        return result;
    }
    stale = present ? previous : 0;
    return kSuccess;
}

int32_t EnumKey(const Key& key, uint32_t index, std::string& name)
{
    if (const int32_t rc = CheckKey(key, kEnumerateSubKeys))
        return rc;
    std::vector<std::string> folders;
    int error = 0;
    if (!ListEntries(key.folder, EntryKind::Folder, folders, error))
        return FromErrno(error, kCantRead);
    if (index >= folders.size())
        return kNoMoreItems;
    name = folders[index];
    return kSuccess;
}

int32_t DeleteKey(const Key& parent, const std::string& subKey)
{
    Key key;
    if (const int32_t rc = OpenKey(parent, subKey, kAllAccess, key))
        return rc;
    if (key.folder == parent.folder)
        return kAccessDenied;   // a key cannot delete itself
    std::vector<std::string> entries;
    int error = 0;
    if (!ListEntries(key.folder, EntryKind::Folder, entries, error))
        return FromErrno(error, kCantRead);
    if (!entries.empty())
        return kAccessDenied;   // as the registry: subkeys must go first
    if (!ListEntries(key.folder, EntryKind::File, entries, error))
        return FromErrno(error, kCantRead);
    for (const std::string& value : entries)
        if (::unlink((key.folder + "/" + value).c_str()) != 0 && errno != ENOENT)
            return FromErrno(errno, kCantWrite);
    if (::rmdir(key.folder.c_str()) != 0)
        return errno == ENOTEMPTY || errno == EEXIST ? kAccessDenied : FromErrno(errno, kCantWrite);
    return kSuccess;
}

} // namespace platform::registry
