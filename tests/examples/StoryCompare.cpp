#include "StoryCompare.h"

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "platform/host/Utf8.h"


namespace kesto_test {
namespace {

using nlohmann::json;

constexpr int kAnchoredItem = 1;
constexpr int kUniqueId = 0x88;
constexpr size_t kMostPerStory = 8;

std::string Shown(std::u16string_view text)
{
    std::ostringstream out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F)
            out << static_cast<char>(c);
        else
            out << "\\u" << std::hex << std::uppercase << static_cast<int>(c) << std::dec;
    }
    return out.str();
}

// A face as the Book carries it: the switches, an underline and a caps kind (two kinds at once go
// out as none), and of the position bits only whether they raise or lower the text. Two faces the
// Book writes alike cannot come back apart.
int64_t BookFace(int64_t face)
{
    constexpr int64_t kMapped = 0x1F7F;
    int64_t out = face & (0x001 | 0x002 | 0x008 | 0x010 | 0x200 | ~kMapped);
    for (const int64_t kinds : {0x004 | 0x1000, 0x400 | 0x800})
        if ((face & kinds) != kinds)
            out |= face & kinds;
    switch (face & 0x160) {
    case 0x020:
    case 0x100:
    case 0x120: out |= 0x020; break;
    case 0x040:
    case 0x140: out |= 0x040; break;
    default: break;
    }
    return out;
}

// The attributes a translation must not change, resolved through the document's tables, so
// that two documents that number their formats apart still compare.
struct CharLook {
    std::string font, colour;
    int64_t size = 0, face = 0, kern = 0, track = 0, shift = 0, tag = 0;
    // The identity comparison's every other field; it also compares the face bit for bit.
    std::string rest;

    bool operator==(const CharLook& o) const
    {
        return font == o.font && colour == o.colour && size == o.size && kern == o.kern && track == o.track &&
               shift == o.shift && rest == o.rest && (rest.empty() ? BookFace(face) == BookFace(o.face) : face == o.face);
    }
    std::string Text() const
    {
        std::ostringstream out;
        out << "{font \"" << font << "\" size " << size << " face " << face << " colour \"" << colour << "\" kern "
            << kern << " track " << track << " shift " << shift << " " << rest << "}";
        return out.str();
    }
};

struct ParaLook {
    int64_t style = -1, style2 = -1;
    std::string align, direction, rest;  // rest: the identity comparison's every other field

    bool operator==(const ParaLook& o) const
    {
        return style == o.style && style2 == o.style2 && align == o.align && direction == o.direction && rest == o.rest;
    }
    std::string Text() const
    {
        std::ostringstream out;
        out << "{style " << style << " style2 " << style2 << " align " << align << " direction " << direction << " " << rest << "}";
        return out.str();
    }
};

struct Object {
    int64_t at = 0, len = 0, kind = 0, box = 0, value = 0;
};

// One thing that stands in a story once the translation is taken off: a character of a text
// (its character and paragraph look), or a whole object run.
struct Unit {
    char16_t c = 0;
    std::optional<Object> object;
    std::u16string objectText;
    CharLook look;
};

struct Story {
    std::u16string text;
    std::vector<int64_t> boxes;
    std::vector<int64_t> formats;  // per character
    std::vector<int64_t> paras;
    std::vector<Object> objects;
};

struct Doc {
    int64_t currentLayout = 0;
    std::map<int64_t, CharLook> chars;
    std::map<int64_t, ParaLook> paras;
    std::set<int64_t> styleSheets;
    std::vector<std::map<int64_t, Story>> layouts;  // stories by uid
    std::vector<std::map<int64_t, std::string>> boxes;  // per layout, a box's geometry by uid
};

int64_t Int(const json& j, const char* key, int64_t fallback = 0)
{
    const auto at = j.find(key);
    return at == j.end() ? fallback : at->get<int64_t>();
}

std::string Str(const json& j, const char* key, const std::string& fallback)
{
    const auto at = j.find(key);
    return at == j.end() ? fallback : at->get<std::string>();
}

// For the identity comparison, every field of a table entry but those `shown` apart.
std::string Rest(json entry, bool identity, std::initializer_list<const char*> shown)
{
    for (const char* key : shown)
        entry.erase(key);
    return identity ? entry.dump() : "";
}

Doc Parse(const std::string& canon, bool identity)
{
    const json root = json::parse(canon);
    Doc doc;
    doc.currentLayout = Int(root, "current_layout");
    std::map<int64_t, std::string> fonts, colours;
    for (const json& f : root.value("fonts", json::array()))
        fonts[Int(f, "id")] = Str(f, "name", "");
    for (const json& c : root.value("colours", json::array()))
        colours[Int(c, "id")] = identity ? Rest(c, true, {"id"}) : Str(c, "name", "");
    for (const json& f : root.value("char_formats", json::array())) {
        CharLook look;
        const int64_t font = Int(f, "font");
        look.font = fonts.count(font) ? fonts[font] : "#" + std::to_string(font);
        const int64_t colour = Int(f, "colour");
        look.colour = colours.count(colour) ? colours[colour] : "#" + std::to_string(colour);
        look.size = Int(f, "size");
        look.face = Int(f, "face");
        look.kern = Int(f, "kern");
        look.track = Int(f, "track");
        look.shift = Int(f, "shift");
        look.tag = Int(f, "tag");
        look.rest = Rest(f, identity, {"id", "font", "colour", "size", "face", "kern", "track", "shift"});
        doc.chars[Int(f, "id")] = look;
    }
    for (const json& p : root.value("para_formats", json::array()))
        doc.paras[Int(p, "id")] = {Int(p, "style", -1), Int(p, "style2", -1), Str(p, "align", "left"),
                                   Str(p, "direction", "auto"), Rest(p, identity, {"id", "style", "style2", "align", "direction"})};
    for (const json& sheet : root.value("style_sheets", json::array()))
        doc.styleSheets.insert(Int(sheet, "id"));
    for (const json& layout : root.value("layouts", json::array())) {
        std::map<int64_t, Story> stories;
        // A box's place, size and shape; its private data is the links the import takes off.
        std::map<int64_t, std::string>& boxes = doc.boxes.emplace_back();
        for (const json& box : layout.value("boxes", json::array()))
            boxes[Int(box, "uid")] = Rest(box, true, {"uid", "private"});
        for (const json& s : layout.value("stories", json::array())) {
            Story story;
            if (s.contains("text")) {
                story.text = xthost::Utf8ToUtf16(s["text"].get<std::string>());
            } else if (s.contains("utf16")) {
                const std::string hex = s["utf16"].get<std::string>();
                for (size_t i = 0; i + 4 <= hex.size(); i += 4)
                    story.text += static_cast<char16_t>(std::stoul(hex.substr(i, 4), nullptr, 16));
            }
            for (const json& run : s.value("char_runs", json::array()))
                story.formats.insert(story.formats.end(), run[1].get<size_t>(), run[0].get<int64_t>());
            story.formats.resize(story.text.size(), 0);
            for (const json& p : s.value("paras", json::array()))
                story.paras.push_back(p.get<int64_t>());
            for (const json& b : s.value("boxes", json::array()))
                story.boxes.push_back(b.get<int64_t>());
            for (const json& o : s.value("objects", json::array()))
                story.objects.push_back({Int(o, "at"), Int(o, "len"), Int(o, "kind"), Int(o, "box"), Int(o, "value")});
            stories[Int(s, "uid")] = story;
        }
        doc.layouts.push_back(stories);
    }
    return doc;
}

bool IsHidden(const Story& story, const Object& o)
{
    return o.at < static_cast<int64_t>(story.text.size()) && (story.text[o.at] & 0xFF00) == 0xE000;
}

// The number of a unique-id marker, read as the export reads it: eight characters "%8d".
std::optional<int32_t> UniqueIdOf(const std::u16string& objectText)
{
    if (objectText.size() != 9)
        return std::nullopt;
    std::string field;
    for (size_t i = 1; i < objectText.size(); ++i) {
        if (objectText[i] > 0x7F)
            return std::nullopt;
        field += static_cast<char>(objectText[i]);
    }
    const size_t digits = field.find_first_not_of(' ');
    if (digits == std::string::npos)
        return std::nullopt;
    size_t at = digits + (field[digits] == '-' ? 1 : 0);
    if (at == field.size())
        return std::nullopt;
    for (size_t i = at; i < field.size(); ++i)
        if (field[i] < '0' || field[i] > '9')
            return std::nullopt;
    return static_cast<int32_t>(std::stol(field.substr(digits)));
}

// Hidden parens that have no partner: an opening kind (bits 0x60 = 0x40) pairs with the closing
// kind 0x20 below it, nested as brackets are.
std::set<size_t> UnpairedParens(const Story& story)
{
    std::set<size_t> unpaired;
    std::map<int64_t, std::vector<size_t>> open;
    for (size_t i = 0; i < story.objects.size(); ++i) {
        const Object& o = story.objects[i];
        if (!IsHidden(story, o))
            continue;
        const int64_t kind = o.kind & 0xFF;
        if ((kind & 0x60) == 0x40) {
            open[kind & 0x9F].push_back(i);
        } else if ((kind & 0x60) == 0x20) {
            auto& stack = open[kind & 0x9F];
            if (stack.empty())
                unpaired.insert(i);
            else
                stack.pop_back();
        }
    }
    for (const auto& [kind, stack] : open)
        unpaired.insert(stack.begin(), stack.end());
    return unpaired;
}

struct Units {
    std::vector<Unit> units;
    std::vector<int32_t> ids;          // the unique ids, in order
    std::vector<CharLook> idLooks;     // the format of each unique-id marker
    std::vector<ParaLook> paragraphs;  // per paragraph

    Units(const Doc& doc, const Story& story)
    {
        for (int64_t p : story.paras)
            paragraphs.push_back(doc.paras.count(p) ? doc.paras.at(p) : ParaLook{});
    }
    void AddChar(char16_t c, const CharLook& look)
    {
        Unit unit;
        unit.c = c;
        unit.look = look;
        units.push_back(unit);
    }
    void AddObject(const Object& o, const std::u16string& text, const CharLook& look)
    {
        Unit unit;
        unit.object = o;
        unit.objectText = text;
        unit.look = look;
        units.push_back(unit);
    }
    void AddId(int32_t id, const CharLook& look) { ids.push_back(id), idLooks.push_back(look); }
};

std::map<int64_t, size_t> ObjectsByPosition(const Story& story)
{
    std::map<int64_t, size_t> at;
    for (size_t i = 0; i < story.objects.size(); ++i)
        at[story.objects[i].at] = i;
    return at;
}

CharLook LookAt(const Doc& doc, const Story& story, size_t i)
{
    const auto look = doc.chars.find(story.formats[i]);
    return look == doc.chars.end() ? CharLook{} : look->second;
}

// The units of a source story, without what the export drops on purpose: the only differences
// the identity comparison allows. Every character keeps its whole format, also where the Book
// carries less than the host (two underlines or two caps kinds at once, position bits that make no
// position style, a shift finer than half a point): the run's formatting sample gives it back. A
// Mac document's font names go out through the Mac Roman table and the import finds the same font
// by that form.
Units SourceUnits(const Doc& doc, const Story& story)
{
    Units out(doc, story);
    // A second style id without a style sheet is not set back after the paragraph's style sheet.
    for (ParaLook& look : out.paragraphs)
        if (!doc.styleSheets.count(look.style2))
            look.style2 = -1;
    const std::set<size_t> unpaired = UnpairedParens(story);
    const std::map<int64_t, size_t> objectAt = ObjectsByPosition(story);
    for (size_t i = 0; i < story.text.size();) {
        const CharLook look = LookAt(doc, story, i);
        const auto object = objectAt.find(static_cast<int64_t>(i));
        if (object != objectAt.end()) {
            const Object& o = story.objects[object->second];
            const std::u16string text = story.text.substr(i, o.len);
            i += o.len;
            if (unpaired.count(object->second))
                continue;
            if (o.kind != kUniqueId)
                out.AddObject(o, text, look);
            else if (const auto id = UniqueIdOf(text))
                out.AddId(*id, look);
            continue;
        }
        const char16_t c = story.text[i++];
        if (c != 0x1C && look.tag == 0)
            out.AddChar(c, look);
    }
    return out;
}

// The length of the pseudo-translation of a text of n units: "[" + text + ceil(2n/5) "~" + "]".
size_t TranslatedSize(size_t n)
{
    return n + (2 * n + 4) / 5 + 2;
}

// The length of the text inside a pseudo-translation that starts with "[" at `at`, or nothing.
std::optional<size_t> TranslatedLength(const std::u16string& text, size_t at, size_t end)
{
    for (size_t close = at + 1; close < end; ++close) {
        if (text[close] != u']')
            continue;
        const size_t inner = close - at - 1;
        for (size_t n = inner * 5 / 7 > 2 ? inner * 5 / 7 - 2 : 0; n <= inner; ++n) {
            if (TranslatedSize(n) != inner + 2)
                continue;
            bool tildes = true;
            for (size_t k = at + 1 + n; k < close && tildes; ++k)
                tildes = text[k] == u'~';
            if (tildes)
                return n;
        }
    }
    return std::nullopt;
}

// The units of an imported story with each pseudo-translation's brackets and tildes taken off.
Units ImportedUnits(const Doc& doc, const Story& story, bool translated)
{
    Units out(doc, story);
    const std::map<int64_t, size_t> objectAt = ObjectsByPosition(story);
    for (size_t i = 0; i < story.text.size();) {
        const auto object = objectAt.find(static_cast<int64_t>(i));
        if (object != objectAt.end()) {
            const Object& o = story.objects[object->second];
            const std::u16string text = story.text.substr(i, o.len);
            i += o.len;
            if (o.kind != kUniqueId)
                out.AddObject(o, text, LookAt(doc, story, i - o.len));
            else
                out.AddId(UniqueIdOf(text).value_or(-1), LookAt(doc, story, i - o.len));
            continue;
        }
        // The next object bounds a translated run.
        const auto next = objectAt.upper_bound(static_cast<int64_t>(i));
        const size_t end = next == objectAt.end() ? story.text.size() : static_cast<size_t>(next->first);
        if (translated && story.text[i] == u'[') {
            if (const auto n = TranslatedLength(story.text, i, end)) {
                for (size_t k = i + 1; k < i + 1 + *n; ++k)
                    out.AddChar(story.text[k], LookAt(doc, story, k));
                i += TranslatedSize(*n);
                continue;
            }
        }
        out.AddChar(story.text[i], LookAt(doc, story, i));
        ++i;
    }
    return out;
}

std::u16string Around(const std::vector<Unit>& units, size_t at)
{
    std::u16string text;
    for (size_t i = at > 12 ? at - 12 : 0; i < units.size() && i < at + 12; ++i) {
        if (i == at)
            text += u"\u00bb";
        text += units[i].object ? u"<obj>" : std::u16string(1, units[i].c);
    }
    return text;
}

void CompareStory(const Units& want, const Units& got, const std::set<int32_t>& repeated, bool identity,
                  const std::string& where, std::vector<std::string>& out)
{
    size_t reported = 0;
    auto report = [&](const std::string& text) {
        if (reported++ < kMostPerStory)
            out.push_back(where + ": " + text);
    };
    const size_t common = std::min(want.units.size(), got.units.size());
    for (size_t i = 0; i < common; ++i) {
        const Unit& w = want.units[i];
        const Unit& g = got.units[i];
        if (w.object.has_value() != g.object.has_value() || (!w.object && w.c != g.c)) {
            report("text differs at " + std::to_string(i) + ": want \"" + Shown(Around(want.units, i)) + "\", got \"" +
                   Shown(Around(got.units, i)) + "\"");
            return;  // the rest no longer lines up
        }
        if (w.object) {
            const Object& a = *w.object;
            const Object& b = *g.object;
            if (a.kind != b.kind || w.objectText != g.objectText || a.value != b.value ||
                (a.kind == kAnchoredItem && a.box != b.box))
                report("marker " + std::to_string(i) + ": want kind " + std::to_string(a.kind) + " \"" +
                       Shown(w.objectText) + "\" value " + std::to_string(a.value) + " box " + std::to_string(a.box) +
                       ", got kind " + std::to_string(b.kind) + " \"" + Shown(g.objectText) + "\" value " +
                       std::to_string(b.value) + " box " + std::to_string(b.box));
            else if (identity && !(w.look == g.look))
                report("marker " + std::to_string(i) + " \"" + Shown(w.objectText) + "\": want " + w.look.Text() +
                       ", got " + g.look.Text());
            continue;
        }
        if (w.look == g.look || w.c == 0x0D)
            continue;
        // One line for a stretch of characters that differ alike.
        std::u16string stretch(1, w.c);
        size_t last = i;
        while (last + 1 < common && !want.units[last + 1].object && !got.units[last + 1].object &&
               want.units[last + 1].c == got.units[last + 1].c && want.units[last + 1].look == w.look &&
               got.units[last + 1].look == g.look)
            stretch += want.units[++last].c;
        report("characters " + std::to_string(i) + "-" + std::to_string(last) + " \"" + Shown(stretch) + "\": want " +
               w.look.Text() + ", got " + g.look.Text());
        i = last;
    }
    if (want.units.size() != got.units.size())
        report("length: want " + std::to_string(want.units.size()) + " units, got " + std::to_string(got.units.size()) +
               (want.units.size() > got.units.size() ? ", missing \"" + Shown(Around(want.units, common)) + "\""
                                                      : ", extra \"" + Shown(Around(got.units, common)) + "\""));
    if (want.paragraphs.size() != got.paragraphs.size()) {
        report("paragraphs: want " + std::to_string(want.paragraphs.size()) + ", got " +
               std::to_string(got.paragraphs.size()));
    } else {
        for (size_t p = 0; p < want.paragraphs.size(); ++p)
            if (!(want.paragraphs[p] == got.paragraphs[p]))
                report("paragraph " + std::to_string(p) + ": want " + want.paragraphs[p].Text() + ", got " +
                       got.paragraphs[p].Text());
    }
    // An id that stands more than once in the source goes out once only; it is counted over
    // the whole document.
    std::vector<int32_t> wantIds, gotIds;
    std::vector<const CharLook*> wantLooks, gotLooks;
    for (auto [units, ids, looks] : {std::tuple{&want, &wantIds, &wantLooks}, {&got, &gotIds, &gotLooks}})
        for (size_t k = 0; k < units->ids.size(); ++k)
            if (!repeated.count(units->ids[k]))
                ids->push_back(units->ids[k]), looks->push_back(&units->idLooks[k]);
    // The marker of a unique id stands in front of its paragraph's text, formatted as that text.
    for (size_t k = 0; identity && wantIds == gotIds && k < wantIds.size(); ++k)
        if (!(*wantLooks[k] == *gotLooks[k]))
            report("unique id " + std::to_string(wantIds[k]) + ": want " + wantLooks[k]->Text() + ", got " +
                   gotLooks[k]->Text());
    if (wantIds != gotIds) {
        std::ostringstream text;
        text << "unique ids: want";
        for (int32_t id : wantIds)
            text << " " << id;
        text << ", got";
        for (int32_t id : gotIds)
            text << " " << id;
        report(text.str());
    }
}

} // namespace

std::vector<std::string> StoryDifferences(const std::string& sourceCanon, const std::string& importedCanon, bool identity)
{
    std::vector<std::string> out;
    const Doc source = Parse(sourceCanon, identity);
    const Doc imported = Parse(importedCanon, identity);
    if (source.currentLayout != imported.currentLayout)
        out.push_back("current layout: want " + std::to_string(source.currentLayout) + ", got " +
                      std::to_string(imported.currentLayout));
    if (source.layouts.size() != imported.layouts.size()) {
        out.push_back("layouts: want " + std::to_string(source.layouts.size()) + ", got " +
                      std::to_string(imported.layouts.size()));
        return out;
    }
    std::vector<std::vector<std::pair<int64_t, Units>>> wanted(source.layouts.size()), gotten(source.layouts.size());
    std::map<int32_t, int> sourceIdCount, importedIdCount;
    for (size_t k = 0; k < source.layouts.size(); ++k) {
        for (const auto& [uid, story] : source.layouts[k]) {
            wanted[k].emplace_back(uid, SourceUnits(source, story));
            for (int32_t id : wanted[k].back().second.ids)
                ++sourceIdCount[id];
        }
        for (const auto& [uid, story] : imported.layouts[k]) {
            gotten[k].emplace_back(uid, ImportedUnits(imported, story, !identity));
            for (int32_t id : gotten[k].back().second.ids)
                ++importedIdCount[id];
        }
    }
    std::set<int32_t> repeated;
    for (const auto& [id, count] : sourceIdCount) {
        if (count > 1) {
            repeated.insert(id);
            if (importedIdCount[id] != 1)
                out.push_back("unique id " + std::to_string(id) + " stands " + std::to_string(count) +
                              " times in the source and comes back " + std::to_string(importedIdCount[id]) +
                              " times, not once");
        }
    }
    for (size_t k = 0; k < source.layouts.size(); ++k) {
        std::map<int64_t, const Units*> byUid;
        for (const auto& [uid, units] : gotten[k])
            byUid[uid] = &units;
        for (const auto& [uid, units] : wanted[k]) {
            const std::string where = "layout " + std::to_string(k) + " story " + std::to_string(uid);
            const auto at = byUid.find(uid);
            if (at == byUid.end()) {
                out.push_back(where + ": missing from the imported document");
                continue;
            }
            CompareStory(units, *at->second, repeated, identity, where, out);
            // The boxes the import wrote into keep their place, size and shape.
            for (int64_t box : identity ? source.layouts[k].at(uid).boxes : std::vector<int64_t>()) {
                const auto was = source.boxes[k].find(box), is = imported.boxes[k].find(box);
                const std::string want = was == source.boxes[k].end() ? "none" : was->second,
                                  got = is == imported.boxes[k].end() ? "none" : is->second;
                if (want != got)
                    out.push_back(where + " box " + std::to_string(box) + ": want " + want + ", got " + got);
            }
            byUid.erase(at);
        }
        for (const auto& [uid, units] : byUid)
            if (!units->units.empty())
                out.push_back("layout " + std::to_string(k) + " story " + std::to_string(uid) +
                              ": not in the source");
    }
    return out;
}

} // namespace kesto_test
