#include "platform/host/documents/DocHost.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/host/documents/DocHostState.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/StoryEdit.h"

namespace xthost::doc {

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string AbsolutePath(const std::string& path)
{
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string out(real);
        std::free(real);
        return out;
    }
    return path;
}

constexpr uint8_t kNeedsSave = 0x01;

}  // namespace

DocHost::DocHost() = default;
DocHost::~DocHost() = default;

std::vector<DocEvent> DocHost::TakeEvents()
{
    std::vector<DocEvent> events;
    events.swap(events_);
    return events;
}

// ---- Plumbing -----------------------------------------------------------------------------

void DocHost::Note(const std::string& line)
{
    if (note_)
        note_(line);
}

int32_t DocHost::Issue(Tag tag, const Ref& ref)
{
    uint32_t& serial = serials_[static_cast<uint8_t>(tag)];
    if (serial >= 0xFFFFFF)
        return 0;  // the table is used up; callers answer BadRef for a 0 handle
    const int32_t handle = static_cast<int32_t>(uint32_t(static_cast<uint8_t>(tag)) << 24 | ++serial);
    refs_[handle] = std::make_unique<Ref>(ref);
    return handle;
}

void DocHost::Retire(int32_t handle) { refs_.erase(handle); }

const DocHost::Ref* DocHost::Resolve(int32_t handle, Tag tag, const char* role)
{
    auto it = refs_.find(handle);
    if (it == refs_.end() || it->second->tag != tag) {
        Note(std::string("badref ") + role + " " + HexHandle(handle));
        return nullptr;
    }
    return it->second.get();
}

DocHost::Layoutx* DocHost::Front()
{
    if (projects_.empty() || projects_.back()->layouts.empty())
        return nullptr;
    return &projects_.back()->Current();
}

bool DocHost::FindDocId(int16_t id, size_t* project, size_t* layout) const
{
    for (size_t p = 0; p < projects_.size(); ++p)
        for (size_t i = 0; i < projects_[p]->layouts.size(); ++i)
            if (projects_[p]->layouts[i]->docId == id) {
                *project = p;
                *layout = i;
                return true;
            }
    return false;
}

DocHost::Layoutx* DocHost::LayoutOf(int32_t doc, const char* role)
{
    const Ref* ref = Resolve(doc, Tag::Document, role);
    return ref ? ref->layout : nullptr;
}

Box* DocHost::BoxRef(int32_t handle, const char* role, Layoutx** layout)
{
    const Ref* ref = Resolve(handle, Tag::Box, role);
    if (!ref)
        return nullptr;
    *layout = ref->layout;
    return ref->layout->layout->FindBox(ref->id);
}

Story* DocHost::TextRef(int32_t handle, const char* role, Layoutx** layout)
{
    const Ref* ref = Resolve(handle, Tag::Text, role);
    if (!ref)
        return nullptr;
    *layout = ref->layout;
    return ref->layout->layout->FindStory(ref->id);
}

int32_t DocHost::IssueBox(Layoutx& lx, uint32_t uid)
{
    const int32_t h = Issue(Tag::Box, Ref{Tag::Box, lx.project, &lx, uid, 0});
    lx.boxes[uid] = h;
    return h;
}

int32_t DocHost::IssueText(Layoutx& lx, uint32_t uid)
{
    const int32_t h = Issue(Tag::Text, Ref{Tag::Text, lx.project, &lx, uid, 0});
    lx.texts[uid] = h;
    return h;
}

void DocHost::AdoptLayout(Projectx& px, Layout& layout)
{
    auto lx = std::make_unique<Layoutx>();
    lx->project = &px;
    lx->layout = &layout;
    lx->docId = nextDocId_++;
    lx->doc = Issue(Tag::Document, Ref{Tag::Document, &px, lx.get(), 0, 0});
    lx->view = Issue(Tag::View, Ref{Tag::View, &px, lx.get(), 0, 0});
    for (size_t s = 0; s < layout.spreads.size(); ++s)
        lx->spreads.push_back(Issue(Tag::Spread, Ref{Tag::Spread, &px, lx.get(), uint32_t(s), 0}));
    for (size_t m = 1; m <= layout.masters.size() + 2; ++m)
        lx->entries.push_back(Issue(Tag::Spread, Ref{Tag::Spread, &px, lx.get(), uint32_t(m), 1}));
    // Boxes are numbered in creation (uid) order, so transcripts stay stable.
    for (const auto& [uid, box] : layout.boxes)
        IssueBox(*lx, uid);
    for (const auto& [uid, story] : layout.stories)
        IssueText(*lx, uid);
    px.layouts.push_back(std::move(lx));
}

int32_t DocHost::AdoptProject(std::unique_ptr<Project> project, const std::string& path)
{
    auto px = std::make_unique<Projectx>();
    px->project = std::move(project);
    px->path = path;
    px->handle = Issue(Tag::Project, Ref{Tag::Project, px.get(), nullptr, 0, 0});
    for (auto& layout : px->project->layouts)
        AdoptLayout(*px, *layout);
    projects_.push_back(std::move(px));
    return projects_.back()->handle;
}

void DocHost::CloseProjectx(Projectx* px)
{
    for (auto it = refs_.begin(); it != refs_.end();)
        it = it->second->project == px ? refs_.erase(it) : std::next(it);
    projects_.erase(std::find_if(projects_.begin(), projects_.end(),
                                 [px](const auto& p) { return p.get() == px; }));
}

void DocHost::Touch(Layoutx& lx) { lx.project->changeFlags |= kNeedsSave; }

void DocHost::Fire(const DocEvent& event) { pending_.push_back(event); }

// A master's story changed while its master page was shown: its copies are announced when
// the view returns to the layout.
void DocHost::StoryChanged(Layoutx& lx, const Story& story)
{
    Touch(lx);
    if (lx.master == 0)
        return;
    for (uint32_t uid : story.boxes) {
        const Box* box = lx.layout->FindBox(uid);
        if (box && box->owner.kind == OwnerKind::Master &&
            static_cast<int32_t>(box->owner.index) == lx.master - 1) {
            lx.dirtyBoxes.insert(uid);
            lx.dirtyMasters.insert(box->owner.index);
        }
    }
}

void DocHost::ReturnToLayout(Layoutx& lx)
{
    lx.master = 0;
    if (lx.dirtyBoxes.empty())
        return;
    const Layout& l = *lx.layout;
    for (const LayoutSpread& spread : l.spreads)
        for (uint32_t uid : spread.items) {
            const Box& box = l.boxes.at(uid);
            if (box.derivedFrom == 0)
                continue;
            if (lx.dirtyBoxes.count(box.derivedFrom))
                Fire(DocEvent{kMasterBoxCopy, lx.boxes.at(box.derivedFrom), lx.boxes.at(uid)});
            if (box.autotext && lx.dirtyMasters.count(l.boxes.at(box.derivedFrom).owner.index))
                Fire(DocEvent{kAutotextBox, lx.boxes.at(uid), 0});
        }
    lx.dirtyBoxes.clear();
    lx.dirtyMasters.clear();
}

int32_t DocHost::WriteProject(Projectx& px, const std::string& path)
{
    std::string bytes;
    try {
        bytes = PrintDocument(*px.project);
    } catch (const DocumentError& e) {
        Note(std::string("doc.broken ") + e.what());
        return HostErr::WriteFailed;
    }
    if (!WriteFileAtomically(path, bytes))
        return HostErr::WriteFailed;
    px.path = AbsolutePath(path);
    px.changeFlags = 0;
    return HostErr::Ok;
}

DocHost::Projectx* DocHost::OpenByPath(const std::string& path)
{
    const std::string absolute = AbsolutePath(path);
    for (auto& px : projects_)
        if (!px->path.empty() && px->path == absolute)
            return px.get();
    return nullptr;
}

// The boxes PD-4 searches: every box placed on the layout spreads (with anchored boxes and
// group members), or on every master spread, in walk order.
template <class Visit>
void DocHost::WalkScope(const Layoutx& lx, bool masters, Visit visit) const
{
    const Layout& l = *lx.layout;
    std::function<bool(uint32_t)> walk = [&](uint32_t uid) -> bool {
        const Box* box = l.FindBox(uid);
        if (!box)
            return false;
        if (visit(*box))
            return true;
        for (uint32_t member : box->members)
            if (walk(member))
                return true;
        const Story* story = box->kind == BoxKind::Text ? l.FindStory(box->story) : nullptr;
        if (story && story->boxes.front() == uid)
            for (const ObjectRun& o : story->objects)
                if (o.kind == 1 && walk(o.box))
                    return true;
        return false;
    };
    if (masters) {
        for (const MasterSpread& m : l.masters)
            for (uint32_t uid : m.items)
                if (walk(uid))
                    return;
    } else {
        for (const LayoutSpread& s : l.spreads)
            for (uint32_t uid : s.items)
                if (walk(uid))
                    return;
    }
}

Project* DocHost::FrontProject() { return projects_.empty() ? nullptr : projects_.back()->project.get(); }

int32_t DocHost::BoxHandle(uint32_t uid)
{
    Layoutx* lx = Front();
    if (!lx)
        return 0;
    auto it = lx->boxes.find(uid);
    return it == lx->boxes.end() ? 0 : it->second;
}

uint32_t DocHost::BoxUid(int32_t box)
{
    auto it = refs_.find(box);
    return it != refs_.end() && it->second->tag == Tag::Box ? it->second->id : 0;
}

int32_t DocHost::TextHandle(uint32_t storyUid)
{
    Layoutx* lx = Front();
    if (!lx)
        return 0;
    auto it = lx->texts.find(storyUid);
    return it == lx->texts.end() ? 0 : it->second;
}

bool DocHost::ResolveBox(int32_t handle, const char* role, Target* target)
{
    Layoutx* lx = nullptr;
    Box* box = BoxRef(handle, role, &lx);
    if (!box)
        return false;
    *target = Target{lx->project->project.get(), lx->layout, box, nullptr, lx->doc};
    return true;
}

bool DocHost::ResolveText(int32_t handle, const char* role, Target* target)
{
    Layoutx* lx = nullptr;
    Story* story = TextRef(handle, role, &lx);
    if (!story)
        return false;
    *target = Target{lx->project->project.get(), lx->layout, nullptr, story, lx->doc};
    return true;
}

bool DocHost::ResolveDocument(int32_t handle, const char* role, Target* target)
{
    Layoutx* lx = LayoutOf(handle, role);
    if (!lx)
        return false;
    *target = Target{lx->project->project.get(), lx->layout, nullptr, nullptr, lx->doc};
    return true;
}

int32_t DocHost::HandleOf(int32_t doc, uint32_t boxUid)
{
    auto it = refs_.find(doc);
    if (it == refs_.end() || it->second->tag != Tag::Document)
        return 0;
    const auto& boxes = it->second->layout->boxes;
    auto found = boxes.find(boxUid);
    return found == boxes.end() ? 0 : found->second;
}

int32_t DocHost::Wrap(const char* role, bool mutates, const std::function<std::string()>& args,
                      const std::function<int32_t()>& body)
{
    return Call(role, mutates, args, body);
}

// ---- Documents and projects ---------------------------------------------------------------

int32_t DocHost::CurrentDocument(int16_t* id, uint16_t* index)
{
    return Call("DOC-1", false, [&] { return "doc.current id=" + std::to_string(*id); }, [&] {
        const Layoutx* lx = Front();
        *id = lx ? lx->docId : -1;
        *index = lx ? static_cast<uint16_t>(lx->docId) : 0xFFFF;
        return HostErr::Ok;
    });
}

int32_t DocHost::DocumentRef(int16_t id, int32_t* doc)
{
    return Call("DOC-2", false, [&] { return "doc.ref id=" + std::to_string(id); }, [&] {
        size_t p = 0, i = 0;
        if (!FindDocId(id, &p, &i))
            return HostErr::BadRef;
        *doc = projects_[p]->layouts[i]->doc;
        return HostErr::Ok;
    });
}

int32_t DocHost::DocumentView(int32_t doc, int32_t* view)
{
    return Call("DOC-3", false, [&] { return "doc.view doc=" + HexHandle(doc); }, [&] {
        Layoutx* lx = LayoutOf(doc, "DOC-3");
        if (!lx)
            return HostErr::BadRef;
        *view = lx->view;
        return HostErr::Ok;
    });
}

uint16_t DocHost::DocumentCount()
{
    uint16_t count = 0;
    Call("DOC-4", false, [&] { return "doc.count " + std::to_string(count); }, [&] {
        count = static_cast<uint16_t>(projects_.size());
        return HostErr::Ok;
    });
    return count;
}

int32_t DocHost::DocumentFlags(uint8_t* platform, uint8_t* untitled)
{
    return Call("DOC-5", false, [] { return std::string("doc.flags"); }, [&] {
        if (projects_.empty())
            return HostErr::NoDocument;
        *platform = projects_.back()->project->mac ? 1 : 0;
        *untitled = projects_.back()->path.empty() ? 1 : 0;
        return HostErr::Ok;
    });
}

int32_t DocHost::ChangeFlags(uint8_t* flags)
{
    return Call("DOC-6", false, [] { return std::string("doc.changed?"); }, [&] {
        if (projects_.empty())
            return HostErr::NoDocument;
        const Projectx& px = *projects_.back();
        // An untitled project always needs saving.
        *flags = px.changeFlags | (px.path.empty() ? kNeedsSave : 0);
        return HostErr::Ok;
    });
}

int32_t DocHost::QueryPrefFlag()
{
    return Call("DOC-7", false, [] { return std::string("doc.pref"); },
                [&] { return projects_.empty() ? HostErr::NoDocument : HostErr::Ok; });
}

int32_t DocHost::DocumentLocation(std::string* path)
{
    return Call("DOC-8", false, [] { return std::string("doc.location"); }, [&] {
        if (projects_.empty())
            return HostErr::NoDocument;
        if (projects_.back()->path.empty())
            return HostErr::FileNotFound;
        *path = projects_.back()->path;
        return HostErr::Ok;
    });
}

int32_t DocHost::Open(const std::string& path, int32_t options)
{
    std::string detail;
    return Call("DOC-9", true,
                [&] { return "doc.open " + Quoted(path) + " options=" + std::to_string(options) + detail; },
                [&] {
                    // A file already open only comes to the front.
                    if (Projectx* open = OpenByPath(path)) {
                        auto it = std::find_if(projects_.begin(), projects_.end(),
                                               [open](const auto& p) { return p.get() == open; });
                        std::rotate(it, it + 1, projects_.end());
                        detail = " (already open)";
                        return HostErr::Ok;
                    }
                    struct stat st {};
                    if (::stat(path.c_str(), &st) != 0)
                        return HostErr::FileNotFound;
                    try {
                        AdoptProject(ReadDocumentFile(path), AbsolutePath(path));
                    } catch (const DocumentError& e) {
                        detail = std::string(" refused: ") + e.what();
                        return HostErr::NotADocument;
                    }
                    return HostErr::Ok;
                });
}

int32_t DocHost::BringToFront(uint16_t index)
{
    return Call("DOC-10", true, [&] { return "doc.front index=" + std::to_string(index); }, [&] {
        size_t p = 0, i = 0;
        if (!FindDocId(static_cast<int16_t>(index), &p, &i))
            return HostErr::BadRef;
        projects_[p]->project->currentLayout = static_cast<int32_t>(i);
        std::rotate(projects_.begin() + static_cast<long>(p), projects_.begin() + static_cast<long>(p) + 1,
                    projects_.end());
        return HostErr::Ok;
    });
}

int32_t DocHost::Save()
{
    return Call("DOC-11", true, [] { return std::string("doc.save"); }, [&] {
        if (projects_.empty())
            return HostErr::NoDocument;
        Projectx& px = *projects_.back();
        return px.path.empty() ? HostErr::FileNotFound : WriteProject(px, px.path);
    });
}

int32_t DocHost::CloseWindow()
{
    return Call("DOC-12", true, [] { return std::string("doc.close"); }, [&] {
        if (projects_.empty())
            return HostErr::NoDocument;
        CloseProjectx(projects_.back().get());
        return HostErr::Ok;
    });
}

int32_t DocHost::RefreshFonts(int32_t doc)
{
    return Call("DOC-13", false, [&] { return "doc.fonts doc=" + HexHandle(doc); },
                [&] { return LayoutOf(doc, "DOC-13") ? HostErr::Ok : HostErr::BadRef; });
}

int32_t DocHost::SetDocOption(int32_t doc, int32_t flag)
{
    return Call("DOC-14", true,
                [&] { return "doc.option doc=" + HexHandle(doc) + " flag=" + std::to_string(flag); },
                [&] { return LayoutOf(doc, "DOC-14") ? HostErr::Ok : HostErr::BadRef; });
}

int32_t DocHost::DocumentChanged(int32_t doc, int32_t value)
{
    return Call("DOC-15", true,
                [&] { return "doc.changed doc=" + HexHandle(doc) + " value=" + std::to_string(value); },
                [&] {
                    Layoutx* lx = LayoutOf(doc, "DOC-15");
                    if (!lx)
                        return HostErr::BadRef;
                    Touch(*lx);
                    return HostErr::Ok;
                });
}

int32_t DocHost::MasterPageName(int32_t doc, int16_t spreadWord, std::string* name)
{
    return Call("DOC-16", false,
                [&] { return "doc.master-name doc=" + HexHandle(doc) + " spread=" + std::to_string(spreadWord); },
                [&] {
                    Layoutx* lx = LayoutOf(doc, "DOC-16");
                    if (!lx)
                        return HostErr::BadRef;
                    const auto& masters = lx->layout->masters;
                    if (spreadWord < 3 || static_cast<size_t>(spreadWord - 2) > masters.size())
                        return HostErr::BadRef;
                    *name = masters[static_cast<size_t>(spreadWord - 3)].name;
                    return HostErr::Ok;
                });
}

int32_t DocHost::DocumentQuestion(int32_t which)
{
    return Call("DOC-17", false, [&] { return "doc.question " + std::to_string(which); },
                [&] { return projects_.empty() ? HostErr::NoDocument : HostErr::Ok; });
}

int32_t DocHost::SaveAs(const std::string& path)
{
    return Call("DOC-11", true, [&] { return "doc.save-as " + Quoted(path); }, [&] {
        return projects_.empty() ? HostErr::NoDocument : WriteProject(*projects_.back(), path);
    });
}

int32_t DocHost::CurrentProject(int32_t* project)
{
    return Call("PRJ-1", false, [] { return std::string("project.current"); }, [&] {
        if (projects_.empty())
            return HostErr::NoDocument;
        *project = projects_.back()->handle;
        return HostErr::Ok;
    });
}

int32_t DocHost::CloseProject(int32_t project, int32_t flag)
{
    return Call("PRJ-2", true,
                [&] { return "project.close project=" + HexHandle(project) + " flag=" + std::to_string(flag); },
                [&] {
                    const Ref* ref = Resolve(project, Tag::Project, "PRJ-2");
                    if (!ref)
                        return HostErr::BadRef;
                    CloseProjectx(ref->project);
                    return HostErr::Ok;
                });
}

int32_t DocHost::ProjectChangeFlags(uint8_t* flags)
{
    return Call("PRJ-3", false, [] { return std::string("project.changed?"); }, [&] {
        if (projects_.empty())
            return HostErr::NoDocument;
        *flags = projects_.back()->changeFlags;
        return HostErr::Ok;
    });
}

// ---- Layouts and new projects -------------------------------------------------------------

int32_t DocHost::LayoutCount(int32_t project, int16_t* count)
{
    return Call("LAY-1", false, [&] { return "layout.count project=" + HexHandle(project); }, [&] {
        const Ref* ref = Resolve(project, Tag::Project, "LAY-1");
        if (!ref)
            return HostErr::BadRef;
        *count = static_cast<int16_t>(ref->project->layouts.size());
        return HostErr::Ok;
    });
}

int32_t DocHost::LayoutDocument(int32_t project, int16_t layout, int16_t* id)
{
    return Call("LAY-2", false,
                [&] { return "layout.doc project=" + HexHandle(project) + " layout=" + std::to_string(layout); },
                [&] {
                    const Ref* ref = Resolve(project, Tag::Project, "LAY-2");
                    if (!ref || layout < 0 || static_cast<size_t>(layout) >= ref->project->layouts.size())
                        return HostErr::BadRef;
                    *id = ref->project->layouts[static_cast<size_t>(layout)]->docId;
                    return HostErr::Ok;
                });
}

int32_t DocHost::LayoutType(int16_t id, std::string* type)
{
    return Call("LAY-3", false, [&] { return "layout.type id=" + std::to_string(id); }, [&] {
        size_t p = 0, i = 0;
        if (!FindDocId(id, &p, &i))
            return HostErr::BadRef;
        *type = projects_[p]->layouts[i]->layout->type;
        return HostErr::Ok;
    });
}

int32_t DocHost::MakeLayoutCurrent(int16_t id)
{
    return Call("LAY-4", true, [&] { return "layout.current id=" + std::to_string(id); }, [&] {
        size_t p = 0, i = 0;
        if (!FindDocId(id, &p, &i))
            return HostErr::BadRef;
        projects_[p]->project->currentLayout = static_cast<int32_t>(i);
        return HostErr::Ok;
    });
}

int32_t DocHost::CurrentLayoutNumber(int16_t* number)
{
    return Call("LAY-5", false, [] { return std::string("layout.number"); }, [&] {
        if (projects_.empty())
            return HostErr::NoDocument;
        *number = static_cast<int16_t>(projects_.back()->project->currentLayout);
        return HostErr::Ok;
    });
}

int32_t DocHost::ProjectCurrentLayout(int32_t project, int32_t* doc)
{
    return Call("LAY-6", false, [&] { return "layout.of project=" + HexHandle(project); }, [&] {
        const Ref* ref = Resolve(project, Tag::Project, "LAY-6");
        if (!ref || ref->project->layouts.empty())
            return HostErr::BadRef;
        *doc = ref->project->Current().doc;
        return HostErr::Ok;
    });
}

int32_t DocHost::LayoutNumber(int32_t doc, int16_t* number)
{
    return Call("LAY-5", false, [&] { return "layout.number doc=" + HexHandle(doc); }, [&] {
        const Layoutx* lx = LayoutOf(doc, "LAY-5");
        if (!lx)
            return HostErr::BadRef;
        const auto& layouts = lx->project->layouts;
        for (size_t i = 0; i < layouts.size(); ++i)
            if (layouts[i].get() == lx)
                *number = static_cast<int16_t>(i);
        return HostErr::Ok;
    });
}

int32_t DocHost::SelectLayout(int16_t number)
{
    return Call("LAY-4", true, [&] { return "layout.select number=" + std::to_string(number); }, [&] {
        if (projects_.empty())
            return HostErr::NoDocument;
        Projectx& px = *projects_.back();
        if (number < 0 || static_cast<size_t>(number) >= px.layouts.size())
            return HostErr::BadRef;
        px.project->currentLayout = number;
        return HostErr::Ok;
    });
}

int32_t DocHost::NewProject(const std::string& layoutName, const std::string& type, int32_t width,
                            int32_t height, int32_t margin, int32_t* project)
{
    return Call("NEW-1", true,
                [&] { return "project.new layout=" + Quoted(layoutName) + " type=" + type; },
                [&] {
                    auto p = std::make_unique<Project>();
                    p->fonts.push_back(Font{1, "DejaVu Sans", "", 0, 0, "DejaVu Sans", 1000});
                    p->colours.push_back(Colour{1, "White", "QRGB", 0xFFFFFF});
                    p->colours.push_back(Colour{2, "Black", "QRGB", 0x000000});
                    CharFormat body;
                    body.font = 1;
                    body.size = 12 << 16;
                    body.colour = 2;
                    ParaFormat normal;
                    normal.style = 1;
                    p->styleSheets.push_back(
                        StyleSheet{1, "Normal", p->charFormats.Intern(body), p->paraFormats.Intern(normal)});
                    auto l = std::make_unique<Layout>();
                    l->name = layoutName;
                    l->type = type;
                    l->pageWidth = width;
                    l->pageHeight = height;
                    l->margins = Rect{margin, margin, margin, margin};
                    l->layers.push_back(Layer{1, u"Default", true});
                    l->spreads.push_back(LayoutSpread{{0}, {}});
                    p->layouts.push_back(std::move(l));
                    try {
                        CheckProject(*p);
                    } catch (const DocumentError&) {
                        return HostErr::BadRef;
                    }
                    *project = AdoptProject(std::move(p), "");
                    return HostErr::Ok;
                });
}

int32_t DocHost::NewBox(const Rect& bounds, int32_t* box)
{
    // The box's own line comes from BOX-8.
    return Call("NEW-2", false, [] { return std::string("box.new"); }, [&] {
        Layoutx* lx = Front();
        if (!lx)
            return HostErr::NoDocument;
        int32_t record = 0, spread = 0;
        if (NewRecord(&record) != HostErr::Ok)
            return HostErr::BadRef;
        records_[record].bounds = bounds;
        int32_t result = CurrentSpread(lx->view, &spread);
        if (result == HostErr::Ok)
            result = CreateTextBox(record, spread, box);
        ReleaseRecord(record);
        return result;
    });
}

int32_t DocHost::SaveTo(const std::string& path, int32_t options)
{
    return Call("NEW-3", true, [&] { return "doc.save-to " + Quoted(path) + " options=" + std::to_string(options); },
                [&] { return projects_.empty() ? HostErr::NoDocument : WriteProject(*projects_.back(), path); });
}

// ---- Views --------------------------------------------------------------------------------

int32_t DocHost::GotoMaster(int32_t view, int16_t page)
{
    return Call("VIEW-1", true,
                [&] { return "view.master view=" + HexHandle(view) + " page=" + std::to_string(page); },
                [&] {
                    const Ref* ref = Resolve(view, Tag::View, "VIEW-1");
                    if (!ref)
                        return HostErr::BadRef;
                    Layoutx& lx = *ref->layout;
                    if (page < 0 || static_cast<size_t>(page) > lx.layout->masters.size())
                        return HostErr::BadRef;
                    if (page == 0)
                        ReturnToLayout(lx);
                    else
                        lx.master = page;
                    return HostErr::Ok;
                });
}

int32_t DocHost::ShowsMasters(int32_t view, bool* masters)
{
    return Call("VIEW-2", false, [&] { return "view.masters? view=" + HexHandle(view); }, [&] {
        const Ref* ref = Resolve(view, Tag::View, "VIEW-2");
        if (!ref)
            return HostErr::BadRef;
        *masters = ref->layout->master != 0;
        return HostErr::Ok;
    });
}

int32_t DocHost::CurrentSpread(int32_t view, int32_t* spread)
{
    return Call("VIEW-3", false, [&] { return "view.spread view=" + HexHandle(view); }, [&] {
        const Ref* ref = Resolve(view, Tag::View, "VIEW-3");
        if (!ref)
            return HostErr::BadRef;
        const Layoutx& lx = *ref->layout;
        if (lx.master != 0)
            *spread = lx.entries.at(static_cast<size_t>(lx.master + 1));
        else
            *spread = lx.spreads.empty() ? 0 : lx.spreads.at(static_cast<size_t>(lx.spread));
        return *spread ? HostErr::Ok : HostErr::BadRef;
    });
}

int32_t DocHost::BringViewToFront(int32_t view)
{
    return Call("WIN-1", true, [&] { return "view.front view=" + HexHandle(view); }, [&] {
        const Ref* ref = Resolve(view, Tag::View, "WIN-1");
        if (!ref)
            return HostErr::BadRef;
        Projectx* px = ref->project;
        for (size_t i = 0; i < px->layouts.size(); ++i)
            if (px->layouts[i].get() == ref->layout)
                px->project->currentLayout = static_cast<int32_t>(i);
        auto it = std::find_if(projects_.begin(), projects_.end(), [px](const auto& p) { return p.get() == px; });
        std::rotate(it, it + 1, projects_.end());
        return HostErr::Ok;
    });
}

// ---- Spreads and pages --------------------------------------------------------------------

int32_t DocHost::SpreadCount(int32_t doc, int16_t kind, int16_t* count)
{
    return Call("SPR-1", false,
                [&] { return "spread.count doc=" + HexHandle(doc) + " kind=" + std::to_string(kind); },
                [&] {
                    Layoutx* lx = LayoutOf(doc, "SPR-1");
                    if (!lx || (kind != 0 && kind != 1))
                        return HostErr::BadRef;
                    // The master list counts two reserved entries before the master pages.
                    *count = static_cast<int16_t>(kind == 0 ? lx->spreads.size() : lx->entries.size());
                    return HostErr::Ok;
                });
}

int32_t DocHost::SpreadAt(int32_t doc, int16_t m, int32_t* spread, bool* master)
{
    return Call("SPR-2", false,
                [&] { return "spread.entry doc=" + HexHandle(doc) + " m=" + std::to_string(m); },
                [&] {
                    Layoutx* lx = LayoutOf(doc, "SPR-2");
                    if (!lx || m < 1 || static_cast<size_t>(m) > lx->entries.size())
                        return HostErr::BadRef;
                    *spread = lx->entries[static_cast<size_t>(m - 1)];
                    *master = m >= 3;
                    return HostErr::Ok;
                });
}

int32_t DocHost::MasterSpreadAt(int32_t doc, int16_t i, int32_t* spread, bool* unused, std::string* name)
{
    return Call("SPR-3", false,
                [&] { return "spread.master doc=" + HexHandle(doc) + " i=" + std::to_string(i); },
                [&] {
                    Layoutx* lx = LayoutOf(doc, "SPR-3");
                    if (!lx || i < 1 || static_cast<size_t>(i) > lx->entries.size())
                        return HostErr::BadRef;
                    *spread = lx->entries[static_cast<size_t>(i - 1)];
                    *unused = i >= 3 && lx->layout->MasterUnused(i - 2);
                    *name = i >= 3 ? lx->layout->masters[static_cast<size_t>(i - 3)].name : "";
                    return HostErr::Ok;
                });
}

int32_t DocHost::LayoutSpreadAt(int32_t doc, int16_t s, int32_t* spread)
{
    return Call("SPR-6", false,
                [&] { return "spread.layout doc=" + HexHandle(doc) + " s=" + std::to_string(s); },
                [&] {
                    Layoutx* lx = LayoutOf(doc, "SPR-6");
                    if (!lx || s < 1 || static_cast<size_t>(s) > lx->spreads.size())
                        return HostErr::BadRef;
                    *spread = lx->spreads[static_cast<size_t>(s - 1)];
                    return HostErr::Ok;
                });
}

namespace {
// The item list of a spread reference: a layout spread, a master, or a reserved entry.
const std::vector<uint32_t>* ItemsOf(const Layout& l, uint32_t id, int32_t kind)
{
    static const std::vector<uint32_t> none;
    if (kind == 0)
        return &l.spreads.at(id).items;
    return id >= 3 ? &l.masters.at(id - 3).items : &none;
}
}  // namespace

int32_t DocHost::FirstBox(int32_t spread, int32_t* box)
{
    return Call("SPR-4", false, [&] { return "spread.first spread=" + HexHandle(spread); }, [&] {
        const Ref* ref = Resolve(spread, Tag::Spread, "SPR-4");
        if (!ref)
            return HostErr::BadRef;
        const auto* items = ItemsOf(*ref->layout->layout, ref->id, ref->kind);
        *box = items->empty() ? 0 : ref->layout->boxes.at(items->front());
        return HostErr::Ok;
    });
}

int32_t DocHost::NextBox(int32_t box, int32_t* next)
{
    return Call("SPR-4", false, [&] { return "spread.next box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "SPR-4", &lx);
        if (!b)
            return HostErr::BadRef;
        *next = 0;
        const Layout& l = *lx->layout;
        const std::vector<uint32_t>* items = nullptr;
        if (b->owner.kind == OwnerKind::Spread)
            items = &l.spreads.at(b->owner.index).items;
        else if (b->owner.kind == OwnerKind::Master)
            items = &l.masters.at(b->owner.index).items;
        if (items) {
            auto it = std::find(items->begin(), items->end(), b->uid);
            if (it != items->end() && ++it != items->end())
                *next = lx->boxes.at(*it);
        }
        return HostErr::Ok;
    });
}

int32_t DocHost::IsMasterItem(int32_t box, int32_t spread, bool* item)
{
    return Call("SPR-5", false,
                [&] { return "spread.master-item? box=" + HexHandle(box) + " spread=" + HexHandle(spread); },
                [&] {
                    Layoutx* lx = nullptr;
                    const Box* b = BoxRef(box, "SPR-5", &lx);
                    const Ref* s = Resolve(spread, Tag::Spread, "SPR-5");
                    if (!b || !s || s->layout != lx)
                        return HostErr::BadRef;
                    *item = s->kind == 1 && s->id >= 3 && b->owner.kind == OwnerKind::Master &&
                            b->owner.index == s->id - 3;
                    return HostErr::Ok;
                });
}

int32_t DocHost::PageOfBox(int32_t box, int16_t* page)
{
    return Call("PAGE-1", false, [&] { return "page.of box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "PAGE-1", &lx);
        if (!b)
            return HostErr::BadRef;
        *page = static_cast<int16_t>(std::min<int32_t>(lx->layout->PageNumberOf(*b), kPasteboardPage));
        return HostErr::Ok;
    });
}

int32_t DocHost::PageTable(int32_t spread, std::vector<PageInfo>* pages)
{
    return Call("PAGE-2", false, [&] { return "page.table spread=" + HexHandle(spread); }, [&] {
        const Ref* ref = Resolve(spread, Tag::Spread, "PAGE-2");
        if (!ref)
            return HostErr::BadRef;
        const Layout& l = *ref->layout->layout;
        if (ref->kind == 0)
            *pages = l.Pages(ref->id);
        else
            *pages = ref->id >= 3 ? l.MasterPages(ref->id - 3) : std::vector<PageInfo>{};
        return HostErr::Ok;
    });
}

// ---- Boxes --------------------------------------------------------------------------------

int32_t DocHost::BoxKinds(int32_t box, uint8_t* bits)
{
    return Call("BOX-1", false, [&] { return "box.kinds box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "BOX-1", &lx);
        if (!b)
            return HostErr::BadRef;
        static const uint8_t kBits[] = {kIsText, kIsPicture, kIsLine, kIsGroup, kIsNone};
        *bits = kBits[static_cast<size_t>(b->kind)];
        return HostErr::Ok;
    });
}

int32_t DocHost::GroupMembers(int32_t box, bool* group, std::vector<int32_t>* members)
{
    return Call("BOX-2", false, [&] { return "box.members box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "BOX-2", &lx);
        if (!b)
            return HostErr::BadRef;
        *group = b->kind == BoxKind::Group;
        members->clear();
        if (*group) {
            members->push_back(box);  // the group itself first
            for (uint32_t uid : b->members)
                members->push_back(lx->boxes.at(uid));
        }
        return HostErr::Ok;
    });
}

int32_t DocHost::IsOnMaster(int32_t box, bool* master)
{
    return Call("BOX-3", false, [&] { return "box.on-master? box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "BOX-3", &lx);
        if (!b)
            return HostErr::BadRef;
        const Box* top = lx->layout->TopLevelOf(*b);
        *master = top && top->owner.kind == OwnerKind::Master;
        return HostErr::Ok;
    });
}

int32_t DocHost::BoxLocation(int32_t box, int16_t* spreadWord, uint8_t opaque[8])
{
    return Call("BOX-4", false, [&] { return "box.location box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "BOX-4", &lx);
        const Box* top = b ? lx->layout->TopLevelOf(*b) : nullptr;
        if (!top)
            return HostErr::BadRef;
        // A master box names its kind-1 entry (master page p is entry p + 2), which DOC-16
        // takes; a layout box its spread from 1.
        const auto index = static_cast<int16_t>(top->owner.index);
        *spreadWord = static_cast<int16_t>(top->owner.kind == OwnerKind::Master ? index + 3 : index + 1);
        std::fill(opaque, opaque + 8, uint8_t{0});
        return HostErr::Ok;
    });
}

int32_t DocHost::CurrentBox(int32_t* box)
{
    return Call("BOX-5", false, [] { return std::string("box.current"); }, [&] {
        Layoutx* lx = Front();
        if (!lx)
            return HostErr::NoDocument;
        *box = lx->currentBox ? lx->boxes.at(lx->currentBox) : 0;
        return HostErr::Ok;
    });
}

int32_t DocHost::SetCurrentBox(int32_t box)
{
    return Call("BOX-5", true, [&] { return "box.set-current box=" + HexHandle(box); }, [&] {
        Layoutx* front = Front();
        if (front && box == 0) {
            front->currentBox = 0;
            return HostErr::Ok;
        }
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "BOX-5", &lx);
        if (!b || lx != front)
            return HostErr::BadRef;
        lx->currentBox = b->uid;
        // The view follows the box to its spread.
        const Box* top = lx->layout->TopLevelOf(*b);
        if (top && top->owner.kind == OwnerKind::Spread)
            lx->spread = static_cast<int32_t>(top->owner.index);
        return HostErr::Ok;
    });
}

int32_t DocHost::PreviousInChain(int32_t box, int32_t* previous)
{
    return Call("BOX-6", false, [&] { return "box.previous box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "BOX-6", &lx);
        if (!b)
            return HostErr::BadRef;
        *previous = 0;
        if (const Story* story = b->kind == BoxKind::Text ? lx->layout->FindStory(b->story) : nullptr) {
            auto it = std::find(story->boxes.begin(), story->boxes.end(), b->uid);
            if (it != story->boxes.begin() && it != story->boxes.end())
                *previous = lx->boxes.at(*(it - 1));
        }
        return HostErr::Ok;
    });
}

int32_t DocHost::AnchoredBox(int32_t text, int32_t pos, int32_t* box)
{
    return Call("BOX-7", false,
                [&] { return "box.anchored text=" + HexHandle(text) + " at=" + std::to_string(pos); },
                [&] {
                    Layoutx* lx = nullptr;
                    const Story* story = TextRef(text, "BOX-7", &lx);
                    if (!story)
                        return HostErr::BadRef;
                    *box = 0;
                    for (const ObjectRun& o : story->objects)
                        if (o.kind == 1 && o.at == pos)
                            *box = lx->boxes.at(o.box);
                    return HostErr::Ok;
                });
}

int32_t DocHost::CreateTextBox(int32_t record, int32_t spread, int32_t* box)
{
    return Call("BOX-8", true,
                [&] { return "box.create spread=" + HexHandle(spread) + " box=" + HexHandle(*box); },
                [&] {
                    const BoxRecord* rec = Record(record);
                    const Ref* s = Resolve(spread, Tag::Spread, "BOX-8");
                    if (!rec || !s || (s->kind == 1 && s->id < 3))
                        return HostErr::BadRef;
                    if (rec->bounds.top > rec->bounds.bottom || rec->bounds.left > rec->bounds.right ||
                        rec->shape < 5 || rec->shape > 12)
                        return HostErr::BadRef;
                    Layoutx& lx = *s->layout;
                    Project& p = *lx.project->project;
                    Layout& l = *lx.layout;
                    Box b;
                    b.uid = p.NewUid();
                    b.shape = rec->shape;
                    b.bounds = rec->bounds;
                    b.angle = rec->angle;
                    b.inset = rec->inset;
                    b.runaround = rec->runaround;
                    b.word6 = rec->word6;
                    b.savedWord = rec->savedWord;
                    b.layer = l.layers.front().id;
                    if (const auto* outline = rec->outline ? Outline(rec->outline) : nullptr)
                        b.outline = *outline;
                    const uint32_t uid = b.uid;
                    l.boxes.emplace(uid, std::move(b));
                    if (s->kind == 0)
                        l.spreads.at(s->id).items.push_back(uid);
                    else
                        l.masters.at(s->id - 3).items.push_back(uid);
                    Story story;
                    story.uid = p.NewUid();
                    story.boxes = {uid};
                    const StyleSheet* normal = nullptr;
                    for (const StyleSheet& sheet : p.styleSheets)
                        if (sheet.name == "Normal")
                            normal = &sheet;
                    story.paras = {normal ? normal->paraFormat : p.paraFormats.Intern(ParaFormat{})};
                    l.stories.emplace(story.uid, story);
                    l.Index();
                    *box = IssueBox(lx, uid);
                    IssueText(lx, story.uid);
                    Touch(lx);
                    return HostErr::Ok;
                });
}

void DocHost::RemoveBox(Layoutx& lx, uint32_t uid)
{
    Layout& l = *lx.layout;
    Box* b = l.FindBox(uid);
    if (!b)
        return;
    for (uint32_t member : std::vector<uint32_t>(b->members))
        RemoveBox(lx, member);
    b = l.FindBox(uid);
    if (b->kind == BoxKind::Text) {
        if (Story* story = l.FindStory(b->story)) {
            story->boxes.erase(std::remove(story->boxes.begin(), story->boxes.end(), uid), story->boxes.end());
            if (story->boxes.empty()) {
                // The story goes with its last box, and so do the boxes anchored in it.
                std::vector<uint32_t> anchored;
                for (const ObjectRun& o : story->objects)
                    if (o.kind == 1)
                        anchored.push_back(o.box);
                const uint32_t storyUid = story->uid;
                for (uint32_t a : anchored) {
                    l.boxes.at(a).owner = Owner{};  // its anchor goes with the story
                    RemoveBox(lx, a);
                }
                l.stories.erase(storyUid);
                Retire(lx.texts[storyUid]);
                lx.texts.erase(storyUid);
            }
        }
    }
    b = l.FindBox(uid);
    const Owner owner = b->owner;
    auto unlist = [uid](std::vector<uint32_t>& items) {
        items.erase(std::remove(items.begin(), items.end(), uid), items.end());
    };
    switch (owner.kind) {
    case OwnerKind::Spread: unlist(l.spreads.at(owner.index).items); break;
    case OwnerKind::Master: unlist(l.masters.at(owner.index).items); break;
    case OwnerKind::Group:
        if (Box* group = l.FindBox(owner.index)) {
            unlist(group->members);
            if (group->members.empty())
                group->kind = BoxKind::None;  // an empty group is no group
        }
        break;
    case OwnerKind::Story:
        if (Story* story = l.FindStory(owner.index)) {
            // The anchor character goes with its box.
            auto it = std::find_if(story->objects.begin(), story->objects.end(),
                                   [uid](const ObjectRun& o) { return o.kind == 1 && o.box == uid; });
            if (it != story->objects.end()) {
                const int32_t at = it->at;
                story->objects.erase(it);
                xthost::doc::DeleteText(*story, at, at + 1);
            }
        }
        break;
    case OwnerKind::Unowned: break;
    }
    for (auto& [other, box] : l.boxes)
        if (box.derivedFrom == uid) {
            box.derivedFrom = 0;
            box.autotext = false;
        }
    l.boxes.erase(uid);
    Retire(lx.boxes[uid]);
    lx.boxes.erase(uid);
    lx.dirtyBoxes.erase(uid);
    if (lx.currentBox == uid)
        lx.currentBox = 0;
    l.Index();
}

int32_t DocHost::DisposeBox(int32_t box, int32_t flag)
{
    return Call("BOX-9", true,
                [&] { return "box.dispose box=" + HexHandle(box) + " flag=" + std::to_string(flag); },
                [&] {
                    Layoutx* lx = nullptr;
                    const Box* b = BoxRef(box, "BOX-9", &lx);
                    if (!b)
                        return HostErr::BadRef;
                    RemoveBox(*lx, b->uid);
                    Touch(*lx);
                    return HostErr::Ok;
                });
}

int32_t DocHost::BoxCall(int32_t box)
{
    return Call("BOX-10", false, [&] { return "box.call box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        return BoxRef(box, "BOX-10", &lx) ? HostErr::Ok : HostErr::BadRef;
    });
}

int32_t DocHost::DefaultId(int32_t box, int32_t* id)
{
    return Call("BOX-11", false, [&] { return "box.default-id box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "BOX-11", &lx);
        if (!b)
            return HostErr::BadRef;
        *id = static_cast<int32_t>(b->uid);
        return HostErr::Ok;
    });
}

// ---- Box records and outlines -------------------------------------------------------------

BoxRecord* DocHost::Record(int32_t record)
{
    auto it = records_.find(record);
    return it == records_.end() ? nullptr : &it->second;
}

const std::vector<Point>* DocHost::Outline(int32_t outline) const
{
    auto it = outlines_.find(outline);
    return it == outlines_.end() ? nullptr : &it->second;
}

int32_t DocHost::NewRecord(int32_t* record)
{
    return Call("REC-1", false, [] { return std::string("record.new"); }, [&] {
        *record = Issue(Tag::BoxRecord, Ref{Tag::BoxRecord, nullptr, nullptr, 0, 0});
        records_[*record] = BoxRecord{};
        return *record ? HostErr::Ok : HostErr::BadRef;
    });
}

int32_t DocHost::GetRecord(int32_t box, int32_t* record)
{
    return Call("REC-2", false, [&] { return "record.get box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "REC-2", &lx);
        if (!b)
            return HostErr::BadRef;
        BoxRecord r;
        r.shape = b->shape;
        r.savedWord = b->savedWord;
        r.bounds = b->bounds;
        r.bounds2 = b->Bounds2();
        r.angle = b->angle;
        r.master = b->derivedFrom ? lx->boxes.at(b->derivedFrom) : 0;
        r.inset = b->inset;
        r.runaround = b->runaround;
        r.word6 = b->word6;
        *record = Issue(Tag::BoxRecord, Ref{Tag::BoxRecord, nullptr, nullptr, 0, 0});
        records_[*record] = r;
        return HostErr::Ok;
    });
}

int32_t DocHost::ApplyRecord(int32_t record, int32_t box, uint16_t* violation)
{
    return Call("REC-3", true,
                [&] {
                    return "record.apply box=" + HexHandle(box) + " violation=" + std::to_string(*violation);
                },
                [&] {
                    *violation = 0;
                    Layoutx* lx = nullptr;
                    Box* b = BoxRef(box, "REC-3", &lx);
                    const BoxRecord* r = Resolve(record, Tag::BoxRecord, "REC-3") ? Record(record) : nullptr;
                    if (!b || !r || r->shape < 5 || r->shape > 12)
                        return HostErr::BadRef;
                    const std::vector<Point>* outline = nullptr;
                    if (r->outline && !(outline = Resolve(r->outline, Tag::Outline, "REC-3") ? Outline(r->outline) : nullptr))
                        return HostErr::BadRef;
                    if (r->bounds.top > r->bounds.bottom || r->bounds.left > r->bounds.right) {
                        *violation = kViolationInverted;
                        return HostErr::Ok;
                    }
                    const bool resized =
                        int64_t{r->bounds.bottom} - r->bounds.top != int64_t{b->bounds.bottom} - b->bounds.top ||
                        int64_t{r->bounds.right} - r->bounds.left != int64_t{b->bounds.right} - b->bounds.left;
                    if (resized && (r->savedWord & 1)) {
                        *violation = kViolationLockedSize;
                        return HostErr::Ok;
                    }
                    b->shape = r->shape;
                    b->savedWord = r->savedWord;
                    b->bounds = r->bounds;
                    b->angle = r->angle;
                    b->inset = r->inset;
                    b->runaround = r->runaround;
                    b->word6 = r->word6;
                    if (outline)
                        b->outline = *outline;
                    Touch(*lx);
                    return HostErr::Ok;
                });
}

int32_t DocHost::ReleaseRecord(int32_t record)
{
    return Call("REC-4", false, [&] { return "record.release record=" + HexHandle(record); }, [&] {
        if (!Resolve(record, Tag::BoxRecord, "REC-4"))
            return HostErr::BadRef;
        records_.erase(record);
        Retire(record);
        return HostErr::Ok;
    });
}

int32_t DocHost::OutlineOf(int32_t box, int32_t* outline)
{
    return Call("SHP-1", false, [&] { return "shape.outline box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "SHP-1", &lx);
        if (!b)
            return HostErr::BadRef;
        *outline = Issue(Tag::Outline, Ref{Tag::Outline, nullptr, nullptr, 0, 0});
        outlines_[*outline] = b->outline;
        return HostErr::Ok;
    });
}

int32_t DocHost::MakePolygon(const std::vector<Point>& points, int32_t* outline)
{
    return Call("SHP-2", false, [&] { return "shape.polygon points=" + std::to_string(points.size()); }, [&] {
        if (points.size() < 3)
            return HostErr::BadRef;
        *outline = Issue(Tag::Outline, Ref{Tag::Outline, nullptr, nullptr, 0, 0});
        outlines_[*outline] = points;
        return HostErr::Ok;
    });
}

int32_t DocHost::DisposeOutline(int32_t outline)
{
    return Call("SHP-3", false, [&] { return "shape.dispose outline=" + HexHandle(outline); }, [&] {
        if (!Resolve(outline, Tag::Outline, "SHP-3"))
            return HostErr::BadRef;
        outlines_.erase(outline);
        Retire(outline);
        return HostErr::Ok;
    });
}

// ---- Private data -------------------------------------------------------------------------

int32_t DocHost::PrivateOwner(int32_t box, int32_t* owner)
{
    return Call("PD-1", false, [&] { return "private.owner box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        if (!BoxRef(box, "PD-1", &lx))
            return HostErr::BadRef;
        *owner = box;  // the data belongs to the box itself
        return HostErr::Ok;
    });
}

int32_t DocHost::GetPrivate(int32_t owner, uint32_t key, std::vector<uint8_t>* bytes, bool* found)
{
    return Call("PD-2", false,
                [&] { return "private.get box=" + HexHandle(owner) + " key=" + HexHandle(static_cast<int32_t>(key)); },
                [&] {
                    Layoutx* lx = nullptr;
                    const Box* b = BoxRef(owner, "PD-2", &lx);
                    if (!b)
                        return HostErr::BadRef;
                    auto it = b->privateData.find(key);
                    *found = it != b->privateData.end();
                    if (*found)
                        *bytes = it->second;
                    return HostErr::Ok;
                });
}

int32_t DocHost::SetPrivate(int32_t owner, uint32_t key, const std::vector<uint8_t>* bytes)
{
    return Call("PD-3", true,
                [&] {
                    return "private.set box=" + HexHandle(owner) + " key=" + HexHandle(static_cast<int32_t>(key)) +
                           (bytes ? " size=" + std::to_string(bytes->size()) : " none");
                },
                [&] {
                    Layoutx* lx = nullptr;
                    Box* b = BoxRef(owner, "PD-3", &lx);
                    if (!b || (bytes && (bytes->empty() || bytes->size() > 65535)))
                        return HostErr::BadRef;
                    if (bytes)
                        b->privateData[key] = *bytes;
                    else
                        b->privateData.erase(key);
                    Touch(*lx);
                    return HostErr::Ok;
                });
}

int32_t DocHost::FindByPrivate(int32_t view, uint32_t key, const std::vector<uint8_t>& bytes, int32_t* box)
{
    return Call("PD-4", false,
                [&] { return "private.find view=" + HexHandle(view) + " key=" + HexHandle(static_cast<int32_t>(key)); },
                [&] {
                    const Ref* ref = Resolve(view, Tag::View, "PD-4");
                    if (!ref)
                        return HostErr::BadRef;
                    const Layoutx& lx = *ref->layout;
                    *box = 0;
                    WalkScope(lx, lx.master != 0, [&](const Box& b) {
                        auto it = b.privateData.find(key);
                        if (it == b.privateData.end() || it->second != bytes)
                            return false;
                        *box = lx.boxes.at(b.uid);
                        return true;
                    });
                    return HostErr::Ok;
                });
}

// ---- Styles, fonts, colours, layers -------------------------------------------------------

int32_t DocHost::GetStyleSheet(int32_t id, int32_t kind, StyleSheetRecord* sheet)
{
    return Call("STY-1", false,
                [&] { return "style.get id=" + std::to_string(id) + " kind=" + std::to_string(kind); },
                [&] {
                    const Project* p = FrontProject();
                    const StyleSheet* s = p ? p->FindStyleSheet(id) : nullptr;
                    if (!s || (kind != 1 && kind != 2))
                        return HostErr::BadRef;
                    *sheet = StyleSheetRecord{s->id, s->name, *p->charFormats.Find(s->charFormat),
                                              *p->paraFormats.Find(s->paraFormat)};
                    return HostErr::Ok;
                });
}

int32_t DocHost::FindStyleSheet(const std::string& name, int32_t* id)
{
    return Call("STY-2", false, [&] { return "style.find " + Quoted(name); }, [&] {
        const Project* p = FrontProject();
        if (!p)
            return HostErr::NoDocument;
        for (const StyleSheet& s : p->styleSheets)
            if (s.name == name) {
                *id = s.id;
                return HostErr::Ok;
            }
        return HostErr::BadRef;
    });
}

int32_t DocHost::ApplyStyleSheet(int32_t id, int32_t one, int32_t text)
{
    return Call("STY-3", true,
                [&] { return "style.apply id=" + std::to_string(id) + " text=" + HexHandle(text) + " flag=" + std::to_string(one); },
                [&] {
                    Layoutx* lx = nullptr;
                    int32_t result = 0;
                    Story* story = Editable(text, "STY-3", &lx, &result);
                    const StyleSheet* sheet = story ? lx->project->project->FindStyleSheet(id) : nullptr;
                    if (!sheet)
                        return story ? HostErr::BadRef : result;
                    // Every paragraph the selection (or the insertion point) touches.
                    SetParagraphFormat(*story, story->selStart, story->selEnd, sheet->paraFormat);
                    StoryChanged(*lx, *story);
                    return HostErr::Ok;
                });
}

int32_t DocHost::FontList(std::vector<uint8_t>* packed)
{
    return Call("FNT-1", false, [] { return std::string("font.list"); }, [&] {
        const Project* p = FrontProject();
        if (!p)
            return HostErr::NoDocument;
        packed->clear();
        auto u16 = [packed](uint32_t v) {
            packed->push_back(static_cast<uint8_t>(v));
            packed->push_back(static_cast<uint8_t>(v >> 8));
        };
        u16(static_cast<uint32_t>(p->fonts.size()));
        for (const Font& f : p->fonts) {
            u16(static_cast<uint16_t>(f.id));
            packed->push_back(f.script);
            packed->push_back(f.extra);
            packed->insert(packed->end(), f.name.begin(), f.name.end());
            packed->push_back(0);
            packed->insert(packed->end(), f.secondName.begin(), f.secondName.end());
            packed->push_back(0);
        }
        return HostErr::Ok;
    });
}

int32_t DocHost::FontScript(int16_t id)
{
    int32_t script = HostErr::BadRef;
    Call("FNT-2", false, [&] { return "font.script id=" + std::to_string(id); }, [&] {
        const Project* p = FrontProject();
        const Font* f = p ? p->FindFont(id) : nullptr;
        script = f ? f->script : HostErr::BadRef;
        return f ? HostErr::Ok : HostErr::BadRef;
    });
    return script;
}

int32_t DocHost::ColourTable(std::vector<Colour>* colours)
{
    return Call("COL-1", false, [] { return std::string("colour.table"); }, [&] {
        const Project* p = FrontProject();
        if (!p)
            return HostErr::NoDocument;
        *colours = p->colours;
        return HostErr::Ok;
    });
}

int32_t DocHost::FindRgbColour(uint32_t rgb, int32_t* id)
{
    return Call("COL-2", false, [&] { return "colour.find rgb=" + HexHandle(static_cast<int32_t>(rgb)); }, [&] {
        const Project* p = FrontProject();
        if (!p)
            return HostErr::NoDocument;
        for (const Colour& c : p->colours)
            if (c.rgb == rgb) {
                *id = c.id;
                return HostErr::Ok;
            }
        return HostErr::NoColour;
    });
}

int32_t DocHost::CreateRgbColour(const std::string& name, uint32_t rgb, int32_t* id)
{
    return Call("COL-3", true, [&] { return "colour.create " + Quoted(name) + " id=" + std::to_string(*id); }, [&] {
        Layoutx* lx = Front();
        std::u16string wide;
        if (!lx)
            return HostErr::NoDocument;
        if (rgb > 0xFFFFFF || !Utf8ToUtf16(name, &wide) || wide.size() > 64)
            return HostErr::BadRef;
        Project& p = *lx->project->project;
        int32_t next = 1;
        for (const Colour& c : p.colours)
            next = std::max(next, c.id + 1);
        if (next > 0xFFFF)
            return HostErr::BadRef;
        p.colours.push_back(Colour{next, name, "QRGB", rgb});
        *id = next;
        Touch(*lx);
        return HostErr::Ok;
    });
}

int32_t DocHost::LayerOfBox(int32_t box, int32_t* layer)
{
    return Call("LYR-1", false, [&] { return "layer.of box=" + HexHandle(box); }, [&] {
        Layoutx* lx = nullptr;
        const Box* b = BoxRef(box, "LYR-1", &lx);
        if (!b)
            return HostErr::BadRef;
        *layer = b->layer;
        return HostErr::Ok;
    });
}

namespace {
const Layer* FindLayer(const Layout& l, int32_t id)
{
    for (const Layer& layer : l.layers)
        if (layer.id == id)
            return &layer;
    return nullptr;
}
}  // namespace

int32_t DocHost::LayerName(int32_t layer, std::u16string* name)
{
    return Call("LYR-2", false, [&] { return "layer.name id=" + std::to_string(layer); }, [&] {
        const Layoutx* lx = Front();
        const Layer* found = lx ? FindLayer(*lx->layout, layer) : nullptr;
        if (!found)
            return HostErr::BadRef;
        *name = found->name;
        return HostErr::Ok;
    });
}

int32_t DocHost::LayerVisible(int32_t layer, bool* visible)
{
    return Call("LYR-3", false, [&] { return "layer.visible? id=" + std::to_string(layer); }, [&] {
        const Layoutx* lx = Front();
        const Layer* found = lx ? FindLayer(*lx->layout, layer) : nullptr;
        if (!found)
            return HostErr::BadRef;
        *visible = found->visible;
        return HostErr::Ok;
    });
}

// ---- File data ----------------------------------------------------------------------------

namespace {
int OpenFile(const std::string& path, int flags)
{
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}
}  // namespace

int32_t DocHost::OpenDataFork(const std::string& path, int32_t permission, int16_t* ref)
{
    return Call("FIO-1", false,
                [&] { return "file.open " + Quoted(path) + " permission=" + std::to_string(permission); },
                [&] {
                    if (nextFileRef_ == INT16_MAX)
                        return HostErr::BadRef;
                    const int fd = OpenFile(path, O_RDONLY);
                    if (fd < 0)
                        return HostErr::FileNotFound;
                    *ref = nextFileRef_++;
                    files_[*ref] = std::make_unique<FileData>();
                    files_[*ref]->fd = fd;
                    return HostErr::Ok;
                });
}

int32_t DocHost::ReadData(int16_t ref, int32_t* count, void* buffer)
{
    return Call("FIO-2", false, [&] { return "file.read ref=" + std::to_string(ref); }, [&] {
        auto it = files_.find(ref);
        if (it == files_.end() || *count < 0 || (*count > 0 && !buffer)) {
            *count = 0;
            return HostErr::BadRef;
        }
        const int32_t wanted = *count;
        int32_t done = 0;
        while (done < wanted) {
            const ssize_t n = ::read(it->second->fd, static_cast<char*>(buffer) + done,
                                     static_cast<size_t>(wanted - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<int32_t>(n);
        }
        *count = done;
        return done < wanted ? HostErr::EndOfFile : HostErr::Ok;
    });
}

int32_t DocHost::DataLength(int16_t ref, int32_t* length)
{
    return Call("FIO-3", false, [&] { return "file.length ref=" + std::to_string(ref); }, [&] {
        auto it = files_.find(ref);
        struct stat st {};
        *length = 0;
        if (it == files_.end() || ::fstat(it->second->fd, &st) != 0)
            return HostErr::BadRef;
        if (st.st_size > INT32_MAX)
            return HostErr::BadRef;
        *length = static_cast<int32_t>(st.st_size);
        return HostErr::Ok;
    });
}

int32_t DocHost::CloseData(int16_t ref)
{
    return Call("FIO-4", false, [&] { return "file.close ref=" + std::to_string(ref); },
                [&] { return files_.erase(ref) ? HostErr::Ok : HostErr::BadRef; });
}

int32_t DocHost::CreateDataFile(const std::string& path, int32_t access, int16_t* ref)
{
    return Call("FIO-5", true, [&] { return "file.create " + Quoted(path) + " access=" + std::to_string(access); },
                [&] {
                    if (nextFileRef_ == INT16_MAX)
                        return HostErr::BadRef;
                    const int fd = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC);
                    if (fd < 0)
                        return HostErr::FileNotFound;
                    *ref = nextFileRef_++;
                    files_[*ref] = std::make_unique<FileData>();
                    files_[*ref]->fd = fd;
                    return HostErr::Ok;
                });
}

int32_t DocHost::WriteData(int16_t ref, int32_t* count, const void* buffer)
{
    return Call("FIO-6", false, [&] { return "file.write ref=" + std::to_string(ref); }, [&] {
        auto it = files_.find(ref);
        if (it == files_.end() || *count < 0 || (*count > 0 && !buffer)) {
            *count = 0;
            return HostErr::BadRef;
        }
        int32_t done = 0;
        while (done < *count) {
            const ssize_t n = ::write(it->second->fd, static_cast<const char*>(buffer) + done,
                                      static_cast<size_t>(*count - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<int32_t>(n);
        }
        const bool complete = done == *count;
        *count = done;
        return complete ? HostErr::Ok : HostErr::WriteFailed;
    });
}

}  // namespace xthost::doc
