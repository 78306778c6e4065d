// The import side of the exchange bridge on containers written by the export side, by hand
// with the document model, and damaged on purpose.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "BridgeSample.h"
#include "Foundation/TestSupport.h"
#include "Container/Model/BookWriters.h"
#include "Container/Model/FileFixture.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/OLEStorage.h"
#include "Plugin/Exchange/DWX_Import.h"
#include "Plugin/Exchange/ImportRuns.h"

using namespace KS_DWX::Import;
using namespace bridge_test;

namespace {

class ImportBridge : public model_test::FileFixture {
protected:
    ImportBridge() : FileFixture("kesto-import-bridge-", "book.dwq") {}

    std::u16string Text(ICommon& object, const char16_t* name)
    {
        const char16_t* text = object.GetText(name);
        return text ? text : u"<absent>";
    }
};

struct Record {
    int32_t f[3] = {0, 0, 0};
};

// Every unit a run delivers.
std::vector<Bytes> Units(IRun& run)
{
    std::vector<Bytes> units;
    uint8_t buffer[64];
    while (const uint32_t n = run.Read(buffer, sizeof buffer))
        units.emplace_back(buffer, buffer + n);
    return units;
}

std::vector<Record> Records(IRun& run)
{
    std::vector<Record> records;
    for (const Bytes& unit : Units(run)) {
        Record r;
        EXPECT_TRUE(unit.size() == 8 || unit.size() == 12) << unit.size();
        for (size_t i = 0; i < unit.size() / 4; ++i)
            r.f[i] = static_cast<int32_t>(unit[4 * i] | unit[4 * i + 1] << 8 | unit[4 * i + 2] << 16 |
                                          uint32_t(unit[4 * i + 3]) << 24);
        records.push_back(r);
    }
    return records;
}

std::vector<uint16_t> Characters(IRun& run)
{
    std::vector<uint16_t> text;
    for (const Bytes& unit : Units(run)) {
        EXPECT_EQ(unit.size(), 2u);
        text.push_back(static_cast<uint16_t>(unit[0] | unit[1] << 8));
    }
    return text;
}

TEST_F(ImportBridge, SampleBookEveryElementKindContentAndAttribute)
{
    const Bytes source = Pattern(5000, 9);
    WriteSampleBook(m_path, source);
    RefPtr<IBook> book = OpenImportBook(m_path);
    ASSERT_TRUE(book);
    EXPECT_EQ(Text(*book, u"source_data_type"), u"QuarkXpress 7 Win {MB=1}");
    EXPECT_EQ(Text(*book, u"bold"), u"off");  // a default of every Book
    int32_t number = 0;
    EXPECT_TRUE(book->GetNumber(u"maxuniqID", number));
    EXPECT_EQ(number, 42);

    RefPtr<IDoc> doc = book->Document(0);
    ASSERT_TRUE(doc);
    EXPECT_EQ(Text(*doc, u"source_platform"), u"win");
    EXPECT_EQ(Text(*doc, u"bold"), u"<absent>");  // no inheritance below the Book
    ASSERT_TRUE(book->Document(1));
    EXPECT_FALSE(book->Document(1)->Story(0));
    EXPECT_FALSE(book->Document(2));
    EXPECT_FALSE(book->Document(-1));

    RefPtr<IStory> story = doc->Story(0);
    ASSERT_TRUE(story);
    EXPECT_EQ(Text(*story, u"story_type"), u"layout_cur0");
    EXPECT_EQ(Text(*story, u"horizontal_pos"), u"12");
    EXPECT_EQ(Text(*story, u"angle"), u"0");

    RefPtr<IPara> para = story->Paragraph(0);
    ASSERT_TRUE(para);
    number = 0;
    EXPECT_TRUE(para->GetNumber(u"uniqID", number));
    EXPECT_EQ(number, 42);

    const int32_t kinds[] = {kRunUnicodes,      kRunPlaceHolders, kRunMultibytes,
                             kRunWideMultibytes, kRunSpecialChars, kRunRefPoints};
    for (int32_t i = 0; i < 6; ++i) {
        RefPtr<IRun> run = para->Run(i);
        ASSERT_TRUE(run) << i;
        EXPECT_EQ(run->Kind(), kinds[i]) << i;
    }
    EXPECT_FALSE(para->Run(6));

    RefPtr<IRun> run = para->Run(0);
    EXPECT_EQ(Characters(*run), (std::vector<uint16_t>{'H', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(Text(*run, u"typeface"), u"Arial");
    EXPECT_EQ(Text(*run, u"codepage"), u"1200");
    number = 5;
    EXPECT_TRUE(run->GetNumber(u"private", number));
    EXPECT_EQ(number, -1);
    EXPECT_EQ(run->Read(nullptr, 2), 0u);

    run = para->Run(1);
    const auto holders = Records(*run);
    ASSERT_EQ(holders.size(), 2u);
    EXPECT_EQ(holders[0].f[0], 5);
    EXPECT_EQ(holders[0].f[1], -1);
    EXPECT_EQ(holders[1].f[0], 7);
    EXPECT_EQ(holders[1].f[1], run->GetTable(u"anchored_box", 0));
    EXPECT_EQ(Text(*run, u"private"), u"ff");
    number = 5;
    EXPECT_FALSE(run->GetNumber(u"private", number));  // no prefix: no decimal number either
    EXPECT_EQ(number, 5);
    EXPECT_EQ(Units(*run).size(), 0u);  // nothing after the end

    run = para->Run(2);
    const auto bytes = Units(*run);
    ASSERT_EQ(bytes.size(), 3u);
    EXPECT_EQ(bytes[0], Bytes{'a'});
    EXPECT_EQ(bytes[2], Bytes{0xFF});

    run = para->Run(3);
    EXPECT_EQ(Characters(*run), (std::vector<uint16_t>{0x85, 0x2000}));
    EXPECT_EQ(Text(*run, u"codepage"), u"5");

    run = para->Run(4);
    const auto specials = Records(*run);
    ASSERT_EQ(specials.size(), 2u);
    EXPECT_EQ(specials[0].f[0], run->GetTable(u"tabulator", 0));
    EXPECT_EQ(specials[0].f[1], run->GetTable(u"TempIndent", 0));
    EXPECT_EQ(specials[1].f[0], run->GetTable(u"page_number", 0));
    EXPECT_EQ(specials[1].f[1], run->GetTable(u"Last", 0));

    // Reference points as written, their kinds named by the ids GetTable gives.
    run = para->Run(5);
    const auto points = Records(*run);
    ASSERT_EQ(points.size(), 3u);
    const int32_t point = story->GetTable(u"point", 1), start = story->GetTable(u"start", 2),
                  end = story->GetTable(u"end", 3);
    EXPECT_NE(point, -1);
    EXPECT_NE(start, -1);
    EXPECT_NE(end, -1);
    EXPECT_EQ(points[0].f[0], 3);
    EXPECT_EQ(points[0].f[1], -1);
    EXPECT_EQ(points[0].f[2], start);
    EXPECT_EQ(points[1].f[0], 3);
    EXPECT_EQ(points[1].f[2], end);
    EXPECT_EQ(points[2].f[0], 9);
    EXPECT_EQ(points[2].f[2], point);
    uint8_t small[11];
    EXPECT_EQ(para->Run(5)->Read(small, sizeof small), 0u);  // too small for one record

    RefPtr<IPara> second = story->Paragraph(1);
    ASSERT_TRUE(second);
    run = second->Run(0);
    EXPECT_EQ(run->Kind(), kRunUnicodes);
    EXPECT_EQ(Characters(*run), LongRunText());
    EXPECT_FALSE(second->Run(1));
    EXPECT_FALSE(story->Paragraph(2));

    RefPtr<IStory> story1 = doc->Story(1);
    ASSERT_TRUE(story1);
    ASSERT_TRUE(story1->Paragraph(0));
    EXPECT_FALSE(story1->Paragraph(0)->Run(0));
    EXPECT_FALSE(doc->Story(2));

    MemorySink sink;
    book->LoadQXP(0, &sink);
    EXPECT_EQ(sink.data, source);
    MemorySink empty;
    book->LoadQXP(7, &empty);
    EXPECT_TRUE(empty.data.empty());
}

TEST_F(ImportBridge, ObjectsOutliveTheirBookReference)
{
    WriteSampleBook(m_path, Pattern(10, 1));
    RefPtr<IRun> run;
    {
        RefPtr<IBook> book = OpenImportBook(m_path);
        ASSERT_TRUE(book);
        run = book->Document(0)->Story(0)->Paragraph(0)->Run(0);
    }
    ASSERT_TRUE(run);
    EXPECT_EQ(Text(*run, u"typeface"), u"Arial");
    EXPECT_EQ(Characters(*run).size(), 5u);
}

TEST_F(ImportBridge, NumbersTextsAndTables)
{
    {
        RefPtr<KS_DWX::Export::IBook> book = KS_DWX::Export::CreateExportBook(m_path);
        RefPtr<KS_DWX::Export::IDoc> doc;
        book->CreateDocument(doc, 0);
        doc->AddAttr(u"hex", u"0x1F");
        doc->AddAttr(u"all", u"0xFFFFFFFF");
        doc->AddAttr(u"word", u"none");
        doc->AddAttr(u"empty", u"");
        MemorySource none(Bytes{});
        book->StoreQXP(0, &none);
    }
    RefPtr<IBook> book = OpenImportBook(m_path);
    ASSERT_TRUE(book);
    RefPtr<IDoc> doc = book->Document(0);
    int32_t value = 1234;
    EXPECT_TRUE(doc->GetNumber(u"hex", value));
    EXPECT_EQ(value, 31);
    EXPECT_TRUE(doc->GetNumber(u"all", value));
    EXPECT_EQ(value, -1);
    value = 1234;
    EXPECT_FALSE(doc->GetNumber(u"uniqID", value));
    EXPECT_FALSE(doc->GetNumber(u"word", value));
    EXPECT_FALSE(doc->GetNumber(u"empty", value));
    EXPECT_FALSE(doc->GetNumber(nullptr, value));
    EXPECT_EQ(value, 1234);
    EXPECT_EQ(Text(*doc, u"empty"), u"");
    EXPECT_EQ(doc->GetText(nullptr), nullptr);
    doc->Reserved();
    // A look-up that never adds.
    EXPECT_EQ(doc->GetTable(u"point", 1), -1);
    EXPECT_EQ(doc->GetTable(u"point", 1), -1);
    EXPECT_EQ(doc->GetTable(nullptr, 1), -1);
    EXPECT_EQ(doc->GetTable(u"hex", 0), book->GetTable(u"hex", 5));
    EXPECT_NE(doc->GetTable(u"hex", 0), -1);
}

// A stream that records the size of every read the reader asks for.
class CountingUnits final : public DWX_In<uint16_t>, public DWX_InStream2 {
public:
    explicit CountingUnits(uint32_t units) : m_left(units) {}
    dwx_ulong GetData(uint16_t* values, dwx_ulong count) override
    {
        const dwx_ulong n = std::min<dwx_ulong>(count, m_left);
        for (dwx_ulong i = 0; i < n; ++i)
            values[i] = static_cast<uint16_t>(m_next++);
        m_left -= n;
        fills.push_back(n);
        return n;
    }
    bool Damaged() const override { return false; }
    std::vector<dwx_ulong> fills;

private:
    uint32_t m_left;
    uint32_t m_next = 0;
};

TEST_F(ImportBridge, UnicodeRunOf2500UnitsArrivesInThreeFills)
{
    auto* stream = new CountingUnits(2500);
    stream->AddRef();
    {
        TRunStr<uint16_t> reader{DWX_Handle<DWX_InStream2>(stream)};
        uint16_t unit = 0;
        for (uint32_t i = 0; i < 2500; ++i) {
            ASSERT_EQ(reader.Read(&unit, 2048), 2u);
            ASSERT_EQ(unit, i);
        }
        EXPECT_EQ(reader.Read(&unit, 2), 0u);
        EXPECT_EQ(reader.Read(&unit, 2), 0u);
        EXPECT_EQ(stream->fills, (std::vector<dwx_ulong>{1000, 1000, 500}));
    }
    stream->Release();
}

// A container written with the model directly: one run holding two content items, one holding
// none, two records under misspelt names, and an empty documents set in a second Book.
void WriteHandMade(const std::string& path, bool withDocument)
{
    OLEStorage root(path.c_str(), CD_CreateWrite);
    DWX_OutStorage2* storage = CreateDWX2(root, false);
    {
        DWX_Book_Out2 book(storage->CreateFolder2());
        DWX_DocumentsSet_Out2 documents(book.CreateDocumentsSet(DWX_Names::DocumentsSet), DWX_Names::Document);
        if (withDocument) {
            DWX_Document_Out2 doc(documents.CreateElement(0));
            DWX_StoriesSet_Out2 stories(doc.CreateStoriesSet(DWX_Names::StoriesSet), DWX_Names::Story);
            DWX_Story_Out2 story(stories.CreateElement(0));
            DWX_ParagraphsSet_Out2 paras(story.CreateParagraphsSet(DWX_Names::ParagraphsSet),
                                         DWX_Names::Paragraph);
            DWX_Paragraph_Out2 para(paras.CreateElement(0));
            auto both = para.CreateTextRun(0, DWX_Names::TextRun);
            {
                DWX_UnicodesRun_Out2 unicodes(both);
                const uint16_t u[] = {'u'};
                dynamic_cast<DWX_Out<uint16_t>&>(*unicodes.CreateUnicodes(DWX_Names::Unicodes)).PutData(u, 1);
                DWX_MultibytesRun_Out2 multibytes(both);
                dynamic_cast<DWX_Out<char>&>(*multibytes.CreateMultibytes(DWX_Names::Multibytes)).PutData("m", 1);
            }
            auto none = para.CreateTextRun(1, DWX_Names::TextRun);
            DWX_TextRun_Out2 plain(none);
            plain.AttrsSet().AddAttr(u"typeface", u"Times", book.StringsMap());
            plain.SaveAttrsSet(DWX_Names::Attrs);
            para.CreateTextRun(2, "TextRux[]/");
            paras.Folder().CreateFolder("Paragrapx[]/", 1);
        }
        book.Finish();
        book.Folder().Complete();
    }
    OLEStorage templates(*storage->PrivateData(), u"KestoExportTemplates", CD_CreateWrite);
    storage->Release();
    root.Flush();
}

TEST_F(ImportBridge, ProbeOrderAndRunsWithoutContent)
{
    WriteHandMade(m_path, true);
    RefPtr<IBook> book = OpenImportBook(m_path);
    ASSERT_TRUE(book);
    RefPtr<IPara> para = book->Document(0)->Story(0)->Paragraph(0);
    ASSERT_TRUE(para);
    RefPtr<IRun> both = para->Run(0);
    EXPECT_EQ(both->Kind(), kRunMultibytes);
    EXPECT_EQ(Units(*both), std::vector<Bytes>{Bytes{'m'}});
    RefPtr<IRun> none = para->Run(1);
    EXPECT_EQ(none->Kind(), kRunNone);
    uint8_t buffer[16];
    EXPECT_EQ(none->Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(Text(*none, u"typeface"), u"Times");
    // No stored document of that id.
    MemorySink sink;
    EXPECT_THROW(book->LoadQXP(0, &sink), FilterException);
}

// Records under names the model does not read, which a reading would pass over without a word.
TEST_F(ImportBridge, RecordsUnderUnknownNamesAreListedWithTheirIndices)
{
    WriteHandMade(m_path, true);
    RefPtr<IBook> book = OpenImportBook(m_path);
    ASSERT_TRUE(book);
    RefPtr<IStory> story = book->Document(0)->Story(0);
    ASSERT_TRUE(story);
    using Records = std::vector<std::pair<std::string, int32_t>>;
    EXPECT_EQ(story->UnknownRecords(), (Records{{"Paragrapx[]/", 1}}));
    EXPECT_EQ(story->Paragraph(0)->UnknownRecords(), (Records{{"TextRux[]/", 2}}));
}

TEST_F(ImportBridge, EmptyDocumentsSetAndContainersThatAreNotBooks)
{
    WriteHandMade(m_path, false);
    RefPtr<IBook> book = OpenImportBook(m_path);
    ASSERT_TRUE(book);
    EXPECT_FALSE(book->Document(0));
    book.Reset();

    // A compound file without the stored-document area.
    const std::string bare = (m_dir / "bare.dwq").string();
    {
        OLEStorage root(bare.c_str(), CD_CreateWrite);
        DWX_OutStorage2* storage = CreateDWX2(root, false);
        {
            DWX_Book_Out2 writer(storage->CreateFolder2());
            writer.Finish();
            writer.Folder().Complete();
        }
        storage->Release();
        root.Flush();
    }
    EXPECT_FALSE(OpenImportBook(bare));
    // One without the exchange tree.
    const std::string other = (m_dir / "other.cfb").string();
    {
        OLEStorage root(other.c_str(), CD_CreateWrite);
        OLEStorage child(root, u"Something", CD_CreateWrite);
        root.Flush();
    }
    EXPECT_FALSE(OpenImportBook(other));
    // Not a compound file, and no file: raised here, a null Book from a spec.
    const std::string text = (m_dir / "text.txt").string();
    std::ofstream(text) << "plain text, not a container";
    EXPECT_THROW(OpenImportBook(text), FilterException);
    HostFileSpec spec{};
    SetFileSpecName(spec, text);
    EXPECT_FALSE(OpenImportBookFromSpec(spec));
    SetFileSpecName(spec, (m_dir / "absent.dwq").string());
    EXPECT_FALSE(OpenImportBookFromSpec(spec));
    WriteSampleBook(m_path, Bytes{1, 2, 3});
    SetFileSpecName(spec, m_path);
    RefPtr<IBook> fromSpec = OpenImportBookFromSpec(spec);
    ASSERT_TRUE(fromSpec);
    EXPECT_TRUE(fromSpec->Document(0));
}

TEST_F(ImportBridge, SpecsResolvedByTheHost)
{
    FakeHostServices host;
    const std::string exported = (m_dir / "exported.dwq").string();
    RefPtr<KS_DWX::Export::IBook> written;
    KS_DWX::Export::CreateExportBookFromSpec(written, host.MakeSpec(exported, "shown name.dwq"));
    ASSERT_TRUE(written);
    MemorySource source(Bytes{9, 8, 7});
    written->StoreQXP(0, &source);
    written->Finish();
    written.Reset();

    RefPtr<IBook> book = OpenImportBookFromSpec(host.MakeSpec(exported, "shown name.dwq"));
    ASSERT_TRUE(book);
    MemorySink sink;
    book->LoadQXP(0, &sink);
    EXPECT_EQ(sink.data, (Bytes{9, 8, 7}));
    EXPECT_FALSE(OpenImportBookFromSpec(host.MakeSpec((m_dir / "none.dwq").string(), "none.dwq")));
}

const char* kPythonInflate = R"(
import sys, zlib, olefile
ole = olefile.OleFileIO(sys.argv[1])
data = ole.openstream(['VerbantPluginPrivateData', 'KestoExportTemplates', '0']).read()
open(sys.argv[2], 'wb').write(zlib.decompress(data))
)";

TEST_F(ImportBridge, LoadQXPGivesTheSourceBack)
{
    for (const size_t size : {0, 1, 1023, 1024, 1025, 5000}) {
        SCOPED_TRACE(size);
        const Bytes source = Pattern(size, static_cast<uint32_t>(size) + 100);
        WriteSampleBook(m_path, source);
        RefPtr<IBook> book = OpenImportBook(m_path);
        ASSERT_TRUE(book);
        MemorySink sink;
        book->LoadQXP(0, &sink);
        EXPECT_EQ(sink.data, source);
        for (size_t i = 0; i + 1 < sink.blocks.size(); ++i)
            EXPECT_EQ(sink.blocks[i], 1024u);
        const std::string out = (m_dir / "python.out").string();
        std::string log;
        ASSERT_EQ(RunPython(kPythonInflate, {m_path, out}, log), 0) << log;
        EXPECT_EQ(FileBytes(out), sink.data);
        EXPECT_THROW(book->LoadQXP(1, &sink), FilterException);
        EXPECT_THROW(book->LoadQXP(0, nullptr), FilterException);
    }
}

// Answers a fixed number of bytes, then ends.
class ZeroSource final : public InStream {
public:
    explicit ZeroSource(uint64_t size) : m_left(size) {}
    uint32_t GetData(void* buffer, uint32_t count) override
    {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, m_left));
        std::memset(buffer, 0, n);
        m_left -= n;
        return n;
    }

private:
    uint64_t m_left;
};

TEST_F(ImportBridge, InflatedOutputStopsAtTheLimit)
{
    MemorySink sink;
    ZeroSource exact(4096);
    InflateTo(exact, sink, 4096);
    EXPECT_EQ(sink.data.size(), 4096u);

    MemorySink over;
    ZeroSource more(4097);
    try {
        InflateTo(more, over, 4096);
        FAIL() << "no error past the limit";
    } catch (const FilterException& e) {
        EXPECT_EQ(e.Code(), FE_StorageMediumFull);
    }
    EXPECT_EQ(over.data.size(), 4096u);
    EXPECT_EQ(kMaxStoredDocument, XT_MAX_DOCUMENT_FILE_BYTES);
}

// Opens and walks everything a damaged container offers; any outcome but a crash will do.
void WalkEverything(const std::string& path)
{
    RefPtr<IBook> book = OpenImportBook(path);
    if (!book)
        return;
    int32_t number = 0;
    book->GetText(u"source_data_type");
    book->GetNumber(u"maxuniqID", number);
    for (int32_t d = 0; d < 4; ++d) {
        RefPtr<IDoc> doc = book->Document(d);
        if (!doc)
            break;
        doc->GetText(u"source_platform");
        for (int32_t s = 0; s < 4; ++s) {
            RefPtr<IStory> story = doc->Story(s);
            if (!story)
                break;
            story->GetTable(u"point", 1);
            story->GetText(u"story_type");
            for (int32_t p = 0; p < 4; ++p) {
                RefPtr<IPara> para = story->Paragraph(p);
                if (!para)
                    break;
                para->GetNumber(u"uniqID", number);
                for (int32_t r = 0; r < 8; ++r) {
                    RefPtr<IRun> run = para->Run(r);
                    if (!run)
                        break;
                    run->GetText(u"typeface");
                    run->GetNumber(u"private", number);
                    Units(*run);
                }
            }
        }
    }
    MemorySink sink;
    book->LoadQXP(0, &sink);
}

TEST_F(ImportBridge, TruncatedAndBitFlippedContainersNeverCrash)
{
    WriteSampleBook(m_path, Pattern(3000, 7));
    const Bytes whole = FileBytes(m_path);
    ASSERT_GT(whole.size(), 4096u);
    const std::string damaged = (m_dir / "damaged.dwq").string();
    int opened = 0, raised = 0;
    auto attempt = [&](const Bytes& bytes) {
        std::ofstream(damaged, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        try {
            WalkEverything(damaged);
            ++opened;
        } catch (...) {
            ++raised;
        }
    };
    for (size_t length = 0; length < whole.size(); length += 509)
        attempt(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
    for (size_t position = 0; position < whole.size(); position += 97) {
        Bytes flipped = whole;
        flipped[position] ^= static_cast<uint8_t>(1u << (position % 8));
        attempt(flipped);
    }
    EXPECT_GT(raised, 0);
    EXPECT_GT(opened, 0);
}

} // namespace
