#include "Plugin/Shell/DialogKinds.h"

uint32_t DialogKinds[kDialogKindCount] = {};
