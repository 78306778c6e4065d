// Stand-ins for the services of the subsystem that this build does not contain yet: document
// export and import. Each one says in the general log that it is not available and never
// reports success. The real implementations replace this file in the module's link.
#include <string>

#include "Foundation/Log.h"
#include "Plugin/Shell/Commands.h"

namespace {

void NotAvailable(const std::string& what)
{
    GeneralLogStream() << "\n" << what << ": not available in this build" << std::endl;
}

} // namespace

// ---- Document export and import ------------------------------------------------------------

template <>
void CommandAdapter<17>::ActionPerformed(XTVoidRec*)
{
    NotAvailable("Import of a Verbant file");
}
