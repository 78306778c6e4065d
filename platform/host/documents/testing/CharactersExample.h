// The example "characters": characters and paragraph formats that a translation has to bring
// back as they were written, built in code.
#pragma once

#include <string>

namespace xthost::doc {

std::string BuildCharactersExample();

}  // namespace xthost::doc
