// Writes a book through the book writers into a compound file and reads it back through the
// readers, at three sizes, so that the cost per paragraph shows whether it grows linearly.
//
//   BookBench [folder for the temporary files] [stories at full size] [rounds]
//   BookBench --write FILE STORIES | --read FILE
//
// The second form does one write or one read in this process, for a profiler or a simulator.
//
// Full size: 1,000 stories of 100 paragraphs (the book of tests/Container/Model/ParagraphsBook.h).
// Sizes: a hundredth, a tenth, half and all of it. Every write and every read runs in a child
// process of its own, so that the peak memory (ru_maxrss) reported is that work's own; figures
// are medians of the rounds. Each child first writes or reads a book of one story, untimed: a
// fresh process pays about 2 ms once (first touch of its heap, symbol binding, cold code), which
// a folder or server run pays once for thousands of books, and which would otherwise show as a
// cost per paragraph of the smallest book alone.
#include "Container/Model/BookWriters.h"
#include "Container/Model/Storages.h"
#include "Container/Storage/OLEStorage.h"
#include "bench/model/BookRuns.h"
#include "tests/Container/Model/ParagraphsBook.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace book_runs;
using paragraphs_book::kParagraphsPerStory;

struct Size {
  int stories;
  std::string path;
  std::vector<double> write, read, writePeak, readPeak;
  double fileMiB = 0;
  bool mismatch = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 3 && std::string(argv[1]) == "--write") {
    paragraphs_book::WriteBook(argv[2], std::atoi(argv[3]));
    return 0;
  }
  if (argc > 2 && std::string(argv[1]) == "--read") {
    size_t units = 0;
    const long paragraphs = ReadBook(argv[2], units);
    std::printf("%ld paragraphs, %zu units\n", paragraphs, units);
    return 0;
  }
  const std::string folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
  const int full = argc > 2 ? std::atoi(argv[2]) : 1000;
  const int repetitions = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  std::vector<Size> sizes;
  for (int stories : {full / 100, full / 10, full / 2, full})
    if (stories > 0)
      sizes.push_back({stories, folder + "/kesto-bookbench-" + std::to_string(getpid()) + "-" +
                                    std::to_string(stories) + ".dwq", {}, {}, {}, {}, 0, false});
  const std::string prefix = folder + "/kesto-bookbench-" + std::to_string(getpid());
  const std::string warmRead = prefix + "-warm-read.dwq", warmWrite = prefix + "-warm-write.dwq";
  paragraphs_book::WriteBook(warmRead, 1);
  // Every size once per round, the order rotating from round to round.
  for (int r = 0; r < repetitions; ++r) {
    for (size_t k = 0; k < sizes.size(); ++k) {
      Size& size = sizes[(r + k) % sizes.size()];
      const long paragraphs = long(size.stories) * kParagraphsPerStory;
      const Figures w = InChild([&] {
        paragraphs_book::WriteBook(warmWrite, 1);
        const auto start = Clock::now();
        paragraphs_book::WriteBook(size.path, size.stories);
        return Figures{Seconds(start), 0, paragraphs};
      });
      size.fileMiB = double(std::filesystem::file_size(size.path)) / (1 << 20);
      const Figures rd = InChild([&] {
        size_t units = 0;
        ReadBook(warmRead, units);
        units = 0;
        const auto start = Clock::now();
        const long read = ReadBook(size.path, units);
        return Figures{Seconds(start), 0, units > 0 ? read : -1};
      });
      std::filesystem::remove(size.path);
      size.mismatch |= rd.paragraphs != paragraphs;
      size.write.push_back(1e6 * w.seconds / double(paragraphs));
      size.read.push_back(1e6 * rd.seconds / double(paragraphs));
      size.writePeak.push_back(w.peak);
      size.readPeak.push_back(rd.peak);
    }
  }
  std::filesystem::remove(warmRead);
  std::filesystem::remove(warmWrite);
  std::printf("median of %d rounds, each process warmed by a book of one story; peak: the process's largest"
              " resident memory\n",
              repetitions);
  for (const Size& size : sizes) {
    std::printf("%5d stories %7ld paragraphs, file %6.1f MiB | write %5.1f us/par, peak %6.1f MiB (%.2f of the"
                " file) | read %5.1f us/par, peak %6.1f MiB (%.2f of the file)%s\n",
                size.stories, long(size.stories) * kParagraphsPerStory, size.fileMiB, Median(size.write),
                Median(size.writePeak), Median(size.writePeak) / size.fileMiB, Median(size.read),
                Median(size.readPeak), Median(size.readPeak) / size.fileMiB, size.mismatch ? "  MISMATCH" : "");
  }
  const Size& small = sizes.front();
  const Size& large = sizes.back();
  std::printf("us per paragraph, %ld -> %ld paragraphs: write x%.2f, read x%.2f\n",
              long(small.stories) * kParagraphsPerStory, long(large.stories) * kParagraphsPerStory,
              Median(large.write) / Median(small.write), Median(large.read) / Median(small.read));
  return 0;
}
