#include "platform/host/documents/TextFlow.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/host/documents/Faces.h"

namespace xthost::doc {

namespace {

constexpr int64_t kTabStop = 36 * 65536;

// Non-negative a / b rounded half up.
int64_t DivRound(int64_t a, int64_t b) { return (2 * a + b) / (2 * b); }

bool In(char32_t c, char32_t lo, char32_t hi) { return c >= lo && c <= hi; }

bool IsCombining(char32_t c)
{
    return In(c, 0x0300, 0x036F) || In(c, 0x0483, 0x0489) || In(c, 0x0591, 0x05C7) ||
           In(c, 0x0610, 0x061A) || In(c, 0x064B, 0x065F) || c == 0x0670 || In(c, 0x06D6, 0x06ED) ||
           c == 0x0E31 || In(c, 0x0E34, 0x0E3A) || In(c, 0x0E47, 0x0E4E);
}

bool IsWide(char32_t c)
{
    return c >= 0x10000 || In(c, 0x1100, 0x115F) || In(c, 0x2E80, 0x303E) || In(c, 0x3041, 0x33FF) ||
           In(c, 0x3400, 0x4DBF) || In(c, 0x4E00, 0x9FFF) || In(c, 0xA000, 0xA4CF) ||
           In(c, 0xAC00, 0xD7A3) || In(c, 0xF900, 0xFAFF) || In(c, 0xFE30, 0xFE4F) ||
           In(c, 0xFF00, 0xFF60) || In(c, 0xFFE0, 0xFFE6);
}

// The advance class of a character in thousandths of an em.
int32_t AdvanceClass(char32_t c)
{
    if ((c < 0x20 && c != 0x09) || c == 0x00AD || IsCombining(c) || In(c, 0x200B, 0x200F) ||
        In(c, 0x202A, 0x202E) || In(c, 0x2060, 0x2064) || In(c, 0xFE00, 0xFE0F) || c == 0xFEFF)
        return 0;
    switch (c) {
    case 0x0020: case 0x00A0: case 0x2005: case 0x2008: case 0x202F: return 250;
    case 0x200A: return 100;
    case 0x2006: return 167;
    case 0x2009: return 200;
    case 0x2004: return 333;
    case 0x2000: case 0x2002: case 0x2007: return 500;
    case 0x2001: case 0x2003: return 1000;
    default: break;
    }
    return IsWide(c) ? 1000 : 500;
}

// Spaces a line may break after; they hang at the end of a line.
bool IsBreakSpace(char32_t c)
{
    return c == 0x20 || c == 0x09 || In(c, 0x2000, 0x2006) || In(c, 0x2008, 0x200A) || c == 0x3000;
}

bool NeverBreaks(char32_t c) { return c == 0x2011 || c == 0x00A0 || c == 0x2007 || c == 0x202F; }

// Characters that must not start a line after a wide character.
bool IsCloser(char32_t c)
{
    return c == 0x3001 || c == 0x3002 || c == 0x300D || c == 0x300F || c == 0xFF09 || c == 0xFF0C ||
           c == 0xFF0E;
}

bool MayBreakBetween(char32_t prev, char32_t cur)
{
    if (IsBreakSpace(cur) || NeverBreaks(prev) || NeverBreaks(cur))
        return false;
    if (IsBreakSpace(prev) || prev == 0x2D || prev == 0x2010 || prev == 0x2013)
        return true;
    if (prev == 0x200B || cur == 0x200B)
        return true;
    return (IsWide(prev) || IsWide(cur)) && !IsCloser(cur);
}

bool IsRtl(char32_t c)
{
    return In(c, 0x0590, 0x05FF) || In(c, 0x0600, 0x06FF) || In(c, 0x0750, 0x077F) ||
           In(c, 0xFB1D, 0xFDFF) || In(c, 0xFE70, 0xFEFF);
}

// A strong character of the left-to-right kind: a letter of a script written that way.
bool IsStrongLtr(char32_t c)
{
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return c >= 0xC0 && c != 0xD7 && c != 0xF7 && !IsCombining(c) && !In(c, 0x2000, 0x2BFF) &&
           !In(c, 0x3000, 0x303F) && !In(c, 0xE000, 0xF8FF) && !In(c, 0xFFF0, 0xFFFF) &&
           !In(c, 0xFF00, 0xFF20);
}

// The horizontal extent of a line.
struct Span {
    int64_t left = 0, right = 0;
};

constexpr uint8_t kOvalShape = 9;

uint64_t SquareRoot(unsigned __int128 v)
{
    uint64_t lo = 0, hi = uint64_t(1) << 32;
    while (hi - lo > 1) {  // the largest r with r * r <= v, in [lo, hi)
        const uint64_t mid = lo + (hi - lo) / 2;
        if ((unsigned __int128)mid * mid <= v)
            lo = mid;
        else
            hi = mid;
    }
    return (unsigned __int128)hi * hi <= v ? hi : lo;
}

// Where the band [top, top + height] crosses the ellipse inscribed in the area: the narrowest
// chord within the band, at its edge farther from the centre. Empty when the band leaves the
// ellipse. Everything in doubled units, so the centre is a whole number.
bool Chord(const Rect& area, int64_t top, int64_t height, Span* out)
{
    const int64_t a2 = int64_t(area.right) - area.left, b2 = int64_t(area.bottom) - area.top;
    const int64_t cx2 = int64_t(area.left) + area.right, cy2 = int64_t(area.top) + area.bottom;
    const int64_t far = std::max(std::abs(2 * top - cy2), std::abs(2 * (top + height) - cy2));
    if (a2 <= 0 || b2 <= 0 || far >= b2)
        return false;
    const int64_t root = int64_t(SquareRoot((unsigned __int128)b2 * b2 - (unsigned __int128)far * far));
    const int64_t half2 = int64_t((unsigned __int128)a2 * root / b2);
    out->left = (cx2 - half2 + 1) / 2;
    out->right = (cx2 + half2) / 2;
    return out->right > out->left;
}

// Moves *top down (never up) to the first band of the height whose chord is at least need
// wide; a need wider than the ellipse takes the widest band. False when no band fits below.
bool FitInEllipse(const Rect& area, int64_t need, int64_t height, int64_t* top, Span* edges)
{
    need = std::max<int64_t>(need, 0);  // negative indents ask for no room
    if (Chord(area, *top, height, edges) && edges->right - edges->left >= need)
        return true;
    const int64_t a2 = int64_t(area.right) - area.left, b2 = int64_t(area.bottom) - area.top;
    const int64_t cy2 = int64_t(area.top) + area.bottom;
    int64_t from = (cy2 - height + 1) / 2;  // the band around the centre
    if (a2 > 0 && need < a2) {
        // Both edges within d of the centre, where the chord at d is need wide.
        const int64_t d2 = int64_t((unsigned __int128)b2 *
                                   SquareRoot((unsigned __int128)a2 * a2 - (unsigned __int128)need * need) / a2);
        from = (cy2 - d2 + 1) / 2;
    }
    // The rounding of the roots may leave the band a unit short.
    for (int64_t at = std::max(*top, from), tries = 0; tries < 4; ++at, ++tries)
        if (Chord(area, at, height, edges) && (edges->right - edges->left >= need || need >= a2)) {
            *top = at;
            return true;
        }
    return false;
}

// 0x0D ends the paragraph, 0x0B and 0x0C the box; the host's new line 0x07 and U+2028 end the
// line alone. No other control character breaks.
inline bool IsLineEnd(char16_t c) { return c == 0x0D || c == 0x07 || c == 0x2028 || c == 0x0B || c == 0x0C; }

constexpr uint16_t kMetricFaceBits = MetricFaceBits();

int32_t Digits(int32_t n)
{
    int32_t d = 1;
    for (n = n < 0 ? -n : n; n >= 10; n /= 10)
        ++d;
    return d;
}

// What the layout needs to know about each character of a story.
class Setter {
public:
    Setter(const Project& project, const Layout& layout, const Story& story)
        : project_(project), layout_(layout), story_(story), text_(story.text.str()), n_(int32_t(text_.size())),
          format_(size_t(n_), nullptr), objects_(story.objects.begin(), story.objects.end()), object_(size_t(n_), nullptr)
    {
        static const CharFormat kNone{};
        size_t at = 0;
        for (const Run& run : story.charRuns) {
            const CharFormat* f = project.charFormats.Find(run.format);
            for (int32_t k = 0; k < run.length && at < size_t(n_); ++k)
                format_[at++] = f ? f : &kNone;
        }
        for (; at < size_t(n_); ++at)
            format_[at] = &kNone;
        for (const ObjectRun& o : objects_)
            for (int32_t k = std::max(o.at, 0); k < o.at + o.len && k < n_; ++k)
                object_[size_t(k)] = &o;
    }

    StoryLines SetAll();

private:
    struct Broken {
        int32_t end = 0;
        bool emergency = false;
        char16_t hard = 0;  // the character that ended the line, 0 for a break
    };
    struct Measured {
        int64_t measure = 0;
        int32_t largest = 0;
        int32_t minHeight = 0;  // an anchored box's height
    };

    char32_t CodePoint(int32_t i) const
    {
        const char16_t c = text_[size_t(i)];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n_) {
            const char16_t d = text_[size_t(i) + 1];
            if (d >= 0xDC00 && d < 0xE000)
                return 0x10000 + ((char32_t(c) - 0xD800) << 10) + (d - 0xDC00);
        }
        return c;
    }
    // One past the cluster at i: a surrogate pair and the combining marks that follow stay whole.
    int32_t ClusterEnd(int32_t i) const
    {
        int32_t j = i + (CodePoint(i) >= 0x10000 ? 2 : 1);
        while (j < n_ && IsCombining(text_[size_t(j)]) && !Hidden(j))
            ++j;
        return j;
    }
    bool Hidden(int32_t i) const
    {
        const ObjectRun* o = object_[size_t(i)];
        return (o && o->kind != 1 && (o->kind < 5 || o->kind > 7)) || format_[size_t(i)]->tag != 0;
    }
    int64_t Scaled(int32_t i, int64_t klass) const
    {
        const CharFormat& f = *format_[size_t(i)];
        const Font* font = project_.FindFont(f.font);
        const int64_t advance = font ? font->advance : 1000;
        int64_t size = f.size;
        if (f.face & kMetricFaceBits) {
            // Shifted and small capital glyphs are set smaller; a capital sharp s is two.
            const Face face = FaceOf(f.face);
            const char32_t c = CodePoint(i);
            size = int64_t(GlyphSize(face, f.size, c)) * CapitalsOf(face, c);
        }
        int64_t w = DivRound(size * klass * advance, 1000000);
        if (klass > 0)
            w += (int64_t(f.track) + f.kern) * f.size / 200;
        return std::max<int64_t>(w, 0);
    }
    // The advance of the cluster at i when the line has reached x; box is the line's box.
    int64_t Advance(int32_t i, int32_t j, int64_t x, uint32_t box) const
    {
        if (Hidden(i))
            return 0;
        const char32_t c = CodePoint(i);
        if (c == 0x09)
            return (x / kTabStop + 1) * kTabStop - x;
        int64_t w = 0;
        if (const ObjectRun* o = object_[size_t(i)]) {
            if (o->kind == 1) {
                const Box* anchored = layout_.FindBox(o->box);
                w = anchored ? int64_t(anchored->bounds.right) - anchored->bounds.left : 0;
            } else {
                w = Digits(PageNumberShown(layout_, story_, box, o->kind)) * Scaled(i, 500);
            }
        } else {
            w = Scaled(i, AdvanceClass(c));
        }
        for (int32_t k = i + (c >= 0x10000 ? 2 : 1); k < j; ++k)  // combining marks of the cluster
            w += Scaled(k, AdvanceClass(text_[size_t(k)]));
        return std::max<int64_t>(w, 0);
    }

    Broken Break(int32_t pos, int64_t width, uint32_t box) const;
    int64_t FirstWord(int32_t pos, uint32_t box) const;
    Measured Measure(int32_t pos, int32_t end, uint32_t box) const;

    const Project& project_;
    const Layout& layout_;
    const Story& story_;
    const std::u16string text_;  // the layout reads every character, many more than once
    const int32_t n_;
    std::vector<const CharFormat*> format_;
    const std::vector<ObjectRun> objects_;  // the story's object runs, which object_ points into
    std::vector<const ObjectRun*> object_;
};

Setter::Broken Setter::Break(int32_t pos, int64_t width, uint32_t box) const
{
    Broken b;
    int64_t x = 0;
    int32_t lastBreak = -1;
    char32_t prev = 0;
    for (int32_t i = pos; i < n_;) {
        const char16_t unit = text_[size_t(i)];
        if (IsLineEnd(unit) && !Hidden(i)) {
            b.end = i + 1;
            b.hard = unit;
            return b;
        }
        const int32_t j = ClusterEnd(i);
        const char32_t c = CodePoint(i);
        if (i > pos && MayBreakBetween(prev, c))
            lastBreak = i;
        const int64_t advance = Advance(i, j, x, box);
        if (i > pos && advance > 0 && !IsBreakSpace(c) && x + advance > width) {
            if (lastBreak > pos) {
                b.end = lastBreak;
            } else {
                b.end = i;
                b.emergency = true;
            }
            return b;
        }
        x += advance;
        prev = c;
        i = j;
    }
    b.end = n_;
    return b;
}

// The width of the text from pos up to its first break (spaces not counted).
int64_t Setter::FirstWord(int32_t pos, uint32_t box) const
{
    int64_t x = 0, w = 0;
    char32_t prev = 0;
    for (int32_t i = pos; i < n_;) {
        if (IsLineEnd(text_[size_t(i)]) && !Hidden(i))
            break;
        const int32_t j = ClusterEnd(i);
        const char32_t c = CodePoint(i);
        if (i > pos && MayBreakBetween(prev, c))
            break;
        x += Advance(i, j, x, box);
        if (!IsBreakSpace(c))
            w = x;
        prev = c;
        i = j;
    }
    return w;
}

// The measure (without hanging spaces and the character that ended the line), the largest
// character size and the height of the tallest anchored box.
Setter::Measured Setter::Measure(int32_t pos, int32_t end, uint32_t box) const
{
    Measured m;
    int64_t x = 0;
    for (int32_t i = pos; i < end;) {
        const int32_t j = std::min(ClusterEnd(i), end);
        m.largest = std::max(m.largest, format_[size_t(i)]->size);
        const char32_t c = CodePoint(i);
        if (!(IsLineEnd(text_[size_t(i)]) && !Hidden(i))) {
            x += Advance(i, j, x, box);
            if (!IsBreakSpace(c))
                m.measure = x;
        }
        if (const ObjectRun* o = object_[size_t(i)]; o && o->kind == 1)
            if (const Box* anchored = layout_.FindBox(o->box))
                m.minHeight = std::max(m.minHeight, anchored->bounds.bottom - anchored->bounds.top);
        i = j;
    }
    return m;
}

StoryLines Setter::SetAll()
{
    StoryLines out;
    if (n_ == 0)
        return out;
    static const ParaFormat kPlain{};
    auto paraFormat = [&](int32_t p) -> const ParaFormat& {
        const ParaFormat* f = size_t(p) < story_.paras.size() ? project_.paraFormats.Find(story_.paras[size_t(p)]) : nullptr;
        return f ? *f : kPlain;
    };
    // The direction of a paragraph from its format or its first strong character.
    auto rightToLeft = [&](int32_t from, const ParaFormat& pf) {
        if (pf.direction != Direction::Auto)
            return pf.direction == Direction::Rtl;
        for (int32_t i = from; i < n_ && text_[size_t(i)] != 0x0D; ++i) {
            if (Hidden(i))
                continue;
            const char32_t c = CodePoint(i);
            if (IsRtl(c))
                return true;
            if (IsStrongLtr(c))
                return false;
        }
        return false;
    };

    std::vector<const Box*> chain;
    for (uint32_t uid : story_.boxes)
        if (const Box* box = layout_.FindBox(uid); box && box->kind == BoxKind::Text)
            chain.push_back(box);

    size_t boxIndex = 0;
    bool topOfBox = true;
    int64_t y = 0;
    int32_t spaceAfter = 0;  // of the paragraph just ended, within the box
    int32_t pos = 0, para = 0, paraStart = 0;
    bool rtl = rightToLeft(0, paraFormat(0));
    auto closeBox = [&] {
        if (!out.lines.empty() && !topOfBox)
            out.lines.back().flags |= kLineLastInBox;
        ++boxIndex;
        topOfBox = true;
    };
    while (pos < n_) {
        if (boxIndex >= chain.size()) {
            LineRecord over;
            over.start = pos;
            over.length = n_ - pos;
            over.paragraph = para;
            over.flags = kLineOverflow;
            out.lines.push_back(over);
            return out;
        }
        const Box& box = *chain[boxIndex];
        const Rect area = TextArea(box);
        const ParaFormat& pf = paraFormat(para);
        const bool first = pos == paraStart;
        const int64_t startIndent = int64_t(pf.leftIndent) + (first ? pf.firstIndent : 0);
        Span edges{area.left, area.right};
        int64_t width = edges.right - edges.left - startIndent - pf.rightIndent;
        Broken broken = Break(pos, width, box.uid);
        Measured m = Measure(pos, broken.end, box.uid);
        auto heightOf = [&](const Measured& measured) {
            const int64_t h = pf.leading != 0 ? pf.leading : (6 * int64_t(measured.largest) + 2) / 5;
            return std::max<int64_t>(h, measured.minHeight);
        };
        int64_t height = heightOf(m);
        const int64_t before = first && !topOfBox ? pf.spaceBefore : 0;
        int64_t top = topOfBox ? area.top : y + (first ? spaceAfter : 0) + before;
        if (box.shape == kOvalShape) {
            // The line lies inside the ellipse: set lower until its first word fits across the
            // band it takes (the line of the whole width is the tallest it can be), then broken
            // at that band's width.
            const int64_t need = FirstWord(pos, box.uid) + startIndent + pf.rightIndent;
            if (!FitInEllipse(area, need, height, &top, &edges)) {
                closeBox();
                continue;
            }
            width = edges.right - edges.left - startIndent - pf.rightIndent;
            broken = Break(pos, width, box.uid);
            m = Measure(pos, broken.end, box.uid);
            height = heightOf(m);
        }
        if (top + height > area.bottom) {
            closeBox();  // a box too small for the line is skipped
            continue;
        }
        LineRecord line;
        line.start = pos;
        line.length = broken.end - pos;
        line.top = int32_t(top);
        line.height = int32_t(height);
        line.baseline = int32_t(top + height - DivRound(m.largest, 5));
        line.box = box.uid;
        line.paragraph = para;
        line.largest = m.largest;
        line.spaceBefore = int32_t(before);
        const bool paraEnd = broken.hard == 0x0D;
        int64_t measure = m.measure;
        if (pf.align == Align::Justify && !paraEnd && broken.end < n_ && broken.hard == 0)
            measure = std::max<int64_t>(measure, width);
        // The start edge is the left one, or the right one for right-to-left text.
        const int64_t lineLeft = rtl ? edges.left + pf.rightIndent : edges.left + startIndent;
        const int64_t lineRight = rtl ? edges.right - startIndent : edges.right - pf.rightIndent;
        int64_t left = rtl ? lineRight - measure : lineLeft;
        if (pf.align == Align::Center)
            left = lineLeft + (lineRight - lineLeft - measure) / 2;
        else if (pf.align == Align::Right)
            left = lineRight - measure;
        line.left = int32_t(left);
        line.measure = int32_t(measure);
        line.flags = (paraEnd ? kLineParagraphEnd : 0) | (broken.emergency ? kLineEmergency : 0) |
                     (rtl ? kLineRightToLeft : 0);
        out.lines.push_back(line);
        topOfBox = false;
        y = top + height;
        pos = broken.end;
        if (paraEnd) {
            spaceAfter = pf.spaceAfter;
            ++para;
            paraStart = pos;
            rtl = rightToLeft(pos, paraFormat(para));
        }
        if (broken.hard == 0x0B || broken.hard == 0x0C) {
            out.lines.back().flags |= kLineBoxBreak;
            closeBox();
        }
    }
    if (!out.lines.empty() && !topOfBox)
        out.lines.back().flags |= kLineLastInBox;
    return out;
}

void Put(uint8_t* out, int word, uint32_t value)
{
    for (int k = 0; k < 4; ++k)
        out[4 * word + k] = uint8_t(value >> (8 * k));
}

}  // namespace

bool EndsLine(char16_t c) { return IsLineEnd(c); }

Rect TextArea(const Box& box)
{
    return Rect{box.bounds.top + box.inset, box.bounds.left + box.inset, box.bounds.bottom - box.inset,
                box.bounds.right - box.inset};
}

int32_t PageNumberShown(const Layout& layout, const Story& story, uint32_t box, uint32_t kind)
{
    const auto at = std::find(story.boxes.begin(), story.boxes.end(), box);
    uint32_t shown = box;
    if (at != story.boxes.end()) {
        if (kind == 5 && at != story.boxes.begin())
            shown = *(at - 1);
        else if (kind == 7 && at + 1 != story.boxes.end())
            shown = *(at + 1);
    }
    const Box* b = layout.FindBox(shown);
    return b ? layout.PageNumberOf(*b) : 0;
}

StoryLines LayOutStory(const Project& project, const Layout& layout, const Story& story)
{
    return Setter(project, layout, story).SetAll();
}

std::vector<LineRecord> LinesInRange(const StoryLines& all, int32_t start, int32_t end)
{
    auto meets = [start, end](const LineRecord& line) {
        const int32_t lineEnd = line.start + line.length;
        return line.Overflow() ? end > line.start || start >= line.start
               : start == end  ? start >= line.start && start < lineEnd
                               : line.start < end && lineEnd > start;
    };
    // The lines follow the text without gaps and only the last can be the overflow line, so
    // the placed lines that meet the range are found by a search, not a pass over the story.
    const auto& lines = all.lines;
    const auto placedEnd = all.Overflows() ? lines.end() - 1 : lines.end();
    auto line = std::partition_point(lines.begin(), placedEnd,
                                     [start](const LineRecord& l) { return l.start + l.length <= start; });
    std::vector<LineRecord> out;
    for (; line != placedEnd && line->start < std::max(end, start + 1); ++line)
        if (meets(*line))
            out.push_back(*line);
    if (all.Overflows() && meets(lines.back()))
        out.push_back(lines.back());
    return out;
}

void EncodeLineRecord(const LineRecord& line, int32_t boxHandle, uint8_t out[kLineRecordSize])
{
    static_assert(kLineRecordSize == 16 * sizeof(uint32_t), "a line record is 16 words");
    std::fill(out, out + kLineRecordSize, uint8_t(0));
    Put(out, 0, uint32_t(line.start));
    Put(out, 1, uint32_t(line.length));
    Put(out, 8, uint32_t(line.paragraph));
    Put(out, 9, line.flags);
    if (line.Overflow()) {
        Put(out, 2, kNotSet);
        Put(out, 3, kNotSet);
        Put(out, 5, kNotSet);
        Put(out, 6, kNotSet);
        return;
    }
    Put(out, 2, uint32_t(line.top));
    Put(out, 3, uint32_t(line.left));
    Put(out, 4, uint32_t(line.measure));
    Put(out, 5, uint32_t(line.height));
    Put(out, 6, uint32_t(line.baseline));
    Put(out, 7, uint32_t(boxHandle));
    Put(out, 10, uint32_t(line.largest));
    Put(out, 11, uint32_t(line.spaceBefore));
}

}  // namespace xthost::doc
