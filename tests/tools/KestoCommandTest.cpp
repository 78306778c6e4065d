// kesto as a user runs it: each command on documents in a folder of their own whose name has
// blanks and non-ASCII letters, failures that name the file and the reason, arguments it cannot
// use, the progress of a folder run, the settings, the server, and an installed kesto.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Foundation/Settings.h"
#include "Foundation/TestSupport.h"
#include "Plugin/Shell/LoopbackServerClient.h"
#include "tests/examples/ExampleRuns.h"

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string& word)
{
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct Ran {
    int status;
    std::string out, err;
};

class KestoCommand : public ::testing::Test {
protected:
    KestoCommand()
    {
        fs::create_directories(folder);
        fs::copy_file(kesto_test::ExampleDocument("export.qxp"), Doc("my catalogue.qxp"));
    }

    // A command line run from the temporary folder, with the user's configuration folder in it.
    std::string In() const
    {
        return "cd " + Quoted(temp.Path()) + " && XDG_CONFIG_HOME=" + Quoted(app.parent_path().string()) +
               " TMPDIR=" + Quoted(temp.Path()) + " ";
    }

    static std::string Line(const std::vector<std::string>& arguments, const std::string& program = KESTO_BINARY_DIR "/kesto")
    {
        std::string line = Quoted(program);
        for (const std::string& argument : arguments)
            line += " " + Quoted(argument);
        return line;
    }

    Ran Kesto(const std::vector<std::string>& arguments, const std::string& program = KESTO_BINARY_DIR "/kesto")
    {
        Ran ran;
        ran.status = -1;
        ran.out = kesto_test::RunShell(In() + Line(arguments, program) + " 2>" + Quoted(temp / "stderr.txt"), &ran.status);
        ran.status = WIFEXITED(ran.status) ? WEXITSTATUS(ran.status) : -1;
        ran.err = ReadFile(temp / "stderr.txt");
        return ran;
    }

    std::string Doc(const std::string& name) const { return (folder / name).string(); }

    static int Shell(const std::string& command) { return std::system(command.c_str()); }

    TempDir temp{"kesto-command"};
    fs::path folder = fs::path(temp.Path()) / "Übersetzung 2027 – Frühjahr";
    fs::path app = fs::path(temp.Path()) / "config" / "kesto";
};

// Each command on documents of the user's: what it made, or the file it could not convert and
// why, with the general log's error lines and the log's path on standard error (exit status 1).
TEST_F(KestoCommand, EachCommandConvertsOrNamesTheFileAndTheReason)
{
    const std::string qxp = Doc("my catalogue.qxp");
    const Ran exported = Kesto({"export", qxp});
    ASSERT_EQ(exported.status, 0) << exported.out << exported.err;
    EXPECT_EQ(exported.out, Doc("my catalogue.dwq") + ": exported from " + qxp + "\n");
    // The first run made the application folder from the shipped one, and said so.
    EXPECT_TRUE(fs::exists(app / "XTensions" / "kesto.ini"));
    EXPECT_NE(exported.err.find("made the application folder " + app.string()), std::string::npos) << exported.err;

    const std::string dwq = Quoted(Doc("my catalogue.dwq"));
    ASSERT_EQ(Shell(Quoted(KESTO_BINARY_DIR "/examples/pseudo-translate/kesto-pseudo-translate") + " " + dwq + " " +
                    Quoted(Doc("fr.dwq"))),
              0);
    ASSERT_EQ(Shell(Quoted(KESTO_BINARY_DIR "/examples/damage/kesto-damage") + " string-removed " + dwq + " " +
                    Quoted(Doc("damaged.dwq"))),
              0);
    fs::create_directories(Doc("translated"));
    fs::copy_file(Doc("fr.dwq"), Doc("translated/fr.dwq"));
    fs::copy_file(kesto_test::ExampleDocument("damaged/truncated.qxp"), Doc("cut short.qxp"));
    const std::string job = temp / "job ü.ini";
    std::ofstream(job) << "[General]\nMode=Export\n[Path]\nSource=" << qxp << "\nTarget=" << Doc("batch out") << "\n";
    const std::string log = "kesto: general log: " + (app / "logs").string() + "/";
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string says;  // on standard output
        std::string logged = "";
    } steps[] = {
        // -v adds the host's transcript.
        {{"export", "-v", qxp, "-o", Doc("again.dwq")}, 0, "dialog 101 \"Result\" opens"},
        {{"import", Doc("fr.dwq"), "-o", Doc("my catalogue fr.qxp")}, 0,
         Doc("my catalogue fr.qxp") + ": imported from " + Doc("fr.dwq")},
        {{"pdf", Doc("my catalogue fr.qxp"), "--out-dir", Doc("PDF ñ")}, 0,
         Doc("PDF ñ/my catalogue fr.pdf") + ": PDF of " + Doc("my catalogue fr.qxp")},
        {{"coordinates", qxp}, 0, Doc("my catalogue.coo") + ": coordinates written from " + qxp},
        {{"convert", "--import", Doc("translated"), Doc("imported")}, 0,
         Doc("imported/fr.qxp") + ": imported from " + Doc("translated/fr.dwq")},
        {{"batch", job}, 0, Doc("batch out/my catalogue.dwq") + ": exported from "},
        {{"export", Doc("cut short.qxp")}, 1, Doc("cut short.qxp") + ": not exported: the host cannot open it: ", log},
        {{"export", Doc("absent.qxp"), qxp}, 1, Doc("absent.qxp") + ": not exported: no such file", log},
        // The import's reason is the container's own.
        {{"import", Doc("damaged.dwq")}, 1, Doc("damaged.dwq") + ": not imported: OpenDWX FAILED", "string table"},
        {{"pdf", Doc("cut short.qxp")}, 1, Doc("cut short.qxp") + ": no PDF: Unable to open apparently invalid source file!",
         log},
        {{"convert", folder.string(), Doc("out")}, 1, Doc("cut short.qxp") + ": not converted: Unable to open", log},
        {{"convert", folder.string(), qxp}, 1, qxp + ": nothing converted: the Target path \"" + qxp + "\" cannot be used", log},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.arguments[0] + " " + step.arguments[1]);
        const Ran ran = Kesto(step.arguments);
        EXPECT_EQ(ran.status, step.status) << ran.out << ran.err;
        EXPECT_NE(ran.out.find(step.says), std::string::npos) << ran.out;
        EXPECT_NE(ran.err.find(step.logged), std::string::npos) << ran.err;
    }
    // The translated text is in the PDF, the stand-in translator's brackets round it.
    EXPECT_EQ(Shell("pdftotext " + Quoted(Doc("PDF ñ/my catalogue fr.pdf")) + " - | grep -q '\\[.*~'"), 0);
    EXPECT_NE(ReadFile(Doc("my catalogue.coo")).find("<coord><p uid="), std::string::npos);
    // The batch's status file was archived.
    EXPECT_FALSE(fs::exists(job));
}

// One case for each way the parser refuses, and for each set-up check of a command.
TEST_F(KestoCommand, ArgumentsItCannotUseExitTwoAndSaySo)
{
    const std::string doc = Doc("my catalogue.qxp");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"translate"},
        {"export", "--bogus", doc},
        {"export", doc, "--pdf"},
        {"convert", folder.string()},
        {"settings", "extra"},
        {"export", doc, doc, "-o", Doc("x.dwq")},
        {"convert", folder.string(), Doc("out"), "--import", "--pdf", Doc("pdf")},
        {"convert", Doc("no such folder"), Doc("out")},
        {"batch", Doc("no such status file")},
        {"serve", "--port", "70000"},
        {"export", "--app", Doc("no such application folder"), doc},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.empty() ? "" : arguments.back());
        const Ran ran = Kesto(arguments);
        EXPECT_EQ(ran.status, 2) << ran.out << ran.err;
        EXPECT_EQ(ran.out, "");
        EXPECT_EQ(ran.err.rfind("kesto: ", 0), 0u) << ran.err;
    }
    EXPECT_FALSE(fs::exists(Doc("out")));
    const Ran help = Kesto({"convert", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: kesto convert SRC TARGET", 0), 0u) << help.out;
}

TEST_F(KestoCommand, AFolderRunShowsItsProgress)
{
    fs::create_directories(Doc("books/sub"));
    for (const char* name : {"books/a.qxp", "books/b.qxp", "books/sub/c.qxp", "books/sub/d.qxp"})
        fs::copy_file(Doc("my catalogue.qxp"), Doc(name));
    // Percentages, one line each, when the error stream is no terminal.
    const Ran lines = Kesto({"convert", "--recursive", Doc("books"), Doc("out")});
    ASSERT_EQ(lines.status, 0) << lines.out << lines.err;
    EXPECT_EQ(std::count(lines.out.begin(), lines.out.end(), '\n'), 4) << lines.out;
    EXPECT_NE(lines.out.find(Doc("out/sub/c.dwq") + ": exported from " + Doc("books/sub/c.qxp") + "\n"), std::string::npos);
    EXPECT_NE(lines.err.find("kesto: 100% (4 of 4 files)\n"), std::string::npos) << lines.err;
    EXPECT_EQ(lines.err.find('\r'), std::string::npos) << lines.err;
    // A bar on a terminal.
    const std::string typescript = Doc("typescript");
    ASSERT_EQ(Shell(In() + "script -qec " + Quoted(Line({"convert", "--recursive", Doc("books"), Doc("out")})) + " " +
                    Quoted(typescript) + " >/dev/null"),
              0);
    const std::string terminal = ReadFile(typescript);
    EXPECT_NE(terminal.find("\r[##############################] 100%  4 of 4 files"), std::string::npos) << terminal;
}

TEST_F(KestoCommand, SettingsSayEachValueAndWhereItComesFrom)
{
    const std::string ini = "[Options]\ntempBoxMaximizeMode=7\nrecursiveDirScan=yes\n[Server]\nlistenPort=9000\n";
    fs::create_directories(app / "XTensions");
    std::ofstream(app / "XTensions" / "kesto.ini") << ini;
    const Ran ran = Kesto({"settings"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    for (const char* line : {"tempBoxMaximizeMode          \"1\"                      kesto.ini (\"7\")\n",
                             "recursiveDirScan             \"True\"                   kesto.ini (\"yes\")\n",
                             "listenPort                   \"9000\"                   kesto.ini\n",
                             "BatchFilePath                \" \"                      default\n"})
        EXPECT_NE(ran.out.find(line), std::string::npos) << line << ran.out;
    for (int32_t id = 0; id < SettingKey::Count; ++id)
        EXPECT_NE(ran.out.find("\n" + std::string(SettingsFile::GetKeyName(id)) + " "), std::string::npos) << id << ran.out;
    // Reading them changed nothing.
    EXPECT_EQ(ReadFile(app / "XTensions" / "kesto.ini"), ini);
}

TEST_F(KestoCommand, TheServerRunsUntilAClientHaltsIt)
{
    const std::string port = std::to_string(kesto_test::FreePort());
    Ran served;
    std::thread server([&] { served = Kesto({"serve", "--port", port}); });
    const std::string client = Quoted(KESTO_BINARY_DIR "/client/kesto-client") + " --port " + port;
    int status = -1;
    for (int attempt = 0; attempt < 400 && (status = Shell(client + " status >/dev/null 2>&1")) != 0; ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_EQ(status, 0) << "the server never answered";
    EXPECT_EQ(Shell(client + " halt >/dev/null"), 0);
    server.join();
    EXPECT_EQ(served.status, 0) << served.out << served.err;
    EXPECT_EQ(served.out, "serving on port " + port + " (stop it with kesto-client halt or Ctrl-C)\nserver stopped\n");
}

// xthost answers with their defaults the prompts that a script run with --auto does not
// answer, and passes over answer lines whose prompt does not come: a result dialog that cannot
// be foreseen ends the run well.
TEST_F(KestoCommand, TheHostAnswersWhatTheScriptCannotForesee)
{
    fs::create_directories(folder / "XTensions");
    std::ofstream(folder / "run.xts") << "start\nopen-document \"my catalogue.qxp\"\nmenu \"Export current document\"\n"
                                         "save * default\ndialog 112\n  press 1\nquit\n";
    const std::string host = Quoted(KESTO_BINARY_DIR "/platform/host/xthost") + " --app " + Quoted(folder.string()) +
                             " --module " + Quoted(KESTO_BINARY_DIR "/Plugin/XTension/Kesto.so") + " --script " +
                             Quoted(Doc("run.xts"));
    EXPECT_NE(Shell(host + " >/dev/null 2>&1"), 0);
    EXPECT_EQ(Shell(host + " --auto --transcript " + Quoted(Doc("transcript.txt")) + " 2>/dev/null"), 0);
    const std::string transcript = ReadFile(Doc("transcript.txt"));
    EXPECT_NE(transcript.find("dialog 101 ends confirmed"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("passed over script line 5 (dialog 112)"), std::string::npos) << transcript;
}

TEST_F(KestoCommand, AnInstalledKestoRunsWithoutTheBuildTree)
{
    const fs::path prefix = fs::path(temp.Path()) / "prefix ö";
    ASSERT_EQ(Shell("cmake --install " + Quoted(KESTO_BINARY_DIR) + " --prefix " + Quoted(prefix.string()) + " >/dev/null"),
              0);
    // Moved after the install: kesto finds its programs beside itself.
    const fs::path moved = fs::path(temp.Path()) / "elsewhere";
    fs::rename(prefix, moved);
    for (const char* program : {"bin/kesto-client", "bin/kesto-pseudo-translate", "share/kesto/fonts.conf"})
        EXPECT_TRUE(fs::exists(moved / program)) << program;
    for (const char* command : {"export", "pdf"}) {
        const Ran ran = Kesto({command, Doc("my catalogue.qxp")}, (moved / "bin" / "kesto").string());
        EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
    }
    EXPECT_TRUE(fs::exists(Doc("my catalogue.pdf")));
}

}  // namespace
