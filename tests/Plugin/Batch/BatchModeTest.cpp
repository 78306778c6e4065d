// Batch runs through xthost with the module as a shared object: the controller's status file
// and its request in the key store, as an outside controller would leave them.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Plugin/Shell/AppFolderTest.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using kesto_test::ReadText;

const char kMakerKey[] = "Registry/HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology";
const char kRequestKey[] = "Registry/HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology/Kesto 50 Batch Mode";

class BatchModeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        app = fs::path(KESTO_BINARY_DIR) / "test-tmp" / "batch-mode" / info->name();
        fs::remove_all(app);
        fs::create_directories(app / "XTensions");
        fs::create_directories(app / "Batch");
        std::ofstream(app / "XTensions" / "kesto.ini") << "[Path]\nBatchFilePath=" << BatchFile() << "\n";
    }

    std::string BatchFile() const { return (app / "Batch" / "batch.ini").string(); }

    // Runs the script; true for exit 0.
    bool Run(const std::string& script)
    {
        std::ofstream(app / "run.xts") << script;
        const std::string command = "cd " + app.string() + " && " + XTHOST_PROGRAM + " --app . --module " +
                                    KESTO_MODULE + " --script run.xts --transcript " +
                                    (app / "run.transcript").string() + " 2>/dev/null >/dev/null";
        return std::system(command.c_str()) == 0;
    }
    std::string Transcript() const { return ReadText(app / "run.transcript"); }

    // Runs the shipped example job as a user would; answers its working copy, empty when the run
    // failed (its script answers no alert: a run that waited for a user fails).
    fs::path RunShippedJob(const std::string& job)
    {
        const fs::path temp = app / job;
        fs::create_directories(temp);
        const std::string command = "TMPDIR=" + temp.string() + " bash " + KESTO_SOURCE_DIR +
                                    "/examples/batch/run.sh " + KESTO_BINARY_DIR + " " + job + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            return {};
        for (const auto& entry : fs::directory_iterator(temp))
            if (entry.path().filename().string().rfind("kesto-batch.", 0) == 0)
                return entry.path();
        return {};
    }

    fs::path app;
};

TEST_F(BatchModeTest, ActiveExportJobEndsArchivedAndRemoved)
{
    std::ofstream(BatchFile()) << "[General]\nMode=Export\n[Path]\nSource=" << (app / "in").string()
                               << "\nTarget=" << (app / "out").string() << "\n[Status]\nActive=True\n";
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
    EXPECT_FALSE(fs::exists(BatchFile()));
    const std::string archive = ReadText(BatchFile() + "_20061205083007");
    EXPECT_NE(archive.find("Mode=Export\n"), std::string::npos) << archive;
    EXPECT_NE(archive.find("Active=False\n"), std::string::npos) << archive;
    EXPECT_EQ(archive.find('\r'), std::string::npos);
    // The export step was fired once; its source folder does not exist, so no run started.
    const std::string log = ReadText(app / "KestoLogfile.txt");
    EXPECT_NE(log.find("Batch export step: the Source path \"" + (app / "in").string() +
                       "\" cannot be used; the run does not start."),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("IMPORT/EXPORT-FILES"), std::string::npos) << log;
}

TEST_F(BatchModeTest, RequestPresentAtStartIsClaimedAndGoneAfterUnload)
{
    fs::create_directories(app / kRequestKey / "Sub");
    ASSERT_TRUE(Run("start\nidle\nquit\n")) << Transcript();
    EXPECT_TRUE(fs::is_directory(app / kMakerKey));
    EXPECT_FALSE(fs::exists(app / kRequestKey));
}

TEST_F(BatchModeTest, RequestClaimedByAnotherProcessIsLeftAlone)
{
    fs::create_directories(app / kRequestKey);
    std::ofstream(app / kRequestKey / "Kesto") << "Started";
    ASSERT_TRUE(Run("start\nidle\nquit\n")) << Transcript();
    EXPECT_EQ(ReadText(app / kRequestKey / "Kesto"), "Started");
    EXPECT_EQ(std::distance(fs::directory_iterator(app / kRequestKey), fs::directory_iterator()), 1);
}

TEST_F(BatchModeTest, WithoutARequestOnlyTheMakerKeyIsMade)
{
    ASSERT_TRUE(Run("start\nidle\nquit\n")) << Transcript();
    EXPECT_TRUE(fs::is_directory(app / kMakerKey));
    EXPECT_EQ(std::distance(fs::directory_iterator(app / kMakerKey), fs::directory_iterator()), 0);
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(app / "Registry"), fs::recursive_directory_iterator()), 3);
}

// A controller's run of the example tree: what the module converts, counts and leaves alone.
class BatchTreeTest : public BatchModeTest {
protected:
    void SetUp() override
    {
        BatchModeTest::SetUp();
        fs::copy(fs::path(KESTO_SOURCE_DIR) / "examples/app/Folders/Books", app / "in", fs::copy_options::recursive);
        fs::create_directories(app / "out");
        // Named like a target, but directly in the target root where no target goes.
        std::ofstream(app / "out" / "front.dwq") << "decoy";
        std::ofstream(app / "out" / "notes.txt") << "the controller's notes";
    }

    // The controller writes only what it needs.
    void WriteJob(const std::string& mode, const fs::path& source, const fs::path& target)
    {
        std::ofstream(BatchFile()) << "[General]\nMode=" << mode << "\nRecursive=True\n[Path]\nSource=" << source.string()
                                   << "\nTarget=" << target.string() << "\n";
    }

    // Every file below the folder with a checksum of its bytes.
    static std::map<std::string, uint64_t> Checksums(const fs::path& folder)
    {
        std::map<std::string, uint64_t> sums;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (!entry.is_regular_file())
                continue;
            uint64_t hash = 1469598103934665603ull;
            for (unsigned char c : ReadText(entry.path()))
                hash = (hash ^ c) * 1099511628211ull;
            sums[fs::relative(entry.path(), folder).string()] = hash;
        }
        return sums;
    }

    std::string Archive() const { return ReadText(BatchFile() + "_20061205083007"); }
    std::string Log() const { return ReadText(app / "KestoLogfile.txt"); }

    // Whether the host accepts the file as a document.
    static bool DocumentChecks(const fs::path& file)
    {
        const std::string check = std::string(XTHOST_PROGRAM) + " doc check '" + file.string() + "' >/dev/null 2>&1";
        return std::system(check.c_str()) == 0;
    }

    const char* const kSources[3] = {"report.qxp", "a.b.qxp", "News/front.qxp"};
    const char* const kTargets[3] = {"report.dwq", "a.b.dwq", "News/front.dwq"};
};

TEST_F(BatchTreeTest, ExportRunActivatesCountsAndLeavesEverythingElseAlone)
{
    WriteJob("Export", app / "in", app / "out");
    const auto sourceBefore = Checksums(app / "in");
    auto targetBefore = Checksums(app / "out");
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();

    // Activated by the module, run, archived with Active False and removed.
    EXPECT_FALSE(fs::exists(BatchFile()));
    const std::string archive = Archive();
    EXPECT_NE(archive.find("Mode=Export\n"), std::string::npos) << archive;
    EXPECT_NE(archive.find("Active=False\n"), std::string::npos) << archive;
    EXPECT_NE(archive.find("Total=3\n"), std::string::npos) << archive;
    EXPECT_NE(archive.find("Count=3\n"), std::string::npos) << archive;
    // Unattended: nothing waits for a user.
    EXPECT_NE(Log().find("SUPPRESSED MESSAGE BOX:\tConversion finished."), std::string::npos) << Log();
    EXPECT_EQ(Transcript().find("alert 22100"), std::string::npos) << Transcript();

    // The export saves each source it converts, with its boxes' export tags; every other file of
    // the source tree stays byte-identical, and each converted source stays a sound document.
    auto sourceAfter = Checksums(app / "in");
    auto sourceUntouched = sourceBefore;
    for (const char* document : kSources) {
        EXPECT_EQ(sourceAfter.erase(document), 1u) << document;
        sourceUntouched.erase(document);
        EXPECT_TRUE(DocumentChecks(app / "in" / document)) << document;
    }
    EXPECT_EQ(sourceAfter, sourceUntouched);
    auto targetAfter = Checksums(app / "out");
    for (const char* target : kTargets) {
        targetAfter.erase(target);
        targetBefore.erase(target);
    }
    EXPECT_EQ(targetAfter, targetBefore);

    if (Log().find("Export of the current document: not available") != std::string::npos)
        GTEST_SKIP() << "needs the export command";
    for (const char* target : kTargets)
        EXPECT_EQ(ReadText(app / "out" / target).substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") << target;
    EXPECT_FALSE(fs::exists(app / "out" / ".draft.dwq"));

    // The exchange files back into documents, by a second run.
    WriteJob("Import", app / "out", app / "back");
    fs::create_directories(app / "back");
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:08\nstart\nidle 3\nquit\n")) << Transcript();
    if (Log().find("Import of a Verbant file: not available") != std::string::npos)
        GTEST_SKIP() << "needs the import command";
    for (const char* document : kSources)
        EXPECT_TRUE(DocumentChecks(app / "back" / document)) << document;
}

TEST_F(BatchTreeTest, ImportRunConvertsTheExchangeFilesOfTheTree)
{
    std::ofstream(app / "out" / "x.dwq") << "not an exchange file";
    WriteJob("Import", app / "out", app / "back");
    fs::create_directories(app / "back");
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
    const std::string archive = Archive();
    EXPECT_NE(archive.find("Mode=Import\n"), std::string::npos) << archive;
    EXPECT_NE(archive.find("Total=2\n"), std::string::npos) << archive;   // front.dwq and x.dwq
    EXPECT_NE(archive.find("Count=2\n"), std::string::npos) << archive;
    EXPECT_EQ(ReadText(app / "out" / "x.dwq"), "not an exchange file");
}

TEST_F(BatchTreeTest, DoneOrLowerCaseRunsNothing)
{
    const auto sourceBefore = Checksums(app / "in");
    const auto targetBefore = Checksums(app / "out");
    const std::string jobs[] = {"Done", "export"};
    for (const std::string& mode : jobs) {
        WriteJob(mode, app / "in", app / "out");
        ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
        EXPECT_TRUE(fs::exists(BatchFile())) << mode;
        EXPECT_EQ(Log().find("IMPORT/EXPORT-FILES"), std::string::npos) << mode;
        EXPECT_EQ(ReadText(BatchFile()).find("Active"), std::string::npos) << mode;
    }
    EXPECT_EQ(Checksums(app / "in"), sourceBefore);
    EXPECT_EQ(Checksums(app / "out"), targetBefore);
}

TEST_F(BatchModeTest, ShippedExampleRunsItsJob)
{
    const std::string command = "TMPDIR=" + app.string() + " bash " + KESTO_SOURCE_DIR +
                                "/examples/batch/run.sh " + KESTO_BINARY_DIR + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    int archives = 0;
    for (const auto& entry : fs::recursive_directory_iterator(app))
        archives += entry.path().filename() == "batch.ini_20061205083007";
    EXPECT_EQ(archives, 1);
}

TEST_F(BatchTreeTest, JobThatCannotRunSaysSoInItsArchive)
{
    // The folder of a dialog chosen earlier must not stand in for an unusable target.
    std::ofstream(app / "taken") << "a file where the target folder should be";
    const std::pair<fs::path, fs::path> jobs[] = {{app / "in", app / "taken"}, {app / "missing", app / "out"}};
    for (const auto& job : jobs) {
        WriteJob("Export", job.first, job.second);
        ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
        const std::string key = job.first == app / "in" ? "Target" : "Source";
        const std::string path = (key == "Target" ? job.second : job.first).string();
        EXPECT_NE(Log().find("Batch export step: the " + key + " path \"" + path + "\" cannot be used"),
                  std::string::npos)
            << Log();
        EXPECT_NE(Archive().find("Error=the " + key + " path \"" + path + "\" cannot be used\n"), std::string::npos)
            << Archive();
        EXPECT_NE(Archive().find("Active=False\n"), std::string::npos);
        EXPECT_EQ(Log().find("IMPORT/EXPORT-FILES"), std::string::npos);
        fs::remove(BatchFile() + "_20061205083007");   // collected by the controller
    }
    EXPECT_EQ(ReadText(app / "taken"), "a file where the target folder should be");
    EXPECT_FALSE(fs::exists(app / "missing"));
}

// The ASCII text of a file in UTF-16 of either byte order (mark and high bytes dropped).
std::string Narrow(const std::string& bytes)
{
    const bool marked = bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0;
    if (!marked && bytes.find('\0') == std::string::npos)
        return bytes;
    std::string text;
    for (std::size_t i = marked ? 2 : 0; i < bytes.size(); ++i)
        if (bytes[i] != '\0')
            text += bytes[i];
    return text;
}

std::string Utf16(const std::string& ascii, bool bigEndian, bool marked = true)
{
    std::string bytes = !marked ? "" : bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : ascii)
        bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return bytes;
}

// Status files as Windows editors save them run as any other; one that names a job that cannot
// run is answered with an archive that says why. None leaves its controller waiting.
TEST_F(BatchTreeTest, StatusFilesFromAnyEditorRunOrSayWhyNot)
{
    const std::string job = "[General]\r\nMode=Export\r\nRecursive=True\r\n[Path]\r\nSource=" + (app / "in").string() +
                            "\r\nTarget=" + (app / "out").string() + "\r\n";
    const struct {
        const char* name;
        std::string bytes;
        std::string mark;
        std::string refused;   // the step and the key that refuse the job, empty when it runs
    } cases[] = {
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + job, "\xEF\xBB\xBF", ""},
        {"UTF-16LE", Utf16(job, false), "\xFF\xFE", ""},
        {"UTF-16BE", Utf16(job, true), "\xFE\xFF", ""},
        {"UTF-16LE without a mark", Utf16(job, false, false), std::string("\n\0[\0", 4), ""},
        {"blank Target", "[General]\nMode=Export\n[Path]\nSource=" + (app / "in").string() + "\nTarget= \n", "",
         "Batch export step: the Target"},
        {"no Source", "[General]\nMode=Import\n[Path]\nTarget=" + (app / "out").string() + "\n", "",
         "Batch import step: the Source"},
    };
    for (const auto& c : cases) {
        std::ofstream(BatchFile(), std::ios::binary) << c.bytes;
        fs::remove_all(app / "out");
        fs::create_directories(app / "out");
        ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << c.name << Transcript();
        EXPECT_FALSE(fs::exists(BatchFile())) << c.name;
        const std::string archive = Archive();
        EXPECT_EQ(archive.substr(0, c.mark.size()), c.mark) << c.name;
        const std::string text = Narrow(archive);
        if (c.refused.empty()) {
            EXPECT_NE(text.find("Count=3\n"), std::string::npos) << c.name << text;
            EXPECT_EQ(text.find("Error="), std::string::npos) << c.name << text;
            EXPECT_TRUE(fs::exists(app / "out/report.dwq")) << c.name << Log();
        } else {
            const std::string key = c.refused.substr(c.refused.rfind(' ') + 1);
            EXPECT_NE(text.find("Error=the " + key + " path \"\" cannot be used\n"), std::string::npos) << c.name << text;
            EXPECT_NE(Log().find(c.refused + " path \"\" cannot be used; the run does not start."), std::string::npos)
                << c.name << Log();
            EXPECT_TRUE(fs::is_empty(app / "out")) << c.name;
        }
        fs::remove(BatchFile() + "_20061205083007");   // collected by the controller
    }
}

// Two jobs archived in one second (here by two hosts one after the other): both archives stay.
TEST_F(BatchTreeTest, JobsArchivedInOneSecondKeepBothArchives)
{
    for (const char* target : {"out", "second"}) {
        WriteJob("Export", app / "in", app / target);
        ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
    }
    EXPECT_NE(Archive().find("Target=" + (app / "out").string() + "\n"), std::string::npos) << Archive();
    const std::string second = ReadText(BatchFile() + "_20061205083007-2");
    EXPECT_NE(second.find("Target=" + (app / "second").string() + "\n"), std::string::npos) << second;
    EXPECT_NE(second.find("Count=3\n"), std::string::npos) << second;
}

// A second host started on the status file of a running host leaves it alone; when the first
// host crashes, the next one takes its claims over, runs the job and removes the request.
TEST_F(BatchTreeTest, ASecondHostLeavesTheJobToTheFirstAndTheNextTakesOverAfterACrash)
{
    fs::create_directories(app / kRequestKey);
    WriteJob("Export", app / "in", app / "out");
    // The first host holds its job while it waits on a pipe that nobody writes.
    ASSERT_EQ(::mkfifo((app / "wait.qxp").c_str(), 0600), 0);
    std::ofstream(app / "first.xts") << "clock 2006-12-05 08:30:07\nstart\nopen-document wait.qxp\nidle 3\nquit\n";
    const pid_t first = ::fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
        if (::chdir(app.c_str()) == 0)
            ::execl(XTHOST_PROGRAM, XTHOST_PROGRAM, "--app", ".", "--module", KESTO_MODULE, "--script", "first.xts",
                    "--quiet", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // However the test ends, the first host does not outlive it.
    struct Reaper {
        pid_t pid;
        ~Reaper()
        {
            if (pid > 0 && ::kill(pid, SIGKILL) == 0)
                ::waitpid(pid, nullptr, 0);
        }
    } reaper{first};
    for (int tries = 0; tries < 6000 && ReadText(BatchFile()).find("Active=True") == std::string::npos; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string activated = ReadText(BatchFile());
    ASSERT_NE(activated.find("Active=True"), std::string::npos) << activated;
    const fs::path claim = app / "Batch/.batch.ini.claim";
    EXPECT_EQ(ReadText(claim), std::to_string(first) + "\n");

    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
    EXPECT_EQ(ReadText(BatchFile()), activated);
    EXPECT_FALSE(fs::exists(app / "out/report.dwq")) << "the second host ran the job";
    EXPECT_NE(Log().find("is claimed by process " + std::to_string(first) + ", which runs its job; this host leaves it alone."),
              std::string::npos)
        << Log();
    EXPECT_EQ(ReadText(app / kRequestKey / "Kesto"), "Started");

    ASSERT_EQ(::kill(first, SIGKILL), 0);
    ASSERT_EQ(::waitpid(first, nullptr, 0), first);
    reaper.pid = 0;

    ASSERT_TRUE(Run("clock 2006-12-05 08:30:08\nstart\nidle 3\nquit\n")) << Transcript();
    const std::string archive = ReadText(BatchFile() + "_20061205083008");
    EXPECT_NE(archive.find("Count=3\n"), std::string::npos) << archive << Log();
    EXPECT_TRUE(fs::exists(app / "out/report.dwq"));
    EXPECT_FALSE(fs::exists(app / kRequestKey)) << "the request of the crashed host stays";
    EXPECT_FALSE(fs::exists(claim));
    EXPECT_NE(Log().find("claimed by process " + std::to_string(first) + ", which has ended"), std::string::npos)
        << Log();
}

// A folder run writes each target once: of two documents with one target the second is refused,
// and so is a document that is its own target; both are named in the general log.
TEST_F(BatchTreeTest, TwinsAndADocumentThatIsItsOwnTargetAreRefused)
{
    fs::copy_file(app / "in/report.qxp", app / "in/twin.qxd");
    fs::copy_file(app / "in/a.b.qxp", app / "in/twin.qxp");
    fs::copy_file(app / "in/report.qxp", app / "in/layout.dwq");
    WriteJob("Export", app / "in", app / "in");
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
    const std::string log = Log();
    EXPECT_NE(log.find("Not converted: \"" + (app / "in/twin.qxp").string() + "\" has the same target \"" +
                       (app / "in/twin.dwq").string() + "\" as \"" + (app / "in/twin.qxd").string() + "\""),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Not converted: \"" + (app / "in/layout.dwq").string() + "\" is its own target."),
              std::string::npos)
        << log;
    // The first twin's result stays, and the document keeps its name and content.
    EXPECT_EQ(ReadText(app / "in/twin.dwq").substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    EXPECT_TRUE(DocumentChecks(app / "in/layout.dwq"));
    EXPECT_NE(Archive().find("Count=6\n"), std::string::npos) << Archive();
}

TEST_F(BatchTreeTest, MissingTargetFoldersAreMadeAndTheModeMayStandBetweenBlanks)
{
    std::ofstream(BatchFile()) << "[General]\nMode = Export \nRecursive=True\n[Path]\nSource=" << (app / "in").string()
                               << "\nTarget=" << (app / "new/dwq").string() << "\nPdfDir=" << (app / "new/pdf").string()
                               << "\n";
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
    EXPECT_EQ(Archive().find("Error="), std::string::npos) << Archive();
    EXPECT_NE(Archive().find("Count=3\n"), std::string::npos) << Archive();
    EXPECT_EQ(ReadText(app / "new/dwq/report.dwq").substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") << Log();
    EXPECT_EQ(ReadText(app / "new/pdf/report.pdf").substr(0, 5), "%PDF-") << Log();
}

TEST_F(BatchModeTest, ShippedSameFolderJobConvertsTheDocumentsAndKeepsTheRest)
{
    const fs::path work = RunShippedJob("same-folder.ini");
    ASSERT_FALSE(work.empty());
    const fs::path books = work / "Folders/Books";
    const std::string log = ReadText(work / "KestoLogfile.txt");
    for (const char* document : {"report", "a.b", "News/front"}) {
        EXPECT_EQ(ReadText(books / (std::string(document) + ".dwq")).substr(0, 8),
                  "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")
            << document << log;
        EXPECT_EQ(ReadText(books / (std::string(document) + ".pdf")).substr(0, 5), "%PDF-") << document;
    }
    EXPECT_NE(log.find("Unable to open \"" + (books / "damaged.qxp").string() + "\" as a document"), std::string::npos)
        << log;
    EXPECT_FALSE(fs::exists(books / "damaged.dwq"));
    const fs::path shipped = fs::path(KESTO_SOURCE_DIR) / "examples/batch/same-folder";
    for (const char* kept : {"archive.dwq", "notes.pdf"})
        EXPECT_EQ(ReadText(books / kept), ReadText(shipped / kept)) << kept;
    EXPECT_TRUE(fs::exists(work / "Batch/batch.ini_20061205083007"));
}

TEST_F(BatchModeTest, ShippedJobsKeepTheResultsOfAnEarlierRunThatNothingNewReplaces)
{
    // A document that does not open, and exports that cannot complete: the old results stay.
    const struct {
        const char* job;
        std::vector<const char*> kept;
        std::vector<const char*> replaced;
    } cases[] = {
        {"earlier-run", {"damaged.dwq", "damaged.pdf"}, {"report.dwq"}},
        {"disk-full", {"report.dwq"}, {}},
    };
    for (const auto& c : cases) {
        const fs::path work = RunShippedJob(std::string(c.job) + ".ini");
        ASSERT_FALSE(work.empty()) << c.job;
        const std::string log = ReadText(work / "KestoLogfile.txt");
        const fs::path shipped = fs::path(KESTO_SOURCE_DIR) / "examples/batch" / c.job;
        for (const char* kept : c.kept)
            EXPECT_EQ(ReadText(work / "Translated" / kept), ReadText(shipped / kept)) << c.job << " " << kept << log;
        for (const char* replaced : c.replaced)
            EXPECT_EQ(ReadText(work / "Translated" / replaced).substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")
                << c.job << " " << replaced << log;
        EXPECT_TRUE(fs::exists(work / "Batch/batch.ini_20061205083007")) << c.job;
    }
}

// The shipped jobs of a Windows controller's status file and of twin documents, as a user runs them.
TEST_F(BatchModeTest, ShippedWindowsAndTwinsJobsRunAndSayWhatTheyRefused)
{
    for (const auto& [job, start] : {std::pair<std::string, std::string>{"windows.ini", "\xFF\xFE"},
                                     {"windows-unmarked.ini", std::string("\n\0;\0", 4)}}) {
        const fs::path windows = RunShippedJob(job);
        ASSERT_FALSE(windows.empty()) << job;
        const std::string archive = ReadText(windows / "Batch/batch.ini_20061205083007");
        EXPECT_EQ(archive.substr(0, start.size()), start) << job;
        EXPECT_NE(Narrow(archive).find("Count=3\n"), std::string::npos) << job << Narrow(archive);
        EXPECT_TRUE(fs::exists(windows / "Translated/report.dwq")) << job;
    }

    const fs::path twins = RunShippedJob("twins.ini");
    ASSERT_FALSE(twins.empty());
    const fs::path books = twins / "Folders/Books";
    const std::string log = ReadText(twins / "KestoLogfile.txt");
    EXPECT_NE(log.find("Not converted: \"" + (books / "twin.qxp").string() + "\" has the same target"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Not converted: \"" + (books / "layout.dwq").string() + "\" is its own target."), std::string::npos)
        << log;
    EXPECT_EQ(ReadText(books / "layout.dwq"), ReadText(fs::path(KESTO_SOURCE_DIR) / "examples/batch/twins/layout.dwq"));
}

} // namespace
