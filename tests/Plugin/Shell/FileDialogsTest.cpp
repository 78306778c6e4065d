// The open and save dialogs of the commands, their filters, and the chosen files in the job.
#include "DialogTestSupport.h"

#include <cstring>

#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Shell/FileDialogs.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/KestoInterface.h"

namespace dialogtest {
namespace {

TEST(FileTypeFilterTest, PrecedenceAndRecordBytes)
{
    const struct {
        bool exchange, coordinates, xtags;
        const char* name;
        uint16_t value;
        const char* extension;
    } cases[] = {
        {true, true, true, "TGX Files", 2, "tgx"},          {false, false, true, "TGX Files", 2, "tgx"},
        {true, true, false, "Coordinate Files", 1, "coo"},  {true, false, false, "Verbant Files", 1, "dwq"},
        {false, false, false, "Quark Files", 1, "QXP"},
    };
    for (const auto& c : cases) {
        const XTFileFilter* const* list = GetFileTypeFilter(c.exchange, c.coordinates, c.xtags);
        ASSERT_NE(list[0], nullptr);
        EXPECT_EQ(list[1], nullptr);
        unsigned char bytes[sizeof(XTFileFilter)];
        std::memcpy(bytes, list[0], sizeof bytes);
        unsigned char expected[52] = {};
        std::memcpy(expected, c.name, std::strlen(c.name));
        expected[30] = static_cast<unsigned char>(c.value);
        std::memcpy(expected + 48, c.extension, 3);
        EXPECT_EQ(std::memcmp(bytes, expected, sizeof expected), 0) << c.name;
    }
}

class FileDialogsTest : public DialogHostTest {
protected:
    void SetUp() override
    {
        DialogHostTest::SetUp();
        MakeFolder("Docs", {"report.qxp", "other.qxp"});
        marker = HostFileSpec{};
        SetFileSpecName(marker, "caller's");
        spec = marker;
        calls["multidoc"] = [] { KestoInterface::Instance()->SetMultiDocMode(true); };
        calls["export-source"] = [this] { chosen = ChooseExportSource(spec); };
        calls["import-source"] = [this] { chosen = ChooseImportSource(spec); };
        calls["job-source"] = [this] { CurrentJob->source.SetPath(Path("Docs/report.qxp")); };
        calls["export-output"] = [this] { Output(&ChooseExportOutput); };
        calls["coord-output"] = [this] { Output(&ChooseCoordOutput); };
        calls["tgx-output"] = [this] { Output(&ChooseTgxOutput); };
        calls["import-output"] = [this] { Output(&ChooseImportOutput); };
    }

    void Output(bool (*choose)(HostFileSpec&))
    {
        chosen = choose(spec);
        jobSource = CurrentJob->GetSource().GetPath();
        jobTarget = CurrentJob->GetTarget().GetPath();
    }

    HostFileSpec marker{};
    HostFileSpec spec{};
    bool chosen = false;
    std::string jobSource;
    std::string jobTarget;
};

TEST_F(FileDialogsTest, AChosenSourceBecomesTheJobsSource)
{
    calls["check"] = [this] { jobSource = CurrentJob->GetSource().GetPath(); };
    RunOk(R"(
start
call export-source
open "Choose Quark document to export:" Docs/report.qxp
call check
)");
    EXPECT_TRUE(chosen);
    EXPECT_EQ(FileSpecName(spec), "report.qxp");
    EXPECT_EQ(jobSource, Path("Docs/report.qxp"));
}

TEST_F(FileDialogsTest, MultiDocumentTitles)
{
    MakeFolder("In", {"a.dwq"});
    RunOk(R"(
start
call multidoc
call export-source
open "Choose Quark book to export:" cancel
call import-source
open "Import Verbant Files" In/a.dwq
)");
    EXPECT_TRUE(chosen);
    EXPECT_EQ(FileSpecName(spec), "a.dwq");
}

TEST_F(FileDialogsTest, NoSourceWithoutExactlyOneTakenFile)
{
    RunOk("start\ncall import-source\nopen \"Choose Verbant file to import:\" cancel\n");
    EXPECT_FALSE(chosen);
    RunOk("start\ncall export-source\nopen \"Choose Quark document to export:\" Docs/report.qxp Docs/other.qxp\n");
    EXPECT_FALSE(chosen);
    State().setPathFails = true;
    RunOk("start\ncall export-source\nopen \"Choose Quark document to export:\" Docs/report.qxp\n");
    EXPECT_FALSE(chosen);
    EXPECT_EQ(std::memcmp(&spec, &marker, sizeof spec), 0);
}

// The output's file is made only by the command, complete: a run killed before leaves no empty file.
TEST_F(FileDialogsTest, OutputsAreProposedBesideTheSourceAndNotMadeEmpty)
{
    const struct {
        const char* call;
        const char* title;
        const char* name;
        const char* extension;
    } outputs[] = {
        {"export-output", "Verbant output file name:", "report.dwq", "dwq"},
        {"coord-output", "Coordinates output file name:", "report.coo", "coo"},
        {"tgx-output", "TGX output file name:", "report.tgx", "tgx"},
        {"import-output", "Output document name:", "report.qxp", "qxp"},
    };
    for (const auto& o : outputs) {
        Reset();
        spec = marker;
        const bool there = fs::exists(app / "Docs" / o.name);  // the import proposes the source itself
        const auto lines = RunOk(std::string("start\ncall job-source\ncall ") + o.call + "\nsave \"" + o.title +
                                 "\" default proposed " + o.name + "\n");
        EXPECT_TRUE(chosen) << o.call;
        EXPECT_EQ(FileSpecName(spec), o.name);
        EXPECT_EQ(jobTarget, Path(std::string("Docs/") + o.name));
        EXPECT_EQ(fs::exists(app / "Docs" / o.name), there) << o.name;
        EXPECT_EQ(State().resolvedExtensions, std::vector<std::string>{o.extension});
    }
}

TEST_F(FileDialogsTest, AFailedOutputLeavesTheCallersSpecification)
{
    RunOk("start\ncall job-source\ncall export-output\nsave \"Verbant output file name:\" cancel\n");
    EXPECT_FALSE(chosen);
    EXPECT_FALSE(fs::exists(app / "Docs" / "report.dwq"));
    EXPECT_EQ(std::memcmp(&spec, &marker, sizeof spec), 0);

    State().createFails = true;
    RunOk("start\ncall job-source\ncall export-output\nsave \"Verbant output file name:\" Docs/new.dwq\n");
    EXPECT_FALSE(chosen);
    EXPECT_EQ(std::memcmp(&spec, &marker, sizeof spec), 0);
    // A file that was chosen and could not be made is no cancel: the log names it and the reason.
    EXPECT_NE(GeneralLog().find("ERROR: Unable to create " + Path("Docs/new.dwq") + ": File exists\n"), std::string::npos)
        << GeneralLog();
}

TEST_F(FileDialogsTest, SpecificationsOfMissingItemsLeaveTheRecord)
{
    int16_t missing = 0;
    int16_t found = 0;
    HostFileSpec folder = marker;
    calls["make"] = [&] {
        missing = xt_fsmakefsspec(0, 0, Path("Docs/none.qxp").c_str(), &spec);
        found = xt_fsmakefsspec(0, 0, Path("Docs").c_str(), &folder);
    };
    RunOk("start\ncall make\n");
    EXPECT_EQ(missing, -43);
    EXPECT_EQ(std::memcmp(&spec, &marker, sizeof spec), 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(FileSpecName(folder), "Docs");
}

} // namespace
} // namespace dialogtest
