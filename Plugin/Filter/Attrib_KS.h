// Character attributes of exchange runs: a host character format becomes the named attributes
// of a run on export (RunAttribs) and the attributes of a run become host text attributes on
// import (XAttribs).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "Plugin/Filter/RunAttrs.h"
#include "platform/host/documents/XTDocSuites.h"

class QFontList;

// ---- Host text attributes -------------------------------------------------------------------

// Host character attribute codes the mapping sets.
enum : int32_t {
    kAttrFont = -101,
    kAttrFace = -102,
    kAttrSize = -103,
    kAttrKerning = -108,
    kAttrTracking = -109,
    kAttrShift = -110,
    kAttrCharacterSet = -112,
    kAttrColour = 5,
};

// Sets one host character attribute on the selection of a host text; a null text means the
// current box's text. Answers the host's result.
int32_t SetTextAttribute(XTHandle text, int32_t code, int32_t value);

// Makes the selection of `text` carry the face of `format` where they differ, and clears its
// kerning and tracking where `format` has them.
void ApplyFormatDifferences(XTHandle text, const XTCharFormat& format);

// ---- Tables ---------------------------------------------------------------------------------

enum class FaceKind : uint8_t { Switch, Shift, Underline, Caps };

// One row of the face table: the texts are indexes into FaceText.
struct FaceRow {
    uint16_t bit;
    FaceKind kind;
    const char16_t* name;
    uint8_t clearText;
    uint8_t setText;
};
constexpr int kFaceRows = 12;
extern const FaceRow kFaceTable[kFaceRows];
// "on", "off" and the empty text.
const char16_t* FaceText(uint8_t index);

// The face bits the table describes.
constexpr uint16_t kFaceTableBits = 0x1F7F;

// Windows-1252 to Mac Roman for typeface names; a code without a counterpart stays.
extern const uint8_t kWin1252ToMacRoman[256];

// Colour models written as "color_type" (the others give the empty text).
bool IsAcceptedColourModel(uint32_t model);

// ---- Colours --------------------------------------------------------------------------------

// "color_type" of a document colour: its model's four characters when the model is accepted,
// else the empty text; "color_name": its name, at most 64 characters.
std::u16string ColourTypeText(const XTColourRec& colour);
std::u16string ColourNameText(const XTColourRec& colour);

struct ColorComponents {
    uint16_t red, green, blue;
};
// 0xRRGGBB to three 16-bit components, each byte times 257.
ColorComponents RgbToColorComponents(uint32_t rgb);
// The id of a document colour with these RGB components, -4 when there is none.
int32_t FindRgbColor(const ColorComponents& components);
// A new RGB colour of that name in the current document: 0 with its id, 12 on failure.
int32_t CreateRgbColor(int32_t& id, const std::string& name, const ColorComponents& components);

// ---- Converters -----------------------------------------------------------------------------

class Attribs {
public:
    enum Mode : int32_t { kWriting = 1, kReading = 2 };

    Attribs(int32_t mode, const QFontList* fonts) : m_mode(mode), m_fonts(fonts) {}
    virtual ~Attribs() = default;
    Attribs(const Attribs&) = delete;
    Attribs& operator=(const Attribs&) = delete;

    int32_t Mode() const { return m_mode; }

    // Export: writes the run's attributes (private id, typeface and code pages, face,
    // kerning, tracking, colour, position) with the run's code page. A failure inside is
    // reported and the run keeps what was written.
    void WriteSelf(RunAttrWriter& attributes, int32_t codePage) const;
    // Import: applies the run's attributes to the selection of `text` (mode 2); mode 1 does
    // nothing and answers true, any other mode answers false.
    bool ReadSelf(const RunAttrReader& attributes, XTHandle text);

protected:
    virtual void Write(RunAttrWriter&, int32_t) const {}
    virtual bool ReadFace(const RunAttrReader&, XTHandle) { return false; }

    int32_t m_mode;
    const QFontList* m_fonts;
};

// The export form, made per style run from the run's host character format.
class RunAttribs : public Attribs {
public:
    RunAttribs(const XTCharFormat& format, int32_t privateId, bool documentFlag, const QFontList* fonts);

    int16_t FontId() const { return m_format.font; }
    bool HasHighFlag() const { return m_format.high >= 128; }
    const XTCharFormat& Format() const { return m_format; }
    int32_t PrivateId() const { return m_privateId; }
    bool DocumentFlag() const { return m_documentFlag; }
    uint32_t FontCodePage() const { return m_fontCodePage; }
    uint32_t TypefaceCodePage() const { return m_typefaceCodePage; }
    bool Multibyte() const { return m_multibyte; }
    const QFontList* Fonts() const { return m_fonts; }

protected:
    void Write(RunAttrWriter& attributes, int32_t codePage) const override;

private:
    XTCharFormat m_format;
    int32_t m_privateId;
    bool m_documentFlag;
    uint32_t m_fontCodePage;
    uint32_t m_typefaceCodePage;
    bool m_multibyte;
};

// True for a multibyte font: scripts 1, 2, 3 and 25, and in script 0 the font ids (signed)
// from 16384 below 29184 and from -29182 to -10000.
bool IsMultibyteFont(int32_t script, int16_t fontId);

// The import form, made per imported document with its own font list.
class XAttribs : public Attribs {
public:
    // Reads the font list of the current document.
    XAttribs();
    ~XAttribs() override;

    // Export steps on a run's attributes.
    static void WriteTypeface(const RunAttribs& run, RunAttrWriter& attributes, int32_t codePage);
    static void WriteFace(const RunAttribs& run, RunAttrWriter& attributes);
    static void WriteFaceColor(const RunAttribs& run, RunAttrWriter& attributes);
    // The typeface text of a run: its font's name, byte by byte (through Mac Roman for a
    // single-byte font when the document flag is clear), or "Unknown Font " and the id.
    static std::u16string TypefaceText(const RunAttribs& run);

    // Import: applies the font named by "typeface" to the selection of `text` (null: the
    // current box's story). The character set stays the one the run's formatting sample gave;
    // only a font changed here takes the set the document's text has in that font. Each name is
    // looked up once per converter and typeface code page.
    void ReadTypeface(const RunAttrReader& attributes, XTHandle text = 0);
    // Counts the characters of the story's text per font and character set, before the import
    // writes into it.
    void NoteCharacterSets(XTHandle story);
    // The character set most of the noted text has in the font; false when none was noted.
    bool CharacterSetOf(int16_t font, uint8_t& set) const;

    struct FontMatch {
        int16_t id;
        bool found;
    };
    // By "typeface" and "typeface_codepage".
    using ResolvedFonts = std::map<std::pair<std::u16string, int32_t>, FontMatch>;
    const ResolvedFonts& Resolved() const { return m_resolved; }
    // The host's answer to the first attribute the import steps set and the host refused since
    // the last call, its attribute code in `code`; XT_OK when the host refused none.
    int32_t TakeRefusal(int32_t& code);
    // Whether the selection holds the formatting sample the export stored for the run being read,
    // which is then what a value the Book writes for two kinds at once stands for.
    void SetSampleApplied(bool applied) { m_sampleApplied = applied; }

protected:
    bool ReadFace(const RunAttrReader& attributes, XTHandle text) override;

private:
    // Sets an attribute of the selection, noting a refusal for TakeRefusal.
    void Set(XTHandle text, int32_t code, int32_t value);
    void ApplyColour(const RunAttrReader& attributes, XTHandle text);
    // The id of the document colour with this "color_type" and "color_name", -1 when none.
    static int32_t FindNamedColour(const std::u16string& type, const std::u16string& name);

    std::unique_ptr<QFontList> m_ownFonts;
    // The first font of the list whose name the export writes as `typeface`.
    FontMatch FindTypeface(const std::u16string& typeface, int32_t codePage) const;

    ResolvedFonts m_resolved;
    // Named colours by "color_type" and "color_name": their ids, -1 for none.
    std::map<std::pair<std::u16string, std::u16string>, int32_t> m_namedColours;
    // Font id to character set to characters.
    std::map<int16_t, std::map<uint8_t, int64_t>> m_characterSets;
    int32_t m_refused = XT_OK;
    int32_t m_refusedCode = 0;
    bool m_sampleApplied = false;
};
