// The shipped examples as the end-to-end tests run them: shell commands, the shipped documents
// and the round trip of examples/app/roundtrip.sh.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "examples/pseudo-translate/PseudoTranslate.h"

namespace kesto_test {

// What a shell command writes to its standard output; `status`, when given, gets its exit status.
inline std::string RunShell(const std::string& command, int* status = nullptr)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return out;
    }
    std::array<char, 4096> buffer{};
    for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
        out.append(buffer.data(), n);
    const int result = pclose(pipe);
    if (status)
        *status = result;
    return out;
}

// A document of examples/documents.
inline std::filesystem::path ExampleDocument(const std::string& name)
{
    return std::filesystem::path(KESTO_SOURCE_DIR) / "examples" / "documents" / name;
}

// The imported document of a round trip of a shipped document, in the round trip's own working
// folder; empty, with a test failure, when a step failed.
inline std::filesystem::path RoundTripOf(const std::string& document)
{
    int status = 0;
    const std::string out = RunShell("KESTO_KEEP=1 bash '" + std::string(KESTO_SOURCE_DIR) + "/examples/app/roundtrip.sh' '" +
                                         KESTO_BINARY_DIR + "' '" + document + "' 2>&1",
                                     &status);
    const std::string marker = "imported document: ";
    const size_t at = out.rfind(marker);
    EXPECT_TRUE(status == 0 && at != std::string::npos) << out;
    if (status != 0 || at == std::string::npos)
        return {};
    return out.substr(at + marker.size(), out.find('\n', at) - at - marker.size());
}

// Imports the container `dwq` of a round trip's working folder into `out` there, the result
// confirmed; answers the host's transcript.
inline std::string ImportIn(const std::filesystem::path& work, const std::string& dwq, const std::string& out)
{
    std::ofstream(work / (out + ".xts")) << "start\nmenu \"Import Verbant file\"\nopen * " << dwq << "\nsave * " << out
                                          << "\ndialog 103\n  press 1\nquit\n";
    return RunShell("cd '" + work.string() + "' && '" KESTO_BINARY_DIR "/platform/host/xthost' --app . --module '" KESTO_BINARY_DIR
                    "/Plugin/XTension/Kesto.so' --script '" + out + ".xts' 2>&1");
}

// The pseudo-translation of a text of ASCII characters.
inline std::string Translation(const std::string& ascii)
{
    const std::u16string out = PseudoTranslateText(std::u16string(ascii.begin(), ascii.end()));
    return std::string(out.begin(), out.end());
}

} // namespace kesto_test
