// Host callbacks that follow the host's work on boxes and PDF output; setup registers them.
#pragma once

#include <cstdint>

// Kind 681: a PDF export needs the module's output style and file.
int32_t PdfOutputHook(void* rec);
// Kind 501: a master-page box was copied onto a page.
int32_t MasterBoxCopyHook(void* rec);
// Kind 106: a box was linked as automatic text.
int32_t AutotextBoxHook(void* rec);
