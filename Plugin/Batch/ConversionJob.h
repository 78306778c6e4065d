// The current conversion job: the source and target files of the conversion that the commands
// run next, the file and conversion kinds, and the host file types and creators of each kind.
#pragma once

#include <cstdint>
#include <string>
#include <unistd.h>

#include "Foundation/ModuleGlobals.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/fs/NativeFS.h"
#include "platform/host/HostServices.h"
#include "platform/host/xtapi/XTAPI.h"

// The index of a file's extension in the extension table.
enum class FileKind : int32_t { Qxp, Qxd, Dwq, Pdf, Log, Coo, Tgx, None };

// "qxp", "qxd", "dwq", "pdf", "log", "coo", "tgx" and the empty last entry, without dots.
constexpr int kFileKindCount = 8;
extern const char* const FileKindExtensions[kFileKindCount];
// The entries the shell's file dialogs name.
extern const char* const DwqExtension;
extern const char* const CooExtension;
extern const char* const TgxExtension;
extern const char* const QxpExtension;

enum class ConversionKind : int32_t {
    ToExchange = 0,        // host document to exchange file
    ToPdf = 1,             // host document to PDF
    ToExchangeAndPdf = 2,  // host document to exchange file and PDF
    ToCoordinates = 3,     // host document to coordinates file
    ToXTags = 4,           // host document to XTags file
    ToDocument = 5,        // exchange file to host document
    Invalid = 6,
};

// A host type or creator code from its four bytes in memory order ("QXP\0").
uint32_t FourCharCode(const char (&bytes)[5]);

// One file of a conversion.
class ConvFileSpec {
public:
    FileKind GetKind() const { return m_kind; }
    std::string GetName() const { return m_name; }
    std::string GetPath() const { return m_path; }
    uint32_t GetCreator() const { return m_creator; }
    uint32_t GetType() const { return m_type; }
    // The kind of a file the host has not been asked to name.
    void SetKind(FileKind kind) { m_kind = kind; }
    void SetFileType(uint32_t creator, uint32_t type)
    {
        m_creator = creator;
        m_type = type;
    }

    // Sets the path, then the name and kind as the host reports them for it. Answers the host's
    // code; on failure the path is set, the name empty and the kind None.
    int16_t SetPath(const std::string& path);
    // The host file specification of the path; out is unchanged on failure. Answers the host's code.
    int16_t GetHostSpec(HostFileSpec& out) const;
    // Creates the file through the host with the creator (XT_CREATOR_XPRESS: this file's own) and
    // type (XT_FILETYPE_NONE: this file's own, when it has one). An existing file is replaced
    // only when allowed (else -48 and nothing changes). Fills out with the created file's
    // specification. Answers the host's code.
    int16_t CreateHostFile(HostFileSpec& out, bool replace, uint32_t creator, uint32_t fileType);
    // The host file record of an output's target, which the output makes only once complete,
    // under a temporary name beside it: an existing file that may be replaced stays as it is,
    // and no file is made for a new target, so that a run killed at any moment leaves the target
    // as it was or absent, never empty. Answers the host's code of CreateHostFile for a target
    // it could not make (-48 for an existing file that may not be replaced, the folder's
    // fault for a folder that is missing or cannot be written).
    int16_t OutputHostSpec(HostFileSpec& out, bool replace) const;

private:
    FileKind m_kind = FileKind::None;
    std::string m_name;
    std::string m_path;
    uint32_t m_creator = XT_CREATOR_XPRESS;
    uint32_t m_type = XT_FILETYPE_NONE;
};

// Only a choice between calls above, so it goes wherever they are defined.
inline int16_t ConvFileSpec::OutputHostSpec(HostFileSpec& out, bool replace) const
{
    bool isDirectory = false;
    if (PathExists(m_path, &isDirectory)) {
        if (!replace)
            return static_cast<int16_t>(XT_ERR_DUPLICATE_FILE);
        return isDirectory ? static_cast<int16_t>(XT_ERR_PARAM) : GetHostSpec(out);
    }
    HostFileSpec spec{};
    if (const int16_t result = GetHostSpec(spec))
        return result;
    // What creating the file would have found: the output could never take its place.
    const size_t slash = m_path.find_last_of("/\\");
    const std::string folder =
        slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : m_path.substr(0, slash);
    if (::access(platform::fs::NativePath(folder).c_str(), W_OK | X_OK) != 0)
        return static_cast<int16_t>(XT_ERR_IO);
    out = spec;
    return 0;
}

class ConversionJob {
public:
    ConvFileSpec GetSource() const { return source; }
    ConvFileSpec GetTarget() const { return target; }

    // Back to a new job: empty specs, kind Invalid.
    void Reset() { *this = ConversionJob(); }
    // The creators and types of both files from the kind.
    void SetFileTypes();
    // Whether the kind fits the files' kinds; with checkSource, a host-document conversion also
    // needs a host document as its source.
    bool IsValid(bool checkSource) const;

    ConvFileSpec source;
    ConvFileSpec target;
    ConversionKind kind = ConversionKind::Invalid;
};

// The current job of the module.
extern ModuleGlobal<ConversionJob> CurrentJob;
// The target path of the next import that the conversion driver runs.
extern ModuleGlobal<std::string> ImportTargetPath;

// The conversion from a source to a target (and a second target, None for none).
ConversionKind ConversionKindOf(FileKind source, FileKind target, FileKind secondTarget);
// The file kinds of a conversion into the non-null outputs; Invalid and unknown kinds leave
// them untouched.
void DefaultFileKinds(ConversionKind kind, FileKind* source, FileKind* target, FileKind* secondTarget);
// The host file type and creator of the source or the target of a conversion. Kinds without
// one write "ERROR: Invalid conversion type!" to the standard error stream and answer
// XT_FILETYPE_NONE and XT_CREATOR_XPRESS.
uint32_t FileTypeForConversion(ConversionKind kind, bool source);
uint32_t CreatorForConversion(ConversionKind kind, bool source);

// Replaces the extension (given without its dot) of the file a specification names, in place;
// answers the host's code, 12 when the extension cannot be changed.
int16_t ResolveHostFileSpec(HostFileSpec& spec, const char* extension);

// The characters of a host text object as UTF-8 text; out is unchanged on failure. Answers the
// host's code.
int16_t HostTextToString(XTHandle text, std::string& out);
