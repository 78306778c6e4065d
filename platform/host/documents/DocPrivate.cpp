// The document calls on the private data the module keeps on boxes.
#include "platform/host/documents/DocHostState.h"

namespace xthost::doc {

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

const DocHost::PrivateIndex& DocHost::ScopeIndex(Layoutx& lx, bool masters)
{
    PrivateIndex& index = lx.privateIndex[masters ? 1 : 0];
    const uint64_t structure = lx.layout->structure;
    if (index.built && index.structure == structure)
        return index;
    index = PrivateIndex{};
    WalkScope(lx, masters, [&](const Box& b) {
        if (index.positions.emplace(b.uid, index.order.size()).second) {
            for (const auto& [key, bytes] : b.privateData)
                index.holders[{key, bytes}].insert(index.order.size());
            index.order.push_back(b.uid);
        }
        return false;
    });
    index.built = true;
    index.structure = structure;
    return index;
}

void DocHost::Reindex(Layoutx& lx, uint32_t uid, uint32_t key, const std::vector<uint8_t>* before,
                      const std::vector<uint8_t>* after)
{
    for (PrivateIndex& index : lx.privateIndex) {
        if (!index.built || index.structure != lx.layout->structure)
            continue;
        const auto at = index.positions.find(uid);
        if (at == index.positions.end())
            continue;
        if (before) {
            const auto holders = index.holders.find({key, *before});
            if (holders != index.holders.end() && holders->second.erase(at->second) && holders->second.empty())
                index.holders.erase(holders);
        }
        if (after)
            index.holders[{key, *after}].insert(at->second);
    }
}

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
                    const auto held = b->privateData.find(key);
                    Reindex(*lx, b->uid, key, held != b->privateData.end() ? &held->second : nullptr, bytes);
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
                    Layoutx& lx = *ref->layout;
                    const PrivateIndex& index = ScopeIndex(lx, lx.master != 0);
                    const auto holders = index.holders.find({key, bytes});
                    *box = holders == index.holders.end() ? 0 : lx.boxes.at(index.order[*holders->second.begin()]);
#ifndef NDEBUG
                    // Debug builds walk as well: an index that missed a change is a host fault.
                    int32_t walked = 0;
                    WalkScope(lx, lx.master != 0, [&](const Box& b) {
                        auto it = b.privateData.find(key);
                        if (it == b.privateData.end() || it->second != bytes)
                            return false;
                        walked = lx.boxes.at(b.uid);
                        return true;
                    });
                    if (walked != *box) {
                        std::fprintf(stderr, "PD-4: the private-data index answers %s, the walk %s\n",
                                     HexHandle(*box).c_str(), HexHandle(walked).c_str());
                        std::abort();
                    }
#endif
                    return HostErr::Ok;
                });
}

}  // namespace xthost::doc
