// A stand-in translation of an exchange container: every run of Unicode text gets brackets
// around it and grows by a tail of tildes, as translated text tends to, so that an import shows
// what was translated and how boxes cope with longer text. Everything else is copied unchanged.
#pragma once

#include <string>

// The translated text of one Unicode run: "[" + text + "~" x ceil(2n/5) + "]" for n units.
std::u16string PseudoTranslateText(const std::u16string& text);

// Writes the translated copy of the container at `in` to `out`. On failure answers false with
// a message in `error`; `out` is then removed.
bool PseudoTranslateFile(const std::string& in, const std::string& out, std::string& error);
