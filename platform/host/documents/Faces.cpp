#include "platform/host/documents/Faces.h"

namespace xthost::doc {

namespace {

// a x num / den rounded half away from zero.
int32_t Scale(int32_t a, int32_t num, int32_t den)
{
    const int64_t p = int64_t(a) * num;
    const int64_t q = (2 * (p < 0 ? -p : p) + den) / (2 * int64_t(den));
    return int32_t(p < 0 ? -q : q);
}

bool In(char32_t c, char32_t lo, char32_t hi) { return c >= lo && c <= hi; }

}  // namespace

Face FaceOf(uint16_t bits)
{
    Face f;
    for (const FaceRow& row : kFaceTable) {
        if (!(bits & row.bit))
            continue;
        switch (row.kind) {
        case FaceKind::Bold: f.bold = true; break;
        case FaceKind::Italic: f.italic = true; break;
        case FaceKind::Underline: f.underline = true; break;
        case FaceKind::Outline: f.outline = true; break;
        case FaceKind::Shadow: f.shadow = true; break;
        case FaceKind::Shift: if (!f.shift) f.shift = &row; break;
        case FaceKind::Strike: f.strike = true; break;
        case FaceKind::Uppercase: f.uppercase = true; break;
        case FaceKind::SmallCaps: f.smallCaps = !f.uppercase; break;
        case FaceKind::WordUnderline: f.wordUnderline = !f.underline; break;
        }
    }
    return f;
}

bool IsLowercase(char32_t c)
{
    if (In(c, 'a', 'z'))
        return true;
    if (c < 0x80)
        return false;
    if (In(c, 0xDF, 0xFF))
        return c != 0xF7;
    // Latin Extended-A pairs capital and small letter; the small one is odd, then even from
    // U+0139 to U+0148 and from U+0179 on.
    if (In(c, 0x0100, 0x0137) || In(c, 0x014A, 0x0177))
        return c % 2 == 1;
    if (In(c, 0x0139, 0x0148) || In(c, 0x0179, 0x017E))
        return c % 2 == 0;
    if (In(c, 0x1EA0, 0x1EF9))  // Vietnamese
        return c % 2 == 1;
    return In(c, 0x03AC, 0x03CE) || In(c, 0x0430, 0x045F);  // Greek, Cyrillic
}

int32_t GlyphSize(const Face& face, int32_t size, char32_t c)
{
    if (face.shift)
        size = Scale(size, face.shift->sizeNum, face.shift->sizeDen);
    if (face.smallCaps && IsLowercase(c))
        size = Scale(size, kSmallCapsNum, kSmallCapsDen);
    return size;
}

int32_t GlyphRise(const Face& face, int32_t size)
{
    return face.shift ? Scale(size, face.shift->riseNum, face.shift->riseDen) : 0;
}

int32_t CapitalsOf(const Face& face, char32_t c) { return (face.uppercase || face.smallCaps) && c == 0xDF ? 2 : 1; }

}  // namespace xthost::doc
