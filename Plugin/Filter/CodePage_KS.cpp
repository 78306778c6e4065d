#include "Plugin/Filter/CodePage_KS.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Foundation/TraceHooks.h"
#include "Plugin/Filter/Attrib_KS.h"
#include "Plugin/Filter/RunAttrs.h"
#include "Plugin/Shell/HostSuites.h"

namespace {

// ---- Special characters ------------------------------------------------------------------

constexpr SpecialCharRow kSpecialChars[] = {
    {0x0B, 0, 0, "column_break", nullptr}, {0x0C, 0, 0, "frame_break", nullptr},
    {0x09, 0, 0, "tabulator", nullptr},    {0x1E, 0, 0, "tabulator", "TempIndent"},
    {0x02, 6, 0, "page_number", "Curr"},   {0x03, 7, 0, "page_number", "Next"},
    {0x01, 5, 0, "page_number", "Last"},
};

// ---- Character records -------------------------------------------------------------------

constexpr uint32_t C20 = kCharControlDropped, C40 = kCharOtherDropped, C10 = kCharBreakDropped;

// Indexed by the host character 0 to 31.
constexpr CharRecord kControlTable[32] = {
    {C20, 0, 0},    {C20, 1, 0},    {C20, 2, 0},    {C20, 3, 0},
    {C20, 4, 0},    {C40, 5, 0},    {C40, 6, 0},    {kCharUnicode, 7, 0x000A},
    {C40, 8, 0},    {kCharUnicode, 9, 0x0009},      {C40, 10, 0},   {C10, 11, 0},
    {C10, 12, 0},   {C10, 13, 0},   {C40, 14, 0},   {kCharMapped, 15, 0x2001},
    {kCharMapped, 16, 0x2008},      {kCharUnchanged, 17, 0},        {kCharUnchanged, 18, 0},
    {kCharUnchanged, 19, 0},        {kCharUnchanged, 20, 0},        {C40, 21, 0},
    {C40, 22, 0},   {C40, 23, 0},   {C40, 24, 0},   {C40, 25, 0},
    {C40, 26, 0},   {C40, 27, 0},   {kCharSpecialByte, 28, 0},      {kCharUnchanged, 29, 0x001D},
    {kCharSpecialByte, 30, 0},      {kCharMapped, 31, 0x00AD},
};

constexpr CharRecord kLowTable[] = {{kCharMapped | 1, 0x0F, 0x2001}};

constexpr CharRecord kHighTable[] = {{kCharMapped | 1, 0x20, 0x00A0}, {kCharMapped | 1, 0x2D, 0x2011}};

constexpr CharRecord kSpaceDashTable[] = {
    {kCharMappedSpace, 0x0F, 0x2000}, {kCharMappedSpace, 0xA0, 0x2003}, {kCharMappedSpace, 0x10, 0x2004},
    {kCharMappedSpace, 0x10, 0x2005}, {kCharMappedSpace, 0x10, 0x2006}, {kCharMappedSpace, 0x0F, 0x2007},
    {kCharMappedSpace, 0x10, 0x2009}, {kCharMappedSpace, 0x10, 0x200A}, {kCharMappedSpace, 0x2D, 0x2010},
    {kCharMappedSpace, 0x96, 0x2013}, {kCharMappedSpace, 0x97, 0x2014}, {kCharMappedSpace, 0x96, 0x2015},
};
static_assert(sizeof kSpaceDashTable / sizeof kSpaceDashTable[0] == 12, "twelve spaces and dashes");

constexpr uint32_t kControlSpecialList[] = {0x0A, 0x1F, 0x2000, 0x2001, 0x2011};

bool DirectionMatches(const CharRecord& record, bool highFlag)
{
    return ((record.flags & 1) != 0) == highFlag;
}

bool FoundByUnicode(const CharRecord& record, uint16_t unicode)
{
    return ((record.flags & 0x1000000) != 0 || record.flags == kCharUnicode) && record.unicode == unicode;
}

// ---- Code pages --------------------------------------------------------------------------

struct CodePageRow {
    uint16_t script;
    uint32_t windows;
    uint32_t mac;
    uint16_t further;  // carried, not used
};

constexpr uint32_t N = kNoCodePage;
constexpr CodePageRow kCodePages[32] = {
    {0, 0, 0, 0},           {1, 932, 10001, 14},    {2, 950, 950, 53},      {3, 949, 10003, 51},
    {4, 1256, 10004, 0},    {5, 1255, 10005, 13},   {6, 1253, 10006, 0},    {7, 1251, 10007, 0},
    {8, 5, 5, 0},           {9, N, 1200, 33},       {10, N, 1200, 0},       {11, N, 1200, 0},
    {12, N, 1200, 0},       {13, N, N, 0},          {14, N, 1200, 0},       {15, N, 1200, 0},
    {16, N, 1200, 0},       {17, N, 1200, 0},       {18, N, 1200, 0},       {19, N, 1200, 0},
    {20, N, 1200, 0},       {21, 874, 10021, 54},   {22, N, 1200, 0},       {23, N, 1200, 0},
    {24, N, 1200, 0},       {25, 936, 10008, 52},   {26, N, N, 0},          {27, N, 1200, 0},
    {28, N, N, 0},          {29, 1250, 10029, 0},   {30, 1258, 1200, 0},    {31, N, 1200, 0},
};

// Host scripts and languages that the code pages depend on.
constexpr int32_t kScriptRoman = 0;
constexpr int32_t kScriptCentralEurope = 29;
constexpr int32_t kNoScript = 0x20;

// ---- Position styles ---------------------------------------------------------------------

constexpr uint16_t kPositionBits = 0x160;
constexpr int32_t kShiftTop = 2;
constexpr int32_t kShiftBottom = 4;
constexpr int32_t kSizeAttribute = -103;
constexpr int32_t kHalfPoint = 32768;

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

int32_t ShiftKindOfStyle(int32_t style)
{
    switch (style) {
    case 1:
    case 3:
    case 4: return kShiftTop;
    case 2:
    case 5: return kShiftBottom;
    default: return 0;
    }
}

} // namespace

// ---- Special characters --------------------------------------------------------------------

const SpecialCharRow* FindSpecialCharRow(uint16_t hostChar)
{
    for (const SpecialCharRow& row : kSpecialChars)
        if (row.hostChar == hostChar)
            return &row;
    return nullptr;
}

const SpecialCharRow* FindSpecialRowByName(const std::string& name, const char* qualifier)
{
    for (const SpecialCharRow& row : kSpecialChars) {
        if (name != row.name)
            continue;
        if (!qualifier ? !row.qualifier : row.qualifier && std::strcmp(qualifier, row.qualifier) == 0)
            return &row;
    }
    return nullptr;
}

// ---- Character records ---------------------------------------------------------------------

const CharRecord* FindSpecialCharRecord(uint16_t character, bool highFlag)
{
    if (character > 31) {
        for (const CharRecord& record : kHighTable)
            if (record.hostChar == character)
                return DirectionMatches(record, highFlag) ? &record : nullptr;
        return nullptr;
    }
    for (const CharRecord& record : kLowTable)
        if (record.hostChar == character && DirectionMatches(record, highFlag))
            return &record;
    const CharRecord& record = kControlTable[character];
    // A paragraph end, column or box break ends its paragraph in any font: the paragraph of the
    // Book carries it, never its text.
    if (record.flags == kCharBreakDropped)
        return &record;
    return DirectionMatches(record, highFlag) ? &record : nullptr;
}

const CharRecord* FindRecordByUnicode(uint16_t unicode)
{
    for (const CharRecord& record : kControlTable)
        if (FoundByUnicode(record, unicode))
            return &record;
    for (const CharRecord& record : kHighTable)
        if (FoundByUnicode(record, unicode))
            return &record;
    for (const CharRecord& record : kSpaceDashTable)
        if (FoundByUnicode(record, unicode))
            return &record;
    return nullptr;
}

bool IsControlSpecialChar(uint32_t character, bool listed)
{
    if (character >= 128 && character <= 159)
        return true;
    if (!listed)
        return false;
    for (uint32_t c : kControlSpecialList)
        if (c == character)
            return true;
    return false;
}

char16_t ImportHostChar(uint16_t unicode, bool highFlag, bool asItStands)
{
    const CharRecord* record = FindRecordByUnicode(unicode);
    if (!record)
        return unicode;
    // A record that applies only under the high flag maps a space or a hyphen, characters the
    // host also holds as themselves. Its no-break space is the host's own in code page 1200,
    // where the export writes what it read through no record.
    const bool throughHighRecord = (record->flags & 1) != 0 && !asItStands;
    if (!throughHighRecord && !IsControlSpecialChar(unicode))
        return unicode;
    const CharRecord* back = FindSpecialCharRecord(record->hostChar, highFlag);
    return back && FoundByUnicode(*back, unicode) ? record->hostChar : unicode;
}

// ---- Position styles -----------------------------------------------------------------------

int32_t PositionStyleOfFace(uint16_t face)
{
    switch (face & kPositionBits) {
    case 0x20: return 1;
    case 0x40: return 2;
    case 0x100: return 3;
    case 0x120: return 4;
    case 0x140: return 5;
    default: return 0;
    }
}

int32_t PositionStyleOf(const XTCharFormat& format)
{
    return PositionStyleOfFace(format.face);
}

uint16_t PositionFaceBits(int32_t style, int32_t shiftKind)
{
    if (shiftKind == kShiftTop) {
        switch (style) {
        case 0: return 0x120;
        case 1: return 0x20;
        case 3: return 0x100;
        default: return 0;
        }
    }
    if (shiftKind == kShiftBottom) {
        switch (style) {
        case 0: return 0x140;
        case 1: return 0x40;
        case 3: return 0x140;
        default: return 0;
        }
    }
    return 0;
}

PositionAttribs::PositionAttribs(const XTCharFormat& format, bool first, bool second)
    : size(format.size), shift(format.shift), face(format.face), flag1(first), flag2(second)
{
}

int32_t BaselineShiftHalfPoints(const PositionAttribs& attribs)
{
    const int64_t m = attribs.shift;
    const int64_t magnitude = ((m < 0 ? -m : m) + 16384) / kHalfPoint;
    return static_cast<int32_t>(m < 0 ? -magnitude : magnitude);
}

int32_t SizeHalfPoints(int32_t size)
{
    const int32_t halves = static_cast<int32_t>((int64_t(size) + 0x4000) >> 15);
    return halves < 2 ? 1 : halves;
}

void WritePositionAttribs(const PositionAttribs& attribs, RunAttrWriter& writer)
{
    const int32_t kind = ShiftKindOfStyle(PositionStyleOfFace(attribs.face));
    if (kind == kShiftTop) {
        writer.SetAttr(u"shift", u"top");
    } else if (kind == kShiftBottom) {
        writer.SetAttr(u"shift", u"bottom");
    } else {
        char number[16];
        std::snprintf(number, sizeof number, "%d", -BaselineShiftHalfPoints(attribs));
        writer.SetAttr(u"shift", Wide(number));
    }
    writer.SetAttr(u"size", Wide(std::to_string(SizeHalfPoints(attribs.size))));
}

bool ReadPositionAttribs(PositionAttribs& attribs, const RunAttrReader& reader, XTHandle text)
{
    bool sized = false;
    const int32_t shiftBefore = attribs.shift;
    const int32_t ownShift = BaselineShiftHalfPoints(attribs);
    std::u16string value;
    int32_t number = 0;
    if (reader.GetNumber(u"size", number) && number >= 1 && number <= 9999) {
        sized = true;
        const int32_t current = SizeHalfPoints(attribs.size);
        const int32_t size = number;
        if (size != current) {
            SetTextAttribute(text, kSizeAttribute, size * kHalfPoint);
            attribs.shift = static_cast<int32_t>(int64_t(attribs.shift) * size / current);
            attribs.size = size * kHalfPoint;
        }
    }
    value.clear();
    if (reader.GetAttr(u"shift", value)) {
        const int32_t style = PositionStyleOfFace(attribs.face);
        if (value == u"top")
            attribs.face = static_cast<uint16_t>(attribs.face | PositionFaceBits(style, kShiftTop));
        else if (value == u"bottom")
            attribs.face = static_cast<uint16_t>(attribs.face | PositionFaceBits(style, kShiftBottom));
        else if (reader.GetNumber(u"shift", number) && number >= -65535 && number <= 65535)
            // The half points the export writes for the text's own shift keep it, as the size does.
            attribs.shift = -number == ownShift ? shiftBefore : -number * kHalfPoint;
    }
    // The text's own shift, not the one its formatting came with.
    if (attribs.shift != shiftBefore)
        SetTextAttribute(text, kAttrShift, attribs.shift);
    return sized;
}

// ---- Code pages ----------------------------------------------------------------------------

CodePagePair CodePageForScript(int32_t script, int32_t language)
{
    if (script < 0 || script > 31)
        return {kNoCodePage, kNoCodePage};
    if (script == kScriptRoman) {
        switch (language) {
        case 21:
        case 47: return {1252, 10079};
        case 24: return {1254, 10081};
        case 25: return {1250, 10082};
        default: return {1252, 10000};
        }
    }
    const CodePageRow& row = kCodePages[script];
    if (row.script != script)
        ReportInternalError(__FILE__, __LINE__);
    if (script == kScriptCentralEurope && (language == 41 || language == 44 || language == 45))
        return {1257, row.mac};
    return {row.windows, row.mac};
}

CodePagePair CodePageForScript(const XTCharFormat& format, uint32_t fallback)
{
    const CodePagePair keep{fallback, fallback};
    const int32_t language = static_cast<int32_t>(format.scriptLang & 0xFF);
    const int32_t script = static_cast<int32_t>((format.scriptLang >> 16) & 0xFF);
    if (format.font < 0)
        return format.scriptLang == 0 ? keep : CodePageForScript(script, language);
    const int32_t hostScript = CallHost<XSD_FontScript>(format.font);
    if (hostScript < 0)
        ReportInternalError(__FILE__, __LINE__);
    if (format.scriptLang == 0) {
        if (hostScript == kNoScript || hostScript == 0)
            return keep;
        return CodePageForScript(hostScript, -1);
    }
    return CodePageForScript(script, language);
}

uint32_t CodePageForScript(int32_t script)
{
    return CodePageForScript(script, -1).windows;
}

uint32_t DefaultCodePage(bool mac)
{
    return mac ? 10000 : 1252;
}
