#include "tools/kesto/HostRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Foundation/Settings.h"

namespace fs = std::filesystem;

namespace kesto {

namespace {

// How many general logs of earlier commands the application folder keeps.
constexpr std::size_t kKeptLogs = 30;

volatile sig_atomic_t g_stop = 0;
volatile pid_t g_child = 0;

void OnStop(int signal)
{
    g_stop = signal;
    if (g_child > 0)
        ::kill(g_child, signal);
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string SelfFolder()
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.parent_path().string();
}

}  // namespace

bool FindInstallation(Installation& found, std::string& error)
{
    const fs::path here = SelfFolder();
    // Installed: bin/kesto beside bin/xthost, the module and the application folder under the
    // same prefix.
    const Installation installed{(here / "xthost").string(), (here / "../lib/kesto/Kesto.so").lexically_normal().string(),
                                 (here / "../share/kesto/app").lexically_normal().string()};
    const Installation built{(here / KESTO_BUILD_XTHOST).string(), (here / KESTO_BUILD_MODULE).string(),
                             KESTO_SHIPPED_APP};
    for (const Installation& candidate : {installed, built}) {
        std::error_code ec;
        if (IsFile(candidate.xthost) && IsFile(candidate.module) && fs::is_directory(candidate.shippedApp, ec)) {
            found = candidate;
            return true;
        }
    }
    error = "cannot find xthost and Kesto.so beside " + (here.empty() ? std::string("this program") : here.string()) +
            " (build them: cmake --build BUILD_DIR)";
    return false;
}

std::string DefaultAppFolder()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/kesto";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/kesto";
}

std::string PrepareAppFolder(const std::string& app, bool userNamed, const Installation& installation)
{
    std::error_code ec;
    if (fs::is_directory(app, ec))
        return std::string();
    if (userNamed)
        return "the application folder " + app + " is no folder";
    fs::create_directories(fs::path(app).parent_path(), ec);
    // Made whole beside its place, then renamed into it, so that a second kesto starting at the
    // same time finds a whole folder or none.
    const std::string partial = app + ".part-" + std::to_string(::getpid());
    fs::copy(installation.shippedApp, partial, fs::copy_options::recursive, ec);
    if (!ec)
        fs::rename(partial, app, ec);
    if (ec) {
        fs::remove_all(partial, ec);
        if (fs::is_directory(app, ec))
            return std::string();
        return "cannot make the application folder " + app + " from " + installation.shippedApp;
    }
    std::fprintf(stderr, "kesto: made the application folder %s (its settings: %s/XTensions/kesto.ini)\n", app.c_str(),
                 app.c_str());
    return std::string();
}

std::string ScriptWord(const std::string& text)
{
    std::string word = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            word += '\\', word += c;
        else if (c == '\n')
            word += "\\n";
        else if (c == '\t')
            word += "\\t";
        else
            word += c;
    }
    return word + "\"";
}

std::string Absolute(const std::string& path)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return (ec ? fs::path(path) : absolute).lexically_normal().string();
}

bool IsFile(const std::string& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

HostRunner::HostRunner(Installation installation, std::string app, std::string command, bool verbose)
    : m_installation(std::move(installation)), m_app(std::move(app)), m_verbose(verbose)
{
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    // An application folder the user may not write (an installed one, say) keeps the settings;
    // the logs and the host's temporary folder then go to the temporary folder.
    const char* temp = std::getenv("TMPDIR");
    m_writable = ::access(m_app.c_str(), W_OK) == 0;
    m_logFolder = m_writable ? m_app + "/logs" : std::string(temp && *temp ? temp : "/tmp");
    m_logPath = m_logFolder + "/" + (m_writable ? "" : "kesto-") + stamp + "-" + command + "-" +
                std::to_string(::getpid()) + ".log";
}

HostRunner::~HostRunner()
{
    // The oldest logs go; their names begin with their time.
    std::error_code ec;
    std::vector<fs::path> logs;
    for (fs::directory_iterator it(m_app + "/logs", ec), end; m_writable && !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".log")
            logs.push_back(it->path());
    std::sort(logs.begin(), logs.end());
    for (std::size_t i = 0; logs.size() > kKeptLogs && i < logs.size() - kKeptLogs; ++i)
        fs::remove(logs[i], ec);
}

bool HostRunner::Run(const HostJob& job, HostResult& result, std::string& error)
{
    result = HostResult{};
    const char* temp = std::getenv("TMPDIR");
    std::string pattern = std::string(temp && *temp ? temp : "/tmp") + "/kesto-run.XXXXXX";
    if (!::mkdtemp(&pattern[0])) {
        error = "cannot make a folder in " + fs::path(pattern).parent_path().string() + ": " + std::strerror(errno);
        return false;
    }
    const std::string run = pattern;
    auto inRun = [&run](std::string text) {
        for (std::size_t at; (at = text.find("@RUN@")) != std::string::npos;)
            text.replace(at, 5, run);
        return text;
    };
    struct Remove {
        std::string folder;
        ~Remove()
        {
            std::error_code ec;
            fs::remove_all(folder, ec);
        }
    } remove{run};

    std::error_code ec;
    fs::create_directories(run + "/XTensions", ec);
    const std::string settings = run + "/XTensions/kesto.ini";
    if (IsFile(m_app + "/XTensions/kesto.ini"))
        fs::copy_file(m_app + "/XTensions/kesto.ini", settings, ec);
    else
        std::ofstream{settings};
    if (!job.settings.empty()) {
        SettingsFile file(false);
        bool ok = file.Load(settings, false);
        for (const auto& setting : job.settings)
            ok = ok && file.SetValue(setting.first, inRun(setting.second), true, true);
        if (!ok) {
            error = "cannot write the settings of the run into " + settings;
            return false;
        }
    }
    if (job.batchRequest)
        fs::create_directories(run + "/Registry/HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology/Kesto 50 Batch Mode",
                               ec);
    std::ofstream(run + "/run.xts", std::ios::binary) << job.script;
    for (const auto& file : job.files)
        std::ofstream(run + "/" + file.first, std::ios::binary) << file.second;
    Progress progress;
    const std::string progressFile = inRun(job.progressFile);
    // A job that is over has left its status file as an archive, with its last counts.
    const auto tick = [&](bool over) {
        const std::set<std::string> archives = over ? StatusArchives(progressFile) : std::set<std::string>();
        long count = 0, total = 0;
        if (ReadStatusCounts(progressFile, count, total) ||
            (!archives.empty() && ReadStatusCounts(*archives.rbegin(), count, total)))
            progress.Show(count, total);
    };
    const std::string hostTemp = m_writable ? m_app + "/Temp" : run + "/Temp";
    fs::create_directories(hostTemp, ec);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        error = std::string("cannot start xthost: ") + std::strerror(errno);
        return false;
    }
    const std::vector<std::string> args = {m_installation.xthost, "--app",    run,
                                           "--module",            m_installation.module,
                                           "--temp",              hostTemp,
                                           "--script",            run + "/run.xts",
                                           "--auto"};
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        std::fprintf(stderr, "xthost: cannot run %s: %s\n", argv[0], std::strerror(errno));
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (child < 0) {
        ::close(out[0]);
        ::close(err[0]);
        error = std::string("cannot start xthost: ") + std::strerror(errno);
        return false;
    }
    g_child = child;
    if (g_stop)
        ::kill(child, g_stop);

    // The transcript and the host's errors as they come, shown at once with -v.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&result.transcript, &result.hostErrors};
    std::FILE* echo[2] = {stdout, stderr};
    auto last = std::chrono::steady_clock::now();
    int open = 2;
    while (open > 0) {
        const int ready = ::poll(fds, 2, 100);
        if (ready < 0 && errno != EINTR)
            break;
        for (int i = 0; ready > 0 && i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, static_cast<std::size_t>(n));
                if (m_verbose) {
                    std::fwrite(buffer, 1, static_cast<std::size_t>(n), echo[i]);
                    std::fflush(echo[i]);
                }
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (!progressFile.empty() && now - last >= std::chrono::milliseconds(100)) {
            last = now;
            tick(false);
        }
    }
    for (const pollfd& fd : fds)
        if (fd.fd >= 0)
            ::close(fd.fd);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    g_child = 0;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = g_stop;
    if (!progressFile.empty())
        tick(true);
    progress.End();

    result.generalLog = ReadAll(run + "/KestoLogfile.txt");
    fs::create_directories(m_logFolder, ec);
    std::ofstream(m_logPath, std::ios::binary | std::ios::app) << result.generalLog;
    return true;
}

void CatchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

int StopSignal()
{
    return g_stop;
}

Progress::Progress() : m_terminal(::isatty(2) == 1) {}

void Progress::Show(long done, long total)
{
    if (total <= 0)
        return;
    done = std::min(std::max(done, 0L), total);
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == m_last)
        return;
    m_last = percent;
    if (m_terminal) {
        constexpr int kWidth = 30;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%  %ld of %ld files", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, '.').c_str(), percent, done, total);
        m_drawn = true;
    } else {
        std::fprintf(stderr, "kesto: %d%% (%ld of %ld files)\n", percent, done, total);
    }
    std::fflush(stderr);
}

void Progress::End()
{
    if (m_drawn)
        std::fputc('\n', stderr);
    m_drawn = false;
    m_last = -1;
}

std::set<std::string> StatusArchives(const std::string& status)
{
    std::set<std::string> found;
    const std::string prefix = fs::path(status).filename().string() + "_";
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(status).parent_path(), ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().rfind(prefix, 0) == 0)
            found.insert(it->path().string());
    return found;
}

bool ReadStatusCounts(const std::string& path, long& count, long& total)
{
    std::string text = ReadAll(path);
    // Every key is ASCII: UTF-16 loses nothing of it with its zero bytes.
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    bool found = false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        line.erase(0, line.find_first_not_of(" \t\xEF\xBB\xBF\xFF\xFE"));
        long* into = line.rfind("Count", 0) == 0 ? &count : line.rfind("Total", 0) == 0 ? &total : nullptr;
        const std::size_t equals = line.find('=');
        if (into && equals != std::string::npos) {
            *into = std::strtol(line.c_str() + equals + 1, nullptr, 10);
            found = found || into == &total;
        }
    }
    return found;
}

}  // namespace kesto
