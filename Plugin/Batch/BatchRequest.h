// The registry marker through which an outside controller requests an unattended batch run.
#pragma once

#include "Foundation/ModuleGlobals.h"
#include "platform/fs/Claims.h"

// True when this launch found the request and claimed it; examined once per load of the module.
bool IsBatchRequested();
// Removes the request with everything below it.
void DeleteBatchRequestKey();

// The examination behind IsBatchRequested, made afresh in the key store at its current root:
// creates the maker key, and claims a request that no living process holds, through `claim`,
// which keeps it for as long as it is held. False when there is no request, another process
// holds it, or the store cannot be written.
bool ClaimBatchRequest(platform::fs::OwnerClaim& claim);
// This process's claim of the request (held from the examination until the request is removed).
extern ModuleGlobal<platform::fs::OwnerClaim> RequestClaim;
// Forgets the answer of this load (the module's globals are built afresh).
void ResetBatchRequest();
