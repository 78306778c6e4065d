// Writes a book through the book writers into a compound file and reads it back through the
// readers, at three sizes, so that the cost per paragraph shows whether it grows linearly.
//
//   BookBench [folder for the temporary files] [stories at full size]
//
// Full size: 1,000 stories of 100 paragraphs (the book of tests/Container/Model/ParagraphsBook.h).
// Each size runs in a child process, so that the peak memory (ru_maxrss) reported is that size's
// own.
#include "Container/Model/BookWriters.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/OLEStorage.h"
#include "bench/model/BookWalk.h"
#include "tests/Container/Model/ParagraphsBook.h"

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
using paragraphs_book::kParagraphsPerStory;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The process's peak resident memory so far.
double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024;
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
  paragraphs_book::WriteBook(path, stories);
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
  for (int stories : {full / 100, full / 10, full / 2, full}) {
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
