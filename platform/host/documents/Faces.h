// The face bits of a character format and what each does to the text: one table that the
// text flow reads for widths and the PDF output reads for drawing, so the two never disagree
// about which bit is which style.
#pragma once

#include <cstdint>

namespace xthost::doc {

enum class FaceKind : uint8_t {
    Bold,
    Italic,
    Underline,      // the whole run
    Outline,        // glyphs stroked, not filled
    Shadow,         // a grey copy behind the glyphs, down and to the right
    Shift,          // set smaller and raised or lowered
    Strike,
    Uppercase,      // every letter as a capital
    SmallCaps,      // lower-case letters as capitals at a reduced size
    WordUnderline,  // words only, not the spaces between them
};

struct FaceRow {
    uint16_t bit;
    FaceKind kind;
    const char* name;
    // Shift rows: the glyph size and the rise (up is positive), as fractions of the size.
    int32_t sizeNum, sizeDen;
    int32_t riseNum, riseDen;
};

// The twelve face bits in their order.
inline constexpr FaceRow kFaceTable[] = {
    {0x0001, FaceKind::Bold, "bold", 1, 1, 0, 1},
    {0x0002, FaceKind::Italic, "italic", 1, 1, 0, 1},
    {0x0004, FaceKind::Underline, "underline", 1, 1, 0, 1},
    {0x0008, FaceKind::Outline, "outline", 1, 1, 0, 1},
    {0x0010, FaceKind::Shadow, "shadow", 1, 1, 0, 1},
    {0x0020, FaceKind::Shift, "superscript", 2, 3, 1, 3},
    {0x0040, FaceKind::Shift, "subscript", 2, 3, -1, 5},
    // A superior's top lines up with the capitals' top.
    {0x0100, FaceKind::Shift, "superior", 1, 2, 3, 8},
    {0x0200, FaceKind::Strike, "strike", 1, 1, 0, 1},
    {0x0400, FaceKind::Uppercase, "uppercase", 1, 1, 0, 1},
    {0x0800, FaceKind::SmallCaps, "small caps", 1, 1, 0, 1},
    {0x1000, FaceKind::WordUnderline, "word underline", 1, 1, 0, 1},
};

// The bits that change a character's width: the shifts and the capitals.
constexpr uint16_t MetricFaceBits()
{
    uint16_t bits = 0;
    for (const FaceRow& row : kFaceTable)
        if (row.kind == FaceKind::Shift || row.kind == FaceKind::Uppercase || row.kind == FaceKind::SmallCaps)
            bits |= row.bit;
    return bits;
}

// The small capitals' size as a fraction of the size.
constexpr int32_t kSmallCapsNum = 3, kSmallCapsDen = 4;

// The styles that a format's face bits ask for. Where bits conflict the first row of the
// table wins: superscript before subscript before superior, capitals before small capitals.
// Underline and word underline together underline the whole run.
struct Face {
    bool bold = false, italic = false, underline = false, wordUnderline = false, outline = false,
         shadow = false, strike = false, uppercase = false, smallCaps = false;
    const FaceRow* shift = nullptr;
};
Face FaceOf(uint16_t bits);

// A letter that has a capital of its own (Latin, Greek, Cyrillic, Vietnamese).
bool IsLowercase(char32_t c);

// The size (16.16) at which a character of the face is set: the shift's size, and for a
// lower-case letter in small capitals the small capitals' size.
int32_t GlyphSize(const Face& face, int32_t size, char32_t c);
// How far (16.16, up is positive) the face raises its glyphs at the given size.
int32_t GlyphRise(const Face& face, int32_t size);
// How many capitals a character becomes: 2 for U+00DF (sharp s as "SS") under capitals or
// small capitals, else 1.
int32_t CapitalsOf(const Face& face, char32_t c);

}  // namespace xthost::doc
