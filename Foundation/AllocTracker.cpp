#include "Foundation/AllocTracker.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <utility>
#include <vector>

#include "Foundation/Log.h"

ModuleGlobal<AllocTracker> Allocations;

namespace {

// Left-aligned in a field of the given width; a longer text is kept whole.
void AppendPadded(std::string& out, const std::string& text, std::size_t width)
{
    out += text;
    if (text.size() < width)
        out.append(width - text.size(), ' ');
}

// Upper-case hexadecimal with leading zeros to the full pointer width.
std::string FormatAddress(const void* address)
{
    char buffer[2 * sizeof(void*) + 1];
    std::snprintf(buffer, sizeof buffer, "%0*jX", static_cast<int>(2 * sizeof(void*)),
                  static_cast<uintmax_t>(reinterpret_cast<uintptr_t>(address)));
    return buffer;
}

} // namespace

void AllocTracker::Track(const std::string& typeName, const void* address, const std::string& place)
{
    if (!m_enabled)
        return;
    if (!typeName.empty())
        ++m_counts[typeName];
    if (address)
        m_descriptions[address] = place.empty() ? typeName : typeName + ": " + place;
}

void AllocTracker::Untrack(const std::string& typeName, const void* address)
{
    if (!m_enabled)
        return;
    if (!typeName.empty())
        --m_counts[typeName];
    if (address)
        m_descriptions.erase(address);
}

int32_t AllocTracker::LiveObjects() const
{
    int32_t counted = 0;
    for (const auto& entry : m_counts)
        counted += std::max<int32_t>(entry.second, 0);
    return std::max(counted, static_cast<int32_t>(m_descriptions.size()));
}

int32_t AllocTracker::GetCount(const std::string& typeName) const
{
    const auto it = m_counts.find(typeName);
    return it == m_counts.end() ? 0 : it->second;
}

std::string AllocTracker::Dump() const
{
    std::string text;
    if (!m_enabled)
        return text;

    for (const auto& [name, count] : m_counts) {
        if (count == 0)
            continue;
        AppendPadded(text, name, 64);
        const std::string number = std::to_string(count);
        if (number.size() < 16)
            text.append(16 - number.size(), ' ');
        text += number;
        text += '\n';
    }
    if (!text.empty())
        text += '\n';

    // Ordered by description; equal descriptions keep address order (the map's order, which
    // a stable sort preserves).
    std::vector<std::pair<const void*, const std::string*>> live;
    live.reserve(m_descriptions.size());
    for (const auto& [address, description] : m_descriptions)
        live.emplace_back(address, &description);
    std::stable_sort(live.begin(), live.end(),
                     [](const auto& a, const auto& b) { return *a.second < *b.second; });
    for (const auto& [address, description] : live) {
        // A 32-bit address fills its column of 10 with two blanks to spare; a wider one still
        // keeps one blank before the description.
        const std::string digits = FormatAddress(address);
        text += "0x";
        AppendPadded(text, digits, std::max<std::size_t>(10, digits.size() + 1));
        AppendPadded(text, *description, 68);
        text += '\n';
    }
    return text;
}

void TrackAlloc(const std::string& typeName, const void* address, const std::string& place)
{
    if (AllocTracker* tracker = Allocations.GetIf())
        tracker->Track(typeName, address, place);
}

void UntrackAlloc(const std::string& typeName, const void* address)
{
    if (AllocTracker* tracker = Allocations.GetIf())
        tracker->Untrack(typeName, address);
}

void ReportAllocations(const std::string& location)
{
    const AllocTracker* tracker = Allocations.GetIf();
    if (!tracker || !tracker->IsEnabled())
        return;
    const std::string dump = tracker->Dump();
    std::string text = "\nMemory";
    if (dump.empty())
        text += " completely deallocated.\n";
    else
        text += " allocated:\n" + dump;
    // Node destructors report mid-run, so a dump lists live objects, not leaks: it is for the
    // record, not for the user's terminal.
    LogToFile(location, text, 6);
}

void ReportAllocationsAtUnload()
{
    const AllocTracker* tracker = Allocations.GetIf();
    if (!tracker)
        return;
    const int32_t live = tracker->LiveObjects();
    if (live == 0)
        return;
    GeneralLogStream() << "\nMemory allocated at unload:\n" << tracker->Dump() << std::flush;
    std::error_code error;
    const std::filesystem::path log = std::filesystem::absolute(kGeneralLogFileName, error);
    std::cerr << "Kesto: " << live << (live == 1 ? " object" : " objects") << " still allocated at unload (listed in "
              << (error ? std::string(kGeneralLogFileName) : log.string()) << ")" << std::endl;
}
