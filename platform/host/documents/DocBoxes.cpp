// The document calls on spreads, pages and boxes: walking a spread's items, creating and
// disposing boxes, box records and outlines.
#include <algorithm>

#include "platform/host/documents/DocHostState.h"
#include "platform/host/documents/StoryEdit.h"

namespace xthost::doc {

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

// The list that holds the box as an item of a spread, a master or a group; none for an
// anchored or unplaced box.
const std::vector<uint32_t>* SiblingsOf(const Layout& l, const Box& box)
{
    switch (box.owner.kind) {
    case OwnerKind::Spread:
        return &l.spreads.at(box.owner.index).items;
    case OwnerKind::Master:
        return &l.masters.at(box.owner.index).items;
    case OwnerKind::Group: {
        const Box* group = l.FindBox(box.owner.index);
        return group ? &group->members : nullptr;
    }
    default:
        return nullptr;
    }
}

// The outermost of the groups holding the box (the box itself when no group holds it), climbing
// group owners only: an anchored box stays with its story, not the box that anchors it. Null
// when a group is missing.
const Box* OutermostGroupOf(const Layout& l, const Box* at)
{
    // Bounded by the box count: a damaged model with a cycle of groups stops here.
    for (size_t step = 0; at && step <= l.boxes.size(); ++step) {
        if (at->owner.kind != OwnerKind::Group)
            return at;
        at = l.FindBox(at->owner.index);
    }
    return nullptr;
}

// True when the groups above the box end on a spread or a master: the box is on a spread's walk.
bool OnWalk(const Layout& l, const Box* at)
{
    const Box* top = OutermostGroupOf(l, at);
    return top && (top->owner.kind == OwnerKind::Spread || top->owner.kind == OwnerKind::Master);
}

// The item after `box` in the walk of its spread, 0 at the end: a group's first member follows
// the group, and after a group's last member the walk goes on after the group, depth first.
// A box of an anchored group is on no spread's walk and has no next item.
uint32_t NextInWalk(const Layout& l, const Box& box)
{
    if (!OnWalk(l, &box))
        return 0;
    if (box.kind == BoxKind::Group && !box.members.empty())
        return box.members.front();
    for (const Box* at = &box; at; at = l.FindBox(at->owner.index)) {
        const std::vector<uint32_t>* siblings = SiblingsOf(l, *at);
        if (!siblings)
            return 0;
        // The position kept by indexing is checked before it is trusted: a list changed since
        // without indexing falls back to a search.
        size_t i = at->owner.position;
        if (i >= siblings->size() || (*siblings)[i] != at->uid)
            i = static_cast<size_t>(std::find(siblings->begin(), siblings->end(), at->uid) - siblings->begin());
        if (i + 1 < siblings->size())
            return (*siblings)[i + 1];
        if (at->owner.kind != OwnerKind::Group)
            return 0;
    }
    return 0;
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
        const uint32_t uid = NextInWalk(*lx->layout, *b);
        *next = uid ? lx->boxes.at(uid) : 0;
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
                    // A group's members are items of the master page that holds the group; a box
                    // anchored in a story is an item of no page.
                    const Box* top = OutermostGroupOf(*lx->layout, b);
                    *item = s->kind == 1 && s->id >= 3 && top && top->owner.kind == OwnerKind::Master &&
                            top->owner.index == s->id - 3;
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
                    if (p.UidsLeft() < 2)  // the box and its story
                        return HostErr::NoUid;
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

}  // namespace xthost::doc
