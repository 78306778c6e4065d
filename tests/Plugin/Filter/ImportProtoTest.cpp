// The import command and the importer with the module linked in and the emulated host with its
// documents: the master-page rule and its cache, the reader of the restored document, unattended
// round trips of exported and pseudo-translated containers, the failures that must end in
// "Import failed" (or silently), the growth of boxes whose text no longer fits, and damaged
// containers.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Container/Storage/Errors.h"
#include "Container/Storage/OLEStorage.h"
#include "Foundation/TestSupport.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Exchange/DWX_Export.h"
#include "Plugin/Exchange/DWX_Import.h"
#include "Plugin/Filter/ImportProto.h"
#include "Plugin/Filter/Hidden.h"
#include "Plugin/Filter/Importer.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/AppFolderTest.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoException.h"
#include "Plugin/Shell/KestoInterface.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/UnattendedRuns.h"
#include "examples/pseudo-translate/PseudoTranslate.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/XTDocSuites.h"
#include "platform/host/documents/XTFlowSuites.h"
#include "platform/host/documents/XTTextSuites.h"
#include "platform/host/documents/testing/DocBuilder.h"
#include "platform/host/documents/testing/FlowExamples.h"
#include "platform/host/documents/testing/HiddenExample.h"
#include "platform/host/documents/testing/ParagraphExamples.h"

#include "StoryView.h"

namespace fs = std::filesystem;
using namespace KS_DWX::Import;

namespace {

using kesto_test::ReadText;

HostFileSpec SpecOf(const fs::path& path)
{
    int16_t result = 0;
    const HostFileSpec spec = kesto_test::HostSpecOf(path.string(), &result);
    EXPECT_TRUE(result == 0 || result == -43) << result;
    return spec;
}

// The bytes a container stores as its host document.
class BytesSource : public KS_DWX::KSInStream {
public:
    explicit BytesSource(std::string bytes) : m_bytes(std::move(bytes)) {}
    uint32_t read(void* buffer, uint32_t size) override
    {
        const size_t n = std::min<size_t>(size, m_bytes.size() - m_at);
        std::memcpy(buffer, m_bytes.data() + m_at, n);
        m_at += n;
        return static_cast<uint32_t>(n);
    }
    uint32_t size() override { return static_cast<uint32_t>(m_bytes.size()); }

private:
    std::string m_bytes;
    size_t m_at = 0;
};

// How often a saved document names the module's link tags of kind `kind` (08: boxes, 09: layouts).
int LinkTags(const std::string& saved, const char* kind = "08")
{
    return kesto_test::CountOf(saved, std::string(kind) + "414b42") + kesto_test::CountOf(saved, std::string(kind) + "414B42");
}

// The import's own settings, where the module reads them.
constexpr char kImportSettings[] = "[QUARK]\nAutomaticResizeOfFrames=True\nSetUniqueID=True\n";

class ImportProtoTest : public kesto_test::ModuleHostTest {
protected:
    ImportProtoTest() : ModuleHostTest("import-command") {}

    void SetUp() override
    {
        ModuleHostTest::SetUp();
        ImportMasterPageMode = MasterPageModeMemory();
        OverwriteFlags = OverwriteSwitches();
    }

    void StartWith(const std::string& more = "")
    {
        Start(std::string(kImportSettings) + "\n[Options]\n" + more);
    }

    // Exports the shipped example unattended into name.dwq and closes the document.
    fs::path Export(const std::string& example)
    {
        const std::string source = OpenExample(example);
        const fs::path dwq = app / (fs::path(example).stem().string() + ".dwq");
        kesto_test::ExportFrontDocumentUnattended(source, dwq.string());
        EXPECT_TRUE(fs::exists(dwq)) << GeneralLog();
        return dwq;
    }

    fs::path Translated(const fs::path& dwq)
    {
        const fs::path out = app / (dwq.stem().string() + "-translated.dwq");
        std::string error;
        EXPECT_TRUE(PseudoTranslateFile(dwq.string(), out.string(), error)) << error;
        return out;
    }

    // An unattended import as the conversion driver prepares it.
    void ImportUnattended(const fs::path& dwq, const fs::path& target)
    {
        kesto_test::ImportUnattended(dwq.string(), target.string());
    }

    bool PreferencesOn() const
    {
        return host->application.preferences[0] && host->application.preferences[1];
    }
};

// ---- The master-page rule -------------------------------------------------------------------------

TEST_F(ImportProtoTest, TheMasterPageRuleFollowsTheLastMarkAndTheCachedSetting)
{
    StartWith();
    struct Case {
        const char16_t* text;
        uint8_t decision;
        std::vector<std::string> lines;
        std::vector<std::string> absent;
    };
    const std::string forcingOld = " => Forcing import with appropriate OLD masterpage handling (overriding user settings!)";
    const Case cases[] = {
        {u"QuarkXpress 7.0r2 Win [Kesto]{MB=1}", 1, {}, {"WARNING", "ERROR"}},
        {u"x{MB=0}", 0, {"WARNING: Current document was previously exported with explicit OLD-MASTERPAGE settings", forcingOld}, {}},
        {u"x{MB=0} then {MB=1}", 1, {}, {"WARNING"}},
        {u"x{MB=1} then {MB=0}", 0, {"explicit OLD-MASTERPAGE settings"}, {}},
        {u"x{MB=1", 0, {}, {"WARNING", "ERROR"}},
        {u"unknown", 0, {"WARNING: Current document was previously exported with an OLD-MASTERPAGE version of Kesto", forcingOld}, {}},
        {nullptr, 0, {"ERROR: d_CFAN_SourceDataType returns empty string (NULL)!"}, {"WARNING"}},
    };
    for (const Case& c : cases) {
        const size_t before = GeneralLog().size();
        EXPECT_EQ(MasterPageDecision(c.text), c.decision);
        const std::string log = GeneralLog().substr(before);
        for (const std::string& line : c.lines)
            EXPECT_NE(log.find(line), std::string::npos) << log;
        for (const std::string& part : c.absent)
            EXPECT_EQ(log.find(part), std::string::npos) << log;
    }

    // The setting as the first import read it holds for the process.
    WriteSettings("[Options]\nmasterPageMode=0\n");
    const size_t before = GeneralLog().size();
    EXPECT_EQ(MasterPageDecision(u"{MB=1}"), 1);
    EXPECT_EQ(GeneralLog().substr(before).find("WARNING"), std::string::npos);
}

TEST_F(ImportProtoTest, OldHandlingChosenByTheUserIsNotForcedAndNewMarksAreForced)
{
    StartWith("masterPageMode=0\n");
    EXPECT_EQ(MasterPageDecision(u"{MB=1}"), 1);
    std::string log = GeneralLog();
    EXPECT_NE(log.find("WARNING: Current document was previously exported with explicit NEW-MASTERPAGE settings\n"
                       " => Forcing import with appropriate NEW masterpage handling (overriding user settings!)"),
              std::string::npos)
        << log;
    EXPECT_EQ(MasterPageDecision(u"{MB=0}"), 0);
    log = GeneralLog();
    EXPECT_NE(log.find(" => Importing with appropriate OLD masterpage handling (selected by user)"), std::string::npos);
}

// ---- Reader ---------------------------------------------------------------------------------------

TEST_F(ImportProtoTest, TheReaderWritesEveryBlockAndRaisesOnFailures)
{
    StartWith();
    const fs::path target = app / "restored.qxp";
    std::ofstream(target) << "old";
    std::string expected;
    {
        Reader reader(SpecOf(target));
        for (const size_t size : {0u, 1u, 1024u, 5000u}) {
            std::string block(size, '\0');
            for (size_t i = 0; i < size; ++i)
                block[i] = static_cast<char>(i * 13 + size);
            reader.write(block.data(), static_cast<uint32_t>(block.size()));
            expected += block;
        }
    }
    EXPECT_EQ(kesto_test::ReadText(target), expected);

    {
        Reader reader(SpecOf(target));
        xthost::FaultRule rule;
        rule.key = "XFJ12/105";
        rule.value = -34;
        host->Faults().Add(rule);
        try {
            reader.write("abc", 3);
            ADD_FAILURE() << "a refused write passed";
        } catch (const KestoException& e) {
            EXPECT_EQ(e.GetCode(), 1012);
        }
    }
    try {
        Reader reader(SpecOf(app / "no such folder" / "x.qxp"));
        ADD_FAILURE() << "a file that cannot be made was opened";
    } catch (const KestoException& e) {
        EXPECT_EQ(e.GetCode(), 1011);
    }
}

// ---- Round trips ----------------------------------------------------------------------------------

TEST_F(ImportProtoTest, AnUnattendedRoundTripRestoresTranslatesAndSavesWithoutDialog)
{
    StartWith();
    const fs::path dwq = Translated(Export("two-page-linked.qxp"));
    const fs::path target = app / "two-page-linked-imported.qxp";
    OverwriteFlags.document = true;
    ImportUnattended(dwq, target);

    const std::string log = GeneralLog();
    EXPECT_NE(log.find("SUPPRESSED DIALOG:\tResult\t->\tImport done"), std::string::npos) << log;
    EXPECT_NE(log.find("Starting import ..."), std::string::npos);
    EXPECT_NE(log.find("... finished."), std::string::npos);
    EXPECT_EQ(log.find("Object(s) not been imported"), std::string::npos) << log;
    EXPECT_EQ(host->Log().Text().find("dialog 103"), std::string::npos);
    EXPECT_TRUE(PreferencesOn());
    const std::string saved = kesto_test::ReadText(target);
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(LinkTags(saved), 0);
    EXPECT_EQ(LinkTags(saved, "09"), 0);
    EXPECT_NE(saved.find("~~]"), std::string::npos);
}

TEST_F(ImportProtoTest, AnExistingTargetThatMayNotBeReplacedEndsSilentlyBeforeTheBanner)
{
    StartWith();
    const fs::path dwq = Export("minimal.qxp");
    const fs::path target = app / "kept.qxp";
    std::ofstream(target) << "keep me";
    const size_t before = GeneralLog().size();
    ImportUnattended(dwq, target);
    EXPECT_EQ(GeneralLog().substr(before).find("Starting import"), std::string::npos);
    EXPECT_EQ(kesto_test::ReadText(target), "keep me");
}

// An unattended import grows a box whose translation no longer fits and puts the unique ids back
// only with the settings in the section the module reads them from; under [Options] they are
// missing, and the import does neither.
struct ImportSettingsCase {
    const char* settings;
    bool on;
};

class ImportSettingsTest : public ImportProtoTest, public ::testing::WithParamInterface<ImportSettingsCase> {
protected:
    // The document an unattended import makes of the translated export of the example.
    std::unique_ptr<xthost::doc::Project> Imported(const std::string& example)
    {
        const fs::path target = app / (fs::path(example).stem().string() + "-imported.qxp");
        ImportUnattended(Translated(Export(example)), target);
        EXPECT_TRUE(fs::exists(target)) << GeneralLog();
        return xthost::doc::ReadDocumentFile(target.string());
    }
};

TEST_P(ImportSettingsTest, BoxesGrowAndUniqueIdsComeBackOnlyAsTheSettingsSay)
{
    Start(GetParam().settings);
    OverwriteFlags.document = true;
    const auto source = xthost::doc::ReadDocumentFile(std::string(KESTO_SOURCE_DIR) + "/examples/documents/overflow.qxp");
    const auto grown = Imported("overflow.qxp");
    const uint32_t exact = xthost::doc::overflow::kExact;
    const auto& before = source->layouts.at(0)->boxes.at(exact).bounds;
    const auto& after = grown->layouts.at(0)->boxes.at(exact).bounds;
    EXPECT_EQ(after.right > before.right, GetParam().on) << after.right << " " << before.right;

    size_t ids = 0;
    const auto withIds = Imported("unique-ids.qxp");
    for (const auto& [uid, story] : withIds->layouts.at(0)->stories)
        for (const xthost::doc::ObjectRun& object : story.objects)
            ids += object.kind == 0x88;
    EXPECT_EQ(ids, GetParam().on ? 6u + xthost::doc::unique_ids::kManyParagraphs : 0u);
}

INSTANTIATE_TEST_SUITE_P(Sections, ImportSettingsTest,
                         ::testing::Values(ImportSettingsCase{kImportSettings, true},
                                           ImportSettingsCase{"[Options]\nAutomaticResizeOfFrames=True\n"
                                                              "SetUniqueID=True\n",
                                                              false}),
                         [](const ::testing::TestParamInfo<ImportSettingsCase>& info) {
                             return info.param.on ? std::string("Quark") : std::string("Options");
                         });

// ---- Failures -------------------------------------------------------------------------------------

// Containers the export's Book makes without what an import needs: no stored document, a stored
// document the host cannot open, or no exchange document. Each is a failed import whose log names
// the container or the reason; where the stored document was none, no target stays.
TEST_F(ImportProtoTest, ABookWithoutWhatTheImportNeedsIsAFailedImportNamingIt)
{
    StartWith();
    const struct {
        const char* name;
        // The bytes of the stored document; null: none.
        const char* stored;
        // What the log says; "@" stands for the container's path.
        std::vector<std::string> logged;
        // How many lines of reasons the log gives; 0: not counted.
        int reasons = 0;
        // The restored document stays at the target.
        bool targetStays = false;
    } cases[] = {
        {"nodoc", nullptr,
         {"ImportProto::ActionPerformed():\t", "ERROR:    Unable to load original QXP source from DWQ!",
          " -> " + std::string(6, ' ') + "@: Container Error<", " =>       skipping file."}},
        // The host's reason, then the four things to check.
        {"garbage", "this is no document.",
         {"ERROR:    Unable to open document for import!", " ->       The host refused it: \"",
          "ERROR: Unable to open document for import!"},
         5},
        {"nobookdoc", "", {"ERROR:    @: the DWQ holds no document to import!"}, 0, true},
    };
    const std::string minimal = ReadText(fs::path(KESTO_SOURCE_DIR) / "examples/documents/minimal.qxp");
    OverwriteFlags.document = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dwq = app / (std::string(c.name) + ".dwq"), target = app / (std::string(c.name) + ".qxp");
        {
            RefPtr<KS_DWX::Export::IBook> book = KS_DWX::Export::CreateExportBook(dwq.string());
            BytesSource source(c.stored && *c.stored ? std::string(c.stored) : minimal);
            if (c.stored)
                book->StoreQXP(0, &source);
            book->Finish();
        }
        const size_t before = GeneralLog().size();
        ImportUnattended(dwq, target);
        const std::string log = GeneralLog().substr(before);
        for (std::string line : c.logged) {
            if (const size_t at = line.find('@'); at != std::string::npos)
                line.replace(at, 1, dwq.string());
            EXPECT_NE(log.find(line), std::string::npos) << log;
        }
        EXPECT_NE(log.find("SUPPRESSED DIALOG:\tResult\t->\tImport failed"), std::string::npos) << log;
        if (c.reasons) {
            EXPECT_EQ(kesto_test::CountOf(log, " ->       "), c.reasons) << log;
        }
        // What the host refused is no document and does not stay at the target.
        if (!c.targetStays) {
            EXPECT_FALSE(fs::exists(target));
        }
        EXPECT_TRUE(PreferencesOn());
    }
}

// Copies the storage `in` into `out` with the bytes of the stream at `path` (names from `in`
// down) changed by `change`; everything else is copied as it is.
void CopyChangingStream(OLEStorage& in, OLEStorage& out, const std::vector<std::u16string>& path,
                        const std::function<void(std::string&)>& change)
{
    OLEStorageEnumerator items = in.CreateEnumerator();
    while (items.Next()) {
        const std::u16string name = items.ItemName();
        if (name != path.front()) {
            in.CopyItem(name.c_str(), out, nullptr, false);
        } else if (path.size() > 1) {
            OLEStorage source(in, name.c_str(), CD_OpenRead);
            OLEStorage target(out, name.c_str(), CD_CreateWrite);
            CopyChangingStream(source, target, {path.begin() + 1, path.end()}, change);
        } else {
            OLEStream source(in, name.c_str(), CD_OpenRead);
            std::string bytes(source.GetSize(), '\0');
            EXPECT_EQ(source.GetData(bytes.data(), static_cast<uint32_t>(bytes.size())), bytes.size());
            change(bytes);
            OLEStream target(out, name.c_str(), CD_CreateWrite);
            target.PutData(bytes.data(), static_cast<uint32_t>(bytes.size()));
        }
    }
}

// A copy of the container whose stored document keeps its stream but not its compressed bytes.
fs::path WithStoredDocumentChanged(const fs::path& dwq, const std::string& suffix,
                                   const std::function<void(std::string&)>& change)
{
    const fs::path out = dwq.parent_path() / (dwq.stem().string() + "-" + suffix + ".dwq");
    OLEStorage in(dwq.string().c_str(), CD_OpenRead);
    OLEStorage copy(out.string().c_str(), CD_CreateWrite);
    CopyChangingStream(in, copy, {u"VerbantPluginPrivateData", u"KestoExportTemplates", u"0"}, change);
    copy.Flush();
    return out;
}

TEST_F(ImportProtoTest, AStoredDocumentWithDamagedOrCutCompressedBytesIsAFailedImportAndLeavesNoTarget)
{
    StartWith();
    const fs::path dwq = Export("scripts.qxp");
    size_t stored = 0;
    // The zlib header stays; the deflate data behind the blocks the reader has already written
    // is damaged, or ends half-way.
    const fs::path damaged = WithStoredDocumentChanged(dwq, "damaged", [&](std::string& bytes) {
        stored = bytes.size();
        ASSERT_GT(bytes.size(), 64u);
        for (size_t i = bytes.size() / 2; i + 4 < bytes.size(); i += 3)
            bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    });
    const fs::path cut = WithStoredDocumentChanged(dwq, "cut", [](std::string& bytes) { bytes.resize(bytes.size() / 2); });
    ASSERT_GT(stored, 0u);
    OverwriteFlags.document = true;
    // The copy itself carries the document: unchanged, it imports.
    const fs::path same = WithStoredDocumentChanged(dwq, "same", [](std::string&) {});
    ImportUnattended(same, app / "same.qxp");
    EXPECT_NE(GeneralLog().find("SUPPRESSED DIALOG:\tResult\t->\tImport done"), std::string::npos) << GeneralLog();
    ASSERT_TRUE(fs::exists(app / "same.qxp"));
    ASSERT_GT(fs::file_size(app / "same.qxp"), 2048u);
    const size_t writes = CountCalls("XFJ12/105");
    for (const fs::path& source : {damaged, cut}) {
        const fs::path target = app / (source.stem().string() + ".qxp");
        const size_t before = GeneralLog().size();
        const int written = Calls(writes);
        ImportUnattended(source, target);
        const std::string log = GeneralLog().substr(before);
        // Blocks reached the target before the damage showed.
        EXPECT_GT(Calls(writes), written);
        EXPECT_NE(log.find("Starting import ..."), std::string::npos) << log;
        EXPECT_NE(log.find("ImportProto::ActionPerformed():\tContainer Error<" + std::to_string(FE_ZlibData) +
                           ">:\tzlib: damaged compressed data"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("ERROR:    Unable to load original QXP source from DWQ!"), std::string::npos) << log;
        EXPECT_NE(log.find(" =>       skipping file."), std::string::npos) << log;
        EXPECT_NE(log.find("SUPPRESSED DIALOG:\tResult\t->\tImport failed"), std::string::npos) << log;
        EXPECT_EQ(log.find("... finished."), std::string::npos) << log;
        EXPECT_FALSE(fs::exists(target)) << source;
        EXPECT_EQ(CurDocAPI::GetDocumentCount(), 0);
    }
    EXPECT_TRUE(PreferencesOn());
}

// An unattended run replaces an empty file that was there before it: that file is not one the run
// made, and a failed import leaves it as it was.
TEST_F(ImportProtoTest, AnEmptyTargetThatWasThereStaysWhenTheImportFails)
{
    StartWith();
    const fs::path cut =
        WithStoredDocumentChanged(Export("scripts.qxp"), "cut", [](std::string& bytes) { bytes.resize(bytes.size() / 2); });
    const fs::path target = app / "empty.qxp";
    std::ofstream(target).close();
    OverwriteFlags.document = true;
    ImportUnattended(cut, target);
    EXPECT_NE(GeneralLog().find(" =>       skipping file."), std::string::npos) << GeneralLog();
    ASSERT_TRUE(fs::exists(target));
    EXPECT_EQ(fs::file_size(target), 0u);
}

TEST_F(ImportProtoTest, DamagedContainersNeverCrashTheImport)
{
    StartWith();
    const fs::path dwq = Export("minimal.qxp");
    const std::string whole = kesto_test::ReadText(dwq);
    OverwriteFlags.document = true;
    int n = 0;
    for (size_t cut : {size_t(0), size_t(100), whole.size() / 3, whole.size() / 2, whole.size() - 7}) {
        const fs::path damaged = app / ("cut" + std::to_string(n++) + ".dwq");
        std::ofstream(damaged, std::ios::binary) << whole.substr(0, cut);
        ImportUnattended(damaged, app / "cut.qxp");
    }
    for (size_t step : {97u, 499u, 1531u}) {
        std::string bytes = whole;
        for (size_t i = 512; i < bytes.size(); i += step)
            bytes[i] = static_cast<char>(bytes[i] ^ 0x24);
        const fs::path damaged = app / ("flip" + std::to_string(step) + ".dwq");
        std::ofstream(damaged, std::ios::binary) << bytes;
        ImportUnattended(damaged, app / "flip.qxp");
    }
    EXPECT_TRUE(PreferencesOn());
    EXPECT_EQ(CurDocAPI::GetDocumentCount(), 0) << GeneralLog();
}

// ---- The importer on a restored document ----------------------------------------------------------

// An exchange document that hands out the stories of another and, after them, more: a copy of
// its first story, or one whose text run throws.
class ExtraStoryDoc : public IDoc {
public:
    ExtraStoryDoc(RefPtr<IDoc> inner, bool throwing) : mInner(std::move(inner)), mThrowing(throwing) {}
    const char16_t* GetText(const char16_t* name) override { return mInner->GetText(name); }
    bool GetNumber(const char16_t* name, int32_t& value) override { return mInner->GetNumber(name, value); }
    int32_t GetTable(const char16_t* name, int32_t kind) override { return mInner->GetTable(name, kind); }
    RefPtr<IStory> GetChild(int32_t index) override;
    int32_t count = 0;

private:
    RefPtr<IDoc> mInner;
    bool mThrowing;
};

class ThrowingRun : public IRun {
public:
    const char16_t* GetText(const char16_t*) override { return nullptr; }
    bool GetNumber(const char16_t*, int32_t&) override { return false; }
    int32_t GetTable(const char16_t*, int32_t) override { return -1; }
    uint32_t Read(void*, uint32_t) override { throw KestoException(1003, MsgString("test run")); }
    int32_t Kind() override { return kRunUnicodes; }
};

class OneRunPara : public IPara {
public:
    const char16_t* GetText(const char16_t*) override { return nullptr; }
    bool GetNumber(const char16_t*, int32_t&) override { return false; }
    int32_t GetTable(const char16_t*, int32_t) override { return -1; }
    RefPtr<IRun> GetChild(int32_t index) override
    {
        return index == 0 ? RefPtr<IRun>(new ThrowingRun) : RefPtr<IRun>();
    }
};

// Stands in for a story of the document: its attributes are that story's, its one run throws.
class ThrowingStory : public IStory {
public:
    explicit ThrowingStory(RefPtr<IStory> attributes) : mAttributes(std::move(attributes)) {}
    const char16_t* GetText(const char16_t* name) override { return mAttributes->GetText(name); }
    bool GetNumber(const char16_t* name, int32_t& value) override { return mAttributes->GetNumber(name, value); }
    int32_t GetTable(const char16_t*, int32_t) override { return -1; }
    RefPtr<IPara> GetChild(int32_t index) override
    {
        return index == 0 ? RefPtr<IPara>(new OneRunPara) : RefPtr<IPara>();
    }

private:
    RefPtr<IStory> mAttributes;
};

RefPtr<IStory> ExtraStoryDoc::GetChild(int32_t index)
{
    if (mThrowing && index == 0)
        return RefPtr<IStory>(new ThrowingStory(mInner->Story(0)));
    RefPtr<IStory> story = mInner->Story(index);
    if (story)
        return story;
    if (index == count)
        return mInner->Story(0);
    return RefPtr<IStory>();
}

class ImporterTest : public ImportProtoTest {
protected:
    // Restores the stored document of the container, opens it and answers its exchange document,
    // which `book` holds.
    RefPtr<IDoc> Restore(const fs::path& dwq)
    {
        book = OpenImportBook(dwq.string());
        EXPECT_TRUE(book);
        const fs::path target = app / (dwq.stem().string() + "-restored.qxp");
        std::ofstream(target) << "";
        {
            Reader reader(SpecOf(target));
            book->LoadQXP(0, &reader);
        }
        EXPECT_EQ(Docs().Open(target.string(), 31), XT_OK) << host->Log().Text();
        return book->Document(0);
    }

    // Imports the exchange document into the current document, unique ids on, and expects no
    // failure (or one, when `fails`).
    void ImportInto(IDoc& doc, bool autoResize, bool fails = false)
    {
        RefPtr<QuarkDoc> quark(new QuarkDoc);
        std::unique_ptr<Importer> importer = CreateImporter(quark.Get(), &doc, autoResize, false, true, false);
        ASSERT_TRUE(importer);
        importer->Run();
        EXPECT_EQ(importer->Failed(), fails) << GeneralLog();
    }

    RefPtr<IBook> book;
};

TEST_F(ImporterTest, AStoryBeyondTheLinkedBoxesIsLoggedBeepedAndFailsTheImport)
{
    StartWith();
    RefPtr<IDoc> inner = Restore(Translated(Export("minimal.qxp")));
    ASSERT_TRUE(inner);
    int32_t stories = 0;
    while (inner->Story(stories))
        ++stories;
    RefPtr<ExtraStoryDoc> doc(new ExtraStoryDoc(inner, false));
    doc->count = stories;
    const int beeps = host->Beeps();
    ImportInto(*doc, true, true);
    const std::string log = GeneralLog();
    // The Book holds more stories than the document links: none of them is written.
    EXPECT_NE(log.find("####stories 0 to " + std::to_string(stories) + " of the exchange file do not belong to this "
                       "document: it links " + std::to_string(stories) + " boxes"),
              std::string::npos)
        << log;
    EXPECT_EQ(host->Beeps(), beeps + 1);
}

TEST_F(ImporterTest, AnExceptionInOneStoryEndsOnlyThatStory)
{
    StartWith();
    RefPtr<IDoc> inner = Restore(Translated(Export("mapping.qxp")));
    ASSERT_TRUE(inner);
    ASSERT_TRUE(inner->Story(1));
    RefPtr<ExtraStoryDoc> doc(new ExtraStoryDoc(inner, true));
    doc->count = -1;
    ImportInto(*doc, true, true);
    const std::string log = GeneralLog();
    // Found before anything was written: the story keeps its text.
    EXPECT_NE(log.find("####story 0 not imported, its text stays as it was: run 0 of paragraph 0 cannot be read: "
                       "Stack Corrupt<1003>:\ttest run"),
              std::string::npos)
        << log;
    // The other stories were written.
    const fs::path saved = app / "after-exception.qxp";
    ASSERT_EQ(Docs().SaveAs(saved.string()), XT_OK);
    const std::string text = kesto_test::ReadText(saved);
    EXPECT_NE(text.find("~]"), std::string::npos);
    EXPECT_EQ(LinkTags(text), 0);
}

// An exchange document that holds no story.
struct NoStoryDoc : ExtraStoryDoc {
    using ExtraStoryDoc::ExtraStoryDoc;
    RefPtr<IStory> GetChild(int32_t) override { return RefPtr<IStory>(); }
};

// The export leaves formatting samples in every layout, also in one no story of which came back.
TEST_F(ImporterTest, NoLayoutKeepsItsPrivateBoxesWhenNoStoryOfItCameBack)
{
    StartWith();
    RefPtr<IDoc> inner = Restore(Export("export.qxp"));
    ASSERT_TRUE(inner);
    // The linked boxes keep their text, and the import fails for it.
    ImportInto(*RefPtr<NoStoryDoc>(new NoStoryDoc(inner, false)), true, true);
    EXPECT_NE(GeneralLog().find("the exchange file holds no story"), std::string::npos) << GeneralLog();
    const fs::path saved = app / "no-story.qxp";
    ASSERT_EQ(Docs().SaveAs(saved.string()), XT_OK);
    const auto project = xthost::doc::ReadDocumentFile(saved.string());
    ASSERT_TRUE(project && project->layouts.size() == 3u);
    const std::string text = kesto_test::ReadText(saved);
    EXPECT_EQ(LinkTags(text), 0);
    EXPECT_EQ(LinkTags(text, "09"), 0);
}

TEST_F(ImporterTest, ALockedStoryIsWrittenWholeAndLockedAgain)
{
    StartWith();
    RefPtr<IDoc> doc = Restore(Translated(Export("minimal.qxp")));
    ASSERT_TRUE(doc);
    const XTHandle text = QStoryText(Box(1)).GetTextHandle();
    ASSERT_EQ(CallHost<XSS_SetLocked>(text, 1), XT_OK);
    ImportInto(*doc, true);
    uint8_t locked = 0;
    EXPECT_EQ(CallHost<XSS_IsLocked>(QStoryText(Box(1)).GetTextHandle(), &locked), XT_OK);
    EXPECT_EQ(locked, 1);
    // The old text went with the edit, not left behind the translation by the lock.
    const fs::path saved = app / "locked.qxp";
    ASSERT_EQ(Docs().SaveAs(saved.string()), XT_OK);
    const std::string json = kesto_test::ReadText(saved);
    EXPECT_NE(json.find("\"text\": \"[Hello, world.~~~~~~]\""), std::string::npos) << json;
}

// hidden.qxp: the stray tag run between "Plain " and " plain" goes before the story is read, the
// anchored items come back in their places, and every break stays behind its own paragraph.
TEST_F(ImporterTest, TheTagRunGoesWhileAnchoredItemsAndBreaksKeepTheirParagraphs)
{
    StartWith();
    RefPtr<IDoc> doc = Restore(Translated(Export("hidden.qxp")));
    ASSERT_TRUE(doc);
    ImportInto(*doc, true);
    const std::string log = GeneralLog();
    EXPECT_EQ(log.find("Object(s) not been imported"), std::string::npos) << log;

    const XTHandle box = Box(xthost::doc::HiddenExampleLayout().storyBox);
    const std::u16string chars = kesto_test::StoryChars(box);
    const std::u16string last = u"\r[Plain ~~~][ plain~~~]\r[a~]\x1E[b~][c~][\t~][d~]\x0B[e~]\x0C[f~]";
    ASSERT_GE(chars.size(), last.size());
    EXPECT_EQ(chars.substr(chars.size() - last.size()), last);
    EXPECT_NE(chars.find(u"\r[Items ~~~]\xFFFC[ and ~~]\xFFFC\r"), std::u16string::npos);

    // No tag run stays; each anchored item once, in its order.
    std::vector<uint32_t> values;
    QStoryText text(box);
    QStoryCursor cursor(text);
    for (; cursor.HasMore(); cursor.Next()) {
        EXPECT_NE(cursor.GetRunKind() & 0xFFFFFF00u, 0x414B4200u) << cursor.GetPosition();
        if (cursor.GetRunKind() != 1)
            continue;
        uint32_t value = 0;
        EXPECT_EQ(CallHost<XHJ_ItemValue>(text.GetTextHandle(true), cursor.GetPosition(), box, &value), XT_OK);
        values.push_back(value);
    }
    EXPECT_EQ(values, (std::vector<uint32_t>{7, 8}));
}

// An exchange story that gives each unique-id marker an empty paragraph of its own in front of
// the paragraph it opens, as exports wrote before the marker shared that paragraph; a marker that
// ends the story kept its one paragraph.
class OwnMarkerParagraphsStory : public IStory {
public:
    explicit OwnMarkerParagraphsStory(RefPtr<IStory> inner) : mInner(std::move(inner))
    {
        for (int32_t p = 0; RefPtr<IPara> para = mInner->Paragraph(p); ++p) {
            int32_t id = -1;
            const bool last = !mInner->Paragraph(p + 1);
            if (para->GetNumber(u"uniqID", id) && !(last && !para->Run(0)))
                mOrder.push_back(-1);
            mOrder.push_back(p);
        }
    }
    const char16_t* GetText(const char16_t* name) override { return mInner->GetText(name); }
    bool GetNumber(const char16_t* name, int32_t& value) override { return mInner->GetNumber(name, value); }
    int32_t GetTable(const char16_t* name, int32_t kind) override { return mInner->GetTable(name, kind); }
    RefPtr<IPara> GetChild(int32_t index) override
    {
        if (index < 0 || static_cast<size_t>(index) >= mOrder.size())
            return RefPtr<IPara>();
        return mOrder[index] < 0 ? RefPtr<IPara>(new EmptyPara) : mInner->Paragraph(mOrder[index]);
    }

private:
    class EmptyPara : public IPara {
    public:
        const char16_t* GetText(const char16_t*) override { return nullptr; }
        bool GetNumber(const char16_t*, int32_t&) override { return false; }
        int32_t GetTable(const char16_t*, int32_t) override { return -1; }
        RefPtr<IRun> GetChild(int32_t) override { return RefPtr<IRun>(); }
    };
    RefPtr<IStory> mInner;
    std::vector<int32_t> mOrder;  // inner paragraph index, -1 for a marker's own paragraph
};

class OwnMarkerParagraphsDoc : public IDoc {
public:
    explicit OwnMarkerParagraphsDoc(RefPtr<IDoc> inner) : mInner(std::move(inner)) {}
    const char16_t* GetText(const char16_t* name) override { return mInner->GetText(name); }
    bool GetNumber(const char16_t* name, int32_t& value) override { return mInner->GetNumber(name, value); }
    int32_t GetTable(const char16_t* name, int32_t kind) override { return mInner->GetTable(name, kind); }
    RefPtr<IStory> GetChild(int32_t index) override
    {
        RefPtr<IStory> story = mInner->Story(index);
        return story ? RefPtr<IStory>(new OwnMarkerParagraphsStory(story)) : story;
    }

private:
    RefPtr<IDoc> mInner;
};

// Either way of writing the markers brings each paragraph's translation and unique id back into
// that paragraph, the id once, at its start.
TEST_F(ImporterTest, UniqueIdsComeBackOnceWhetherOrNotTheMarkersHaveParagraphsOfTheirOwn)
{
    StartWith();
    const fs::path dwq = Translated(Export("unique-ids.qxp"));
    const auto source =
        xthost::doc::ReadDocumentFile(std::string(KESTO_SOURCE_DIR) + "/examples/documents/unique-ids.qxp");
    for (const bool ownParagraphs : {false, true}) {
        RefPtr<IDoc> doc = Restore(dwq);
        ASSERT_TRUE(doc);
        if (ownParagraphs)
            doc = RefPtr<IDoc>(new OwnMarkerParagraphsDoc(doc));
        ImportInto(*doc, false);
        for (const auto& [uid, story] : source->layouts.at(0)->stories) {
            std::u16string got;
            for (char16_t c : kesto_test::StoryChars(Box(story.boxes.at(0))))
                if (c != u'[' && c != u']' && c != u'~')
                    got += c;
            EXPECT_EQ(got, story.text) << "story " << uid << (ownParagraphs ? ", own paragraphs" : "");
        }
        ASSERT_EQ(Docs().CloseWindow(), XT_OK);
    }
}

// ---- Stray tag runs --------------------------------------------------------------------------------

// A story whose module tag runs (left behind by an interrupted marker copy) stand beside a lone
// paragraph end and inside a paragraph, with an anchored box behind them, exported, translated
// and written back into the restored document.
class TaggedStoryImportTest : public ImporterTest {
protected:
    static constexpr int32_t pt(int32_t points) { return points * 65536; }

    void ImportTagged(void (*fill)(xthost::doc::StoryBuilder&, int32_t text, int32_t tag, uint32_t anchored),
                      bool withAnchoredBox)
    {
        StartWith();
        xthost::doc::DocBuilder b;
        const int32_t text = b.PlainText(pt(12));
        xthost::doc::CharFormat tagged = *b.Model().charFormats.Find(text);
        tagged.tag = 0x00414B42;
        const int32_t tag = b.CharFormat(tagged);
        b.Page(0);
        storyBox = b.TextBox(xthost::doc::Place::OnSpread(0), {pt(36), pt(36), pt(500), pt(576)});
        if (withAnchoredBox) {
            anchoredBox = b.TextBox(xthost::doc::Place::Loose_(), {0, 0, pt(40), pt(120)});
            b.Story({anchoredBox}).Text(u"Caption", text).End();
        }
        xthost::doc::StoryBuilder story = b.Story({storyBox});
        fill(story, text, tag, anchoredBox);
        story.End();
        const fs::path source = app / "tagged.qxp";
        ASSERT_TRUE(xthost::doc::WriteFileAtomically(source.string(), b.Bytes()));
        ASSERT_EQ(Docs().Open(source.string(), 63), XT_OK) << host->Log().Text();
        const fs::path dwq = app / "tagged.dwq";
        kesto_test::ExportFrontDocumentUnattended(source.string(), dwq.string());
        ASSERT_TRUE(fs::exists(dwq)) << GeneralLog();

        RefPtr<IDoc> doc = Restore(Translated(dwq));
        ASSERT_TRUE(doc);
        ImportInto(*doc, false);
        EXPECT_EQ(GeneralLog().find("Object(s) not been imported"), std::string::npos) << GeneralLog();
    }

    // The story's paragraphs, each with the characters outside the pseudo-translation's brackets
    // and tildes left out; checks that no tag run is left.
    std::vector<std::u16string> Paragraphs()
    {
        const XTHandle box = Box(storyBox);
        QStoryText text(box);
        for (QStoryCursor cursor(text); cursor.HasMore(); cursor.Next())
            EXPECT_FALSE(IsModuleTagKind(cursor.GetRunKind())) << cursor.GetPosition();
        std::vector<std::u16string> paragraphs(1);
        for (char16_t c : kesto_test::StoryChars(box)) {
            if (c == u'\r')
                paragraphs.emplace_back();
            else if (c != u'[' && c != u']' && c != u'~')
                paragraphs.back() += c;
        }
        return paragraphs;
    }

    uint32_t storyBox = 0, anchoredBox = 0;
};

TEST_F(TaggedStoryImportTest, AStrayTagRunGoesAndTheParagraphEndBehindItStays)
{
    ImportTagged([](xthost::doc::StoryBuilder& story, int32_t text, int32_t tag, uint32_t) {
        story.Text(u"One ", text).Text(u"tagged", tag).Text(u"\r", text).Text(u"Two", text);
    }, false);
    EXPECT_EQ(Paragraphs(), (std::vector<std::u16string>{u"One ", u"Two"}));
}

TEST_F(TaggedStoryImportTest, TheTextBehindARemovedTagRunStaysInItsParagraphAndMarkersStayPut)
{
    ImportTagged([](xthost::doc::StoryBuilder& story, int32_t text, int32_t tag, uint32_t anchored) {
        story.Text(u"One ", text)
            .Text(u"tagged", tag)
            .Text(u" one\r", text)
            .Text(u"Two ", text)
            .Anchor(anchored, text)
            .Text(u" two\r", text)
            .Text(u"tagged", tag)
            .Text(u"Three", text);
    }, true);
    EXPECT_EQ(Paragraphs(), (std::vector<std::u16string>{u"One  one", u"Two \uFFFC two", u"Three"}));
    // The anchored item was met where it stood: the box is the one the document had, not a copy.
    const std::u16string chars = kesto_test::StoryChars(Box(storyBox));
    const size_t at = chars.find(u'\uFFFC');
    ASSERT_NE(at, std::u16string::npos);
    XTHandle item = 0;
    ASSERT_EQ(CallHost<XBY_AnchoredBox>(QStory(Box(storyBox)).GetTextHandle(true), static_cast<int32_t>(at), &item),
              XT_OK);
    EXPECT_EQ(item, Box(anchoredBox));
    EXPECT_EQ(kesto_test::StoryChars(item), u"[Caption~~~]");
}

// ---- Overflow and growth --------------------------------------------------------------------------

TEST_F(ImportProtoTest, OnlyBoxesThatReflowAndHaveRunaroundOverflow)
{
    StartWith();
    OpenExample("overflow.qxp");
    namespace ov = xthost::doc::overflow;
    EXPECT_FALSE(TextOverflows(Box(ov::kExact)));
    EXPECT_TRUE(TextOverflows(Box(ov::kOneMore)));
    EXPECT_FALSE(TextOverflows(Box(ov::kNoReflow)));
    EXPECT_FALSE(TextOverflows(Box(ov::kRunaround0)));
    EXPECT_EQ(host->application.updateMode, 1);
}

TEST_F(ImportProtoTest, EnlargingGrowsToTheRightUntilTheTextFitsAndStopsAfterTwentyTries)
{
    StartWith();
    OpenExample("overflow.qxp");
    namespace ov = xthost::doc::overflow;
    XTRect before{}, after{};
    const XTHandle oneMore = Box(ov::kOneMore);
    CallHost<XBY_Bounds>(oneMore, &before);
    EnlargeTextBox(oneMore, 0);
    CallHost<XBY_Bounds>(oneMore, &after);
    EXPECT_FALSE(TextOverflows(oneMore));
    EXPECT_GT(after.right, before.right);
    EXPECT_EQ(after.bottom, before.bottom);
    EXPECT_EQ(after.top, before.top);
    EXPECT_EQ(after.left, before.left);

    const XTHandle edge = Box(ov::kEdge);
    ASSERT_TRUE(TextOverflows(edge));
    const size_t applies = CountCalls("XXC4/5");
    EnlargeTextBox(edge, 3);
    EXPECT_LE(Calls(applies), 20);
}

} // namespace
