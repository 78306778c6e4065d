// What a user sees of the emulated host's text and boxes: each face bit drawn as its style
// and set at its width, the box shapes drawn as named, the new-line character breaking a line,
// and "xthost doc pdf" writing under the name given. PDFs are read back with poppler's tools.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/host/documents/Faces.h"
#include "platform/host/documents/FlowSuites.h"
#include "platform/host/documents/OutputStyles.h"
#include "platform/host/documents/PdfExport.h"
#include "platform/host/documents/StoryEdit.h"
#include "platform/host/documents/TextFlow.h"
#include "platform/host/documents/testing/DocBuilder.h"

#include "SlotTestSupport.h"

namespace xthost::doc {
namespace {

namespace fs = std::filesystem;
constexpr int32_t pt(int32_t points) { return points * 65536; }
double Points(int64_t v) { return double(v) / 65536.0; }
using xthost::testing::Shell;

struct Word {
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    std::string text;
};
std::vector<Word> Words(const std::string& pdf)
{
    std::vector<Word> words;
    const std::string out = Shell("pdftotext -bbox -f 1 -l 1 " + pdf + " -");
    for (size_t at = out.find("<word "); at != std::string::npos; at = out.find("<word ", at + 1)) {
        Word w;
        if (std::sscanf(out.c_str() + at, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &w.xMin,
                        &w.yMin, &w.xMax, &w.yMax) != 4)
            continue;
        const size_t open = out.find('>', at) + 1;
        w.text = out.substr(open, out.find("</word>", open) - open);
        words.push_back(w);
    }
    return words;
}

// Page 1 rendered in grey at 2 pixels a point.
struct Gray {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    static constexpr double kScale = 2.0;
    int At(double x, double y) const
    {
        const int px = int(x * kScale), py = int(y * kScale);
        return px >= 0 && py >= 0 && px < width && py < height ? pixels[size_t(py) * size_t(width) + size_t(px)] : 255;
    }
    // The darkest pixel within a pixel of the point.
    int Near(double x, double y) const
    {
        int v = 255;
        for (double dx : {-0.5, 0.0, 0.5})
            for (double dy : {-0.5, 0.0, 0.5})
                v = std::min(v, At(x + dx, y + dy));
        return v;
    }
};
Gray Render(const std::string& pdf, const std::string& prefix)
{
    Shell("pdftoppm -gray -r 144 -f 1 -l 1 -singlefile " + pdf + " " + prefix);
    Gray g;
    std::ifstream in(prefix + ".pgm", std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> g.width >> g.height >> maxValue;
    in.get();
    if (magic != "P5" || maxValue != 255 || g.width <= 0 || g.height <= 0)
        return Gray{};
    g.pixels.resize(size_t(g.width) * size_t(g.height));
    in.read(reinterpret_cast<char*>(g.pixels.data()), std::streamsize(g.pixels.size()));
    return g;
}

class FidelityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::path(KESTO_BINARY_DIR) / "test-tmp" / "host-fidelity" / info->name();
        fs::remove_all(dir);
        fs::create_directories(dir);
        UseHostFonts((fs::path(KESTO_BINARY_DIR) / "test-tmp" / "host-fidelity").string());
    }

    // Writes the built document's PDF with the default style; answers its path.
    std::string Pdf(DocBuilder& b, const std::string& name)
    {
        project = b.Build();
        OutputStyles styles;
        const std::string path = (dir / (name + ".pdf")).string();
        PdfReport report;
        EXPECT_EQ(WritePdf(*project, *project->layouts.front(), *styles.Get(styles.Default("XPDF")), path, name, 0,
                           &report),
                  HostErr::Ok)
            << report.error;
        return path;
    }

    fs::path dir;
    std::unique_ptr<Project> project;
};

// One bit of the face table per story, "Maß" at 12 pt (letters 6 pt wide): only the shifts
// and the capitals change the width.
TEST_F(FidelityTest, OnlyShiftsAndCapitalsChangeTheWidth)
{
    DocBuilder b;
    const int32_t plain = b.PlainText(pt(12));
    b.Page(0);
    std::vector<uint32_t> boxes;
    for (const FaceRow& row : kFaceTable) {
        CharFormat f = *b.Model().charFormats.Find(plain);
        f.face = row.bit;
        const uint32_t box = b.TextBox(Place::OnSpread(0), Rect{pt(36 + 40 * int32_t(boxes.size())), pt(36), pt(70 + 40 * int32_t(boxes.size())), pt(300)});
        b.Story({box}).Text(u"Ma\u00DF", b.CharFormat(f)).End();
        boxes.push_back(box);
    }
    auto project = b.Build();
    const Layout& layout = *project->layouts.front();
    const std::map<uint16_t, double> widths = {
        {0x0020, 12.0},  // superscript: 8 pt glyphs
        {0x0040, 12.0},  // subscript
        {0x0100, 9.0},   // superior: 6 pt glyphs
        {0x0400, 24.0},  // capitals: the sharp s becomes "SS"
        {0x0800, 19.5},  // small capitals: a and SS at 9 pt
    };
    for (size_t k = 0; k < boxes.size(); ++k) {
        const StoryLines lines = LayOutStory(*project, layout, *layout.FindStory(layout.FindBox(boxes[k])->story));
        ASSERT_EQ(lines.lines.size(), 1u);
        const auto it = widths.find(kFaceTable[k].bit);
        EXPECT_DOUBLE_EQ(Points(lines.lines[0].measure), it == widths.end() ? 18.0 : it->second) << kFaceTable[k].name;
        EXPECT_EQ(lines.lines[0].largest, pt(12)) << "the line's height keeps the format's size";
    }
    EXPECT_EQ(MetricFaceBits(), 0x0020 | 0x0040 | 0x0100 | 0x0400 | 0x0800);
}

TEST_F(FidelityTest, ConflictingBitsResolveInTableOrder)
{
    EXPECT_STREQ(FaceOf(0x0120).shift->name, "superscript");
    EXPECT_STREQ(FaceOf(0x0140).shift->name, "subscript");
    const Face caps = FaceOf(0x0C00);
    EXPECT_TRUE(caps.uppercase);
    EXPECT_FALSE(caps.smallCaps);
    const Face underline = FaceOf(0x1004);
    EXPECT_TRUE(underline.underline);
    EXPECT_FALSE(underline.wordUnderline);
    EXPECT_FALSE(FaceOf(0x0010).strike);
    EXPECT_TRUE(FaceOf(0x0200).strike);
    for (char32_t c : {U'a', U'\u00E9', U'\u0101', U'\u013A', U'\u017E', U'\u1EA1', U'\u03B1', U'\u0436'})
        EXPECT_TRUE(IsLowercase(c)) << uint32_t(c);
    for (char32_t c : {U'A', U'1', U'\u00F7', U'\u0100', U'\u0139', U'\u017D', U'\u0391', U'\u0416', U'\u65E5'})
        EXPECT_FALSE(IsLowercase(c)) << uint32_t(c);
}

// Line 0 is plain; line k has "Ref " plain and "Wo rd" in the face of row k - 1. 24 pt text.
TEST_F(FidelityTest, EachFaceBitIsDrawnAsItsStyle)
{
    DocBuilder b;
    const int32_t plain = b.PlainText(pt(24));
    b.Page(0);
    const uint32_t box = b.TextBox(Place::OnSpread(0), Rect{pt(36), pt(36), pt(756), pt(400)});
    auto story = b.Story({box});
    story.Text(u"Ref Wo rd\r", plain);
    for (const FaceRow& row : kFaceTable) {
        CharFormat f = *b.Model().charFormats.Find(plain);
        f.face = row.bit;
        story.Text(u"Ref ", plain).Text(u"Wo rd\r", b.CharFormat(f));
    }
    story.End();
    const std::string pdf = Pdf(b, "faces");
    const Layout& layout = *project->layouts.front();
    const StoryLines lines = LayOutStory(*project, layout, *layout.FindStory(layout.FindBox(box)->story));
    ASSERT_EQ(lines.lines.size(), 13u);

    // Small capitals of another size make words of their own: joined again where they touch.
    std::vector<Word> words;
    for (const Word& w : Words(pdf)) {
        if (!words.empty() && w.xMin - words.back().xMax < 1 && w.xMin > words.back().xMin) {
            words.back().xMax = w.xMax;
            words.back().yMin = std::min(words.back().yMin, w.yMin);
            words.back().yMax = std::max(words.back().yMax, w.yMax);
            words.back().text += w.text;
            continue;
        }
        words.push_back(w);
    }
    ASSERT_EQ(words.size(), 39u) << "every run stays text, outlined and shadowed ones too";
    const Gray gray = Render(pdf, (dir / "faces").string());
    ASSERT_GT(gray.width, 0);

    // A row under (or through) the word that is dark across it: underline or strike.
    auto darkRow = [&](const Word& w, double from, double to) {
        for (double y = from; y <= to; y += 0.5) {
            int dark = 0, all = 0;
            for (double x = w.xMin + 1; x <= w.xMax - 1; x += 0.5, ++all)
                dark += gray.At(x, y) < 128;
            if (all > 0 && dark >= all * 9 / 10)
                return true;
        }
        return false;
    };
    // Pixels of the word's area: dark ones and mid-grey ones.
    auto count = [&](const Word& w, int lo, int hi) {
        int n = 0;
        for (double y = w.yMin; y <= w.yMax + 4; y += 0.5)
            for (double x = w.xMin; x <= w.xMax + 4; x += 0.5)
                n += gray.At(x, y) >= lo && gray.At(x, y) <= hi;
        return n;
    };
    const Word& plainWo = words[1];
    const int plainDark = count(plainWo, 0, 80), plainGrey = count(plainWo, 100, 180);
    for (size_t k = 0; k < 13; ++k) {
        const Word& ref = words[3 * k];
        const Word& wo = words[3 * k + 1];
        const Word& rd = words[3 * k + 2];
        const uint16_t bit = k == 0 ? 0 : kFaceTable[k - 1].bit;
        SCOPED_TRACE(k == 0 ? "plain" : kFaceTable[k - 1].name);
        EXPECT_EQ(ref.text, "Ref");
        EXPECT_EQ(wo.text, bit & 0x0C00 ? "WO" : "Wo");
        EXPECT_EQ(rd.text, bit & 0x0C00 ? "RD" : "rd");
        const double baseline = Points(lines.lines[k].baseline);
        const bool underline = bit == 0x0004 || bit == 0x1000;
        EXPECT_EQ(darkRow(wo, baseline + 0.5, baseline + 5), underline);
        EXPECT_FALSE(darkRow(ref, baseline + 0.5, baseline + 5));
        EXPECT_EQ(darkRow(wo, baseline - 12, baseline - 4), bit == 0x0200) << "strike";
        // A single underline runs under the space between the words; a word underline does not.
        if (underline) {
            const double gap = (wo.xMax + rd.xMin) / 2;
            bool under = false;
            for (double y = baseline + 0.5; y <= baseline + 5; y += 0.5)
                under = under || gray.At(gap, y) < 128;
            EXPECT_EQ(under, bit == 0x0004);
        }
        const double height = ref.yMax - ref.yMin, shifted = wo.yMax - wo.yMin;
        switch (bit) {
        case 0x0020:  // superscript: two thirds, raised by a third
            EXPECT_NEAR(shifted / height, 2.0 / 3, 0.05);
            EXPECT_LT(wo.yMax, ref.yMax - 6);
            break;
        case 0x0040:  // subscript: two thirds, lowered by a fifth
            EXPECT_NEAR(shifted / height, 2.0 / 3, 0.05);
            EXPECT_GT(wo.yMax, ref.yMax + 1);
            break;
        case 0x0100:  // superior: half, its top at the capitals' top
            EXPECT_NEAR(shifted / height, 0.5, 0.05);
            EXPECT_LT(wo.yMax, ref.yMax - 8);
            break;
        default:
            EXPECT_NEAR(wo.yMax, ref.yMax, 0.5);
        }
        if (bit == 0x0008) {
            EXPECT_LT(count(wo, 0, 80), plainDark * 3 / 5) << "outlined glyphs are hollow";
        } else if (bit == 0x0010) {
            EXPECT_GT(count(wo, 100, 180), plainGrey * 2 + 20) << "a shadow is grey";
        }
        if (bit == 0x0001 || bit == 0x0010 || bit == 0x0200) {
            EXPECT_GT(count(wo, 0, 80), plainDark * 4 / 5);
        }
    }
    const std::string fonts = Shell("pdffonts " + pdf);
    EXPECT_NE(fonts.find("DejaVuSans-Bold "), std::string::npos) << fonts;
    EXPECT_NE(fonts.find("DejaVuSans-Oblique "), std::string::npos) << fonts;
    EXPECT_EQ(fonts.find("BoldOblique"), std::string::npos) << fonts;
}

// Shapes 5 to 9 side by side, 100 pt square with a 2 pt frame: each outline passes through
// its own sample point and none of the others'.
TEST_F(FidelityTest, BoxShapesAreDrawnAsNamed)
{
    DocBuilder b;
    b.PlainText(pt(12));
    b.Page(0);
    std::vector<uint32_t> boxes;
    for (uint8_t shape = 5; shape <= 9; ++shape) {
        BoxOptions options;
        options.shape = shape;
        const int32_t left = 36 + 110 * (shape - 5);
        boxes.push_back(b.TextBox(Place::OnSpread(0), Rect{pt(100), pt(left), pt(200), pt(left + 100)}, options));
        b.BoxAt(boxes.back()).frame = pt(2);
    }
    const std::string pdf = Pdf(b, "shapes");
    const Gray gray = Render(pdf, (dir / "shapes").string());
    ASSERT_GT(gray.width, 0);
    const double c = Points(ShapeCorner(*project->layouts.front()->FindBox(boxes[0])));
    EXPECT_DOUBLE_EQ(c, 12.5);
    const double d = 0.70710678;
    // Offsets from the top left corner on each shape's outline.
    const std::array<std::pair<double, double>, 5> samples = {{
        {0, 0},                          // 5: the corner itself
        {c - c * d, c - c * d},          // 6: the middle of a rounded corner
        {c * d, c * d},                  // 7: the middle of an inward arc
        {c / 2, c / 2},                  // 8: the middle of a bevel
        {50 - 50 * d, 50 - 50 * d},      // 9: the ellipse at 45 degrees
    }};
    for (int shape = 0; shape < 5; ++shape)
        for (int sample = 0; sample < 5; ++sample) {
            const double left = 36 + 110 * shape;
            EXPECT_EQ(gray.Near(left + samples[size_t(sample)].first, 100 + samples[size_t(sample)].second) < 128,
                      shape == sample)
                << "shape " << shape + 5 << " at the sample of shape " << sample + 5;
        }
}

// An oval sets its lines inside the ellipse: each line within the chord of its band, fewer
// characters a line than the rectangle around it, and text that no band holds overflows.
TEST_F(FidelityTest, AnOvalKeepsItsLinesInsideTheEllipse)
{
    const std::u16string text =
        u"Lines of text in an oval box start narrow at the top, widen towards the middle and "
        u"narrow again below it, as the ellipse does. A word that fits no band goes on.";
    DocBuilder b;
    const int32_t plain = b.PlainText(pt(12));
    b.Page(0);
    BoxOptions oval;
    oval.shape = 9;
    const Rect bounds{pt(100), pt(100), pt(300), pt(400)};
    const uint32_t ovalBox = b.TextBox(Place::OnSpread(0), bounds, oval);
    b.Story({ovalBox}).Text(text, plain).End();
    const uint32_t rectBox = b.TextBox(Place::OnSpread(0), Rect{pt(400), pt(100), pt(600), pt(400)});
    b.Story({rectBox}).Text(text, plain).End();
    const uint32_t tiny = b.TextBox(Place::OnSpread(0), Rect{pt(650), pt(100), pt(665), pt(400)}, oval);
    b.Story({tiny}).Text(u"Overflowing", plain).End();
    auto project = b.Build();
    const Layout& layout = *project->layouts.front();
    auto linesOf = [&](uint32_t box) {
        return LayOutStory(*project, layout, *layout.FindStory(layout.FindBox(box)->story));
    };
    const StoryLines inOval = linesOf(ovalBox), inRect = linesOf(rectBox);
    ASSERT_FALSE(inOval.Overflows());
    EXPECT_GT(inOval.lines.size(), inRect.lines.size());
    const Rect area = TextArea(*layout.FindBox(ovalBox));
    const double a = Points(int64_t(area.right) - area.left) / 2, bh = Points(int64_t(area.bottom) - area.top) / 2;
    const double cx = Points(area.left) + a, cy = Points(area.top) + bh;
    EXPECT_GT(Points(inOval.lines.front().top), Points(area.top));
    double widest = 0;
    for (const LineRecord& line : inOval.lines) {
        const double top = Points(line.top), bottom = top + Points(line.height);
        const double far = std::max(std::abs(top - cy), std::abs(bottom - cy));
        ASSERT_LT(far, bh);
        const double half = a * std::sqrt(1 - (far / bh) * (far / bh));
        EXPECT_GE(Points(line.left), cx - half - 0.001) << line.start;
        EXPECT_LE(Points(line.left) + Points(line.measure), cx + half + 0.001) << line.start;
        widest = std::max(widest, Points(line.measure));
    }
    EXPECT_GT(widest, a);  // the middle lines are wide
    // A box whose ellipse holds no line of 12 pt text overflows.
    const StoryLines none = linesOf(tiny);
    ASSERT_EQ(none.lines.size(), 1u);
    EXPECT_TRUE(none.Overflows());
}

// Every control character once: the host's new line 7 ends a line and keeps the paragraph,
// 0x0B and 0x0C end the box, 0x0D the paragraph; no other breaks a line or a paragraph run.
TEST_F(FidelityTest, ControlCharactersBreakAsTheHostSets)
{
    for (char16_t c = 0; c < 0x20; ++c) {
        SCOPED_TRACE(int(c));
        DocBuilder b;
        const int32_t plain = b.PlainText(pt(12));
        b.Page(0);
        const uint32_t box = b.TextBox(Place::OnSpread(0), Rect{pt(36), pt(36), pt(200), pt(300)});
        b.Story({box}).Text(std::u16string(u"ab") + c + u"cd", plain).End();
        auto project = b.Build();
        const Layout& layout = *project->layouts.front();
        const Story& story = *layout.FindStory(layout.FindBox(box)->story);
        const bool ends = c == 0x07 || c == 0x0B || c == 0x0C || c == 0x0D;
        EXPECT_EQ(EndsLine(c), ends);
        const StoryLines lines = LayOutStory(*project, layout, story);
        ASSERT_EQ(lines.lines.size(), ends ? 2u : 1u);
        EXPECT_EQ(lines.lines[0].length, ends ? 3 : 5);
        if (c == 0x07 || c == 0x0D) {
            EXPECT_EQ(lines.lines[1].paragraph, c == 0x0D ? 1 : 0);
            EXPECT_EQ(lines.lines[0].flags, c == 0x0D ? kLineParagraphEnd : 0u);
            EXPECT_EQ(lines.lines[1].top, lines.lines[0].top + lines.lines[0].height);
        }
        if (c == 0x0B || c == 0x0C) {
            EXPECT_TRUE(lines.Overflows()) << "the rest goes to the next box, and there is none";
        }
        const bool splits = c == 0x0B || c == 0x0C || c == 0x0D;
        EXPECT_EQ(ParagraphRuns(*project, story).size(), splits ? 2u : 1u);
    }
}

int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST_F(FidelityTest, DocLinesShowsTheNewLine)
{
    auto lines = [&](const std::u16string& text) {
        DocBuilder b;
        const int32_t plain = b.PlainText(pt(12));
        b.Page(0);
        b.Story({b.TextBox(Place::OnSpread(0), Rect{pt(36), pt(36), pt(200), pt(300)})}).Text(text, plain).End();
        const std::string path = (dir / "new-line.qxp").string();
        std::ofstream(path, std::ios::binary) << b.Bytes();
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(TextFlowDocCommand({"lines", path}), 0);
        return ::testing::internal::GetCapturedStdout();
    };
    const std::string joined = lines(u"one two\rthree");
    const std::string broken = lines(u"one\u0007two\rthree");
    EXPECT_EQ(Count(broken, "  line "), Count(joined, "  line ") + 1) << broken;
    EXPECT_EQ(Count(broken, "para=1"), Count(joined, "para=1"));
    EXPECT_EQ(Count(broken, "para=0"), 2);
    // The PDF shows the two lines without the break character.
    DocBuilder b;
    const int32_t plain = b.PlainText(pt(12));
    b.Page(0);
    b.Story({b.TextBox(Place::OnSpread(0), Rect{pt(36), pt(36), pt(200), pt(300)})}).Text(u"one\u0007two", plain).End();
    const std::vector<Word> words = Words(Pdf(b, "new-line"));
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0].text, "one");
    EXPECT_EQ(words[1].text, "two");
    EXPECT_GT(words[1].yMin, words[0].yMax - 1);
}

// On the command line the PDF takes the name given; its log is named after it without ".pdf".
TEST_F(FidelityTest, DocPdfWritesUnderTheNameGiven)
{
    const std::string example = std::string(KESTO_SOURCE_DIR) + "/examples/documents/minimal.qxp";
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(TextFlowDocCommand({"pdf", example, (dir / "out.pdf").string()}), 0);
    EXPECT_EQ(TextFlowDocCommand({"pdf", example, (dir / "plain").string(), "--naming", "append"}), 0);
    EXPECT_EQ(TextFlowDocCommand({"pdf", example, (dir / "UPPER.PDF").string()}), 0);
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(fs::exists(dir / "out.pdf"));
    EXPECT_TRUE(fs::exists(dir / "out_pdf.log"));
    EXPECT_TRUE(fs::exists(dir / "plain.pdf"));
    EXPECT_TRUE(fs::exists(dir / "plain_pdf.log"));
    EXPECT_TRUE(fs::exists(dir / "UPPER.PDF"));
    EXPECT_TRUE(fs::exists(dir / "UPPER_pdf.log"));
    EXPECT_FALSE(fs::exists(dir / "out.pdf.pdf"));
    EXPECT_FALSE(fs::exists(dir / "out.pdf_pdf.log"));
}

}  // namespace
}  // namespace xthost::doc
