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
