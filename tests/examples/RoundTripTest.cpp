// Export, stand-in translation and import of every shipped document through xthost and Kesto.so
// with the example application folder (examples/app/roundtrip.sh).
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "Plugin/Shell/AppFolderTest.h"

namespace fs = std::filesystem;

namespace {

std::string RunShell(const std::string& command, int& status)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        status = -1;
        return out;
    }
    std::array<char, 4096> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe))
        out += buffer.data();
    status = pclose(pipe);
    return out;
}

class RoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(RoundTrip, ExportTranslateImportEndsInImportDoneAndACleanDocument)
{
    const std::string source = KESTO_SOURCE_DIR;
    const std::string build = KESTO_BINARY_DIR;
    int status = 0;
    const std::string out =
        RunShell("bash '" + source + "/examples/app/roundtrip.sh' '" + build + "' '" + GetParam() + "' 2>&1", status);
    ASSERT_EQ(status, 0) << out;
    const std::string marker = "imported document: ";
    const size_t at = out.rfind(marker);
    ASSERT_NE(at, std::string::npos) << out;
    const fs::path imported = out.substr(at + marker.size(), out.find('\n', at) - at - marker.size());
    const fs::path work = imported.parent_path();
    EXPECT_NE(out.find(": ok"), std::string::npos) << out;

    const std::string transcript = kesto_test::ReadText(work / "import.transcript");
    EXPECT_NE(transcript.find("dialog 103 \"Result\" opens"), std::string::npos) << transcript;
    const std::string document = kesto_test::ReadText(imported);
    EXPECT_EQ(kesto_test::CountOf(document, "08414b42") + kesto_test::CountOf(document, "08414B42"), 0);
    EXPECT_EQ(kesto_test::CountOf(document, "09414b42") + kesto_test::CountOf(document, "09414B42"), 0);
    EXPECT_NE(document.find("~]"), std::string::npos);
    const std::string log = kesto_test::ReadText(work / "KestoLogfile.txt");
    EXPECT_NE(log.find("Starting import ..."), std::string::npos);
    EXPECT_NE(log.find("... finished."), std::string::npos);
    std::error_code ignored;
    fs::remove_all(work, ignored);
}

INSTANTIATE_TEST_SUITE_P(Documents, RoundTrip,
                         ::testing::Values("minimal.qxp", "two-page-linked.qxp", "mapping.qxp", "masters.qxp",
                                           "layouts.qxp", "mac-origin.qxd", "overflow.qxp", "scripts.qxp",
                                           "geometry.qxp", "hidden.qxp", "export.qxp"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

} // namespace
