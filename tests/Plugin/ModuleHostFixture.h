// The module linked into the test and started in the emulated host with its documents: the
// module's host wrappers run against the host's suites while the test looks at the host's state,
// its transcript and the module's general log.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "Plugin/LinkedModuleHost.h"
#include "Plugin/NobodyAtTheHost.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/KestoInterface.h"
#include "Plugin/XTension/Activation.h"
#include "platform/host/Host.h"
#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocSlots.h"

namespace kesto_test {

class ModuleHostTest : public AppFolderTest {
protected:
    explicit ModuleHostTest(std::string group = "module-host") : AppFolderTest(std::move(group)) {}

    void SetUp() override
    {
        AppFolderTest::SetUp();
        LoadKestoModule();
    }

    void TearDown() override
    {
        if (KestoInterface* module = KestoInterface::Instance()) {
            module->m_multiDocMode = false;
            module->m_serverMode = false;
        }
        if (host)
            host->Quit();
        host.reset();
        UnloadKestoModule();
        AppFolderTest::TearDown();
    }

    // Starts the host with the settings text (kesto.ini; empty for none).
    void Start(const std::string& settings = "")
    {
        if (!settings.empty())
            WriteSettings(settings);
        host = MakeLinkedModuleHost(app);
        // Whatever runs unattended has nobody to answer an alert; a test may answer otherwise.
        host->SetAnswerer(&nobodyWhileUnattended);
        ASSERT_EQ(host->Start(), xthost::StartResult::kOk) << host->Log().Text();
    }

    xthost::doc::DocHost& Docs() { return xthost::DocumentsOf(*host); }

    // Copies the shipped example into the application folder and opens the copy; answers its path.
    std::string OpenExample(const std::string& name)
    {
        const std::filesystem::path source = std::filesystem::path(KESTO_SOURCE_DIR) / "examples/documents" / name;
        const std::filesystem::path copy = app / name;
        std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
        EXPECT_EQ(Docs().Open(copy.string(), 63), XT_OK) << host->Log().Text();
        return copy.string();
    }

    // The box handle of a box uid in the front layout.
    XTHandle Box(uint32_t uid) { return Docs().BoxHandle(uid); }

    // Counts the calls of a host slot (a fault rule that never applies) from now on; read the
    // count with Calls(index).
    size_t CountCalls(const std::string& key)
    {
        xthost::FaultRule rule;
        rule.key = key;
        rule.after = 1 << 30;
        host->Faults().Add(rule);
        return host->Faults().Rules().size() - 1;
    }
    int Calls(size_t index) const { return host->Faults().Rules()[index].seen; }

    // How many transcript lines contain part.
    int CountLines(const std::string& part) const
    {
        int n = 0;
        for (const auto& line : host->Log().Lines())
            n += line.find(part) != std::string::npos;
        return n;
    }

    NobodyAtTheHost nobodyWhileUnattended{false, [] { return CurrentUnattendedState().Any(); }};
    std::unique_ptr<xthost::Host> host;
};

} // namespace kesto_test
