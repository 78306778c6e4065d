// Batch runs through xthost with the module as a shared object: the controller's status file
// and its request in the key store, as an outside controller would leave them; runs that are
// killed at named points of the writers, and the next run.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Plugin/Shell/AppFolderTest.h"
#include "platform/fs/TempFiles.h"
#include "platform/storage/CompoundFile.h"
#include "tests/platform/fs/Accounts.h"

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
        const std::string command = "cd " + app.string() + " && " + environment + XTHOST_PROGRAM + " --app . --module " +
                                    KESTO_MODULE + " --script run.xts --transcript " +
                                    (app / "run.transcript").string() + " 2>/dev/null >/dev/null";
        return std::system(command.c_str()) == 0;
    }
    std::string Transcript() const { return ReadText(app / "run.transcript"); }

    // A host run that stops itself at a point of a writer (and the times it passes there first).
    // It is killed there, as a crash would end it, at the latest when the test ends.
    struct StoppedHost {
        pid_t pid = -1;
        void Kill()
        {
            if (pid > 0 && ::kill(pid, SIGKILL) == 0)
                ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
        ~StoppedHost() { Kill(); }
    };
    void StopAt(const std::string& point, StoppedHost& host, const std::string& script = "start\nidle 3\nquit\n")
    {
        StartUntilStopped("stop-at " + point + "\n" + script, host);
    }
    // Starts the host on the script (as the account uid, with the umask mask if given) and waits
    // until it stops at the script's stop-at point; when it ends without getting there, host.pid
    // is -1 and the answer its exit status.
    int StartUntilStopped(const std::string& script, StoppedHost& host, uid_t uid = 0, mode_t mask = 0)
    {
        std::ofstream(app / "stopped.xts") << script;
        host.pid = ::fork();
        if (host.pid == 0) {
            if (mask)
                ::umask(mask);
            const int quiet = ::open("/dev/null", O_WRONLY);
            if ((uid == 0 || (::setgroups(0, nullptr) == 0 && ::setgid(uid) == 0 && ::setuid(uid) == 0)) &&
                ::dup2(quiet, 1) >= 0 && ::dup2(quiet, 2) >= 0 && ::chdir(app.c_str()) == 0)
                ::execl(XTHOST_PROGRAM, XTHOST_PROGRAM, "--app", ".", "--module", KESTO_MODULE, "--script",
                        "stopped.xts", "--quiet", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        if (host.pid < 0 || ::waitpid(host.pid, &status, WUNTRACED) != host.pid || !WIFSTOPPED(status))
            host.pid = -1;   // it never got there
        return status;
    }
    // Lets a stopped host go on to its end; true when it ends well.
    static bool GoOn(StoppedHost& host)
    {
        int status = 0;
        const bool ended = ::kill(host.pid, SIGCONT) == 0 && ::waitpid(host.pid, &status, 0) == host.pid;
        host.pid = -1;
        return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    // Runs the shipped example job as a user would; answers its working copy, empty when the run
    // failed (its script answers no alert: a run that waited for a user fails).
    fs::path RunShippedJob(const std::string& job)
    {
        const fs::path temp = app / job;
        fs::create_directories(temp);
        const std::string command = "KESTO_KEEP=1 TMPDIR=" + temp.string() + " bash " + KESTO_SOURCE_DIR +
                                    "/examples/batch/run.sh " + KESTO_BINARY_DIR + " " + job + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            return {};
        for (const auto& entry : fs::directory_iterator(temp))
            if (entry.path().filename().string().rfind("kesto-batch.", 0) == 0)
                return entry.path();
        return {};
    }

    fs::path app;
    // Variables set for the host runs of Run ("NAME=value ... ").
    std::string environment;
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
    const std::string command = "KESTO_KEEP=1 TMPDIR=" + app.string() + " bash " + KESTO_SOURCE_DIR +
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

// Status files as editors save them run; a job that cannot run is archived with why. Jobs
// archived within one second keep an archive each.
TEST_F(BatchTreeTest, StatusFilesFromAnyEditorRunOrSayWhyNotEachInItsOwnArchive)
{
    const struct {
        std::string bytes;
        std::string refused;   // the key that refuses the job, empty when it runs
    } cases[] = {
        {"\xEF\xBB\xBF[General]\r\nMode=Export\r\nRecursive=True\r\n[Path]\r\nSource=" + (app / "in").string() +
             "\r\nTarget=" + (app / "out").string() + "\r\n",
         ""},
        {"[General]\nMode=Export\n[Path]\nSource=" + (app / "in").string() + "\nTarget= \n", "Target"},
        {"[General]\nMode=Import\n[Path]\nTarget=" + (app / "out").string() + "\n", "Source"},
    };
    std::string archive = BatchFile() + "_20061205083007";
    for (const auto& c : cases) {
        std::ofstream(BatchFile(), std::ios::binary) << c.bytes;
        ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
        const std::string text = ReadText(archive);
        EXPECT_EQ(text.compare(0, 3, "\xEF\xBB\xBF") == 0, c.refused.empty()) << text;
        EXPECT_NE(text.find(c.refused.empty() ? "Count=3\n" : "Error=the " + c.refused + " path \"\" cannot be used\n"),
                  std::string::npos)
            << text;
        archive = BatchFile() + "_20061205083007-" + std::to_string(&c - cases + 2);
    }
}

// A second host started on the status file of a running host leaves the job to it; once that
// host has crashed, the next one takes its claims over, runs the job and removes the request.
TEST_F(BatchTreeTest, ASecondHostLeavesTheJobToTheFirstAndTheNextTakesOverAfterACrash)
{
    fs::create_directories(app / kRequestKey);
    WriteJob("Export", app / "in", app / "out");
    StoppedHost first;   // in the middle of its job
    StopAt("XFJ12/101", first);
    ASSERT_GT(first.pid, 0);
    const std::string pid = std::to_string(first.pid);
    const std::string activated = ReadText(BatchFile());
    ASSERT_NE(activated.find("Active=True"), std::string::npos) << activated;
    EXPECT_EQ(ReadText(app / "Batch/.batch.ini.claim"), pid + "\n");

    ASSERT_TRUE(Run("start\nidle 3\nquit\n")) << Transcript();
    EXPECT_EQ(ReadText(BatchFile()), activated);
    EXPECT_FALSE(fs::exists(app / "out/report.dwq")) << "the second host ran the job";
    EXPECT_NE(Log().find("is claimed by process " + pid), std::string::npos) << Log();
    EXPECT_EQ(ReadText(app / kRequestKey / "Kesto"), "Started");

    first.Kill();
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
    EXPECT_NE(Archive().find("Count=3\n"), std::string::npos) << Archive() << Log();
    EXPECT_FALSE(fs::exists(app / kRequestKey)) << "the request of the crashed host stays";
    EXPECT_FALSE(fs::exists(app / "Batch/.batch.ini.claim"));
}

// A controller writes its next job at one moment of the host's job, the host's saves of the
// status file and its finish included: before each call that renames, links or removes a file
// in the status file's folder from the job's first idle call on, in turn; by renaming its file
// over the status file, or by writing it in place as an editor does; once, or again at the
// next step (the newer write then counts); on a file system that exchanges two names in one
// step and on one that cannot. The
// host's job is archived whole, and the controller's last job is never lost: it is the status
// file as written, or it has run and is archived itself. Nothing is left under a private name.
TEST_F(BatchTreeTest, AControllersWriteAtAnyStepOfTheHostsSavesAndFinishIsKept)
{
    const fs::path source = app / "in/report.qxp";
    const auto job = [&](int write) {
        return "[General]\nMode=Export\n[Path]\nSource=" + (app / ("next" + std::to_string(write) + ".qxp")).string() +
               "\nTarget=" + (app / "out").string() + "\n";
    };
    const char* const kNoExchange = "fail rename.exchange with 22\n";
    const struct {
        const char* faults;
        bool inPlace;
        int writes;
    } ways[] = {{"", false, 1}, {"", true, 1}, {"", false, 2}, {kNoExchange, false, 1}, {kNoExchange, false, 2}};
    for (const auto& way : ways) {
        const std::string how = std::string(way.faults) + (way.inPlace ? "written in place" : "renamed over") +
                                (way.writes > 1 ? " twice" : "");
        int steps = 0;
        for (int step = 0; step < 100; ++step) {
            for (const auto& entry : fs::directory_iterator(app / "Batch"))
                fs::remove(entry.path());
            WriteJob("Export", source, app / "out");
            std::string stops;
            for (int write = 0; write < way.writes; ++write)
                stops += "stop-at file:Batch/ after " + std::to_string(step + write) + "\n";
            StoppedHost host;
            const int status = StartUntilStopped(
                "clock 2006-12-05 08:30:07\n" + std::string(way.faults) + "start\n" + stops + "idle 3\nquit\n", host);
            if (host.pid < 0) {
                ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << how << " step " << step;
                break;   // the run is over before this step: every step was tried
            }
            ++steps;
            int last = 0;
            // Where names cannot be exchanged, the host renames its replacement (waiting under a
            // held-out name) over the file it has compared: a write landing just then is lost.
            bool beforeRename = false;
            for (;; ++last) {
                bool held = false;
                for (const auto& entry : fs::directory_iterator(app / "Batch"))
                    held = held || entry.path().extension() == ".held";
                beforeRename = *way.faults && held && fs::exists(BatchFile());
                if (way.inPlace) {
                    std::ofstream(BatchFile()) << job(last);
                } else {
                    std::ofstream(app / "Batch/next.part") << job(last);
                    fs::rename(app / "Batch/next.part", BatchFile());
                }
                int stopped = 0;
                if (last + 1 == way.writes || ::kill(host.pid, SIGCONT) != 0 ||
                    ::waitpid(host.pid, &stopped, WUNTRACED) != host.pid || !WIFSTOPPED(stopped))
                    break;
            }
            if (last + 1 == way.writes) {
                ASSERT_TRUE(GoOn(host)) << how << " step " << step;
            }
            host.pid = -1;

            // The controller's job as written, activated by the host, or run and archived.
            bool archived = false;
            bool nextKept = false;
            const std::string next = job(last);
            for (const auto& entry : fs::directory_iterator(app / "Batch")) {
                const std::string name = entry.path().filename().string();
                const std::string text = ReadText(entry.path());
                EXPECT_EQ(name[0], 'b') << how << " step " << step << ": left " << name;
                nextKept = nextKept || text.find(next.substr(next.find("Source="))) != std::string::npos;
                archived = archived || (name.rfind("batch.ini_", 0) == 0 &&
                                        text.find("Source=" + source.string() + "\n") != std::string::npos &&
                                        text.find("Count=1\n") != std::string::npos &&
                                        text.find("Active=False\n") != std::string::npos);
            }
            EXPECT_TRUE(archived) << how << " step " << step << ": the host's job has no archive\n" << Log();
            EXPECT_TRUE(nextKept || beforeRename) << how << " step " << step << ": the controller's job is lost\n" << Log();
        }
        EXPECT_GT(steps, 8) << how;
    }
}

// A FAT or exFAT image mounted on a folder as a file system without hard links, for as long as
// the object lives; mounted() is false where the machine cannot (no vfat in the kernel, no loop
// device, FUSE or tools). FAT goes through the kernel, exFAT through FUSE.
class ImageFolder {
public:
    ImageFolder(const fs::path& image, const fs::path& folder, bool exfat) : m_folder(folder)
    {
        const std::string file = "'" + image.string() + "'";
        const std::string make = "truncate -s 16M " + file + " && " + (exfat ? "mkfs.exfat " : "mkfs.vfat ") + file;
        if (std::system((make + " >/dev/null 2>&1").c_str()) != 0)
            return;
        std::string source = file;
        if (exfat) {
            if (FILE* out = ::popen(("losetup -f --show " + file + " 2>/dev/null").c_str(), "r")) {
                char line[256] = {};
                if (std::fgets(line, sizeof line, out))
                    m_device = std::string(line).substr(0, std::string(line).find('\n'));
                ::pclose(out);
            }
            if (m_device.empty())
                return;
            source = m_device;
        }
        const std::string mount = exfat ? "mount.exfat-fuse " : "mount -t vfat -o loop ";
        m_mounted = std::system((mount + source + " '" + folder.string() + "' >/dev/null 2>&1").c_str()) == 0;
    }
    ~ImageFolder()
    {
        if (m_mounted)
            std::system(("umount '" + m_folder.string() + "'").c_str());
        if (!m_device.empty())
            std::system(("losetup -d " + m_device).c_str());
    }
    bool mounted() const { return m_mounted; }

private:
    fs::path m_folder;
    std::string m_device;
    bool m_mounted = false;
};

struct NoLinksCase {
    const char* name;
    const char* image;     // the status folder is an image of this file system ("vfat", "exfat")
    const char* faults;    // else the host's fault plan makes its calls fail so
    bool archived;         // else no archive can be written at all
};

class NoLinksTest : public BatchTreeTest, public ::testing::WithParamInterface<NoLinksCase> {};

// A job whose status file lies on a file system without hard links (nor renames that never
// replace or exchange) is archived whole under its name and the status file removed; where no
// archive can be written, the status file stays as the job's record, marked Done, also through
// the next host's start, while an earlier run of the same job has an archive of the same keys.
TEST_P(NoLinksTest, TheJobIsArchivedOrItsStatusFileKept)
{
    const NoLinksCase& c = GetParam();
    std::unique_ptr<ImageFolder> image;
    if (*c.image) {
        image = std::make_unique<ImageFolder>(app / "batch.img", app / "Batch", std::string(c.image) == "exfat");
        if (!image->mounted())
            GTEST_SKIP() << "no " << c.image << " image can be mounted here";
        std::ofstream probe(app / "Batch/probe");
        ASSERT_NE(::link((app / "Batch/probe").c_str(), (app / "Batch/probe2").c_str()), 0) << "hard links work";
        probe.close();
        fs::remove(app / "Batch/probe");
    }
    const fs::path source = app / "in/report.qxp";
    if (!c.archived) {
        WriteJob("Export", source, app / "out");
        ASSERT_TRUE(Run("clock 2006-12-05 08:29:00\nstart\nidle 3\nquit\n")) << Transcript();
    }
    WriteJob("Export", source, app / "out");
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\n" + std::string(c.faults) + "start\nidle 3\nquit\n")) << Transcript();
    const std::string archive = BatchFile() + "_20061205083007";
    const std::string record = ReadText(c.archived ? archive : BatchFile());
    for (const std::string& line : {"Source=" + source.string(), std::string("Count=1"), std::string("Active=False")})
        EXPECT_NE(record.find(line + "\n"), std::string::npos) << line << "\n" << record << Log();
    if (c.archived) {
        EXPECT_FALSE(fs::exists(BatchFile()));
    } else {
        EXPECT_NE(record.find("Mode=Done\n"), std::string::npos) << record;
        EXPECT_FALSE(fs::exists(archive));
        EXPECT_NE(Log().find("stays, marked Done: it is the finished job's only record"), std::string::npos) << Log();
        ASSERT_TRUE(Run("start\nidle 3\nquit\n")) << Transcript();
        EXPECT_EQ(ReadText(BatchFile()), record) << Log();
    }
    for (const auto& entry : fs::directory_iterator(app / "Batch"))
        EXPECT_EQ(entry.path().filename().string()[0], 'b') << "left " << entry.path();
}

INSTANTIATE_TEST_SUITE_P(
    FileSystems, NoLinksTest,
    ::testing::Values(NoLinksCase{"VfatImage", "vfat", "", true}, NoLinksCase{"ExfatImage", "exfat", "", true},
                      NoLinksCase{"FaultPlan", "",
                                  "fail link with 1\nfail rename.noreplace with 22\nfail rename.exchange with 22\n", true},
                      NoLinksCase{"NoArchive", "", "fail link with 5\nfail rename.noreplace with 5\n", false}),
    [](const ::testing::TestParamInfo<NoLinksCase>& info) { return std::string(info.param.name); });

// The claim file of a running host is removed by somebody, and a newer claimant makes its own
// and holds it: the first host, finishing its job, leaves the newer claim alone.
TEST_F(BatchTreeTest, ReleasingAClaimLeavesANewerClaimantsClaim)
{
    WriteJob("Export", app / "in/report.qxp", app / "out");
    StoppedHost host;
    StopAt("XFJ12/101", host);
    ASSERT_GT(host.pid, 0);
    const fs::path claim = app / "Batch/.batch.ini.claim";
    ASSERT_EQ(ReadText(claim), std::to_string(host.pid) + "\n");
    fs::remove(claim);
    const int fd = ::open(claim.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const std::string newer = std::to_string(::getpid()) + "\n";
    EXPECT_EQ(::write(fd, newer.data(), newer.size()), static_cast<ssize_t>(newer.size()));
    EXPECT_TRUE(GoOn(host));
    EXPECT_EQ(ReadText(claim), newer);
    EXPECT_FALSE(fs::exists(BatchFile())) << "the job did not finish";
    ::close(fd);
}

struct KillPoint {
    const char* name;
    bool import;
    const char* point;   // where the host stops, and how many times it passes there first
};

class KillPointTest : public BatchTreeTest, public ::testing::WithParamInterface<KillPoint> {
protected:
    // A whole result of its kind: an exchange file that opens, a PDF with its end, a document.
    static bool Whole(const fs::path& path)
    {
        const std::string ext = path.extension().string();
        const std::string text = ReadText(path);
        std::shared_ptr<cfb::File> file;
        if (ext == ".dwq")
            return SUCCEEDED(cfb::File::openForReading(path.string(), false, file));
        if (ext == ".pdf")
            return text.rfind("%PDF-", 0) == 0 && text.find("%%EOF") != std::string::npos;
        return ext == ".qxp" && DocumentChecks(path);
    }

    // The temporary files (of the module, ".tmp", or the host, ".part") and the probe folders
    // below the folders (seen counts them) that another process could lock, and so take.
    static std::vector<fs::path> Unheld(const std::vector<fs::path>& folders, int& seen)
    {
        std::vector<fs::path> unheld;
        for (const fs::path& folder : folders) {
            std::error_code ec;
            for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
                 it.increment(ec)) {
                const std::string name = it->path().filename().string();
                pid_t owner = 0;
                fs::path lock;
                if (it->is_directory() && name.rfind("KS_PdfProbe_", 0) == 0)
                    lock = it->path() / ".kesto.lock";
                else if (it->is_regular_file() && (platform::fs::ParseTempName(name, ".tmp", owner) ||
                                                   platform::fs::ParseTempName(name, ".part", owner)))
                    lock = it->path();
                else
                    continue;
                ++seen;
                const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
                if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) == 0)
                    unheld.push_back(it->path());
                if (fd >= 0)
                    ::close(fd);
            }
        }
        return unheld;
    }

    // Each file that is not as it was is a whole result. The private documents of News, and all
    // that is written for them on the way, stay their owner's only.
    void ExpectWholeOrAsBefore(std::map<std::string, std::map<std::string, uint64_t>>& before, const char* when)
    {
        for (auto& [folder, sums] : before)
            for (const auto& [name, sum] : Checksums(app / folder)) {
                const fs::path path = app / folder / name;
                if (name.rfind("News/", 0) == 0 && folder != "pdf") {
                    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write)
                        << when << ": " << path;
                }
                if (path.filename().string()[0] != '.' && (sums.count(name) == 0 || sums[name] != sum)) {
                    EXPECT_TRUE(Whole(path)) << when << ": " << path << " is empty or cut";
                }
            }
    }
};

// The host is killed at one point of a run; after the controller starts the job again, every
// target is whole and nothing of the killed run is left: not in the target folders, beside the
// source documents or in the host's temporary folder. Replaced files keep their modes.
TEST_P(KillPointTest, TargetsAreWholeOrAsBeforeAndTheNextRunLeavesNoTemporaryFile)
{
    const KillPoint& kill = GetParam();
    const fs::path target = app / "out";
    const std::string ext = kill.import ? ".qxp" : ".dwq";
    const auto priv = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(app / "in/News/front.qxp", priv);
    fs::create_directories(app / "pdf");
    fs::create_directories(target / "News");
    fs::path source = app / "in";
    if (kill.import) {
        // The exchange files of an earlier export are the import's sources.
        WriteJob("Export", app / "in", app / "dwq");
        ASSERT_TRUE(Run("start\nidle 3\nquit\n")) << Transcript();
        source = app / "dwq";
        fs::copy_file(app / "in/News/front.qxp", target / "News/front.qxp");
    } else {
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/batch/earlier-run/report.dwq",
                      target / "News/front.dwq");
        std::ofstream(app / "pdf/report.pdf") << "%PDF-1.4 an earlier PDF\n%%EOF\n";
    }
    fs::permissions(target / ("News/front" + ext), priv);
    std::map<std::string, std::map<std::string, uint64_t>> before;
    for (const char* folder : {"in", "out", "pdf"})
        before[folder] = Checksums(app / folder);
    const std::string job = std::string("[General]\nMode=") + (kill.import ? "Import" : "Export") +
                            "\nRecursive=True\n[Path]\nSource=" + source.string() + "\nTarget=" + target.string() +
                            "\nPdfDir=" + (kill.import ? "" : (app / "pdf").string()) + "\n";
    std::ofstream(BatchFile()) << job;
    StoppedHost host;
    StopAt(kill.point, host);
    ASSERT_GT(host.pid, 0) << kill.point << " was never reached";
    // What the host is writing it holds, so that no other process's sweep takes it.
    int seen = 0;
    for (const fs::path& unheld : Unheld({app / "in", app / "out", app / "pdf", app / "Temp"}, seen))
        ADD_FAILURE() << "not held while the host writes it: " << unheld;
    EXPECT_GT(seen, 0);
    host.Kill();
    ExpectWholeOrAsBefore(before, "after the kill");

    std::ofstream(BatchFile()) << job;
    ASSERT_TRUE(Run("start\nidle 3\nquit\n")) << Transcript();
    ExpectWholeOrAsBefore(before, "after the next run");
    fs::create_directories(app / "Temp");   // the host's temporary folder, when it made none
    for (const char* folder : {"in", "out", "pdf", "Temp"})
        for (const auto& [name, sum] : Checksums(app / folder)) {
            const std::string base = fs::path(name).filename().string();
            EXPECT_TRUE(before[folder].count(name) || (base[0] != '.' && base.rfind("KS_PdfProbe_", 0) != 0))
                << "left by the killed run: " << folder << "/" << name;
        }
    EXPECT_TRUE(Whole(target / ("News/front" + ext)));
    EXPECT_TRUE(Whole(target / ("report" + ext)));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(target / ("report" + ext)).permissions()), 0666 & ~mask)
        << "a new target has the process's default mode";
}

// Points of the export's container (while the source document is read into it), of the host's
// saves (a file written beside its target, not yet renamed: the source document, the imported
// document), of the PDF writer (the probe's PDF, a real one) and of the import's work document.
INSTANTIATE_TEST_SUITE_P(Points, KillPointTest,
                         ::testing::Values(KillPoint{"ExportContainer", false, "XFJ12/101 after 1"},
                                           KillPoint{"ExportSourceSave", false, "file.written"},
                                           KillPoint{"ProbePdf", false, "pdf.page"},
                                           KillPoint{"TargetPdf", false, "pdf.page after 1"},
                                           KillPoint{"ImportWorkDocument", true, "XFJ12/105"},
                                           KillPoint{"ImportSave", true, "file.written"}),
                         [](const ::testing::TestParamInfo<KillPoint>& info) { return std::string(info.param.name); });

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

// The shipped jobs of a Windows controller (UTF-16 with and without a mark), of twin documents,
// of the longest names with a private document, and of a crash, as a user runs them.
TEST_F(BatchModeTest, ShippedWindowsTwinsNamesAndCrashJobsDoWhatTheyShow)
{
    for (const auto& [job, start] : {std::pair<std::string, std::string>{"windows.ini", "\xFF\xFE"},
                                     {"windows-unmarked.ini", std::string("\n\0;\0", 4)}}) {
        const fs::path work = RunShippedJob(job);
        ASSERT_FALSE(work.empty()) << job;
        std::string archive = ReadText(work / "Batch/batch.ini_20061205083007");
        EXPECT_EQ(archive.substr(0, start.size()), start) << job;
        archive.erase(std::remove(archive.begin(), archive.end(), '\0'), archive.end());
        EXPECT_NE(archive.find("Count=3\n"), std::string::npos) << job << archive;
    }

    const fs::path twins = RunShippedJob("twins.ini");
    ASSERT_FALSE(twins.empty());
    const fs::path books = twins / "Folders/Books";
    const std::string log = ReadText(twins / "KestoLogfile.txt");
    for (const char* refused : {"twin.qxp\" has the same target", "layout.dwq\" is its own target."})
        EXPECT_NE(log.find("Not converted: \"" + books.string() + "/" + refused), std::string::npos) << log;
    EXPECT_EQ(ReadText(books / "layout.dwq"), ReadText(fs::path(KESTO_SOURCE_DIR) / "examples/batch/twins/layout.dwq"));

    const fs::path names = RunShippedJob("names.ini");
    ASSERT_FALSE(names.empty());
    for (const char* ext : {".dwq", ".pdf"})
        EXPECT_TRUE(fs::exists(names / "Translated" / (std::string(251, 'n') + ext))) << ext;
    for (const char* file : {"Folders/Books/report.qxp", "Translated/report.dwq", "Translated/report.pdf"})
        EXPECT_EQ(fs::status(names / file).permissions(), fs::perms::owner_read | fs::perms::owner_write) << file;

    for (const char* point : {"XFJ12/101 after 1", "pdf.page after 1"}) {
        const std::string command = "TMPDIR=" + app.string() + " bash " + KESTO_SOURCE_DIR +
                                    "/examples/batch/crash.sh " + KESTO_BINARY_DIR + " '" + point + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << point;
    }
}

// ---- What a replace keeps -----------------------------------------------------------------------

// Export and import runs over earlier results, whose targets are set up by each test.
class ReplaceTest : public BatchTreeTest {
protected:
    void SetUp() override
    {
        BatchTreeTest::SetUp();
        fs::create_directories(app / "pdf");
        fs::create_directories(app / "back");
        fs::create_directories(app / "shared");
    }

    // An export of the tree into out and pdf, then an import of its exchange files into back.
    void ExportAndImport()
    {
        std::ofstream(BatchFile()) << "[General]\nMode=Export\nRecursive=True\n[Path]\nSource=" << (app / "in").string()
                                   << "\nTarget=" << (app / "out").string() << "\nPdfDir=" << (app / "pdf").string()
                                   << "\n";
        fs::create_directories(app / kRequestKey);
        ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
        WriteJob("Import", app / "out", app / "back");
        ASSERT_TRUE(Run("clock 2006-12-05 08:30:08\nstart\nidle 3\nquit\n")) << Transcript();
    }

    // An earlier result at path: a copy of the file.
    static void Earlier(const fs::path& file, const fs::path& path)
    {
        fs::copy_file(file, path, fs::copy_options::overwrite_existing);
    }
    fs::path EarlierExchangeFile() const
    {
        return fs::path(KESTO_SOURCE_DIR) / "examples/batch/earlier-run/report.dwq";
    }

    static bool IsWhole(const fs::path& path)
    {
        const std::string ext = path.extension().string();
        std::shared_ptr<cfb::File> file;
        if (ext == ".dwq")
            return SUCCEEDED(cfb::File::openForReading(path.string(), false, file));
        if (ext == ".pdf")
            return ReadText(path).rfind("%PDF-", 0) == 0;
        return DocumentChecks(path);
    }
};

// One call of the file system, as the observer noted it.
struct FsEvent {
    std::string what;
    unsigned mode = 0;
    std::string path;
    std::string to;
};

// The calls of the runs, from the journal of the preloaded observer.
std::vector<FsEvent> ReadJournal(const fs::path& journal, const std::string& hostTemp)
{
    std::vector<FsEvent> events;
    std::ifstream in(journal);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        FsEvent event;
        event.what = fields.at(0);
        std::size_t next = 1;
        if (event.what == "create" || event.what == "chmod")
            event.mode = static_cast<unsigned>(std::stoul(fields.at(next++), nullptr, 8));
        event.path = fields.at(next++);
        event.to = next < fields.size() ? fields[next] : std::string();
        // The host's temporary folder holds what libraries keep there (the font cache).
        if (event.path.rfind(hostTemp, 0) != 0)
            events.push_back(event);
    }
    return events;
}

// Every file that a run writes under a hidden name and renames (or links) onto its final name is
// open to its owner only until it is complete, synced with its final mode before it takes the
// name, and its folder synced before the job reports it (its archive appears) or the run ends.
TEST_F(ReplaceTest, EveryResultIsPrivateUntilCompleteAndSyncedAroundItsRename)
{
    fs::create_directories(app / "out/News");
    fs::create_directories(app / "back/News");
    for (const char* target : kTargets)
        Earlier(EarlierExchangeFile(), app / "out" / target);
    for (const char* document : kSources)
        Earlier(app / "in" / document, app / "back" / document);
    std::ofstream(app / "pdf/report.pdf") << "%PDF-1.4 an earlier PDF\n%%EOF\n";
    for (const auto& entry : fs::recursive_directory_iterator(app))
        if (entry.is_regular_file())
            fs::permissions(entry.path(), static_cast<fs::perms>(0644));
    const fs::path journal = app / "fs.journal";
    const char* asan = std::getenv("ASAN_OPTIONS");
    environment = "KESTO_FS_JOURNAL=" + journal.string() + " KESTO_FS_WATCH=" + app.string() +
                  "/ LD_PRELOAD=" FS_JOURNAL_LIBRARY " ASAN_OPTIONS='" + (asan ? std::string(asan) + ":" : "") +
                  "verify_asan_link_order=0' ";
    ExportAndImport();
    const std::vector<FsEvent> events = ReadJournal(journal, (app / "Temp/").string());

    std::set<std::string> finals;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const FsEvent& e = events[i];
        if (e.what == "create" || e.what == "chmod") {
            // A file given more than its owner's rights is complete: only synced and renamed as it is.
            if ((e.mode & 077) == 0)
                continue;
            bool temporary = false;
            for (std::size_t j = i + 1; j < events.size() && !temporary; ++j) {
                const FsEvent& later = events[j];
                if ((later.what == "rename" || later.what == "link") && later.path == e.path)
                    temporary = true;
                else if ((later.path == e.path && later.what != "sync") || later.to == e.path)
                    break;
            }
            bool renamed = false;
            for (const FsEvent& later : events)
                renamed = renamed || ((later.what == "rename" || later.what == "link") && later.path == e.path);
            EXPECT_TRUE(!renamed || (temporary && e.what == "chmod"))
                << e.what << " " << std::oct << e.mode << " " << e.path << ": open to others before it is complete";
            continue;
        }
        if (e.what != "rename" && e.what != "link")
            continue;
        // A file taken away under a private name (".tmp", or the status file's ".held") gives no name new content.
        const auto isPrivate = [](const std::string& path) {
            const std::string name = fs::path(path).filename().string();
            const std::string ext = fs::path(path).extension().string();
            return name[0] == '.' && (ext == ".tmp" || ext == ".held");
        };
        if (isPrivate(e.to))
            continue;
        finals.insert(fs::relative(e.to, app).string());
        // Back to where the content was made (through its private names), its last sync or mode
        // change is a sync: a mode given after the sync may be lost with the name kept.
        int synced = -1;
        std::string name = e.path;
        for (std::size_t k = i; k-- > 0;) {
            const FsEvent& before = events[k];
            if (synced < 0 && before.path == name && (before.what == "sync" || before.what == "chmod"))
                synced = before.what == "sync";
            if ((before.what == "create" && before.path == name) ||
                (before.what == "rename" && before.to == name && !isPrivate(name)))
                break;
            if (before.what == "rename" && before.to == name)
                name = before.path;
        }
        EXPECT_EQ(synced, 1) << e.path << " takes the name " << e.to << " unsynced or with its mode unsynced";
        bool folderSynced = false;
        const std::string folder = fs::path(e.to).parent_path().string();
        for (std::size_t j = i + 1; j < events.size(); ++j) {
            if ((events[j].what == "rename" || events[j].what == "link") &&
                fs::path(events[j].to).filename().string().rfind("batch.ini_", 0) == 0)
                break;   // the job reports its results
            folderSynced = folderSynced || (events[j].what == "syncdir" && events[j].path == folder);
        }
        EXPECT_TRUE(folderSynced) << "the folder of " << e.to << " is not synced before the job reports it";
    }
    // Every writer of the runs: the exchange files, the PDFs, the host's saves of the sources and
    // of the imported documents, the status file and its archive.
    for (const char* name : {"out/report.dwq", "out/News/front.dwq", "pdf/report.pdf", "in/report.qxp",
                             "back/News/front.qxp", "Batch/batch.ini", "Batch/batch.ini_20061205083007"})
        EXPECT_TRUE(finals.count(name)) << name << " was not written through a rename";
}

// A target that is a symbolic link stays one, and the file it names gets the result: an exchange
// file, a PDF, an imported document, the settings of the folder dialogs.
TEST_F(ReplaceTest, ALinkedTargetStaysALinkAndTheFileItNamesGetsTheResult)
{
    const std::vector<std::pair<std::string, std::string>> links = {
        {"out/report.dwq", "report.dwq"}, {"pdf/report.pdf", "report.pdf"}, {"back/report.qxp", "report.qxp"}};
    Earlier(EarlierExchangeFile(), app / "shared/report.dwq");
    std::ofstream(app / "shared/report.pdf") << "%an earlier PDF\n";
    std::ofstream(app / "shared/report.qxp") << "an earlier document";
    std::map<std::string, std::string> before;
    for (const auto& [link, shared] : links) {
        fs::create_symlink(fs::path("../shared") / shared, app / link);
        before[shared] = ReadText(app / "shared" / shared);
    }
    ExportAndImport();
    for (const auto& [link, shared] : links) {
        EXPECT_TRUE(fs::is_symlink(app / link)) << link;
        EXPECT_NE(ReadText(app / "shared" / shared), before[shared]) << shared;
        EXPECT_TRUE(IsWhole(app / "shared" / shared)) << shared;
    }

    // The folder dialogs keep the chosen folders in kesto.ini, here a link to a shared file.
    const fs::path dialogs = app / "dialogs";
    fs::copy(fs::path(KESTO_SOURCE_DIR) / "examples/app", dialogs, fs::copy_options::recursive);
    fs::rename(dialogs / "XTensions/kesto.ini", app / "shared/kesto.ini");
    fs::create_symlink("../../shared/kesto.ini", dialogs / "XTensions/kesto.ini");
    const std::string command = "cd " + dialogs.string() + " && " + XTHOST_PROGRAM + " --app . --module " +
                                KESTO_MODULE + " --script scripts/folder-export.xts >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(fs::is_symlink(dialogs / "XTensions/kesto.ini"));
    EXPECT_NE(ReadText(app / "shared/kesto.ini").find((dialogs / "Folders/Translated").string()), std::string::npos)
        << ReadText(app / "shared/kesto.ini");
}

// A replaced file keeps its owner and group (the runs are root's, who can keep them) and never
// passes setuid or setgid on to the new content.
TEST_F(ReplaceTest, AReplacedFileKeepsItsOwnerAndGroupAndNoSetuidOrSetgid)
{
    struct Target {
        const char* path;
        int mode;
        int kept;
    };
    const Target targets[] = {{"out/report.dwq", 04755, 0755}, {"out/a.b.dwq", 02755, 0755},
                              {"pdf/report.pdf", 06640, 0640}, {"back/report.qxp", 04755, 0755}};
    Earlier(EarlierExchangeFile(), app / "out/report.dwq");
    Earlier(EarlierExchangeFile(), app / "out/a.b.dwq");
    std::ofstream(app / "pdf/report.pdf") << "%an earlier PDF\n";
    Earlier(app / "in/report.qxp", app / "back/report.qxp");
    const bool root = ::geteuid() == 0;
    for (const Target& target : targets) {
        if (root) {
            ASSERT_EQ(::chown((app / target.path).c_str(), 4321, 4322), 0);
        }
        ASSERT_EQ(::chmod((app / target.path).c_str(), target.mode), 0);
    }
    const std::string before = ReadText(app / "back/report.qxp");
    ExportAndImport();
    for (const Target& target : targets) {
        struct stat st {};
        ASSERT_EQ(::stat((app / target.path).c_str(), &st), 0) << target.path;
        EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(target.kept)) << target.path;
        if (root) {
            EXPECT_EQ(st.st_uid, 4321u) << target.path;
            EXPECT_EQ(st.st_gid, 4322u) << target.path;
        }
    }
    EXPECT_NE(ReadText(app / "back/report.qxp"), before);
    if (!root)
        GTEST_SKIP() << "the owners need a run as root";
}

// A run of an unprivileged user never takes over another user's file that it may not write in a
// folder that everyone may write: the file is write-protected for it, counted before the run
// with its reason, and kept as it was.
TEST_F(ReplaceTest, AFileThatTheRunMayNotWriteIsWriteProtectedForIt)
{
    KESTO_SKIP_UNLESS_ROOT();
    Earlier(EarlierExchangeFile(), app / "out/report.dwq");
    fs::permissions(app / "out/report.dwq", static_cast<fs::perms>(0644));
    const std::string before = ReadText(app / "out/report.dwq");
    WriteJob("Export", app / "in", app / "out");
    std::ofstream(app / "run.xts") << "clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n";
    // Everything else is the user's; the target folder is everyone's.
    ASSERT_EQ(::chown(app.c_str(), 65534, 65534), 0);
    for (const auto& entry : fs::recursive_directory_iterator(app))
        if (entry.path() != app / "out/report.dwq") {
            ASSERT_EQ(::chown(entry.path().c_str(), 65534, 65534), 0);
        }
    fs::permissions(app / "out", static_cast<fs::perms>(0777));
    const pid_t child = ::fork();
    if (child == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0 && ::dup2(quiet, 1) >= 0 &&
            ::dup2(quiet, 2) >= 0 && ::chdir(app.c_str()) == 0)
            ::execl(XTHOST_PROGRAM, XTHOST_PROGRAM, "--app", ".", "--module", KESTO_MODULE, "--script", "run.xts",
                    static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Log();
    struct stat st {};
    ASSERT_EQ(::stat((app / "out/report.dwq").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(ReadText(app / "out/report.dwq"), before);
    EXPECT_NE(Log().find("Overwrite not allowed for 1 files in your target!"), std::string::npos) << Log();
    EXPECT_NE(Log().find("/out/report.dwq\": this user may not write it"), std::string::npos) << Log();
    ASSERT_EQ(::stat((app / "out/a.b.dwq").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u) << "the run's other targets are written";
}

} // namespace

// ---- A kill at each save of an export -----------------------------------------------------------

// Who runs the export: a controller's batch job, or a user from the menu (the exchange file, or
// the coordinates file, whose export stores no document).
enum class Exporting { Batch, Menu, Coordinates };

struct SaveKill {
    const char* name;
    Exporting run;
    const char* point;   // where the host stops, and how many times it passes there first
};

class ExportSaveKillTest : public BatchModeTest, public ::testing::WithParamInterface<SaveKill> {
protected:
    void SetUp() override
    {
        BatchModeTest::SetUp();
        std::ofstream(app / "XTensions" / "kesto.ini", std::ios::app)
            << "[Options]\nextendedInterface=True\naddMenuItemExportCoords=True\n";
        fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/documents/export.qxp", Document());
        original = ReadText(Document());
    }

    fs::path Document() const { return app / "export.qxp"; }
    fs::path Output() const
    {
        switch (GetParam().run) {
        case Exporting::Batch: return app / "out/export.dwq";
        case Exporting::Menu: return app / "export.dwq";
        default: return app / "export.coo";
        }
    }
    bool StoresTheDocument() const { return GetParam().run != Exporting::Coordinates; }

    // What the host runs: the controller's job, or the user's menu choice on the open document.
    std::string Script() const
    {
        switch (GetParam().run) {
        case Exporting::Batch:
            std::ofstream(BatchFile()) << "[General]\nMode=Export\n[Path]\nSource=" << Document().string()
                                       << "\nTarget=" << (app / "out").string() << "\n";
            return "start\nidle 3\nquit\n";
        case Exporting::Menu:
            return "start\nopen-document export.qxp\nmenu \"Export current document\"\nsave * default\n"
                   "dialog 101\n  press 1\nquit\n";
        default:
            return "start\nopen-document export.qxp\nmenu \"Export PDF coordinates\"\nsave * default\n"
                   "dialog 101\n  press 1\nquit\n";
        }
    }

    // The host document stored in the exchange file, as any reader inflates it; none for a
    // coordinates file.
    std::string Stored() const
    {
        if (!StoresTheDocument())
            return {};
        const fs::path out = app / "stored.qxp";
        fs::remove(out);
        const std::string command =
            "/usr/bin/python3 -c \"import olefile,sys,zlib; o=olefile.OleFileIO(sys.argv[1]); "
            "open(sys.argv[2],'wb').write(zlib.decompress(o.openstream("
            "'VerbantPluginPrivateData/KestoExportTemplates/0').read()))\" '" +
            Output().string() + "' '" + out.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << Output();
        return ReadText(out);
    }

    // The hidden files of the document's folder.
    std::vector<std::string> Hidden() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(app))
            if (entry.is_regular_file() && entry.path().filename().string()[0] == '.')
                names.push_back(entry.path().filename().string());
        return names;
    }

    std::string original;
};

// The export saves the document with its private working boxes for the container and without
// them when it is done. Killed at any moment, it leaves the user's document as it was or as the
// whole export leaves it, never with the working boxes; a container it completed holds the
// document with the working boxes, as a run that is not killed stores it; the next export
// removes what the killed one left beside the document.
TEST_P(ExportSaveKillTest, TheDocumentIsAsBeforeOrAsTheExportLeavesIt)
{
    const SaveKill& kill = GetParam();
    // A whole run first: the document's final save and the stored document.
    ASSERT_TRUE(Run(Script())) << Transcript();
    const std::string finished = ReadText(Document());
    const std::string stored = Stored();
    if (StoresTheDocument()) {
        std::ofstream(app / "stored.qxp", std::ios::binary | std::ios::trunc) << stored;
        const std::string canon = app.string() + "/canon.txt";
        ASSERT_EQ(std::system((std::string(XTHOST_PROGRAM) + " doc canon '" + (app / "stored.qxp").string() +
                               "' > '" + canon + "'").c_str()),
                  0);
        // Each of the three layouts has the two working boxes in the stored document.
        EXPECT_EQ(kesto_test::CountOf(ReadText(canon), "\"08414b42\", \"ffffffff\""), 3);
        EXPECT_EQ(kesto_test::CountOf(ReadText(canon), "\"08414b42\", \"fffffffe\""), 3);
    }
    EXPECT_NE(finished, original) << "the export links the document's stories";
    const std::vector<std::string> hidden = Hidden();

    std::ofstream(Document(), std::ios::binary | std::ios::trunc) << original;
    fs::remove(Output());
    StoppedHost host;
    StopAt(kill.point, host, Script());
    ASSERT_GT(host.pid, 0) << kill.point << " was never reached";
    host.Kill();
    const std::string after = ReadText(Document());
    EXPECT_TRUE(after == original || after == finished) << "the user's document holds a state of the export";
    if (fs::exists(Output())) {
        EXPECT_EQ(Stored(), stored);
    }

    // The next export of the same document, as the first run had it.
    std::ofstream(Document(), std::ios::binary | std::ios::trunc) << original;
    fs::remove(Output());
    ASSERT_TRUE(Run(Script())) << Transcript();
    EXPECT_EQ(Stored(), stored);
    EXPECT_EQ(Hidden(), hidden) << "left beside the document";
}

// Before, during (written, not yet renamed) and after each save, while the document is read into
// the container between the two saves of an exchange file, and while the working boxes go.
INSTANTIATE_TEST_SUITE_P(
    Points, ExportSaveKillTest,
    ::testing::Values(SaveKill{"BatchBeforeFirstSave", Exporting::Batch, "NEW-3"},
                      SaveKill{"BatchFirstSaveWritten", Exporting::Batch, "file.written"},
                      SaveKill{"BatchStoring", Exporting::Batch, "XFJ12/101 after 1"},
                      SaveKill{"BatchDisposing", Exporting::Batch, "BOX-9"},
                      SaveKill{"BatchBeforeLastSave", Exporting::Batch, "NEW-3 after 1"},
                      SaveKill{"BatchLastSaveWritten", Exporting::Batch, "file.written after 1"},
                      SaveKill{"BatchClosing", Exporting::Batch, "DOC-12"},
                      SaveKill{"MenuBeforeFirstSave", Exporting::Menu, "NEW-3"},
                      SaveKill{"MenuFirstSaveWritten", Exporting::Menu, "file.written"},
                      SaveKill{"MenuStoring", Exporting::Menu, "XFJ12/101 after 1"},
                      SaveKill{"MenuDisposing", Exporting::Menu, "BOX-9"},
                      SaveKill{"MenuBeforeLastSave", Exporting::Menu, "NEW-3 after 1"},
                      SaveKill{"MenuLastSaveWritten", Exporting::Menu, "file.written after 1"},
                      SaveKill{"MenuClosing", Exporting::Menu, "DOC-12"},
                      SaveKill{"CoordinatesDisposing", Exporting::Coordinates, "BOX-9"},
                      SaveKill{"CoordinatesSaveWritten", Exporting::Coordinates, "file.written"},
                      SaveKill{"CoordinatesClosing", Exporting::Coordinates, "DOC-12"}),
    [](const ::testing::TestParamInfo<SaveKill>& info) { return std::string(info.param.name); });

// ---- The status file through kills, other accounts and a controller's writes ------------------

namespace {

class StatusFileRunTest : public BatchTreeTest {
protected:
    // The controller's job: its file written beside the status file and renamed over it.
    void ReplaceJob(const fs::path& source)
    {
        std::ofstream(app / "Batch/next.part") << "[General]\nMode=Export\n[Path]\nSource=" << source.string()
                                               << "\nTarget=" << (app / "out").string() << "\n";
        fs::rename(app / "Batch/next.part", BatchFile());
    }

    // The archives of the status folder that hold the line.
    std::vector<std::string> ArchivesWith(const std::string& line) const
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(app / "Batch"))
            if (entry.path().filename().string().rfind("batch.ini_", 0) == 0 &&
                ReadText(entry.path()).find(line + "\n") != std::string::npos)
                found.push_back(ReadText(entry.path()));
        return found;
    }
};

const char kNoRenameFlags[] = "fail link with 1\nfail rename.noreplace with 22\nfail rename.exchange with 22\n";

struct StatusKill {
    const char* name;
    const char* image;    // the status folder is an image of this file system ("exfat"), else ext4
    const char* faults;   // the host's fault plan, for the killed host and the next
    bool controller;      // the controller writes its next job at the step before the kill
    bool again = false;   // and (or only) after the kill: its newest job runs
};

class StatusFileKillTest : public StatusFileRunTest, public ::testing::WithParamInterface<StatusKill> {};

// The host is killed before each rename, link or removal in the status folder (a controller writing
// its next job a step earlier, or after the kill): the status file stays whole until the archive
// is there, and after the next host's run the job (or the newest one) is archived, the status file
// gone (also where it was marked Done) and nothing left under a private name.
TEST_P(StatusFileKillTest, TheJobOrTheControllersNextJobRunsAndIsArchived)
{
    const StatusKill& c = GetParam();
    std::unique_ptr<ImageFolder> image;
    if (*c.image) {
        image = std::make_unique<ImageFolder>(app / "batch.img", app / "Batch", true);
        if (!image->mounted())
            GTEST_SKIP() << "no " << c.image << " image can be mounted here";
    }
    const fs::path source = app / "in/report.qxp";
    const fs::path next = app / "in/a.b.qxp";
    int steps = 0;
    for (int step = 0; step < 100; ++step) {
        const std::string at = c.name + std::string(" step ") + std::to_string(step);
        for (const auto& entry : fs::directory_iterator(app / "Batch"))
            fs::remove(entry.path());
        WriteJob("Export", source, app / "out");
        std::string stops = "stop-at file:Batch/ after " + std::to_string(step) + "\n";
        if (c.controller)
            stops += "stop-at file:Batch/ after " + std::to_string(step + 1) + "\n";
        StoppedHost host;
        const int status =
            StartUntilStopped("clock 2006-12-05 08:30:07\n" + std::string(c.faults) + stops + "start\nidle 3\nquit\n", host);
        if (host.pid < 0) {
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << at;
            break;   // the run is over before this step: every step was tried
        }
        ++steps;
        const auto polled = [&](const char* when) {   // the status file is whole until the archive is there
            const std::string text = fs::exists(BatchFile()) ? ReadText(BatchFile()) : std::string();
            EXPECT_TRUE(text.empty() ? !ArchivesWith("Source=" + source.string()).empty()
                                     : text.find("Source=") != std::string::npos)
                << at << " " << when << ": cut or without an archive\n" << text;
        };
        polled("at the stop");
        bool lost = false;   // the write landed as the host renamed over the file it compared
        if (c.controller) {
            for (const auto& entry : fs::directory_iterator(app / "Batch"))
                lost = lost || ((*c.faults || *c.image) && entry.path().extension() == ".held" && fs::exists(BatchFile()));
            ReplaceJob(next);
            int stopped = 0;
            if (::kill(host.pid, SIGCONT) != 0 || ::waitpid(host.pid, &stopped, WUNTRACED) != host.pid ||
                !WIFSTOPPED(stopped))
                host.pid = -1;
        } else {
            polled("after the kill");
        }
        host.Kill();
        const bool markedDone = !c.controller && !c.again && fs::exists(BatchFile()) &&
                                ReadText(BatchFile()).find("Mode=Done\n") != std::string::npos;
        const fs::path newest = c.again ? app / "in/News/front.qxp" : next;
        if (c.again)
            ReplaceJob(newest);
        fs::remove(app / "KestoLogfile.txt");   // the next host's log only
        ASSERT_TRUE(Run("clock 2006-12-05 08:30:08\n" + std::string(c.faults) + "start\nidle 3\nquit\n"))
            << at << Transcript();

        if (c.controller || c.again) {
            const auto ran = ArchivesWith("Source=" + newest.string());
            EXPECT_TRUE((lost && !c.again) || (ran.size() == 1 && ran[0].find("Count=1\n") != std::string::npos))
                << at << ": the controller's job did not run\n" << Log();
        } else {
            const auto ran = ArchivesWith("Source=" + source.string());
            EXPECT_FALSE(ran.empty()) << at << ": the job has no archive\n" << Log();
            for (const std::string& archive : ran)
                EXPECT_NE(archive.find("Active=False\n"), std::string::npos) << at << archive;
            EXPECT_EQ(markedDone, Log().find("finished and archived as") != std::string::npos) << at << Log();
        }
        EXPECT_FALSE(fs::exists(BatchFile())) << at << ": the status file stays\n" << ReadText(BatchFile()) << Log();
        // A killed host's claim may stay, locked by nobody.
        for (const auto& entry : fs::directory_iterator(app / "Batch"))
            EXPECT_TRUE(entry.path().filename().string()[0] == 'b' || entry.path().extension() == ".claim" ||
                        entry.path().extension() == ".place")
                << at << ": left " << entry.path();
    }
    EXPECT_GT(steps, 8);
}

INSTANTIATE_TEST_SUITE_P(
    FileSystems, StatusFileKillTest,
    ::testing::Values(StatusKill{"Ext4", "", "", false}, StatusKill{"Ext4Controller", "", "", true},
                      StatusKill{"Ext4ControllerAgain", "", "", true, true},
                      StatusKill{"Ext4NextJob", "", "", false, true},
                      StatusKill{"NoRenameFlagsNextJob", "", kNoRenameFlags, false, true},
                      StatusKill{"NoRenameFlags", "", kNoRenameFlags, false},
                      StatusKill{"NoRenameFlagsController", "", kNoRenameFlags, true},
                      StatusKill{"Exfat", "exfat", "", false}, StatusKill{"ExfatController", "exfat", "", true}),
    [](const ::testing::TestParamInfo<StatusKill>& info) { return std::string(info.param.name); });

// A root host with umask 077 is killed holding a claim (on the status file, or on the archive's
// name without hard links): the next host, of another account, takes it over and runs the job.
TEST_F(StatusFileRunTest, AClaimLeftByAHostOfAnotherAccountIsTakenOver)
{
    KESTO_SKIP_UNLESS_ROOT();
    const struct {
        const char* claim;
        const char* faults;
        const char* point;
    } cases[] = {{".batch.ini.claim", "", "XFJ12/101"},
                 {".batch.ini_20061205083007.place", kNoRenameFlags, "rename:batch.ini_20061205083007"}};
    for (const auto& c : cases) {
        fs::remove_all(app / "Batch");
        fs::create_directories(app / "Batch");
        WriteJob("Export", app / "in/report.qxp", app / "out");
        const std::string script = "clock 2006-12-05 08:30:07\n" + std::string(c.faults) + "start\nidle 3\nquit\n";
        StoppedHost root;
        StartUntilStopped("stop-at " + std::string(c.point) + "\n" + script, root, 0, 077);
        ASSERT_GT(root.pid, 0) << c.point;
        root.Kill();
        ASSERT_TRUE(fs::exists(app / "Batch" / c.claim)) << c.claim;
        ASSERT_EQ(::chown(app.c_str(), 65534, 65534), 0);
        for (const auto& entry : fs::recursive_directory_iterator(app))
            if (entry.path().filename() != c.claim) {
                ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
            }
        StoppedHost user;
        const int status = StartUntilStopped(script, user, 65534);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.claim;
        EXPECT_EQ(ArchivesWith("Count=1").size(), 1u) << c.claim << "\n" << Log();
        EXPECT_FALSE(fs::exists(BatchFile())) << c.claim << "\n" << ReadText(BatchFile());
        EXPECT_EQ(Log().find("cannot be"), std::string::npos) << c.claim << "\n" << Log();
    }
}

// A job rewritten by the controller while the host activates it (with and without name exchange)
// is archived as superseded, without running, and the next job runs after it.
TEST_F(StatusFileRunTest, AJobSupersededWhileItIsActivatedIsArchivedAsSuch)
{
    for (const char* faults : {"", kNoRenameFlags}) {
        for (const auto& entry : fs::directory_iterator(app / "Batch"))
            fs::remove(entry.path());
        WriteJob("Export", app / "in/report.qxp", app / "out");
        StoppedHost host;
        StartUntilStopped("clock 2006-12-05 08:30:07\n" + std::string(faults) + "stop-at file:Batch/\nstart\nidle 3\nquit\n",
                          host);
        ASSERT_GT(host.pid, 0);
        ReplaceJob(app / "in/a.b.qxp");
        EXPECT_TRUE(GoOn(host)) << faults;
        const auto superseded = ArchivesWith("Source=" + (app / "in/report.qxp").string());
        ASSERT_EQ(superseded.size(), 1u) << faults << Log();
        for (const char* line : {"Error=the job was superseded by a newer status file before it started\n", "Active=False\n"})
            EXPECT_NE(superseded[0].find(line), std::string::npos) << superseded[0];
        EXPECT_EQ(superseded[0].find("Count="), std::string::npos) << superseded[0];
        const auto ran = ArchivesWith("Source=" + (app / "in/a.b.qxp").string());
        EXPECT_TRUE(ran.size() == 1 && ran[0].find("Count=1\n") != std::string::npos) << faults << Log();
        EXPECT_NE(Log().find("was rewritten by its controller while this host activated its job"), std::string::npos)
            << Log();
        EXPECT_EQ(Log().find("the job goes on"), std::string::npos) << Log();
        EXPECT_FALSE(fs::exists(BatchFile()));
    }
}

} // namespace

namespace {

// The disk refuses every sync of a folder (the fault plan answers each with an input/output
// error): the menu's export and import end failed, and a batch job's archive says why; each
// names the folder and the reason in the log.
TEST_F(StatusFileRunTest, EveryFolderSyncFailingFailsEveryReport)
{
    fs::copy_file(app / "in/report.qxp", app / "report.qxp");
    const std::string unsynced = "may not survive a power cut: Input/output error";
    const std::string exportAs = "start\nopen-document report.qxp\nmenu \"Export current document\"\nsave * ";
    ASSERT_TRUE(Run(exportAs + "default\ndialog 101\n  press 1\nquit\n")) << Transcript();
    for (const std::string& menu : {exportAs + "again.dwq\ndialog 112\n  press 1\nquit\n",
                                    std::string("start\nmenu \"Import Verbant file\"\nopen * report.dwq\n"
                                                "save * imported.qxp\ndialog 104\n  press 1\nquit\n")}) {
        fs::remove(app / "KestoLogfile.txt");
        EXPECT_TRUE(Run("fail fsync.folder with 5\n" + menu)) << menu << Transcript();
        EXPECT_NE(Log().find("The names written in \"" + app.string() + "/\" " + unsynced), std::string::npos) << Log();
    }
    fs::remove(app / "KestoLogfile.txt");
    WriteJob("Export", app / "in", app / "out");
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nfail fsync.folder with 5\nstart\nidle 3\nquit\n")) << Transcript();
    EXPECT_NE(Archive().find("Error=the names written in \""), std::string::npos) << Archive();
    EXPECT_NE(Archive().find(unsynced), std::string::npos) << Archive();
    EXPECT_NE(Log().find("Export failed for folder: "), std::string::npos) << Log();
}

// The controller's status file stays the controller's, whoever runs its job.
class ControllersFileTest : public StatusFileRunTest {
protected:
    static constexpr uid_t kHost = 65534, kController = 4242;
    void GiveAppTo(uid_t uid) { kesto_test::GiveAll(app, uid, uid); }
};

// A controller of another account whose file the host may not write (0644) writes its next job
// with ">" while the host runs the first: the write succeeds, the file stays the controller's,
// the first job is archived from the host's own record of it, and the log says why.
TEST_F(ControllersFileTest, AControllerOfAnotherAccountWritesItsNextJobWhileTheHostRuns)
{
    KESTO_SKIP_UNLESS_ROOT();
    WriteJob("Export", app / "in", app / "out");
    GiveAppTo(kHost);
    kesto_test::Own(BatchFile(), kController, kController, 0644);
    StoppedHost host;
    StartUntilStopped("clock 2006-12-05 08:30:07\nstop-at XFJ12/101\nstart\nidle 3\nquit\n", host, kHost);
    ASSERT_GT(host.pid, 0);
    const std::string next = "[General]\nMode=Export\n[Path]\nSource=" + (app / "in/a.b.qxp").string() +
                             "\nTarget=" + (app / "out").string() + "\n";
    EXPECT_EQ(kesto_test::AsAccount({kController, {kController}}, [&] {
                  std::ofstream file(BatchFile(), std::ios::trunc);
                  return (file << next << std::flush) ? "written" : "refused";
              }),
              "written");
    EXPECT_TRUE(GoOn(host));
    const auto ran = ArchivesWith("Source=" + (app / "in").string());
    ASSERT_EQ(ran.size(), 1u) << Log();
    for (const char* line : {"Count=3\n", "Active=False\n"})
        EXPECT_NE(ran[0].find(line), std::string::npos) << ran[0];
    struct stat st {};
    if (::stat(BatchFile().c_str(), &st) == 0) {   // the next job waits in the controller's own file, or has run
        EXPECT_TRUE(st.st_uid == kController && ReadText(BatchFile()) == next) << st.st_uid;
    } else {
        EXPECT_EQ(ArchivesWith("Source=" + (app / "in/a.b.qxp").string()).size(), 1u) << Log();
    }
    EXPECT_NE(Log().find("is not rewritten by this host (this user may not write it)"), std::string::npos) << Log();
}

// The setting names the status file through the user's own link: the job runs, and its archive
// is made beside the file the link names.
TEST_F(ControllersFileTest, AStatusFileNamedThroughTheUsersOwnLinkRunsBesideTheFileItNames)
{
    fs::create_directories(app / "Real");
    WriteJob("Export", app / "in", app / "out");
    fs::rename(BatchFile(), app / "Real/batch.ini");
    fs::create_symlink(app / "Real/batch.ini", BatchFile());
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
    EXPECT_NE(ReadText(app / "Real/batch.ini_20061205083007").find("Count=3\n"), std::string::npos) << Log();
    EXPECT_TRUE(fs::is_symlink(BatchFile()));
}

// The controller replaces the running job's file, and the host is killed before it archived that
// job: the next host archives it, with how far it came and an Error line, and runs the new job.
TEST_F(ControllersFileTest, AJobSupersededWhileItRanIsArchivedAfterItsHostWasKilled)
{
    WriteJob("Export", app / "in", app / "out");
    StoppedHost host;
    StopAt("XFJ12/101", host, "clock 2006-12-05 08:30:07\nstop-at rename:.batch.ini.job after 1\nstart\nidle 3\nquit\n");
    ASSERT_GT(host.pid, 0);
    ReplaceJob(app / "in/a.b.qxp");
    int stopped = 0;
    ASSERT_EQ(::kill(host.pid, SIGCONT), 0);
    ASSERT_EQ(::waitpid(host.pid, &stopped, WUNTRACED), host.pid);
    ASSERT_TRUE(WIFSTOPPED(stopped)) << "the host did not keep a record of the job it ran";
    host.Kill();

    ASSERT_TRUE(Run("clock 2006-12-05 08:30:08\nstart\nidle 3\nquit\n")) << Transcript();
    const auto ended = ArchivesWith("Source=" + (app / "in").string());
    ASSERT_EQ(ended.size(), 1u) << Log();
    for (const char* line : {"Error=the job's host ended before it was archived\n", "Count=1\n", "Active=False\n"})
        EXPECT_NE(ended[0].find(line), std::string::npos) << ended[0];
    EXPECT_EQ(ArchivesWith("Source=" + (app / "in/a.b.qxp").string()).size(), 1u) << Log();
}

// A claim that names no process: one that a power cut emptied beside a status file its host had
// marked Done, which the next host then removes as that host would have; and one that its
// holder has locked and not yet written, whose host the log does not name as process 0.
TEST_F(ControllersFileTest, AClaimThatNamesNoProcessIsTakenOverOrLeftAloneWithoutAProcessId)
{
    const fs::path claim = app / "Batch/.batch.ini.claim";
    WriteJob("Export", app / "in", app / "out");
    StoppedHost host;
    StopAt("rename:batch.ini", host, "clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n");
    ASSERT_GT(host.pid, 0);
    host.Kill();
    ASSERT_NE(ReadText(BatchFile()).find("Mode=Done\n"), std::string::npos);
    fs::resize_file(claim, 0);
    ASSERT_TRUE(Run("start\nidle 3\nquit\n")) << Transcript();
    EXPECT_FALSE(fs::exists(BatchFile())) << Log();
    EXPECT_NE(Log().find("was claimed by a process, which has ended"), std::string::npos) << Log();

    fs::remove(app / "KestoLogfile.txt");
    WriteJob("Export", app / "in", app / "out");
    const int held = ::open(claim.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_TRUE(Run("start\nidle 3\nquit\n")) << Transcript();
    ::close(held);
    EXPECT_NE(Log().find("is claimed by another host, which runs its job"), std::string::npos) << Log();
    EXPECT_EQ(Log().find("process 0"), std::string::npos) << Log();
}

// A colleague's exchange file that the host's account may write but not read (0602, 0662) is
// replaced by the export, which never needs to read it.
TEST_F(ControllersFileTest, AnExchangeFileTheHostMayWriteButNotReadIsReplaced)
{
    KESTO_SKIP_UNLESS_ROOT();
    fs::copy_file(app / "in/report.qxp", app / "report.qxp");
    GiveAppTo(kHost);
    for (const mode_t mode : {0602, 0662}) {
        std::ofstream(app / "report.dwq") << "the colleague's exchange file";
        kesto_test::Own(app / "report.dwq", kController, kController, mode);
        StoppedHost host;
        const int status = StartUntilStopped("start\nopen-document report.qxp\nmenu \"Export current document\"\n"
                                             "save * default\ndialog 101\n  press 1\nquit\n",
                                             host, kHost);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << std::oct << mode << "\n" << Log();
        EXPECT_EQ(ReadText(app / "report.dwq").rfind("\xD0\xCF\x11\xE0", 0), 0u) << std::oct << mode;
    }
}

} // namespace
