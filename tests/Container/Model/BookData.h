// A book as plain data, written through the book writers and read back through the readers in
// the order the module's export and import use, so that a round trip compares as data.
#pragma once

#include "Container/Model/BookReaders.h"
#include "Container/Model/BookWriters.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace model_test {

using AttrMap = std::map<std::u16string, std::u16string>;

struct RunData {
  enum Kind { Unicodes, Multibytes, WideMultibytes, SpecialChars, RefPoints, PlaceHolders, Empty };
  Kind kind = Empty;
  AttrMap attrs;
  dwx_long styleRef = -1;
  std::u16string units;  // Unicodes, WideMultibytes
  std::string bytes;     // Multibytes
  // Special characters: name and data; reference points: folder id, object type and reference
  // type; placeholders: folder id and object type. An absent text is stored as id -1.
  struct Record {
    dwx_long folderId = 0;
    std::optional<std::u16string> first;
    std::optional<std::u16string> second;
    bool operator==(const Record& o) const {
      return folderId == o.folderId && first == o.first && second == o.second;
    }
  };
  std::vector<Record> records;
  bool operator==(const RunData& o) const {
    return kind == o.kind && attrs == o.attrs && styleRef == o.styleRef && units == o.units &&
           bytes == o.bytes && records == o.records;
  }
};

struct ParagraphData {
  AttrMap attrs;
  dwx_long styleRef = -1;
  std::vector<RunData> runs;
  bool operator==(const ParagraphData& o) const {
    return attrs == o.attrs && styleRef == o.styleRef && runs == o.runs;
  }
};

struct StoryData {
  AttrMap attrs;
  std::vector<ParagraphData> paragraphs;
  bool operator==(const StoryData& o) const {
    return attrs == o.attrs && paragraphs == o.paragraphs;
  }
};

struct StyleData {
  AttrMap attrs;
  dwx_long thisRef = -1;
  dwx_long baseRef = -1;
  bool operator==(const StyleData& o) const {
    return attrs == o.attrs && thisRef == o.thisRef && baseRef == o.baseRef;
  }
};

struct DocumentData {
  AttrMap attrs;
  std::vector<StyleData> styles;
  std::vector<StoryData> stories;
  bool operator==(const DocumentData& o) const {
    return attrs == o.attrs && styles == o.styles && stories == o.stories;
  }
};

struct BookData {
  AttrMap attrs;  // on reading: every attribute of the book, defaults included
  std::vector<DocumentData> documents;
  bool operator==(const BookData& o) const {
    return attrs == o.attrs && documents == o.documents;
  }
};

// A run of `kind` with no content yet.
RunData MakeRun(RunData::Kind kind, dwx_long style = -1);
// Two documents, styles with and without a base, paragraphs with and without a style reference,
// every run kind, records with real and default ids, texts beyond the basic plane.
BookData FullBook();

// Writes the book into a container's root folder; the run attribute sets take their
// paragraph's set as base, so only their own entries are stored.
void WriteBook(const BookData& book, const DWX_Handle<DWX_OutFolder2>& root);
// Reads a book back; every id must name a text of the book's string table.
BookData ReadBook(const DWX_Handle<DWX_InFolder2>& root);
// The attributes of a set as text, its bases included.
AttrMap AttrsOf(const DWX_AttrsSet& attrs, const DWX_StringsMap& strings);
// A record's text as an id of the table (interned), and back; no text is id -1. An id the table
// lacks raises FE_CodeFileShortRead.
dwx_long IdOf(const std::optional<std::u16string>& text, DWX_StringsMap& strings);
std::optional<std::u16string> TextOf(dwx_long id, const DWX_StringsMap& strings);

}  // namespace model_test
