#include "platform/host/documents/testing/RunFormatsExample.h"

#include <stdexcept>

#include "platform/host/documents/testing/DocBuilder.h"

namespace xthost::doc {

namespace {

constexpr int32_t pt(int32_t points) { return points * 65536; }

// Font 1 "DejaVu Sans", colour 2 "Black", the style sheet 1 "Normal" in them and the layout
// "Layout 1"; answers the character format of "Normal".
int32_t Tables(DocBuilder& b)
{
    const int32_t body = b.CharFormat(b.DejaVuBlack(2, pt(12)));
    ParaFormat para;
    para.style = 1;
    b.StyleSheet(1, "Normal", body, b.ParaFormat(para));
    b.Layout("Layout 1", pt(612), pt(792), pt(36));
    return body;
}

// The story of one text box on a new page, in the paragraph format of "Normal".
StoryBuilder OneStory(DocBuilder& b, int32_t bottom)
{
    ParaFormat para;
    para.style = 1;
    const int32_t normal = b.ParaFormat(para);
    b.Page(0);
    const uint32_t box = b.TextBox(Place::OnSpread(0), Rect{pt(36), pt(36), pt(bottom), pt(576)});
    StoryBuilder story = b.Story({box});
    story.Para(normal);
    return story;
}

// One story whose paragraphs share one paragraph format, so one formatting sample serves every
// run: the first run, a dingbat with the high flag in a Pantone colour.
std::string RunFormats()
{
    DocBuilder b;
    const int32_t body = Tables(b);
    b.Font(2, "Dingbats").Font(3, "Bodoni \xD0\xA1\xD1\x82\xD0\xB0\xD1\x80\xD1\x8B\xD0\xB9 "
                                  "\xD0\xA1\xD1\x82\xD0\xB8\xD0\xBB\xD1\x8C", 7);
    b.Font(4, "Garamond Caf\xC3\xA9 \xE2\x84\xA2");
    b.Colour(3, "Headline Blue", 0x1F4E9C)
        .Colour(4, "Process Cyan", 0x00A0E0, "QCMK")
        .Colour(5, "PANTONE 186 C", 0xC8102E, "PnHx")
        .Colour(6, "Lab Green", 0x2E8B57, "QLAB")
        .Colour(7, "Signal Red", 0xFF0000);
    const CharFormat black = *b.Model().charFormats.Find(body);
    auto with = [&b, &black](auto change) {
        CharFormat c = black;
        change(c);
        return b.CharFormat(c);
    };
    const int32_t dingbat = with([](CharFormat& c) { c.font = 2; c.high = 128; c.colour = 5; });
    const int32_t headline = with([](CharFormat& c) { c.size = pt(18); c.face = 0x0001; c.colour = 3; });
    const int32_t red = with([](CharFormat& c) { c.colour = 7; });
    const int32_t cyan = with([](CharFormat& c) { c.colour = 4; });
    const int32_t pantone = with([](CharFormat& c) { c.colour = 5; });
    const int32_t lab = with([](CharFormat& c) { c.colour = 6; });
    const int32_t raised = with([](CharFormat& c) { c.shift = pt(3); });
    const int32_t lowered = with([](CharFormat& c) { c.shift = -pt(2); });
    const int32_t missing = with([](CharFormat& c) { c.font = 77; });  // no font 77 in the list
    const int32_t cyrillic = with([](CharFormat& c) { c.font = 3; });
    const int32_t latin = with([](CharFormat& c) { c.font = 4; c.colour = 7; });
    OneStory(b, 500)
        .Text(u"\u2709 ", dingbat)
        .Text(u"Blue headline\r", headline)
        .Text(u"Black text that stays black, ", body)
        .Text(u"red words, ", red)
        .Text(u"cyan process, ", cyan)
        .Text(u"spot Pantone, ", pantone)
        .Text(u"green Lab\r", lab)
        .Text(u"Baseline ", body)
        .Text(u"raised", raised)
        .Text(u" and ", body)
        .Text(u"lowered", lowered)
        .Text(u" text\r", body)
        .Text(u"Typefaces: ", body)
        .Text(u"lost typeface", missing)
        .Text(u", ", body)
        .Text(u"cyrillic name", cyrillic)
        .Text(u", ", body)
        .Text(u"latin name\r", latin)
        .Text(u"\u2709 ", dingbat)
        .Text(u"Mac address block, Cupertino", body)
        .End();
    return b.Bytes();
}

// Made on a Macintosh: single-byte fonts whose names go out through Mac Roman, one of them with
// characters Mac Roman lacks, and a multibyte font, each after a first run in another font.
std::string RunFormatsMac()
{
    DocBuilder b(/*mac=*/true);
    const int32_t body = Tables(b);
    b.Font(2, "Garamond Caf\xC3\xA9 \xE2\x84\xA2");
    b.Font(3, "Bodoni \xD0\xA1\xD1\x82\xD0\xB0\xD1\x80\xD1\x8B\xD0\xB9 \xD0\xA1\xD1\x82\xD0\xB8\xD0\xBB\xD1\x8C", 7);
    b.Font(4, "Mincho \xE6\x98\x8E\xE6\x9C\x9D", 1);
    b.Colour(3, "Signal Red", 0xFF0000);
    const CharFormat black = *b.Model().charFormats.Find(body);
    auto font = [&b, &black](int16_t id) {
        CharFormat c = black;
        c.font = id;
        c.colour = 3;
        return b.CharFormat(c);
    };
    OneStory(b, 300)
        .Text(u"Fonts made on a Macintosh: ", body)
        .Text(u"latin name", font(2))
        .Text(u", ", body)
        .Text(u"cyrillic name", font(3))
        .Text(u", ", body)
        .Text(u"japanese name", font(4))
        .End();
    return b.Bytes();
}

}  // namespace

std::vector<std::string> RunFormatsExampleNames() { return {"run-formats", "run-formats-mac"}; }

std::string BuildRunFormatsExample(const std::string& name)
{
    if (name == "run-formats")
        return RunFormats();
    if (name == "run-formats-mac")
        return RunFormatsMac();
    throw std::out_of_range("no example " + name);
}

}  // namespace xthost::doc
