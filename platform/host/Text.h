// Text and path helpers of the emulated host: UTF-8 <-> UTF-16 and path normalisation.
#pragma once

#include <cstddef>
#include <string>

#include "platform/host/Utf8.h"

namespace xthost {

// A bounded zero-terminated string: at most size bytes are read.
std::string BoundedString(const char* text, std::size_t size);

// An absolute, lexically normal path with "/" separators; "\" counts as a separator too.
// A relative path is taken against base (or the working folder when base is empty).
std::string NormalPath(const std::string& path, const std::string& base = std::string());
// The folder part and the name of a normal path ("/" has the folder "/" and an empty name).
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);
// The extension without its dot, "" when the name has none.
std::string ExtensionOf(const std::string& path);
bool EqualNoCase(const std::string& a, const std::string& b);

}  // namespace xthost
