// Paths walked name by name. In a folder that other accounts may write (a setgid team folder
// without the sticky bit), any name on the way to a file may be a link that another account put
// there, aimed at a folder of the user's or of root's: a writer that lets the system follow it
// writes where the planter wants, and a reader reads the user's private files into a folder the
// planter reads. So a path is opened one name at a time from "/" (or the working folder), no
// link followed by the system, and a link is followed only when nobody but the user it leads to
// can have made it: the link belongs to the process's user or to the owner of the folder that
// holds it (the kernel's rule for protected links), and what it leads to belongs to that same
// user. The checks, the temporary and the rename of a write are then made relative to the folder
// that was opened, so that nothing can be swapped in between.
#pragma once

#include <string>

#include <sys/types.h>

namespace platform::fs {

// A descriptor, closed when the object goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    int Release();
    void Reset(int fd = -1);

private:
    int m_fd = -1;
};

// Where a file is: its folder, open (O_PATH), with that folder's path as it was walked (empty
// for the working folder, else ending in "/"), and the file's name in it.
struct Place {
    UniqueFd folder;
    std::string folderPath;
    std::string name;

    std::string Path() const { return folderPath + name; }
};

// What the link name in the folder open as folder (or AT_FDCWD) names. Answers 0, or the
// system's error number (ENAMETOOLONG for what does not fit a path).
int ReadLink(int folder, const std::string& name, std::string& named);

// Opens the folder that holds path, every folder link on the way held to the rule above. Answers
// 0; EACCES for a link that is not followed, with why naming the link and the reason; or the
// system's error number (ENOENT for a missing folder, ELOOP).
int OpenPlace(const std::string& path, Place& place, std::string* why = nullptr);

// OpenPlace, then the last name followed while it is a link that meets the same rule (a link to
// a link followed on, every link of one user, and the file at the end, or the folder a new one
// goes into, that user's), so that place names the file a write of path writes. EACCES for a
// last link that is not followed, why then says so.
int ResolvePlace(const std::string& path, Place& place, std::string* why = nullptr);

// Opens the file at path (the flags and mode of open, such as O_RDONLY | O_DIRECTORY or
// O_WRONLY | O_CREAT), its folders and its last name held to the rule. Answers 0 and fills fd, or
// EACCES with why, or the system's error number.
int OpenUnderRule(const std::string& path, int flags, int& fd, std::string* why = nullptr, mode_t mode = 0666);

// Why a link on the way to path, or at its end, is not followed; empty when none is refused
// (also when path does not lead anywhere).
std::string LinkRefusal(const std::string& path);

} // namespace platform::fs
