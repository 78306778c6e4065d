// Text flow of the emulated host: setting a story of 10,000 characters through a chain of
// three boxes (the line records of one call 21), and the same with wide (CJK) text.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <unistd.h>

#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/LineRecords.h"
#include "platform/host/documents/TextFlow.h"
#include "platform/host/documents/testing/DocBuilder.h"

namespace {

using namespace xthost::doc;

constexpr int32_t pt(int32_t points) { return points * 65536; }

DocBuilder Builder(const std::u16string& unit, size_t length, uint32_t* box)
{
    DocBuilder b;
    const int32_t cf = b.PlainText(pt(10));
    b.Page(0);
    b.Page(0);
    b.Page(0);
    std::vector<uint32_t> chain;
    for (int32_t s = 0; s < 3; ++s)
        chain.push_back(b.TextBox(Place::OnSpread(s), Rect{pt(36), pt(36), pt(756), pt(576)}));
    std::u16string text;
    while (text.size() < length)
        text += unit;
    text.resize(length);
    b.Story({chain[0], chain[1], chain[2]}).Text(text, cf).End();
    *box = chain[0];
    return b;
}

std::unique_ptr<Project> Document(const std::u16string& unit, size_t length, uint32_t* box)
{
    return Builder(unit, length, box).Build();
}

void Lines(benchmark::State& state, const std::u16string& unit)
{
    uint32_t uid = 0;
    auto project = Document(unit, 10000, &uid);
    const Layout& layout = *project->layouts.front();
    const Story& story = *layout.FindStory(layout.FindBox(uid)->story);
    size_t lines = 0;
    for (auto _ : state) {
        const StoryLines set = LayOutStory(*project, layout, story);
        lines = set.lines.size();
        benchmark::DoNotOptimize(lines);
    }
    state.counters["lines"] = double(lines);
}

void LatinStory(benchmark::State& state) { Lines(state, u"The quick brown fox jumps over the lazy dog. "); }
void WideStory(benchmark::State& state) { Lines(state, u"\u65E5\u672C\u8A9E\u306E\u6587\u7AE0\u3002"); }
void ParagraphStory(benchmark::State& state) { Lines(state, u"A short paragraph of text.\r"); }

// Call 21 as the import's fit test makes it: the story unchanged since the last call.
void CachedCall21(benchmark::State& state)
{
    uint32_t uid = 0;
    const std::string path = "/tmp/kesto-flow-bench-" + std::to_string(::getpid()) + ".qxp";
    if (!WriteFileAtomically(path, Builder(u"The quick brown fox jumps over the lazy dog. ", 10000, &uid).Bytes())) {
        state.SkipWithError("cannot write the document");
        return;
    }
    DocHost docs;
    docs.Open(path, 63);
    std::remove(path.c_str());
    const int32_t box = docs.BoxHandle(uid);
    std::vector<uint8_t> records;
    for (auto _ : state) {
        LineRecords(docs, box, &records);
        benchmark::DoNotOptimize(records.data());
    }
    state.counters["records"] = double(records.size() / kLineRecordSize);
}

BENCHMARK(LatinStory)->Unit(benchmark::kMicrosecond);
BENCHMARK(WideStory)->Unit(benchmark::kMicrosecond);
BENCHMARK(ParagraphStory)->Unit(benchmark::kMicrosecond);
BENCHMARK(CachedCall21)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
