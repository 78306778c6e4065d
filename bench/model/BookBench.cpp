// Writes a book through the book writers into a compound file and reads it back through the
// readers, at three sizes, so that the cost per paragraph shows whether it grows linearly.
//
//   BookBench [folder for the temporary files] [stories at full size]
//
// Full size: 1,000 stories of 100 paragraphs; each paragraph has a style reference, two
// attributes and three runs: UTF-16 text with attributes, then special characters or 8-bit text,
// then UTF-16 text with a style reference. Each size runs in a child process, so that the peak
// memory (ru_maxrss) reported is that size's own.
#include "Container/Model/BookWriters.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/OLEStorage.h"
#include "bench/model/BookWalk.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kParagraphsPerStory = 100;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The process's peak resident memory so far.
double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024;
}

template <class T>
void Put(const DWX_Handle<DWX_OutStream2>& stream, const T* values, size_t count) {
  dynamic_cast<DWX_Out<T>&>(*stream).PutData(values, dwx_ulong(count));
}

struct Run_Out : DWX_UnicodesRun_Out2, DWX_MultibytesRun_Out2, DWX_SpecialCharsRun_Out2 {
  explicit Run_Out(const DWX_Handle<DWX_OutFolder2>& f)
      : DWX_TextRun_Out2(f), DWX_UnicodesRun_Out2(f), DWX_MultibytesRun_Out2(f),
        DWX_SpecialCharsRun_Out2(f) {}
};

void WriteParagraph(DWX_ParagraphsSet_Out2& paragraphs, int index, DWX_StringsMap& strings,
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

void WriteBook(const std::string& path, int stories) {
  std::vector<uint16_t> text;
  for (const char16_t c : std::u16string(u"Translatable text of a paragraph, \u00E9\u00E8 \u3042 "))
    text.push_back(c);
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
        for (int p = 0; p < kParagraphsPerStory; ++p) WriteParagraph(paragraphs, p, strings, text);
        const std::u16string id(1, char16_t(u'0' + s % 10));
        story.AttrsSet().AddAttr(u"uniqID", id.c_str(), strings);
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

// Answers the paragraphs read.
long ReadBook(const std::string& path, size_t& units) {
  OLEStorage root(path.c_str(), CD_OpenRead);
  DWX_InStorage2* container = OpenDWX2(root);
  long count = 0;
  {
    DWX_Book_In2 book(container->OpenFolder2());
    const DWX_StringsMap& strings = book.StringsMap();
    DWX_DocumentsSet_In2 documents(book.OpenDocumentsSet(DWX_Names::DocumentsSet),
                                   DWX_Names::Document);
    for (dwx_long d = 0;; ++d) {
      DWX_Document_In2 document(documents.OpenElement(d));
      if (!document.Valid()) break;
      DWX_StoriesSet_In2 stories(document.OpenStoriesSet(DWX_Names::StoriesSet), DWX_Names::Story);
      for (dwx_long s = 0;; ++s) {
        DWX_Story_In2 story(stories.OpenElement(s));
        if (!story.Valid()) break;
        story.LoadAttrsSet(DWX_Names::Attrs, strings);
        count += ReadParagraphs(story, strings, [&](DWX_TextRun_In2& run) {
          if (auto m = run.OpenMultibytes(DWX_Names::Multibytes)) {
            units += DrainUnits<char>(*m);
          } else if (auto u = run.OpenUnicodes(DWX_Names::Unicodes)) {
            units += DrainUnits<uint16_t>(*u);
          } else if (auto b = run.OpenSpecialChars(DWX_Names::SpecialChars)) {
            DWX_SpecialChar_Rec_In record;
            while (b->GetRecord(record)) units += strings[record.m_NameRef] ? 1 : 0;
          }
        });
      }
    }
  }
  container->Release();
  return count;
}

void RunSize(const std::string& folder, int stories) {
  const std::string path = folder + "/kesto-bookbench-" + std::to_string(getpid()) + ".dwq";
  const long paragraphs = long(stories) * kParagraphsPerStory;
  auto start = Clock::now();
  WriteBook(path, stories);
  const double write = Seconds(start);
  const double writePeak = PeakMiB();
  const auto size = std::filesystem::file_size(path);
  start = Clock::now();
  size_t units = 0;
  const long read = ReadBook(path, units);
  const double readTime = Seconds(start);
  std::filesystem::remove(path);
  std::printf("%5d stories %7ld paragraphs, file %6.1f MiB | write %5.2f s %7.0f par/s %5.1f us/par,"
              " peak %6.1f MiB | read %5.2f s %7.0f par/s %5.1f us/par, peak %6.1f MiB%s\n",
              stories, paragraphs, double(size) / (1 << 20), write, paragraphs / write,
              1e6 * write / double(paragraphs), writePeak, readTime, read / readTime,
              1e6 * readTime / double(read), PeakMiB(),
              read == paragraphs && units > 0 ? "" : "  MISMATCH");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
  const int full = argc > 2 ? std::atoi(argv[2]) : 1000;
  for (int stories : {full / 10, full / 2, full}) {
    if (stories <= 0) continue;
    const pid_t child = fork();
    if (child == 0) {
      RunSize(folder, stories);
      std::_Exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "size %d failed\n", stories);
      return 1;
    }
  }
  return 0;
}
