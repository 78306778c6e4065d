// The batch status file that an outside controller writes to drive unattended batch runs, and
// the flags of a batch started at launch.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Foundation/DataFile.h"
#include "Foundation/ModuleGlobals.h"
#include "Foundation/TimeStamp.h"
#include "platform/fs/Claims.h"

enum class BatchMode : int32_t { None = 0, Export = 1, Import = 2, Done = 3 };

// Keys of the status file, by id.
enum BatchKeyId : int32_t {
    kBatchMode = 0,
    kBatchRecursive = 1,
    kBatchWaitOnIdle = 2,
    kBatchSource = 3,
    kBatchTarget = 4,
    kBatchPdfDir = 5,
    kBatchCount = 6,
    kBatchTotal = 7,
    kBatchActive = 8,
    kBatchNoKey = 9,   // the row of an id the table does not hold
};

// Value types of the keys.
enum BatchValueType : int32_t {
    kBatchString = 1,
    kBatchModeValue = 2,
    kBatchInteger = 3,
    kBatchBoolean = 5,
    kBatchNoType = 6,
};

// One row of the key table.
struct BatchKey {
    int32_t key = kBatchNoKey;
    int32_t section = 3;   // 0 "General", 1 "Path", 2 "Status", 3 none
    int32_t type = kBatchNoType;
    std::string comment;
};

// The row of a key id ({9, 3, 6, ""} for an id the table does not hold), its key and section
// names and its default text (empty for no key).
BatchKey BatchKeyRow(int32_t keyId);
const char* BatchKeyName(int32_t keyId);
const char* BatchSectionName(int32_t keyId);
const char* BatchKeyDefault(int32_t keyId);

// "_" and the time as YYYYMMDDhhmmss: the suffix of an archived status file.
std::string BatchArchiveStamp(const TimeStamp& time);

class BatchStatusFile {
public:
    BatchStatusFile();
    ~BatchStatusFile();
    BatchStatusFile(const BatchStatusFile&) = delete;
    BatchStatusFile& operator=(const BatchStatusFile&) = delete;

    // Loads the file named by the setting BatchFilePath, afresh; with reset, writes the
    // defaults. Answers whether it was loaded (and the defaults written).
    bool Load(bool reset);
    std::string GetFilePath() const;
    // Points the data at another file name and, with save, writes it there.
    bool SaveAs(const std::string& path, bool save);

    BatchMode GetMode();
    bool IsRecursive();
    bool IsWaitOnIdle();
    bool IsActive();
    // A path key (Source, Target, PdfDir); empty for other keys and for the default blank.
    std::string GetPath(int32_t keyId);
    void GetPaths(std::string& source, std::string& target, std::string& pdfDir);

    bool IsValid();
    // Valid with mode Export or Import.
    bool HasPendingJob();
    // A loaded file whose mode is Export or Import, valid or not: a job the controller waits
    // for, to be run or refused.
    bool NamesJob();
    // A job this host has claimed and activated.
    bool IsActiveJob();
    // Marks the claimed job active and saves the file. A job whose file its controller rewrote
    // meanwhile is superseded: it is archived, with an Error line that says so, and false answered.
    bool Activate();
    // Records that the pending job was started; false when there is none.
    bool MarkStarted();

    // Each writes only a changed value; autoCreate lets a missing key be added, save writes the
    // file at once. Answers false when the value could not be stored or saved.
    bool SetValue(int32_t keyId, const std::string& value, bool autoCreate, bool save);
    bool SetMode(BatchMode mode, bool autoCreate, bool save);
    // Records in the section Status, as the key Error, why the pending job could not run, and
    // saves the file: the archive then tells the controller that nothing was converted.
    bool SetError(const std::string& reason);
    bool SetActive(bool active, bool autoCreate, bool save);
    bool SetCount(int32_t count, bool autoCreate, bool save);
    bool SetTotal(int32_t total, bool autoCreate, bool save);
    // Every key at its default text; true when all were written.
    bool WriteDefaults();

    // The idle check after a step; with finished, closes the batch.
    bool OnIdle(bool finished);
    // Archives the file under its stamped name with Active False, marks it Done and removes it.
    // The archive never replaces another: a name already taken gets "-2", "-3" and so on.
    // A file that the controller rewrote during the job is left as it is for the next job; only
    // the archive records the job that ran.
    bool FinishBatch();
    // The name of the last archive written; empty before the first.
    const std::string& LastArchive() const { return m_archive; }

    // Claims the file for this host, so that no other host runs its job: false, with a line
    // in the general log (once for each holder), while another living host holds it. The claim
    // of a host that has ended is taken over. Held until the job is archived.
    bool Claim();
    void ReleaseClaim();
    bool HoldsClaim() const { return m_claim.IsHeld(); }
    // Reads the file at its path again (not from the settings), keeping the claim.
    bool Reread();
    // The controller rewrote or removed the file while this host's job ran: the job's progress
    // no longer goes to the file.
    bool IsDetached() const { return m_detached; }
    bool IsLoaded() const { return m_loaded; }
    bool IsStarted() const { return m_started; }
    bool IsWaiting() const { return m_wait; }

private:
    void BuildKeys();
    const BatchKey& Row(int32_t keyId) const;
    bool ReadFrom(const std::string& path);
    // Puts back, under the claim, what a host that ended while it saved the file kept out of it.
    void RestoreHeldOut();
    // A host that ended after it marked its finished job Done, and before it removed the file,
    // left it under the name, and its claim beside it. Removes it, under the claim taken over and
    // while it is still that file, as the host would have, when its archive is there; answers
    // whether it was removed.
    bool EndFinishedJob();
    // The archive whose keys, marked Done, are the file's bytes: the archive of the job that the
    // Done file closed. Empty when there is none (a controller wrote the file, or no archive
    // could be made).
    std::string ArchiveOfDoneFile() const;
    // Saves at the file's own path unless the file is no longer what this host last read or
    // wrote there; answers whether it was saved.
    bool SaveOwn();
    // Removes the file at its own path under the same condition.
    bool RemoveOwn();
    bool StillOurs();
    // Puts the temporary file `replacement` (holding bytes; empty: nothing) in the place of the
    // file while it is still the one this host last read or wrote, whenever a controller's write
    // lands; ours answers false, with the file left to its controller, when it is not. Answers 0
    // or the system's error number.
    int PutOwn(const std::string& replacement, const std::string& bytes, bool& ours);
    void ReportFailure(const char* what, int error) const;
    // Whether this host may not replace the file (another account's file it may not write, say):
    // its job then runs without rewriting it. Said once in the general log.
    bool MayNotRewrite();
    // Writes how far the job has come into its record, once its controller has taken the file back.
    void KeepRecord();
    // Archives, with an Error line, the job whose record a host that has ended left behind.
    void ArchiveEndedJob();
    // The controller has taken the file back: the job's progress goes to its archive only.
    void Detach();
    bool WriteArchive(const std::string& stamp, const std::string& bytes);

    std::vector<BatchKey> m_keys;
    CDataFile m_data;
    bool m_loaded = false;
    bool m_started = false;
    bool m_wait = false;
    std::string m_path;
    // The bytes this host last read from or wrote to the file (when m_known).
    std::string m_disk;
    bool m_known = false;
    // The last Done file judged by EndFinishedJob.
    std::string m_judged;
    bool m_detached = false;
    bool m_activated = false;   // this host marked the job active
    bool m_protected = false;   // the file is not rewritten by this host
    bool m_recorded = false;    // this host wrote the job's record
    std::string m_refusedPath;  // the status file path last refused for its link
    platform::fs::OwnerClaim m_claim;
    bool m_tookOver = false;   // the claim held was taken over from a host that has ended
    long m_refusedOwner = -1;   // the holder last named in the general log
    std::string m_archive;
};

// The one batch status object of the module.
extern ModuleGlobal<BatchStatusFile> BatchStatus;
// A batch run was started at launch: set by the top object, read by the idle state machine.
extern bool LaunchedByBatch;
// The answer of the last Load.
extern bool BatchFileLoaded;

// The time the archive of a finished batch is stamped with: the host's clock. Tests may put
// another source in place (null: the host's clock again).
using BatchClock = bool (*)(TimeStamp& now);
void SetBatchClock(BatchClock clock);

// Marks a valid pending job active and saves the file; false when there is none.
bool ActivateBatchIfPending(BatchStatusFile& status);

// Adds the batch globals to the module's initialisation list.
void RegisterBatchGlobals();
