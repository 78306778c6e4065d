// The host services that the foundation code calls: file specifications, host text objects,
// the host's temporary folder and the application folder.
//
// The module's shell installs an implementation that reaches the host through its bound API
// suites; tests install a small fake. Every call answers the host's 16-bit result code, 0 for
// success. Handles that the host hands out are 32-bit integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/host/xtapi/XTAPI.h"

// The host's description of a file or folder (262 bytes, copied whole). The only field the
// module reads is the name, a zero-terminated byte string starting at byte 6.
using HostFileSpec = XTFileSpec;

// The name up to its zero byte, never reading past the record.
inline std::string FileSpecName(const HostFileSpec& spec)
{
    const std::size_t capacity = sizeof spec.name;
    const void* end = std::memchr(spec.name, 0, capacity);
    const std::size_t length =
        end ? static_cast<std::size_t>(static_cast<const char*>(end) - spec.name) : capacity;
    return std::string(spec.name, length);
}

// Stores a name, cut to what the record holds with its terminating zero.
inline void SetFileSpecName(HostFileSpec& spec, const std::string& name)
{
    const std::size_t capacity = sizeof spec.name;
    const std::size_t length = name.size() < capacity ? name.size() : capacity - 1;
    std::memcpy(spec.name, name.data(), length);
    std::memset(spec.name + length, 0, capacity - length);
}

using HostHandle = XTHandle;   // a host file-specification handle
using HostText = XTHandle;     // a host text object

class HostServices {
public:
    virtual ~HostServices() = default;

    // Writes the full path of a file specification, zero-terminated, into a buffer of the given
    // size (the foundation passes 4096 bytes, the system's longest path and a zero); flags are 0. A path that does not fit is refused.
    virtual int16_t GetFileSpecPath(char* buffer, std::size_t size, const HostFileSpec& spec,
                                    int32_t flags) = 0;

    // File-specification handles.
    virtual int16_t NewFileSpecHandle(HostHandle* handle) = 0;
    virtual void DisposeFileSpecHandle(HostHandle handle) = 0;
    virtual int16_t CopyFileSpec(HostHandle handle, HostFileSpec* spec) = 0;
    // xt_gettempfolder: points the handle at the host's temporary folder.
    virtual int16_t GetTempFolder(HostHandle* handle) = 0;
    // Points the handle at the host application's own folder (the one holding "XTensions").
    virtual int16_t GetApplicationFolder(HostHandle handle) = 0;
    // Resolves a relative path (host text, either separator) against the handle's folder and
    // points the handle at the result.
    virtual int16_t ResolveRelativePath(HostHandle handle, HostText relativePath) = 0;
    // The full path of the handle's specification as a new host text object.
    virtual int16_t GetFullPathText(HostHandle handle, HostText* text) = 0;

    // Host text objects hold UTF-16 text.
    virtual int16_t NewText(const char16_t* chars, int32_t length, HostText* text) = 0;
    virtual int16_t GetTextLength(HostText text, int32_t* length) = 0;
    // Copies at most size code units of the text into the buffer.
    virtual int16_t GetTextChars(HostText text, char16_t* buffer, int32_t size) = 0;
    virtual void DisposeText(HostText text) = 0;
};

// The process-wide host services; null until the shell (or a test) installs them. The caller
// keeps ownership of what it installs.
inline HostServices*& HostServicesSlot()
{
    static HostServices* services = nullptr;
    return services;
}

inline void SetHostServices(HostServices* services)
{
    HostServicesSlot() = services;
}

inline HostServices* GetHostServices()
{
    return HostServicesSlot();
}
