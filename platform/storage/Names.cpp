#include "platform/storage/Names.h"

namespace cfb {

char16_t upperCase(char16_t u) {
    if (u < 0x80) return (u >= u'a' && u <= u'z') ? char16_t(u - 0x20) : u;
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return char16_t(u - 0x20);   // Latin-1 letters
    if (u == 0xFF) return 0x178;
    if (u >= 0x100 && u <= 0x17F) {                                        // Latin Extended-A
        if ((u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E))     // pairs start odd
            return (u & 1) ? u : char16_t(u - 1);
        if (u == 0x131 || u == 0x138 || u == 0x149 || u == 0x17F) return u;
        return (u & 1) ? char16_t(u - 1) : u;
    }
    if (u >= 0x3B1 && u <= 0x3CB && u != 0x3C2) return char16_t(u - 0x20);  // Greek
    if (u == 0x3C2) return 0x3A3;
    if (u >= 0x430 && u <= 0x44F) return char16_t(u - 0x20);                // Cyrillic
    if (u >= 0x450 && u <= 0x45F) return char16_t(u - 0x50);
    if (u >= 0xFF41 && u <= 0xFF5A) return char16_t(u - 0x20);              // full-width Latin
    return u;
}

std::u16string upperCased(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& u : out) u = upperCase(u);
    return out;
}

bool takeName(const char16_t* name, std::u16string& out) {
    if (!name) return false;
    size_t n = 0;
    while (name[n] != 0) {
        const char16_t u = name[n];
        if (u == u'/' || u == u'\\' || u == u':' || u == u'!') return false;
        if (++n > kMaxNameUnits) return false;
    }
    if (n == 0) return false;
    out.assign(name, n);
    return true;
}

std::u16string utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else {
            const size_t need = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
            if (need && need <= 4 && i + need <= s.size()) {
                uint32_t v = c & (0xFF >> (need + 1));
                bool ok = true;
                for (size_t k = 1; k < need; ++k) {
                    const unsigned char t = static_cast<unsigned char>(s[i + k]);
                    if ((t & 0xC0) != 0x80) { ok = false; break; }
                    v = (v << 6) | (t & 0x3F);
                }
                const uint32_t least = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
                if (ok && v >= least && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                    cp = v;
                    len = need;
                }
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += len;
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | (cp >> 6)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace cfb
