#include "Plugin/Shell/HostLink.h"

XTSetupRec* SetupRecord = nullptr;

int32_t RegisterHostCallBack(int32_t kind, XTCallbackFn fn, int32_t priority)
{
    if (!SetupRecord || !SetupRecord->registerCallback)
        return XT_ERR_PARAM;
    return SetupRecord->registerCallback(kind, fn, XT_CB_CONVENTION, priority, 0);
}
