#include "Plugin/Shell/BreakPoint.h"

#include <ostream>

#include "Foundation/Log.h"

namespace {
unsigned g_breakPointNumber = 0;
}

void BreakPoint_KS(const char* text)
{
    if (std::ofstream* log = GeneralLog.GetIf()) {
        *log << "######## BreakPoint_KS:" << g_breakPointNumber;
        if (text)
            *log << ' ' << text;
        *log << '\n';
        log->flush();
    }
    ++g_breakPointNumber;
}
