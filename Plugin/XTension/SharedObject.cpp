// The module as a shared object: the host loads it from its "XTensions" folder and calls the
// exported XTActivateCallback. Loading builds the module's globals; unloading tears them down.
#include "Plugin/XTension/Activation.h"

namespace {

__attribute__((constructor)) void OnLibraryLoad()
{
    LoadKestoModule();
}

__attribute__((destructor)) void OnLibraryUnload()
{
    UnloadKestoModule();
}

} // namespace
