#include "Plugin/XTension/Activation.h"

#include <algorithm>
#include <new>

#include "Foundation/ModuleGlobals.h"
#include "Plugin/Batch/BatchStatusFile.h"
#include "Plugin/Batch/ConversionDriver.h"
#include "Plugin/Mixer/BoxRecords.h"
#include "Plugin/Mixer/HostHooks.h"
#include "Plugin/QAPI/CurDocAPI.h"
#include "Plugin/Shell/CBManager.h"
#include "Plugin/Shell/DialogKinds.h"
#include "Plugin/Shell/HostFileServices.h"
#include "Plugin/Shell/HostLink.h"
#include "Plugin/Shell/HostSuites.h"
#include "Plugin/Shell/KestoInterface.h"
#include "Plugin/Shell/Menus.h"
#include "Plugin/XTension/Kesto.h"
#include "SHARED/Server/ServerLoops.h"
#include "platform/fs/TempFiles.h"

const void* ModuleHandle = nullptr;
uint32_t* HostApiTableCopy = nullptr;
XTHandle ModuleHostObject = 0;

namespace {

// The arguments of the compatibility query: this module's SDK level.
constexpr uint32_t kCompatCode = 0x00595043;
constexpr uint32_t kCompatLevel = 0x40A20014;
constexpr uint32_t kCompatMajor = 11;
constexpr int32_t kMemoryPriority = 200;
constexpr int32_t kHookPriority = 10;
constexpr uint32_t kRequests[] = {0x913, 0x912};

const char kModuleToken = 0;

// The top object may exist and the host may hold callbacks of the module: the unload has work
// to do.
bool g_setUp = false;

void FreeApiTableCopy()
{
    delete[] HostApiTableCopy;
    HostApiTableCopy = nullptr;
}

int32_t Failed()
{
    return static_cast<int32_t>(XT_MODULE_FAILED);
}

int32_t IgnoreCallBack(void*)
{
    return 0;
}

void Register(int32_t kind, XTCallbackFn fn, int32_t priority = XT_PRIORITY_DEFAULT)
{
    RegisterHostCallBack(kind, fn, priority);
}

// Everything the unload releases: the callback manager with its handlers, the top object, the
// host object and the file services.
void TearDown()
{
    CBManager::ReleaseInstance();
    DeinitKesto();
    if (ModuleHostObject != 0) {
        CallHost<XRN_DisposeModuleObject>(ModuleHostObject);
        ModuleHostObject = 0;
    }
    RemoveHostFileServices();
    g_setUp = false;
}

// Binding, interface tables, components and the top object; false at the first failure.
bool SetUpModule(XTSetupRec& setup)
{
    if (BindHostSuites(setup) != 0 || RequestInterfaceTables(setup, InterfaceSet::All) != 0 ||
        FetchHostComponents(setup) != 0)
        return false;
    InstallHostFileServices();
    g_setUp = true;
    return InitKesto();
}

void RegisterHostCallBacks()
{
    Register(XT_CB_UNLOAD, &HostShutdown);
    Register(DialogKindOf(DialogKind::Progress), &ProgressDlgCB);
    Register(XT_CB_STARTUPDONE, &IgnoreCallBack);
    const XTCallbackFn dialogs[] = {
        &ExportDoneDlgCB,   &ExportFailedDlgCB, &ImportDoneDlgCB,    &ImportFailedDlgCB,
        &SaveChangesDlgCB,  &SourceFolderDlgCB, &DwqTargetDlgCB,     &PdfTargetDlgCB,
        &DwqPdfTargetDlgCB, &ImportFoldersDlgCB, &OverwriteDwqDlgCB, &OverwritePdfDlgCB,
        &OverwriteQxpDlgCB, &DismissHostAlert,
    };
    for (int32_t i = 0; i < kDialogKindCount - 1; ++i)
        Register(static_cast<int32_t>(DialogKinds[i + 1]), dialogs[i]);
}

// The second binding pass; the box and PDF hooks need it, setup does not.
bool BindAgain(XTSetupRec& setup)
{
    return BindHostSuites(setup) == 0 && RequestInterfaceTables(setup, InterfaceSet::All) == 0 &&
           RequestInterfaceTables(setup, InterfaceSet::UserInterfaceAndStrings) == 0;
}

} // namespace

extern "C" uint32_t XTActivateCallback(XTActivationRec* rec)
{
    if (!rec || !rec->compatQuery)
        return XT_MODULE_FAILED;
    if ((rec->compatQuery(kCompatCode, 0, kCompatMajor, kCompatLevel, 0) & 0xFF) == 0) {
        if (rec->setErrorText)
            rec->setErrorText("Kesto activation failed");
        return XT_MODULE_FAILED;
    }
    if (rec->apiTable) {
        auto* copy = new (std::nothrow) uint32_t[XT_API_TABLE_WORDS];
        if (copy)
            std::copy_n(rec->apiTable, XT_API_TABLE_WORDS, copy);
        FreeApiTableCopy();
        HostApiTableCopy = copy;
    }
    if (rec->setMemoryPriority)
        rec->setMemoryPriority(kMemoryPriority);
    if (rec->registerSetupCallback)
        rec->registerSetupCallback(&HostSetup, XT_CB_CONVENTION, XT_PRIORITY_DEFAULT, 0);
    if (rec->registerIdCallback)
        rec->registerIdCallback(&ReserveHostIds, XT_CB_CONVENTION, XT_PRIORITY_DEFAULT, 0);
    return 0;
}

int32_t ReserveHostIds(void* rec)
{
    auto* ids = static_cast<XTIdRec*>(rec);
    if (!ids || !ids->newId)
        return Failed();
    for (uint32_t& kind : DialogKinds)
        if (ids->newId(1, &kind) != 0)
            return Failed();
    return 0;
}

int32_t HostSetup(void* rec)
{
    auto* setup = static_cast<XTSetupRec*>(rec);
    if (!setup)
        return Failed();
    SetupRecord = setup;

    bool ok = false;
    try {
        ok = SetUpModule(*setup);
    } catch (...) {
        // A top object that could not be made whole leaves nothing behind.
        CallBackBarrier([] {
            if (g_setUp)
                TearDown();
            return 0;
        });
        ok = false;
    }
    if (!ok) {
        // A top object made without OLE stays: the host holds its menu command. The unload
        // callback is not registered yet, so the library's unload releases it.
        FreeApiTableCopy();
        if (setup->setErrorText)
            setup->setErrorText("Kesto setup failed");
        return Failed();
    }

    CallHost<XRN_NewModuleObject>(ModuleHandle, 1, &ModuleHostObject);
    RegisterHostCallBacks();
    if (CBManager* manager = CBManager::Instance())
        manager->RegisterAll();
    if (BindAgain(*setup)) {
        Register(XT_CB_PDFOUTPUT, &PdfOutputHook);
        Register(XT_CB_MASTERBOXCOPY, &MasterBoxCopyHook);
        Register(XT_CB_AUTOTEXTBOX, &AutotextBoxHook, kHookPriority);
    }
    // A refused request fails setup, but every callback registered so far stays with the host:
    // the top object and the callback manager keep answering them until the unload callback.
    for (uint32_t request : kRequests) {
        if (!setup->request || setup->request(0, &request, 1) != 0)
            return Failed();
    }
    return 0;
}

int32_t HostShutdown(void*)
{
    return CallBackBarrier([] {
        if (g_setUp)
            TearDown();
        return 0;
    });
}

void LoadKestoModule()
{
    // First, while the host's loader is the only thread that runs.
    platform::fs::KeepUmask();
    ModuleHandle = &kModuleToken;
    RegisterBatchGlobals();
    RegisterConversionGlobals();
    RegisterServerGlobals();
    RegisterShellGlobals();
    RegisterMenuGlobals();
    RegisterHostDocGlobals();
    RegisterBoxRegistries();
    ModuleGlobals::Register(GlobalStep::HostApiCopy, nullptr, &FreeApiTableCopy);
    ModuleGlobals::Init();
}

void UnloadKestoModule()
{
    // A setup that failed after the top object was made never registered the unload callback,
    // and a host may unload without calling it: what the module still holds goes now, while
    // the globals it reports to are still there. A callback that came after the unload
    // callback may have made a new, empty callback manager; it goes too.
    CallBackBarrier([] {
        if (g_setUp)
            TearDown();
        CBManager::ReleaseInstance();
        return 0;
    });
    ModuleGlobals::Shutdown();
}
