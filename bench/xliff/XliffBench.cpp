// The XLIFF bridge on a book of 100,000 paragraphs (tests/Container/Model/ParagraphsBook.h: each
// paragraph has a run of another format, and special characters or 8-bit text, so every unit has
// codes): time and peak memory of extraction and of the merge of a translation, beside the floor,
// reading and writing the same book with the exchange library alone. The goal is twice the floor.
//
//   XliffBench [folder for the temporary files] [stories] [rounds]
//
// Every piece of work runs in a child process of its own, so that its peak memory (ru_maxrss) is
// its own; the figures are medians of the rounds.
#include "Container/Xliff/Xliff.h"
#include "bench/model/BookRuns.h"
#include "tests/Container/Model/ParagraphsBook.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace book_runs;

// The XLIFF with every target's text changed, as a translator would; sources stay.
void Translate(const std::string& from, const std::string& to) {
  std::ifstream in(from);
  std::ofstream out(to);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("    <target>", 0) == 0)
      for (size_t at = line.find("paragraph"); at != std::string::npos; at = line.find("paragraph", at))
        line.replace(at, 9, "Absatz");
    out << line << '\n';
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
  const int stories = argc > 2 ? std::atoi(argv[2]) : 1000;
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  const std::string prefix = folder + "/kesto-xliffbench-" + std::to_string(getpid());
  const std::string dwq = prefix + ".dwq", copy = prefix + "-copy.dwq", xlf = prefix + ".xlf",
                    translated = prefix + "-de.xlf", merged = prefix + "-de.dwq";
  const long paragraphs = long(stories) * paragraphs_book::kParagraphsPerStory;
  paragraphs_book::WriteBook(dwq, stories);
  kesto::xliff::ExtractOptions options;
  options.copySource = true;
  std::ostringstream quiet;
  if (kesto::xliff::Extract(dwq, xlf, options, quiet) != kesto::xliff::kAllMerged) {
    std::fprintf(stderr, "%s", quiet.str().c_str());
    return 1;
  }
  Translate(xlf, translated);
  std::vector<double> read, write, extract, merge, readPeak, writePeak, extractPeak, mergePeak;
  for (int r = 0; r < rounds; ++r) {
    const Figures rd = InChild([&] {
      size_t units = 0;
      const auto start = Clock::now();
      const long n = ReadBook(dwq, units);
      return Figures{Seconds(start), 0, n};
    });
    const Figures wr = InChild([&] {
      const auto start = Clock::now();
      paragraphs_book::WriteBook(copy, stories);
      return Figures{Seconds(start), 0, paragraphs};
    });
    const Figures ex = InChild([&] {
      std::ostringstream report;
      const auto start = Clock::now();
      const int code = kesto::xliff::Extract(dwq, xlf, kesto::xliff::ExtractOptions(), report);
      return Figures{Seconds(start), 0, code == 0 ? paragraphs : -1};
    });
    const Figures mg = InChild([&] {
      std::ostringstream report;
      const auto start = Clock::now();
      const int code = kesto::xliff::Merge(dwq, translated, merged, report);
      return Figures{Seconds(start), 0, code == 0 ? paragraphs : -1};
    });
    if (rd.paragraphs != paragraphs || ex.paragraphs != paragraphs || mg.paragraphs != paragraphs) {
      std::fprintf(stderr, "a run failed\n");
      return 1;
    }
    read.push_back(rd.seconds), readPeak.push_back(rd.peak);
    write.push_back(wr.seconds), writePeak.push_back(wr.peak);
    extract.push_back(ex.seconds), extractPeak.push_back(ex.peak);
    merge.push_back(mg.seconds), mergePeak.push_back(mg.peak);
  }
  const double fileMiB = double(std::filesystem::file_size(dwq)) / (1 << 20);
  const double xlfMiB = double(std::filesystem::file_size(translated)) / (1 << 20);
  for (const std::string& path : {dwq, copy, xlf, translated, merged}) std::filesystem::remove(path);
  const double floorTime = Median(read) + Median(write);
  const double floorPeak = std::max(Median(readPeak), Median(writePeak));
  std::printf("%ld paragraphs, exchange file %.1f MiB, XLIFF %.1f MiB; median of %d rounds\n", paragraphs, fileMiB,
              xlfMiB, rounds);
  std::printf("floor:   read %.2f s (peak %.1f MiB), write %.2f s (peak %.1f MiB)\n", Median(read),
              Median(readPeak), Median(write), Median(writePeak));
  std::printf("extract: %.2f s, peak %.1f MiB: x%.2f the floor's time (x%.2f the read alone), x%.2f its peak\n",
              Median(extract), Median(extractPeak), Median(extract) / floorTime, Median(extract) / Median(read),
              Median(extractPeak) / floorPeak);
  std::printf("merge:   %.2f s, peak %.1f MiB: x%.2f the floor's time, x%.2f its peak\n", Median(merge),
              Median(mergePeak), Median(merge) / floorTime, Median(mergePeak) / floorPeak);
  return 0;
}
