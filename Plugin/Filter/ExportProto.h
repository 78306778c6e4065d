// The export of the front document into an exchange container (the ".dwq" that also carries the
// saved document itself), the command that chooses and opens a document first, and the reader
// through which the saved document flows into the container.
#pragma once

#include <cstdint>

#include "Plugin/Exchange/KSStreams.h"
#include "platform/host/HostServices.h"

class ProgressBar;

// Streams a saved host document through the host's file interface into the container. An open or
// read failure is kept: what was delivered then is not the whole document.
class Writer : public KS_DWX::KSInStream {
public:
    // Opens the file for reading; progress (may be null) is the running export's bar.
    Writer(const HostFileSpec& spec, ProgressBar* progress);
    // Closes the file and, unless a folder run converts, moves the bar to 85.
    ~Writer() override;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    uint32_t read(void* buffer, uint32_t size) override;
    uint32_t size() override;

    // False when the file could not be opened or a read failed.
    bool IsIntact() const { return mOpened && !mFailed; }
    int16_t Status() const { return mStatus; }
    double Blocks() const { return mBlocks; }

private:
    uint16_t mFileRef = 0;
    int16_t mStatus = 0;
    ProgressBar* mProgress = nullptr;
    double mBlocks = 0.0;
    bool mOpened = false;
    bool mFailed = false;
};

// The bar's position while the saved document is copied, after `blocks` reads: from 70 towards
// 95, never reaching it.
uint32_t CopyProgressPosition(double blocks);

// The answer to the save question that autoOverwriteSource 1 reuses: kept for the life of the
// process once the question was answered.
struct SaveAnswerMemory {
    int32_t answer = -1;
    bool remembered = false;
};
extern SaveAnswerMemory RememberedSaveAnswer;
