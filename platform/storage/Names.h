// Element names of compound files: validation, the format's case folding and sibling order,
// and the UTF-8 / UTF-16 conversion of paths.
#pragma once

#include <string>
#include <string_view>

namespace cfb {

constexpr size_t kMaxNameUnits = 31;   // a directory entry holds 32 units including the NUL

// The upper-case form the format compares names with (simple case mapping of the Latin,
// Greek and Cyrillic letters; other units compare as they are).
char16_t upperCase(char16_t unit);
std::u16string upperCased(std::u16string_view name);

// Sibling order of the format on upper-cased names: shorter first, then by code unit.
struct NameOrder {
    bool operator()(const std::u16string& a, const std::u16string& b) const {
        if (a.size() != b.size()) return a.size() < b.size();
        return a < b;
    }
};

// Takes a NUL-terminated name given by a caller: 1 to 31 units, without '/', '\', ':' or '!'.
bool takeName(const char16_t* name, std::u16string& out);

// Paths and texts between UTF-8 and UTF-16. Invalid input becomes U+FFFD: in UTF-8 each
// maximal part of a sequence that cannot be completed (a byte that starts none, an overlong
// form, an encoded surrogate, a value above U+10FFFF, a sequence cut short), in UTF-16 each
// unpaired surrogate. valid, when given, tells whether the input had none.
std::u16string utf8ToUtf16(std::string_view text, bool* valid = nullptr);
std::string utf16ToUtf8(std::u16string_view text, bool* valid = nullptr);

}  // namespace cfb
