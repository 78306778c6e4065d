// An XLIFF file as a translation tool may hand it back: read it, then merge every unit's target
// into a paragraph of text, a paired code and standalone codes, as the merge does.
#include "Container/Model/StringsMap.h"
#include "Container/Xliff/Paragraph.h"
#include "Container/Xliff/XliffReader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace kesto::xliff;

RunData Text(DWX_StringsMap& strings, const std::u16string& text, const char16_t* sample) {
  RunData run;
  run.kind = RunData::Unicodes;
  run.text = text;
  run.hasAttrs = true;
  run.attrs = {{strings[u"private"], strings[sample]}};
  return run;
}

const ParagraphData& Paragraph() {
  static DWX_StringsMap strings;
  static ParagraphData paragraph = [] {
    ParagraphData p;
    p.runs.push_back(Text(strings, u"Hello ", u"1"));
    p.runs.push_back(Text(strings, u"bold", u"2"));
    RunData special;
    special.kind = RunData::SpecialChars;
    special.specials = {{strings[u"page_number"], strings[u"Curr"]}, {strings[u"tabulator"], -1}};
    p.runs.push_back(special);
    p.runs.push_back(Text(strings, u" world\x13", u"1"));
    RunData marker;
    marker.kind = RunData::RefPoints;
    marker.refPoints = {{4, -1, strings[u"point"]}};
    p.runs.push_back(marker);
    p.runIndices = {0, 1, 2, 3, 4};
    Analyse(p, strings);
    return p;
  }();
  return paragraph;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  XliffDocument document;
  std::string error;
  if (!ReadXliff(reinterpret_cast<const char*>(data), size, document, error)) return 0;
  const ParagraphData& paragraph = Paragraph();
  for (const XliffUnit& unit : document.units) {
    (void)SameContent(unit.source, paragraph.source);
    std::string failure;
    std::vector<std::string> warnings;
    (void)TranslatedRuns(paragraph, unit.target, failure, warnings);
  }
  return 0;
}
