// The shipped examples as the end-to-end tests run them: shell commands, the shipped documents
// and the round trip of examples/app/roundtrip.sh.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "examples/pseudo-translate/PseudoTranslate.h"

namespace kesto_test {

// Whether the host is an optimised build: the debug host checks a story whole after every
// change, which makes runs over long stories take it hours.
#ifdef NDEBUG
inline constexpr bool kOptimisedHost = true;
#else
inline constexpr bool kOptimisedHost = false;
#endif

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

// The names of the shipped documents (examples/documents), in order.
inline std::vector<std::string> ShippedDocuments()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(ExampleDocument("")))
        if (entry.path().extension() == ".qxp" || entry.path().extension() == ".qxd")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A test name made of a text: each character that is neither letter nor digit becomes "_".
inline std::string TestNameOf(std::string text)
{
    for (char& c : text)
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return text;
}

// The imported document of a round trip of a shipped document, in the round trip's own working
// folder; empty, with a test failure, when a step failed. `output`, when given, gets what the
// round trip wrote.
inline std::filesystem::path RoundTripOf(const std::string& document, std::string* output = nullptr)
{
    int status = 0;
    const std::string out = RunShell("KESTO_KEEP=1 bash '" + std::string(KESTO_SOURCE_DIR) + "/examples/app/roundtrip.sh' '" +
                                         KESTO_BINARY_DIR + "' '" + document + "' 2>&1",
                                     &status);
    if (output)
        *output = out;
    const std::string marker = "imported document: ";
    const size_t at = out.rfind(marker);
    EXPECT_TRUE(status == 0 && at != std::string::npos) << out;
    if (status != 0 || at == std::string::npos)
        return {};
    return out.substr(at + marker.size(), out.find('\n', at) - at - marker.size());
}

// Runs xthost with Kesto.so on `script`, written to `name` in the application folder `app`;
// `prefix` stands in front of the host's command (another account's setpriv). Answers the
// transcript; `status`, when given, gets the host's exit status.
inline std::string RunHost(const std::filesystem::path& app, const std::string& script, const std::string& name = "run.xts",
                           const std::string& prefix = "", int* status = nullptr)
{
    std::ofstream(app / name) << script;
    return RunShell("cd '" + app.string() + "' && " + prefix + "'" KESTO_BINARY_DIR "/platform/host/xthost' --app . --module '"
                    KESTO_BINARY_DIR "/Plugin/XTension/Kesto.so' --script '" + name + "' 2>&1", status);
}

// The script of an import of `dwq` into `out`: the host's `faults` before it starts, `answers` to
// what the import asks, and its result confirmed in `dialog` (103 "Import done", 104 "Import
// failed").
inline std::string ImportScript(const std::string& dwq, const std::string& out, int dialog = 103, const std::string& faults = "",
                                const std::string& answers = "")
{
    return faults + "start\nmenu \"Import Verbant file\"\nopen * " + dwq + "\nsave * " + out + "\n" + answers + "dialog " +
           std::to_string(dialog) + "\n  press 1\nquit\n";
}

// Imports the container `dwq` of a round trip's working folder into `out` there, the result
// confirmed; answers the host's transcript.
inline std::string ImportIn(const std::filesystem::path& work, const std::string& dwq, const std::string& out)
{
    return RunHost(work, ImportScript(dwq, out), out + ".xts");
}

// The canonical form of a document (`xthost doc canon`), also left in `folder` as its name and
// ".canon"; `status`, when given, gets the exit status of the host.
inline std::string Canon(const std::filesystem::path& document, const std::filesystem::path& folder, int* status = nullptr)
{
    const std::filesystem::path canon = folder / (document.filename().string() + ".canon");
    RunShell("'" KESTO_BINARY_DIR "/platform/host/xthost' doc canon '" + document.string() + "' '" + canon.string() + "' 2>&1",
             status);
    std::ifstream in(canon, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The working folder of a kept round trip of export.qxp, with the export of minimal.qxp beside it
// (minimal.dwq), for a container that carries another document; empty, with a test failure, when
// a step failed.
inline std::filesystem::path ExportWorkWithMinimal()
{
    const std::filesystem::path work = RoundTripOf("export.qxp").parent_path();
    if (work.empty())
        return work;
    std::filesystem::copy_file(ExampleDocument("minimal.qxp"), work / "minimal.qxp");
    RunHost(work, "start\nopen-document minimal.qxp\nmenu \"Export current document\"\nsave * default\nquit\n", "minimal.xts");
    return work;
}

// The pseudo-translation of a text of ASCII characters.
inline std::string Translation(const std::string& ascii)
{
    const std::u16string out = PseudoTranslateText(std::u16string(ascii.begin(), ascii.end()));
    return std::string(out.begin(), out.end());
}

} // namespace kesto_test
