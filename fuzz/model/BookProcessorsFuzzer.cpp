// Opens a code file made of arbitrary bytes and walks the whole book through the
// first-generation processors, as a module linked against the library would with a container
// it was given. Damage must be reported as a library error, never crash, hang or allocate
// without bound.
//
// The input is described in BookFuzzInput.h.
#include "Container/Model/BookProcessors.h"
#include "Container/Storage/Errors.h"
#include "fuzz/model/BookFuzzInput.h"

#include <cstddef>
#include <cstdint>

namespace {

template <class T>
struct Drain : DWX_InStreamProcessor {
  void Call(DWX_InStream& stream) override {
    DrainStream<T>(stream);
  }
};

template <class Rec>
struct Records : DWX_InBundleProcessor {
  void Call(DWX_InBundle& bundle) override {
    Rec record;
    while (bundle.GetRecord(record)) {
    }
  }
};

// Each element of a collection in turn, read by a fresh `Element`.
template <class Set, class Element>
struct Elements : Set {
  const DWX_StringsMap& strings;
  explicit Elements(const DWX_StringsMap& s) : strings(s) {}
  void Call(DWX_InFolder& set) override {
    for (dwx_long i = 0; i < kMaxElements; ++i) {
      Element element(strings);
      if (!this->ProcessElement(set, element, i)) return;
    }
  }
};

struct ConditionalText : DWX_ConditionalText_In {
  explicit ConditionalText(const DWX_StringsMap&) {}
  void Call(DWX_InFolder& list) override {
    Records<DWX_ConditionalText_Rec_In> records;
    ProcessConditionalText(list, records, "!1:ConditionalText{}");
  }
};

struct Run : DWX_TextRun_In {
  const DWX_StringsMap& strings;
  explicit Run(const DWX_StringsMap& s) : strings(s) {}
  void Call(DWX_InFolder& run) override {
    dwx_long style = -1;
    RestoreStyleRef(run, style, DWX_Names::StyleRef);
    AttrsSet().Restore(run, DWX_Names::Attrs, &strings);
    Drain<char> bytes;
    Drain<uint16_t> units;
    ProcessMultibytes(run, bytes, DWX_Names::Multibytes);
    ProcessUnicodes(run, units, DWX_Names::Unicodes);
    ProcessWideMultibytes(run, units, DWX_Names::WideMultibytes);
    Records<DWX_SpecialChar_Rec_In> specialChars;
    ProcessSpecialChars(run, specialChars, DWX_Names::SpecialChars);
    Records<DWX_RefPoint_Rec_In> refPoints;
    ProcessRefPoints(run, refPoints, DWX_Names::RefPoints);
    Records<DWX_PlaceHolder_Rec_In> placeHolders;
    ProcessPlaceHolders(run, placeHolders, DWX_Names::PlaceHolders);
    Records<DWX_TextVariables_Rec_In> variables;
    ProcessTextVariables(run, variables, "!1:TextVariables{}");
    Elements<DWX_ConditionalTextListSet_In, ConditionalText> lists(strings);
    ProcessConditionalTextListSet(run, lists, "ConditionalTextListSet/");
  }
};

// The runs of a paragraph or of a text-variable declaration.
template <class Base>
struct WithRuns : Base {
  const DWX_StringsMap& strings;
  explicit WithRuns(const DWX_StringsMap& s) : strings(s) {}
  void Call(DWX_InFolder& folder) override {
    dwx_long style = -1;
    this->RestoreStyleRef(folder, style, DWX_Names::StyleRef);
    this->AttrsSet().Restore(folder, DWX_Names::Attrs, &strings);
    for (dwx_long r = 0; r < kMaxElements; ++r) {
      Run run(strings);
      if (!Open(folder, run, r)) return;
    }
  }
  bool Open(DWX_InFolder& folder, Run& run, dwx_long index);
};
using Paragraph = WithRuns<DWX_Paragraph_In>;
template <> bool Paragraph::Open(DWX_InFolder& folder, Run& run, dwx_long index) {
  return ProcessTextRun(folder, run, index, DWX_Names::TextRun);
}
using TextVariables = WithRuns<DWX_TextVariables_In>;
template <> bool TextVariables::Open(DWX_InFolder& folder, Run& run, dwx_long index) {
  return ProcessText(folder, run, index, DWX_Names::TextRun);
}

struct Story : DWX_Story_In {
  const DWX_StringsMap& strings;
  explicit Story(const DWX_StringsMap& s) : strings(s) {}
  void Call(DWX_InFolder& story) override {
    AttrsSet().Restore(story, DWX_Names::Attrs, &strings);
    Elements<DWX_ParagraphsSet_In, Paragraph> paragraphs(strings);
    ProcessParagraphsSet(story, paragraphs, DWX_Names::ParagraphsSet);
  }
};

struct Style : DWX_StyleInfo_In {
  const DWX_StringsMap& strings;
  explicit Style(const DWX_StringsMap& s) : strings(s) {}
  void Call(DWX_InFolder& style) override {
    dwx_long id = -1;
    RestoreThisStyleRef(style, id, DWX_Names::ThisStyleRef);
    RestoreBaseStyleRef(style, id, DWX_Names::BaseStyleRef);
    AttrsSet().Restore(style, DWX_Names::Attrs, &strings);
  }
};

struct Document : DWX_Document_In {
  const DWX_StringsMap& strings;
  explicit Document(const DWX_StringsMap& s) : strings(s) {}
  void Call(DWX_InFolder& document) override {
    AttrsSet().Restore(document, DWX_Names::Attrs, &strings);
    Elements<DWX_StylesSet_In, Style> styles(strings);
    ProcessStylesSet(document, styles, DWX_Names::StylesSet);
    Elements<DWX_StoriesSet_In, Story> stories(strings);
    ProcessStoriesSet(document, stories, DWX_Names::StoriesSet);
    Elements<DWX_TextVariablesSet_In, TextVariables> variables(strings);
    ProcessTextVariablesSet(document, variables, "TextVariablesSet/");
  }
};

struct Book : DWX_Book_In {
  void Call(DWX_InFolder& book) override {
    Elements<DWX_DocumentsSet_In, Document> documents(StringsMap());
    ProcessDocumentsSet(book, documents, DWX_Names::DocumentsSet);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BookFuzzInput input(data, size);
  try {
    if (auto root = OpenDWXFolder2(input.Medium())) {
      Book book;
      DWX_Book_In_Opener(book).Call(*root);
    }
  } catch (const FilterException&) {
    // damage reported: the expected outcome for most inputs
  }
  return 0;
}
