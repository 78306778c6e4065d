// Files that several processes may race for: a file created only when its name is free, and a
// claim that one living process holds on a name.
#pragma once

#include <string>

namespace platform::fs {

// Writes the bytes to a new file under the path only when no file of that name exists, in one
// step: of any number of callers exactly one succeeds, the others get EEXIST, and nobody ever
// sees part of the bytes. Where the file system has neither a rename that never replaces nor
// hard links (FAT, exFAT, some network shares), the name is claimed first (as OwnerClaim does,
// on "." + name + ".place" beside it) and the complete file renamed onto it while it is free:
// exclusive among all who make such names through this function. Answers 0 or the system's
// error number.
int CreateFileExclusive(const std::string& path, const std::string& bytes);

// Gives the file `from` the name `to` only when no file has that name, in one step that nobody
// sees half done: a rename that never replaces, else a hard link. EEXIST when the name is
// taken (`from` then stays), ENOTSUP when the file system has neither step. Answers 0 or the
// system's error number.
int MoveExclusive(const std::string& from, const std::string& to);

// MoveExclusive, and where the file system has neither step, the rename under the name's claim
// that CreateFileExclusive falls back to. Answers 0, EEXIST or the system's error number.
int PutExclusive(const std::string& from, const std::string& to);

// The file at `path` is this process's own as long as it holds `own`, the bytes the process
// last read or wrote there. Replaces it by `replacement` (a complete, synced temporary file beside
// it that holds `replacementBytes`), or removes it when `replacement` is empty, only while it is
// still its own: a file that somebody else writes there by its name, at any moment, is never
// replaced or removed (of several, the newest stays), and `ours` then answers false. A replace
// never leaves the name without a file: where the file system cannot exchange two names, the
// replacement is renamed over the file once it is compared (a write that lands in that instant is
// lost). Whatever is taken out of the name waits under a held-out name of the file's own, which no
// sweep of temporaries removes; a process that ends there leaves it for RestoreHeldOut. Nothing
// is left behind otherwise; the replacement is used or removed. The folder's changed names wait
// for SyncPendingFolders, which the caller calls before it reports them. Answers 0 or the system's
// error number (the file at `path` then stays as it was).
int ReplaceOwnFile(const std::string& path, const std::string& own, const std::string& replacement,
                   const std::string& replacementBytes, bool& ours);

// Whether a process that ended during ReplaceOwnFile left files under held-out names of path.
bool HasHeldOut(const std::string& path);

// Puts back what ReplaceOwnFile of a process that ended had taken out of path's name, to be
// called while no living process replaces the file (under its claim): a file of somebody else's
// goes back over the process's own file or into the empty name, unless a newer file of somebody
// else's is there (the newest stays); the process's own files go. Answers how many went back.
int RestoreHeldOut(const std::string& path);

// A claim on a name, held by this process for as long as the object holds it: a small file that
// records the owner's process id, locked while the owner lives. The system drops the lock when
// its process ends, however it ends, so the claim of a process that crashed is free for the next
// claimant; no process id that the system hands out again can keep a claim alive. Every account
// may read a claim file, and a read-only descriptor takes the lock: the claim of a crashed process
// of another account (root, say) is taken over too.
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
    // Gives the claim up and removes its file when the name still holds it: a newer claimant's
    // file that took the name (after somebody else removed this one) stays. Nothing when no
    // claim is held.
    void Release();
    bool IsHeld() const { return m_fd >= 0; }
    // Whether the claim held was taken over from an earlier claimant that has ended (its claim
    // file was there, named a process or, after a power cut, none), not made anew.
    bool TookOver() const { return m_fd >= 0 && m_tookOver; }
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
    bool m_tookOver = false;
};

} // namespace platform::fs
