#include "platform/host/documents/testing/ExportExample.h"

#include "platform/host/documents/testing/DocBuilder.h"

namespace xthost::doc {

namespace {

constexpr int32_t pt(int32_t points) { return points * 65536; }
Rect Pt(int32_t top, int32_t left, int32_t bottom, int32_t right) { return Rect{pt(top), pt(left), pt(bottom), pt(right)}; }

constexpr uint32_t kModuleTag = 0x00414B42;  // the module's tag: a tag run of kind 0x414B4200

struct Formats {
    int32_t body, heading;
    int32_t bold, underlines, smallCaps, superscript, kerned, tracked, cyan;
    int32_t greek, hebrew, japanese, wide, missing, high, tagged;
    int32_t normal, head;
};

Formats AddTables(DocBuilder& b)
{
    b.Font(1, "DejaVu Sans")
        .Font(2, "Greek Sans", 6)
        .Font(3, "Hebrew Sans", 5)
        .Font(4, "Japanese Gothic", 1)
        .Font(20000, "Wide Gothic", 0);
    b.Colour(1, "White", 0xFFFFFF).Colour(2, "Black", 0x000000).Colour(3, "Process Cyan", 0x00A0E0, "QCMK");
    Formats f{};
    CharFormat body;
    body.font = 1;
    body.size = pt(12);
    body.colour = 2;
    f.body = b.CharFormat(body);
    auto with = [&b, &body](auto change) {
        CharFormat c = body;
        change(c);
        return b.CharFormat(c);
    };
    f.heading = with([](CharFormat& c) { c.face = 0x0001; c.size = pt(18); });
    f.bold = with([](CharFormat& c) { c.face = 0x0001; });
    f.underlines = with([](CharFormat& c) { c.face = 0x0004 | 0x1000; });  // underline and word underline
    f.smallCaps = with([](CharFormat& c) { c.face = 0x0800; });
    f.superscript = with([](CharFormat& c) { c.face = 0x0020; });
    f.kerned = with([](CharFormat& c) { c.kern = 20; });
    f.tracked = with([](CharFormat& c) { c.track = -10; });
    f.cyan = with([](CharFormat& c) { c.colour = 3; });
    f.greek = with([](CharFormat& c) { c.font = 2; });
    f.hebrew = with([](CharFormat& c) { c.font = 3; });
    f.japanese = with([](CharFormat& c) { c.font = 4; });
    f.wide = with([](CharFormat& c) { c.font = 20000; });
    f.missing = with([](CharFormat& c) { c.font = 77; });  // no font 77 in the list
    f.high = with([](CharFormat& c) { c.high = 128; });
    f.tagged = with([](CharFormat& c) { c.tag = kModuleTag; });
    ParaFormat normal;
    normal.style = 1;
    normal.spaceAfter = pt(6);
    f.normal = b.ParaFormat(normal);
    ParaFormat head;
    head.style = 2;
    head.spaceAfter = pt(12);
    f.head = b.ParaFormat(head);
    b.StyleSheet(1, "Normal", f.body, f.normal).StyleSheet(2, "Heading", f.heading, f.head);
    return f;
}

void PrintLayout(DocBuilder& b, const Formats& f)
{
    b.Layout("Print", pt(612), pt(792), pt(36));
    b.Layer(2, u"Hidden", /*visible=*/false);
    b.Master("A-Master A");
    b.Master("B-Master B");
    const uint32_t header = b.TextBox(Place::OnMaster(1), Pt(18, 36, 30, 576));
    b.Story({header}).Text(u"Header A", f.body).End();
    const uint32_t unused = b.TextBox(Place::OnMaster(2), Pt(36, 36, 100, 576));
    b.Story({unused}).Text(u"Text of the unused master B", f.body).End();
    b.Page(1);
    b.Page(1);

    const uint32_t caption = b.TextBox(Place::Loose_(), Pt(0, 0, 24, 120));
    b.Story({caption}).Text(u"Anchored caption", f.body).End();

    // A story through two boxes, one on each page.
    const uint32_t first = b.TextBox(Place::OnSpread(0), Pt(36, 36, 300, 576));
    const uint32_t second = b.TextBox(Place::OnSpread(1), Pt(36, 36, 300, 576));
    b.Story({first, second})
        .Para(f.head)
        .Uniq(42, f.heading)
        .Text(u"Export sample\r", f.heading)
        .Para(f.normal)
        .Text(u"Faces: ", f.body)
        .Text(u"bold", f.bold)
        .Text(u" ", f.body)
        .Text(u"underlined", f.underlines)
        .Text(u" ", f.body)
        .Text(u"Small Caps", f.smallCaps)
        .Text(u" x", f.body)
        .Text(u"2", f.superscript)
        .Text(u" ", f.body)
        .Text(u"kerned", f.kerned)
        .Text(u" ", f.body)
        .Text(u"tracked", f.tracked)
        .Text(u" ", f.body)
        .Text(u"cyan", f.cyan)
        .Text(u"\r", f.body)
        .Text(u"Fonts: ", f.body)
        .Text(u"\u0391\u03BB\u03C6\u03B1", f.greek)
        .Text(u" ", f.body)
        .Text(u"\u05E9\u05DC\u05D5\u05DD", f.hebrew)
        .Text(u" ", f.body)
        .Text(u"\u65E5\u672C\u8A9E", f.japanese)
        .Text(u" ", f.body)
        .Text(u"\uD55C\uAE00", f.wide)
        .Text(u" ", f.body)
        .Text(u"missing", f.missing)
        .Text(u" ", f.body)
        .Text(u"high", f.high)
        .Text(u"\r", f.body)
        // Tab, indent here, a discretionary new line, column break, next line, and 17.
        .Text(u"a\tb\x1E" u"c\x1C" u"d\x0B" u"e\x85" u"f\x11" u"g\r", f.body)
        .Text(u"Page ", f.body)
        .PageNumber(6, f.body)
        .Text(u" of ", f.body)
        .PageNumber(5, f.body)
        .Text(u", next ", f.body)
        .PageNumber(7, f.body)
        .Text(u"\r", f.body)
        .Text(u"Hidden ", f.body)
        .Hidden(0x08, "P1", f.body)
        .Text(u" ", f.body)
        .Hidden(0x45, "o", f.body)
        .Text(u"a ", f.body)
        .Hidden(0x46, "i", f.body)
        .Text(u"b", f.body)
        .Hidden(0x26, "", f.body)
        .Text(u" c", f.body)
        .Hidden(0x25, "", f.body)
        .Text(u" ", f.body)
        .Hidden(0x81, "x", f.body)
        .Text(u" ", f.body)
        .Hidden(0x27, "u", f.body)
        .Text(u" ", f.body)
        .Text(u"tagged", f.tagged)
        .Text(u"\r", f.body)
        .Text(u"Ids ", f.body)
        .Uniq(17, f.body)
        .Text(u" bad ", f.body)
        .Hidden(0x88, "  4x2 ab", f.body)
        .Text(u"\r", f.body)
        .Text(u"Anchor ", f.body)
        .Anchor(caption, f.body)
        .Text(u" end.", f.body)
        .End();

    BoxOptions turned;
    turned.angle = pt(-30);
    const uint32_t rotated = b.TextBox(Place::OnSpread(0), Pt(340, 150, 440, 450), turned);
    b.Story({rotated})
        .Para(f.normal)
        .Uniq(42, f.body)
        .Text(u"First paragraph of the turned box\rSecond paragraph", f.body)
        .End();

    BoxOptions hidden;
    hidden.layer = 2;
    const uint32_t onHidden = b.TextBox(Place::OnSpread(1), Pt(340, 36, 380, 576), hidden);
    b.Story({onHidden}).Text(u"On a hidden layer", f.body).End();
}

void OtherLayout(DocBuilder& b, const Formats& f, const std::string& name, const std::string& type,
                 const std::u16string& text)
{
    if (type == "XWEB")
        b.Layout(name, pt(800), pt(600), pt(0), type);
    else
        b.Layout(name, pt(612), pt(792), pt(36), type);
    b.Page(0);
    const uint32_t box = b.TextBox(Place::OnSpread(0), Pt(36, 36, 144, 576));
    b.Story({box}).Para(f.normal).Text(text, f.body).End();
}

}  // namespace

std::string BuildExportExample()
{
    DocBuilder b;
    const Formats f = AddTables(b);
    PrintLayout(b, f);
    OtherLayout(b, f, "Web", "XWEB", u"Text of the web layout");
    OtherLayout(b, f, "Print 2", "XDOC", u"Text of the second print layout");
    b.CurrentLayout(0);
    return b.Bytes();
}

}  // namespace xthost::doc
