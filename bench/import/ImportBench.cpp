// The import of a long document: paragraphs in stories of 10, a text box each, two formatted runs
// a paragraph and a hidden pair in every fifth. The document is exported (not timed), and the
// import of the exchange file through the import command is timed.
//   ImportBench               runs 1,000 and 10,000 paragraphs, each run in a process of its
//                             own, five times in turn, and compares the medians of the time per
//                             paragraph (within 20 %)
//   ImportBench PARAGRAPHS    one size; prints "PARAGRAPHS SECONDS"
// Times are noisy on a busy machine; callgrind counts the import's instructions alone, with
// --collect-atstart=no --toggle-collect='Swing::ActionAdapter<XTVoidRec*, 17>::ActionPerformed*'.
#include <unistd.h>

#include <algorithm>
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
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/KestoInterface.h"
#include "Plugin/XTension/Activation.h"
#include "platform/host/Host.h"
#include "platform/host/HostExtensions.h"
#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocSlots.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/DocBuilder.h"
#include "tests/Plugin/UnattendedRuns.h"

namespace fs = std::filesystem;
using namespace xthost::doc;

namespace {

constexpr int kParagraphsPerStory = 10;
constexpr int kBoxesPerPage = 4;

std::string Document(int paragraphs)
{
    DocBuilder b;
    const CharFormat plainFormat = b.DejaVuBlack(1, 10 << 16);
    const int32_t plain = b.CharFormat(plainFormat);
    CharFormat boldFormat = plainFormat;
    boldFormat.face |= 1;
    const int32_t bold = b.CharFormat(boldFormat);
    ParaFormat normal;
    normal.style = 1;
    b.StyleSheet(1, "Normal", plain, b.ParaFormat(normal));
    b.Layout("Layout 1", 612 << 16, 792 << 16, 36 << 16);
    int32_t spread = 0;
    int paragraph = 0;
    for (int story = 0; paragraph < paragraphs; ++story) {
        const int slot = story % kBoxesPerPage;
        if (slot == 0)
            spread = b.Page(0);
        const int32_t top = (36 + slot * 180) << 16;
        const uint32_t box = b.TextBox(Place::OnSpread(spread), Rect{top, 36 << 16, top + (175 << 16), 576 << 16});
        StoryBuilder text = b.Story({box});
        for (int i = 0; i < kParagraphsPerStory && paragraph < paragraphs; ++i, ++paragraph) {
            text.Text(u"Paragraph of the benchmark, ", plain);
            if (paragraph % 5 == 0)
                text.Hidden(0x45, "op", plain).Hidden(0x25, "cl", plain);
            text.Text(i + 1 < kParagraphsPerStory ? u"bold part.\r" : u"bold part.", bold);
        }
        text.End();
    }
    return b.Bytes();
}

int RunOne(int paragraphs)
{
    char pattern[] = "/tmp/kesto-import-bench-XXXXXX";
    const fs::path folder = ::mkdtemp(pattern);
    fs::create_directories(folder / "XTensions");
    std::ofstream(folder / "XTensions" / "kesto.ini") << "[Options]\nmasterPageMode=0\n";
    const fs::path home = fs::current_path();
    fs::current_path(folder);
    LoadKestoModule();
    double seconds = -1;
    {
        xthost::HostExtensions extensions;
        xthost::RegisterHostDocuments(extensions);
        xthost::HostOptions options;
        options.appFolder = folder.string();
        options.staticActivate = &XTActivateCallback;
        xthost::Host host(options);
        const fs::path source = folder / "long.qxp";
        const fs::path dwq = folder / "long.dwq";
        const fs::path target = folder / "long-imported.qxp";
        if (host.Start() == xthost::StartResult::kOk && WriteFileAtomically(source.string(), Document(paragraphs)) &&
            xthost::DocumentsOf(host).Open(source.string(), 63) == HostErr::Ok) {
            kesto_test::ExportFrontDocumentUnattended(source.string(), dwq.string());

            OverwriteFlags.document = true;
            const auto start = std::chrono::steady_clock::now();
            kesto_test::ImportUnattended(dwq.string(), target.string());
            const auto end = std::chrono::steady_clock::now();
            if (fs::exists(target))
                seconds = std::chrono::duration<double>(end - start).count();
        }
        host.Quit();
    }
    UnloadKestoModule();
    fs::current_path(home);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    if (seconds < 0) {
        std::fprintf(stderr, "the import of %d paragraphs did not run\n", paragraphs);
        return 1;
    }
    std::printf("%d %.6f\n", paragraphs, seconds);
    return 0;
}

double Measure(const char* self, int paragraphs)
{
    const std::string command = std::string("'") + self + "' " + std::to_string(paragraphs);
    FILE* pipe = popen(command.c_str(), "r");
    int n = 0;
    double seconds = -1;
    if (!pipe || std::fscanf(pipe, "%d %lf", &n, &seconds) != 2)
        seconds = -1;
    if (pipe)
        pclose(pipe);
    return seconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2)
        return RunOne(std::atoi(argv[1]));
    constexpr int kRuns = 5;
    std::vector<double> small, large;
    for (int run = 0; run < kRuns; ++run) {
        small.push_back(Measure(argv[0], 1000) / 1000 * 1e6);
        large.push_back(Measure(argv[0], 10000) / 10000 * 1e6);
        if (small.back() <= 0 || large.back() <= 0) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }
    }
    const double perSmall = Median(small), perLarge = Median(large);
    std::printf(" 1,000 paragraphs: median %8.1f us per paragraph of %d runs\n", perSmall, kRuns);
    std::printf("10,000 paragraphs: median %8.1f us per paragraph of %d runs\n", perLarge, kRuns);
    const double ratio = perLarge / perSmall;
    std::printf("ratio %.2f: %s\n", ratio, ratio >= 0.8 && ratio <= 1.2 ? "linear within 20 %" : "NOT linear");
    return ratio >= 0.8 && ratio <= 1.2 ? 0 : 2;
}
