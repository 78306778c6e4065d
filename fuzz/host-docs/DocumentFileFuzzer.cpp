// The host's document reader on arbitrary bytes: a refusal or a document that prints
// canonically (printing what was read and reading it back gives the same text), and whose
// stories' run tables cover their text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/StoryEdit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace xthost::doc;
    try {
        auto project = ParseDocument(std::string(reinterpret_cast<const char*>(data), size));
        const std::string canonical = PrintDocument(*project);
        auto again = ParseDocument(canonical);
        if (PrintDocument(*again) != canonical)
            std::abort();
        for (const auto& layout : project->layouts)
            for (const auto& [uid, story] : layout->stories) {
                uint64_t covered = 0;
                for (const RunEntry& run : ParagraphRuns(*project, story))
                    covered += run.length == 0 ? UINT64_MAX / 2 : run.length;
                if (covered != story.text.size())
                    std::abort();
            }
    } catch (const DocumentError&) {
    }
    return 0;
}
