// Stand-ins for the services of the subsystems that this build does not contain yet: host
// document access, document export and import, and PDF creation. Each one says
// in the general log that it is not available and never reports success. The real implementations replace this file in the module's link.
#include <string>

#include "Foundation/Log.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/PdfCreation.h"
#include "Plugin/Mixer/HostHooks.h"
#include "Plugin/Shell/Commands.h"

namespace {

void NotAvailable(const std::string& what)
{
    GeneralLogStream() << "\n" << what << ": not available in this build" << std::endl;
}

} // namespace

// ---- Document export and import ------------------------------------------------------------

template <>
void CommandAdapter<9>::ActionPerformed(XTVoidRec*)
{
    NotAvailable("Export of the current document");
}

template <>
void CommandAdapter<11>::ActionPerformed(XTVoidRec*)
{
    NotAvailable("Export of a chosen document");
}

template <>
void CommandAdapter<13>::ActionPerformed(XTVoidRec*)
{
    NotAvailable("Export of paragraph coordinates");
}

template <>
void CommandAdapter<14>::ActionPerformed(XTVoidRec*)
{
    NotAvailable("Export of XTags");
}

template <>
void CommandAdapter<17>::ActionPerformed(XTVoidRec*)
{
    NotAvailable("Import of a Verbant file");
}

// ---- PDF creation --------------------------------------------------------------------------

bool CreatePdf(bool probe)
{
    if (!probe)
        NotAvailable("PDF creation of \"" + CurrentJob->source.GetPath() + "\"");
    return false;
}

int32_t PreparePdfMode(int32_t mode)
{
    NotAvailable("PDF mode probe");
    return mode == 0 || mode == 2 || mode == 3 ? 0 : 3;
}

// ---- Host document access ------------------------------------------------------------------

int32_t PdfOutputHook(void*)
{
    return 0;
}
