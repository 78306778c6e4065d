// The module's conversation with the host at load and unload: activation, the reservation of
// the dialog kinds, setup and unload.
#pragma once

#include <cstdint>

#include "platform/host/xtapi/XTAPI.h"

// The module's own handle, handed to the host at setup; set when the library is loaded.
extern const void* ModuleHandle;
// The module's copy of the host's API table (XT_API_TABLE_WORDS words), null when there is none.
extern uint32_t* HostApiTableCopy;
// The host object made at setup from the module's handle; handed back at unload.
extern XTHandle ModuleHostObject;

// The host's entry into the module.
extern "C" uint32_t XTActivateCallback(XTActivationRec* rec);

// Reserves the dialog kinds (identifier callback).
int32_t ReserveHostIds(void* rec);
// Binds the host API, creates the top object and registers every host callback.
int32_t HostSetup(void* rec);
// Unload callback (kind 4).
int32_t HostShutdown(void* rec);

// The module's load and unload: its globals, built and torn down in order.
void LoadKestoModule();
void UnloadKestoModule();
