// Shared fixture of the shell's tests: the module's globals built once, the general log and the
// process's current folder redirected into a scratch folder per test.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Foundation/Log.h"
#include "Foundation/ModuleGlobals.h"
#include "Foundation/Settings.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "TempDir.h"

class ShellLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_temp = std::make_unique<TempDir>("kesto-shell");
        m_dir = m_temp->Path();
        if (!ModuleGlobals::IsInitialized())
            InitGlobals();
        GeneralLog.Build(GeneralLogPath(), std::ios::out | std::ios::trunc);
    }

    void TearDown() override
    {
        if (m_capturing)
            StandardErrorText();
        Settings.Build(false);
        m_temp.reset();
    }

    // The globals open the general log in the current folder: keep it out of the tree.
    void InitGlobals()
    {
        const std::filesystem::path home = std::filesystem::current_path();
        std::filesystem::current_path(m_dir);
        ModuleGlobals::Init();
        std::filesystem::current_path(home);
    }

    const std::string& Dir() const { return m_dir; }
    std::string GeneralLogPath() const { return m_dir + "/KestoLogfile.txt"; }

    static std::string ReadFile(const std::string& path) { return kesto_test::ReadText(path); }

    std::string GeneralLogText() const
    {
        GeneralLog->flush();
        return ReadFile(GeneralLogPath());
    }

    // The texts of the break-point reports in the general log, in order.
    std::vector<std::string> BreakPointLines() const
    {
        static const std::string prefix = "######## BreakPoint_KS:";
        std::vector<std::string> texts;
        std::istringstream lines(GeneralLogText());
        for (std::string line; std::getline(lines, line);) {
            if (line.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::size_t blank = line.find(' ', prefix.size());
            texts.push_back(blank == std::string::npos ? "" : line.substr(blank + 1));
        }
        return texts;
    }

    // Loads a settings file with the given lines into the module's settings.
    void LoadSettings(const std::string& lines)
    {
        const std::string path = m_dir + "/kesto.ini";
        std::ofstream(path) << lines;
        ASSERT_TRUE(Settings->Load(path, false));
    }

    void CaptureStandardError()
    {
        if (m_capturing)
            StandardErrorText();
        ::testing::internal::CaptureStderr();
        m_capturing = true;
    }
    std::string StandardErrorText()
    {
        m_capturing = false;
        return ::testing::internal::GetCapturedStderr();
    }

private:
    std::unique_ptr<TempDir> m_temp;
    std::string m_dir;
    bool m_capturing = false;
};
