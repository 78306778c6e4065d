#include "platform/host/documents/Model.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <unordered_map>

namespace xthost::doc {

namespace {

// Throws the refusal of the first broken field. The path is built only on failure.
template <class PathFn>
void Require(bool condition, const PathFn& path, const char* what)
{
    if (!condition)
        throw DocumentError(path(), what);
}

std::string Item(const std::string& base, const char* name, size_t index)
{
    return base + "." + name + "[" + std::to_string(index) + "]";
}

constexpr char16_t kObjectChar = 0xFFFC;  // an anchored item
constexpr size_t kMaxName = 255;

// Names are UTF-8 of at most 255 bytes.
bool ValidName(const std::string& name)
{
    std::u16string ignored;
    return name.size() <= kMaxName && Utf8ToUtf16(name, &ignored);
}

}  // namespace

Rect Box::Bounds2() const
{
    if (shape < 10 || outline.empty())
        return bounds;
    Rect r{outline[0].v, outline[0].h, outline[0].v, outline[0].h};
    for (const auto& p : outline) {
        r.top = std::min(r.top, p.v);
        r.bottom = std::max(r.bottom, p.v);
        r.left = std::min(r.left, p.h);
        r.right = std::max(r.right, p.h);
    }
    return r;
}

// ---- Layout -------------------------------------------------------------------------------

Box* Layout::FindBox(uint32_t uid)
{
    auto it = boxes.find(uid);
    return it == boxes.end() ? nullptr : &it->second;
}
const Box* Layout::FindBox(uint32_t uid) const
{
    auto it = boxes.find(uid);
    return it == boxes.end() ? nullptr : &it->second;
}
Story* Layout::FindStory(uint32_t uid)
{
    auto it = stories.find(uid);
    return it == stories.end() ? nullptr : &it->second;
}
const Story* Layout::FindStory(uint32_t uid) const
{
    auto it = stories.find(uid);
    return it == stories.end() ? nullptr : &it->second;
}

void Layout::Index(bool counted)
{
    if (counted)
        ++structure;
    for (auto& [uid, box] : boxes) {
        box.owner = Owner{};
        box.story = 0;
    }
    auto own = [this](const std::vector<uint32_t>& items, OwnerKind kind, uint32_t index) {
        for (size_t i = 0; i < items.size(); ++i)
            if (Box* box = FindBox(items[i]))
                box->owner = Owner{kind, index, static_cast<uint32_t>(i)};
    };
    for (size_t m = 0; m < masters.size(); ++m)
        own(masters[m].items, OwnerKind::Master, static_cast<uint32_t>(m));
    for (size_t s = 0; s < spreads.size(); ++s)
        own(spreads[s].items, OwnerKind::Spread, static_cast<uint32_t>(s));
    for (auto& [uid, box] : boxes)
        if (box.kind == BoxKind::Group)
            own(box.members, OwnerKind::Group, uid);
    for (auto& [uid, story] : stories) {
        for (uint32_t b : story.boxes)
            if (Box* box = FindBox(b))
                box->story = uid;
        for (const auto& object : story.objects)
            if (object.kind == 1)
                own({object.box}, OwnerKind::Story, uid);
    }
}

int32_t Layout::FirstPageIndex(size_t spread) const
{
    if (pagesBefore_.size() != spreads.size() + 1 || pagesBeforeStructure_ != structure) {
        pagesBefore_.assign(1, 0);
        for (const LayoutSpread& s : spreads)
            pagesBefore_.push_back(pagesBefore_.back() + static_cast<int32_t>(s.pages.size()));
        pagesBeforeStructure_ = structure;
    }
    return pagesBefore_[std::min(spread, spreads.size())];
}

std::vector<PageInfo> Layout::Pages(size_t spread) const
{
    std::vector<PageInfo> pages;
    if (spread >= spreads.size())
        return pages;
    int32_t index = FirstPageIndex(spread);
    for (size_t i = 0; i < spreads[spread].pages.size(); ++i, ++index) {
        PageInfo page;
        const int32_t left = static_cast<int32_t>(i) * pageWidth;
        page.bounds = Rect{0, left, pageHeight, left + pageWidth};
        page.master = spreads[spread].pages[i];
        // The section that holds the page decides its number.
        int32_t start = 0, first = 1;
        for (const auto& [at, number] : sections) {
            if (at > index)
                break;
            start = at;
            first = number;
            page.sectioned = true;
        }
        page.number = first + (index - start);
        pages.push_back(page);
    }
    return pages;
}

std::vector<PageInfo> Layout::MasterPages(size_t master) const
{
    std::vector<PageInfo> pages;
    if (master >= masters.size())
        return pages;
    for (int32_t i = 0; i < masters[master].pages; ++i) {
        PageInfo page;
        page.bounds = Rect{0, i * pageWidth, pageHeight, (i + 1) * pageWidth};
        page.number = i + 1;
        pages.push_back(page);
    }
    return pages;
}

const Box* Layout::TopLevelOf(const Box& box) const
{
    const Box* at = &box;
    // Bounded by the box count: the checked model has no cycles, a damaged one stops here.
    for (size_t step = 0; step <= boxes.size(); ++step) {
        switch (at->owner.kind) {
        case OwnerKind::Spread:
        case OwnerKind::Master:
            return at;
        case OwnerKind::Group:
            at = FindBox(at->owner.index);
            break;
        case OwnerKind::Story: {
            const Story* story = FindStory(at->owner.index);
            at = story && !story->boxes.empty() ? FindBox(story->boxes.front()) : nullptr;
            break;
        }
        case OwnerKind::Unowned:
            return nullptr;
        }
        if (!at)
            return nullptr;
    }
    return nullptr;
}

int32_t Layout::PageNumberOf(const Box& box) const
{
    const Box* top = TopLevelOf(box);
    if (!top)
        return kPasteboardPage;
    const auto pages = top->owner.kind == OwnerKind::Spread ? Pages(top->owner.index)
                                                            : MasterPages(top->owner.index);
    // The centre, in 64 bits so that extreme bounds cannot overflow.
    const int64_t cy = (int64_t{box.bounds.top} + box.bounds.bottom) / 2;
    const int64_t cx = (int64_t{box.bounds.left} + box.bounds.right) / 2;
    for (const auto& page : pages)
        if (cy >= page.bounds.top && cy < page.bounds.bottom && cx >= page.bounds.left &&
            cx < page.bounds.right)
            return page.number;
    return kPasteboardPage;
}

bool Layout::MasterUnused(int32_t p) const
{
    for (const auto& spread : spreads)
        for (int32_t master : spread.pages)
            if (master == p)
                return false;
    return true;
}

// ---- Project ------------------------------------------------------------------------------

const Font* Project::FindFont(int16_t id) const
{
    for (const auto& font : fonts)
        if (font.id == id)
            return &font;
    return nullptr;
}
const Colour* Project::FindColour(int32_t id) const
{
    for (const auto& colour : colours)
        if (colour.id == id)
            return &colour;
    return nullptr;
}
const StyleSheet* Project::FindStyleSheet(int32_t id) const
{
    for (const auto& sheet : styleSheets)
        if (sheet.id == id)
            return &sheet;
    return nullptr;
}

// ---- Invariants ---------------------------------------------------------------------------

namespace {

class Checker {
public:
    explicit Checker(Project& project) : p_(project) {}

    void Check()
    {
        CheckTables();
        Require(p_.layouts.empty() ? p_.currentLayout == 0
                                   : p_.currentLayout >= 0 &&
                                         static_cast<size_t>(p_.currentLayout) < p_.layouts.size(),
                [] { return std::string("current_layout"); }, "no such layout");
        for (size_t li = 0; li < p_.layouts.size(); ++li)
            CheckLayout(li, *p_.layouts[li]);
    }

private:
    void CheckTables()
    {
        std::set<int32_t> ids;
        for (size_t i = 0; i < p_.fonts.size(); ++i) {
            const auto& f = p_.fonts[i];
            auto at = [&](const char* field) { return Item("", "fonts", i).substr(1) + "." + field; };
            Require(f.id != 0, [&] { return at("id"); }, "font id 0");
            Require(ids.insert(f.id).second, [&] { return at("id"); }, "duplicate font id");
            Require(!f.name.empty() && ValidName(f.name), [&] { return at("name"); },
                    "not a name of 1 to 255 bytes of UTF-8");
            Require(ValidName(f.secondName), [&] { return at("second_name"); },
                    "not a name of at most 255 bytes of UTF-8");
            Require(ValidName(f.render), [&] { return at("render"); },
                    "not a name of at most 255 bytes of UTF-8");
            Require(f.advance >= 1 && f.advance <= 100000, [&] { return at("advance"); },
                    "out of range");
        }
        ids.clear();
        for (size_t i = 0; i < p_.colours.size(); ++i) {
            const auto& c = p_.colours[i];
            auto at = [&](const char* field) { return Item("", "colours", i).substr(1) + "." + field; };
            Require(c.id >= 1 && c.id <= 0xFFFF, [&] { return at("id"); }, "out of range");
            Require(ids.insert(c.id).second, [&] { return at("id"); }, "duplicate colour id");
            std::u16string name;
            Require(Utf8ToUtf16(c.name, &name) && name.size() <= 64, [&] { return at("name"); },
                    "longer than 64 characters");
            Require(c.model.size() == 4 && std::all_of(c.model.begin(), c.model.end(),
                                                       [](char ch) { return ch >= 0x20 && ch < 0x7F; }),
                    [&] { return at("model"); }, "not four characters");
            Require(c.rgb <= 0xFFFFFF, [&] { return at("rgb"); }, "out of range");
        }
        ids.clear();
        for (size_t i = 0; i < p_.styleSheets.size(); ++i) {
            const auto& s = p_.styleSheets[i];
            auto at = [&](const char* field) {
                return Item("", "style_sheets", i).substr(1) + "." + field;
            };
            Require(s.id >= 1, [&] { return at("id"); }, "out of range");
            Require(ids.insert(s.id).second, [&] { return at("id"); }, "duplicate style sheet id");
            Require(ValidName(s.name), [&] { return at("name"); }, "not a name of at most 255 bytes of UTF-8");
            Require(p_.charFormats.Find(s.charFormat) != nullptr, [&] { return at("char_format"); },
                    "no such character format");
            Require(p_.paraFormats.Find(s.paraFormat) != nullptr, [&] { return at("para_format"); },
                    "no such paragraph format");
        }
    }

    void CheckLayout(size_t li, Layout& l)
    {
        const std::string base = Item("", "layouts", li).substr(1);
        auto at = [&](const char* field) { return base + "." + field; };
        Require(ValidName(l.name), [&] { return at("name"); }, "not a name of at most 255 bytes of UTF-8");
        Require(l.type == "XDOC" || l.type == "XWEB", [&] { return at("type"); }, "unknown type");
        Require(l.pageWidth > 0 && l.pageHeight > 0, [&] { return at("page_size"); }, "not positive");
        Require(l.margins.top >= 0 && l.margins.left >= 0 && l.margins.bottom >= 0 &&
                    l.margins.right >= 0,
                [&] { return at("margins"); }, "negative");
        int32_t pageCount = 0;
        for (const auto& s : l.spreads)
            pageCount += static_cast<int32_t>(s.pages.size());
        for (size_t i = 0; i < l.sections.size(); ++i) {
            const auto& [page, number] = l.sections[i];
            Require(page >= 0 && page < pageCount && number >= 1 &&
                        (i == 0 || page > l.sections[i - 1].first),
                    [&] { return Item(base, "sections", i); }, "bad section start");
            // The section's last page is numbered from its start: that number must be one too.
            const int32_t last = i + 1 < l.sections.size() ? l.sections[i + 1].first - 1 : pageCount - 1;
            Require(int64_t(number) + (last - page) <= INT32_MAX, [&] { return Item(base, "sections", i); },
                    "page numbers of the section pass 2147483647");
        }
        Require(!l.layers.empty(), [&] { return at("layers"); }, "a layout needs a layer");
        std::set<int32_t> layerIds;
        for (size_t i = 0; i < l.layers.size(); ++i)
            Require(l.layers[i].id >= 1 && layerIds.insert(l.layers[i].id).second,
                    [&] { return Item(base, "layers", i) + ".id"; }, "missing or duplicate layer id");
        for (size_t i = 0; i < l.masters.size(); ++i) {
            Require(ValidName(l.masters[i].name),
                    [&] { return Item(base, "masters", i) + ".name"; },
                    "not a name of at most 255 bytes of UTF-8");
            Require(l.masters[i].pages == 1 || l.masters[i].pages == 2,
                    [&] { return Item(base, "masters", i) + ".pages"; }, "a master has 1 or 2 pages");
        }
        for (size_t i = 0; i < l.spreads.size(); ++i) {
            const auto& pages = l.spreads[i].pages;
            Require(!pages.empty(), [&] { return Item(base, "spreads", i) + ".pages"; },
                    "a spread needs a page");
            for (size_t k = 0; k < pages.size(); ++k)
                Require(pages[k] >= 0 && static_cast<size_t>(pages[k]) <= l.masters.size(),
                        [&] { return Item(Item(base, "spreads", i), "pages", k); },
                        "no such master page");
        }

        std::unordered_map<uint32_t, size_t> boxIndex;
        size_t bi = 0;
        for (auto& [uid, box] : l.boxes) {
            const std::string bpath = Item(base, "boxes", bi);
            boxIndex[uid] = bi++;
            CheckBox(bpath, l, box, layerIds);
        }

        // Ownership: every box exactly once in an item list, a group or an anchoring run.
        std::unordered_map<uint32_t, bool> owned;
        auto claim = [&](uint32_t uid, const std::function<std::string()>& path) {
            Require(l.boxes.count(uid) == 1, path, "no such box");
            Require(!owned[uid], path, "box has two owners");
            owned[uid] = true;
        };
        for (size_t m = 0; m < l.masters.size(); ++m)
            for (size_t k = 0; k < l.masters[m].items.size(); ++k)
                claim(l.masters[m].items[k],
                      [&] { return Item(Item(base, "masters", m), "items", k); });
        for (size_t s = 0; s < l.spreads.size(); ++s)
            for (size_t k = 0; k < l.spreads[s].items.size(); ++k)
                claim(l.spreads[s].items[k],
                      [&] { return Item(Item(base, "spreads", s), "items", k); });
        for (const auto& [uid, box] : l.boxes)
            for (size_t k = 0; k < box.members.size(); ++k)
                claim(box.members[k],
                      [&, id = uid] { return Item(Item(base, "boxes", boxIndex[id]), "members", k); });
        size_t si = 0;
        for (const auto& [uid, story] : l.stories) {
            for (size_t k = 0; k < story.objects.size(); ++k)
                if (story.objects[k].kind == 1)
                    claim(story.objects[k].box, [&] {
                        return Item(Item(base, "stories", si), "objects", k) + ".box";
                    });
            ++si;
        }
        for (const auto& [uid, box] : l.boxes)
            Require(owned[uid], [&, id = uid] { return Item(base, "boxes", boxIndex[id]); },
                    "box has no owner");

        // Chains: every text box in exactly one story, no other box in any.
        std::unordered_map<uint32_t, bool> chained;
        si = 0;
        for (auto& [uid, story] : l.stories) {
            const std::string spath = Item(base, "stories", si++);
            Require(!story.boxes.empty(), [&] { return spath + ".boxes"; }, "a story needs a box");
            for (size_t k = 0; k < story.boxes.size(); ++k) {
                auto path = [&] { return Item(spath, "boxes", k); };
                const Box* box = l.FindBox(story.boxes[k]);
                Require(box != nullptr, path, "no such box");
                Require(box->kind == BoxKind::Text, path, "not a text box");
                Require(!chained[box->uid], path, "box in two chains");
                chained[box->uid] = true;
            }
            CheckStory(spath, l, story);
        }
        for (const auto& [uid, box] : l.boxes)
            Require(box.kind != BoxKind::Text || chained[uid],
                    [&, id = uid] { return Item(base, "boxes", boxIndex[id]); }, "text box in no story");

        l.Index(false);

        // Every box must reach a spread or a master: no cycle of groups and anchors.
        for (const auto& [uid, box] : l.boxes)
            Require(l.TopLevelOf(box) != nullptr, [&, id = uid] { return Item(base, "boxes", boxIndex[id]); },
                    "box is not placed on a spread");
        for (const auto& [uid, box] : l.boxes) {
            if (box.owner.kind != OwnerKind::Story || box.kind != BoxKind::Text)
                continue;
            Require(box.story != box.owner.index,
                    [&, id = uid] { return Item(base, "boxes", boxIndex[id]); },
                    "an anchored text box needs its own story");
        }

        // Masters: copies name a box of their page's master; automatic text belongs to masters.
        for (const auto& [uid, box] : l.boxes) {
            const std::string bpath = Item(base, "boxes", boxIndex[uid]);
            if (box.autoText)
                Require(box.kind == BoxKind::Text && box.owner.kind == OwnerKind::Master,
                        [&] { return bpath + ".auto_text"; }, "only a master text box");
            if (box.autotext)
                Require(box.derivedFrom != 0 && l.FindBox(box.derivedFrom) &&
                            l.FindBox(box.derivedFrom)->autoText,
                        [&] { return bpath + ".autotext"; }, "not a copy of automatic text");
            if (box.derivedFrom == 0)
                continue;
            auto path = [&] { return bpath + ".derived_from"; };
            const Box* master = l.FindBox(box.derivedFrom);
            Require(master && master->owner.kind == OwnerKind::Master, path, "not a master item");
            Require(box.owner.kind == OwnerKind::Spread, path, "only a spread item derives");
            bool based = false;
            for (int32_t p : l.spreads[box.owner.index].pages)
                based |= p == static_cast<int32_t>(master->owner.index) + 1;
            Require(based, path, "the spread has no page on that master");
        }
    }

    void CheckBox(const std::string& bpath, const Layout& l, const Box& box,
                  const std::set<int32_t>& layerIds)
    {
        auto at = [&](const char* field) { return bpath + "." + field; };
        Require(box.uid >= 1 && box.uid < p_.nextUid, [&] { return at("uid"); },
                "uid 0 or not below next_uid");
        Require(uids_.insert(box.uid).second, [&] { return at("uid"); }, "duplicate uid");
        Require(box.shape >= 5 && box.shape <= 12, [&] { return at("shape"); }, "out of range");
        Require(box.bounds.top <= box.bounds.bottom && box.bounds.left <= box.bounds.right,
                [&] { return at("bounds"); }, "inverted bounds");
        // The text area is the bounds moved in by the inset on every side.
        const auto fits = [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
        Require(fits(int64_t(box.bounds.top) + box.inset) && fits(int64_t(box.bounds.left) + box.inset) &&
                    fits(int64_t(box.bounds.bottom) - box.inset) && fits(int64_t(box.bounds.right) - box.inset),
                [&] { return at("inset"); }, "the text area passes the 32-bit coordinate range");
        Require(layerIds.count(box.layer) == 1, [&] { return at("layer"); }, "no such layer");
        Require(box.kind == BoxKind::Group || box.members.empty(), [&] { return at("members"); },
                "only a group has members");
        Require(box.kind != BoxKind::Group || !box.members.empty(), [&] { return at("members"); },
                "a group needs members");
        size_t k = 0;
        for (const auto& [key, value] : box.privateData) {
            Require(!value.empty() && value.size() <= 65535,
                    [&] { return Item(bpath, "private", k); }, "1 to 65535 bytes");
            ++k;
        }
        (void)l;
    }

    void CheckStory(const std::string& spath, const Layout& l, const Story& story)
    {
        auto at = [&](const char* field) { return spath + "." + field; };
        Require(story.uid >= 1 && story.uid < p_.nextUid, [&] { return at("uid"); },
                "uid 0 or not below next_uid");
        Require(uids_.insert(story.uid).second, [&] { return at("uid"); }, "duplicate uid");
        const int64_t length = static_cast<int64_t>(story.text.size());
        Require(length <= INT32_MAX, [&] { return at("text"); }, "too long");

        int64_t sum = 0;
        for (size_t k = 0; k < story.charRuns.size(); ++k) {
            const Run& run = story.charRuns[k];
            auto path = [&] { return Item(spath, "char_runs", k); };
            Require(run.length > 0, path, "zero length");
            Require(p_.charFormats.Find(run.format) != nullptr, path, "no such character format");
            Require(k == 0 || story.charRuns[k - 1].format != run.format, path,
                    "equal neighbouring runs");
            sum += run.length;
        }
        Require(sum == length, [&] { return at("char_runs"); }, "runs do not add up to the text");
        const auto breaks = std::count(story.text.begin(), story.text.end(), u'\r');
        Require(story.paras.size() == static_cast<size_t>(breaks) + 1, [&] { return at("paras"); },
                "one format per paragraph");
        for (size_t k = 0; k < story.paras.size(); ++k)
            Require(p_.paraFormats.Find(story.paras[k]) != nullptr,
                    [&] { return Item(spath, "paras", k); }, "no such paragraph format");

        int64_t end = 0;
        for (size_t k = 0; k < story.objects.size(); ++k) {
            const ObjectRun& o = story.objects[k];
            auto path = [&] { return Item(spath, "objects", k); };
            Require(o.at >= end && o.len > 0 && int64_t{o.at} + o.len <= length, path,
                    "unsorted, overlapping or outside the text");
            end = int64_t{o.at} + o.len;
            Require(o.kind >= 1 && o.kind <= 0xFF, path, "kind out of range");
            const auto first = story.text.begin() + o.at, last = first + o.len;
            Require(std::find(first, last, u'\r') == last, path, "object over a paragraph end");
            Require(o.kind == 1 || o.box == 0, path, "only an anchored item names a box");
            if (o.kind == 1) {
                Require(o.len == 1 && *first == kObjectChar, path, "anchored item is one U+FFFC");
                Require(l.FindBox(o.box) != nullptr, path, "no such box");
            } else if (o.kind >= 5 && o.kind <= 7) {
                const char16_t mark = static_cast<char16_t>(o.kind - 4);
                Require(std::all_of(first, last, [mark](char16_t c) { return c == mark; }), path,
                        "page number over other characters");
            } else {
                Require(*first == static_cast<char16_t>(0xE000 | o.kind) &&
                            std::all_of(first + 1, last, [](char16_t c) { return c <= 0xFF; }),
                        path, "hidden run without its marker and data bytes");
            }
        }
    }

    Project& p_;
    std::set<uint32_t> uids_;
};

}  // namespace

void CheckProject(Project& project) { Checker(project).Check(); }

// ---- Text ---------------------------------------------------------------------------------

bool Utf8ToUtf16(const std::string& in, std::u16string* out)
{
    out->clear();
    out->reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        const auto c = static_cast<unsigned char>(in[i]);
        uint32_t cp;
        size_t n;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            n = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            n = 4;
        } else {
            return false;
        }
        if (i + n > in.size())
            return false;
        for (size_t k = 1; k < n; ++k) {
            const auto cc = static_cast<unsigned char>(in[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(cp));
        }
        i += n;
    }
    return true;
}

}  // namespace xthost::doc
