// A module of its own that links the installed exchange-container library: it writes a book
// through the first-generation processors, reads it back through both generations and checks
// what it finds; its text goes out as XLIFF and back. Answers 0 when everything read back as written.
#include "Container/Model/BookProcessors.h"
#include "Container/Model/BookReaders.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/OLEStorage.h"
#include "Container/Xliff/Xliff.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::u16string kText = u"Hello, \u00FCbersetzt \U0001F600";

int g_failures = 0;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "consumer: %s\n", what);
  ++g_failures;
}

// ---- Writing: book > documents > document > stories > story > paragraphs > paragraph > run

struct Units : DWX_OutStreamProcessor {
  void Call(DWX_OutStream& stream) override {
    const std::vector<uint16_t> units(kText.begin(), kText.end());
    dynamic_cast<DWX_Out<uint16_t>&>(stream).PutData(units.data(), dwx_ulong(units.size()));
  }
};

struct RunOut : DWX_UnicodesRun_Out {
  void Call(DWX_OutFolder& run) override {
    Units units;
    ProcessUnicodes(run, units, DWX_Names::Unicodes);
    StoreStyleRef(run, 2, DWX_Names::StyleRef);
  }
};

struct ParagraphOut : DWX_Paragraph_Out {
  void Call(DWX_OutFolder& paragraph) override {
    RunOut run;
    ProcessTextRun(paragraph, run, 0, DWX_Names::TextRun);
  }
};

// A collection of `count` elements written by `Element`.
template <class Set, class Element, int count = 1>
struct SetOut : Set {
  void Call(DWX_OutFolder& set) override {
    for (int i = 0; i < count; ++i) {
      Element element;
      this->ProcessElement(set, element, i);
    }
  }
};

struct StoryOut : DWX_Story_Out {
  void Call(DWX_OutFolder& story) override {
    SetOut<DWX_ParagraphsSet_Out, ParagraphOut> paragraphs;
    ProcessParagraphsSet(story, paragraphs, DWX_Names::ParagraphsSet);
  }
};

struct DocumentOut : DWX_Document_Out {
  void Call(DWX_OutFolder& document) override {
    SetOut<DWX_StoriesSet_Out, StoryOut> stories;
    ProcessStoriesSet(document, stories, DWX_Names::StoriesSet);
  }
};

struct BookOut : DWX_Book_Out {
  void Call(DWX_OutFolder& book) override {
    SetOut<DWX_DocumentsSet_Out, DocumentOut> documents;
    ProcessDocumentsSet(book, documents, DWX_Names::DocumentsSet);
    AttrsSet().AddAttr(u"source_data_type", u"consumer", StringsMap());
    AttrsSet().Store(book, DWX_Names::Attrs);
  }
};

// ---- Reading through the first generation: down the same path to the run's text

struct UnitsIn : DWX_InStreamProcessor {
  std::u16string text;
  void Call(DWX_InStream& stream) override {
    uint16_t unit = 0;
    while (dynamic_cast<DWX_In<uint16_t>&>(stream).GetData(&unit, 1) == 1) text += char16_t(unit);
  }
};

struct RunIn : DWX_TextRun_In {
  std::u16string& text;
  explicit RunIn(std::u16string& out) : text(out) {}
  void Call(DWX_InFolder& run) override {
    UnitsIn units;
    Check(!ProcessMultibytes(run, units, DWX_Names::Multibytes), "a run of the wrong kind");
    Check(ProcessUnicodes(run, units, DWX_Names::Unicodes), "no text in the run");
    text = units.text;
    dwx_long style = -1;
    Check(RestoreStyleRef(run, style, DWX_Names::StyleRef) && style == 2, "run style");
  }
};

// One element of each level: `Next` opens the one below.
template <class Base, class Next>
struct Down : Base {
  std::u16string& text;
  explicit Down(std::u16string& out) : text(out) {}
  void Call(DWX_InFolder& folder) override {
    Next next(text);
    Check(Open(folder, next), "a level of the book is missing");
  }
  bool Open(DWX_InFolder& folder, Next& next);
};

using ParagraphIn = Down<DWX_Paragraph_In, RunIn>;
template <> bool ParagraphIn::Open(DWX_InFolder& f, RunIn& n) {
  return ProcessTextRun(f, n, 0, DWX_Names::TextRun);
}
using ParagraphsIn = Down<DWX_ParagraphsSet_In, ParagraphIn>;
template <> bool ParagraphsIn::Open(DWX_InFolder& f, ParagraphIn& n) {
  return ProcessElement(f, n, 0);
}
using StoryIn = Down<DWX_Story_In, ParagraphsIn>;
template <> bool StoryIn::Open(DWX_InFolder& f, ParagraphsIn& n) {
  return ProcessParagraphsSet(f, n, DWX_Names::ParagraphsSet);
}
using StoriesIn = Down<DWX_StoriesSet_In, StoryIn>;
template <> bool StoriesIn::Open(DWX_InFolder& f, StoryIn& n) { return ProcessElement(f, n, 0); }
using DocumentIn = Down<DWX_Document_In, StoriesIn>;
template <> bool DocumentIn::Open(DWX_InFolder& f, StoriesIn& n) {
  return ProcessStoriesSet(f, n, DWX_Names::StoriesSet);
}
using DocumentsIn = Down<DWX_DocumentsSet_In, DocumentIn>;
template <> bool DocumentsIn::Open(DWX_InFolder& f, DocumentIn& n) {
  return ProcessElement(f, n, 0);
}

struct BookIn : DWX_Book_In {
  std::u16string text;
  std::u16string source;
  void Call(DWX_InFolder& book) override {
    if (const char16_t* value = AttrsSet().GetAttrValue(u"source_data_type", StringsMap()))
      source = value;
    DocumentsIn documents(text);
    Check(ProcessDocumentsSet(book, documents, DWX_Names::DocumentsSet), "no documents");
  }
};

// ---- Reading through the second generation

std::u16string ReadSecond(DWX_InStorage2& container) {
  DWX_Book_In2 book(container.OpenFolder2());
  DWX_DocumentsSet_In2 documents(book.OpenDocumentsSet(DWX_Names::DocumentsSet),
                                 DWX_Names::Document);
  DWX_Document_In2 document(documents.OpenElement(0));
  DWX_StoriesSet_In2 stories(document.OpenStoriesSet(DWX_Names::StoriesSet), DWX_Names::Story);
  DWX_Story_In2 story(stories.OpenElement(0));
  DWX_ParagraphsSet_In2 paragraphs(story.OpenParagraphsSet(DWX_Names::ParagraphsSet),
                                   DWX_Names::Paragraph);
  DWX_Paragraph_In2 paragraph(paragraphs.OpenElement(0));
  DWX_TextRun_In2 run(paragraph.OpenTextRun(0, DWX_Names::TextRun));
  std::u16string text;
  if (auto stream = run.OpenUnicodes(DWX_Names::Unicodes)) {
    uint16_t unit = 0;
    while (dynamic_cast<DWX_In<uint16_t>&>(*stream).GetData(&unit, 1) == 1) text += char16_t(unit);
  }
  return text;
}

int g_warnings = 0;
void CountWarning(FilterException&) { ++g_warnings; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kesto_consumer <container to write>\n");
    return 2;
  }
  const char* path = argv[1];
  SetWarningMessenger(CountWarning);
  try {
    {
      OLEStorage root(path, CD_CreateWrite);
      Check(!IsDWX(root), "a new file is already a container");
      DWX_OutStorage2* container = CreateDWX2(root, true);
      BookOut book;
      container->CreateBook(book);
      OLEStream(*container->PrivateData(), u"0", CD_CreateWrite).PutData("source", 6);
      container->Release();
      root.Flush();
    }
    {
      // The XLIFF bridge: its text out and, untouched, back in.
      const std::string xlf = std::string(path) + ".xlf";
      kesto::xliff::ExtractOptions options;
      options.copySource = true;
      std::ostringstream report;
      Check(kesto::xliff::Extract(path, xlf, options, report) == kesto::xliff::kAllMerged, "XLIFF extraction failed");
      Check(kesto::xliff::Merge(path, xlf, std::string(path) + ".merged", report) == kesto::xliff::kAllMerged,
            "XLIFF merge failed");
      Check(report.str().find("1 units translated") != std::string::npos, "the XLIFF held no unit");
    }
    OLEStorage root(path, CD_OpenRead);
    Check(IsDWX(root), "the container is not recognised");
    {
      DWX_InStorage* container = OpenDWX(root);
      BookIn book;
      Check(container->OpenBook(book), "no code file");
      Check(book.text == kText, "first generation: the text differs");
      Check(book.source == u"consumer", "first generation: the book's attribute differs");
      Check(container->HasPrivateData(), "no private data");
      container->Release();
    }
    {
      DWX_InStorage2* container = OpenDWX2(root);
      Check(ReadSecond(*container) == kText, "second generation: the text differs");
      container->Release();
    }
    // A storage that is no container is refused with the library's error.
    bool refused = false;
    try {
      OLEStorage other(root, kDWX_PrivateDataName, CD_OpenRead);
      OpenDWX2(other)->Release();
    } catch (const FilterException&) {
      refused = true;
    }
    Check(refused, "a storage without a code file opened as a container");
  } catch (const FilterException& e) {
    std::fprintf(stderr, "consumer: library error %d\n", int(e.Code()));
    return 1;
  }
  Check(g_warnings == 0, "the library warned");
  if (g_failures == 0) std::printf("consumer: book written and read back\n");
  return g_failures == 0 ? 0 : 1;
}
