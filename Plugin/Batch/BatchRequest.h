// The registry marker through which an outside controller requests an unattended batch run.
#pragma once

// True when this launch found (and claimed) the request; examined once per process.
bool IsBatchRequested();
// Removes the request.
void DeleteBatchRequestKey();
