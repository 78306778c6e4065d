// The batch status file that an outside controller writes to drive unattended batch runs, and
// the flags of a batch started at launch.
#pragma once

#include <cstdint>
#include <string>

#include "Foundation/ModuleGlobals.h"

enum class BatchMode : int32_t { None = 0, Export = 1, Import = 2, Done = 3 };

class BatchStatusFile {
public:
    BatchStatusFile();
    ~BatchStatusFile();
    BatchStatusFile(const BatchStatusFile&) = delete;
    BatchStatusFile& operator=(const BatchStatusFile&) = delete;

    // Loads the file named by the setting BatchFilePath; with reset, writes the defaults.
    bool Load(bool reset);
    std::string GetFilePath() const;
    BatchMode GetMode();
    bool IsValid();
    bool IsActiveJob();
    // Records that the pending job was started; false when there is none.
    bool MarkStarted();
    // The idle check after a step; with finished, closes the batch.
    bool OnIdle(bool finished);
};

// The one batch status object of the module.
extern ModuleGlobal<BatchStatusFile> BatchStatus;
// A batch run was started at launch: set by the top object, read by the idle state machine.
extern bool LaunchedByBatch;

// Marks a valid pending job active and saves the file; false when there is none.
bool ActivateBatchIfPending(BatchStatusFile& status);

// Adds the batch globals to the module's initialisation list.
void RegisterBatchGlobals();
