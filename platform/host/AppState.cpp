// The application's state that modules read and switch (version, clock, modes, preferences,
// the text-update switch, the further mode flag) and the memory handles of the XMM suite.
// Besides its slot key, every call can be failed by its role ("APP-3", "MEM-1"); switches
// write a transcript line, reads and memory traffic do not.
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/host/Suites.h"

namespace xthost {

namespace {

Host& H()
{
    return *Host::Current();  // the slot wrapper answers before this when there is no host
}

// The largest block a memory handle holds: the module's sizes are 32-bit, the host's memory
// is not endless.
constexpr uint32_t kMaxBlock = 256u << 20;

std::optional<int32_t> Role(const char* role)
{
    return H().Inject({role});
}

int32_t Version(uint32_t* version)
{
    if (auto injected = Role("APP-1"))
        return *injected;
    if (!version)
        return XT_ERR_PARAM;
    *version = H().application.version;
    return XT_OK;
}

int32_t Clock(XTClockRec* clock)
{
    if (auto injected = Role("APP-2"))
        return *injected;
    if (!clock)
        return XT_ERR_PARAM;
    const ApplicationState& app = H().application;
    if (app.clockFrozen) {
        *clock = app.clock;
        return XT_OK;
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    *clock = XTClockRec{static_cast<int16_t>(local.tm_year + 1900), static_cast<int16_t>(local.tm_mon + 1),
                        static_cast<int16_t>(local.tm_mday),        static_cast<int16_t>(local.tm_hour),
                        static_cast<int16_t>(local.tm_min),         static_cast<int16_t>(local.tm_sec)};
    return XT_OK;
}

int32_t GetMode(const char* role, int32_t ApplicationState::*field, int32_t* mode)
{
    if (auto injected = Role(role))
        return *injected;
    if (!mode)
        return XT_ERR_PARAM;
    *mode = H().application.*field;
    return XT_OK;
}

int32_t SetMode(const char* role, const char* name, int32_t ApplicationState::*field, int32_t mode)
{
    if (auto injected = Role(role))
        return *injected;
    int32_t& value = H().application.*field;
    if (value != mode)
        H().Note(std::string(name) + " " + std::to_string(mode));
    value = mode;
    return XT_OK;
}

int32_t GetToolMode(int32_t* mode) { return GetMode("APP-3", &ApplicationState::toolMode, mode); }
int32_t SetToolMode(int32_t mode) { return SetMode("APP-3", "tool mode", &ApplicationState::toolMode, mode); }
int32_t GetTextMode(int32_t* mode) { return GetMode("APP-4", &ApplicationState::textMode, mode); }
int32_t SetTextMode(int32_t mode) { return SetMode("APP-4", "text mode", &ApplicationState::textMode, mode); }

int32_t GetPreference(int32_t which, uint8_t* on)
{
    if (auto injected = Role("APP-5"))
        return *injected;
    if (!on || which < 0 || which > 1)
        return XT_ERR_PARAM;
    *on = H().application.preferences[which] ? 1 : 0;
    return XT_OK;
}

int32_t SetPreference(int32_t which, int32_t on)
{
    if (auto injected = Role("APP-5"))
        return *injected;
    if (which < 0 || which > 1)
        return XT_ERR_PARAM;
    H().application.preferences[which] = on != 0;
    H().Note("preference " + std::to_string(which) + (on ? " on" : " off"));
    return XT_OK;
}

int32_t SetTextUpdate(int32_t flag)
{
    if (auto injected = Role("APP-6"))
        return *injected;
    H().application.textUpdate = flag;
    H().Note("text update " + std::to_string(flag));
    return XT_OK;
}

int32_t GetUpdateMode(int32_t* mode) { return GetMode("APP-10", &ApplicationState::updateMode, mode); }
int32_t SetUpdateMode(int32_t mode) { return SetMode("APP-10", "update mode", &ApplicationState::updateMode, mode); }

int32_t GetModeFlag(uint8_t* set)
{
    if (auto injected = Role("APP-9"))
        return *injected;
    if (!set)
        return XT_ERR_PARAM;
    *set = H().application.modeFlag ? 1 : 0;
    return XT_OK;
}

int32_t ClearModeFlag(XTHandle box)
{
    if (auto injected = Role("APP-9"))
        return *injected;
    H().application.modeFlag = false;
    H().Note("mode flag cleared for box " + Hex(static_cast<uint32_t>(box)));
    return XT_OK;
}

// ---- Memory handles ------------------------------------------------------------------------

std::vector<uint8_t>* Block(XTHandle handle, const char* operation)
{
    std::vector<uint8_t>* block = H().memory.Find(handle);
    if (!block)
        H().Error(std::string(operation) + ": unknown memory handle " + Hex(static_cast<uint32_t>(handle)));
    return block;
}

int32_t NewHandle(uint32_t size, XTHandle* out)
{
    if (auto injected = Role("MEM-1"))
        return *injected;
    if (!out)
        return XT_ERR_PARAM;
    *out = 0;
    if (size > kMaxBlock)
        return XT_ERR_PARAM;
    *out = H().memory.Issue(std::vector<uint8_t>(size));
    return *out ? XT_OK : XT_ERR_PARAM;
}

int32_t DisposeHandle(XTHandle handle)
{
    if (auto injected = Role("MEM-2"))
        return *injected;
    if (!Block(handle, "dispose handle"))
        return XT_ERR_PARAM;
    H().memory.Dispose(handle);
    return XT_OK;
}

int32_t HandleSize(XTHandle handle, uint32_t* size)
{
    if (auto injected = Role("MEM-3"))
        return *injected;
    if (!size)
        return XT_ERR_PARAM;
    *size = 0;
    const std::vector<uint8_t>* block = Block(handle, "handle size");
    if (!block)
        return XT_ERR_PARAM;
    *size = static_cast<uint32_t>(block->size());
    return XT_OK;
}

int32_t LockHandle(XTHandle handle)
{
    if (auto injected = Role("MEM-4"))
        return *injected;
    return Block(handle, "lock handle") ? XT_OK : XT_ERR_PARAM;
}

int32_t SetHandleSize(XTHandle handle, uint32_t size)
{
    if (auto injected = Role("MEM-5"))
        return *injected;
    std::vector<uint8_t>* block = Block(handle, "set handle size");
    if (!block)
        return XT_ERR_PARAM;
    if (size > kMaxBlock)
        return XT_ERR_PARAM;
    block->resize(size);
    return XT_OK;
}

int32_t HandleAddress(XTHandle handle, void** address)
{
    if (auto injected = Role("MEM-6"))
        return *injected;
    if (!address)
        return XT_ERR_PARAM;
    *address = nullptr;
    std::vector<uint8_t>* block = Block(handle, "handle address");
    if (!block)
        return XT_ERR_PARAM;
    *address = block->data();
    return XT_OK;
}

}  // namespace

void DefineApplicationStateOperations()
{
    XTHOST_DEFINE_SLOT(XAQ_Version, Version);
    XTHOST_DEFINE_SLOT(XAQ_Clock, Clock);
    XTHOST_DEFINE_SLOT(XAQ_GetToolMode, GetToolMode);
    XTHOST_DEFINE_SLOT(XAQ_SetToolMode, SetToolMode);
    XTHOST_DEFINE_SLOT(XAQ_GetTextMode, GetTextMode);
    XTHOST_DEFINE_SLOT(XAQ_SetTextMode, SetTextMode);
    XTHOST_DEFINE_SLOT(XAQ_GetPreference, GetPreference);
    XTHOST_DEFINE_SLOT(XAQ_SetPreference, SetPreference);
    XTHOST_DEFINE_SLOT(XAQ_SetTextUpdate, SetTextUpdate);
    XTHOST_DEFINE_SLOT(XSZ_GetUpdateMode, GetUpdateMode);
    XTHOST_DEFINE_SLOT(XSZ_SetUpdateMode, SetUpdateMode);
    XTHOST_DEFINE_SLOT(XAQ_GetModeFlag, GetModeFlag);
    XTHOST_DEFINE_SLOT(XAQ_ClearModeFlag, ClearModeFlag);
    XTHOST_DEFINE_SLOT(XMM_NewHandle, NewHandle);
    XTHOST_DEFINE_SLOT(XMM_DisposeHandle, DisposeHandle);
    XTHOST_DEFINE_SLOT(XMM_HandleSize, HandleSize);
    XTHOST_DEFINE_SLOT(XMM_SetHandleSize, SetHandleSize);
    XTHOST_DEFINE_SLOT(XMM_HandleAddress, HandleAddress);
    XTHOST_DEFINE_SLOT(XMM_LockHandle, LockHandle);
}

}  // namespace xthost
