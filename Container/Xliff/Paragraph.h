// One paragraph of an exchange Book as the bridge sees it: its run records, read whole through
// the exchange library, and the unit source they give (text, paired codes for stretches in
// another format than the main one, standalone codes for everything a translator must keep).
#pragma once

#include "Container/Model/BookReaders.h"
#include "Container/Model/BookWriters.h"
#include "Container/Model/Records.h"
#include "Container/Xliff/Inline.h"

#include <string>
#include <vector>

namespace kesto::xliff {

// What the exchange library reads from or writes to an element folder besides its children: the
// attribute records as stored and the style reference.
struct ElementData {
  bool hasAttrs = false;
  std::vector<CF_Attr> attrs;
  bool hasStyleRef = false;
  dwx_long styleRef = -1;
};

struct RunData : ElementData {
  enum Kind : uint8_t { None, Unicodes, Multibytes, WideMultibytes, SpecialChars, RefPoints, PlaceHolders };
  Kind kind = None;
  std::u16string text;  // Unicodes and WideMultibytes
  std::string bytes;    // Multibytes
  std::vector<CF_SpecialChar> specials;
  std::vector<CF_RefPoint> refPoints;
  std::vector<CF_PlaceHolder> placeHolders;

  size_t RecordCount() const;
};

// A code of a unit, with what it stands for in the paragraph.
struct Code {
  bool paired = false;
  size_t run = 0;     // paired: the run whose record its text takes; standalone: its run
  int64_t item = -1;  // standalone: the record or character of the run; -1 the whole run
  std::u16string display;
  // A reference point that ends a range (the import places an end only behind its start): the
  // code of its start in this paragraph; -1 for every other code.
  int64_t start = -1;
};

struct ParagraphData : ElementData {
  dwx_long index = 0;
  std::vector<dwx_long> runIndices;  // the stored index of each run
  std::vector<RunData> runs;

  // Derived by Analyse().
  Tokens source;
  std::vector<Code> codes;  // code "n" is codes[n - 1]
  size_t mainRun = 0;       // the run whose record text outside codes takes
  bool hasUnit = false;
};

// Reads an element's attribute records and style reference.
void ReadElement(DWX_InFolder2& folder, ElementData& data, bool styleRef);
// Writes them as the exchange library stores them, ids mapped through `ids` (null: unchanged).
void WriteElementAttrs(DWX_OutFolder2& folder, const ElementData& data, const std::vector<dwx_long>* ids);
void WriteStyleRef(DWX_OutFolder2& folder, const ElementData& data);
// A stream of one 32-bit value, as style references are stored: false when it is absent; a
// stream without a whole value reads as -1.
bool ReadLong(DWX_InFolder2& folder, const char* name, dwx_long& value);
void WriteLong(DWX_OutFolder2& folder, const char* name, dwx_long value);

// Reads a paragraph and its runs; `characters` counts the story's characters so far and raises
// std::length_error past kMaxStoryCharacters.
void ReadParagraph(DWX_InFolder2& folder, dwx_long index, ParagraphData& paragraph, uint64_t& characters);

// Works out the unit source and its codes; `strings` gives the texts behind attribute ids.
void Analyse(ParagraphData& paragraph, const DWX_StringsMap& strings);

// Writes one run (its content, style reference and attributes) as the export writes it.
void WriteRun(DWX_Paragraph_Out2& paragraph, dwx_long index, const RunData& run, const std::vector<dwx_long>* ids);

// The runs a unit's target gives the paragraph: text in a paired code copies the record of that
// code's run, text outside codes the main run's, a standalone code brings its own run or record
// back. Empty, with the reason in `failure`, when a standalone code is missing or doubled, a code
// is unknown or stands for the other kind, or codes cross; `warnings` gets each paired code
// that was removed.
std::vector<RunData> TranslatedRuns(const ParagraphData& paragraph, const Tokens& target, std::string& failure,
                                    std::vector<std::string>& warnings);

// Whether XML 1.0 can carry the UTF-16 unit at text[i] (a surrogate only as part of a pair).
bool XmlCarries(const std::u16string& text, size_t i);

}  // namespace kesto::xliff
