// Text on its way into and out of XML: every character the bridge writes passes through
// AppendEscaped, and every text expat hands over through ToUtf16.
#pragma once

#include <string>

namespace kesto::xliff {

// Appends text as UTF-8 XML character data (attribute: inside a double-quoted attribute value),
// escaped so that a reader gets exactly these characters back: & < > always, " in attributes,
// CR always and tab and LF in attributes as character references. A character XML 1.0 cannot
// carry never reaches here in unit text (it is a code); in names and descriptions it becomes
// U+FFFD.
void AppendEscaped(std::string& out, const std::u16string& text, bool attribute);
void AppendEscaped(std::string& out, const std::string& utf8, bool attribute);

// UTF-8 (as expat delivers it: valid, XML characters only) to UTF-16.
std::u16string ToUtf16(const char* utf8, size_t length);
std::u16string ToUtf16(const std::string& utf8);
// UTF-16 to UTF-8 for messages; a lone surrogate becomes U+FFFD.
std::string ToUtf8(const std::u16string& text);

}  // namespace kesto::xliff
