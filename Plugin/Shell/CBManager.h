// The module's one door for host callbacks that carry their kind in the record: a table from
// callback kind to handler, one entry function registered with the host for every filled kind,
// and the exception barrier that keeps every failure inside the module.
#pragma once

#include <cstdint>
#include <memory>

#include "Plugin/Shell/CallBack.h"
#include "Plugin/Shell/RefObject.h"

class KestoException;

class CBManager : public RefObject {
public:
    static constexpr uint32_t kCapacity = 990;

    // The process-wide manager, made on the first call; null when it could not be allocated.
    // Its creation reference is its only one: the unload callback releases it.
    static CBManager* Instance();
    // Drops the creation reference of the manager when one exists (unload): the manager and
    // every handler it holds go with it.
    static void ReleaseInstance();

    // Takes over the caller's reference to the handler; a handler stored before under the kind
    // is released. A kind outside the table is a programming error: reported, the handler dropped.
    void Set(uint32_t kind, CBGlue* handler);
    // The handler of the kind, or null.
    CBGlue* Get(uint32_t kind) const;

    // Runs the handler of the kind inside the exception barrier; a kind without a handler is
    // reported (when asked) as "Wrong Parameter". Always 0 after a failure.
    int32_t Dispatch(uint32_t kind, void* rec, bool report);

    // The entry function registered with the host: the kind is the first 32-bit word of the record.
    static int32_t Trampoline(void* rec);

    // Registers Trampoline for the kind with the host; answers the host's answer.
    int32_t RegisterWithHost(uint32_t kind);
    // RegisterWithHost for every filled kind, in ascending order.
    void RegisterAll();

private:
    CBManager(std::unique_ptr<CBGlue*[]> slots);
    ~CBManager() override;

    std::unique_ptr<CBGlue*[]> m_slots;
    uint32_t m_capacity = kCapacity;
    uint32_t m_count = 0;
};

// CBManager::Instance, then CBManager::Set; without a manager the handler is released.
void RegisterCallBack(uint32_t kind, CBGlue* handler);

// Classifies the exception being handled, reports it and answers 0. Call only inside a catch.
int32_t AnswerCaughtException() noexcept;

// The exception barrier for any host callback: answers what fn answers, or 0 after reporting an
// exception (a KestoException's own code; 1001 for out-of-memory and integer exceptions; 1002
// for anything else).
template <class Fn>
int32_t CallBackBarrier(Fn&& fn) noexcept
{
    try {
        return fn();
    } catch (...) {
        return AnswerCaughtException();
    }
}

// Report of a failed callback; its trace writes nothing, so the report goes to the logs.
void ReportCallBackFailed(const KestoException& e) noexcept;
