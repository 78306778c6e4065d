// The example documents under examples/documents/, built in code so that a test can rebuild
// them and compare byte for byte.
#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>
#include <vector>

#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/CharactersExample.h"
#include "platform/host/documents/testing/DocBuilder.h"
#include "platform/host/documents/testing/FlowExamples.h"
#include "platform/host/documents/testing/DirectoryExample.h"
#include "platform/host/documents/testing/GroupExamples.h"
#include "platform/host/documents/testing/HiddenExample.h"
#include "platform/host/documents/testing/ParagraphExamples.h"
#include "platform/host/documents/testing/RunFormatsExample.h"

namespace xthost::doc {

namespace {

constexpr int32_t pt(int32_t points) { return points * 65536; }
Rect Pt(int32_t top, int32_t left, int32_t bottom, int32_t right)
{
    return Rect{pt(top), pt(left), pt(bottom), pt(right)};
}

constexpr uint32_t kLinkIdKey = 0x08414B42;
constexpr uint32_t kLinkMarkKey = 0x09414B42;

struct Basics {
    int32_t body, heading, italic;  // character formats
    int32_t normal, head;           // paragraph formats
};

// The tables most examples share: one font, white and black, Normal and Heading.
Basics AddBasics(DocBuilder& b)
{
    b.Font(1, "DejaVu Sans").Colour(1, "White", 0xFFFFFF).Colour(2, "Black", 0x000000);
    Basics s{};
    CharFormat body;
    body.font = 1;
    body.size = pt(12);
    body.colour = 2;
    s.body = b.CharFormat(body);
    CharFormat heading = body;
    heading.face = 1;
    heading.size = pt(18);
    s.heading = b.CharFormat(heading);
    CharFormat italic = body;
    italic.face = 2;
    s.italic = b.CharFormat(italic);
    ParaFormat normal;
    normal.style = 1;
    normal.spaceAfter = pt(6);
    s.normal = b.ParaFormat(normal);
    ParaFormat head;
    head.style = 2;
    head.spaceAfter = pt(12);
    s.head = b.ParaFormat(head);
    b.StyleSheet(1, "Normal", s.body, s.normal).StyleSheet(2, "Heading", s.heading, s.head);
    return s;
}

void Letter(DocBuilder& b, const std::string& name, const std::string& type = "XDOC")
{
    b.Layout(name, pt(612), pt(792), pt(36), type);
}

std::string Minimal()
{
    DocBuilder b;
    const Basics s = AddBasics(b);
    Letter(b, "Layout 1");
    b.Page(0);
    const uint32_t box = b.TextBox(Place::OnSpread(0), Pt(36, 36, 144, 576));
    b.Story({box}).Text(u"Hello, world.", s.body).End();
    return b.Bytes();
}

std::string TwoPageLinked()
{
    DocBuilder b;
    const Basics s = AddBasics(b);
    Letter(b, "Layout 1");
    b.Master("A-Master A");
    BoxOptions autoText;
    autoText.autoText = true;
    b.TextBox(Place::OnMaster(1), Pt(36, 36, 756, 576), autoText);
    b.Page(1);
    b.Page(1);
    const uint32_t first = b.Current().spreads[0].items[0];
    const uint32_t second = b.Current().spreads[1].items[0];
    b.PrivateData(first, kLinkIdKey, {0, 0, 0, 0})
        .PrivateData(first, kLinkMarkKey, {0xAC, 0xAC})
        .PrivateData(first, 0x58595A31, {0x01, 0x02});
    b.Story({first, second})
        .Para(s.head)
        .Text(u"Annual Report\r", s.heading)
        .Para(s.normal)
        .Text(u"The ", s.body)
        .Hidden(0x45, "IX", s.body)
        .Text(u"quick", s.italic)
        .Hidden(0x25, "", s.body)
        .Text(u" brown fox.\r", s.body)
        .End();
    return b.Bytes();
}

// Story-to-box mapping: chains, anchors, groups, fillers and an empty box.
std::string Mapping()
{
    DocBuilder b;
    const Basics s = AddBasics(b);
    Letter(b, "Layout 1");
    b.Page(0);
    const Place page = Place::OnSpread(0);
    const uint32_t c1 = b.TextBox(page, Pt(36, 36, 136, 300));
    const uint32_t c2 = b.TextBox(page, Pt(36, 312, 136, 576));
    const uint32_t c3 = b.TextBox(page, Pt(148, 36, 248, 300));
    b.Story({c1, c2, c3}).Text(u"A story that runs through three linked boxes.\rIts second paragraph.", s.body).End();

    const uint32_t caption = b.TextBox(Place::Loose_(), Pt(0, 0, 24, 120));
    b.Story({caption}).Text(u"Anchored caption", s.italic).End();
    const uint32_t host = b.TextBox(page, Pt(148, 312, 248, 576));
    b.Story({host}).Text(u"Before the anchor ", s.body).Anchor(caption, s.body).Text(u" and after it.", s.body).End();

    const uint32_t g1 = b.TextBox(Place::Loose_(), Pt(260, 36, 300, 300));
    const uint32_t g2 = b.TextBox(Place::Loose_(), Pt(304, 36, 344, 300));
    b.Story({g1}).Text(u"First member of the group", s.body).End();
    b.Story({g2}).Text(u"Second member of the group", s.body).End();
    b.Group(page, {g1, g2});

    const uint32_t dots20 = b.TextBox(page, Pt(360, 36, 384, 300));
    b.Story({dots20}).Text(u"....................", s.body).End();
    const uint32_t dots19 = b.TextBox(page, Pt(390, 36, 414, 300));
    b.Story({dots19}).Text(u". . . . . . . . . . . . . . . . . . .", s.body).End();
    const uint32_t pairs20 = b.TextBox(page, Pt(420, 36, 444, 300));
    b.Story({pairs20}).Text(u"-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=", s.body).End();
    const uint32_t pairs19 = b.TextBox(page, Pt(450, 36, 474, 300));
    b.Story({pairs19}).Text(u"-= -= -= -= -= -= -= -= -= -= -= -= -= -= -= -= -= -= -=", s.body).End();
    b.TextBox(page, Pt(480, 36, 504, 300));  // empty
    b.PictureBox(page, Pt(520, 36, 700, 300));
    return b.Bytes();
}

// Used and unused masters, derived boxes (one edited locally), box classes 1 to 5.
std::string Masters()
{
    DocBuilder b;
    const Basics s = AddBasics(b);
    Letter(b, "Layout 1");
    b.Master("A-Master A");
    b.Master("B-Master B");
    const uint32_t header = b.TextBox(Place::OnMaster(1), Pt(18, 36, 30, 576));
    b.Story({header}).Text(u"Header A", s.body).End();
    BoxOptions autoText;
    autoText.autoText = true;
    b.TextBox(Place::OnMaster(1), Pt(36, 36, 756, 576), autoText);
    const uint32_t unused = b.TextBox(Place::OnMaster(2), Pt(36, 36, 100, 576));
    b.Story({unused}).Text(u"Text of an unused master", s.body).End();

    b.Page(1);
    b.Spread({1, 1});
    const uint32_t plain = b.TextBox(Place::OnSpread(0), Pt(700, 36, 740, 300));
    b.Story({plain}).Text(u"Plain layout box", s.body).End();

    // The header copy on the right-hand page of the spread was edited locally.
    const auto& items = b.Current().spreads[1].items;
    const uint32_t localHeader = items[items.size() - 2];
    b.Story({localHeader}).Text(u"Header A, edited on the page", s.body).End();

    const uint32_t flow = b.Current().spreads[0].items[1];  // the automatic text copy
    b.EditStory(flow)
        .Para(s.head)
        .Text(u"Body\r", s.heading)
        .Para(s.normal)
        .Text(u"Text that flows through the automatic text boxes of three pages.", s.body)
        .End();
    return b.Bytes();
}

std::string Layouts()
{
    DocBuilder b;
    const Basics s = AddBasics(b);
    const char* names[] = {"Print A", "Web", "Print B"};
    for (const char* name : names) {
        const bool web = std::string(name) == "Web";
        if (web)
            b.Layout(name, pt(800), pt(600), pt(0), "XWEB");
        else
            Letter(b, name);
        b.Page(0);
        const uint32_t box = b.TextBox(Place::OnSpread(0), Pt(36, 36, 144, 576));
        b.Story({box}).Text(u"Text of layout " + std::u16string(name, name + std::string(name).size()), s.body).End();
    }
    b.CurrentLayout(1);
    return b.Bytes();
}

std::string MacOrigin()
{
    DocBuilder b(/*mac=*/true);
    const Basics s = AddBasics(b);
    b.Font(2, "Geneva Caf\xC3\xA9 \xE2\x84\xA2");
    b.LastFont().secondName = "Geneva";
    b.LastFont().extra = 1;
    CharFormat geneva;
    geneva.font = 2;
    geneva.size = pt(10);
    geneva.colour = 2;
    const int32_t cf = b.CharFormat(geneva);
    Letter(b, "Layout 1");
    b.Page(0);
    const uint32_t box = b.TextBox(Place::OnSpread(0), Pt(36, 36, 144, 576));
    b.Story({box}).Text(u"Made on a Macintosh: ", s.body).Text(u"caf\u00E9", cf).End();
    return b.Bytes();
}

constexpr uint32_t kModuleTag = 0x00414B42;  // the module's tag: a tag run of kind 0x414B4200

// The export example's tables: the basics, fonts of four scripts, a process colour and a
// character format per face, font and value the export maps.
struct ExportFormats {
    Basics basics;
    int32_t bold, underlines, smallCaps, superscript, kerned, tracked, cyan;
    int32_t greek, hebrew, japanese, wide, missing, high, tagged;
};

ExportFormats AddExportTables(DocBuilder& b)
{
    ExportFormats f{};
    f.basics = AddBasics(b);
    b.Font(2, "Greek Sans", 6).Font(3, "Hebrew Sans", 5).Font(4, "Japanese Gothic", 1).Font(20000, "Wide Gothic", 0);
    b.Colour(3, "Process Cyan", 0x00A0E0, "QCMK");
    CharFormat body;
    body.font = 1;
    body.size = pt(12);
    body.colour = 2;
    auto with = [&b, &body](auto change) {
        CharFormat c = body;
        change(c);
        return b.CharFormat(c);
    };
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
    return f;
}

void ExportPrintLayout(DocBuilder& b, const ExportFormats& f)
{
    Letter(b, "Print");
    b.Layer(2, u"Hidden", /*visible=*/false);
    b.Master("A-Master A");
    b.Master("B-Master B");
    const uint32_t header = b.TextBox(Place::OnMaster(1), Pt(18, 36, 30, 576));
    b.Story({header}).Text(u"Header A", f.basics.body).End();
    const uint32_t unused = b.TextBox(Place::OnMaster(2), Pt(36, 36, 100, 576));
    b.Story({unused}).Text(u"Text of the unused master B", f.basics.body).End();
    b.Page(1);
    b.Page(1);

    const uint32_t caption = b.TextBox(Place::Loose_(), Pt(0, 0, 24, 120));
    b.Story({caption}).Text(u"Anchored caption", f.basics.body).End();

    // A story through two boxes, one on each page.
    const uint32_t first = b.TextBox(Place::OnSpread(0), Pt(36, 36, 300, 576));
    const uint32_t second = b.TextBox(Place::OnSpread(1), Pt(36, 36, 300, 576));
    b.Story({first, second})
        .Para(f.basics.head)
        .Uniq(42, f.basics.heading)
        .Text(u"Export sample\r", f.basics.heading)
        .Para(f.basics.normal)
        .Text(u"Faces: ", f.basics.body)
        .Text(u"bold", f.bold)
        .Text(u" ", f.basics.body)
        .Text(u"underlined", f.underlines)
        .Text(u" ", f.basics.body)
        .Text(u"Small Caps", f.smallCaps)
        .Text(u" x", f.basics.body)
        .Text(u"2", f.superscript)
        .Text(u" ", f.basics.body)
        .Text(u"kerned", f.kerned)
        .Text(u" ", f.basics.body)
        .Text(u"tracked", f.tracked)
        .Text(u" ", f.basics.body)
        .Text(u"cyan", f.cyan)
        .Text(u"\r", f.basics.body)
        .Text(u"Fonts: ", f.basics.body)
        .Text(u"\u0391\u03BB\u03C6\u03B1", f.greek)
        .Text(u" ", f.basics.body)
        .Text(u"\u05E9\u05DC\u05D5\u05DD", f.hebrew)
        .Text(u" ", f.basics.body)
        .Text(u"\u65E5\u672C\u8A9E", f.japanese)
        .Text(u" ", f.basics.body)
        .Text(u"\uD55C\uAE00", f.wide)
        .Text(u" ", f.basics.body)
        .Text(u"missing", f.missing)
        .Text(u" ", f.basics.body)
        .Text(u"high", f.high)
        .Text(u"\r", f.basics.body)
        // Tab, indent here, a discretionary new line, column break, next line, and 17.
        .Text(u"a\tb\x1E" u"c\x1C" u"d\x0B" u"e\x85" u"f\x11" u"g\r", f.basics.body)
        .Text(u"Page ", f.basics.body)
        .PageNumber(6, f.basics.body)
        .Text(u" of ", f.basics.body)
        .PageNumber(5, f.basics.body)
        .Text(u", next ", f.basics.body)
        .PageNumber(7, f.basics.body)
        .Text(u"\r", f.basics.body)
        .Text(u"Hidden ", f.basics.body)
        .Hidden(0x08, "P1", f.basics.body)
        .Text(u" ", f.basics.body)
        .Hidden(0x45, "o", f.basics.body)
        .Text(u"a ", f.basics.body)
        .Hidden(0x46, "i", f.basics.body)
        .Text(u"b", f.basics.body)
        .Hidden(0x26, "", f.basics.body)
        .Text(u" c", f.basics.body)
        .Hidden(0x25, "", f.basics.body)
        .Text(u" ", f.basics.body)
        .Hidden(0x81, "x", f.basics.body)
        .Text(u" ", f.basics.body)
        .Hidden(0x27, "u", f.basics.body)
        .Text(u" ", f.basics.body)
        .Text(u"tagged", f.tagged)
        .Text(u"\r", f.basics.body)
        .Text(u"Ids ", f.basics.body)
        .Uniq(17, f.basics.body)
        .Text(u" bad ", f.basics.body)
        .Hidden(0x88, "  4x2 ab", f.basics.body)
        .Text(u"\r", f.basics.body)
        .Text(u"Anchor ", f.basics.body)
        .Anchor(caption, f.basics.body)
        .Text(u" end.", f.basics.body)
        .End();

    BoxOptions turned;
    turned.angle = pt(-30);
    const uint32_t rotated = b.TextBox(Place::OnSpread(0), Pt(340, 150, 440, 450), turned);
    b.Story({rotated})
        .Para(f.basics.normal)
        .Uniq(42, f.basics.body)
        .Text(u"First paragraph of the turned box\rSecond paragraph", f.basics.body)
        .End();

    BoxOptions hidden;
    hidden.layer = 2;
    const uint32_t onHidden = b.TextBox(Place::OnSpread(1), Pt(340, 36, 380, 576), hidden);
    b.Story({onHidden}).Text(u"On a hidden layer", f.basics.body).End();
}

void ExportOtherLayout(DocBuilder& b, const ExportFormats& f, const std::string& name, const std::string& type,
                 const std::u16string& text)
{
    if (type == "XWEB")
        b.Layout(name, pt(800), pt(600), pt(0), type);
    else
        Letter(b, name);
    b.Page(0);
    const uint32_t box = b.TextBox(Place::OnSpread(0), Pt(36, 36, 144, 576));
    b.Story({box}).Para(f.basics.normal).Text(text, f.basics.body).End();
}

// What an export turns into a Book: three layouts, masters, chains, an anchored and a turned
// box, a hidden layer, faces, fonts of several scripts, special characters and hidden runs.
std::string Export()
{
    DocBuilder b;
    const ExportFormats f = AddExportTables(b);
    ExportPrintLayout(b, f);
    ExportOtherLayout(b, f, "Web", "XWEB", u"Text of the web layout");
    ExportOtherLayout(b, f, "Print 2", "XDOC", u"Text of the second print layout");
    b.CurrentLayout(0);
    return b.Bytes();
}

// Anchored boxes in every layout: two print layouts and a web layout, each with a story that
// runs through two linked boxes and holds anchored text boxes (two side by side in one paragraph,
// one in the paragraph behind), and a loose story beside it; the second print layout is current.
std::string AnchoredLayouts()
{
    DocBuilder b;
    const Basics s = AddBasics(b);
    const char* names[] = {"Print A", "Web", "Print B"};
    for (const char* name : names) {
        const std::u16string layout(name, name + std::string(name).size());
        if (std::string(name) == "Web")
            b.Layout(name, pt(800), pt(600), pt(0), "XWEB");
        else
            Letter(b, name);
        b.Page(0);
        const Place page = Place::OnSpread(0);
        const uint32_t first = b.TextBox(page, Pt(36, 36, 200, 300));
        const uint32_t second = b.TextBox(page, Pt(212, 36, 376, 300));
        std::vector<uint32_t> anchored;
        int32_t width = 120;
        for (const char16_t* caption : {u"First caption of ", u"Second caption of ", u"Note of "}) {
            anchored.push_back(b.TextBox(Place::Loose_(), Pt(0, 0, 24, width)));
            b.Story({anchored.back()}).Text(caption + layout, s.italic).End();
            width += 12;
        }
        b.Story({first, second})
            .Para(s.head)
            .Text(u"Heading of " + layout + u"\r", s.heading)
            .Para(s.normal)
            .Text(u"Two boxes ", s.body)
            .Anchor(anchored[0], s.body)
            .Text(u" side by side ", s.body)
            .Anchor(anchored[1], s.body)
            .Text(u" in one paragraph.\rOne more ", s.body)
            .Anchor(anchored[2], s.body)
            .Text(u" in the paragraph behind, and its end.", s.body)
            .End();
        const uint32_t beside = b.TextBox(page, Pt(36, 312, 376, 576));
        b.Story({beside}).Para(s.normal).Text(u"Beside the chain of " + layout + u".", s.body).End();
    }
    b.CurrentLayout(2);
    return b.Bytes();
}

const std::map<std::string, std::function<std::string()>>& Builders()
{
    static const std::map<std::string, std::function<std::string()>> builders = {
        {"minimal", Minimal},   {"two-page-linked", TwoPageLinked}, {"mapping", Mapping},
        {"masters", Masters},   {"layouts", Layouts},               {"mac-origin", MacOrigin},
        {"export", Export},     {"anchored-layouts", AnchoredLayouts},
    };
    return builders;
}

// Replaces the one occurrence of `from`; the damaged examples are edits of a good file.
std::string Edit(std::string text, const std::string& from, const std::string& to)
{
    const auto at = text.find(from);
    if (at == std::string::npos || text.find(from, at + 1) != std::string::npos)
        throw std::logic_error("damaged example: no single \"" + from + "\"");
    return text.replace(at, from.size(), to);
}

}  // namespace

std::vector<std::string> ExampleNames()
{
    std::vector<std::string> names = {"minimal", "two-page-linked", "mapping", "masters", "layouts", "mac-origin"};
    for (const auto& name : FlowExampleNames())
        names.push_back(name);
    names.push_back("hidden");
    names.push_back("export");
    names.push_back("characters");
    for (const auto& name : GroupExampleNames())
        names.push_back(name);
    for (const auto& name : ParagraphExampleNames())
        names.push_back(name);
    for (const auto& name : RunFormatsExampleNames())
        names.push_back(name);
    names.push_back("directory");
    names.push_back("anchored-layouts");
    return names;
}

std::string ExampleFileName(const std::string& name)
{
    return name + (name == "mac-origin" || name == "run-formats-mac" ? ".qxd" : ".qxp");
}

std::string BuildExample(const std::string& name)
{
    const auto flow = FlowExampleNames();
    if (std::find(flow.begin(), flow.end(), name) != flow.end())
        return BuildFlowExample(name);
    if (name == "hidden")
        return BuildHiddenExample();
    if (name == "characters")
        return BuildCharactersExample();
    if (name == "directory")
        return BuildDirectoryExample();
    const auto groups = GroupExampleNames();
    if (std::find(groups.begin(), groups.end(), name) != groups.end())
        return BuildGroupExample(name);
    const auto paragraphs = ParagraphExampleNames();
    if (std::find(paragraphs.begin(), paragraphs.end(), name) != paragraphs.end())
        return BuildParagraphExample(name);
    const auto runFormats = RunFormatsExampleNames();
    if (std::find(runFormats.begin(), runFormats.end(), name) != runFormats.end())
        return BuildRunFormatsExample(name);
    return Builders().at(name)();
}

std::vector<DamagedExample> DamagedExamples()
{
    const std::string good = TwoPageLinked();
    std::string deep = "{\"format\": ";
    for (int i = 0; i < 100; ++i)
        deep += "[";
    for (int i = 0; i < 100; ++i)
        deep += "]";
    deep += "}\n";
    return {
        {"truncated.qxp", good.substr(0, good.find("\"stories\"") + 40), "layouts[0].stories[0].boxes"},
        {"version-2.qxp", Edit(good, "\"version\": 1,", "\"version\": 2,"), "version"},
        {"unknown-key.qxp", Edit(good, "{\"uid\": 1, \"kind\"", "{\"uid\": 1, \"colour_space\": 1, \"kind\""),
         "layouts[0].boxes[0].colour_space"},
        {"duplicate-key.qxp", Edit(good, "{\"uid\": 1, \"kind\"", "{\"uid\": 1, \"uid\": 1, \"kind\""),
         "layouts[0].boxes[0].uid"},
        {"runs-short.qxp", Edit(good, "[1, 13]]", "[1, 12]]"), "layouts[0].stories[1].char_runs"},
        {"object-over-cr.qxp", Edit(good, "{\"at\": 18, \"len\": 3", "{\"at\": 12, \"len\": 3"),
         "layouts[0].stories[1].objects[0]"},
        {"chain-cycle.qxp", Edit(good, "\"boxes\": [3, 5]", "\"boxes\": [3, 5, 3]"),
         "layouts[0].stories[1].boxes[2]"},
        {"two-owners.qxp", Edit(good, "{\"pages\": [1], \"items\": [5]}", "{\"pages\": [1], \"items\": [5, 3]}"),
         "layouts[0].spreads[1].items[1]"},
        {"uid-0.qxp", Edit(good, "{\"uid\": 1, \"kind\"", "{\"uid\": 0, \"kind\""), "layouts[0].boxes[0].uid"},
        {"nesting.qxp", deep, "format[0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0]"},
    };
}

std::string LongDocument(bool keyed)
{
    DocBuilder b;
    const int32_t cf = b.CharFormat(b.DejaVuBlack(1, 12 << 16));
    ParaFormat normal;
    normal.style = 1;
    b.StyleSheet(1, "Normal", cf, b.ParaFormat(normal));
    b.Layout("Layout 1", 612 << 16, 792 << 16, 36 << 16);
    for (int page = 0; page < 200; ++page) {
        const int32_t spread = b.Page(0);
        for (int i = 0; i < 10; ++i) {
            const int32_t top = (36 + i * 70) << 16;
            const uint32_t box = b.TextBox(Place::OnSpread(spread), Rect{top, 36 << 16, top + (60 << 16), 576 << 16});
            if (keyed)
                b.PrivateData(box, kLinkIdKey, {0, 0, uint8_t(page), uint8_t(i)});
            b.Story({box})
                .Text(u"Paragraph " + std::u16string(1, u'A' + i) + u" of a long document, with some text.\r", cf)
                .Text(u"A second paragraph.", cf)
                .End();
        }
    }
    return b.Bytes();
}

}  // namespace xthost::doc
