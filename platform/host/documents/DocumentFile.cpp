#include "platform/host/documents/DocumentFile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <climits>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "platform/fs/Folders.h"
#include "platform/fs/Sweep.h"
#include "platform/fs/TempFiles.h"

namespace xthost::doc {

namespace {

using json = nlohmann::json;
using ojson = nlohmann::ordered_json;

constexpr const char* kFormatName = "xthost-document";
constexpr int kVersion = 1;
constexpr size_t kMaxDepth = 32;   // the schema nests 7 deep
// Values a file may hold: far above a document of thousands of pages, and low enough that a
// file of tiny values cannot make the reader hold gigabytes.
constexpr size_t kMaxValues = 4u << 20;
constexpr size_t kMaxWidth = 120;  // columns of a line that holds a whole array

[[noreturn]] void Fail(const std::string& path, const std::string& what)
{
    throw DocumentError(path, what);
}

// ---- Parsing: duplicate keys, depth and the path of a syntax error ------------------------

// Follows the parser through the text, so that a fault can name where it happened.
class PathTracker {
public:
    bool operator()(int /*depth*/, json::parse_event_t event, json& parsed)
    {
        if (++values_ > kMaxValues)
            Fail(Path(), "more than " + std::to_string(kMaxValues) + " values");
        switch (event) {
        case json::parse_event_t::object_start:
        case json::parse_event_t::array_start:
            if (frames_.size() >= kMaxDepth)
                Fail(Path(), "nesting deeper than " + std::to_string(kMaxDepth) + " levels");
            frames_.push_back(Frame{event == json::parse_event_t::array_start, 0, {}, {}});
            break;
        case json::parse_event_t::key: {
            Frame& frame = frames_.back();
            frame.key = parsed.get<std::string>();
            if (!frame.keys.insert(frame.key).second)
                Fail(Path(), "duplicate key");
            break;
        }
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end:
            frames_.pop_back();
            Advance();
            break;
        case json::parse_event_t::value:
            Advance();
            break;
        }
        return true;
    }

    std::string Path() const
    {
        std::string path;
        for (const auto& frame : frames_) {
            if (frame.array)
                path += "[" + std::to_string(frame.index) + "]";
            else if (!frame.key.empty())
                path += (path.empty() ? "" : ".") + frame.key;
        }
        return path;
    }

private:
    struct Frame {
        bool array;
        size_t index;
        std::string key;
        std::set<std::string> keys;
    };
    void Advance()
    {
        if (!frames_.empty() && frames_.back().array)
            ++frames_.back().index;
    }
    std::vector<Frame> frames_;
    size_t values_ = 0;
};

// Builds the tree as the parser reads it and shows the tracker every event. (The library's
// parser with a callback looks through the whole enclosing array after every object it ends,
// which makes a long array of objects cost its length squared.)
class TrackingBuilder {
public:
    TrackingBuilder(json& root, PathTracker& tracker) : dom_(root, true), tracker_(tracker) {}

    bool null() { return Value() && dom_.null(); }
    bool boolean(bool value) { return Value() && dom_.boolean(value); }
    bool number_integer(json::number_integer_t value) { return Value() && dom_.number_integer(value); }
    bool number_unsigned(json::number_unsigned_t value) { return Value() && dom_.number_unsigned(value); }
    bool number_float(json::number_float_t value, const std::string& text)
    {
        return Value() && dom_.number_float(value, text);
    }
    bool string(std::string& value) { return Value() && dom_.string(value); }
    bool binary(json::binary_t& value) { return Value() && dom_.binary(value); }
    bool key(std::string& name)
    {
        json parsed = name;
        return tracker_(0, json::parse_event_t::key, parsed) && dom_.key(name);
    }
    bool start_object(std::size_t size)
    {
        return tracker_(0, json::parse_event_t::object_start, none_) && dom_.start_object(size);
    }
    bool end_object() { return tracker_(0, json::parse_event_t::object_end, none_) && dom_.end_object(); }
    bool start_array(std::size_t size)
    {
        return tracker_(0, json::parse_event_t::array_start, none_) && dom_.start_array(size);
    }
    bool end_array() { return tracker_(0, json::parse_event_t::array_end, none_) && dom_.end_array(); }
    template <class Exception>
    bool parse_error(std::size_t at, const std::string& token, const Exception& error)
    {
        return dom_.parse_error(at, token, error);
    }

private:
    bool Value() { return tracker_(0, json::parse_event_t::value, none_); }

    nlohmann::detail::json_sax_dom_parser<json> dom_;
    PathTracker& tracker_;
    json none_;
};

// ---- Reading the tree ---------------------------------------------------------------------

std::string At(const std::string& base, const char* key)
{
    return base.empty() ? key : base + "." + key;
}
std::string At(const std::string& base, size_t index)
{
    return base + "[" + std::to_string(index) + "]";
}

const json& Object(const json& j, const std::string& path, std::initializer_list<const char*> keys)
{
    if (!j.is_object())
        Fail(path, "not an object");
    for (const auto& item : j.items()) {
        if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return item.key() == k; }))
            Fail(At(path, item.key().c_str()), "unknown key");
    }
    return j;
}

const json* Member(const json& obj, const char* key)
{
    auto it = obj.find(key);
    return it == obj.end() ? nullptr : &*it;
}

const json& Required(const json& obj, const std::string& path, const char* key)
{
    const json* m = Member(obj, key);
    if (!m)
        Fail(At(path, key), "missing");
    return *m;
}

int64_t AsInt(const json& j, const std::string& path, int64_t min, int64_t max)
{
    if (!j.is_number_integer())
        Fail(path, "not an integer");
    int64_t value;
    if (j.is_number_unsigned()) {
        const auto u = j.get<uint64_t>();
        if (u > static_cast<uint64_t>(INT64_MAX))
            Fail(path, "out of range");
        value = static_cast<int64_t>(u);
    } else {
        value = j.get<int64_t>();
    }
    if (value < min || value > max)
        Fail(path, "out of range");
    return value;
}

int64_t Int(const json& obj, const std::string& path, const char* key, int64_t min, int64_t max)
{
    return AsInt(Required(obj, path, key), At(path, key), min, max);
}
int64_t IntOr(const json& obj, const std::string& path, const char* key, int64_t min, int64_t max,
              int64_t fallback)
{
    const json* m = Member(obj, key);
    return m ? AsInt(*m, At(path, key), min, max) : fallback;
}

bool BoolOr(const json& obj, const std::string& path, const char* key, bool fallback)
{
    const json* m = Member(obj, key);
    if (!m)
        return fallback;
    if (!m->is_boolean())
        Fail(At(path, key), "not a boolean");
    return m->get<bool>();
}

const std::string& AsString(const json& j, const std::string& path)
{
    if (!j.is_string())
        Fail(path, "not a string");
    return j.get_ref<const std::string&>();
}
std::string Str(const json& obj, const std::string& path, const char* key)
{
    return AsString(Required(obj, path, key), At(path, key));
}
std::string StrOr(const json& obj, const std::string& path, const char* key, const std::string& fallback)
{
    const json* m = Member(obj, key);
    return m ? AsString(*m, At(path, key)) : fallback;
}

template <size_t N>
size_t EnumOr(const json& obj, const std::string& path, const char* key, const char* const (&names)[N])
{
    const json* m = Member(obj, key);
    if (!m)
        return 0;
    const std::string& s = AsString(*m, At(path, key));
    for (size_t i = 0; i < N; ++i)
        if (s == names[i])
            return i;
    Fail(At(path, key), "unknown value");
}

const json& Array(const json& j, const std::string& path)
{
    if (!j.is_array())
        Fail(path, "not an array");
    return j;
}
const json& ArrayOr(const json& obj, const std::string& path, const char* key)
{
    static const json empty = json::array();
    const json* m = Member(obj, key);
    return m ? Array(*m, At(path, key)) : empty;
}
const json& RequiredArray(const json& obj, const std::string& path, const char* key)
{
    return Array(Required(obj, path, key), At(path, key));
}

std::vector<uint8_t> Hex(const json& j, const std::string& path, size_t minBytes, size_t maxBytes)
{
    const std::string& s = AsString(j, path);
    if (s.size() % 2 != 0 || s.size() / 2 < minBytes || s.size() / 2 > maxBytes)
        Fail(path, "wrong length of hex bytes");
    std::vector<uint8_t> bytes(s.size() / 2);
    auto nibble = [&](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        Fail(path, "not lowercase hex");
    };
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(nibble(s[2 * i]) << 4 | nibble(s[2 * i + 1]));
    return bytes;
}

uint32_t BigEndian(const std::vector<uint8_t>& bytes)
{
    uint32_t v = 0;
    for (uint8_t b : bytes)
        v = v << 8 | b;
    return v;
}

// A fixed-size array of integers, such as bounds.
template <size_t N>
std::array<int32_t, N> Ints(const json& j, const std::string& path, int64_t min, int64_t max)
{
    Array(j, path);
    if (j.size() != N)
        Fail(path, "needs " + std::to_string(N) + " integers");
    std::array<int32_t, N> out{};
    for (size_t i = 0; i < N; ++i)
        out[i] = static_cast<int32_t>(AsInt(j[i], At(path, i), min, max));
    return out;
}

std::vector<uint32_t> Uids(const json& j, const std::string& path)
{
    std::vector<uint32_t> uids;
    uids.reserve(j.size());
    for (size_t i = 0; i < j.size(); ++i)
        uids.push_back(static_cast<uint32_t>(AsInt(j[i], At(path, i), 1, INT32_MAX)));
    return uids;
}

Rect ToRect(const std::array<int32_t, 4>& a) { return Rect{a[0], a[1], a[2], a[3]}; }

constexpr const char* kKinds[] = {"text", "picture", "line", "group", "none"};
constexpr const char* kImages[] = {"none", "mono", "gray", "colour"};
constexpr const char* kAligns[] = {"left", "center", "right", "justify"};
constexpr const char* kDirections[] = {"auto", "ltr", "rtl"};
constexpr const char* kPlatforms[] = {"win", "mac"};

class Reader {
public:
    std::unique_ptr<Project> Read(const json& root)
    {
        project_ = std::make_unique<Project>();
        Project& p = *project_;
        Object(root, "", {"format", "version", "platform", "next_uid", "current_layout", "fonts",
                          "colours", "char_formats", "para_formats", "style_sheets", "layouts"});
        if (Str(root, "", "format") != kFormatName)
            Fail("format", "not a host document");
        Int(root, "", "version", kVersion, kVersion);
        if (!Member(root, "platform"))
            Fail("platform", "missing");
        p.mac = EnumOr(root, "", "platform", kPlatforms) == 1;
        p.nextUid = static_cast<uint32_t>(Int(root, "", "next_uid", 1, INT32_MAX));
        p.currentLayout = static_cast<int32_t>(IntOr(root, "", "current_layout", 0, INT16_MAX, 0));

        const json& fonts = RequiredArray(root, "", "fonts");
        for (size_t i = 0; i < fonts.size(); ++i)
            p.fonts.push_back(ReadFont(fonts[i], At("fonts", i)));
        const json& colours = RequiredArray(root, "", "colours");
        for (size_t i = 0; i < colours.size(); ++i)
            p.colours.push_back(ReadColour(colours[i], At("colours", i)));
        const json& chars = RequiredArray(root, "", "char_formats");
        for (size_t i = 0; i < chars.size(); ++i)
            ReadCharFormat(chars[i], At("char_formats", i));
        const json& paras = RequiredArray(root, "", "para_formats");
        for (size_t i = 0; i < paras.size(); ++i)
            ReadParaFormat(paras[i], At("para_formats", i));
        const json& sheets = RequiredArray(root, "", "style_sheets");
        for (size_t i = 0; i < sheets.size(); ++i)
            p.styleSheets.push_back(ReadStyleSheet(sheets[i], At("style_sheets", i)));
        const json& layouts = RequiredArray(root, "", "layouts");
        for (size_t i = 0; i < layouts.size(); ++i)
            p.layouts.push_back(ReadLayout(layouts[i], At("layouts", i)));
        CheckProject(p);
        return std::move(project_);
    }

private:
    Font ReadFont(const json& j, const std::string& path)
    {
        Object(j, path, {"id", "name", "second_name", "script", "extra", "render", "advance"});
        Font f;
        f.id = static_cast<int16_t>(Int(j, path, "id", INT16_MIN, INT16_MAX));
        f.name = Str(j, path, "name");
        f.secondName = StrOr(j, path, "second_name", "");
        f.script = static_cast<uint8_t>(IntOr(j, path, "script", 0, 255, 0));
        f.extra = static_cast<uint8_t>(IntOr(j, path, "extra", 0, 255, 0));
        f.render = StrOr(j, path, "render", f.render);
        f.advance = static_cast<int32_t>(IntOr(j, path, "advance", 1, 100000, 1000));
        return f;
    }

    Colour ReadColour(const json& j, const std::string& path)
    {
        Object(j, path, {"id", "name", "model", "rgb"});
        Colour c;
        c.id = static_cast<int32_t>(Int(j, path, "id", 1, 0xFFFF));
        c.name = Str(j, path, "name");
        c.model = StrOr(j, path, "model", c.model);
        c.rgb = BigEndian(Hex(Required(j, path, "rgb"), At(path, "rgb"), 3, 3));
        return c;
    }

    // File ids map to the interned ids of the tables.
    int32_t MapId(const std::unordered_map<int64_t, int32_t>& ids, const json& j, const std::string& path)
    {
        auto it = ids.find(AsInt(j, path, 1, INT32_MAX));
        if (it == ids.end())
            Fail(path, "no such format");
        return it->second;
    }

    void ReadCharFormat(const json& j, const std::string& path)
    {
        Object(j, path, {"id", "font", "high", "face", "size", "kern", "track", "colour", "shift",
                         "script_lang", "tag", "extra"});
        CharFormat f;
        const int64_t id = Int(j, path, "id", 1, INT32_MAX);
        f.font = static_cast<int16_t>(Int(j, path, "font", INT16_MIN, INT16_MAX));
        f.high = static_cast<uint8_t>(IntOr(j, path, "high", 0, 255, 0));
        f.face = static_cast<uint16_t>(IntOr(j, path, "face", 0, 0xFFFF, 0));
        f.size = static_cast<int32_t>(Int(j, path, "size", INT32_MIN, INT32_MAX));
        f.kern = static_cast<int32_t>(IntOr(j, path, "kern", INT32_MIN, INT32_MAX, 0));
        f.track = static_cast<int32_t>(IntOr(j, path, "track", INT32_MIN, INT32_MAX, 0));
        f.colour = static_cast<int32_t>(Int(j, path, "colour", 0, 0xFFFF));
        f.shift = static_cast<int32_t>(IntOr(j, path, "shift", INT32_MIN, INT32_MAX, 0));
        f.scriptLang = static_cast<uint32_t>(IntOr(j, path, "script_lang", 0, UINT32_MAX, 0));
        f.tag = static_cast<uint32_t>(IntOr(j, path, "tag", 0, UINT32_MAX, 0));
        f.extra = static_cast<uint16_t>(IntOr(j, path, "extra", 0, 0xFFFF, 0));
        if (!charIds_.emplace(id, project_->charFormats.Intern(f)).second)
            Fail(At(path, "id"), "duplicate format id");
    }

    void ReadParaFormat(const json& j, const std::string& path)
    {
        Object(j, path, {"id", "style", "style2", "left_indent", "first_indent", "right_indent",
                         "leading", "space_before", "space_after", "align", "direction", "other"});
        ParaFormat f;
        const int64_t id = Int(j, path, "id", 1, INT32_MAX);
        f.style = static_cast<int32_t>(IntOr(j, path, "style", -1, INT32_MAX, -1));
        f.style2 = static_cast<int32_t>(IntOr(j, path, "style2", -1, INT32_MAX, -1));
        f.leftIndent = static_cast<int32_t>(IntOr(j, path, "left_indent", INT32_MIN, INT32_MAX, 0));
        f.firstIndent = static_cast<int32_t>(IntOr(j, path, "first_indent", INT32_MIN, INT32_MAX, 0));
        f.rightIndent = static_cast<int32_t>(IntOr(j, path, "right_indent", INT32_MIN, INT32_MAX, 0));
        f.leading = static_cast<int32_t>(IntOr(j, path, "leading", 0, INT32_MAX, 0));
        f.spaceBefore = static_cast<int32_t>(IntOr(j, path, "space_before", INT32_MIN, INT32_MAX, 0));
        f.spaceAfter = static_cast<int32_t>(IntOr(j, path, "space_after", INT32_MIN, INT32_MAX, 0));
        f.align = static_cast<Align>(EnumOr(j, path, "align", kAligns));
        f.direction = static_cast<Direction>(EnumOr(j, path, "direction", kDirections));
        const std::string opath = At(path, "other");
        const json& other = ArrayOr(j, path, "other");
        for (size_t i = 0; i < other.size(); ++i) {
            const auto pair = Ints<2>(other[i], At(opath, i), INT32_MIN, INT32_MAX);
            if (i > 0 && pair[0] <= f.other.back().first)
                Fail(At(opath, i), "codes not ascending");
            f.other.emplace_back(pair[0], pair[1]);
        }
        if (!paraIds_.emplace(id, project_->paraFormats.Intern(f)).second)
            Fail(At(path, "id"), "duplicate format id");
    }

    StyleSheet ReadStyleSheet(const json& j, const std::string& path)
    {
        Object(j, path, {"id", "name", "char_format", "para_format"});
        StyleSheet s;
        s.id = static_cast<int32_t>(Int(j, path, "id", 1, INT32_MAX));
        s.name = Str(j, path, "name");
        s.charFormat = MapId(charIds_, Required(j, path, "char_format"), At(path, "char_format"));
        s.paraFormat = MapId(paraIds_, Required(j, path, "para_format"), At(path, "para_format"));
        return s;
    }

    std::unique_ptr<Layout> ReadLayout(const json& j, const std::string& path)
    {
        Object(j, path, {"name", "type", "page_size", "margins", "sections", "layers", "masters",
                         "spreads", "boxes", "stories"});
        auto l = std::make_unique<Layout>();
        l->name = Str(j, path, "name");
        l->type = Str(j, path, "type");
        const auto size = Ints<2>(Required(j, path, "page_size"), At(path, "page_size"), 1, INT32_MAX);
        l->pageWidth = size[0];
        l->pageHeight = size[1];
        l->margins = ToRect(Ints<4>(Required(j, path, "margins"), At(path, "margins"), 0, INT32_MAX));
        const json& sections = ArrayOr(j, path, "sections");
        for (size_t i = 0; i < sections.size(); ++i) {
            const auto s = Ints<2>(sections[i], At(At(path, "sections"), i), 0, INT32_MAX);
            l->sections.emplace_back(s[0], s[1]);
        }
        const json& layers = RequiredArray(j, path, "layers");
        for (size_t i = 0; i < layers.size(); ++i) {
            const std::string lpath = At(At(path, "layers"), i);
            Object(layers[i], lpath, {"id", "name", "visible"});
            Layer layer;
            layer.id = static_cast<int32_t>(Int(layers[i], lpath, "id", 1, INT32_MAX));
            if (!Utf8ToUtf16(Str(layers[i], lpath, "name"), &layer.name))
                Fail(At(lpath, "name"), "not UTF-8");
            layer.visible = BoolOr(layers[i], lpath, "visible", true);
            l->layers.push_back(std::move(layer));
        }
        const json& masters = RequiredArray(j, path, "masters");
        for (size_t i = 0; i < masters.size(); ++i) {
            const std::string mpath = At(At(path, "masters"), i);
            Object(masters[i], mpath, {"name", "pages", "items"});
            MasterSpread m;
            m.name = Str(masters[i], mpath, "name");
            m.pages = static_cast<int32_t>(IntOr(masters[i], mpath, "pages", 1, 2, 1));
            m.items = Uids(RequiredArray(masters[i], mpath, "items"), At(mpath, "items"));
            l->masters.push_back(std::move(m));
        }
        const json& spreads = RequiredArray(j, path, "spreads");
        for (size_t i = 0; i < spreads.size(); ++i) {
            const std::string spath = At(At(path, "spreads"), i);
            Object(spreads[i], spath, {"pages", "items"});
            LayoutSpread s;
            const json& pages = RequiredArray(spreads[i], spath, "pages");
            for (size_t k = 0; k < pages.size(); ++k)
                s.pages.push_back(
                    static_cast<int32_t>(AsInt(pages[k], At(At(spath, "pages"), k), 0, INT16_MAX)));
            s.items = Uids(RequiredArray(spreads[i], spath, "items"), At(spath, "items"));
            l->spreads.push_back(std::move(s));
        }
        const int32_t firstLayer = l->layers.empty() ? 0 : l->layers.front().id;
        const json& boxes = RequiredArray(j, path, "boxes");
        uint32_t last = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            Box box = ReadBox(boxes[i], At(At(path, "boxes"), i), firstLayer);
            if (box.uid <= last)
                Fail(At(At(At(path, "boxes"), i), "uid"), "boxes not sorted by uid");
            last = box.uid;
            l->boxes.emplace(box.uid, std::move(box));
        }
        const json& stories = RequiredArray(j, path, "stories");
        last = 0;
        for (size_t i = 0; i < stories.size(); ++i) {
            Story story = ReadStory(stories[i], At(At(path, "stories"), i));
            if (story.uid <= last)
                Fail(At(At(At(path, "stories"), i), "uid"), "stories not sorted by uid");
            last = story.uid;
            l->stories.emplace(story.uid, std::move(story));
        }
        return l;
    }

    Box ReadBox(const json& j, const std::string& path, int32_t firstLayer)
    {
        Object(j, path, {"uid", "kind", "shape", "bounds", "angle", "inset", "runaround", "layer",
                         "fill", "frame", "saved_word", "no_reflow", "auto_text", "derived_from",
                         "autotext", "outline", "members", "image", "word6", "private"});
        Box b;
        b.uid = static_cast<uint32_t>(Int(j, path, "uid", 1, INT32_MAX));
        if (!Member(j, "kind"))
            Fail(At(path, "kind"), "missing");
        b.kind = static_cast<BoxKind>(EnumOr(j, path, "kind", kKinds));
        b.shape = static_cast<uint8_t>(IntOr(j, path, "shape", 0, 255, 5));
        b.bounds = ToRect(Ints<4>(Required(j, path, "bounds"), At(path, "bounds"), INT32_MIN, INT32_MAX));
        b.angle = static_cast<int32_t>(IntOr(j, path, "angle", INT32_MIN, INT32_MAX, 0));
        b.inset = static_cast<int32_t>(IntOr(j, path, "inset", INT32_MIN, INT32_MAX, 65536));
        b.runaround = static_cast<int32_t>(IntOr(j, path, "runaround", INT32_MIN, INT32_MAX, 65536));
        b.layer = static_cast<int32_t>(IntOr(j, path, "layer", 1, INT32_MAX, firstLayer));
        b.fill = static_cast<int32_t>(IntOr(j, path, "fill", INT32_MIN, INT32_MAX, 0));
        b.frame = static_cast<int32_t>(IntOr(j, path, "frame", INT32_MIN, INT32_MAX, 0));
        b.savedWord = static_cast<uint32_t>(IntOr(j, path, "saved_word", 0, UINT32_MAX, 0));
        b.noReflow = BoolOr(j, path, "no_reflow", false);
        b.autoText = BoolOr(j, path, "auto_text", false);
        b.derivedFrom = static_cast<uint32_t>(IntOr(j, path, "derived_from", 0, INT32_MAX, 0));
        b.autotext = BoolOr(j, path, "autotext", false);
        const json& outline = ArrayOr(j, path, "outline");
        for (size_t i = 0; i < outline.size(); ++i) {
            const auto pt = Ints<2>(outline[i], At(At(path, "outline"), i), INT32_MIN, INT32_MAX);
            b.outline.push_back(Point{pt[0], pt[1]});
        }
        b.members = Uids(ArrayOr(j, path, "members"), At(path, "members"));
        b.image = static_cast<ImageMode>(EnumOr(j, path, "image", kImages));
        b.word6 = static_cast<int32_t>(IntOr(j, path, "word6", INT32_MIN, INT32_MAX, 6));
        const std::string ppath = At(path, "private");
        const json& priv = ArrayOr(j, path, "private");
        for (size_t i = 0; i < priv.size(); ++i) {
            const std::string epath = At(ppath, i);
            if (!priv[i].is_array() || priv[i].size() != 2)
                Fail(epath, "needs [key, bytes]");
            const uint32_t key = BigEndian(Hex(priv[i][0], At(epath, size_t{0}), 4, 4));
            if (!b.privateData.empty() && key <= b.privateData.rbegin()->first)
                Fail(epath, "keys not ascending");
            b.privateData.emplace(key, Hex(priv[i][1], At(epath, size_t{1}), 1, 65535));
        }
        return b;
    }

    Story ReadStory(const json& j, const std::string& path)
    {
        Object(j, path, {"uid", "boxes", "text", "utf16", "char_runs", "paras", "objects", "locked",
                         "flag0"});
        Story s;
        s.uid = static_cast<uint32_t>(Int(j, path, "uid", 1, INT32_MAX));
        s.boxes = Uids(RequiredArray(j, path, "boxes"), At(path, "boxes"));
        if (const json* units = Member(j, "utf16")) {
            if (Member(j, "text"))
                Fail(At(path, "utf16"), "both text and utf16");
            const std::string& hex = AsString(*units, At(path, "utf16"));
            if (hex.size() % 4 != 0)
                Fail(At(path, "utf16"), "not whole code units");
            const auto bytes = Hex(*units, At(path, "utf16"), 0, hex.size() / 2);
            for (size_t i = 0; i < bytes.size(); i += 2)
                s.text.push_back(static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1]));
        } else {
            std::u16string text;
            if (!Utf8ToUtf16(StrOr(j, path, "text", ""), &text))
                Fail(At(path, "text"), "not UTF-8");
            s.text = text;
        }
        const json& runs = ArrayOr(j, path, "char_runs");
        for (size_t i = 0; i < runs.size(); ++i) {
            const std::string rpath = At(At(path, "char_runs"), i);
            const auto pair = Ints<2>(runs[i], rpath, 1, INT32_MAX);
            s.charRuns.push_back(Run{MapId(charIds_, runs[i][0], At(rpath, size_t{0})), pair[1]});
        }
        const json& paras = RequiredArray(j, path, "paras");
        for (size_t i = 0; i < paras.size(); ++i)
            s.paras.push_back(MapId(paraIds_, paras[i], At(At(path, "paras"), i)));
        const json& objects = ArrayOr(j, path, "objects");
        for (size_t i = 0; i < objects.size(); ++i) {
            const std::string opath = At(At(path, "objects"), i);
            Object(objects[i], opath, {"at", "len", "kind", "box", "value"});
            ObjectRun o;
            o.at = static_cast<int32_t>(Int(objects[i], opath, "at", 0, INT32_MAX));
            o.len = static_cast<int32_t>(Int(objects[i], opath, "len", 1, INT32_MAX));
            o.kind = static_cast<uint32_t>(Int(objects[i], opath, "kind", 1, 0xFF));
            o.box = static_cast<uint32_t>(IntOr(objects[i], opath, "box", 1, INT32_MAX, 0));
            o.value = static_cast<uint32_t>(IntOr(objects[i], opath, "value", 0, UINT32_MAX, 0));
            s.objects.push_back(o);
        }
        s.locked = BoolOr(j, path, "locked", false);
        s.flag0 = BoolOr(j, path, "flag0", false);
        return s;
    }

    std::unique_ptr<Project> project_;
    std::unordered_map<int64_t, int32_t> charIds_, paraIds_;
};

// ---- Writing ------------------------------------------------------------------------------

std::string HexBytes(const uint8_t* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}
std::string HexBytes(const std::vector<uint8_t>& bytes) { return HexBytes(bytes.data(), bytes.size()); }
std::string HexWord(uint32_t value, size_t bytes)
{
    uint8_t b[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
    return HexBytes(b + 4 - bytes, bytes);
}

void Escape(const std::string& s, std::string& out)
{
    static const char digits[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        // Decode one UTF-8 sequence (the model keeps valid UTF-8).
        size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        n = std::min(n, s.size() - i);
        uint32_t cp = n == 1 ? c : c & (0x3F >> (n - 1));
        for (size_t k = 1; k < n; ++k)
            cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        switch (cp) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (cp < 0x20 || (cp >= 0x80 && cp < 0xA0) || (cp >= 0xE000 && cp <= 0xF8FF) ||
                (cp >= 0xFFF0 && cp <= 0xFFFF) || cp == 0x2028 || cp == 0x2029) {
                out += "\\u";
                for (int shift = 12; shift >= 0; shift -= 4)
                    out += digits[(cp >> shift) & 15];
            } else {
                out.append(s, i, n);
            }
        }
        i += n;
    }
    out += '"';
}

bool HasLoneSurrogate(const std::u16string& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            ++i;
        else if (c >= 0xD800 && c <= 0xDFFF)
            return true;
    }
    return false;
}

bool HasObjectInside(const ojson& j)
{
    if (!j.is_structured())
        return false;
    for (const auto& v : j)
        if (v.is_object() || HasObjectInside(v))
            return true;
    return false;
}

void Compact(const ojson& j, std::string& out)
{
    if (j.is_object()) {
        out += '{';
        bool first = true;
        for (const auto& item : j.items()) {
            out += first ? "" : ", ";
            first = false;
            Escape(item.key(), out);
            out += ": ";
            Compact(item.value(), out);
        }
        out += '}';
    } else if (j.is_array()) {
        out += '[';
        for (size_t i = 0; i < j.size(); ++i) {
            out += i ? ", " : "";
            Compact(j[i], out);
        }
        out += ']';
    } else if (j.is_string()) {
        Escape(j.get_ref<const std::string&>(), out);
    } else {
        out += j.dump();
    }
}

// One member per line for anything holding an object, except arrays of flat values that fit.
void Pretty(const ojson& j, std::string& out, size_t indent, size_t lead, bool comma)
{
    if (!HasObjectInside(j)) {
        Compact(j, out);
        return;
    }
    if (j.is_array() && std::none_of(j.begin(), j.end(), [](const ojson& v) { return HasObjectInside(v); })) {
        std::string line;
        Compact(j, line);
        if (indent + lead + line.size() + (comma ? 1 : 0) <= kMaxWidth) {
            out += line;
            return;
        }
    }
    const std::string pad(indent + 2, ' ');
    out += j.is_object() ? "{\n" : "[\n";
    size_t i = 0;
    for (auto it = j.begin(); it != j.end(); ++it, ++i) {
        const bool more = i + 1 < j.size();
        out += pad;
        size_t keyLead = 0;
        if (j.is_object()) {
            const size_t before = out.size();
            Escape(it.key(), out);
            out += ": ";
            keyLead = out.size() - before;
        }
        Pretty(*it, out, indent + 2, keyLead, more);
        out += more ? ",\n" : "\n";
    }
    out += std::string(indent, ' ');
    out += j.is_object() ? '}' : ']';
}

class Writer {
public:
    explicit Writer(const Project& p) : p_(p) { Renumber(); }

    ojson Root()
    {
        ojson root = ojson::object();
        root["format"] = kFormatName;
        root["version"] = kVersion;
        root["platform"] = kPlatforms[p_.mac ? 1 : 0];
        root["next_uid"] = p_.nextUid;
        if (p_.currentLayout != 0)
            root["current_layout"] = p_.currentLayout;
        root["fonts"] = ojson::array();
        for (const Font& f : p_.fonts) {
            ojson o = ojson::object();
            o["id"] = f.id;
            o["name"] = f.name;
            if (!f.secondName.empty())
                o["second_name"] = f.secondName;
            if (f.script)
                o["script"] = f.script;
            if (f.extra)
                o["extra"] = f.extra;
            if (f.render != Font{}.render)
                o["render"] = f.render;
            if (f.advance != 1000)
                o["advance"] = f.advance;
            root["fonts"].push_back(std::move(o));
        }
        root["colours"] = ojson::array();
        for (const Colour& c : p_.colours) {
            ojson o = ojson::object();
            o["id"] = c.id;
            o["name"] = c.name;
            if (c.model != Colour{}.model)
                o["model"] = c.model;
            o["rgb"] = HexWord(c.rgb, 3);
            root["colours"].push_back(std::move(o));
        }
        root["char_formats"] = ojson::array();
        for (size_t i = 0; i < charOrder_.size(); ++i)
            root["char_formats"].push_back(CharFormatJson(static_cast<int32_t>(i + 1),
                                                          *p_.charFormats.Find(charOrder_[i])));
        root["para_formats"] = ojson::array();
        for (size_t i = 0; i < paraOrder_.size(); ++i)
            root["para_formats"].push_back(ParaFormatJson(static_cast<int32_t>(i + 1),
                                                          *p_.paraFormats.Find(paraOrder_[i])));
        root["style_sheets"] = ojson::array();
        for (const StyleSheet& s : p_.styleSheets) {
            ojson o = ojson::object();
            o["id"] = s.id;
            o["name"] = s.name;
            o["char_format"] = charIds_.at(s.charFormat);
            o["para_format"] = paraIds_.at(s.paraFormat);
            root["style_sheets"].push_back(std::move(o));
        }
        root["layouts"] = ojson::array();
        for (const auto& l : p_.layouts)
            root["layouts"].push_back(LayoutJson(*l));
        return root;
    }

private:
    // Formats are numbered by first use: style sheets, then each layout's stories by uid.
    // Equal formats already share an id in memory, and unused ones are dropped.
    void Renumber()
    {
        auto useChar = [this](int32_t id) {
            if (charIds_.emplace(id, static_cast<int32_t>(charOrder_.size() + 1)).second)
                charOrder_.push_back(id);
        };
        auto usePara = [this](int32_t id) {
            if (paraIds_.emplace(id, static_cast<int32_t>(paraOrder_.size() + 1)).second)
                paraOrder_.push_back(id);
        };
        for (const StyleSheet& s : p_.styleSheets) {
            useChar(s.charFormat);
            usePara(s.paraFormat);
        }
        for (const auto& l : p_.layouts)
            for (const auto& [uid, story] : l->stories) {
                for (const Run& r : story.charRuns)
                    useChar(r.format);
                for (int32_t f : story.paras)
                    usePara(f);
            }
    }

    static ojson CharFormatJson(int32_t id, const CharFormat& f)
    {
        ojson o = ojson::object();
        o["id"] = id;
        o["font"] = f.font;
        if (f.high)
            o["high"] = f.high;
        if (f.face)
            o["face"] = f.face;
        o["size"] = f.size;
        if (f.kern)
            o["kern"] = f.kern;
        if (f.track)
            o["track"] = f.track;
        o["colour"] = f.colour;
        if (f.shift)
            o["shift"] = f.shift;
        if (f.scriptLang)
            o["script_lang"] = f.scriptLang;
        if (f.tag)
            o["tag"] = f.tag;
        if (f.extra)
            o["extra"] = f.extra;
        return o;
    }

    static ojson ParaFormatJson(int32_t id, const ParaFormat& f)
    {
        ojson o = ojson::object();
        o["id"] = id;
        auto put = [&o](const char* key, int32_t value, int32_t fallback) {
            if (value != fallback)
                o[key] = value;
        };
        put("style", f.style, -1);
        put("style2", f.style2, -1);
        put("left_indent", f.leftIndent, 0);
        put("first_indent", f.firstIndent, 0);
        put("right_indent", f.rightIndent, 0);
        put("leading", f.leading, 0);
        put("space_before", f.spaceBefore, 0);
        put("space_after", f.spaceAfter, 0);
        if (f.align != Align::Left)
            o["align"] = kAligns[static_cast<size_t>(f.align)];
        if (f.direction != Direction::Auto)
            o["direction"] = kDirections[static_cast<size_t>(f.direction)];
        if (!f.other.empty()) {
            o["other"] = ojson::array();
            for (const auto& [code, value] : f.other)
                o["other"].push_back(ojson::array({code, value}));
        }
        return o;
    }

    static ojson RectJson(const Rect& r) { return ojson::array({r.top, r.left, r.bottom, r.right}); }

    ojson LayoutJson(const Layout& l)
    {
        ojson o = ojson::object();
        o["name"] = l.name;
        o["type"] = l.type;
        o["page_size"] = ojson::array({l.pageWidth, l.pageHeight});
        o["margins"] = RectJson(l.margins);
        if (!l.sections.empty()) {
            o["sections"] = ojson::array();
            for (const auto& [page, number] : l.sections)
                o["sections"].push_back(ojson::array({page, number}));
        }
        o["layers"] = ojson::array();
        for (const Layer& layer : l.layers) {
            ojson y = ojson::object();
            y["id"] = layer.id;
            y["name"] = Utf16ToUtf8(layer.name);
            if (!layer.visible)
                y["visible"] = false;
            o["layers"].push_back(std::move(y));
        }
        o["masters"] = ojson::array();
        for (const MasterSpread& m : l.masters) {
            ojson y = ojson::object();
            y["name"] = m.name;
            if (m.pages != 1)
                y["pages"] = m.pages;
            y["items"] = m.items;
            o["masters"].push_back(std::move(y));
        }
        o["spreads"] = ojson::array();
        for (const LayoutSpread& s : l.spreads) {
            ojson y = ojson::object();
            y["pages"] = s.pages;
            y["items"] = s.items;
            o["spreads"].push_back(std::move(y));
        }
        const int32_t firstLayer = l.layers.empty() ? 0 : l.layers.front().id;
        o["boxes"] = ojson::array();
        for (const auto& [uid, box] : l.boxes)
            o["boxes"].push_back(BoxJson(box, firstLayer));
        o["stories"] = ojson::array();
        for (const auto& [uid, story] : l.stories)
            o["stories"].push_back(StoryJson(story));
        return o;
    }

    static ojson BoxJson(const Box& b, int32_t firstLayer)
    {
        ojson o = ojson::object();
        o["uid"] = b.uid;
        o["kind"] = kKinds[static_cast<size_t>(b.kind)];
        auto put = [&o](const char* key, int64_t value, int64_t fallback) {
            if (value != fallback)
                o[key] = value;
        };
        auto flag = [&o](const char* key, bool value) {
            if (value)
                o[key] = true;
        };
        put("shape", b.shape, 5);
        o["bounds"] = RectJson(b.bounds);
        put("angle", b.angle, 0);
        put("inset", b.inset, 65536);
        put("runaround", b.runaround, 65536);
        put("layer", b.layer, firstLayer);
        put("fill", b.fill, 0);
        put("frame", b.frame, 0);
        put("saved_word", b.savedWord, 0);
        flag("no_reflow", b.noReflow);
        flag("auto_text", b.autoText);
        put("derived_from", b.derivedFrom, 0);
        flag("autotext", b.autotext);
        if (!b.outline.empty()) {
            o["outline"] = ojson::array();
            for (const Point& pt : b.outline)
                o["outline"].push_back(ojson::array({pt.v, pt.h}));
        }
        if (!b.members.empty())
            o["members"] = b.members;
        if (b.image != ImageMode::None)
            o["image"] = kImages[static_cast<size_t>(b.image)];
        put("word6", b.word6, 6);
        if (!b.privateData.empty()) {
            o["private"] = ojson::array();
            for (const auto& [key, value] : b.privateData)
                o["private"].push_back(ojson::array({HexWord(key, 4), HexBytes(value)}));
        }
        return o;
    }

    ojson StoryJson(const Story& s)
    {
        ojson o = ojson::object();
        o["uid"] = s.uid;
        o["boxes"] = s.boxes;
        // JSON cannot carry a lone surrogate, so such a text goes as hex code units.
        const std::u16string text = s.text.str();
        const bool wellFormed = !HasLoneSurrogate(text);
        if (!text.empty()) {
            if (wellFormed) {
                o["text"] = Utf16ToUtf8(text);
            } else {
                std::string hex;
                for (char16_t c : text)
                    hex += HexWord(c, 2);
                o["utf16"] = hex;
            }
        }
        if (!s.charRuns.empty()) {
            o["char_runs"] = ojson::array();
            for (const Run& r : s.charRuns)
                o["char_runs"].push_back(ojson::array({charIds_.at(r.format), r.length}));
        }
        o["paras"] = ojson::array();
        for (int32_t f : s.paras)
            o["paras"].push_back(paraIds_.at(f));
        if (!s.objects.empty()) {
            o["objects"] = ojson::array();
            for (const ObjectRun& r : s.objects) {
                ojson y = ojson::object();
                y["at"] = r.at;
                y["len"] = r.len;
                y["kind"] = r.kind;
                if (r.box)
                    y["box"] = r.box;
                if (r.value)
                    y["value"] = r.value;
                o["objects"].push_back(std::move(y));
            }
        }
        if (s.locked)
            o["locked"] = true;
        if (s.flag0)
            o["flag0"] = true;
        return o;
    }

    const Project& p_;
    std::unordered_map<int32_t, int32_t> charIds_, paraIds_;
    std::vector<int32_t> charOrder_, paraOrder_;
};

}  // namespace

std::string DocumentSizeFault(uint64_t size)
{
    if (size <= kMaxDocumentFileSize)
        return {};
    return "file larger than " + std::to_string(kMaxDocumentFileSize >> 20) + " MiB (" + std::to_string(size) + " bytes)";
}

std::unique_ptr<Project> ParseDocument(const std::string& bytes)
{
    if (const std::string fault = DocumentSizeFault(bytes.size()); !fault.empty())
        Fail("", fault);
    PathTracker tracker;
    json root;
    try {
        TrackingBuilder builder(root, tracker);
        json::sax_parse(bytes, &builder);
    } catch (const json::exception& e) {
        Fail(tracker.Path(), std::string("not JSON: ") + e.what());
    }
    return Reader().Read(root);
}

std::string PrintDocument(Project& project)
{
    CheckProject(project);
    std::string out;
    Pretty(Writer(project).Root(), out, 0, 0, false);
    out += '\n';
    return out;
}

std::unique_ptr<Project> ReadDocumentFile(const std::string& path)
{
    // Never through a link that another user may have put on the way: a member of a team folder
    // could point it at a colleague's private document, and the export would copy it out.
    int fd = -1;
    std::string refused;
    if (platform::fs::OpenUnderRule(path, O_RDONLY, fd, &refused) != 0)
        Fail("", "cannot open " + path + (refused.empty() ? "" : ": " + refused));
    struct stat st {};
    std::string bytes;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (const std::string fault = ok ? DocumentSizeFault(static_cast<uint64_t>(st.st_size)) : ""; !fault.empty()) {
        ::close(fd);
        Fail("", fault);
    }
    if (ok) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t n = ::read(fd, &bytes[done], bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            done += ok ? static_cast<size_t>(n) : 0;
        }
    }
    ::close(fd);
    if (!ok)
        Fail("", "cannot read " + path);
    return ParseDocument(bytes);
}

const char kHostTempSuffix[] = ".part";

namespace {
WritePointHook writePointHook = nullptr;
}  // namespace

void SetWritePointHook(WritePointHook hook)
{
    writePointHook = hook;
}

void ReachWritePoint(const char* point)
{
    if (writePointHook)
        writePointHook(point);
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, int* error)
{
    const int failure = platform::fs::WriteBeside(path, kHostTempSuffix, bytes, platform::fs::Finish::Replace,
                                                  [] { ReachWritePoint("file.written"); });
    if (error)
        *error = failure;
    return failure == 0;
}

}  // namespace xthost::doc
