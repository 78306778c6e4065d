// The long documents the import and export benchmarks share, so that their figures compare:
// paragraphs of two formatted runs with a hidden pair in every fifth, either in stories of 10
// paragraphs (a text box each, four boxes a page) or in one story chained through a box a page.
#pragma once

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "platform/host/documents/testing/DirectoryExample.h"

namespace kesto_bench {

enum class Shape { Stories, Chained };

inline const char* ShapeName(Shape shape) { return shape == Shape::Stories ? "stories" : "chained"; }

inline bool ParseShape(const char* name, Shape* shape)
{
    for (Shape s : {Shape::Stories, Shape::Chained})
        if (std::strcmp(name, ShapeName(s)) == 0) {
            *shape = s;
            return true;
        }
    return false;
}

inline std::string LongDocument(Shape shape, int paragraphs)
{
    return xthost::doc::BuildLongDocument(paragraphs, shape == Shape::Chained);
}

// The peak resident memory of this process, in KiB.
inline long PeakKibibytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// What one child reports of its run.
struct Figure {
    double seconds = -1;
    double peakMiB = 0;
};

// Runs `command(paragraphs)` for each size in a process of its own, reads its figures with
// `parse` past the lines the module writes before them, and prints "what" shape, the time and
// the peak memory per size, and the ratio of the time per paragraph of the largest size to that
// of the smallest. Answers 1 when a child gave no figures.
inline int Table(const char* what, Shape shape, const std::vector<int>& sizes,
                 const std::function<std::string(int)>& command,
                 const std::function<bool(const char*, Figure&)>& parse)
{
    double first = 0, last = 0;
    for (int n : sizes) {
        Figure f;
        FILE* pipe = popen(command(n).c_str(), "r");
        char line[512];
        while (pipe && std::fgets(line, sizeof line, pipe)) {
            if (parse(line, f))
                break;
            f = Figure{};  // a line of the module's own that merely began like the figures
        }
        if (pipe)
            pclose(pipe);
        if (f.seconds < 0) {
            std::fprintf(stderr, "the %s %s of %d paragraphs failed\n", ShapeName(shape), what, n);
            return 1;
        }
        const double perParagraph = f.seconds * 1e6 / n;
        std::printf("%s %s %7d paragraphs: %9.3f s, %8.1f us per paragraph, peak memory %8.1f MiB\n", what,
                    ShapeName(shape), n, f.seconds, perParagraph, f.peakMiB);
        std::fflush(stdout);
        if (first == 0)
            first = perParagraph;
        last = perParagraph;
    }
    std::printf("%s %s: time per paragraph at %d against %d paragraphs: %.2f\n", what, ShapeName(shape),
                sizes.back(), sizes.front(), last / first);
    return 0;
}

}  // namespace kesto_bench
