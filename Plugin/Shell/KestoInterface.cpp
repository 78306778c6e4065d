#include "Plugin/Shell/KestoInterface.h"

#include <ostream>
#include <string>

#include "Foundation/AllocTracker.h"
#include "Foundation/Log.h"
#include "Foundation/ModuleGlobals.h"
#include "Foundation/Settings.h"
#include "Foundation/TimeStamp.h"
#include "SHARED/Server/CnvTools/PathUtils.h"

namespace {

KestoInterface* g_instance = nullptr;

const char* const kServerLogName = "KS7_srv.log";

void LogMode(const char* label, bool on)
{
    if (std::ofstream* log = GeneralLog.GetIf()) {
        *log << label << (on ? "ON" : "OFF") << '\n';
        log->flush();
    }
}

// The folder under which the temporary log folder is made: LogPath, else TemporaryPath, else the
// system's temporary folder.
std::string LogParentPath()
{
    if (!Settings->IsDefault(SettingKey::LogPath))
        return Settings->GetPath(SettingKey::LogPath);
    if (!Settings->IsDefault(SettingKey::TemporaryPath))
        return Settings->GetPath(SettingKey::TemporaryPath);
    return SystemTempPath<std::string>();
}

} // namespace

KestoInterface* KestoInterface::Instance()
{
    if (!g_instance) {
        g_instance = new KestoInterface;
        g_instance->SetExtendedMode(Settings->GetExtendedInterface());
        g_instance->SetServerMode(Settings->GetServerMode());
    }
    return g_instance;
}

void KestoInterface::Destroy()
{
    delete g_instance;
    g_instance = nullptr;
}

void RegisterShellGlobals()
{
    ModuleGlobals::Register(GlobalStep::KestoInterface, nullptr, &KestoInterface::Destroy);
}

void KestoInterface::SetExtendedMode(bool on)
{
    LogMode("\nExtended mode:\t", on);
    m_extendedMode = on;
}

void KestoInterface::SetServerMode(bool on)
{
    LogMode("\nServer mode:\t", on);
    m_serverMode = on;
}

void KestoInterface::SetMultiDocMode(bool on)
{
    LogMode("\nMultiDoc mode:\t", on);
    m_multiDocMode = on;
}

bool KestoInterface::CreateTmpLogFolder()
{
    static const char* const kWhere = "KestoInterface::CreateTmpLogFolder";
    if (!Settings->GetActivateServerLog())
        return false;

    if (m_tmpLogFolder || ServerLog) {
        if (!ReleaseLogHolder())
            LogMessage(KS_LOCATION(kWhere), "Unable to remove previous temporary log folder!", 6);
        // The old nodes go whether or not their folder could be removed from disk.
        DropLogNodes(kWhere);
    }

    TimeStamp now;
    now.SetNow();
    const std::string name = "OMRA_" + FormatCompactTimeStamp(now, false) + "_LOG";

    ReportAllocations(KS_LOCATION(kWhere));
    m_tmpLogFolder = new t_Folder(name, LogParentPath(), true, false);
    ReportAllocations(KS_LOCATION(kWhere));
    TrackAlloc("t_Folder", m_tmpLogFolder, KS_LOCATION(kWhere));
    return m_tmpLogFolder->Exists(true);
}

bool KestoInterface::InitServerLog()
{
    static const char* const kWhere = "KestoInterface::InitServerLog";
    if (!CreateTmpLogFolder())
        return false;
    ReportAllocations(KS_LOCATION(kWhere));
    ServerLog = new t_LogFile(kServerLogName, m_tmpLogFolder);
    TrackAlloc("t_LogFile", ServerLog, KS_LOCATION(kWhere));
    ReportAllocations(KS_LOCATION(kWhere));
    return ServerLog != nullptr;
}

bool KestoInterface::ReleaseLogHolder()
{
    if (!m_tmpLogFolder)
        return false;
    if (Settings->GetKeepServerLog())
        return false;
    if (ServerLog)
        ServerLog->GetStream().close();
    return m_tmpLogFolder->Remove();
}

bool KestoInterface::ReleaseLogUnlessKept()
{
    if (Settings->GetKeepServerLog())
        return true;
    return ReleaseLogHolder();
}

KestoInterface::~KestoInterface()
{
    DropLogNodes("KestoInterface::~KestoInterface");
}

void KestoInterface::DropLogNodes(const char* where)
{
    if (ServerLog)
        DeleteTracked(ServerLog, "t_LogFile", KS_LOCATION(where));
    if (m_tmpLogFolder)
        DeleteTracked(m_tmpLogFolder, "t_Folder", KS_LOCATION(where));
}
