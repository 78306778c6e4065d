#include "Plugin/Shell/CBManager.h"

#include <cstring>
#include <new>
#include <string>

#include "Foundation/ErrorCodes.h"
#include "Foundation/Log.h"
#include "Foundation/TraceHooks.h"
#include "Plugin/Shell/BreakPoint.h"
#include "Plugin/Shell/HostLink.h"
#include "Plugin/Shell/KestoException.h"

namespace {

// The manager lives from the first Instance call until the unload callback releases it.
CBManager* g_manager = nullptr;
// A manager that could not be allocated once is not asked for again.
bool g_managerFailed = false;

} // namespace

CBManager::CBManager(std::unique_ptr<CBGlue*[]> slots) : m_slots(std::move(slots)) {}

CBManager::~CBManager()
{
    for (uint32_t kind = 0; kind < m_capacity; ++kind) {
        if (m_slots[kind])
            m_slots[kind]->Release();
    }
    // A callback that still arrives after unload meets a new, empty manager, never a freed one.
    if (g_manager == this)
        g_manager = nullptr;
}

CBManager* CBManager::Instance()
{
    if (!g_manager && !g_managerFailed) {
        std::unique_ptr<CBGlue*[]> slots(new (std::nothrow) CBGlue*[kCapacity]());
        if (slots)
            g_manager = new (std::nothrow) CBManager(std::move(slots));
        g_managerFailed = g_manager == nullptr;
    }
    return g_manager;
}

void CBManager::ReleaseInstance()
{
    if (g_manager)
        g_manager->Release();
}

void CBManager::Set(uint32_t kind, CBGlue* handler)
{
    if (kind >= m_capacity) {
        BreakPoint_KS("callback kind out of range");
        if (handler)
            handler->Release();
        return;
    }
    CBGlue*& slot = m_slots[kind];
    if (slot == handler) {
        // The slot owns one reference already; the caller's second one is not kept.
        if (handler)
            handler->Release();
    } else {
        if (slot)
            slot->Release();
        slot = handler;
    }
    ++m_count;
}

CBGlue* CBManager::Get(uint32_t kind) const
{
    return kind < m_capacity ? m_slots[kind] : nullptr;
}

int32_t CBManager::Dispatch(uint32_t kind, void* rec, bool report)
{
    return CallBackBarrier([&]() -> int32_t {
        if (CBGlue* handler = Get(kind))
            return handler->Invoke(rec);
        if (report)
            ReportCallBackFailed(KestoException(ErrorCode::WrongParameter));
        return 0;
    });
}

int32_t CBManager::Trampoline(void* rec)
{
    CBManager* manager = Instance();
    if (!manager || !rec)
        return 0;
    uint32_t kind = 0;
    std::memcpy(&kind, rec, sizeof kind);
    return manager->Dispatch(kind, rec, true);
}

int32_t CBManager::RegisterWithHost(uint32_t kind)
{
    return RegisterHostCallBack(static_cast<int32_t>(kind), &CBManager::Trampoline, XT_PRIORITY_DEFAULT);
}

void CBManager::RegisterAll()
{
    for (uint32_t kind = 0; kind < m_capacity; ++kind) {
        if (m_slots[kind])
            RegisterWithHost(kind);
    }
}

void RegisterCallBack(uint32_t kind, CBGlue* handler)
{
    if (CBManager* manager = CBManager::Instance())
        manager->Set(kind, handler);
    else if (handler)
        handler->Release();
}

int32_t AnswerCaughtException() noexcept
{
    try {
        throw;
    } catch (const KestoException& e) {
        ReportCallBackFailed(e);
    } catch (const std::bad_alloc&) {
        ReportCallBackFailed(KestoException(ErrorCode::LowMemory));
    } catch (int) {
        ReportCallBackFailed(KestoException(ErrorCode::LowMemory));
    } catch (...) {
        ReportCallBackFailed(KestoException(ErrorCode::Unexpected));
    }
    return 0;
}

void ReportCallBackFailed(const KestoException& e) noexcept
{
    try {
        ReportCallBackFailed();
        std::string text = "CallBackFailed: error " + std::to_string(e.GetCode()) + " (" +
                           ErrorCodeNameOrUnknown(e.GetCode()) + ")";
        if (e.GetText().Length() != 0)
            text += std::string(": ") + e.GetText().Text();
        LogMessage(KS_LOCATION("CBManager::Dispatch"), text, 6);
    } catch (...) {
        // Nothing may leave the barrier, not even a failing report.
    }
}
