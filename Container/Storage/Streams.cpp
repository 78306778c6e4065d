#include "Container/Storage/Streams.h"

#include <algorithm>
#include <vector>

#include "Container/Storage/Errors.h"

void outstream<void>::PutPieces(const void* data, uint32_t count, uint32_t piece) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (piece == 0)
    piece = count;
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(piece, count - done);
    PutData(bytes + done, n);
    done += n;
  }
}

uint32_t CopyStreamData(InStream& source, OutStream& target, uint32_t count, uint32_t blockSize) {
  std::vector<uint8_t> block(std::max<uint32_t>(blockSize, 1));
  uint32_t copied = 0;
  while (copied < count) {
    const uint32_t want = std::min<uint32_t>(count - copied, static_cast<uint32_t>(block.size()));
    const uint32_t got = source.GetData(block.data(), want);
    if (got == 0)
      break;
    target.PutData(block.data(), got);
    copied += got;
  }
  return copied;
}

void WriteShortString(const std::string& text, OutStream& target) {
  if (text.size() > UINT16_MAX)
    Error(FE_StorageInvalidParameter);
  PutU16(target, static_cast<uint16_t>(text.size()));
  if (!text.empty())
    target.PutData(text.data(), static_cast<uint32_t>(text.size()));
}

bool ReadShortString(std::string& text, InStream& source) {
  text.clear();
  uint16_t length = 0;
  if (!GetU16(source, length))
    return false;
  char piece[256];
  while (length > 0) {
    const uint32_t want = std::min<uint32_t>(length, sizeof piece);
    const uint32_t got = source.GetData(piece, want);
    text.append(piece, got);
    if (got < want)
      return false;
    length = static_cast<uint16_t>(length - got);
  }
  return true;
}

void PutU8(OutStream& target, uint8_t value) { target.PutData(&value, 1); }

void PutU16(OutStream& target, uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  target.PutData(bytes, 2);
}

void PutU32(OutStream& target, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  target.PutData(bytes, 4);
}

bool GetU8(InStream& source, uint8_t& value) { return source.GetData(&value, 1) == 1; }

bool GetU16(InStream& source, uint16_t& value) {
  uint8_t bytes[2];
  if (source.GetData(bytes, 2) != 2)
    return false;
  value = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
  return true;
}

bool GetU32(InStream& source, uint32_t& value) {
  uint8_t bytes[4];
  if (source.GetData(bytes, 4) != 4)
    return false;
  value = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
          uint32_t{bytes[3]} << 24;
  return true;
}
