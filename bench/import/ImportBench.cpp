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
    std::printf("%d %.6f %ld\n", paragraphs, seconds, kesto_bench::PeakKibibytes());
    return 0;
}

int Table(const std::string& self, Shape shape, const std::vector<int>& sizes)
{
    return kesto_bench::Table(
        "import", shape, sizes,
        [&](int n) { return "'" + self + "' run " + kesto_bench::ShapeName(shape) + " " + std::to_string(n); },
        [](const char* line, kesto_bench::Figure& f) {
            int read = 0;
            long peak = 0;
            if (std::sscanf(line, "%d %lf %ld", &read, &f.seconds, &peak) != 3)
                return false;
            f.peakMiB = peak / 1024.0;
            return true;
        });
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
        return Table(self, shape, sizes);
    }
    if (argc != 1) {
        std::fprintf(stderr, "usage: ImportBench [stories|chained N...]\n");
        return 2;
    }
    int status = 0;
    for (Shape s : {Shape::Stories, Shape::Chained})
        status |= Table(self, s, {1000, 10000, 100000});
    return status;
}
