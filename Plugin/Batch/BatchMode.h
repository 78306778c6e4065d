// Batch mode: the folder runs that an outside controller's batch status file asks for, started
// by the idle state machine (the batch export and import steps, actions 12 and 18).
#pragma once

#include <cstdint>

// Whether the batch status file describes a run: valid, with mode Export or Import.
bool BatchJobRunning();

// After a file of a run: the status file's Count, saved at once, while a batch runs.
void BatchCountUpdate(int32_t fileNumber);
