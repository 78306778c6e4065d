// The host's text flow on any document the reader accepts: the lines of every story follow
// each other without gaps from offset 0 to the end, each takes at least one character, and
// an overflow record, when there is one, comes last and holds the rest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/TextFlow.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace xthost::doc;
    std::unique_ptr<Project> project;
    try {
        project = ParseDocument(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const DocumentError&) {
        return 0;
    }
    for (const auto& layout : project->layouts)
        for (const auto& [uid, story] : layout->stories) {
            const StoryLines set = LayOutStory(*project, *layout, story);
            int32_t next = 0;
            for (size_t i = 0; i < set.lines.size(); ++i) {
                const LineRecord& line = set.lines[i];
                if (line.start != next || line.length < 1 || (line.Overflow() && i + 1 != set.lines.size()))
                    std::abort();
                next = line.start + line.length;
            }
            if (next != static_cast<int32_t>(story.text.size()))
                std::abort();
        }
    return 0;
}
