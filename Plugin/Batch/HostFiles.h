// Paths of the conversions and the host file operations on them: file kinds of paths, the
// system's temporary folder, and deleting, test-opening, naming, creating and opening files
// through the host's file interface.
#pragma once

#include <cstdint>
#include <string>
#include <sys/stat.h>

#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Shell/HostFileServices.h"
#include "platform/host/HostServices.h"
#include "platform/host/xtapi/XTAPI.h"

// The separator that joins paths (every split also takes "\") and the extension dot.
extern const char PathSeparator[];
extern const char DotString[];

// Whether a folder entry is one a folder run passes over: a name starting with ".".
bool IsHiddenOrSystem(const std::string& name);

// The system's temporary folder without its trailing separator; false when it is no folder.
bool GetSystemTempPathU(std::string& out);
// The same folder, or an empty string.
std::string SystemTempPathU();

// The kind of an extension given with its dot, ignoring case; with strict, only a dot and
// three letters can match.
FileKind FileKindByExtension(const std::string& extension, bool strict);
FileKind FileKindOfPath(const std::string& path, bool strict);

// Deletes the file through the host; answers the host's code (0 deleted, -43 not found).
int16_t RemoveHostFile(const std::string& path);
// Whether the host opens the file as a document; it is closed again at once.
bool IsOpenableDocument(const std::string& path);
// Why the host refused the last document it was asked to open, in its own words (the file and
// what is wrong with it); empty when it says no more than its error code.
std::string HostOpenRefusal();
// The name of a host file object as UTF-8 text into name and its length in bytes into length.
// Answers the host's code; 5 without a name, 6 without a length.
int16_t GetHostFileInfo(XTHandle file, std::string* name, int32_t* length);
// Opens the file at path for the given access through the host; the host's file reference
// goes to ref. Answers the host's code.
int16_t CreateHostDocumentFile(const std::string& path, int16_t* ref, int32_t access);
// Opens a host document from a file specification with the host's open option value; without
// a specification the host's error 4 is raised. Answers the host's code, 0 when it opened.
int16_t OpenHostDocument(const HostFileSpec* spec, int32_t options);
// Saves the front project into the file that the file spec names with the host's save to a file
// (option value 0x43): from then on the host keeps the project under that file. Answers the
// host's code.
int32_t SaveProjectTo(const HostFileSpec& spec);

// How the PDF output names its file: 2 puts ".pdf" on the job's target name.
extern int32_t PdfMode;
// Gives the current job's target the name of its PDF: a four-character extension cut, and
// ".pdf" added while PdfMode is 2; path receives it when the host took it. Answers SetPath's
// code.
int16_t SetJobTargetName(std::string& path);

// What tells one version of a file from another: a file replaced by renaming has another
// inode, one rewritten in place another time or size.
struct FileVersion {
    bool exists = false;
    ino_t inode = 0;
    struct timespec written {};
    off_t size = 0;

    bool operator==(const FileVersion& other) const
    {
        return exists == other.exists && inode == other.inode && written.tv_sec == other.written.tv_sec &&
               written.tv_nsec == other.written.tv_nsec && size == other.size;
    }
};
// The version of the regular file at path; one that does not exist when there is none.
FileVersion VersionOf(const std::string& path);
// Whether something at path keeps a conversion from putting its result there: a folder, or
// what ReplaceRefused refuses (a link that another user may have planted, a file that nobody
// may write, or one that this process may not write). A run names such targets before it
// starts and converts nothing into them.
bool IsWriteProtected(const std::string& path);
// Why IsWriteProtected answers true, as a clause ("it is read-only"); empty when it does not.
std::string WriteProtection(const std::string& path);
// Whether the two paths name one file (the same file of the same device, whatever links or
// spellings lead to it); false when either does not exist.
bool IsSameFile(const std::string& one, const std::string& other);
// The system's reason for a storage failure of the container library, by its error number, as
// HostFileErrorText gives it for a host code.
std::string ContainerFileErrorText(int32_t code);

// Whether a command left a result at path: a non-empty file, and not the one that was there
// before it ran. The file a command creates before it writes is empty, and the exchange files
// replace it only once they are complete.
bool NewFileWritten(const std::string& path, const FileVersion& before);
