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

// One story whose paragraphs share one paragraph format, so that runs of one paragraph run value
// differ in their character formats; the first run is a dingbat with the high flag in a Pantone
// colour.
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

// Character formats that differ in fields the Book does not carry, set in one paragraph format
// per story so that only each run's own formatting sample can bring them back; in two layouts,
// so that each layout needs the samples of its own.
std::string Fidelity()
{
    DocBuilder b;
    const int32_t body = Tables(b);
    b.Font(2, "Dingbats")
        .Font(3, "Naskh Arabic", 4)
        .Font(4, "Hebrew Sans", 5)
        .Font(5, "Song Ti", 25)
        .Font(6, "Batang", 3);
    const CharFormat black = *b.Model().charFormats.Find(body);
    auto with = [&b, &black](auto change) {
        CharFormat c = black;
        change(c);
        return b.CharFormat(c);
    };
    // The language in the low byte, the script in the third.
    auto scriptLang = [](uint32_t script, uint32_t language) { return script << 16 | language; };
    const int32_t german = with([&](CharFormat& c) { c.scriptLang = scriptLang(0, 2); });
    const int32_t french = with([&](CharFormat& c) { c.scriptLang = scriptLang(0, 1); });
    const int32_t setOne = with([](CharFormat& c) { c.high = 1; });
    const int32_t flagged = with([](CharFormat& c) { c.high = 128; });
    const int32_t extra = with([](CharFormat& c) { c.extra = 0x0102; });
    const int32_t superscript = with([](CharFormat& c) { c.face = 0x0020; });
    const int32_t subscript = with([](CharFormat& c) { c.face = 0x0040; });
    const int32_t superior = with([](CharFormat& c) { c.face = 0x0100; });
    const int32_t small = with([](CharFormat& c) { c.size = pt(9) + pt(1) / 4; });      // 9.25 pt
    const int32_t between = with([](CharFormat& c) { c.size = pt(11) + 3 * pt(1) / 4; });  // 11.75 pt
    const int32_t arabic = with([&](CharFormat& c) { c.font = 3; c.scriptLang = scriptLang(4, 12); });
    const int32_t hebrew = with([&](CharFormat& c) { c.font = 4; c.scriptLang = scriptLang(5, 10); });
    const int32_t chinese = with([&](CharFormat& c) { c.font = 5; c.scriptLang = scriptLang(25, 33); });
    const int32_t korean = with([&](CharFormat& c) { c.font = 6; c.scriptLang = scriptLang(3, 23); });
    const int32_t dingbat = with([](CharFormat& c) { c.font = 2; c.high = 128; });
    // What the round trip changes on purpose: both caps kinds, both underline kinds, position
    // bits the position styles have no row for, a baseline shift between half points.
    const int32_t bothCaps = with([](CharFormat& c) { c.face = 0x0C00; });
    const int32_t bothUnderlines = with([](CharFormat& c) { c.face = 0x1004; });
    const int32_t bothPositions = with([](CharFormat& c) { c.face = 0x0060; });
    const int32_t shifted = with([](CharFormat& c) { c.shift = pt(1) + 3 * pt(1) / 10; });  // 1.3 pt
    ParaFormat para;
    para.style = 1;
    const int32_t normal = b.ParaFormat(para);
    para.style2 = 9;  // no style sheet has this id
    const int32_t loneSecond = b.ParaFormat(para);
    para.style2 = -1;
    para.direction = Direction::Rtl;
    para.align = Align::Right;
    const int32_t rtl = b.ParaFormat(para);

    const std::u16string kArabic = u"\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645";
    const std::u16string kHebrew = u"\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD";
    const std::u16string kChinese = u"\u4F60\u597D \u4E16\u754C";
    const std::u16string kKorean = u"\uC548\uB155\uD558\uC138\uC694 \uC138\uACC4";
    const std::u16string kDingbats = u"\u2713 \u2713-\u2717 - \u2714 \u2718";

    // The first layout: a typography sampler, the world's scripts and a dingbat run, a story each.
    b.Page(0);
    const uint32_t sampler = b.TextBox(Place::OnSpread(0), Rect{pt(36), pt(36), pt(250), pt(576)});
    const uint32_t scripts = b.TextBox(Place::OnSpread(0), Rect{pt(260), pt(36), pt(480), pt(576)});
    const uint32_t dingbats = b.TextBox(Place::OnSpread(0), Rect{pt(490), pt(36), pt(600), pt(576)});
    b.Story({sampler})
        .Para(normal)
        .Text(u"Typography sampler: plain, ", body)
        .Text(u"auf Deutsch, ", german)
        .Text(u"en fran\u00E7ais, ", french)
        .Text(u"character set one, ", setOne)
        .Text(u"flagged set, ", flagged)
        .Text(u"with an extra word, ", extra)
        .Text(u"x", body)
        .Text(u"2", superscript)
        .Text(u" and H", body)
        .Text(u"2", subscript)
        .Text(u"O and 1", body)
        .Text(u"st", superior)
        .Text(u", ", body)
        .Text(u"small print at nine and a quarter, ", small)
        .Text(u"larger at eleven and three quarters", between)
        .Text(u".", body)
        .End();
    b.Story({scripts})
        .Para(rtl)
        .Text(kArabic + u"\r", arabic)
        .Text(kHebrew + u"\r", hebrew)
        .Para(normal)
        .Text(kChinese + u"\r", chinese)
        .Text(kKorean, korean)
        .End();
    b.Story({dingbats}).Para(normal).Text(u"Checks: ", body).Text(kDingbats, dingbat).Text(u" done.", body).End();

    // The second layout: the same kinds of runs side by side in single paragraphs.
    b.Layout("Layout 2", pt(612), pt(792), pt(36));
    b.Page(0);
    const uint32_t mixed = b.TextBox(Place::OnSpread(0), Rect{pt(36), pt(36), pt(300), pt(576)});
    const uint32_t side = b.TextBox(Place::OnSpread(0), Rect{pt(320), pt(36), pt(500), pt(576)});
    b.Story({mixed})
        .Para(normal)
        .Text(u"Second layout: E = mc", body)
        .Text(u"2", superscript)
        .Text(u", CO", body)
        .Text(u"2", subscript)
        .Text(u", ", body)
        .Text(kDingbats, dingbat)
        .Text(u", ", body)
        .Text(u"fine print", small)
        .Text(u", ", body)
        .Text(u"Sprache", german)
        .Text(u", ", body)
        .Text(u"set one", setOne)
        .Text(u", ", body)
        .Text(u"extra", extra)
        .Text(u".", body)
        .End();
    b.Story({side})
        .Para(rtl)
        .Text(kArabic + u" ", arabic)
        .Text(kHebrew + u"\r", hebrew)
        .Para(normal)
        .Text(kChinese + u" ", chinese)
        .Text(kKorean + u"\r", korean)
        .Para(loneSecond)
        .Text(u"Changed on purpose: ", body)
        .Text(u"both caps", bothCaps)
        .Text(u", ", body)
        .Text(u"both underlines", bothUnderlines)
        .Text(u", ", body)
        .Text(u"up and down", bothPositions)
        .Text(u", ", body)
        .Text(u"shifted by 1.3 pt", shifted)
        .Text(u".", body)
        .End();
    b.CurrentLayout(0);
    return b.Bytes();
}

}  // namespace

std::vector<std::string> RunFormatsExampleNames() { return {"run-formats", "run-formats-mac", "fidelity"}; }

std::string BuildRunFormatsExample(const std::string& name)
{
    if (name == "run-formats")
        return RunFormats();
    if (name == "run-formats-mac")
        return RunFormatsMac();
    if (name == "fidelity")
        return Fidelity();
    throw std::out_of_range("no example " + name);
}

}  // namespace xthost::doc
