// Opening and saving a large host document: 200 pages and 2,000 text boxes, each with a
// story, as a long document's layout has them. The target is well under a second each.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/DocBuilder.h"

namespace {

using namespace xthost::doc;

const std::string& LargeDocument()
{
    static const std::string bytes = LongDocument(true);
    return bytes;
}

std::string TempFolder()
{
    static const std::string folder = [] {
        char name[] = "/tmp/xthost-bench-XXXXXX";
        return std::string(::mkdtemp(name) ? name : "/tmp");
    }();
    return folder;
}

void BM_ParseLargeDocument(benchmark::State& state)
{
    const std::string& bytes = LargeDocument();
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseDocument(bytes));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ParseLargeDocument)->Unit(benchmark::kMillisecond);

void BM_PrintLargeDocument(benchmark::State& state)
{
    auto project = ParseDocument(LargeDocument());
    for (auto _ : state)
        benchmark::DoNotOptimize(PrintDocument(*project));
}
BENCHMARK(BM_PrintLargeDocument)->Unit(benchmark::kMillisecond);

// The document calls: open the file (read, check, issue handles), then save it elsewhere.
void BM_OpenAndSaveLargeDocument(benchmark::State& state)
{
    const std::string source = TempFolder() + "/large.qxp";
    const std::string target = TempFolder() + "/large-saved.qxp";
    WriteFileAtomically(source, LargeDocument());
    for (auto _ : state) {
        DocHost host;
        if (host.Open(source, 63) != HostErr::Ok || host.SaveAs(target) != HostErr::Ok)
            state.SkipWithError("open or save failed");
    }
}
BENCHMARK(BM_OpenAndSaveLargeDocument)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
