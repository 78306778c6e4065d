// Imports over documents of an earlier import, through xthost and Kesto.so as
// examples/app/import-over.sh runs them: one the host cannot save keeps the earlier document byte
// for byte and leaves nothing beside it; one that succeeds replaces it with a whole document.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {

// The output of a shell command, gathered in a file of the test's own.
std::string RunShell(const std::string& command)
{
    char name[] = "/tmp/kesto-import-over-out.XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        return {};
    close(fd);
    if (std::system(("(" + command + ") > '" + name + "'").c_str()) == -1)
        return {};
    std::ifstream in(name);
    std::ostringstream text;
    text << in.rdbuf();
    std::remove(name);
    return text.str();
}

TEST(ImportOver, AFailedImportKeepsTheEarlierDocumentAndASuccessfulOneReplacesIt)
{
    const std::string build = KESTO_BINARY_DIR;
    const std::string out =
        RunShell("bash '" KESTO_SOURCE_DIR "/examples/app/import-over.sh' '" + build + "' 2>&1");
    // "STEP TARGET: CHECKSUM beside: COUNT" for each step and target.
    std::map<std::string, std::string> seen;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos && line.find(" beside: ") != std::string::npos)
            seen[line.substr(0, colon)] = line.substr(colon + 2);
    }
    const std::string work = out.substr(out.find("general log: ") + 13);
    const std::string dir = work.substr(0, work.find("/KestoLogfile.txt"));
    for (const char* target : {"one", "folder"}) {
        SCOPED_TRACE(target);
        const std::string before = seen[std::string("before ") + target];
        ASSERT_FALSE(before.empty()) << out;
        EXPECT_EQ(seen[std::string("full ") + target], before) << out;
        const std::string well = seen[std::string("well ") + target];
        ASSERT_FALSE(well.empty()) << out;
        EXPECT_NE(well.substr(0, 64), before.substr(0, 64)) << out;
        EXPECT_EQ(well.substr(64), before.substr(64)) << out;
    }
    EXPECT_NE(RunShell("'" + build + "/platform/host/xthost' doc check '" + dir + "/export-translated.qxp' 2>&1; echo rc=$?")
                  .find("rc=0"),
              std::string::npos);
    RunShell("rm -rf '" + dir + "'");
}

} // namespace
