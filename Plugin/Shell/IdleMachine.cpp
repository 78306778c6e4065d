#include "Plugin/Shell/IdleMachine.h"

#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Plugin/Batch/BatchStatusFile.h"
#include "Plugin/Mixer/MessageBox.h"
#include "Plugin/Shell/Commands.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoInterface.h"
#include "SHARED/Server/ServerLoops.h"

namespace {

const char* const kWhere = "Swing::ActionAdapter<XTIdleRec*,19>::ActionPerformed";

// The decisions are taken at the first idle call and kept for the whole run.
struct IdleState {
    bool decided = false;
    bool serverRun = false;
    bool batchRun = false;
    bool serverStarted = false;
    bool quitAfterServer = false;
    bool batchBusy = false;
    bool quitAfterBatch = false;
};
IdleState g_idle;

void Log(const char* text, int32_t priority)
{
    LogMessage(KS_LOCATION(kWhere), text, priority);
}

void RequestHostQuit()
{
    CallHost<XAQ_RequestQuit>();
}

// A job the controller waits for: run when it is valid, refused with its reason when not.
bool IsPendingBatch(BatchStatusFile& status)
{
    return status.NamesJob();
}

void ServerStep()
{
    if (g_idle.serverStarted)
        return;
    Log("Server DOWN", 7);
    Log("DoStartServer[BEFORE]", 2);
    g_idle.serverStarted = true;

    const uint16_t port = ServerPortFromSetting(Settings->GetListenPort());
    bool halted = false;
    try {
        // A server that restarted before its halt answers false; it was still halted by its
        // client and must not be started again.
        halted = DoStartServer(port) || ServerWasHalted();
    } catch (...) {
        halted = false;
    }
    // A server its settings keep closed stays so: starting it at every idle call would only
    // fill the logs with the same reason.
    if (!halted && !ServerStartRefused()) {
        g_idle.serverStarted = false;
        return;
    }
    if (!halted)
        return;
    Log("Quark shutdown started ...", 7);
    if (!g_idle.quitAfterServer) {
        RequestHostQuit();
        g_idle.quitAfterServer = true;
        Log("Quark shutdown complete.", 7);
    }
}

void RunBatchStep(BatchStatusFile& status, XTIdleRec* rec)
{
    switch (status.GetMode()) {
    case BatchMode::Export:
        FireBatchExportStep(rec);
        break;
    case BatchMode::Import:
        FireBatchImportStep(rec);
        break;
    case BatchMode::None:
    case BatchMode::Done:
        break;
    default:
        ShowMessageBox(22100, "Batch mode error!", "", "", "", false, false, false);
        break;
    }
}

void BatchStep(BatchStatusFile& status, XTIdleRec* rec)
{
    if (g_idle.batchBusy)
        return;
    if (!status.IsActiveJob()) {
        if (g_idle.quitAfterBatch)
            return;
        if (LaunchedByBatch) {
            // A job that the controller has written meanwhile runs at a later idle call.
            if (status.Load(false))
                ActivateBatchIfPending(status);
        } else {
            RequestHostQuit();
            g_idle.quitAfterBatch = true;
        }
        return;
    }
    if (!status.MarkStarted())
        return;
    g_idle.batchBusy = true;
    try {
        RunBatchStep(status, rec);
        status.OnIdle(true);
    } catch (...) {
        g_idle.batchBusy = false;
        status.OnIdle(false);
        return;
    }
    g_idle.batchBusy = false;
}

} // namespace

void ResetIdleMachine()
{
    g_idle = IdleState{};
}

template <>
void IdleAdapter<19>::ActionPerformed(XTIdleRec* rec)
{
    BatchStatusFile* status = BatchStatus.GetIf();
    if (!g_idle.decided) {
        g_idle.decided = true;
        g_idle.serverRun = KestoInterface::Instance()->m_serverMode;
        g_idle.batchRun = status && IsPendingBatch(*status);
    }
    if (g_idle.serverRun)
        ServerStep();
    else if (g_idle.batchRun && status)
        BatchStep(*status, rec);
}
