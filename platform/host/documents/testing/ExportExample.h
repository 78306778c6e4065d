// The example "export": one document with what an export has to turn into a Book, built in
// code.
#pragma once

#include <string>

namespace xthost::doc {

std::string BuildExportExample();

}  // namespace xthost::doc
