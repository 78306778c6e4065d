// What the host pays for the module: a whole start-up and unload, an idle call of an interactive
// run, and a menu command with its update, command and beep.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "Plugin/XTension/Activation.h"
#include "platform/host/Host.h"

namespace fs = std::filesystem;

namespace {

// An application folder of its own, the process's current folder while the module runs.
class App {
public:
    App()
    {
        char pattern[] = "/tmp/kesto-bench-XXXXXX";
        m_folder = ::mkdtemp(pattern);
        fs::create_directories(m_folder / "XTensions");
        std::ofstream(m_folder / "XTensions" / "kesto.ini")
            << "[Options]\nextendedInterface=True\naddMenuItemExportCoords=True\naddMenuItemExportTgx=True\n";
        m_home = fs::current_path();
        fs::current_path(m_folder);
        LoadKestoModule();
    }
    ~App()
    {
        UnloadKestoModule();
        fs::current_path(m_home);
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    std::unique_ptr<xthost::Host> NewHost() const
    {
        xthost::HostOptions options;
        options.appFolder = m_folder.string();
        options.staticActivate = &XTActivateCallback;
        return std::make_unique<xthost::Host>(options);
    }

private:
    fs::path m_folder;
    fs::path m_home;
};

void StartAndQuit(benchmark::State& state)
{
    App app;
    for (auto _ : state) {
        auto host = app.NewHost();
        if (host->Start() != xthost::StartResult::kOk)
            state.SkipWithError("start refused");
        host->Quit();
        // The library's own unload and load, as the host's loader does them.
        UnloadKestoModule();
        LoadKestoModule();
        if (host->Failed())
            state.SkipWithError("the host saw an error");
    }
}
BENCHMARK(StartAndQuit)->Unit(benchmark::kMicrosecond);

void IdleCall(benchmark::State& state)
{
    App app;
    auto host = app.NewHost();
    host->Start();
    for (auto _ : state) {
        host->Idle(1);
        host->Log().Clear();
    }
    host->Quit();
}
BENCHMARK(IdleCall);

void MenuCommand(benchmark::State& state)
{
    App app;
    auto host = app.NewHost();
    host->Start();
    host->SetFrontDocumentIndex(0);
    for (auto _ : state) {
        host->ChooseMenu(" Export current document");
        host->Log().Clear();
    }
    if (host->Failed())
        state.SkipWithError("the host saw an error");
    host->Quit();
}
BENCHMARK(MenuCommand);

} // namespace

BENCHMARK_MAIN();
