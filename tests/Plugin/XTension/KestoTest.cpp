// The top object with the module linked into the test: its run-mode decision, its command
// objects and their release, and its OLE guard.
#include <algorithm>
#include <iterator>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Plugin/Batch/BatchStatusFile.h"
#include "Foundation/Settings.h"
#include "Plugin/Shell/HostFileServices.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/XTension/Activation.h"
#include "Plugin/XTension/Kesto.h"
#include "platform/host/Host.h"
#include "platform/storage/StructuredStorage.h"

namespace fs = std::filesystem;

namespace {

class KestoTest : public kesto_test::AppFolderTest {
protected:
    KestoTest() : AppFolderTest("kesto-linked") {}

    void SetUp() override
    {
        AppFolderTest::SetUp();
        LoadKestoModule();
    }

    void TearDown() override
    {
        if (host)
            host->Quit();
        host.reset();
        UnloadKestoModule();
        AppFolderTest::TearDown();
    }

    void Start(const std::string& settings)
    {
        if (!settings.empty())
            WriteSettings(settings);
        MakeHost(false);
        ASSERT_EQ(host->Start(), xthost::StartResult::kOk) << host->Log().Text();
    }

    // A host of the linked module; keepRefused keeps it loaded after a refused setup.
    void MakeHost(bool keepRefused)
    {
        xthost::HostOptions options;
        options.appFolder = app.string();
        options.staticActivate = &XTActivateCallback;
        options.keepRefusedModule = keepRefused;
        host = std::make_unique<xthost::Host>(options);
    }

    static std::size_t IdleListeners()
    {
        RefPtr<IdleButtonClass> idle = ClassObject<IdleButtonClass>::Instance();
        return idle ? idle->GetListenerCount() : 0;
    }

    std::unique_ptr<xthost::Host> host;
};

} // namespace

TEST_F(KestoTest, WithoutSettingsTheRunIsInteractive)
{
    Start("");
    EXPECT_EQ(IdleListeners(), 0u);
    EXPECT_FALSE(LaunchedByBatch);
    // The module state came from its first user, the menu building, with the defaults.
    const std::string log = GeneralLog();
    EXPECT_NE(log.find("\nExtended mode:\tOFF\n\nServer mode:\tOFF\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Batch status file"), std::string::npos) << log;
}

TEST_F(KestoTest, ServerModeListensOnIdleAndLeavesTheBatchFileAlone)
{
    fs::create_directories(app / "batch");
    Start("[Server]\nserverMode=True\n[Path]\nBatchFilePath=" + (app / "batch" / "status.ini").string() + "\n");
    EXPECT_EQ(IdleListeners(), 1u);
    EXPECT_FALSE(LaunchedByBatch);
    EXPECT_EQ(GeneralLog().find("Batch status file"), std::string::npos);
}

TEST_F(KestoTest, BatchAtLaunchNeedsTheFolderOfTheStatusFile)
{
    fs::create_directories(app / "batch");
    const struct {
        std::string path;
        bool batch;
    } cases[] = {
        {(app / "batch" / "status.ini").string(), true},   // the file itself need not exist
        {(app / "batch").string() + "\\status.ini", true},  // either separator
        {(app / "missing" / "status.ini").string(), false},
        {"status.ini", false},                              // no folder part at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        Start("[Path]\nBatchFilePath=" + c.path + "\n");
        EXPECT_EQ(LaunchedByBatch, c.batch);
        EXPECT_EQ(IdleListeners(), c.batch ? 1u : 0u);
        host->Quit();
        host.reset();
        UnloadKestoModule();
        LoadKestoModule();
    }
}

TEST_F(KestoTest, MenuButtonsRunTheirCommandThenBeep)
{
    Start("");
    // Each command leaves its trace in the general log or, for the commands that ask first, in
    // the host's transcript. The import beeps itself when its file dialog is cancelled.
    struct Button {
        void (*fire)();
        const char* logged;
        const char* hostLine;
        int beeps;
    };
    const Button buttons[] = {
        {[] { PerformByClass<MenuButton<10>>(static_cast<XTVoidRec*>(nullptr)); }, "", "Choose Quark document to export:", 1},
        {[] { PerformByClass<MenuButton<8>>(static_cast<XTVoidRec*>(nullptr)); }, "", "Choose Quark document to export:", 1},
        {[] { PerformByClass<MenuButton<15>>(static_cast<XTVoidRec*>(nullptr)); }, "", "Choose Verbant file to import:", 2},
        {[] { PerformByClass<MenuButton<16>>(static_cast<XTVoidRec*>(nullptr)); }, "", "Choose Verbant file to import:", 2},
        {[] { FireExportCurrentDocumentButton(nullptr); }, "", "preference 0 off", 1},
        {[] { PerformByClass<MenuButton<6>>(static_cast<XTVoidRec*>(nullptr)); }, "", "preference 0 off", 1},
    };
    int beeps = 0;
    for (const auto& button : buttons) {
        const std::size_t before = GeneralLog().size();
        const std::size_t hostBefore = host->Log().Text().size();
        button.fire();
        beeps += button.beeps;
        EXPECT_EQ(host->Beeps(), beeps);
        EXPECT_NE(GeneralLog().find(button.logged, before), std::string::npos) << button.logged;
        EXPECT_NE(host->Log().Text().find(button.hostLine, hostBefore), std::string::npos)
            << button.hostLine << "\n" << host->Log().Text().substr(hostBefore);
    }
    // "About" only beeps.
    const std::size_t before = GeneralLog().size();
    PerformByClass<CommandAdapter<4>>(static_cast<XTVoidRec*>(nullptr));
    EXPECT_EQ(host->Beeps(), beeps + 1);
    EXPECT_EQ(GeneralLog().size(), before);
}

TEST_F(KestoTest, ReleasedTopObjectLeavesOnlyTheIdleObjectsToTheCallbackManager)
{
    Start("[Server]\nserverMode=True\n");
    DeinitKesto();
    EXPECT_FALSE(ClassObject<Kesto>::Instance());
    EXPECT_FALSE(ClassObject<MenuButton<5>>::Instance());
    EXPECT_FALSE(ClassObject<CommandAdapter<9>>::Instance());
    EXPECT_FALSE(ClassObject<CommandAdapter<1>>::Instance());
    EXPECT_FALSE(ClassObject<CommandAdapter<34>>::Instance());
    EXPECT_TRUE(ClassObject<IdleButtonClass>::Instance());
    EXPECT_TRUE(ClassObject<IdleAdapter<19>>::Instance());
    host->Quit();
    EXPECT_FALSE(ClassObject<IdleButtonClass>::Instance());
    EXPECT_FALSE(ClassObject<IdleAdapter<19>>::Instance());
}

TEST_F(KestoTest, OleStartedBeforeIsBalancedAtTheEnd)
{
    ASSERT_EQ(OleInitialize(nullptr), S_OK);
    Start("");
    host->Quit();
    // The module's own start (S_FALSE) was undone: one more stop ends the runtime.
    OleUninitialize();
    EXPECT_EQ(OleInitialize(nullptr), S_OK);
    OleUninitialize();
}

TEST_F(KestoTest, WithoutOleTheTopObjectIsCompleteAndStaysUntilTheLibraryUnloads)
{
    WriteSettings("[Options]\nextendedInterface=True\n");
    MakeHost(true);
    SetOleInitializeFailure(E_OUTOFMEMORY);
    const xthost::StartResult result = host->Start();
    SetOleInitializeFailure(S_OK);
    ASSERT_EQ(result, xthost::StartResult::kSetupRefused) << host->Log().Text();

    // What the host saw: the menu command that the top object registered, then the failure
    // with its text; nothing else was registered and nothing was handed back.
    const auto lines = host->Log().Lines();
    std::vector<std::string> registered;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(registered),
                 [](const std::string& line) { return line.find("register kind") != std::string::npos; });
    EXPECT_EQ(registered, std::vector<std::string>{"setup: register kind 618 (priority 200)"});
    const auto answer = std::find(lines.begin(), lines.end(), "setup: answer 0x51000401");
    ASSERT_NE(answer, lines.end()) << host->Log().Text();
    EXPECT_EQ(std::next(answer), std::find(lines.begin(), lines.end(), "start refused at setup"));
    EXPECT_EQ(host->ModuleErrorTexts(), std::vector<std::string>{"Kesto setup failed"});

    // The object is whole: every command object and the idle button exist.
    EXPECT_TRUE(ClassObject<Kesto>::Instance());
    EXPECT_TRUE(ClassObject<CommandAdapter<1>>::Instance());
    EXPECT_TRUE(ClassObject<MenuButton<5>>::Instance());
    EXPECT_TRUE(ClassObject<IdleAdapter<19>>::Instance());
    EXPECT_TRUE(ClassObject<CommandAdapter<34>>::Instance());
    EXPECT_TRUE(ClassObject<IdleButtonClass>::Instance());

    // The menu command the host still holds is answered; no menu was built, so it does nothing.
    xthandlecommandrec command{XT_CB_HANDLECOMMAND, 0, 1};
    EXPECT_EQ(host->Dispatch(XT_CB_HANDLECOMMAND, &command), 0);
    EXPECT_EQ(host->Beeps(), 0);

    // The host never got an unload callback; the library's unload releases the object.
    host->Quit();
    const auto after = host->Log().Lines();
    EXPECT_EQ(std::find(after.begin(), after.end(), "unload callback"), after.end());
    EXPECT_NE(std::find(after.begin(), after.end(), "unloaded"), after.end());
    EXPECT_TRUE(ClassObject<Kesto>::Instance());
    host.reset();
    UnloadKestoModule();
    EXPECT_FALSE(ClassObject<Kesto>::Instance());
    EXPECT_FALSE(ClassObject<CommandAdapter<1>>::Instance());
    EXPECT_FALSE(ClassObject<IdleButtonClass>::Instance());
    EXPECT_FALSE(ClassObject<IdleAdapter<19>>::Instance());
    // The failed start left the runtime stopped.
    EXPECT_EQ(OleInitialize(nullptr), S_OK);
    OleUninitialize();
    LoadKestoModule();
}

TEST_F(KestoTest, FoundationReachesTheHostsFilesThroughTheBoundSuites)
{
    Start("[Options]\nextendedInterface=True\n");
    EXPECT_EQ(GetSettingsFilePath(), (app / "XTensions" / "kesto.ini").string());
    EXPECT_EQ(GetHostTempPath(), host->TempFolder());

    HostFileSpec spec{};
    ASSERT_EQ(xt_fsmakefsspec(0, 0, (app / "XTensions").c_str(), &spec), 0);
    std::string path;
    ASSERT_EQ(FileSpecToPath(path, spec, false), 0);
    EXPECT_EQ(path, (app / "XTensions").string());

    // A host that refuses leaves the record alone and answers its code.
    HostFileSpec untouched{};
    EXPECT_NE(xt_fsmakefsspec(0, 0, (app / "missing").c_str(), &untouched), 0);
    EXPECT_EQ(FileSpecName(untouched), "");
}
