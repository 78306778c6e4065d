// What the current-document functions keep between calls: the private working boxes with
// their documents, and the master-page mode of the source description text.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/host/xtapi/XTAPI.h"

struct WorkBox {
    XTHandle doc;
    XTHandle box;
};

struct HostDocState {
    std::vector<WorkBox> workBoxes;
    int32_t versionMasterPageMode = -1;  // -1 until the version text was first built
};

// The state while the module's globals are built, else null.
HostDocState* HostDocStateIf();
