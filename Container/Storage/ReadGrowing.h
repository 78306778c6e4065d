// Reading a length that came from a file.
#pragma once

#include "Container/Storage/Streams.h"

#include <cstdint>
#include <vector>

// Reads `count` bytes into `into`, replacing its contents. The buffer grows with the bytes that
// actually arrive, so a damaged length costs no more memory than the stream holds. False when
// the stream ends first; `into` then holds what arrived.
bool ReadGrowing(InStream& source, std::vector<uint8_t>& into, uint32_t count);
