// Feeds arbitrary bytes to the INI parser, then checks that what it understood survives a save
// and a reload unchanged.
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

#include <unistd.h>

#include "Foundation/DataFile.h"

namespace {

bool SameContents(const CDataFile& a, const CDataFile& b)
{
    const auto& left = a.GetSections();
    const auto& right = b.GetSections();
    if (left.size() != right.size())
        return false;
    for (std::size_t s = 0; s < left.size(); ++s) {
        if (left[s].m_name != right[s].m_name || left[s].m_comment != right[s].m_comment ||
            left[s].m_keys.size() != right[s].m_keys.size())
            return false;
        for (std::size_t k = 0; k < left[s].m_keys.size(); ++k) {
            const auto& x = left[s].m_keys[k];
            const auto& y = right[s].m_keys[k];
            if (x.m_key != y.m_key || x.m_value != y.m_value || x.m_comment != y.m_comment)
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string scratch = "/tmp/kesto-datafile-fuzz-" + std::to_string(::getpid()) + ".ini";
    // The diagnostics of the data file go to stdout; keep the fuzzer's output readable.
    static FILE* quiet = std::freopen("/dev/null", "w", stdout);
    (void)quiet;

    // The bytes of a whole file: a byte-order mark, when there is one, says how to read them.
    CDataFile parsed;
    parsed.LoadBytes(std::string(reinterpret_cast<const char*>(data), size));
    for (const auto& section : parsed.GetSections())
        for (const auto& key : section.m_keys) {
            if (key.m_key.empty() || key.m_value.empty() || parsed.GetValue(key.m_key, section.m_name) != key.m_value)
                __builtin_trap();
            parsed.GetBool(key.m_key, section.m_name);
        }

    parsed.SetFileName(scratch);
    if (!parsed.Save())
        return 0;
    CDataFile reloaded;
    if (!reloaded.Load(scratch) || !SameContents(parsed, reloaded))
        __builtin_trap();
    std::remove(scratch.c_str());
    return 0;
}
