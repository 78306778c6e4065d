// The example documents of paragraph ends and unique ids: "menu" (a menu set in a font with the
// high flag, its paragraph ends, column and box breaks typed in that font) and "unique-ids"
// (unique-id markers on paragraphs of one, several and no text runs, and on many paragraphs).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xthost::doc {

std::vector<std::string> ParagraphExampleNames();
// The canonical file text of one of them; throws std::out_of_range for another name.
std::string BuildParagraphExample(const std::string& name);

namespace unique_ids {
// The long story: kManyParagraphs paragraphs, paragraph k opened by the id kManyFirstId + k.
constexpr int32_t kManyParagraphs = 400;
constexpr int32_t kManyFirstId = 1000;
}  // namespace unique_ids

}  // namespace xthost::doc
