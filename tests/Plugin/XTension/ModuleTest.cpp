// The module as the host sees it: xthost's host library loads Kesto.so from the XTensions folder
// of a fresh application folder per test and drives it.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Plugin/Shell/AppFolderTest.h"
#include "Plugin/Shell/LoopbackServerClient.h"
#include "platform/host/HostExtensions.h"

namespace fs = std::filesystem;

namespace {

using kesto_test::FreePort;
using kesto_test::ReadText;
using kesto_test::ServerClient;

class KestoModuleTest : public kesto_test::AppFolderTest {
protected:
    KestoModuleTest() : AppFolderTest("kesto") {}

    void SetUp() override
    {
        AppFolderTest::SetUp();
        fs::create_symlink(KESTO_MODULE, app / "XTensions" / "Kesto.so");
    }

    std::unique_ptr<xthost::Host> MakeHost()
    {
        xthost::HostOptions options;
        options.appFolder = app.string();
        return std::make_unique<xthost::Host>(options);
    }

    // Runs a script against a fresh host; answers the transcript.
    std::vector<std::string> Run(const std::string& script, bool expectOk = true)
    {
        std::vector<xthost::ScriptLine> lines;
        std::string error;
        EXPECT_TRUE(xthost::ParseScript(script, lines, error)) << error;
        auto host = MakeHost();
        xthost::ScriptRunner runner(*host, extensions.Verbs(), lines);
        const bool ok = runner.Run();
        EXPECT_EQ(ok, expectOk) << host->Log().Text();
        moduleErrors = host->ModuleErrorTexts();
        beeps = host->Beeps();
        quitRequested = host->QuitRequested();
        return host->Log().Lines();
    }

    static std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& part)
    {
        std::vector<std::string> found;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                     [&part](const std::string& line) { return line.find(part) != std::string::npos; });
        return found;
    }

    static std::ptrdiff_t IndexOf(const std::vector<std::string>& lines, const std::string& part)
    {
        auto it = std::find_if(lines.begin(), lines.end(),
                               [&part](const std::string& line) { return line.find(part) != std::string::npos; });
        return it == lines.end() ? -1 : it - lines.begin();
    }

    xthost::HostExtensions extensions;
    std::vector<std::string> moduleErrors;
    int beeps = 0;
    bool quitRequested = false;
};

const char* const kExtendedSettings =
    "[Options]\nextendedInterface=True\naddMenuItemExportCoords=True\naddMenuItemExportTgx=True\n";

} // namespace

TEST_F(KestoModuleTest, StartsInTheOrderOfTheHostsConversation)
{
    WriteSettings(kExtendedSettings);
    const auto lines = Run("start\nquit\n");

    // Activation: the compatibility query, then the two start-up callbacks.
    EXPECT_EQ(Matching(lines, "activation:"),
              (std::vector<std::string>{"activation: compatibility query 0x00595043 0 11 0x40A20014 0",
                                        "activation: memory priority 200",
                                        "activation: register setup callback (priority 200)",
                                        "activation: register identifier callback (priority 200)",
                                        "activation: answer 0x00000000"}));
    const auto ids = Matching(lines, "ids: new id ");
    ASSERT_EQ(ids.size(), 15u);

    // Two binding passes of all 119 suites, XND 2 first and XTT 2 last.
    const auto binds = Matching(lines, "setup: bind ");
    ASSERT_EQ(binds.size(), 2 * 119u + 3u);  // and the three components
    EXPECT_EQ(binds.front(), "setup: bind XND 2 (0 selectors)");
    EXPECT_NE(IndexOf(lines, "setup: bind LTY 2"), -1);
    EXPECT_EQ(Matching(lines, "setup: interface ").size(), 20u + 20u + 7u);
    EXPECT_EQ(Matching(lines, "setup: look up component"),
              (std::vector<std::string>{"setup: look up component handle XPTA", "setup: look up component XPTA",
                                        "setup: look up component QLY", "setup: look up component handle QLY",
                                        "setup: look up component XPDF", "setup: look up component handle XPDF"}));

    // Registrations: the menu command from the top object, then setup's own list, the callback
    // manager's kinds, the hooks after the second pass, and the two requests last.
    std::vector<std::string> expected = {"setup: register kind 618 (priority 200)",
                                         "setup: register kind 4 (priority 200)"};
    std::vector<std::string> kinds;
    for (const auto& id : ids)
        kinds.push_back(std::to_string(std::stoul(id.substr(id.rfind(' ') + 1), nullptr, 16)));
    expected.push_back("setup: register kind " + kinds[0] + " (priority 200)");
    expected.push_back("setup: register kind 134 (priority 200)");
    for (std::size_t i = 1; i < kinds.size(); ++i)
        expected.push_back("setup: register kind " + kinds[i] + " (priority 200)");
    for (const char* kind : {"6", "7", "10", "681", "501"})
        expected.push_back(std::string("setup: register kind ") + kind + " (priority 200)");
    expected.push_back("setup: register kind 106 (priority 10)");
    EXPECT_EQ(Matching(lines, "setup: register kind"), expected);

    // The second binding pass lies between the callback manager's kinds and the hooks.
    const auto secondPass = std::find(lines.begin() + IndexOf(lines, "register kind 10 ") , lines.end(),
                                      "setup: bind XND 2 (0 selectors)") - lines.begin();
    EXPECT_LT(secondPass, IndexOf(lines, "register kind 681"));
    EXPECT_LT(IndexOf(lines, "register kind 106"), IndexOf(lines, "setup: request 0x913"));
    EXPECT_LT(IndexOf(lines, "setup: request 0x913"), IndexOf(lines, "setup: request 0x912"));
    EXPECT_NE(IndexOf(lines, "setup: answer 0x00000000"), -1);
    EXPECT_TRUE(moduleErrors.empty());

    // The unload hands back the host object and, at library unload, the menu.
    const auto unload = IndexOf(lines, "unload callback");
    ASSERT_NE(unload, -1);
    EXPECT_LT(unload, IndexOf(lines, "handed back"));
    EXPECT_LT(IndexOf(lines, "handed back"), IndexOf(lines, "menu \"Kesto 7\" disposed"));
    EXPECT_LT(IndexOf(lines, "menu \"Kesto 7\" disposed"), IndexOf(lines, "unloaded"));
    EXPECT_TRUE(Matching(lines, "error").empty());
}

TEST_F(KestoModuleTest, MenuItemsFollowTheSettingsAndTheFrontDocument)
{
    // Without the extended interface only three items, whatever the item settings say.
    WriteSettings("[Options]\naddMenuItemExportCoords=True\naddMenuItemExportTgx=True\n");
    auto lines = Run("start\nmenus\nquit\n");
    EXPECT_EQ(Matching(lines, "  \""),
              (std::vector<std::string>{"  \" Export current document\" disabled",
                                        "  \" Export to Verbant\" enabled",
                                        "  \" Import Verbant file\" enabled"}));

    // With it, all seven in order; the items of the front document follow whether one is open.
    WriteSettings(kExtendedSettings);
    lines = Run("start\nmenus\ndocument 0\nmenus\ndocument none\nmenus\nquit\n");
    const std::vector<std::string> items = Matching(lines, "  \"");
    ASSERT_EQ(items.size(), 21u);
    EXPECT_EQ(std::vector<std::string>(items.begin(), items.begin() + 7),
              (std::vector<std::string>{"  \" Export current document\" disabled",
                                        "  \" Export PDF coordinates\" disabled",
                                        "  \" Export XTags\" disabled",
                                        "  \" Export to Verbant\" enabled",
                                        "  \" Export multiple documents\" enabled",
                                        "  \" Import Verbant file\" enabled",
                                        "  \" Import multiple Verbant files\" enabled"}));
    for (int i = 0; i < 7; ++i)
        EXPECT_NE(items[7 + i].find(" enabled"), std::string::npos) << items[7 + i];
    EXPECT_EQ(std::vector<std::string>(items.begin() + 14, items.end()),
              std::vector<std::string>(items.begin(), items.begin() + 7));
}

TEST_F(KestoModuleTest, MenuCommandRunsItsCommandThenOneBeep)
{
    WriteSettings(kExtendedSettings);
    // The import's cancelled file dialog beeps and says "Import failed"; the menu beeps once after.
    const auto lines = Run("start\ndocument 0\nmenu \"Import Verbant file\"\nopen * cancel\ndialog 104\n  press 1\n"
                           "expect-beeps 2\nquit\n");
    const auto chosen = IndexOf(lines, "choose \"Kesto 7\" > \" Import Verbant file\"");
    ASSERT_NE(chosen, -1);
    EXPECT_EQ(lines[static_cast<std::size_t>(chosen) + 1], "open dialog \"Choose Verbant file to import:\" filter \"Verbant Files\" (*.dwq)");
    const auto result = IndexOf(lines, "dialog 104 ends confirmed");
    ASSERT_NE(result, -1);
    EXPECT_EQ(lines[static_cast<std::size_t>(result) + 1], "beep");
}

TEST_F(KestoModuleTest, CancelledFolderChooserSwitchesMultiDocumentModeOnAndOff)
{
    WriteSettings(kExtendedSettings);
    const auto lines = Run("start\nmenu \"Export multiple documents\"\nfolder * cancel\nexpect-beeps 0\nquit\n");
    // A SourceBookPath never set is one blank, and the chooser starts there.
    EXPECT_NE(IndexOf(lines, "\"Browse for Source Folder with QXP files\" starts at \" \""), -1);
    EXPECT_EQ(IndexOf(lines, "dialog 108"), -1);
    const std::string log = GeneralLog();
    const auto on = log.find("\nMultiDoc mode:\tON\n");
    ASSERT_NE(on, std::string::npos) << log;
    EXPECT_NE(log.find("\nMultiDoc mode:\tOFF\n", on), std::string::npos) << log;

    // A start folder longer than the system takes is not offered at all.
    WriteSettings(std::string(kExtendedSettings) + "[Path]\nSourceBookPath=/" + std::string(4096, 'a') + "\n");
    const auto longer = Run("start\nmenu \"Export multiple documents\"\nfolder * cancel\nquit\n");
    EXPECT_NE(IndexOf(longer, "\"Browse for Source Folder with QXP files\" starts at \"\""), -1);
}

TEST_F(KestoModuleTest, RefusedActivationHandsTheHostItsTextOnly)
{
    const auto lines = Run("fail compat with 0\nstart refused activation\n");
    EXPECT_EQ(moduleErrors, std::vector<std::string>{"Kesto activation failed"});
    EXPECT_NE(IndexOf(lines, "activation: answer 0x51000401"), -1);
    EXPECT_TRUE(Matching(lines, "register").empty());
}

TEST_F(KestoModuleTest, ARefusedIdentifierStopsTheReservation)
{
    const auto lines = Run("fail newId after 6 with -1\nstart refused ids\n");
    EXPECT_EQ(Matching(lines, "ids: new id").size(), 6u);
    EXPECT_NE(IndexOf(lines, "ids: answer 0x51000401"), -1);
    EXPECT_TRUE(Matching(lines, "setup:").empty());
}

TEST_F(KestoModuleTest, FailedSetupGivesItsTextAndRegistersNothing)
{
    for (const char* fault : {"bind:XMV4", "bind:XND2", "interface:QLID6", "interface:QLOT0",
                              "component:QLY"}) {
        SCOPED_TRACE(fault);
        const auto lines = Run(std::string("fail ") + fault + " with -50\nstart refused setup\n");
        EXPECT_EQ(moduleErrors, std::vector<std::string>{"Kesto setup failed"});
        EXPECT_NE(IndexOf(lines, "setup: answer 0x51000401"), -1);
        EXPECT_TRUE(Matching(lines, "register kind").empty());
        EXPECT_TRUE(Matching(lines, "module object").empty());
        EXPECT_TRUE(Matching(lines, "error:").empty());
    }
}

TEST_F(KestoModuleTest, RefusedFinalRequestKeepsEverythingRegisteredUntilUnload)
{
    WriteSettings(kExtendedSettings);
    for (const char* request : {"0x913", "0x912"}) {
        SCOPED_TRACE(request);
        const auto lines = Run(std::string("fail request:") + request + " with 1\nstart refused setup\n");
        EXPECT_TRUE(moduleErrors.empty());
        EXPECT_EQ(IndexOf(lines, "request 0x912") == -1, std::string(request) == "0x913");
        // Nothing was given back when the module answered; the unload callback does it.
        const auto answer = IndexOf(lines, "setup: answer 0x51000401");
        ASSERT_NE(answer, -1);
        const auto unload = IndexOf(lines, "unload callback");
        EXPECT_LT(answer, unload);
        EXPECT_LT(unload, IndexOf(lines, "handed back"));
        EXPECT_LT(IndexOf(lines, "handed back"), IndexOf(lines, "unloaded"));
        EXPECT_TRUE(Matching(lines, "error").empty());
    }
}

TEST_F(KestoModuleTest, RefusedModuleAnswersTheHostsCallbacksUntilUnload)
{
    WriteSettings(kExtendedSettings);
    for (const char* request : {"0x913", "0x912"}) {
        SCOPED_TRACE(request);
        xthost::HostOptions options;
        options.appFolder = app.string();
        options.keepRefusedModule = true;
        xthost::Host host(options);
        xthost::FaultRule refusal;
        refusal.key = std::string("request:") + request;
        refusal.value = 1;
        host.Faults().Add(refusal);
        ASSERT_EQ(host.Start(), xthost::StartResult::kSetupRefused) << host.Log().Text();

        // Menu building and update (through the callback manager), the menu command and idle.
        host.SetFrontDocumentIndex(0);
        host.BuildMenus();
        // The import asks for its file (no answer: cancelled), beeps, then the menu beeps.
        EXPECT_TRUE(host.ChooseMenu("Import Verbant file")) << host.Log().Text();
        EXPECT_EQ(host.Beeps(), 2);
        host.Idle(2);
        host.Quit();

        const auto& lines = host.Log().Lines();
        EXPECT_NE(IndexOf(lines, "menu \"Kesto 7\" made"), -1) << host.Log().Text();
        EXPECT_LT(IndexOf(lines, "refused module kept loaded"), IndexOf(lines, "beep"));
        EXPECT_LT(IndexOf(lines, "beep"), IndexOf(lines, "unload callback"));
        EXPECT_LT(IndexOf(lines, "unload callback"), IndexOf(lines, "handed back"));
        EXPECT_LT(IndexOf(lines, "menu \"Kesto 7\" disposed"), IndexOf(lines, "unloaded"));
        EXPECT_NE(host.Log().Text().find("open dialog \"Choose Verbant file to import:\""), std::string::npos);
        EXPECT_FALSE(host.Failed()) << host.Log().Text();
    }
}

TEST_F(KestoModuleTest, RefusedSecondBindingOnlySkipsTheHooks)
{
    const auto lines = Run("fail bind:XTT2 after 1 with -50\nstart\nquit\n");
    EXPECT_EQ(IndexOf(lines, "register kind 681"), -1);
    EXPECT_EQ(IndexOf(lines, "register kind 501"), -1);
    EXPECT_EQ(IndexOf(lines, "register kind 106"), -1);
    EXPECT_NE(IndexOf(lines, "setup: answer 0x00000000"), -1);
    EXPECT_TRUE(moduleErrors.empty());
}

TEST_F(KestoModuleTest, InteractiveRunDoesNothingOnIdle)
{
    // No settings file at all: menus only.
    const auto lines = Run("start\nidle 3\nquit\n");
    EXPECT_EQ(Matching(lines, "idle").size(), 3u);
    EXPECT_FALSE(quitRequested);
    EXPECT_EQ(GeneralLog().find("Batch"), std::string::npos) << GeneralLog();
}

TEST_F(KestoModuleTest, BatchStatusFolderMakesABatchRunAtLaunch)
{
    fs::create_directories(app / "batch");
    WriteSettings("[Path]\nBatchFilePath=" + (app / "batch" / "status.ini").string() + "\n");
    Run("start\nidle 2\nquit\n");
    // The batch run is connected to idle; without a status file there is no job to activate,
    // and the run waits for one without asking the host to quit.
    EXPECT_FALSE(quitRequested);
    EXPECT_EQ(GeneralLog().find("Batch"), std::string::npos) << GeneralLog();

    // A status path whose folder is missing is an interactive run.
    WriteSettings("[Path]\nBatchFilePath=" + (app / "missing" / "status.ini").string() + "\n");
    Run("start\nidle 2\nquit\n");
    EXPECT_FALSE(quitRequested);
}

TEST_F(KestoModuleTest, ServerModeServesUntilHaltedThenAsksTheHostToQuit)
{
    const uint16_t port = FreePort();
    fs::create_directories(app / "logs");
    WriteSettings("[Server]\nserverMode=True\nlistenPort=" + std::to_string(port) +
                  "\nactivateServerLog=True\nkeepServerLog=True\nserverLogMinPriority=6\n[Path]\nLogPath=" +
                  (app / "logs").string() + "\n");
    auto host = MakeHost();
    ASSERT_EQ(host->Start(), xthost::StartResult::kOk) << host->Log().Text();
    {
        ServerClient client(port, {"serveralive", "haltServer"});
        host->Idle(3);  // the first call runs the server until the client halts it
        client.Join();
        EXPECT_NE(client.Received().find("password ok\n"), std::string::npos) << client.Received();
        EXPECT_NE(client.Received().find("halt server\n"), std::string::npos) << client.Received();
    }
    const auto& lines = host->Log().Lines();
    EXPECT_EQ(Matching(lines, "quit requested").size(), 1u);
    EXPECT_EQ(Matching(lines, "idle").size(), 1u);  // the host quit instead of idling on
    EXPECT_NE(IndexOf(lines, "unload callback"), -1);
    EXPECT_FALSE(host->Loaded());
    EXPECT_FALSE(host->Failed()) << host->Log().Text();

    // The server log, kept after the unload, tells the story.
    std::string serverLog;
    for (const auto& entry : fs::directory_iterator(app / "logs"))
        if (entry.path().filename().string().rfind("OMRA_", 0) == 0)
            serverLog = ReadText(entry.path() / "KS7_srv.log");
    const auto down = serverLog.find("Server DOWN");
    const auto started = serverLog.find("Quark shutdown started ...");
    const auto complete = serverLog.find("Quark shutdown complete.");
    ASSERT_NE(down, std::string::npos) << serverLog;
    EXPECT_LT(down, started);
    EXPECT_LT(started, complete);
    EXPECT_NE(complete, std::string::npos);

    // The allocation reports list the log folder and the log file, each address apart from its
    // description.
    std::istringstream logLines(serverLog);
    std::vector<std::string> allocations;
    for (std::string line; std::getline(logLines, line);)
        if (line.rfind("0x", 0) == 0)
            allocations.push_back(line);
    ASSERT_FALSE(allocations.empty()) << serverLog;
    const std::regex allocation("0x[0-9A-F]+ +t_(Folder|LogFile)(<TStr>)?(: .*)? *");
    for (const auto& line : allocations)
        EXPECT_TRUE(std::regex_match(line, allocation)) << line;
}

TEST_F(KestoModuleTest, ExampleApplicationRunsFromTheCommandLine)
{
    // The shipped application folder and script, run as the README runs them.
    const fs::path run = fs::path(KESTO_SOURCE_DIR) / "examples" / "app" / "run.sh";
    const std::string command = "KESTO_KEEP=1 KESTO_VERBOSE=1 TMPDIR=" + app.string() + " bash " + run.string() + " " + KESTO_BINARY_DIR + " > " +
                                (app / "transcript.txt").string() + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadText(app / "transcript.txt");
    const std::string transcript = ReadText(app / "transcript.txt");
    EXPECT_NE(transcript.find("choose \"Kesto 7\" > \" Export current document\""), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("\nbeep\n"), std::string::npos);
    EXPECT_NE(transcript.find("\nunloaded\n"), std::string::npos);
    // The last line names the exchange file, which olefile opens.
    const std::string marker = "exchange file: ";
    const size_t at = transcript.rfind(marker);
    ASSERT_NE(at, std::string::npos) << transcript;
    std::string dwq = transcript.substr(at + marker.size());
    dwq.erase(dwq.find_last_not_of('\n') + 1);
    EXPECT_EQ(dwq.substr(dwq.size() - 10), "export.dwq");
    const std::string open = "/usr/bin/python3 -c 'import olefile,sys; olefile.OleFileIO(sys.argv[1]).openstream(\"VerbantPluginPrivateData/KestoExportTemplates/0\")' " + dwq;
    EXPECT_EQ(std::system(open.c_str()), 0) << dwq;

    // A menu script writes no exchange file and names none.
    const std::string menus = "TMPDIR=" + app.string() + " bash " + run.string() + " -v " + KESTO_BINARY_DIR +
                              " scripts/menus.xts > " + (app / "menus.txt").string() + " 2>/dev/null";
    ASSERT_EQ(std::system(menus.c_str()), 0) << ReadText(app / "menus.txt");
    EXPECT_NE(ReadText(app / "menus.txt").find("menu \"Kesto 7\" (7 items)"), std::string::npos);
    EXPECT_EQ(ReadText(app / "menus.txt").find(marker), std::string::npos);
}
