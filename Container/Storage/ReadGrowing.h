// Reading a length that came from a file.
#pragma once

#include "Container/Storage/Streams.h"

#include <cstdint>
#include <vector>

// Reads `count` bytes into `into`, replacing its contents. The buffer grows with the bytes that
// actually arrive (at most twice what arrived, never more than `count`), so a damaged length costs
// no more memory than the stream holds. False when the stream ends first, `into` then holding
// what arrived, and at once, with nothing read, when the stream says it cannot deliver `count`
// bytes (a compressed stream whose input could not inflate to that many).
bool ReadGrowing(InStream& source, std::vector<uint8_t>& into, uint32_t count);
