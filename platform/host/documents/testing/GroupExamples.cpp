// The examples "groups" and "current-layout", built in code.
#include "platform/host/documents/testing/GroupExamples.h"

#include <functional>
#include <map>
#include <stdexcept>

#include "platform/host/documents/testing/DocBuilder.h"

namespace xthost::doc {

namespace {

constexpr int32_t pt(int32_t points) { return points * 65536; }
Rect Pt(int32_t top, int32_t left, int32_t bottom, int32_t right)
{
    return Rect{pt(top), pt(left), pt(bottom), pt(right)};
}

// One font, black, and the style sheet "Normal"; answers the body's character format.
int32_t Tables(DocBuilder& b)
{
    const int32_t body = b.CharFormat(b.DejaVuBlack(2, pt(11)));
    ParaFormat normal;
    normal.style = 1;
    normal.spaceAfter = pt(4);
    b.StyleSheet(1, "Normal", body, b.ParaFormat(normal));
    return body;
}

struct GroupsBuild {
    std::string bytes;
    GroupsLayout layout;
};

// A product catalogue: every product's texts sit in a group, one of them nested, the last
// item of the second page is a group, master page A (used) holds a group that each page
// copies, master page B (unused) holds a group with a nested one, a story anchors a group of
// two captions, and a story runs from a group member into a loose box on the next page.
GroupsBuild Groups()
{
    DocBuilder b;
    const int32_t body = Tables(b);
    b.Layout("Catalogue", pt(612), pt(792), pt(36));
    GroupsBuild out;
    GroupsLayout& g = out.layout;
    auto text = [&](Place place, const Rect& bounds, const std::u16string& content) {
        const uint32_t box = b.TextBox(place, bounds);
        b.Story({box}).Text(content, body).End();
        return box;
    };

    b.Master("A-Master A");
    b.Master("B-Master B");
    text(Place::OnMaster(1), Pt(18, 36, 30, 576), u"Catalogue header");
    const uint32_t footer = text(Place::Loose_(), Pt(740, 36, 756, 400), u"Footer in a group");
    b.Group(Place::OnMaster(1), {footer, b.PictureBox(Place::Loose_(), Pt(740, 412, 756, 576))});
    const uint32_t masterText = text(Place::Loose_(), Pt(40, 36, 80, 576), u"Text of a group on an unused master");
    const uint32_t masterNested = text(Place::Loose_(), Pt(90, 36, 130, 300), u"Text of a nested group on it");
    const uint32_t masterPicture = b.PictureBox(Place::Loose_(), Pt(90, 312, 130, 576));
    const uint32_t masterInner = b.Group(Place::Loose_(), {masterNested, masterPicture});
    const uint32_t masterGroup = b.Group(Place::OnMaster(2), {masterText, masterInner});
    g.masterWalk = {masterGroup, masterText, masterInner, masterNested, masterPicture};

    b.Page(1);
    b.Page(1);
    // Each page copies master A's header and its group with the group's members.
    const uint32_t header1 = b.Current().spreads[0].items[0], footerGroup1 = b.Current().spreads[0].items[1];
    const uint32_t header2 = b.Current().spreads[1].items[0], footerGroup2 = b.Current().spreads[1].items[1];
    const std::vector<uint32_t> footer1 = b.BoxAt(footerGroup1).members, footer2 = b.BoxAt(footerGroup2).members;
    const Place page1 = Place::OnSpread(0), page2 = Place::OnSpread(1);

    const uint32_t title = text(page1, Pt(40, 36, 70, 576), u"Product catalogue");
    const uint32_t name1 = text(Place::Loose_(), Pt(80, 36, 100, 300), u"Espresso machine");
    const uint32_t price1 = text(Place::Loose_(), Pt(104, 36, 124, 300), u"Price: 249 EUR");
    const uint32_t picture1 = b.PictureBox(Place::Loose_(), Pt(80, 312, 124, 576));
    const uint32_t product1 = b.Group(page1, {name1, price1, picture1});

    const uint32_t name2 = text(Place::Loose_(), Pt(140, 36, 160, 300), u"Coffee grinder");
    const uint32_t price2 = text(Place::Loose_(), Pt(164, 36, 184, 300), u"Price: 89 EUR");
    const uint32_t note2 = text(Place::Loose_(), Pt(188, 36, 208, 300), u"Burr grinder with forty settings");
    const uint32_t details2 = b.Group(Place::Loose_(), {price2, note2});
    const uint32_t product2 = b.Group(page1, {name2, details2});

    g.chainStart = b.TextBox(Place::Loose_(), Pt(220, 36, 260, 300));
    const uint32_t picture3 = b.PictureBox(Place::Loose_(), Pt(220, 312, 260, 576));
    const uint32_t feature = b.Group(page1, {g.chainStart, picture3});

    const uint32_t caption1 = text(Place::Loose_(), Pt(0, 0, 20, 120), u"Anchored caption one");
    const uint32_t caption2 = text(Place::Loose_(), Pt(24, 0, 44, 120), u"Anchored caption two");
    g.anchoredGroup = b.Group(Place::Loose_(), {caption1, caption2});
    const uint32_t anchorHost = b.TextBox(page1, Pt(280, 36, 380, 576));
    b.Story({anchorHost})
        .Text(u"Before the anchored group ", body)
        .Anchor(g.anchoredGroup, body)
        .Text(u" and after it.", body)
        .End();

    g.chainEnd = b.TextBox(page2, Pt(40, 36, 140, 576));
    b.Story({g.chainStart, g.chainEnd})
        .Text(u"A story that starts in a group member\rand goes on in a loose box on the next page.", body)
        .End();
    const uint32_t name3 = text(Place::Loose_(), Pt(160, 36, 180, 300), u"Milk frother");
    const uint32_t price3 = text(Place::Loose_(), Pt(184, 36, 204, 300), u"Price: 39 EUR");
    const uint32_t product3 = b.Group(page2, {name3, price3});

    g.walk[0] = {header1, footerGroup1, footer1[0], footer1[1], title,        product1, name1,     price1,
                 picture1, product2,     name2,      details2,   price2,       note2,    feature,   g.chainStart,
                 picture3, anchorHost};
    g.walk[1] = {header2, footerGroup2, footer2[0], footer2[1], g.chainEnd, product3, name3, price3};
    out.bytes = b.Bytes();
    return out;
}

const GroupsBuild& GroupsOnce()
{
    static const GroupsBuild build = Groups();
    return build;
}

// Three layouts; the middle one is current, and the last one holds no story to export, only a
// rule of dots and a picture.
std::string CurrentLayout()
{
    DocBuilder b;
    const int32_t body = Tables(b);
    const char* names[] = {"Cover", "Catalogue", "Back"};
    for (const char* name : names) {
        b.Layout(name, pt(612), pt(792), pt(36));
        b.Page(0);
        const uint32_t box = b.TextBox(Place::OnSpread(0), Pt(36, 36, 144, 576));
        const std::string n(name);
        b.Story({box})
            .Text(n == "Back" ? u"...................." : u"Text of the layout " + std::u16string(n.begin(), n.end()),
                  body)
            .End();
    }
    b.PictureBox(Place::OnSpread(0), Pt(160, 36, 400, 576));
    b.CurrentLayout(1);
    return b.Bytes();
}

}  // namespace

std::vector<std::string> GroupExampleNames() { return {"groups", "current-layout"}; }

std::string BuildGroupExample(const std::string& name)
{
    if (name == "groups")
        return GroupsOnce().bytes;
    if (name == "current-layout")
        return CurrentLayout();
    throw std::out_of_range("no group example " + name);
}

GroupsLayout GroupsExampleLayout() { return GroupsOnce().layout; }

}  // namespace xthost::doc
