// Files that several processes may race for: a file created only when its name is free, and a
// claim that one living process holds on a name.
#pragma once

#include <string>

namespace platform::fs {

// Writes the bytes to a new file under the path only when no file of that name exists, in one
// step: of any number of callers exactly one succeeds, the others get EEXIST, and nobody ever
// sees part of the bytes. Answers 0 or the system's error number.
int CreateFileExclusive(const std::string& path, const std::string& bytes);

// A claim on a name, held by this process for as long as the object holds it: a small file that
// records the owner's process id, locked while the owner lives. The system drops the lock when
// its process ends, however it ends, so the claim of a process that crashed is free for the next
// claimant; no process id that the system hands out again can keep a claim alive.
class OwnerClaim {
public:
    enum class Result {
        Claimed,   // this process holds it now
        Held,      // another living process holds it
        Failed,    // the claim file cannot be made or locked
    };

    OwnerClaim() = default;
    ~OwnerClaim();
    OwnerClaim(const OwnerClaim&) = delete;
    OwnerClaim& operator=(const OwnerClaim&) = delete;

    // Claims the name of the claim file (a holder that claims it again keeps it). On Held,
    // `owner` is the holder's process id (0 when it has not written it yet); on Claimed, the
    // process id an earlier owner that has gone left in the file (0 when there was none).
    // `error` receives the system's error number on Failed.
    Result Claim(const std::string& path, long& owner, int& error);
    // Removes the claim file and gives the claim up; nothing when none is held.
    void Release();
    bool IsHeld() const { return m_fd >= 0; }
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};

} // namespace platform::fs
