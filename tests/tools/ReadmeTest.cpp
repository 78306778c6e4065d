// The README as a newcomer reads it: its settings table says what the code knows, and its quick
// start converts a document of one's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "Foundation/Settings.h"
#include "Foundation/TestSupport.h"
#include "tests/examples/ExampleRuns.h"

namespace {

std::vector<std::string> ReadmeLines()
{
    std::ifstream in(KESTO_SOURCE_DIR "/README.md");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string Unquoted(const std::string& cell)
{
    if (cell == "one blank")
        return " ";
    return cell.size() >= 2 && cell.front() == '`' && cell.back() == '`' ? cell.substr(1, cell.size() - 2) : "?" + cell;
}

TEST(Readme, TheSettingsTableNamesEveryKeyWithItsSectionAndDefault)
{
    // Each key's section and default, from the rows under the table's heading.
    std::map<std::string, std::pair<std::string, std::string>> table;
    const std::vector<std::string> lines = ReadmeLines();
    auto line = std::find(lines.begin(), lines.end(), "| section | key | default | what it does |");
    ASSERT_NE(line, lines.end());
    for (line += 2; line != lines.end() && line->rfind("|", 0) == 0; ++line) {
        // Four cells, trimmed; the last says what the key does.
        static const std::regex row(R"(\| *(.*?) *\| *(.*?) *\| *(.*?) *\| *[^ |].*\|)");
        std::smatch cells;
        ASSERT_TRUE(std::regex_match(*line, cells, row)) << *line;
        EXPECT_TRUE(table.emplace(Unquoted(cells[2]), std::make_pair(Unquoted(cells[1]), Unquoted(cells[3]))).second) << *line;
    }
    SettingsFile settings(false);
    settings.Load("", false);
    EXPECT_EQ(table.size(), static_cast<std::size_t>(SettingKey::Count));
    for (int32_t id = 0; id < SettingKey::Count; ++id) {
        const std::string key = SettingsFile::GetKeyName(id);
        const auto row = table.find(key);
        ASSERT_NE(row, table.end()) << "the README's settings table lacks " << key;
        EXPECT_EQ(row->second, std::make_pair(std::string(SettingsFile::GetSectionName(settings.GetSectionIndex(id))),
                                              std::string(settings.GetDefault(id))))
            << key;
    }
}

// The commands of the quick start after the build, run as written from the source folder with a
// home folder of their own; "build/" is the build folder of this test.
TEST(Readme, TheQuickStartConvertsADocumentInAFolderWithBlanksAndNonAsciiLetters)
{
    std::vector<std::string> commands;
    bool quickStart = false, block = false;
    for (const std::string& line : ReadmeLines()) {
        if (line.rfind("## ", 0) == 0)
            quickStart = line == "## Quick start";
        else if (quickStart && line == "```sh")
            block = true;
        else if (block && line == "```")
            break;
        else if (block)
            commands.push_back(line.rfind("build/", 0) == 0 ? std::string(KESTO_BINARY_DIR) + line.substr(5) : line);
    }
    ASSERT_GE(commands.size(), 4u);
    TempDir home("kesto-readme");
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        WriteFile(home / "step.sh", command);
        int status = -1;
        const std::string out = kesto_test::RunShell("cd '" KESTO_SOURCE_DIR "' && env -u XDG_CONFIG_HOME HOME='" + home.Path() +
                                                         "' TMPDIR='" + home.Path() + "' bash '" + (home / "step.sh") + "' 2>&1",
                                                     &status);
        EXPECT_EQ(status, 0) << out;
        // A few lines: the result, and on the first use of kesto where it made its folder.
        EXPECT_LE(std::count(out.begin(), out.end(), '\n'), 2) << out;
    }
    for (const char* name : {"catalogue.dwq", "catalogue-fr.dwq", "catalogue-fr.qxp", "catalogue-fr.pdf"})
        EXPECT_TRUE(std::filesystem::is_regular_file(home / ("Übersetzung 2027/" + std::string(name)))) << name;
}

}  // namespace
