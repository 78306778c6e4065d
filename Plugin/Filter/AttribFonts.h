// What the attribute mapping asks of the document's fonts, code pages and position values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Plugin/Filter/RunAttrs.h"
#include "platform/host/documents/XTDocSuites.h"

class QFontList;

struct FontListDeleter {
    void operator()(QFontList* list) const;
};
using OwnedFontList = std::unique_ptr<QFontList, FontListDeleter>;

// A new font list of the current document.
OwnedFontList MakeDocumentFontList();

// The code page and script of a run's font: its font-list entry, else (or when the entry's
// code page is 65535) the code page of its script.
struct FontFacts {
    uint32_t codePage;
    int32_t script;
};
FontFacts FactsOfFont(const QFontList* fonts, const XTCharFormat& format);

// The font's name as the list holds it; false when the list has no entry for it.
bool FontName(const QFontList* fonts, int16_t id, std::string& name);
// The first font of that name; false when there is none.
bool FindFontByName(const QFontList* fonts, const std::string& name, int16_t& id);

// The position attributes ("shift", "size") of a format.
void WriteRunPosition(const XTCharFormat& format, RunAttrWriter& attributes);
// Applies "size" and a numeric "shift" to the selection of `text`; a "shift" of "top" or
// "bottom" decides the shift face bits in `decided` and `wanted`. Answers whether "size" was
// present and in range.
bool ReadRunPosition(const RunAttrReader& attributes, XTHandle text, uint16_t& decided, uint16_t& wanted);
