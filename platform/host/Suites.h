// The host's catalogue of suite operations, interface entries and component entries, and the
// binding of a module's tables to them.
//
// Host components define operations with XTHOST_DEFINE_SLOT(Descriptor, Function): the
// function's signature must be the descriptor's, and every call passes the fault plan first
// (key "XFJ12/13", "QLIS1/17", "XPTA/3"). A later definition of the same slot replaces the
// earlier one, so the documents can take over a slot the core answers plainly. A selector
// without an operation is bound to an entry that fails loudly with its suite and slot.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <type_traits>

#include "platform/host/Host.h"
#include "platform/host/xtapi/XTSuites.h"

namespace xthost {

struct SlotOp {
    std::string name;
    XTProc fn = nullptr;
};

class SuiteCatalog {
public:
    static SuiteCatalog& Instance();

    void DefineSuiteOp(uint32_t code, int slot, const char* name, XTProc fn);
    void DefineInterfaceOp(uint32_t code, int index, int entry, const char* name, XTProc fn);
    void DefineComponentOp(uint32_t component, int entry, const char* name, XTProc fn);

    // Is a suite of this code (at this version or an older one) offered?
    bool Offers(uint32_t code) const;
    // Entries of an interface table, 0 when the host has no such table.
    int InterfaceEntries(uint32_t code, int index) const;
    bool KnowsComponent(uint32_t component) const;

    // The entry for a selector: the operation, or a loud stub. Never null.
    XTProc SuiteEntry(uint32_t code, int selector);
    XTProc InterfaceEntry(uint32_t code, int index, int entry);
    XTProc ComponentEntry(uint32_t component, int entry);
    int EmulatedCount(uint32_t code) const;

private:
    SuiteCatalog();
    std::map<uint32_t, std::map<int, SlotOp>> m_suites;
    std::map<std::pair<uint32_t, int>, std::map<int, SlotOp>> m_interfaces;
    std::map<uint32_t, std::map<int, SlotOp>> m_components;
};

// "XND 2", "QLIS 1", "XPTA"
std::string SuiteName(uint32_t code);
std::string FourCC(uint32_t code);
// Fault keys of slot calls: "XFJ12/13", "QLIS1/17", "XPTA/3".
std::string SuiteSlotKey(uint32_t code, int slot);
std::string InterfaceSlotKey(uint32_t code, int index, int entry);

// Registers the core's operations (menus, dialogs, files, application); idempotent.
void DefineCoreOperations();

namespace detail {
template <class Descriptor, class = void>
struct IsInterfaceSlot : std::false_type {};
template <class Descriptor>
struct IsInterfaceSlot<Descriptor, std::void_t<decltype(Descriptor::kIndex)>> : std::true_type {};

template <class Descriptor>
std::string SlotKey()
{
    if constexpr (IsInterfaceSlot<Descriptor>::value)
        return InterfaceSlotKey(Descriptor::kCode, Descriptor::kIndex, Descriptor::kSlot);
    else
        return SuiteSlotKey(Descriptor::kCode, Descriptor::kSlot);
}

template <class Descriptor, auto Impl>
struct Wrapped;
template <class Descriptor, class R, class... A, R (*Impl)(A...)>
struct Wrapped<Descriptor, Impl> {
    static_assert(std::is_integral_v<R>, "host operations answer an integer");
    static R Call(A... args)
    {
        Host* host = Host::Current();
        if (!host)
            return static_cast<R>(XT_ERR_PARAM);
        // Inject answers nothing with no rule in the plan; asking first here spares every slot
        // call the key list it would be handed.
        if (!host->Faults().Rules().empty()) {
            static const std::string key = SlotKey<Descriptor>();
            if (auto injected = host->Inject({key}))
                return static_cast<R>(*injected);
        }
        return Impl(args...);
    }
};
}  // namespace detail

template <class Descriptor, auto Impl>
void DefineSlot(const char* name)
{
    using W = detail::Wrapped<Descriptor, Impl>;
    static_assert(std::is_same_v<decltype(&W::Call), typename Descriptor::Type>,
                  "the operation's signature differs from the slot's");
    const XTProc fn = reinterpret_cast<XTProc>(&W::Call);
    if constexpr (detail::IsInterfaceSlot<Descriptor>::value)
        SuiteCatalog::Instance().DefineInterfaceOp(Descriptor::kCode, Descriptor::kIndex,
                                                   Descriptor::kSlot, name, fn);
    else
        SuiteCatalog::Instance().DefineSuiteOp(Descriptor::kCode, Descriptor::kSlot, name, fn);
}

#define XTHOST_DEFINE_SLOT(Descriptor, Function) \
    ::xthost::DefineSlot<Descriptor, &Function>(#Descriptor)

}  // namespace xthost
