// Runs an xthost script against a host of its own and hands back what the tests look at.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/host/HostExtensions.h"

namespace xthost::testing {

struct ScriptRun {
    std::vector<std::string> lines;  // the transcript
    bool ok = false;                 // whether the run succeeded
    std::vector<std::string> moduleErrors;
    int beeps = 0;
};

inline ScriptRun RunScript(const std::filesystem::path& app, const HostExtensions& extensions, const std::string& script,
                           bool autoAnswer = false)
{
    std::vector<ScriptLine> lines;
    std::string error;
    EXPECT_TRUE(ParseScript(script, lines, error)) << error;
    HostOptions options;
    options.appFolder = app.string();
    Host host(options);
    ScriptRunner runner(host, extensions.Verbs(), lines);
    runner.SetAutoAnswer(autoAnswer);
    ScriptRun run;
    run.ok = runner.Run();
    run.moduleErrors = host.ModuleErrorTexts();
    run.beeps = host.Beeps();
    run.lines = host.Log().Lines();
    return run;
}

inline std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

}  // namespace xthost::testing
