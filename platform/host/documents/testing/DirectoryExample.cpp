#include "platform/host/documents/testing/DirectoryExample.h"

#include <vector>

#include "platform/host/documents/testing/DocBuilder.h"

namespace xthost::doc {

namespace {

constexpr int kEntries = 5000;
constexpr int kEntriesPerBox = 30;

// "0042" for 42: entries read in order.
std::u16string Number(int n)
{
    std::u16string digits(4, u'0');
    for (int i = 3; i >= 0; --i, n /= 10)
        digits[static_cast<size_t>(i)] = static_cast<char16_t>(u'0' + n % 10);
    return digits;
}

}  // namespace

std::string BuildDirectoryExample()
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
    std::vector<uint32_t> boxes;
    for (int i = 0; i < (kEntries + kEntriesPerBox - 1) / kEntriesPerBox; ++i)
        boxes.push_back(b.TextBox(Place::OnSpread(b.Page(0)), Rect{36 << 16, 36 << 16, 756 << 16, 576 << 16}));
    StoryBuilder text = b.Story(boxes);
    for (int n = 1; n <= kEntries; ++n) {
        text.Text(u"Entry " + Number(n) + u", listed under ", plain);
        // Every fifth entry carries a hidden pair, as an index mark would.
        if (n % 5 == 0)
            text.Hidden(0x45, "op", plain).Hidden(0x25, "cl", plain);
        text.Text(n < kEntries ? u"its heading.\r" : u"its heading.", bold);
    }
    text.End();
    return b.Bytes();
}

}  // namespace xthost::doc
