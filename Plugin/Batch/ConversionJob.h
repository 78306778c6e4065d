// The current conversion job: the source and target files of the conversion that the commands
// run next, with the host file operations on them that the file dialogs use.
#pragma once

#include <cstdint>
#include <string>

#include "Foundation/ModuleGlobals.h"
#include "platform/host/HostServices.h"
#include "platform/host/xtapi/XTAPI.h"

// The index of a file's extension: 0 "qxp", 1 "qxd", 2 "dwq", 3 "pdf", 4 "log", 5 "coo",
// 6 "tgx", 7 none.
enum class FileKind : int32_t { Qxp, Qxd, Dwq, Pdf, Log, Coo, Tgx, None };

// One file of a conversion.
class ConvFileSpec {
public:
    std::string GetPath() const { return m_path; }
    std::string GetName() const { return m_name; }
    FileKind GetKind() const { return m_kind; }

    // Sets the path, and the name and kind as the host sees the file; answers the host's code
    // (the path is set even on failure).
    int16_t SetPath(const std::string& path);
    // The host file specification of the path; out is unchanged on failure. Answers the host's code.
    int16_t GetHostSpec(HostFileSpec& out) const;
    // Creates the file through the host (replacing an existing one only when allowed; -48 when it
    // exists and may not be replaced) and fills out with its specification. Answers the host's code.
    int16_t CreateHostFile(HostFileSpec& out, bool replace, uint32_t creator, uint32_t fileType);

private:
    FileKind m_kind = FileKind::None;
    std::string m_name;
    std::string m_path;
    uint32_t m_creator = XT_CREATOR_XPRESS;
    uint32_t m_type = XT_FILETYPE_NONE;
};

class ConversionJob {
public:
    ConvFileSpec GetSource() const { return source; }
    ConvFileSpec GetTarget() const { return target; }

    ConvFileSpec source;
    ConvFileSpec target;
    int32_t kind = 6;  // invalid
};

// The current job of the module.
extern ModuleGlobal<ConversionJob> CurrentJob;

// Replaces the extension (given without its dot) of the file a specification names, in place;
// answers the host's code, 12 when the extension cannot be changed.
int16_t ResolveHostFileSpec(HostFileSpec& spec, const char* extension);

// The characters of a host text object as 8-bit text; out is unchanged on failure. Answers the
// host's code.
int16_t HostTextToString(XTHandle text, std::string& out);
