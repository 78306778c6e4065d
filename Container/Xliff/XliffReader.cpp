#include "Container/Xliff/XliffReader.h"

#include "Container/Xliff/XmlText.h"

#include <expat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

namespace kesto::xliff {

namespace {

constexpr char kSeparator = '\x01';
constexpr char kNs12[] = "urn:oasis:names:tc:xliff:document:1.2";
constexpr char kNs20[] = "urn:oasis:names:tc:xliff:document:2.0";
constexpr char kNsKesto[] = "urn:kesto:xliff:1";
constexpr size_t kMaxDepth = 1024;
constexpr size_t kBlock = 64 * 1024;

// Where the parser is, as far as the merge cares.
enum class Scope : uint8_t {
  Other,      // an element whose content is not read
  Root,
  File,
  Container,  // XLIFF 1.2 body and group, XLIFF 2.1 group
  Unit,
  Segment,    // XLIFF 2.1 segment or ignorable
  Source,
  Target,
  Inline,     // an inline element inside a source or target
  Skipped,    // content that is neither (alt-trans, notes, original data, metadata)
};

struct Frame {
  Scope scope;
  Token::Type close;     // Inline: what its end adds (Text: nothing)
  std::u16string id;     // Inline: the code's id
};

class Reader {
 public:
  explicit Reader(XliffDocument& document) : m_doc(document) {
    m_parser = XML_ParserCreateNS(nullptr, kSeparator);
    if (!m_parser) throw std::bad_alloc();
    XML_SetUserData(m_parser, this);
    XML_SetElementHandler(m_parser, &Reader::Start, &Reader::End);
    XML_SetCharacterDataHandler(m_parser, &Reader::Characters);
    XML_SetEndDoctypeDeclHandler(m_parser, &Reader::DoctypeEnd);
    XML_SetEntityDeclHandler(m_parser, &Reader::Entity);
    XML_SetParamEntityParsing(m_parser, XML_PARAM_ENTITY_PARSING_NEVER);
  }
  ~Reader() { XML_ParserFree(m_parser); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  bool Feed(const char* data, size_t size, bool last) {
    if (m_failed) return false;
    if (XML_Parse(m_parser, data, int(size), last) == XML_STATUS_OK) {
      if (last && !m_rooted) return Fail("the file holds no XLIFF");
      return true;
    }
    if (!m_failed) {
      m_failed = true;
      m_error = Where() + XML_ErrorString(XML_GetErrorCode(m_parser));
    }
    return false;
  }
  const std::string& Error() const { return m_error; }

 private:
  std::string Where() const {
    return "line " + std::to_string(XML_GetCurrentLineNumber(m_parser)) + ", column " +
           std::to_string(XML_GetCurrentColumnNumber(m_parser) + 1) + ": ";
  }

  bool Fail(const std::string& reason) {
    if (!m_failed) {
      m_failed = true;
      m_error = Where() + reason;
      XML_StopParser(m_parser, XML_FALSE);
    }
    return false;
  }

  static Reader& Self(void* data) { return *static_cast<Reader*>(data); }

  static void DoctypeEnd(void* data) {
    Self(data).Fail("the file holds a document type declaration (DOCTYPE); no DTD is read");
  }
  static void Entity(void* data, const XML_Char* name, int, const XML_Char*, int, const XML_Char*,
                     const XML_Char* systemId, const XML_Char*, const XML_Char*) {
    Reader& self = Self(data);
    const std::string entity = name ? name : "";
    if (systemId)
      self.Fail("the file declares the external entity \"" + entity + "\" (" + systemId +
                "); nothing is fetched from a file or the network");
    else
      self.Fail("the file declares the entity \"" + entity +
                "\"; no entity beyond XML's five is expanded (this is how an entity bomb starts)");
  }

  // The local name when the element is in `ns`; empty otherwise.
  static std::string Local(const XML_Char* name, const char* ns) {
    const char* sep = std::strchr(name, kSeparator);
    if (!sep) return ns ? std::string() : std::string(name);
    if (!ns || size_t(sep - name) != std::strlen(ns) || std::strncmp(name, ns, size_t(sep - name)) != 0)
      return std::string();
    return std::string(sep + 1);
  }

  static const XML_Char* Attr(const XML_Char** attrs, const char* name, const char* ns = nullptr) {
    for (size_t i = 0; attrs[i]; i += 2)
      if (Local(attrs[i], ns) == name) return attrs[i + 1];
    return nullptr;
  }

  bool Bounded(const XML_Char* value, std::string& out, const char* what) {
    if (!value) return true;
    const size_t length = std::strlen(value);
    if (length > kMaxIdLength)
      return Fail(std::string("the ") + what + " is longer than " + std::to_string(kMaxIdLength) + " bytes");
    out.assign(value, length);
    return true;
  }

  XliffUnit& Unit() { return m_unit; }

  void Push(Scope scope, Token::Type close = Token::Text, std::u16string id = {}) {
    m_stack.push_back(Frame{scope, close, std::move(id)});
  }

  Tokens* Capture() {
    if (m_stack.empty()) return nullptr;
    for (auto it = m_stack.rbegin(); it != m_stack.rend(); ++it) {
      if (it->scope == Scope::Source) return &m_source;
      if (it->scope == Scope::Target) return &m_target;
      if (it->scope != Scope::Inline) return nullptr;
    }
    return nullptr;
  }

  bool Count(size_t more) {
    m_kept += more;
    if (m_kept > kMaxStoryCharacters)
      return Fail("a unit holds more than " + std::to_string(kMaxStoryCharacters) +
                  " characters and codes, more than a story may hold");
    return true;
  }

  void Add(Token::Type type, const std::u16string& id) {
    if (!Count(1)) return;
    m_captured->push_back(Token{type, id});
  }

  static void Start(void* data, const XML_Char* name, const XML_Char** attrs) {
    Reader& self = Self(data);
    if (!self.m_failed) self.OnStart(name, attrs);
  }
  static void End(void* data, const XML_Char*) {
    Reader& self = Self(data);
    if (!self.m_failed) self.OnEnd();
  }
  static void Characters(void* data, const XML_Char* s, int length) {
    Reader& self = Self(data);
    if (self.m_failed) return;
    if (Tokens* tokens = self.Capture()) {
      if (!self.Count(size_t(length))) return;
      AppendText(*tokens, ToUtf16(s, size_t(length)));
    }
  }

  void OnStart(const XML_Char* name, const XML_Char** attrs) {
    if (m_stack.size() >= kMaxDepth) {
      Fail("elements nest deeper than " + std::to_string(kMaxDepth) + " levels");
      return;
    }
    if (m_stack.empty()) return Root(name, attrs);
    const Scope parent = m_stack.back().scope;
    const char* ns = m_doc.version == Version::V12 ? kNs12 : kNs20;
    const std::string local = Local(name, ns);
    switch (parent) {
      case Scope::Root:
        if (local == "file") return File(attrs);
        return Push(Scope::Skipped);
      case Scope::File:
      case Scope::Container:
        if (local == "body" || local == "group") return Push(Scope::Container);
        if (local == "trans-unit" || local == "unit") return UnitStart(attrs);
        return Push(Scope::Skipped);
      case Scope::Unit:
        if (m_doc.version == Version::V21 && (local == "segment" || local == "ignorable"))
          return SegmentStart(local == "ignorable", attrs);
        if (m_doc.version == Version::V12 && local == "source") return SourceStart();
        if (m_doc.version == Version::V12 && local == "target") return TargetStart(attrs);
        return Push(Scope::Skipped);
      case Scope::Segment:
        if (local == "source") return SourceStart();
        if (local == "target") return TargetStart(attrs);
        return Push(Scope::Skipped);
      case Scope::Source:
      case Scope::Target:
      case Scope::Inline:
        return InlineStart(local, name, attrs);
      default:
        return Push(Scope::Skipped);
    }
  }

  void Root(const XML_Char* name, const XML_Char** attrs) {
    m_rooted = true;
    const XML_Char* version = Attr(attrs, "version");
    const std::string given = version ? version : "";
    if (Local(name, kNs12) == "xliff" && given == "1.2") {
      m_doc.version = Version::V12;
    } else if (Local(name, kNs20) == "xliff" && (given == "2.0" || given == "2.1")) {
      m_doc.version = Version::V21;
    } else if (Local(name, kNs12) == "xliff" || Local(name, kNs20) == "xliff" || Local(name, nullptr) == "xliff") {
      Fail("unknown XLIFF version \"" + given.substr(0, 40) + "\" (this program reads 1.2, 2.0 and 2.1)");
      return;
    } else {
      Fail("not an XLIFF file (its root element is not xliff in an XLIFF namespace)");
      return;
    }
    Push(Scope::Root);
  }

  void File(const XML_Char** attrs) {
    XliffFile file;
    file.line = XML_GetCurrentLineNumber(m_parser);
    if (!Bounded(Attr(attrs, "original"), file.original, "file's original name") ||
        !Bounded(Attr(attrs, "book", kNsKesto), file.book, "file's fingerprint"))
      return;
    if (m_doc.files.size() >= kMaxUnits) {
      Fail("more than " + std::to_string(kMaxUnits) + " files");
      return;
    }
    m_doc.files.push_back(std::move(file));
    Push(Scope::File);
  }

  void UnitStart(const XML_Char** attrs) {
    if (m_units >= kMaxUnits) {
      Fail("more than " + std::to_string(kMaxUnits) + " units");
      return;
    }
    XliffUnit unit;
    unit.line = XML_GetCurrentLineNumber(m_parser);
    if (!Bounded(Attr(attrs, "id"), unit.id, "unit id")) return;
    m_unit = std::move(unit);
    ++m_units;
    m_kept = 0;
    m_segments = 0;
    m_targetSeen = false;
    Push(Scope::Unit);
  }

  void SegmentStart(bool ignorable, const XML_Char** attrs) {
    m_ignorable = ignorable;
    m_source.clear();
    m_target.clear();
    m_segmentTarget = false;
    if (!ignorable) {
      ++m_segments;
      const XML_Char* state = Attr(attrs, "state");
      if (state && std::strcmp(state, "initial") == 0 && Unit().untranslated.empty())
        Unit().untranslated = "segment " + std::to_string(m_segments) + " is in state \"initial\"";
    }
    Push(Scope::Segment);
  }

  void SourceStart() {
    if (m_doc.version == Version::V12) m_source.clear();
    m_starts.clear();
    m_captured = &m_source;
    Push(Scope::Source);
  }

  void TargetStart(const XML_Char** attrs) {
    if (m_doc.version == Version::V12) {
      m_target.clear();
      const XML_Char* state = Attr(attrs, "state");
      if (state && (std::strcmp(state, "new") == 0 || std::strcmp(state, "needs-translation") == 0))
        Unit().untranslated = std::string("its target is in state \"") + state + "\"";
    }
    m_starts.clear();
    m_segmentTarget = true;
    m_targetSeen = true;
    m_captured = &m_target;
    Push(Scope::Target);
  }

  void InlineStart(const std::string& local, const XML_Char* name, const XML_Char** attrs) {
    std::string id;
    if (!Bounded(Attr(attrs, "id"), id, "code id")) return;
    const std::u16string code = ToUtf16(id);
    const bool v12 = m_doc.version == Version::V12;
    if ((v12 && local == "g") || (!v12 && local == "pc")) {
      Add(Token::Open, code);
      return Push(Scope::Inline, Token::Close, code);
    }
    if ((v12 && local == "x") || (!v12 && local == "ph")) {
      Add(Token::Single, code);
      return Push(Scope::Inline);
    }
    if (!v12 && local == "sc") {
      Add(Token::Open, code);
      return Push(Scope::Inline);
    }
    if (!v12 && local == "ec") {
      std::string start;
      if (!Bounded(Attr(attrs, "startRef"), start, "code id")) return;
      Add(Token::Close, start.empty() ? code : ToUtf16(start));
      return Push(Scope::Inline);
    }
    if (v12 && (local == "bx" || local == "ex")) {
      // The XLIFF 1.2 way to write a paired code that crosses another or a segment's end: the end
      // finds its start by rid, else by id; the code is the start's id.
      std::string rid;
      if (!Bounded(Attr(attrs, "rid"), rid, "code id")) return;
      const std::u16string link = rid.empty() ? code : ToUtf16(rid);
      if (local == "bx") {
        // Counted with the unit's codes before it is kept.
        Add(Token::Open, code);
        if (!m_failed) m_starts[link] = code;
      } else {
        const auto start = m_starts.find(link);
        Add(Token::Close, start == m_starts.end() ? link : start->second);
      }
      return Push(Scope::Inline);
    }
    if (!v12 && local == "cp") {
      // A character that XML cannot carry, written by its code point.
      const XML_Char* hex = Attr(attrs, "hex");
      unsigned long value = 0;
      char* end = nullptr;
      if (hex && std::strlen(hex) <= 6) value = std::strtoul(hex, &end, 16);
      if (!hex || !end || *end || value > 0x10FFFF) {
        NoteProblem("a cp element without a valid hex code point");
      } else if (Count(2)) {
        std::u16string c;
        if (value >= 0x10000)
          c = {char16_t(0xD800 + ((value - 0x10000) >> 10)), char16_t(0xDC00 + ((value - 0x10000) & 0x3FF))};
        else
          c = std::u16string(1, char16_t(value));
        AppendText(*m_captured, c);
      }
      return Push(Scope::Inline);
    }
    if (local == "mrk" || (!v12 && (local == "sm" || local == "em"))) return Push(Scope::Inline);
    const char* sep = std::strchr(name, kSeparator);
    NoteProblem("it holds the element <" + std::string(sep ? sep + 1 : name).substr(0, 40) +
                ">, which this program does not merge");
    Push(Scope::Inline);
  }

  void NoteProblem(const std::string& problem) {
    if (Unit().problem.empty()) Unit().problem = problem;
  }

  void OnEnd() {
    const Frame frame = m_stack.back();
    m_stack.pop_back();
    switch (frame.scope) {
      case Scope::Inline:
        if (frame.close != Token::Text) Add(frame.close, frame.id);
        break;
      case Scope::Source:
        if (m_doc.version == Version::V12) Unit().source = std::move(m_source);
        break;
      case Scope::Target:
        if (m_doc.version == Version::V12) {
          Unit().target = std::move(m_target);
          Unit().hasTarget = true;
        }
        break;
      case Scope::Segment: {
        XliffUnit& unit = Unit();
        for (const Token& t : m_source) Join(unit.source, t);
        if (m_segmentTarget)
          for (const Token& t : m_target) Join(unit.target, t);
        else if (m_ignorable)
          for (const Token& t : m_source) Join(unit.target, t);
        else if (unit.untranslated.empty())
          unit.untranslated = "segment " + std::to_string(m_segments) + " has no target";
        break;
      }
      case Scope::Unit:
        if (m_doc.version == Version::V21) {
          Unit().hasTarget = m_targetSeen;
          if (!m_targetSeen) Unit().untranslated.clear();
        }
        m_doc.units.push_back(std::move(m_unit));
        m_unit = XliffUnit();
        break;
      default:
        break;
    }
  }

  static void Join(Tokens& tokens, const Token& t) {
    if (t.type == Token::Text)
      AppendText(tokens, t.text);
    else
      tokens.push_back(t);
  }

  XML_Parser m_parser = nullptr;
  XliffDocument& m_doc;
  XliffUnit m_unit;
  size_t m_units = 0;
  std::vector<Frame> m_stack;
  Tokens m_source, m_target;
  Tokens* m_captured = &m_source;
  // The XLIFF 1.2 <bx> of the source or target being read: its id by its link (rid, else id).
  std::unordered_map<std::u16string, std::u16string> m_starts;
  size_t m_kept = 0;
  size_t m_segments = 0;
  bool m_segmentTarget = false;
  bool m_targetSeen = false;
  bool m_ignorable = false;
  bool m_rooted = false;
  bool m_failed = false;
  std::string m_error;
};

}  // namespace

struct XliffStream::Input {
  explicit Input(XliffDocument& document) : reader(document) {}
  Reader reader;
  const char* data = nullptr;
  size_t size = 0;
  size_t at = 0;
  std::unique_ptr<FILE, int (*)(FILE*)> file{nullptr, &std::fclose};
  std::vector<char> block;
};

XliffStream::XliffStream(const char* data, size_t size) : m_input(std::make_unique<Input>(m_document)) {
  m_input->data = data;
  m_input->size = size;
}

XliffStream::XliffStream(const std::string& path) : m_input(std::make_unique<Input>(m_document)) {
  m_input->file.reset(std::fopen(path.c_str(), "rb"));
  if (!m_input->file) {
    m_error = std::string("cannot be read: ") + std::strerror(errno);
    m_ended = true;
  }
  m_input->block.resize(kBlock);
}

XliffStream::~XliffStream() = default;

bool XliffStream::Pump() {
  if (m_ended) return false;
  Input& in = *m_input;
  const char* data = nullptr;
  size_t n = 0;
  bool last = false;
  if (in.file) {
    n = std::fread(in.block.data(), 1, in.block.size(), in.file.get());
    if (std::ferror(in.file.get())) {
      m_error = std::string("cannot be read: ") + std::strerror(errno);
      m_ended = true;
      return false;
    }
    data = in.block.data();
    last = n < in.block.size() && std::feof(in.file.get());
  } else {
    // expat takes an int: large inputs go in blocks.
    n = std::min(kBlock, in.size - in.at);
    data = in.data + in.at;
    in.at += n;
    last = in.at == in.size;
  }
  if (!in.reader.Feed(data, n, last)) {
    m_error = in.reader.Error();
    m_ended = true;
    return false;
  }
  m_ended = last;
  return true;
}

bool XliffStream::Fill() {
  while (m_next >= m_document.units.size()) {
    m_document.units.clear();
    m_next = 0;
    if (!Pump()) return false;
  }
  return true;
}

bool XliffStream::Next(XliffUnit& unit) {
  if (!Fill()) return false;
  unit = std::move(m_document.units[m_next++]);
  return true;
}

bool ReadXliff(const char* data, size_t size, XliffDocument& document, std::string& error) {
  XliffStream stream(data, size);
  for (XliffUnit unit; stream.Next(unit);) document.units.push_back(std::move(unit));
  document.version = stream.Header().version;
  document.files = stream.Header().files;
  error = stream.Error();
  return error.empty();
}

}  // namespace kesto::xliff
