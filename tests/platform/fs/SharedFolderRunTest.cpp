// Batch runs of the host with the module in folders that several accounts share: links that
// another account planted, hidden files of users that look like temporary files, a team folder
// whose files belong to a colleague, a controller of another account, and a system whose
// /proc tells nothing. The tests run as root and start the host as the account each case names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "Plugin/Shell/AppFolderTest.h"
#include "platform/fs/Accounts.h"

namespace {

namespace fs = std::filesystem;
using kesto_test::Account;
using kesto_test::AsAccount;
using kesto_test::Own;
using kesto_test::ReadText;

constexpr char kMagic[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

constexpr uid_t kRunner = 4101;      // the user whose run it is
constexpr uid_t kColleague = 4102;   // another member of the team, or the one who plants a link
constexpr gid_t kTeam = 4100;

class SharedFolderRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to run the host as other accounts";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        app = fs::path(KESTO_BINARY_DIR) / "test-tmp" / "shared-folders" / info->name();
        fs::remove_all(app);
        fs::create_directories(app / "XTensions");
        fs::create_directories(app / "Batch");
        fs::copy(fs::path(KESTO_SOURCE_DIR) / "examples/app/Folders/Books", app / "in", fs::copy_options::recursive);
        for (const char* folder : {"out", "pdf", "back"})
            fs::create_directories(app / folder);
        std::ofstream(app / "XTensions/kesto.ini") << "[Path]\nBatchFilePath=" << BatchFile() << "\n";
    }

    std::string BatchFile() const { return (app / "Batch/batch.ini").string(); }
    std::string Log() const { return ReadText(app / "KestoLogfile.txt"); }

    void WriteJob(const std::string& mode, const fs::path& source, const fs::path& target, const fs::path& pdf = {})
    {
        std::ofstream(BatchFile()) << "[General]\nMode=" << mode << "\nRecursive=True\n[Path]\nSource=" << source.string()
                                   << "\nTarget=" << target.string() << "\nPdfDir=" << pdf.string() << "\n";
    }

    // Gives everything below the application folder to the account, as its own files.
    void GiveAll(uid_t uid, gid_t gid) const
    {
        ASSERT_EQ(::chown(app.c_str(), uid, gid), 0);
        for (const auto& entry : fs::recursive_directory_iterator(app))
            ASSERT_EQ(::lchown(entry.path().c_str(), uid, gid), 0) << entry.path();
    }
    // Runs the script (by default: the batch job) in the host as the account, or where the
    // process's status in /proc cannot be read (in a mount namespace of its own); true when the
    // host ends well.
    bool RunJob(const Account& as, bool withoutProc = false,
                const std::string& script = "clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")
    {
        std::ofstream(app / "run.xts") << script;
        std::string host = std::string(XTHOST_PROGRAM) + " --app . --module " + KESTO_MODULE + " --script run.xts";
        // The process's status, where the umask could be read, hidden under an empty file: the
        // leak checker of a sanitized build needs the rest of /proc.
        if (withoutProc)
            host = "umask 022; exec unshare --mount sh -c 'mount --bind /dev/null /proc/$$/status && exec " + host + "'";
        const std::string command = "cd " + app.string() + " && " + host + " >/dev/null 2>&1";
        return AsAccount(as, [&] { return std::to_string(std::system(command.c_str())); }) == "0";
    }

    static struct stat StatOf(const fs::path& path)
    {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st;
    }

    fs::path app;
};

// Another account plants out/report.dwq as a link to a file of the run's user in a folder that
// everyone may write: the run, of that user or of root, never writes through it. The link is a
// write-protected target, named with its reason; the run's other targets are written.
TEST_F(SharedFolderRunTest, ALinkPlantedByAnotherAccountIsNeverWrittenThrough)
{
    const struct {
        const char* name;
        Account runner;
    } cases[] = {{"user", {kRunner, {}}}, {"root", {0, {}}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const std::string victim = "the user's own file\n";
        std::ofstream(app / "victim.txt") << victim;
        WriteJob("Export", app / "in", app / "out");
        GiveAll(c.runner.uid, c.runner.uid);
        Own(app / "out", 0, 0, 01777);
        fs::create_symlink(app / "victim.txt", app / "out/report.dwq");
        Own(app / "out/report.dwq", kColleague, kColleague, 0);
        ASSERT_TRUE(RunJob(c.runner)) << Log();
        EXPECT_TRUE(ReadText(app / "victim.txt") == victim) << "the victim's file was overwritten";
        EXPECT_TRUE(fs::is_symlink(app / "out/report.dwq"));
        EXPECT_NE(Log().find("Write-protected target \"" + (app / "out/report.dwq").string() +
                             "\": it is a symbolic link that another user may have made"),
                  std::string::npos)
            << Log();
        EXPECT_EQ(ReadText(app / "out/a.b.dwq").substr(0, 8), kMagic) << Log();
    }
}

// Hidden files of users named like temporary files (".budget.2024-03.tmp", a name of an earlier
// build's form, one of the program's form that another account owns) in the source, target and
// PDF folders outlive an export run; the run's own user's stale temporary files go.
TEST_F(SharedFolderRunTest, LookAlikesAndOtherUsersTemporariesOutliveARun)
{
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string pid = std::to_string(gone);
    const std::vector<std::string> kept = {".budget.2024-03.tmp",   ".holiday.2023-12.part",
                                           ".report.dwq." + pid + "-1.tmp", ".front.pdf." + pid + "-2.part",
                                           ".notes.kesto-" + pid + "-aaaaaaaaaaaaa.tmp"};
    // The module writes exchange files (".tmp") into the target folder, the host PDFs (".part")
    // into the PDF folder, and both save the source document.
    const std::map<std::string, std::vector<std::string>> stales = {
        {"in", {".report.qxp.kesto-" + pid + "-abcdefghijklm.tmp", ".report.qxp.kesto-" + pid + "-mlkjihgfedcb2.part"}},
        {"out", {".report.dwq.kesto-" + pid + "-abcdefghijklm.tmp"}},
        {"pdf", {".report.pdf.kesto-" + pid + "-mlkjihgfedcb2.part"}}};
    WriteJob("Export", app / "in", app / "out", app / "pdf");
    GiveAll(kRunner, kRunner);
    for (const auto& [folder, stale] : stales) {
        for (const std::string& name : kept)
            std::ofstream(app / folder / name) << name;
        for (const std::string& name : stale)
            std::ofstream(app / folder / name) << name;
        for (const std::string& name : stale)
            Own(app / folder / name, kRunner, kRunner, 0600);
        // Another account's file of the program's own form: not the run's to remove.
        Own(app / folder / kept.back(), kColleague, kColleague, 0600);
        for (std::size_t i = 0; i + 1 < kept.size(); ++i)
            Own(app / folder / kept[i], kRunner, kRunner, 0600);
    }
    ASSERT_TRUE(RunJob({kRunner, {}})) << Log();
    EXPECT_EQ(ReadText(app / "out/report.dwq").substr(0, 8), kMagic) << Log();
    for (const auto& [folder, stale] : stales) {
        for (const std::string& name : kept)
            EXPECT_EQ(ReadText(app / folder / name), name) << folder << "/" << name;
        for (const std::string& name : stale)
            EXPECT_FALSE(fs::exists(app / folder / name)) << folder << "/" << name;
    }
}

// A team folder (setgid, of the team's group) holds a colleague's documents and results, 0664,
// and the status file of a controller that runs under the colleague's account: a member exports
// (from the menu and in batch jobs) and imports over them. Each replaced file stays in the
// team's group with its mode, and takes the member as owner; the jobs run and are archived.
TEST_F(SharedFolderRunTest, AMemberReplacesAColleaguesFilesInATeamFolder)
{
    fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/batch/earlier-run/report.dwq", app / "out/report.dwq");
    fs::copy_file(app / "out/report.dwq", app / "in/a.b.dwq");
    fs::copy_file(app / "in/report.qxp", app / "back/report.qxp");
    GiveAll(kRunner, kRunner);
    for (const char* folder : {"in", "out", "back", "Batch"})
        for (const auto& entry : fs::recursive_directory_iterator(app / folder))
            Own(entry.path(), kColleague, kTeam, entry.is_directory() ? 02775 : 0664);
    for (const char* folder : {"in", "out", "back", "Batch"})
        Own(app / folder, kColleague, kTeam, 02775);
    const std::string earlier = ReadText(app / "back/report.qxp");
    const Account member{kRunner, {kRunner, kTeam}};

    const auto job = [&](const std::string& mode, const fs::path& source, const fs::path& target) {
        WriteJob(mode, source, target);
        Own(BatchFile(), kColleague, kTeam, 0664);
        ASSERT_TRUE(RunJob(member)) << Log();
        EXPECT_FALSE(fs::exists(BatchFile())) << Log();
        EXPECT_TRUE(fs::exists(BatchFile() + "_20061205083007")) << Log();
        fs::remove(BatchFile() + "_20061205083007");
        EXPECT_EQ(Log().find("cannot be saved"), std::string::npos) << Log();
        EXPECT_EQ(Log().find("Write-protected"), std::string::npos) << Log();
    };
    job("Export", app / "in", app / "out");
    job("Import", app / "out", app / "back");
    ASSERT_TRUE(RunJob(member, false,
                       "start\nopen-document in/a.b.qxp\nmenu \"Export current document\"\nsave * default\n"
                       "dialog 101\n  press 1\nquit\n"))
        << "the menu export failed: " << Log();
    for (const char* file : {"out/report.dwq", "in/a.b.dwq"})
        EXPECT_EQ(ReadText(app / file).substr(0, 8), kMagic) << file;
    EXPECT_NE(ReadText(app / "back/report.qxp"), earlier);
    for (const char* file : {"out/report.dwq", "back/report.qxp", "in/report.qxp", "in/a.b.dwq", "in/a.b.qxp"}) {
        const struct stat st = StatOf(app / file);
        EXPECT_EQ(st.st_gid, kTeam) << file;
        EXPECT_EQ(st.st_mode & 07777, 0664u) << file;
        EXPECT_TRUE(st.st_uid == kRunner || st.st_uid == kColleague) << file;
    }
    EXPECT_EQ(StatOf(app / "out/report.dwq").st_uid, kRunner);
}

// Where /proc tells nothing, a new result gets the process's default mode, 0666 less the umask,
// as anywhere else.
TEST_F(SharedFolderRunTest, NewResultsGetTheUmasksModeWhereProcTellsNothing)
{
    WriteJob("Export", app / "in", app / "out", app / "pdf");
    ASSERT_TRUE(RunJob({}, true)) << Log();
    for (const char* file : {"out/report.dwq", "out/News/front.dwq", "pdf/report.pdf"})
        EXPECT_EQ(StatOf(app / file).st_mode & 07777, 0644u) << file;
}

} // namespace
