#include "platform/host/documents/testing/DirectoryExample.h"

#include <vector>

#include "platform/host/documents/testing/DocBuilder.h"

namespace xthost::doc {

namespace {

constexpr int kEntries = 5000;
constexpr int kEntriesPerBox = 30;
constexpr int kEntriesPerStory = 10;
constexpr int kBoxesPerPage = 4;

// "0042" for 42 (six digits above 9999): entries read in order.
std::u16string Number(int n)
{
    std::u16string digits(n > 9999 ? 6 : 4, u'0');
    for (int i = static_cast<int>(digits.size()) - 1; i >= 0; --i, n /= 10)
        digits[static_cast<size_t>(i)] = static_cast<char16_t>(u'0' + n % 10);
    return digits;
}

}  // namespace

std::string BuildLongDocument(int entries, bool chained)
{
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
    auto entry = [&](StoryBuilder& text, int n, bool last) {
        text.Text(u"Entry " + Number(n) + u", listed under ", plain);
        // Every fifth entry carries a hidden pair, as an index mark would.
        if (n % 5 == 0)
            text.Hidden(0x45, "op", plain).Hidden(0x25, "cl", plain);
        text.Text(last ? u"its heading." : u"its heading.\r", bold);
    };
    if (chained) {
        std::vector<uint32_t> boxes;
        for (int i = 0; i < (entries + kEntriesPerBox - 1) / kEntriesPerBox; ++i)
            boxes.push_back(b.TextBox(Place::OnSpread(b.Page(0)), Rect{36 << 16, 36 << 16, 756 << 16, 576 << 16}));
        StoryBuilder text = b.Story(boxes);
        for (int n = 1; n <= entries; ++n)
            entry(text, n, n == entries);
        text.End();
        return b.Bytes();
    }
    int32_t spread = 0;
    for (int story = 0, n = 1; n <= entries; ++story) {
        const int slot = story % kBoxesPerPage;
        if (slot == 0)
            spread = b.Page(0);
        const int32_t top = (36 + slot * 180) << 16;
        const uint32_t box = b.TextBox(Place::OnSpread(spread), Rect{top, 36 << 16, top + (175 << 16), 576 << 16});
        StoryBuilder text = b.Story({box});
        for (int i = 0; i < kEntriesPerStory && n <= entries; ++i, ++n)
            entry(text, n, i + 1 == kEntriesPerStory);
        text.End();
    }
    return b.Bytes();
}

std::string BuildDirectoryExample() { return BuildLongDocument(kEntries, true); }

}  // namespace xthost::doc
