// The text-flow and geometry calls of the documents: line records of a box's story (LIN-1)
// and of a story range (LIN-2), the bounding boxes (GEO-2/3), the no-reflow flag (GEO-4) and
// the limit rectangle (GEO-5). They pass the documents' wrapper like every document call.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/TextFlow.h"

namespace xthost::doc {

// The 64-byte records of the whole story of the box's chain, the overflow record last when
// text is left over.
int32_t LineRecords(DocHost& docs, int32_t box, std::vector<uint8_t>* records);
// The records of the lines that meet [start, end) of a story.
int32_t ParagraphLines(DocHost& docs, int32_t text, int32_t start, int32_t end, std::vector<uint8_t>* records);
// The lines in model form, for the PDF and "xthost doc lines".
int32_t StoryLinesOf(DocHost& docs, int32_t box, StoryLines* lines);

int32_t BoundingBox(DocHost& docs, int32_t box, Rect* bounds);  // GEO-2 ("fgetbbox")
// GEO-3 ("fgetobsbbox"): the bounds grown by the runaround.
int32_t ObstacleBox(DocHost& docs, int32_t box, Rect* bounds);
int32_t NoReflow(DocHost& docs, int32_t box, bool* flag);       // GEO-4
// GEO-5: the page holding the box's centre; off the pages, all pages of its spread.
int32_t LimitRect(DocHost& docs, int32_t box, Rect* limits);
Rect LimitOf(const Layout& layout, const Box& box);

// The 16.16 value in points with two decimals, "70.6" ("xthost doc lines").
std::string Points(int64_t value);

}  // namespace xthost::doc
