#include "SHARED/Server/DriverDouble.h"

#include <fstream>

#include "Plugin/Batch/FolderUtils.h"

namespace driverdouble {

State& Driver() {
    static State state;
    return state;
}

void Reset() { Driver() = State(); }

std::string TargetContent(const std::string& source, FileKind kind) {
    return "converted kind " + std::to_string(static_cast<int>(kind)) + " from " + source + "\n";
}

} // namespace driverdouble

bool FolderUtils::ProcessConversion(const ustring& sourcePath, const ustring& targetPath, FileKind sourceKind,
                                    FileKind targetKind) {
    using namespace driverdouble;
    const std::string source = ToStdString(sourcePath);
    const std::string target = ToStdString(targetPath);
    Driver().calls.push_back({source, target, sourceKind, targetKind});
    const std::string& failing = Driver().failTargetsEndingIn;
    const bool fails = !failing.empty() && target.size() >= failing.size() &&
                       target.compare(target.size() - failing.size(), failing.size(), failing) == 0;
    const bool ok = Driver().succeed && !fails;
    if ((ok && Driver().writeTargets) || Driver().writeButFail)
        std::ofstream(target, std::ios::binary) << TargetContent(source, targetKind);
    return ok && !Driver().writeButFail;
}
