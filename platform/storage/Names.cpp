#include "platform/storage/Names.h"

#include <cstdint>

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

namespace {

// The code point of the UTF-8 sequence at text[at], with the bytes it takes; an invalid
// sequence answers kInvalid with the length of its maximal part that could still have begun
// a valid sequence (at least 1), so that each such part becomes one replacement.
constexpr uint32_t kInvalid = 0xFFFFFFFF;

uint32_t decodeUtf8(std::string_view text, size_t at, size_t& length) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    length = 1;
    if (lead < 0x80) return lead;
    // The sequence length and the range of the second byte, which excludes overlong forms,
    // encoded surrogates (after 0xED) and values above U+10FFFF (after 0xF4).
    size_t need = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) need = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) need = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) need = 4;
    else return kInvalid;
    if (lead == 0xE0) low = 0xA0;
    else if (lead == 0xED) high = 0x9F;
    else if (lead == 0xF0) low = 0x90;
    else if (lead == 0xF4) high = 0x8F;
    uint32_t cp = lead & (0x7F >> need);
    for (size_t k = 1; k < need; ++k) {
        if (at + k >= text.size()) return kInvalid;   // cut short: the bytes so far are one part
        const unsigned char next = byte(k);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return kInvalid;
        cp = cp << 6 | (next & 0x3F);
        length = k + 1;
    }
    return cp;
}

void appendUtf16(std::u16string& out, uint32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(char16_t(0xD800 + (cp >> 10)));
        out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(char16_t(cp));
    }
}

void appendUtf8(std::string& out, uint32_t cp) {
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

}  // namespace

std::u16string utf8ToUtf16(std::string_view s, bool* valid) {
    std::u16string out;
    out.reserve(s.size());
    bool clean = true;
    for (size_t i = 0; i < s.size();) {
        size_t length = 1;
        uint32_t cp = decodeUtf8(s, i, length);
        if (cp == kInvalid) {
            cp = 0xFFFD;
            clean = false;
        }
        appendUtf16(out, cp);
        i += length;
    }
    if (valid) *valid = clean;
    return out;
}

std::string utf16ToUtf8(std::u16string_view s, bool* valid) {
    std::string out;
    out.reserve(s.size());
    bool clean = true;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
            clean = false;
        }
        appendUtf8(out, cp);
    }
    if (valid) *valid = clean;
    return out;
}

}  // namespace cfb
