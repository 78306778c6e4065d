// The native file-system layer: the few operating-system calls that the path functions and
// file nodes make, in one place, with hooks that let a test make an operation fail or watch
// the pauses of a retry loop.
//
// Paths are POSIX paths. A backslash is taken as a separator too, so a path built with either
// separator names the same file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform::fs {

struct Status {
    bool isDirectory = false;
    bool isRegular = false;   // a plain file: no folder, device, pipe or socket
    uint64_t size = 0;
};

// The path as the system call takes it: every backslash turned into a slash.
std::string NativePath(const std::string& path);

// File status of the path (links followed); false when it cannot be had.
bool GetStatus(const std::string& path, Status& status);

// Each answers 0 on success or the system's error number. RemoveFile never removes a folder;
// MakeFolder creates one level (the parent must exist); RemoveFolder removes an empty folder.
int RemoveFile(const std::string& path);
int MakeFolder(const std::string& path);
int RemoveFolder(const std::string& path);

// Writes the bytes to a new file beside the target and renames it over the target only when
// every byte was written and synced, so a failed write or a power cut leaves the old file as it
// was (FinishTemp: through a link, with the replaced file's owner and mode). Answers 0 or the
// system's error number.
int ReplaceFile(const std::string& path, const std::string& bytes);

// Puts a complete file of the target's folder in the target's place as FinishTemp finishes a
// temporary file; a failure leaves the target as it was. Answers 0 or the system's error number.
int MoveOver(const std::string& from, const std::string& to);

// The system's text for an error number.
std::string ErrorText(int error);

// The system's temporary folder: $TMPDIR when set and not empty, else the default temporary
// folder, with one trailing slash. Empty when none can be found.
std::string TempFolder();

// The pause between two tries of a retry loop (20 ms).
constexpr unsigned kRetryPauseMs = 20;
void Pause(unsigned milliseconds);

// ---- Test hooks ----------------------------------------------------------------------------

enum class Operation { RemoveFile, MakeFolder, RemoveFolder, ReplaceFile, MoveOver };

// Called before each operation with its path; a non-zero answer is taken as the error number
// of a failed call and the operation is not made. An empty hook lets every call through.
using FaultHook = std::function<int(Operation, const std::string& path)>;
void SetFaultHook(FaultHook hook);
// The hook's answer for an operation on path; 0 without a hook. For writers outside this file
// that do what one of the operations does.
int InjectedFault(Operation op, const std::string& path);

// Replaces the pause of Pause (for example to count pauses without waiting). Empty: sleep.
using PauseHook = std::function<void(unsigned milliseconds)>;
void SetPauseHook(PauseHook hook);

} // namespace platform::fs
