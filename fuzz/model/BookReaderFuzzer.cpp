// Opens a code file made of arbitrary bytes and walks the whole book through the readers, as
// the import does with a container a remote client sent. Damage must be reported as a library
// error, never crash, hang or allocate without bound.
//
// The input is described in BookFuzzInput.h.
#include "Container/Model/BookReaders.h"
#include "Container/Storage/Errors.h"
#include "fuzz/model/BookFuzzInput.h"

#include <cstddef>
#include <cstdint>
#include <new>

namespace {

template <class Rec>
void Records(const DWX_Handle<DWX_InBundle2>& bundle, const DWX_StringsMap& strings) {
  Rec record;
  while (bundle->GetRecord(record)) {
    for (dwx_long i = 0; i < Rec::kFieldCount; ++i)
      Rec::Fields::Visit(record, i, [&](dwx_long id) { return strings[id] != nullptr; });
  }
}

void WalkRun(const DWX_Handle<DWX_InFolder2>& folder, const DWX_AttrsSet& base,
             const DWX_StringsMap& strings) {
  DWX_TextRun_In2 run(folder);
  dwx_long style = -1;
  run.LoadStyleRef(style, DWX_Names::StyleRef);
  run.LoadAttrsSet(DWX_Names::Attrs, strings);
  run.AttrsSet().DefineBaseAttrsSet(&base);
  run.AttrsSet().GetAttrValue(u"codepage", strings);
  if (auto s = run.OpenMultibytes(DWX_Names::Multibytes)) DrainStream<char>(*s);
  if (auto s = run.OpenUnicodes(DWX_Names::Unicodes)) DrainStream<uint16_t>(*s);
  if (auto s = run.OpenWideMultibytes(DWX_Names::WideMultibytes)) DrainStream<uint16_t>(*s);
  if (auto b = run.OpenSpecialChars(DWX_Names::SpecialChars))
    Records<DWX_SpecialChar_Rec_In>(b, strings);
  if (auto b = run.OpenRefPoints(DWX_Names::RefPoints)) Records<DWX_RefPoint_Rec_In>(b, strings);
  if (auto b = run.OpenPlaceHolders(DWX_Names::PlaceHolders))
    Records<DWX_PlaceHolder_Rec_In>(b, strings);
}

template <class Set, class Visit>
void ForEach(const DWX_Handle<DWX_InFolder2>& folder, const char* element, Visit visit) {
  Set set(folder, element);
  for (dwx_long i = 0; i < kMaxElements; ++i) {
    auto item = set.OpenElement(i);
    if (!item) return;
    visit(item);
  }
}

void WalkBook(const DWX_Handle<DWX_InFolder2>& root) {
  DWX_Book_In2 book(root);
  if (!book.Valid()) return;
  const DWX_StringsMap& strings = book.StringsMap();
  struct Texts : DWX_AttrsSet::AttrsReceiver {
    bool OnAttr(const char16_t* name, const char16_t* value) override {
      return name != nullptr && value != nullptr;
    }
  } texts;
  book.AttrsSet().EnumAttrs(texts, strings);
  ForEach<DWX_DocumentsSet_In2>(
      book.OpenDocumentsSet(DWX_Names::DocumentsSet), DWX_Names::Document, [&](auto& d) {
        DWX_Document_In2 document(d);
        document.LoadAttrsSet(DWX_Names::Attrs, strings);
        ForEach<DWX_StylesSet_In2>(
            document.OpenStylesSet(DWX_Names::StylesSet), DWX_Names::StyleInfo, [&](auto& s) {
              DWX_StyleInfo_In2 style(s);
              dwx_long id = -1;
              style.LoadThisStyleRef(id, DWX_Names::ThisStyleRef);
              style.LoadBaseStyleRef(id, DWX_Names::BaseStyleRef);
              style.LoadAttrsSet(DWX_Names::Attrs, strings);
            });
        ForEach<DWX_StoriesSet_In2>(
            document.OpenStoriesSet(DWX_Names::StoriesSet), DWX_Names::Story, [&](auto& s) {
              DWX_Story_In2 story(s);
              story.LoadAttrsSet(DWX_Names::Attrs, strings);
              ForEach<DWX_ParagraphsSet_In2>(
                  story.OpenParagraphsSet(DWX_Names::ParagraphsSet), DWX_Names::Paragraph,
                  [&](auto& p) {
                    DWX_Paragraph_In2 paragraph(p);
                    dwx_long id = -1;
                    paragraph.LoadStyleRef(id, DWX_Names::StyleRef);
                    paragraph.LoadAttrsSet(DWX_Names::Attrs, strings);
                    for (dwx_long r = 0; r < kMaxElements; ++r) {
                      auto run = paragraph.OpenTextRun(r, DWX_Names::TextRun);
                      if (!run) break;
                      WalkRun(run, paragraph.AttrsSet(), strings);
                    }
                  });
            });
      });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BookFuzzInput input(data, size);
  try {
    WalkBook(OpenDWXFolder2(input.Medium()));
  } catch (const FilterException&) {
    // damage reported: the expected outcome for most inputs
  }
  return 0;
}
