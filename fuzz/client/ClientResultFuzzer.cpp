// What a server sends kesto-client as a result: the announced size (the first four bytes) and
// blocks cut from the rest. Decoding never answers more than was announced and never crashes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "client/ProtocolClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    uint32_t announced = 0;
    std::memcpy(&announced, data, 4);
    announced %= 1u << 20;
    std::vector<protocol::Block> blocks;
    for (size_t at = 4; at < size; at += protocol::kBlock) {
        protocol::Block b(protocol::kBlock, 0);
        std::memcpy(b.data(), data + at, std::min(protocol::kBlock, size - at));
        blocks.push_back(b);
    }
    const std::optional<std::string> file = protocol::DecodeBlocks(blocks, announced);
    if (file && file->size() > announced)
        std::abort();
    return 0;
}
