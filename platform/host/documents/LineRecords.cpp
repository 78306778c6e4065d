#include "platform/host/documents/LineRecords.h"

#include <cstdio>
#include <string>
#include <unordered_map>

namespace xthost::doc {

namespace {

std::string Hex(int32_t handle)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(handle));
    return text;
}

void Encode(DocHost& docs, int32_t doc, const std::vector<LineRecord>& lines, std::vector<uint8_t>* records)
{
    records->assign(lines.size() * kLineRecordSize, 0);
    for (size_t i = 0; i < lines.size(); ++i)
        EncodeLineRecord(lines[i], lines[i].Overflow() ? 0 : docs.HandleOf(doc, lines[i].box),
                         records->data() + i * kLineRecordSize);
}

// The lines of the stories set since the documents last changed. The generation is unique
// per change and per host, so an entry never outlives what it was made from.
const StoryLines& CachedLines(DocHost& docs, const DocHost::Target& t, const Story& story)
{
    static uint64_t generation = 0;
    static std::unordered_map<const Story*, StoryLines> cache;
    if (generation != docs.Generation()) {
        cache.clear();
        generation = docs.Generation();
    }
    auto it = cache.find(&story);
    if (it == cache.end())
        it = cache.emplace(&story, LayOutStory(*t.project, *t.layout, story)).first;
    return it->second;
}

// A read of one box: its role's fault, its handle check, then the body.
template <class Body>
int32_t BoxRead(DocHost& docs, const char* role, int32_t box, Body body)
{
    return docs.Wrap(role, false, [&] { return std::string(role) + " box=" + Hex(box); }, [&] {
        DocHost::Target t;
        return docs.ResolveBox(box, role, &t) ? body(t) : HostErr::BadRef;
    });
}

// The lines of the story of a text box; null for another box.
const StoryLines* LinesOfBox(DocHost& docs, const DocHost::Target& t)
{
    const Story* story = t.box->kind == BoxKind::Text ? t.layout->FindStory(t.box->story) : nullptr;
    return story ? &CachedLines(docs, t, *story) : nullptr;
}

}  // namespace

int32_t StoryLinesOf(DocHost& docs, int32_t box, StoryLines* lines)
{
    return BoxRead(docs, "LIN-1", box, [&](DocHost::Target& t) {
        const StoryLines* set = LinesOfBox(docs, t);
        if (set)
            *lines = *set;
        return set ? HostErr::Ok : HostErr::BadRef;
    });
}

int32_t LineRecords(DocHost& docs, int32_t box, std::vector<uint8_t>* records)
{
    return BoxRead(docs, "LIN-1", box, [&](DocHost::Target& t) {
        const StoryLines* set = LinesOfBox(docs, t);
        if (set)
            Encode(docs, t.doc, set->lines, records);
        return set ? HostErr::Ok : HostErr::BadRef;
    });
}

int32_t ParagraphLines(DocHost& docs, int32_t text, int32_t start, int32_t end, std::vector<uint8_t>* records)
{
    const char* role = "LIN-2";
    return docs.Wrap(role, false,
                     [&] { return "LIN-2 story=" + Hex(text) + " start=" + std::to_string(start) + " end=" + std::to_string(end); },
                     [&] {
        DocHost::Target t;
        if (!docs.ResolveText(text, role, &t))
            return HostErr::BadRef;
        if (start < 0 || end < start || size_t(end) > t.story->text.size())
            return HostErr::BadRef;
        Encode(docs, t.doc, LinesInRange(CachedLines(docs, t, *t.story), start, end), records);
        return HostErr::Ok;
    });
}

int32_t BoundingBox(DocHost& docs, int32_t box, Rect* bounds)
{
    return BoxRead(docs, "GEO-2", box, [&](DocHost::Target& t) {
        *bounds = t.box->bounds;
        return HostErr::Ok;
    });
}

int32_t ObstacleBox(DocHost& docs, int32_t box, Rect* bounds)
{
    return BoxRead(docs, "GEO-3", box, [&](DocHost::Target& t) {
        const Rect& b = t.box->bounds;
        const int32_t r = t.box->runaround;
        *bounds = Rect{b.top - r, b.left - r, b.bottom + r, b.right + r};
        return HostErr::Ok;
    });
}

int32_t NoReflow(DocHost& docs, int32_t box, bool* flag)
{
    return BoxRead(docs, "GEO-4", box, [&](DocHost::Target& t) {
        *flag = t.box->noReflow;
        return HostErr::Ok;
    });
}

Rect LimitOf(const Layout& layout, const Box& box)
{
    const Box* top = layout.TopLevelOf(box);
    if (!top)
        return box.bounds;
    const auto pages = top->owner.kind == OwnerKind::Spread ? layout.Pages(top->owner.index)
                                                            : layout.MasterPages(top->owner.index);
    if (pages.empty())
        return box.bounds;
    const int64_t cy = (int64_t{box.bounds.top} + box.bounds.bottom) / 2;
    const int64_t cx = (int64_t{box.bounds.left} + box.bounds.right) / 2;
    for (const auto& page : pages)
        if (cy >= page.bounds.top && cy < page.bounds.bottom && cx >= page.bounds.left && cx < page.bounds.right)
            return page.bounds;
    return Rect{pages.front().bounds.top, pages.front().bounds.left, pages.back().bounds.bottom,
                pages.back().bounds.right};
}

int32_t LimitRect(DocHost& docs, int32_t box, Rect* limits)
{
    return BoxRead(docs, "GEO-5", box, [&](DocHost::Target& t) {
        *limits = LimitOf(*t.layout, *t.box);
        return HostErr::Ok;
    });
}

std::string Points(int64_t value)
{
    const bool negative = value < 0;
    const int64_t hundredths = ((negative ? -value : value) * 100 + 32768) / 65536;
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%02lld", negative ? "-" : "", static_cast<long long>(hundredths / 100),
                  static_cast<long long>(hundredths % 100));
    std::string s(text);
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

}  // namespace xthost::doc
