#include <cstdint>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Plugin/Shell/CBManager.h"
#include "Plugin/Shell/HostLink.h"
#include "Plugin/Shell/KestoException.h"
#include "Plugin/Shell/ShellTestSupport.h"

namespace {

// A host record of a callback kind that carries its kind in the first word.
struct KindRec {
    int32_t kind;
    int32_t reserved;
};

// A handler whose call does what the test tells it.
class Probe : public CallBack<KindRec*> {
public:
    explicit Probe(std::function<int32_t(KindRec*)> body, bool* destroyed = nullptr)
        : m_body(std::move(body)), m_destroyed(destroyed)
    {
    }
    ~Probe() override
    {
        if (m_destroyed)
            *m_destroyed = true;
    }
    int32_t Call(KindRec* rec) override { return m_body(rec); }

private:
    std::function<int32_t(KindRec*)> m_body;
    bool* m_destroyed;
};

class CBManagerTest : public ShellLogTest {
protected:
    void SetUp() override
    {
        ShellLogTest::SetUp();
        manager = CBManager::Instance();
        ASSERT_NE(manager, nullptr);
    }
    void TearDown() override
    {
        if (manager)
            manager->Release();
        ShellLogTest::TearDown();
    }

    // The codes that the callback failures reported, in order.
    std::vector<int> ReportedCodes()
    {
        std::vector<int> codes;
        const std::string tag = "CallBackFailed: error ";
        const std::string text = StandardErrorText();
        for (std::size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + 1))
            codes.push_back(std::stoi(text.substr(at + tag.size())));
        return codes;
    }

    CBManager* manager = nullptr;
};

} // namespace

TEST_F(CBManagerTest, KindWithoutHandlerAnswersZeroAndReportsWrongParameter)
{
    CaptureStandardError();
    KindRec rec{7, 0};
    EXPECT_EQ(CBManager::Trampoline(&rec), 0);
    EXPECT_EQ(manager->Dispatch(7, &rec, false), 0); // not asked to report
    KindRec beyond{5000, 0};
    EXPECT_EQ(CBManager::Trampoline(&beyond), 0);
    EXPECT_EQ(CBManager::Trampoline(nullptr), 0);
    EXPECT_EQ(ReportedCodes(), (std::vector<int>{1000, 1000}));
}

TEST_F(CBManagerTest, HandlerAnswerAndRecordPassThrough)
{
    KindRec* seen = nullptr;
    RegisterCallBack(10, new Probe([&](KindRec* rec) { seen = rec; return 42; }));
    KindRec rec{10, 0};
    EXPECT_EQ(CBManager::Trampoline(&rec), 42);
    EXPECT_EQ(seen, &rec);
}

TEST_F(CBManagerTest, EveryFailureIsReportedByItsCodeAndAnsweredWithZero)
{
    struct Case {
        const char* what;
        std::function<int32_t(KindRec*)> body;
        int code;
    };
    const Case cases[] = {
        {"own code", [](KindRec*) -> int32_t { throw KestoException(1013); }, 1013},
        {"out of memory", [](KindRec*) -> int32_t { throw std::bad_alloc(); }, 1001},
        {"integer", [](KindRec*) -> int32_t { throw 863; }, 1001},
        {"standard", [](KindRec*) -> int32_t { throw std::runtime_error("x"); }, 1002},
        {"anything", [](KindRec*) -> int32_t { throw 2.5; }, 1002},
    };
    for (const Case& c : cases) {
        CaptureStandardError();
        manager->Set(6, new Probe(c.body));
        KindRec rec{6, 0};
        EXPECT_EQ(CBManager::Trampoline(&rec), 0) << c.what;
        EXPECT_EQ(ReportedCodes(), std::vector<int>{c.code}) << c.what;
    }
}

TEST_F(CBManagerTest, BarrierGuardsAnyCall)
{
    CaptureStandardError();
    EXPECT_EQ(CallBackBarrier([] { return 5; }), 5);
    EXPECT_EQ(CallBackBarrier([]() -> int32_t { throw KestoException(1020); }), 0);
    EXPECT_EQ(ReportedCodes(), std::vector<int>{1020});
}

TEST_F(CBManagerTest, StoringOwnsOneReferencePerHandler)
{
    bool firstGone = false, secondGone = false;
    Probe* first = new Probe([](KindRec*) { return 1; }, &firstGone);
    manager->Set(7, first);
    EXPECT_EQ(manager->Get(7), first);

    // The same handler again: the caller's extra reference is not kept, the handler stays.
    first->AddRef();
    manager->Set(7, first);
    EXPECT_FALSE(firstGone);
    EXPECT_EQ(first->GetRefCount(), 1u);

    Probe* second = new Probe([](KindRec*) { return 2; }, &secondGone);
    manager->Set(7, second);
    EXPECT_TRUE(firstGone);
    EXPECT_EQ(manager->Get(7), second);

    CBManager::ReleaseInstance();
    manager = nullptr;
    EXPECT_TRUE(secondGone);
    CBManager::ReleaseInstance(); // nothing left to release
}

TEST_F(CBManagerTest, KindsOutsideTheTableAreRefused)
{
    bool gone = false;
    manager->Set(CBManager::kCapacity, new Probe([](KindRec*) { return 1; }, &gone));
    EXPECT_TRUE(gone);
    EXPECT_EQ(manager->Get(CBManager::kCapacity), nullptr);
    EXPECT_EQ(manager->Get(UINT32_MAX), nullptr);
    ASSERT_EQ(BreakPointLines().size(), 1u);

    // This handler outlives the test body (the manager releases it in TearDown), so it gets no
    // flag on the body's stack to write to.
    manager->Set(CBManager::kCapacity - 1, new Probe([](KindRec*) { return 9; }));
    KindRec rec{static_cast<int32_t>(CBManager::kCapacity - 1), 0};
    EXPECT_EQ(CBManager::Trampoline(&rec), 9);
}

namespace {

struct Registration {
    int32_t kind;
    XTCallbackFn fn;
    int32_t convention;
    int32_t priority;
};
std::vector<Registration> g_registrations;

int32_t RecordRegistration(int32_t kind, XTCallbackFn fn, int32_t convention, int32_t priority,
                           int32_t)
{
    g_registrations.push_back({kind, fn, convention, priority});
    return kind == 7 ? -50 : 0;
}

} // namespace

TEST_F(CBManagerTest, RegisterAllAnnouncesTheFilledKindsInOrder)
{
    // Without a setup record nothing can be registered.
    EXPECT_NE(manager->RegisterWithHost(6), 0);

    XTSetupRec setup{};
    setup.registerCallback = &RecordRegistration;
    SetupRecord = &setup;
    g_registrations.clear();
    manager->Set(10, new Probe([](KindRec*) { return 0; }));
    manager->Set(6, new Probe([](KindRec*) { return 0; }));
    manager->Set(7, new Probe([](KindRec*) { return 0; }));
    EXPECT_EQ(manager->RegisterWithHost(7), -50);
    g_registrations.clear();
    manager->RegisterAll();
    SetupRecord = nullptr;

    ASSERT_EQ(g_registrations.size(), 3u);
    const int32_t kinds[] = {6, 7, 10};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(g_registrations[i].kind, kinds[i]);
        EXPECT_EQ(g_registrations[i].fn, &CBManager::Trampoline);
        EXPECT_EQ(g_registrations[i].convention, 5);
        EXPECT_EQ(g_registrations[i].priority, 200);
    }
}

TEST_F(CBManagerTest, ReportCarriesTheCodeNameAndText)
{
    CaptureStandardError();
    ReportCallBackFailed(KestoException(1004, MsgString("book not found")));
    ReportCallBackFailed(KestoException(4711));
    const std::string text = StandardErrorText();
    EXPECT_NE(text.find("CallBackFailed: error 1004 (DWX Error): book not found"), std::string::npos)
        << text;
    EXPECT_NE(text.find("CallBackFailed: error 4711 (Unknown)"), std::string::npos) << text;
}
