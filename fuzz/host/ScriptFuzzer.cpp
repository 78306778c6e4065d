// Feeds arbitrary bytes to the xthost script parser, and runs what parses against a host that
// has no module to load: every verb must fail or succeed cleanly.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/host/HostExtensions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static xthost::HostExtensions extensions;
    const std::string source(reinterpret_cast<const char*>(data), size);
    std::vector<xthost::ScriptLine> lines;
    std::string error;
    if (!xthost::ParseScript(source, lines, error))
        return 0;
    for (const auto& line : lines) {
        int64_t value = 0;
        for (const auto& word : line.words)
            xthost::ParseNumber(word, value);
    }
    xthost::HostOptions options;
    options.appFolder = "/nonexistent-xthost-fuzz-app";
    xthost::Host host(options);
    xthost::ScriptRunner runner(host, extensions.Verbs(), lines);
    runner.Run();
    return 0;
}
