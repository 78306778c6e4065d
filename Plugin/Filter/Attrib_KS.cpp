#include "Plugin/Filter/Attrib_KS.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "Foundation/Log.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Filter/CodePage_KS.h"
#include "Plugin/QAPI/QFontList.h"
#include "Plugin/Shell/BreakPoint.h"
#include "Plugin/Shell/HostSuites.h"
#include "platform/host/Utf8.h"
#include "platform/host/documents/XTTextSuites.h"
#include "platform/storage/Names.h"

namespace {

std::u16string Ascii(const char* text)
{
    return std::u16string(text, text + std::strlen(text));
}

std::u16string Number(long value)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%ld", value);
    return Ascii(buffer);
}

// A whole decimal number (digits only, at least one); false for anything else or above the limit.
bool WholeDecimal(const std::u16string& text, uint32_t limit, uint32_t& out)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - u'0');
    }
    if (value > limit)
        return false;
    out = static_cast<uint32_t>(value);
    return true;
}

// A signed decimal number with optional leading blanks, as the attribute values write them.
bool SignedDecimal(const std::u16string& text, int32_t& out)
{
    size_t i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    if (i == text.size())
        return false;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9' || value > INT32_MAX)
            return false;
        value = value * 10 + (text[i] - u'0');
    }
    value = negative ? -value : value;
    if (value < INT32_MIN || value > INT32_MAX)
        return false;
    out = static_cast<int32_t>(value);
    return true;
}

// The format of the first selected character of the current box's story (`text`, when given,
// names that story); at an insertion point the format an insertion there would take.
bool CurrentFormat(XTCharFormat& format, XTHandle text = 0)
{
    XTHandle box = 0, story = 0;
    int32_t start = 0, end = 0, length = 0;
    uint16_t extra = 0;
    if (CallHost<XBY_CurrentBox>(&box) != XT_OK || CallHost<XTY_StoryOfBox>(box, &story, &start, &end, &length) != XT_OK)
        return false;
    if (start == end)
        return CallHost<XTY_InsertionAttributes>(&format, &extra) == XT_OK;
    story = text ? text : story;
    int32_t count = 0;
    if (CallHost<XTY_StyleRuns>(story, nullptr, &count) != XT_OK || count <= 0)
        return false;
    std::vector<XTRunEntry> runs(static_cast<size_t>(count));
    XTHandle store = 0;
    if (CallHost<XTY_StyleRuns>(story, runs.data(), &count) != XT_OK || CallHost<XTY_AttributeStore>(story, &store) != XT_OK)
        return false;
    int64_t runStart = 0;
    for (const XTRunEntry& run : runs) {
        runStart += run.length;
        if (start < runStart)
            return CallHost<XTY_CharAttributes>(store, run.value, &format, &extra) == XT_OK;
    }
    return false;
}

// The code page and script of a run's font: its font-list entry, else (or when the entry's
// code page is 65535) the code page of its script.
struct FontFacts {
    uint32_t codePage;
    int32_t script;
};

FontFacts FactsOfFont(const QFontList* fonts, const XTCharFormat& format)
{
    const QFontEntry* entry = fonts ? fonts->Find(static_cast<uint16_t>(format.font)) : nullptr;
    // A font the host does not know has a negative script, which has no code page.
    const int32_t script = entry ? entry->script : CallHost<XSD_FontScript>(format.font);
    const uint32_t codePage = entry && entry->codePage != kNoCodePage ? entry->codePage : CodePageForScript(script);
    return FontFacts{codePage, script};
}

// "typeface_codepage" as the export writes it for a typeface code page.
uint32_t WrittenTypefaceCodePage(uint32_t codePage)
{
    return codePage == kNoCodePage ? DefaultCodePage(true) : codePage;
}

// The Windows-1252 byte of a character, 0 when that code page has none.
uint8_t Windows1252Byte(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<uint8_t>(c);
    // 0x80 to 0x9F; the five codes the code page leaves undefined hold 0.
    static const char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                       0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (int n = 0; n < 32; ++n)
        if (kHigh[n] != 0 && kHigh[n] == c)
            return static_cast<uint8_t>(0x80 + n);
    return 0;
}

// A font's name, each byte one unit: how a host name that is not UTF-8 is written.
std::u16string WidenedName(const std::string& name)
{
    return std::u16string(name.begin(), name.end());
}

// A font's name as "typeface" carries it. The host's 8-bit names are UTF-8, so the name is
// written as its characters. In the Mac form a character Windows-1252 has becomes the unit of
// its Mac Roman code, as the Windows-1252 to Mac Roman table gives it; any other stays itself.
std::u16string WrittenName(const QFontEntry& entry, bool macRoman)
{
    const std::string name(entry.name.c_str(), entry.name.Length());
    bool valid = true;
    const std::u16string characters = cfb::utf8ToUtf16(name, &valid);
    if (!valid)
        return WidenedName(name);
    if (!macRoman)
        return characters;
    std::u16string text;
    text.reserve(characters.size());
    for (char16_t c : characters) {
        const uint8_t code = Windows1252Byte(c);
        text += code >= 128 ? static_cast<char16_t>(kWin1252ToMacRoman[code]) : c;
    }
    return text;
}

// The id in "Unknown Font " and a font id, as the export names a font the list lacks.
bool UnknownFontId(const std::u16string& typeface, int16_t& id)
{
    static const std::u16string prefix = u"Unknown Font ";
    int32_t number = 0;
    if (typeface.compare(0, prefix.size(), prefix) != 0 || typeface.size() == prefix.size() ||
        typeface[prefix.size()] == u' ' || typeface[prefix.size()] == u'+')
        return false;
    if (!SignedDecimal(typeface.substr(prefix.size()), number) || number < INT16_MIN || number > INT16_MAX)
        return false;
    id = static_cast<int16_t>(number);
    return true;
}

// Applies "size" to the selection of `text` and lets "shift" decide the shift face bits.
// Answers whether "size" was present and in range.
bool ReadRunPosition(const RunAttrReader& attributes, XTHandle text, const XTCharFormat& current, bool sampled,
                     uint16_t& decided, uint16_t& wanted)
{
    constexpr uint16_t kShiftBits = 0x0160;
    PositionAttribs position(current, false, false);
    const int32_t ownShift = BaselineShiftHalfPoints(position);
    const bool sized = ReadPositionAttribs(position, attributes, text);
    std::u16string shift;
    int32_t number = 0;
    // Position bits that make no position style go out as the number of the text's own shift;
    // over the run's own formatting sample that number keeps them.
    if (sampled && (current.face & kShiftBits) != 0 && PositionStyleOf(current) == 0 &&
        attributes.GetNumber(u"shift", number) && -number == ownShift)
        return sized;
    if (attributes.GetAttr(u"shift", shift)) {
        // "top" and "bottom" name a superior or inferior style; a number means the baseline.
        decided |= kShiftBits;
        wanted = static_cast<uint16_t>((wanted & ~kShiftBits) |
                                       (shift == u"top" || shift == u"bottom" ? position.face & kShiftBits : 0));
    }
    return sized;
}

const char16_t kOn[] = u"on";
const char16_t kOff[] = u"off";
const char16_t kEmpty[] = u"";

}  // namespace

// ---- Host text attributes -------------------------------------------------------------------

int32_t SetTextAttribute(XTHandle text, int32_t code, int32_t value)
{
    return CallHost<XTY_SetAttribute>(text, code, value);
}

void ApplyFormatDifferences(XTHandle text, const XTCharFormat& format)
{
    XTCharFormat current{};
    if (!CurrentFormat(current, text))
        return;
    if (current.face != format.face)
        SetTextAttribute(text, kAttrFace, format.face);
    if (format.kern != 0)
        SetTextAttribute(text, kAttrKerning, 0);
    if (format.track != 0)
        SetTextAttribute(text, kAttrTracking, 0);
}

// ---- Tables ---------------------------------------------------------------------------------

const FaceRow kFaceTable[kFaceRows] = {
    {0x0001, FaceKind::Switch, u"bold", 1, 0},
    {0x0002, FaceKind::Switch, u"italic", 1, 0},
    {0x0004, FaceKind::Underline, u"underline", 2, 3},
    {0x0008, FaceKind::Switch, u"outline", 1, 0},
    {0x0010, FaceKind::Switch, u"shadow", 1, 0},
    {0x0020, FaceKind::Shift, u"shift", 2, 4},
    {0x0040, FaceKind::Shift, u"shift", 2, 5},
    {0x0100, FaceKind::Shift, u"shift", 2, 4},
    {0x0200, FaceKind::Switch, u"strike", 1, 0},
    {0x0400, FaceKind::Caps, u"caps", 2, 6},
    {0x0800, FaceKind::Caps, u"caps", 2, 7},
    {0x1000, FaceKind::Underline, u"underline", 2, 8},
};

// The pairs of face bits that the export writes, when both are set, as an empty value.
constexpr uint16_t kBothUnderlines = 0x0004 | 0x1000;
constexpr uint16_t kBothCaps = 0x0400 | 0x0800;

const char16_t* FaceText(uint8_t index)
{
    // The three shared texts first, then the set texts of the other kinds.
    static const char16_t* const texts[] = {kOn, kOff, kEmpty, u"single", u"top", u"bottom",
                                            u"uppercase", u"small_caps", u"by_word"};
    return index < sizeof texts / sizeof texts[0] ? texts[index] : kEmpty;
}

const uint8_t kWin1252ToMacRoman[256] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    0xDB, 0x81, 0xE2, 0xC4, 0xE3, 0xC9, 0xA0, 0xE0, 0xF6, 0xE4, 0x8A, 0xDC, 0xCE, 0x8D, 0x8E, 0x8F,  // 0x80
    0x90, 0xD4, 0xD5, 0xD2, 0xD3, 0xA5, 0xD0, 0xD1, 0xF7, 0xAA, 0x9A, 0xDD, 0xCF, 0x9D, 0x9E, 0xD9,  // 0x90
    0xCA, 0xC1, 0xA2, 0xA3, 0xA4, 0xB4, 0xA6, 0xA4, 0xAC, 0xA9, 0xBB, 0xC7, 0xC2, 0xAD, 0xA8, 0xF8,  // 0xA0
    0xA1, 0xB1, 0xB2, 0xB3, 0xAB, 0xB5, 0xA6, 0xE1, 0xFC, 0xB9, 0xBC, 0xC8, 0xBC, 0xBD, 0xBE, 0xC0,  // 0xB0
    0xCB, 0xE7, 0xE5, 0xCC, 0x80, 0x81, 0xAE, 0x82, 0xE9, 0x83, 0xE6, 0xE8, 0xED, 0xEA, 0xEB, 0xEC,  // 0xC0
    0xD0, 0x84, 0xF1, 0xEE, 0xEF, 0xCD, 0x85, 0xD7, 0xAF, 0xF4, 0xF2, 0xF3, 0x86, 0xDD, 0xDE, 0xA7,  // 0xD0
    0x88, 0x87, 0x89, 0x8B, 0x8A, 0x8C, 0xBE, 0x8D, 0x8F, 0x8E, 0x90, 0x91, 0x93, 0x92, 0x94, 0x95,  // 0xE0
    0xF0, 0x96, 0x98, 0x97, 0x99, 0x9B, 0x9A, 0xD6, 0xBF, 0x9D, 0x9C, 0x9E, 0x9F, 0xFD, 0xFE, 0xD8,  // 0xF0
};

bool IsAcceptedColourModel(uint32_t model)
{
    static const uint32_t models[] = {XT_FOURCC('Q', 'R', 'G', 'B'), XT_FOURCC('Q', 'L', 'A', 'B'),
                                      XT_FOURCC('Q', 'C', 'M', 'K'), XT_FOURCC('Q', 'G', 'R', 'Y'),
                                      XT_FOURCC('Q', 'M', 'L', 'T'), XT_FOURCC('Q', 'H', 'S', 'B'),
                                      XT_FOURCC('Q', 'X', 'Y', 'Z'), XT_FOURCC('Q', 'D', 'V', 'N'),
                                      XT_FOURCC('P', 'n', 'H', 'x')};
    for (uint32_t m : models)
        if (m == model)
            return true;
    return false;
}

// ---- Colours --------------------------------------------------------------------------------

std::u16string ColourTypeText(const XTColourRec& colour)
{
    std::u16string model;
    if (IsAcceptedColourModel(colour.model))
        for (int i = 0; i < 4; ++i)
            model += static_cast<char16_t>(static_cast<uint8_t>(colour.model >> (8 * i)));
    return model;
}

std::u16string ColourNameText(const XTColourRec& colour)
{
    std::u16string name = cfb::utf8ToUtf16(std::string_view(colour.name, strnlen(colour.name, sizeof colour.name)));
    if (name.size() > 64)
        name.resize(64);
    return name;
}

ColorComponents RgbToColorComponents(uint32_t rgb)
{
    auto component = [rgb](int shift) { return static_cast<uint16_t>(((rgb >> shift) & 0xFF) * 257); };
    return ColorComponents{component(16), component(8), component(0)};
}

namespace {

uint32_t ComponentsToRgb(const ColorComponents& c)
{
    return uint32_t(c.red / 257) << 16 | uint32_t(c.green / 257) << 8 | uint32_t(c.blue / 257);
}

}  // namespace

int32_t FindRgbColor(const ColorComponents& components)
{
    int32_t id = -4;
    if (CallHost<XSD_FindRgbColour>(ComponentsToRgb(components), &id) != XT_OK)
        return -4;
    return id;
}

int32_t CreateRgbColor(int32_t& id, const std::string& name, const ColorComponents& components)
{
    int32_t made = 0;
    if (CallHost<XSD_CreateRgbColour>(&made, name.c_str(), ComponentsToRgb(components)) != XT_OK)
        return 12;
    id = made;
    return 0;
}

// ---- Attribs --------------------------------------------------------------------------------

void Attribs::WriteSelf(RunAttrWriter& attributes, int32_t codePage) const
{
    try {
        Write(attributes, codePage);
    } catch (...) {
        BreakPoint_KS("Attribs::WriteSelf FAILED");
    }
}

bool Attribs::ReadSelf(const RunAttrReader& attributes, XTHandle text)
{
    switch (m_mode) {
    case kWriting:
        return true;
    case kReading:
        return ReadFace(attributes, text);
    default:
        return false;
    }
}

// ---- RunAttribs -----------------------------------------------------------------------------

bool IsMultibyteFont(int32_t script, int16_t fontId)
{
    if (script == 1 || script == 2 || script == 3 || script == 25)
        return true;
    return script == 0 && ((fontId >= 16384 && fontId < 29184) || (fontId >= -29182 && fontId <= -10000));
}

RunAttribs::RunAttribs(const XTCharFormat& format, int32_t privateId, bool documentFlag, const QFontList* fonts)
    : Attribs(kWriting, fonts), m_format(format), m_privateId(privateId), m_documentFlag(documentFlag)
{
    const FontFacts facts = FactsOfFont(fonts, format);
    m_fontCodePage = facts.codePage;
    m_typefaceCodePage = documentFlag ? m_fontCodePage : 1;
    m_multibyte = IsMultibyteFont(facts.script, format.font);
}

void RunAttribs::Write(RunAttrWriter& attributes, int32_t codePage) const
{
    attributes.SetAttr(u"private", Number(m_privateId));
    XAttribs::WriteTypeface(*this, attributes, codePage);
    XAttribs::WriteFace(*this, attributes);
    WritePositionAttribs(PositionAttribs(m_format, false, false), attributes);
}

// ---- XAttribs: export -----------------------------------------------------------------------

std::u16string XAttribs::TypefaceText(const RunAttribs& run)
{
    const QFontEntry* entry = run.Fonts() ? run.Fonts()->Find(static_cast<uint16_t>(run.FontId())) : nullptr;
    if (!entry)
        return Ascii("Unknown Font ") + Number(run.FontId());
    return WrittenName(*entry, !run.DocumentFlag() && !run.Multibyte());
}

void XAttribs::WriteTypeface(const RunAttribs& run, RunAttrWriter& attributes, int32_t codePage)
{
    attributes.SetAttr(u"codepage", codePage == 65535 ? std::u16string(u"0xFFFF") : Number(codePage));
    const std::u16string typeface = TypefaceText(run);
    if (!attributes.SetAttr(u"typeface", typeface))
        GeneralLogStream() << "Error on adding typeface=" << xthost::Utf16ToUtf8(typeface) << std::endl;
    const uint32_t cp = WrittenTypefaceCodePage(run.TypefaceCodePage());
    if (!attributes.SetAttr(u"typeface_codepage", Number(static_cast<long>(cp))))
        GeneralLogStream() << "Error on adding fontNameCP=" << cp << std::endl;
}

void XAttribs::WriteFace(const RunAttribs& run, RunAttrWriter& attributes)
{
    uint16_t face = run.Format().face;
    if (face == 0xFFFF) {
        face = 0;
        BreakPoint_KS("Face conflict");
    }
    const char16_t* underline = kEmpty;
    const char16_t* caps = kEmpty;
    auto pend = [](const char16_t*& pending, const char16_t* value, const char* conflict) {
        if (*pending == 0) {
            pending = value;
            return;
        }
        BreakPoint_KS(conflict);
        pending = kEmpty;
    };
    for (const FaceRow& row : kFaceTable) {
        const bool set = (face & row.bit) != 0;
        switch (row.kind) {
        case FaceKind::Switch:
            attributes.SetAttr(row.name, FaceText(set ? row.setText : row.clearText));
            break;
        case FaceKind::Underline:
            if (set)
                pend(underline, FaceText(row.setText), "Underline conflict");
            break;
        case FaceKind::Caps:
            if (set)
                pend(caps, FaceText(row.setText), "Caps conflict");
            break;
        case FaceKind::Shift:
            break;
        }
    }
    attributes.SetAttr(u"underline", underline);
    attributes.SetAttr(u"caps", caps);
    attributes.SetAttr(u"kerning", Number(run.Format().kern));
    attributes.SetAttr(u"tracking", Number(run.Format().track));
    WriteFaceColor(run, attributes);
}

void XAttribs::WriteFaceColor(const RunAttribs& run, RunAttrWriter& attributes)
{
    int32_t count = 0;
    if (CallHost<XSD_ColourCount>(&count) != XT_OK)
        return;  // no colour table
    XTColourRec colour{};
    bool found = false;
    for (int32_t i = 0; i < count && !found; ++i)
        found = CallHost<XSD_ColourAt>(i, &colour) == XT_OK && colour.id == run.Format().colour;
    if (!found) {
        GeneralLogStream() << "\nERROR in function XAttribs::WriteFaceColor(): color_getreference() failed!\n"
                           << std::flush;
        return;
    }
    attributes.SetAttr(u"color_type", ColourTypeText(colour));
    const std::u16string name = ColourNameText(colour);
    if (!name.empty())
        attributes.SetAttr(u"color_name", name);
}

// ---- XAttribs: import -----------------------------------------------------------------------

XAttribs::XAttribs() : Attribs(kReading, nullptr), m_ownFonts(std::make_unique<QFontList>())
{
    m_fonts = m_ownFonts.get();
}

XAttribs::~XAttribs() = default;

bool XAttribs::ReadFace(const RunAttrReader& attributes, XTHandle text)
{
    bool recognised = true;
    uint16_t decided = 0, wanted = 0;
    std::u16string value;
    std::u16string underline, caps;
    const bool hasUnderline = attributes.GetAttr(u"underline", underline);
    const bool hasCaps = attributes.GetAttr(u"caps", caps);
    for (const FaceRow& row : kFaceTable) {
        const char16_t* setText = FaceText(row.setText);
        switch (row.kind) {
        case FaceKind::Switch:
            if (!attributes.GetAttr(row.name, value))
                break;  // an absent switch leaves the bit alone
            if (value == setText) {
                decided |= row.bit;
                wanted |= row.bit;
            } else if (value == FaceText(row.clearText)) {
                decided |= row.bit;
            } else {
                recognised = false;
            }
            break;
        case FaceKind::Underline:
        case FaceKind::Caps: {
            const bool present = row.kind == FaceKind::Underline ? hasUnderline : hasCaps;
            const std::u16string& given = row.kind == FaceKind::Underline ? underline : caps;
            if (!present)
                break;
            decided |= row.bit;
            if (given == setText)
                wanted |= row.bit;
            break;
        }
        case FaceKind::Shift:
            break;
        }
    }
    XTCharFormat current{};
    const bool known = CurrentFormat(current, text);
    // The export writes two underlines, or two caps kinds, at once as none; an empty value over
    // the run's own formatting sample that holds such a pair is that pair, which the Book cannot
    // carry, so the sample keeps it.
    auto keepPair = [&](uint16_t pair, bool present, const std::u16string& given) {
        if (present && given.empty() && (current.face & pair) == pair)
            decided &= static_cast<uint16_t>(~pair);
    };
    if (known && m_sampleApplied) {
        keepPair(kBothUnderlines, hasUnderline, underline);
        keepPair(kBothCaps, hasCaps, caps);
    }
    const bool positioned = known && ReadRunPosition(attributes, text, current, m_sampleApplied, decided, wanted);
    if (known && CurrentFormat(current, text)) {
        const uint16_t face = static_cast<uint16_t>((current.face & ~decided) | (wanted & decided));
        if (face != current.face)
            Set(text, kAttrFace, face);
    }
    int32_t number = 0;
    if (attributes.GetNumber(u"kerning", number))
        Set(text, kAttrKerning, number);
    if (attributes.GetNumber(u"tracking", number))
        Set(text, kAttrTracking, number);
    ApplyColour(attributes, text);
    return recognised && positioned;
}

void XAttribs::Set(XTHandle text, int32_t code, int32_t value)
{
    const int32_t result = SetTextAttribute(text, code, value);
    if (result != XT_OK && m_refused == XT_OK) {
        m_refused = result;
        m_refusedCode = code;
    }
}

int32_t XAttribs::TakeRefusal(int32_t& code)
{
    const int32_t refused = m_refused;
    code = m_refusedCode;
    m_refused = XT_OK;
    return refused;
}

void XAttribs::ApplyColour(const RunAttrReader& attributes, XTHandle text)
{
    std::u16string type, name;
    if (!attributes.GetAttr(u"color_type", type) || !attributes.GetAttr(u"color_name", name))
        return;
    if (type != u"RGB") {
        // A colour of the document as the export names it, by its model's text and its name;
        // one the document does not have leaves the text its own.
        if (name.empty())
            return;
        const auto key = std::make_pair(type, name);
        auto at = m_namedColours.find(key);
        if (at == m_namedColours.end())
            at = m_namedColours.emplace(key, FindNamedColour(type, name)).first;
        if (at->second >= 0)
            Set(text, kAttrColour, at->second);
        return;
    }
    uint32_t rgb = 0;
    if (!WholeDecimal(name, 0xFFFFFF, rgb))
        return;  // not a colour this import can make
    const ColorComponents components = RgbToColorComponents(rgb);
    int32_t id = FindRgbColor(components);
    if (id == -4) {
        if (CreateRgbColor(id, "RGB_" + xthost::Utf16ToUtf8(name), components) != 0)
            return;
        m_namedColours.clear();  // the new colour may be one a name was not found for
    }
    Set(text, kAttrColour, id);
}

int32_t XAttribs::FindNamedColour(const std::u16string& type, const std::u16string& name)
{
    int32_t count = 0;
    if (CallHost<XSD_ColourCount>(&count) != XT_OK)
        return -1;
    XTColourRec colour{};
    for (int32_t i = 0; i < count; ++i)
        if (CallHost<XSD_ColourAt>(i, &colour) == XT_OK && ColourTypeText(colour) == type &&
            ColourNameText(colour) == name)
            return colour.id;
    return -1;
}

XAttribs::FontMatch XAttribs::FindTypeface(const std::u16string& typeface, int32_t codePage) const
{
    FontMatch match{0, false};
    if (!m_fonts || typeface.size() > 255)
        return match;
    // Code page 1 marks a name the export took through Mac Roman (the single-byte fonts of a
    // flagged document); fonts of different scripts may share a name, and then the one of the
    // written code page is meant.
    const bool macForm = codePage == 1;
    // Books written before names went out as their characters carry the bytes, one per unit.
    for (const bool widened : {false, true}) {
        for (const QFontEntry* entry : m_fonts->InOrder()) {
            const bool mac = macForm && !IsMultibyteFont(entry->script, static_cast<int16_t>(entry->id));
            const std::u16string written =
                widened ? WidenedName(std::string(entry->name.c_str(), entry->name.Length())) : WrittenName(*entry, mac);
            if (written != typeface)
                continue;
            const uint32_t fontCodePage =
                entry->codePage != kNoCodePage ? entry->codePage : CodePageForScript(entry->script);
            const bool writtenSo = !macForm && static_cast<int64_t>(WrittenTypefaceCodePage(fontCodePage)) == codePage;
            if (!match.found || writtenSo)
                match = FontMatch{static_cast<int16_t>(entry->id), true};
            if (writtenSo)
                break;
        }
        if (match.found)
            return match;
    }
    // A font the list lacked on export goes out by its id; the text may take that id again
    // when the list still lacks it.
    int16_t id = 0;
    if (UnknownFontId(typeface, id) && !m_fonts->Find(static_cast<uint16_t>(id)))
        match = FontMatch{id, true};
    return match;
}

void XAttribs::NoteCharacterSets(XTHandle story)
{
    int32_t count = 0;
    XTHandle store = 0;
    if (CallHost<XTY_StyleRuns>(story, nullptr, &count) != XT_OK || count <= 0)
        return;
    std::vector<XTRunEntry> runs(static_cast<size_t>(count));
    if (CallHost<XTY_StyleRuns>(story, runs.data(), &count) != XT_OK || CallHost<XTY_AttributeStore>(story, &store) != XT_OK)
        return;
    runs.resize(static_cast<size_t>(count));
    // Runs of one format share a value: each is asked once.
    std::map<uint32_t, std::pair<int16_t, uint8_t>> sets;
    for (const XTRunEntry& run : runs) {
        auto at = sets.find(run.value);
        if (at == sets.end()) {
            XTCharFormat format{};
            uint16_t extra = 0;
            if (CallHost<XTY_CharAttributes>(store, run.value, &format, &extra) != XT_OK)
                continue;
            at = sets.emplace(run.value, std::make_pair(format.font, format.high)).first;
        }
        m_characterSets[at->second.first][at->second.second] += run.length;
    }
}

bool XAttribs::CharacterSetOf(int16_t font, uint8_t& set) const
{
    const auto at = m_characterSets.find(font);
    if (at == m_characterSets.end() || at->second.empty())
        return false;
    int64_t most = -1;
    for (const auto& [byte, characters] : at->second)
        if (characters > most) {
            most = characters;
            set = byte;
        }
    return true;
}

void XAttribs::ReadTypeface(const RunAttrReader& attributes, XTHandle text)
{
    std::u16string typeface;
    if (!attributes.GetAttr(u"typeface", typeface) || typeface.empty())
        return;
    int32_t typefaceCodePage = -1;
    attributes.GetNumber(u"typeface_codepage", typefaceCodePage);
    const auto key = std::make_pair(typeface, typefaceCodePage);
    auto at = m_resolved.find(key);
    if (at == m_resolved.end())
        at = m_resolved.emplace(key, FindTypeface(typeface, typefaceCodePage)).first;
    if (!at->second.found)
        return;
    const int16_t font = at->second.id;
    if (font == 0)
        ReportInternalError(__FILE__, __LINE__);
    XTCharFormat current{};
    const bool known = CurrentFormat(current, text);
    if (!known || current.font != font)
        Set(text, kAttrFont, font);
    // The run's own sample carries its character set; it is only worked out when the font
    // changes here, as in a container of a build that shared one sample among the runs of a
    // paragraph format: then it goes with the font as the document's text has it.
    if (known && current.font == font)
        return;
    uint8_t set = 0;
    CharacterSetOf(font, set);
    if (!known || current.high != set)
        Set(text, kAttrCharacterSet, set);
}
