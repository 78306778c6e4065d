#include "Container/Storage/ReadGrowing.h"

#include <algorithm>

bool ReadGrowing(InStream& source, std::vector<uint8_t>& into, uint32_t count) {
  constexpr uint32_t kPiece = 1u << 16;
  into.clear();
  // A length no data of the stream could fill is refused before any room is made for it.
  const uint64_t deliverable = source.Deliverable();
  if (deliverable != InStream::kUnknownDeliverable && count > deliverable) return false;
  while (into.size() < count) {
    const uint32_t piece = std::min<uint32_t>(kPiece, count - static_cast<uint32_t>(into.size()));
    const size_t at = into.size();
    // Room grows with the bytes that arrived, and never past the length asked for.
    if (at + piece > into.capacity())
      into.reserve(std::min<size_t>(count, std::max<size_t>(at * 2, at + piece)));
    into.resize(at + piece);
    const uint32_t got = source.GetData(into.data() + at, piece);
    into.resize(at + got);
    if (got < piece) return false;
  }
  return true;
}
