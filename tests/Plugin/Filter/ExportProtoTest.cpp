// The export command with the module linked in and the emulated host with its documents: the
// reader of the saved document, the Book the command writes, the unattended runs that the
// conversion driver prepares, the save question's remembered answer and the failures that must
// end in "Export failed" with nothing left at the target.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Foundation/TestSupport.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Exchange/DWX_Export.h"
#include "Plugin/Exchange/DWX_Import.h"
#include "Plugin/Filter/ExportProto.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/KestoInterface.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "Plugin/ModuleHostFixture.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/Model.h"

namespace fs = std::filesystem;

namespace {

using kesto_test::ReadText;

// Collects what the Book's stored document inflates to.
class Collector : public KS_DWX::KSOutStream {
public:
    void write(const void* data, uint32_t count) override
    {
        bytes.append(static_cast<const char*>(data), count);
    }
    std::string bytes;
};

std::string Narrow(const char16_t* text)
{
    std::string out;
    for (; text && *text; ++text)
        out += static_cast<char>(*text);
    return out;
}

// The characters of a story's Unicode runs.
std::string StoryText(KS_DWX::Import::IStory& story)
{
    std::string text;
    for (int32_t p = 0; RefPtr<KS_DWX::Import::IPara> para = story.Paragraph(p); ++p) {
        for (int32_t r = 0; RefPtr<KS_DWX::Import::IRun> run = para->Run(r); ++r) {
            if (run->Kind() != KS_DWX::Import::kRunUnicodes)
                continue;
            uint16_t unit = 0;
            while (run->Read(&unit, sizeof unit) == sizeof unit)
                text += unit < 0x80 ? static_cast<char>(unit) : '?';
        }
        text += '\r';
    }
    return text;
}

class ExportProtoTest : public kesto_test::ModuleHostTest {
protected:
    ExportProtoTest() : ModuleHostTest("export-command") {}

    void SetUp() override
    {
        ModuleHostTest::SetUp();
        RememberedSaveAnswer = SaveAnswerMemory();
    }

    void TearDown() override
    {
        if (KestoInterface* state = KestoInterface::Instance()) {
            state->m_serverMode = false;
            state->m_multiDocMode = false;
        }
        ModuleHostTest::TearDown();
    }

    // The job the conversion driver prepares before it fires the button.
    void PrepareJob(const std::string& source, const fs::path& target)
    {
        CurrentJob->Reset();
        CurrentJob->kind = ConversionKind::ToExchange;
        CurrentJob->SetFileTypes();
        CurrentJob->source.SetPath(source);
        CurrentJob->target.SetPath(target.string());
    }

    // An unattended run as the server's driver makes it: the example opened, the job set, the
    // button fired.
    std::string ServerExport(const fs::path& target)
    {
        const std::string source = OpenExample("export.qxp");
        PrepareJob(source, target);
        KestoInterface::Instance()->m_serverMode = true;
        OverwriteFlags.exchangeFile = true;
        FireExportCurrentDocumentButton(nullptr);
        return source;
    }

    bool PreferencesOn() const
    {
        return host->application.preferences[0] && host->application.preferences[1];
    }

    fs::path Target() const { return app / "out.dwq"; }
};

// ---- Writer -------------------------------------------------------------------------------------

TEST_F(ExportProtoTest, TheWriterStoresEverySizeExactly)
{
    Start();
    for (const size_t size : {0u, 1u, 1023u, 1024u, 1025u, 5000u}) {
        SCOPED_TRACE(size);
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i * 7 + i / 251);
        const fs::path source = app / ("source" + std::to_string(size) + ".bin");
        std::ofstream(source, std::ios::binary) << bytes;
        HostFileSpec spec{};
        ASSERT_EQ(xt_fsmakefsspec(0, 0, source.string().c_str(), &spec), 0);

        const fs::path dwq = app / ("stored" + std::to_string(size) + ".dwq");
        {
            Writer writer(spec, nullptr);
            EXPECT_EQ(writer.size(), size);
            RefPtr<KS_DWX::Export::IBook> book = KS_DWX::Export::CreateExportBook(dwq.string());
            book->StoreQXP(0, &writer);
            EXPECT_TRUE(writer.IsIntact());
            book->Finish();
        }
        RefPtr<KS_DWX::Import::IBook> book = KS_DWX::Import::OpenImportBook(dwq.string());
        ASSERT_TRUE(book);
        Collector stored;
        book->LoadQXP(0, &stored);
        EXPECT_EQ(stored.bytes, bytes);
    }
}

TEST_F(ExportProtoTest, TheWriterKeepsAnOpenOrReadFailure)
{
    Start();
    HostFileSpec missing{};
    SetFileSpecName(missing, "no such file");
    Writer absent(missing, nullptr);
    char buffer[16];
    EXPECT_EQ(absent.read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(absent.size(), 0u);
    EXPECT_FALSE(absent.IsIntact());

    const fs::path source = app / "source.bin";
    std::ofstream(source, std::ios::binary) << std::string(3000, 'x');
    HostFileSpec spec{};
    ASSERT_EQ(xt_fsmakefsspec(0, 0, source.string().c_str(), &spec), 0);
    Writer writer(spec, nullptr);
    EXPECT_EQ(writer.read(buffer, sizeof buffer), sizeof buffer);
    xthost::FaultRule rule;
    rule.key = "XFJ12/101";
    rule.value = -36;
    host->Faults().Add(rule);
    EXPECT_EQ(writer.read(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(writer.IsIntact());
}

TEST_F(ExportProtoTest, TheCopyMovesTheBarFromSeventyTowardsNinetyFive)
{
    EXPECT_EQ(CopyProgressPosition(0), 70u);
    EXPECT_EQ(CopyProgressPosition(400), 70u);
    EXPECT_EQ(CopyProgressPosition(10000), 82u);
    EXPECT_EQ(CopyProgressPosition(1e9), 94u);
}

// ---- Unattended runs ------------------------------------------------------------------------------

TEST_F(ExportProtoTest, AnUnattendedRunWritesTheBookWithoutAnyDialog)
{
    Start();
    const std::string source = ServerExport(Target());

    const std::string log = GeneralLog();
    EXPECT_EQ(kesto_test::CountOf(log, "SUPPRESSED"), 0) << log;
    EXPECT_EQ(host->Log().Text().find("dialog 101"), std::string::npos);
    EXPECT_TRUE(PreferencesOn());

    RefPtr<KS_DWX::Import::IBook> book = KS_DWX::Import::OpenImportBook(Target().string());
    ASSERT_TRUE(book) << log;
    const std::string version = Narrow(book->GetText(u"source_data_type"));
    EXPECT_EQ(version.substr(version.size() - 6), "{MB=1}") << version;
    EXPECT_EQ(Narrow(book->GetText(u"maxuniqID")), "42");
    RefPtr<KS_DWX::Import::IDoc> doc = book->Document(0);
    ASSERT_TRUE(doc);
    EXPECT_FALSE(book->Document(1));
    EXPECT_EQ(Narrow(doc->GetText(u"source_platform")), "win");

    std::vector<std::string> types;
    std::string texts;
    for (int32_t s = 0; RefPtr<KS_DWX::Import::IStory> story = doc->Story(s); ++s) {
        types.push_back(Narrow(story->GetText(u"story_type")));
        texts += StoryText(*story);
    }
    EXPECT_NE(std::find(types.begin(), types.end(), "layout_cur0"), types.end());
    EXPECT_NE(std::find(types.begin(), types.end(), "layout_web1"), types.end());
    EXPECT_NE(std::find(types.begin(), types.end(), "layout_prn2"), types.end());
    EXPECT_NE(texts.find("Export sample"), std::string::npos) << texts;
    EXPECT_NE(texts.find("Text of the web layout"), std::string::npos) << texts;
    EXPECT_NE(texts.find("Text of the second print layout"), std::string::npos) << texts;

    // The document was saved again after its private working boxes went, and closed.
    EXPECT_EQ(Docs().DocumentCount(), 0u);
    const auto project = xthost::doc::ReadDocumentFile(source);
    for (const auto& layout : project->layouts)
        for (const auto& box : layout->boxes) {
            const auto link = box.second.privateData.find(0x08414B42);
            if (link != box.second.privateData.end()) {
                EXPECT_NE(link->second, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF})) << box.first;
            }
        }
}

TEST_F(ExportProtoTest, AnExistingTargetThatMayNotBeReplacedStaysUntouched)
{
    Start();
    std::ofstream(Target(), std::ios::binary) << "an older exchange file";
    const std::string source = OpenExample("export.qxp");
    PrepareJob(source, Target());
    KestoInterface::Instance()->m_serverMode = true;
    OverwriteFlags.exchangeFile = false;
    FireExportCurrentDocumentButton(nullptr);

    EXPECT_EQ(ReadText(Target()), "an older exchange file");
    EXPECT_EQ(Docs().DocumentCount(), 0u);
    const std::string log = GeneralLog();
    const std::string lastLine = "Target:   " + Target().string();
    const size_t at = log.rfind(lastLine);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find('\n', at), log.size() - 1) << "nothing after the banner";
    EXPECT_TRUE(PreferencesOn());
}

// ---- The save question ----------------------------------------------------------------------------

TEST_F(ExportProtoTest, AskOnceAsksTheFirstChangedDocumentOfAFolderRunOnly)
{
    Start("[Options]\nautoOverwriteSource=1\n");
    KestoInterface::Instance()->m_multiDocMode = true;
    OverwriteFlags.exchangeFile = true;
    for (int run = 0; run < 2; ++run) {
        const std::string source = OpenExample("export.qxp");
        Docs().DocumentChanged(xt_getdocref(), 1);
        PrepareJob(source, Target());
        FireExportCurrentDocumentButton(nullptr);
        EXPECT_TRUE(fs::exists(Target())) << GeneralLog();
        fs::remove(Target());
    }
    // The first question was shown (its default button saves); the second took its answer.
    EXPECT_EQ(kesto_test::CountOf(host->Log().Text(), "dialog 105 \"\" opens"), 1) << host->Log().Text();
    EXPECT_EQ(kesto_test::CountOf(GeneralLog(), "SUPPRESSED DIALOG:\t\t->\tFile was changed. Save it?"), 1);
    EXPECT_EQ(kesto_test::CountOf(GeneralLog(), "User pressed OK or auto-saving is allowed => Trying to save file ... OK\n"), 2);
    EXPECT_TRUE(RememberedSaveAnswer.remembered);
    EXPECT_EQ(RememberedSaveAnswer.answer, 2);
}

TEST_F(ExportProtoTest, AutoSavingSavesWithoutAsking)
{
    Start("[Options]\nautoOverwriteSource=2\n");
    KestoInterface::Instance()->m_multiDocMode = true;
    OverwriteFlags.exchangeFile = true;
    const std::string source = OpenExample("export.qxp");
    Docs().DocumentChanged(xt_getdocref(), 1);
    PrepareJob(source, Target());
    FireExportCurrentDocumentButton(nullptr);
    EXPECT_EQ(host->Log().Text().find("dialog 105 "), std::string::npos);
    EXPECT_NE(GeneralLog().find("Trying to save file ... OK\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(Target()));
}

// ---- Failures ---------------------------------------------------------------------------------------

class ExportFailureTest : public ExportProtoTest {
protected:
    void ExpectFailed()
    {
        const std::string log = GeneralLog();
        EXPECT_NE(log.find("SUPPRESSED DIALOG:\tResult\t->\tExport failed"), std::string::npos) << log;
        EXPECT_EQ(log.find("... finished."), std::string::npos) << log;
        EXPECT_FALSE(fs::exists(Target()));
        EXPECT_TRUE(PreferencesOn());
        for (const auto& entry : fs::directory_iterator(app))
            EXPECT_NE(entry.path().extension(), ".dwq") << entry.path();
    }

    void Fail(const std::string& key, int32_t value)
    {
        xthost::FaultRule rule;
        rule.key = key;
        rule.value = value;
        host->Faults().Add(rule);
    }
};

TEST_F(ExportFailureTest, AFailedSaveAtTheLastLayout)
{
    Start();
    // The document that the container stores is saved into a file of its own.
    Fail("NEW-3", -34);
    ServerExport(Target());
    ExpectFailed();
    EXPECT_NE(GeneralLog().find("\nFAILED\n"), std::string::npos);
}

TEST_F(ExportFailureTest, AFailedReadOfTheSavedDocument)
{
    Start();
    Fail("XFJ12/101", -36);
    ServerExport(Target());
    ExpectFailed();
    EXPECT_NE(GeneralLog().find("SUPPRESSED MESSAGE BOX:\tConversion failed for file: \texport.qxp"), std::string::npos)
        << GeneralLog();
}

TEST_F(ExportFailureTest, AFullDisk)
{
    Start();
    GeneralLog();
    WithFileSizeLimit(48 * 1024, [&] {
        ServerExport(Target());
        return 0;
    });
    ExpectFailed();
    // The code with its meaning, and a line that names the file and the system's reason.
    EXPECT_NE(GeneralLog().find("\nExportProto::ActionPerformed():\tContainer Error<33012>:\tmedium full"),
              std::string::npos)
        << GeneralLog();
    // The system's own reason: the file size limit, which stops the write as a full disk would.
    EXPECT_NE(GeneralLog().find("ERROR:    Unable to write " + Target().string() + ": File too large"),
              std::string::npos)
        << GeneralLog();
}

TEST_F(ExportFailureTest, AnExceptionInTheExporter)
{
    Start();
    Fail("MEM-1", -108);
    ServerExport(Target());
    ExpectFailed();
    EXPECT_NE(GeneralLog().find("\nExportProto::ActionPerformed():\t<1001>:\t"), std::string::npos) << GeneralLog();
}

} // namespace
