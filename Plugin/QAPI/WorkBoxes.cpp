#include "Foundation/ModuleGlobals.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/QAPI/HostDocState.h"

namespace {

ModuleGlobal<HostDocState> DocState;

} // namespace

HostDocState* HostDocStateIf()
{
    return DocState.GetIf();
}

void AddWorkBox(XTHandle doc, XTHandle box)
{
    if (HostDocState* state = HostDocStateIf())
        state->workBoxes.push_back(WorkBox{doc, box});
}

void RemoveWorkBox(XTHandle box)
{
    if (HostDocState* state = HostDocStateIf()) {
        auto& boxes = state->workBoxes;
        for (auto it = boxes.begin(); it != boxes.end(); ++it) {
            if (it->box == box) {
                boxes.erase(it);
                return;
            }
        }
    }
}

size_t WorkBoxCount()
{
    const HostDocState* state = HostDocStateIf();
    return state ? state->workBoxes.size() : 0;
}

void RegisterHostDocGlobals()
{
    ModuleGlobals::Register(GlobalStep::PrivateWorkingBoxes, [] { DocState.Build(); }, [] { DocState.Destroy(); });
}
