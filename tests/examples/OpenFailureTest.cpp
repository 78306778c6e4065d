// Containers the import cannot open or use, and a stored document the host refuses, through xthost and
// Kesto.so: alone, in a folder import and in a batch import beside a good container and beside
// containers whose import fails after it wrote a partly imported document. Each ends as a failed
// import whose log names the file and the reason inside the import's banner; a folder or batch run
// names every file it did not convert, says which left a partly imported document, and still
// imports the good one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Plugin/Shell/AppFolderTest.h"
#include "examples/damage/DamagedContainer.h"
#include "tests/examples/ExampleRuns.h"

namespace fs = std::filesystem;

namespace {

using kesto_test::RunHost;

struct Unopened {
    const char* damage;
    // What the log line that names the container says after its path.
    const char* reason;
    // The host opens the restored document (and refuses it) rather than the module the container.
    bool hostRefuses = false;
};

const Unopened kUnopened[] = {
    {"code-file-cut-short", ": Container Error<34001>:\tdamaged code file"},
    {"two-books", ": Container Error<34001>:\tdamaged code file"},
    {"string-removed", ": Container Error<34001>:\tdamaged code file: an attribute names string 17, which the string"},
    {"no-summary-stream", ": Container Error<33006>:\tstorage or stream not found"},
    {"stored-document-cut-short", " is no document: layouts[0]", true},
    // The Book lists a second document: which of them is the translation cannot be told.
    {"two-documents", ": the DWQ lists 2 documents, where an export writes one"},
};

// Containers that open and whose import fails after it wrote the document: stories that do not
// belong to it, a story that cannot be read, one that lost a paragraph, two that swapped places.
const char* const kPartlyImported[] = {"document-of-another-export", "descriptor-offset-bit", "paragraph-removed",
                                       "stories-swapped"};

// The export of export.qxp and its translation, made once, with a copy of each damage of kUnopened
// and kPartlyImported.
class OpenFailure : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // With another document's export, whose stored document a container carries in place of its own.
        s_dir = kesto_test::ExportWorkWithMinimal();
        ASSERT_FALSE(s_dir.empty());
        for (const std::string& damage : Damages()) {
            std::string error;
            ASSERT_TRUE(kesto_damage::DamageContainer(damage, (s_dir / "export-translated.dwq").string(),
                                                      (s_dir / (damage + ".dwq")).string(),
                                                      (s_dir / "minimal.dwq").string(), error))
                << damage << ": " << error;
        }
    }
    static void TearDownTestSuite()
    {
        std::error_code ignored;
        fs::remove_all(s_dir, ignored);
    }

    static constexpr size_t kFailed = std::size(kUnopened) + std::size(kPartlyImported);

    static std::vector<std::string> Damages()
    {
        std::vector<std::string> damages(std::begin(kPartlyImported), std::end(kPartlyImported));
        for (const Unopened& u : kUnopened)
            damages.push_back(u.damage);
        return damages;
    }

    // A folder `name` in the work folder holding good.dwq (the translation) and every damage.
    static fs::path SourceFolder(const std::string& name)
    {
        const fs::path folder = s_dir / name;
        fs::create_directories(folder);
        fs::copy_file(s_dir / "export-translated.dwq", folder / "good.dwq", fs::copy_options::overwrite_existing);
        for (const std::string& damage : Damages())
            fs::copy_file(s_dir / (damage + ".dwq"), folder / (damage + ".dwq"), fs::copy_options::overwrite_existing);
        return folder;
    }

    // A folder or batch run's log names each damaged container of `folder` with its reason
    // inside its banner, and closes with the list of every file not converted, each that left a
    // partly imported document in `out` said so; the good one is imported into `out`.
    static void ExpectEveryFailureNamed(const std::string& log, const fs::path& folder, const fs::path& out)
    {
        const size_t list =
            log.find("##### Not converted: " + std::to_string(kFailed) + " of " + std::to_string(kFailed + 1) + " files");
        ASSERT_NE(list, std::string::npos) << log;
        for (const std::string damage : kPartlyImported) {
            const fs::path document = out / (damage + ".qxp");
            EXPECT_NE(log.find(".) " + (folder / (damage + ".dwq")).string() + ": partly imported into \"" +
                                   document.string() + "\"\n", list),
                      std::string::npos)
                << damage << log;
            EXPECT_TRUE(fs::exists(document)) << damage;
        }
        for (const Unopened& u : kUnopened) {
            SCOPED_TRACE(u.damage);
            const std::string path = (folder / (std::string(u.damage) + ".dwq")).string();
            const size_t banner = log.find("Source:   " + path);
            ASSERT_NE(banner, std::string::npos) << log;
            EXPECT_NE(log.find(u.reason, banner), std::string::npos) << log;
            EXPECT_NE(log.find(".) " + path + "\n", list), std::string::npos) << log;
        }
        EXPECT_EQ(log.find(".) " + (folder / "good.dwq").string() + "\n", list), std::string::npos) << log;
        EXPECT_TRUE(fs::exists(out / "good.qxp"));
        for (const Unopened& u : kUnopened)
            EXPECT_FALSE(fs::exists(out / (std::string(u.damage) + ".qxp"))) << u.damage;
    }

    static fs::path s_dir;
};

fs::path OpenFailure::s_dir;

TEST_F(OpenFailure, EachEndsAsAFailedImportNamingTheFileAndTheReasonInsideTheBanner)
{
    ASSERT_FALSE(s_dir.empty());
    for (const Unopened& u : kUnopened) {
        SCOPED_TRACE(u.damage);
        const std::string name = u.damage;
        std::error_code ignored;
        fs::remove(s_dir / "KestoLogfile.txt", ignored);
        const std::string transcript =
            RunHost(s_dir, "start\nmenu \"Import Verbant file\"\nopen * " + name + ".dwq\n" +
                               (u.hostRefuses ? "save * " + name + ".qxp\nalert host press 1\nalert 22100 press 1\n" : "") +
                               "dialog 104\n  press 1\nquit\n");
        EXPECT_EQ(transcript.find("error:"), std::string::npos) << transcript;
        EXPECT_EQ(transcript.find("dialog 103"), std::string::npos) << transcript;
        const std::string log = kesto_test::ReadText(s_dir / "KestoLogfile.txt");
        const size_t banner = log.find("Starting import ...\nSource:   " + (s_dir / (name + ".dwq")).string());
        ASSERT_NE(banner, std::string::npos) << log;
        // One line: the file (the container, or the document the host was given) and the reason.
        const size_t reason = log.find(u.reason, banner);
        ASSERT_NE(reason, std::string::npos) << log;
        const std::string line = log.substr(log.rfind('\n', reason) + 1, log.find('\n', reason) - log.rfind('\n', reason) - 1);
        EXPECT_NE(line.find(u.hostRefuses ? "The host refused it: \"" + s_dir.string() + "/." + name + ".qxp."
                                          : (s_dir / (name + ".dwq")).string() + u.reason),
                  std::string::npos)
            << line;
        EXPECT_EQ(log.find("OpenDWX FAILED\n"), std::string::npos) << log;
        EXPECT_FALSE(fs::exists(s_dir / (name + ".qxp")));
    }
}

TEST_F(OpenFailure, AFolderImportNamesEveryFailedFileAndImportsTheGoodOne)
{
    ASSERT_FALSE(s_dir.empty());
    const fs::path in = SourceFolder("folder-in"), out = s_dir / "folder-out";
    fs::create_directories(out);
    std::error_code ignored;
    fs::remove(s_dir / "KestoLogfile.txt", ignored);
    const std::string transcript = RunHost(s_dir, "start\nmenu \"Import multiple Verbant files\"\ndialog 115\n  press 1002\n"
                                                  "  folder \"Select folder\" folder-in\n  press 1004\n"
                                                  "  folder \"Select folder\" folder-out\n  press 1023\n"
                                                  "alert 22100 press 1\nquit\n");
    EXPECT_EQ(transcript.find("error:"), std::string::npos) << transcript;
    ExpectEveryFailureNamed(kesto_test::ReadText(s_dir / "KestoLogfile.txt"), in, out);
}

TEST_F(OpenFailure, ABatchImportNamesEveryFailedFileAndImportsTheGoodOne)
{
    ASSERT_FALSE(s_dir.empty());
    const fs::path app = s_dir / "batch-app", in = SourceFolder("batch-in"), out = s_dir / "batch-out";
    fs::create_directories(app / "XTensions");
    fs::create_directories(app / "Batch");
    std::ofstream(app / "XTensions" / "kesto.ini") << "[Path]\nBatchFilePath=" << (app / "Batch" / "batch.ini").string() << "\n";
    std::ofstream(app / "Batch" / "batch.ini") << "[General]\nMode=Import\n\n[Path]\nSource=" << in.string()
                                                << "\nTarget=" << out.string() << "\n";
    const std::string transcript = RunHost(app, "clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n");
    EXPECT_EQ(transcript.find("error:"), std::string::npos) << transcript;
    const std::string log = kesto_test::ReadText(app / "KestoLogfile.txt");
    ExpectEveryFailureNamed(log, in, out);
    // Unattended, the host's refusal also stands in the line of the failed open.
    EXPECT_NE(log.find("as a document (host error -3001: \""), std::string::npos) << log;
    EXPECT_NE(kesto_test::ReadText(app / "Batch" / "batch.ini_20061205083007").find("Count=" + std::to_string(kFailed + 1)),
              std::string::npos);
}

} // namespace
