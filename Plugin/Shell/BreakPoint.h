// Report of a programming error of the module's own objects: a numbered line in the general log
// instead of an exception, and the operation is ignored.
#pragma once

// Writes "######## BreakPoint_KS:" with the running number (0 first) and, when given, a blank and
// the text.
void BreakPoint_KS(const char* text);
