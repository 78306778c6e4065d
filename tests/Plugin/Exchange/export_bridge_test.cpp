// The export side of the exchange bridge, without a host: what a Book writes is read back
// through the document model's own readers and, for the stored host document, through
// independent readers (python3-olefile and Python's zlib).
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BridgeSample.h"
#include "ModelView.h"
#include "Container/Model/BookReaders.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/LZStreams.h"
#include "Container/Storage/OLEStorage.h"
#include "Container/Model/FileFixture.h"
#include "Plugin/Exchange/DWX_Export.h"

using namespace KS_DWX::Export;
using namespace bridge_test;
namespace fs = std::filesystem;

namespace {

class ExportBridge : public model_test::FileFixture {
protected:
    ExportBridge() : FileFixture("kesto-export-bridge-", "book.dwq") {}
};

TEST_F(ExportBridge, SampleBookReadsBackWholeThroughTheModel)
{
    const Bytes source = Pattern(5000, 1);
    WriteSampleBook(m_path, source);
    ModelView view(m_path);
    EXPECT_EQ(view.Attr(view.Book(), u"maxuniqID"), u"42");
    EXPECT_EQ(view.Attr(view.Book(), u"source_data_type"), u"QuarkXpress 7 Win {MB=1}");
    EXPECT_EQ(view.Attr(view.Book(), u"release_number"), u"1");

    auto doc = view.Document(0);
    ASSERT_TRUE(doc);
    EXPECT_EQ(view.Attr(doc, u"source_platform"), u"win");
    ASSERT_TRUE(view.Document(1));
    EXPECT_FALSE(view.Document(2));
    EXPECT_FALSE(ModelView::Story(view.Document(1), 0));

    {  // the style, with its own reference and no base
        DWX_Document_In2 d(doc);
        DWX_StylesSet_In2 styles(d.OpenStylesSet(DWX_Names::StylesSet), DWX_Names::StyleInfo);
        DWX_StyleInfo_In2 style(styles.OpenElement(0));
        ASSERT_TRUE(style.Valid());
        dwx_long ref = -1, base = 77;
        EXPECT_TRUE(style.LoadThisStyleRef(ref, DWX_Names::ThisStyleRef));
        EXPECT_EQ(ref, 5);
        EXPECT_FALSE(style.LoadBaseStyleRef(base, DWX_Names::BaseStyleRef));
        EXPECT_EQ(view.Attr(style, u"stylename"), u"Body");
    }

    auto story = ModelView::Story(doc, 0);
    ASSERT_TRUE(story);
    EXPECT_EQ(view.Attr(story, u"story_type"), u"layout_cur0");
    // Every value stays on the element that was given it, the group's partners filled in.
    EXPECT_EQ(view.Attr(story, u"sectional_pos"), u"3");
    EXPECT_EQ(view.Attr(story, u"horizontal_pos"), u"12");
    EXPECT_EQ(view.Attr(story, u"angle"), u"0");

    auto para = ModelView::Para(story, 0);
    ASSERT_TRUE(para);
    EXPECT_EQ(view.Attr(para, u"uniqID"), u"42");
    {
        DWX_Paragraph_In2 p(para);
        dwx_long ref = 99;
        EXPECT_FALSE(p.LoadStyleRef(ref, DWX_Names::StyleRef));
    }

    // The six runs, numbered together in creation order.
    DWX_TextRun_In2 r0(ModelView::Run(para, 0));
    EXPECT_EQ(ReadAll<uint16_t>(r0.OpenUnicodes(DWX_Names::Unicodes)),
              (std::vector<uint16_t>{'H', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(view.Attr(r0, u"private"), u"-1");
    EXPECT_EQ(view.Attr(r0, u"typeface"), u"Arial");
    EXPECT_EQ(view.Attr(r0, u"codepage"), u"1200");

    DWX_TextRun_In2 r1(ModelView::Run(para, 1));
    const auto holders = ReadRecords<DWX_PlaceHolder_Rec_In>(r1.OpenPlaceHolders(DWX_Names::PlaceHolders));
    ASSERT_EQ(holders.size(), 2u);
    EXPECT_EQ(holders[0].m_ObjectFolderID, 5);
    EXPECT_EQ(holders[0].m_ObjectTypeRef, -1);
    EXPECT_EQ(holders[1].m_ObjectFolderID, 7);
    EXPECT_EQ(std::u16string(view.Strings()[holders[1].m_ObjectTypeRef]), u"anchored_box");
    EXPECT_EQ(view.Attr(r1, u"private"), u"ff");
    EXPECT_FALSE(r1.OpenUnicodes(DWX_Names::Unicodes));

    DWX_TextRun_In2 r2(ModelView::Run(para, 2));
    EXPECT_EQ(ReadAll<char>(r2.OpenMultibytes(DWX_Names::Multibytes)), (std::vector<char>{'a', 'b', '\xFF'}));
    EXPECT_EQ(view.Attr(r2, u"private"), u"<absent>");  // nothing changed: no "Attrs{}"

    DWX_TextRun_In2 r3(ModelView::Run(para, 3));
    EXPECT_EQ(ReadAll<uint16_t>(r3.OpenWideMultibytes(DWX_Names::WideMultibytes)),
              (std::vector<uint16_t>{0x85, 0x2000}));
    EXPECT_EQ(view.Attr(r3, u"codepage"), u"5");

    DWX_TextRun_In2 r4(ModelView::Run(para, 4));
    const auto specials = ReadRecords<DWX_SpecialChar_Rec_In>(r4.OpenSpecialChars(DWX_Names::SpecialChars));
    ASSERT_EQ(specials.size(), 2u);
    EXPECT_EQ(std::u16string(view.Strings()[specials[0].m_NameRef]), u"tabulator");
    EXPECT_EQ(std::u16string(view.Strings()[specials[0].m_DataRef]), u"TempIndent");
    EXPECT_EQ(std::u16string(view.Strings()[specials[1].m_NameRef]), u"page_number");
    EXPECT_EQ(std::u16string(view.Strings()[specials[1].m_DataRef]), u"Last");

    DWX_TextRun_In2 r5(ModelView::Run(para, 5));
    const auto points = ReadRecords<DWX_RefPoint_Rec_In>(r5.OpenRefPoints(DWX_Names::RefPoints));
    ASSERT_EQ(points.size(), 3u);
    const char16_t* kinds[] = {u"start", u"end", u"point"};
    const dwx_long ids[] = {3, 3, 9};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(points[i].m_ObjectFolderID, ids[i]);
        EXPECT_EQ(points[i].m_ObjectTypeRef, -1);
        EXPECT_EQ(points[i].m_RefTypeRef, view.Strings().find(kinds[i]));
    }
    EXPECT_FALSE(ModelView::Run(para, 6));

    auto second = ModelView::Para(story, 1);
    {
        DWX_Paragraph_In2 p(second);
        dwx_long ref = -1;
        EXPECT_TRUE(p.LoadStyleRef(ref, DWX_Names::StyleRef));
        EXPECT_EQ(ref, 2);
        DWX_TextRun_In2 run(ModelView::Run(second, 0));
        EXPECT_TRUE(run.LoadStyleRef(ref, DWX_Names::StyleRef));
        EXPECT_EQ(ref, 4);
        EXPECT_EQ(ReadAll<uint16_t>(run.OpenUnicodes(DWX_Names::Unicodes)), LongRunText());
    }
    auto bare = ModelView::Para(ModelView::Story(doc, 1), 0);
    ASSERT_TRUE(bare);
    EXPECT_FALSE(ModelView::Run(bare, 0));
    EXPECT_FALSE(ModelView::Story(doc, 2));
}

TEST_F(ExportBridge, NumbersTextsAndStringIds)
{
    RefPtr<IBook> book = CreateExportBook(m_path);
    RefPtr<IDoc> doc;
    book->CreateDocument(doc, 0);
    EXPECT_TRUE(SetNumericAttr(doc.Get(), u"a", 255, true));
    EXPECT_TRUE(SetNumericAttr(doc.Get(), u"b", 255, false));
    EXPECT_TRUE(SetNumericAttr(doc.Get(), u"c", -1, false));
    EXPECT_TRUE(SetNumericAttr(doc.Get(), u"d", -1, true));
    EXPECT_TRUE(SetNumericAttr(doc.Get(), u"e", INT32_MIN, false));
    EXPECT_FALSE(SetNumericAttr(nullptr, u"f", 1, false));

    const int32_t first = doc->StringRef(u"never seen before");
    EXPECT_EQ(doc->StringRef(u"never seen before"), first);
    EXPECT_EQ(doc->StringRef(nullptr), -1);
    EXPECT_EQ(book->StringRef(u"next new text"), first + 1);  // the null took no id
    doc.Reset();
    book->Finish();
    book.Reset();

    ModelView view(m_path);
    auto d = view.Document(0);
    EXPECT_EQ(view.Attr(d, u"a"), u"ff");
    EXPECT_EQ(view.Attr(d, u"b"), u"255");
    EXPECT_EQ(view.Attr(d, u"c"), u"-1");
    EXPECT_EQ(view.Attr(d, u"d"), u"ffffffff");
    EXPECT_EQ(view.Attr(d, u"e"), u"-2147483648");
    EXPECT_EQ(view.Strings().find(u"never seen before"), first);
}

TEST_F(ExportBridge, AttributesStayOnTheirElementAndOverwrite)
{
    RefPtr<IBook> book = CreateExportBook(m_path);
    RefPtr<IDoc> doc;
    book->CreateDocument(doc, 0);
    RefPtr<IStory> story;
    doc->CreateStory(story, 0);
    RefPtr<IPara> para;
    story->CreatePara(para, 0, -1);
    // The Book holds "bold" "off" among its defaults; a run still gets its own value.
    RefPtr<IAttrs> run;
    const uint16_t text[] = {'x', 'y'};
    para->Unicodes(run, text, 3, -1);  // an odd byte count drops the last byte
    EXPECT_TRUE(run->SetAttr(u"bold", u"off"));
    EXPECT_TRUE(run->SetAttr(u"italic", u"on"));
    EXPECT_TRUE(run->SetAttr(u"italic", u"off"));
    EXPECT_TRUE(para->SetAttr(u"sectional_pos", u"2"));
    EXPECT_TRUE(para->SetAttr(u"horizontal_pos", u"12"));
    EXPECT_TRUE(para->SetAttr(u"vertical_pos", u"-7"));
    book.Reset();
    doc.Reset();
    story.Reset();
    para.Reset();
    run.Reset();

    ModelView view(m_path);
    auto p = ModelView::Para(ModelView::Story(view.Document(0), 0), 0);
    EXPECT_EQ(view.Attr(p, u"sectional_pos"), u"2");
    EXPECT_EQ(view.Attr(p, u"horizontal_pos"), u"12");
    EXPECT_EQ(view.Attr(p, u"vertical_pos"), u"-7");
    EXPECT_EQ(view.Attr(p, u"width"), u"0");
    EXPECT_EQ(view.Attr(p, u"angle"), u"0");
    DWX_TextRun_In2 r(ModelView::Run(p, 0));
    EXPECT_EQ(view.Attr(r, u"bold"), u"off");
    EXPECT_EQ(view.Attr(r, u"italic"), u"off");
    EXPECT_EQ(ReadAll<uint16_t>(r.OpenUnicodes(DWX_Names::Unicodes)), (std::vector<uint16_t>{'x'}));
    // The story was never given anything: it has no "Attrs{}" of its own.
    EXPECT_EQ(view.Attr(ModelView::Story(view.Document(0), 0), u"sectional_pos"), u"<absent>");
}

TEST_F(ExportBridge, StoredDocumentsInflateWithPythonToTheirSources)
{
    for (const size_t size : {0, 1, 1023, 1024, 1025, 5000}) {
        SCOPED_TRACE(size);
        const Bytes source = Pattern(size, static_cast<uint32_t>(size));
        WriteSampleBook(m_path, source);  // the Book released first, the container completed last
        const std::string out0 = (m_dir / "out0").string(), out7 = (m_dir / "out7").string();
        std::string log;
        ASSERT_EQ(RunPython(kInflateScript, {m_path, "0", out0}, log), 0) << log;
        EXPECT_EQ(FileBytes(out0), source);
        log.clear();
        ASSERT_EQ(RunPython(kInflateScript, {m_path, "7", out7}, log), 0) << log;
        EXPECT_TRUE(FileBytes(out7).empty());
        // The rest of the container is whole as well.
        ModelView view(m_path);
        DWX_TextRun_In2 run(ModelView::Run(ModelView::Para(ModelView::Story(view.Document(0), 0), 1), 0));
        EXPECT_EQ(ReadAll<uint16_t>(run.OpenUnicodes(DWX_Names::Unicodes)), LongRunText());
    }
}

TEST_F(ExportBridge, StoreQXPReadsTheSourceInBlocksOf1024)
{
    for (const size_t size : {0, 1, 1023, 1024, 1025, 5000}) {
        SCOPED_TRACE(size);
        RefPtr<IBook> book = CreateExportBook(m_path);
        MemorySource in(Pattern(size, 3));
        book->StoreQXP(0, &in);
        EXPECT_EQ(in.reads.size(), (size + 1023) / 1024 + 1);  // until a read answers 0
        for (uint32_t asked : in.reads)
            EXPECT_EQ(asked, 1024u);
        MemorySource none(Bytes{});
        book->StoreQXP(7, &none);  // a valid zlib stream of nothing
        book->Finish();
        std::string log;
        const std::string out7 = (m_dir / "out7").string();
        ASSERT_EQ(RunPython(kInflateScript, {m_path, "7", out7}, log), 0) << log;
        EXPECT_TRUE(FileBytes(out7).empty());
    }
}

TEST_F(ExportBridge, AbandonedBookLeavesTheTargetAsItWas)
{
    WriteSampleBook(m_path, Pattern(100, 2));
    const Bytes original = FileBytes(m_path);
    {
        RefPtr<IBook> book = CreateExportBook(m_path);
        RefPtr<IDoc> doc;
        book->CreateDocument(doc, 0);
        doc->AddAttr(u"source_platform", u"mac");
        MemorySource in(Pattern(3000, 3));
        book->StoreQXP(0, &in);
        book->Abandon();
        book->Abandon();
        EXPECT_THROW(book->Finish(), FilterException);
    }
    EXPECT_EQ(FileBytes(m_path), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);

    // Released while an exception unwinds: the export failed, the target stays.
    try {
        RefPtr<IBook> book = CreateExportBook(m_path);
        RefPtr<IDoc> doc;
        book->CreateDocument(doc, 0);
        throw 1;
    } catch (int) {
    }
    EXPECT_EQ(FileBytes(m_path), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST_F(ExportBridge, FinishStoresWhatIsStillHeldAndIgnoresLaterChanges)
{
    RefPtr<IBook> book = CreateExportBook(m_path);
    RefPtr<IDoc> doc;
    book->CreateDocument(doc, 0);
    RefPtr<IStory> story;
    doc->CreateStory(story, 0);
    story->SetAttr(u"story_type", u"layout_prn1");
    RefPtr<IPara> para;
    story->CreatePara(para, 0, -1);
    RefPtr<IRun<CF_RefPoint>> points;
    para->RefPoints(points, -1);
    AddRefPoint(points, 11, u"point");
    points->SetAttr(u"private", u"3");
    book->AddAttr(u"maxuniqID", u"0");
    book->Finish();
    book->Finish();  // once is enough
    story->SetAttr(u"story_type", u"changed too late");
    book.Reset();
    doc.Reset();
    story.Reset();
    para.Reset();
    points.Reset();

    ModelView view(m_path);
    EXPECT_EQ(view.Attr(view.Book(), u"maxuniqID"), u"0");
    auto s = ModelView::Story(view.Document(0), 0);
    EXPECT_EQ(view.Attr(s, u"story_type"), u"layout_prn1");
    DWX_TextRun_In2 run(ModelView::Run(ModelView::Para(s, 0), 0));
    EXPECT_EQ(view.Attr(run, u"private"), u"3");
    const auto records = ReadRecords<DWX_RefPoint_Rec_In>(run.OpenRefPoints(DWX_Names::RefPoints));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].m_ObjectFolderID, 11);
    EXPECT_EQ(records[0].m_RefTypeRef, view.Strings().find(u"point"));
}

TEST_F(ExportBridge, FailedWriteRaisesFromFinishAndKeepsTheTarget)
{
    WriteSampleBook(m_path, Pattern(100, 4));
    const Bytes original = FileBytes(m_path);
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {256 << 10, 256 << 10};
        setrlimit(RLIMIT_FSIZE, &limit);
        int code = 0;
        try {
            RefPtr<IBook> book = CreateExportBook(m_path);
            try {
                MemorySource in(Pattern(2 << 20, 5));
                book->StoreQXP(0, &in);
            } catch (const FilterException&) {
            }
            try {
                book->Finish();
                _exit(10);  // reported as success
            } catch (const FilterException& e) {
                code = e.Code();
            }
        } catch (...) {
            _exit(11);
        }
        _exit(code == FE_StorageMediumFull ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(FileBytes(m_path), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST_F(ExportBridge, RefusedPathsGiveNoBook)
{
    EXPECT_THROW(CreateExportBook((m_dir / "missing" / "x.dwq").string()), FilterException);
    RefPtr<IBook> book;
    HostFileSpec spec{};
    SetFileSpecName(spec, (m_dir / "missing" / "x.dwq").string());
    CreateExportBookFromSpec(book, spec);
    EXPECT_FALSE(book);
    SetFileSpecName(spec, "");
    CreateExportBookFromSpec(book, spec);
    EXPECT_FALSE(book);
    // A spec the host cannot give a path for never falls back to its bare name, which would
    // land in whatever folder the process runs in.
    const fs::path home = fs::current_path();
    fs::current_path(m_dir);
    SetFileSpecName(spec, "fallback.dwq");
    CreateExportBookFromSpec(book, spec);
    fs::current_path(home);
    EXPECT_FALSE(book);
    book.Reset();
    EXPECT_FALSE(fs::exists(m_dir / "fallback.dwq"));
    // A path longer than the host's 260-byte buffer is taken whole.
    const fs::path deep = m_dir / std::string(200, 'd');
    fs::create_directories(deep);
    const std::string longPath = (deep / (std::string(100, 'n') + ".dwq")).string();
    ASSERT_GT(longPath.size(), 260u);
    book = CreateExportBook(longPath);
    ASSERT_TRUE(book);
    book->Finish();
    EXPECT_TRUE(fs::exists(longPath));
}

} // namespace
