#include "Container/Xliff/Paragraph.h"

#include "Container/Xliff/Xliff.h"
#include "Container/Xliff/XmlText.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <stdexcept>
#include <typeinfo>
#include <unordered_map>

namespace kesto::xliff {

namespace {

constexpr size_t kBlock = 4096;

void CountCharacters(uint64_t& characters, uint64_t more) {
  characters += more;
  if (characters > kMaxStoryCharacters)
    throw std::length_error("a story holds more than " + std::to_string(kMaxStoryCharacters) +
                            " characters and records, more than a story may hold");
}

template <class T, class Text>
bool ReadStream(const DWX_Handle<DWX_InStream2>& stream, Text& text, uint64_t& characters) {
  if (!stream) return false;
  auto& in = dynamic_cast<DWX_In<T>&>(*stream);
  T block[kBlock];
  for (;;) {
    const dwx_ulong got = in.GetData(block, kBlock);
    CountCharacters(characters, got);
    text.append(reinterpret_cast<const typename Text::value_type*>(block), got);
    if (got < kBlock) break;
  }
  if (stream->Damaged()) throw std::runtime_error("a text stream of a run ends inside a character");
  return true;
}

template <class Plain>
bool ReadRecords(DWX_InFolder2& folder, const char* name, std::vector<Plain>& records, uint64_t& characters) {
  DWX_Handle<DWX_InBundle2> bundle = folder.OpenBundle(DWX_Rec<Plain>(), name, 0);
  if (!bundle) return false;
  DWX_Rec_In<Plain> record;
  while (bundle->GetRecord(record)) {
    CountCharacters(characters, 1);
    records.push_back(record);
    record = DWX_Rec_In<Plain>();
  }
  return true;
}

template <class Plain>
void WriteRecords(DWX_OutFolder2& folder, const char* name, const std::vector<Plain>& records,
                  const std::vector<dwx_long>* ids, void (*map)(Plain&, const std::vector<dwx_long>&)) {
  DWX_Handle<DWX_OutBundle2> bundle = folder.CreateBundle(DWX_Rec<Plain>(), name, 0);
  for (Plain record : records) {
    if (ids) map(record, *ids);
    bundle->PutRecord(DWX_Rec_Out<Plain>(record));
  }
  bundle->Finish();
}

dwx_long Mapped(dwx_long id, const std::vector<dwx_long>& ids) {
  return id >= 0 && size_t(id) < ids.size() ? ids[size_t(id)] : -1;
}

void MapAttr(CF_Attr& r, const std::vector<dwx_long>& ids) {
  r.m_NameRef = Mapped(r.m_NameRef, ids);
  r.m_ValueRef = Mapped(r.m_ValueRef, ids);
}
void MapSpecial(CF_SpecialChar& r, const std::vector<dwx_long>& ids) {
  r.m_NameRef = Mapped(r.m_NameRef, ids);
  r.m_DataRef = Mapped(r.m_DataRef, ids);
}
void MapRefPoint(CF_RefPoint& r, const std::vector<dwx_long>& ids) {
  r.m_ObjectTypeRef = Mapped(r.m_ObjectTypeRef, ids);
  r.m_RefTypeRef = Mapped(r.m_RefTypeRef, ids);
}
void MapPlaceHolder(CF_PlaceHolder& r, const std::vector<dwx_long>& ids) {
  r.m_ObjectTypeRef = Mapped(r.m_ObjectTypeRef, ids);
}

std::u16string Text(const DWX_StringsMap& strings, dwx_long id) {
  const char16_t* text = strings[id];
  return text ? std::u16string(text) : std::u16string();
}

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string Spaced(std::u16string text) {
  for (char16_t& c : text)
    if (c == u'_') c = u' ';
  return text;
}

std::u16string Hex(uint32_t value) {
  static const char digits[] = "0123456789ABCDEF";
  std::u16string out;
  for (int shift = 12; shift >= 0; shift -= 4) out += char16_t(digits[(value >> shift) & 15]);
  return out;
}

// A run's own attributes by text, later records winning as the import reads them.
std::map<std::u16string, std::u16string> AttrTexts(const RunData& run, const DWX_StringsMap& strings) {
  std::map<std::u16string, std::u16string> texts;
  for (const CF_Attr& attr : run.attrs) texts[Text(strings, attr.m_NameRef)] = Text(strings, attr.m_ValueRef);
  return texts;
}

// The format of a run as one text: every attribute and its style reference. The code page
// counts as well: the import reads a character of a run in code page 1200 as it stands and maps
// it through the font's records in any other (a space of a font with the high flag is held as
// U+00A0 in the font's code page), so text written with another run's code page may come back
// as another character.
std::u16string FormatKey(const RunData& run, const DWX_StringsMap& strings) {
  std::u16string key = run.hasStyleRef ? Ascii(std::to_string(run.styleRef)) : u"-";
  for (const auto& [name, value] : AttrTexts(run, strings)) {
    key += u'\0';
    key += name;
    key += u'\x01';
    key += value;
  }
  return key;
}

// What a paired code stands for: the typeface, the style, the size and colour, and whatever else
// sets its format apart from `main`'s.
std::u16string FormatDisplay(const RunData& run, const RunData& main, const DWX_StringsMap& strings) {
  const auto texts = AttrTexts(run, strings);
  const auto mainTexts = AttrTexts(main, strings);
  auto value = [&](const char16_t* name) {
    const auto at = texts.find(name);
    return at == texts.end() ? std::u16string() : at->second;
  };
  std::u16string style;
  auto add = [&](const std::u16string& word) {
    if (word.empty()) return;
    if (!style.empty()) style += u' ';
    style += word;
  };
  for (const char16_t* name : {u"bold", u"italic", u"outline", u"shadow", u"strike"})
    if (value(name) == u"on") add(name);
  if (!value(u"underline").empty()) add(u"underline " + Spaced(value(u"underline")));
  if (!value(u"caps").empty()) add(Spaced(value(u"caps")));
  if (!value(u"shift").empty() && value(u"shift") != u"0") add(u"shift " + value(u"shift"));
  std::u16string display = value(u"typeface");
  auto part = [&](const std::u16string& text) {
    if (text.empty()) return;
    if (!display.empty()) display += u"; ";
    display += text;
  };
  part(style.empty() ? u"plain" : style);
  const std::u16string size = value(u"size");
  if (!size.empty()) {
    // Half points.
    std::u16string points;
    bool whole = true;
    uint32_t half = 0;
    for (char16_t c : size) {
      if (c < u'0' || c > u'9' || half > 100000) {
        whole = false;
        break;
      }
      half = half * 10 + (c - u'0');
    }
    points = whole ? Ascii(std::to_string(half / 2) + (half % 2 ? ".5" : "")) : size;
    part(points + u" pt");
  }
  part(value(u"color_name"));
  static const std::u16string shown[] = {u"typeface", u"bold", u"italic", u"outline", u"shadow", u"strike",
                                          u"underline", u"caps", u"shift", u"size", u"color_name", u"private",
                                          u"codepage", u"typeface_codepage"};
  for (const auto& [name, text] : texts) {
    if (std::find(std::begin(shown), std::end(shown), name) != std::end(shown)) continue;
    const auto other = mainTexts.find(name);
    if (other == mainTexts.end() || other->second != text) part(Spaced(name) + u" " + text);
  }
  if (run.hasStyleRef && (!main.hasStyleRef || main.styleRef != run.styleRef))
    part(u"style " + Ascii(std::to_string(run.styleRef)));
  // Runs that differ only in their code page must still be told apart.
  static const std::pair<const char16_t*, const char16_t*> codePages[] = {{u"codepage", u"code page"},
                                                                          {u"typeface_codepage", u"typeface code page"}};
  for (const auto& [name, shownAs] : codePages) {
    const auto other = mainTexts.find(name);
    const std::u16string text = value(name);
    if (text != (other == mainTexts.end() ? std::u16string() : other->second))
      part(text.empty() ? u"no " + std::u16string(shownAs) : shownAs + (u" " + text));
  }
  return display;
}

std::u16string SpecialDisplay(const CF_SpecialChar& r, const DWX_StringsMap& strings) {
  std::u16string display = Spaced(Text(strings, r.m_NameRef));
  if (display.empty()) display = u"special character";
  const std::u16string data = Text(strings, r.m_DataRef);
  bool printable = !data.empty();
  for (char16_t c : data) printable = printable && c >= 0x20 && c < 0x7F;
  if (printable) display += u" (" + data + u")";
  return display;
}

void AddSingle(ParagraphData& p, size_t run, int64_t item, std::u16string display) {
  p.codes.push_back(Code{false, run, item, std::move(display)});
  p.source.push_back(Token{Token::Single, Ascii(std::to_string(p.codes.size()))});
}

}  // namespace

size_t RunData::RecordCount() const {
  switch (kind) {
    case SpecialChars: return specials.size();
    case RefPoints: return refPoints.size();
    case PlaceHolders: return placeHolders.size();
    default: return 0;
  }
}

bool XmlCarries(const std::u16string& text, size_t i) {
  const char16_t c = text[i];
  if (c < 0x20) return c == 0x09 || c == 0x0A || c == 0x0D;
  if (c == 0xFFFE || c == 0xFFFF) return false;
  if (c >= 0xD800 && c <= 0xDBFF) return i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
  if (c >= 0xDC00 && c <= 0xDFFF) return i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF;
  return true;
}

void ReadElement(DWX_InFolder2& folder, ElementData& data, bool styleRef) {
  uint64_t records = 0;
  data.hasAttrs = ReadRecords(folder, DWX_Names::Attrs, data.attrs, records);
  if (styleRef) data.hasStyleRef = ReadLong(folder, DWX_Names::StyleRef, data.styleRef);
}

bool ReadLong(DWX_InFolder2& folder, const char* name, dwx_long& value) {
  DWX_Handle<DWX_InStream2> stream = folder.OpenStream(ft_Long, name, 0);
  if (!stream) return false;
  if (dynamic_cast<DWX_In<dwx_long>&>(*stream).GetData(&value, 1) != 1) value = -1;
  return true;
}

void WriteLong(DWX_OutFolder2& folder, const char* name, dwx_long value) {
  DWX_Handle<DWX_OutStream2> stream = folder.CreateStream(ft_Long, name, 0);
  dynamic_cast<DWX_Out<dwx_long>&>(*stream).PutData(&value, 1);
  stream->Finish();
}

void WriteElementAttrs(DWX_OutFolder2& folder, const ElementData& data, const std::vector<dwx_long>* ids) {
  if (data.hasAttrs) WriteRecords(folder, DWX_Names::Attrs, data.attrs, ids, MapAttr);
}

void WriteStyleRef(DWX_OutFolder2& folder, const ElementData& data) {
  if (data.hasStyleRef) WriteLong(folder, DWX_Names::StyleRef, data.styleRef);
}

void ReadParagraph(DWX_InFolder2& folder, dwx_long index, ParagraphData& paragraph, uint64_t& characters) {
  paragraph.index = index;
  ReadElement(folder, paragraph, true);
  paragraph.runIndices = DWX_SubFolderIndices(folder, DWX_Names::TextRun);
  CountCharacters(characters, paragraph.runIndices.size());
  paragraph.runs.resize(paragraph.runIndices.size());
  for (size_t i = 0; i < paragraph.runs.size(); ++i) {
    DWX_Handle<DWX_InFolder2> runFolder = folder.OpenFolder(DWX_Names::TextRun, paragraph.runIndices[i]);
    if (!runFolder) throw std::runtime_error("a run that the paragraph lists cannot be opened");
    RunData& run = paragraph.runs[i];
    ReadElement(*runFolder, run, true);
    // The content item the import takes: the first present in its order.
    if (ReadStream<char>(runFolder->OpenStream(ft_Char, DWX_Names::Multibytes, 0), run.bytes, characters))
      run.kind = RunData::Multibytes;
    else if (ReadStream<uint16_t>(runFolder->OpenStream(ft_UShort, DWX_Names::Unicodes, 0), run.text, characters))
      run.kind = RunData::Unicodes;
    else if (ReadRecords(*runFolder, DWX_Names::SpecialChars, run.specials, characters))
      run.kind = RunData::SpecialChars;
    else if (ReadRecords(*runFolder, DWX_Names::RefPoints, run.refPoints, characters))
      run.kind = RunData::RefPoints;
    else if (ReadRecords(*runFolder, DWX_Names::PlaceHolders, run.placeHolders, characters))
      run.kind = RunData::PlaceHolders;
    else if (ReadStream<uint16_t>(runFolder->OpenStream(ft_UShort, DWX_Names::WideMultibytes, 0), run.text,
                                  characters))
      run.kind = RunData::WideMultibytes;
  }
}

void Analyse(ParagraphData& p, const DWX_StringsMap& strings) {
  p.source.clear();
  p.codes.clear();
  const size_t n = p.runs.size();
  std::vector<size_t> format(n, 0);
  std::map<std::u16string, size_t> formats;
  std::vector<uint64_t> textOf;
  for (size_t i = 0; i < n; ++i) {
    const auto [at, added] = formats.emplace(FormatKey(p.runs[i], strings), formats.size());
    format[i] = at->second;
    if (added) textOf.push_back(0);
    if (p.runs[i].kind == RunData::Unicodes) textOf[format[i]] += p.runs[i].text.size();
  }
  // The main format holds the most text; its longest run lends text outside codes its record.
  size_t main = 0;
  for (size_t f = 1; f < textOf.size(); ++f)
    if (textOf[f] > textOf[main]) main = f;
  auto longest = [&](size_t from, size_t to, size_t f) {
    size_t best = n;
    for (size_t i = from; i < to; ++i)
      if (p.runs[i].kind == RunData::Unicodes && format[i] == f &&
          (best == n || p.runs[i].text.size() > p.runs[best].text.size()))
        best = i;
    return best;
  };
  p.mainRun = longest(0, n, main);
  if (p.mainRun == n) {
    p.mainRun = 0;
    p.hasUnit = false;
    return;
  }
  auto nextText = [&](size_t from) {
    for (size_t i = from; i < n; ++i)
      if (p.runs[i].kind == RunData::Unicodes) return i;
    return n;
  };
  std::map<dwx_long, size_t> starts;  // the code of each range start met, by object
  size_t open = 0;  // the format of the open paired code; main: none open
  size_t openCode = 0;
  size_t openFrom = 0;
  auto close = [&](size_t at) {
    if (open == main) return;
    p.source.push_back(Token{Token::Close, Ascii(std::to_string(openCode))});
    // The stretch's text takes its longest run's record.
    p.codes[openCode - 1].run = longest(openFrom, at, open);
    open = main;
  };
  open = main;
  for (size_t i = 0; i < n; ++i) {
    const RunData& run = p.runs[i];
    if (run.kind == RunData::Unicodes) {
      if (format[i] != open) {
        close(i);
        if (format[i] != main) {
          p.codes.push_back(Code{true, i, -1, FormatDisplay(run, p.runs[p.mainRun], strings)});
          openCode = p.codes.size();
          openFrom = i;
          open = format[i];
          p.source.push_back(Token{Token::Open, Ascii(std::to_string(openCode))});
        }
      }
      size_t from = 0;
      for (size_t c = 0; c < run.text.size(); ++c) {
        if (XmlCarries(run.text, c)) continue;
        if (c > from) AppendText(p.source, run.text.substr(from, c - from));
        AddSingle(p, i, int64_t(c), u"U+" + Hex(run.text[c]));
        from = c + 1;
      }
      if (from < run.text.size()) AppendText(p.source, run.text.substr(from));
      continue;
    }
    // A code between two stretches of one format stays inside its paired code.
    if (open != main) {
      const size_t next = nextText(i + 1);
      if (next == n || format[next] != open) close(i);
    }
    switch (run.kind) {
      case RunData::SpecialChars:
        for (size_t k = 0; k < run.specials.size(); ++k)
          AddSingle(p, i, int64_t(k), SpecialDisplay(run.specials[k], strings));
        break;
      case RunData::RefPoints:
        for (size_t k = 0; k < run.refPoints.size(); ++k) {
          const CF_RefPoint& point = run.refPoints[k];
          const std::u16string type = Text(strings, point.m_RefTypeRef);
          AddSingle(p, i, int64_t(k),
                    u"reference point " + Spaced(type) + u" " + Ascii(std::to_string(point.m_ObjectFolderID)));
          if (type == u"start") starts[point.m_ObjectFolderID] = p.codes.size() - 1;
          const auto start = starts.find(point.m_ObjectFolderID);
          if (type == u"end" && start != starts.end()) p.codes.back().start = int64_t(start->second);
        }
        break;
      case RunData::PlaceHolders:
        for (size_t k = 0; k < run.placeHolders.size(); ++k)
          AddSingle(p, i, int64_t(k), u"placeholder " + Ascii(std::to_string(run.placeHolders[k].m_ObjectFolderID)));
        break;
      default:
        break;
    }
    if (run.RecordCount() == 0) {
      std::u16string display = run.kind == RunData::Multibytes       ? u"8-bit text"
                               : run.kind == RunData::WideMultibytes ? u"special characters"
                                                                     : u"empty run";
      AddSingle(p, i, -1, display);
    }
  }
  close(n);
  p.hasUnit = HasText(p.source);
}

void WriteRun(DWX_Paragraph_Out2& paragraph, dwx_long index, const RunData& run, const std::vector<dwx_long>* ids) {
  DWX_Handle<DWX_OutFolder2> folder = paragraph.CreateTextRun(index, DWX_Names::TextRun);
  auto text = [&](DWX_FieldType type, const char* name, const void* units, size_t count) {
    DWX_Handle<DWX_OutStream2> stream = folder->CreateStream(type, name, 0);
    if (type == ft_Char)
      dynamic_cast<DWX_Out<char>&>(*stream).PutData(static_cast<const char*>(units), dwx_ulong(count));
    else
      dynamic_cast<DWX_Out<uint16_t>&>(*stream).PutData(static_cast<const uint16_t*>(units), dwx_ulong(count));
    stream->Finish();
  };
  switch (run.kind) {
    case RunData::Unicodes:
      text(ft_UShort, DWX_Names::Unicodes, run.text.data(), run.text.size());
      WriteStyleRef(*folder, run);
      break;
    case RunData::WideMultibytes:
      text(ft_UShort, DWX_Names::WideMultibytes, run.text.data(), run.text.size());
      WriteStyleRef(*folder, run);
      break;
    case RunData::Multibytes:
      text(ft_Char, DWX_Names::Multibytes, run.bytes.data(), run.bytes.size());
      WriteStyleRef(*folder, run);
      break;
    case RunData::SpecialChars:
      WriteStyleRef(*folder, run);
      WriteRecords(*folder, DWX_Names::SpecialChars, run.specials, ids, MapSpecial);
      break;
    case RunData::RefPoints:
      WriteStyleRef(*folder, run);
      WriteRecords(*folder, DWX_Names::RefPoints, run.refPoints, ids, MapRefPoint);
      break;
    case RunData::PlaceHolders:
      WriteStyleRef(*folder, run);
      WriteRecords(*folder, DWX_Names::PlaceHolders, run.placeHolders, ids, MapPlaceHolder);
      break;
    case RunData::None:
      WriteStyleRef(*folder, run);
      break;
  }
  WriteElementAttrs(*folder, run, ids);
  folder->Finish();
}

std::vector<RunData> TranslatedRuns(const ParagraphData& p, const Tokens& target, std::string& failure,
                                    std::vector<std::string>& warnings) {
  std::unordered_map<std::u16string, size_t> byId;
  for (size_t i = 0; i < p.codes.size(); ++i) byId.emplace(ToUtf16(std::to_string(i + 1)), i);
  std::vector<size_t> seen(p.codes.size(), 0);
  std::vector<size_t> open;
  std::vector<RunData> runs;
  // What the last run came from: its source run and whether it holds text or records.
  size_t lastSource = SIZE_MAX;
  bool lastText = false;
  auto describe = [&](size_t code) {
    return "code " + std::to_string(code + 1) + " (" + ToUtf8(p.codes[code].display) + ")";
  };
  auto text = [&](size_t source, const std::u16string& chars) {
    if (!(lastText && lastSource == source)) {
      RunData run = p.runs[source];
      run.text.clear();
      runs.push_back(std::move(run));
      lastSource = source;
      lastText = true;
    }
    runs.back().text += chars;
  };
  // A paragraph break would split the paragraph on import, and a story cannot hold NUL: a
  // target may hold them only where its source does.
  auto sourceHolds = [&](char16_t c) {
    for (const Token& t : p.source)
      if (t.type == Token::Text && t.text.find(c) != std::u16string::npos) return true;
    return false;
  };
  for (const Token& t : target) {
    if (t.type == Token::Text) {
      for (const char16_t c : {u'\r', u'\0'})
        if (t.text.find(c) != std::u16string::npos && !sourceHolds(c)) {
          failure = c ? "the target holds a paragraph break (U+000D), which would split the paragraph"
                      : "the target holds U+0000, which a story cannot hold";
          return {};
        }
      text(open.empty() ? p.mainRun : p.codes[open.back()].run, t.text);
      continue;
    }
    const auto found = byId.find(t.text);
    if (found == byId.end()) {
      failure = "code \"" + ToUtf8(t.text).substr(0, 40) + "\" is not in the source";
      return {};
    }
    const size_t code = found->second;
    const Code& c = p.codes[code];
    ++seen[code];
    if (t.type == Token::Single) {
      if (c.paired) {
        failure = describe(code) + " is a paired code in the source and stands alone in the target";
        return {};
      }
      if (seen[code] > 1) {
        failure = describe(code) + " is doubled";
        return {};
      }
      if (c.start >= 0 && seen[size_t(c.start)] == 0) {
        failure = describe(code) + " comes before its start, " + describe(size_t(c.start)) +
                  " (the import would drop it)";
        return {};
      }
      const RunData& source = p.runs[c.run];
      if (c.item < 0) {
        runs.push_back(source);
        lastSource = SIZE_MAX;
      } else if (source.kind == RunData::Unicodes) {
        text(c.run, std::u16string(1, source.text[size_t(c.item)]));
      } else {
        if (lastText || lastSource != c.run) {
          RunData run = source;
          run.specials.clear();
          run.refPoints.clear();
          run.placeHolders.clear();
          runs.push_back(std::move(run));
          lastSource = c.run;
          lastText = false;
        }
        RunData& run = runs.back();
        const size_t k = size_t(c.item);
        if (source.kind == RunData::SpecialChars) run.specials.push_back(source.specials[k]);
        if (source.kind == RunData::RefPoints) run.refPoints.push_back(source.refPoints[k]);
        if (source.kind == RunData::PlaceHolders) run.placeHolders.push_back(source.placeHolders[k]);
      }
      continue;
    }
    if (!c.paired) {
      failure = describe(code) + " is a standalone code in the source and a paired one in the target";
      return {};
    }
    if (t.type == Token::Open) {
      open.push_back(code);
      lastSource = SIZE_MAX;
      continue;
    }
    // Close.
    if (open.empty() || open.back() != code) {
      const bool isOpen = std::find(open.begin(), open.end(), code) != open.end();
      failure = isOpen ? describe(code) + " and " + describe(open.back()) + " cross"
                       : describe(code) + " closes where it is not open";
      return {};
    }
    open.pop_back();
    lastSource = SIZE_MAX;
  }
  if (!open.empty()) {
    failure = describe(open.back()) + " opens and never closes";
    return {};
  }
  for (size_t i = 0; i < p.codes.size(); ++i) {
    if (seen[i] > 0) continue;
    if (!p.codes[i].paired) {
      failure = describe(i) + " was removed";
      return {};
    }
    warnings.push_back("paired " + describe(i) + " was removed: its text takes the format around it");
  }
  return runs;
}

void AppendText(Tokens& tokens, const std::u16string& text) {
  if (text.empty()) return;
  if (!tokens.empty() && tokens.back().type == Token::Text)
    tokens.back().text += text;
  else
    tokens.push_back(Token{Token::Text, text});
}

void AppendText(Tokens& tokens, char16_t c) { AppendText(tokens, std::u16string(1, c)); }

bool HasText(const Tokens& tokens) {
  for (const Token& t : tokens)
    if (t.type == Token::Text)
      for (char16_t c : t.text)
        if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r') return true;
  return false;
}

bool SameContent(const Tokens& a, const Tokens& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].type != b[i].type || a[i].text != b[i].text) return false;
  return true;
}

}  // namespace kesto::xliff
