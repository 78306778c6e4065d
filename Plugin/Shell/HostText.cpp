#include "Plugin/Shell/HostText.h"

#include "Plugin/Shell/HostSuites.h"
#include "platform/host/Utf8.h"

// One decoder for the whole module: invalid input becomes U+FFFD alike everywhere.
std::u16string ToHostText(const std::string& text)
{
    return xthost::Utf8ToUtf16(text);
}

XTHandle NewHostText(const std::string& text)
{
    const std::u16string chars = ToHostText(text);
    XTHandle handle = 0;
    if (CallHost<XText_New>(chars.data(), 0, static_cast<int32_t>(chars.size()), &handle) != XT_OK)
        return 0;
    return handle;
}

std::string FromHostText(const std::u16string& text)
{
    return xthost::Utf16ToUtf8(text);
}
