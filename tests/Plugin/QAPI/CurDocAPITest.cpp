// The current document and the host document object against the emulated host's documents:
// specifications across save and reopen, untitled projects, the work boxes of Finish, the host
// preferences, the clock's time stamp and the source description text.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "Foundation/Settings.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/KestoInterface.h"

namespace {

class CurDocAPITest : public kesto_test::ModuleHostTest {
protected:
    CurDocAPITest() : ModuleHostTest("qapi") {}
};

bool SameSpec(const HostFileSpec& a, const HostFileSpec& b)
{
    return a.volume == b.volume && a.parentId == b.parentId && FileSpecName(a) == FileSpecName(b);
}

TEST_F(CurDocAPITest, NoDocument)
{
    Start();
    EXPECT_FALSE(CurDocAPI::IsExist());
    EXPECT_EQ(CurDocAPI::GetIndex(), -1);
    EXPECT_EQ(CurDocAPI::GetDocumentCount(), 0);
    RefPtr<QuarkDoc> doc(new QuarkDoc);
    HostFileSpec spec{};
    EXPECT_EQ(doc->GetSpec(&spec), 12);
    EXPECT_FALSE(doc->GetProjectFlag());
}

TEST_F(CurDocAPITest, TheSpecSurvivesSaveCloseAndReopen)
{
    Start();
    const std::string path = OpenExample("two-page-linked.qxp");
    EXPECT_TRUE(CurDocAPI::IsExist());
    EXPECT_EQ(CurDocAPI::GetDocumentCount(), 1);
    EXPECT_FALSE(CurDocAPI::IsUntitled());
    EXPECT_FALSE(CurDocAPI::NeedsSave());
    HostFileSpec before{};
    ASSERT_EQ(CurDocAPI::GetSpec(&before), 0);
    EXPECT_EQ(FileSpecName(before), "two-page-linked.qxp");

    RefPtr<QuarkDoc> doc(new QuarkDoc);
    EXPECT_FALSE(doc->WasFlagSet());
    ASSERT_NE(doc->Fonts(), nullptr);
    // An edit makes the document need a save; the save command clears it.
    XTHandle text = 0;
    int32_t length = 0;
    ASSERT_EQ(Docs().StoryOfBox(Box(3), &text, &length), XT_OK);
    ASSERT_EQ(InsertHostText(text, 0, 3, u"New", 0), 0);
    EXPECT_TRUE(CurDocAPI::NeedsSave());
    EXPECT_TRUE(doc->GetProjectFlag());
    EXPECT_TRUE(CurDocAPI::SaveIfNeeded());
    EXPECT_FALSE(CurDocAPI::NeedsSave());
    EXPECT_TRUE(doc->Save());

    const QFontList* fonts = doc->Fonts();
    const size_t refreshes = CountCalls("XDD9/111");
    doc->RefreshFonts();
    EXPECT_EQ(Calls(refreshes), 1);
    ASSERT_NE(doc->Fonts(), nullptr);
    EXPECT_NE(doc->Fonts(), fonts);
    EXPECT_EQ(doc->Fonts()->Size(), 1u);

    doc->SetOwns(true);
    doc = nullptr;  // closes the window
    EXPECT_FALSE(CurDocAPI::IsExist());
    ASSERT_EQ(Docs().Open(path, 63), XT_OK);
    HostFileSpec after{};
    ASSERT_EQ(CurDocAPI::GetSpec(&after), 0);
    EXPECT_TRUE(SameSpec(before, after));
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST_F(CurDocAPITest, ANewProjectIsUntitledAndNeedsSaving)
{
    Start();
    XTHandle project = 0;
    ASSERT_EQ(Docs().NewProject("Layout 1", "XDOC", 792 << 16, 576 << 16, 36 << 16, &project), XT_OK);
    EXPECT_TRUE(CurDocAPI::IsUntitled());
    EXPECT_TRUE(CurDocAPI::NeedsSave());
    HostFileSpec spec{};
    std::strcpy(spec.name, "untouched");
    EXPECT_EQ(CurDocAPI::GetSpec(&spec), -43);
    EXPECT_STREQ(spec.name, "untouched");
    RefPtr<QuarkDoc> doc(new QuarkDoc);
    EXPECT_EQ(doc->GetSpec(&spec), -43);
}

TEST_F(CurDocAPITest, FinishDisposesOnlyItsOwnWorkBoxes)
{
    Start();
    OpenExample("two-page-linked.qxp");
    RefPtr<QuarkDoc> first(new QuarkDoc);
    const XTHandle firstDoc = xt_getdocref();
    const XTHandle a = CreateWorkBox();
    const XTHandle b = CreateWorkBox();
    AddWorkBox(firstDoc, a);
    AddWorkBox(firstDoc, b);

    OpenExample("minimal.qxp");
    RefPtr<QuarkDoc> second(new QuarkDoc);
    const XTHandle secondDoc = xt_getdocref();
    ASSERT_NE(secondDoc, firstDoc);
    const XTHandle c = CreateWorkBox();
    AddWorkBox(secondDoc, c);
    RemoveWorkBox(b);
    Docs().DisposeBox(b, 1);
    EXPECT_EQ(WorkBoxCount(), 2u);

    // Server mode: the boxes go, the document is not saved.
    KestoInterface::Instance()->m_serverMode = true;
    const size_t saves = CountCalls("XDD9/109");
    first->Finish();
    EXPECT_EQ(Calls(saves), 0);
    EXPECT_EQ(WorkBoxCount(), 1u);
    uint8_t bits = 0;
    EXPECT_NE(Docs().BoxKinds(a, &bits), XT_OK);
    EXPECT_EQ(Docs().BoxKinds(c, &bits), XT_OK);

    // The second document closes with its box listed: the entry is dropped, nothing disposed.
    second->MakeCurrent();
    EXPECT_EQ(CloseProject(-1, 1), 0);
    KestoInterface::Instance()->m_serverMode = false;
    const size_t disposals = CountCalls("XBY9/108");
    first->Finish();
    EXPECT_EQ(Calls(disposals), 0);
    EXPECT_EQ(WorkBoxCount(), 0u);
    EXPECT_EQ(Calls(saves), 1);
    EXPECT_FALSE(host->Failed()) << host->Log().Text();
}

TEST_F(CurDocAPITest, OpenBySpecificationChecksTheJob)
{
    Start();
    const std::filesystem::path examples = std::filesystem::path(KESTO_SOURCE_DIR) / "examples/documents";
    const std::string path = (app / "two-page-linked.qxp").string();
    const std::string other = (app / "minimal.qxp").string();
    std::filesystem::copy_file(examples / "two-page-linked.qxp", path);
    std::filesystem::copy_file(examples / "minimal.qxp", other);
    HostFileSpec spec{}, otherSpec{};
    ASSERT_EQ(xt_fsmakefsspec(0, 0, path.c_str(), &spec), 0);
    ASSERT_EQ(xt_fsmakefsspec(0, 0, other.c_str(), &otherSpec), 0);

    // A job whose source is missing opens nothing.
    CurrentJob->source.SetPath((app / "missing.qxp").string());
    EXPECT_FALSE(CurDocAPI::Open(spec, true));
    EXPECT_FALSE(CurDocAPI::IsExist());

    CurrentJob->source.SetPath(path);
    CurrentJob->kind = ConversionKind::ToExchange;
    const std::string before = GeneralLog();
    EXPECT_TRUE(CurDocAPI::Open(spec, true));
    EXPECT_EQ(CurDocAPI::GetDocumentCount(), 1);
    EXPECT_EQ(GeneralLog(), before);
    EXPECT_EQ(CountLines("options=63"), 1);

    // Another specification than the job's: a warning, and it opens all the same.
    RefPtr<QuarkDoc> doc(QuarkDoc::Open(otherSpec, false));
    ASSERT_TRUE(doc);
    EXPECT_EQ(CountLines("options=31"), 1);
    EXPECT_NE(GeneralLog().find(">>>>>>>>> WARNING: CurDocAPI::Open(): theSpec <-> fsp ARE DIFFERENT!!! <<<<<<<<<\n"),
              std::string::npos);
    EXPECT_EQ(CurDocAPI::GetDocumentCount(), 2);
    HostFileSpec current{};
    ASSERT_EQ(doc->GetSpec(&current), 0);
    EXPECT_TRUE(SameSpec(current, otherSpec));
    // Opening it again brings it to the front only: no new object.
    EXPECT_EQ(QuarkDoc::Open(otherSpec, false), nullptr);
}

TEST_F(CurDocAPITest, PreferencesSwitchOffAndBack)
{
    Start();
    host->application.preferences[1] = false;
    HostPrefs saved;
    SuspendHostPrefs(saved);
    EXPECT_EQ(saved.on[0], 1);
    EXPECT_EQ(saved.on[1], 0);
    EXPECT_FALSE(host->application.preferences[0]);
    RestoreHostPrefs(saved);
    EXPECT_TRUE(host->application.preferences[0]);
    EXPECT_FALSE(host->application.preferences[1]);
}

TEST_F(CurDocAPITest, TimeStampOfTheHostClock)
{
    Start();
    host->application.clock = XTClockRec{2024, 3, 7, 9, 5, 1};
    host->application.clockFrozen = true;
    EXPECT_EQ(HostTimeStamp(false, true, true), "2024-03-07 09:05:01");
    EXPECT_EQ(HostTimeStamp(true, true, true), "20240307090501");
    EXPECT_EQ(HostTimeStamp(false, true, false), "2024-03-07");
    EXPECT_EQ(HostTimeStamp(false, false, true), "09:05:01");
    EXPECT_EQ(HostTimeStamp(true, false, false), "");
}

TEST_F(CurDocAPITest, SourceDescriptionKeepsItsFirstMasterPageMode)
{
    Start("[Options]\nmasterPageMode=1\n");
    EXPECT_EQ(HostVersionString(), u"QuarkXpress 7.0r2 Win [Kesto 7.0.3.38 , QSDK 70]{MB=1}");
    Settings->SetValue(SettingKey::masterPageMode, "0", true, false);
    EXPECT_EQ(Settings->GetMasterPageMode(), 0);
    host->application.version = 0x08010000;
    EXPECT_EQ(HostVersionString(), u"QuarkXpress 8.1 Win [Kesto 7.0.3.38 , QSDK 70]{MB=1}");
    host->Faults().Add(xthost::FaultRule{"APP-1", -50, 0, 1});
    EXPECT_EQ(HostVersionString(), u"QuarkXpress  Win [Kesto 7.0.3.38 , QSDK 70]{MB=1}");
}

TEST_F(CurDocAPITest, SourceDescriptionOfTheObsoleteMasterPageMode)
{
    Start("[Options]\nmasterPageMode=0\n");
    EXPECT_EQ(HostVersionString(), u"QuarkXpress 7.0r2 Win [Kesto 7.0.3.38 , QSDK 70]{MB=0}");
}

} // namespace
