// What the book benchmarks share: the whole book read back through the second-generation
// readers, and the timing of one piece of work in a child process of its own.
#pragma once

#include "Container/Model/Storages.h"
#include "Container/Storage/OLEStorage.h"
#include "bench/model/BookWalk.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace book_runs {

using Clock = std::chrono::steady_clock;
inline double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The process's peak resident memory so far.
inline double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024;
}

// Answers the paragraphs read.
inline long ReadBook(const std::string& path, size_t& units) {
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

struct Figures {
  double seconds = 0;
  double peak = 0;
  long paragraphs = 0;
};

// Runs `work` in a child process of its own, so that the peak memory is the work's alone.
template <class Work>
Figures InChild(Work work) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    Figures f = work();
    f.peak = PeakMiB();
    if (write(fds[1], &f, sizeof f) != sizeof f) std::_Exit(1);
    std::_Exit(0);
  }
  close(fds[1]);
  Figures f;
  const bool got = read(fds[0], &f, sizeof f) == sizeof f;
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "a child failed\n");
    std::exit(1);
  }
  return f;
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace book_runs
