// The shipped examples as the end-to-end tests run them: shell commands, the shipped documents
// and the round trip of examples/app/roundtrip.sh.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
    const std::string out = RunShell("bash '" + std::string(KESTO_SOURCE_DIR) + "/examples/app/roundtrip.sh' '" +
                                         KESTO_BINARY_DIR + "' '" + document + "' 2>&1",
                                     &status);
    const std::string marker = "imported document: ";
    const size_t at = out.rfind(marker);
    EXPECT_TRUE(status == 0 && at != std::string::npos) << out;
    if (status != 0 || at == std::string::npos)
        return {};
    return out.substr(at + marker.size(), out.find('\n', at) - at - marker.size());
}

// A copy of the example application folder with one shipped document, in which scripts run
// through xthost and Kesto.so of this build.
struct ExampleWork {
    std::filesystem::path folder;

    // The folder `name` under the temporary folder, made afresh, with the application and the
    // document in it.
    ExampleWork(const std::string& name, const std::string& document)
        : folder(std::filesystem::temp_directory_path() / name)
    {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::filesystem::copy(std::string(KESTO_SOURCE_DIR) + "/examples/app", folder,
                              std::filesystem::copy_options::recursive);
        std::filesystem::copy_file(ExampleDocument(document), folder / document);
    }
    // Runs a shell command in the folder, its output into the file `out` there.
    bool Shell(const std::string& command, const std::string& out) const
    {
        return std::system(("cd '" + folder.string() + "' && " + command + " > '" + out + "' 2>&1").c_str()) == 0;
    }
    // Runs the xthost script `script`, written to the file `name`; its transcript goes beside it.
    bool Host(const std::string& name, const std::string& script) const
    {
        std::ofstream(folder / name) << script;
        return Shell("'" + std::string(KESTO_BINARY_DIR) + "/platform/host/xthost' --app . --module '" +
                         KESTO_BINARY_DIR + "/Plugin/XTension/Kesto.so' --script " + name,
                     name + ".transcript");
    }
    std::string Text(const std::string& file) const
    {
        std::ifstream in(folder / file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // The canonical form of a document of the folder (`xthost doc canon`).
    std::string Canon(const std::string& document) const
    {
        EXPECT_TRUE(Shell("'" + std::string(KESTO_BINARY_DIR) + "/platform/host/xthost' doc canon '" + document + "'",
                          document + ".canon"));
        return Text(document + ".canon");
    }
    void Remove() const
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

// A document's file name as a test name: every character other than a letter or digit becomes "_".
inline std::string TestNameOf(std::string name)
{
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

// The pseudo-translation of a text of ASCII characters.
inline std::string Translation(const std::string& ascii)
{
    const std::u16string out = PseudoTranslateText(std::u16string(ascii.begin(), ascii.end()));
    return std::string(out.begin(), out.end());
}

} // namespace kesto_test
