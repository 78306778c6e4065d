// The export commands as a user runs them: Kesto.so loaded by the emulated host, the example
// document opened, the menu chosen and the dialogs answered by a script; the exchange file is
// then read with Debian's olefile and Python's zlib, as any other reader would.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Plugin/Shell/AppFolderTest.h"
#include "platform/host/Host.h"
#include "platform/host/HostExtensions.h"
#include "platform/host/Script.h"

namespace fs = std::filesystem;

namespace {

using kesto_test::ReadText;

constexpr char kClock[] = "clock 2026-12-07 10:11:12\n";
constexpr char kTime[] = "2026-12-07 10:11:12";

std::string Padded(std::string text, size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

int Count(const std::string& text, const std::string& part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

class ExportCommandTest : public kesto_test::AppFolderTest {
protected:
    ExportCommandTest() : AppFolderTest("kesto") {}

    void SetUp() override
    {
        AppFolderTest::SetUp();
        fs::create_symlink(KESTO_MODULE, app / "XTensions" / "Kesto.so");
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/documents/export.qxp", Source());
        xthost::RegisterHostDocuments(extensions);
    }

    fs::path Source() const { return app / "export.qxp"; }
    fs::path Target() const { return app / "export.dwq"; }

    // Runs the script against a fresh host; answers whether it ran to its end. The transcript
    // is kept.
    bool Run(const std::string& script)
    {
        std::vector<xthost::ScriptLine> lines;
        std::string error;
        EXPECT_TRUE(xthost::ParseScript(script, lines, error)) << error;
        xthost::HostOptions options;
        options.appFolder = app.string();
        xthost::Host host(options);
        xthost::ScriptRunner runner(host, extensions.Verbs(), lines);
        const bool ok = runner.Run();
        transcript = host.Log().Text();
        return ok;
    }

    // The stored document of the exchange file, inflated into `out` by olefile and zlib, which
    // must find one complete zlib stream (78 9C) and nothing after it.
    int InflateStored(const fs::path& dwq, const fs::path& out)
    {
        const fs::path script = app / "inflate.py";
        std::ofstream(script) << "import olefile, sys, zlib\n"
                                 "ole = olefile.OleFileIO(sys.argv[1])\n"
                                 "data = ole.openstream('VerbantPluginPrivateData/KestoExportTemplates/0').read()\n"
                                 "assert data[:2] == b'\\x78\\x9c', data[:2]\n"
                                 "z = zlib.decompressobj()\n"
                                 "doc = z.decompress(data)\n"
                                 "assert z.eof and not z.unused_data\n"
                                 "open(sys.argv[2], 'wb').write(doc)\n";
        const std::string command = "/usr/bin/python3 " + script.string() + " " + dwq.string() + " " + out.string();
        return std::system(command.c_str());
    }

    std::string Canon(const fs::path& document)
    {
        const fs::path out = app / "canon.txt";
        const std::string command = std::string(XTHOST_BINARY) + " doc canon " + document.string() + " > " + out.string();
        EXPECT_EQ(std::system(command.c_str()), 0);
        return ReadText(out);
    }

    xthost::HostExtensions extensions;
    std::string transcript;
};

const char kExportFromMenu[] = "start\nopen-document export.qxp\nmenu \"Export current document\"\n"
                               "save * default\ndialog 101\n  press 1\nquit\n";

TEST_F(ExportCommandTest, TheFrontDocumentBecomesAnExchangeFileThatCarriesItsSavedSelf)
{
    ASSERT_TRUE(Run(std::string(kClock) + kExportFromMenu)) << transcript;
    ASSERT_TRUE(fs::exists(Target())) << transcript;

    const fs::path stored = app / "stored.qxp";
    ASSERT_EQ(InflateStored(Target(), stored), 0);
    const std::string check = std::string(XTHOST_BINARY) + " doc check " + stored.string();
    EXPECT_EQ(std::system(check.c_str()), 0);
    // The stored document has the two private working boxes (the import finds its text through
    // them); the user's file on disk has none.
    EXPECT_EQ(Count(Canon(stored), "\"08414b42\", \"ffffffff\""), 1);
    EXPECT_EQ(Count(Canon(stored), "\"08414b42\", \"fffffffe\""), 1);
    const std::string source = Canon(Source());
    EXPECT_EQ(Count(source, "\"08414b42\", \"ffffffff\"") + Count(source, "\"08414b42\", \"fffffffe\""), 0);
    EXPECT_EQ(Count(source, "\"08414b42\", \"00000000\""), 3) << "the box links of the three layouts stay";

    // The log's banner, target and closing lines, byte for byte.
    const std::string stars(80, '*');
    const std::string banner = "\n" + stars + "\n" + kTime + "\nStarting export ...\n" + "Source:   " +
                               Padded(Source().string(), 70) + "\n" + "Target:   " + Padded("<YET UNSET>", 70) + "\n";
    const std::string chosen =
        std::string("\n") + kTime + "\nUser selected missing target:\n" + "Target:   " + Padded(Target().string(), 70) + "\n";
    const std::string closing = std::string("... finished.\n") + kTime + "\n" + stars + "\n";
    const std::string log = GeneralLog();
    const size_t at = log.find(banner);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(chosen), at + banner.size()) << log;
    EXPECT_NE(log.find(closing, at), std::string::npos) << log;
    EXPECT_EQ(Count(log, "Export failed"), 0);
    EXPECT_NE(transcript.find("\"Export done\""), std::string::npos);
}

TEST_F(ExportCommandTest, TheStoredDocumentIsTheSaveTheExportMade)
{
    // The finishing save after the store is refused, so the file on disk keeps the bytes of the
    // save the export made before storing the document.
    ASSERT_TRUE(Run(kExportFromMenu)) << transcript;
    const int saves = Count(transcript, "\ndoc.save\n");
    ASSERT_GE(saves, 2) << transcript;
    fs::remove(Target());
    fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/documents/export.qxp", Source(),
                  fs::copy_options::overwrite_existing);
    ASSERT_TRUE(Run("fail DOC-11 after " + std::to_string(saves - 1) + " with -34\n" + kExportFromMenu)) << transcript;

    const fs::path stored = app / "stored.qxp";
    ASSERT_EQ(InflateStored(Target(), stored), 0);
    EXPECT_EQ(ReadText(stored), ReadText(Source()));
}

TEST_F(ExportCommandTest, ExportToVerbantOpensTheChosenDocumentAndExportsIt)
{
    ASSERT_TRUE(Run("start\nmenu \"Export to Verbant\"\nopen * export.qxp\nsave * default\ndialog 101\n  press 1\nquit\n"))
        << transcript;
    EXPECT_EQ(InflateStored(Target(), app / "stored.qxp"), 0);
}

TEST_F(ExportCommandTest, AnOpenChangedDocumentIsExportedOnlyWhenTheUserContinues)
{
    const std::string change = "start\nopen-document export.qxp\ntype 17 0 \"Changed \"\n"
                               "menu \"Export to Verbant\"\nopen * export.qxp\n";
    ASSERT_TRUE(Run(change + "alert 22200 press 1\nquit\n")) << transcript;
    EXPECT_NE(transcript.find("is already opened and was changed"), std::string::npos) << transcript;
    EXPECT_FALSE(fs::exists(Target()));
    EXPECT_EQ(Canon(Source()).find("Changed"), std::string::npos);

    ASSERT_TRUE(Run(change + "alert 22200 press 2\nsave * default\ndialog 101\n  press 1\nquit\n")) << transcript;
    EXPECT_TRUE(fs::exists(Target()));
    EXPECT_NE(Canon(Source()).find("Changed"), std::string::npos) << "saved before the export";
}

TEST_F(ExportCommandTest, CancellingTheSaveQuestionClosesTheProjectAndFails)
{
    ASSERT_TRUE(Run("start\nopen-document export.qxp\ntype 17 0 \"Changed \"\n"
                    "menu \"Export current document\"\ndialog 105\n  press 2\ndialog 112\n  press 1\nquit\n"))
        << transcript;
    EXPECT_NE(GeneralLog().find("\nUser pressed CANCEL or auto-saving is not allowed.\n"), std::string::npos);
    EXPECT_NE(transcript.find("project.close"), std::string::npos);
    EXPECT_FALSE(fs::exists(Target()));
    EXPECT_EQ(Canon(Source()).find("Changed"), std::string::npos);
}

} // namespace
