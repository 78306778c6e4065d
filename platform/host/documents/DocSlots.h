// What the files defining the documents' suite slots share.
#pragma once

#include <string>

#include "platform/host/Host.h"
#include "platform/host/documents/DocHost.h"

namespace xthost {

// The documents of a host, made on first use.
doc::DocHost& DocumentsOf(Host& host);

// The text, story-lock and hidden-content slots.
void DefineTextOperations();

// A text into a caller's buffer of size bytes (with its zero); one that does not fit is
// refused (XT_ERR_PARAM, an empty buffer).
int32_t CopyOutText(const std::string& text, char* buffer, int32_t size);

}  // namespace xthost
