#include "Plugin/Filter/AttribFonts.h"

#include "Plugin/Shell/HostSuites.h"

void FontListDeleter::operator()(QFontList*) const {}

OwnedFontList MakeDocumentFontList() { return OwnedFontList(); }

FontFacts FactsOfFont(const QFontList*, const XTCharFormat& format)
{
    const int32_t script = CallHost<XSD_FontScript>(format.font);
    return FontFacts{65535, script < 0 ? 0 : script};
}

bool FontName(const QFontList*, int16_t, std::string&) { return false; }
bool FindFontByName(const QFontList*, const std::string&, int16_t&) { return false; }
void WriteRunPosition(const XTCharFormat&, RunAttrWriter&) {}
bool ReadRunPosition(const RunAttrReader&, XTHandle, uint16_t&, uint16_t&) { return false; }
