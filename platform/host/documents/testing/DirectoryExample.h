// The example "directory": one story of 5,000 entries chained through a box a page, as a
// directory or a catalogue runs, built in code; and documents like it of any length, which the
// import and export benchmarks read.
#pragma once

#include <string>

namespace xthost::doc {

// The canonical file text of "directory".
std::string BuildDirectoryExample();

// Entries of two formatted runs with a hidden pair in every fifth: with `chained` one story
// through a box a page (30 entries a box), otherwise stories of 10 entries, a text box each,
// four boxes a page.
std::string BuildLongDocument(int entries, bool chained);

}  // namespace xthost::doc
