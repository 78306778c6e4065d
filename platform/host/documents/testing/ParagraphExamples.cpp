#include "platform/host/documents/testing/ParagraphExamples.h"

#include <functional>
#include <map>
#include <vector>

#include "platform/host/documents/testing/DocBuilder.h"

namespace xthost::doc {

namespace {

constexpr int32_t pt(int32_t points) { return points * 65536; }

Rect Pt(int32_t top, int32_t left, int32_t bottom, int32_t right)
{
    return Rect{pt(top), pt(left), pt(bottom), pt(right)};
}

struct Tables {
    int32_t body, bold, italic;
    int32_t normal, head;
};

// Body text in DejaVu Sans with its bold and italic, "Normal" and a paragraph format with space
// after for the headings, on one US Letter layout.
Tables AddTables(DocBuilder& b)
{
    Tables t{};
    t.body = b.PlainText(pt(12));
    const auto face = [&](uint16_t bits) {
        CharFormat format = *b.Model().charFormats.Find(t.body);
        format.face = bits;
        return b.CharFormat(format);
    };
    t.bold = face(1);
    t.italic = face(2);
    t.normal = b.ParaFormat(ParaFormat{});
    ParaFormat head;
    head.spaceAfter = pt(6);
    t.head = b.ParaFormat(head);
    return t;
}

// A menu whose dishes were typed in a font with the high flag, paragraph ends included, through
// three linked boxes: the starters end in a column break and the main courses in a box break,
// both typed in that font too. One paragraph end stands inside a run of that font that begins
// and ends in the body font. The dishes are single words: a space in that font is a character
// of its own.
std::string Menu()
{
    DocBuilder b;
    const Tables t = AddTables(b);
    b.Font(2, "DejaVu Serif");
    CharFormat ornate;
    ornate.font = 2;
    ornate.high = 128;
    ornate.size = pt(12);
    ornate.colour = 2;
    const int32_t dish = b.CharFormat(ornate);
    b.Page(0);
    const uint32_t left = b.TextBox(Place::OnSpread(0), Pt(36, 36, 396, 300));
    const uint32_t right = b.TextBox(Place::OnSpread(0), Pt(36, 312, 396, 576));
    const uint32_t bottom = b.TextBox(Place::OnSpread(0), Pt(408, 36, 756, 576));
    b.Story({left, right, bottom})
        .Para(t.head)
        .Text(u"Starters\r", t.bold)
        .Para(t.normal)
        .Text(u"Minestrone\rBruschetta\rCarpaccio\x0B", dish)
        .Para(t.head)
        .Text(u"Main courses\r", t.bold)
        .Para(t.normal)
        .Text(u"Risotto\rGoulash\rRatatouille\x0C", dish)
        .Para(t.head)
        .Text(u"Desserts\r", t.bold)
        .Para(t.normal)
        .Text(u"Tiramisu\rSorbet\r", dish)
        .Text(u"Cheese from ", t.body)
        .Text(u"Tuscany\rCoffee", dish)
        .Text(u" or tea\r", t.body)
        .Text(u"Served daily", t.italic)
        .End();
    const uint32_t note = b.TextBox(Place::OnSpread(0), Pt(760, 36, 784, 576));
    b.Story({note}).Text(u"Vegetarian\r", dish).End();
    return b.Bytes();
}

// Unique ids on a paragraph of one text run, of three style runs, of no text run (in the middle
// and at the end of a story), and in front of an empty paragraph's end; then a story of many
// paragraphs, each opened by its own id.
std::string UniqueIds()
{
    DocBuilder b;
    const Tables t = AddTables(b);
    b.Page(0);
    const uint32_t first = b.TextBox(Place::OnSpread(0), Pt(36, 36, 396, 576));
    b.Story({first})
        .Para(t.head)
        .Uniq(11, t.bold)
        .Text(u"One run\r", t.bold)
        .Para(t.normal)
        .Uniq(12, t.body)
        .Text(u"Three ", t.body)
        .Text(u"style", t.bold)
        .Text(u" runs\r", t.italic)
        .Uniq(13, t.body)
        .Text(u"\r", t.body)
        .Text(u"Between empty ones\r", t.body)
        .Uniq(14, t.body)
        .Text(u"\r", t.body)
        .Uniq(15, t.body)
        .Text(u"Last words", t.italic)
        .Text(u"\r", t.body)
        .Uniq(16, t.body)
        .End();

    // Small type through five pages, so that the translation still fits.
    CharFormat small = *b.Model().charFormats.Find(t.body);
    small.size = pt(6);
    const int32_t item = b.CharFormat(small);
    small.face = 1;
    const int32_t itemBold = b.CharFormat(small);
    std::vector<uint32_t> boxes;
    for (int32_t page = 1; page <= 5; ++page) {
        b.Page(0);
        boxes.push_back(b.TextBox(Place::OnSpread(page), Pt(36, 36, 756, 576)));
    }
    StoryBuilder story = b.Story({boxes[0], boxes[1], boxes[2], boxes[3], boxes[4]});
    story.Para(t.normal);
    for (int32_t k = 0; k < unique_ids::kManyParagraphs; ++k) {
        story.Uniq(unique_ids::kManyFirstId + k, item);
        const std::string number = std::to_string(k + 1);
        story.Text(u"Item " + std::u16string(number.begin(), number.end()), item);
        if (k % 3 == 1)
            story.Text(u" in bold", itemBold);
        if (k + 1 < unique_ids::kManyParagraphs)
            story.Text(u"\r", item);
    }
    story.End();
    return b.Bytes();
}

const std::map<std::string, std::function<std::string()>>& Builders()
{
    static const std::map<std::string, std::function<std::string()>> builders = {
        {"menu", Menu},
        {"unique-ids", UniqueIds},
    };
    return builders;
}

}  // namespace

std::vector<std::string> ParagraphExampleNames() { return {"menu", "unique-ids"}; }

std::string BuildParagraphExample(const std::string& name) { return Builders().at(name)(); }

}  // namespace xthost::doc
