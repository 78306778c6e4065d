// The export command, in process and unattended as a server run fires it, on a document of N
// paragraphs: one story through as many linked boxes as it needs, three style runs per
// paragraph and a unique-id marker in every tenth. One size per process, so that the peak
// memory is this size's own:
//     ExportBench N       prints: paragraphs, time, time per paragraph (wall clock and processor),
//                         peak memory, .dwq size
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
#include "platform/host/Host.h"
#include "platform/host/HostExtensions.h"
#include "platform/host/documents/DocHost.h"
#include "platform/host/documents/DocSlots.h"
#include "platform/host/documents/DocumentFile.h"
#include "platform/host/documents/testing/DocBuilder.h"

namespace fs = std::filesystem;
using namespace xthost::doc;

namespace {

constexpr int kParagraphsPerBox = 30;

std::string LongStory(int paragraphs)
{
    DocBuilder b;
    const int32_t plain = b.PlainText(10 << 16);
    CharFormat format;
    format.font = 1;
    format.colour = 2;
    format.size = 10 << 16;
    format.face = 1;
    const int32_t bold = b.CharFormat(format);
    format.face = 0;
    format.size = 12 << 16;
    const int32_t big = b.CharFormat(format);
    std::vector<uint32_t> boxes;
    const int boxCount = paragraphs / kParagraphsPerBox + 1;
    for (int i = 0; i < boxCount; ++i)
        boxes.push_back(b.TextBox(Place::OnSpread(b.Page(0)), Rect{36 << 16, 36 << 16, 756 << 16, 576 << 16}));
    StoryBuilder story = b.Story({boxes.front()});
    for (int p = 0; p < paragraphs; ++p) {
        if (p % 10 == 0)
            story.Uniq(p + 1, plain);
        story.Text(u"Paragraph text in plain face, ", plain)
            .Text(u"then bold, ", bold)
            .Text(u"then larger.\r", big);
    }
    story.End();
    // The other boxes leave their own empty stories for the chain.
    const uint32_t uid = b.StoryOf(boxes.front());
    for (size_t i = 1; i < boxes.size(); ++i) {
        b.Current().stories.erase(b.StoryOf(boxes[i]));
        b.BoxAt(boxes[i]).story = uid;
        b.Current().stories.at(uid).boxes.push_back(boxes[i]);
    }
    return b.Bytes();
}

// Processor time of this process (user and system), in seconds: on a shared machine it varies
// less than the wall-clock time.
double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakKilobytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    const int paragraphs = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (paragraphs <= 0) {
        std::fprintf(stderr, "usage: ExportBench PARAGRAPHS\n");
        return 2;
    }
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
        if (host->Start() == xthost::StartResult::kOk && WriteFileAtomically(source, LongStory(paragraphs)) &&
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
                            PeakKilobytes() / 1024.0, static_cast<uintmax_t>(size));
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
