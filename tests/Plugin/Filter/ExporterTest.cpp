// The document exporter in the emulated host with the module linked in: the export example's
// layouts written into one Book the way the export command does it, then read back with
// Python's olefile and zlib and with the model's readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "BridgeSample.h"
#include "ModelView.h"
#include "Plugin/Filter/Exporter.h"
#include "Plugin/ModuleHostFixture.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoInterface.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/ValueSlots.h"
#include "platform/host/documents/XTDocSuites.h"
#include "platform/host/documents/testing/DocBuilder.h"
#include "platform/host/documents/testing/HiddenExample.h"

using namespace KS_DWX::Export;
using namespace bridge_test;

namespace {

using xthost::doc::Place;

constexpr int32_t pt(int32_t points) { return points * 65536; }

// An element of the Book with the attributes the test reads.
struct WithAttrs {
    std::map<std::u16string, std::u16string> attrs;
    std::u16string Attr(const char16_t* name) const
    {
        const auto found = attrs.find(name);
        return found == attrs.end() ? u"<absent>" : found->second;
    }
};

// One run of the Book as the test looks at it: its kind, its content and its attributes.
struct RunView : WithAttrs {
    std::string kind;                  // "Unicodes", "WideMultibytes", "SpecialChars", ...
    std::vector<uint16_t> units;       // Unicodes and WideMultibytes
    std::vector<std::u16string> data;  // records: "name/qualifier", "id/type"
};
struct ParaView : WithAttrs {
    std::vector<RunView> runs;
    // The text of the paragraph's Unicodes runs.
    std::u16string Text() const
    {
        std::u16string text;
        for (const RunView& run : runs)
            if (run.kind == "Unicodes")
                text.append(run.units.begin(), run.units.end());
        return text;
    }
};
struct StoryView : WithAttrs {
    std::vector<ParaView> paras;
    std::u16string Text() const
    {
        std::u16string text;
        for (const ParaView& para : paras)
            text += para.Text();
        return text;
    }
};

const char16_t* const kStoryNames[] = {u"story_type", u"story_sub_type", u"layer_name", u"layer_visibility",
                                       u"sectional_pos", u"horizontal_pos", u"vertical_pos", u"width",
                                       u"height", u"angle", u"uniqID", u"stylename"};
const char16_t* const kRunNames[] = {u"private", u"codepage", u"typeface", u"typeface_codepage", u"bold",
                                     u"italic", u"underline", u"caps", u"kerning", u"tracking",
                                     u"color_type", u"color_name", u"shift", u"size"};

template <class Names>
std::map<std::u16string, std::u16string> AttrsOf(ModelView& view, const DWX_Handle<DWX_InFolder2>& folder,
                                                 const Names& names)
{
    std::map<std::u16string, std::u16string> attrs;
    for (const char16_t* name : names) {
        const std::u16string value = view.Attr(folder, name);
        if (value != u"<absent>")
            attrs[name] = value;
    }
    return attrs;
}

std::u16string StringOf(ModelView& view, dwx_long ref)
{
    return ref < 0 ? u"-" : std::u16string(view.Strings()[ref]);
}

RunView ReadRun(ModelView& view, const DWX_Handle<DWX_InFolder2>& folder)
{
    RunView run;
    run.attrs = AttrsOf(view, folder, kRunNames);
    DWX_TextRun_In2 reader(folder);
    if (auto s = reader.OpenUnicodes(DWX_Names::Unicodes)) {
        run.kind = "Unicodes";
        run.units = ReadAll<uint16_t>(s);
    } else if (auto w = reader.OpenWideMultibytes(DWX_Names::WideMultibytes)) {
        run.kind = "WideMultibytes";
        run.units = ReadAll<uint16_t>(w);
    } else if (auto sc = reader.OpenSpecialChars(DWX_Names::SpecialChars)) {
        run.kind = "SpecialChars";
        for (const auto& r : ReadRecords<DWX_SpecialChar_Rec_In>(sc))
            run.data.push_back(StringOf(view, r.m_NameRef) + u"/" + StringOf(view, r.m_DataRef));
    } else if (auto ph = reader.OpenPlaceHolders(DWX_Names::PlaceHolders)) {
        run.kind = "PlaceHolders";
        for (const auto& r : ReadRecords<DWX_PlaceHolder_Rec_In>(ph))
            run.data.push_back(std::u16string(1, char16_t(u'0' + r.m_ObjectFolderID % 10)) + u"/" +
                               StringOf(view, r.m_ObjectTypeRef));
    } else if (auto rp = reader.OpenRefPoints(DWX_Names::RefPoints)) {
        run.kind = "RefPoints";
        for (const auto& r : ReadRecords<DWX_RefPoint_Rec_In>(rp))
            run.data.push_back(StringOf(view, r.m_RefTypeRef));
    } else if (reader.OpenMultibytes(DWX_Names::Multibytes)) {
        run.kind = "Multibytes";
    }
    return run;
}

// Visits the elements 0, 1, ... that open gives, up to the first it does not.
template <class Open, class Visit>
void EachElement(Open open, Visit visit)
{
    for (int32_t i = 0;; ++i) {
        const auto element = open(i);
        if (!element)
            return;
        visit(element);
    }
}

std::vector<StoryView> ReadStories(ModelView& view)
{
    std::vector<StoryView> stories;
    const auto doc = view.Document(0);
    EachElement([&](int32_t s) { return ModelView::Story(doc, s); }, [&](const auto& story) {
        StoryView sv;
        sv.attrs = AttrsOf(view, story, kStoryNames);
        EachElement([&](int32_t p) { return ModelView::Para(story, p); }, [&](const auto& para) {
            ParaView pv;
            pv.attrs = AttrsOf(view, para, kStoryNames);
            EachElement([&](int32_t r) { return ModelView::Run(para, r); },
                        [&](const auto& run) { pv.runs.push_back(ReadRun(view, run)); });
            sv.paras.push_back(std::move(pv));
        });
        stories.push_back(std::move(sv));
    });
    return stories;
}

std::string Narrow(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// A readable listing of the stories, for failure messages.
std::string Listing(const std::vector<StoryView>& stories)
{
    std::ostringstream out;
    for (size_t s = 0; s < stories.size(); ++s) {
        out << "story " << s;
        for (const auto& [k, v] : stories[s].attrs)
            out << " " << Narrow(k) << "=" << Narrow(v);
        out << "\n";
        for (size_t p = 0; p < stories[s].paras.size(); ++p) {
            const ParaView& para = stories[s].paras[p];
            out << "  para " << p;
            for (const auto& [k, v] : para.attrs)
                out << " " << Narrow(k) << "=" << Narrow(v);
            out << "\n";
            for (const RunView& run : para.runs) {
                out << "    " << run.kind << " [";
                for (uint16_t u : run.units)
                    out << (u >= 0x20 && u < 0x7F ? std::string(1, char(u)) : "\\x" + std::to_string(u));
                for (const auto& d : run.data)
                    out << Narrow(d) << ";";
                out << "]";
                for (const auto& [k, v] : run.attrs)
                    out << " " << Narrow(k) << "=" << Narrow(v);
                out << "\n";
            }
        }
    }
    return out.str();
}

class ExporterTest : public kesto_test::ModuleHostTest {
protected:
    ExporterTest() : ModuleHostTest("filter") {}

    void TearDown() override
    {
        exporter.reset();
        doc.Reset();
        if (book)
            book->Abandon();
        book.Reset();
        document.Reset();
        Exporter::ForgetSkipProcessHidden();
        ModuleHostTest::TearDown();
    }

    // Exports every layout of the open document into a Book at target, as the export command
    // does: one Book document, one exporter per layout, the saved document stored last.
    void ExportAll(const std::string& source, const std::string& target)
    {
        RefPtr<IBook> book = CreateExportBook(target);
        ASSERT_TRUE(book);
        RefPtr<IDoc> doc;
        book->CreateDocument(doc, 0);
        doc->AddAttr(u"source_platform", u"win");
        UniqIdSet ids;
        int32_t largest = 0;
        int16_t noted = -1;
        ASSERT_EQ(CallHost<XDD_CurrentDocId>(&noted), XT_OK);
        XTHandle project = 0;
        ASSERT_EQ(CallHost<XPK_CurrentProject>(&project), XT_OK);
        int16_t layouts = 0;
        ASSERT_EQ(CallHost<XPK_LayoutCount>(project, &layouts), XT_OK);
        ASSERT_EQ(layouts, 3);
        RefPtr<QuarkDoc> document(new QuarkDoc());
        for (int16_t i = 0; i < layouts; ++i) {
            int16_t id = 0;
            ASSERT_EQ(CallHost<XPK_LayoutDocument>(project, i, &id), XT_OK);
            document->Finish();
            ASSERT_EQ(CallHost<LTY_MakeLayoutCurrent>(id), XT_OK);
            document = RefPtr<QuarkDoc>(new QuarkDoc());
            std::unique_ptr<Exporter> exporter = CreateExporter(document.Get(), doc.Get(), &ids);
            ASSERT_TRUE(exporter);
            uint32_t type = 0;
            CallHost<XPK_LayoutType>(id, &type);
            const int32_t kind = id == noted ? kLayoutCurrent
                                 : type == XT_FOURCC('X', 'W', 'E', 'B') ? kLayoutWeb
                                                                         : kLayoutPrint;
            exporter->SetLayout(kind, i);
            exporter->ExportDocument();
            largest = std::max(largest, exporter->LargestUniqID());
            if (i == layouts - 1) {
                ASSERT_EQ(CallHost<LTY_MakeLayoutCurrent>(noted), XT_OK);
                SetNumericAttr(book.Get(), u"maxuniqID", largest, false);
                document->Save();
                MemorySource saved(FileBytes(source));
                book->StoreQXP(0, &saved);
            }
        }
        doc.Reset();
        book->Finish();
    }

    // Starts the host with the settings, opens the export example and exports it.
    std::vector<StoryView> Export(const std::string& settings)
    {
        Start(settings);
        KestoInterface::Instance()->SetExtendedMode(true);
        source = OpenExample("export.qxp");
        target = (app / "export.dwq").string();
        ExportAll(source, target);
        ModelView view(target);
        maxUniqID = view.Attr(view.Book(), u"maxuniqID");
        return ReadStories(view);
    }

    // The example open (the export example unless named), a Book of one document and an exporter
    // of the current layout.
    void BeginBook(const std::string& example = "export.qxp")
    {
        Start();
        OpenExample(example);
        StartBook();
    }
    // The same on a document built in the test; the host is started.
    void BeginBuiltBook(xthost::doc::DocBuilder& builder)
    {
        const std::string path = (app / "built.qxp").string();
        ASSERT_TRUE(xthost::doc::WriteFileAtomically(path, builder.Bytes()));
        ASSERT_EQ(Docs().Open(path, 63), XT_OK) << host->Log().Text();
        StartBook();
    }
    void StartBook()
    {
        book = CreateExportBook((app / "single.dwq").string());
        book->CreateDocument(doc, 0);
        document = RefPtr<QuarkDoc>(new QuarkDoc());
        exporter = CreateExporter(document.Get(), doc.Get(), &ids);
        ASSERT_TRUE(exporter);
    }
    // Completes that Book and reads its stories back.
    std::vector<StoryView> FinishBook()
    {
        exporter.reset();
        doc.Reset();
        book->Finish();
        book.Reset();
        ModelView view((app / "single.dwq").string());
        return ReadStories(view);
    }

    std::string source;
    std::string target;
    std::u16string maxUniqID;
    RefPtr<IBook> book;
    RefPtr<IDoc> doc;
    UniqIdSet ids;
    RefPtr<QuarkDoc> document;
    std::unique_ptr<Exporter> exporter;
};

// The first run of the story whose Unicodes are text, or null.
const RunView* RunWithText(const StoryView& story, const std::u16string& text)
{
    for (const ParaView& para : story.paras)
        for (const RunView& run : para.runs)
            if (run.kind == "Unicodes" && std::u16string(run.units.begin(), run.units.end()) == text)
                return &run;
    return nullptr;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Story order of export.qxp: link ids of the print layout, then the web and the second print
// layout.
enum : size_t {
    kHeaderPage1 = 0,
    kCaption = 1,
    kChain = 2,
    kTurned = 3,
    kHeaderPage2 = 4,
    kHiddenLayer = 5,
    kUnusedMaster = 6,
    kWeb = 7,
    kPrint2 = 8,
    kStories = 9,
};

TEST_F(ExporterTest, ExportExampleIntoOneBook)
{
    const std::vector<StoryView> stories = Export("");
    const std::string listing = Listing(stories);
    ASSERT_EQ(stories.size(), size_t(kStories)) << listing;

    // A story per linked chain in link-id order, layout by layout.
    for (size_t s = 0; s < kStories; ++s)
        EXPECT_EQ(stories[s].Attr(u"story_type"),
                  s == kWeb ? u"layout_web1" : s == kPrint2 ? u"layout_prn2" : u"layout_cur0")
            << s;
    EXPECT_EQ(stories[kCaption].Text(), u"Anchored caption");
    EXPECT_EQ(stories[kChain].paras[0].Text(), u"Export sample");
    EXPECT_EQ(stories[kTurned].Text(), u"First paragraph of the turned boxSecond paragraph");
    EXPECT_EQ(stories[kWeb].Text(), u"Text of the web layout");
    EXPECT_EQ(stories[kPrint2].Text(), u"Text of the second print layout");

    // Master B's box and only that one is of an unused master page.
    for (size_t s = 0; s < kStories; ++s)
        EXPECT_EQ(stories[s].Attr(u"story_sub_type"), s == kUnusedMaster ? u"master_page_no_use" : u"<absent>")
            << s;
    EXPECT_EQ(stories[kUnusedMaster].Text(), u"Text of the unused master B");
    // Its page counts without the master pages, on the box and its paragraphs alike.
    const std::u16string masterPage = stories[kUnusedMaster].Attr(u"sectional_pos");
    EXPECT_EQ(masterPage[0], u'-') << listing;
    EXPECT_EQ(stories[kUnusedMaster].paras[0].Attr(u"sectional_pos"), masterPage);

    // Layers (extended mode): the hidden one, the others shown.
    EXPECT_EQ(stories[kHiddenLayer].Attr(u"layer_name"), u"Hidden");
    EXPECT_EQ(stories[kHiddenLayer].Attr(u"layer_visibility"), u"hide");
    EXPECT_EQ(stories[kChain].Attr(u"layer_visibility"), u"show");
    EXPECT_EQ(stories[kUnusedMaster].Attr(u"layer_name"), u"<absent>");  // master boxes are skipped

    // Geometry of the box, the paragraphs' style names, the turned box's angle.
    const StoryView& chain = stories[kChain];
    EXPECT_EQ(chain.Attr(u"sectional_pos"), u"1");
    EXPECT_EQ(chain.Attr(u"horizontal_pos"), u"36");
    EXPECT_EQ(chain.Attr(u"vertical_pos"), u"36");
    EXPECT_EQ(chain.Attr(u"width"), u"540");
    EXPECT_EQ(chain.Attr(u"height"), u"264");
    EXPECT_EQ(chain.Attr(u"stylename"), u"<absent>");
    EXPECT_EQ(chain.paras[0].Attr(u"stylename"), u"Heading");
    EXPECT_EQ(chain.paras[1].Attr(u"stylename"), u"Normal");
    EXPECT_EQ(stories[kTurned].Attr(u"angle"), u"330");
    EXPECT_EQ(stories[kTurned].Attr(u"width"), u"300");
    EXPECT_EQ(stories[kTurned].Attr(u"height"), u"100");
    for (const ParaView& para : stories[kTurned].paras)
        EXPECT_EQ(para.Attr(u"angle"), u"330");
    EXPECT_EQ(chain.Attr(u"angle"), u"0");
    EXPECT_NE(stories[kCaption].paras[0].Attr(u"width"), u"0");

    // Special characters: tab, indent here, 0x1C and 0x0B dropped, 0x85 and character 17.
    const ParaView* tabs = nullptr;
    for (const ParaView& para : chain.paras)
        if (!para.runs.empty() && para.runs[0].units == std::vector<uint16_t>{'a'})
            tabs = &para;
    ASSERT_TRUE(tabs) << listing;
    ASSERT_EQ(tabs->runs.size(), 6u) << listing;
    EXPECT_EQ(tabs->runs[1].kind, "Unicodes");
    EXPECT_EQ(tabs->runs[1].units, std::vector<uint16_t>{0x09});
    EXPECT_EQ(tabs->runs[0].Attr(u"codepage"), u"1200");
    EXPECT_EQ(tabs->runs[3].kind, "SpecialChars");
    EXPECT_EQ(tabs->runs[3].data, std::vector<std::u16string>{u"tabulator/TempIndent"});
    EXPECT_EQ(tabs->runs[4].units, std::vector<uint16_t>{'c'});
    EXPECT_EQ(tabs->runs[5].units, std::vector<uint16_t>{'d'});
    const ParaView& next = *(tabs + 1);
    ASSERT_EQ(next.runs.size(), 5u) << listing;
    EXPECT_EQ(next.runs[1].kind, "WideMultibytes");
    EXPECT_EQ(next.runs[1].units, std::vector<uint16_t>{0x85});
    EXPECT_EQ(next.runs[1].Attr(u"codepage"), u"5");
    EXPECT_EQ(next.runs[3].kind, "Unicodes");
    EXPECT_EQ(next.runs[3].units, std::vector<uint16_t>{17});
    EXPECT_EQ(next.runs[3].Attr(u"codepage"), u"5");
    EXPECT_EQ(next.Text(), std::u16string(u"ef\x11g"));

    // Page numbers, placeholders and reference points, in story order.
    std::vector<std::u16string> objects;
    std::map<std::u16string, std::vector<int32_t>> refIds;
    for (const ParaView& para : chain.paras)
        for (const RunView& run : para.runs)
            if (run.kind == "SpecialChars" && run.data[0].rfind(u"page_number", 0) == 0)
                objects.push_back(run.data[0]);
            else if (run.kind == "PlaceHolders" || run.kind == "RefPoints")
                objects.push_back(run.kind == "RefPoints" ? run.data[0] : u"holder");
    EXPECT_EQ(objects, (std::vector<std::u16string>{u"page_number/Curr", u"page_number/Last", u"page_number/Next",
                                                    u"holder", u"start", u"start", u"end", u"end", u"point",
                                                    u"holder"}))
        << listing;
    EXPECT_EQ(chain.Text().find(u"tagged"), std::u16string::npos);

    // Unique ids: 42 once in the Book on the paragraph after its first marker, 17, none for the
    // marker that does not parse; the largest is 42.
    std::vector<std::pair<size_t, std::u16string>> ids;
    for (size_t s = 0; s < kStories; ++s) {
        EXPECT_EQ(stories[s].Attr(u"uniqID"), u"<absent>");
        for (const ParaView& para : stories[s].paras)
            if (para.Attr(u"uniqID") != u"<absent>")
                ids.emplace_back(s, para.Attr(u"uniqID") + u":" + para.Text());
    }
    EXPECT_EQ(ids, (std::vector<std::pair<size_t, std::u16string>>{{kChain, u"42:Export sample"},
                                                                    {kChain, u"17: bad "}}))
        << listing;
    EXPECT_EQ(maxUniqID, u"42");

    // Fonts, faces and colours.
    const auto typeface = [&](const char16_t* text, const char16_t* name) {
        const RunView* run = RunWithText(chain, text);
        return run ? run->Attr(name) : u"<no run>";
    };
    EXPECT_EQ(typeface(u"missing", u"typeface"), u"Unknown Font 77");
    EXPECT_EQ(typeface(u"\u0391\u03BB\u03C6\u03B1", u"typeface_codepage"), u"1253");
    EXPECT_EQ(typeface(u"\u05E9\u05DC\u05D5\u05DD", u"typeface_codepage"), u"1255");
    EXPECT_EQ(typeface(u"\u65E5\u672C\u8A9E", u"typeface_codepage"), u"932");
    EXPECT_EQ(typeface(u"underlined", u"underline"), u"");
    EXPECT_EQ(typeface(u"bold", u"bold"), u"on");
    EXPECT_EQ(typeface(u"Small Caps", u"caps"), u"small_caps");
    EXPECT_EQ(typeface(u"cyan", u"color_type"), u"QCMK");
    EXPECT_EQ(typeface(u"cyan", u"color_name"), u"Process Cyan");
    EXPECT_EQ(typeface(u"kerned", u"kerning"), u"20");
    EXPECT_EQ(typeface(u"tracked", u"tracking"), u"-10");
    EXPECT_EQ(typeface(u"2", u"shift"), u"top");
    EXPECT_EQ(Count(GeneralLog(), "Underline conflict"), 1u);
}

// The boxes that the host derived from a master box are master-page stories in layout view.
TEST_F(ExporterTest, WithoutAutotextHandlingMasterBoxesGoByTheirRecords)
{
    const std::vector<StoryView> stories = Export("[Options]\nmasterPageMode=0\n");
    const std::string listing = Listing(stories);
    ASSERT_EQ(stories.size(), size_t(kStories)) << listing;
    for (size_t s : {kHeaderPage1, kHeaderPage2})
        EXPECT_EQ(stories[s].Attr(u"story_sub_type"), u"master_page") << s;
    for (size_t s : {kCaption, kChain, kTurned, kHiddenLayer, kWeb, kPrint2})
        EXPECT_EQ(stories[s].Attr(u"story_sub_type"), u"<absent>") << s;
}

TEST_F(ExporterTest, StoredDocumentIsTheSavedSourceForPython)
{
    Export("");
    std::string log;
    const std::string out = (app / "stored0").string();
    ASSERT_EQ(RunPython(kInflateScript, {target, "0", out}, log), 0) << log;
    const Bytes saved = FileBytes(source);
    EXPECT_FALSE(saved.empty());
    EXPECT_EQ(FileBytes(out), saved);
}

TEST_F(ExporterTest, SkippedHiddenContentIsLoggedAndLeftOut)
{
    const std::vector<StoryView> stories = Export("[QUARK]\nSkipProcessHidden=True\n");
    ASSERT_EQ(stories.size(), size_t(kStories));
    const std::string log = GeneralLog();
    // The hidden runs 0x08, 0x45, 0x46, 0x26, 0x25, 0x81, 0x27 and the tag run.
    EXPECT_EQ(Count(log, "*** Object(s) not been exported: para="), 8u) << log;
    EXPECT_EQ(Count(log, "*** Object(s) not been exported: para=13  opcode=8\n"), 1u) << log;
    size_t holders = 0;
    for (const StoryView& story : stories)
        for (const ParaView& para : story.paras)
            for (const RunView& run : para.runs) {
                EXPECT_NE(run.kind, "RefPoints");
                holders += run.kind == "PlaceHolders";
            }
    EXPECT_EQ(holders, 1u);  // the anchored box only
}

TEST_F(ExporterTest, AnchoredItemTheMapLacksIsReportedAndTheWalkGoesOn)
{
    // A rule of dots is no story: the connection never walks it, so its anchored item has no id.
    Start();
    xthost::doc::DocBuilder b;
    const int32_t cf = b.PlainText(pt(12));
    b.Page(0);
    const uint32_t linked = b.TextBox(Place::OnSpread(0), {pt(36), pt(36), pt(300), pt(300)});
    b.Story({linked}).Text(u"A story to link.", cf).End();
    const uint32_t rule = b.TextBox(Place::OnSpread(0), {pt(320), pt(36), pt(400), pt(300)});
    const uint32_t picture = b.PictureBox(Place::Loose_(), {0, 0, pt(20), pt(20)});
    const std::u16string dots(20, u'.');
    b.Story({rule}).Text(dots, cf).Anchor(picture, cf, 5).Text(dots, cf).End();
    ASSERT_NO_FATAL_FAILURE(BeginBuiltBook(b));
    ASSERT_FALSE(exporter->IsLinked(Box(rule), nullptr));
    testing::internal::CaptureStderr();
    exporter->ExportBox(0, Box(rule));
    const std::string reported = testing::internal::GetCapturedStderr();
    EXPECT_NE(reported.find("Unexpected error at Exporter.cpp"), std::string::npos) << reported;
    const std::vector<StoryView> stories = FinishBook();
    ASSERT_EQ(stories.size(), 1u);
    EXPECT_EQ(stories[0].paras.back().Text(), dots);
    for (const ParaView& para : stories[0].paras)
        for (const RunView& run : para.runs)
            EXPECT_NE(run.kind, "PlaceHolders");
}

// hidden.qxp anchors two picture boxes, which are no stories: each goes out under the id the
// connection gave it, the one the import's view of the story knows it by.
TEST_F(ExporterTest, AnchoredItemsThatAreNoStoriesGoOutAsPlaceHoldersUnderTheirOwnIds)
{
    ASSERT_NO_FATAL_FAILURE(BeginBook("hidden.qxp"));
    const XTHandle box = Box(xthost::doc::HiddenExampleLayout().storyBox);
    std::vector<std::u16string> ids;
    {
        QStoryText text(box);
        QStoryCursor cursor(text);
        for (; cursor.HasMore(); cursor.Next()) {
            if (cursor.GetRunKind() != 1)
                continue;
            QStoryCursor lookup = cursor;
            int32_t id = -1;
            ASSERT_TRUE(exporter->GetHiddenId(lookup, id));
            // Ids of their own, apart from those of the other hidden content.
            EXPECT_LT(id, exporter->HiddenBase());
            const std::string digits = std::to_string(id);
            ids.push_back(std::u16string(digits.begin(), digits.end()) + u"/-");
        }
    }
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_NE(ids[0], ids[1]);
    testing::internal::CaptureStderr();
    exporter->ExportDocument();
    const std::string reported = testing::internal::GetCapturedStderr();
    EXPECT_EQ(reported.find("Unexpected error"), std::string::npos) << reported;
    const std::vector<StoryView> stories = FinishBook();
    ASSERT_EQ(stories.size(), 1u);
    std::vector<std::u16string> holders;
    std::u16string between;  // the text of the paragraphs from the first placeholder on
    for (const ParaView& para : stories[0].paras)
        for (const RunView& run : para.runs) {
            if (run.kind == "PlaceHolders")
                holders.insert(holders.end(), run.data.begin(), run.data.end());
            else if (!holders.empty() && holders.size() < 2 && run.kind == "Unicodes")
                between.append(run.units.begin(), run.units.end());
        }
    EXPECT_EQ(holders, ids);
    EXPECT_EQ(between, u" and ");
}

// The runs of one exported story: the caption of export.qxp with text put in front of it.
TEST_F(ExporterTest, CharactersOfOneStyleRunSplitByKindAndCodePage)
{
    ASSERT_NO_FATAL_FAILURE(BeginBook());
    const XTHandle caption = exporter->FindBox(kCaption);
    ASSERT_TRUE(caption);
    // A mapped character between plain ones, a control character, then the old text.
    const std::u16string front = u"a\x0F" u"b\x1F" u"c";
    QStory story(caption);
    ASSERT_EQ(InsertHostText(story.GetTextHandle(), 0, static_cast<int32_t>(front.size()), front.data(), 0), XT_OK);
    BumpChangeCounter(0);
    exporter->ExportBox(0, caption);
    const std::vector<StoryView> stories = FinishBook();
    ASSERT_EQ(stories.size(), 1u);
    ASSERT_EQ(stories[0].paras.size(), 1u);
    const std::vector<RunView>& runs = stories[0].paras[0].runs;
    const std::string listing = Listing(stories);
    ASSERT_EQ(runs.size(), 5u) << listing;
    const char* kinds[] = {"Unicodes", "Unicodes", "Unicodes", "WideMultibytes", "Unicodes"};
    const char16_t* codePages[] = {u"1200", u"1252", u"1200", u"5", u"1200"};
    for (size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].kind, kinds[i]) << i;
        EXPECT_EQ(runs[i].Attr(u"codepage"), codePages[i]) << i;
        EXPECT_EQ(runs[i].Attr(u"bold"), u"off") << i;  // every run carries the style run's attributes
    }
    EXPECT_EQ(runs[1].units, std::vector<uint16_t>{0x2001});
    EXPECT_EQ(runs[3].units, std::vector<uint16_t>{0x1F});
    EXPECT_EQ(stories[0].Text(), u"a\u2001bcAnchored caption");
}

// In a run whose character format has the high flag a space goes out as U+00A0 and a hyphen as
// U+2011, in the font's code page; the host's own U+00A0 and the runs without the flag as they stand.
TEST_F(ExporterTest, SpacesAndHyphensOfAFontWithTheHighFlagGoOutAsTheTablesMapThem)
{
    Start();
    xthost::doc::DocBuilder b;
    const int32_t plain = b.PlainText(pt(12));
    xthost::doc::CharFormat format = *b.Model().charFormats.Find(plain);
    format.high = 128;
    const int32_t flagged = b.CharFormat(format);
    b.Page(0);
    const uint32_t box = b.TextBox(Place::OnSpread(0), {pt(36), pt(36), pt(300), pt(300)});
    b.Story({box}).Text(u"x ", plain).Text(u" a-b\u00A0c", flagged).Text(u"- z", plain).End();
    ASSERT_NO_FATAL_FAILURE(BeginBuiltBook(b));
    exporter->ExportBox(0, Box(box));
    const std::vector<StoryView> stories = FinishBook();
    ASSERT_EQ(stories.size(), 1u);
    ASSERT_EQ(stories[0].paras.size(), 1u);
    using Runs = std::vector<std::pair<std::u16string, std::u16string>>;  // text, code page
    const Runs want = {{u"x ", u"1200"}, {u"\u00A0", u"1252"}, {u"a", u"1200"},
                       {u"\u2011", u"1252"}, {u"b\u00A0c", u"1200"}, {u"- z", u"1200"}};
    Runs got;
    for (const RunView& run : stories[0].paras[0].runs)
        got.emplace_back(std::u16string(run.units.begin(), run.units.end()), run.Attr(u"codepage"));
    EXPECT_EQ(got, want) << Listing(stories);
}

TEST_F(ExporterTest, MeasuresReadTheHostsDecimalCommaInAnyLocale)
{
    Start();
    xthost::SetDecimalComma(*host, true);
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    const bool german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    EXPECT_FLOAT_EQ(MeasureToFloat(12 * 65536 + 32768), 12.5f);
    EXPECT_FLOAT_EQ(MeasureToFloat(-30 * 65536), -30.0f);
    std::setlocale(LC_NUMERIC, saved.c_str());
    xthost::SetDecimalComma(*host, false);
    EXPECT_FLOAT_EQ(MeasureToFloat(3 * 65536 + 16384), 3.25f);
    if (!german)
        GTEST_LOG_(INFO) << "no de_DE locale: the decimal comma was read in the C locale only";
}

TEST(ExporterCreation, NullReferencesGiveNoExporter)
{
    UniqIdSet ids;
    EXPECT_FALSE(CreateExporter(nullptr, nullptr, &ids));
}

} // namespace
