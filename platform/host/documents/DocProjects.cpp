// The document calls on projects, layouts and views: open, save and close, new projects and
// their layouts, and which master or spread a view shows.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "platform/host/documents/DocHostState.h"
#include "platform/host/documents/DocumentFile.h"

namespace xthost::doc {

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
    openRefusal_.clear();
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
                    if (::stat(path.c_str(), &st) != 0) {
                        openRefusal_ = Quoted(path) + ": " + std::strerror(errno);
                        return HostErr::FileNotFound;
                    }
                    try {
                        AdoptProject(ReadDocumentFile(path), AbsolutePath(path));
                    } catch (const DocumentError& e) {
                        detail = std::string(" refused: ") + e.what();
                        openRefusal_ = Quoted(path) + " is no document: " + e.what();
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
        return px.path.empty() ? HostErr::FileNotFound : WriteProject(px, px.path, "DOC-11");
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
        return projects_.empty() ? HostErr::NoDocument : WriteProject(*projects_.back(), path, "DOC-11");
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
                [&] { return projects_.empty() ? HostErr::NoDocument : WriteProject(*projects_.back(), path, "NEW-3"); });
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

}  // namespace xthost::doc
