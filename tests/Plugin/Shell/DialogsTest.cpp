// The result dialogs, the save question, "Opening...", the progress dialog, the dialog call of
// unattended runs and the compiled-in templates.
#include "DialogTestSupport.h"

#include <set>

#include "Plugin/Shell/Dialogs.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoInterface.h"

namespace dialogtest {
namespace {

// ---- Templates -------------------------------------------------------------------------------

TEST(DialogTemplatesTest, EveryDialogAndAlertHasOneTemplateWithDistinctItems)
{
    const std::set<int32_t> expected = {101, 103, 104, 105, 106, 107, 108, 111, 112,
                                        113, 114, 115, 116, 117, 22100, 22200, 22300};
    std::set<int32_t> found;
    for (const XTDialogTemplate* t = DialogTemplatesBegin(); t != DialogTemplatesEnd(); ++t) {
        EXPECT_TRUE(found.insert(t->resId).second) << t->resId;
        EXPECT_EQ(FindDialogTemplate(t->resId), t);
        EXPECT_EQ(XTGetDialogTemplate(t->resId), t);
        EXPECT_EQ(t->language, t->resId >= 22100 ? 1049 : 1033) << t->resId;
        std::set<int32_t> ids;
        for (int32_t i = 0; i < t->itemCount; ++i) {
            if (t->items[i].id != XT_ITEM_UNADDRESSED) {
                EXPECT_TRUE(ids.insert(t->items[i].id).second) << t->resId << " item " << t->items[i].id;
            }
        }
    }
    EXPECT_EQ(found, expected);
    EXPECT_EQ(FindDialogTemplate(102), nullptr);
    EXPECT_EQ(FindDialogTemplate(0), nullptr);
    EXPECT_EQ(FindDialogTemplate(99999), nullptr);
}

TEST(DialogTemplatesTest, TheQuestionAlertDefaultsToCancel)
{
    const XTDialogTemplate* t = FindDialogTemplate(22200);
    ASSERT_NE(t, nullptr);
    const XTDialogItemTemplate* cancel = nullptr;
    const XTDialogItemTemplate* next = nullptr;
    for (int32_t i = 0; i < t->itemCount; ++i) {
        if (t->items[i].id == 1)
            cancel = &t->items[i];
        if (t->items[i].id == 2)
            next = &t->items[i];
    }
    ASSERT_TRUE(cancel && next);
    EXPECT_STREQ(cancel->text, "Cancel");
    EXPECT_TRUE(cancel->flags & XT_ITEM_DEFAULT);
    EXPECT_STREQ(next->text, "Continue");
    EXPECT_FALSE(next->flags & XT_ITEM_DEFAULT);
}

// ---- Window callbacks, called as the host calls them ------------------------------------------

TEST(DialogCallbacksTest, ResultDialogsAnswerOnlyTheTemplateQuestion)
{
    const struct {
        XTCallbackFn callback;
        uint32_t resId;
    } dialogs[] = {{&ExportDoneDlgCB, 101}, {&ExportFailedDlgCB, 112}, {&ImportDoneDlgCB, 103},
                   {&ImportFailedDlgCB, 104}, {&SaveChangesDlgCB, 105}};
    for (const auto& d : dialogs) {
        uint32_t resId = 0;
        XTDialogRec rec{};
        rec.message = XT_DLG_MSG_GETRESOURCE;
        rec.resIdOut = &resId;
        EXPECT_EQ(d.callback(&rec), 0);
        EXPECT_EQ(resId, d.resId);
        EXPECT_EQ(rec.handled, 1);

        for (uint32_t message : {XT_DLG_MSG_ITEMSCREATED, XT_DLG_MSG_FILL, XT_DLG_MSG_ITEMHIT, XT_DLG_MSG_ENDED}) {
            XTDialogRec other{};
            other.message = message;
            other.itemId = 1;
            EXPECT_EQ(d.callback(&other), 0);
            EXPECT_EQ(other.handled, 0);
            EXPECT_EQ(other.resIdOut, nullptr);
        }
        EXPECT_EQ(d.callback(nullptr), 0);
    }
}

// ---- In the host ------------------------------------------------------------------------------

class DialogsTest : public DialogHostTest {
protected:
    void SetUp() override
    {
        DialogHostTest::SetUp();
        calls["export-done"] = [this] { Show(DialogKind::ExportDone); };
        calls["save-changes"] = [this] { Show(DialogKind::SaveChanges); };
    }

    void Show(DialogKind dialog, bool forceMultiDoc = false, bool forceBatch = false, bool forceServer = false)
    {
        result = -1;
        const int32_t fallback = 7;
        answer = ShowDialog(dialog, 0, &result, &fallback, forceMultiDoc, forceBatch, forceServer);
    }

    int32_t result = -1;
    int32_t answer = -1;
};

TEST_F(DialogsTest, ResultDialogsEndByTheHostsOwnButtons)
{
    auto lines = RunOk("start\ncall export-done\ndialog 101\n  press 1\n");
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(result, XT_DLG_RESULT_CONFIRMED);
    EXPECT_TRUE(Has(lines, "dialog 101 \"Result\" opens"));
    EXPECT_TRUE(Has(lines, "  \"Export done\""));

    lines = RunOk("start\ncall save-changes\ndialog 105\n  press 2\n");
    EXPECT_EQ(result, XT_DLG_RESULT_CANCELLED);
    EXPECT_TRUE(Has(lines, "  2 button \"Cancel Export\""));
    EXPECT_TRUE(Has(lines, "  \"File was changed. Save it?\""));
}

TEST_F(DialogsTest, UnattendedRunsLogTheDialogAndAnswerTheDefault)
{
    calls["multidoc"] = [] { KestoInterface::Instance()->SetMultiDocMode(true); };
    calls["interactive"] = [] { KestoInterface::Instance()->SetMultiDocMode(false); };
    calls["server"] = [] { KestoInterface::Instance()->SetServerMode(true); };
    calls["batch"] = [] { State().batchRequested = true; };
    calls["export-failed-forced-by-multidoc"] = [this] { Show(DialogKind::ExportFailed, true); };
    calls["overwrite-forced-by-batch"] = [this] { Show(DialogKind::OverwritePdf, false, true); };

    // Multi-document mode: logged, not shown.
    auto lines = RunOk("start\ncall multidoc\ncall export-done\n");
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(result, 7);
    EXPECT_FALSE(Has(lines, "dialog 101"));
    EXPECT_NE(GeneralLog().find("\nSUPPRESSED DIALOG:\tResult\t->\tExport done\n"), std::string::npos);

    // Its own force flag: shown without a log line.
    lines = RunOk("start\ncall multidoc\ncall export-failed-forced-by-multidoc\ndialog 112\n  press 1\n");
    EXPECT_EQ(result, XT_DLG_RESULT_CONFIRMED);
    EXPECT_EQ(GeneralLog().find("SUPPRESSED DIALOG:\tResult\t->\tExport failed"), std::string::npos);

    // Server mode without its force flag, but another flag set: logged, and then shown.
    lines = RunOk("start\ncall server\ncall export-failed-forced-by-multidoc\ndialog 112\n  press 1\n");
    EXPECT_NE(GeneralLog().find("\nSUPPRESSED DIALOG:\tResult\t->\tExport failed\n"), std::string::npos);
    EXPECT_EQ(result, XT_DLG_RESULT_CONFIRMED);

    // A batch run: an overwrite question forced for batch runs is shown without a log line.
    lines = RunOk("start\ncall batch\ncall overwrite-forced-by-batch\ndialog 116\n  press 1014\n");
    EXPECT_EQ(GeneralLog().find("SUPPRESSED DIALOG:\tOverwrite files?"), std::string::npos);
    lines = RunOk("start\ncall batch\ncall save-changes\n");
    EXPECT_NE(GeneralLog().find("\nSUPPRESSED DIALOG:\t\t->\tFile was changed. Save it?\n"), std::string::npos);
    EXPECT_EQ(result, 7);

    // Nobody unattended: shown.
    Reset();
    lines = RunOk("start\ncall interactive\ncall export-done\ndialog 101\n  press 1\n");
    EXPECT_EQ(result, XT_DLG_RESULT_CONFIRMED);
}

TEST_F(DialogsTest, TheProgressDialogOpensEmptyAtZeroAndShowsItsText)
{
    XTHandle progress = 0;
    calls["open"] = [&progress] { progress = OpenProgressDialog(); };
    calls["text"] = [&progress] { SetProgressDialogText(progress, "File 1 of 3"); };
    calls["close"] = [&progress] { CallHost<XCF_CloseModeless>(progress); };
    const auto lines = RunOk("start\ncall open\ncall text\ncall close\n");
    EXPECT_NE(progress, 0);
    EXPECT_EQ(Filter(lines, {"dialog 22300:"}),
              (std::vector<std::string>{"dialog 22300: 2 text \"\"", "dialog 22300: 1 bar 0/100",
                                        "dialog 22300: 2 text \"File 1 of 3\""}));
}

TEST_F(DialogsTest, AFailedProgressDialogAnswersNoHandle)
{
    XTHandle progress = -1;
    calls["open"] = [&progress] {
        progress = OpenProgressDialog();
        SetProgressDialogText(progress, "File 1 of 3");
    };
    RunOk("start\nfail XCF5/3 with -50\ncall open\n");
    EXPECT_EQ(progress, 0);
}

TEST_F(DialogsTest, OpeningClosesTheHostsOwnAlertsByTheirSecondButton)
{
    XTHandle opening = 0;
    calls["open"] = [&opening] {
        CallHost<XCF_RunModeless>(DialogKindOf(DialogKind::Opening), 0, &opening);
        CallHost<XCF_ShowDialog>(opening, 1);
    };
    calls["close"] = [&opening] { CallHost<XCF_CloseModeless>(opening); };
    const auto lines = RunOk(R"xts(
start
call open
host-alert "QuarkXPress (tm)" "Some fonts are missing."
expect "closed by a click on button 2"
host-alert "QuarkXPress Passport (tm)" "Missing XTensions."
expect "closed by a click on button 2"
host-alert "Another program" "Not ours."
alert host press 1
call close
)xts");
    EXPECT_TRUE(Has(lines, "dialog 106"));
}

} // namespace
} // namespace dialogtest
