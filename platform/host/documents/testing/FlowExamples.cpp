// The example documents of text flow and PDF output, built in code so that a test can rebuild
// them and compare byte for byte. Their lines are worked out by hand in the tests: 12 pt text
// in a font of advance 1000 sets letters 6 pt wide, spaces 3 pt and lines 14.4 pt high.
#include "platform/host/documents/testing/FlowExamples.h"

#include <functional>
#include <map>
#include <stdexcept>

#include "platform/host/documents/testing/DocBuilder.h"

namespace xthost::doc {

namespace {

constexpr int32_t pt(int32_t points) { return points * 65536; }
Rect Pt(int32_t top, int32_t left, int32_t bottom, int32_t right) { return Rect{pt(top), pt(left), pt(bottom), pt(right)}; }
constexpr int32_t kLine12 = 943718;  // (6 x 12 pt + 2) / 5 in 16.16
// A box whose text area is 10 letters wide and one 12 pt line high.
Rect OneLine(int32_t top) { return Rect{pt(top), pt(36), pt(top) + 2 * 65536 + kLine12, pt(98)}; }

struct Tables {
    int32_t body = 0, plain = 0, spaced = 0;
};

Tables Basics(DocBuilder& b)
{
    b.Font(1, "DejaVu Sans").Colour(1, "White", 0xFFFFFF).Colour(2, "Black", 0x000000);
    Tables t;
    CharFormat body;
    body.font = 1;
    body.size = pt(12);
    body.colour = 2;
    t.body = b.CharFormat(body);
    ParaFormat plain;
    plain.style = 1;
    t.plain = b.ParaFormat(plain);
    ParaFormat spaced = plain;
    spaced.spaceAfter = pt(6);
    t.spaced = b.ParaFormat(spaced);
    b.StyleSheet(1, "Normal", t.body, t.plain);
    b.SetNormalPara(t.plain);
    return t;
}

std::string Overflow()
{
    DocBuilder b;
    const Tables t = Basics(b);
    b.Layout("Layout 1", pt(612), pt(792), pt(36));
    b.Page(0);
    const Place page = Place::OnSpread(0);
    auto text = [&](uint32_t box, const std::u16string& s, int32_t para) { b.Story({box}).Para(para).Text(s, t.body).End(); };

    text(b.TextBox(page, OneLine(36)), u"abcdefghij", t.plain);   // an exact fit
    text(b.TextBox(page, OneLine(60)), u"abcdefghijk", t.plain);  // one character more
    const uint32_t a = b.TextBox(page, OneLine(84));
    const uint32_t c = b.TextBox(page, OneLine(108));
    b.Story({a, c}).Para(t.plain).Text(u"aaaa bbbb cccc dddd eeee", t.body).End();

    const std::u16string longText = u"one paragraph that runs on and on past the box";
    text(b.TextBox(page, Pt(140, 500, 172, 612)), longText, t.plain);  // at the page's right edge
    BoxOptions runaround0;
    runaround0.runaround = 0;
    text(b.TextBox(page, Pt(180, 36, 210, 98), runaround0), longText, t.plain);
    BoxOptions noReflow;
    noReflow.noReflow = true;
    text(b.TextBox(page, Pt(215, 36, 245, 98), noReflow), longText, t.plain);
    BoxOptions locked;
    locked.savedWord = 1;
    text(b.TextBox(page, Pt(250, 36, 280, 98), locked), longText, t.plain);
    b.Story({b.TextBox(page, Pt(300, 36, 340, 200))})
        .Para(t.spaced)
        .Text(u"One\rTwo\rThree\rFour", t.body)
        .End();

    for (uint8_t shape : {uint8_t(10), uint8_t(11)}) {
        BoxOptions outline;
        outline.shape = shape;
        const int32_t top = shape == 10 ? 400 : 480;
        outline.outline = {{pt(top), pt(36)}, {pt(top), pt(236)}, {pt(top + 60), pt(136)}};
        text(b.TextBox(page, Pt(top, 36, top + 60, 236), outline), u"An outline box", t.plain);
    }
    return b.Bytes();
}

// One story per script; each box is 200 pt wide (text area 198 pt) and 100 pt high.
std::string Scripts()
{
    DocBuilder b;
    const Tables t = Basics(b);
    b.Font(20000, "DejaVu Sans", 1);       // a font id of the multibyte range
    b.Font(-12000, "DejaVu Serif", 2);     // a negative font id
    b.Font(3, "DejaVu Sans Mono");
    CharFormat wide;
    wide.font = 20000;
    wide.size = pt(12);
    wide.colour = 2;
    const int32_t cjk = b.CharFormat(wide);
    CharFormat serif = wide;
    serif.font = -12000;
    const int32_t greek = b.CharFormat(serif);
    CharFormat high = wide;
    high.font = 3;
    high.high = 1;
    const int32_t flagged = b.CharFormat(high);
    ParaFormat rtl;
    rtl.style = 1;
    rtl.direction = Direction::Rtl;
    const int32_t rtlPara = b.ParaFormat(rtl);
    b.Layout("Layout 1", pt(612), pt(792), pt(36));
    b.Page(0);
    b.Page(0);
    struct Sample {
        std::u16string text;
        int32_t format, para;
    };
    const Sample samples[] = {
        // Japanese: 19 wide characters; the full stop at 16 may not start a line.
        {u"\u65E5\u672C\u8A9E\u306E\u6587\u7AE0\u3067\u3059\u65E5\u672C\u8A9E\u306E\u6587\u7AE0"
         u"\u3067\u3059\u3002\u6F22\u5B57",
         cjk, t.plain},
        {u"\u7E41\u9AD4\u4E2D\u6587\u7684\u53E5\u5B50\u3002", cjk, t.plain},  // traditional Chinese
        {u"\u7B80\u4F53\u4E2D\u6587\u7684\u53E5\u5B50\u3002", cjk, t.plain},  // simplified Chinese
        {u"\uD55C\uAD6D\uC5B4 \uBB38\uC7A5\uC785\uB2C8\uB2E4.", cjk, t.plain},  // Korean
        {u"\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645", t.body, t.plain},  // Arabic
        {u"\u05E9\u05B8\u05C1\u05DC\u05D5\u05B9\u05DD \u05E2\u05D5\u05B9\u05DC\u05B8\u05DD", t.body, t.plain},  // Hebrew with points
        {u"\u05E9\u05DC\u05D5\u05DD Kesto \u05E2\u05D5\u05DC\u05DD", t.body, rtlPara},  // Hebrew mixed with Latin
        {u"\u039A\u03B1\u03BB\u03B7\u03BC\u03AD\u03C1\u03B1 \u03BA\u03CC\u03C3\u03BC\u03B5", greek, t.plain},
        {u"\u041F\u0440\u0438\u0432\u0435\u0442, \u043C\u0438\u0440", t.body, t.plain},  // Cyrillic
        // Thai without spaces: 44 characters of which 8 combine, set by width alone.
        {u"\u0E20\u0E32\u0E29\u0E32\u0E44\u0E17\u0E22\u0E40\u0E1B\u0E47\u0E19\u0E20\u0E32\u0E29\u0E32"
         u"\u0E17\u0E35\u0E48\u0E2A\u0E27\u0E22\u0E07\u0E32\u0E21\u0E21\u0E32\u0E01\u0E17\u0E35\u0E48"
         u"\u0E2A\u0E38\u0E14\u0E43\u0E19\u0E42\u0E25\u0E01\u0E19\u0E35\u0E49\u0E21\u0E32\u0E01",
         t.body, t.plain},
        {u"P\u0159\u00EDli\u0161 \u017Elu\u0165ou\u010Dk\u00FD k\u016F\u0148", t.body, t.plain},  // Central European
        {u"Ti\u1EBFng Vi\u1EC7t", t.body, t.plain},                                         // Vietnamese
        {u"T\u00FCrk\u00E7e \u0130stanbul \u011Fi\u015F", t.body, t.plain},                 // Turkish
        {u"\U00020BB7\U00020BB7 pair", cjk, t.plain},                                       // a surrogate pair
        {u"High flag font", flagged, t.plain},
        // Devanagari: a conjunct (sa, virama, ta) and a vowel sign drawn before its consonant.
        {u"\u0928\u092E\u0938\u094D\u0924\u0947 \u0926\u0941\u0928\u093F\u092F\u093E", t.body, t.plain},
    };
    int i = 0;
    for (const Sample& s : samples) {
        const int32_t spread = i < 10 ? 0 : 1;
        const int32_t k = i % 10;
        const int32_t top = 36 + (k / 2) * 140, left = 36 + (k % 2) * 276;
        const uint32_t box = b.TextBox(Place::OnSpread(spread), Pt(top, left, top + 100, left + 200));
        if (s.text.rfind(u"P\u0159", 0) == 0) {
            // Central European in three runs of the languages 41, 44 and 45.
            auto story = b.Story({box}).Para(s.para);
            size_t at = 0;
            for (const auto& [length, language] : {std::pair{size_t(7), 41u}, {size_t(9), 44u}, {size_t(3), 45u}}) {
                CharFormat f = *b.Model().charFormats.Find(s.format);
                f.scriptLang = language;
                story.Text(s.text.substr(at, length), b.CharFormat(f));
                at += length;
            }
            story.End();
        } else {
            b.Story({box}).Para(s.para).Text(s.text, s.format).End();
        }
        ++i;
    }
    return b.Bytes();
}

std::string Geometry()
{
    DocBuilder b;
    const Tables t = Basics(b);
    b.Colour(3, "Cyan", 0x00AEEF, "QCMK").Colour(4, "Spot Red", 0xE02020, "QPMS").Colour(5, "Grey", 0x808080, "QGRY");
    b.Layout("Layout 1", pt(612), pt(792), pt(36));
    b.Layer(2, u"Hidden notes", false);
    b.Section(1, 7);
    b.Page(0);
    b.Page(0);
    const Place first = Place::OnSpread(0), second = Place::OnSpread(1);
    for (int32_t angle : {30, -30}) {
        BoxOptions turned;
        turned.angle = angle * 65536;
        const int32_t top = angle > 0 ? 72 : 200;
        b.Story({b.TextBox(first, Pt(top, 72, top + 60, 272), turned)}).Para(t.plain).Text(u"Turned text", t.body).End();
    }
    BoxOptions oval;
    oval.shape = 9;
    b.Story({b.TextBox(first, Pt(320, 72, 420, 272), oval)}).Para(t.plain).Text(u"In an oval", t.body).End();
    const ImageMode modes[] = {ImageMode::Mono, ImageMode::Gray, ImageMode::Colour};
    for (int k = 0; k < 3; ++k) {
        BoxOptions picture;
        picture.image = modes[k];
        b.PictureBox(first, Pt(460, 72 + 160 * k, 560, 216 + 160 * k), picture);
    }
    b.Line(first, Pt(600, 72, 660, 540));
    BoxOptions hidden;
    hidden.layer = 2;
    b.Story({b.TextBox(first, Pt(700, 72, 730, 300), hidden)}).Para(t.plain).Text(u"On a hidden layer", t.body).End();
    b.Story({b.TextBox(second, Pt(72, 72, 132, 372))}).Para(t.plain).Text(u"Page seven", t.body).End();
    Box& filled = b.BoxAt(b.Current().spreads[1].items.back());
    filled.fill = 3;
    filled.frame = 65536;
    return b.Bytes();
}

const std::map<std::string, std::function<std::string()>>& Builders()
{
    static const std::map<std::string, std::function<std::string()>> builders = {
        {"overflow", Overflow}, {"scripts", Scripts}, {"geometry", Geometry}};
    return builders;
}

}  // namespace

std::vector<std::string> FlowExampleNames() { return {"overflow", "scripts", "geometry"}; }

std::string BuildFlowExample(const std::string& name) { return Builders().at(name)(); }

}  // namespace xthost::doc
