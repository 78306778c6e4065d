// Debug-trace hooks called at internal errors and failed callbacks. They format their texts
// for a trace sink that writes nothing; they never change what the caller does next.
#pragma once

#include <cstdint>

// "\n QuarkInternalError line %s %d"; answers the line.
int ReportInternalError(const char* sourceFile, int line);
// "\n CallBackFailed".
void ReportCallBackFailed();
// "\n Error %d"; answers the code.
uint16_t ReportError(uint16_t code);

// The text each host call site hands debug_check unless it has one of its own.
inline constexpr const char kDebugCheckApiError[] = "debug_check(APIERR): Something strange happend!";
// A host result passes through here on its way back to the caller: the message is for a
// debugger only and reaches no file. Answers the code unchanged.
int32_t debug_check(int32_t code, const char* message = kDebugCheckApiError);
