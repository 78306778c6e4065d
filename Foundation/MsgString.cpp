#include "Foundation/MsgString.h"

#include <cstring>

MsgString::Impl::Impl(const char* text, std::size_t length)
{
    if (length > kMaxLength)
        length = kMaxLength;
    std::memcpy(m_text, text, length);
    m_text[length] = '\0';
    m_length = static_cast<uint8_t>(length);
}

MsgString::MsgString(const char* text)
    : m_impl(new Impl(text ? text : "", text ? std::strlen(text) : 0))
{
}

MsgString::MsgString(const std::string& text)
    // Like the zero-terminated form, the text ends at its first zero byte.
    : m_impl(new Impl(text.c_str(), std::strlen(text.c_str())))
{
}

const char* MsgString::Text() const
{
    return m_impl->m_text;
}

uint8_t MsgString::Length() const
{
    return m_impl->m_length;
}
