// Host text objects hold UTF-16 text; the module's 8-bit text is UTF-8.
#pragma once

#include <string>

#include "platform/host/xtapi/XTAPI.h"

// UTF-8 text as the host's UTF-16; a malformed sequence becomes U+FFFD.
std::u16string ToHostText(const std::string& text);
// A host text object of the text, which the caller disposes; 0 when the host made none.
XTHandle NewHostText(const std::string& text);
// The UTF-16 text as UTF-8; a lone surrogate becomes U+FFFD.
std::string FromHostText(const std::u16string& text);
