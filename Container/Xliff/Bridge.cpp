#include "Container/Xliff/Xliff.h"

#include "Container/Model/BookReaders.h"
#include "Container/Model/BookWriters.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/OLEStorage.h"
#include "Container/Xliff/Paragraph.h"
#include "Container/Xliff/XliffReader.h"
#include "Container/Xliff/XmlText.h"
#include "platform/fs/TempFiles.h"
#include "platform/storage/StructuredStorage.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <ostream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace kesto::xliff {

namespace {

constexpr size_t kFlushAt = 1 << 20;
constexpr dwx_long kMaxStringId = 16 * 1024 * 1024;

// A failure that makes the input unusable as a whole.
class Unusable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

std::string UnitId(dwx_long d, dwx_long s, dwx_long p) {
  return "d" + std::to_string(d) + "s" + std::to_string(s) + "p" + std::to_string(p);
}

std::string UnitName(dwx_long s, dwx_long p) {
  return "story " + std::to_string(int64_t(s) + 1) + ", paragraph " + std::to_string(int64_t(p) + 1);
}

std::string CaughtText() {
  try {
    throw;
  } catch (const Unusable& e) {
    return e.what();
  } catch (const std::bad_alloc&) {
    return "out of memory";
  } catch (const std::length_error& e) {
    return e.what();
  } catch (const std::bad_cast&) {
    return "the exchange file is damaged (a stream of another type than its name says)";
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown failure";
  }
}

// What a storage error says about the file at path, which the program reads or writes.
std::string StorageFault(const std::string& path, const FilterException& e, bool writing) {
  const std::string code = " (error " + std::to_string(e.Code()) + (e.Text() ? std::string(": ") + e.Text() : "") + ")";
  switch (e.Code()) {
    case FE_StorageOldFormat: return path + ": not an exchange file (not a compound file)" + code;
    case FE_StorageFileNotFound: return path + (writing ? ": cannot be written: its folder is missing" : ": not found") + code;
    case FE_StorageAccessDenied: return path + ": access denied" + code;
    case FE_StorageMediumFull: return path + ": the disk is full" + code;
    default: return path + (writing ? ": cannot be written" : ": the exchange file is damaged") + code;
  }
}

OLEStorage OpenStorage(const std::string& path, CD_OpenMode mode) {
  try {
    return OLEStorage(path.c_str(), mode);
  } catch (const FilterException& e) {
    throw Unusable(StorageFault(path, e, mode != CD_OpenRead));
  }
}

// A container opened for reading: its root storage and the root folder of its code file.
struct InBook {
  explicit InBook(const std::string& path) : root(OpenStorage(path, CD_OpenRead)) {
    if (!IsDWX(root)) throw Unusable(path + ": not an exchange file (it has no \"VerbantTextAndCode\")");
    storage.reset(OpenDWX2(root));
    folder = storage->OpenFolder2();
    if (!folder) throw Unusable(path + ": not an exchange file (it holds no code file)");
    book = std::make_unique<DWX_Book_In2>(folder);
    if (!book->Valid()) throw Unusable(path + ": the exchange file holds no Book");
  }
  ~InBook() {
    book.reset();
    folder.Reset();
  }

  struct Release {
    template <class T>
    void operator()(T* s) const { s->Release(); }
  };
  OLEStorage root;
  std::unique_ptr<DWX_InStorage2, Release> storage;
  DWX_Handle<DWX_InFolder2> folder;
  std::unique_ptr<DWX_Book_In2> book;
};

// The element indices under `name` in `folder`; none when the folder is absent.
std::vector<dwx_long> Elements(const DWX_Handle<DWX_InFolder2>& folder, const char* name) {
  return folder ? DWX_SubFolderIndices(*folder, name) : std::vector<dwx_long>();
}

// Walks every paragraph of the book in order: document, story, paragraph.
void WalkParagraphs(DWX_Book_In2& book, const DWX_StringsMap& strings,
                    const std::function<void(dwx_long, dwx_long, ParagraphData&)>& visit,
                    const std::function<void(dwx_long, dwx_long)>& storyEnd) {
  DWX_Handle<DWX_InFolder2> documents = book.OpenDocumentsSet(DWX_Names::DocumentsSet);
  for (dwx_long d : Elements(documents, DWX_Names::Document)) {
    DWX_Handle<DWX_InFolder2> document = documents->OpenFolder(DWX_Names::Document, d);
    if (!document) continue;
    DWX_Handle<DWX_InFolder2> stories = document->OpenFolder(DWX_Names::StoriesSet, 0);
    for (dwx_long s : Elements(stories, DWX_Names::Story)) {
      DWX_Handle<DWX_InFolder2> story = stories->OpenFolder(DWX_Names::Story, s);
      if (!story) continue;
      DWX_Handle<DWX_InFolder2> paragraphs = story->OpenFolder(DWX_Names::ParagraphsSet, 0);
      uint64_t characters = 0;
      for (dwx_long p : Elements(paragraphs, DWX_Names::Paragraph)) {
        DWX_Handle<DWX_InFolder2> folder = paragraphs->OpenFolder(DWX_Names::Paragraph, p);
        if (!folder) continue;
        ParagraphData paragraph;
        ReadParagraph(*folder, p, paragraph, characters);
        Analyse(paragraph, strings);
        visit(d, s, paragraph);
      }
      storyEnd(d, s);
    }
  }
}

// ---- Writing XLIFF ---------------------------------------------------------------------------

// The XLIFF output: a private temporary beside the target, written in blocks, synced and renamed
// into place by Finish; removed when it is not finished.
class Output {
 public:
  explicit Output(const std::string& target) : m_target(target) {
    if (const int error = platform::fs::CreateTempBeside(target, platform::fs::kTempSuffix, m_fd, m_temp))
      throw Unusable("cannot write " + target + ": " + std::strerror(error));
    m_text.reserve(kFlushAt * 2);
  }
  ~Output() {
    if (m_fd >= 0) {
      ::close(m_fd);
      ::unlink(m_temp.c_str());
    }
  }
  std::string& Text() { return m_text; }
  void Flush(bool always = false) {
    if (m_text.size() < kFlushAt && !always) return;
    if (const int error = platform::fs::WriteAll(m_fd, m_text))
      throw Unusable("cannot write " + m_target + ": " + std::strerror(error));
    m_text.clear();
  }
  void Finish() {
    Flush(true);
    if (const int error = platform::fs::FinishTemp(m_fd, m_temp, m_target))
      throw Unusable("cannot write " + m_target + ": " + std::strerror(error));
    ::close(m_fd);
    m_fd = -1;
    platform::fs::SyncPendingFolders();
  }

 private:
  std::string m_target;
  std::string m_temp;
  int m_fd = -1;
  std::string m_text;
};

class XliffWriter {
 public:
  XliffWriter(std::string& out, const ExtractOptions& options) : m_out(out), m_options(options) {}

  bool V12() const { return m_options.version == Version::V12; }

  void Begin() {
    m_out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (V12()) {
      m_out += "<xliff version=\"1.2\" xmlns=\"urn:oasis:names:tc:xliff:document:1.2\" "
               "xmlns:kesto=\"urn:kesto:xliff:1\">\n";
    } else {
      m_out += "<xliff version=\"2.1\" xmlns=\"urn:oasis:names:tc:xliff:document:2.0\" "
               "xmlns:kesto=\"urn:kesto:xliff:1\" srcLang=\"";
      AppendEscaped(m_out, m_options.sourceLanguage, true);
      m_out += '"';
      std::string target = m_options.targetLanguage;
      // An XLIFF 2.1 file with targets must name their language.
      if (target.empty() && m_options.copySource) target = "und";
      if (!target.empty()) {
        m_out += " trgLang=\"";
        AppendEscaped(m_out, target, true);
        m_out += '"';
      }
      m_out += ">\n";
    }
  }

  void File(dwx_long d, const std::string& original, const std::string& fingerprint) {
    if (V12()) {
      m_out += " <file original=\"";
      AppendEscaped(m_out, original, true);
      m_out += "\" datatype=\"x-kesto-dwq\" source-language=\"";
      AppendEscaped(m_out, m_options.sourceLanguage, true);
      m_out += '"';
      if (!m_options.targetLanguage.empty()) {
        m_out += " target-language=\"";
        AppendEscaped(m_out, m_options.targetLanguage, true);
        m_out += '"';
      }
    } else {
      m_out += " <file id=\"d" + std::to_string(d) + "\" original=\"";
      AppendEscaped(m_out, original, true);
      m_out += '"';
    }
    m_out += " kesto:book=\"" + fingerprint + "\" kesto:document=\"" + std::to_string(d) + "\">\n";
    if (V12()) m_out += "  <body>\n";
  }

  // An XLIFF 2.1 file holds at least one unit or group: a Book without text gets an empty group.
  void FileEnd(bool empty = false) {
    if (empty && !V12()) m_out += "  <group id=\"none\"/>\n";
    m_out += V12() ? "  </body>\n </file>\n" : " </file>\n";
  }

  void Group(dwx_long d, dwx_long s) {
    m_out += "  <group id=\"d" + std::to_string(d) + "s" + std::to_string(s) + "\" " +
             (V12() ? "resname" : "name") + "=\"document " + std::to_string(int64_t(d) + 1) + ", story " +
             std::to_string(int64_t(s) + 1) + "\">\n";
  }
  void GroupEnd() { m_out += "  </group>\n"; }

  void Unit(dwx_long d, dwx_long s, const ParagraphData& p) {
    const bool v12 = V12();
    m_out += std::string(v12 ? "   <trans-unit id=\"" : "   <unit id=\"") + UnitId(d, s, p.index) + "\" " +
             (v12 ? "resname" : "name") + "=\"" + UnitName(s, p.index) + "\" xml:space=\"preserve\">\n";
    if (!v12) m_out += "    <segment>\n";
    for (const char* element : {"source", "target"}) {
      if (element[0] == 't' && !m_options.copySource) break;
      m_out += std::string(v12 ? "    <" : "     <") + element + ">";
      Content(p);
      m_out += std::string("</") + element + ">\n";
    }
    m_out += v12 ? "   </trans-unit>\n" : "    </segment>\n   </unit>\n";
  }

  void End() { m_out += "</xliff>\n"; }

 private:
  void Content(const ParagraphData& p) {
    for (const Token& t : p.source) {
      switch (t.type) {
        case Token::Text:
          AppendEscaped(m_out, t.text, false);
          break;
        case Token::Open:
        case Token::Single: {
          const bool open = t.type == Token::Open;
          m_out += open ? (V12() ? "<g id=\"" : "<pc id=\"") : (V12() ? "<x id=\"" : "<ph id=\"");
          AppendEscaped(m_out, t.text, true);
          m_out += open ? (V12() ? "\" equiv-text=\"" : "\" dispStart=\"")
                        : (V12() ? "\" clone=\"no\" equiv-text=\"" : "\" canCopy=\"no\" canDelete=\"no\" disp=\"");
          AppendEscaped(m_out, Display(p, t), true);
          m_out += open ? "\">" : "\"/>";
          break;
        }
        case Token::Close:
          m_out += V12() ? "</g>" : "</pc>";
          break;
      }
    }
  }

  static const std::u16string& Display(const ParagraphData& p, const Token& t) {
    size_t n = 0;
    for (char16_t c : t.text) n = n * 10 + size_t(c - u'0');
    return p.codes.at(n - 1).display;
  }

  std::string& m_out;
  const ExtractOptions& m_options;
};

// ---- Merging ---------------------------------------------------------------------------------

struct Outcome {
  size_t translated = 0, kept = 0, failed = 0, warned = 0, added = 0;
  std::vector<std::string> lines;
};

class Merger {
 public:
  Merger(InBook& in, XliffStream& xliff, const std::string& xlf, const std::string& dwq,
         const std::string& fingerprint, Outcome& outcome)
      : m_in(in), m_xliff(xliff), m_xlf(xlf), m_dwq(dwq), m_fingerprint(fingerprint), m_outcome(outcome) {
    // The file elements in front of the first unit name the exchange file; a wrong one stops
    // the merge before anything is written.
    m_xliff.Fill();
    Failed();
    if (m_xliff.Header().files.empty()) throw Unusable(m_xlf + ": the XLIFF holds no file element");
    CheckFiles();
  }

  void Run(OLEStorage& root) {
    std::unique_ptr<DWX_OutStorage2, InBook::Release> storage(CreateDWX2(root, false));
    DWX_Handle<DWX_OutFolder2> folder = storage->CreateFolder2();
    {
      DWX_Book_Out2 book(folder);
      MapStrings(book.StringsMap());
      const std::vector<dwx_long>* ids = m_identity ? nullptr : &m_ids;
      DWX_Book_In2& in = *m_in.book;
      Known(in.Folder(), {DWX_Names::DocumentsSet, DWX_Names::ObjectsPool, DWX_Names::Attrs, DWX_Names::StringsMap},
            "the Book");
      ElementData attrs;
      ReadElement(in.Folder(), attrs, false);
      if (DWX_Handle<DWX_InFolder2> documents = in.OpenDocumentsSet(DWX_Names::DocumentsSet)) {
        DWX_Handle<DWX_OutFolder2> out = book.CreateDocumentsSet(DWX_Names::DocumentsSet);
        CopySet(*documents, *out, DWX_Names::Document, ids, [&](dwx_long d, DWX_InFolder2& from, DWX_OutFolder2& to) {
          CopyDocument(d, from, to, ids);
        });
      }
      WriteElementAttrs(book.Folder(), attrs, ids);
      book.Finish();
      book.Folder().Complete();
    }
    folder.Reset();
    storage.reset();
    // What is left: units of no paragraph with text.
    for (XliffUnit unit; Take(unit);) Added(unit);
    for (const auto& [id, unit] : m_pending) Added(unit);
    Failed();
  }

 private:
  using Copier = std::function<void(dwx_long, DWX_InFolder2&, DWX_OutFolder2&)>;

  static void Known(DWX_InFolder2& folder, std::initializer_list<const char*> names, const std::string& where) {
    for (const auto& [name, index] : DWX_SubFolders(folder)) {
      bool known = false;
      for (const char* n : names) known = known || name == n;
      if (!known)
        throw Unusable(where + " holds \"" + name.substr(0, 60) + "\", which kesto-xliff does not carry over");
    }
  }

  void MapStrings(DWX_StringsMap& strings) {
    DWX_Handle<DWX_InBundle2> bundle =
        m_in.book->Folder().OpenBundle(DWX_NumberedString(), DWX_Names::StringsMap, 0);
    std::vector<std::pair<dwx_long, std::u16string>> entries;
    if (bundle) {
      DWX_NumberedString_In record;
      while (bundle->GetRecord(record)) {
        if (record.m_Ref < 0 || record.m_Ref > kMaxStringId)
          throw Unusable("the Book's string table holds the id " + std::to_string(record.m_Ref) +
                         ", beyond what kesto-xliff carries over");
        entries.emplace_back(record.m_Ref, record.m_String);
        record = DWX_NumberedString_In();
      }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    m_ids.assign(entries.empty() ? 0 : size_t(entries.back().first) + 1, -1);
    m_identity = true;
    for (const auto& [id, text] : entries) {
      const dwx_long mapped = strings[text];
      if (m_ids[size_t(id)] < 0) m_ids[size_t(id)] = mapped;
      m_identity = m_identity && mapped == id;
    }
  }

  static void CopySet(DWX_InFolder2& from, DWX_OutFolder2& to, const char* element, const std::vector<dwx_long>* ids,
                      const Copier& copy) {
    Known(from, {element, DWX_Names::Attrs}, std::string("a collection of \"") + element + "\"");
    ElementData attrs;
    ReadElement(from, attrs, false);
    for (dwx_long i : DWX_SubFolderIndices(from, element)) {
      DWX_Handle<DWX_InFolder2> in = from.OpenFolder(element, i);
      if (!in) continue;
      DWX_Handle<DWX_OutFolder2> out = to.CreateFolder(element, i);
      copy(i, *in, *out);
      out->Finish();
    }
    WriteElementAttrs(to, attrs, ids);
    to.Finish();
  }

  static void CopyLong(DWX_InFolder2& from, DWX_OutFolder2& to, const char* name) {
    dwx_long value = -1;
    if (ReadLong(from, name, value)) WriteLong(to, name, value);
  }

  void CopyDocument(dwx_long d, DWX_InFolder2& from, DWX_OutFolder2& to, const std::vector<dwx_long>* ids) {
    Known(from, {DWX_Names::StylesSet, DWX_Names::StoriesSet, DWX_Names::Attrs}, "document " + std::to_string(d));
    ElementData attrs;
    ReadElement(from, attrs, false);
    DWX_Handle<DWX_InFolder2> styles = from.OpenFolder(DWX_Names::StylesSet, 0);
    DWX_Handle<DWX_InFolder2> stories = from.OpenFolder(DWX_Names::StoriesSet, 0);
    // The export makes both collections at once, styles first.
    DWX_Handle<DWX_OutFolder2> stylesOut = styles ? to.CreateFolder(DWX_Names::StylesSet, 0) : DWX_Handle<DWX_OutFolder2>();
    DWX_Handle<DWX_OutFolder2> storiesOut =
        stories ? to.CreateFolder(DWX_Names::StoriesSet, 0) : DWX_Handle<DWX_OutFolder2>();
    if (styles)
      CopySet(*styles, *stylesOut, DWX_Names::StyleInfo, ids, [&](dwx_long, DWX_InFolder2& in, DWX_OutFolder2& out) {
        Known(in, {DWX_Names::Attrs}, "a style");
        ElementData style;
        ReadElement(in, style, false);
        CopyLong(in, out, DWX_Names::ThisStyleRef);
        CopyLong(in, out, DWX_Names::BaseStyleRef);
        WriteElementAttrs(out, style, ids);
      });
    if (stories)
      CopySet(*stories, *storiesOut, DWX_Names::Story, ids, [&](dwx_long s, DWX_InFolder2& in, DWX_OutFolder2& out) {
        CopyStory(d, s, in, out, ids);
      });
    WriteElementAttrs(to, attrs, ids);
  }

  void CopyStory(dwx_long d, dwx_long s, DWX_InFolder2& from, DWX_OutFolder2& to, const std::vector<dwx_long>* ids) {
    const std::string where = "story " + std::to_string(int64_t(s) + 1) + " of document " + std::to_string(d);
    Known(from, {DWX_Names::ParagraphsSet, DWX_Names::Attrs}, where);
    ElementData attrs;
    ReadElement(from, attrs, false);
    uint64_t characters = 0;
    if (DWX_Handle<DWX_InFolder2> paragraphs = from.OpenFolder(DWX_Names::ParagraphsSet, 0)) {
      DWX_Handle<DWX_OutFolder2> out = to.CreateFolder(DWX_Names::ParagraphsSet, 0);
      CopySet(*paragraphs, *out, DWX_Names::Paragraph, ids, [&](dwx_long p, DWX_InFolder2& in, DWX_OutFolder2& o) {
        CopyParagraph(d, s, p, in, o, ids, characters);
      });
    }
    WriteElementAttrs(to, attrs, ids);
  }

  void CopyParagraph(dwx_long d, dwx_long s, dwx_long index, DWX_InFolder2& from, DWX_OutFolder2& to,
                     const std::vector<dwx_long>* ids, uint64_t& characters) {
    Known(from, {DWX_Names::TextRun, DWX_Names::Attrs}, UnitName(s, index));
    ParagraphData p;
    ReadParagraph(from, index, p, characters);
    Analyse(p, *m_strings);
    std::vector<RunData> translated;
    bool replaced = false;
    if (p.hasUnit) replaced = Translate(UnitId(d, s, index), UnitName(s, index), p, translated);
    // The writer's handle shares the folder; the caller completes it.
    DWX_Paragraph_Out2 writer(DWX_Handle<DWX_OutFolder2>(Share(to)));
    WriteStyleRef(to, p);
    if (replaced) {
      for (size_t i = 0; i < translated.size(); ++i) WriteRun(writer, dwx_long(i), translated[i], ids);
    } else {
      for (size_t i = 0; i < p.runs.size(); ++i) WriteRun(writer, p.runIndices[i], p.runs[i], ids);
    }
    WriteElementAttrs(to, p, ids);
  }

  static DWX_OutFolder2* Share(DWX_OutFolder2& folder) {
    folder.AddRef();
    return &folder;
  }

  void Failed() const {
    if (!m_xliff.Error().empty()) throw Unusable(m_xlf + ": " + m_xliff.Error());
  }

  void CheckFiles() {
    const std::vector<XliffFile>& files = m_xliff.Header().files;
    for (; m_checkedFiles < files.size(); ++m_checkedFiles) {
      const XliffFile& file = files[m_checkedFiles];
      if (file.book.empty())
        throw Unusable(m_xlf + " (line " + std::to_string(file.line) + ") does not name the exchange file it was " +
                       "made from (no kesto:book on its file element); " + m_dwq + " is " + m_fingerprint);
      if (file.book != m_fingerprint)
        throw Unusable(m_xlf + " was made from " + (file.original.empty() ? "another exchange file" : file.original) +
                       " (" + file.book + "), not from " + m_dwq + " (" + m_fingerprint +
                       "): another exchange file or another version of it");
    }
  }

  // The next unit of the XLIFF, its file elements checked; false at the end.
  bool Take(XliffUnit& unit) {
    const bool taken = m_xliff.Next(unit);
    Failed();
    CheckFiles();
    return taken;
  }

  void Added(const XliffUnit& unit) {
    Note(unit.id, "",
         m_used.count(unit.id) ? "not merged: the XLIFF holds this unit twice (line " + std::to_string(unit.line) + ")"
                               : "not merged: no paragraph with text of the exchange file has this id (a unit the "
                                 "tool added)",
         m_outcome.added);
  }

  // The unit with the id: read on in the XLIFF until it comes, keeping the units passed on the
  // way for their own paragraphs. False when the XLIFF has none.
  bool Find(const std::string& id, XliffUnit& found) {
    const auto pending = m_pending.find(id);
    if (pending != m_pending.end()) {
      found = std::move(pending->second);
      m_pending.erase(pending);
      return true;
    }
    for (XliffUnit unit; Take(unit);) {
      if (unit.id == id) {
        found = std::move(unit);
        return true;
      }
      if (m_used.count(unit.id) || m_pending.count(unit.id))
        Added(unit);
      else
        m_pending.emplace(unit.id, std::move(unit));
    }
    return false;
  }

  // Whether the unit replaces the paragraph's runs (with `runs`); notes the outcome.
  bool Translate(const std::string& id, const std::string& name, const ParagraphData& p, std::vector<RunData>& runs) {
    XliffUnit unit;
    if (!Find(id, unit)) {
      Note(id, name, "kept its source: the XLIFF has no such unit (removed)", m_outcome.kept);
      return false;
    }
    m_used.insert(id);
    if (!unit.problem.empty()) {
      Note(id, name, "failed, kept its source: " + unit.problem, m_outcome.failed);
      return false;
    }
    if (!SameContent(unit.source, p.source)) {
      Note(id, name, "failed, kept its source: its source is not the exchange file's paragraph (the source was edited)",
           m_outcome.failed);
      return false;
    }
    if (!unit.hasTarget) {
      Note(id, name, "kept its source: it has no target", m_outcome.kept);
      return false;
    }
    if (!unit.untranslated.empty()) {
      Note(id, name, "kept its source: " + unit.untranslated, m_outcome.kept);
      return false;
    }
    if (!HasText(unit.target)) {
      Note(id, name, "kept its source: its target has no text", m_outcome.kept);
      return false;
    }
    if (SameContent(unit.target, p.source)) {
      ++m_outcome.translated;
      return false;
    }
    std::string failure;
    std::vector<std::string> warnings;
    runs = TranslatedRuns(p, unit.target, failure, warnings);
    if (!failure.empty()) {
      Note(id, name, "failed, kept its source: " + failure, m_outcome.failed);
      return false;
    }
    for (const std::string& warning : warnings) {
      size_t ignored = 0;
      Note(id, name, "warning: " + warning, ignored);
    }
    if (!warnings.empty()) ++m_outcome.warned;
    ++m_outcome.translated;
    return true;
  }

  void Note(const std::string& id, const std::string& name, const std::string& what, size_t& count) {
    ++count;
    m_outcome.lines.push_back("unit " + id + (name.empty() ? "" : " (" + name + ")") + ": " + what);
  }

 public:
  const DWX_StringsMap* m_strings = nullptr;

 private:
  InBook& m_in;
  XliffStream& m_xliff;
  std::string m_xlf, m_dwq, m_fingerprint;
  Outcome& m_outcome;
  size_t m_checkedFiles = 0;
  // Units read ahead of their paragraphs, and the ids merged.
  std::unordered_map<std::string, XliffUnit> m_pending;
  std::unordered_set<std::string> m_used;
  std::vector<dwx_long> m_ids;
  bool m_identity = true;
};

// Refuses a target that is the file `input` names: the output would replace what it is made from.
void CheckNotInput(const std::string& target, const std::string& input) {
  struct stat a {}, b {};
  if (::stat(target.c_str(), &a) == 0 && ::stat(input.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino)
    throw Unusable("will not write " + target + ": it is " + input + ", which the output is made from");
}

void CheckTarget(const std::string& target) {
  const std::string refusal = platform::fs::ReplaceRefusal(target);
  if (!refusal.empty()) throw Unusable("cannot write " + target + ": " + refusal);
}

}  // namespace

std::string Fingerprint(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) throw Unusable(path + ": cannot be read: " + std::strerror(errno));
  uLong crc = crc32(0L, Z_NULL, 0);
  uLong adler = adler32(0L, Z_NULL, 0);
  uint64_t size = 0;
  std::vector<unsigned char> block(1 << 16);
  for (;;) {
    const size_t n = std::fread(block.data(), 1, block.size(), file.get());
    if (std::ferror(file.get())) throw Unusable(path + ": cannot be read: " + std::strerror(errno));
    crc = crc32(crc, block.data(), uInt(n));
    adler = adler32(adler, block.data(), uInt(n));
    size += n;
    if (n < block.size()) break;
  }
  return "dwq:" + std::to_string(size) + ":" + Hex8(uint32_t(crc)) + ":" + Hex8(uint32_t(adler));
}

namespace {

// Refuses a target that is the input or write-protected; answers the fingerprint of dwq.
std::string Checked(const std::string& target, const std::string& input, const std::string& dwq) {
  CheckNotInput(target, input);
  CheckTarget(target);
  return Fingerprint(dwq);
}

// Reports the failure being handled, a storage fault as one of dwq; answers kUnusable.
int Refused(std::ostream& report, const std::string& dwq) {
  try {
    throw;
  } catch (const FilterException& e) {
    report << "kesto-xliff: " << StorageFault(dwq, e, false) << "\n";
  } catch (...) {
    report << "kesto-xliff: " << CaughtText() << "\n";
  }
  return kUnusable;
}

}  // namespace

int Extract(const std::string& dwq, const std::string& xlf, const ExtractOptions& options, std::ostream& report) {
  try {
    const std::string fingerprint = Checked(xlf, dwq, dwq);
    InBook in(dwq);
    Output output(xlf);
    XliffWriter writer(output.Text(), options);
    writer.Begin();
    const std::string original = BaseName(dwq);
    size_t units = 0, files = 0;
    dwx_long file = -1;
    bool group = false;
    WalkParagraphs(
        *in.book, in.book->StringsMap(),
        [&](dwx_long d, dwx_long s, ParagraphData& p) {
          if (!p.hasUnit) return;
          if (file != d) {
            if (file >= 0) writer.FileEnd();
            writer.File(d, original, fingerprint);
            file = d;
            ++files;
          }
          if (!group) writer.Group(d, s);
          group = true;
          writer.Unit(d, s, p);
          ++units;
          output.Flush();
        },
        [&](dwx_long, dwx_long) {
          if (group) writer.GroupEnd();
          group = false;
        });
    // An XLIFF names its exchange file even when nothing is to be translated.
    if (file < 0) writer.File(0, original, fingerprint), ++files;
    writer.FileEnd(units == 0);
    writer.End();
    output.Finish();
    report << "kesto-xliff: " << units << " units of " << files << (files == 1 ? " document" : " documents")
           << " extracted to " << xlf << "\n";
    return kAllMerged;
  } catch (...) {
    return Refused(report, dwq);
  }
}

int Merge(const std::string& dwq, const std::string& xlf, const std::string& out, std::ostream& report) {
  Outcome outcome;
  try {
    const std::string fingerprint = Checked(out, xlf, dwq);
    XliffStream xliff(xlf);
    InBook in(dwq);
    Merger merger(in, xliff, xlf, dwq, fingerprint, outcome);
    {
      OLEStorage root = OpenStorage(out, CD_CreateWrite);
      try {
        // Everything beside the code file (the stored document) goes over as it is.
        OLEStorageEnumerator items = in.root.CreateEnumerator();
        while (items.Next()) {
          const char16_t* name = items.ItemName();
          if (name && std::u16string(name) != kDWX_TextAndCodeName) in.root.CopyItem(name, root, nullptr, false);
        }
        merger.m_strings = &in.book->StringsMap();
        merger.Run(root);
        try {
          root.Flush();
        } catch (const FilterException& e) {
          throw Unusable(StorageFault(out, e, true));
        }
      } catch (...) {
        root()->Revert();
        throw;
      }
    }
    platform::fs::SyncPendingFolders();
  } catch (...) {
    return Refused(report, dwq);
  }
  for (const std::string& line : outcome.lines) report << "kesto-xliff: " << line << "\n";
  report << "kesto-xliff: " << outcome.translated << " units translated, " << outcome.kept
         << " kept their source, " << outcome.failed << " failed, " << outcome.added << " not in the exchange file, "
         << outcome.warned << " with warnings; written to " << out << "\n";
  return outcome.kept + outcome.failed + outcome.added > 0 ? kSomeKept : kAllMerged;
}

}  // namespace kesto::xliff
