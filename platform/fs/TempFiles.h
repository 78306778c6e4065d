// Temporary files beside a target: a writer fills one and renames it over the target only once
// it is complete, so the target's name only ever holds a whole file.
//
// A temporary file is named "." + stem + "." + pid + "-" + serial + suffix, in the target's
// folder: the stem is the target's name, cut (at a character boundary) so that the whole name
// fits the system's limit whatever the target's name is; the pid names the process that writes
// it, which holds an exclusive lock on it from its making until it is renamed or removed. A
// process killed while writing leaves its file behind; the next process that makes a temporary
// file of the same suffix in that folder removes it, once nobody holds it (platform/fs/Sweep.h).
// Each writer family has its own suffix, so it only ever removes files of its own making.
#pragma once

#include <string>
#include <sys/types.h>

namespace platform::fs {

class OwnedLock;

// The longest file name (not path) the system takes, in bytes.
constexpr std::size_t kNameMax = 255;

// The temporary file's name for the target (a path; the result is a path in the same folder).
std::string TempNameBeside(const std::string& target, pid_t owner, unsigned long serial, const std::string& suffix);

// Whether name (a file name, no folder) has the form of a temporary name with the suffix; owner
// receives its pid.
bool ParseTempName(const std::string& name, const std::string& suffix, pid_t& owner);

// A new temporary file beside the target, opened for reading and writing and locked: it has the
// mode of the existing target, or for a new target the process's default (0666 less the
// umask). Stale temporary files of the suffix in the folder are removed first. Answers 0 and
// fills fd and path, or the system's error number.
int CreateTempBeside(const std::string& target, const std::string& suffix, int& fd, std::string& path);

// A new temporary file beside the target, made as CreateTempBeside makes it, that holds the
// bytes and is closed. Answers 0 and fills path, or the system's error number (and no file is
// left). With hold, the file stays locked until hold is released: a writer that renames it
// keeps it from a sweep until then.
int WriteTempBeside(const std::string& target, const std::string& suffix, const std::string& bytes, std::string& path,
                    OwnedLock* hold = nullptr);

// Gives the file at path the mode of the existing target (nothing when there is none). Answers
// 0 or the system's error number.
int KeepTargetMode(int fd, const std::string& target);

// Removes the temporary files of the suffix in the folder that nobody holds, whatever process
// id their names carry. Never a folder, a link, a file of another form or another suffix.
// Answers the number removed.
int SweepStaleTemps(const std::string& folder, const std::string& suffix);

// The suffix of the exchange containers, text files and settings files this program writes.
extern const char kTempSuffix[];

} // namespace platform::fs
