#include "Container/Storage/ReadGrowing.h"

#include <algorithm>

bool ReadGrowing(InStream& source, std::vector<uint8_t>& into, uint32_t count) {
  constexpr uint32_t kPiece = 1u << 16;
  into.clear();
  while (into.size() < count) {
    const uint32_t piece = std::min<uint32_t>(kPiece, count - static_cast<uint32_t>(into.size()));
    const size_t at = into.size();
    into.resize(at + piece);
    const uint32_t got = source.GetData(into.data() + at, piece);
    into.resize(at + got);
    if (got < piece) return false;
  }
  return true;
}
