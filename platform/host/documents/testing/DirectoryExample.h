// The example "directory": one story of 5,000 entries chained through a box a page, as a
// directory or a catalogue runs, built in code.
#pragma once

#include <string>

namespace xthost::doc {

// The canonical file text of "directory".
std::string BuildDirectoryExample();

}  // namespace xthost::doc
