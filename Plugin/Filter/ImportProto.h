// The import of an exchange container: the host document the export stored in it is restored
// at the target, opened, the container's translated stories are written into it and it is
// saved. The Reader is the stream through which the stored document reaches its file.
#pragma once

#include <cstdint>
#include <string>

#include "Plugin/Exchange/KSStreams.h"
#include "platform/host/HostServices.h"

// Writes the restored host document to the target through the host's file interface. A file
// that cannot be made or opened raises KestoException 1011, a write that fails or takes nothing
// 1012; the text of each names the file and the system's reason ("No space left on device").
class Reader : public KS_DWX::KSOutStream {
public:
    explicit Reader(const HostFileSpec& target);
    ~Reader() override;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    void write(const void* data, uint32_t count) override;
    // Closes the host file; a second call does nothing.
    void Close();

private:
    std::string mPath;
    uint16_t mFileRef = 0;
    bool mOpen = false;
};

// The setting masterPageMode as the first import of the process read it.
struct MasterPageModeMemory {
    bool cached = false;
    int32_t mode = 1;
    bool newHandling = true;
};
extern MasterPageModeMemory ImportMasterPageMode;

// The master-page decision from a "source_data_type" text (null when absent): 1 for new
// handling; the warnings go to the general log. Reads and caches the setting on first use.
uint8_t MasterPageDecision(const char16_t* sourceDataType);
