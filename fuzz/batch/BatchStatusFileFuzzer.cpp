// Feeds arbitrary bytes as the controller's batch status file: loads it, reads every key,
// checks the validity rules against what the getters answer, writes a counter and checks that
// a reload reads the same.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>


#include "Foundation/Settings.h"
#include "Plugin/Batch/BatchStatusFile.h"
#include "tests/TempDir.h"

namespace {

struct Reading {
    BatchMode mode;
    bool recursive, wait, active, valid, pending;
    std::string source, target, pdf;

    bool operator==(const Reading& o) const
    {
        return mode == o.mode && recursive == o.recursive && wait == o.wait && active == o.active &&
               valid == o.valid && pending == o.pending && source == o.source && target == o.target &&
               pdf == o.pdf;
    }
};

Reading Read(BatchStatusFile& status)
{
    Reading r;
    r.mode = status.GetMode();
    r.recursive = status.IsRecursive();
    r.wait = status.IsWaitOnIdle();
    r.active = status.IsActive();
    r.valid = status.IsValid();
    r.pending = status.HasPendingJob();
    status.GetPaths(r.source, r.target, r.pdf);
    return r;
}

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const TempDir scratch("batchfile-fuzz");
    static const std::string folder = scratch.Path();
    static const std::string path = folder + "/batch.ini";
    static bool ready = [] {
        // The diagnostics of the data file go to stdout; keep the fuzzer's output readable.
        std::freopen("/dev/null", "w", stdout);
        std::ofstream(folder + "/kesto.ini") << "[Path]\nBatchFilePath=" << path << "\n";
        Settings.Build(false);
        return Settings->Load(folder + "/kesto.ini", false);
    }();
    if (!ready)
        return 0;

    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                   static_cast<std::streamsize>(size));
    Reading first;
    {
        BatchStatusFile status;
        Check(status.Load(false));
        first = Read(status);
        const int mode = static_cast<int>(first.mode);
        Check(mode >= 0 && mode <= 3);
        if (first.mode == BatchMode::Export)
            Check(first.valid == (!first.source.empty() && (!first.target.empty() || !first.pdf.empty())));
        else if (first.mode == BatchMode::Import)
            Check(first.valid == (!first.source.empty() && !first.target.empty()));
        else
            Check(first.valid && !first.pending);
        Check(status.GetPath(kBatchCount).empty());
        status.SetCount(7, true, true);
    }
    {
        BatchStatusFile status;
        if (status.Load(false)) {
            const Reading again = Read(status);
            Check(again == first);
        }
    }
    std::remove(path.c_str());
    return 0;
}
