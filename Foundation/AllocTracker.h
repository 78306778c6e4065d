// The allocation register: counts live file, folder and log-file nodes by type name and
// describes each live object, for the report written to the server log at shutdown.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "Foundation/ModuleGlobals.h"

class AllocTracker {
public:
    AllocTracker() = default;

    void Track(const std::string& typeName, const void* address, const std::string& place);
    void Untrack(const std::string& typeName, const void* address);

    // The register as text; empty when nothing is registered (or while disabled).
    std::string Dump() const;

    bool IsEnabled() const { return m_enabled; }
    int32_t GetCount(const std::string& typeName) const;
    // How many objects are registered (those tracked without an address included).
    int32_t LiveObjects() const;

private:
    bool m_enabled = true;
    std::map<std::string, int32_t> m_counts;
    std::map<const void*, std::string> m_descriptions;
};

extern ModuleGlobal<AllocTracker> Allocations;

// The same operations on Allocations; they do nothing while it is not built.
void TrackAlloc(const std::string& typeName, const void* address, const std::string& place = "");
void UntrackAlloc(const std::string& typeName, const void* address);

// Logs the register at priority 6 under the given location, into the server log or the
// general log (never the standard error stream).
void ReportAllocations(const std::string& location);

// The module's last word on the register, while the general log is still open: when objects are
// still registered, their dump goes to the general log and one line saying how many to the
// standard error stream; nothing at all when the register is empty.
void ReportAllocationsAtUnload();

// Gives up a registered node: the register is reported under `location` before and after the
// node leaves it, then the node is deleted and the pointer cleared. Nothing for a null node.
template <class Node>
void DeleteTracked(Node*& node, const std::string& typeName, const std::string& location)
{
    if (!node)
        return;
    ReportAllocations(location);
    UntrackAlloc(typeName, node);
    ReportAllocations(location);
    delete node;
    node = nullptr;
}
