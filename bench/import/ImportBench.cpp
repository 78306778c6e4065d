// The import of long documents (bench/import/LongDocuments.h): in stories of 10 paragraphs, and
// as one story chained through a box a page. The exchange file is written by an export in a
// process of its own, so that the import's process holds only what the import needs; only the
// import is timed.
//   ImportBench                     both shapes at 1,000, 10,000 and 100,000 paragraphs, each
//                                   size in a process of its own; prints the time per
//                                   paragraph, the peak memory and the ratio of the time per
//                                   paragraph at the largest size to that at the smallest
//   ImportBench SHAPE N [N...]      one shape ("stories" or "chained") at these sizes
//   ImportBench run SHAPE N         one import; prints "N SECONDS PEAK_KIB"
// Times are noisy on a busy machine; callgrind counts the import's instructions alone, with
// --collect-atstart=no --toggle-collect='Swing::ActionAdapter<XTVoidRec*, 17>::ActionPerformed*'.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/KestoInterface.h"
#include "Plugin/XTension/Activation.h"
#include "bench/import/LongDocuments.h"
#include "platform/host/Host.h"
#include "platform/host/HostExtensions.h"
#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocSlots.h"
#include "platform/host/documents/DocumentFile.h"
#include "tests/Plugin/UnattendedRuns.h"

namespace fs = std::filesystem;
using namespace xthost::doc;
using kesto_bench::Shape;

namespace {

long PeakKibibytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Runs `work` in a started host whose application folder is `folder`, as a server would: the
// transcript keeps no lines.
template <class Work>
bool InHost(const fs::path& folder, Work work)
{
    LoadKestoModule();
    bool ok = false;
    {
        xthost::HostExtensions extensions;
        xthost::RegisterHostDocuments(extensions);
        xthost::HostOptions options;
        options.appFolder = folder.string();
        options.staticActivate = &XTActivateCallback;
        xthost::Host host(options);
        host.Log().KeepLines(false);
        if (host.Start() == xthost::StartResult::kOk)
            ok = work(host);
        host.Quit();
    }
    UnloadKestoModule();
    return ok;
}

// Writes folder/long.dwq: the export of the document.
int Prepare(Shape shape, int paragraphs, const fs::path& folder)
{
    const fs::path source = folder / "long.qxp";
    const bool ok = InHost(folder, [&](xthost::Host& host) {
        if (!WriteFileAtomically(source.string(), kesto_bench::LongDocument(shape, paragraphs)) ||
            xthost::DocumentsOf(host).Open(source.string(), 63) != HostErr::Ok)
            return false;
        kesto_test::ExportFrontDocumentUnattended(source.string(), (folder / "long.dwq").string());
        return fs::exists(folder / "long.dwq");
    });
    return ok ? 0 : 1;
}

int RunOne(const char* self, Shape shape, int paragraphs)
{
    char pattern[] = "/tmp/kesto-import-bench-XXXXXX";
    const fs::path folder = ::mkdtemp(pattern);
    fs::create_directories(folder / "XTensions");
    std::ofstream(folder / "XTensions" / "kesto.ini") << "[Options]\nmasterPageMode=0\n";
    const fs::path home = fs::current_path();
    fs::current_path(folder);
    double seconds = -1;
    const std::string prepare = std::string("'") + self + "' prepare " + kesto_bench::ShapeName(shape) + " " +
                                std::to_string(paragraphs) + " '" + folder.string() + "'";
    if (std::system(prepare.c_str()) == 0) {
        const fs::path target = folder / "long-imported.qxp";
        InHost(folder, [&](xthost::Host&) {
            OverwriteFlags.document = true;
            const auto start = std::chrono::steady_clock::now();
            kesto_test::ImportUnattended((folder / "long.dwq").string(), target.string());
            const auto end = std::chrono::steady_clock::now();
            if (fs::exists(target))
                seconds = std::chrono::duration<double>(end - start).count();
            return true;
        });
    }
    fs::current_path(home);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    if (seconds < 0) {
        std::fprintf(stderr, "the import of %d paragraphs did not run\n", paragraphs);
        return 1;
    }
    std::printf("%d %.6f %ld\n", paragraphs, seconds, PeakKibibytes());
    return 0;
}

struct Figure {
    int paragraphs = 0;
    double seconds = -1;
    long peak = 0;
};

Figure Measure(const char* self, Shape shape, int paragraphs)
{
    const std::string command =
        std::string("'") + self + "' run " + kesto_bench::ShapeName(shape) + " " + std::to_string(paragraphs);
    Figure f;
    FILE* pipe = popen(command.c_str(), "r");
    char line[512];
    // The module may write lines of its own before the figures.
    while (pipe && f.seconds < 0 && std::fgets(line, sizeof line, pipe))
        if (std::sscanf(line, "%d %lf %ld", &f.paragraphs, &f.seconds, &f.peak) != 3)
            f.seconds = -1;
    if (pipe)
        pclose(pipe);
    return f;
}

int Table(const char* self, Shape shape, const std::vector<int>& sizes)
{
    std::vector<Figure> figures;
    for (int n : sizes) {
        figures.push_back(Measure(self, shape, n));
        const Figure& f = figures.back();
        if (f.seconds < 0) {
            std::fprintf(stderr, "the %s import of %d paragraphs failed\n", kesto_bench::ShapeName(shape), n);
            return 1;
        }
        std::printf("import %s %7d paragraphs: %9.3f s, %8.1f us per paragraph, peak memory %8.1f MiB\n",
                    kesto_bench::ShapeName(shape), n, f.seconds, f.seconds * 1e6 / n, f.peak / 1024.0);
        std::fflush(stdout);
    }
    const double first = figures.front().seconds / figures.front().paragraphs;
    const double last = figures.back().seconds / figures.back().paragraphs;
    std::printf("import %s: time per paragraph at %d against %d paragraphs: %.2f\n", kesto_bench::ShapeName(shape),
                figures.back().paragraphs, figures.front().paragraphs, last / first);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // The children are this program, wherever it was started from.
    const std::string self = fs::canonical("/proc/self/exe").string();
    Shape shape = Shape::Stories;
    if (argc == 5 && std::string(argv[1]) == "prepare" && kesto_bench::ParseShape(argv[2], &shape))
        return Prepare(shape, std::atoi(argv[3]), argv[4]);
    if (argc == 4 && std::string(argv[1]) == "run" && kesto_bench::ParseShape(argv[2], &shape))
        return RunOne(self.c_str(), shape, std::atoi(argv[3]));
    if (argc >= 3 && kesto_bench::ParseShape(argv[1], &shape)) {
        std::vector<int> sizes;
        for (int i = 2; i < argc; ++i)
            sizes.push_back(std::atoi(argv[i]));
        return Table(self.c_str(), shape, sizes);
    }
    if (argc != 1) {
        std::fprintf(stderr, "usage: ImportBench [stories|chained N...]\n");
        return 2;
    }
    int status = 0;
    for (Shape s : {Shape::Stories, Shape::Chained})
        status |= Table(self.c_str(), s, {1000, 10000, 100000});
    return status;
}
