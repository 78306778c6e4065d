// The long documents the import and export benchmarks share, so that their figures compare:
// paragraphs of two formatted runs with a hidden pair in every fifth, either in stories of 10
// paragraphs (a text box each, four boxes a page) or in one story chained through a box a page.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/host/documents/testing/DocBuilder.h"

namespace kesto_bench {

enum class Shape { Stories, Chained };

constexpr int kParagraphsPerStory = 10;
constexpr int kBoxesPerPage = 4;
constexpr int kParagraphsPerChainedBox = 30;

inline const char* ShapeName(Shape shape) { return shape == Shape::Stories ? "stories" : "chained"; }

inline bool ParseShape(const char* name, Shape* shape)
{
    for (Shape s : {Shape::Stories, Shape::Chained})
        if (std::strcmp(name, ShapeName(s)) == 0) {
            *shape = s;
            return true;
        }
    return false;
}

inline std::string LongDocument(Shape shape, int paragraphs)
{
    using namespace xthost::doc;
    DocBuilder b;
    const CharFormat plainFormat = b.DejaVuBlack(1, 10 << 16);
    const int32_t plain = b.CharFormat(plainFormat);
    CharFormat boldFormat = plainFormat;
    boldFormat.face |= 1;
    const int32_t bold = b.CharFormat(boldFormat);
    ParaFormat normal;
    normal.style = 1;
    b.StyleSheet(1, "Normal", plain, b.ParaFormat(normal));
    b.Layout("Layout 1", 612 << 16, 792 << 16, 36 << 16);
    auto paragraph = [&](StoryBuilder& text, int n, bool last) {
        text.Text(u"Paragraph of the benchmark, ", plain);
        if (n % 5 == 0)
            text.Hidden(0x45, "op", plain).Hidden(0x25, "cl", plain);
        text.Text(last ? u"bold part." : u"bold part.\r", bold);
    };
    if (shape == Shape::Chained) {
        std::vector<uint32_t> boxes;
        for (int i = 0; i <= (paragraphs - 1) / kParagraphsPerChainedBox; ++i)
            boxes.push_back(b.TextBox(Place::OnSpread(b.Page(0)), Rect{36 << 16, 36 << 16, 756 << 16, 576 << 16}));
        StoryBuilder text = b.Story(boxes);
        for (int n = 0; n < paragraphs; ++n)
            paragraph(text, n, n + 1 == paragraphs);
        text.End();
        return b.Bytes();
    }
    int32_t spread = 0;
    for (int story = 0, n = 0; n < paragraphs; ++story) {
        const int slot = story % kBoxesPerPage;
        if (slot == 0)
            spread = b.Page(0);
        const int32_t top = (36 + slot * 180) << 16;
        const uint32_t box = b.TextBox(Place::OnSpread(spread), Rect{top, 36 << 16, top + (175 << 16), 576 << 16});
        StoryBuilder text = b.Story({box});
        for (int i = 0; i < kParagraphsPerStory && n < paragraphs; ++i, ++n)
            paragraph(text, n, i + 1 == kParagraphsPerStory);
        text.End();
    }
    return b.Bytes();
}

}  // namespace kesto_bench
