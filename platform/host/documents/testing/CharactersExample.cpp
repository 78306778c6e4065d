#include "platform/host/documents/testing/CharactersExample.h"

#include "platform/host/documents/testing/DocBuilder.h"

namespace xthost::doc {

namespace {

constexpr int32_t pt(int32_t points) { return points * 65536; }

// A format like the given one, changed.
template <class Format, class Change>
Format With(Format format, Change change)
{
    change(format);
    return format;
}

}  // namespace

// Two stories. The first holds the special spaces and dashes, a non-breaking hyphen, the
// host's own flex space and a run whose character format has the high flag, with spaces and
// hyphens in it. The second holds paragraphs whose formats differ from the formatting
// samples': a heading, a right-to-left paragraph and paragraphs with second style ids.
std::string BuildCharactersExample()
{
    DocBuilder b;
    b.Font(1, "DejaVu Sans").Font(2, "Hebrew Sans", 5).Colour(1, "White", 0xFFFFFF).Colour(2, "Black", 0x000000);
    CharFormat body;
    body.font = 1;
    body.size = pt(12);
    body.colour = 2;
    auto character = [&b, &body](auto change) { return b.CharFormat(With(body, change)); };
    const int32_t text = b.CharFormat(body);
    const int32_t high = character([](CharFormat& c) { c.high = 128; });
    const int32_t heading = character([](CharFormat& c) { c.face = 1, c.size = pt(18); });
    const int32_t note = character([](CharFormat& c) { c.face = 2; });
    const int32_t rtlText = character([](CharFormat& c) { c.font = 2; });

    ParaFormat normal;
    normal.style = 1;
    normal.spaceAfter = pt(6);
    auto paragraph = [&b, &normal](auto change) { return b.ParaFormat(With(normal, change)); };
    auto heads = [](ParaFormat& p) { p.style = 2, p.spaceAfter = pt(12), p.align = Align::Center; };
    const int32_t plain = b.ParaFormat(normal);
    const int32_t headPara = paragraph(heads);
    const int32_t remarkPara = paragraph([](ParaFormat& p) { p.style = 3; });
    const int32_t rtlPara = paragraph([](ParaFormat& p) { p.direction = Direction::Rtl, p.align = Align::Right; });
    const int32_t secondPara = paragraph([](ParaFormat& p) { p.style2 = 3; });
    const int32_t headSecondPara = paragraph([&heads](ParaFormat& p) { heads(p), p.style2 = 3, p.align = Align::Justify; });
    b.StyleSheet(1, "Normal", text, plain).StyleSheet(2, "Heading", heading, headPara).StyleSheet(3, "Remark", note, remarkPara);

    b.Layout("Layout 1", pt(612), pt(792), pt(36));
    b.Page(0);
    const uint32_t characters = b.TextBox(Place::OnSpread(0), {pt(36), pt(36), pt(400), pt(576)});
    const uint32_t paragraphs = b.TextBox(Place::OnSpread(0), {pt(420), pt(36), pt(756), pt(576)});
    b.Story({characters})
        .Para(plain)
        .Text(u"Non\u2011breaking hyphen, en quad a\u2000b, em quad c\u2001d, flex e\x0F" u"f.\r", text)
        .Text(u"Spaces: en\u2002em\u2003three\u2004four\u2005six\u2006figure\u2007punctuation\u2008thin\u2009"
              u"hair\u200Anarrow\u202Fno\u00A0break.\r",
              text)
        .Text(u"Dashes: a\u2010b c\u2013d e\u2014f g\u2015h, soft\u00ADhyphen.\r", text)
        .Text(u"Flagged: ", text)
        .Text(u"one two-three four", high)
        .Text(u" plain.", text)
        .End();
    b.Story({paragraphs})
        .Para(headPara)
        .Text(u"A heading\r", heading)
        .Para(rtlPara)
        .Text(u"\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD\r", rtlText)
        .Para(secondPara)
        .Text(u"A paragraph with a second style\r", text)
        .Para(headSecondPara)
        .Text(u"A heading with a second style\r", heading)
        .Para(plain)
        .Text(u"A plain paragraph.", text)
        .End();
    return b.Bytes();
}

}  // namespace xthost::doc
