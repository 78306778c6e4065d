// The story-to-box mapping on a long document: 200 pages with 10 text boxes each (2,000 boxes
// and stories), as the host's own document benchmark has them, without box links yet. An export
// analyses the document once (numbering, private working boxes, connection); an import connects
// once.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "Plugin/Filter/Filter_KS.h"
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

// The module and the host with the long document open, in an application folder of its own.
class Session {
public:
    Session()
    {
        char pattern[] = "/tmp/kesto-mapper-bench-XXXXXX";
        m_folder = ::mkdtemp(pattern);
        fs::create_directories(m_folder / "XTensions");
        std::ofstream(m_folder / "XTensions" / "kesto.ini") << "[Options]\nmasterPageMode=0\n";
        m_home = fs::current_path();
        fs::current_path(m_folder);
        LoadKestoModule();
        xthost::HostExtensions extensions;
        xthost::RegisterHostDocuments(extensions);
        xthost::HostOptions options;
        options.appFolder = m_folder.string();
        options.staticActivate = &XTActivateCallback;
        m_host = std::make_unique<xthost::Host>(options);
        const std::string path = (m_folder / "long.qxp").string();
        m_ok = m_host->Start() == xthost::StartResult::kOk && WriteFileAtomically(path, LongDocument(false)) &&
               xthost::DocumentsOf(*m_host).Open(path, 63) == HostErr::Ok;
    }
    ~Session()
    {
        m_host->Quit();
        m_host.reset();
        UnloadKestoModule();
        fs::current_path(m_home);
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
    bool Ok() const { return m_ok; }

private:
    fs::path m_folder;
    fs::path m_home;
    std::unique_ptr<xthost::Host> m_host;
    bool m_ok = false;
};

void BM_AnaliseDocument(benchmark::State& state)
{
    Session session;
    if (!session.Ok())
        state.SkipWithError("the document did not open");
    int32_t stories = 0;
    for (auto _ : state) {
        Mapper mapper;  // each analysis first removes the links of the one before
        stories = mapper.AnaliseDocument();
    }
    if (stories != 2000)
        state.SkipWithError("not every story was numbered");
    state.counters["stories"] = stories;
}
BENCHMARK(BM_AnaliseDocument)->Unit(benchmark::kMillisecond);

void BM_Connect(benchmark::State& state)
{
    Session session;
    if (!session.Ok() || Mapper().AnaliseDocument() != 2000)
        state.SkipWithError("the analysis failed");
    int32_t stories = 0;
    for (auto _ : state) {
        Mapper mapper;
        stories = mapper.Connect() ? mapper.StoryCount() : 0;
    }
    if (stories != 2000)
        state.SkipWithError("not every story was found");
    state.counters["stories"] = stories;
}
BENCHMARK(BM_Connect)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
