#include "platform/host/documents/FlowSuites.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <strings.h>

#include "platform/fs/TempFiles.h"
#include "platform/host/Suites.h"
#include "platform/host/Text.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/LineRecords.h"
#include "platform/host/documents/PdfExport.h"
#include "platform/host/documents/XTFlowSuites.h"

namespace xthost {

using namespace doc;

namespace {

DocHost& (*g_docsOf)(Host&) = nullptr;
DocHost& D() { return g_docsOf(*Host::Current()); }

// A table into a caller's buffer: size is the room in and the bytes out; a null buffer asks
// for the size.
int32_t CopyRecords(const std::vector<uint8_t>& bytes, uint8_t* buffer, int32_t* size)
{
    if (!size)
        return XT_ERR_PARAM;
    const auto needed = static_cast<int32_t>(bytes.size());
    if (!buffer) {
        *size = needed;
        return XT_OK;
    }
    if (*size < needed) {
        *size = needed;
        return XT_ERR_PARAM;
    }
    if (!bytes.empty())
        std::memcpy(buffer, bytes.data(), bytes.size());
    *size = needed;
    return XT_OK;
}

XTRect FromRect(const Rect& r) { return XTRect{r.top, r.left, r.bottom, r.right}; }

int32_t LineRecordsSlot(XTHandle box, uint8_t* records, int32_t* size)
{
    std::vector<uint8_t> bytes;
    const int32_t result = size ? LineRecords(D(), box, &bytes) : XT_ERR_PARAM;
    return result == XT_OK ? CopyRecords(bytes, records, size) : result;
}
int32_t RangeLineRecordsSlot(XTHandle text, int32_t start, int32_t end, uint8_t* records, int32_t* size)
{
    std::vector<uint8_t> bytes;
    const int32_t result = size ? ParagraphLines(D(), text, start, end, &bytes) : XT_ERR_PARAM;
    return result == XT_OK ? CopyRecords(bytes, records, size) : result;
}
template <int32_t (*Read)(DocHost&, int32_t, Rect*)>
int32_t RectSlot(XTHandle box, XTRect* out)
{
    Rect r;
    if (!out)
        return XT_ERR_PARAM;
    const int32_t result = Read(D(), box, &r);
    if (result == XT_OK)
        *out = FromRect(r);
    return result;
}
int32_t BoxFlagSlot(XTHandle box, uint8_t* flag)
{
    bool on = false;
    if (!flag)
        return XT_ERR_PARAM;
    const int32_t result = NoReflow(D(), box, &on);
    if (result == XT_OK)
        *flag = on ? 1 : 0;
    return result;
}
int32_t ViewOfDocument(XTHandle doc, XTHandle* view) { return view ? D().DocumentView(doc, view) : XT_ERR_PARAM; }
int32_t ViewCurrentBox(XTHandle view, XTHandle* box)
{
    bool masters = false;
    if (!box)
        return XT_ERR_PARAM;
    const int32_t result = D().ShowsMasters(view, &masters);  // checks the view
    return result == XT_OK ? D().CurrentBox(box) : result;
}
int32_t SpreadOfBox(XTHandle box, XTHandle* spread)
{
    int16_t word = 0;
    uint8_t opaque[8];
    if (!spread)
        return XT_ERR_PARAM;
    DocHost::Target t;
    int32_t result = D().BoxLocation(box, &word, opaque);
    if (result != XT_OK || !D().ResolveBox(box, "GEO-5", &t))
        return result != XT_OK ? result : XT_ERR_PARAM;
    bool master = false;
    D().IsOnMaster(box, &master);
    return master ? D().SpreadAt(t.doc, word, spread, &master) : D().LayoutSpreadAt(t.doc, word, spread);
}
int32_t PageIndexOfBox(XTHandle spread, XTHandle box, int16_t* index)
{
    std::vector<PageInfo> pages;
    Rect limits;
    if (!index)
        return XT_ERR_PARAM;
    int32_t result = D().PageTable(spread, &pages);
    if (result == XT_OK)
        result = LimitRect(D(), box, &limits);
    if (result != XT_OK)
        return result;
    // -1: off the pages, the box is limited by its whole spread.
    *index = -1;
    for (size_t i = 0; i < pages.size(); ++i)
        if (pages[i].bounds == limits)
            *index = static_cast<int16_t>(i);
    return XT_OK;
}
int32_t PageBounds(XTHandle spread, int16_t index, XTRect* bounds)
{
    std::vector<PageInfo> pages;
    if (!bounds)
        return XT_ERR_PARAM;
    const int32_t result = D().PageTable(spread, &pages);
    if (result != XT_OK)
        return result;
    if (index < -1 || pages.empty() || (index >= 0 && static_cast<size_t>(index) >= pages.size()))
        return XT_ERR_PARAM;
    const Rect& first = pages.front().bounds;
    *bounds = index >= 0 ? FromRect(pages[static_cast<size_t>(index)].bounds)
                         : XTRect{first.top, first.left, pages.back().bounds.bottom, pages.back().bounds.right};
    return XT_OK;
}

// ---- PDF ------------------------------------------------------------------------------------

std::optional<int32_t> Injected(int entry)
{
    Host* host = Host::Current();
    return host ? host->Inject({"XPDF/" + std::to_string(entry)}) : std::optional<int32_t>(XT_ERR_PARAM);
}

std::string BaseName(const std::string& path)
{
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The PDF file and its log for a name: "x" gives "x.pdf" (or "x"); the log is named after the
// PDF without its ".pdf", so "x" appended and "x.pdf" as given both log to "x_pdf.log".
struct PdfTarget {
    std::string pdf, log;
};
PdfTarget TargetOf(const std::string& name, PdfNaming naming)
{
    PdfTarget target{naming == PdfNaming::Append ? name + ".pdf" : name, ""};
    std::string stem = target.pdf;
    const size_t slash = stem.find_last_of("/\\");
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    if (stem.size() > base + 4 && strcasecmp(stem.c_str() + stem.size() - 4, ".pdf") == 0)
        stem.resize(stem.size() - 4);
    target.log = stem + "_pdf.log";
    return target;
}

int32_t Export(Host& host, const Project& project, const Layout& layout, const OutputStyle& style,
               const std::string& name, PdfNaming naming, const std::string& title)
{
    UseHostFonts(host.TempFolder());
    const PdfTarget target = TargetOf(name, naming);
    PdfReport report;
    const int32_t result = WritePdf(project, layout, style, target.pdf, title, std::time(nullptr), &report);
    if (result != XT_OK) {
        host.Note("pdf.failed " + Quote(target.pdf) + " " + report.error);
        return result;
    }
    WritePdfLog(target.log, style, report);
    host.Note("pdf.written " + Quote(target.pdf) + " style=" + Quote(style.name) + " pages=" + std::to_string(report.pages));
    return XT_OK;
}

int32_t PdfExportEntry(XTHandle doc, uint32_t media, int32_t /*pages: 0xFFFF, all*/)
{
    if (auto injected = Injected(XT_PDF_EXPORT))
        return *injected;
    Host& host = *Host::Current();
    PdfSession& session = PdfOf(host);
    return D().Wrap("PDF-1", true, [&] { return "pdf.export doc=" + Hex(static_cast<uint32_t>(doc)); }, [&] {
        DocHost::Target t;
        if (!D().ResolveDocument(doc, "PDF-1", &t) || media != XT_COMPONENT_XPDF)
            return HostErr::BadRef;
        std::string location;
        D().DocumentLocation(&location);
        session.exporting = true;
        session.fileSet = false;
        session.file.clear();
        session.style = 0;
        host.Note("callback 681 request=3");
        xtpdfoutputrec rec{XT_CB_PDFOUTPUT, 0, XT_PDF_REQUEST_FILE_AND_STYLE};
        host.Dispatch(XT_CB_PDFOUTPUT, &rec);
        session.exporting = false;
        // Without a file from the hook the PDF goes beside the project, named after it.
        std::string name = session.fileSet ? session.file : location;
        if (!session.fileSet && !name.empty()) {
            const auto dot = name.find_last_of('.');
            if (dot != std::string::npos && dot > name.find_last_of("/\\") + 1)
                name.erase(dot);
        }
        if (name.empty())
            return HostErr::Cancelled;  // an empty file object: nothing is written
        const OutputStyle* style = session.styles.Get(session.style);
        if (!style)
            style = session.styles.Get(session.styles.Default("XPDF"));
        // A new PDF shows no more of the document than the document's file does.
        const platform::fs::NewFilesFrom fromDocument(location);
        return Export(host, *t.project, *t.layout, *style, name, session.naming, BaseName(location));
    });
}

int32_t StyleContext(XTHandle* context)
{
    if (auto injected = Injected(XT_PDF_STYLE_CONTEXT))
        return *injected;
    if (!context)
        return XT_ERR_PARAM;
    *context = static_cast<XTHandle>(OutputStyles::kTag) << 24;  // one context per host
    return XT_OK;
}
bool GoodContext(XTHandle context) { return context == static_cast<XTHandle>(OutputStyles::kTag) << 24; }

int32_t FindStyle(XTHandle context, const char* name, XTHandle* style)
{
    if (auto injected = Injected(XT_PDF_FIND_STYLE))
        return *injected;
    if (!GoodContext(context) || !name || !style)
        return XT_ERR_PARAM;
    *style = PdfOf(*Host::Current()).styles.Find(name);
    return XT_OK;
}

int32_t ImportStyle(XTHandle context, XTHandle fileRef)
{
    if (auto injected = Injected(XT_PDF_IMPORT_STYLE))
        return *injected;
    Host& host = *Host::Current();
    const std::string* path = host.fileRefs.Find(fileRef);
    if (!GoodContext(context) || !path)
        return XT_ERR_PARAM;
    std::string xml, error;
    std::FILE* f = std::fopen(path->c_str(), "rb");
    if (!f)
        return XT_ERR_FILE_NOT_FOUND;
    char buffer[8192];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && xml.size() <= kMaxOutputStyleBytes)
        xml.append(buffer, n);
    std::fclose(f);
    const int32_t result = PdfOf(host).styles.Import(xml, &error);
    host.Note("pdf.style.import " + Quote(*path) + (result == XT_OK ? "" : " -> " + std::to_string(result) + " " + error));
    return result;
}

int32_t DefaultStyle(XTHandle context, uint32_t media, XTHandle* style)
{
    if (auto injected = Injected(XT_PDF_DEFAULT_STYLE))
        return *injected;
    if (!GoodContext(context) || !style)
        return XT_ERR_PARAM;
    *style = media == XT_COMPONENT_XPDF ? PdfOf(*Host::Current()).styles.Default("XPDF") : 0;
    return *style ? XT_OK : XT_ERR_PARAM;
}

int32_t SelectStyle(XTHandle style)
{
    if (auto injected = Injected(XT_PDF_SELECT_STYLE))
        return *injected;
    PdfSession& session = PdfOf(*Host::Current());
    if (!session.exporting || !session.styles.Get(style))
        return XT_ERR_PARAM;
    session.style = style;
    Host::Current()->Note("pdf.style " + Quote(session.styles.Get(style)->name));
    return XT_OK;
}

int32_t SetPdfFile(xtpdfoutputrec* rec, XTHandle fileRef)
{
    if (auto injected = Injected(XT_PDF_SET_FILE))
        return *injected;
    Host& host = *Host::Current();
    PdfSession& session = PdfOf(host);
    if (!rec || !session.exporting)
        return XT_ERR_PARAM;
    const std::string* path = fileRef ? host.fileRefs.Find(fileRef) : nullptr;
    if (fileRef && !path)
        return XT_ERR_PARAM;
    // The host keeps the name, so the caller may dispose its file object at once.
    session.fileSet = true;
    session.file = path ? *path : std::string();
    host.Note("pdf.file " + Quote(session.file));
    return XT_OK;
}

void DefineOperations()
{
    XTHOST_DEFINE_SLOT(XTY_LineRecords, LineRecordsSlot);
    XTHOST_DEFINE_SLOT(XTY_RangeLineRecords, RangeLineRecordsSlot);
    XTHOST_DEFINE_SLOT(XBY_ObstacleBounds, RectSlot<ObstacleBox>);
    XTHOST_DEFINE_SLOT(XBY_Bounds, RectSlot<BoundingBox>);
    XTHOST_DEFINE_SLOT(XBG_BoxFlag, BoxFlagSlot);
    XTHOST_DEFINE_SLOT(XDD_ViewOfDocument, ViewOfDocument);
    XTHOST_DEFINE_SLOT(XDD_ViewCurrentBox, ViewCurrentBox);
    XTHOST_DEFINE_SLOT(XDD_SpreadOfBox, SpreadOfBox);
    XTHOST_DEFINE_SLOT(XPH_PageIndexOfBox, PageIndexOfBox);
    XTHOST_DEFINE_SLOT(XPH_PageBounds, PageBounds);
    XTHOST_DEFINE_SLOT(XFS_LimitRect, RectSlot<LimitRect>);
    XTHOST_DEFINE_SLOT(XSQ_LimitRect, RectSlot<LimitRect>);
    auto& catalog = SuiteCatalog::Instance();
    catalog.DefineComponentOp(XT_COMPONENT_XPDF, XT_PDF_EXPORT, "PDF export", reinterpret_cast<XTProc>(&PdfExportEntry));
    catalog.DefineComponentOp(XT_COMPONENT_XPDF, XT_PDF_STYLE_CONTEXT, "output-style context", reinterpret_cast<XTProc>(&StyleContext));
    catalog.DefineComponentOp(XT_COMPONENT_XPDF, XT_PDF_FIND_STYLE, "find output style", reinterpret_cast<XTProc>(&FindStyle));
    catalog.DefineComponentOp(XT_COMPONENT_XPDF, XT_PDF_IMPORT_STYLE, "import output style", reinterpret_cast<XTProc>(&ImportStyle));
    catalog.DefineComponentOp(XT_COMPONENT_XPDF, XT_PDF_DEFAULT_STYLE, "default output style", reinterpret_cast<XTProc>(&DefaultStyle));
    catalog.DefineComponentOp(XT_COMPONENT_XPDF, XT_PDF_SELECT_STYLE, "select output style", reinterpret_cast<XTProc>(&SelectStyle));
    catalog.DefineComponentOp(XT_COMPONENT_XPDF, XT_PDF_SET_FILE, "set PDF file", reinterpret_cast<XTProc>(&SetPdfFile));
}

void AddVerbs(HostExtensions& ext)
{
    ext.AddVerb("pdf-naming", {"pdf-naming append|as-given", "how a PDF is named from the file the hook gives", false,
                               [](VerbContext& c, std::string& error) {
        if (c.line.words.size() != 2 || (c.line.words[1] != "append" && c.line.words[1] != "as-given")) {
            error = "expected pdf-naming append|as-given";
            return false;
        }
        PdfOf(c.host).naming = c.line.words[1] == "append" ? PdfNaming::Append : PdfNaming::AsGiven;
        return true;
    }});
}

void PrintLines(const Layout& layout, const Project& project)
{
    for (const auto& [uid, story] : layout.stories) {
        if (story.boxes.empty())
            continue;
        std::printf("story %u boxes", uid);
        for (uint32_t box : story.boxes)
            std::printf(" %u", box);
        std::printf("\n");
        for (const LineRecord& l : LayOutStory(project, layout, story).lines) {
            if (l.Overflow()) {
                std::printf("  overflow start=%d length=%d para=%d\n", l.start, l.length, l.paragraph);
                continue;
            }
            std::printf("  line start=%d length=%d box=%u top=%s left=%s measure=%s height=%s baseline=%s para=%d "
                        "flags=0x%02X size=%s\n",
                        l.start, l.length, l.box, Points(l.top).c_str(), Points(l.left).c_str(),
                        Points(l.measure).c_str(), Points(l.height).c_str(), Points(l.baseline).c_str(), l.paragraph,
                        l.flags, Points(l.largest).c_str());
        }
    }
}

}  // namespace

PdfSession& PdfOf(Host& host)
{
    // As the documents: a host at a new address or with another application folder starts afresh.
    static struct {
        Host* host = nullptr;
        std::string app;
        std::unique_ptr<PdfSession> pdf;
    } session;
    if (!session.pdf || session.host != &host || session.app != host.AppFolder()) {
        session.host = &host;
        session.app = host.AppFolder();
        session.pdf = std::make_unique<PdfSession>();
    }
    return *session.pdf;
}

void RegisterTextFlowAndPdf(HostExtensions& extensions, DocHost& (*docsOf)(Host&))
{
    g_docsOf = docsOf;
    DefineOperations();
    AddVerbs(extensions);
}

int TextFlowDocCommand(const std::vector<std::string>& args)
{
    const bool lines = args.size() == 2 && args[0] == "lines";
    const bool pdf = args.size() >= 3 && args.size() <= 6 && args[0] == "pdf";
    if (!lines && !pdf) {
        return DocUsageError();
    }
    try {
        auto project = ReadDocumentFile(args[1]);
        if (project->layouts.empty())
            throw DocumentError("layouts", "no layout");
        const Layout& layout = *project->layouts.at(static_cast<size_t>(project->currentLayout));
        if (lines) {
            PrintLines(layout, *project);
            return 0;
        }
        OutputStyles styles;
        OutputStyle style = *styles.Get(styles.Default("XPDF"));
        // On the command line the PDF takes the name given; the export the module drives keeps
        // the host's naming mode.
        PdfNaming naming = PdfNaming::AsGiven;
        for (size_t i = 3; i < args.size(); ++i) {
            if (args[i] == "--naming" && i + 1 < args.size()) {
                naming = args[++i] == "as-given" ? PdfNaming::AsGiven : PdfNaming::Append;
                continue;
            }
            std::string xml, error;
            std::FILE* f = std::fopen(args[i].c_str(), "rb");
            char buffer[8192];
            size_t n = 0;
            while (f && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && xml.size() <= kMaxOutputStyleBytes)
                xml.append(buffer, n);
            if (f)
                std::fclose(f);
            if (!f || !ParseOutputStyle(xml, &style, &error)) {
                std::fprintf(stderr, "xthost: %s: %s\n", args[i].c_str(), f ? error.c_str() : "cannot read");
                return 1;
            }
        }
        const char* temp = std::getenv("TMPDIR");
        UseHostFonts(std::string(temp ? temp : "/tmp") + "/xthost-fonts");
        const PdfTarget target = TargetOf(args[2], naming);
        PdfReport report;
        if (WritePdf(*project, layout, style, target.pdf, BaseName(args[1]), std::time(nullptr), &report) != XT_OK) {
            std::fprintf(stderr, "xthost: %s: %s\n", target.pdf.c_str(), report.error.c_str());
            return 1;
        }
        WritePdfLog(target.log, style, report);
        std::printf("%s: %d pages\n", target.pdf.c_str(), report.pages);
        return 0;
    } catch (const DocumentError& e) {
        std::printf("%s: refused: %s\n", args[1].c_str(), e.what());
        return 1;
    }
}

}  // namespace xthost
