// Message boxes and dialogs in every kind of run: logged, shown, or both, with the answers the
// callers go on with.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Plugin/ModuleHostFixture.h"
#include "Plugin/Mixer/MessageBox.h"
#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/KestoInterface.h"

namespace {

class MessageBoxTest : public kesto_test::ModuleHostTest {
protected:
    MessageBoxTest() : ModuleHostTest("mixer") {}

    // The boxes here are shown on purpose, forced by their caller also in runs that nobody
    // watches: the host's own answers stand in for the user.
    void Start()
    {
        ModuleHostTest::Start();
        host->SetAnswerer(nullptr);
    }
};

struct Case {
    const char* name;
    bool multiDoc, server;
    bool force1, force2, force3;
    bool box;             // ShowMessageBox, else ShowDialog (the save question)
    bool alertAnswersZero;
    // Expected:
    bool logged;
    bool shown;
    int16_t answer;       // of ShowMessageBox; -1: the pressed button
};

TEST_F(MessageBoxTest, TheCasesOfEveryKindOfRun)
{
    Start();
    const Case cases[] = {
        // name, multi-document, server, force 1-3, box, alert answers 0, logged, shown, answer
        {"server, no force: logged, answer 0", false, true, false, false, false, true, false, true, false, 0},
        {"server, force 1: logged and shown", false, true, true, false, false, true, false, true, true, -1},
        {"multi-document with force 1: the dialog is neither logged nor suppressed", true, false, true, false, false,
         false, false, false, true, 0},
        {"multi-document: the save question is logged and answers its default", true, false, false, false, false,
         false, false, true, false, 0},
        {"server with force 1: the dialog is logged, then shown", false, true, true, false, false, false, false, true,
         true, 0},
        {"interactive, the host alert answers 0: texts cleared", false, false, false, false, false, true, true, false,
         true, 0},
        {"interactive: shown", false, false, false, false, false, true, false, false, true, -1},
    };
    KestoInterface* module = KestoInterface::Instance();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        module->m_multiDocMode = c.multiDoc;
        module->m_serverMode = c.server;
        host->Faults().Clear();
        if (c.alertAnswersZero)
            host->Faults().Add(xthost::FaultRule{"XCF5/7", 0, 0, 1});
        const std::string logBefore = GeneralLog();
        const size_t linesBefore = host->Log().Lines().size();
        if (c.box) {
            const int16_t answer = ShowMessageBox(22100, "one", "two", "three", "four", c.force1, c.force2, c.force3);
            const std::string added = GeneralLog().substr(logBefore.size());
            EXPECT_EQ(added, c.logged ? "\nSUPPRESSED MESSAGE BOX:\tone\ttwo\tthree\tfour\n" : "");
            bool opened = false, cleared = false;
            for (size_t i = linesBefore; i < host->Log().Lines().size(); ++i) {
                const std::string& line = host->Log().Lines()[i];
                opened |= line.find("alert 22100") != std::string::npos && line.find("opens (0x40)") != std::string::npos;
                cleared |= line == "alert texts \"\" \"\" \"\" \"\"";
            }
            EXPECT_EQ(opened, c.shown && !c.alertAnswersZero);
            EXPECT_EQ(cleared, c.alertAnswersZero);
            if (c.answer >= 0) {
                EXPECT_EQ(answer, c.answer);
            } else {
                EXPECT_GT(answer, 0);
            }
        } else {
            int32_t result = -5;
            const int32_t fallback = 7;
            ShowDialog(DialogKind::SaveChanges, 0, &result, &fallback, c.force1, c.force2, c.force3);
            const std::string added = GeneralLog().substr(logBefore.size());
            EXPECT_EQ(added, c.logged ? "\nSUPPRESSED DIALOG:\t\t->\tFile was changed. Save it?\n" : "");
            if (c.logged && !c.shown) {
                EXPECT_EQ(result, 7);
            }
            bool opened = false;
            for (size_t i = linesBefore; i < host->Log().Lines().size(); ++i)
                opened |= host->Log().Lines()[i].find("opens") != std::string::npos;
            EXPECT_EQ(opened, c.shown);
        }
    }
}

TEST_F(MessageBoxTest, ABatchRunWithTheFirstForceFlagLogsAndShows)
{
    // An outside controller's request, claimed when the module loads.
    std::filesystem::create_directories(
        app / "Registry/HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology/Kesto 50 Batch Mode");
    UnloadKestoModule();
    LoadKestoModule();
    Start();
    ASSERT_TRUE(CurrentUnattendedState().batch);
    const std::string before = GeneralLog();
    EXPECT_GT(ShowMessageBox(22100, "a", "b", "c", "d", true, false, false), 0);
    EXPECT_EQ(CountLines("opens (0x40)"), 1);
    int32_t result = 0;
    const int32_t fallback = 7;
    ShowDialog(DialogKind::SaveChanges, 0, &result, &fallback, true, false, false);
    EXPECT_EQ(GeneralLog().substr(before.size()),
              "\nSUPPRESSED MESSAGE BOX:\ta\tb\tc\td\n\nSUPPRESSED DIALOG:\t\t->\tFile was changed. Save it?\n");
    int dialogs = 0;
    for (const auto& line : host->Log().Lines())
        dialogs += line.find("opens") != std::string::npos && line.find("alert") == std::string::npos;
    EXPECT_EQ(dialogs, 1);
}

TEST_F(MessageBoxTest, ARefusedTextShowsNoAlert)
{
    Start();
    host->Faults().Add(xthost::FaultRule{"XCF5/8", -50, 0, 1});
    EXPECT_EQ(ShowMessageBox(22100, "a", "b", "c", "d", false, false, false), -50);
    EXPECT_EQ(CountLines("alert 22100"), 0);
    EXPECT_EQ(SetAlertText("w", "x", "y", "z"), 0);
    EXPECT_EQ(CountLines("alert texts \"w\" \"x\" \"y\" \"z\""), 1);
}

} // namespace
