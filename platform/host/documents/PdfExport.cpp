#include "platform/host/documents/PdfExport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <strings.h>
#include <unistd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cairo-pdf.h>
#include <pango/pangocairo.h>

#include "platform/fs/Sweep.h"
#include "platform/fs/TempFiles.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/Faces.h"
#include "platform/host/documents/TextFlow.h"

#ifndef KESTO_HOST_FONTS_CONF
#define KESTO_HOST_FONTS_CONF ""
#endif

namespace xthost::doc {

namespace {

constexpr double kUnit = 65536.0;
// A placeholder picture never takes more pixels than this on a side.
constexpr int kMaxPixels = 4096;

// Outlined glyphs stay text under their stroke, so the PDF's text can still be found and
// copied: filled at an opacity cairo does not drop as clear, yet too faint to see.
constexpr guint16 kOutlineFillAlpha = 0x0300;

double Pt(int64_t v) { return static_cast<double>(v) / kUnit; }

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Surface = std::unique_ptr<cairo_surface_t, Deleter<cairo_surface_t, cairo_surface_destroy>>;
using Cairo = std::unique_ptr<cairo_t, Deleter<cairo_t, cairo_destroy>>;
void Unref(void* p) { g_object_unref(p); }
using Layout_ = std::unique_ptr<PangoLayout, Deleter<void, Unref>>;
using Attrs = std::unique_ptr<PangoAttrList, Deleter<PangoAttrList, pango_attr_list_unref>>;

std::string Utf8(char32_t c)
{
    std::string s;
    AppendUtf8(s, c);
    return s;
}

struct Rgb {
    double r = 0, g = 0, b = 0;
};
Rgb ColourOf(const Project& project, int32_t id)
{
    const Colour* c = project.FindColour(id);
    const uint32_t rgb = c ? c->rgb : 0;
    return Rgb{((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0};
}

class Painter {
public:
    Painter(const Project& project, const Layout& layout, const OutputStyle& style, cairo_t* cr, PdfReport* report)
        : project_(project), layout_(layout), style_(style), cr_(cr), report_(report)
    {
        for (const auto& [uid, story] : layout.stories)
            if (!story.boxes.empty())
                lines_[uid] = LayOutStory(project, layout, story);
    }

    // Draws the items (z-order) that meet the area; spread coordinates.
    bool Draw(const std::vector<uint32_t>& items, const Rect& area, double originX)
    {
        bool any = false;
        for (uint32_t uid : items)
            if (const Box* box = layout_.FindBox(uid); box && Meets(*box, area) && Visible(*box)) {
                any = true;
                cairo_save(cr_);
                cairo_translate(cr_, -originX, 0);
                DrawBox(*box);
                cairo_restore(cr_);
            }
        return any;
    }

    static bool Meets(const Box& box, const Rect& area)
    {
        return box.bounds.left < area.right && box.bounds.right > area.left && box.bounds.top < area.bottom &&
               box.bounds.bottom > area.top;
    }

private:
    bool Visible(const Box& box) const
    {
        for (const Layer& layer : layout_.layers)
            if (layer.id == box.layer)
                return layer.visible;
        return true;
    }

    // The box's shape: 5 a rectangle, 6 rounded corners, 7 corners cut by inward arcs, 8
    // bevelled corners, 9 the ellipse in the bounds, 10 to 12 the outline's points.
    void Outline(const Box& box)
    {
        if (box.shape >= 10 && box.outline.size() >= 3) {
            cairo_move_to(cr_, Pt(box.outline[0].h), Pt(box.outline[0].v));
            for (size_t i = 1; i < box.outline.size(); ++i)
                cairo_line_to(cr_, Pt(box.outline[i].h), Pt(box.outline[i].v));
            cairo_close_path(cr_);
            return;
        }
        const Rect& b = box.bounds;
        const double l = Pt(b.left), t = Pt(b.top), r = Pt(b.right), btm = Pt(b.bottom);
        const double c = Pt(ShapeCorner(box));
        switch (box.shape) {
        case 6:  // Rectangle (convex)
            cairo_new_sub_path(cr_);
            cairo_arc(cr_, r - c, t + c, c, -M_PI / 2, 0);
            cairo_arc(cr_, r - c, btm - c, c, 0, M_PI / 2);
            cairo_arc(cr_, l + c, btm - c, c, M_PI / 2, M_PI);
            cairo_arc(cr_, l + c, t + c, c, M_PI, 3 * M_PI / 2);
            cairo_close_path(cr_);
            return;
        case 7:  // Rectangle (concave): each arc is centred on its corner
            cairo_move_to(cr_, l + c, t);
            cairo_arc_negative(cr_, r, t, c, M_PI, M_PI / 2);
            cairo_arc_negative(cr_, r, btm, c, 3 * M_PI / 2, M_PI);
            cairo_arc_negative(cr_, l, btm, c, 0, -M_PI / 2);
            cairo_arc_negative(cr_, l, t, c, M_PI / 2, 0);
            cairo_close_path(cr_);
            return;
        case 8:  // Rectangle (straight)
            cairo_move_to(cr_, l + c, t);
            cairo_line_to(cr_, r - c, t);
            cairo_line_to(cr_, r, t + c);
            cairo_line_to(cr_, r, btm - c);
            cairo_line_to(cr_, r - c, btm);
            cairo_line_to(cr_, l + c, btm);
            cairo_line_to(cr_, l, btm - c);
            cairo_line_to(cr_, l, t + c);
            cairo_close_path(cr_);
            return;
        case 9:  // Oval
            cairo_save(cr_);
            cairo_translate(cr_, (l + r) / 2, (t + btm) / 2);
            cairo_scale(cr_, std::max((r - l) / 2, 1e-3), std::max((btm - t) / 2, 1e-3));
            cairo_new_sub_path(cr_);
            cairo_arc(cr_, 0, 0, 1, 0, 2 * M_PI);
            cairo_close_path(cr_);
            cairo_restore(cr_);
            return;
        default:
            cairo_rectangle(cr_, l, t, r - l, btm - t);
        }
    }

    void DrawBox(const Box& box)
    {
        const Rect& b = box.bounds;
        cairo_save(cr_);
        if (box.angle != 0) {
            // Rotated about the box's centre; the lines turn with it.
            const double cx = Pt((int64_t(b.left) + b.right) / 2), cy = Pt((int64_t(b.top) + b.bottom) / 2);
            cairo_translate(cr_, cx, cy);
            cairo_rotate(cr_, -Pt(box.angle) * M_PI / 180.0);
            cairo_translate(cr_, -cx, -cy);
        }
        if (box.kind == BoxKind::Line) {
            cairo_set_source_rgb(cr_, 0, 0, 0);
            cairo_set_line_width(cr_, 1);
            cairo_move_to(cr_, Pt(b.left), Pt(b.top));
            cairo_line_to(cr_, Pt(b.right), Pt(b.bottom));
            cairo_stroke(cr_);
        } else if (box.kind == BoxKind::Group) {
            for (uint32_t member : box.members)
                if (const Box* m = layout_.FindBox(member); m && Visible(*m))
                    DrawBox(*m);
        } else {
            if (box.fill != 0) {
                const Rgb c = ColourOf(project_, box.fill);
                cairo_set_source_rgb(cr_, c.r, c.g, c.b);
                Outline(box);
                cairo_fill(cr_);
            }
            if (box.kind == BoxKind::Picture)
                DrawPlaceholder(box);
            if (box.kind == BoxKind::Text)
                DrawText(box);
            if (box.frame > 0) {
                cairo_set_source_rgb(cr_, 0, 0, 0);
                cairo_set_line_width(cr_, Pt(box.frame));
                Outline(box);
                cairo_stroke(cr_);
            }
        }
        cairo_restore(cr_);
    }

    // A checker pattern at the style's resolution for the picture's kind.
    void DrawPlaceholder(const Box& box)
    {
        if (box.image == ImageMode::None)
            return;
        const int32_t resolution = box.image == ImageMode::Mono   ? style_.monoResolution
                                   : box.image == ImageMode::Gray ? style_.grayResolution
                                                                  : style_.colourResolution;
        const double dpi = resolution / kUnit;
        const double w = Pt(int64_t(box.bounds.right) - box.bounds.left), h = Pt(int64_t(box.bounds.bottom) - box.bounds.top);
        const int pw = std::clamp(int(std::lround(w / 72.0 * dpi)), 1, kMaxPixels);
        const int ph = std::clamp(int(std::lround(h / 72.0 * dpi)), 1, kMaxPixels);
        Surface image(cairo_image_surface_create(CAIRO_FORMAT_RGB24, pw, ph));
        if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS)
            return;
        cairo_surface_flush(image.get());
        unsigned char* data = cairo_image_surface_get_data(image.get());
        const int stride = cairo_image_surface_get_stride(image.get());
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) {
                const bool dark = ((x / 8) + (y / 8)) % 2 == 0;
                uint32_t pixel = dark ? 0x000000 : 0xFFFFFF;
                if (box.image == ImageMode::Gray)
                    pixel = dark ? 0x606060 : 0xC0C0C0;
                else if (box.image == ImageMode::Colour)
                    pixel = dark ? 0x2060C0 : 0xF0C020;
                std::memcpy(data + y * stride + 4 * x, &pixel, 4);
            }
        cairo_surface_mark_dirty(image.get());
        cairo_save(cr_);
        cairo_translate(cr_, Pt(box.bounds.left), Pt(box.bounds.top));
        cairo_scale(cr_, w / pw, h / ph);
        cairo_set_source_surface(cr_, image.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_NEAREST);
        cairo_paint(cr_);
        cairo_restore(cr_);
    }

    void DrawText(const Box& box)
    {
        auto it = lines_.find(box.story);
        const Story* story = layout_.FindStory(box.story);
        if (it == lines_.end() || !story)
            return;
        for (const LineRecord& line : it->second.lines)
            if (line.box == box.uid && !line.Overflow())
                DrawLine(*story, line);
    }

    // The format and object run of each character of a story, made once per story.
    struct Chars {
        std::vector<const CharFormat*> format;
        std::vector<ObjectRun> objects;  // the story's object runs, which `object` points into
        std::vector<const ObjectRun*> object;
    };
    const Chars& CharsOf(const Story& story)
    {
        auto [it, made] = chars_.try_emplace(story.uid);
        Chars& c = it->second;
        if (!made)
            return c;
        const size_t n = story.text.size();
        c.format.assign(n, nullptr);
        c.object.assign(n, nullptr);
        size_t at = 0;
        for (const Run& run : story.charRuns)
            for (int32_t k = 0; k < run.length && at < n; ++k)
                c.format[at++] = project_.charFormats.Find(run.format);
        c.objects.assign(story.objects.begin(), story.objects.end());
        for (const ObjectRun& o : c.objects)
            for (int32_t k = std::max(o.at, 0); k < o.at + o.len && size_t(k) < n; ++k)
                c.object[size_t(k)] = &o;
        return c;
    }

    // A byte range of a line's text drawn with a face that pango has no attribute for.
    struct Span {
        guint from, to;
        Rgb colour;
    };

    // The text a line shows: hidden and tagged characters, breaks and other control characters
    // dropped, page numbers as digits, capitals as the face asks. Each character gets the
    // attributes of its format; outline and shadow are drawn as paths around pango's text.
    void DrawLine(const Story& story, const LineRecord& line)
    {
        std::string text;
        Attrs attrs(pango_attr_list_new());
        std::vector<Span> outlined, shadowed;
        const Chars& chars = CharsOf(story);
        const int32_t end = line.start + line.length;
        for (int32_t i = line.start; i < end; ++i) {
            const char16_t c = story.text[size_t(i)];
            const CharFormat* f = chars.format[size_t(i)];
            const ObjectRun* object = chars.object[size_t(i)];
            const Face face = f ? FaceOf(f->face) : Face{};
            char32_t shown = c;
            std::string piece;
            if (object && object->kind >= 5 && object->kind <= 7) {
                piece = std::to_string(PageNumberShown(layout_, story, line.box, object->kind));
            } else if (object || (f && f->tag != 0) || (c < 0x20 && c != 0x09) || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0xFFFC) {
                continue;
            } else if (c >= 0xD800 && c < 0xDC00 && i + 1 < end) {
                const char16_t d = story.text[size_t(i) + 1];
                shown = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(d) - 0xDC00);
                ++i;
            } else if (c >= 0xD800 && c < 0xE000) {
                shown = 0xFFFD;
            }
            if (piece.empty()) {
                if (CapitalsOf(face, shown) == 2)
                    piece = "SS";
                else
                    piece = Utf8(face.uppercase || (face.smallCaps && IsLowercase(shown)) ? g_unichar_toupper(shown)
                                                                                           : shown);
            }
            const guint from = guint(text.size());
            text += piece;
            if (!f)
                continue;
            const guint to = guint(text.size());
            AddAttributes(attrs.get(), *f, face, shown, from, to);
            const Rgb colour = ColourOf(project_, f->colour);
            if (face.outline)
                Extend(outlined, from, to, colour);
            if (face.shadow)
                Extend(shadowed, from, to, colour);
        }
        if (text.empty())
            return;
        if (!report_->pageText.empty())
            report_->pageText.back() += text + "\n";
        Layout_ pl(pango_cairo_create_layout(cr_));
        PangoLayout* layout = static_cast<PangoLayout*>(pl.get());
        pango_layout_set_text(layout, text.c_str(), int(text.size()));
        pango_layout_set_attributes(layout, attrs.get());
        pango_layout_set_auto_dir(layout, TRUE);
        PangoRectangle ink, logical;
        pango_layout_get_extents(layout, &ink, &logical);
        const double width = double(logical.width) / PANGO_SCALE;
        const double measure = Pt(line.measure);
        const double scale = width > 0 && measure > 0 ? std::clamp(measure / width, 0.5, 2.0) : 1.0;
        const double baseline = double(pango_layout_get_baseline(layout)) / PANGO_SCALE;
        cairo_save(cr_);
        cairo_translate(cr_, Pt(line.left), Pt(line.baseline) - baseline);
        cairo_scale(cr_, scale, 1.0);
        // A shadow: the glyphs' shapes in grey, down and to the right, behind the text.
        const double offset = std::max(Pt(line.largest) / 16, 0.5);
        for (const Span& span : shadowed) {
            cairo_save(cr_);
            cairo_translate(cr_, offset, offset);
            ClipTo(layout, span, logical);
            pango_cairo_layout_path(cr_, layout);
            cairo_set_source_rgb(cr_, 0.5 + span.colour.r / 2, 0.5 + span.colour.g / 2, 0.5 + span.colour.b / 2);
            cairo_fill(cr_);
            cairo_restore(cr_);
        }
        cairo_set_source_rgb(cr_, 0, 0, 0);
        pango_cairo_show_layout(cr_, layout);
        // An outline: the glyphs' shapes stroked over their nearly clear text.
        for (const Span& span : outlined) {
            cairo_save(cr_);
            ClipTo(layout, span, logical);
            pango_cairo_layout_path(cr_, layout);
            cairo_set_source_rgb(cr_, span.colour.r, span.colour.g, span.colour.b);
            cairo_set_line_width(cr_, std::max(Pt(line.largest) / 40, 0.25));
            cairo_stroke(cr_);
            cairo_restore(cr_);
        }
        cairo_restore(cr_);
    }

    // Adds [from, to) to the spans, joining it to the last one when they touch in one colour.
    static void Extend(std::vector<Span>& spans, guint from, guint to, const Rgb& colour)
    {
        if (!spans.empty() && spans.back().to == from && spans.back().colour.r == colour.r &&
            spans.back().colour.g == colour.g && spans.back().colour.b == colour.b)
            spans.back().to = to;
        else
            spans.push_back(Span{from, to, colour});
    }

    // Clips to the columns that the span's glyphs take on the layout's one line.
    void ClipTo(PangoLayout* layout, const Span& span, const PangoRectangle& logical)
    {
        PangoLayoutLine* first = pango_layout_get_line_readonly(layout, 0);
        int* ranges = nullptr;
        int n = 0;
        pango_layout_line_get_x_ranges(first, int(span.from), int(span.to), &ranges, &n);
        cairo_new_path(cr_);
        const double top = double(logical.y - logical.height) / PANGO_SCALE;
        const double height = 3.0 * logical.height / PANGO_SCALE;
        for (int k = 0; k < n; ++k)
            cairo_rectangle(cr_, double(ranges[2 * k]) / PANGO_SCALE, top,
                            double(ranges[2 * k + 1] - ranges[2 * k]) / PANGO_SCALE, height);
        g_free(ranges);
        cairo_clip(cr_);
    }

    // The attributes of one character of the format, shown as c, at [from, to).
    void AddAttributes(PangoAttrList* list, const CharFormat& f, const Face& face, char32_t c, guint from, guint to)
    {
        auto add = [&](PangoAttribute* a) {
            a->start_index = from;
            a->end_index = to;
            pango_attr_list_insert(list, a);
        };
        const Font* font = project_.FindFont(f.font);
        const std::string family = font ? font->render : "DejaVu Sans";
        NoteFamily(family);
        add(pango_attr_family_new(family.c_str()));
        add(pango_attr_size_new_absolute(int(std::lround(Pt(GlyphSize(face, f.size, c)) * PANGO_SCALE))));
        if (const int32_t rise = GlyphRise(face, f.size))
            add(pango_attr_rise_new(int(std::lround(Pt(rise) * PANGO_SCALE))));
        if (face.bold)
            add(pango_attr_weight_new(PANGO_WEIGHT_BOLD));
        if (face.italic)
            add(pango_attr_style_new(PANGO_STYLE_ITALIC));
        const bool space = c == 0x20 || c == 0x09 || c == 0xA0 || (c >= 0x2000 && c <= 0x200A) || c == 0x3000;
        if (face.underline || (face.wordUnderline && !space))
            add(pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        if (face.strike)
            add(pango_attr_strikethrough_new(TRUE));
        if (f.track + f.kern != 0)
            add(pango_attr_letter_spacing_new(int(std::lround(Pt(int64_t(f.track + f.kern) * f.size / 200) * PANGO_SCALE))));
        const Colour* colour = project_.FindColour(f.colour);
        const uint32_t rgb = colour ? colour->rgb : 0;
        add(pango_attr_foreground_new(guint16(((rgb >> 16) & 0xFF) * 257), guint16(((rgb >> 8) & 0xFF) * 257),
                                      guint16((rgb & 0xFF) * 257)));
        if (face.outline)
            add(pango_attr_foreground_alpha_new(kOutlineFillAlpha));
    }

    // A render family fontconfig does not have is drawn with another face: noted in the log.
    void NoteFamily(const std::string& family)
    {
        if (!families_.insert(family).second)
            return;
        PangoFontMap* map = pango_cairo_font_map_get_default();
        std::unique_ptr<PangoContext, Deleter<void, Unref>> context(pango_font_map_create_context(map));
        PangoFontDescription* desc = pango_font_description_new();
        pango_font_description_set_family(desc, family.c_str());
        pango_font_description_set_absolute_size(desc, 12 * PANGO_SCALE);
        PangoFont* font = pango_font_map_load_font(map, static_cast<PangoContext*>(context.get()), desc);
        pango_font_description_free(desc);
        if (!font)
            return;
        PangoFontDescription* got = pango_font_describe(font);
        const char* actual = pango_font_description_get_family(got);
        if (actual && strcasecmp(actual, family.c_str()) != 0)
            report_->substitutions.push_back(family + " -> " + actual);
        pango_font_description_free(got);
        g_object_unref(font);
    }

    const Project& project_;
    const Layout& layout_;
    const OutputStyle& style_;
    cairo_t* cr_;
    PdfReport* report_;
    std::map<uint32_t, StoryLines> lines_;
    std::map<uint32_t, Chars> chars_;
    std::set<std::string> families_;
};

cairo_status_t WriteChunk(void* closure, const unsigned char* data, unsigned int length)
{
    return std::fwrite(data, 1, length, static_cast<std::FILE*>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                                      : CAIRO_STATUS_WRITE_ERROR;
}

}  // namespace

// The host's font configuration: beside an installed host (share/kesto/), else in the source
// tree the host was built from.
static std::string HostFontsConf()
{
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string path(self, static_cast<std::size_t>(n));
        path = path.substr(0, path.rfind('/')) + "/../share/kesto/fonts.conf";
        if (::access(path.c_str(), R_OK) == 0)
            return path;
    }
    return KESTO_HOST_FONTS_CONF;
}

void UseHostFonts(const std::string& tempFolder)
{
    static bool done = false;
    if (done || std::getenv("FONTCONFIG_FILE"))
        return;
    done = true;
    const std::string folder = tempFolder + "/fontconfig";
    ::mkdir(tempFolder.c_str(), 0755);
    ::mkdir(folder.c_str(), 0755);
    const std::string config = "<?xml version=\"1.0\"?>\n<fontconfig>\n  <include ignore_missing=\"no\">" +
                               HostFontsConf() + "</include>\n  <cachedir>" + folder +
                               "/cache</cachedir>\n</fontconfig>\n";
    if (WriteFileAtomically(folder + "/fonts.conf", config))
        ::setenv("FONTCONFIG_FILE", (folder + "/fonts.conf").c_str(), 0);
}

int32_t ShapeCorner(const Box& box)
{
    const int64_t w = int64_t(box.bounds.right) - box.bounds.left, h = int64_t(box.bounds.bottom) - box.bounds.top;
    return int32_t(std::max<int64_t>(std::min(w, h), 0) / 8);
}

int32_t WritePdf(const Project& project, const Layout& layout, const OutputStyle& style, const std::string& path,
                 const std::string& title, std::time_t date, PdfReport* report)
{
    *report = PdfReport{};
    // Written beside the target under a name that fits whatever the target's name is, and put in
    // its place as FinishTemp puts a file.
    int fd = -1;
    std::string temporary;
    if (const int error = platform::fs::CreateTempBeside(path, kHostTempSuffix, fd, temporary)) {
        report->error = "cannot create a file beside " + path + ": " + std::strerror(error);
        return HostErr::WriteFailed;
    }
    // The temporary stays locked until it has its final name, so that no sweep takes it on its way
    // there: the lock belongs to the open file, which this duplicate keeps open past the stream.
    const platform::fs::OwnedLock held(::dup(fd));
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        ::unlink(temporary.c_str());
        report->error = "cannot write " + path;
        return HostErr::WriteFailed;
    }
    const double pageW = Pt(layout.pageWidth), pageH = Pt(layout.pageHeight);
    Surface surface(cairo_pdf_surface_create_for_stream(WriteChunk, file, pageW, pageH));
    const std::string shownTitle = style.title.empty() ? title : style.title;
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, shownTitle.c_str());
    if (!style.author.empty())
        cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_AUTHOR, style.author.c_str());
    if (!style.subject.empty())
        cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_SUBJECT, style.subject.c_str());
    if (!style.keywords.empty())
        cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_KEYWORDS, style.keywords.c_str());
    char stamp[32];
    std::tm tm{};
    gmtime_r(&date, &tm);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATE_DATE, stamp);
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "xthost");
    {
        Cairo cr(cairo_create(surface.get()));
        Painter painter(project, layout, style, cr.get(), report);
        for (size_t s = 0; s < layout.spreads.size(); ++s) {
            const auto pages = layout.Pages(s);
            if (pages.empty())
                continue;
            if (style.spreads) {
                const Rect area{pages.front().bounds.top, pages.front().bounds.left, pages.back().bounds.bottom,
                                pages.back().bounds.right};
                cairo_pdf_surface_set_size(surface.get(), Pt(int64_t(area.right) - area.left), pageH);
                report->pageText.emplace_back();
                const bool any = painter.Draw(layout.spreads[s].items, area, Pt(area.left));
                if (!any && !style.includeBlankPages) {
                    report->pageText.pop_back();
                    continue;
                }
                cairo_show_page(cr.get());
                ++report->pages;
                ReachWritePoint("pdf.page");
                continue;
            }
            for (const PageInfo& page : pages) {
                cairo_pdf_surface_set_size(surface.get(), pageW, pageH);
                report->pageText.emplace_back();
                const bool any = painter.Draw(layout.spreads[s].items, page.bounds, Pt(page.bounds.left));
                if (!any && !style.includeBlankPages) {
                    report->pageText.pop_back();
                    // Nothing was drawn: the page is dropped by drawing it over.
                    continue;
                }
                cairo_show_page(cr.get());
                ++report->pages;
                ReachWritePoint("pdf.page");
            }
        }
    }
    cairo_surface_finish(surface.get());
    const cairo_status_t status = cairo_surface_status(surface.get());
    surface.reset();
    const bool written = status == CAIRO_STATUS_SUCCESS && report->pages > 0 && std::fflush(file) == 0;
    const int finished = written ? platform::fs::FinishTemp(::fileno(file), temporary, path) : EIO;
    std::fclose(file);
    if (finished != 0) {
        report->error = status != CAIRO_STATUS_SUCCESS ? cairo_status_to_string(status)
                        : report->pages == 0           ? "no page to write"
                        : written                      ? "cannot write " + path + ": " + std::strerror(finished)
                                                       : "cannot write " + path;
        std::remove(temporary.c_str());
        return HostErr::WriteFailed;
    }
    return HostErr::Ok;
}

bool WritePdfLog(const std::string& path, const OutputStyle& style, const PdfReport& report)
{
    std::string text = "style: " + style.name + "\npages: " + std::to_string(report.pages) + "\n";
    for (const std::string& s : report.substitutions)
        text += "font substituted: " + s + "\n";
    return WriteFileAtomically(path, text);
}

}  // namespace xthost::doc
