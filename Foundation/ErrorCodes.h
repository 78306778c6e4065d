// The module's error codes 1000 to 1021 and their names.
#pragma once

#include <cstdint>

struct ErrorCode {
    enum : uint16_t {
        WrongParameter = 1000,
        LowMemory = 1001,
        Unexpected = 1002,
        StackCorrupt = 1003,
        DWXError = 1004,
        CreateDWX = 1005,
        OpenDWX = 1006,
        FileOpen = 1008,
        FileRead = 1009,
        FileDelete = 1010,
        FileCreate = 1011,
        FileWrite = 1012,
        Unimplemented = 1013,
        TooManyErrors = 1014,
        MapperFormat = 1015,
        Assert = 1020,
        QuarkAssert = 1021,
    };
};

// The name of a code of the table, or null for any other code.
const char* ErrorCodeName(uint16_t code);

// The name of a code, or "Unknown": safe to write to a stream.
const char* ErrorCodeNameOrUnknown(uint16_t code);
