#include "platform/fs/Folders.h"

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/NativeFS.h"

namespace platform::fs {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other)
        Reset(other.Release());
    return *this;
}

int UniqueFd::Release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void UniqueFd::Reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

namespace {

// As many links as the system follows in one path.
constexpr int kMaxLinks = 40;

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int Refused(std::string* why, const std::string& text)
{
    if (why)
        *why = text;
    return EACCES;
}

int FolderRefused(std::string* why, const std::string& link)
{
    return Refused(why, "its folder \"" + link +
                            "\" is a symbolic link that another user may have made, or one to another user's folder");
}

uid_t OwnerOf(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

// Whether a link owned by owner, in the folder open as holder, may be followed at all: nobody but
// its user, or the folder's owner, who may put any name there anyway, can have made it.
bool MayFollow(uid_t owner, int holder)
{
    return owner == ::geteuid() || owner == OwnerOf(holder);
}

// Walks the folders of `rest` from the folder open as `start` (shown as `shown`, "" or ending in
// "/"), or from "/" when rest is absolute; out receives the folder reached, outShown its path.
int Walk(UniqueFd start, std::string shown, const std::string& rest, UniqueFd& out, std::string& outShown,
         std::string* why, int& links)
{
    UniqueFd here = std::move(start);
    if (!rest.empty() && rest[0] == '/') {
        here.Reset(::open("/", kFolderFlags));
        shown = "/";
    }
    if (here.Get() < 0)
        return errno;
    for (std::size_t at = 0; at < rest.size();) {
        std::size_t end = rest.find('/', at);
        if (end == std::string::npos)
            end = rest.size();
        const std::string name = rest.substr(at, end - at);
        at = end + 1;
        if (name.empty() || name == ".")
            continue;
        const std::string named = shown + name;
        const int next = ::openat(here.Get(), name.c_str(), kFolderFlags);
        if (next >= 0) {
            here.Reset(next);
            shown = named + "/";
            continue;
        }
        const int error = errno;
        struct stat link {};
        if ((error != ENOTDIR && error != ELOOP) ||
            ::fstatat(here.Get(), name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode))
            return error;
        if (++links > kMaxLinks)
            return ELOOP;
        if (!MayFollow(link.st_uid, here.Get()))
            return FolderRefused(why, named);
        std::string target;
        if (const int failed = ReadLink(here.Get(), name, target))
            return failed;
        UniqueFd from(::fcntl(here.Get(), F_DUPFD_CLOEXEC, 0));
        UniqueFd led;
        std::string ledShown;
        if (const int failed = Walk(std::move(from), shown, target, led, ledShown, why, links))
            return failed;
        if (OwnerOf(led.Get()) != link.st_uid)
            return FolderRefused(why, named);
        here = std::move(led);
        // Later names are shown as the caller spelled the path.
        shown = named + "/";
    }
    out = std::move(here);
    outShown = shown;
    return 0;
}

// OpenPlace of path from the folder open as start (shown as shown), or from "/".
int OpenPlaceFrom(UniqueFd start, const std::string& shown, const std::string& path, Place& place, std::string* why,
                  int& links)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    place.name = slash == std::string::npos ? path : path.substr(slash + 1);
    return Walk(std::move(start), shown, folder, place.folder, place.folderPath, why, links);
}

UniqueFd WorkingFolder()
{
    return UniqueFd(::open(".", kFolderFlags));
}

} // namespace

int ReadLink(int folder, const std::string& name, std::string& named)
{
    named.assign(PATH_MAX, '\0');
    const ssize_t size = ::readlinkat(folder, name.c_str(), &named[0], named.size());
    if (size < 0)
        return errno;
    if (size == 0 || static_cast<std::size_t>(size) >= named.size())
        return ENAMETOOLONG;
    named.resize(static_cast<std::size_t>(size));
    return 0;
}

int OpenPlace(const std::string& path, Place& place, std::string* why)
{
    int links = 0;
    return OpenPlaceFrom(WorkingFolder(), std::string(), NativePath(path), place, why, links);
}

int ResolvePlace(const std::string& path, Place& place, std::string* why)
{
    int links = 0;
    if (const int error = OpenPlaceFrom(WorkingFolder(), std::string(), NativePath(path), place, why, links))
        return error;
    bool linked = false;
    uid_t user = 0;
    const auto refused = [why] {
        return Refused(why, "it is a symbolic link that another user may have made, or one to another user's file");
    };
    while (!place.name.empty() && place.name != "." && place.name != "..") {
        struct stat st {};
        if (::fstatat(place.folder.Get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) {
            if (!linked)
                return 0;
            // The file the links name is their user's, or the folder a new one goes into is.
            const bool there = ::fstatat(place.folder.Get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            return (there ? st.st_uid : OwnerOf(place.folder.Get())) == user ? 0 : refused();
        }
        if ((linked && st.st_uid != user) || !MayFollow(st.st_uid, place.folder.Get()))
            return refused();
        if (++links > kMaxLinks)
            return ELOOP;
        linked = true;
        user = st.st_uid;
        std::string named;
        if (const int error = ReadLink(place.folder.Get(), place.name, named))
            return error;
        UniqueFd from(::fcntl(place.folder.Get(), F_DUPFD_CLOEXEC, 0));
        const std::string shown = place.folderPath;
        Place next;
        if (const int error = OpenPlaceFrom(std::move(from), shown, named, next, why, links))
            return error;
        place = std::move(next);
    }
    // A link that names a folder ("../theirs/", "../theirs/.") ends the walk without a last name
    // to look at: the folder it leads to must be the links' user's all the same.
    struct stat reached {};
    if (linked && (::fstatat(place.folder.Get(), place.name.empty() ? "." : place.name.c_str(), &reached, 0) != 0 ||
                   reached.st_uid != user))
        return refused();
    return 0;
}

int OpenUnderRule(const std::string& path, int flags, int& fd, std::string* why, mode_t mode)
{
    fd = -1;
    if (path.empty())
        return ENOENT;
    Place place;
    if (const int error = ResolvePlace(path, place, why))
        return error;
    const char* name = place.name.empty() ? "." : place.name.c_str();
    do {
        fd = ::openat(place.folder.Get(), name, flags | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? errno : 0;
}

std::string LinkRefusal(const std::string& path)
{
    Place place;
    std::string why;
    return ResolvePlace(path, place, &why) == EACCES ? why : std::string();
}

} // namespace platform::fs
