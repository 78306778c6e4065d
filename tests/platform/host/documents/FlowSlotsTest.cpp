// Text flow and PDF output through the slots a module binds: the enlarge loop an import runs
// on an overflowing box, and PDF exports checked with poppler's tools.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/host/HostExtensions.h"
#include "platform/host/Suites.h"
#include "platform/host/documents/DocSlots.h"
#include "platform/host/documents/FlowSuites.h"
#include "platform/host/documents/TextFlow.h"
#include "platform/host/documents/XTFlowSuites.h"
#include "platform/host/documents/testing/DocBuilder.h"
#include "platform/host/documents/testing/FlowExamples.h"

#include "PdfTools.h"
#include "SlotTestSupport.h"

namespace xthost {
namespace {

namespace fs = std::filesystem;
using testing::FileRef;
using testing::kExamples;
using testing::Slot;
using testing::Shell;
constexpr int32_t kStep = 18 * 65536;

template <class Fn>
Fn Pdf(int entry)
{
    return reinterpret_cast<Fn>(SuiteCatalog::Instance().ComponentEntry(XT_COMPONENT_XPDF, entry));
}

// What the module's PDF hook does, as configured by a test.
struct HookPlan {
    std::string target;  // empty: hand an empty file object
    std::string style;   // a style name; falls back to the default, "" selects the default
    int calls = 0;
} g_hook;

int32_t PdfHook(void* data)
{
    auto* rec = static_cast<xtpdfoutputrec*>(data);
    if (rec->request != XT_PDF_REQUEST_FILE_AND_STYLE)
        return 0;
    ++g_hook.calls;
    if (g_hook.target.empty()) {
        Pdf<XTPdfSetFileFn>(XT_PDF_SET_FILE)(rec, 0);
        return 0;
    }
    // The target need not exist: its folder's specification with the name.
    std::ofstream(g_hook.target).close();
    const XTHandle ref = FileRef(g_hook.target);
    fs::remove(g_hook.target);
    Pdf<XTPdfSetFileFn>(XT_PDF_SET_FILE)(rec, ref);
    Slot<XFJ_Dispose>()(ref);
    XTHandle context = 0, style = 0;
    Pdf<XTPdfStyleContextFn>(XT_PDF_STYLE_CONTEXT)(&context);
    if (!g_hook.style.empty())
        Pdf<XTPdfFindStyleFn>(XT_PDF_FIND_STYLE)(context, g_hook.style.c_str(), &style);
    if (style == 0)
        Pdf<XTPdfDefaultStyleFn>(XT_PDF_DEFAULT_STYLE)(context, XT_COMPONENT_XPDF, &style);
    Pdf<XTPdfSelectStyleFn>(XT_PDF_SELECT_STYLE)(style);
    return 0;
}

// An output style as the module writes it, with the fields the host reads.
std::string Template(const std::string& name, const std::string& title, const char* mono)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?><OutputStyle DefaultStyle=\"false\" "
           "Name=\"" + name + "\" OutputMedia=\"XPDF\">\t<OutputSettings XTid=\"XABL\">\t\t<BleedSettings "
           "BleedType=\"Symmetric\"/>\t</OutputSettings>\t<OutputSettings XTid=\"XPDF\">\t\t<DocInfo Author=\"Kesto\" "
           "IncludeMetaData=\"true\" Keywords=\"\" Subject=\"\" Title=\"" + title + "\"/>\t\t<JobOptions "
           "ASCIIFormat=\"false\">\t\t\t<ColorImage ResolutionValue=\"4718592.000000\"/>\t\t\t<GrayScaleImage "
           "ResolutionValue=\"4718592.000000\"/>\t\t\t<MonochromeImage ResolutionValue=\"" + mono +
           "\"/>\t\t</JobOptions>\t\t<PageOptions IncludeBlankPages=\"0.000000\" Spreads=\"0.000000\"/>\t"
           "</OutputSettings></OutputStyle>";
}

bool Same(const XTRect& a, const XTRect& b)
{
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

std::string InfoField(const std::string& info, const std::string& field)
{
    std::istringstream lines(info);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(field + ":", 0) == 0)
            return line.substr(line.find_first_not_of(' ', field.size() + 1));
    return "";
}

class FlowSlotsTest : public testing::SlotHostFixture {
protected:
    void SetUp() override
    {
        StartHost("host-doc-flow");
        host->RegisterCallback(XT_CB_PDFOUTPUT, &PdfHook, 200);
        g_hook = HookPlan{};
    }

    // Opens an example by name, or any document by its path.
    XTHandle Open(const std::string& name)
    {
        XTHandle doc = 0;
        int16_t id = -1;
        EXPECT_EQ(Slot<XDD_OpenDocument>()(FileRef(name.find('/') == std::string::npos ? kExamples + name : name), 63),
                  XT_OK);
        EXPECT_EQ(Slot<XDD_CurrentDocId>()(&id), XT_OK);
        EXPECT_EQ(Slot<XDD_DocumentRef>()(id, &doc), XT_OK);
        return doc;
    }
    XTHandle Box(uint32_t uid) { return DocumentsOf(*host).BoxHandle(uid); }

    // The import's overflow test: a box that does not reflow, or whose two bounding boxes
    // agree, never overflows; otherwise the last line record says.
    bool TextOverflows(XTHandle box)
    {
        uint8_t noReflow = 0;
        EXPECT_EQ(Slot<XBG_BoxFlag>()(box, &noReflow), XT_OK);
        if (noReflow)
            return false;
        XTRect b{}, o{};
        EXPECT_EQ(Slot<XBY_Bounds>()(box, &b), XT_OK);
        EXPECT_EQ(Slot<XBY_ObstacleBounds>()(box, &o), XT_OK);
        if ((b.top == o.top && b.left == o.left) || (b.left == o.left && b.right == o.right))
            return false;
        int32_t size = 0;
        EXPECT_EQ(Slot<XTY_LineRecords>()(box, nullptr, &size), XT_OK);
        std::vector<uint8_t> records(size_t(size) + 1);
        EXPECT_EQ(Slot<XTY_LineRecords>()(box, records.data(), &size), XT_OK);
        if (size < doc::kLineRecordSize)
            return false;
        const uint8_t* word5 = records.data() + size - doc::kLineRecordSize + 20;
        return (uint32_t(word5[0]) | uint32_t(word5[1]) << 8 | uint32_t(word5[2]) << 16 | uint32_t(word5[3]) << 24) ==
               doc::kNotSet;
    }

    // The import's enlarge loop: up to 20 tries of 18 pt more to the right (and down for more
    // than one paragraph) within the limit rectangle of the current view. Answers the tries.
    int Enlarge(XTHandle doc, XTHandle box, int lastParagraph)
    {
        EXPECT_EQ(Slot<XBY_SetCurrentBox>()(box), XT_OK);
        XTHandle view = 0, current = 0, spread = 0;
        int16_t page = -1;
        XTRect limit{}, direct{};
        EXPECT_EQ(Slot<XDD_ViewOfDocument>()(doc, &view), XT_OK);
        EXPECT_EQ(Slot<XDD_ViewCurrentBox>()(view, &current), XT_OK);
        EXPECT_EQ(current, box);
        EXPECT_EQ(Slot<XDD_SpreadOfBox>()(current, &spread), XT_OK);
        EXPECT_EQ(Slot<XPH_PageIndexOfBox>()(spread, current, &page), XT_OK);
        EXPECT_EQ(Slot<XPH_PageBounds>()(spread, page, &limit), XT_OK);
        EXPECT_EQ(Slot<XFS_LimitRect>()(current, &direct), XT_OK);
        EXPECT_TRUE(Same(limit, direct));
        int tries = 0;
        for (; tries < 20 && TextOverflows(box); ++tries) {
            XTHandle record = 0;
            XTBoxRecord r{};
            EXPECT_EQ(Slot<XXC_GetRecord>()(0, box, 0, &record), XT_OK);
            EXPECT_EQ(Slot<XXC_ReadRecord>()(record, &r), XT_OK);
            const int32_t bottom = r.bounds.bottom + (lastParagraph > 0 ? kStep : 0);
            const int32_t right = r.bounds.right + kStep;
            bool enlarge = false;
            if (r.bounds.top >= limit.top && r.bounds.left >= limit.left && bottom <= limit.bottom) {
                enlarge = true;
                r.bounds.bottom = bottom;
            }
            if (right <= limit.right)
                r.bounds.right = right;
            else if (!enlarge) {
                Slot<XXC_ReleaseRecord>()(record, 0);
                break;
            }
            uint16_t violation = 0;
            Slot<XDD_DocumentChanged>()(doc, 3);
            EXPECT_EQ(Slot<XXC_WriteRecord>()(record, &r), XT_OK);
            Slot<XXC_ApplyRecord>()(record, box, 0, &violation);
            EXPECT_EQ(Slot<XXC_ReleaseRecord>()(record, 0), XT_OK);
        }
        return tries;
    }

    XTRect Bounds(XTHandle box)
    {
        XTRect r{};
        EXPECT_EQ(Slot<XBY_Bounds>()(box, &r), XT_OK);
        return r;
    }

    // Registers the module's Kesto High and Kesto Low styles through OUT-3.
    void InstallStyles()
    {
        XTHandle context = 0;
        ASSERT_EQ(Pdf<XTPdfStyleContextFn>(XT_PDF_STYLE_CONTEXT)(&context), XT_OK);
        for (auto [name, title, mono] : {std::tuple{"High", "Kesto Output - better resolution", "9437184.000000"},
                                         std::tuple{"Low", "Kesto Output - lower resolution", "4718592.000000"}}) {
            const std::string path = (app / ("KS_PdfStyle_" + std::string(name) + ".xml")).string();
            std::ofstream(path) << Template("Kesto " + std::string(name), title, mono);
            ASSERT_EQ(Pdf<XTPdfImportStyleFn>(XT_PDF_IMPORT_STYLE)(context, FileRef(path)), XT_OK);
            EXPECT_EQ(Pdf<XTPdfImportStyleFn>(XT_PDF_IMPORT_STYLE)(context, FileRef(path)), doc::HostErr::DuplicateName);
        }
    }

    int32_t Export(XTHandle doc) { return Pdf<XTPdfExportFn>(XT_PDF_EXPORT)(doc, XT_COMPONENT_XPDF, 0xFFFF); }
};

TEST_F(FlowSlotsTest, EnlargingEndsWithoutOverflowWhereThePageLeavesRoom)
{
    const XTHandle doc = Open("overflow.qxp");
    const XTHandle box = Box(doc::overflow::kParagraphs);
    ASSERT_TRUE(TextOverflows(box));
    // Four lines of 14.4 pt with 6 pt between need 76.6 pt below 301 pt: three steps of 18 pt.
    EXPECT_EQ(Enlarge(doc, box, 3), 3);
    EXPECT_FALSE(TextOverflows(box));
    EXPECT_EQ(Bounds(box).bottom, (340 + 3 * 18) * 65536);
    EXPECT_EQ(Bounds(box).right, (200 + 3 * 18) * 65536);
}

TEST_F(FlowSlotsTest, ABoxAtThePageEdgeStopsThere)
{
    const XTHandle doc = Open("overflow.qxp");
    const XTHandle edge = Box(doc::overflow::kEdge);
    const XTRect before = Bounds(edge);
    EXPECT_EQ(Enlarge(doc, edge, 0), 20);  // one paragraph: only the right edge may move
    EXPECT_TRUE(TextOverflows(edge));
    EXPECT_TRUE(Same(before, Bounds(edge)));
    EXPECT_EQ(Bounds(edge).right, 612 * 65536);

    // A locked size refuses every step.
    const XTHandle locked = Box(doc::overflow::kLocked);
    const XTRect was = Bounds(locked);
    EXPECT_EQ(Enlarge(doc, locked, 0), 20);
    EXPECT_TRUE(Same(was, Bounds(locked)));
}

TEST_F(FlowSlotsTest, RunaroundZeroAndNoReflowNeverOverflow)
{
    Open("overflow.qxp");
    EXPECT_FALSE(TextOverflows(Box(doc::overflow::kRunaround0)));
    EXPECT_FALSE(TextOverflows(Box(doc::overflow::kNoReflow)));
    EXPECT_TRUE(TextOverflows(Box(doc::overflow::kOneMore)));
    EXPECT_FALSE(TextOverflows(Box(doc::overflow::kExact)));
}

TEST_F(FlowSlotsTest, EditsReachTheRecordsAtOnce)
{
    Open("overflow.qxp");
    const XTHandle exact = Box(doc::overflow::kExact);
    ASSERT_FALSE(TextOverflows(exact));
    doc::DocHost& docs = DocumentsOf(*host);
    int32_t text = 0, length = 0;
    ASSERT_EQ(docs.StoryOfBox(exact, &text, &length), XT_OK);
    ASSERT_EQ(docs.InsertText(text, 10, u"k"), XT_OK);
    EXPECT_TRUE(TextOverflows(exact));
    ASSERT_EQ(docs.DeleteText(text, 10, 11), XT_OK);
    EXPECT_FALSE(TextOverflows(exact));
}

TEST_F(FlowSlotsTest, LineRecordsNeedRoomAndALiveBox)
{
    Open("overflow.qxp");
    const XTHandle box = Box(doc::overflow::kChainB);
    int32_t size = 0;
    ASSERT_EQ(Slot<XTY_LineRecords>()(box, nullptr, &size), XT_OK);
    EXPECT_EQ(size, 3 * doc::kLineRecordSize);
    std::vector<uint8_t> records(static_cast<size_t>(size));
    int32_t small = size - 1;
    EXPECT_EQ(Slot<XTY_LineRecords>()(box, records.data(), &small), XT_ERR_PARAM);
    EXPECT_EQ(small, size);
    EXPECT_EQ(Slot<XTY_LineRecords>()(0x04FFFFFF, nullptr, &size), XT_ERR_PARAM);
    EXPECT_EQ(Slot<XTY_LineRecords>()(box, nullptr, nullptr), XT_ERR_PARAM);
    // Word 7 of a line names its box by handle.
    ASSERT_EQ(Slot<XTY_LineRecords>()(box, records.data(), &size), XT_OK);
    int32_t owner = 0;
    std::memcpy(&owner, records.data() + doc::kLineRecordSize + 28, 4);
    EXPECT_EQ(owner, box);
}

TEST_F(FlowSlotsTest, TheHooksStyleTitlesThePdfAndAMissingStyleFallsBack)
{
    const XTHandle doc = Open("two-page-linked.qxp");
    InstallStyles();
    g_hook.target = (app / "x").string();
    g_hook.style = "Kesto Low";
    ASSERT_EQ(Export(doc), XT_OK);
    EXPECT_EQ(g_hook.calls, 1);
    const std::string pdf = (app / "x.pdf").string();
    ASSERT_TRUE(fs::exists(pdf));
    const std::string info = Shell("pdfinfo " + pdf);
    EXPECT_EQ(InfoField(info, "Pages"), "2");
    EXPECT_EQ(InfoField(info, "Title"), "Kesto Output - lower resolution");
    EXPECT_EQ(InfoField(info, "Page size"), "612 x 792 pts (letter)");
    std::ifstream log(app / "x_pdf.log");
    std::string first;
    std::getline(log, first);
    EXPECT_EQ(first, "style: Kesto Low");

    // "Annual Report" on page 1 where its line record puts it.
    const std::string words = Shell("pdftotext -bbox -f 1 -l 1 " + pdf + " -");
    const auto at = words.find(">Annual<");
    ASSERT_NE(at, std::string::npos) << words;
    const auto lineStart = words.rfind("<word", at);
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    ASSERT_EQ(std::sscanf(words.c_str() + lineStart, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"",
                          &xMin, &yMin, &xMax, &yMax), 4);
    EXPECT_NEAR(xMin, 37.0, 0.5);  // record 0's left
    EXPECT_LT(yMin, 55.4);         // around its baseline of 55.4 pt
    EXPECT_GT(yMax, 55.4);
    EXPECT_EQ(Shell("pdftotext -f 2 -l 2 " + pdf + " -").find("Annual"), std::string::npos);

    // The user removed "Kesto Low": the hook falls back to the host's default style.
    ASSERT_TRUE(PdfOf(*host).styles.Remove("Kesto Low"));
    ASSERT_EQ(Export(doc), XT_OK);
    EXPECT_EQ(InfoField(Shell("pdfinfo " + pdf), "Title"), "two-page-linked.qxp");
}

TEST_F(FlowSlotsTest, PicturesTakeTheStylesResolution)
{
    const XTHandle doc = Open("geometry.qxp");
    InstallStyles();
    g_hook.target = (app / "g").string();
    auto monoPpi = [&](const std::string& style) {
        g_hook.style = style;
        EXPECT_EQ(Export(doc), XT_OK);
        return kesto_test::PdfPictureResolutions((app / "g.pdf").string());
    };
    // The mono placeholder first, then grey and colour at 72 dpi in every style.
    EXPECT_EQ(monoPpi("Kesto High"), (std::vector<int>{144, 72, 72}));
    EXPECT_EQ(monoPpi("Kesto Low"), (std::vector<int>{72, 72, 72}));
    // The hidden layer's text is not drawn; the section restart does not change the count.
    const std::string text = Shell("pdftotext " + (app / "g.pdf").string() + " -");
    EXPECT_EQ(text.find("hidden layer"), std::string::npos);
    EXPECT_NE(text.find("Page seven"), std::string::npos);
    EXPECT_EQ(InfoField(Shell("pdfinfo " + (app / "g.pdf").string()), "Pages"), "2");
}

TEST_F(FlowSlotsTest, AnEmptyFileObjectWritesNothingAndNamingFollowsTheMode)
{
    const XTHandle doc = Open("minimal.qxp");
    g_hook.target.clear();
    EXPECT_EQ(Export(doc), doc::HostErr::Cancelled);
    for (const auto& entry : fs::directory_iterator(app))
        EXPECT_NE(entry.path().extension(), ".pdf") << entry.path();

    g_hook.target = (app / "x").string();
    PdfOf(*host).naming = PdfNaming::AsGiven;
    ASSERT_EQ(Export(doc), XT_OK);
    EXPECT_TRUE(fs::exists(app / "x"));
    EXPECT_FALSE(fs::exists(app / "x.pdf"));
    EXPECT_TRUE(fs::exists(app / "x_pdf.log"));
    fs::remove(app / "x");
    // The log is named after the PDF without its ".pdf", whichever naming gave the PDF.
    fs::remove(app / "x_pdf.log");
    g_hook.target = (app / "x.pdf").string();
    ASSERT_EQ(Export(doc), XT_OK);
    EXPECT_TRUE(fs::exists(app / "x.pdf"));
    EXPECT_TRUE(fs::exists(app / "x_pdf.log"));
    EXPECT_FALSE(fs::exists(app / "x.pdf_pdf.log"));
    fs::remove(app / "x.pdf");
    g_hook.target = (app / "x").string();
    PdfOf(*host).naming = PdfNaming::Append;
    ASSERT_EQ(Export(doc), XT_OK);
    EXPECT_TRUE(fs::exists(app / "x.pdf"));
    EXPECT_FALSE(fs::exists(app / "x"));

    // A host that writes nothing.
    fs::remove(app / "x.pdf");
    host->Faults().Add(FaultRule{"XPDF/1", -1});
    EXPECT_EQ(Export(doc), -1);
    EXPECT_FALSE(fs::exists(app / "x.pdf"));
    EXPECT_EQ(Pdf<XTPdfExportFn>(XT_PDF_EXPORT)(0x01FFFFFF, XT_COMPONENT_XPDF, 0xFFFF), -1);
}

TEST_F(FlowSlotsTest, StylesDropBlankPagesAndSetSpreadsOnOnePage)
{
    // Three pages on two spreads, the middle page without a box.
    doc::DocBuilder b;
    b.Font(1, "DejaVu Sans").Colour(2, "Black", 0);
    doc::CharFormat body;
    body.font = 1;
    body.size = 12 * 65536;
    body.colour = 2;
    const int32_t cf = b.CharFormat(body);
    b.StyleSheet(1, "Normal", cf, b.ParaFormat(doc::ParaFormat{}));
    b.Layout("Layout 1", 612 * 65536, 792 * 65536, 36 * 65536);
    b.Page(0);
    b.Spread({0, 0});
    const doc::Rect r{72 * 65536, 72 * 65536, 144 * 65536, 300 * 65536};
    b.Story({b.TextBox(doc::Place::OnSpread(0), r)}).Text(u"First page", cf).End();
    const doc::Rect right{72 * 65536, 684 * 65536, 144 * 65536, 900 * 65536};
    b.Story({b.TextBox(doc::Place::OnSpread(1), right)}).Text(u"Third page", cf).End();
    const doc::Rect pasteboard{72 * 65536, -300 * 65536, 144 * 65536, -100 * 65536};
    const uint32_t off = b.TextBox(doc::Place::OnSpread(1), pasteboard);
    std::ofstream(app / "blank.qxp") << b.Bytes();
    const XTHandle doc = Open((app / "blank.qxp").string());

    // A box off the pages is limited by its whole spread.
    XTHandle spread = 0;
    int16_t index = 0;
    XTRect limit{}, direct{};
    ASSERT_EQ(Slot<XDD_SpreadOfBox>()(Box(off), &spread), XT_OK);
    ASSERT_EQ(Slot<XPH_PageIndexOfBox>()(spread, Box(off), &index), XT_OK);
    EXPECT_EQ(index, -1);
    ASSERT_EQ(Slot<XPH_PageBounds>()(spread, index, &limit), XT_OK);
    ASSERT_EQ(Slot<XSQ_LimitRect>()(Box(off), &direct), XT_OK);
    EXPECT_TRUE(Same(limit, direct));
    EXPECT_EQ(limit.right, 1224 * 65536);
    EXPECT_EQ(Slot<XPH_PageBounds>()(spread, 2, &limit), XT_ERR_PARAM);
    g_hook.target = (app / "b").string();
    const std::string pdf = (app / "b.pdf").string();

    ASSERT_EQ(Export(doc), XT_OK);  // the default style keeps blank pages
    EXPECT_EQ(InfoField(Shell("pdfinfo " + pdf), "Pages"), "3");
    InstallStyles();
    g_hook.style = "Kesto Low";  // IncludeBlankPages 0
    ASSERT_EQ(Export(doc), XT_OK);
    EXPECT_EQ(InfoField(Shell("pdfinfo " + pdf), "Pages"), "2");
    EXPECT_NE(Shell("pdftotext -f 2 -l 2 " + pdf + " -").find("Third page"), std::string::npos);

    XTHandle context = 0;
    Pdf<XTPdfStyleContextFn>(XT_PDF_STYLE_CONTEXT)(&context);
    const std::string spreads = (app / "spreads.xml").string();
    std::ofstream(spreads) << "<OutputStyle Name=\"Spreads\" OutputMedia=\"XPDF\"><OutputSettings XTid=\"XPDF\">"
                              "<PageOptions Spreads=\"1.000000\"/></OutputSettings></OutputStyle>";
    ASSERT_EQ(Pdf<XTPdfImportStyleFn>(XT_PDF_IMPORT_STYLE)(context, FileRef(spreads)), XT_OK);
    g_hook.style = "Spreads";
    ASSERT_EQ(Export(doc), XT_OK);
    const std::string pages = Shell("pdfinfo -f 1 -l 2 " + pdf);
    EXPECT_EQ(InfoField(pages, "Pages"), "2");
    EXPECT_NE(pages.find("Page    2 size:  1224 x 792 pts"), std::string::npos) << pages;
}

TEST_F(FlowSlotsTest, DocLinesPrintsTheHandWorkedRecords)
{
    std::ifstream golden(std::string(KESTO_SOURCE_DIR) + "/tests/platform/host/documents/overflow.lines");
    std::stringstream expected;
    expected << golden.rdbuf();
    ::testing::internal::CaptureStdout();
    const int status = TextFlowDocCommand({"lines", kExamples + "overflow.qxp"});
    std::fflush(stdout);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), expected.str());
    EXPECT_EQ(TextFlowDocCommand({"lines"}), 2);
}

TEST_F(FlowSlotsTest, DocPdfWritesThroughATemporaryFileAndLeavesNoneOnFailure)
{
    const std::string example = kExamples + "minimal.qxp";
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(TextFlowDocCommand({"pdf", example, (app / "missing" / "m").string()}), 1);
    EXPECT_EQ(TextFlowDocCommand({"pdf", example, (app / "m").string(), "--naming", "as-given"}), 0);
    EXPECT_EQ(TextFlowDocCommand({"pdf", example, (app / "bad").string(), kExamples + "minimal.qxp"}), 1);
    ::testing::internal::GetCapturedStderr();
    ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(fs::exists(app / "missing"));
    EXPECT_TRUE(fs::exists(app / "m"));
    EXPECT_TRUE(fs::exists(app / "m_pdf.log"));
    EXPECT_FALSE(fs::exists(app / "bad.pdf"));  // the style file was not a style
    for (const auto& entry : fs::directory_iterator(app))
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
    EXPECT_EQ(InfoField(Shell("pdfinfo " + (app / "m").string()), "Title"), "minimal.qxp");
}

}  // namespace
}  // namespace xthost
