// kesto: one command for each job of the module. It writes the host's script, lets the host
// answer what it cannot foresee (which result dialog, an alert) with the defaults, runs xthost
// with Kesto.so, and says for each file what became of it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Foundation/Settings.h"
#include "tools/kesto/HostRun.h"
#include "tools/kesto/Outcome.h"

namespace fs = std::filesystem;
using namespace kesto;

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

struct Command {
    const char* name;
    const char* usage;
    const char* help;
    std::size_t leastOperands;
    std::size_t mostOperands;
    std::set<std::string> valued;  // options that take a value
    std::set<std::string> flags;
};

const std::vector<Command> kCommands = {
    {"export", "kesto export DOC... [-o OUT | --out-dir DIR] [--pdf DIR]",
     "Exports each document into an exchange file (\".dwq\") for translation: NAME.dwq beside the\n"
     "document, OUT (one document only) or DIR/NAME.dwq. The export also saves the document\n"
     "itself with the module's two working boxes. --pdf DIR also writes DIR/NAME.pdf.",
     1, SIZE_MAX, {"-o", "--out-dir", "--pdf"}, {}},
    {"import", "kesto import DWQ [-o DOC]",
     "Imports a translated exchange file: the document it carries, with the translated text, goes\n"
     "to DOC (default: NAME.qxp beside the exchange file, replacing a document of that name).",
     1, 1, {"-o"}, {}},
    {"pdf", "kesto pdf DOC... [--out-dir DIR]",
     "Writes the PDF of each document, NAME.pdf beside it or in DIR.", 1, SIZE_MAX, {"--out-dir"}, {}},
    {"coordinates", "kesto coordinates DOC [-o OUT]",
     "Writes the paragraph coordinates of a document (NAME.coo beside it, or OUT). The export of\n"
     "the coordinates also saves the document with the module's working boxes.",
     1, 1, {"-o"}, {}},
    {"convert", "kesto convert SRC TARGET [--import] [--recursive] [--pdf DIR]",
     "A folder run: exports every document of the folder SRC into exchange files in TARGET (with\n"
     "--pdf also their PDFs into DIR), or with --import imports every exchange file of SRC into\n"
     "documents in TARGET. --recursive takes the subfolders too, mirrored in TARGET. Results\n"
     "replace earlier ones only once complete; a file that cannot be converted is named with its\n"
     "reason, and the others still convert.",
     2, 2, {"--pdf"}, {"--import", "--recursive"}},
    {"batch", "kesto batch STATUS-FILE",
     "Runs the batch job that the status file describes, as a controller starts one: the module\n"
     "reads the file (the setting BatchFilePath points at it for this run), converts, keeps Count\n"
     "and Total current and archives the file as STATUS-FILE_YYYYMMDDhhmmss.",
     1, 1, {}, {}},
    {"serve", "kesto serve [--port P]",
     "Runs the conversion server until a client halts it (kesto-client halt) or Ctrl-C: port P, else\n"
     "the setting listenPort (8126 when 0). Its other settings come from kesto.ini ([Server]).",
     0, 0, {"--port"}, {}},
    {"settings", "kesto settings",
     "Prints every setting of kesto.ini with the value the module works with and where it comes\n"
     "from: the file, or the default.",
     0, 0, {}, {}},
};

const char kCommonHelp[] =
    "Options of every command:\n"
    "  --app DIR   the application folder, whose XTensions/kesto.ini holds the settings\n"
    "              (default: $XDG_CONFIG_HOME/kesto, else ~/.config/kesto, made on first use)\n"
    "  -v          also print the host's transcript and its error stream\n"
    "  -h, --help  this text\n"
    "Exit status: 0 when every file was converted, 1 when some were not (each is named with its\n"
    "reason), 2 for arguments or a set-up that cannot be used.\n";

void MainUsage(std::FILE* out)
{
    std::fprintf(out, "usage: kesto COMMAND [OPTIONS] ARGUMENTS\n\n"
                      "Runs the jobs of the Kesto module in the emulated host, on any documents.\n\nCommands:\n");
    for (const Command& command : kCommands)
        std::fprintf(out, "  %s\n", command.usage);
    std::fprintf(out, "\nkesto COMMAND --help says more about each.\n\n%s", kCommonHelp);
}

struct Arguments {
    const Command* command = nullptr;
    std::vector<std::string> operands;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::string app;
    bool verbose = false;
};

int UsageError(const Arguments& args, const std::string& text)
{
    std::fprintf(stderr, "kesto: %s\n", text.c_str());
    if (args.command)
        std::fprintf(stderr, "usage: %s\n(kesto %s --help says more)\n", args.command->usage, args.command->name);
    else
        std::fprintf(stderr, "(kesto --help says more)\n");
    return kUsage;
}

// Parses the arguments; answers -1 to go on, else the exit status.
int Parse(int argc, char** argv, Arguments& args)
{
    if (argc < 2) {
        std::fprintf(stderr, "kesto: which command?\n");
        return MainUsage(stderr), kUsage;
    }
    const std::string first = argv[1];
    if (first == "-h" || first == "--help" || first == "help")
        return MainUsage(stdout), kDone;
    for (const Command& command : kCommands)
        if (first == command.name)
            args.command = &command;
    if (!args.command)
        return UsageError(args, "no command " + first);
    bool operandsOnly = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (operandsOnly || arg.empty() || arg[0] != '-' || arg == "-") {
            args.operands.push_back(arg);
        } else if (arg == "--") {
            operandsOnly = true;
        } else if (arg == "-h" || arg == "--help") {
            std::printf("usage: %s\n\n%s\n\n%s", args.command->usage, args.command->help, kCommonHelp);
            return kDone;
        } else if (arg == "-v" || arg == "--verbose") {
            args.verbose = true;
        } else if (arg == "--app" || args.command->valued.count(arg)) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return UsageError(args, arg + " needs a value");
            (arg == "--app" ? args.app : args.values[arg]) = argv[++i];
        } else if (args.command->flags.count(arg)) {
            args.flags.insert(arg);
        } else {
            return UsageError(args, "no option " + arg + " for kesto " + args.command->name);
        }
    }
    if (args.operands.size() < args.command->leastOperands)
        return UsageError(args, "too few arguments");
    if (args.operands.size() > args.command->mostOperands)
        return UsageError(args, "too many arguments");
    return -1;
}

std::string Stem(const std::string& path)
{
    return fs::path(path).stem().string();
}

// A file's path beside `path` (or in `folder`) with another extension.
std::string Beside(const std::string& path, const std::string& folder, const std::string& extension)
{
    const fs::path parent = folder.empty() ? fs::path(path).parent_path() : fs::path(folder);
    return (parent / (Stem(path) + extension)).string();
}

// What identifies a file's content on disk, to see whether a run wrote it.
std::string FileState(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::string();
    return std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

bool IsFolder(const std::string& path)
{
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// Reports the commands' results and failures.
class Report {
public:
    explicit Report(HostRunner& runner) : m_runner(runner) {}

    void Done(const std::string& path, const std::string& outcome) { std::printf("%s: %s\n", path.c_str(), outcome.c_str()); }
    void Failed(const std::string& path, const std::string& outcome, const std::string& reason)
    {
        std::printf("%s: %s: %s\n", path.c_str(), outcome.c_str(), reason.c_str());
        ++m_failed;
    }
    void Note(const HostResult& result) { m_logs += result.generalLog; }

    // The general log's error lines and where the log is, when something failed.
    int End()
    {
        std::fflush(stdout);
        if (m_failed == 0)
            return kDone;
        const std::vector<std::string> lines = ErrorLines(m_logs);
        if (!lines.empty())
            std::fprintf(stderr, "kesto: the general log says:\n");
        for (const std::string& line : lines)
            std::fprintf(stderr, "  %s\n", line.c_str());
        std::fprintf(stderr, "kesto: general log: %s\n", m_runner.LogPath().c_str());
        return kFailed;
    }
    int Failures() const { return m_failed; }

private:
    HostRunner& m_runner;
    std::string m_logs;
    int m_failed = 0;
};

// Why a host run that should have shown a result did not: the host's own errors first (a
// document it cannot open), then the general log's.
std::string Reason(const HostResult& result, const std::string& source)
{
    // The host says why it refused a document: doc.open "PATH" options=N refused: WHY -> CODE
    std::istringstream transcript(result.transcript);
    for (std::string line; std::getline(transcript, line);) {
        const std::size_t at = line.find(" refused: ");
        if (line.rfind("doc.open ", 0) == 0 && at != std::string::npos)
            return "the host cannot open it: " + line.substr(at + 10, line.rfind(" -> ") - at - 10);
    }
    const std::vector<std::string> host = HostErrors(result.transcript, result.hostErrors);
    for (const std::string& line : host) {
        // "script line 2 (open-document "..."): open: REASON" says only REASON that counts.
        const std::size_t at = line.find("): ");
        return at == std::string::npos ? line : line.substr(at + 3);
    }
    const LogOutcome outcome = ReadGeneralLog(result.generalLog);
    std::string text;
    const std::string reason = ReasonFor(outcome, result.generalLog, source);
    if (reason != "see the general log")
        return reason;
    if (ResultDialog(result.transcript, text) != 0 && !text.empty())
        return text;
    return reason;
}

bool RunHost(HostRunner& runner, const HostJob& job, HostResult& result)
{
    std::string error;
    if (runner.Run(job, result, error))
        return true;
    std::fprintf(stderr, "kesto: %s\n", error.c_str());
    return false;
}

// One document, exchange file or coordinates file through a menu command and its save dialog.
struct MenuJob {
    const char* menu;
    std::string open;  // the document to open first, or the file the open dialog gets
    bool openDocument;
    std::string save;
    int doneDialog;
    const char* doneText;
    const char* failedText;
    std::vector<std::pair<int, std::string>> settings;
};

void RunMenuJob(HostRunner& runner, Report& report, const MenuJob& job)
{
    if (!IsFile(job.open)) {
        report.Failed(job.open, job.failedText, "no such file");
        return;
    }
    if (job.open.find('\n') != std::string::npos || job.save.find('\n') != std::string::npos) {
        report.Failed(job.open, job.failedText, "the host takes no path with a line break");
        return;
    }
    HostJob host;
    host.settings = job.settings;
    host.script = "start\n";
    if (job.openDocument)
        host.script += "open-document " + ScriptWord(job.open) + "\n";
    host.script += std::string("menu ") + ScriptWord(job.menu) + "\n";
    if (!job.openDocument)
        host.script += "open * " + ScriptWord(job.open) + "\n";
    host.script += "save * " + ScriptWord(job.save) + "\nquit\n";
    const std::string before = FileState(job.save);
    HostResult result;
    if (!RunHost(runner, host, result)) {
        report.Failed(job.open, job.failedText, "the host did not start");
        return;
    }
    report.Note(result);
    std::string text;
    const int dialog = ResultDialog(result.transcript, text);
    if (dialog == job.doneDialog && result.status == 0) {
        report.Done(job.save, std::string(job.doneText) + " from " + job.open);
    } else if (result.signal) {
        report.Failed(job.open, job.failedText, "stopped");
    } else {
        const bool written = FileState(job.save) != before && !FileState(job.save).empty();
        report.Failed(written ? job.save : job.open, written ? "partly imported" : job.failedText,
                      Reason(result, job.open));
    }
}

// A batch job in the run's own status file: the folder runs, with their progress, and the PDFs
// of single documents.
HostJob BatchJob(bool import, bool recursive, const std::string& source, const std::string& target,
                 const std::string& pdfDir)
{
    HostJob job;
    job.script = "start\nidle 2\nquit\n";
    job.batchRequest = true;
    job.settings = {{SettingKey::BatchFilePath, "@RUN@/job.ini"}};
    std::string text = std::string("[General]\nMode=") + (import ? "Import" : "Export") +
                       "\nRecursive=" + (recursive ? "True" : "False") + "\n\n[Path]\nSource=" + source + "\n";
    if (!target.empty())
        text += "Target=" + target + "\n";
    if (!pdfDir.empty())
        text += "PdfDir=" + pdfDir + "\n";
    job.files = {{"job.ini", text}};
    std::error_code ec;
    if (fs::is_directory(source, ec))
        job.progressFile = "@RUN@/job.ini";
    return job;
}

// One line for each file of one folder run.
void ReportFolderRun(Report& report, const std::string& log)
{
    const LogOutcome outcome = ReadGeneralLog(log);
    std::set<std::string> named;
    for (const Conversion& conversion : outcome.conversions) {
        const bool pdf = conversion.kind.find("PDF") != std::string::npos;
        if (conversion.finished && conversion.errors.empty()) {
            report.Done(conversion.target, (pdf ? std::string("PDF of ") : conversion.kind + "ed from ") + conversion.source);
        } else {
            named.insert(conversion.source);
            report.Failed(conversion.source, pdf ? "no PDF" : "not " + conversion.kind + "ed",
                          ReasonFor(outcome, log, conversion.source));
        }
    }
    for (const std::string& entry : outcome.notConverted) {
        // An import that wrote its document but not every story: the entry says where.
        const std::size_t partly = entry.find(": partly imported into ");
        const std::string path = entry.substr(0, partly);
        if (named.insert(path).second || partly != std::string::npos)
            report.Failed(path, partly != std::string::npos ? entry.substr(partly + 2) : "not converted",
                          ReasonFor(outcome, log, path));
    }
}

// One line for each file a folder run or batch job tried, from its general log; an export with
// PDFs runs twice over the files, each run under its banner.
void ReportRun(Report& report, const std::string& log)
{
    static const char kBanner[] = "##### IMPORT/EXPORT-FILES #####";
    std::size_t at = log.find(kBanner);
    if (at == std::string::npos)
        return ReportFolderRun(report, log);
    while (at != std::string::npos) {
        const std::size_t next = log.find(kBanner, at + 1);
        ReportFolderRun(report, log.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next;
    }
}

int Export(const Arguments& args, HostRunner& runner)
{
    const auto& v = args.values;
    if (v.count("-o") && (v.count("--out-dir") || args.operands.size() > 1))
        return UsageError(args, "-o names the exchange file of one document; --out-dir takes several");
    std::error_code ec;
    if (v.count("--out-dir"))
        fs::create_directories(v.at("--out-dir"), ec);
    Report report(runner);
    for (const std::string& operand : args.operands) {
        const std::string doc = Absolute(operand);
        const std::string out = v.count("-o") ? Absolute(v.at("-o"))
                                              : Beside(doc, v.count("--out-dir") ? Absolute(v.at("--out-dir")) : "", ".dwq");
        RunMenuJob(runner, report, {"Export current document", doc, true, out, 101, "exported", "not exported", {}});
    }
    if (v.count("--pdf")) {
        const std::string pdfDir = Absolute(v.at("--pdf"));
        for (const std::string& operand : args.operands) {
            HostResult result;
            if (IsFile(Absolute(operand)) && (operand + pdfDir).find('\n') == std::string::npos &&
                RunHost(runner, BatchJob(false, false, Absolute(operand), "", pdfDir), result)) {
                report.Note(result);
                ReportRun(report, result.generalLog);
            }
        }
    }
    return report.End();
}

int Import(const Arguments& args, HostRunner& runner)
{
    Report report(runner);
    const std::string dwq = Absolute(args.operands[0]);
    const std::string out = args.values.count("-o") ? Absolute(args.values.at("-o")) : Beside(dwq, "", ".qxp");
    RunMenuJob(runner, report, {"Import Verbant file", dwq, false, out, 103, "imported", "not imported", {}});
    return report.End();
}

int Coordinates(const Arguments& args, HostRunner& runner)
{
    Report report(runner);
    const std::string doc = Absolute(args.operands[0]);
    const std::string out = args.values.count("-o") ? Absolute(args.values.at("-o")) : Beside(doc, "", ".coo");
    // The menu item is there only with the extended interface and its own setting.
    RunMenuJob(runner, report,
               {"Export PDF coordinates", doc, true, out, 101, "coordinates written", "no coordinates",
                {{SettingKey::extendedInterface, "True"}, {SettingKey::addMenuItemExportCoords, "True"}}});
    return report.End();
}

int Pdf(const Arguments& args, HostRunner& runner)
{
    Report report(runner);
    const std::string outDir = args.values.count("--out-dir") ? Absolute(args.values.at("--out-dir")) : "";
    for (const std::string& operand : args.operands) {
        const std::string doc = Absolute(operand);
        if (!IsFile(doc)) {
            report.Failed(doc, "no PDF", "no such file");
            continue;
        }
        if ((doc + outDir).find('\n') != std::string::npos) {
            report.Failed(doc, "no PDF", "the host takes no path with a line break");
            continue;
        }
        HostResult result;
        if (!RunHost(runner, BatchJob(false, false, doc, "", outDir.empty() ? fs::path(doc).parent_path().string() : outDir),
                     result)) {
            report.Failed(doc, "no PDF", "the host did not start");
            continue;
        }
        report.Note(result);
        ReportRun(report, result.generalLog);
    }
    return report.End();
}

// After a folder run or batch job: its results, a count on the error stream.
int EndRun(Report& report, const HostResult& result)
{
    report.Note(result);
    ReportRun(report, result.generalLog);
    // A job that cannot run ("Batch export step: the Target path ... cannot be used; the run does
    // not start.") converts nothing and says why once.
    std::istringstream log(result.generalLog);
    for (std::string line; std::getline(log, line);) {
        const std::size_t step = line.find(" step: ");
        const std::size_t end = line.find("; the run does not start.");
        if (step == std::string::npos || end == std::string::npos)
            continue;
        const std::size_t open = line.find('"', step), close = line.rfind("\" cannot be used");
        report.Failed(open < close && close != std::string::npos ? line.substr(open + 1, close - open - 1) : line.substr(0, step),
                      "nothing converted", line.substr(step + 7, end - step - 7));
    }
    if (result.signal)
        std::fprintf(stderr, "kesto: stopped\n");
    if (result.status != 0 && report.Failures() == 0) {
        for (const std::string& line : HostErrors(result.transcript, result.hostErrors))
            std::fprintf(stderr, "kesto: the host says: %s\n", line.c_str());
        report.Failed("xthost", "failed", "the host's run did not end well (kesto -v shows its transcript)");
    }
    return report.End();
}

int Convert(const Arguments& args, HostRunner& runner)
{
    const bool import = args.flags.count("--import") > 0;
    if (import && args.values.count("--pdf"))
        return UsageError(args, "--pdf goes with an export, not with --import");
    const std::string source = Absolute(args.operands[0]);
    const std::string target = Absolute(args.operands[1]);
    if (!IsFolder(source) && !IsFile(source))
        return UsageError(args, "no folder " + source);
    for (const std::string& path : {source, target, args.values.count("--pdf") ? args.values.at("--pdf") : ""})
        if (path.find('\n') != std::string::npos)
            return UsageError(args, "a path with a line break cannot go into the job");
    Report report(runner);
    HostResult result;
    if (!RunHost(runner,
                 BatchJob(import, args.flags.count("--recursive") > 0, source, target,
                          args.values.count("--pdf") ? Absolute(args.values.at("--pdf")) : ""),
                 result))
        return kUsage;
    return EndRun(report, result);
}

int Batch(const Arguments& args, HostRunner& runner)
{
    const std::string status = Absolute(args.operands[0]);
    if (!IsFile(status))
        return UsageError(args, "no status file " + status);
    const std::set<std::string> before = StatusArchives(status);
    HostJob job;
    job.script = "start\nidle 3\nquit\n";
    job.batchRequest = true;
    job.settings = {{SettingKey::BatchFilePath, status}};
    job.progressFile = status;
    Report report(runner);
    HostResult result;
    if (!RunHost(runner, job, result))
        return kUsage;
    const int end = EndRun(report, result);
    std::string archive;
    for (const std::string& path : StatusArchives(status))
        if (!before.count(path))
            archive = path;
    if (archive.empty()) {
        std::printf("%s: the job did not run (see the general log: %s)\n", status.c_str(), runner.LogPath().c_str());
        return kFailed;
    }
    std::ifstream in(archive, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    const std::size_t error = text.find("Error=");
    if (error != std::string::npos) {
        std::printf("%s: job refused: %s\n", archive.c_str(), text.substr(error + 6, text.find_first_of("\r\n", error) - error - 6).c_str());
        return kFailed;
    }
    std::printf("%s: job archived\n", archive.c_str());
    return end;
}

int Serve(const Arguments& args, HostRunner& runner, const std::string& app)
{
    HostJob job;
    job.script = "start\nidle\nquit\n";
    job.settings = {{SettingKey::serverMode, "True"}};
    long port = 0;
    if (args.values.count("--port")) {
        char* end = nullptr;
        port = std::strtol(args.values.at("--port").c_str(), &end, 10);
        if (*end || port < 1 || port > 65535)
            return UsageError(args, "--port takes a number from 1 to 65535");
        job.settings.push_back({SettingKey::listenPort, std::to_string(port)});
    } else {
        SettingsFile settings(false);
        settings.Load(app + "/XTensions/kesto.ini", false);
        port = settings.GetListenPort();
    }
    std::printf("serving on port %ld (stop it with kesto-client halt or Ctrl-C)\n", port == 0 ? 8126L : port);
    std::fflush(stdout);
    HostResult result;
    if (!RunHost(runner, job, result))
        return kUsage;
    if (result.signal || result.status == 0) {
        std::printf("server stopped\n");
        return kDone;
    }
    Report report(runner);
    report.Note(result);
    for (const std::string& line : HostErrors(result.transcript, result.hostErrors))
        std::fprintf(stderr, "kesto: the host says: %s\n", line.c_str());
    report.Failed("server", "ended", "the host's run did not end well (kesto -v shows its transcript)");
    return report.End();
}

int PrintSettings(const std::string& app)
{
    const std::string path = app + "/XTensions/kesto.ini";
    SettingsFile settings(false);
    const bool loaded = settings.Load(path, false);
    std::printf("application folder: %s\nsettings file: %s%s\n", app.c_str(), path.c_str(), loaded ? "" : " (none: defaults)");
    for (int section = 0; section < 4; ++section) {
        std::printf("\n[%s]\n", SettingsFile::GetSectionName(section));
        for (int32_t id = 0; id < SettingKey::Count; ++id) {
            if (settings.GetSectionIndex(id) != section)
                continue;
            std::string from = "default";
            if (settings.HasKey(id)) {
                const std::string raw = settings.GetValue(id);
                from = "kesto.ini";
                if (raw != settings.GetEffective(id))
                    from += " (\"" + raw + "\")";
            }
            std::printf("%-28s %-24s %s\n", SettingsFile::GetKeyName(id), ("\"" + settings.GetEffective(id) + "\"").c_str(),
                        from.c_str());
        }
    }
    std::printf("\nFor its own runs kesto sets BatchFilePath (pdf, convert, batch, export --pdf), serverMode and\n"
                "listenPort (serve), extendedInterface and addMenuItemExportCoords (coordinates).\n");
    return kDone;
}

}  // namespace

int main(int argc, char** argv)
{
    Arguments args;
    const int parsed = Parse(argc, argv, args);
    if (parsed >= 0)
        return parsed;
    Installation installation;
    std::string error;
    if (!FindInstallation(installation, error)) {
        std::fprintf(stderr, "kesto: %s\n", error.c_str());
        return kUsage;
    }
    const std::string app = Absolute(args.app.empty() ? DefaultAppFolder() : args.app);
    error = PrepareAppFolder(app, !args.app.empty(), installation);
    if (!error.empty()) {
        std::fprintf(stderr, "kesto: %s\n", error.c_str());
        return kUsage;
    }
    const std::string name = args.command->name;
    if (name == "settings")
        return PrintSettings(app);
    CatchStopSignals();
    HostRunner runner(installation, app, name, args.verbose);
    int status = kUsage;
    if (name == "export")
        status = Export(args, runner);
    else if (name == "import")
        status = Import(args, runner);
    else if (name == "pdf")
        status = Pdf(args, runner);
    else if (name == "coordinates")
        status = Coordinates(args, runner);
    else if (name == "convert")
        status = Convert(args, runner);
    else if (name == "batch")
        status = Batch(args, runner);
    else if (name == "serve")
        status = Serve(args, runner, app);
    if (args.verbose && status == kDone)
        std::fprintf(stderr, "kesto: general log: %s\n", runner.LogPath().c_str());
    return status;
}
