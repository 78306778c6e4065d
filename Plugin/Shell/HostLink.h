// The module's handle on the host's setup record, through which it registers its callbacks.
#pragma once

#include <cstdint>

#include "platform/host/xtapi/XTAPI.h"

// The host's setup record, kept from setup until the module is unloaded; null before setup.
extern XTSetupRec* SetupRecord;

// Registers a callback for a kind through the setup record; answers the host's answer, or
// XT_ERR_PARAM when there is no setup record yet.
int32_t RegisterHostCallBack(int32_t kind, XTCallbackFn fn, int32_t priority);
