// A fresh application folder per test, with the test module in its XTensions folder, and a
// helper that runs a script against a host and hands back the transcript.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/host/HostExtensions.h"
#include "tests/platform/host/ScriptRun.h"

namespace xthost::testing {

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        app = std::filesystem::path(KESTO_BINARY_DIR) / "test-tmp" / "host" /
              (std::string(info->test_suite_name()) + "." + info->name());
        std::filesystem::remove_all(app);
        std::filesystem::create_directories(app / "XTensions");
        std::filesystem::create_directories(app / "Documents");
        std::filesystem::create_symlink(XTHOST_TEST_MODULE, app / "XTensions" / "testmodule.so");
    }

    // Runs the script; ok tells whether the run succeeded.
    std::vector<std::string> Run(const std::string& script, bool* ok = nullptr, bool autoAnswer = false)
    {
        ScriptRun run = RunScript(app, extensions, script, autoAnswer);
        if (ok)
            *ok = run.ok;
        moduleErrors = std::move(run.moduleErrors);
        beeps = run.beeps;
        return std::move(run.lines);
    }

    // Runs a script that must succeed.
    std::vector<std::string> RunOk(const std::string& script, bool autoAnswer = false)
    {
        bool ok = false;
        auto lines = Run(script, &ok, autoAnswer);
        EXPECT_TRUE(ok) << Joined(lines);
        return lines;
    }

    // Runs a script that must fail; answers the first error line.
    std::string RunFailing(const std::string& script)
    {
        bool ok = true;
        auto lines = Run(script, &ok);
        EXPECT_FALSE(ok) << Joined(lines);
        for (const auto& line : lines)
            if (line.rfind("error: ", 0) == 0)
                return line;
        return std::string();
    }

    // The lines from the first one equal to from, up to (not including) the first one that
    // starts with until after it.
    static std::vector<std::string> Slice(const std::vector<std::string>& lines, const std::string& from,
                                          const std::string& until)
    {
        auto begin = std::find(lines.begin(), lines.end(), from);
        auto end = std::find_if(begin == lines.end() ? begin : begin + 1, lines.end(),
                                [&](const std::string& l) { return l.rfind(until, 0) == 0; });
        return std::vector<std::string>(begin, end);
    }

    static int Count(const std::vector<std::string>& lines, const std::string& part)
    {
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find(part) != std::string::npos;
        }));
    }

    std::filesystem::path app;
    HostExtensions extensions;
    std::vector<std::string> moduleErrors;
    int beeps = 0;
};

}  // namespace xthost::testing
