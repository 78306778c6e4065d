// The module's most frequent story work: after each edit it re-reads the story (its runs,
// paragraph runs and characters). A story of 10,000 characters with paragraphs, hidden runs
// and tag runs; reads and edits must stay well under a millisecond.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/DocBuilder.h"

namespace {

using namespace xthost::doc;

struct Opened {
    DocHost host;
    int32_t text = 0;
};

Opened& Story10k()
{
    static Opened* opened = [] {
        DocBuilder b;
        const CharFormat body = b.DejaVuBlack(1, 12 << 16);
        const int32_t cf = b.CharFormat(body);
        CharFormat tagged = body;
        tagged.tag = 0x00414B42;
        const int32_t tag = b.CharFormat(tagged);
        ParaFormat normal;
        normal.style = 1;
        const int32_t pf = b.ParaFormat(normal);
        b.StyleSheet(1, "Normal", cf, pf);
        b.Layout("Layout 1", 612 << 16, 792 << 16, 36 << 16);
        b.Page(0);
        const uint32_t box = b.TextBox(Place::OnSpread(0), Rect{36 << 16, 36 << 16, 756 << 16, 576 << 16});
        StoryBuilder s = b.Story({box});
        s.Para(pf);
        for (int i = 0; i < 125; ++i)  // 125 paragraphs of 80 characters
            s.Text(u"Some text of a long story ", cf)
                .Hidden(0x45, "ab", cf)
                .Text(u"tagged", tag)
                .Hidden(0x25, "ab", cf)
                .Uniq(i, cf)
                .Text(u" and the rest of its paragraph, to the end.\r", cf);
        s.End();
        char folder[] = "/tmp/xthost-story-bench-XXXXXX";
        const std::string path = std::string(::mkdtemp(folder) ? folder : "/tmp") + "/story.qxp";
        WriteFileAtomically(path, b.Bytes());
        auto* o = new Opened;
        o->host.Open(path, 63);
        int32_t length = 0;
        o->host.StoryOfBox(o->host.BoxHandle(box), &o->text, &length);
        return o;
    }();
    return *opened;
}

// A story refresh: the text handle, both run tables and the characters.
void BM_StoryRefresh(benchmark::State& state)
{
    Opened& o = Story10k();
    std::vector<RunEntry> styles, paras;
    std::u16string chars;
    for (auto _ : state) {
        o.host.StyleRuns(o.text, &styles);
        o.host.ParagraphRuns(o.text, &paras);
        o.host.StoryText(o.text, &chars);
        benchmark::DoNotOptimize(paras.data());
    }
    state.counters["chars"] = static_cast<double>(chars.size());
    state.counters["para_runs"] = static_cast<double>(paras.size());
}
BENCHMARK(BM_StoryRefresh)->Unit(benchmark::kMicrosecond);

// One character in and out again in the middle of the story.
void BM_InsertAndDelete(benchmark::State& state)
{
    Opened& o = Story10k();
    for (auto _ : state) {
        o.host.InsertText(o.text, 5000, u"x");
        o.host.DeleteText(o.text, 5000, 5001);
    }
}
BENCHMARK(BM_InsertAndDelete)->Unit(benchmark::kMicrosecond);

// A copy of a paragraph with its hidden and tag runs, then its removal.
void BM_CopyParagraph(benchmark::State& state)
{
    Opened& o = Story10k();
    for (auto _ : state) {
        o.host.CopyText(o.text, 80, 160, o.text, 0);
        o.host.DeleteText(o.text, 0, 80);
    }
}
BENCHMARK(BM_CopyParagraph)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
