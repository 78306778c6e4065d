// Malformed text that every UTF-8 / UTF-16 conversion of the project handles alike: each broken
// part of a UTF-8 sequence and each unpaired surrogate becomes one U+FFFD.
#pragma once

#include <string>
#include <vector>

namespace kesto_test {

struct InvalidUtf8 {
    const char* bytes;
    std::u16string wide;
};

inline const std::vector<InvalidUtf8>& InvalidUtf8Cases()
{
    constexpr char16_t R = 0xFFFD;
    static const std::vector<InvalidUtf8> cases = {
        {"\xC3", {R}},                              // cut short
        {"\xE2\x82", {R}},
        {"\xF0\x9F\x98", {R}},
        {"\xE2\x82x", {R, u'x'}},                    // broken by a byte that is no continuation
        {"\xC0\xAF", {R, R}},                        // overlong forms
        {"\xE0\x80\xAF", {R, R, R}},
        {"\xF0\x80\x80\xAF", {R, R, R, R}},
        {"\xED\xA0\x80x", {R, R, R, u'x'}},           // an encoded surrogate
        {"\xF4\x90\x80\x80", {R, R, R, R}},          // above U+10FFFF
        {"\xF5\x80", {R, R}},                        // bytes that start nothing
        {"\x80" "a\xFF", {R, u'a', R}},
    };
    return cases;
}

struct UnpairedSurrogate {
    std::u16string wide;
    std::string bytes;
};

inline const std::vector<UnpairedSurrogate>& UnpairedSurrogateCases()
{
    static const std::string R = "\xEF\xBF\xBD";
    static const std::vector<UnpairedSurrogate> cases = {
        {std::u16string(1, 0xD800), R},             // a lone high surrogate at the end
        {std::u16string{0xDC00, 0xD800}, R + R},    // a pair the wrong way round
        {std::u16string{0xD83D, u'a'}, R + "a"},    // a high surrogate before a plain unit
    };
    return cases;
}

} // namespace kesto_test
