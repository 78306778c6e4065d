// The conversion job's files against the emulated host with its documents.
#include "Plugin/Batch/HostFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Plugin/Batch/BatchRequest.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/HostText.h"
#include "platform/host/documents/XTDocSuites.h"

namespace {

namespace fs = std::filesystem;

class HostFilesTest : public kesto_test::ModuleHostTest {
protected:
    HostFilesTest() : ModuleHostTest("batch-host") {}

    void SetUp() override
    {
        ModuleHostTest::SetUp();
        Start();
    }

    std::string Path(const std::string& name) const { return (app / name).string(); }

    // The number of projects open in the host.
    int OpenProjects()
    {
        XTHandle project = 0;
        return CallHost<XPK_CurrentProject>(&project) == XT_OK ? 1 : 0;
    }

    std::string CopyExample(const std::string& name)
    {
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/documents" / name, app / name);
        return Path(name);
    }
};

TEST_F(HostFilesTest, SetPathTakesNameAndKindFromTheHost)
{
    ConvFileSpec spec;
    const std::string document = CopyExample("minimal.qxp");
    EXPECT_EQ(spec.SetPath(document), 0);
    EXPECT_EQ(spec.GetPath(), document);
    EXPECT_EQ(spec.GetName(), "minimal.qxp");
    EXPECT_EQ(spec.GetKind(), FileKind::Qxp);

    // A target that does not exist yet is named all the same.
    EXPECT_EQ(spec.SetPath(Path("out/Report.DWQ")), 0);
    EXPECT_EQ(spec.GetName(), "Report.DWQ");
    EXPECT_EQ(spec.GetKind(), FileKind::Dwq);

    // Letters beyond ASCII survive the host's UTF-16 both ways.
    const std::string name = "\xC3\x9C" "bersetzung \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\x84.coo";
    EXPECT_EQ(spec.SetPath(Path(name)), 0);
    EXPECT_EQ(spec.GetName(), name);
    EXPECT_EQ(spec.GetKind(), FileKind::Coo);

    // A path the host cannot name leaves no name or kind of the file before.
    EXPECT_NE(spec.SetPath(""), 0);
    EXPECT_EQ(spec.GetPath(), "");
    EXPECT_EQ(spec.GetName(), "");
    EXPECT_EQ(spec.GetKind(), FileKind::None);
}

TEST_F(HostFilesTest, CreateHostFileNeverReplacesUnasked)
{
    std::ofstream(app / "kept.dwq", std::ios::binary) << "precious\r\ncontent";
    ConvFileSpec spec;
    ASSERT_EQ(spec.SetPath(Path("kept.dwq")), 0);
    HostFileSpec out{};
    SetFileSpecName(out, "untouched");
    EXPECT_EQ(spec.CreateHostFile(out, false, XT_CREATOR_XPRESS, XT_FILETYPE_NONE), -48);
    EXPECT_EQ(kesto_test::ReadText(app / "kept.dwq"), "precious\r\ncontent");
    EXPECT_EQ(FileSpecName(out), "untouched");

    EXPECT_EQ(spec.CreateHostFile(out, true, XT_CREATOR_XPRESS, XT_FILETYPE_NONE), 0);
    EXPECT_EQ(kesto_test::ReadText(app / "kept.dwq"), "");
    EXPECT_EQ(FileSpecName(out), "kept.dwq");

    // The file's own creator stands in for the default one; no creator makes nothing.
    ConversionJob job;
    job.kind = ConversionKind::ToPdf;
    job.SetFileTypes();
    ASSERT_EQ(job.target.SetPath(Path("new.pdf")), 0);
    EXPECT_EQ(job.target.CreateHostFile(out, false, XT_CREATOR_XPRESS, XT_FILETYPE_NONE), 0);
    EXPECT_NE(host->Log().Text().find("file created \"<app>/new.pdf\" (CARO)"), std::string::npos)
        << host->Log().Text();
    EXPECT_EQ(job.target.CreateHostFile(out, true, 0, XT_FILETYPE_NONE), XT_ERR_PARAM);
}

TEST_F(HostFilesTest, RemoveHostFileDeletesOrAnswersNotFound)
{
    std::ofstream(app / "gone.coo") << "x";
    EXPECT_EQ(RemoveHostFile(Path("gone.coo")), 0);
    EXPECT_FALSE(fs::exists(app / "gone.coo"));
    EXPECT_EQ(RemoveHostFile(Path("gone.coo")), -43);
}

TEST_F(HostFilesTest, OpenabilityIsTestedWithoutLeavingAProjectOpen)
{
    const std::string document = CopyExample("minimal.qxp");
    std::ofstream(app / "notes.txt") << "just text\n";
    EXPECT_EQ(OpenProjects(), 0);
    EXPECT_TRUE(IsOpenableDocument(document));
    EXPECT_EQ(OpenProjects(), 0);
    EXPECT_FALSE(IsOpenableDocument(Path("notes.txt")));
    EXPECT_FALSE(IsOpenableDocument(Path("missing.qxp")));
    EXPECT_EQ(OpenProjects(), 0);
}

TEST_F(HostFilesTest, OpenHostDocumentFromASpecification)
{
    const std::string document = CopyExample("minimal.qxp");
    ConvFileSpec spec;
    ASSERT_EQ(spec.SetPath(document), 0);
    HostFileSpec hostSpec{};
    ASSERT_EQ(spec.GetHostSpec(hostSpec), 0);
    EXPECT_EQ(FileSpecName(hostSpec), "minimal.qxp");
    EXPECT_EQ(OpenHostDocument(&hostSpec, 31), 0);
    EXPECT_EQ(OpenProjects(), 1);
    EXPECT_TRUE((host->Log().Text().find("doc.open") != std::string::npos)) << host->Log().Text();

    // Without a specification the host reports its error 4.
    EXPECT_EQ(OpenHostDocument(nullptr, 31), 4);
    EXPECT_TRUE((host->Log().Text().find("error 4") != std::string::npos)) << host->Log().Text();
}

TEST_F(HostFilesTest, FailedOpenStaysAFailureWhateverTheAlertAnswers)
{
    xthost::FaultRule rule;
    rule.key = "XAQ3/0";  // the error alert answers success
    rule.value = XT_OK;
    host->Faults().Add(rule);
    EXPECT_EQ(OpenHostDocument(nullptr, 31), 4);
    EXPECT_EQ(host->Faults().Rules().back().applied, 1);
}

TEST_F(HostFilesTest, DocumentFileOpensForWriting)
{
    int16_t ref = 0;
    EXPECT_EQ(CreateHostDocumentFile(Path("imported.qxp"), &ref, 2), 0);
    EXPECT_NE(ref, 0);
    int32_t count = 3;
    EXPECT_EQ(CallHost<XFJ_WriteData>(ref, &count, "abc"), 0);
    EXPECT_EQ(CallHost<XFJ_CloseData>(ref), 0);
    EXPECT_EQ(kesto_test::ReadText(app / "imported.qxp"), "abc");
    EXPECT_NE(CreateHostDocumentFile(Path("no-folder/imported.qxp"), &ref, 2), 0);
}

TEST_F(HostFilesTest, ResolveHostFileSpecChangesTheExtension)
{
    std::ofstream(app / "report.qxp") << "x";
    HostFileSpec spec{};
    ASSERT_EQ(xt_fsmakefsspec(0, 0, Path("report.qxp").c_str(), &spec), 0);
    EXPECT_EQ(ResolveHostFileSpec(spec, DwqExtension), 0);
    EXPECT_EQ(FileSpecName(spec), "report.dwq");
    EXPECT_EQ(ResolveHostFileSpec(spec, "tgxx"), 12);   // only an extension of the same length
    EXPECT_EQ(FileSpecName(spec), "report.dwq");
}

TEST_F(HostFilesTest, HostTextsAndFileNamesConvertWhole)
{
    const std::string text = "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80";
    const XTHandle handle = NewHostText(text);
    ASSERT_NE(handle, 0);
    std::string out = "old";
    EXPECT_EQ(HostTextToString(handle, out), 0);
    EXPECT_EQ(out, text);
    CallHost<XText_Dispose>(handle);
    out = "kept";
    EXPECT_NE(HostTextToString(handle, out), 0);   // a disposed text
    EXPECT_EQ(out, "kept");

    std::string name;
    int32_t length = 0;
    EXPECT_EQ(GetHostFileInfo(0, nullptr, &length), 5);
    EXPECT_EQ(GetHostFileInfo(0, &name, nullptr), 6);
}

TEST_F(HostFilesTest, JobTargetNameWithEitherSeparator)
{
    CurrentJob->Reset();
    for (const std::string separator : {"\\", "/"}) {
        SCOPED_TRACE(separator);
        const std::string folder = "X:" + separator + "out" + separator;
        for (const auto& [mode, expected] : {std::pair<int32_t, std::string>{2, "doc.pdf"}, {3, "doc"}}) {
            ASSERT_EQ(CurrentJob->target.SetPath(folder + "doc.dwq"), 0);
            PdfMode = mode;
            std::string path;
            EXPECT_EQ(SetJobTargetName(path), 0);
            EXPECT_EQ(path, folder + expected);
            EXPECT_EQ(CurrentJob->GetTarget().GetPath(), folder + expected);
        }
        // A dot in a folder's name starts no extension.
        ASSERT_EQ(CurrentJob->target.SetPath("X:" + separator + "a.bc" + separator + "d"), 0);
        PdfMode = 3;
        std::string path;
        EXPECT_EQ(SetJobTargetName(path), 0);
        EXPECT_EQ(path, "X:" + separator + "a.bc" + separator + "d");
    }
    PdfMode = 3;
}

} // namespace

namespace {

class BatchRequestHostTest : public kesto_test::ModuleHostTest {
protected:
    BatchRequestHostTest() : ModuleHostTest("batch-host") {}
};

// The request lives in the key store of the host's application folder; the answer of the first
// look holds for the whole run.
TEST_F(BatchRequestHostTest, AnswerHoldsForTheRunAndTheRequestGoesAtUnload)
{
    Start();
    const fs::path request = app / "Registry/HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology/Kesto 50 Batch Mode";
    fs::create_directories(request / "Deeper/Still");
    EXPECT_TRUE(IsBatchRequested());
    EXPECT_EQ(kesto_test::ReadText(request / "Kesto"), "Started");
    fs::remove_all(request);
    EXPECT_TRUE(IsBatchRequested());
    DeleteBatchRequestKey();   // nothing left to delete
    fs::create_directories(request / "Deeper");
    host->Quit();
    EXPECT_FALSE(fs::exists(request));
}

} // namespace
