// Doubles of the subsystems the dialogs reach (folder runs, the conversion job, the batch state,
// message boxes), linked into the module in place of its stand-ins: they record what the
// dialogs ask of them and answer as a test tells them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Plugin/Batch/FolderRuns.h"

namespace dialogtest {

// One call of a folder run, with the state the dialogs prepared for it.
struct FolderRunCall {
    std::string run;  // "export", "pdf" or "import"
    std::string source;
    std::string target;
    bool recursive = false;
    OverwriteSwitches overwrite;
    std::string pdfFolder;
    bool announce = false;
};

// One look for existing targets.
struct CensusCall {
    std::string folder;
    int32_t kind = -1;
    bool recursive = false;
    std::string subFolder;
};

struct Doubles {
    std::vector<FolderRunCall> runs;
    std::vector<CensusCall> census;
    std::vector<std::string> resolvedExtensions;
    bool batchRequested = false;
    bool setPathFails = false;
    bool createFails = false;
    // A folder run that throws, to show that nothing escapes into the host.
    bool runThrows = false;
};

// The doubles' state; reset by Reset.
Doubles& State();
void Reset();

} // namespace dialogtest
