// Story-by-story comparison of a host document with the document its pseudo-translated export
// imported into, both in the canonical form that `xthost doc canon` writes.
#pragma once

#include <string>
#include <vector>

namespace kesto_test {

// What differs between the source and the imported document, one line a difference, at most a
// few a story: the current layout; each story's characters once the pseudo-translation's
// brackets and tildes are taken off; each character's font, size, faces (as the Book carries
// them), colour, kerning, tracking and baseline shift; each paragraph's style, second style, direction and alignment;
// the markers (anchored items, page numbers, hidden runs) and unique ids, once each and in
// order. The export drops on purpose, and the import therefore never brings back: the
// character 0x1C, which the special-character table has no row for; the module's own tag runs;
// a hidden paren without its partner; a unique-id marker whose number does not parse. Nor does
// it compare what the round trip changes on purpose (StoryCompare.cpp lists those).
std::vector<std::string> StoryDifferences(const std::string& sourceCanon, const std::string& importedCanon);

// What differs between a source and the document its untranslated export imported into: every
// UTF-16 unit, every field of every character's format (the colour by name, model and values),
// every field of each paragraph's format, the markers and unique ids. Only the differences that
// the round trip makes on purpose are allowed; StoryCompare.cpp lists them with their reasons.
std::vector<std::string> IdentityDifferences(const std::string& sourceCanon, const std::string& importedCanon);

} // namespace kesto_test
