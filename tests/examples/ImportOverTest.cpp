// Imports over documents of an earlier import, through xthost and Kesto.so as
// examples/app/import-over.sh runs them: one the host cannot save keeps the earlier document byte
// for byte and leaves nothing beside it; one that succeeds replaces it with a whole document.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/examples/ExampleRuns.h"

namespace {

TEST(ImportOver, AFailedImportKeepsTheEarlierDocumentAndASuccessfulOneReplacesIt)
{
    const std::string build = KESTO_BINARY_DIR;
    const std::string out =
        kesto_test::RunShell("KESTO_KEEP=1 bash '" KESTO_SOURCE_DIR "/examples/app/import-over.sh' '" + build + "' 2>&1");
    // "STEP TARGET: CHECKSUM beside: COUNT" for each step and target.
    std::map<std::string, std::string> seen;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos && line.find(" beside: ") != std::string::npos)
            seen[line.substr(0, colon)] = line.substr(colon + 2);
    }
    const size_t logAt = out.find("general log: ");
    ASSERT_NE(logAt, std::string::npos) << out;
    const std::string work = out.substr(logAt + 13);
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
    EXPECT_NE(kesto_test::RunShell("'" + build + "/platform/host/xthost' doc check '" + dir + "/export-translated.qxp' 2>&1; echo rc=$?")
                  .find("rc=0"),
              std::string::npos);
    kesto_test::RunShell("rm -rf '" + dir + "'");
}

} // namespace
