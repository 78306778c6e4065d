// The README as a newcomer reads it: its settings table says what the code knows, and its quick
// start converts a document of one's own.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Foundation/Settings.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> ReadmeLines()
{
    std::ifstream in(KESTO_SOURCE_DIR "/README.md");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The cells of a table row, trimmed.
std::vector<std::string> Cells(const std::string& row)
{
    std::vector<std::string> cells;
    std::istringstream in(row.substr(1));
    for (std::string cell; std::getline(in, cell, '|');) {
        const std::size_t first = cell.find_first_not_of(' ');
        cells.push_back(first == std::string::npos ? "" : cell.substr(first, cell.find_last_not_of(' ') - first + 1));
    }
    return cells;
}

std::string Unquoted(const std::string& cell)
{
    if (cell == "one blank")
        return " ";
    return cell.size() >= 2 && cell.front() == '`' && cell.back() == '`' ? cell.substr(1, cell.size() - 2) : "?" + cell;
}

TEST(Readme, TheSettingsTableNamesEveryKeyWithItsSectionAndDefault)
{
    struct Row {
        std::string section;
        std::string defaultText;
    };
    std::map<std::string, Row> table;
    bool inTable = false;
    for (const std::string& line : ReadmeLines()) {
        if (line == "| section | key | default | what it does |") {
            inTable = true;
            continue;
        }
        if (inTable && line.rfind("|", 0) != 0)
            break;
        if (!inTable || line.rfind("|---", 0) == 0)
            continue;
        const std::vector<std::string> cells = Cells(line);
        ASSERT_EQ(cells.size(), 4u) << line;
        EXPECT_FALSE(cells[3].empty()) << line;
        EXPECT_TRUE(table.emplace(Unquoted(cells[1]), Row{Unquoted(cells[0]), Unquoted(cells[2])}).second) << line;
    }
    SettingsFile settings(false);
    settings.Load("", false);
    EXPECT_EQ(table.size(), static_cast<std::size_t>(SettingKey::Count));
    for (int32_t id = 0; id < SettingKey::Count; ++id) {
        const std::string key = SettingsFile::GetKeyName(id);
        SCOPED_TRACE(key);
        const auto row = table.find(key);
        ASSERT_NE(row, table.end()) << "the README's settings table lacks " << key;
        EXPECT_EQ(row->second.section, SettingsFile::GetSectionName(settings.GetSectionIndex(id)));
        EXPECT_EQ(row->second.defaultText, settings.GetDefault(id));
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
        const std::string shell = "cd '" KESTO_SOURCE_DIR "' && env -u XDG_CONFIG_HOME HOME='" + home.Path() + "' TMPDIR='" +
                                  home.Path() + "' bash -c '" + [&] {
                                      std::string quoted;
                                      for (const char c : command)
                                          quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
                                      return quoted;
                                  }() + "' 2>&1";
        std::string out;
        FILE* pipe = ::popen(shell.c_str(), "r");
        char buffer[4096];
        for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, n);
        const int status = pipe ? ::pclose(pipe) : -1;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
        // A few lines: the result, and on the first use of kesto where it made its folder.
        EXPECT_LE(std::count(out.begin(), out.end(), '\n'), 2) << out;
    }
    const fs::path folder = fs::path(home.Path()) / "Übersetzung 2027";
    for (const char* name : {"catalogue.dwq", "catalogue-fr.dwq", "catalogue-fr.qxp", "catalogue-fr.pdf"})
        EXPECT_TRUE(fs::is_regular_file(folder / name)) << name;
}

}  // namespace
