#include "Plugin/Batch/HostFiles.h"

#include "Foundation/TraceHooks.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/HostText.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/host/documents/XTDocSuites.h"

const char PathSeparator[] = "/";
const char DotString[] = ".";
int32_t PdfMode = 3;

namespace {

constexpr int16_t kGeneralFailure = 12;
// Host errors of GetHostFileInfo's missing outputs, and of an open without a specification.
constexpr int16_t kNoNameBuffer = 5;
constexpr int16_t kNoLength = 6;
constexpr int16_t kNoSpecToOpen = 4;
// Longer host texts than this are no file names or paths.
constexpr int32_t kLongestHostText = 1 << 20;
// The host's option value for a test open.
constexpr int32_t kTestOpenOptions = 63;

int16_t Code(int32_t result)
{
    return static_cast<int16_t>(result);
}

// A host file object made from a path, disposed with this object.
class HostFileObject {
public:
    HostFileObject(const std::string& path, uint32_t creator)
    {
        const XTHandle text = NewHostText(path);
        if (!text) {
            m_result = XT_ERR_PARAM;
            return;
        }
        m_result = CallHost<XFJ_FileRefFromText>(text, creator, 0, 0, &m_ref);
        CallHost<XText_Dispose>(text);
        if (m_result == XT_OK && m_ref == 0)
            m_result = XT_ERR_PARAM;
    }
    // An empty one, to be pointed at a file specification.
    HostFileObject() { m_result = CallHost<XFJ_NewFileRef>(&m_ref); }
    ~HostFileObject()
    {
        if (m_ref)
            CallHost<XFJ_Dispose>(m_ref);
    }
    HostFileObject(const HostFileObject&) = delete;
    HostFileObject& operator=(const HostFileObject&) = delete;

    int32_t Result() const { return m_result; }
    XTHandle Ref() const { return m_ref; }

    // The object's file specification into out, which is untouched on failure.
    int32_t CopySpec(HostFileSpec& out) const
    {
        HostFileSpec spec{};
        const int32_t result = CallHost<XFJ_GetFileSpec>(m_ref, &spec);
        if (result == XT_OK)
            out = spec;
        return result;
    }

private:
    XTHandle m_ref = 0;
    int32_t m_result = XT_OK;
};

} // namespace

bool IsHiddenOrSystem(const std::string& name)
{
    return !name.empty() && name[0] == '.';
}

bool GetSystemTempPathU(std::string& out)
{
    return GetSystemTempPath(out);
}

std::string SystemTempPathU()
{
    return SystemTempPath<std::string>();
}

FileKind FileKindByExtension(const std::string& extension, bool strict)
{
    if (strict && extension.size() != 4)
        return FileKind::None;
    for (int kind = 0; kind < kFileKindCount; ++kind) {
        if (*FileKindExtensions[kind] == '\0')
            continue;
        if (CompareStrings(extension, std::string(DotString) + FileKindExtensions[kind], false))
            return static_cast<FileKind>(kind);
    }
    return FileKind::None;
}

FileKind FileKindOfPath(const std::string& path, bool strict)
{
    return FileKindByExtension(GetExtension(path, true), strict);
}

int16_t HostTextToString(XTHandle text, std::string& out)
{
    int32_t length = 0;
    int32_t result = CallHost<XText_GetLength>(text, &length);
    if (result == XT_OK && (length < 0 || length > kLongestHostText))
        result = XT_ERR_PARAM;
    std::u16string chars;
    if (result == XT_OK) {
        chars.assign(static_cast<std::size_t>(length) + 1, u'\0');
        result = CallHost<XText_GetChars>(text, &chars[0], length + 1);
    }
    // UTF-8 takes up to three bytes for a UTF-16 unit: the converted text is sized by what it
    // holds, never by the unit count.
    if (result == XT_OK) {
        chars.resize(static_cast<std::size_t>(length));
        out = FromHostText(chars);
    }
    return Code(debug_check(result));
}

int16_t GetHostFileInfo(XTHandle file, std::string* name, int32_t* length)
{
    if (!name)
        return kNoNameBuffer;
    if (!length)
        return kNoLength;
    XTHandle text = 0;
    int32_t result = CallHost<XFJ_GetFileNameText>(file, &text);
    std::string converted;
    if (result == XT_OK)
        result = HostTextToString(text, converted);
    if (text)
        CallHost<XText_Dispose>(text);
    if (result == XT_OK) {
        *name = converted;
        *length = static_cast<int32_t>(converted.size());
    }
    return Code(result);
}

int16_t ConvFileSpec::SetPath(const std::string& path)
{
    m_path = path;
    HostFileObject file(path, m_creator);
    int32_t result = file.Result();
    std::string name;
    int32_t length = 0;
    if (result == XT_OK) {
        result = GetHostFileInfo(file.Ref(), &name, &length);
        if (result != XT_OK)
            result = GetHostFileInfo(file.Ref(), &name, &length);
    }
    // A path the host could not name keeps no name or kind of an earlier file.
    if (result == XT_OK) {
        m_name = name;
        m_kind = FileKindOfPath(name, false);
    } else {
        m_name.clear();
        m_kind = FileKind::None;
    }
    return Code(result);
}

int16_t ConvFileSpec::GetHostSpec(HostFileSpec& out) const
{
    HostFileObject file(m_path, XT_CREATOR_XPRESS);
    if (file.Result() != XT_OK)
        return Code(file.Result());
    return Code(file.CopySpec(out));
}

int16_t ConvFileSpec::CreateHostFile(HostFileSpec& out, bool replace, uint32_t creator, uint32_t fileType)
{
    // Without a creator there is nothing the host could make.
    if (creator == 0)
        return Code(XT_ERR_PARAM);
    if (creator == XT_CREATOR_XPRESS)
        creator = m_creator;
    if (fileType == XT_FILETYPE_NONE)
        fileType = m_type;
    HostFileObject file(m_path, creator);
    int32_t result = file.Result();
    if (result == XT_OK)
        result = CallHost<XFJ_CreateFile>(file.Ref(), creator, fileType, replace ? 1 : 0);
    if (result == XT_OK)
        result = file.CopySpec(out);
    return Code(result);
}

int16_t ResolveHostFileSpec(HostFileSpec& spec, const char* extension)
{
    std::string path;
    int32_t result = FileSpecToPath(path, spec, false);
    if (result == XT_OK && !ChangeExtension(path, std::string(extension ? extension : ""), true, true))
        result = kGeneralFailure;
    if (result == XT_OK) {
        HostFileObject file(path, XT_CREATOR_XPRESS);
        result = file.Result();
        if (result == XT_OK)
            result = file.CopySpec(spec);
    }
    return Code(debug_check(result));
}

int16_t RemoveHostFile(const std::string& path)
{
    HostFileSpec spec{};
    int32_t result = xt_fsmakefsspec(0, 0, path.c_str(), &spec);
    if (result == XT_OK) {
        HostFileObject file;
        result = file.Result();
        if (result == XT_OK)
            result = CallHost<XFJ_SetFileSpec>(file.Ref(), &spec);
        if (result == XT_OK)
            result = CallHost<XFJ_DeleteFile>(file.Ref());
    }
    return Code(debug_check(result));
}

bool IsOpenableDocument(const std::string& path)
{
    HostFileObject file(path, XT_CREATOR_XPRESS);
    if (file.Result() != XT_OK)
        return false;
    if (CallHost<XDD_OpenDocument>(file.Ref(), kTestOpenOptions) != XT_OK)
        return false;
    CloseProject(-1, 1);
    return true;
}

int16_t CreateHostDocumentFile(const std::string& path, int16_t* ref, int32_t access)
{
    return Code(CallHost<XFJ_CreateDocumentFile>(path.c_str(), ref, access));
}

int16_t OpenHostDocument(const HostFileSpec* spec, int32_t options)
{
    if (!spec)
        return Code(CallHost<XAQ_ReportError>(kNoSpecToOpen));
    int32_t result = XT_OK;
    {
        HostFileObject file;
        result = file.Result();
        if (result == XT_OK)
            result = CallHost<XFJ_SetFileSpec>(file.Ref(), spec);
        if (result == XT_OK)
            result = CallHost<XDD_OpenDocument>(file.Ref(), options);
    }
    CallHost<XAQ_ReportError>(result);
    return Code(result);
}

int16_t SetJobTargetName(std::string& path)
{
    std::string name = CurrentJob->GetTarget().GetPath();
    // Only a dot in the file's own name starts an extension, not one in a folder's name.
    const std::size_t dot = name.rfind('.');
    const std::size_t separator = name.find_last_of("/\\");
    if (dot != std::string::npos && (separator == std::string::npos || dot > separator) &&
        name.size() - dot == 4)
        name.erase(dot);
    if (PdfMode == 2)
        name += std::string(DotString) + FileKindExtensions[static_cast<int>(FileKind::Pdf)];
    const int16_t result = CurrentJob->target.SetPath(name);
    if (result == 0)
        path = name;
    return result;
}
