// What a process leaves in a folder that others share (a temporary file, a working folder) it
// holds locked for as long as it uses it; the system gives the lock up when the process ends,
// however it ends. A sweep removes only what it can lock itself: never what a running process
// holds, whatever machine or pid namespace that process runs in and whatever process id the
// name carries. The process id in a name is a hint for whoever reads the folder; it decides
// alone only for a folder that holds no lock file, which an earlier build made.
//
// A temporary file is its own lock. A folder holds its lock in the file kLockName inside it.
#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

namespace platform::fs {

// The file inside an owned folder that its owner holds locked.
extern const char kLockName[];

// The forms of names that a sweep judges.
enum class OwnedKind {
    // "." + stem + kTempTag + pid + "-" + 13 random letters + suffix: a file (TempFiles.h).
    Temporary,
    // "KS_PdfProbe_" + pid + "_" + digits + "_" + digits: a folder.
    ProbeFolder,
    // "OMRA_" + 14 digits + "_" + 16 capital letters, the last 8 of which carry the pid (base
    // 26, "A" is 0) and two letters that check it against the digits: a folder.
    JobFolder,
};

struct NameForm {
    OwnedKind kind;
    // A temporary's suffix: each writer family has its own, and sweeps only its own.
    std::string suffix;
};

extern const char kProbePrefix[];

// Whether name (a file name, no folder) has the form; owner receives the process id it carries.
bool ParseOwnedName(const std::string& name, const NameForm& form, pid_t& owner);

// The 8 letters that end a job folder's name made by owner at stamp (the name's 14 digits).
std::string JobOwnerLetters(const std::string& stamp, unsigned long owner);

// A lock on something the process owns, given up when it is released or destroyed.
class OwnedLock {
public:
    OwnedLock() = default;
    explicit OwnedLock(int fd) : m_fd(fd) {}
    ~OwnedLock() { Release(); }
    OwnedLock(OwnedLock&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    OwnedLock& operator=(OwnedLock&& other) noexcept;
    OwnedLock(const OwnedLock&) = delete;
    OwnedLock& operator=(const OwnedLock&) = delete;

    bool Held() const { return m_fd >= 0; }
    void Release();

private:
    int m_fd = -1;
};

// Takes hold of the file at path that fd has open: locks it, then checks that path still names
// it, for a sweep may have taken and removed it since it was opened. Answers 0, or EAGAIN when
// another holds it or it has gone from path (the caller makes a new one), or the system's error.
int HoldOpenFile(int fd, const std::string& path);

// Opens the file at path (for writing where the process may) and holds it (see HoldOpenFile);
// lock receives it. Answers 0, EAGAIN or the system's error.
int HoldFile(const std::string& path, OwnedLock& lock);

// Makes the folder at path (mode 0777 less the umask) and holds it; lock receives the hold.
// Answers 0, EEXIST when the name is taken (by an older folder, or by one a sweep is taking:
// the caller draws another), or the system's error; no folder is left on an error.
int MakeOwnedFolder(const std::string& path, OwnedLock& lock);

// Removes the tree at path, links removed and never followed. Answers "" or the reason.
std::string RemoveTree(const std::string& path);

struct SweptEntry {
    std::string path;
    // The process id its name carried.
    pid_t owner = 0;
    // "" when it was removed, else why it could not be.
    std::string error;
};

// Removes the entries of the form in folder that belong to the process's user and that nobody
// holds, and answers each removed or failed one. Never a link, a file where the form names a
// folder or the reverse, a name of another form, nor another user's. A lock is taken on a
// descriptor open for writing where the process may (an exclusive lock on a network file
// system needs one), else on one open for reading.
std::vector<SweptEntry> SweepOwned(const std::string& folder, const NameForm& form);

// Whether no process of this pid runs on this machine (nor in this pid namespace).
bool OwnerGone(pid_t owner);

} // namespace platform::fs
