#include "BookData.h"

#include "Container/Storage/Errors.h"

namespace model_test {

namespace {

void AddAll(DWX_AttrsSet& set, const AttrMap& attrs, DWX_StringsMap& strings) {
  for (const auto& [name, value] : attrs) set.AddAttr(name.c_str(), value.c_str(), strings);
}

template <class T>
void PutAll(const DWX_Handle<DWX_OutStream2>& stream, const std::vector<T>& values) {
  dynamic_cast<DWX_Out<T>&>(*stream).PutData(values.data(), dwx_ulong(values.size()));
}

// One writer of every kind over a run folder: the run's content decides which is used.
struct AnyRun_Out : DWX_UnicodesRun_Out2, DWX_MultibytesRun_Out2, DWX_WideMultibytesRun_Out2,
                    DWX_SpecialCharsRun_Out2, DWX_RefPointsRun_Out2, DWX_PlaceHoldersRun_Out2 {
  explicit AnyRun_Out(const DWX_Handle<DWX_OutFolder2>& f)
      : DWX_TextRun_Out2(f), DWX_UnicodesRun_Out2(f), DWX_MultibytesRun_Out2(f),
        DWX_WideMultibytesRun_Out2(f), DWX_SpecialCharsRun_Out2(f), DWX_RefPointsRun_Out2(f),
        DWX_PlaceHoldersRun_Out2(f) {}
};

void WriteRun(DWX_Paragraph_Out2& paragraph, dwx_long index, const RunData& data,
              DWX_StringsMap& strings) {
  AnyRun_Out run(paragraph.CreateTextRun(index, DWX_Names::TextRun));
  run.AttrsSet().DefineBaseAttrsSet(&paragraph.AttrsSet());
  const std::vector<uint16_t> units(data.units.begin(), data.units.end());
  switch (data.kind) {
    case RunData::Unicodes: PutAll(run.CreateUnicodes(DWX_Names::Unicodes), units); break;
    case RunData::WideMultibytes:
      PutAll(run.CreateWideMultibytes(DWX_Names::WideMultibytes), units);
      break;
    case RunData::Multibytes:
      PutAll(run.CreateMultibytes(DWX_Names::Multibytes),
             std::vector<char>(data.bytes.begin(), data.bytes.end()));
      break;
    case RunData::SpecialChars: {
      if (data.styleRef != -1) run.SaveStyleRef(data.styleRef, DWX_Names::StyleRef);
      auto bundle = run.CreateSpecialChars(DWX_Names::SpecialChars);
      for (const auto& r : data.records)
        bundle->PutRecord(DWX_SpecialChar_Rec_Out(
            CF_SpecialChar{IdOf(r.first, strings), IdOf(r.second, strings)}));
      break;
    }
    case RunData::RefPoints: {
      if (data.styleRef != -1) run.SaveStyleRef(data.styleRef, DWX_Names::StyleRef);
      auto bundle = run.CreateRefPoints(DWX_Names::RefPoints);
      for (const auto& r : data.records)
        bundle->PutRecord(DWX_RefPoint_Rec_Out(
            CF_RefPoint{r.folderId, IdOf(r.first, strings), IdOf(r.second, strings)}));
      break;
    }
    case RunData::PlaceHolders: {
      if (data.styleRef != -1) run.SaveStyleRef(data.styleRef, DWX_Names::StyleRef);
      auto bundle = run.CreatePlaceHolders(DWX_Names::PlaceHolders);
      for (const auto& r : data.records)
        bundle->PutRecord(
            DWX_PlaceHolder_Rec_Out(CF_PlaceHolder{r.folderId, IdOf(r.first, strings)}));
      break;
    }
    case RunData::Empty: break;
  }
  // Text runs: the style reference follows the text; record runs had it before their records.
  const bool recordRun = data.kind == RunData::SpecialChars || data.kind == RunData::RefPoints ||
                         data.kind == RunData::PlaceHolders;
  if (!recordRun && data.styleRef != -1) run.SaveStyleRef(data.styleRef, DWX_Names::StyleRef);
  if (!data.attrs.empty()) {
    AddAll(run.AttrsSet(), data.attrs, strings);
    run.SaveAttrsSet(DWX_Names::Attrs);
  }
}

// Reads every record of a run bundle; `convert` turns one into the record of the data.
template <class Rec, class Convert>
std::vector<RunData::Record> ReadRecords(const DWX_Handle<DWX_InBundle2>& bundle, Convert convert) {
  std::vector<RunData::Record> records;
  Rec record;
  while (bundle->GetRecord(record)) {
    records.push_back(convert(record));
    record = Rec();
  }
  return records;
}

template <class T>
std::vector<T> ReadAll(const DWX_Handle<DWX_InStream2>& stream) {
  std::vector<T> values;
  T buffer[512];
  auto& in = dynamic_cast<DWX_In<T>&>(*stream);
  for (;;) {
    const dwx_ulong got = in.GetData(buffer, 512);
    values.insert(values.end(), buffer, buffer + got);
    if (got < 512) break;
  }
  if (stream->Damaged()) Error(FE_CodeFileShortRead);
  return values;
}

RunData ReadRun(const DWX_Handle<DWX_InFolder2>& folder, const DWX_AttrsSet& paragraph,
                const DWX_StringsMap& strings) {
  RunData data;
  DWX_TextRun_In2 run(folder);
  run.LoadStyleRef(data.styleRef, DWX_Names::StyleRef);
  if (run.LoadAttrsSet(DWX_Names::Attrs, strings))
    data.attrs = AttrsOf(run.AttrsSet(), strings);
  run.AttrsSet().DefineBaseAttrsSet(&paragraph);
  // The import's probe order: the first item present wins.
  if (auto s = run.OpenMultibytes(DWX_Names::Multibytes)) {
    data.kind = RunData::Multibytes;
    const auto bytes = ReadAll<char>(s);
    data.bytes.assign(bytes.begin(), bytes.end());
  } else if (auto u = run.OpenUnicodes(DWX_Names::Unicodes)) {
    data.kind = RunData::Unicodes;
    const auto units = ReadAll<uint16_t>(u);
    data.units.assign(units.begin(), units.end());
  } else if (auto b = run.OpenSpecialChars(DWX_Names::SpecialChars)) {
    data.kind = RunData::SpecialChars;
    data.records = ReadRecords<DWX_SpecialChar_Rec_In>(b, [&](const CF_SpecialChar& r) {
      return RunData::Record{0, TextOf(r.m_NameRef, strings), TextOf(r.m_DataRef, strings)};
    });
  } else if (auto r = run.OpenRefPoints(DWX_Names::RefPoints)) {
    data.kind = RunData::RefPoints;
    data.records = ReadRecords<DWX_RefPoint_Rec_In>(r, [&](const CF_RefPoint& rec) {
      return RunData::Record{rec.m_ObjectFolderID, TextOf(rec.m_ObjectTypeRef, strings),
                             TextOf(rec.m_RefTypeRef, strings)};
    });
  } else if (auto p = run.OpenPlaceHolders(DWX_Names::PlaceHolders)) {
    data.kind = RunData::PlaceHolders;
    data.records = ReadRecords<DWX_PlaceHolder_Rec_In>(p, [&](const CF_PlaceHolder& rec) {
      return RunData::Record{rec.m_ObjectFolderID, TextOf(rec.m_ObjectTypeRef, strings),
                             std::nullopt};
    });
  } else if (auto w = run.OpenWideMultibytes(DWX_Names::WideMultibytes)) {
    data.kind = RunData::WideMultibytes;
    const auto units = ReadAll<uint16_t>(w);
    data.units.assign(units.begin(), units.end());
  }
  return data;
}

// Calls `read` for every element of a collection, from index 0 to the first one missing.
template <class Set, class Read>
void ForEachElement(const DWX_Handle<DWX_InFolder2>& folder, const char* element, Read read) {
  Set set(folder, element);
  for (dwx_long i = 0;; ++i) {
    auto item = set.OpenElement(i);
    if (!item) return;
    read(item);
  }
}

}  // namespace

dwx_long IdOf(const std::optional<std::u16string>& text, DWX_StringsMap& strings) {
  return text ? strings[*text] : -1;
}

std::optional<std::u16string> TextOf(dwx_long id, const DWX_StringsMap& strings) {
  if (id == -1) return std::nullopt;
  const char16_t* text = strings[id];
  if (!text) Error(FE_CodeFileShortRead);  // an id of no text in this book
  return std::u16string(text);
}

AttrMap AttrsOf(const DWX_AttrsSet& attrs, const DWX_StringsMap& strings) {
  struct Collect : DWX_AttrsSet::AttrsReceiver {
    AttrMap map;
    bool OnAttr(const char16_t* name, const char16_t* value) override {
      map.emplace(name, value);
      return true;
    }
  } collect;
  attrs.EnumAttrs(collect, strings);
  return collect.map;
}

RunData MakeRun(RunData::Kind kind, dwx_long style) {
  RunData run;
  run.kind = kind;
  run.styleRef = style;
  return run;
}

BookData FullBook() {
  BookData book;
  book.attrs = {{u"source_data_type", u"qxp"}, {u"maxuniqID", u"17"}};
  for (int d = 0; d < 2; ++d) {
    DocumentData doc;
    if (d == 0) doc.attrs = {{u"source_platform", u"win"}};
    doc.styles.push_back({{{u"name", u"Normal"}}, 1, -1});
    doc.styles.push_back({{{u"name", u"Heading \U0001D11E"}, {u"bold", u"on"}}, 2, 1});
    for (int s = 0; s < 2; ++s) {
      StoryData story;
      story.attrs = {{u"uniqID", std::u16string(1, char16_t(u'0' + s))}};
      for (int p = 0; p < 2; ++p) {
        ParagraphData paragraph;
        paragraph.styleRef = p == 0 ? 1 : -1;
        paragraph.attrs = {{u"font", u"Arial"}};
        RunData unicodes = MakeRun(RunData::Unicodes, 2);
        unicodes.units = u"Gr\u00FC\u00DFe \U0001F600 " + std::u16string(700, u'x');
        unicodes.attrs = {{u"fore_color_red", u"255"}};  // defines its colour partners
        RunData multibytes = MakeRun(RunData::Multibytes);
        multibytes.bytes = "plain \xE9";
        RunData wide = MakeRun(RunData::WideMultibytes);
        wide.units = u"\u3042\u3044";
        RunData special = MakeRun(RunData::SpecialChars, 3);
        special.records = {{0, u"tab", u"\t"}, {}};
        RunData refPoints = MakeRun(RunData::RefPoints);
        refPoints.records = {{42, u"picture", u"anchor"}, {}};
        RunData placeHolders = MakeRun(RunData::PlaceHolders);
        placeHolders.records = {{7, u"\U0001F4CA table", std::nullopt}};
        paragraph.runs = {unicodes, multibytes, wide, special, refPoints, placeHolders};
        story.paragraphs.push_back(paragraph);
      }
      doc.stories.push_back(story);
    }
    book.documents.push_back(doc);
  }
  return book;
}

void WriteBook(const BookData& data, const DWX_Handle<DWX_OutFolder2>& root) {
  DWX_Book_Out2 book(root);
  DWX_StringsMap& strings = book.StringsMap();
  {
    DWX_DocumentsSet_Out2 documents(book.CreateDocumentsSet(DWX_Names::DocumentsSet),
                                    DWX_Names::Document);
    for (size_t d = 0; d < data.documents.size(); ++d) {
      const DocumentData& docData = data.documents[d];
      DWX_Document_Out2 document(documents.CreateElement(dwx_long(d)));
      DWX_StylesSet_Out2 styles(document.CreateStylesSet(DWX_Names::StylesSet),
                                DWX_Names::StyleInfo);
      DWX_StoriesSet_Out2 stories(document.CreateStoriesSet(DWX_Names::StoriesSet),
                                  DWX_Names::Story);
      for (size_t s = 0; s < docData.styles.size(); ++s) {
        const StyleData& styleData = docData.styles[s];
        DWX_StyleInfo_Out2 style(styles.CreateElement(dwx_long(s)));
        style.SaveThisStyleRef(styleData.thisRef, DWX_Names::ThisStyleRef);
        if (styleData.baseRef != -1) style.SaveBaseStyleRef(styleData.baseRef, DWX_Names::BaseStyleRef);
        AddAll(style.AttrsSet(), styleData.attrs, strings);
        if (!styleData.attrs.empty()) style.SaveAttrsSet(DWX_Names::Attrs);
      }
      for (size_t s = 0; s < docData.stories.size(); ++s) {
        const StoryData& storyData = docData.stories[s];
        DWX_Story_Out2 story(stories.CreateElement(dwx_long(s)));
        DWX_ParagraphsSet_Out2 paragraphs(story.CreateParagraphsSet(DWX_Names::ParagraphsSet),
                                          DWX_Names::Paragraph);
        for (size_t p = 0; p < storyData.paragraphs.size(); ++p) {
          const ParagraphData& paraData = storyData.paragraphs[p];
          DWX_Paragraph_Out2 paragraph(paragraphs.CreateElement(dwx_long(p)));
          if (paraData.styleRef != -1) paragraph.SaveStyleRef(paraData.styleRef, DWX_Names::StyleRef);
          AddAll(paragraph.AttrsSet(), paraData.attrs, strings);
          for (size_t r = 0; r < paraData.runs.size(); ++r)
            WriteRun(paragraph, dwx_long(r), paraData.runs[r], strings);
          if (!paraData.attrs.empty()) paragraph.SaveAttrsSet(DWX_Names::Attrs);
        }
        AddAll(story.AttrsSet(), storyData.attrs, strings);
        if (!storyData.attrs.empty()) story.SaveAttrsSet(DWX_Names::Attrs);
      }
      AddAll(document.AttrsSet(), docData.attrs, strings);
      if (!docData.attrs.empty()) document.SaveAttrsSet(DWX_Names::Attrs);
    }
  }
  AddAll(book.AttrsSet(), data.attrs, strings);
  book.SaveAttrsSet(DWX_Names::Attrs);
  book.Finish();
}

BookData ReadBook(const DWX_Handle<DWX_InFolder2>& root) {
  BookData data;
  DWX_Book_In2 book(root);
  if (!book.Valid()) return data;
  const DWX_StringsMap& strings = book.StringsMap();
  data.attrs = AttrsOf(book.AttrsSet(), strings);
  ForEachElement<DWX_DocumentsSet_In2>(
      book.OpenDocumentsSet(DWX_Names::DocumentsSet), DWX_Names::Document, [&](auto& folder) {
        DocumentData doc;
        DWX_Document_In2 document(folder);
        document.LoadAttrsSet(DWX_Names::Attrs, strings);
        doc.attrs = AttrsOf(document.AttrsSet(), strings);
        ForEachElement<DWX_StylesSet_In2>(
            document.OpenStylesSet(DWX_Names::StylesSet), DWX_Names::StyleInfo, [&](auto& f) {
              StyleData styleData;
              DWX_StyleInfo_In2 style(f);
              style.LoadThisStyleRef(styleData.thisRef, DWX_Names::ThisStyleRef);
              style.LoadBaseStyleRef(styleData.baseRef, DWX_Names::BaseStyleRef);
              style.LoadAttrsSet(DWX_Names::Attrs, strings);
              styleData.attrs = AttrsOf(style.AttrsSet(), strings);
              doc.styles.push_back(styleData);
            });
        ForEachElement<DWX_StoriesSet_In2>(
            document.OpenStoriesSet(DWX_Names::StoriesSet), DWX_Names::Story, [&](auto& f) {
              StoryData storyData;
              DWX_Story_In2 story(f);
              story.LoadAttrsSet(DWX_Names::Attrs, strings);
              storyData.attrs = AttrsOf(story.AttrsSet(), strings);
              ForEachElement<DWX_ParagraphsSet_In2>(
                  story.OpenParagraphsSet(DWX_Names::ParagraphsSet), DWX_Names::Paragraph,
                  [&](auto& pf) {
                    ParagraphData paraData;
                    DWX_Paragraph_In2 paragraph(pf);
                    paragraph.LoadStyleRef(paraData.styleRef, DWX_Names::StyleRef);
                    paragraph.LoadAttrsSet(DWX_Names::Attrs, strings);
                    paraData.attrs = AttrsOf(paragraph.AttrsSet(), strings);
                    for (dwx_long r = 0;; ++r) {
                      auto run = paragraph.OpenTextRun(r, DWX_Names::TextRun);
                      if (!run) break;
                      paraData.runs.push_back(ReadRun(run, paragraph.AttrsSet(), strings));
                    }
                    storyData.paragraphs.push_back(paraData);
                  });
              doc.stories.push_back(storyData);
            });
        data.documents.push_back(doc);
      });
  return data;
}

}  // namespace model_test
