// A message text of at most 255 characters; copies share one counted text block.
#pragma once

#include <cstdint>
#include <string>

#include "Plugin/Shell/RefObject.h"

class MsgString {
public:
    // Keeps the first 255 characters of the text (null reads as empty).
    MsgString(const char* text = "");
    MsgString(const std::string& text);

    const char* Text() const;
    uint8_t Length() const;

    class Impl;

private:
    RefPtr<Impl> m_impl;
};

class MsgString::Impl : public RefObject {
public:
    static constexpr std::size_t kMaxLength = 255;

    Impl(const char* text, std::size_t length);

    uint8_t m_length = 0;
    char m_text[257] = {};
};
