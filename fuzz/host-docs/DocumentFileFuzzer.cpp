// The host's document reader on arbitrary bytes: a refusal or a document that prints
// canonically (printing what was read and reading it back gives the same text).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/host/documents/DocumentFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace xthost::doc;
    try {
        auto project = ParseDocument(std::string(reinterpret_cast<const char*>(data), size));
        const std::string canonical = PrintDocument(*project);
        auto again = ParseDocument(canonical);
        if (PrintDocument(*again) != canonical)
            std::abort();
    } catch (const DocumentError&) {
    }
    return 0;
}
