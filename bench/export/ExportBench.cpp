// The export command, in process and unattended as a server run fires it, on the long documents
// the import benchmark reads too (bench/import/LongDocuments.h): stories of 10 paragraphs, or one
// story chained through a box a page. One size per process, so that the peak memory is this
// size's own:
//     ExportBench                 both shapes at 1,000, 10,000 and 100,000 paragraphs; prints the
//                                 time per paragraph, the peak memory and the ratio of the
//                                 time per paragraph at the largest size to that at the smallest
//     ExportBench SHAPE N [N...]  one shape ("stories" or "chained") at these sizes
//     ExportBench [SHAPE] N       one export (chained by default); prints: paragraphs, time,
//                                 time per paragraph (wall clock and processor), peak memory,
//                                 .dwq size
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/KestoInterface.h"
#include "Plugin/XTension/Activation.h"
#include "bench/import/LongDocuments.h"
#include "platform/host/Host.h"
#include "platform/host/HostExtensions.h"
#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocSlots.h"
#include "platform/host/documents/DocumentFile.h"

namespace fs = std::filesystem;
using namespace xthost::doc;
using kesto_bench::Shape;

namespace {

// Processor time of this process (user and system), in seconds: on a shared machine it varies
// less than the wall-clock time.
double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int RunOne(Shape shape, int paragraphs)
{
    char pattern[] = "/tmp/kesto-export-bench-XXXXXX";
    const fs::path folder = ::mkdtemp(pattern);
    fs::create_directories(folder / "XTensions");
    const fs::path home = fs::current_path();
    fs::current_path(folder);
    const std::string source = (folder / "long.qxp").string();
    const fs::path target = folder / "long.dwq";
    int status = 1;
    {
        LoadKestoModule();
        xthost::HostExtensions extensions;
        xthost::RegisterHostDocuments(extensions);
        xthost::HostOptions options;
        options.appFolder = folder.string();
        options.staticActivate = &XTActivateCallback;
        auto host = std::make_unique<xthost::Host>(options);
        host->Log().KeepLines(false);  // as a server runs it
        if (host->Start() == xthost::StartResult::kOk &&
            WriteFileAtomically(source, kesto_bench::LongDocument(shape, paragraphs)) &&
            xthost::DocumentsOf(*host).Open(source, 63) == HostErr::Ok) {
            CurrentJob->Reset();
            CurrentJob->kind = ConversionKind::ToExchange;
            CurrentJob->SetFileTypes();
            CurrentJob->source.SetPath(source);
            CurrentJob->target.SetPath(target.string());
            KestoInterface::Instance()->m_serverMode = true;
            OverwriteFlags.exchangeFile = true;

            const auto start = std::chrono::steady_clock::now();
            const double cpuStart = CpuSeconds();
            FireExportCurrentDocumentButton(nullptr);
            const double cpu = CpuSeconds() - cpuStart;
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

            std::error_code error;
            const auto size = fs::file_size(target, error);
            if (!error && size > 0) {
                std::printf("paragraphs %d: time %.3f s, per paragraph %.2f us (processor %.2f us), peak memory %.1f "
                            "MiB, .dwq %ju bytes\n",
                            paragraphs, seconds, seconds * 1e6 / paragraphs, cpu * 1e6 / paragraphs,
                            kesto_bench::PeakKibibytes() / 1024.0, static_cast<uintmax_t>(size));
                status = 0;
            } else {
                std::fprintf(stderr, "no exchange file was written\n");
            }
            KestoInterface::Instance()->m_serverMode = false;
        } else {
            std::fprintf(stderr, "the document did not open\n");
        }
        host->Quit();
        host.reset();
        UnloadKestoModule();
    }
    fs::current_path(home);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return status;
}

int Table(const std::string& self, Shape shape, const std::vector<int>& sizes)
{
    return kesto_bench::Table(
        "export", shape, sizes,
        [&](int n) { return "'" + self + "' " + kesto_bench::ShapeName(shape) + " " + std::to_string(n); },
        [](const char* line, kesto_bench::Figure& f) {
            int read = 0;
            double perParagraph = 0, processor = 0;
            return std::sscanf(line, "paragraphs %d: time %lf s, per paragraph %lf us (processor %lf us), peak memory %lf",
                               &read, &f.seconds, &perParagraph, &processor, &f.peakMiB) == 5;
        });
}

} // namespace

int main(int argc, char** argv)
{
    Shape shape = Shape::Chained;
    const bool shaped = argc > 1 && kesto_bench::ParseShape(argv[1], &shape);
    if (argc == 1) {
        int status = 0;
        for (Shape s : {Shape::Stories, Shape::Chained})
            status |= Table(fs::canonical("/proc/self/exe").string(), s, {1000, 10000, 100000});
        return status;
    }
    if (shaped && argc > 3) {
        std::vector<int> sizes;
        for (int i = 2; i < argc; ++i)
            sizes.push_back(std::atoi(argv[i]));
        return Table(fs::canonical("/proc/self/exe").string(), shape, sizes);
    }
    const int paragraphs = std::atoi(argv[shaped ? 2 : 1] ? argv[shaped ? 2 : 1] : "0");
    if (paragraphs <= 0 || argc > (shaped ? 3 : 2)) {
        std::fprintf(stderr, "usage: ExportBench [SHAPE N [N...]] | [SHAPE] N\n");
        return 2;
    }
    return RunOne(shape, paragraphs);
}
