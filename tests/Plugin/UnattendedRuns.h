// Exports and imports as the server and the conversion driver run them: no dialog, source and
// target taken from the job.
#pragma once

#include <string>

#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Batch/FolderRuns.h"
#include "Plugin/Mixer/HostCalls.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostFileServices.h"
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

// The host file spec of a path; `result` receives the host's answer (-43: no such file yet).
inline HostFileSpec HostSpecOf(const std::string& path, int16_t* result = nullptr)
{
    HostFileSpec spec{};
    const int16_t answer = xt_fsmakefsspec(0, 0, path.c_str(), &spec);
    if (result)
        *result = answer;
    return spec;
}

// Fires the import of the exchange file dwq into target, with the multi-document flag set as the
// conversion driver sets it; the overwrite flags are the caller's.
inline void ImportUnattended(const std::string& dwq, const std::string& target)
{
    CurrentJob->Reset();
    CurrentJob->kind = ConversionKind::ToDocument;
    CurrentJob->SetFileTypes();
    CurrentJob->source.SetPath(dwq);
    CurrentJob->target.SetPath(target);
    SavedSourceSpec = HostSpecOf(dwq);
    KestoInterface::Instance()->m_multiDocMode = true;
    PerformByClass<CommandAdapter<17>>(static_cast<XTVoidRec*>(nullptr));
    KestoInterface::Instance()->m_multiDocMode = false;
}

} // namespace kesto_test
