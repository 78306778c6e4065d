// Costs of the foundation calls that other code makes in loops: the settings getters (which
// read the loaded file on every call), parsing a settings file, and the path functions.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "Foundation/DataFile.h"
#include "Foundation/Settings.h"
#include "SHARED/Server/CnvTools/PathUtils.h"

namespace {

std::string ScratchPath()
{
    return "/tmp/kesto-bench-" + std::to_string(::getpid()) + ".ini";
}

// A settings file that holds every key, each with its help comment, as the module writes it.
const std::string& SettingsText()
{
    static const std::string text = [] {
        std::ofstream(ScratchPath()).flush();   // an empty file gives the records without a report
        SettingsFile settings(false);
        settings.Load(ScratchPath(), false);
        std::remove(ScratchPath().c_str());
        std::string sections[4];
        for (int32_t id = 0; id < SettingKey::Count; ++id)
            sections[settings.GetSectionIndex(id)] += "\n; " + settings.GetHelp(id) + "\n" +
                                                      SettingsFile::GetKeyName(id) + "=" +
                                                      settings.GetDefault(id) + "\n";
        std::string all;
        for (int32_t i = 0; i < 4; ++i)
            all += "\n[" + std::string(SettingsFile::GetSectionName(i)) + "]\n" + sections[i];
        return all;
    }();
    return text;
}

void BM_SettingsGetter(benchmark::State& state)
{
    const std::string path = ScratchPath();
    std::ofstream(path) << SettingsText();
    SettingsFile settings(false);
    settings.Load(path, false);
    std::remove(path.c_str());
    for (auto _ : state)
        benchmark::DoNotOptimize(settings.GetServerLogMinPriority());
}
BENCHMARK(BM_SettingsGetter);

void BM_ParseSettingsFile(benchmark::State& state)
{
    const std::string& text = SettingsText();
    for (auto _ : state) {
        std::istringstream in(text);
        CDataFile data;
        data.Load(in);
        benchmark::DoNotOptimize(data.KeyCount());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseSettingsFile);

void BM_ChangeExtension(benchmark::State& state)
{
    const std::string source = "/var/tmp/OMRA_20261207081500/incoming/Brochure Spring.qxp";
    for (auto _ : state) {
        std::string path = source;
        benchmark::DoNotOptimize(ChangeExtension(path, std::string("dwq"), false, true));
        benchmark::DoNotOptimize(GetFileName(path, false));
    }
}
BENCHMARK(BM_ChangeExtension);

} // namespace

BENCHMARK_MAIN();
