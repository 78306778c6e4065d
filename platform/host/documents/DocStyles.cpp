// The document calls on style sheets, fonts, colours and layers.
#include <algorithm>

#include "platform/host/documents/DocHostState.h"
#include "platform/host/documents/StoryEdit.h"

namespace xthost::doc {

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

}  // namespace xthost::doc
