#include "Foundation/TraceHooks.h"

#include <cstdarg>

namespace {

// The trace sink: the module keeps no debug trace, so the texts go nowhere.
void Trace(const char* /*format*/, ...) {}

} // namespace

int ReportInternalError(const char* sourceFile, int line)
{
    Trace("\n QuarkInternalError line %s %d", sourceFile ? sourceFile : "", line);
    return line;
}

void ReportCallBackFailed()
{
    Trace("\n CallBackFailed");
}

uint16_t ReportError(uint16_t code)
{
    Trace("\n Error %d", static_cast<int>(code));
    return code;
}

int32_t debug_check(int32_t code, const char* message)
{
    Trace("%s", message ? message : "");
    return code;
}
