// The example scripts as a newcomer runs them: each ends as it says and removes its working copy
// from the temporary folder, unless KESTO_KEEP=1 asks to keep it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <sys/wait.h>
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
    {"app/damaged.sh", "paragraph-removed.dwq: Import failed\n"},
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
std::string RunScript(const Script& script, const fs::path& temp, const std::string& environment, int& status,
                      const std::string& arguments = "'" KESTO_BINARY_DIR "'")
{
    fs::remove_all(temp);
    fs::create_directories(temp);
    const std::string out = kesto_test::RunShell(environment + " TMPDIR='" + temp.string() + "' bash '" KESTO_SOURCE_DIR
                                                 "/examples/" + script.path + "' " + arguments + " 2>&1",
                                                 &status);
    status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
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
        // A short summary, without the host's transcript, that names no file it has removed.
        EXPECT_LE(std::count(out.begin(), out.end(), '\n'), 40) << out;
        EXPECT_EQ(out.find("unload callback"), std::string::npos) << out;
        EXPECT_EQ(out.find(temp.string()), out.find("working copy removed: " + temp.string()) + 22) << out;
    }
    fs::remove_all(temp);
}

TEST(ExampleCopies, AWrongBuildFolderGivesOneLine)
{
    const fs::path temp = fs::temp_directory_path() / ("kesto-example-nobuild-" + std::to_string(::getpid()));
    for (const Script& script : kScripts)
        for (const char* build : {"'" KESTO_SOURCE_DIR "/no such build'", ""}) {
            int status = -1;
            const std::string out = RunScript(script, temp, "", status, build);
            EXPECT_EQ(status, 2) << script.path << ": " << out;
            EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << script.path << ": " << out;
            EXPECT_TRUE(fs::is_empty(temp)) << script.path << ": " << out;
        }
    fs::remove_all(temp);
}

// What runs with other arguments say: the host's transcript with -v or KESTO_VERBOSE=1, and the
// damages whose import ends otherwise than most (a container that cannot be opened, or an import).
TEST(ExampleCopies, RunsWithOtherArgumentsSayWhatTheyDid)
{
    const fs::path temp = fs::temp_directory_path() / ("kesto-example-arguments-" + std::to_string(::getpid()));
    const std::string build = "'" KESTO_BINARY_DIR "'";
    const struct {
        const Script& script;
        const char* environment;
        std::string arguments;
        const char* says;
        const char* also;
    } cases[] = {
        {kScripts[1], "KESTO_VERBOSE=1", build, "unload callback", "imported document: "},
        {kScripts[1], "", "-v " + build, "unload callback", "imported document: "},
        {kScripts[2], "", build + " string-removed", "string-removed.dwq: Import failed\n", "imported document: none"},
        {kScripts[2], "", build + " nul-characters", "nul-characters.dwq: Import done\n  story 0: 2 NUL character(s)",
         "this damage imports"},
        {kScripts[2], "", build + " working-boxes-of-the-last-layout-only",
         "working-boxes-of-the-last-layout-only.dwq: Import done\n  layout 0 ", "this damage imports"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.environment) + " " + c.arguments);
        int status = -1;
        const std::string out = RunScript(c.script, temp, c.environment, status, c.arguments);
        EXPECT_EQ(status, 0) << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_NE(out.find(c.also), std::string::npos) << out;
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
