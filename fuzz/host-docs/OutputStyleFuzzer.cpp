// The host's output-style reader on arbitrary bytes: a refusal with a reason, or a style with
// a name, a media and resolutions in range, which the registry then refuses to add twice.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/host/documents/Model.h"
#include "platform/host/documents/OutputStyles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace xthost::doc;
    const std::string xml(reinterpret_cast<const char*>(data), size);
    OutputStyle style;
    std::string error;
    if (!ParseOutputStyle(xml, &style, &error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if (style.name.empty() || style.media.empty() || style.monoResolution < 65536 ||
        style.colourResolution < 65536 || style.grayResolution < 65536)
        std::abort();
    OutputStyles styles;
    const int32_t first = styles.Import(xml, &error);
    if (first == HostErr::Ok && styles.Import(xml, &error) != HostErr::DuplicateName)
        std::abort();
    return 0;
}
