#include "platform/host/Suites.h"

#include <array>
#include <utility>
#include <vector>

namespace xthost {

namespace {

// Entries for selectors the host does not provide. Each stub knows which suite and slot it
// stands for through its place in the pool; the module gets XT_ERR_NOT_EMULATED and the run
// fails with the suite and slot named.
constexpr int kStubCount = 2048;
std::vector<std::string>& StubNames()
{
    static std::vector<std::string> names;
    return names;
}

int32_t StubCalled(int index)
{
    auto& names = StubNames();
    const std::string what = index < static_cast<int>(names.size()) ? names[index] : "(unknown slot)";
    if (Host* host = Host::Current())
        host->Error("host op " + what + " not emulated");
    return XT_ERR_NOT_EMULATED;
}

template <int N>
int32_t Stub()
{
    return StubCalled(N);
}

template <int... N>
constexpr std::array<XTProc, sizeof...(N)> MakeStubs(std::integer_sequence<int, N...>)
{
    return {reinterpret_cast<XTProc>(&Stub<N>)...};
}

int32_t OverflowStub()
{
    if (Host* host = Host::Current())
        host->Error("host op not emulated (more unemulated slots than the host can tell apart)");
    return XT_ERR_NOT_EMULATED;
}

XTProc StubFor(const std::string& what)
{
    static const auto stubs = MakeStubs(std::make_integer_sequence<int, kStubCount>());
    static std::map<std::string, int> index;
    auto& names = StubNames();
    auto it = index.find(what);
    if (it != index.end())
        return stubs[it->second];
    if (names.size() >= stubs.size())
        return reinterpret_cast<XTProc>(&OverflowStub);
    index.emplace(what, static_cast<int>(names.size()));
    names.push_back(what);
    return stubs[names.size() - 1];
}

// Entries of the interface tables, by code and index (the host's 32-bit sizes / 4).
const std::map<std::pair<uint32_t, int>, int>& InterfaceSizes()
{
    static const std::map<std::pair<uint32_t, int>, int> sizes = {
        {{XT_IFACE_QLIU, 0}, 9},  {{XT_IFACE_QLIU, 1}, 32}, {{XT_IFACE_QLIU, 2}, 2},
        {{XT_IFACE_QLIU, 3}, 14}, {{XT_IFACE_QLID, 0}, 41}, {{XT_IFACE_QLID, 1}, 13},
        {{XT_IFACE_QLID, 2}, 14}, {{XT_IFACE_QLID, 3}, 2},  {{XT_IFACE_QLID, 4}, 5},
        {{XT_IFACE_QLID, 5}, 1},  {{XT_IFACE_QLID, 6}, 45}, {{XT_IFACE_QLID, 7}, 6},
        {{XT_IFACE_QLID, 8}, 20}, {{XT_IFACE_QLID, 9}, 7},  {{XT_IFACE_QLID, 10}, 5},
        {{XT_IFACE_QLID, 11}, 3}, {{XT_IFACE_QLIS, 0}, 12}, {{XT_IFACE_QLIS, 1}, 19},
        {{XT_IFACE_QLIS, 2}, 30}, {{XT_IFACE_QLOT, 0}, 12},
    };
    return sizes;
}

}  // namespace

std::string FourCC(uint32_t code)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>(code >> (8 * i) & 0xFF);
        if (c)
            text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

std::string SuiteName(uint32_t code)
{
    std::string name;
    for (int shift = 24; shift >= 8; shift -= 8) {
        const char c = static_cast<char>(code >> shift & 0xFF);
        name += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return name + " " + std::to_string(code & 0xFF);
}

std::string SuiteSlotKey(uint32_t code, int slot)
{
    std::string name = SuiteName(code);
    name.erase(3, 1);
    return name + "/" + std::to_string(slot);
}

std::string InterfaceSlotKey(uint32_t code, int index, int entry)
{
    return FourCC(code) + std::to_string(index) + "/" + std::to_string(entry);
}

SuiteCatalog& SuiteCatalog::Instance()
{
    static SuiteCatalog catalog;
    return catalog;
}

SuiteCatalog::SuiteCatalog()
{
#define XTHOST_OFFER(a, b, c, v) m_suites[XT_SUITE(a, b, c, v)];
    XT_SUITE_LIST(XTHOST_OFFER)
#undef XTHOST_OFFER
    for (const auto& entry : InterfaceSizes())
        m_interfaces[entry.first];
    for (uint32_t component : {XT_COMPONENT_XPTA, XT_COMPONENT_QLY, XT_COMPONENT_XPDF})
        m_components[component];
}

void SuiteCatalog::DefineSuiteOp(uint32_t code, int slot, const char* name, XTProc fn)
{
    // A slot belongs to the offered suite of those letters, whatever version names it.
    for (auto& suite : m_suites) {
        if ((suite.first & 0xFFFFFF00u) == (code & 0xFFFFFF00u)) {
            suite.second[slot] = SlotOp{name, fn};
            return;
        }
    }
    m_suites[code][slot] = SlotOp{name, fn};
}

void SuiteCatalog::DefineInterfaceOp(uint32_t code, int index, int entry, const char* name, XTProc fn)
{
    m_interfaces[{code, index}][entry] = SlotOp{name, fn};
}

void SuiteCatalog::DefineComponentOp(uint32_t component, int entry, const char* name, XTProc fn)
{
    m_components[component][entry] = SlotOp{name, fn};
}

bool SuiteCatalog::Offers(uint32_t code) const
{
    for (const auto& suite : m_suites)
        if ((suite.first & 0xFFFFFF00u) == (code & 0xFFFFFF00u))
            return (code & 0xFF) <= (suite.first & 0xFF);
    return false;
}

int SuiteCatalog::InterfaceEntries(uint32_t code, int index) const
{
    const auto& sizes = InterfaceSizes();
    auto it = sizes.find({code, index});
    return it == sizes.end() ? 0 : it->second;
}

bool SuiteCatalog::KnowsComponent(uint32_t component) const
{
    return m_components.count(component) != 0;
}

XTProc SuiteCatalog::SuiteEntry(uint32_t code, int selector)
{
    for (const auto& suite : m_suites) {
        if ((suite.first & 0xFFFFFF00u) != (code & 0xFFFFFF00u))
            continue;
        auto it = suite.second.find(selector);
        if (it != suite.second.end())
            return it->second.fn;
    }
    return StubFor(SuiteName(code) + " slot " + std::to_string(selector));
}

XTProc SuiteCatalog::InterfaceEntry(uint32_t code, int index, int entry)
{
    auto table = m_interfaces.find({code, index});
    if (table != m_interfaces.end()) {
        auto it = table->second.find(entry);
        if (it != table->second.end())
            return it->second.fn;
    }
    return StubFor("interface " + FourCC(code) + " " + std::to_string(index) + " entry " +
                   std::to_string(entry));
}

XTProc SuiteCatalog::ComponentEntry(uint32_t component, int entry)
{
    auto table = m_components.find(component);
    if (table != m_components.end()) {
        auto it = table->second.find(entry);
        if (it != table->second.end())
            return it->second.fn;
    }
    return StubFor("component " + FourCC(component) + " entry " + std::to_string(entry));
}

int SuiteCatalog::EmulatedCount(uint32_t code) const
{
    for (const auto& suite : m_suites)
        if ((suite.first & 0xFFFFFF00u) == (code & 0xFFFFFF00u))
            return static_cast<int>(suite.second.size());
    return 0;
}

}  // namespace xthost
