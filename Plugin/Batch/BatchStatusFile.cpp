#include "Plugin/Batch/BatchStatusFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Foundation/Log.h"
#include "Foundation/Settings.h"
#include "platform/fs/Folders.h"
#include "platform/fs/NativeFS.h"
#include "platform/fs/TempFiles.h"
#include "Plugin/Batch/BatchRequest.h"
#include "Plugin/Batch/ConversionJob.h"
#include "Plugin/Shell/HostSuites.h"
#include "SHARED/Server/CnvTools/PathUtils.h"

ModuleGlobal<BatchStatusFile> BatchStatus;
bool LaunchedByBatch = false;
bool BatchFileLoaded = false;

namespace {

struct KeyInfo {
    const char* name;
    int32_t section;
    int32_t type;
    const char* defaultText;
    const char* comment;
};

// The key table, by id.
const KeyInfo kKeys[] = {
    {"Mode", 0, kBatchModeValue, "None",
     "Batch Mode                                        [ None | Export | Import | Done ]"},
    {"Recursive", 0, kBatchBoolean, "False",
     "Source directory: scan recursively                [ True | False ]"},
    {"WaitOnIdle", 0, kBatchBoolean, "False",
     "Wait for next batch file on idle                  [ True | False ]"},
    {"Source", 1, kBatchString, " ",
     "Full path to source ( Export: QXP | Import: DWQ ) [ file | directory ]"},
    {"Target", 1, kBatchString, " ", "Full path to target                               [ directory ]"},
    {"PdfDir", 1, kBatchString, " ", "Full path to PDF target                           [ directory ]"},
    {"Count", 2, kBatchInteger, "0", "Number of files already converted"},
    {"Total", 2, kBatchInteger, "0", "Total number of files to be converted"},
    {"Active", 2, kBatchBoolean, "False", "Is batch currently active?"},
};
constexpr int32_t kKeyCount = static_cast<int32_t>(sizeof kKeys / sizeof kKeys[0]);
const char* const kSections[] = {"General", "Path", "Status", ""};
const char* const kModeNames[] = {"None", "Export", "Import", "Done"};
// Written beside the counters only when a pending job could not run.
const char kErrorKey[] = "Error";
const char kErrorComment[] = "Why the batch could not run (nothing was converted)";
// Written instead when the job ran, or began to, and its archive cannot count as that of a job done.
const char kFailedComment[] = "Why the batch failed (what it converted may be incomplete or lost)";

const KeyInfo* InfoOf(int32_t keyId)
{
    return keyId >= 0 && keyId < kKeyCount ? &kKeys[keyId] : nullptr;
}

bool HostClock(TimeStamp& now)
{
    XTClockRec clock{};
    if (CallHost<XAQ_Clock>(&clock) != XT_OK)
        return false;
    now.m_year = clock.year;
    now.m_month = clock.month;
    now.m_day = clock.day;
    now.m_hour = clock.hour;
    now.m_minute = clock.minute;
    now.m_second = clock.second;
    return true;
}

BatchClock g_clock = nullptr;

// The time of the archive: the chosen clock, else the local time.
TimeStamp ArchiveTime()
{
    TimeStamp now;
    if (!(g_clock ? g_clock : &HostClock)(now))
        now.SetNow();
    return now;
}

// A path value: the default blank reads as empty, and a leading blank that a controller
// wrote after the "=" is no part of any path.
std::string PathValue(std::string value)
{
    if (!value.empty() && value[0] == ' ')
        value.erase(0, 1);
    return value;
}

// The holder last named when the claim itself failed.
constexpr long kClaimFailed = -2;

constexpr int kRemoveRetries = 2;   // three attempts in all
// Archives of one second: the first keeps the plain stamp, the others get "-2" and on.
constexpr int kArchiveNames = 1000;

// A hidden file beside the status file, ".NAME" + suffix (no archive name begins with it).
std::string HiddenBeside(const std::string& path, const char* suffix)
{
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, name) + "." + path.substr(name) + suffix;
}

// The hidden claim file beside the status file.
std::string ClaimPathOf(const std::string& path)
{
    return HiddenBeside(path, ".claim");
}

// The hidden record beside the status file of a job whose file its controller took back while
// the job ran: the job's only trace until its archive is there.
std::string RecordPathOf(const std::string& path)
{
    return HiddenBeside(path, ".job");
}

// Whether name (no folder) is an archive name of the status file named stem: "_", the stamp's
// 14 digits, then nothing or "-" and a number.
bool IsArchiveName(const std::string& name, const std::string& stem)
{
    const std::size_t digits = stem.size() + 1;
    if (name.size() < digits + 14 || name.compare(0, stem.size(), stem) != 0 || name[stem.size()] != '_')
        return false;
    const std::string rest = name.substr(digits);
    if (rest.find_first_not_of("0123456789") == 14 && rest[14] == '-' && rest.size() > 15)
        return rest.find_first_not_of("0123456789", 15) == std::string::npos;
    return rest.size() == 14 && rest.find_first_not_of("0123456789") == std::string::npos;
}

// A status file below a link that another user may have planted is never read (its job would be
// the planter's): the general log says why, once for as long as the reason stays.
void LogLinkRefusal(const std::string& path)
{
    static std::string said;
    const std::string why = platform::fs::LinkRefusal(path);
    if (!why.empty() && why != said)
        GeneralLogStream() << "\nThe batch status file \"" << path << "\" is not read: " << why << std::endl;
    said = why;
}

} // namespace

BatchKey BatchKeyRow(int32_t keyId)
{
    BatchKey row;
    if (const KeyInfo* info = InfoOf(keyId)) {
        row.key = keyId;
        row.section = info->section;
        row.type = info->type;
        row.comment = info->comment;
    }
    return row;
}

const char* BatchKeyName(int32_t keyId)
{
    const KeyInfo* info = InfoOf(keyId);
    return info ? info->name : "";
}

const char* BatchSectionName(int32_t keyId)
{
    return kSections[BatchKeyRow(keyId).section];
}

const char* BatchKeyDefault(int32_t keyId)
{
    const KeyInfo* info = InfoOf(keyId);
    return info ? info->defaultText : "";
}

std::string BatchArchiveStamp(const TimeStamp& time)
{
    return "_" + FormatCompactTimeStamp(time, false);
}

void SetBatchClock(BatchClock clock)
{
    g_clock = clock;
}

BatchStatusFile::BatchStatusFile() = default;

BatchStatusFile::~BatchStatusFile()
{
    // Unsaved changes go to the file only while it is still the one this host wrote; the data
    // file must not save it on its own.
    if (m_data.IsDirty())
        SaveOwn();
    m_data.Clear();
}

void BatchStatusFile::BuildKeys()
{
    m_keys.clear();
    for (int32_t id = 0; id < kKeyCount; ++id)
        m_keys.push_back(BatchKeyRow(id));
}

const BatchKey& BatchStatusFile::Row(int32_t keyId) const
{
    static const BatchKey kNoKey;
    return keyId >= 0 && keyId < static_cast<int32_t>(m_keys.size()) ? m_keys[keyId] : kNoKey;
}

bool BatchStatusFile::Load(bool reset)
{
    BuildKeys();
    std::string path;
    SettingsFile* settings = Settings.GetIf();
    if (settings && settings->IsLoaded()) {
        path = settings->GetPath(SettingKey::BatchFilePath);
    } else {
        SettingsFile temporary;
        path = temporary.GetPath(SettingKey::BatchFilePath);
    }

    // Every load starts from nothing: no key of the previous batch may survive into the next.
    bool answer = false;
    m_data.Clear();
    m_loaded = m_known = m_detached = false;
    if (path.size() > 1) {
        // A status file named through a link is the file the link names, once the link is one
        // its user may follow: the job's saves, claim and archive go beside that file.
        std::string resolved;
        const int links = platform::fs::ResolveLinks(path, resolved);
        m_path = links == 0 ? resolved : path;
        if (links == 0) {
            m_refusedPath.clear();
            answer = ReadFrom(resolved);
        } else if (m_refusedPath != path) {
            m_refusedPath = path;
            GeneralLogStream() << "\nThe batch status file \"" << path << "\" is not read: "
                               << (links == EACCES ? platform::fs::ReplaceRefusal(path) : std::strerror(links)) << "."
                               << std::endl;
        }
    }
    if (answer && reset && !WriteDefaults())
        answer = false;
    BatchFileLoaded = answer;
    return answer;
}

void BatchStatusFile::RestoreHeldOut()
{
    // A living host that runs the job holds the claim, and what it keeps out of the name is its
    // own business; the claim of a host that has ended is free, and stays held for the read.
    if (!platform::fs::HasHeldOut(m_path) || (!HoldsClaim() && !Claim()))
        return;
    if (platform::fs::RestoreHeldOut(m_path) > 0)
        GeneralLogStream() << "\nThe batch status file \"" << m_path
                           << "\" that its controller wrote while a host that has ended saved it is put back in its place."
                           << std::endl;
}

void BatchStatusFile::ArchiveEndedJob()
{
    // A living host that runs the job keeps its record; the claim of a host that has ended is
    // free, and stays held for the read.
    const std::string record = RecordPathOf(m_path);
    std::string bytes;
    if (!CDataFile::ReadFileBytes(record, bytes) || (!HoldsClaim() && !Claim()))
        return;
    CDataFile data;
    data.LoadBytes(bytes);
    data.m_flags |= CDataFile::AutoCreateKeys;
    const std::string reason = "the job's host ended before it was archived";
    data.SetValue(BatchKeyName(kBatchActive), "False", CDataFile::CommentStr(BatchKeyRow(kBatchActive).comment),
                  BatchSectionName(kBatchActive));
    data.SetValue(kErrorKey, reason, CDataFile::CommentStr(kFailedComment), kSections[2]);
    if (!WriteArchive(BatchArchiveStamp(ArchiveTime()), data.FileBytes()))
        return;
    GeneralLogStream() << "\nA job of the batch status file \"" << m_path << "\" that its controller had replaced "
                       << "while it ran was not archived: " << reason << ". It is archived as \"" << m_archive
                       << "\", with that error." << std::endl;
    ::unlink(record.c_str());
    platform::fs::DeferFolderSync(record);
    SyncWrittenNames();
}

void BatchStatusFile::KeepRecord()
{
    // Written at each step, so that whatever ends this host, the next one finds how far the job came.
    if (!m_activated)
        return;
    const std::string record = RecordPathOf(m_path);
    if (platform::fs::ReplaceFile(record, m_data.FileBytes()) == 0 && platform::fs::SyncFolderOf(record) == 0)
        m_recorded = true;
}

bool BatchStatusFile::ReadFrom(const std::string& path)
{
    m_data.Clear();
    m_loaded = m_known = m_detached = m_activated = m_protected = m_recorded = false;
    // A claim taken here, to mend what a host that has ended left, is given up after the read.
    const bool held = HoldsClaim();
    RestoreHeldOut();
    ArchiveEndedJob();
    std::string bytes;
    if (CDataFile::ReadFileBytes(path, bytes)) {
        m_data.LoadBytes(bytes);
        m_data.SetFileName(path);
        m_disk = bytes;
        m_known = m_loaded = true;
        if (GetMode() == BatchMode::Done && EndFinishedJob()) {
            m_data.Clear();
            m_loaded = m_known = false;
        }
    } else {
        CDataFile::Report(1, "[CDataFile::Load] Unable to open file. Does it exist?");
        LogLinkRefusal(path);
    }
    if (!held)
        ReleaseClaim();
    return m_loaded;
}

std::string BatchStatusFile::ArchiveOfDoneFile() const
{
    const std::string native = platform::fs::NativePath(m_path);
    const std::size_t slash = native.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : native.substr(0, slash + 1);
    const std::string stem = native.substr(slash == std::string::npos ? 0 : slash + 1);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::string();
    std::string found;
    while (const struct dirent* entry = ::readdir(dir)) {
        if (!IsArchiveName(entry->d_name, stem))
            continue;
        const std::string archive = (slash == std::string::npos ? std::string() : folder) + entry->d_name;
        // The archive holds the file's keys as they were before the job was marked Done: marked
        // so, the same way, it gives the same bytes.
        std::string bytes;
        if (!CDataFile::ReadFileBytes(archive, bytes))
            continue;
        CDataFile data;
        data.LoadBytes(bytes);
        const char* key = BatchKeyName(kBatchMode);
        const char* section = BatchSectionName(kBatchMode);
        std::string mode = data.GetValue(key, section);
        CDataFile::Trim(mode);
        if ((mode != kModeNames[1] && mode != kModeNames[2]) ||
            !data.SetValue(key, kModeNames[3], CDataFile::CommentStr(BatchKeyRow(kBatchMode).comment), section) ||
            data.FileBytes() != m_disk)
            continue;
        found = archive;
        break;
    }
    ::closedir(dir);
    return found;
}

bool BatchStatusFile::EndFinishedJob()
{
    // A Done file is no job: no controller waits for it to run. Only a host's own, whose archive
    // is there, is removed; one without an archive is the job's only record and stays, and is
    // not looked into again at every idle call of a waiting host.
    if (m_disk == m_judged)
        return false;
    const std::string archive = ArchiveOfDoneFile();
    // A living host that holds the claim is itself about to remove the file.
    if (!archive.empty() && !HoldsClaim() && !Claim())
        return false;
    // That host's claim stays behind it: a host that gave its claim up left the file as the
    // record of a job whose own archive could not be made (an earlier run of the same job may
    // have the archive that matches).
    if (archive.empty() || !m_tookOver) {
        m_judged = m_disk;
        return false;
    }
    const bool removed = RemoveOwn();
    if (removed)
        GeneralLogStream() << "\nThe batch status file \"" << m_path << "\" of a job that a host that has ended "
                           << "finished and archived as \"" << archive << "\" is removed, as that host would have "
                           << "removed it." << std::endl;
    return removed;
}

bool BatchStatusFile::Reread()
{
    if (m_path.empty())
        return false;
    BuildKeys();
    return ReadFrom(m_path);
}

bool BatchStatusFile::StillOurs()
{
    if (!m_known || m_detached)
        return !m_detached;
    std::string bytes;
    if (CDataFile::ReadFileBytes(m_path, bytes) && bytes == m_disk)
        return true;
    Detach();
    return false;
}

void BatchStatusFile::Detach()
{
    m_detached = true;
    // Before its activation the job has not begun: Activate says what becomes of it.
    if (m_activated)
        GeneralLogStream() << "\nThe batch status file \"" << m_path
                           << "\" was rewritten or removed by its controller while its job ran; the job goes on, its "
                              "progress goes to its archive only, and the file is left as the controller wrote it."
                           << std::endl;
}

int BatchStatusFile::PutOwn(const std::string& replacement, const std::string& bytes, bool& ours)
{
    const int error = platform::fs::ReplaceOwnFile(m_path, m_disk, replacement, bytes, ours);
    if (error == 0 && !ours)
        Detach();
    return error;
}

void BatchStatusFile::ReportFailure(const char* what, int error) const
{
    GeneralLogStream() << "\nThe batch status file \"" << m_path << "\" cannot be " << what << ": "
                       << std::strerror(error) << std::endl;
}

bool BatchStatusFile::SaveOwn()
{
    // A file already rewritten is not touched at all; one rewritten from now on is kept too,
    // whenever its controller's write lands: the save replaces only the file it compared.
    if (!StillOurs()) {
        KeepRecord();
        return false;
    }
    if (m_known && MayNotRewrite())
        return true;
    if (!m_known) {
        if (!m_data.Save())
            return false;
    } else {
        const std::string bytes = m_data.FileBytes();
        std::string temp;
        bool ours = false;
        int fd = -1;
        int error = platform::fs::InjectedFault(platform::fs::Operation::ReplaceFile, m_path);
        if (error == 0)
            error = platform::fs::CreateTempBeside(m_path, platform::fs::kTempSuffix, fd, temp);
        if (error == 0 && (error = platform::fs::WriteAll(fd, bytes)) == 0)
            error = platform::fs::ReadyTemp(fd, m_path);
        // The temporary stays held until it is in place or gone.
        if (error == 0)
            error = PutOwn(temp, bytes, ours);
        else if (fd >= 0)
            ::unlink(temp.c_str());
        if (fd >= 0)
            ::close(fd);
        if (error != 0)
            ReportFailure("saved", error);
        if (!ours) {
            if (m_detached)
                KeepRecord();
            return false;
        }
        m_data.MarkSaved();
    }
    m_disk = m_data.FileBytes();
    m_known = true;
    return true;
}

bool BatchStatusFile::MayNotRewrite()
{
    // A replace would give the file this host's account and lock its controller out of it, when
    // the host may not write it: the job runs without rewriting it.
    if (m_protected)
        return true;
    const std::string native = platform::fs::NativePath(m_path);
    struct stat file {};
    if (::stat(native.c_str(), &file) != 0 ||
        ((file.st_mode & 0222) != 0 && ::faccessat(AT_FDCWD, native.c_str(), W_OK, AT_EACCESS) == 0))
        return false;
    // Its removal at the job's end, which tells the controller that the job is over, needs the
    // folder's leave: a sticky folder gives it only to the owners of the file and of the folder.
    // Without it the job would run again at every idle call: it does not start at all.
    const std::size_t slash = native.rfind('/');
    struct stat folder {};
    const uid_t self = ::geteuid();
    if (::stat(slash == std::string::npos ? "." : native.substr(0, slash + 1).c_str(), &folder) != 0 ||
        (self != 0 && (folder.st_mode & S_ISVTX) != 0 && file.st_uid != self && folder.st_uid != self))
        return false;
    const std::string refusal = platform::fs::ReplaceRefusal(m_path);
    m_protected = true;
    GeneralLogStream() << "\nThe batch status file \"" << m_path << "\" is not rewritten by this host (" << refusal
                       << "): its job runs without it, the job's progress goes to its archive only, and the file is "
                          "removed once the archive is there."
                       << std::endl;
    return true;
}

bool BatchStatusFile::RemoveOwn()
{
    if (!StillOurs())
        return false;
    for (int attempt = 0;; ++attempt) {
        bool ours = false;
        int error = platform::fs::InjectedFault(platform::fs::Operation::RemoveFile, m_path);
        if (error == 0)
            error = PutOwn(std::string(), std::string(), ours);
        if (error == 0) {
            // The removal tells the controller that the job is over: it is on the disk first.
            SyncWrittenNames();
            return ours;
        }
        if (attempt == kRemoveRetries) {
            ReportFailure("removed", error);
            return false;
        }
        platform::fs::Pause(platform::fs::kRetryPauseMs);
    }
}

bool BatchStatusFile::WriteArchive(const std::string& stamp, const std::string& bytes)
{
    for (int n = 1; n <= kArchiveNames; ++n) {
        const std::string name = m_path + stamp + (n == 1 ? std::string() : "-" + std::to_string(n));
        const int error = platform::fs::CreateFileExclusive(name, bytes);
        if (error == 0) {
            m_archive = name;
            return true;
        }
        if (error != EEXIST) {
            GeneralLogStream() << "\nThe batch status file cannot be archived as \"" << name
                               << "\": " << std::strerror(error) << std::endl;
            return false;
        }
    }
    return false;
}

bool BatchStatusFile::Claim()
{
    if (m_path.empty())
        return false;
    long owner = 0;
    int error = 0;
    switch (m_claim.Claim(ClaimPathOf(m_path), owner, error)) {
    case platform::fs::OwnerClaim::Result::Claimed:
        m_refusedOwner = -1;
        // A claim that names no process is one whose content a power cut took: its host has ended too.
        if (m_claim.TookOver() && owner != static_cast<long>(::getpid())) {
            m_tookOver = true;
            GeneralLogStream() << "\nThe batch status file \"" << m_path << "\" was claimed by "
                               << (owner > 0 ? "process " + std::to_string(owner) : std::string("a process"))
                               << ", which has ended; process " << ::getpid() << " takes it over." << std::endl;
        }
        return true;
    case platform::fs::OwnerClaim::Result::Held:
        // A claimant that has locked its claim may not have written its process id yet.
        if (owner != m_refusedOwner)
            GeneralLogStream() << "\nThe batch status file \"" << m_path << "\" is claimed by "
                               << (owner > 0 ? "process " + std::to_string(owner) : std::string("another host"))
                               << ", which runs its job; this host leaves it alone." << std::endl;
        m_refusedOwner = owner;
        return false;
    case platform::fs::OwnerClaim::Result::Failed:
        if (m_refusedOwner != kClaimFailed)
            GeneralLogStream() << "\nThe batch status file \"" << m_path << "\" cannot be claimed: "
                               << std::strerror(error) << "; this host leaves it alone." << std::endl;
        m_refusedOwner = kClaimFailed;
        return false;
    }
    return false;
}

void BatchStatusFile::ReleaseClaim()
{
    m_tookOver = false;
    m_claim.Release();
}

std::string BatchStatusFile::GetFilePath() const
{
    return m_path;
}

bool BatchStatusFile::SaveAs(const std::string& path, bool save)
{
    m_data.SetFileName(path);
    if (!save)
        return true;
    return path == m_path ? SaveOwn() : m_data.Save();
}

BatchMode BatchStatusFile::GetMode()
{
    // Blanks around the value are no part of it, as with the paths: "Mode = Export" is Export.
    std::string value = m_data.GetValue(BatchKeyName(kBatchMode), BatchSectionName(kBatchMode));
    CDataFile::Trim(value);
    for (int mode = 1; mode < 4; ++mode)
        if (value == kModeNames[mode])
            return static_cast<BatchMode>(mode);
    return BatchMode::None;
}

bool BatchStatusFile::IsRecursive()
{
    return m_data.GetBool(BatchKeyName(kBatchRecursive), BatchSectionName(kBatchRecursive));
}

bool BatchStatusFile::IsWaitOnIdle()
{
    return m_data.GetBool(BatchKeyName(kBatchWaitOnIdle), BatchSectionName(kBatchWaitOnIdle));
}

bool BatchStatusFile::IsActive()
{
    return m_data.GetBool(BatchKeyName(kBatchActive), BatchSectionName(kBatchActive));
}

std::string BatchStatusFile::GetPath(int32_t keyId)
{
    if (keyId != kBatchSource && keyId != kBatchTarget && keyId != kBatchPdfDir)
        return std::string();
    return PathValue(m_data.GetString(BatchKeyName(keyId), BatchSectionName(keyId)));
}

void BatchStatusFile::GetPaths(std::string& source, std::string& target, std::string& pdfDir)
{
    source = GetPath(kBatchSource);
    target = GetPath(kBatchTarget);
    pdfDir = GetPath(kBatchPdfDir);
}

bool BatchStatusFile::IsValid()
{
    switch (GetMode()) {
    case BatchMode::Export:
        return m_loaded && !GetPath(kBatchSource).empty() &&
               (!GetPath(kBatchTarget).empty() || !GetPath(kBatchPdfDir).empty());
    case BatchMode::Import:
        return m_loaded && !GetPath(kBatchSource).empty() && !GetPath(kBatchTarget).empty();
    default:
        return true;
    }
}

bool BatchStatusFile::HasPendingJob()
{
    const BatchMode mode = GetMode();
    return IsValid() && (mode == BatchMode::Export || mode == BatchMode::Import);
}

bool BatchStatusFile::NamesJob()
{
    const BatchMode mode = GetMode();
    return m_loaded && (mode == BatchMode::Export || mode == BatchMode::Import);
}

bool BatchStatusFile::IsActiveJob()
{
    return NamesJob() && IsActive() && HoldsClaim();
}

bool BatchStatusFile::MarkStarted()
{
    if (!IsActiveJob())
        return false;
    m_started = true;
    return true;
}

bool BatchStatusFile::SetValue(int32_t keyId, const std::string& value, bool autoCreate, bool save)
{
    const char* key = BatchKeyName(keyId);
    const char* section = BatchSectionName(keyId);
    if (m_data.GetValue(key, section) == value)
        return true;
    if (autoCreate)
        m_data.m_flags |= CDataFile::AutoCreateKeys;
    else
        m_data.m_flags &= ~CDataFile::AutoCreateKeys;
    if (!m_data.SetValue(key, value, CDataFile::CommentStr(Row(keyId).comment), section))
        return false;
    return !save || SaveOwn();
}

bool BatchStatusFile::Activate()
{
    if (SetActive(true, true, true))
        return m_activated = true;
    if (!m_detached)
        return false;
    // Its controller has written a newer file: this job never starts, and its archive says so,
    // as that of a job that cannot run does, so that the controller waits for it no longer.
    const std::string reason = "the job was superseded by a newer status file before it started";
    GeneralLogStream() << "\nThe batch status file \"" << m_path << "\" was rewritten by its controller while this host "
                       << "activated its job: " << reason << "; it is archived without running, and the newer file "
                       << "is left as its controller wrote it." << std::endl;
    SetActive(false, true, false);
    SetError(reason);
    WriteArchive(BatchArchiveStamp(ArchiveTime()), m_data.FileBytes());
    SyncWrittenNames();
    return false;
}

bool BatchStatusFile::SetError(const std::string& reason)
{
    m_data.m_flags |= CDataFile::AutoCreateKeys;
    return m_data.SetValue(kErrorKey, reason, CDataFile::CommentStr(kErrorComment), kSections[2]) && SaveOwn();
}

bool BatchStatusFile::SetMode(BatchMode mode, bool autoCreate, bool save)
{
    const auto index = static_cast<int32_t>(mode);
    if (index < 0 || index > 3)
        return false;
    return SetValue(kBatchMode, kModeNames[index], autoCreate, save);
}

bool BatchStatusFile::SetActive(bool active, bool autoCreate, bool save)
{
    return SetValue(kBatchActive, active ? "True" : "False", autoCreate, save);
}

bool BatchStatusFile::SetCount(int32_t count, bool autoCreate, bool save)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(count));
    return SetValue(kBatchCount, text, autoCreate, save);
}

bool BatchStatusFile::SetTotal(int32_t total, bool autoCreate, bool save)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(total));
    return SetValue(kBatchTotal, text, autoCreate, save);
}

bool BatchStatusFile::WriteDefaults()
{
    if (m_keys.empty())
        BuildKeys();
    bool all = true;
    for (int32_t id = 0; id < kKeyCount; ++id)
        all = SetValue(id, BatchKeyDefault(id), true, true) && all;
    return all;
}

bool BatchStatusFile::OnIdle(bool finished)
{
    if (!IsActiveJob())
        return false;
    if (finished) {
        m_started = m_wait = IsWaitOnIdle();
        return FinishBatch();
    }
    m_started = m_wait = false;
    return false;
}

bool BatchStatusFile::FinishBatch()
{
    const std::string stamp = BatchArchiveStamp(ArchiveTime());
    bool done = SetActive(false, true, false);
    // The job's results are on the disk before the file and the archive report them; a job
    // whose results the disk may lose is archived with that error.
    std::string unsynced;
    if (!SyncWrittenNames(&unsynced)) {
        m_data.m_flags |= CDataFile::AutoCreateKeys;
        m_data.SetValue(kErrorKey, unsynced, CDataFile::CommentStr(kFailedComment), kSections[2]);
        done = false;
    }
    // The file itself says so first, unless its controller has taken it back meanwhile.
    SaveOwn();
    SyncWrittenNames();
    const bool archived = WriteArchive(stamp, m_data.FileBytes());
    if (archived && m_recorded) {
        ::unlink(RecordPathOf(m_path).c_str());
        platform::fs::DeferFolderSync(m_path);
        m_recorded = false;
    }
    // The archive is on the disk before the file that the controller watches says the job is over.
    SyncWrittenNames();
    done = archived && done;
    done = SetMode(BatchMode::Done, true, false) && done;
    if (m_detached) {
        // The controller's new file stays for the next job; the finished job is in its archive.
        ReleaseClaim();
        return done;
    }
    done = SaveOwn() && done;
    // The controller learns that the batch is over when its file has gone; a file it has
    // written again meanwhile holds its next job and stays. Without a whole archive the file
    // is the job's only record: it stays, marked Done so that no host runs it again.
    if (!archived)
        GeneralLogStream() << "\nThe batch status file \"" << m_path
                           << "\" stays, marked Done: it is the finished job's only record." << std::endl;
    else if (!m_detached)
        done = RemoveOwn() && done;
    // Whatever the file now holds, the record or the removal, is on the disk before the job ends.
    SyncWrittenNames();
    ReleaseClaim();
    return done;
}

void RegisterBatchGlobals()
{
    ModuleGlobals::Register(
        GlobalStep::BatchStatus,
        [] {
            BatchStatus.Build();
            LaunchedByBatch = false;
            BatchFileLoaded = false;
            RequestClaim.Build();
            ResetBatchRequest();
        },
        [] { BatchStatus.Destroy(); RequestClaim.Destroy(); });
    ModuleGlobals::Register(
        GlobalStep::ConversionJob,
        [] {
            CurrentJob.Build();
            ImportTargetPath.Build();
        },
        [] {
            ImportTargetPath.Destroy();
            CurrentJob.Destroy();
        });
}
