#include "Plugin/XTension/Kesto.h"

#include <algorithm>
#include <string>

#include "Foundation/AllocTracker.h"
#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Plugin/Batch/BatchRequest.h"
#include "Plugin/Batch/BatchStatusFile.h"
#include "Plugin/Shell/CBManager.h"
#include "Plugin/Shell/KestoInterface.h"
#include "Plugin/Shell/Menus.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/storage/StructuredStorage.h"

namespace {

constexpr int32_t kOleFailedException = 863;

template <class T>
RefPtr<T> Make()
{
    return RefPtr<T>(new T);
}

// The folder part of a path: everything before its last separator, empty when it has none.
std::string FolderPart(const std::string& path)
{
    const auto last = std::find_if(path.rbegin(), path.rend(), IsPathSeparator<char>);
    return last == path.rend() ? std::string() : std::string(path.begin(), last.base() - 1);
}

// A batch status file whose folder exists marks a batch run started at launch, whether or
// not the file itself is there yet.
bool BatchFolderExists()
{
    BatchStatusFile* status = BatchStatus.GetIf();
    if (!status)
        return false;
    const std::string path = status->GetFilePath();
    const std::string folder = FolderPart(path);
    return !path.empty() && !folder.empty() && PathExists(folder);
}

} // namespace

OLEInitGuard::OLEInitGuard(bool throwOnFailure) : m_result(OleInitialize(nullptr))
{
    if (!Succeeded() && throwOnFailure)
        throw kOleFailedException;
}

OLEInitGuard::~OLEInitGuard()
{
    if (Succeeded())
        OleUninitialize();
}

bool OLEInitGuard::Succeeded() const
{
    return m_result == S_OK || m_result == S_FALSE;
}

Kesto::Kesto() : m_ole(false)
{
    // Without OLE the object is still made whole: its menu command is registered with the host
    // by now, and callbacks the host still holds must find every member in place.
    m_beep = Make<CommandAdapter<1>>();
    m_about = Make<CommandAdapter<4>>();
    m_exportCurrentButton = Make<MenuButton<5>>();
    m_exportCoordsButton = Make<MenuButton<6>>();
    m_exportTgxButton = Make<MenuButton<7>>();
    m_exportDocument = Make<CommandAdapter<9>>();
    m_exportCoords = Make<CommandAdapter<13>>();
    m_exportTgx = Make<CommandAdapter<14>>();
    m_exportToVerbantButton = Make<MenuButton<10>>();
    m_exportMultipleButton = Make<MenuButton<8>>();
    m_chooseAndExport = Make<CommandAdapter<11>>();
    m_batchExportStep = Make<IdleAdapter<12>>();
    m_idleMachine = Make<IdleAdapter<19>>();
    m_importButton = Make<MenuButton<15>>();
    m_importMultipleButton = Make<MenuButton<16>>();
    m_import = Make<CommandAdapter<17>>();
    m_batchImportStep = Make<IdleAdapter<18>>();
    m_unused36 = Make<CommandAdapter<36>>();
    m_unused34 = Make<CommandAdapter<34>>();

    bool serverMode = false;
    if (Settings->Load(std::string(), false)) {
        serverMode = KestoInterface::Instance()->m_serverMode;
        if (serverMode)
            KestoInterface::Instance()->InitServerLog();
        else if (BatchStatusFile* status = BatchStatus.GetIf())
            status->Load(false);
    }

    RegisterCallBack(XT_CB_IDLE, new IdleButton);
    Menus::Install();
    WireMenuButtons();

    if (serverMode) {
        ConnectIdleListener(m_idleMachine);
    } else if (BatchFolderExists()) {
        LaunchedByBatch = true;
        // The request is claimed before the job is: a host that leaves a job to the host
        // running it must not take (and at its end remove) that host's request.
        IsBatchRequested();
        ActivateBatchIfPending(*BatchStatus);
        ConnectIdleListener(m_idleMachine);
    }
}

Kesto::~Kesto()
{
    // A batch requested for this launch is over with the module.
    if (IsBatchRequested())
        DeleteBatchRequestKey();
    // The members go in reverse order of creation, the OLE guard last.
}

bool InitKesto()
{
    // Only its class slot and the creation reference hold the new object, also when OLE did
    // not start: it stays until DeinitKesto.
    const Kesto* kesto = new Kesto;
    ReportAllocations(KS_LOCATION("InitKesto"));
    return kesto->OleStarted();
}

void DeinitKesto()
{
    KestoInterface::Instance()->ReleaseLogUnlessKept();
    ReportAllocations(KS_LOCATION("DeinitKesto"));
    // The creation reference and the one just taken.
    if (Kesto* kesto = ClassObject<Kesto>::Instance().Detach()) {
        kesto->Release();
        kesto->Release();
    }
}
