#include "BookProcessorsData.h"

#include "Container/Storage/Errors.h"

namespace model_test {

namespace {

void AddAll(DWX_AttrsSet& set, const AttrMap& attrs, DWX_StringsMap& strings) {
  for (const auto& [name, value] : attrs) set.AddAttr(name.c_str(), value.c_str(), strings);
}

bool IsRecordRun(RunData::Kind kind) {
  return kind == RunData::SpecialChars || kind == RunData::RefPoints ||
         kind == RunData::PlaceHolders;
}

// ---- Writing -------------------------------------------------------------------------------

template <class T>
class PutValues : public DWX_OutStreamProcessor {
 public:
  template <class Range>
  explicit PutValues(const Range& values) : m_values(values.begin(), values.end()) {}
  void Call(DWX_OutStream& stream) override {
    dynamic_cast<DWX_Out<T>&>(stream).PutData(m_values.data(), dwx_ulong(m_values.size()));
  }

 private:
  std::vector<T> m_values;
};

template <class Rec>
class PutRecords : public DWX_OutBundleProcessor {
 public:
  void Add(const Rec& record) { m_records.push_back(record); }
  void Call(DWX_OutBundle& bundle) override {
    for (const Rec& record : m_records) bundle.PutRecord(record);
  }

 private:
  std::vector<Rec> m_records;
};

class RunWriter : public DWX_UnicodesRun_Out, public DWX_MultibytesRun_Out,
                  public DWX_WideMultibytesRun_Out, public DWX_SpecialCharsRun_Out,
                  public DWX_RefPointsRun_Out, public DWX_PlaceHoldersRun_Out {
 public:
  RunWriter(const RunData& data, DWX_StringsMap& strings, const DWX_AttrsSet& paragraph)
      : m_data(data), m_strings(strings) {
    AttrsSet().DefineBaseAttrsSet(&paragraph);
  }

  void Call(DWX_OutFolder& run) override {
    // Record runs store their style reference before their records, text runs after the text.
    const bool recordRun = IsRecordRun(m_data.kind);
    if (recordRun && m_data.styleRef != -1) StoreStyleRef(run, m_data.styleRef, DWX_Names::StyleRef);
    WriteContent(run);
    if (!recordRun && m_data.styleRef != -1) StoreStyleRef(run, m_data.styleRef, DWX_Names::StyleRef);
    if (!m_data.attrs.empty()) {
      AddAll(AttrsSet(), m_data.attrs, m_strings);
      AttrsSet().Store(run, DWX_Names::Attrs);
    }
  }

 private:
  void WriteContent(DWX_OutFolder& run) {
    switch (m_data.kind) {
      case RunData::Unicodes: {
        PutValues<uint16_t> units(m_data.units);
        ProcessUnicodes(run, units, DWX_Names::Unicodes);
        break;
      }
      case RunData::WideMultibytes: {
        PutValues<uint16_t> units(m_data.units);
        ProcessWideMultibytes(run, units, DWX_Names::WideMultibytes);
        break;
      }
      case RunData::Multibytes: {
        PutValues<char> bytes(m_data.bytes);
        ProcessMultibytes(run, bytes, DWX_Names::Multibytes);
        break;
      }
      case RunData::SpecialChars: {
        PutRecords<DWX_SpecialChar_Rec_Out> records;
        for (const auto& r : m_data.records)
          records.Add(CF_SpecialChar{IdOf(r.first, m_strings), IdOf(r.second, m_strings)});
        ProcessSpecialChars(run, records, DWX_Names::SpecialChars);
        break;
      }
      case RunData::RefPoints: {
        PutRecords<DWX_RefPoint_Rec_Out> records;
        for (const auto& r : m_data.records)
          records.Add(
              CF_RefPoint{r.folderId, IdOf(r.first, m_strings), IdOf(r.second, m_strings)});
        ProcessRefPoints(run, records, DWX_Names::RefPoints);
        break;
      }
      case RunData::PlaceHolders: {
        PutRecords<DWX_PlaceHolder_Rec_Out> records;
        for (const auto& r : m_data.records)
          records.Add(CF_PlaceHolder{r.folderId, IdOf(r.first, m_strings)});
        ProcessPlaceHolders(run, records, DWX_Names::PlaceHolders);
        break;
      }
      case RunData::Empty: break;
    }
  }

  const RunData& m_data;
  DWX_StringsMap& m_strings;
};

// A collection whose elements are written by `Element`, one per item.
template <class Set, class Element, class Item>
class SetWriter : public Set {
 public:
  SetWriter(const std::vector<Item>& items, DWX_StringsMap& strings)
      : m_items(items), m_strings(strings) {}
  void Call(DWX_OutFolder& set) override {
    for (size_t i = 0; i < m_items.size(); ++i) {
      Element element(m_items[i], m_strings);
      this->ProcessElement(set, element, dwx_long(i));
    }
  }

 private:
  const std::vector<Item>& m_items;
  DWX_StringsMap& m_strings;
};

class ParagraphWriter : public DWX_Paragraph_Out {
 public:
  ParagraphWriter(const ParagraphData& data, DWX_StringsMap& strings)
      : m_data(data), m_strings(strings) {}
  void Call(DWX_OutFolder& paragraph) override {
    if (m_data.styleRef != -1) StoreStyleRef(paragraph, m_data.styleRef, DWX_Names::StyleRef);
    AddAll(AttrsSet(), m_data.attrs, m_strings);
    for (size_t r = 0; r < m_data.runs.size(); ++r) {
      RunWriter run(m_data.runs[r], m_strings, AttrsSet());
      ProcessTextRun(paragraph, run, dwx_long(r), DWX_Names::TextRun);
    }
    if (!m_data.attrs.empty()) AttrsSet().Store(paragraph, DWX_Names::Attrs);
  }

 private:
  const ParagraphData& m_data;
  DWX_StringsMap& m_strings;
};

class StoryWriter : public DWX_Story_Out {
 public:
  StoryWriter(const StoryData& data, DWX_StringsMap& strings) : m_data(data), m_strings(strings) {}
  void Call(DWX_OutFolder& story) override {
    SetWriter<DWX_ParagraphsSet_Out, ParagraphWriter, ParagraphData> paragraphs(m_data.paragraphs,
                                                                                m_strings);
    ProcessParagraphsSet(story, paragraphs, DWX_Names::ParagraphsSet);
    AddAll(AttrsSet(), m_data.attrs, m_strings);
    if (!m_data.attrs.empty()) AttrsSet().Store(story, DWX_Names::Attrs);
  }

 private:
  const StoryData& m_data;
  DWX_StringsMap& m_strings;
};

class StyleWriter : public DWX_StyleInfo_Out {
 public:
  StyleWriter(const StyleData& data, DWX_StringsMap& strings) : m_data(data), m_strings(strings) {}
  void Call(DWX_OutFolder& style) override {
    StoreThisStyleRef(style, m_data.thisRef, DWX_Names::ThisStyleRef);
    if (m_data.baseRef != -1) StoreBaseStyleRef(style, m_data.baseRef, DWX_Names::BaseStyleRef);
    AddAll(AttrsSet(), m_data.attrs, m_strings);
    if (!m_data.attrs.empty()) AttrsSet().Store(style, DWX_Names::Attrs);
  }

 private:
  const StyleData& m_data;
  DWX_StringsMap& m_strings;
};

class DocumentWriter : public DWX_Document_Out {
 public:
  DocumentWriter(const DocumentData& data, DWX_StringsMap& strings)
      : m_data(data), m_strings(strings) {}
  void Call(DWX_OutFolder& document) override {
    SetWriter<DWX_StylesSet_Out, StyleWriter, StyleData> styles(m_data.styles, m_strings);
    ProcessStylesSet(document, styles, DWX_Names::StylesSet);
    SetWriter<DWX_StoriesSet_Out, StoryWriter, StoryData> stories(m_data.stories, m_strings);
    ProcessStoriesSet(document, stories, DWX_Names::StoriesSet);
    AddAll(AttrsSet(), m_data.attrs, m_strings);
    if (!m_data.attrs.empty()) AttrsSet().Store(document, DWX_Names::Attrs);
  }

 private:
  const DocumentData& m_data;
  DWX_StringsMap& m_strings;
};

// ---- Reading -------------------------------------------------------------------------------

template <class T>
class GetValues : public DWX_InStreamProcessor {
 public:
  void Call(DWX_InStream& stream) override {
    auto& in = dynamic_cast<DWX_In<T>&>(stream);
    T buffer[512];
    for (dwx_ulong got = 512; got == 512;) {
      got = in.GetData(buffer, 512);
      m_values.insert(m_values.end(), buffer, buffer + got);
    }
    if (stream.Damaged()) Error(FE_CodeFileShortRead);
  }
  template <class Text> Text As() const { return Text(m_values.begin(), m_values.end()); }

 private:
  std::vector<T> m_values;
};

// Every record of a run bundle, each turned into a record of the data by `convert`.
template <class Rec, class Convert>
class GetRecords : public DWX_InBundleProcessor {
 public:
  explicit GetRecords(Convert convert) : m_convert(convert) {}
  void Call(DWX_InBundle& bundle) override {
    for (Rec record; bundle.GetRecord(record); record = Rec()) m_records.push_back(m_convert(record));
  }
  std::vector<RunData::Record> Records() const { return m_records; }

 private:
  Convert m_convert;
  std::vector<RunData::Record> m_records;
};

template <class Rec, class Convert>
GetRecords<Rec, Convert> RecordsOf(Convert convert) {
  return GetRecords<Rec, Convert>(convert);
}

class RunReader : public DWX_TextRun_In {
 public:
  RunReader(RunData& data, const DWX_StringsMap& strings, const DWX_AttrsSet& paragraph)
      : m_data(data), m_strings(strings), m_paragraph(paragraph) {}

  void Call(DWX_InFolder& run) override {
    RestoreStyleRef(run, m_data.styleRef, DWX_Names::StyleRef);
    if (AttrsSet().Restore(run, DWX_Names::Attrs, &m_strings))
      m_data.attrs = AttrsOf(AttrsSet(), m_strings);
    AttrsSet().DefineBaseAttrsSet(&m_paragraph);
    // The import's probe order: the first item present wins.
    GetValues<char> bytes;
    GetValues<uint16_t> units;
    const DWX_StringsMap& strings = m_strings;
    auto specialChars = RecordsOf<DWX_SpecialChar_Rec_In>([&](const CF_SpecialChar& r) {
      return RunData::Record{0, TextOf(r.m_NameRef, strings), TextOf(r.m_DataRef, strings)};
    });
    auto refPoints = RecordsOf<DWX_RefPoint_Rec_In>([&](const CF_RefPoint& r) {
      return RunData::Record{r.m_ObjectFolderID, TextOf(r.m_ObjectTypeRef, strings),
                             TextOf(r.m_RefTypeRef, strings)};
    });
    auto placeHolders = RecordsOf<DWX_PlaceHolder_Rec_In>([&](const CF_PlaceHolder& r) {
      return RunData::Record{r.m_ObjectFolderID, TextOf(r.m_ObjectTypeRef, strings), std::nullopt};
    });
    if (ProcessMultibytes(run, bytes, DWX_Names::Multibytes)) {
      m_data.kind = RunData::Multibytes;
      m_data.bytes = bytes.As<std::string>();
    } else if (ProcessUnicodes(run, units, DWX_Names::Unicodes)) {
      m_data.kind = RunData::Unicodes;
      m_data.units = units.As<std::u16string>();
    } else if (ProcessSpecialChars(run, specialChars, DWX_Names::SpecialChars)) {
      m_data.kind = RunData::SpecialChars;
      m_data.records = specialChars.Records();
    } else if (ProcessRefPoints(run, refPoints, DWX_Names::RefPoints)) {
      m_data.kind = RunData::RefPoints;
      m_data.records = refPoints.Records();
    } else if (ProcessPlaceHolders(run, placeHolders, DWX_Names::PlaceHolders)) {
      m_data.kind = RunData::PlaceHolders;
      m_data.records = placeHolders.Records();
    } else if (ProcessWideMultibytes(run, units, DWX_Names::WideMultibytes)) {
      m_data.kind = RunData::WideMultibytes;
      m_data.units = units.As<std::u16string>();
    }
  }

 private:
  RunData& m_data;
  const DWX_StringsMap& m_strings;
  const DWX_AttrsSet& m_paragraph;
};

// Reads the elements of a collection from index 0 to the first one missing; `Element` reads one.
template <class Set, class Element, class Item>
class SetReader : public Set {
 public:
  SetReader(std::vector<Item>& items, const DWX_StringsMap& strings)
      : m_items(items), m_strings(strings) {}
  void Call(DWX_InFolder& set) override {
    for (dwx_long i = 0;; ++i) {
      Item item;
      Element element(item, m_strings);
      if (!this->ProcessElement(set, element, i)) return;
      m_items.push_back(std::move(item));
    }
  }

 private:
  std::vector<Item>& m_items;
  const DWX_StringsMap& m_strings;
};

class ParagraphReader : public DWX_Paragraph_In {
 public:
  ParagraphReader(ParagraphData& data, const DWX_StringsMap& strings)
      : m_data(data), m_strings(strings) {}
  void Call(DWX_InFolder& paragraph) override {
    RestoreStyleRef(paragraph, m_data.styleRef, DWX_Names::StyleRef);
    AttrsSet().Restore(paragraph, DWX_Names::Attrs, &m_strings);
    m_data.attrs = AttrsOf(AttrsSet(), m_strings);
    for (dwx_long r = 0;; ++r) {
      RunData run;
      RunReader reader(run, m_strings, AttrsSet());
      if (!ProcessTextRun(paragraph, reader, r, DWX_Names::TextRun)) return;
      m_data.runs.push_back(std::move(run));
    }
  }

 private:
  ParagraphData& m_data;
  const DWX_StringsMap& m_strings;
};

class StoryReader : public DWX_Story_In {
 public:
  StoryReader(StoryData& data, const DWX_StringsMap& strings) : m_data(data), m_strings(strings) {}
  void Call(DWX_InFolder& story) override {
    AttrsSet().Restore(story, DWX_Names::Attrs, &m_strings);
    m_data.attrs = AttrsOf(AttrsSet(), m_strings);
    SetReader<DWX_ParagraphsSet_In, ParagraphReader, ParagraphData> paragraphs(m_data.paragraphs,
                                                                               m_strings);
    ProcessParagraphsSet(story, paragraphs, DWX_Names::ParagraphsSet);
  }

 private:
  StoryData& m_data;
  const DWX_StringsMap& m_strings;
};

class StyleReader : public DWX_StyleInfo_In {
 public:
  StyleReader(StyleData& data, const DWX_StringsMap& strings) : m_data(data), m_strings(strings) {}
  void Call(DWX_InFolder& style) override {
    RestoreThisStyleRef(style, m_data.thisRef, DWX_Names::ThisStyleRef);
    RestoreBaseStyleRef(style, m_data.baseRef, DWX_Names::BaseStyleRef);
    AttrsSet().Restore(style, DWX_Names::Attrs, &m_strings);
    m_data.attrs = AttrsOf(AttrsSet(), m_strings);
  }

 private:
  StyleData& m_data;
  const DWX_StringsMap& m_strings;
};

class DocumentReader : public DWX_Document_In {
 public:
  DocumentReader(DocumentData& data, const DWX_StringsMap& strings)
      : m_data(data), m_strings(strings) {}
  void Call(DWX_InFolder& document) override {
    AttrsSet().Restore(document, DWX_Names::Attrs, &m_strings);
    m_data.attrs = AttrsOf(AttrsSet(), m_strings);
    SetReader<DWX_StylesSet_In, StyleReader, StyleData> styles(m_data.styles, m_strings);
    ProcessStylesSet(document, styles, DWX_Names::StylesSet);
    SetReader<DWX_StoriesSet_In, StoryReader, StoryData> stories(m_data.stories, m_strings);
    ProcessStoriesSet(document, stories, DWX_Names::StoriesSet);
  }

 private:
  DocumentData& m_data;
  const DWX_StringsMap& m_strings;
};

}  // namespace

void BookWriter::Call(DWX_OutFolder& book) {
  m_called = true;
  SetWriter<DWX_DocumentsSet_Out, DocumentWriter, DocumentData> documents(m_data.documents,
                                                                          StringsMap());
  ProcessDocumentsSet(book, documents, DWX_Names::DocumentsSet);
  AddAll(AttrsSet(), m_data.attrs, StringsMap());
  AttrsSet().Store(book, DWX_Names::Attrs);
}

void BookReader::Call(DWX_InFolder& book) {
  m_called = true;
  m_data.attrs = AttrsOf(AttrsSet(), StringsMap());
  SetReader<DWX_DocumentsSet_In, DocumentReader, DocumentData> documents(m_data.documents,
                                                                         StringsMap());
  ProcessDocumentsSet(book, documents, DWX_Names::DocumentsSet);
}

void WriteBookWithProcessors(const BookData& data, DWX_OutFolder& root) {
  BookWriter book(data);
  DWX_Book_Out_Creator(book).Call(root);
}

BookData ReadBookWithProcessors(DWX_InFolder& root) {
  BookReader book;
  DWX_Book_In_Opener(book).Call(root);
  return book.Data();
}

}  // namespace model_test
