// What the model benchmarks share: a stream read to its end, and the walk through a story's
// paragraphs and runs with the second-generation readers.
#pragma once

#include "Container/Model/BookReaders.h"

#include <cstddef>

// Reads a stream of T to its end; answers the units read.
template <class T>
size_t DrainUnits(DWX_InStream& stream) {
  T buffer[256];
  size_t total = 0;
  auto& in = dynamic_cast<DWX_In<T>&>(stream);
  for (dwx_ulong got; (got = in.GetData(buffer, 256)) > 0;) total += got;
  return total;
}

// Reads every paragraph of the story with its style reference and attributes, then every run of
// it with its own; `content(run)` reads the run's content. Answers the paragraphs read.
template <class Content>
long ReadParagraphs(DWX_Story_In2& story, const DWX_StringsMap& strings, Content content) {
  long count = 0;
  DWX_ParagraphsSet_In2 paragraphs(story.OpenParagraphsSet(DWX_Names::ParagraphsSet),
                                   DWX_Names::Paragraph);
  for (dwx_long p = 0;; ++p) {
    DWX_Paragraph_In2 paragraph(paragraphs.OpenElement(p));
    if (!paragraph.Valid()) break;
    ++count;
    dwx_long style = -1;
    paragraph.LoadStyleRef(style, DWX_Names::StyleRef);
    paragraph.LoadAttrsSet(DWX_Names::Attrs, strings);
    for (dwx_long r = 0;; ++r) {
      DWX_TextRun_In2 run(paragraph.OpenTextRun(r, DWX_Names::TextRun));
      if (!run.Valid()) break;
      run.LoadStyleRef(style, DWX_Names::StyleRef);
      run.LoadAttrsSet(DWX_Names::Attrs, strings);
      content(run);
    }
  }
  return count;
}
