#pragma once
// Who may reach the conversion server and what its jobs may name: the address it listens on,
// its password, the pause an address must keep after a wrong password, and the shared folders
// that hold every path a client names.
//
// The adversary is a network client: one that knows the fixed password every copy of the
// program holds, one that guesses passwords, and one that names any file the host's account
// may read as a source and any folder it may write as a target.

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The settings of [Server] that open the server to its clients, checked before it listens.
struct ServerDoor {
    uint32_t address = 0;  // host order
    std::string password;
    bool ownPassword = false;  // from serverPasswordFile, not the fixed one
};

// Reads listenAddress and serverPasswordFile. False when the server must not start: the
// address is no IPv4 address, the password file is refused, or the server would listen beyond
// this machine with the fixed password. The reason and what to set go to the server log and to
// the general log.
bool OpenServerDoor(ServerDoor& door);

// The password on the first line of the file (its trailing CR and LF removed). The file must be
// a plain file that only its owner may read and write, owned by the process's account or root,
// in a folder other accounts may not replace it in. Answers "" and fills password, or why the
// file is refused.
std::string ReadPasswordFile(const std::string& path, std::string& password);

// Compares without stopping at the first difference, so the answer's time tells nothing of
// where the line differs.
bool SamePassword(const std::string& line, const std::string& password);

// The wait each client address keeps after a wrong password: its next tries are refused
// unchecked for firstWait after the first miss, twice as long after each further miss, up to
// maxWait. Only clock readings: nothing here ever sleeps.
class PasswordWaits {
public:
    using Clock = std::chrono::steady_clock;

    void SetPolicy(std::chrono::milliseconds firstWait, std::chrono::milliseconds maxWait);
    // How long the address must still wait; zero when its password may be checked.
    std::chrono::milliseconds Left(const std::string& address, Clock::time_point now) const;
    // A wrong password from the address: answers the wait it starts.
    std::chrono::milliseconds Missed(const std::string& address, Clock::time_point now);
    void Passed(const std::string& address);
    void Clear();

private:
    struct Entry {
        int misses = 0;
        Clock::time_point until;
    };
    std::chrono::milliseconds m_First{1000};
    std::chrono::milliseconds m_Max{60000};
    std::map<std::string, Entry> m_Entries;
};

// The server's waits (the host's thread only).
PasswordWaits& ServerPasswordWaits();

// The folders of the setting sharedFolders: the list split at ';', each entry without blanks
// around it, empty entries left out.
std::vector<std::string> SplitSharedFolders(const std::string& setting);

// Where a path a client names in a shared-folder job leads, when that lies inside one of the
// shared folders (itself one of them included): answers "" and fills resolved. Otherwise why
// it is refused (no shared folders set, a path that leads outside them, a link the file
// writers would not follow, or a path that does not resolve).
std::string SharedPathRefusal(const std::string& path, std::string& resolved);
