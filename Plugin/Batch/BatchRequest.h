// The registry marker through which an outside controller requests an unattended batch run.
#pragma once

// True when this launch found the request and claimed it; examined once per load of the module.
bool IsBatchRequested();
// Removes the request with everything below it.
void DeleteBatchRequestKey();

// The examination behind IsBatchRequested, made afresh in the key store at its current root:
// creates the maker key, and claims a request that no other process has claimed. False when
// there is no request, another process holds it, or the store cannot be written.
bool ClaimBatchRequest();
// Forgets the answer of this load (the module's globals are built afresh).
void ResetBatchRequest();
