#include "SHARED/Server/ServerDoor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "SHARED/Server/Connection.h"
#include "SHARED/Server/ServerLoops.h"
#include "platform/fs/Folders.h"
#include "platform/fs/TempFiles.h"
#include "platform/sockets/Sockets.h"

namespace {

// A refusal to start goes to both logs: whoever runs the host reads the general log, whoever
// runs the server its own.
void RefuseStart(const std::string& why)
{
    const std::string text = "Server not started: " + why;
    LogMessage(KS_LOCATION("OpenServerDoor"), text, 7);
    GeneralLogStream() << "\n" << text << std::endl;
}

std::string ModeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool Inside(const std::string& path, const std::string& folder)
{
    if (folder == "/")
        return true;
    return path.compare(0, folder.size(), folder) == 0 && (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string ErrorText(int error)
{
    return error == EACCES ? "a link on its way is one the file writers do not follow" : std::strerror(error);
}

} // namespace

std::string ReadPasswordFile(const std::string& path, std::string& password)
{
    // Not blocking: a pipe put in the file's place would hold the host's thread in the open.
    const platform::fs::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    const int fd = file.Get();
    if (fd < 0)
        return std::string("it cannot be opened: ") + std::strerror(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return "it is not a plain file";
    // Another account that may read the file knows the password; one that may write it, or
    // owns it, sets it.
    if ((st.st_mode & 077) != 0)
        return "other accounts may read or write it (mode " + ModeText(st.st_mode) +
               "); let only its owner read it: chmod 600 " + path;
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return "it belongs to another account (user id " + std::to_string(st.st_uid) +
               "), who could change it; it must belong to this account (user id " + std::to_string(::geteuid()) +
               ") or to root";
    // An account that may write the folder could put a file of its own in the file's place.
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real)) {
        std::string folder(real);
        folder.resize(std::max<std::size_t>(folder.rfind('/'), 1));
        struct stat fst {};
        if (::stat(folder.c_str(), &fst) == 0 && (fst.st_mode & 022) != 0 && (fst.st_mode & S_ISVTX) == 0)
            return "other accounts may replace it: its folder " + folder + " is open to them for writing (mode " +
                   ModeText(fst.st_mode) + ")";
    }
    std::string text(ct_Connection::kMaxLineLength + 2, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, &text[got], text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::string("it cannot be read: ") + std::strerror(errno);
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    const std::size_t end = text.find('\n');
    if (end == std::string::npos && got > ct_Connection::kMaxLineLength)
        return "its first line is longer than " + std::to_string(ct_Connection::kMaxLineLength) + " bytes";
    std::string line = text.substr(0, end);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    if (line.empty())
        return "its first line is empty";
    // A client's line ends at a zero byte: such a password could never be sent.
    if (line.find('\0') != std::string::npos)
        return "its first line holds a zero byte";
    password = line;
    return std::string();
}

bool OpenServerDoor(ServerDoor& door)
{
    door = ServerDoor();
    door.address = sockets::kLoopbackAddress;
    door.password = ServerPassword;
    SettingsFile* settings = Settings.GetIf();
    const bool loaded = settings && settings->IsLoaded();
    const std::string addressText = loaded ? settings->GetListenAddress() : std::string();
    const std::string passwordFile = loaded ? settings->GetServerPasswordFile() : std::string();

    if (!addressText.empty() && !sockets::ParseAddress(addressText, door.address)) {
        RefuseStart("listenAddress '" + addressText +
                    "' is no IPv4 address. Give one of this machine's addresses, such as 192.168.1.10, "
                    "0.0.0.0 for every address, or leave it unset for 127.0.0.1 (this machine only).");
        return false;
    }
    if (!passwordFile.empty()) {
        const std::string why = ReadPasswordFile(passwordFile, door.password);
        if (!why.empty()) {
            RefuseStart("the password file '" + passwordFile + "' (setting serverPasswordFile) is refused: " + why +
                        ".");
            return false;
        }
        door.ownPassword = true;
    }
    if (!door.ownPassword && !sockets::IsLoopback(door.address)) {
        RefuseStart("it would listen on " + sockets::AddressText(door.address) +
                    ", beyond this machine, with the fixed password that every copy of the program holds. "
                    "Set serverPasswordFile in [Server] to a file that holds the server's own password on its "
                    "first line, readable by this account only, or leave listenAddress unset to serve this "
                    "machine only.");
        return false;
    }
    LogMessage(KS_LOCATION("OpenServerDoor"),
               std::string("Password: ") + (door.ownPassword ? "from " + passwordFile : "the fixed one (loopback only)"),
               7);
    const std::vector<std::string> folders =
        SplitSharedFolders(loaded ? settings->GetSharedFolders() : std::string());
    if (folders.empty())
        LogMessage(KS_LOCATION("OpenServerDoor"), "Shared folders: none set, shared-folder jobs are refused", 7);
    for (const std::string& folder : folders) {
        std::string root;
        const int error = platform::fs::ResolvePath(folder, root);
        LogMessage(KS_LOCATION("OpenServerDoor"),
                   "Shared folder: " + folder + (error ? " (not used: " + ErrorText(error) + ")" : " -> " + root), 7);
    }
    return true;
}

bool SamePassword(const std::string& line, const std::string& password)
{
    unsigned char diff = line.size() == password.size() ? 0 : 1;
    for (std::size_t i = 0; i < password.size(); ++i)
        diff |= static_cast<unsigned char>((i < line.size() ? line[i] : 0) ^ password[i]);
    return diff == 0;
}

void PasswordWaits::SetPolicy(std::chrono::milliseconds firstWait, std::chrono::milliseconds maxWait)
{
    m_First = firstWait;
    m_Max = maxWait;
}

std::chrono::milliseconds PasswordWaits::Left(const std::string& address, Clock::time_point now) const
{
    const auto it = m_Entries.find(address);
    if (it == m_Entries.end() || it->second.until <= now)
        return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(it->second.until - now);
}

std::chrono::milliseconds PasswordWaits::Missed(const std::string& address, Clock::time_point now)
{
    // Addresses that have waited long past their last wait are forgotten, so that a client
    // trying from ever new addresses cannot grow the table without end.
    constexpr std::size_t kMostAddresses = 4096;
    if (m_Entries.size() >= kMostAddresses) {
        for (auto it = m_Entries.begin(); it != m_Entries.end();)
            it = it->second.until + m_Max < now ? m_Entries.erase(it) : std::next(it);
        if (m_Entries.size() >= kMostAddresses)
            m_Entries.erase(std::min_element(m_Entries.begin(), m_Entries.end(), [](const auto& a, const auto& b) {
                return a.second.until < b.second.until;
            }));
    }
    Entry& entry = m_Entries[address];
    std::chrono::milliseconds wait = m_First;
    for (int i = 0; i < entry.misses && wait < m_Max; ++i)
        wait *= 2;
    wait = std::min(wait, m_Max);
    ++entry.misses;
    entry.until = now + wait;
    return wait;
}

void PasswordWaits::Passed(const std::string& address)
{
    m_Entries.erase(address);
}

void PasswordWaits::Clear()
{
    m_Entries.clear();
}

PasswordWaits& ServerPasswordWaits()
{
    static PasswordWaits waits;
    return waits;
}

std::vector<std::string> SplitSharedFolders(const std::string& setting)
{
    std::vector<std::string> folders;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = setting.find(';', begin);
        const std::string entry = Trimmed(setting.substr(begin, end == std::string::npos ? end : end - begin));
        if (!entry.empty())
            folders.push_back(entry);
        if (end == std::string::npos)
            return folders;
        begin = end + 1;
    }
}

std::string SharedPathRefusal(const std::string& path, std::string& resolved)
{
    SettingsFile* settings = Settings.GetIf();
    const std::vector<std::string> folders =
        SplitSharedFolders(settings && settings->IsLoaded() ? settings->GetSharedFolders() : std::string());
    if (folders.empty())
        return "it is outside the shared folders: none are set (setting sharedFolders)";
    if (const int error = platform::fs::ResolvePath(path, resolved))
        return "it does not resolve: " + ErrorText(error);
    for (const std::string& folder : folders) {
        std::string root;
        if (platform::fs::ResolvePath(folder, root) == 0 && Inside(resolved, root))
            return std::string();
    }
    return "it is outside the shared folders: it leads to " + resolved;
}
