// The host against a module loaded from its XTensions folder: start-up, refusals, menus, the
// dialog protocol, alerts, file dialogs, the folder chooser, the host's own alerts and faults.
#include <fstream>

#include "platform/host/Host.h"
#include "tests/platform/host/HostTestSupport.h"

namespace xthost::testing {
namespace {

using Lines = std::vector<std::string>;

class HostStartUp : public HostFixture {};

TEST_F(HostStartUp, LoadsActivatesReservesSetsUpAndBuildsTheMenu)
{
    const Lines lines = RunOk("start\nquit\n");
    const Lines expected = {
        "load testmodule.so",
        "activation: compatibility query 0x00595043 0 11 0x40A20014 0",
        "activation: memory priority 200",
        "activation: register setup callback (priority 200)",
        "activation: register identifier callback (priority 200)",
        "activation: answer 0x00000000",
        "ids: new id 0x00001000",
        "ids: new id 0x00001001",
        "ids: new id 0x00001002",
        "ids: new id 0x00001003",
        "ids: answer 0x00000000",
        "setup: bind XND 2 (0 selectors)",
        "setup: bind XAQ 3 (17 selectors)",
        "setup: bind XDD 9 (10 selectors)",
        "setup: bind XFJ 12 (68 selectors)",
        "setup: bind XCF 5 (68 selectors)",
        "setup: bind XZC 2 (11 selectors)",
        "setup: bind XZD 2 (19 selectors)",
        "setup: bind XZH 2 (3 selectors)",
        "setup: bind XZO 2 (7 selectors)",
        "setup: bind XMV 4 (12 selectors)",
        "setup: bind XRN 2 (3 selectors)",
        "setup: interface QLIS 1 (152 bytes)",
        "setup: look up component handle XPTA",
        "setup: bind component XPTA",
        "module object 0x15000001 made",
        "setup: register kind 4 (priority 200)",
        "setup: register kind 4096 (priority 200)",
        "setup: register kind 4097 (priority 200)",
        "setup: register kind 4098 (priority 200)",
        "setup: register kind 4099 (priority 200)",
        "setup: register kind 6 (priority 200)",
        "setup: register kind 7 (priority 200)",
        "setup: register kind 10 (priority 200)",
        "setup: register kind 618 (priority 200)",
        "setup: request 0x913",
        "setup: request 0x912",
        "setup: answer 0x00000000",
        "build menus",
        "menu \"Test 7\" made (menu id 0x0100)",
        "menu \"Test 7\" inserted at 9",
        "menu \"Test 7\": item \" Needs document\" (command 0x0101)",
    };
    ASSERT_GE(lines.size(), expected.size());
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + expected.size()), expected);
    // The unload callback, then the library's own unload, during which the module hands its
    // menu back while the host is still there.
    const Lines end = {"unload callback", "module object 0x15000001 handed back",
                       "menu \"Test 7\" disposed", "unloaded"};
    EXPECT_EQ(Lines(lines.end() - end.size(), lines.end()), end);
}

TEST_F(HostStartUp, RefusalsAtEachStageStopTheStartAsTheModuleExpects)
{
    struct Case {
        const char* fault;
        const char* stage;
        std::vector<std::string> errorTexts;
        int newIds;
        bool registered;
        bool unloadCallback;
    };
    const Case cases[] = {
        {"fail compat with 0", "activation", {"Test activation failed"}, 0, false, false},
        {"fail newId after 2 with -1", "ids", {}, 2, false, false},
        {"fail bind:XFJ12 with -1", "setup", {"Test setup failed"}, 4, false, false},
        {"fail bind with -1", "setup", {"Test setup failed"}, 4, false, false},
        {"fail interface:QLIS1 with -1", "setup", {"Test setup failed"}, 4, false, false},
        {"fail component:XPTA with -1", "setup", {"Test setup failed"}, 4, false, false},
        {"fail setup-record with 12", "setup", {"Test setup failed"}, 4, false, false},
        {"fail request:0x913 with -1", "setup", {}, 4, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        const Lines lines = RunOk(std::string(c.fault) + "\nstart refused " + c.stage + "\n");
        EXPECT_EQ(moduleErrors, c.errorTexts);
        EXPECT_EQ(Count(lines, "new id"), c.newIds);
        EXPECT_EQ(Count(lines, "register kind") > 0, c.registered);
        EXPECT_EQ(Count(lines, "unload callback"), c.unloadCallback ? 1 : 0);
        EXPECT_EQ(Count(lines, "start refused at " + std::string(c.stage)), 1);
        EXPECT_EQ(lines.back(), "unloaded");
        EXPECT_EQ(Count(lines, "build menus"), 0);
    }
}

TEST_F(HostStartUp, ARefusedRequestStopsBeforeTheNextOne)
{
    const Lines lines = RunOk("fail request:0x913 with -1\nstart refused setup\n");
    EXPECT_EQ(Count(lines, "request 0x913"), 1);
    EXPECT_EQ(Count(lines, "request 0x912"), 0);
    EXPECT_EQ(Count(lines, "error text"), 0);
}

TEST_F(HostStartUp, MissingOrBrokenModulesAreReported)
{
    std::filesystem::remove(app / "XTensions" / "testmodule.so");
    EXPECT_NE(RunFailing("start\n").find("no module (*.so) in <app>/XTensions"), std::string::npos);

    std::ofstream(app / "XTensions" / "broken.so") << "not a shared object";
    EXPECT_NE(RunFailing("start\n").find("cannot load <app>/XTensions/broken.so"), std::string::npos);
    // A module that does not load is no refusal of the module's: the run fails.
    RunFailing("start refused\n");
}

TEST_F(HostStartUp, AnExpectedSuccessThatIsRefusedFailsTheRun)
{
    EXPECT_EQ(RunFailing("fail compat with 0\nstart\n"),
              "error: script line 2 (start): start refused at activation");
    EXPECT_EQ(RunFailing("start refused\n"), "error: script line 1 (start refused): start succeeded");
}

// ---------------------------------------------------------------------------------------------

class HostMenus : public HostFixture {};

TEST_F(HostMenus, UpdateFollowsTheDocumentAndDisabledItemsCannotBeChosen)
{
    const Lines lines = RunOk("start\nmenus\ndocument 0\nmenus\ndocument none\nmenus\n");
    EXPECT_EQ(Count(lines, "  \" Needs document\" disabled"), 2);
    EXPECT_EQ(Count(lines, "  \" Needs document\" enabled"), 1);
    EXPECT_EQ(Count(lines, "menu \"Test 7\": \" Needs document\" disabled"), 2);
    EXPECT_EQ(Count(lines, "menu \"Test 7\": \" Needs document\" enabled"), 1);

    EXPECT_EQ(RunFailing("start\nmenu \"Needs document\"\n"),
              "error: menu item \"Needs document\" is disabled");
    EXPECT_EQ(RunFailing("start\nmenu \"No such item\"\n"), "error: no menu item \"No such item\"");
    RunOk("start\ndocument 3\nmenu \"  Needs document \"\n");
}

TEST_F(HostMenus, BeepsAreCountedAndAQuitRequestIsHonouredAfterTheCall)
{
    const Lines lines = RunOk(
        "start\nmenu Beep\nmenu Beep\nexpect-beeps 2\nmenu \"Quit on idle\"\nidle 5\nexpect-quit\n");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "idle"), 1);
    const Lines tail = Slice(lines, "quit requested", "unloaded");
    EXPECT_EQ(tail, (Lines{"quit requested", "quitting at the module's request", "unload callback",
                           "module object 0x15000001 handed back", "menu \"Test 7\" disposed"}));
    EXPECT_EQ(RunFailing("start\nmenu \"Quit on idle\"\nidle\nidle\n"),
              "error: idle: no module is running");
}

// ---------------------------------------------------------------------------------------------

class HostDialogs : public HostFixture {};

TEST_F(HostDialogs, AModalDialogRunsTheWholeProtocolWithScriptedAnswers)
{
    const std::string folder = (app / "Documents").string();
    const Lines lines = RunOk(
        "start\nmenu \"Run options\"\n"
        "dialog 201\n"
        "  press 1002\n"
        "  folder \"Select folder\" Documents\n"
        "  edit 1003 \"typed over\"\n"
        "  check 1001 off\n"
        "  press 1004\n"
        "dialog 101\n"
        "  press 1\n"
        "alert 22100 press 1\n"
        "expect-beeps 0\n");
    const Lines expected = {
        "choose \"Test 7\" > \" Run options\" (command 0x0102)",
        "dialog 201 \"Options\" opens",
        "  1004 button \"OK\" disabled default",
        "  1005 button \"Cancel\"",
        "  1001 check \"Generate DWQ files\" on",
        "  1002 button \"...\"",
        "  1003 edit \"\"",
        "  \"Target folder\"",
        "dialog 201: press 1002 \"...\"",
        "folder chooser \"Select folder\" starts at \" \"",
        "folder chooser: \"<app>/Documents\"",
        "dialog 201: 1003 text \"<app>/Documents\"",
        "dialog 201: 1004 enabled",
        "dialog 201: edit 1003 \"typed over\"",
        "dialog 201: 1003 text \"<app>/Documents\"",
        "dialog 201: check 1001 off",
        "dialog 201: press 1004 \"OK\"",
        "dialog 201 ends confirmed",
        "dialog 101 \"Result\" opens",
        "  1 button \"OK\" default",
        "  \"Export done\"",
        "dialog 101: press 1 \"OK\"",
        "dialog 101 ends confirmed",
        "alert texts \"unticked \" \"<app>/Documents result 2\" \"\" \"\"",
        "alert 22100 \"\" opens (0x40)",
        "  4 icon",
        "  5 text \"unticked <app>/Documents result 2\"",
        "  6 text \"\"",
        "  1 button \"OK\" default",
        "alert 22100: press 1 \"OK\"",
    };
    EXPECT_EQ(Slice(lines, expected.front(), "unload callback"), expected);
}

TEST_F(HostDialogs, CancelAndCloseEndWithoutTheEndedMessage)
{
    for (const char* action : {"press 1005", "close"}) {
        SCOPED_TRACE(action);
        const Lines lines = RunOk(std::string("start\nmenu \"Run options\"\ndialog 201\n") + action +
                                  "\nexpect-beeps 1\n");
        EXPECT_EQ(Count(lines, "dialog 201 ends cancelled"), 1);
        EXPECT_EQ(Count(lines, "dialog 101"), 0);
    }
}

TEST_F(HostDialogs, WrongAnswersFailTheRunAndTheModuleIsLetOffWithACancel)
{
    EXPECT_EQ(RunFailing("start\nmenu \"Run options\"\ndialog 201\npress 1004\n"),
              "error: dialog 201: button 1004 is disabled");
    EXPECT_EQ(RunFailing("start\nmenu \"Run options\"\ndialog 201\npress 4711\n"),
              "error: dialog 201 has no button 4711");
    EXPECT_EQ(RunFailing("start\nmenu \"Run options\"\ndialog 201\ncheck 1002 on\n"),
              "error: dialog 201 has no check box 1002");
    EXPECT_EQ(RunFailing("start\nmenu \"Run options\"\ndialog 101\n"),
              "error: dialog 201 \"Options\": script line 3 (dialog 101): a different dialog opened");
    EXPECT_EQ(RunFailing("start\nmenu \"Run options\"\n"),
              "error: unexpected dialog 201 \"Options\" (end of script)");
    EXPECT_EQ(RunFailing("start\nmenu \"Run options\"\nidle\n"),
              "error: unexpected dialog 201 \"Options\" (next is script line 3 (idle))");
    EXPECT_EQ(RunFailing("start\nmenu Beep\nfolder \"Select folder\" cancel\n"),
              "error: script line 3 (folder \"Select folder\" cancel): this answer's prompt did not come");
}

TEST_F(HostDialogs, ADialogThatFailsOrLacksItsTemplateNeverOpens)
{
    for (const char* fault : {"fail XCF5/2 with -1", "fail template:201 with -1"}) {
        SCOPED_TRACE(fault);
        const Lines lines = RunOk(std::string("start\n") + fault + "\nmenu \"Run options\"\n");
        EXPECT_EQ(Count(lines, "dialog 201 \"Options\" opens"), 0);
        EXPECT_EQ(Count(lines, "fault: "), 1);
    }
}

TEST_F(HostDialogs, AutoAnswerTakesDefaultsAndCancelsChoosers)
{
    const Lines lines = RunOk("start\nmenu \"Run options\"\nmenu \"Pick folder\"\nmenu \"Ask alert\"\n"
                              "expect-beeps 2\n",
                              true);
    // The default button is disabled: the user closes the dialog.
    EXPECT_EQ(Count(lines, "dialog 201: close box"), 1);
    EXPECT_EQ(Count(lines, "folder chooser: cancelled"), 1);
    EXPECT_EQ(Count(lines, "alert 22200: press 1 \"Cancel\""), 1);
}

TEST_F(HostDialogs, AlertsTakeTheirParametersAndAnswerThePressedButton)
{
    const Lines lines = RunOk("start\nmenu \"Ask alert\"\nalert 22200 press 2\nexpect-beeps 1\n");
    EXPECT_EQ(Count(lines, "  5 text \"Continue?\""), 1);
    EXPECT_EQ(Count(lines, "alert 22200: press 2 \"Continue\""), 1);
    EXPECT_EQ(RunFailing("start\nmenu \"Ask alert\"\nalert 22200 press 5\n"),
              "error: alert 22200: expected a press of one of its buttons");
}

TEST_F(HostDialogs, ModelessProgressShowsItsTextAndBar)
{
    const Lines lines = RunOk("start\nmenu Progress\n");
    const Lines expected = {
        "dialog 22300 \"\" opens modeless",
        "  1 bar 0/0",
        "  2 text \"^0\"",
        "dialog 22300 shown",
        "dialog 22300: 2 text \"\"",
        "dialog 22300: 1 bar 0/100",
        "dialog 22300: 2 text \"Half way\"",
        "dialog 22300: 1 bar 50/100",
        "dialog 22300 closed",
    };
    EXPECT_EQ(Slice(lines, expected.front(), "unload callback"), expected);
}

TEST_F(HostDialogs, TheHostsOwnAlertIsDismissedByTheModulesPostedClick)
{
    for (const char* title : {"QuarkXPress (tm)", "QuarkXPress Passport (tm)"}) {
        SCOPED_TRACE(title);
        const Lines lines = RunOk(std::string("start\nmenu Opening\nhost-alert \"") + title +
                                  "\" \"Missing fonts\"\nmenu \"Close opening\"\n");
        EXPECT_EQ(Count(lines, "dialog 106: timer"), 1);
        EXPECT_EQ(Count(lines, std::string("host alert \"") + title +
                                   "\" closed by a click on button 2"),
                  1);
        EXPECT_EQ(Count(lines, "dialog 106 closed"), 1);
    }
    // An alert of another title stays for the user; without the "Opening..." dialog too.
    const Lines other = RunOk("start\nmenu Opening\nhost-alert \"Other\" \"x\"\nalert host press 1\n"
                              "host-alert \"QuarkXPress (tm)\" \"y\"\n");
    EXPECT_EQ(Count(other, "find window \"#32770\" \"QuarkXPress (tm)\": none"), 1);
    EXPECT_EQ(Count(other, "host alert \"Other\": press 1"), 1);
    EXPECT_EQ(Count(other, "host alert \"QuarkXPress (tm)\" closed by a click on button 2"), 1);
    EXPECT_EQ(Count(other, "dialog 106 still open at quit"), 1);
    const Lines none = RunOk("start\nhost-alert \"QuarkXPress (tm)\" \"y\"\nalert host press 2\n");
    EXPECT_EQ(Count(none, "host alert \"QuarkXPress (tm)\": press 2"), 1);

    // The host's error reporting shows such an alert for a non-zero code.
    const Lines reported = RunOk("start\nmenu Opening\nmenu \"Report error\"\nexpect-beeps 1\n"
                                 "menu \"Close opening\"\nmenu \"Report error\"\nalert host press 1\n");
    EXPECT_EQ(Count(reported, "host alert \"QuarkXPress (tm)\" \"The operation failed (error -43).\" opens"), 2);
    EXPECT_EQ(Count(reported, "closed by a click on button 2"), 1);
}

// ---------------------------------------------------------------------------------------------

class HostFiles : public HostFixture {};

TEST_F(HostFiles, OpenDialogTakesOneMatchingFile)
{
    std::ofstream(app / "Documents" / "a.dwq") << "x";
    std::ofstream(app / "Documents" / "b.DWQ") << "x";
    std::ofstream(app / "Documents" / "c.txt") << "x";
    const Lines lines = RunOk("start\nmenu \"Open file\"\nopen \"Choose Verbant file to import:\" Documents/b.DWQ\n"
                              "alert 22100 press 1\n");
    EXPECT_EQ(Count(lines, "open dialog \"Choose Verbant file to import:\" filter \"Verbant Files\" (*.dwq)"), 1);
    EXPECT_EQ(Count(lines, "  5 text \"<app>/Documents/b.DWQ\""), 1);

    // Two files: the module wants exactly one.
    RunOk("start\nmenu \"Open file\"\nopen * Documents/a.dwq Documents/b.DWQ\nexpect-beeps 1\n");
    RunOk("start\nmenu \"Open file\"\nopen * cancel\nexpect \"open dialog: cancelled\"\nexpect-beeps 1\n");
    EXPECT_EQ(RunFailing("start\nmenu \"Open file\"\nopen * Documents/c.txt\n"),
              "error: open dialog: \"<app>/Documents/c.txt\" does not match the filter");
    EXPECT_EQ(RunFailing("start\nmenu \"Open file\"\nopen * Documents/none.dwq\n"),
              "error: open dialog: \"<app>/Documents/none.dwq\" is no file");
    EXPECT_EQ(RunFailing("start\nmenu \"Open file\"\nopen \"Other title\" Documents/a.dwq\n"),
              "error: open dialog \"Choose Verbant file to import:\": script line 3 (open \"Other title\" "
              "Documents/a.dwq): a prompt with another title came");
}

TEST_F(HostFiles, SaveDialogProposesItsNameAndTheModuleCreatesTheFile)
{
    const Lines lines = RunOk("start\nmenu \"Save file\"\nsave \"Verbant output file name:\" default proposed report.dwq\n"
                              "alert 22100 press 1\n");
    EXPECT_EQ(Count(lines, "proposes \"<app>/Documents/report.dwq\""), 1);
    EXPECT_EQ(Count(lines, "file created \"<app>/Documents/report.dwq\" (XPR3)"), 1);
    EXPECT_TRUE(std::filesystem::exists(app / "Documents" / "report.dwq"));

    // An existing file is replaced after the host's own confirmation; a name without an
    // extension gets the filter's.
    const Lines again = RunOk("start\nmenu \"Save file\"\nsave * Documents/report.dwq\nalert 22100 press 1\n"
                              "menu \"Save file\"\nsave * Documents/other\nalert 22100 press 1\n");
    EXPECT_EQ(Count(again, "save dialog: \"<app>/Documents/report.dwq\" (replace confirmed)"), 1);
    EXPECT_EQ(Count(again, "file created \"<app>/Documents/other.dwq\""), 1);

    EXPECT_EQ(RunFailing("start\nmenu \"Save file\"\nsave * default proposed other.dwq\n"),
              "error: save dialog \"Verbant output file name:\": script line 3 (save * default proposed "
              "other.dwq): the dialog proposes \"report.dwq\"");
    EXPECT_EQ(RunFailing("start\nmenu \"Save file\"\nsave * Missing/x.dwq\n"),
              "error: save dialog: \"<app>/Missing/x.dwq\" is in no existing folder");
    RunOk("start\nmenu \"Save file\"\nsave * cancel\nexpect-beeps 1\n");
}

TEST_F(HostFiles, FolderChooserAnswersAndRefusals)
{
    RunOk("start\nmenu \"Pick folder\"\nfolder * cancel\nexpect-beeps 1\n");
    const Lines injected = RunOk("start\nfail XFJ12/13 with -128\nmenu \"Pick folder\"\nexpect-beeps 1\n");
    EXPECT_EQ(Count(injected, "folder chooser \""), 0);
    std::ofstream(app / "Documents" / "file.qxp") << "x";
    EXPECT_EQ(RunFailing("start\nmenu \"Pick folder\"\nfolder * Documents/file.qxp\n"),
              "error: folder chooser: \"<app>/Documents/file.qxp\" is no folder");
    // The root folder and a folder whose path is longer than 259 bytes survive the round trip
    // through the host's file record.
    const Lines root = RunOk("start\nmenu \"Pick folder\"\nfolder * /\nalert 22100 press 1\n");
    EXPECT_EQ(Count(root, "  5 text \"/\""), 1);
    std::filesystem::path deep = app / "Documents";
    for (int i = 0; i < 3; ++i)
        deep /= std::string(90, 'd');
    std::filesystem::create_directories(deep);
    const Lines deepLines =
        RunOk("start\nmenu \"Pick folder\"\nfolder * \"" + deep.string() + "\"\nalert 22100 press 1\n");
    EXPECT_EQ(Count(deepLines, "  5 text \"<app>/" + std::filesystem::relative(deep, app).string() + "\""), 1);
}

TEST_F(HostFiles, SettingsPathAndTemporaryFolderComeFromTheApplicationFolder)
{
    const Lines lines = RunOk("start\nmenu \"Settings path\"\nalert 22100 press 1\n");
    EXPECT_EQ(Count(lines, "  5 text \"<app>/XTensions/kesto.ini<app>/Temp\""), 1);
    EXPECT_TRUE(std::filesystem::is_directory(app / "Temp"));
}

// ---------------------------------------------------------------------------------------------

class HostFaults : public HostFixture {};

TEST_F(HostFaults, UnemulatedSlotsAndUnknownHandlesFailLoudlyWithoutACrash)
{
    EXPECT_EQ(RunFailing("start\nmenu Unemulated\n"), "error: host op XCF 5 slot 30 not emulated");
    EXPECT_EQ(RunFailing("start\nmenu \"Bad handle\"\n"),
              "error: dispose menu: unknown menu handle 0x10FFFFFF");
}

TEST_F(HostFaults, RulesCountTheirCallsAndApplyAfterAndTimes)
{
    const Lines lines = RunOk("start\nfail XCF5/9 after 1 times 1 with 0\nmenu Beep\nmenu Beep\nmenu Beep\n"
                              "expect-beeps 2\n");
    EXPECT_EQ(Count(lines, "fault: XCF5/9 answers 0"), 1);
}

}  // namespace
}  // namespace xthost::testing
