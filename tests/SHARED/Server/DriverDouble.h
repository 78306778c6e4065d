#pragma once
// A double of the conversion driver the server's jobs hand their files to: it records every
// call and, when told to, writes the target as a converter would.

#include <string>
#include <vector>

#include "Plugin/Batch/ConversionJob.h"

namespace driverdouble {

struct Call {
    std::string source;
    std::string target;
    FileKind sourceKind;
    FileKind targetKind;
};

struct State {
    std::vector<Call> calls;
    // Answer of every call; with writeTargets a successful call writes its target file.
    bool succeed = false;
    bool writeTargets = false;
    // Writes the target but answers failure (a task that failed after it started writing).
    bool writeButFail = false;
    // A call whose target ends in this text answers failure.
    std::string failTargetsEndingIn;
};

State& Driver();
void Reset();

// What a written target holds: its kind and the source it came from.
std::string TargetContent(const std::string& source, FileKind kind);

} // namespace driverdouble
