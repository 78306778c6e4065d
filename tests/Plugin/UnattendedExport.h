// Exports the front document as the server does: no dialog, the target taken from the job.
#pragma once

#include <string>

#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/KestoInterface.h"

namespace kesto_test {

// Fires the export of the front document into target and closes the document afterwards.
inline void ExportFrontDocumentUnattended(const std::string& source, const std::string& target)
{
    CurrentJob->Reset();
    CurrentJob->kind = ConversionKind::ToExchange;
    CurrentJob->SetFileTypes();
    CurrentJob->source.SetPath(source);
    CurrentJob->target.SetPath(target);
    KestoInterface::Instance()->m_serverMode = true;
    OverwriteFlags.exchangeFile = true;
    FireExportCurrentDocumentButton(nullptr);
    KestoInterface::Instance()->m_serverMode = false;
    CloseProject(-1, 1);
}

} // namespace kesto_test
