// The module linked into the test and started in the emulated host, with the doubles of
// DialogTestDoubles.h in place of the subsystems it reaches. A script drives it: the host's own
// verbs and answers, and "call NAME", which runs a piece of module code the test registered
// under that name while the host answers its prompts from the script.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DialogTestDoubles.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "Plugin/Shell/DialogTemplates.h"
#include "Plugin/XTension/Activation.h"
#include "platform/host/HostExtensions.h"

namespace dialogtest {

namespace fs = std::filesystem;

class DialogHostTest : public kesto_test::AppFolderTest {
protected:
    DialogHostTest() : AppFolderTest("dialogs") {}

    void SetUp() override
    {
        AppFolderTest::SetUp();
        Reset();
        extensions.AddVerb("call", {"call NAME", "run module code registered by the test", false,
                                    [this](xthost::VerbContext& context, std::string& error) {
                                        const auto& words = context.line.words;
                                        auto found = words.size() == 2 ? calls.find(words[1]) : calls.end();
                                        if (found == calls.end()) {
                                            error = "no such call";
                                            return false;
                                        }
                                        found->second();
                                        return true;
                                    }});
    }

    fs::path MakeFolder(const std::string& name, const std::vector<std::string>& files = {})
    {
        fs::create_directories(app / name);
        for (const auto& file : files)
            std::ofstream(app / name / file) << "x";
        return app / name;
    }

    // Runs the script against the module; ok tells whether the run went as the script says.
    std::vector<std::string> Run(const std::string& script, bool* ok = nullptr)
    {
        std::vector<xthost::ScriptLine> lines;
        std::string error;
        EXPECT_TRUE(xthost::ParseScript(script, lines, error)) << error;
        LoadKestoModule();
        bool succeeded = false;
        {
            xthost::HostOptions options;
            options.appFolder = app.string();
            options.staticActivate = &XTActivateCallback;
            options.staticTemplates = &XTGetDialogTemplate;
            xthost::Host host(options);
            xthost::ScriptRunner runner(host, extensions.Verbs(), lines);
            succeeded = runner.Run();
            transcript = host.Log().Lines();
            beeps = host.Beeps();
        }
        UnloadKestoModule();
        if (ok)
            *ok = succeeded;
        return transcript;
    }

    std::vector<std::string> RunOk(const std::string& script)
    {
        bool ok = false;
        auto lines = Run(script, &ok);
        EXPECT_TRUE(ok) << Joined(lines);
        return lines;
    }

    static std::string Joined(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const auto& line : lines)
            text += line + "\n";
        return text;
    }

    static bool Has(const std::vector<std::string>& lines, const std::string& part)
    {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }

    // The lines that contain one of the parts, in transcript order.
    static std::vector<std::string> Filter(const std::vector<std::string>& lines,
                                           const std::vector<std::string>& parts)
    {
        std::vector<std::string> out;
        for (const auto& line : lines)
            if (std::any_of(parts.begin(), parts.end(),
                            [&](const std::string& p) { return line.find(p) != std::string::npos; }))
                out.push_back(line);
        return out;
    }

    std::string Path(const std::string& name) const { return (app / name).string(); }

    xthost::HostExtensions extensions;
    std::map<std::string, std::function<void()>> calls;
    std::vector<std::string> transcript;
    int beeps = 0;
};

} // namespace dialogtest
