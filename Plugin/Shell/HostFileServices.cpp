#include "Plugin/Shell/HostFileServices.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "Plugin/Shell/HostSuites.h"

namespace {

int16_t Code(int32_t result)
{
    return static_cast<int16_t>(result);
}

class SuiteHostServices final : public HostServices {
public:
    int16_t GetFileSpecPath(char* buffer, std::size_t size, const HostFileSpec& spec,
                            int32_t flags) override
    {
        if (!buffer || size == 0 || size > static_cast<std::size_t>(INT32_MAX))
            return Code(XT_ERR_PARAM);
        return CallHost<XFJ_SpecToPath>(buffer, static_cast<int32_t>(size), &spec, flags);
    }

    int16_t NewFileSpecHandle(HostHandle* handle) override
    {
        return Code(CallHost<XFJ_NewFileRef>(handle));
    }

    void DisposeFileSpecHandle(HostHandle handle) override { CallHost<XFJ_Dispose>(handle); }

    int16_t CopyFileSpec(HostHandle handle, HostFileSpec* spec) override
    {
        return Code(CallHost<XFJ_GetFileSpec>(handle, spec));
    }

    int16_t GetTempFolder(HostHandle* handle) override
    {
        return Code(CallHost<XFJ_GetTempFolder>(handle));
    }

    int16_t GetApplicationFolder(HostHandle handle) override
    {
        return Code(CallHost<XFJ_GetApplicationFolder>(handle));
    }

    int16_t ResolveRelativePath(HostHandle handle, HostText relativePath) override
    {
        return Code(CallHost<XFJ_ResolveRelativePath>(handle, relativePath));
    }

    int16_t GetFullPathText(HostHandle handle, HostText* text) override
    {
        return Code(CallHost<XFJ_GetFullPathText>(handle, text));
    }

    int16_t NewText(const char16_t* chars, int32_t length, HostText* text) override
    {
        return Code(CallHost<XText_New>(chars, 0, length, text));
    }

    int16_t GetTextLength(HostText text, int32_t* length) override
    {
        return Code(CallHost<XText_GetLength>(text, length));
    }

    // The host copies the whole text and a terminating zero; the caller asked for at most size
    // code units without one.
    int16_t GetTextChars(HostText text, char16_t* buffer, int32_t size) override
    {
        int32_t length = 0;
        if (!buffer || size < 0)
            return Code(XT_ERR_PARAM);
        if (const int32_t rc = CallHost<XText_GetLength>(text, &length))
            return Code(rc);
        if (length < 0 || length >= INT32_MAX)
            return Code(XT_ERR_PARAM);
        std::u16string whole(static_cast<std::size_t>(length) + 1, u'\0');
        if (const int32_t rc = CallHost<XText_GetChars>(text, &whole[0], length + 1))
            return Code(rc);
        std::copy_n(whole.begin(), std::min(size, length), buffer);
        return 0;
    }

    void DisposeText(HostText text) override { CallHost<XText_Dispose>(text); }
};

SuiteHostServices g_services;

} // namespace

void InstallHostFileServices()
{
    SetHostServices(&g_services);
}

void RemoveHostFileServices()
{
    if (GetHostServices() == &g_services)
        SetHostServices(nullptr);
}

int16_t xt_fsmakefsspec(int16_t volume, int32_t folderId, const char* name, HostFileSpec* spec)
{
    // The caller's record changes only with a made specification, whatever the host wrote.
    HostFileSpec made{};
    const int16_t result = CallHost<XFJ_MakeFSSpec>(volume, folderId, name ? name : "", &made);
    if (result == 0 && spec)
        *spec = made;
    return result;
}

std::string SystemErrorText(int kind)
{
    const int error = errno;
    int errorKind = error;
    switch (error) {
    case EDQUOT:
    case EFBIG: errorKind = ENOSPC; break;
    case EPERM: errorKind = EACCES; break;
    case ENOTDIR: errorKind = ENOENT; break;
    case ENFILE: errorKind = EMFILE; break;
    default: break;
    }
    return std::strerror(error != 0 && errorKind == kind ? error : kind);
}

std::string HostFileErrorText(int32_t code)
{
    switch (code) {
    case XT_ERR_DISK_FULL: return SystemErrorText(ENOSPC);
    case XT_ERR_WRITE_PROTECTED: return SystemErrorText(EROFS);
    case XT_ERR_PERMISSION: return SystemErrorText(EACCES);
    case XT_ERR_FILE_NOT_FOUND:
    case XT_ERR_DIR_NOT_FOUND: return SystemErrorText(ENOENT);
    case XT_ERR_DUPLICATE_FILE: return SystemErrorText(EEXIST);
    case XT_ERR_IO: return SystemErrorText(EIO);
    default: return "host file error " + std::to_string(code);
    }
}
