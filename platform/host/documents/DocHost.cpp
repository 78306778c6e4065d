// The plumbing of the document calls: handles, the session state of open projects and
// layouts, events and project writes.
#include "platform/host/documents/DocHost.h"

#include <algorithm>

#include "platform/host/FileErrors.h"
#include "platform/host/documents/DocHostState.h"
#include "platform/host/documents/DocumentFile.h"

namespace xthost::doc {

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
    // Ids go on counting up while they are free (transcripts stay stable) and wrap to 1 past
    // the 16-bit range, skipping the ones open documents hold, so a long session never runs out.
    auto used = [&](int16_t id) {
        size_t p = 0, l = 0;
        if (FindDocId(id, &p, &l))
            return true;
        for (const auto& other : px.layouts)
            if (other->docId == id)
                return true;
        return false;
    };
    auto following = [](int16_t id) { return static_cast<int16_t>(id >= INT16_MAX || id < 1 ? 1 : id + 1); };
    if (nextDocId_ < 1)
        nextDocId_ = 1;
    for (int32_t tries = 0; used(nextDocId_) && tries < INT16_MAX; ++tries)
        nextDocId_ = following(nextDocId_);
    lx->docId = nextDocId_;
    nextDocId_ = following(nextDocId_);
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

int32_t DocHost::WriteProject(Projectx& px, const std::string& path, const char* role)
{
    std::string bytes;
    try {
        bytes = PrintDocument(*px.project);
    } catch (const DocumentError& e) {
        Note(std::string("doc.broken ") + e.what());
        return HostErr::WriteFailed;
    }
    // The host's reader would refuse it: the file it would replace stays as it is.
    if (const std::string fault = DocumentSizeFault(bytes.size()); !fault.empty()) {
        Note("doc.save refused: " + fault);
        return HostFileError(EFBIG, HostErr::WriteFailed);
    }
    int error = WriteFault(role);
    if (error != 0 || !WriteFileAtomically(path, bytes, &error))
        return HostFileError(error, HostErr::WriteFailed);
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

}  // namespace xthost::doc
