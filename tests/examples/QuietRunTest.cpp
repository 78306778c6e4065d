// Runs of xthost with Kesto.so as a user starts them: what they print holds no allocation
// report (the register's dumps go to the general log), and the general log is UTF-8 that
// iconv reads whole, also where the hidden-content diagnostics mark a line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ExampleRuns.h"
#include "Foundation/TestSupport.h"

namespace kesto_test {
namespace {

TEST(QuietRuns, PrintNoAllocationReportAndKeepTheGeneralLogInUtf8)
{
    const std::string examples = "bash '" KESTO_SOURCE_DIR "/examples/app/";
    const struct {
        std::string command;
        // Files of the working copy that hold more of what the run printed.
        std::vector<std::string> transcripts;
        // A line the general log must hold.
        std::string logged;
    } cases[] = {
        // The import of hidden.qxp meets its unmatched closing paren.
        {examples + "roundtrip.sh' '" KESTO_BINARY_DIR "' hidden.qxp", {"export.transcript", "import.transcript"},
         "\u00A5Unable to find paren:  mOpcode=27"},
        // Folder runs make and drop file nodes for every document.
        {examples + "run.sh' '" KESTO_BINARY_DIR "' scripts/folder-export.xts", {}, "Memory completely deallocated."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        int status = 0;
        std::string printed = RunShell("KESTO_KEEP=1 " + c.command + " 2>&1", &status);
        EXPECT_EQ(status, 0) << printed;
        const std::string kept = "working copy kept: ";
        const size_t at = printed.rfind(kept);
        ASSERT_NE(at, std::string::npos) << printed;
        const std::string work = printed.substr(at + kept.size(), printed.find('\n', at) - at - kept.size());
        for (const std::string& name : c.transcripts)
            printed += ReadFile(work + "/" + name);
        for (const char* report : {"Memory allocated", "completely deallocated", "still allocated"})
            EXPECT_EQ(printed.find(report), std::string::npos) << report << "\n" << printed;

        const std::string log = work + "/KestoLogfile.txt";
        EXPECT_NE(ReadFile(log).find(c.logged), std::string::npos) << ReadFile(log);
        int valid = 0;
        const std::string refused = RunShell("iconv -f UTF-8 -t UTF-8 '" + log + "' 2>&1 >/dev/null", &valid);
        EXPECT_EQ(valid, 0) << refused;
        std::filesystem::remove_all(work);
    }
}

} // namespace
} // namespace kesto_test
