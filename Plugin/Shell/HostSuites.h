// The host API as the module binds it at setup: one table per host suite, the interface tables
// and the component tables. Every host service the module uses is called through them by slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "platform/host/xtapi/XTAPI.h"
#include "platform/host/xtapi/XTSuites.h"

// The suites in the order the module binds them.
constexpr uint32_t kHostSuiteCodes[] = {
#define KESTO_SUITE_CODE(a, b, c, v) XT_SUITE(a, b, c, v),
    XT_SUITE_LIST(KESTO_SUITE_CODE)
#undef KESTO_SUITE_CODE
};
constexpr std::size_t kHostSuiteCount = sizeof kHostSuiteCodes / sizeof kHostSuiteCodes[0];
static_assert(kHostSuiteCount == 119, "the module binds 119 host suites");

// Binds every suite through the setup record; answers 0, or the first refusal. The record must
// carry the tags of this SDK level (else XT_MODULE_BAD_RECORD).
uint32_t BindHostSuites(XTSetupRec& setup);

// Requests the interface tables: every table, or (again after the second binding) only those of
// the user-interface and string codes. Answers 0, or the first refusal.
enum class InterfaceSet { All, UserInterfaceAndStrings };
uint32_t RequestInterfaceTables(XTSetupRec& setup, InterfaceSet which);

// Looks up the three host components and binds the tables of their handles; answers 0, or the
// first refusal.
uint32_t FetchHostComponents(XTSetupRec& setup);

// The module's table of a suite, or null for a code it does not bind.
XTSuiteTable* HostSuiteTable(uint32_t code);
// The module's table of an interface (entries as many as the host filled), or null.
XTProc* HostInterfaceTable(uint32_t code, int index);
// The module's table of a host component (XT_COMPONENT_*), or null.
XTComponentTable* HostComponentTable(uint32_t component);

namespace HostApiDetail {
template <class Descriptor, class = void>
struct IsInterfaceEntry : std::false_type {};
template <class Descriptor>
struct IsInterfaceEntry<Descriptor, std::void_t<decltype(Descriptor::kIndex)>> : std::true_type {};
} // namespace HostApiDetail

// The bound operation of a suite slot or interface entry; null while it is not bound.
template <class Descriptor>
typename Descriptor::Type HostOp()
{
    XTProc entry = nullptr;
    if constexpr (HostApiDetail::IsInterfaceEntry<Descriptor>::value) {
        const XTProc* table = HostInterfaceTable(Descriptor::kCode, Descriptor::kIndex);
        entry = table ? table[Descriptor::kSlot] : nullptr;
    } else {
        const XTSuiteTable* table = HostSuiteTable(Descriptor::kCode);
        entry = table ? table->slot[Descriptor::kSlot] : nullptr;
    }
    return reinterpret_cast<typename Descriptor::Type>(entry);
}

// Calls a host operation; while it is not bound the answer is XT_ERR_NOT_EMULATED.
template <class Descriptor, class... Args>
auto CallHost(Args... args)
{
    using Result = decltype(std::declval<typename Descriptor::Type>()(args...));
    const auto op = HostOp<Descriptor>();
    return op ? op(args...) : static_cast<Result>(XT_ERR_NOT_EMULATED);
}
