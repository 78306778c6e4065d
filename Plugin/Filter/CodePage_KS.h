// The fixed tables that translate host text: special characters that become named records,
// host characters and their Unicode characters, the position styles of superscript and
// subscript with their size and shift arithmetic, and the code pages of the host's scripts.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/documents/XTDocSuites.h"

class RunAttrReader;
class RunAttrWriter;

// ---- Special characters --------------------------------------------------------------------

struct SpecialCharRow {
    uint16_t hostChar;
    uint16_t value;
    uint16_t zero;
    const char* name;
    const char* qualifier;  // null for none
};

// The row of a host character, or null.
const SpecialCharRow* FindSpecialCharRow(uint16_t hostChar);
// The row with that name and qualifier (null: only rows without one), or null.
const SpecialCharRow* FindSpecialRowByName(const std::string& name, const char* qualifier);

// ---- Character records ---------------------------------------------------------------------

struct CharRecord {
    uint32_t flags;  // bit 0: the direction bit, compared with the run font's high flag
    uint16_t hostChar;
    uint16_t unicode;
};

enum : uint32_t {
    kCharMapped = 0x1000000,          // 0x1000001 with the direction bit
    kCharMappedSpace = 0x1000002,     // spaces and dashes (reverse lookup only)
    kCharUnchanged = 0x2000000,       // written unchanged, code page 5
    kCharSpecialByte = 0x4000000,
    kCharUnicode = 0x8000000,
    kCharBreakDropped = 0x10000000,
    kCharControlDropped = 0x20000000,
    kCharOtherDropped = 0x40000000,
};

// The record of a host character for a run whose font has (or has not) the high flag: above 31
// the two-record table; up to 31 the one-record table first, then the control table. A record
// whose direction bit differs from the flag counts as none, but the breaks 11, 12 and 13 have
// their record in every font.
const CharRecord* FindSpecialCharRecord(uint16_t character, bool highFlag);
// The record of a Unicode character (bit 24 set, or flags 0x8000000), searched in the control
// table, the two-record table and the space and dash table; or null.
const CharRecord* FindRecordByUnicode(uint16_t unicode);
// 128 to 159, and 0x0A, 0x1F, 0x2000, 0x2001, 0x2011.
bool IsControlSpecialChar(uint32_t character, bool listed = true);
// The character an import writes for a Unicode character of a text run into text whose font
// has (or has not) the high flag; `asItStands` tells that the run is in code page 1200, where
// the export puts every character that it wrote as the host holds it. The host character of
// the character's record when an export reads that host character back as the same Unicode
// character, and the character is a control special character or one that a record of the
// high flag maps outside code page 1200 (U+00A0 and U+2011 of a space and a hyphen). Anything
// else stays itself, so that nothing comes back other than it was written.
char16_t ImportHostChar(uint16_t unicode, bool highFlag, bool asItStands);

// ---- Position styles -----------------------------------------------------------------------

// Style 0 to 5 from the face bits 0x160 of a character format.
int32_t PositionStyleOf(const XTCharFormat& format);
int32_t PositionStyleOfFace(uint16_t face);
// The face bits to set on import for "top" (shift kind 2) or "bottom" (4); 0 for none.
uint16_t PositionFaceBits(int32_t style, int32_t shiftKind);

// What a character format says about size and shift.
struct PositionAttribs {
    PositionAttribs() = default;
    PositionAttribs(const XTCharFormat& format, bool flag1, bool flag2);

    int32_t size = 0;   // 16.16 points
    int32_t shift = 0;  // 16.16 baseline shift
    uint16_t face = 0;
    bool flag1 = false;
    bool flag2 = false;
};

// The baseline shift in half points, a half going away from zero.
int32_t BaselineShiftHalfPoints(const PositionAttribs& attribs);
// The size in half points, to the nearest half point, at least 1.
int32_t SizeHalfPoints(int32_t size);
// Writes "shift" ("top", "bottom" or the negated shift in half points) and "size".
void WritePositionAttribs(const PositionAttribs& attribs, RunAttrWriter& writer);
// Reads "size" and "shift" back: a size of 1 to 9999 half points that differs from the text's
// sets the host's size attribute (-103) of the text and scales the shift; "top" and "bottom"
// set the face bits, a number the shift. Answers whether "size" was present and in range.
bool ReadPositionAttribs(PositionAttribs& attribs, const RunAttrReader& reader, XTHandle text);

// ---- Code pages ----------------------------------------------------------------------------

struct CodePagePair {
    uint32_t windows;
    uint32_t mac;
};
constexpr uint32_t kNoCodePage = 65535;
// The code page of text that goes out as the host holds it, through no character record.
constexpr int32_t kUnicodeCodePage = 1200;

// The code pages of a script and language (language -1: none).
CodePagePair CodePageForScript(int32_t script, int32_t language);
// The code pages of a character format; both start as fallback.
CodePagePair CodePageForScript(const XTCharFormat& format, uint32_t fallback);
// The Windows code page of a script.
uint32_t CodePageForScript(int32_t script);
// 10000 with the flag, else 1252.
uint32_t DefaultCodePage(bool mac);
