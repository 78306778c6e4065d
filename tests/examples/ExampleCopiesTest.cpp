// The example scripts as a newcomer runs them: each ends as it says and removes its working copy
// from the temporary folder, unless KESTO_KEEP=1 asks to keep it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <unistd.h>

#include "tests/examples/ExampleRuns.h"

namespace fs = std::filesystem;

namespace {

struct Script {
    const char* path;  // below examples/
    // What the run says on the terminal.
    const char* says;
};

const Script kScripts[] = {
    {"app/run.sh", "exchange file: "},
    {"app/roundtrip.sh", "imported document: "},
    {"app/damaged.sh", "\nImport failed\n"},
    {"app/import-fails.sh", "== disk-full-exporting"},
    {"app/import-over.sh", "well folder: "},
    {"batch/run.sh", "archived status file: "},
    {"batch/crash.sh", "after the next run:"},
    {"batch/next-job.sh", "second job's exchange file: "},
    {"batch/two-hosts.sh", "third host: "},
    {"xliff/translate.sh", "imported document: "},
};

// Runs the script with its own temporary folder `temp`; answers what it wrote, its exit status
// in `status`.
std::string RunScript(const Script& script, const fs::path& temp, const std::string& environment, int& status)
{
    fs::remove_all(temp);
    fs::create_directories(temp);
    return kesto_test::RunShell(environment + " TMPDIR='" + temp.string() + "' bash '" KESTO_SOURCE_DIR "/examples/" +
                                    script.path + "' '" KESTO_BINARY_DIR "' 2>&1",
                                &status);
}

TEST(ExampleCopies, EachScriptEndsAsItSaysAndLeavesNothingInTheTemporaryFolder)
{
    const fs::path temp = fs::temp_directory_path() / ("kesto-example-copies-" + std::to_string(::getpid()));
    for (const Script& script : kScripts) {
        SCOPED_TRACE(script.path);
        int status = -1;
        const std::string out = RunScript(script, temp, "", status);
        EXPECT_EQ(status, 0) << out;
        // A line of its own may also be the first line.
        EXPECT_NE(("\n" + out).find(script.says), std::string::npos) << out;
        EXPECT_NE(out.find("working copy removed: " + temp.string() + "/kesto-"), std::string::npos) << out;
        EXPECT_TRUE(fs::is_empty(temp)) << out;
    }
    fs::remove_all(temp);
}

TEST(ExampleCopies, KestoKeepKeepsTheWorkingCopy)
{
    const fs::path temp = fs::temp_directory_path() / ("kesto-example-kept-" + std::to_string(::getpid()));
    int status = -1;
    const std::string out = RunScript(kScripts[0], temp, "KESTO_KEEP=1", status);
    EXPECT_EQ(status, 0) << out;
    const std::string key = "exchange file: ";
    const size_t at = out.find(key);
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_TRUE(fs::exists(out.substr(at + key.size(), out.find('\n', at) - at - key.size()))) << out;
    EXPECT_NE(out.find("working copy kept: " + temp.string() + "/kesto-app."), std::string::npos) << out;
    fs::remove_all(temp);
}

} // namespace
