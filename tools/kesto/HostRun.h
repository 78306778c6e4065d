// What kesto needs to run the emulated host with the module: where the programs are, the
// user's application folder, and one host run in a scratch copy of it.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kesto {

// The programs and the shipped application folder, found beside kesto in an installed tree
// (bin/, lib/kesto/, share/kesto/) or in the build tree.
struct Installation {
    std::string xthost;
    std::string module;
    std::string shippedApp;
};
bool FindInstallation(Installation& found, std::string& error);

// $XDG_CONFIG_HOME/kesto, else ~/.config/kesto.
std::string DefaultAppFolder();
// Makes the default application folder from the shipped one on first use; an application folder
// the user names must exist. Answers why it cannot be used, "" when it can.
std::string PrepareAppFolder(const std::string& app, bool userNamed, const Installation& installation);

// A path as the host's script quotes it.
std::string ScriptWord(const std::string& text);
// An absolute path, also for one that does not exist yet.
std::string Absolute(const std::string& path);
// Whether a plain file is at path (links followed); false for anything else or nothing.
bool IsFile(const std::string& path);

// In the settings' values and the progress file, @RUN@ stands for the run's own application
// folder.
struct HostJob {
    std::string script;
    // Settings of this run only, over the user's kesto.ini: key id and value.
    std::vector<std::pair<int, std::string>> settings;
    // Files to write into the run's folder first: name and content.
    std::vector<std::pair<std::string, std::string>> files;
    // Whether the run is unattended from the start (the batch request key).
    bool batchRequest = false;
    // A batch status file whose Count and Total the progress display shows while the host runs.
    std::string progressFile;
};

struct HostResult {
    int status = -1;           // xthost's exit status; -1 when it did not end normally
    std::string transcript;
    std::string generalLog;
    std::string hostErrors;    // xthost's standard error stream
    int signal = 0;            // the signal kesto was asked to stop with, 0 for none
};

// Runs xthost with the module, once per job, each in a scratch application folder made from the
// user's settings (so that a run's settings, registry key and general log are its own). The
// general logs of all runs are kept together under <app>/logs/ for the user to read.
class HostRunner {
public:
    HostRunner(Installation installation, std::string app, std::string command, bool verbose);
    ~HostRunner();
    HostRunner(const HostRunner&) = delete;
    HostRunner& operator=(const HostRunner&) = delete;

    // Runs the job. False, with the reason, when the host could not be started.
    bool Run(const HostJob& job, HostResult& result, std::string& error);
    // The file that keeps the general logs of this command's runs.
    const std::string& LogPath() const { return m_logPath; }
    const std::string& App() const { return m_app; }

private:
    Installation m_installation;
    std::string m_app;
    bool m_writable = true;
    std::string m_logFolder;
    std::string m_logPath;
    bool m_verbose;
};

// Forwards SIGINT, SIGTERM and SIGHUP to the running host, which ends; the command then ends too.
void CatchStopSignals();
int StopSignal();

// A progress display on standard error: a bar on a terminal, a line for each new percentage
// otherwise.
class Progress {
public:
    Progress();
    void Show(long done, long total);
    void End();

private:
    bool m_terminal;
    int m_last = -1;
    bool m_drawn = false;
};

// The archives of a batch status file in its folder (STATUS_YYYYMMDDhhmmss and the like), sorted.
std::set<std::string> StatusArchives(const std::string& status);

// The Count and Total of a batch status file (plain or UTF-16); false when it cannot be read.
bool ReadStatusCounts(const std::string& path, long& count, long& total);

}  // namespace kesto
