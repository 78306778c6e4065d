// kesto as a user runs it: each command on documents in a folder of their own whose name has
// blanks and non-ASCII letters, failures that name the file and the reason, arguments it cannot
// use, the progress of a folder run, the settings, the server, and an installed kesto.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Foundation/Settings.h"
#include "Plugin/Shell/LoopbackServerClient.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Quoted(const std::string& word)
{
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

std::size_t LineCount(const std::string& text)
{
    std::size_t lines = 0;
    for (const char c : text)
        lines += c == '\n';
    return lines;
}

class KestoCommand : public ::testing::Test {
protected:
    KestoCommand()
        : folder(fs::path(temp.Path()) / "Übersetzung 2027 – Frühjahr"), app(fs::path(temp.Path()) / "config" / "kesto")
    {
        fs::create_directories(folder);
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/documents/export.qxp", folder / "my catalogue.qxp");
    }

    // kesto (or `program`) with the arguments, from the temporary folder, with the user's
    // configuration folder in it.
    Ran Kesto(const std::vector<std::string>& arguments, const std::string& program = KESTO_BINARY_DIR "/kesto")
    {
        std::string command = "cd " + Quoted(temp.Path()) + " && XDG_CONFIG_HOME=" + Quoted(app.parent_path().string()) +
                              " TMPDIR=" + Quoted(temp.Path()) + " " + Quoted(program);
        for (const std::string& argument : arguments)
            command += " " + Quoted(argument);
        const fs::path err = fs::path(temp.Path()) / "stderr.txt";
        command += " 2>" + Quoted(err.string());
        Ran ran;
        FILE* pipe = ::popen(command.c_str(), "r");
        char buffer[4096];
        for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            ran.out.append(buffer, n);
        const int status = pipe ? ::pclose(pipe) : -1;
        ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ran.err = ReadText(err);
        return ran;
    }

    std::string Doc(const std::string& name) const { return (folder / name).string(); }

    static int Shell(const std::string& command) { return std::system(command.c_str()); }

    TempDir temp{"kesto-command"};
    fs::path folder;
    fs::path app;
};

TEST_F(KestoCommand, EachCommandConvertsDocumentsOutsideTheRepository)
{
    const Ran exported = Kesto({"export", Doc("my catalogue.qxp")});
    ASSERT_EQ(exported.status, 0) << exported.out << exported.err;
    EXPECT_EQ(exported.out, Doc("my catalogue.dwq") + ": exported from " + Doc("my catalogue.qxp") + "\n");
    // The first run made the application folder from the shipped one, and said so.
    EXPECT_TRUE(fs::exists(app / "XTensions" / "kesto.ini"));
    EXPECT_NE(exported.err.find("made the application folder " + app.string()), std::string::npos) << exported.err;

    // -v adds the host's transcript.
    const Ran verbose = Kesto({"export", "-v", Doc("my catalogue.qxp"), "-o", Doc("again.dwq")});
    EXPECT_EQ(verbose.status, 0) << verbose.err;
    EXPECT_NE(verbose.out.find("dialog 101 \"Result\" opens"), std::string::npos) << verbose.out;
    EXPECT_NE(verbose.out.find(Doc("again.dwq") + ": exported from "), std::string::npos) << verbose.out;

    ASSERT_EQ(Shell(Quoted(KESTO_BINARY_DIR "/examples/pseudo-translate/kesto-pseudo-translate") + " " +
                    Quoted(Doc("my catalogue.dwq")) + " " + Quoted(Doc("fr.dwq"))),
              0);
    const Ran imported = Kesto({"import", Doc("fr.dwq"), "-o", Doc("my catalogue fr.qxp")});
    ASSERT_EQ(imported.status, 0) << imported.out << imported.err;
    EXPECT_EQ(imported.out, Doc("my catalogue fr.qxp") + ": imported from " + Doc("fr.dwq") + "\n");
    EXPECT_EQ(Shell(Quoted(KESTO_BINARY_DIR "/platform/host/xthost") + " doc check " + Quoted(Doc("my catalogue fr.qxp")) +
                    " >/dev/null"),
              0);

    const Ran pdf = Kesto({"pdf", Doc("my catalogue fr.qxp"), "--out-dir", Doc("PDF ñ")});
    ASSERT_EQ(pdf.status, 0) << pdf.out << pdf.err;
    EXPECT_EQ(pdf.out, Doc("PDF ñ/my catalogue fr.pdf") + ": PDF of " + Doc("my catalogue fr.qxp") + "\n");
    // The translated text is in the PDF, the stand-in translator's brackets round it.
    EXPECT_EQ(Shell("pdftotext " + Quoted(Doc("PDF ñ/my catalogue fr.pdf")) + " - | grep -q '\\[.*~'"), 0);

    const Ran coordinates = Kesto({"coordinates", Doc("my catalogue.qxp")});
    ASSERT_EQ(coordinates.status, 0) << coordinates.out << coordinates.err;
    EXPECT_EQ(LineCount(coordinates.out), 1u) << coordinates.out;
    EXPECT_NE(ReadText(Doc("my catalogue.coo")).find("<coord><p uid="), std::string::npos);

    // A folder run each way, and the same export as a controller's batch job.
    const Ran converted = Kesto({"convert", folder.string(), Doc("out"), "--recursive"});
    EXPECT_EQ(converted.status, 1) << "the folder holds files that are no documents: " << converted.out;
    EXPECT_NE(converted.out.find(Doc("out/my catalogue.dwq") + ": exported from " + Doc("my catalogue.qxp")),
              std::string::npos)
        << converted.out;
    EXPECT_NE(converted.out.find(Doc("fr.dwq") + ": not converted: Unable to open"), std::string::npos) << converted.out;
    fs::create_directories(Doc("translated"));
    fs::copy_file(Doc("fr.dwq"), Doc("translated/fr.dwq"));
    const Ran back = Kesto({"convert", "--import", Doc("translated"), Doc("imported")});
    EXPECT_EQ(back.status, 0) << back.out << back.err;
    EXPECT_EQ(back.out, Doc("imported/fr.qxp") + ": imported from " + Doc("translated/fr.dwq") + "\n");

    std::ofstream(Doc("job.ini")) << "[General]\nMode=Export\n[Path]\nSource=" << Doc("my catalogue.qxp")
                                  << "\nTarget=" << Doc("batch out") << "\n";
    const Ran batch = Kesto({"batch", Doc("job.ini")});
    EXPECT_EQ(batch.status, 0) << batch.out << batch.err;
    EXPECT_NE(batch.out.find(Doc("batch out/my catalogue.dwq") + ": exported from "), std::string::npos) << batch.out;
    EXPECT_NE(batch.out.find(Doc("job.ini_")), std::string::npos) << batch.out;
    EXPECT_FALSE(fs::exists(Doc("job.ini")));
}

TEST_F(KestoCommand, AFailureNamesTheFileAndTheReasonAndExitsOne)
{
    fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/documents/damaged/truncated.qxp", Doc("cut short.qxp"));
    ASSERT_EQ(Kesto({"export", Doc("my catalogue.qxp")}).status, 0);
    ASSERT_EQ(Shell(Quoted(KESTO_BINARY_DIR "/examples/damage/kesto-damage") + " string-removed " +
                    Quoted(Doc("my catalogue.dwq")) + " " + Quoted(Doc("damaged.dwq"))),
              0);
    struct Case {
        std::vector<std::string> arguments;
        std::string says;  // on standard output
    };
    const Case cases[] = {
        {{"export", Doc("cut short.qxp")}, Doc("cut short.qxp") + ": not exported: the host cannot open it: "},
        {{"export", Doc("absent.qxp"), Doc("my catalogue.qxp")}, Doc("absent.qxp") + ": not exported: no such file"},
        {{"import", Doc("damaged.dwq")}, Doc("damaged.dwq") + ": not imported: OpenDWX FAILED"},
        {{"pdf", Doc("cut short.qxp")}, Doc("cut short.qxp") + ": no PDF: Unable to open apparently invalid source file!"},
        {{"convert", folder.string(), Doc("out")}, Doc("cut short.qxp") + ": not converted: Unable to open"},
        {{"convert", folder.string(), Doc("my catalogue.qxp")},
         Doc("my catalogue.qxp") + ": nothing converted: the Target path \"" + Doc("my catalogue.qxp") + "\" cannot be used"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments[0] + " " + c.arguments[1]);
        const Ran ran = Kesto(c.arguments);
        EXPECT_EQ(ran.status, 1) << ran.out << ran.err;
        EXPECT_NE(ran.out.find(c.says), std::string::npos) << ran.out;
        // The general log's error lines, and where the whole log is kept.
        EXPECT_NE(ran.err.find("kesto: general log: " + (app / "logs").string() + "/"), std::string::npos) << ran.err;
    }
    // The import's reason is the container's own.
    const Ran import = Kesto({"import", Doc("damaged.dwq")});
    EXPECT_NE(import.err.find("string table"), std::string::npos) << import.err;
}

TEST_F(KestoCommand, ArgumentsItCannotUseExitTwoAndSaySo)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"translate"},
        {"export"},
        {"export", "--bogus", Doc("my catalogue.qxp")},
        {"export", Doc("my catalogue.qxp"), Doc("my catalogue.qxp"), "-o", Doc("x.dwq")},
        {"export", Doc("my catalogue.qxp"), "--pdf"},
        {"import", Doc("a.dwq"), Doc("b.dwq")},
        {"convert", folder.string()},
        {"convert", Doc("no such folder"), Doc("out")},
        {"convert", folder.string(), Doc("out"), "--import", "--pdf", Doc("pdf")},
        {"batch", Doc("no such status file")},
        {"serve", "--port", "70000"},
        {"settings", "extra"},
        {"export", "--app", Doc("no such application folder"), Doc("my catalogue.qxp")},
    };
    for (const auto& arguments : cases) {
        std::string line;
        for (const auto& argument : arguments)
            line += argument + " ";
        SCOPED_TRACE(line);
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
    EXPECT_EQ(LineCount(lines.out), 4u) << lines.out;
    EXPECT_NE(lines.err.find("kesto: 100% (4 of 4 files)\n"), std::string::npos) << lines.err;
    EXPECT_EQ(lines.err.find('\r'), std::string::npos) << lines.err;
    // A bar on a terminal.
    const std::string typescript = Doc("typescript");
    ASSERT_EQ(Shell("cd " + Quoted(temp.Path()) + " && XDG_CONFIG_HOME=" + Quoted(app.parent_path().string()) +
                    " script -qec " +
                    Quoted(Quoted(KESTO_BINARY_DIR "/kesto") + " convert --recursive " + Quoted(Doc("books")) + " " +
                           Quoted(Doc("out"))) +
                    " " + Quoted(typescript) + " >/dev/null"),
              0);
    const std::string terminal = ReadText(typescript);
    EXPECT_NE(terminal.find("\r[##############################] 100%  4 of 4 files"), std::string::npos) << terminal;
}

TEST_F(KestoCommand, SettingsSayEachValueAndWhereItComesFrom)
{
    fs::create_directories(app / "XTensions");
    std::ofstream(app / "XTensions" / "kesto.ini")
        << "[Options]\ntempBoxMaximizeMode=7\nrecursiveDirScan=yes\n[Server]\nlistenPort=9000\n";
    const Ran ran = Kesto({"settings"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const std::string expected[] = {
        "tempBoxMaximizeMode          \"1\"                      kesto.ini (\"7\")\n",
        "recursiveDirScan             \"True\"                   kesto.ini (\"yes\")\n",
        "listenPort                   \"9000\"                   kesto.ini\n",
        "serverLogMinPriority         \"7\"                      default\n",
        "BatchFilePath                \" \"                      default\n",
    };
    for (const std::string& line : expected)
        EXPECT_NE(ran.out.find(line), std::string::npos) << line << ran.out;
    std::size_t keys = 0;
    std::istringstream in(ran.out);
    for (std::string line; std::getline(in, line);)
        keys += line.size() > 60 && (line.find(" default") != std::string::npos || line.find(" kesto.ini") != std::string::npos);
    EXPECT_EQ(keys, static_cast<std::size_t>(SettingKey::Count)) << ran.out;
    // Reading them changed nothing.
    EXPECT_EQ(ReadText(app / "XTensions" / "kesto.ini"),
              "[Options]\ntempBoxMaximizeMode=7\nrecursiveDirScan=yes\n[Server]\nlistenPort=9000\n");
}

TEST_F(KestoCommand, TheServerRunsUntilAClientHaltsIt)
{
    const uint16_t port = kesto_test::FreePort();
    Ran served;
    std::thread server([&] { served = Kesto({"serve", "--port", std::to_string(port)}); });
    const std::string client = Quoted(KESTO_BINARY_DIR "/client/kesto-client") + " --port " + std::to_string(port);
    int status = -1;
    for (int attempt = 0; attempt < 400 && status != 0; ++attempt) {
        status = Shell(client + " status >/dev/null 2>&1");
        if (status != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_EQ(status, 0) << "the server never answered";
    EXPECT_EQ(Shell(client + " halt >/dev/null"), 0);
    server.join();
    EXPECT_EQ(served.status, 0) << served.out << served.err;
    EXPECT_EQ(served.out, "serving on port " + std::to_string(port) +
                              " (stop it with kesto-client halt or Ctrl-C)\nserver stopped\n");
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
                             Quoted((folder / "run.xts").string());
    EXPECT_NE(Shell(host + " >/dev/null 2>&1"), 0);
    EXPECT_EQ(Shell(host + " --auto --transcript " + Quoted(Doc("transcript.txt")) + " 2>/dev/null"), 0);
    const std::string transcript = ReadText(Doc("transcript.txt"));
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
    for (const char* program : {"bin/kesto", "bin/xthost", "bin/kesto-client", "bin/kesto-pseudo-translate", "lib/kesto/Kesto.so",
                                "share/kesto/app/XTensions/kesto.ini", "share/kesto/fonts.conf"})
        EXPECT_TRUE(fs::exists(moved / program)) << program;
    const std::string kesto = (moved / "bin" / "kesto").string();
    const Ran exported = Kesto({"export", Doc("my catalogue.qxp")}, kesto);
    EXPECT_EQ(exported.status, 0) << exported.out << exported.err;
    const Ran pdf = Kesto({"pdf", Doc("my catalogue.qxp")}, kesto);
    EXPECT_EQ(pdf.status, 0) << pdf.out << pdf.err;
    EXPECT_TRUE(fs::exists(Doc("my catalogue.pdf")));
}

}  // namespace
