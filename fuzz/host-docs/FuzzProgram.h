// The bytes of a fuzz input read as a program, one byte at a time; 0 after the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kesto_fuzz {

struct Program {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool More() const { return at < size; }
    uint8_t Next() { return at < size ? data[at++] : 0; }
};

} // namespace kesto_fuzz
