// Temporary files beside a target: a writer fills one and renames it over the target only once
// it is complete, so the target's name only ever holds a whole file.
//
// A temporary file is named "." + stem + kTempTag + pid + "-" + 13 random letters + suffix, in
// the target's folder: the stem is the target's name, cut (at a character boundary) so that the
// whole name fits the system's limit whatever the target's name is; the pid names the process
// that writes it, which holds an exclusive lock on it from its making until it is renamed or
// removed. A process killed while writing leaves its file behind; the next process of the same
// user that makes a temporary file of the same suffix in that folder removes it, once nobody
// holds it (platform/fs/Sweep.h). The tag and the random part keep a user's hidden file (such
// as ".budget.2024-03.tmp") out of that form, and each writer family has its own suffix, so a
// sweep only ever removes files of its own making. The names of earlier builds
// ("." + stem + "." + pid + "-" + serial + suffix) are never removed: a user's file may have
// that form.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

namespace platform::fs {

// The longest file name (not path) the system takes, in bytes.
constexpr std::size_t kNameMax = 255;

// What every temporary's name holds between its stem and its owner's pid.
extern const char kTempTag[];

// The name (a file name, no folder) cut to at most room bytes, never inside a UTF-8 character.
std::string CutName(std::string name, std::size_t room);

// The temporary file's name for the target (a path; the result is a path in the same folder),
// whose random part is written from the bits of random.
std::string TempNameBeside(const std::string& target, pid_t owner, unsigned long random, const std::string& suffix);

// Whether name (a file name, no folder) has the form of a temporary name with the suffix; owner
// receives its pid.
bool ParseTempName(const std::string& name, const std::string& suffix, pid_t& owner);

// The file that a replace of target writes: the target itself, or, when it is a symbolic link,
// the file the link names (a link to a link followed on), so that the link stays a link. A link,
// at the end of the path or on the way to it, is followed only when nobody but the user it names
// a file of can have made it: every link on the way belongs to one user, who is the process's
// user or the owner of the folder that holds the link (the kernel's rule for protected links),
// and the file at the end, or the folder a new one goes into, is that user's too (Folders.h).
// Answers 0 and fills resolved; EACCES for a link that is not followed (the target is
// write-protected: another user may have planted it to turn the write against a file of the
// process's user, or, as root, any file); ELOOP; or the error of a folder that cannot be opened.
int ResolveLinks(const std::string& target, std::string& resolved);

// The path with every link on its way resolved (in folders too, as the system's realpath does),
// each link only where ResolveLinks follows it: a job that may only reach some folders checks
// where a client's path really leads, and a link another account may have planted leads
// nowhere. The path must be absolute and everything on it must exist. Answers 0 and fills
// resolved (no link, "." or ".." left in it); EACCES for a link not followed, ELOOP, or the
// system's error number of the part that is missing or no folder.
int ResolvePath(const std::string& path, std::string& resolved);

// Why a replace of the existing file at target (through links) is refused: a link that is not
// followed (on the way, too: the reason names it), a read-only file, a file the process may not
// write (its effective ids), a file whose folder lets only its owner replace it, or a file with
// extended attributes that its replacement could not keep (one the process may not read or set).
// Empty when it is not refused (also when there is no file). A file the process may write is
// replaced even when its owner cannot be kept.
std::string ReplaceRefusal(const std::string& target);

// EACCES when ReplaceRefusal gives a reason, else 0.
int ReplaceRefused(const std::string& target);

// A new temporary file beside the file the target names (links followed), opened for reading
// and writing and locked. It is open to its owner only, whatever the target's mode is, until
// FinishTemp gives it its final mode. Stale temporary files of the suffix in the folder are
// removed first. Answers 0 and fills fd and path, or the system's error number.
int CreateTempBeside(const std::string& target, const std::string& suffix, int& fd, std::string& path);

// How a finished temporary file takes the target's name: over what is there, or only when
// nothing is (the link fails then, and the target stays as it was).
enum class Finish { Replace, Exclusive };

// Makes the complete temporary file (open as fd) ready to take the place of the file at
// replaced (empty: of no file): the owner, group and permission bits of that file without
// setuid and setgid, and its access list and other extended attributes (none: the process's
// default mode, within NewFilesFrom's), then its content synced, so that one
// sync makes content, owner and mode durable together. An owner that the process cannot give
// away stays the process's; where it cannot keep the group either (a file it may write through
// the bits of every other user), the new group and every other user get only what both the old
// group and every other user had, so the new file is open to nobody who could not read or write
// the old one. Answers 0 or the system's error number. FinishTemp does this itself; it leaves the
// sync out (durable false) where the target is itself a temporary file, which no power cut can
// make a result.
int ReadyTemp(int fd, const std::string& replaced, bool durable = true);

// Puts the complete temporary file (open as fd) under the target's name so that a power cut
// at any moment leaves the old file or the whole new one: it gets the owner and group of the
// file it replaces, that file's permission bits without setuid and setgid, its access list and
// extended attributes, as ReadyTemp gives them (a new file: the process's default, 0666 less the
// umask, within NewFilesFrom's), its content is synced, and it is renamed over the file the
// target names (through links), relative to the folder whose links were checked; a temporary
// that is not in that folder (its path changed since it was made) is refused with EXDEV. The folder's new name is made
// durable later, once for all the names a run gives it, by SyncPendingFolders before the run
// reports them. A file that ReplaceRefused refuses is refused with EACCES. Answers 0 or the
// system's error number; on failure the temporary file is the caller's to remove.
int FinishTemp(int fd, const std::string& temp, const std::string& target, Finish how = Finish::Replace);

// A temporary file beside the target that holds the bytes, finished as FinishTemp does;
// beforeFinish, when given, is called once the bytes are written. Answers 0 or the system's
// error number (and no temporary file is left).
int WriteBeside(const std::string& target, const std::string& suffix, const std::string& bytes, Finish how,
                const std::function<void()>& beforeFinish = {});

// Writes all the bytes to fd, through short writes and interruptions. Answers 0 or the
// system's error number.
int WriteAll(int fd, const std::string& bytes);

// Syncs the folder that holds path, so that a name made or changed there survives a power cut.
// Answers 0 or the system's error number.
int SyncFolderOf(const std::string& path);

// Notes that the folder holding path (a file or a folder) has a name made or changed that must
// survive a power cut before the run reports it. A run that gives one folder thousands of names
// syncs it once, not after each.
void DeferFolderSync(const std::string& path);

// Syncs each folder noted since the last call, once, in the order of their last change, so that
// no name is on the disk before those made earlier: a run calls it before it reports what it
// wrote (a job's end and archive, a folder run's end, "Export done", a server's reply). Answers
// 0, or the error of the first folder that failed (named in failed, when given); that folder and
// those after it are noted again, unsynced, so that the next report tries them once more.
int SyncPendingFolders(std::string* failed = nullptr);

// Removes the temporary files of the suffix in the folder that belong to the process's user and
// that nobody holds, whatever process id their names carry. Never a folder, a link, a file of
// another form, suffix or user. Answers the number removed.
int SweepStaleTemps(const std::string& folder, const std::string& suffix);

// While it lives, a new file of the process (not a replaced one, which keeps its own rights)
// gets no permission bit that the file at source lacks, besides those the umask takes: a
// result made from a document shows no more than the document, as cp gives a copy. A source
// that is no plain file takes nothing away. They nest.
class NewFilesFrom {
public:
    explicit NewFilesFrom(const std::string& source);
    ~NewFilesFrom();
    NewFilesFrom(const NewFilesFrom&) = delete;
    NewFilesFrom& operator=(const NewFilesFrom&) = delete;

private:
    unsigned m_previous;
};

// The suffix of the exchange containers, text files and settings files this program writes.
extern const char kTempSuffix[];

// Reads the process's umask, which gives new files their mode, and keeps it. The system only
// tells it by setting it, and a file that another thread makes while it is set to be read back
// would get none: the load code of the program and of the module call this first, while no
// other thread runs. Later calls keep the first reading.
void KeepUmask();

} // namespace platform::fs
