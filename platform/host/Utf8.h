// UTF-8 and UTF-16, shared by the host core, the host documents (which do not link the core) and
// the module, which hands the host its texts in UTF-16.
#pragma once

#include <cstddef>
#include <string>

namespace xthost {

// Appends the UTF-8 form of a code point up to U+10FFFF.
inline void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Lone surrogates become U+FFFD; never throws.
inline std::string Utf16ToUtf8(const std::u16string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

// The code point of the UTF-8 sequence at text[at] and the bytes it takes. An invalid sequence
// answers U+FFFD with the length of its maximal part that could still have begun a valid
// sequence (at least 1): a byte that starts none, an overlong form, an encoded surrogate, a
// value above U+10FFFF and a sequence cut short each become one replacement.
inline char32_t DecodeUtf8(const std::string& text, std::size_t at, std::size_t& length, bool& valid)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    length = 1;
    valid = true;
    if (lead < 0x80)
        return lead;
    // The sequence length and the range of its second byte, which rules out overlong forms,
    // surrogates (after 0xED) and values above U+10FFFF (after 0xF4).
    std::size_t need = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        need = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        need = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        need = 4;
    valid = need != 0;
    if (lead == 0xE0)
        low = 0xA0;
    else if (lead == 0xED)
        high = 0x9F;
    else if (lead == 0xF0)
        low = 0x90;
    else if (lead == 0xF4)
        high = 0x8F;
    char32_t cp = lead & (0x7F >> need);
    for (std::size_t k = 1; valid && k < need; ++k) {
        valid = at + k < text.size() && byte(k) >= (k == 1 ? low : 0x80) && byte(k) <= (k == 1 ? high : 0xBF);
        if (valid) {
            cp = cp << 6 | (byte(k) & 0x3F);
            length = k + 1;
        }
    }
    return valid ? cp : 0xFFFD;
}

// True when every sequence of the text is valid UTF-8.
inline bool IsValidUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = 1;
        bool valid = true;
        DecodeUtf8(text, i, length, valid);
        if (!valid)
            return false;
        i += length;
    }
    return true;
}

// Invalid sequences become U+FFFD as DecodeUtf8 delimits them; never throws.
inline std::u16string Utf8ToUtf16(const std::string& text)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = 1;
        bool valid = true;
        char32_t cp = DecodeUtf8(text, i, length, valid);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += length;
    }
    return out;
}

}  // namespace xthost
