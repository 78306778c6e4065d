#include "Plugin/Shell/HostText.h"

#include <cstdint>

#include "Plugin/Shell/HostSuites.h"
#include "platform/host/Utf8.h"

namespace {

// The length of the UTF-8 sequence a byte starts, 0 for a byte that starts none.
int Utf8SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 0;
}

} // namespace

std::u16string ToHostText(const std::string& text)
{
    static const unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = Utf8SequenceLength(lead);
        bool valid = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
        uint32_t cp = valid ? lead & kLeadMask[length] : 0;
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            cp = cp << 6 | (next & 0x3F);
        }
        if (!valid || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += static_cast<std::size_t>(length);
    }
    return out;
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
