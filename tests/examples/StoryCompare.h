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
// a hidden paren without its partner; a unique-id marker whose number does not parse.
// With `identity`, for an untranslated import, every field of each character's format (the
// colour by name, model and values) and of each paragraph's format compares, and the faces bit
// for bit: only what the round trip changes on purpose may differ (StoryCompare.cpp lists it); so
// does the format of every marker and unique-id marker, and the place, size and shape of each box
// a story runs through (all its fields but the module's private data).
std::vector<std::string> StoryDifferences(const std::string& sourceCanon, const std::string& importedCanon,
                                          bool identity = false);

} // namespace kesto_test
