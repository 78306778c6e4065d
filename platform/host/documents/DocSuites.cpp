// The documents join the emulated host: their suite slots (behind the core's fault plan and
// transcript), the callbacks they fire, the script verbs and the "doc" subcommand of xthost.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

#include <unistd.h>

#include "platform/host/HostExtensions.h"
#include "platform/host/Suites.h"
#include "platform/host/Text.h"
#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocSlots.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/FlowSuites.h"
#include "platform/host/documents/ValueSlots.h"
#include "platform/host/documents/XTDocSuites.h"

namespace xthost {

int32_t CopyOutText(const std::string& text, char* buffer, int32_t size)
{
    if (!buffer || size <= 0)
        return XT_ERR_PARAM;
    if (text.size() >= static_cast<size_t>(size)) {
        buffer[0] = 0;
        return XT_ERR_PARAM;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return XT_OK;
}

namespace {

using namespace doc;

// ---- The documents of a host ------------------------------------------------------------

void Deliver(Host& host, const DocEvent& event)
{
    if (event.kind == kMasterBoxCopy) {
        host.Note("callback 501 source=" + Hex(static_cast<uint32_t>(event.box)) +
                  " destination=" + Hex(static_cast<uint32_t>(event.other)));
        xtmasterboxcopyrec rec{event.box, event.other};
        host.Dispatch(XT_CB_MASTERBOXCOPY, &rec);
    } else if (event.kind == kAutotextBox) {
        host.Note("callback 106 box=" + Hex(static_cast<uint32_t>(event.box)));
        xtautotextboxrec rec{event.box};
        host.Dispatch(XT_CB_AUTOTEXTBOX, &rec);
    }
}

// The documents of the host in use, made on first use. A host cannot tell when it goes, so a
// host at a new address or with another application folder starts with no documents.
DocHost& DocsOf(Host& host)
{
    static struct {
        Host* host = nullptr;
        std::string app;
        std::unique_ptr<DocHost> docs;
    } session;
    if (!session.docs || session.host != &host || session.app != host.AppFolder()) {
        session.host = &host;
        session.app = host.AppFolder();
        session.docs = std::make_unique<DocHost>();
        session.docs->SetNote([&host](const std::string& line) { host.Note(line); });
        session.docs->SetInject([&host](const std::string& role) {
            return host.Inject({role});
        });
        session.docs->SetEventSink([&host](const DocEvent& event) { Deliver(host, event); });
    }
    return *session.docs;
}

DocHost& D() { return DocsOf(*Host::Current()); }  // slots run only with a current host

template <class T>
bool Null(const T* p) { return p == nullptr; }

std::string PathOfRef(XTHandle fileRef)
{
    const std::string* path = Host::Current()->fileRefs.Find(fileRef);
    return path ? *path : std::string();
}

std::string FourChars(uint32_t code)
{
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(code >> (8 * i));
    return s;
}

Rect ToRect(const XTRect& r) { return Rect{r.top, r.left, r.bottom, r.right}; }
XTRect FromRect(const Rect& r) { return XTRect{r.top, r.left, r.bottom, r.right}; }

// ---- Documents, views, projects, layouts -------------------------------------------------

int32_t CurrentDocIndex(int16_t* index)
{
    if (Null(index))
        return XT_ERR_PARAM;
    int16_t id = -1;
    uint16_t u = 0xFFFF;
    const int32_t result = D().CurrentDocument(&id, &u);
    // Without an open document the index the core was told stands.
    *index = id >= 0 ? id : Host::Current()->FrontDocumentIndex();
    return result;
}
// Without an open document the id reads -1 and the call fails.
int32_t CurrentDocId(int16_t* id)
{
    uint16_t index = 0;
    if (Null(id))
        return XT_ERR_PARAM;
    const int32_t result = D().CurrentDocument(id, &index);
    return result == XT_OK && *id < 0 ? HostErr::NoDocument : result;
}
int32_t DocumentChanged(XTHandle doc, int32_t value) { return D().DocumentChanged(doc, value); }
int32_t ClosingCall(XTHandle doc, int32_t flag) { return D().SetDocOption(doc, flag); }
int32_t LayoutNumber(XTHandle doc, int16_t* number) { return Null(number) ? XT_ERR_PARAM : D().LayoutNumber(doc, number); }
int32_t DocumentRef(int16_t id, XTHandle* doc) { return Null(doc) ? XT_ERR_PARAM : D().DocumentRef(id, doc); }
int32_t DocumentView(XTHandle doc, XTHandle* view) { return Null(view) ? XT_ERR_PARAM : D().DocumentView(doc, view); }
int32_t DocumentCount(uint16_t* count)
{
    if (Null(count))
        return XT_ERR_PARAM;
    *count = D().DocumentCount();
    return XT_OK;
}
int32_t DocumentFlags(uint8_t* platform, uint8_t* untitled)
{
    return Null(platform) || Null(untitled) ? XT_ERR_PARAM : D().DocumentFlags(platform, untitled);
}
int32_t ChangeFlags(uint8_t* flags) { return Null(flags) ? XT_ERR_PARAM : D().ChangeFlags(flags); }
int32_t QueryPrefFlag() { return D().QueryPrefFlag(); }
int32_t DocumentLocation(XTFileSpec* spec, uint8_t* flag)
{
    if (Null(spec) || Null(flag))
        return XT_ERR_PARAM;
    std::string path;
    const int32_t result = D().DocumentLocation(&path);
    if (result != XT_OK)
        return result;
    // The core's specification of a path keeps its folder table.
    const auto fn = reinterpret_cast<XFJ_MakeFSSpec::Type>(SuiteCatalog::Instance().SuiteEntry(XT_SUITE_XFJ, 55));
    const int32_t made = fn(0, 0, path.c_str(), spec);
    if (made == XT_OK)
        *flag = ::access(path.c_str(), W_OK) == 0 ? 0 : 1;
    return made;
}
int32_t OpenDocument(XTHandle fileRef, int32_t options)
{
    const std::string path = PathOfRef(fileRef);
    return path.empty() ? XT_ERR_PARAM : D().Open(path, options);
}
int32_t OpenRefusal(char* text, int32_t size)
{
    if (Null(text) || size <= 0)
        return XT_ERR_PARAM;
    const std::string& why = D().OpenRefusal();
    size_t length = std::min(why.size(), static_cast<size_t>(size) - 1);
    // A cut text ends with a whole UTF-8 character.
    while (length < why.size() && length > 0 && (static_cast<unsigned char>(why[length]) & 0xC0) == 0x80)
        --length;
    return CopyOutText(why.substr(0, length), text, size);
}
int32_t BringToFront(uint16_t index) { return D().BringToFront(index); }
int32_t SaveDocument() { return D().Save(); }
int32_t CloseWindow() { return D().CloseWindow(); }
int32_t RefreshFonts(XTHandle doc) { return D().RefreshFonts(doc); }
int32_t SetDocOption(XTHandle doc, int32_t flag) { return D().SetDocOption(doc, flag); }
int32_t MasterPageName(XTHandle doc, int16_t spreadWord, char* name, int32_t size)
{
    std::string text;
    const int32_t result = D().MasterPageName(doc, spreadWord, &text);
    return result != XT_OK ? result : CopyOutText(text, name, size);
}
int32_t DocumentQuestion(int32_t which) { return D().DocumentQuestion(which); }
int32_t HostCommand(int32_t command) { return command == 105 ? D().Save() : XT_ERR_PARAM; }
int32_t SaveTo(XTHandle fileRef, int32_t options)
{
    const std::string path = PathOfRef(fileRef);
    return path.empty() ? XT_ERR_PARAM : D().SaveTo(path, options);
}
int32_t GotoMaster(XTHandle view, int16_t page) { return D().GotoMaster(view, page); }
int32_t ShowsMasters(XTHandle view, uint8_t* masters)
{
    if (Null(masters))
        return XT_ERR_PARAM;
    bool on = false;
    const int32_t result = D().ShowsMasters(view, &on);
    *masters = on;
    return result;
}
int32_t CurrentSpread(XTHandle view, XTHandle* spread) { return Null(spread) ? XT_ERR_PARAM : D().CurrentSpread(view, spread); }
int32_t BringViewToFront(XTHandle view) { return D().BringViewToFront(view); }

int32_t CurrentProject(XTHandle* project) { return Null(project) ? XT_ERR_PARAM : D().CurrentProject(project); }
int32_t CurrentLayout(XTHandle project, XTHandle* doc) { return Null(doc) ? XT_ERR_PARAM : D().ProjectCurrentLayout(project, doc); }
int32_t CloseProject(XTHandle project, int32_t flag) { return D().CloseProject(project, flag); }
int32_t ProjectChangeFlags(uint8_t* flags) { return Null(flags) ? XT_ERR_PARAM : D().ProjectChangeFlags(flags); }
int32_t LayoutCount(XTHandle project, int16_t* count) { return Null(count) ? XT_ERR_PARAM : D().LayoutCount(project, count); }
int32_t LayoutDocument(XTHandle project, int16_t layout, int16_t* id)
{
    return Null(id) ? XT_ERR_PARAM : D().LayoutDocument(project, layout, id);
}
int32_t LayoutType(int16_t id, uint32_t* type)
{
    if (Null(type))
        return XT_ERR_PARAM;
    std::string text;
    const int32_t result = D().LayoutType(id, &text);
    if (result == XT_OK)
        *type = XT_FOURCC(text[0], text[1], text[2], text[3]);
    return result;
}
int32_t NewProject(const char* layoutName, uint32_t type, int32_t width, int32_t height, int32_t margin,
                   XTHandle* project)
{
    if (Null(layoutName) || Null(project))
        return XT_ERR_PARAM;
    return D().NewProject(BoundedString(layoutName, 256), FourChars(type), width, height, margin, project);
}
int32_t NewBox(const XTRect* bounds, XTHandle* box)
{
    return Null(bounds) || Null(box) ? XT_ERR_PARAM : D().NewBox(ToRect(*bounds), box);
}
int32_t SelectLayout(int16_t number) { return D().SelectLayout(number); }
int32_t MakeLayoutCurrent(int16_t id) { return D().MakeLayoutCurrent(id); }

// ---- Spreads and pages -------------------------------------------------------------------

int32_t SpreadCount(XTHandle doc, int16_t kind, int16_t* count)
{
    return Null(count) ? XT_ERR_PARAM : D().SpreadCount(doc, kind, count);
}
int32_t MasterEntry(XTHandle doc, int16_t m, XTHandle* spread, uint8_t* isMaster)
{
    if (Null(spread) || Null(isMaster))
        return XT_ERR_PARAM;
    bool master = false;
    const int32_t result = D().SpreadAt(doc, m, spread, &master);
    *isMaster = master;
    return result;
}
int32_t MasterSpread(XTHandle doc, int16_t i, XTHandle* spread, uint8_t* unused, char* name, int32_t size)
{
    if (Null(spread) || Null(unused))
        return XT_ERR_PARAM;
    bool isUnused = false;
    std::string text;
    const int32_t result = D().MasterSpreadAt(doc, i, spread, &isUnused, &text);
    *unused = isUnused;
    return result != XT_OK || !name ? result : CopyOutText(text, name, size);
}
int32_t LayoutSpread(XTHandle doc, int16_t s, XTHandle* spread) { return Null(spread) ? XT_ERR_PARAM : D().LayoutSpreadAt(doc, s, spread); }
int32_t FirstBox(XTHandle spread, XTHandle* box) { return Null(box) ? XT_ERR_PARAM : D().FirstBox(spread, box); }
int32_t NextBox(XTHandle box, XTHandle* next) { return Null(next) ? XT_ERR_PARAM : D().NextBox(box, next); }
int32_t IsMasterItem(XTHandle box, XTHandle spread, uint8_t* item)
{
    if (Null(item))
        return XT_ERR_PARAM;
    bool is = false;
    const int32_t result = D().IsMasterItem(box, spread, &is);
    *item = is;
    return result;
}
int32_t PageOfBox(XTHandle box, int16_t* page) { return Null(page) ? XT_ERR_PARAM : D().PageOfBox(box, page); }
int32_t PageCount(XTHandle spread, int16_t* count)
{
    if (Null(count))
        return XT_ERR_PARAM;
    std::vector<PageInfo> pages;
    const int32_t result = D().PageTable(spread, &pages);
    *count = static_cast<int16_t>(pages.size());
    return result;
}
int32_t PageRecord(XTHandle spread, int16_t index, XTPageRec* page)
{
    if (Null(page))
        return XT_ERR_PARAM;
    std::vector<PageInfo> pages;
    const int32_t result = D().PageTable(spread, &pages);
    if (result != XT_OK)
        return result;
    if (index < 0 || static_cast<size_t>(index) >= pages.size())
        return XT_ERR_PARAM;
    const PageInfo& p = pages[static_cast<size_t>(index)];
    *page = XTPageRec{FromRect(p.bounds), static_cast<int16_t>(p.number), p.sectioned, static_cast<int16_t>(p.master)};
    return XT_OK;
}

// ---- Boxes, private data, layers ---------------------------------------------------------

int32_t CurrentBox(XTHandle* box) { return Null(box) ? XT_ERR_PARAM : D().CurrentBox(box); }
int32_t BoxKinds(XTHandle box, uint8_t* bits) { return Null(bits) ? XT_ERR_PARAM : D().BoxKinds(box, bits); }
int32_t IsTextBox(XTHandle box, uint8_t* text)
{
    if (Null(text))
        return XT_ERR_PARAM;
    uint8_t bits = 0;
    const int32_t result = D().BoxKinds(box, &bits);
    *text = (bits & kIsText) != 0;
    return result;
}
int32_t GroupMembers(XTHandle box, uint8_t* isGroup, XTHandle* members, int32_t* count)
{
    if (Null(isGroup) || Null(count) || *count < 0 || (*count > 0 && !members))
        return XT_ERR_PARAM;
    bool group = false;
    std::vector<int32_t> list;
    const int32_t result = D().GroupMembers(box, &group, &list);
    if (result != XT_OK)
        return result;
    *isGroup = group;
    if (list.size() > static_cast<size_t>(*count)) {
        *count = static_cast<int32_t>(list.size());
        return XT_ERR_PARAM;
    }
    std::copy(list.begin(), list.end(), members);
    *count = static_cast<int32_t>(list.size());
    return XT_OK;
}
int32_t IsOnMaster(XTHandle box, int32_t, uint8_t* master)
{
    if (Null(master))
        return XT_ERR_PARAM;
    bool on = false;
    const int32_t result = D().IsOnMaster(box, &on);
    *master = on;
    return result;
}
int32_t BoxLocation(XTHandle box, XTBoxLocation* location)
{
    return Null(location) ? XT_ERR_PARAM : D().BoxLocation(box, &location->spread, location->opaque);
}
int32_t SetCurrentBox(XTHandle box) { return D().SetCurrentBox(box); }
int32_t PreviousInChain(XTHandle box, XTHandle* previous) { return Null(previous) ? XT_ERR_PARAM : D().PreviousInChain(box, previous); }
int32_t AnchoredBox(XTHandle text, int32_t pos, XTHandle* box) { return Null(box) ? XT_ERR_PARAM : D().AnchoredBox(text, pos, box); }
int32_t CreateTextBox(XTHandle record, XTHandle spread, XTHandle* box) { return Null(box) ? XT_ERR_PARAM : D().CreateTextBox(record, spread, box); }
int32_t DisposeBox(XTHandle box, int32_t flag) { return D().DisposeBox(box, flag); }
int32_t BoxCall(XTHandle box) { return D().BoxCall(box); }
int32_t DefaultId(XTHandle box, int32_t* id) { return Null(id) ? XT_ERR_PARAM : D().DefaultId(box, id); }
int32_t PrivateOwner(XTHandle box, XTHandle* owner) { return Null(owner) ? XT_ERR_PARAM : D().PrivateOwner(box, owner); }
int32_t GetPrivate(XTHandle owner, uint32_t key, uint8_t* buffer, int32_t* size)
{
    if (Null(size) || (buffer && *size < 0))
        return XT_ERR_PARAM;
    std::vector<uint8_t> bytes;
    bool found = false;
    const int32_t result = D().GetPrivate(owner, key, &bytes, &found);
    if (result != XT_OK)
        return result;
    if (!found) {
        *size = 0;
        return XT_OK;
    }
    const bool fits = !buffer || bytes.size() <= static_cast<size_t>(*size);
    if (buffer && fits)
        std::memcpy(buffer, bytes.data(), bytes.size());
    *size = static_cast<int32_t>(bytes.size());
    return fits ? XT_OK : XT_ERR_PARAM;
}
int32_t SetPrivate(XTHandle owner, uint32_t key, const uint8_t* bytes, int32_t size)
{
    if (size < 0 || (size > 0 && !bytes))
        return XT_ERR_PARAM;
    const std::vector<uint8_t> value(bytes, bytes + size);
    return D().SetPrivate(owner, key, size ? &value : nullptr);
}
int32_t FindByPrivate(XTHandle view, uint32_t key, const uint8_t* bytes, int32_t size, XTHandle* box)
{
    if (Null(box) || size <= 0 || !bytes)
        return XT_ERR_PARAM;
    return D().FindByPrivate(view, key, std::vector<uint8_t>(bytes, bytes + size), box);
}
int32_t LayerOfBox(XTHandle box, int32_t* layer) { return Null(layer) ? XT_ERR_PARAM : D().LayerOfBox(box, layer); }
int32_t LayerName(int32_t layer, char16_t* name, int32_t size)
{
    if (Null(name) || size <= 0)
        return XT_ERR_PARAM;
    std::u16string text;
    const int32_t result = D().LayerName(layer, &text);
    if (result != XT_OK)
        return result;
    if (text.size() >= static_cast<size_t>(size)) {
        name[0] = 0;
        return XT_ERR_PARAM;
    }
    std::copy(text.begin(), text.end(), name);
    name[text.size()] = 0;
    return XT_OK;
}
int32_t LayerVisible(int32_t layer, uint8_t* visible)
{
    if (Null(visible))
        return XT_ERR_PARAM;
    bool on = false;
    const int32_t result = D().LayerVisible(layer, &on);
    *visible = on;
    return result;
}

// ---- Box records and outlines ------------------------------------------------------------

int32_t ReleaseRecord(XTHandle record, int32_t) { return D().ReleaseRecord(record); }
int32_t GetRecord(int32_t, XTHandle box, int32_t, XTHandle* record) { return Null(record) ? XT_ERR_PARAM : D().GetRecord(box, record); }
int32_t ApplyRecord(XTHandle record, XTHandle box, int32_t, uint16_t* violation)
{
    uint16_t ignored = 0;
    return D().ApplyRecord(record, box, violation ? violation : &ignored);
}
int32_t NewRecord(XTHandle* record) { return Null(record) ? XT_ERR_PARAM : D().NewRecord(record); }
int32_t ReadRecord(XTHandle record, XTBoxRecord* fields)
{
    const BoxRecord* r = D().Record(record);
    if (!r || !fields)
        return XT_ERR_PARAM;
    *fields = XTBoxRecord{r->shape, r->savedWord, FromRect(r->bounds), FromRect(r->bounds2), r->angle,
                          r->outline, r->master, r->inset, r->runaround, r->word6};
    return XT_OK;
}
int32_t WriteRecord(XTHandle record, const XTBoxRecord* fields)
{
    BoxRecord* r = D().Record(record);
    if (!r || !fields)
        return XT_ERR_PARAM;
    *r = BoxRecord{fields->shape, fields->savedWord, ToRect(fields->bounds), ToRect(fields->bounds2), fields->angle,
                   fields->outline, fields->master, fields->inset, fields->runaround, fields->word6};
    return XT_OK;
}
int32_t OutlineOf(XTHandle box, XTHandle* outline) { return Null(outline) ? XT_ERR_PARAM : D().OutlineOf(box, outline); }
int32_t MakePolygon(const XTPoint* points, int32_t count, XTHandle* outline)
{
    if (Null(points) || Null(outline) || count < 0 || count > 4096)
        return XT_ERR_PARAM;
    std::vector<Point> list;
    for (int32_t i = 0; i < count; ++i)
        list.push_back(Point{points[i].v, points[i].h});
    return D().MakePolygon(list, outline);
}
int32_t DisposeOutline(XTHandle outline) { return D().DisposeOutline(outline); }

// ---- Style sheets, fonts, colours --------------------------------------------------------

int32_t ApplyStyleSheet(int32_t id, int32_t one, XTHandle text) { return D().ApplyStyleSheet(id, one, text); }
int32_t GetStyleSheet(int32_t id, int32_t kind, XTStyleSheetRec* sheet)
{
    if (Null(sheet))
        return XT_ERR_PARAM;
    StyleSheetRecord r;
    const int32_t result = D().GetStyleSheet(id, kind, &r);
    if (result != XT_OK)
        return result;
    *sheet = XTStyleSheetRec{};
    sheet->id = r.id;
    CopyOutText(r.name, sheet->name, sizeof sheet->name);
    const CharFormat& c = r.charFormat;
    sheet->charFormat = XTCharFormat{c.font, c.high, c.face, c.size, c.kern, c.track,
                                     static_cast<uint16_t>(c.colour), c.shift, c.scriptLang, c.tag, c.extra};
    const ParaFormat& p = r.paraFormat;
    sheet->paraFormat = XTParaFormat{p.style, p.style2, p.leftIndent, p.firstIndent, p.rightIndent, p.leading,
                                     p.spaceBefore, p.spaceAfter, static_cast<int32_t>(p.align),
                                     static_cast<int32_t>(p.direction)};
    return XT_OK;
}
int32_t FindStyleSheet(const char* name, int32_t* id)
{
    return Null(name) || Null(id) ? XT_ERR_PARAM : D().FindStyleSheet(BoundedString(name, 256), id);
}
int32_t FontList(uint8_t* buffer, int32_t* size)
{
    if (Null(size) || (buffer && *size < 0))
        return XT_ERR_PARAM;
    std::vector<uint8_t> packed;
    const int32_t result = D().FontList(&packed);
    if (result != XT_OK)
        return result;
    const bool fits = !buffer || packed.size() <= static_cast<size_t>(*size);
    if (buffer && fits)
        std::memcpy(buffer, packed.data(), packed.size());
    *size = static_cast<int32_t>(packed.size());
    return fits ? XT_OK : XT_ERR_PARAM;
}
int32_t FontScript(int16_t id) { return D().FontScript(id); }
int32_t ColourCount(int32_t* count)
{
    if (Null(count))
        return XT_ERR_PARAM;
    std::vector<Colour> colours;
    const int32_t result = D().ColourTable(&colours);
    *count = static_cast<int32_t>(colours.size());
    return result;
}
int32_t ColourAt(int32_t index, XTColourRec* colour)
{
    if (Null(colour))
        return XT_ERR_PARAM;
    std::vector<Colour> colours;
    const int32_t result = D().ColourTable(&colours);
    if (result != XT_OK)
        return result;
    if (index < 0 || static_cast<size_t>(index) >= colours.size())
        return XT_ERR_PARAM;
    const Colour& c = colours[static_cast<size_t>(index)];
    *colour = XTColourRec{};
    colour->id = c.id;
    colour->model = XT_FOURCC(c.model[0], c.model[1], c.model[2], c.model[3]);
    CopyOutText(c.name, colour->name, sizeof colour->name);
    colour->rgb = c.rgb;
    return XT_OK;
}
int32_t FindRgbColour(uint32_t rgb, int32_t* id) { return Null(id) ? XT_ERR_PARAM : D().FindRgbColour(rgb, id); }
int32_t CreateRgbColour(int32_t* id, const char* name, uint32_t rgb)
{
    return Null(id) || Null(name) ? XT_ERR_PARAM : D().CreateRgbColour(BoundedString(name, 256), rgb, id);
}

// ---- File data ---------------------------------------------------------------------------

int32_t OpenDataFork(int16_t volume, int32_t folderId, const char* name, int32_t permission, int16_t* ref)
{
    if (Null(name) || Null(ref))
        return XT_ERR_PARAM;
    XTFileSpec spec{};
    spec.volume = volume;
    spec.parentId = folderId;
    const std::string leaf = BoundedString(name, sizeof spec.name);
    if (leaf.size() >= sizeof spec.name)
        return XT_ERR_BAD_NAME;
    std::memcpy(spec.name, leaf.c_str(), leaf.size() + 1);
    char path[XT_PATH_BUFFER];
    const auto toPath = reinterpret_cast<XFJ_SpecToPath::Type>(SuiteCatalog::Instance().SuiteEntry(XT_SUITE_XFJ, 10));
    const int16_t result = toPath(path, sizeof path, &spec, 0);
    return result != XT_OK ? result : D().OpenDataFork(path, permission, ref);
}
int32_t ReadData(int16_t ref, int32_t* count, void* buffer) { return Null(count) ? XT_ERR_PARAM : D().ReadData(ref, count, buffer); }
int32_t DataLength(int16_t ref, int32_t* length) { return Null(length) ? XT_ERR_PARAM : D().DataLength(ref, length); }
int32_t CloseData(int16_t ref) { return D().CloseData(ref); }
int32_t CreateDocumentFile(const char* path, int16_t* ref, int32_t access)
{
    if (Null(path) || Null(ref))
        return XT_ERR_PARAM;
    // A path longer than the system takes is refused, never cut to name another file.
    const std::string text = BoundedString(path, XT_PATH_BUFFER);
    if (text.size() >= static_cast<std::size_t>(XT_PATH_BUFFER))
        return XT_ERR_BAD_NAME;
    return D().CreateDataFile(NormalPath(text), access, ref);
}
int32_t WriteData(int16_t ref, int32_t* count, const void* buffer) { return Null(count) ? XT_ERR_PARAM : D().WriteData(ref, count, buffer); }

void DefineDocumentOperations()
{
    // The core's own answers come first, so that these replace the ones they share.
    DefineCoreOperations();
    XTHOST_DEFINE_SLOT(XDD_CurrentDocIndex, CurrentDocIndex);
    XTHOST_DEFINE_SLOT(XDD_CurrentDocId, CurrentDocId);
    XTHOST_DEFINE_SLOT(XDD_DocumentChanged, DocumentChanged);
    XTHOST_DEFINE_SLOT(XDD_ClosingCall, ClosingCall);
    XTHOST_DEFINE_SLOT(XDD_LayoutNumber, LayoutNumber);
    XTHOST_DEFINE_SLOT(XDD_DocumentRef, DocumentRef);
    XTHOST_DEFINE_SLOT(XDD_DocumentView, DocumentView);
    XTHOST_DEFINE_SLOT(XDD_DocumentCount, DocumentCount);
    XTHOST_DEFINE_SLOT(XDD_DocumentFlags, DocumentFlags);
    XTHOST_DEFINE_SLOT(XDD_ChangeFlags, ChangeFlags);
    XTHOST_DEFINE_SLOT(XDD_QueryPrefFlag, QueryPrefFlag);
    XTHOST_DEFINE_SLOT(XDD_DocumentLocation, DocumentLocation);
    XTHOST_DEFINE_SLOT(XDD_OpenDocument, OpenDocument);
    XTHOST_DEFINE_SLOT(XDD_OpenRefusal, OpenRefusal);
    XTHOST_DEFINE_SLOT(XDD_BringToFront, BringToFront);
    XTHOST_DEFINE_SLOT(XDD_SaveDocument, SaveDocument);
    XTHOST_DEFINE_SLOT(XDD_CloseWindow, CloseWindow);
    XTHOST_DEFINE_SLOT(XDD_RefreshFonts, RefreshFonts);
    XTHOST_DEFINE_SLOT(XDD_SetDocOption, SetDocOption);
    XTHOST_DEFINE_SLOT(XDD_MasterPageName, MasterPageName);
    XTHOST_DEFINE_SLOT(XDD_DocumentQuestion, DocumentQuestion);
    XTHOST_DEFINE_SLOT(XDD_HostCommand, HostCommand);
    XTHOST_DEFINE_SLOT(XDD_SaveTo, SaveTo);
    XTHOST_DEFINE_SLOT(XDD_GotoMaster, GotoMaster);
    XTHOST_DEFINE_SLOT(XDD_ShowsMasters, ShowsMasters);
    XTHOST_DEFINE_SLOT(XDD_CurrentSpread, CurrentSpread);
    XTHOST_DEFINE_SLOT(XWQ_BringViewToFront, BringViewToFront);
    XTHOST_DEFINE_SLOT(XPK_CurrentProject, CurrentProject);
    XTHOST_DEFINE_SLOT(XPK_CurrentLayout, CurrentLayout);
    XTHOST_DEFINE_SLOT(XPK_CloseProject, CloseProject);
    XTHOST_DEFINE_SLOT(XPK_ProjectChangeFlags, ProjectChangeFlags);
    XTHOST_DEFINE_SLOT(XPK_LayoutCount, LayoutCount);
    XTHOST_DEFINE_SLOT(XPK_LayoutDocument, LayoutDocument);
    XTHOST_DEFINE_SLOT(XPK_LayoutType, LayoutType);
    XTHOST_DEFINE_SLOT(XPK_NewProject, NewProject);
    XTHOST_DEFINE_SLOT(XPK_NewBox, NewBox);
    XTHOST_DEFINE_SLOT(LTY_SelectLayout, SelectLayout);
    XTHOST_DEFINE_SLOT(LTY_MakeLayoutCurrent, MakeLayoutCurrent);
    XTHOST_DEFINE_SLOT(XPH_SpreadCount, SpreadCount);
    XTHOST_DEFINE_SLOT(XPH_MasterEntry, MasterEntry);
    XTHOST_DEFINE_SLOT(XPH_MasterSpread, MasterSpread);
    XTHOST_DEFINE_SLOT(XPH_LayoutSpread, LayoutSpread);
    XTHOST_DEFINE_SLOT(XPH_FirstBox, FirstBox);
    XTHOST_DEFINE_SLOT(XPH_NextBox, NextBox);
    XTHOST_DEFINE_SLOT(XPH_IsMasterItem, IsMasterItem);
    XTHOST_DEFINE_SLOT(XPH_PageOfBox, PageOfBox);
    XTHOST_DEFINE_SLOT(XPH_PageCount, PageCount);
    XTHOST_DEFINE_SLOT(XPH_PageRecord, PageRecord);
    XTHOST_DEFINE_SLOT(XBY_CurrentBox, CurrentBox);
    XTHOST_DEFINE_SLOT(XBY_BoxKinds, BoxKinds);
    XTHOST_DEFINE_SLOT(XBY_GroupMembers, GroupMembers);
    XTHOST_DEFINE_SLOT(XBY_IsOnMaster, IsOnMaster);
    XTHOST_DEFINE_SLOT(XBY_BoxLocation, BoxLocation);
    XTHOST_DEFINE_SLOT(XBY_SetCurrentBox, SetCurrentBox);
    XTHOST_DEFINE_SLOT(XBY_PreviousInChain, PreviousInChain);
    XTHOST_DEFINE_SLOT(XBY_AnchoredBox, AnchoredBox);
    XTHOST_DEFINE_SLOT(XBY_CreateTextBox, CreateTextBox);
    XTHOST_DEFINE_SLOT(XBY_DisposeBox, DisposeBox);
    XTHOST_DEFINE_SLOT(XBY_BoxCall, BoxCall);
    XTHOST_DEFINE_SLOT(XBY_DefaultId, DefaultId);
    XTHOST_DEFINE_SLOT(XBY_PrivateOwner, PrivateOwner);
    XTHOST_DEFINE_SLOT(XBY_GetPrivate, GetPrivate);
    XTHOST_DEFINE_SLOT(XBY_SetPrivate, SetPrivate);
    XTHOST_DEFINE_SLOT(XBY_FindByPrivate, FindByPrivate);
    XTHOST_DEFINE_SLOT(XBY_LayerOfBox, LayerOfBox);
    XTHOST_DEFINE_SLOT(XBY_LayerName, LayerName);
    XTHOST_DEFINE_SLOT(XBY_LayerVisible, LayerVisible);
    XTHOST_DEFINE_SLOT(XIG_IsTextBox, IsTextBox);
    XTHOST_DEFINE_SLOT(XXC_ReleaseRecord, ReleaseRecord);
    XTHOST_DEFINE_SLOT(XXC_GetRecord, GetRecord);
    XTHOST_DEFINE_SLOT(XXC_ApplyRecord, ApplyRecord);
    XTHOST_DEFINE_SLOT(XXC_NewRecord, NewRecord);
    XTHOST_DEFINE_SLOT(XXC_ReadRecord, ReadRecord);
    XTHOST_DEFINE_SLOT(XXC_WriteRecord, WriteRecord);
    XTHOST_DEFINE_SLOT(XXC_OutlineOf, OutlineOf);
    XTHOST_DEFINE_SLOT(XXC_MakePolygon, MakePolygon);
    XTHOST_DEFINE_SLOT(XXC_DisposeOutline, DisposeOutline);
    XTHOST_DEFINE_SLOT(XSD_ApplyStyleSheet, ApplyStyleSheet);
    XTHOST_DEFINE_SLOT(XSD_GetStyleSheet, GetStyleSheet);
    XTHOST_DEFINE_SLOT(XSD_FindStyleSheet, FindStyleSheet);
    XTHOST_DEFINE_SLOT(XSD_FontList, FontList);
    XTHOST_DEFINE_SLOT(XSD_FontScript, FontScript);
    XTHOST_DEFINE_SLOT(XSD_ColourCount, ColourCount);
    XTHOST_DEFINE_SLOT(XSD_ColourAt, ColourAt);
    XTHOST_DEFINE_SLOT(XSD_FindRgbColour, FindRgbColour);
    XTHOST_DEFINE_SLOT(XSD_CreateRgbColour, CreateRgbColour);
    XTHOST_DEFINE_SLOT(XFJ_OpenDataFork, OpenDataFork);
    XTHOST_DEFINE_SLOT(XFJ_ReadData, ReadData);
    XTHOST_DEFINE_SLOT(XFJ_DataLength, DataLength);
    XTHOST_DEFINE_SLOT(XFJ_CloseData, CloseData);
    XTHOST_DEFINE_SLOT(XFJ_CreateDocumentFile, CreateDocumentFile);
    XTHOST_DEFINE_SLOT(XFJ_WriteData, WriteData);
    DefineTextOperations();
}

// ---- Script verbs --------------------------------------------------------------------------

bool Count(const ScriptLine& line, size_t words, std::string& error)
{
    if (line.words.size() == words + 1)
        return true;
    error = "wrong number of words";
    return false;
}

bool Number(const std::string& word, int64_t min, int64_t max, int64_t& value, std::string& error)
{
    if (ParseNumber(word, value) && value >= min && value <= max)
        return true;
    error = "bad number " + word;
    return false;
}

// A document call a verb makes must succeed.
bool Succeeded(int32_t result, const char* what, std::string& error)
{
    if (result == XT_OK)
        return true;
    error = std::string(what) + " answered " + std::to_string(result);
    return false;
}

// The story of box uid in the front layout.
bool StoryOfUid(DocHost& docs, const std::string& word, int32_t& text, std::string& error)
{
    int64_t uid = 0;
    if (!Number(word, 1, INT32_MAX, uid, error))
        return false;
    const int32_t box = docs.BoxHandle(static_cast<uint32_t>(uid));
    int32_t length = 0;
    if (box == 0 || docs.StoryOfBox(box, &text, &length) != XT_OK) {
        error = "no text box " + word + " in the front layout";
        return false;
    }
    return true;
}

void AddVerbs(HostExtensions& ext)
{
    ext.AddVerb("open-document", {"open-document PATH", "open a host document (a file already open comes to the front)", false,
                         [](VerbContext& c, std::string& error) {
        return Count(c.line, 1, error) &&
               Succeeded(DocsOf(c.host).Open(c.runner.Path(c.line.words[1]), 63), "open", error);
    }});
    ext.AddVerb("new-project", {"new-project", "a new untitled project with a print layout of 792 x 576 pt", false,
                                [](VerbContext& c, std::string& error) {
        int32_t project = 0;
        return Count(c.line, 0, error) &&
               Succeeded(DocsOf(c.host).NewProject("Layout 1", "XDOC", 792 << 16, 576 << 16, 36 << 16, &project),
                         "new-project", error);
    }});
    ext.AddVerb("save-document", {"save-document", "save the front project to its file", false, [](VerbContext& c, std::string& error) {
        return Count(c.line, 0, error) && Succeeded(DocsOf(c.host).Save(), "save", error);
    }});
    ext.AddVerb("save-as", {"save-as PATH", "save the front project to PATH, which becomes its file", false,
                            [](VerbContext& c, std::string& error) {
        return Count(c.line, 1, error) &&
               Succeeded(DocsOf(c.host).SaveAs(c.runner.Path(c.line.words[1])), "save-as", error);
    }});
    ext.AddVerb("close-document", {"close-document", "close the front project without saving", false,
                          [](VerbContext& c, std::string& error) {
        return Count(c.line, 0, error) && Succeeded(DocsOf(c.host).CloseWindow(), "close", error);
    }});
    ext.AddVerb("layout", {"layout N", "make layout N (from 1) of the front project current", false,
                           [](VerbContext& c, std::string& error) {
        int64_t n = 0;
        return Count(c.line, 1, error) && Number(c.line.words[1], 1, INT16_MAX, n, error) &&
               Succeeded(DocsOf(c.host).SelectLayout(static_cast<int16_t>(n - 1)), "layout", error);
    }});
    ext.AddVerb("view", {"view master N", "show master page N of the front layout (0: back to the layout)", false,
                         [](VerbContext& c, std::string& error) {
        int64_t n = 0;
        DocHost& docs = DocsOf(c.host);
        int16_t id = -1;
        uint16_t index = 0;
        int32_t doc = 0, view = 0;
        if (!Count(c.line, 2, error) || !Number(c.line.words[2], 0, INT16_MAX, n, error))
            return false;
        if (c.line.words[1] != "master") {
            error = "expected view master N";
            return false;
        }
        docs.CurrentDocument(&id, &index);
        return Succeeded(docs.DocumentRef(id, &doc), "view", error) &&
               Succeeded(docs.DocumentView(doc, &view), "view", error) &&
               Succeeded(docs.GotoMaster(view, static_cast<int16_t>(n)), "view master", error);
    }});
    ext.AddVerb("type", {"type UID AT TEXT", "type TEXT at AT into the story of text box UID", false,
                         [](VerbContext& c, std::string& error) {
        int32_t text = 0;
        int64_t at = 0;
        return Count(c.line, 3, error) && StoryOfUid(DocsOf(c.host), c.line.words[1], text, error) &&
               Number(c.line.words[2], 0, INT32_MAX, at, error) &&
               Succeeded(DocsOf(c.host).InsertText(text, static_cast<int32_t>(at), Utf8ToUtf16(c.line.words[3])),
                         "type", error);
    }});
    ext.AddVerb("expect-text", {"expect-text UID TEXT", "the story of text box UID reads TEXT", false,
                                [](VerbContext& c, std::string& error) {
        int32_t text = 0;
        std::u16string chars;
        if (!Count(c.line, 2, error) || !StoryOfUid(DocsOf(c.host), c.line.words[1], text, error) ||
            !Succeeded(DocsOf(c.host).StoryText(text, &chars), "expect-text", error))
            return false;
        if (doc::Utf16ToUtf8(chars) == c.line.words[2])
            return true;
        error = "the story reads " + Quote(doc::Utf16ToUtf8(chars));
        return false;
    }});
    ext.AddVerb("trace-reads", {"trace-reads on|off", "also write the document calls that only read", false,
                                [](VerbContext& c, std::string& error) {
        if (!Count(c.line, 1, error))
            return false;
        if (c.line.words[1] != "on" && c.line.words[1] != "off") {
            error = "expected on or off";
            return false;
        }
        DocsOf(c.host).SetTraceReads(c.line.words[1] == "on");
        return true;
    }});
    ext.AddVerb("dump", {"dump PATH", "write the front project's document file to PATH (it stays unsaved)", false,
                         [](VerbContext& c, std::string& error) {
        if (!Count(c.line, 1, error))
            return false;
        Project* project = DocsOf(c.host).FrontProject();
        if (!project) {
            error = "no open document";
            return false;
        }
        try {
            const std::string text = PrintDocument(*project);
            error = DocumentSizeFault(text.size());
            if (error.empty() && WriteFileAtomically(c.runner.Path(c.line.words[1]), text))
                return true;
            error = "cannot write " + c.line.words[1] + (error.empty() ? "" : ": " + error);
        } catch (const DocumentError& e) {
            error = e.what();
        }
        return false;
    }});
}

// ---- xthost doc ... ------------------------------------------------------------------------

// The verbs of "xthost doc" with their arguments; the help's first line names each of them.
const char* const kDocVerbs[] = {
    "check FILE",
    "canon FILE [OUT]",
    "lines FILE",
    "pdf FILE OUT [STYLE.xml] [--naming append|as-given]",
};

int DocCommand(const std::vector<std::string>& args)
{
    if (!args.empty() && (args[0] == "lines" || args[0] == "pdf"))
        return TextFlowDocCommand(args);
    const bool check = args.size() == 2 && args[0] == "check";
    const bool canon = (args.size() == 2 || args.size() == 3) && args[0] == "canon";
    if (!check && !canon)
        return DocUsageError();
    try {
        auto project = ReadDocumentFile(args[1]);
        if (check) {
            std::printf("%s: ok\n", args[1].c_str());
            return 0;
        }
        const std::string text = PrintDocument(*project);
        if (const std::string fault = DocumentSizeFault(text.size()); !fault.empty())
            throw DocumentError("", fault);  // its canonical form is larger than the host reads
        if (args.size() == 2) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            return 0;
        }
        if (WriteFileAtomically(args[2], text))
            return 0;
        std::fprintf(stderr, "xthost: cannot write %s\n", args[2].c_str());
        return 1;
    } catch (const DocumentError& e) {
        std::printf("%s: refused: %s\n", args[1].c_str(), e.what());
        return 1;
    }
}

}  // namespace

int DocUsageError()
{
    const char* lead = "usage:";
    for (const char* verb : kDocVerbs) {
        std::fprintf(stderr, "%-6s xthost doc %s\n", lead, verb);
        lead = "";
    }
    return 2;
}

doc::DocHost& DocumentsOf(Host& host) { return DocsOf(host); }

void RegisterHostDocuments(HostExtensions& extensions)
{
    DefineDocumentOperations();
    // A stop-at rule of the fault plan may name a writer's point.
    doc::SetWritePointHook([](const char* point) {
        if (Host* host = Host::Current())
            host->Inject({point});
    });
    AddVerbs(extensions);
    RegisterTextFlowAndPdf(extensions, DocsOf);
    RegisterValueSlots(extensions, DocsOf);
    extensions.AddSubcommand("doc", {"doc check|canon|lines|pdf FILE ...",
                                     "check a host document (naming its first fault), print it canonically, "
                                     "print its line records or write its PDF\n"
                                     "    doc pdf FILE OUT [STYLE.xml] [--naming append|as-given]: writes the PDF to OUT as\n"
                                     "      given (--naming append adds \".pdf\") and its log beside it, named after the PDF\n"
                                     "      without its \".pdf\" plus \"_pdf.log\". The PDF export that a module drives\n"
                                     "      keeps the host's naming (append unless a script says pdf-naming as-given).\n"
                                     "    Text in an oval (shape 9) flows inside the ellipse, each line within the band it\n"
                                     "      takes; in the shapes 6 to 8 (rounded, concave and bevelled corners) it flows in\n"
                                     "      the box's rectangle, and only the PDF draws the corners.",
                                     DocCommand});
}

}  // namespace xthost
