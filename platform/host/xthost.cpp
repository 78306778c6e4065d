// xthost: the emulated host application on the command line.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <system_error>

#include "platform/fs/TempFiles.h"
#include "platform/host/HostExtensions.h"
#include "platform/host/Text.h"
#include "platform/fs/TempFiles.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define XTHOST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define XTHOST_SANITIZED 1
#endif

#ifdef XTHOST_SANITIZED
// fontconfig, pango and glib keep process-wide caches (the font map, the font set, type
// registrations) until exit; a hand run of "doc pdf" would report them as leaks. The same
// libraries as the tests' tests/lsan-fonts.supp; a leak in our own code is still reported.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n";
}
// Nor a table of the suppressed caches at exit; LSAN_OPTIONS=print_suppressions=1 shows it.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

namespace {

constexpr std::uintmax_t kMaxScriptBytes = 16u << 20;

void Usage(std::FILE* out, const xthost::HostExtensions& extensions)
{
    std::fprintf(out,
        "usage: xthost --app DIR [--module FILE] [--settings FILE] [--temp DIR]\n"
        "              [--script FILE] [--auto] [--transcript FILE] [--quiet]\n"
        "       xthost SUBCOMMAND ...\n"
        "\n"
        "The emulated host application: loads the module from DIR/XTensions (or FILE), starts\n"
        "it, runs the script's actions and answers, unloads it and writes the transcript of\n"
        "everything it observed. Exit status: 0 when the run went as the script says, 1 when it\n"
        "did not (the transcript names the reason), 2 for a usage error.\n"
        "\n"
        "  --app DIR          the application folder (holds XTensions/ and the module's settings);\n"
        "                     xthost makes it the current folder before it loads the module, as a\n"
        "                     host runs from its own folder, so the module's general log\n"
        "                     \"KestoLogfile.txt\" lands there and never in the caller's folder\n"
        "  --module FILE      the module's shared object (default: the one *.so in DIR/XTensions)\n"
        "  --settings FILE    copied to DIR/XTensions/kesto.ini before the start\n"
        "  --temp DIR         the host's temporary folder (default DIR/Temp)\n"
        "  --script FILE      the script (\"-\" reads standard input)\n"
        "  --auto             answer every prompt with its default (the dialog's default button,\n"
        "                     the alert's default button, file dialogs and choosers cancelled);\n"
        "                     without a script: start, list the menus, quit; with a script:\n"
        "                     the script's answer lines answer the prompts they fit, every\n"
        "                     other prompt takes its default, and an answer line whose prompt\n"
        "                     never comes is passed over\n"
        "  --transcript FILE  write the transcript to FILE instead of standard output\n"
        "  --quiet            no transcript on standard output\n"
        "  --help             this text\n\n");
    if (!extensions.Subcommands().empty()) {
        std::fprintf(out, "Subcommands:\n");
        for (const auto& command : extensions.Subcommands())
            std::fprintf(out, "  %-42s %s\n", command.second.usage.c_str(), command.second.help.c_str());
        std::fprintf(out, "\n");
    }
#ifdef XTHOST_SANITIZED
    std::fprintf(out,
        "This xthost is built with the sanitizers: leak reports of the caches that fontconfig,\n"
        "pango and glib keep until exit are suppressed (as in the tests); suppressions given in\n"
        "LSAN_OPTIONS add to them.\n\n");
#endif
    std::fprintf(out, "%s", xthost::ScriptHelp(extensions.Verbs()).c_str());
}

bool ReadFile(const std::string& path, std::string& text)
{
    if (path == "-") {
        std::ostringstream buffer;
        buffer << std::cin.rdbuf();
        text = buffer.str();
        return text.size() <= kMaxScriptBytes;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxScriptBytes)
        return false;
    std::ifstream file(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << file.rdbuf();
    text = buffer.str();
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv)
{
    // The mode of the files the host makes, read while no other thread runs.
    platform::fs::KeepUmask();
    xthost::HostExtensions extensions;
#ifdef XTHOST_WITH_DOCUMENTS
    xthost::RegisterHostDocuments(extensions);
#endif
    if (argc >= 2 && argv[1][0] != '-') {
        auto it = extensions.Subcommands().find(argv[1]);
        if (it == extensions.Subcommands().end()) {
            std::fprintf(stderr, "xthost: unknown subcommand %s (see xthost --help)\n", argv[1]);
            return 2;
        }
        return it->second.run(std::vector<std::string>(argv + 2, argv + argc));
    }

    xthost::HostOptions options;
    std::string scriptPath, transcriptPath, settingsPath;
    bool autoAnswer = false, quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "xthost: %s needs a value\n", arg.c_str());
                return false;
            }
            into = argv[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            Usage(stdout, extensions);
            return 0;
        } else if (arg == "--app") {
            ok = value(options.appFolder);
        } else if (arg == "--module") {
            ok = value(options.modulePath);
        } else if (arg == "--temp") {
            ok = value(options.tempFolder);
        } else if (arg == "--settings") {
            ok = value(settingsPath);
        } else if (arg == "--script") {
            ok = value(scriptPath);
        } else if (arg == "--transcript") {
            ok = value(transcriptPath);
        } else if (arg == "--auto") {
            autoAnswer = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            std::fprintf(stderr, "xthost: unknown option %s (see xthost --help)\n", arg.c_str());
            return 2;
        }
        if (!ok)
            return 2;
    }
    if (options.appFolder.empty() || (scriptPath.empty() && !autoAnswer)) {
        std::fprintf(stderr, "xthost: --app and one of --script or --auto are needed (see xthost --help)\n");
        return 2;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(options.appFolder, ec)) {
        std::fprintf(stderr, "xthost: %s is no folder\n", options.appFolder.c_str());
        return 2;
    }

    std::string source = "start\nmenus\nquit\n";
    if (!scriptPath.empty() && !ReadFile(scriptPath, source)) {
        std::fprintf(stderr, "xthost: cannot read the script %s\n", scriptPath.c_str());
        return 2;
    }
    std::vector<xthost::ScriptLine> lines;
    std::string error;
    if (!xthost::ParseScript(source, lines, error)) {
        std::fprintf(stderr, "xthost: %s: %s\n", scriptPath.c_str(), error.c_str());
        return 2;
    }
    if (!settingsPath.empty()) {
        const std::string target = xthost::NormalPath("XTensions/kesto.ini", options.appFolder);
        std::filesystem::create_directories(xthost::FolderOf(target), ec);
        if (!std::filesystem::copy_file(settingsPath, target,
                                        std::filesystem::copy_options::overwrite_existing, ec)) {
            std::fprintf(stderr, "xthost: cannot copy %s to %s\n", settingsPath.c_str(), target.c_str());
            return 2;
        }
    }

    // A host runs from its own folder: the module finds the files it names without a folder
    // (its general log among them) there, never in the caller's folder. Paths given relative to
    // the caller's folder are fixed first.
    options.appFolder = std::filesystem::absolute(options.appFolder, ec).string();
    if (!options.modulePath.empty())
        options.modulePath = std::filesystem::absolute(options.modulePath, ec).string();
    if (!transcriptPath.empty())
        transcriptPath = std::filesystem::absolute(transcriptPath, ec).string();
    std::filesystem::current_path(options.appFolder, ec);
    if (ec) {
        std::fprintf(stderr, "xthost: cannot work in %s\n", options.appFolder.c_str());
        return 2;
    }

    // The transcript goes to its file (or standard output) as the run goes; none of it is kept
    // in memory but what an expect looks back at.
    std::FILE* file = nullptr;
    if (!transcriptPath.empty() && !(file = std::fopen(transcriptPath.c_str(), "wb"))) {
        std::fprintf(stderr, "xthost: cannot write %s\n", transcriptPath.c_str());
        return 1;
    }
    bool ok = false;
    {
        xthost::Host host(options);
        host.Log().KeepLines(false);
        if (file)
            host.Log().EchoTo(file, false);
        else if (!quiet)
            host.Log().EchoTo(stdout);
        xthost::ScriptRunner runner(host, extensions.Verbs(), std::move(lines));
        runner.SetAutoAnswer(autoAnswer);
        ok = runner.Run();
        host.Log().EchoTo(nullptr);
    }
    // The names the host's own saves gave are on the disk before it ends.
    platform::fs::SyncPendingFolders();
    if (file && (std::ferror(file) | std::fclose(file))) {
        std::fprintf(stderr, "xthost: cannot write %s\n", transcriptPath.c_str());
        return 1;
    }
    if (!ok)
        std::fprintf(stderr, "xthost: the run failed (see the transcript's error lines)\n");
    return ok ? 0 : 1;
}
