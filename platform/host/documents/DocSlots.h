// What the files defining the documents' suite slots share.
#pragma once

#include "platform/host/Host.h"
#include "platform/host/documents/DocHost.h"

namespace xthost {

// The documents of a host, made on first use.
doc::DocHost& DocumentsOf(Host& host);

// The text, story-lock and hidden-content slots.
void DefineTextOperations();

}  // namespace xthost
