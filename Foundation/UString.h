// The unsigned-byte string that carries host text, and conversions to and from std::string.
#pragma once

#include <string>

using ustring = std::basic_string<unsigned char>;

inline std::string ToStdString(const std::string& text)
{
    return text;
}

inline std::string ToStdString(const ustring& text)
{
    return std::string(text.begin(), text.end());
}

inline ustring ToUString(const std::string& text)
{
    return ustring(text.begin(), text.end());
}

// Builds a string of either kind from 8-bit text.
template <class TStr>
TStr MakeStr(const std::string& text)
{
    return TStr(text.begin(), text.end());
}
