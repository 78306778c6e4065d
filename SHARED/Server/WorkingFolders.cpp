// The server's working folders (one per job, and one per intermediate document) and the
// heartbeat file an outside watcher reads.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>

#include "Foundation/AllocTracker.h"
#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "Foundation/TimeStamp.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "SHARED/Server/ConversionBase.h"
#include "platform/fs/NativeFS.h"
#include "platform/fs/Sweep.h"

namespace {

constexpr const char* kFolderType = "t_Folder";
constexpr const char* kIncoming = "incoming";
constexpr const char* kHeartbeatName = "ServerAlive";
// Stamp and letters of a job folder's name make 30 characters together.
constexpr size_t kStampAndLetters = 30;
// Names drawn before giving up: only a root that refuses every new folder gets this far.
constexpr int kNameAttempts = 100;
constexpr char kJobPrefix[] = "OMRA_";
// The last letters of a job folder's name say which process made it (platform/fs/Sweep.h).
constexpr size_t kCodeLetters = 8;
const platform::fs::NameForm kJobFolderForm{platform::fs::OwnedKind::JobFolder, ""};

// Drawn from one generator seeded once per process: jobs in the same second of the clock get
// different names, and so do two processes started in the same second.
std::string RandomLetters(size_t count) {
    static std::mutex guard;
    static std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), static_cast<unsigned>(::getpid()),
                           static_cast<unsigned>(std::time(nullptr))};
        return std::mt19937_64(seed);
    }();
    std::uniform_int_distribution<int> letter(0, 25);
    std::lock_guard<std::mutex> lock(guard);
    std::string letters(count, 'A');
    for (char& c : letters)
        c = static_cast<char>('A' + letter(generator));
    return letters;
}

// The whole tree below and including path; links are removed, never followed.
bool RemoveTree(const std::string& path, std::string& error) {
    error = platform::fs::RemoveTree(path);
    return error.empty();
}

bool SettingClearTempFiles() {
    SettingsFile* settings = Settings.GetIf();
    return settings ? settings->GetClearTempFiles() : true;
}

} // namespace

std::string JobFolderName(const std::string& stamp, long owner) {
    const size_t random = kStampAndLetters - std::min(stamp.size() + kCodeLetters, kStampAndLetters);
    return kJobPrefix + stamp + "_" + RandomLetters(random) +
           platform::fs::JobOwnerLetters(stamp, static_cast<unsigned long>(owner));
}

long JobFolderOwner(const std::string& name) {
    pid_t owner = 0;
    return platform::fs::ParseOwnedName(name, kJobFolderForm, owner) ? static_cast<long>(owner) : 0;
}

void SweepJobFolders(const std::string& root) {
    static constexpr const char* kWhere = "SweepJobFolders";
    if (!SettingClearTempFiles()) {
        LogMessage(KS_LOCATION(kWhere), "Job folders of earlier servers are kept: clearTempFiles is off.", 4);
        return;
    }
    // A folder that its server uses is held by it, wherever that server runs: only what no
    // server holds goes, whatever process id its name carries.
    std::error_code ec;
    if (!std::filesystem::is_directory(platform::fs::NativePath(root), ec)) {
        LogMessage(KS_LOCATION(kWhere), "Error: unable to read folder '" + root + "'" +
                                            (ec ? ": " + ec.message() : std::string()), 6);
        return;
    }
    for (const platform::fs::SweptEntry& entry : platform::fs::SweepOwned(root, kJobFolderForm)) {
        if (entry.error.empty())
            LogMessage(KS_LOCATION(kWhere),
                       "Removed job folder of a server that is gone (process " + std::to_string(entry.owner) +
                           "): " + entry.path,
                       7);
        else
            LogMessage(KS_LOCATION(kWhere), "Error: unable to remove job folder '" + entry.path + "': " + entry.error, 6);
    }
}

std::string JobFolderRoot() {
    SettingsFile* settings = Settings.GetIf();
    if (settings && !settings->IsDefault(SettingKey::TemporaryPath)) {
        std::string root = settings->GetPath(SettingKey::TemporaryPath);
        StripTrailingSeparators(root);
        return root;
    }
    return SystemTempPath();
}

std::string MakeJobFolder(const std::string& root, platform::fs::OwnedLock& lock) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        TimeStamp now;
        now.SetNow();
        const std::string stamp = FormatCompactTimeStamp(now, false);
        const std::string name = JobFolderName(stamp, static_cast<long>(::getpid()));
        const int error = platform::fs::MakeOwnedFolder(JoinPath(root, name), lock);
        if (error == 0)
            return name;
        if (error != EEXIST) {
            LogMessage(KS_LOCATION("MakeJobFolder"),
                       "Error: unable to create folder in '" + root + "': " + platform::fs::ErrorText(error), 6);
            return std::string();
        }
    }
    LogMessage(KS_LOCATION("MakeJobFolder"), "Error: no free folder name in '" + root + "'!", 6);
    return std::string();
}

// ---- Job folders ---------------------------------------------------------------------------

bool ct_ConversionBase::CreateTmpFolder() {
    static constexpr const char* kWhere = "ct_ConversionBase::CreateTmpFolder";
    if (m_TmpFolder || m_IncomingFolder) {
        if (!RemoveTmpFolder())
            LogMessage(KS_LOCATION(kWhere), "Warning: unable to remove previous temporary folder!", 6);
        DeleteTracked(m_IncomingFolder, kFolderType, KS_LOCATION(kWhere));
        DeleteTracked(m_TmpFolder, kFolderType, KS_LOCATION(kWhere));
    }
    const std::string root = JobFolderRoot();
    const std::string name = MakeJobFolder(root, m_TmpFolderLock);
    if (name.empty())
        return false;

    ReportAllocations(KS_LOCATION(kWhere));
    m_TmpFolder = new t_Folder(name, root, false, false); // made above, exclusively
    TrackAlloc(kFolderType, m_TmpFolder, KS_LOCATION(kWhere));
    ReportAllocations(KS_LOCATION(kWhere));

    ReportAllocations(KS_LOCATION(kWhere));
    m_IncomingFolder = new t_Folder(kIncoming, m_TmpFolder, true);
    TrackAlloc(kFolderType, m_IncomingFolder, KS_LOCATION(kWhere));
    ReportAllocations(KS_LOCATION(kWhere));

    return m_TmpFolder->Exists(true) && m_IncomingFolder->Exists(true);
}

bool ct_ConversionBase::RemoveTmpFolder() {
    if (!m_TmpFolder || !SettingClearTempFiles() || m_TmpFolder->GetFlag())
        return false;
    const std::string path = m_TmpFolder->GetFullPath();
    std::string error;
    if (!RemoveTree(path, error)) {
        LogMessage(KS_LOCATION("ct_ConversionBase::RemoveTmpFolder"),
                   "Error: unable to remove temporary folder '" + path + "': " + error, 6);
        return false;
    }
    m_TmpFolderLock.Release();
    return true;
}

// ---- Intermediate document -----------------------------------------------------------------

IntermediateFile::IntermediateFile(const std::string& sourcePath, const std::string& targetName,
                                   CnvType type) {
    const std::string extension = GetExtension(sourcePath, true);
    active = type == 1 && !extension.empty() && FileTypeByExtension(extension) == 1;
    if (!active)
        return;
    const std::string root = JobFolderRoot();
    const std::string name = MakeJobFolder(root, m_Lock);
    if (name.empty())
        return;
    m_Folder = JoinPath(root, name);
    std::string document = targetName;
    ChangeExtension(document, std::string(ServerXtensions[0]), false, true);
    path = JoinPath(m_Folder, document);
}

IntermediateFile::~IntermediateFile() {
    if (!m_Folder.empty())
        Remove();
}

int IntermediateFile::Exists() const {
    if (!active)
        return -1;
    bool isDirectory = false;
    return !path.empty() && PathExists(path, &isDirectory) && !isDirectory ? 0 : 1;
}

int IntermediateFile::Remove() {
    if (!active)
        return -1;
    if (m_Folder.empty())
        return 1;
    std::string error;
    if (!RemoveTree(m_Folder, error)) {
        LogMessage(KS_LOCATION("IntermediateFile::Remove"),
                   "Error: unable to remove folder '" + m_Folder + "': " + error, 6);
        return 1;
    }
    m_Folder.clear();
    m_Lock.Release();
    return 0;
}

// ---- Heartbeat -----------------------------------------------------------------------------

void ServerAliveFile() {
    SettingsFile* settings = Settings.GetIf();
    if (!settings || settings->IsDefault(SettingKey::ServerAlivePath))
        return;
    std::string folder = settings->GetPath(SettingKey::ServerAlivePath);
    if (folder.find_first_not_of(" \t") == std::string::npos)
        return;
    TimeStamp now;
    now.SetNow();
    std::ostringstream line;
    WriteTimeStamp(line, now) << "\r\n";
    // A whole line replaces the last one, so a watcher never reads an empty or cut file.
    platform::fs::ReplaceFile(JoinPath(folder, std::string(kHeartbeatName)), line.str());
}
