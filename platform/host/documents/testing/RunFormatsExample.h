// The examples "run-formats" and "run-formats-mac": text runs whose character formats differ from
// the formatting their paragraph's first run gives (named colours of several models, a font with
// the high flag beside plain text, baseline shifts, a font missing from the font list, font names
// with non-ASCII characters), made on Windows and on a Macintosh; and "fidelity": runs that differ
// only in fields the Book does not carry, in two layouts.
#pragma once

#include <string>
#include <vector>

namespace xthost::doc {

std::vector<std::string> RunFormatsExampleNames();
// The canonical file text of one of them; throws std::out_of_range for another name.
std::string BuildRunFormatsExample(const std::string& name);

}  // namespace xthost::doc
