// The module's own exception value: a code of the error-code table and an optional text.
#pragma once

#include <cstdint>

#include "Foundation/MsgString.h"

class KestoException {
public:
    explicit KestoException(uint16_t code) : m_code(code) {}
    KestoException(uint16_t code, MsgString text) : m_code(code), m_text(std::move(text)) {}

    uint16_t GetCode() const { return m_code; }
    // Copies share the text.
    const MsgString& GetText() const { return m_text; }

private:
    uint16_t m_code;
    MsgString m_text;
};
