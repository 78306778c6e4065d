// The coordinates and XTags commands with the module linked in and the emulated host with its
// documents: the unattended runs that the conversion driver prepares, a target that may not be
// replaced, and the failures that end in their message box or in "Export failed" with nothing
// left at the target.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "Foundation/TestSupport.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/KestoInterface.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/Model.h"

namespace fs = std::filesystem;

namespace {

class CoordCommandTest : public kesto_test::ModuleHostTest {
protected:
    CoordCommandTest() : ModuleHostTest("coord-command") {}

    void TearDown() override
    {
        OverwriteFlags = OverwriteSwitches();
        ModuleHostTest::TearDown();
    }

    // The job the conversion driver prepares, the server-mode flag set, the button fired.
    std::string ServerRun(ConversionKind kind, const fs::path& target)
    {
        const std::string source = OpenExample("export.qxp");
        CurrentJob->Reset();
        CurrentJob->kind = kind;
        CurrentJob->SetFileTypes();
        CurrentJob->source.SetPath(source);
        CurrentJob->target.SetPath(target.string());
        KestoInterface::Instance()->m_serverMode = true;
        if (kind == ConversionKind::ToCoordinates)
            PerformByClass<CommandAdapter<13>>(static_cast<XTVoidRec*>(nullptr));
        else
            PerformByClass<CommandAdapter<14>>(static_cast<XTVoidRec*>(nullptr));
        return source;
    }

    bool PreferencesOn() const { return host->application.preferences[0] && host->application.preferences[1]; }

    void Fail(const std::string& key, int32_t value)
    {
        xthost::FaultRule rule;
        rule.key = key;
        rule.value = value;
        host->Faults().Add(rule);
    }

    static int Count(const std::string& text, const std::string& part)
    {
        int n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
            ++n;
        return n;
    }

    // No box of the saved source carries a private working box's link.
    static void ExpectNoPrivateBoxes(const std::string& source)
    {
        const auto project = xthost::doc::ReadDocumentFile(source);
        for (const auto& layout : project->layouts)
            for (const auto& box : layout->boxes) {
                const auto link = box.second.privateData.find(0x08414B42);
                if (link == box.second.privateData.end())
                    continue;
                EXPECT_NE(link->second, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF})) << box.first;
                EXPECT_NE(link->second, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFE})) << box.first;
            }
    }

    fs::path Coo() const { return app / "out.coo"; }
    fs::path Tgx() const { return app / "out.tgx"; }
};

TEST_F(CoordCommandTest, AnUnattendedRunWritesTheFilesWithoutAnyDialog)
{
    Start();
    OverwriteFlags.coordinates = true;
    OverwriteFlags.xtags = true;
    std::string source = ServerRun(ConversionKind::ToCoordinates, Coo());
    source = ServerRun(ConversionKind::ToXTags, Tgx());

    const std::string coo = kesto_test::ReadText(Coo());
    EXPECT_EQ(Count(coo, "<coord><p uid="), 17) << coo;
    EXPECT_NE(coo.find("\n" + source + "\n"), std::string::npos);
    EXPECT_EQ(kesto_test::ReadText(Tgx()).substr(0, 4), std::string("\xFF\xFE<\0", 4));

    const std::string log = GeneralLog();
    EXPECT_EQ(Count(log, "SUPPRESSED"), 0) << log;
    EXPECT_EQ(Count(log, "... finished."), 2) << log;
    EXPECT_EQ(host->Log().Text().find("dialog 101"), std::string::npos);
    EXPECT_TRUE(PreferencesOn());
    // Closed, and saved again after its private working boxes went.
    EXPECT_EQ(Docs().DocumentCount(), 0u);
    ExpectNoPrivateBoxes(source);
}

TEST_F(CoordCommandTest, AnExistingTargetThatMayNotBeReplacedStaysUntouched)
{
    Start();
    for (const fs::path& target : {Coo(), Tgx()}) {
        SCOPED_TRACE(target.string());
        std::ofstream(target, std::ios::binary) << "an older file\r\n";
        const std::string before = GeneralLog();
        ServerRun(target == Coo() ? ConversionKind::ToCoordinates : ConversionKind::ToXTags, target);
        EXPECT_EQ(kesto_test::ReadText(target), "an older file\r\n");
        EXPECT_EQ(Docs().DocumentCount(), 0u);
        const std::string log = GeneralLog();
        const std::string lastLine = "Target:   " + target.string();
        const size_t at = log.rfind(lastLine);
        ASSERT_NE(at, std::string::npos) << log;
        EXPECT_GT(at, before.size());
        EXPECT_EQ(log.find('\n', at), log.size() - 1) << "nothing after the banner";
        EXPECT_TRUE(PreferencesOn());
    }
}

TEST_F(CoordCommandTest, AnExporterThatCannotBeMadeEndsInExportFailedWithNothingLeft)
{
    Start();
    OverwriteFlags.coordinates = true;
    OverwriteFlags.xtags = true;
    Fail("MEM-1", -108);
    ServerRun(ConversionKind::ToCoordinates, Coo());
    ServerRun(ConversionKind::ToXTags, Tgx());

    const std::string log = GeneralLog();
    EXPECT_NE(log.find("SUPPRESSED MESSAGE BOX:\tExportCoord: exporter is invalid for file: \texport.qxp"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("SUPPRESSED MESSAGE BOX:\tExportTgx: exporter is invalid for file: \texport.qxp"),
              std::string::npos)
        << log;
    EXPECT_EQ(Count(log, "SUPPRESSED DIALOG:\tResult\t->\tExport failed"), 2) << log;
    EXPECT_EQ(log.find("... finished."), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(Coo()));
    EXPECT_FALSE(fs::exists(Tgx()));
    EXPECT_TRUE(PreferencesOn());
}

TEST_F(CoordCommandTest, AnExceptionInTheWalkEndsInExportFailedWithNothingLeft)
{
    Start();
    OverwriteFlags.coordinates = true;
    const size_t counter = CountCalls("MEM-1");
    ServerRun(ConversionKind::ToCoordinates, Coo());
    const int total = Calls(counter);
    ASSERT_GT(total, 1);
    // The host's memory runs out from some call on: late enough, the exporter is made and the
    // walk meets the failure as an exception.
    bool thrown = false;
    for (int after = total - 1; after > 0 && !thrown; --after) {
        host->Faults().Clear();
        xthost::FaultRule rule;
        rule.key = "MEM-1";
        rule.value = -108;
        rule.after = after;
        host->Faults().Add(rule);
        // The file of an earlier try would stay: only a complete result replaces a target.
        fs::remove(Coo());
        const size_t before = GeneralLog().size();
        ServerRun(ConversionKind::ToCoordinates, Coo());
        const std::string log = GeneralLog().substr(before);
        if (log.find("\nExportCoord::ActionPerformed():\t<1001>:\t") == std::string::npos)
            continue;
        thrown = true;
        EXPECT_NE(log.find("SUPPRESSED DIALOG:\tResult\t->\tExport failed"), std::string::npos) << log;
        EXPECT_EQ(log.find("... finished."), std::string::npos) << log;
        EXPECT_FALSE(fs::exists(Coo()));
        EXPECT_TRUE(PreferencesOn());
    }
    EXPECT_TRUE(thrown);
}

TEST_F(CoordCommandTest, ATextFileGoesWhereTheHostMadeItsTarget)
{
    Start();
    OverwriteFlags.coordinates = true;
    OverwriteFlags.xtags = true;
    // The host takes the backslash as a separator and creates the file in "x/y"; the text goes
    // into that file, not into a folder "x\y" that does not exist.
    fs::create_directories(app / "x" / "y");
    ServerRun(ConversionKind::ToCoordinates, app / "x\\y" / "out.coo");
    ServerRun(ConversionKind::ToXTags, app / "x\\y" / "out.tgx");

    const std::string log = GeneralLog();
    EXPECT_EQ(Count(log, "... finished."), 2) << log;
    EXPECT_EQ(kesto_test::ReadText(app / "x/y/out.coo").substr(0, 5), "<?xml");
    EXPECT_EQ(kesto_test::ReadText(app / "x/y/out.tgx").substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(Docs().DocumentCount(), 0u);
    EXPECT_TRUE(PreferencesOn());
}

} // namespace
