// The conversion driver against the emulated host with its documents: the module's command
// buttons with a listener that writes the target in place of a command.
#include "Plugin/Batch/ConversionDriver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <utility>

#include "DriverTestSupport.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Batch/FolderUtils.h"
#include "Plugin/Batch/HostFiles.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoInterface.h"
#include "platform/fs/NativeFS.h"
#include "platform/host/documents/XTDocSuites.h"

namespace {

using namespace kesto_test::driver_names;

class ConversionDriverTest : public kesto_test::ModuleHostTest {
protected:
    ConversionDriverTest() : ModuleHostTest("batch-driver") {}

    void SetUp() override
    {
        ModuleHostTest::SetUp();
        Start();
        // The driver serves runs that nobody watches: no alert may wait for an answer.
        host->SetAnswerer(&nobody);
        OverwriteFlags = OverwriteSwitches();
    }

    void TearDown() override
    {
        OverwriteFlags = OverwriteSwitches();
        KestoInterface::Instance()->m_multiDocMode = false;
        ModuleHostTest::TearDown();
    }

    std::string Path(const std::string& name) const { return (app / name).string(); }

    std::string CopyExample(const std::string& example, const std::string& name)
    {
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/documents" / example, app / name);
        return Path(name);
    }

    // Sets the current job as a conversion does.
    void PrepareJob(ConversionKind kind, const std::string& source, const std::string& target)
    {
        CurrentJob->Reset();
        CurrentJob->kind = kind;
        CurrentJob->SetFileTypes();
        ASSERT_EQ(CurrentJob->source.SetPath(source), 0);
        ASSERT_EQ(CurrentJob->target.SetPath(target), 0);
    }

    int OpenProjects()
    {
        XTHandle project = 0;
        return CallHost<XPK_CurrentProject>(&project) == XT_OK ? 1 : 0;
    }

    std::string Transcript() const { return host->Log().Text(); }
    NobodyAtTheHost nobody;
    int ProgressOpened() const { return CountOf(Transcript(), "opens modeless"); }
    int ProgressClosed() const { return CountOf(Transcript(), "22300 closed"); }
};

TEST_F(ConversionDriverTest, ExistingTargetIsKeptOrReplacedByItsSwitch)
{
    // As in a folder run: the export takes its target from the job.
    KestoInterface::Instance()->m_multiDocMode = true;
    const std::string source = CopyExample("minimal.qxp", "doc.qxp");
    std::ofstream(app / "doc.dwq") << "old";
    PrepareJob(ConversionKind::ToExchange, source, Path("doc.dwq"));

    EXPECT_FALSE(ConvertJob(*CurrentJob));
    EXPECT_EQ(ReadText(app / "doc.dwq"), "old");
    EXPECT_EQ(OpenProjects(), 0);   // the document opened for it is closed again
    EXPECT_EQ(host->Beeps(), 0);

    OverwriteFlags.exchangeFile = true;
    EXPECT_TRUE(ConvertJob(*CurrentJob));
    EXPECT_TRUE(IsExchangeFile(app / "doc.dwq")) << GeneralLog();
    EXPECT_EQ(OpenProjects(), 0);
    // The button's listeners ran: the command, then the beep.
    EXPECT_EQ(host->Beeps(), 1);
}

TEST_F(ConversionDriverTest, ExportThatCannotCompleteKeepsTheOldTarget)
{
    KestoInterface::Instance()->m_multiDocMode = true;
    OverwriteFlags.exchangeFile = OverwriteFlags.coordinates = OverwriteFlags.xtags = true;
    const std::string source = CopyExample("minimal.qxp", "doc.qxp");
    // The disk is full: the host cannot save the document that the exchange file stores, and
    // the text files cannot be put in place.
    for (const char* key : {"DOC-11", "NEW-3"}) {
        xthost::FaultRule save;
        save.key = key;
        save.value = -34;
        host->Faults().Add(save);
    }
    platform::fs::SetFaultHook([](platform::fs::Operation op, const std::string& path) {
        return op == platform::fs::Operation::ReplaceFile && path.find("/doc.") != std::string::npos ? ENOSPC : 0;
    });
    const std::pair<ConversionKind, const char*> exports[] = {
        {ConversionKind::ToExchange, "doc.dwq"}, {ConversionKind::ToCoordinates, "doc.coo"}, {ConversionKind::ToXTags, "doc.tgx"}};
    for (const auto& [kind, name] : exports) {
        std::ofstream(app / name) << "an earlier run's " << name;
        PrepareJob(kind, source, Path(name));
        EXPECT_FALSE(ConvertJob(*CurrentJob)) << name;
        EXPECT_EQ(ReadText(app / name), std::string("an earlier run's ") + name);
        EXPECT_EQ(OpenProjects(), 0);
    }
    platform::fs::SetFaultHook(nullptr);
}

TEST_F(ConversionDriverTest, APathLongerThanTheSystemTakesFailsWithALogLine)
{
    KestoInterface::Instance()->m_multiDocMode = true;
    OverwriteFlags.exchangeFile = true;
    const std::string target = Path(std::string(4096, 't') + ".dwq");
    PrepareJob(ConversionKind::ToExchange, CopyExample("minimal.qxp", "doc.qxp"), target);
    EXPECT_FALSE(ConvertJob(*CurrentJob));
    EXPECT_NE(GeneralLog().find("\nNot converted: the path is longer than 4095 bytes: \"" + target + "\"\n"),
              std::string::npos)
        << GeneralLog();
    EXPECT_EQ(OpenProjects(), 0);
}

TEST_F(ConversionDriverTest, CoordinatesAndXTagsGoThroughTheirOwnSwitchesAndButtons)
{
    KestoInterface::Instance()->m_multiDocMode = true;
    const std::string source = CopyExample("minimal.qxp", "doc.qxp");
    std::ofstream(app / "doc.coo") << "old";

    OverwriteFlags.exchangeFile = true;   // not the coordinates' switch
    PrepareJob(ConversionKind::ToCoordinates, source, Path("doc.coo"));
    EXPECT_FALSE(ConvertJob(*CurrentJob));
    EXPECT_EQ(ReadText(app / "doc.coo"), "old");
    OverwriteFlags.coordinates = true;
    EXPECT_TRUE(ConvertJob(*CurrentJob)) << GeneralLog();
    EXPECT_NE(ReadText(app / "doc.coo"), "old");

    PrepareJob(ConversionKind::ToXTags, source, Path("doc.tgx"));
    EXPECT_TRUE(ConvertJob(*CurrentJob)) << GeneralLog();
    EXPECT_TRUE(fs::exists(app / "doc.tgx"));
    EXPECT_FALSE(fs::exists(app / "doc.dwq"));
    EXPECT_EQ(OpenProjects(), 0);
}

TEST_F(ConversionDriverTest, WhatWritesNoTargetIsNotConverted)
{
    OverwriteFlags.exchangeFile = true;
    // Outside a folder, batch or server run the export asks for its target; declined, it
    // writes nothing.
    const std::string source = CopyExample("minimal.qxp", "doc.qxp");
    PrepareJob(ConversionKind::ToExchange, source, Path("doc.dwq"));
    EXPECT_FALSE(ConvertJob(*CurrentJob));
    EXPECT_FALSE(fs::exists(app / "doc.dwq"));

    // A file the host does not open as a document never reaches the command.
    KestoInterface::Instance()->m_multiDocMode = true;
    RefPtr<TargetWriter> writer = AddTargetWriter<5>();
    std::ofstream(app / "notes.qxp") << "just text\n";
    PrepareJob(ConversionKind::ToExchange, Path("notes.qxp"), Path("notes.dwq"));
    EXPECT_FALSE(ConvertJob(*CurrentJob));
    EXPECT_TRUE(writer->targets.empty());

    // A write-protected old target is neither replaced nor passed off as the command's.
    const auto writeProtected = [this](const char* name) {
        std::ofstream(app / name) << "old";
        fs::permissions(app / name, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    };
    writeProtected("doc.dwq");
    PrepareJob(ConversionKind::ToExchange, source, Path("doc.dwq"));
    EXPECT_FALSE(ConvertJob(*CurrentJob));
    EXPECT_EQ(ReadText(app / "doc.dwq"), "old");
    EXPECT_TRUE(writer->targets.empty());
    EXPECT_EQ(OpenProjects(), 0);

    // The same for an import.
    std::ofstream(app / "in.dwq") << "exchange";
    writeProtected("in.qxp");
    OverwriteFlags.document = true;
    PrepareJob(ConversionKind::ToDocument, Path("in.dwq"), Path("in.qxp"));
    EXPECT_FALSE(ConvertJob(*CurrentJob));
    EXPECT_EQ(ReadText(app / "in.qxp"), "old");
}

TEST_F(ConversionDriverTest, ImportNeedsItsKindsAndRespectsTheDocumentSwitch)
{
    RefPtr<TargetWriter> writer = AddTargetWriter<15>();
    // The runs that use the driver are unattended: the import takes its source from the driver.
    KestoInterface::Instance()->m_multiDocMode = true;
    std::ofstream(app / "in.dwq") << "exchange";
    std::ofstream(app / "in.qxp") << "old";
    PrepareJob(ConversionKind::ToDocument, Path("in.dwq"), Path("in.qxp"));
    EXPECT_FALSE(ConvertToDocument());
    EXPECT_EQ(*ImportTargetPath, Path("in.qxp"));
    EXPECT_EQ(FileSpecName(SavedSourceSpec), "in.dwq");

    OverwriteFlags.document = true;
    EXPECT_TRUE(ConvertJob(*CurrentJob));
    EXPECT_EQ(ReadText(app / "in.qxp"), "written from " + Path("in.dwq"));

    // A job whose kinds do not fit is refused before anything happens.
    PrepareJob(ConversionKind::ToDocument, Path("in.dwq"), Path("in.coo"));
    EXPECT_FALSE(ConvertToDocument());
    EXPECT_EQ(writer->targets.size(), 1u);
}

TEST_F(ConversionDriverTest, FailedOpenIsLoggedInAnUnattendedRunAndAlertsOtherwise)
{
    OverwriteFlags.exchangeFile = true;
    const std::string damaged = CopyExample("damaged/truncated.qxp", "damaged.qxp");
    for (bool KestoInterface::*sign : {&KestoInterface::m_multiDocMode, &KestoInterface::m_serverMode}) {
        KestoInterface::Instance()->*sign = true;
        PrepareJob(ConversionKind::ToExchange, damaged, Path("damaged.dwq"));
        EXPECT_FALSE(ConvertJob(*CurrentJob));
        KestoInterface::Instance()->*sign = false;
    }
    EXPECT_EQ(CountOf(GeneralLog(), "\nUnable to open \"" + damaged + "\" as a document (host error "), 2)
        << GeneralLog();
    EXPECT_FALSE(fs::exists(app / "damaged.dwq"));

    // Somebody is at the host: the host's alert tells them.
    host->SetAnswerer(nullptr);
    HostFileSpec spec{};
    ASSERT_EQ(CurrentJob->source.GetHostSpec(spec), 0);
    EXPECT_NE(OpenHostDocument(&spec, 31), 0);
    EXPECT_EQ(CountOf(Transcript(), "The operation failed (error "), 1) << Transcript();
}

TEST_F(ConversionDriverTest, EmptyTargetIsNoConversion)
{
    // The file a command makes before it writes, left by a command that failed.
    KestoInterface::Instance()->m_multiDocMode = true;
    OverwriteFlags.document = true;
    RefPtr<TargetWriter> writer = AddTargetWriter<15>(TargetWriter::Mode::Empty);
    std::ofstream(app / "in.dwq") << "exchange";
    PrepareJob(ConversionKind::ToDocument, Path("in.dwq"), Path("in.qxp"));
    EXPECT_FALSE(ConvertJob(*CurrentJob));
    EXPECT_EQ(writer->targets, std::vector<std::string>{Path("in.qxp")});
}

TEST_F(ConversionDriverTest, ExceptionOfACommandAnswersFalseWithItsBox)
{
    KestoInterface::Instance()->m_multiDocMode = true;
    OverwriteFlags.exchangeFile = true;
    AddTargetWriter<5>(TargetWriter::Mode::Throw);
    const std::string source = CopyExample("minimal.qxp", "doc.qxp");
    PrepareJob(ConversionKind::ToExchange, source, Path("doc.dwq"));
    EXPECT_FALSE(ConvertJob(*CurrentJob));
    KestoInterface::Instance()->m_multiDocMode = false;
    EXPECT_NE(GeneralLog().find("\nSUPPRESSED MESSAGE BOX:\tConversion failed for file: \t" + source + "\t\t\n"),
              std::string::npos)
        << GeneralLog();
}

TEST_F(ConversionDriverTest, ServerEntryConvertsWithEverySwitchOn)
{
    KestoInterface::Instance()->m_serverMode = true;
    RefPtr<TargetWriter> writer = AddTargetWriter<15>();
    std::ofstream(app / "in.dwq") << "exchange";
    std::ofstream(app / "in.qxp") << "old";
    EXPECT_TRUE(FolderUtils::ProcessConversion(ToUString(Path("in.dwq")), ToUString(Path("in.qxp")), FileKind::Dwq,
                                               FileKind::Qxp));
    KestoInterface::Instance()->m_serverMode = false;
    EXPECT_EQ(ReadText(app / "in.qxp"), "written from " + Path("in.dwq"));
    EXPECT_TRUE(OverwriteFlags.document && OverwriteFlags.exchangeFile && OverwriteFlags.pdf &&
                OverwriteFlags.coordinates && OverwriteFlags.xtags);
    // The progress dialog showed the file without numbers and is gone again.
    EXPECT_NE(Transcript().find("\"Import to Quark \""), std::string::npos) << Transcript();
    EXPECT_EQ(ProgressOpened(), 1) << Transcript();
    EXPECT_EQ(ProgressClosed(), 1) << Transcript();
    EXPECT_EQ(ConversionProgress->kind, ConversionKind::Invalid);
    EXPECT_EQ(ConversionProgress->dialog, 0);
}

TEST_F(ConversionDriverTest, ServerEntryLeavesNoProgressDialogOnAnyWayOut)
{
    std::ofstream(app / "old.qxd") << "x";
    // An older host document gives no conversion and opens nothing.
    EXPECT_FALSE(FolderUtils::ProcessConversion(ToUString(Path("old.qxd")), ToUString(Path("old.dwq")), FileKind::Qxd,
                                                FileKind::Dwq));
    EXPECT_EQ(Transcript().find("doc.open"), std::string::npos);
    EXPECT_EQ(ProgressOpened(), 0);

    // A source the host cannot name, a target the host cannot name, a command that writes
    // nothing: each closes the dialog it opened.
    EXPECT_FALSE(FolderUtils::ProcessConversion(ToUString(""), ToUString(Path("x.dwq")), FileKind::Qxp, FileKind::Dwq));
    const std::string source = CopyExample("minimal.qxp", "doc.qxp");
    EXPECT_FALSE(FolderUtils::ProcessConversion(ToUString(source), ToUString(""), FileKind::Qxp, FileKind::Dwq));
    EXPECT_FALSE(FolderUtils::ProcessConversion(ToUString(source), ToUString(Path("doc.coo")), FileKind::Qxp,
                                                FileKind::Coo));
    // The general log names the file the command did not convert.
    EXPECT_EQ(CountOf(GeneralLog(), "\nNot converted: \"" + source + "\"\n"), 1) << GeneralLog();
    EXPECT_EQ(ProgressOpened(), 3) << Transcript();
    EXPECT_EQ(ProgressClosed(), 3) << Transcript();
    EXPECT_EQ(ConversionProgress->count, 0);
}

} // namespace
