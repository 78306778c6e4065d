// The module's dialog and alert templates, compiled in: the host loads a dialog's items from
// here when the dialog's callback names its resource id.
#pragma once

#include <cstdint>

#include "platform/host/xtapi/XTAPI.h"

// The template of a resource id, or null when the module has none.
const XTDialogTemplate* FindDialogTemplate(int32_t resId);

// Every template of the module, in resource order.
const XTDialogTemplate* DialogTemplatesBegin();
const XTDialogTemplate* DialogTemplatesEnd();

// The one function through which the host reads the templates, exported by the module beside
// the window callbacks that name them (Dialogs.cpp).
extern "C" const XTDialogTemplate* XTGetDialogTemplate(int32_t resId);
