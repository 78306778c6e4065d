// Text edits of a story that keep its runs, paragraphs and object runs consistent.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/documents/Model.h"

namespace xthost::doc {

// Inserts text at pos. It takes the format of the character before pos; at 0 that of the
// next character; in an empty story that of "Normal" (or the first format). Each 0x0D
// starts a paragraph with the format of the one it splits. Answers SplitsRun when pos lies
// inside an object run, BadRef when pos is outside the text.
int32_t InsertText(Project& project, Story& story, int32_t pos, const std::u16string& text);

// Deletes [start, end). Answers SplitsRun when the range cuts an object run or holds an
// anchored item, BadRef when it is outside the text. A deleted 0x0D joins two paragraphs
// under the format of the first.
int32_t DeleteText(Story& story, int32_t start, int32_t end);

}  // namespace xthost::doc
