// Shared by the tests that run the module in the emulated host: a fresh application folder per
// test, and reading back what the module wrote.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

namespace kesto_test {

inline std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// How often part occurs in text, without overlaps.
inline int CountOf(const std::string& text, const std::string& part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// <build>/test-tmp/<group>/<suite>.<test>, emptied, with its XTensions folder. It is the current
// folder while the test runs: the module writes its general log into the current folder.
class AppFolderTest : public ::testing::Test {
protected:
    explicit AppFolderTest(std::string group) : m_group(std::move(group)) {}

    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        app = std::filesystem::path(KESTO_BINARY_DIR) / "test-tmp" / m_group /
              (std::string(info->test_suite_name()) + "." + info->name());
        std::filesystem::remove_all(app);
        std::filesystem::create_directories(app / "XTensions");
        home = std::filesystem::current_path();
        std::filesystem::current_path(app);
    }

    void TearDown() override { std::filesystem::current_path(home); }

    void WriteSettings(const std::string& text) const { std::ofstream(app / "XTensions" / "kesto.ini") << text; }
    std::string SettingsText() const { return ReadText(app / "XTensions" / "kesto.ini"); }
    std::string GeneralLog() const { return ReadText(app / "KestoLogfile.txt"); }

    std::filesystem::path app;
    std::filesystem::path home;

private:
    std::string m_group;
};

} // namespace kesto_test
