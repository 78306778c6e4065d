// The first-generation book walk against the second-generation handlers: the same book (stories
// of 100 paragraphs, each with a style reference, two attributes and two runs, UTF-16 text with
// attributes and 8-bit text) written and read in memory by each generation. The processors add
// only virtual calls per level, so both should cost the same per paragraph.
#include "Container/Model/BookProcessors.h"
#include "Container/Model/BookReaders.h"
#include "Container/Model/BookWriters.h"
#include "Container/Storage/CodeFile.h"
#include "Container/Storage/MemFile.h"
#include "bench/model/BookWalk.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kParagraphsPerStory = 100;
const std::u16string kText = u"Translatable text of a paragraph, \u00E9\u00E8 \u3042 ";
const std::vector<uint16_t> kUnits(kText.begin(), kText.end());

struct MemoryFile {
  MemFile code;
  MemFile summary;
  std::unique_ptr<CF_Medium> Medium() { return std::make_unique<CF_MemoryMedium>(code, summary); }
};

const char16_t* Font(int p) { return p % 2 ? u"Arial" : u"Times"; }

// ---- First generation ------------------------------------------------------------------------

struct UnitsOut : DWX_OutStreamProcessor {
  void Call(DWX_OutStream& stream) override {
    dynamic_cast<DWX_Out<uint16_t>&>(stream).PutData(kUnits.data(), dwx_ulong(kUnits.size()));
  }
};
struct BytesOut : DWX_OutStreamProcessor {
  void Call(DWX_OutStream& stream) override {
    dynamic_cast<DWX_Out<char>&>(stream).PutData("8-bit text", 10);
  }
};

struct RunOut : DWX_UnicodesRun_Out, DWX_MultibytesRun_Out {
  RunOut(int kind, DWX_StringsMap& s) : m_kind(kind), m_strings(s) {}
  void Call(DWX_OutFolder& run) override {
    if (m_kind == 0) {
      UnitsOut units;
      ProcessUnicodes(run, units, DWX_Names::Unicodes);
      AttrsSet().AddAttr(u"bold", u"on", m_strings);
      AttrsSet().Store(run, DWX_Names::Attrs);
    } else {
      BytesOut bytes;
      ProcessMultibytes(run, bytes, DWX_Names::Multibytes);
    }
  }
  int m_kind;
  DWX_StringsMap& m_strings;
};

struct ParagraphOut : DWX_Paragraph_Out {
  ParagraphOut(int p, DWX_StringsMap& s) : m_index(p), m_strings(s) {}
  void Call(DWX_OutFolder& paragraph) override {
    StoreStyleRef(paragraph, m_index % 7, DWX_Names::StyleRef);
    AttrsSet().AddAttr(u"font", Font(m_index), m_strings);
    AttrsSet().AddAttr(u"size", u"9", m_strings);
    for (int r = 0; r < 2; ++r) {
      RunOut run(r, m_strings);
      ProcessTextRun(paragraph, run, r, DWX_Names::TextRun);
    }
    AttrsSet().Store(paragraph, DWX_Names::Attrs);
  }
  int m_index;
  DWX_StringsMap& m_strings;
};

// `count` elements, each written by `Element` (index, strings).
template <class Set, class Element>
struct SetOut : Set {
  SetOut(int count, DWX_StringsMap& s) : m_count(count), m_strings(s) {}
  void Call(DWX_OutFolder& set) override {
    for (int i = 0; i < m_count; ++i) {
      Element element(i, m_strings);
      this->ProcessElement(set, element, i);
    }
  }
  int m_count;
  DWX_StringsMap& m_strings;
};

struct StoryOut : DWX_Story_Out {
  StoryOut(int, DWX_StringsMap& s) : m_strings(s) {}
  void Call(DWX_OutFolder& story) override {
    SetOut<DWX_ParagraphsSet_Out, ParagraphOut> paragraphs(kParagraphsPerStory, m_strings);
    ProcessParagraphsSet(story, paragraphs, DWX_Names::ParagraphsSet);
  }
  DWX_StringsMap& m_strings;
};

struct DocumentOut : DWX_Document_Out {
  DocumentOut(int stories, DWX_StringsMap& s) : m_stories(stories), m_strings(s) {}
  void Call(DWX_OutFolder& document) override {
    SetOut<DWX_StoriesSet_Out, StoryOut> stories(m_stories, m_strings);
    ProcessStoriesSet(document, stories, DWX_Names::StoriesSet);
  }
  int m_stories;
  DWX_StringsMap& m_strings;
};

struct BookOut : DWX_Book_Out {
  explicit BookOut(int stories) : m_stories(stories) {}
  void Call(DWX_OutFolder& book) override {
    struct Documents : DWX_DocumentsSet_Out {
      Documents(int stories, DWX_StringsMap& s) : m_stories(stories), m_strings(s) {}
      void Call(DWX_OutFolder& set) override {
        DocumentOut document(m_stories, m_strings);
        ProcessElement(set, document, 0);
      }
      int m_stories;
      DWX_StringsMap& m_strings;
    } documents(m_stories, StringsMap());
    ProcessDocumentsSet(book, documents, DWX_Names::DocumentsSet);
    AttrsSet().Store(book, DWX_Names::Attrs);
  }
  int m_stories;
};

template <class T>
struct Drain : DWX_InStreamProcessor {
  size_t& units;
  explicit Drain(size_t& u) : units(u) {}
  void Call(DWX_InStream& stream) override {
    units += DrainUnits<T>(stream);
  }
};

struct Counts {
  long paragraphs = 0;
  size_t units = 0;
};

struct RunIn : DWX_TextRun_In {
  RunIn(Counts& c, const DWX_StringsMap& s) : m_counts(c), m_strings(s) {}
  void Call(DWX_InFolder& run) override {
    dwx_long style = -1;
    RestoreStyleRef(run, style, DWX_Names::StyleRef);
    AttrsSet().Restore(run, DWX_Names::Attrs, &m_strings);
    Drain<char> bytes(m_counts.units);
    Drain<uint16_t> units(m_counts.units);
    if (!ProcessMultibytes(run, bytes, DWX_Names::Multibytes))
      ProcessUnicodes(run, units, DWX_Names::Unicodes);
  }
  Counts& m_counts;
  const DWX_StringsMap& m_strings;
};

struct ParagraphIn : DWX_Paragraph_In {
  ParagraphIn(Counts& c, const DWX_StringsMap& s) : m_counts(c), m_strings(s) {}
  void Call(DWX_InFolder& paragraph) override {
    ++m_counts.paragraphs;
    dwx_long style = -1;
    RestoreStyleRef(paragraph, style, DWX_Names::StyleRef);
    AttrsSet().Restore(paragraph, DWX_Names::Attrs, &m_strings);
    for (dwx_long r = 0;; ++r) {
      RunIn run(m_counts, m_strings);
      if (!ProcessTextRun(paragraph, run, r, DWX_Names::TextRun)) return;
    }
  }
  Counts& m_counts;
  const DWX_StringsMap& m_strings;
};

template <class Set, class Element>
struct SetIn : Set {
  SetIn(Counts& c, const DWX_StringsMap& s) : m_counts(c), m_strings(s) {}
  void Call(DWX_InFolder& set) override {
    for (dwx_long i = 0;; ++i) {
      Element element(m_counts, m_strings);
      if (!this->ProcessElement(set, element, i)) return;
    }
  }
  Counts& m_counts;
  const DWX_StringsMap& m_strings;
};

struct StoryIn : DWX_Story_In {
  StoryIn(Counts& c, const DWX_StringsMap& s) : m_counts(c), m_strings(s) {}
  void Call(DWX_InFolder& story) override {
    SetIn<DWX_ParagraphsSet_In, ParagraphIn> paragraphs(m_counts, m_strings);
    ProcessParagraphsSet(story, paragraphs, DWX_Names::ParagraphsSet);
  }
  Counts& m_counts;
  const DWX_StringsMap& m_strings;
};

struct DocumentIn : DWX_Document_In {
  DocumentIn(Counts& c, const DWX_StringsMap& s) : m_counts(c), m_strings(s) {}
  void Call(DWX_InFolder& document) override {
    SetIn<DWX_StoriesSet_In, StoryIn> stories(m_counts, m_strings);
    ProcessStoriesSet(document, stories, DWX_Names::StoriesSet);
  }
  Counts& m_counts;
  const DWX_StringsMap& m_strings;
};

struct BookIn : DWX_Book_In {
  Counts counts;
  void Call(DWX_InFolder& book) override {
    SetIn<DWX_DocumentsSet_In, DocumentIn> documents(counts, StringsMap());
    ProcessDocumentsSet(book, documents, DWX_Names::DocumentsSet);
  }
};

void WriteFirst(MemoryFile& file, int stories) {
  auto root = CreateDWXFolder2(file.Medium(), false);
  BookOut book(stories);
  DWX_Book_Out_Creator(book).Call(*root);
  root->Complete();
}

Counts ReadFirst(MemoryFile& file) {
  BookIn book;
  DWX_Book_In_Opener(book).Call(*OpenDWXFolder2(file.Medium()));
  return book.counts;
}

// ---- Second generation -----------------------------------------------------------------------

struct Run_Out2 : DWX_UnicodesRun_Out2, DWX_MultibytesRun_Out2 {
  explicit Run_Out2(const DWX_Handle<DWX_OutFolder2>& f)
      : DWX_TextRun_Out2(f), DWX_UnicodesRun_Out2(f), DWX_MultibytesRun_Out2(f) {}
};

void WriteSecond(MemoryFile& file, int stories) {
  auto root = CreateDWXFolder2(file.Medium(), false);
  {
    DWX_Book_Out2 book(root);
    DWX_StringsMap& strings = book.StringsMap();
    {
      DWX_DocumentsSet_Out2 documents(book.CreateDocumentsSet(DWX_Names::DocumentsSet),
                                      DWX_Names::Document);
      DWX_Document_Out2 document(documents.CreateElement(0));
      DWX_StoriesSet_Out2 set(document.CreateStoriesSet(DWX_Names::StoriesSet), DWX_Names::Story);
      for (int s = 0; s < stories; ++s) {
        DWX_Story_Out2 story(set.CreateElement(s));
        DWX_ParagraphsSet_Out2 paragraphs(story.CreateParagraphsSet(DWX_Names::ParagraphsSet),
                                          DWX_Names::Paragraph);
        for (int p = 0; p < kParagraphsPerStory; ++p) {
          DWX_Paragraph_Out2 paragraph(paragraphs.CreateElement(p));
          paragraph.SaveStyleRef(p % 7, DWX_Names::StyleRef);
          paragraph.AttrsSet().AddAttr(u"font", Font(p), strings);
          paragraph.AttrsSet().AddAttr(u"size", u"9", strings);
          {
            Run_Out2 run(paragraph.CreateTextRun(0, DWX_Names::TextRun));
            dynamic_cast<DWX_Out<uint16_t>&>(*run.CreateUnicodes(DWX_Names::Unicodes))
                .PutData(kUnits.data(), dwx_ulong(kUnits.size()));
            run.AttrsSet().AddAttr(u"bold", u"on", strings);
            run.SaveAttrsSet(DWX_Names::Attrs);
          }
          {
            Run_Out2 run(paragraph.CreateTextRun(1, DWX_Names::TextRun));
            dynamic_cast<DWX_Out<char>&>(*run.CreateMultibytes(DWX_Names::Multibytes))
                .PutData("8-bit text", 10);
          }
          paragraph.SaveAttrsSet(DWX_Names::Attrs);
        }
      }
    }
    book.SaveAttrsSet(DWX_Names::Attrs);
    book.Finish();
  }
  root->Complete();
}

Counts ReadSecond(MemoryFile& file) {
  Counts counts;
  DWX_Book_In2 book(OpenDWXFolder2(file.Medium()));
  const DWX_StringsMap& strings = book.StringsMap();
  DWX_DocumentsSet_In2 documents(book.OpenDocumentsSet(DWX_Names::DocumentsSet),
                                 DWX_Names::Document);
  DWX_Document_In2 document(documents.OpenElement(0));
  DWX_StoriesSet_In2 stories(document.OpenStoriesSet(DWX_Names::StoriesSet), DWX_Names::Story);
  for (dwx_long s = 0;; ++s) {
    DWX_Story_In2 story(stories.OpenElement(s));
    if (!story.Valid()) break;
    counts.paragraphs += ReadParagraphs(story, strings, [&](DWX_TextRun_In2& run) {
      if (auto m = run.OpenMultibytes(DWX_Names::Multibytes)) {
        counts.units += DrainUnits<char>(*m);
      } else if (auto u = run.OpenUnicodes(DWX_Names::Unicodes)) {
        counts.units += DrainUnits<uint16_t>(*u);
      }
    });
  }
  return counts;
}

// ---- Benchmarks ------------------------------------------------------------------------------

template <void (*Write)(MemoryFile&, int)>
void BM_Write(benchmark::State& state) {
  const int stories = int(state.range(0));
  for (auto _ : state) {
    MemoryFile file;
    Write(file, stories);
    benchmark::DoNotOptimize(file.code.Size());
  }
  state.counters["paragraphs/s"] = benchmark::Counter(
      double(stories) * kParagraphsPerStory, benchmark::Counter::kIsIterationInvariantRate);
}

template <void (*Write)(MemoryFile&, int), Counts (*Read)(MemoryFile&)>
void BM_Read(benchmark::State& state) {
  const int stories = int(state.range(0));
  MemoryFile file;
  Write(file, stories);
  for (auto _ : state) {
    const Counts counts = Read(file);
    if (counts.paragraphs != long(stories) * kParagraphsPerStory || counts.units == 0)
      state.SkipWithError("the book did not read back whole");
  }
  state.counters["paragraphs/s"] = benchmark::Counter(
      double(stories) * kParagraphsPerStory, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_Write<WriteFirst>)->Name("Write/processors")->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write<WriteSecond>)->Name("Write/handlers")->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read<WriteFirst, ReadFirst>)->Name("Read/processors")->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read<WriteSecond, ReadSecond>)->Name("Read/handlers")->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
