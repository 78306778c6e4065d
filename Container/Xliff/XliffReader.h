// Reads an XLIFF file (XLIFF 1.2, or 2.0/2.1) as a translation tool hands it back: every unit's id,
// its source and target as text and codes, and whether its state says it is translated. The XML
// goes through expat: no DTD is read, no entity other than XML's five is expanded, nothing is
// fetched; a document type declaration is refused, naming an entity bomb or an external entity
// where it declares one. Every length and count is bounded before it is kept.
#pragma once

#include "Container/Xliff/Inline.h"
#include "Container/Xliff/Xliff.h"

#include <string>
#include <vector>

namespace kesto::xliff {

struct XliffFile {
  std::string original;  // the container's name
  std::string book;      // its fingerprint (kesto:book); empty when absent
  unsigned long line = 0;
};

struct XliffUnit {
  std::string id;
  unsigned long line = 0;
  Tokens source;
  Tokens target;
  bool hasTarget = false;
  // Why the unit is not translated although it has a target (its state, a segment without
  // target); empty when it is.
  std::string untranslated;
  // What in its markup the merge cannot take (an element it does not know); empty when nothing.
  std::string problem;
};

struct XliffDocument {
  Version version = Version::V12;
  std::vector<XliffFile> files;
  std::vector<XliffUnit> units;
};

// Units an XLIFF may hold, and the longest id kept.
constexpr size_t kMaxUnits = 16u * 1024u * 1024u;
constexpr size_t kMaxIdLength = 256;

// Parses a whole XLIFF held in memory, or the file at path (read in blocks). False with the
// reason in error (with line and column where the XML is at fault).
bool ReadXliff(const char* data, size_t size, XliffDocument& document, std::string& error);
bool ReadXliffFile(const std::string& path, XliffDocument& document, std::string& error);

}  // namespace kesto::xliff
