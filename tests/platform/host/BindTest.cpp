// Binding details against a module linked into the test: suite codes and versions, selector
// lists, interface table sizes, components and the setup record's tags.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "platform/host/Host.h"
#include "platform/host/xtapi/XTSuites.h"

namespace xthost {
namespace {

std::map<std::string, int32_t> g_answers;
XTSetupRec g_record;

int32_t Bind(XTSetupRec* setup, uint32_t code, int selectors, bool head = true)
{
    static XTSuiteTable table;
    uint32_t list[8] = {head ? uint32_t(XT_SELECTOR_LIST_HEAD) : 0u, 0, 1, 2, 3, 4, 5, 6};
    return setup->bindSuite(code, &table, list, selectors + 1);
}

int32_t Setup(void* rec)
{
    auto* setup = static_cast<XTSetupRec*>(rec);
    g_record = *setup;
    g_answers["unknown suite"] = Bind(setup, XT_SUITE('X', 'Q', 'Q', 2), 1);
    g_answers["newer version"] = Bind(setup, XT_SUITE('X', 'F', 'J', 13), 1);
    g_answers["older version"] = Bind(setup, XT_SUITE('X', 'F', 'J', 11), 1);
    g_answers["no head word"] = Bind(setup, XT_SUITE_XFJ, 1, false);
    XTInterfaceTable<20> tooBig;
    g_answers["interface too big"] =
        setup->requestInterface(XT_IFACE_QLIS, 1, 1, &tooBig, static_cast<int32_t>(sizeof tooBig));
    XTTextInterface text;
    g_answers["interface"] =
        setup->requestInterface(XT_IFACE_QLIS, 1, 1, &text, static_cast<int32_t>(sizeof text));
    g_answers["unknown interface"] = setup->requestInterface(XT_IFACE_QLIS, 1, 7, &text, 8);
    uint32_t component = 0;
    g_answers["unknown component"] = setup->lookupComponent(XT_FOURCC('N', 'O', 'N', 'E'), &component);
    g_answers["component"] = setup->lookupComponent(XT_COMPONENT_XPDF, &component);
    XTComponentTable table;
    g_answers["bind bad component"] = setup->bindSuite(0x14FFFFFF, &table, nullptr, 0);
    XTHandle handle = 0;
    setup->lookupComponentHandle(XT_COMPONENT_QLY, &handle);
    g_answers["bind component"] = setup->bindSuite(static_cast<uint32_t>(handle), &table, nullptr, 0);
    // An unprovided component entry fails loudly too.
    g_answers["component entry"] = reinterpret_cast<int32_t (*)()>(table.slot[5])();
    return 0;
}

uint32_t Activate(XTActivationRec* rec)
{
    rec->registerSetupCallback(&Setup, XT_CB_CONVENTION, XT_PRIORITY_DEFAULT, 0);
    return 0;
}

TEST(HostBinding, CodesVersionsListsSizesAndComponents)
{
    g_answers.clear();
    HostOptions options;
    options.appFolder = KESTO_BINARY_DIR;
    options.staticActivate = &Activate;
    Host host(options);
    ASSERT_EQ(host.Start(), StartResult::kOk);
    EXPECT_EQ(g_record.tag0, 11);
    EXPECT_EQ(g_record.tag1, 0x102);
    EXPECT_EQ(g_record.sdkLevel, 0x40A20000u);
    const std::map<std::string, int32_t> expected = {
        {"unknown suite", XT_ERR_PARAM},     {"newer version", XT_ERR_PARAM},
        {"older version", XT_OK},            {"no head word", XT_ERR_PARAM},
        {"interface too big", XT_ERR_PARAM}, {"interface", XT_OK},
        {"unknown interface", XT_ERR_PARAM}, {"unknown component", XT_ERR_PARAM},
        {"component", XT_OK},                {"bind bad component", XT_ERR_PARAM},
        {"bind component", XT_OK},           {"component entry", XT_ERR_NOT_EMULATED},
    };
    EXPECT_EQ(g_answers, expected);
    const auto& lines = host.Log().Lines();
    auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("setup: bind XQQ 2 refused: suite not offered"));
    EXPECT_TRUE(has("setup: bind XFJ 13 refused: suite not offered"));
    EXPECT_TRUE(has("error: bind XFJ 12: malformed table or selector list"));
    EXPECT_TRUE(has("setup: interface QLIS 1 refused: the host offers 19 entries"));
    EXPECT_TRUE(has("error: bind: unknown component handle 0x14FFFFFF"));
    EXPECT_TRUE(has("error: host op component QLY entry 5 not emulated"));
    EXPECT_EQ(host.Errors(), 3);
    host.Quit();
    EXPECT_EQ(lines.back(), "unloaded");
}

}  // namespace
}  // namespace xthost
