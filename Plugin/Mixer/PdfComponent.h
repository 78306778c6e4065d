// Calls into the host's PDF component XPDF (output styles and the PDF export).
#pragma once

#include <cstdint>

#include "Plugin/Shell/HostSuites.h"
#include "platform/host/documents/XTFlowSuites.h"

// Calls entry of the component table with the entry's signature Fn; XT_ERR_NOT_EMULATED while
// the module holds no such entry.
template <class Fn, class... Args>
int32_t CallXpdf(int entry, Args... args)
{
    const XTComponentTable* table = HostComponentTable(XT_COMPONENT_XPDF);
    const Fn fn = table && entry >= 0 && entry < XT_COMPONENT_SLOTS ? reinterpret_cast<Fn>(table->slot[entry])
                                                                    : nullptr;
    return fn ? fn(args...) : static_cast<int32_t>(XT_ERR_NOT_EMULATED);
}
