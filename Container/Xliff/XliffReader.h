// Reads an XLIFF file (XLIFF 1.2, or XLIFF 2.0/2.1) as a translation tool hands it back: every
// unit's id, its source and target as text and codes, and whether its state says it is
// translated. The XML goes through expat: no DTD is read, no entity other than XML's five is
// expanded, nothing is fetched; a document type declaration is refused, naming an entity bomb or
// an external entity where it declares one. Every length and count is bounded before it is kept.
#pragma once

#include "Container/Xliff/Inline.h"
#include "Container/Xliff/Xliff.h"

#include <memory>
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

// An XLIFF read unit by unit, in blocks, so that a merge that meets the units in the order of
// its paragraphs holds only a few at a time.
class XliffStream {
 public:
  // The XLIFF held in memory (which must outlive the stream), or the file at path.
  XliffStream(const char* data, size_t size);
  explicit XliffStream(const std::string& path);
  ~XliffStream();
  XliffStream(const XliffStream&) = delete;
  XliffStream& operator=(const XliffStream&) = delete;

  // The next unit of the file; false at its end, or when it is at fault: then Error() tells why
  // (with line and column where the XML is at fault).
  bool Next(XliffUnit& unit);
  // Reads on until a unit is complete or the file ends: Header() then holds the file elements
  // in front of it. False at the end or on a fault.
  bool Fill();
  // The version and the file elements read so far; its units are the stream's.
  const XliffDocument& Header() const { return m_document; }
  const std::string& Error() const { return m_error; }

 private:
  struct Input;
  bool Pump();

  XliffDocument m_document;
  std::unique_ptr<Input> m_input;
  size_t m_next = 0;
  bool m_ended = false;
  std::string m_error;
};

// Parses a whole XLIFF held in memory. False with the reason in error.
bool ReadXliff(const char* data, size_t size, XliffDocument& document, std::string& error);

}  // namespace kesto::xliff
