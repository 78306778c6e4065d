#include "platform/host/documents/testing/HiddenExample.h"

#include "platform/host/documents/testing/DocBuilder.h"

namespace xthost::doc {

namespace {

constexpr int32_t pt(int32_t points) { return points * 65536; }

// Paren kinds: an opening paren has type bits 0x40, its partner 0x20.
constexpr uint32_t kNestOpen = 0x45, kNestClose = 0x25;
constexpr uint32_t kSibOpen = 0x46, kSibClose = 0x26;
constexpr uint32_t kLoneClose = 0x27;

struct Built {
    std::string bytes;
    HiddenLayout at;
};

Built Build()
{
    DocBuilder b;
    b.Font(1, "DejaVu Sans").Colour(1, "Black", 0x000000).Colour(2, "Red", 0xFF0000);
    CharFormat body;
    body.font = 1;
    body.size = pt(12);
    body.colour = 1;
    const int32_t text = b.CharFormat(body);
    CharFormat tagged = body;
    tagged.tag = 0x00414B42;  // the module's tag: a tag run of kind 0x414B4200
    const int32_t tag = b.CharFormat(tagged);
    ParaFormat normal;
    normal.style = 1;
    const int32_t para = b.ParaFormat(normal);
    ParaFormat indented = normal;
    indented.leftIndent = pt(18);
    const int32_t indent = b.ParaFormat(indented);
    b.StyleSheet(1, "Normal", text, para);
    b.Layout("Layout 1", pt(612), pt(792), pt(36));
    b.Page(0);
    const uint32_t box = b.TextBox(Place::OnSpread(0), {pt(36), pt(36), pt(756), pt(576)});
    const uint32_t item1 = b.PictureBox(Place::Loose_(), {0, 0, pt(20), pt(20)});
    const uint32_t item2 = b.PictureBox(Place::Loose_(), {0, 0, pt(20), pt(20)});

    HiddenLayout at{};
    at.storyBox = box;
    int32_t pos = 0;
    StoryBuilder s = b.Story({box});
    auto add = [&](const std::u16string& chars, int32_t format = 0) {
        s.Text(chars, format ? format : text);
        pos += static_cast<int32_t>(chars.size());
    };
    auto hidden = [&](uint32_t kind, const std::string& data, uint32_t value = 0) {
        s.Hidden(kind, data, text, value);
        const int32_t here = pos;
        pos += 1 + static_cast<int32_t>(data.size());
        return here;
    };
    s.Para(para);
    // A nested pair: the outer opening paren's partner is the last closing one.
    add(u"Nested ");
    at.nestedOuterOpen = hidden(kNestOpen, "o1");
    add(u"a ");
    at.nestedInnerOpen = hidden(kNestOpen, "i1");
    add(u"b");
    at.nestedInnerClose = hidden(kNestClose, "i2");
    add(u" c");
    at.nestedOuterClose = hidden(kNestClose, "o2");
    add(u"\r");
    // Sibling pairs inside an outer pair: ( ( ) ( ) ).
    add(u"Siblings ");
    at.siblingOpen[0] = hidden(kSibOpen, "S");
    at.siblingOpen[1] = hidden(kSibOpen, "A");
    add(u"one");
    at.siblingClose[1] = hidden(kSibClose, "a");
    at.siblingOpen[2] = hidden(kSibOpen, "B");
    add(u"two");
    at.siblingClose[2] = hidden(kSibClose, "b");
    at.siblingClose[0] = hidden(kSibClose, "s");
    add(u"\r");
    // A closing paren with no opening one before it.
    s.Para(indent);
    add(u"Unmatched ");
    at.unmatchedClose = hidden(kLoneClose, "x");
    add(u" close\r");
    // Two anchored items with equal text and different values.
    s.Para(para);
    add(u"Items ");
    auto one = [&](StoryBuilder&) { ++pos; };  // an object run of one character
    one(s.Anchor(item1, text, 7));
    add(u" and ");
    one(s.Anchor(item2, text, 8));
    add(u"\r");
    // Page numbers: current, last and next.
    add(u"Page ");
    one(s.PageNumber(6, text));
    add(u" of ");
    one(s.PageNumber(5, text));
    add(u", next ");
    one(s.PageNumber(7, text));
    add(u"\r");
    // A unique id and one that does not parse.
    add(u"Id ");
    at.uniq = pos;
    s.Uniq(42, text);
    pos += 9;
    add(u" bad ");
    at.badUniq = hidden(0x88, "  4x2 ab");
    add(u"\r");
    // The module's tag run.
    add(u"Plain ");
    add(u"tagged", tag);
    add(u" plain\r");
    // Control characters: indent here, a hyphenation point, tab, column and box breaks.
    add(u"a\x1E" u"b\x1C" u"c\td\x0B" u"e\x0C" u"f");
    s.End();
    return Built{b.Bytes(), at};
}

}  // namespace

std::string BuildHiddenExample() { return Build().bytes; }
HiddenLayout HiddenExampleLayout() { return Build().at; }

}  // namespace xthost::doc
