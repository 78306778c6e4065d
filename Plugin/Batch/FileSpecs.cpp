#include "Plugin/Batch/ConversionJob.h"

#include "Foundation/TraceHooks.h"
#include "Plugin/Batch/HostFileObject.h"
#include "Plugin/Batch/HostFiles.h"
#include "SHARED/Server/CnvTools/PathUtils.h"

namespace {

constexpr int16_t kGeneralFailure = 12;
// Host errors of GetHostFileInfo's missing outputs.
constexpr int16_t kNoNameBuffer = 5;
constexpr int16_t kNoLength = 6;
// Longer host texts than this are no file names or paths.
constexpr int32_t kLongestHostText = 1 << 20;

} // namespace

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
    return HostCode(debug_check(result));
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
    return HostCode(result);
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
    return HostCode(result);
}

int16_t ConvFileSpec::GetHostSpec(HostFileSpec& out) const
{
    HostFileObject file(m_path, XT_CREATOR_XPRESS);
    if (file.Result() != XT_OK)
        return HostCode(file.Result());
    return HostCode(file.CopySpec(out));
}

int16_t ConvFileSpec::CreateHostFile(HostFileSpec& out, bool replace, uint32_t creator, uint32_t fileType)
{
    // Without a creator there is nothing the host could make.
    if (creator == 0)
        return HostCode(XT_ERR_PARAM);
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
    return HostCode(result);
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
    return HostCode(debug_check(result));
}
