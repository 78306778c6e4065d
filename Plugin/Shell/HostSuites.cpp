#include "Plugin/Shell/HostSuites.h"

#include <array>
#include <cstring>

namespace {

// How many selectors of a suite the module uses: it lists 0 to n-1, so selector k sits in
// slot k. Suites not named here are bound with an empty list until their users need them.
struct SuiteUse {
    uint32_t code;
    int32_t slots;
};
// The document suites are bound whole: their slots run up to the 120s.
constexpr SuiteUse kSuiteUses[] = {
    {XT_SUITE_XAQ, 112}, {XT_SUITE_XCF, 68}, {XT_SUITE_XDD, 123}, {XT_SUITE_XFJ, 106},
    {XT_SUITE_XMV, 12},  {XT_SUITE_XRN, 3},  {XT_SUITE_XZC, 11},  {XT_SUITE_XZD, 19},
    {XT_SUITE_XZH, 3},   {XT_SUITE_XZO, 7},  {XT_SUITE_XMM, 106},
    {XT_SUITE('X','P','K',14), 107}, {XT_SUITE('L','T','Y',2), 101},
    {XT_SUITE('X','P','H',3), 110},  {XT_SUITE('X','B','Y',9), 128},
    {XT_SUITE('X','I','G',3), 4},    {XT_SUITE('X','X','C',4), 113},
    {XT_SUITE('X','S','D',4), 124},  {XT_SUITE('X','W','Q',7), 101},
    {XT_SUITE('X','T','Y',4), 128},  {XT_SUITE('X','B','G',9), 12},
    {XT_SUITE('X','F','S',2), 10},   {XT_SUITE('X','S','Q',2), 10},
    {XT_SUITE('X','S','S',2), 4},    {XT_SUITE('X','H','J',2), 103},
    {XT_SUITE('X','S','Z',6), 9},
};

int32_t SlotsUsed(uint32_t code)
{
    for (const SuiteUse& use : kSuiteUses)
        if (use.code == code)
            return use.slots;
    return 0;
}

std::array<XTSuiteTable, kHostSuiteCount> g_suites{};

// The interface tables in request order, with their sizes in the host's 32-bit words.
struct InterfaceTableSpec {
    uint32_t code;
    int32_t index;
    int32_t words;
};
constexpr InterfaceTableSpec kInterfaceTables[] = {
    {XT_IFACE_QLIU, 0, 9},  {XT_IFACE_QLIU, 1, 32}, {XT_IFACE_QLIU, 2, 2},  {XT_IFACE_QLIU, 3, 14},
    {XT_IFACE_QLID, 0, 41}, {XT_IFACE_QLID, 1, 13}, {XT_IFACE_QLID, 2, 14}, {XT_IFACE_QLID, 3, 2},
    {XT_IFACE_QLID, 4, 5},  {XT_IFACE_QLID, 5, 1},  {XT_IFACE_QLID, 6, 45}, {XT_IFACE_QLID, 7, 6},
    {XT_IFACE_QLID, 8, 20}, {XT_IFACE_QLID, 9, 7},  {XT_IFACE_QLID, 10, 5}, {XT_IFACE_QLID, 11, 3},
    {XT_IFACE_QLIS, 0, 12}, {XT_IFACE_QLIS, 2, 30}, {XT_IFACE_QLIS, 1, 19}, {XT_IFACE_QLOT, 0, 12},
};
constexpr std::size_t kInterfaceCount = sizeof kInterfaceTables / sizeof kInterfaceTables[0];
static_assert(kInterfaceCount == 20, "the module requests 20 interface tables");
constexpr int32_t kLargestInterface = 45;

struct InterfaceTable {
    XTProc entries[kLargestInterface];
};
std::array<InterfaceTable, kInterfaceCount> g_interfaces{};

std::array<XTComponentTable, 3> g_components{};

uint32_t Answer(int32_t result)
{
    return static_cast<uint32_t>(result);
}

} // namespace

uint32_t BindHostSuites(XTSetupRec& setup)
{
    // The record must be the one of this SDK level; the module keeps nothing else of it.
    if (setup.tag0 != static_cast<int32_t>(XT_SETUP_TAG0) ||
        setup.tag1 != static_cast<int32_t>(XT_SETUP_TAG1) || setup.sdkLevel != XT_SETUP_SDK_LEVEL ||
        !setup.bindSuite)
        return XT_MODULE_BAD_RECORD;

    uint32_t selectors[XT_SUITE_SLOTS + 1];
    selectors[0] = XT_SELECTOR_LIST_HEAD;
    for (int32_t i = 0; i < XT_SUITE_SLOTS; ++i)
        selectors[i + 1] = static_cast<uint32_t>(i);

    for (std::size_t i = 0; i < kHostSuiteCount; ++i) {
        const uint32_t code = kHostSuiteCodes[i];
        if (const int32_t rc = setup.bindSuite(code, &g_suites[i], selectors, SlotsUsed(code) + 1))
            return Answer(rc);
    }
    return 0;
}

uint32_t RequestInterfaceTables(XTSetupRec& setup, InterfaceSet which)
{
    if (!setup.requestInterface)
        return XT_MODULE_BAD_RECORD;
    for (std::size_t i = 0; i < kInterfaceCount; ++i) {
        const InterfaceTableSpec& spec = kInterfaceTables[i];
        if (which == InterfaceSet::UserInterfaceAndStrings && spec.code != XT_IFACE_QLIU &&
            spec.code != XT_IFACE_QLIS)
            continue;
        const int32_t bytes = spec.words * static_cast<int32_t>(sizeof(XTProc));
        if (const int32_t rc = setup.requestInterface(spec.code, 1, spec.index, g_interfaces[i].entries, bytes))
            return Answer(rc);
    }
    return 0;
}

uint32_t FetchHostComponents(XTSetupRec& setup)
{
    if (!setup.lookupComponent || !setup.lookupComponentHandle || !setup.bindSuite)
        return XT_MODULE_BAD_RECORD;
    auto bindHandle = [&setup](uint32_t code, XTComponentTable& table) -> int32_t {
        XTHandle handle = 0;
        if (const int32_t rc = setup.lookupComponentHandle(code, &handle))
            return rc;
        return setup.bindSuite(static_cast<uint32_t>(handle), &table, nullptr, 0);
    };
    // Nothing reads the answers of the plain look-ups; the host may still refuse them.
    uint32_t found = 0;
    int32_t rc = bindHandle(XT_COMPONENT_XPTA, g_components[0]);
    if (!rc)
        rc = setup.lookupComponent(XT_COMPONENT_XPTA, &found);
    if (!rc)
        rc = setup.lookupComponent(XT_COMPONENT_QLY, &found);
    if (!rc)
        rc = bindHandle(XT_COMPONENT_QLY, g_components[1]);
    if (!rc)
        rc = setup.lookupComponent(XT_COMPONENT_XPDF, &found);
    if (!rc)
        rc = bindHandle(XT_COMPONENT_XPDF, g_components[2]);
    return Answer(rc);
}

XTSuiteTable* HostSuiteTable(uint32_t code)
{
    for (std::size_t i = 0; i < kHostSuiteCount; ++i)
        if (kHostSuiteCodes[i] == code)
            return &g_suites[i];
    return nullptr;
}

XTProc* HostInterfaceTable(uint32_t code, int index)
{
    for (std::size_t i = 0; i < kInterfaceCount; ++i)
        if (kInterfaceTables[i].code == code && kInterfaceTables[i].index == index)
            return g_interfaces[i].entries;
    return nullptr;
}

XTComponentTable* HostComponentTable(uint32_t component)
{
    switch (component) {
    case XT_COMPONENT_XPTA: return &g_components[0];
    case XT_COMPONENT_QLY: return &g_components[1];
    case XT_COMPONENT_XPDF: return &g_components[2];
    default: return nullptr;
    }
}
