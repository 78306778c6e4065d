#include "Foundation/ModuleGlobals.h"

#include <map>
#include <vector>

#include "Foundation/AllocTracker.h"
#include "Foundation/Log.h"
#include "Foundation/Settings.h"

namespace {

struct StepFunctions {
    ModuleGlobals::Function build = nullptr;
    ModuleGlobals::Function teardown = nullptr;
};

// Built on first use, so that registration may happen during static initialisation. They are
// freed with the library: the host unloads the module with dlclose, and a list that outlived it
// would be memory lost to the host for good. Shutdown has run by then.
std::map<GlobalStep, StepFunctions>& Steps()
{
    static std::map<GlobalStep, StepFunctions> steps;
    return steps;
}

std::vector<ModuleGlobals::Function>& Teardowns()
{
    static std::vector<ModuleGlobals::Function> teardowns;
    return teardowns;
}

bool g_initialized = false;

void BuildAllocations() { Allocations.Build(); }
void DestroyAllocations() { Allocations.Destroy(); }

// Empty records, a fresh data file, not loaded: the top object loads it later.
void BuildSettings() { Settings.Build(false); }
void DestroySettings() { Settings.Destroy(); }

// The bare file name: the general log lives in the process's current folder. An existing log
// is emptied; a log that cannot be opened leaves the stream failed and takes nothing.
void BuildGeneralLog()
{
    GeneralLog.Build(kGeneralLogFileName, std::ios::out | std::ios::trunc);
}
// Every owner of registered nodes has let them go by now (the module state goes just before).
void DestroyGeneralLog()
{
    ReportAllocationsAtUnload();
    GeneralLog.Destroy();
}

void RegisterFoundationSteps()
{
    auto& steps = Steps();
    steps.emplace(GlobalStep::Allocations, StepFunctions{BuildAllocations, DestroyAllocations});
    steps.emplace(GlobalStep::Settings, StepFunctions{BuildSettings, DestroySettings});
    steps.emplace(GlobalStep::GeneralLog, StepFunctions{BuildGeneralLog, DestroyGeneralLog});
}

void RunStep(const StepFunctions& step)
{
    if (step.build)
        step.build();
    if (step.teardown)
        Teardowns().push_back(step.teardown);
}

} // namespace

void ModuleGlobals::Register(GlobalStep step, Function build, Function teardown)
{
    Steps()[step] = StepFunctions{build, teardown};
    if (g_initialized)
        RunStep(Steps()[step]);
}

void ModuleGlobals::Init()
{
    if (g_initialized)
        return;
    RegisterFoundationSteps();
    ResetServerLogMinimum();
    ServerLog = nullptr;
    for (const auto& entry : Steps())
        RunStep(entry.second);
    g_initialized = true;
}

void ModuleGlobals::Shutdown()
{
    auto& teardowns = Teardowns();
    while (!teardowns.empty()) {
        const Function teardown = teardowns.back();
        teardowns.pop_back();
        teardown();
    }
    g_initialized = false;
}

bool ModuleGlobals::IsInitialized()
{
    return g_initialized;
}
