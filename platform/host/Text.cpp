#include "platform/host/Text.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace xthost {

std::u16string Utf8ToUtf16(const std::string& text)
{
    std::u16string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 || (c & 0xF0) == 0xE0 || (c & 0xF8) == 0xF0) {
            const std::size_t need = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
            char32_t value = c & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
            std::size_t k = 1;
            for (; k < need && i + k < n && (p[i + k] & 0xC0) == 0x80; ++k)
                value = value << 6 | (p[i + k] & 0x3F);
            static const char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
            if (k == need && value >= kMin[need] && value <= 0x10FFFF &&
                !(value >= 0xD800 && value <= 0xDFFF)) {
                cp = value;
                len = need;
            } else {
                len = k;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

std::string BoundedString(const char* text, std::size_t size)
{
    if (!text)
        return std::string();
    const void* end = std::memchr(text, 0, size);
    return std::string(text, end ? static_cast<const char*>(end) - text : size);
}

std::string NormalPath(const std::string& path, const std::string& base)
{
    std::string p = path;
    for (auto& c : p)
        if (c == '\\')
            c = '/';
    std::filesystem::path fp(p);
    if (fp.is_relative()) {
        std::error_code ec;
        std::filesystem::path root = base.empty() ? std::filesystem::current_path(ec)
                                                  : std::filesystem::path(NormalPath(base));
        fp = root / fp;
    }
    std::string normal = fp.lexically_normal().generic_string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtensionOf(const std::string& path)
{
    const std::string name = NameOf(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const unsigned char x = a[i], y = b[i];
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y))
            return false;
    }
    return true;
}

}  // namespace xthost
