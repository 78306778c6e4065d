#include "platform/host/Text.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace xthost {

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
