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
    static const std::string bytes = [] {
        DocBuilder b;
        const int32_t cf = b.CharFormat(b.DejaVuBlack(1, 12 << 16));
        ParaFormat normal;
        normal.style = 1;
        b.StyleSheet(1, "Normal", cf, b.ParaFormat(normal));
        b.Layout("Layout 1", 612 << 16, 792 << 16, 36 << 16);
        for (int page = 0; page < 200; ++page) {
            const int32_t spread = b.Page(0);
            for (int i = 0; i < 10; ++i) {
                const int32_t top = (36 + i * 70) << 16;
                const uint32_t box = b.TextBox(Place::OnSpread(spread), Rect{top, 36 << 16, top + (60 << 16), 576 << 16});
                b.PrivateData(box, 0x08414B42, {0, 0, uint8_t(page), uint8_t(i)});
                b.Story({box})
                    .Text(u"Paragraph " + std::u16string(1, u'A' + i) + u" of a long document, with some text.\r", cf)
                    .Text(u"A second paragraph.", cf)
                    .End();
            }
        }
        return b.Bytes();
    }();
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
