// A book of many plain paragraphs, written through the book writers into a compound file:
// `stories` stories of 100 paragraphs; each paragraph has a style reference, two attributes and
// three runs: UTF-16 text with attributes, then special characters or 8-bit text, then UTF-16
// text with a style reference. The book benchmark times it at up to 100,000 paragraphs, and the
// stored-bytes test keeps the digest of a small one.
#pragma once

#include "Container/Model/BookWriters.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/OLEStorage.h"

#include <string>
#include <vector>

namespace paragraphs_book {

constexpr int kParagraphsPerStory = 100;

template <class T>
void Put(const DWX_Handle<DWX_OutStream2>& stream, const T* values, size_t count) {
  dynamic_cast<DWX_Out<T>&>(*stream).PutData(values, dwx_ulong(count));
}

struct Run_Out : DWX_UnicodesRun_Out2, DWX_MultibytesRun_Out2, DWX_SpecialCharsRun_Out2 {
  explicit Run_Out(const DWX_Handle<DWX_OutFolder2>& f)
      : DWX_TextRun_Out2(f), DWX_UnicodesRun_Out2(f), DWX_MultibytesRun_Out2(f),
        DWX_SpecialCharsRun_Out2(f) {}
};

inline void WriteParagraph(DWX_ParagraphsSet_Out2& paragraphs, int index, DWX_StringsMap& strings,
                           const std::vector<uint16_t>& text) {
  DWX_Paragraph_Out2 paragraph(paragraphs.CreateElement(index));
  paragraph.SaveStyleRef(index % 7, DWX_Names::StyleRef);
  paragraph.AttrsSet().AddAttr(u"font", index % 2 ? u"Arial" : u"Times", strings);
  paragraph.AttrsSet().AddAttr(u"size", std::u16string(1, char16_t(u'8' + index % 2)).c_str(),
                               strings);
  {
    Run_Out run(paragraph.CreateTextRun(0, DWX_Names::TextRun));
    Put(run.CreateUnicodes(DWX_Names::Unicodes), text.data(), text.size());
    run.AttrsSet().AddAttr(u"bold", u"on", strings);
    run.SaveAttrsSet(DWX_Names::Attrs);
  }
  {
    Run_Out run(paragraph.CreateTextRun(1, DWX_Names::TextRun));
    if (index % 3 == 0) {
      run.CreateSpecialChars(DWX_Names::SpecialChars)
          ->PutRecord(DWX_SpecialChar_Rec_Out(CF_SpecialChar{strings[u"tab"], strings[u"\t"]}));
    } else {
      Put(run.CreateMultibytes(DWX_Names::Multibytes), "8-bit text", 10);
    }
  }
  {
    Run_Out run(paragraph.CreateTextRun(2, DWX_Names::TextRun));
    Put(run.CreateUnicodes(DWX_Names::Unicodes), text.data(), text.size() / 2);
    run.SaveStyleRef(3, DWX_Names::StyleRef);
  }
  paragraph.SaveAttrsSet(DWX_Names::Attrs);
}

// A book of one document with `stories` stories, written through the book writers into a
// compound file: fill(s, story, paragraphs, strings) writes story s, whose attributes are saved
// afterwards.
template <class Fill>
void WriteStoriesBook(const std::string& path, int stories, Fill fill) {
  OLEStorage root(path.c_str(), CD_CreateWrite);
  DWX_OutStorage2* container = CreateDWX2(root, false);
  {
    auto folder = container->CreateFolder2();
    DWX_Book_Out2 book(folder);
    DWX_StringsMap& strings = book.StringsMap();
    {
      DWX_DocumentsSet_Out2 documents(book.CreateDocumentsSet(DWX_Names::DocumentsSet),
                                      DWX_Names::Document);
      DWX_Document_Out2 document(documents.CreateElement(0));
      document.CreateStylesSet(DWX_Names::StylesSet);
      DWX_StoriesSet_Out2 set(document.CreateStoriesSet(DWX_Names::StoriesSet), DWX_Names::Story);
      for (int s = 0; s < stories; ++s) {
        DWX_Story_Out2 story(set.CreateElement(s));
        DWX_ParagraphsSet_Out2 paragraphs(story.CreateParagraphsSet(DWX_Names::ParagraphsSet),
                                          DWX_Names::Paragraph);
        fill(s, story, paragraphs, strings);
        story.SaveAttrsSet(DWX_Names::Attrs);
      }
    }
    book.AttrsSet().AddAttr(u"source_data_type", u"qxp", strings);
    book.SaveAttrsSet(DWX_Names::Attrs);
    book.Finish();
    folder->Complete();
  }
  container->Release();
  root.Flush();
}

inline void WriteBook(const std::string& path, int stories) {
  std::vector<uint16_t> text;
  for (const char16_t c : std::u16string(u"Translatable text of a paragraph, \u00E9\u00E8 \u3042 "))
    text.push_back(c);
  WriteStoriesBook(path, stories,
                   [&](int s, DWX_Story_Out2& story, DWX_ParagraphsSet_Out2& paragraphs, DWX_StringsMap& strings) {
                     for (int p = 0; p < kParagraphsPerStory; ++p)
                       WriteParagraph(paragraphs, p, strings, text);
                     const std::u16string id(1, char16_t(u'0' + s % 10));
                     story.AttrsSet().AddAttr(u"uniqID", id.c_str(), strings);
                   });
}

}  // namespace paragraphs_book
