#include "Plugin/Batch/ConversionJob.h"

#include <cstring>
#include <iostream>

#include "Plugin/Batch/FolderRuns.h"

const char* const FileKindExtensions[kFileKindCount] = {"qxp", "qxd", "dwq", "pdf", "log", "coo", "tgx", ""};
const char* const DwqExtension = FileKindExtensions[static_cast<int>(FileKind::Dwq)];
const char* const CooExtension = FileKindExtensions[static_cast<int>(FileKind::Coo)];
const char* const TgxExtension = FileKindExtensions[static_cast<int>(FileKind::Tgx)];
const char* const QxpExtension = FileKindExtensions[static_cast<int>(FileKind::Qxp)];

ModuleGlobal<ConversionJob> CurrentJob;
ModuleGlobal<std::string> ImportTargetPath;
OverwriteSwitches OverwriteFlags;

uint32_t FourCharCode(const char (&bytes)[5])
{
    uint32_t code = 0;
    std::memcpy(&code, bytes, sizeof code);
    return code;
}

namespace {

struct KindFiles {
    FileKind source;
    FileKind target;
    FileKind secondTarget;
};

// The files of each conversion kind 0 to 5.
constexpr KindFiles kKindFiles[] = {
    {FileKind::Qxp, FileKind::Dwq, FileKind::None},
    {FileKind::Qxp, FileKind::Pdf, FileKind::None},
    {FileKind::Qxp, FileKind::Dwq, FileKind::Pdf},
    {FileKind::Qxp, FileKind::Coo, FileKind::None},
    {FileKind::Qxp, FileKind::Tgx, FileKind::None},
    {FileKind::Dwq, FileKind::Qxp, FileKind::None},
};

struct HostCodes {
    const char* type;
    const char* creator;
};

// Source and target codes of each conversion kind 0 to 5; kind 2 has none.
struct KindCodes {
    bool valid;
    HostCodes source;
    HostCodes target;
};

constexpr KindCodes kKindCodes[] = {
    {true, {"QXP\0", "XPR3"}, {"DWQX", "XPR3"}},
    {true, {"QXP\0", "XPR3"}, {"PDF\0", "CARO"}},
    {false, {}, {}},
    {true, {"QXP\0", "XPR3"}, {"COOT", "XPR3"}},
    {true, {"QXP\0", "XPR3"}, {"TGXT", "XPR3"}},
    {true, {"DWQT", "XPR3"}, {"XPRT", "XPR3"}},
};

// The codes of a kind's file, or null (with the error line) for a kind that has none.
const HostCodes* CodesFor(ConversionKind kind, bool source)
{
    const auto index = static_cast<int32_t>(kind);
    if (index >= 0 && index < static_cast<int32_t>(sizeof kKindCodes / sizeof kKindCodes[0]) &&
        kKindCodes[index].valid)
        return source ? &kKindCodes[index].source : &kKindCodes[index].target;
    std::cerr << "ERROR: Invalid conversion type!" << std::endl;
    return nullptr;
}

uint32_t CodeOf(const char* bytes)
{
    char four[5] = {};
    std::memcpy(four, bytes, 4);
    return FourCharCode(four);
}

} // namespace

ConversionKind ConversionKindOf(FileKind source, FileKind target, FileKind secondTarget)
{
    if (source == FileKind::Qxp) {
        switch (target) {
        case FileKind::Dwq:
            return secondTarget == FileKind::Pdf ? ConversionKind::ToExchangeAndPdf : ConversionKind::ToExchange;
        case FileKind::Pdf: return ConversionKind::ToPdf;
        case FileKind::Coo: return ConversionKind::ToCoordinates;
        case FileKind::Tgx: return ConversionKind::ToXTags;
        default: return ConversionKind::Invalid;
        }
    }
    if (source == FileKind::Dwq && target == FileKind::Qxp)
        return ConversionKind::ToDocument;
    return ConversionKind::Invalid;
}

void DefaultFileKinds(ConversionKind kind, FileKind* source, FileKind* target, FileKind* secondTarget)
{
    const auto index = static_cast<int32_t>(kind);
    if (index < 0 || index >= static_cast<int32_t>(sizeof kKindFiles / sizeof kKindFiles[0]))
        return;
    if (source)
        *source = kKindFiles[index].source;
    if (target)
        *target = kKindFiles[index].target;
    if (secondTarget && kind == ConversionKind::ToExchangeAndPdf)
        *secondTarget = kKindFiles[index].secondTarget;
}

uint32_t FileTypeForConversion(ConversionKind kind, bool source)
{
    const HostCodes* codes = CodesFor(kind, source);
    return codes ? CodeOf(codes->type) : XT_FILETYPE_NONE;
}

uint32_t CreatorForConversion(ConversionKind kind, bool source)
{
    const HostCodes* codes = CodesFor(kind, source);
    return codes ? CodeOf(codes->creator) : XT_CREATOR_XPRESS;
}

void ConversionJob::SetFileTypes()
{
    source.SetFileType(CreatorForConversion(kind, true), FileTypeForConversion(kind, true));
    target.SetFileType(CreatorForConversion(kind, false), FileTypeForConversion(kind, false));
}

bool ConversionJob::IsValid(bool checkSource) const
{
    const FileKind from = source.GetKind();
    const FileKind to = target.GetKind();
    bool valid = false;
    switch (kind) {
    case ConversionKind::ToExchange: valid = to == FileKind::Dwq; break;
    case ConversionKind::ToPdf: valid = to == FileKind::Pdf; break;
    case ConversionKind::ToCoordinates: valid = to == FileKind::Coo; break;
    case ConversionKind::ToXTags: valid = to == FileKind::Tgx; break;
    case ConversionKind::ToDocument:
        return (to == FileKind::Qxp || to == FileKind::Qxd) && from == FileKind::Dwq;
    default: return false;
    }
    if (valid && checkSource && from != FileKind::Qxp && from != FileKind::Qxd)
        return false;
    return valid;
}
