// Runs of xthost with Kesto.so as a user starts them: what they print holds no allocation
// report (the register's dumps go to the general log), and the general log is UTF-8 that
// iconv reads whole, also where the hidden-content diagnostics mark a line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ExampleRuns.h"

namespace kesto_test {
namespace {

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The working copy that an example script kept (KESTO_KEEP=1), from what it printed.
std::filesystem::path KeptCopy(const std::string& output)
{
    const std::string marker = "working copy kept: ";
    const size_t at = output.rfind(marker);
    if (at == std::string::npos)
        return {};
    return output.substr(at + marker.size(), output.find('\n', at) - at - marker.size());
}

TEST(QuietRuns, PrintNoAllocationReportAndKeepTheGeneralLogInUtf8)
{
    struct Case {
        const char* what;
        std::string command;
        // Files of the working copy that hold more of what the run printed.
        std::vector<std::string> transcripts;
        // A line the general log must hold.
        std::string logged;
    };
    const std::string examples = std::string(KESTO_SOURCE_DIR) + "/examples/app/";
    const Case cases[] = {
        // The import of hidden.qxp meets its unmatched closing paren.
        {"round trip of hidden.qxp", "bash '" + examples + "roundtrip.sh' '" KESTO_BINARY_DIR "' hidden.qxp",
         {"export.transcript", "import.transcript"}, "\u00A5Unable to find paren:  mOpcode=27"},
        // Folder runs make and drop file nodes for every document.
        {"folder export", "bash '" + examples + "run.sh' '" KESTO_BINARY_DIR "' scripts/folder-export.xts", {},
         "Memory completely deallocated."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int status = 0;
        std::string printed = RunShell("KESTO_KEEP=1 " + c.command + " 2>&1", &status);
        const std::filesystem::path work = KeptCopy(printed);
        ASSERT_FALSE(work.empty()) << printed;
        EXPECT_EQ(status, 0) << printed;
        for (const std::string& name : c.transcripts)
            printed += ReadText(work / name);
        for (const char* report : {"Memory allocated", "completely deallocated", "still allocated"})
            EXPECT_EQ(printed.find(report), std::string::npos) << report << "\n" << printed;

        const std::filesystem::path log = work / "KestoLogfile.txt";
        EXPECT_NE(ReadText(log).find(c.logged), std::string::npos) << ReadText(log);
        int valid = 0;
        const std::string refused = RunShell("iconv -f UTF-8 -t UTF-8 '" + log.string() + "' 2>&1 >/dev/null", &valid);
        EXPECT_EQ(valid, 0) << refused;
        std::filesystem::remove_all(work);
    }
}

} // namespace
} // namespace kesto_test
