// The application streams through which the host document stored in an exchange Book passes:
// the export reads the saved document from a KSInStream, the import writes it to a KSOutStream.
#pragma once

#include <cstdint>

namespace KS_DWX {

class KSInStream {
public:
    virtual ~KSInStream() = default;
    // Places up to `size` bytes in the buffer and answers how many; 0 at the end of the data.
    virtual uint32_t read(void* buffer, uint32_t size) = 0;
    // The length of the source in bytes.
    virtual uint32_t size() = 0;
};

class KSOutStream {
public:
    virtual ~KSOutStream() = default;
    // Takes the block of `count` bytes; a failure is raised.
    virtual void write(const void* data, uint32_t count) = 0;
};

} // namespace KS_DWX
