// Batch runs of the host with the module, as the account each case names, in folders that several
// accounts share: planted links, look-alike temporaries, a colleague's team folder, no /proc.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

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

// An application folder with the example books in "in", and a batch job that exports them to
// "out" with PDFs in "pdf".
class SharedFolderRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KESTO_SKIP_UNLESS_ROOT();
        app = fs::path(KESTO_BINARY_DIR) / "test-tmp/shared-folders" /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(app);
        for (const char* folder : {"XTensions", "Batch", "out", "pdf", "back"})
            fs::create_directories(app / folder);
        fs::copy(fs::path(KESTO_SOURCE_DIR) / "examples/app/Folders/Books", app / "in", fs::copy_options::recursive);
        std::ofstream(app / "XTensions/kesto.ini") << "[Path]\nBatchFilePath=" << BatchFile() << "\n";
        WriteJob("Export", app / "in", app / "out", app / "pdf");
    }

    std::string BatchFile() const { return (app / "Batch/batch.ini").string(); }
    std::string Log() const { return ReadText(app / "KestoLogfile.txt"); }
    std::string Head(const char* file) const { return ReadText(app / file).substr(0, 8); }

    void WriteJob(const std::string& mode, const fs::path& source, const fs::path& target, const fs::path& pdf = {})
    {
        std::ofstream(BatchFile()) << "[General]\nMode=" << mode << "\nRecursive=True\n[Path]\nSource=" << source.string()
                                   << "\nTarget=" << target.string() << "\nPdfDir=" << pdf.string() << "\n";
    }

    // Gives the application folder and everything below it to the account.
    void GiveAll(uid_t uid, gid_t gid) const
    {
        ASSERT_EQ(::chown(app.c_str(), uid, gid), 0);
        for (const auto& entry : fs::recursive_directory_iterator(app))
            ASSERT_EQ(::lchown(entry.path().c_str(), uid, gid), 0) << entry.path();
    }
    // Runs the script (by default: the batch job) in the host as the account, optionally where the
    // process's status in /proc is hidden; true when the host ends well.
    bool RunJob(const Account& as, bool withoutProc = false,
                const std::string& script = "clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")
    {
        std::ofstream(app / "run.xts") << script;
        std::string host = std::string(XTHOST_PROGRAM) + " --app . --module " + KESTO_MODULE + " --script run.xts";
        // Only the status file is hidden: the leak checker of a sanitized build needs the rest.
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

// Another account plants out/report.dwq, in a folder everyone may write, as a link to a file of
// the run's user: the run, of that user or of root, refuses it with the reason and writes the rest.
TEST_F(SharedFolderRunTest, ALinkPlantedByAnotherAccountIsNeverWrittenThrough)
{
    for (const Account& runner : {Account{kRunner, {}}, Account{}}) {
        SCOPED_TRACE(runner.uid);
        SetUp();
        const std::string victim = "the user's own file\n";
        std::ofstream(app / "victim.txt") << victim;
        GiveAll(runner.uid, runner.uid);
        Own(app / "out", 0, 0, 01777);
        fs::create_symlink(app / "victim.txt", app / "out/report.dwq");
        Own(app / "out/report.dwq", kColleague, kColleague, 0);
        ASSERT_TRUE(RunJob(runner)) << Log();
        EXPECT_TRUE(ReadText(app / "victim.txt") == victim) << "the victim's file was overwritten";
        EXPECT_TRUE(fs::is_symlink(app / "out/report.dwq"));
        EXPECT_NE(Log().find("Write-protected target \"" + (app / "out/report.dwq").string() +
                             "\": it is a symbolic link that another user may have made"),
                  std::string::npos)
            << Log();
        EXPECT_EQ(Head("out/a.b.dwq"), kMagic) << Log();
    }
}

// Users' hidden files named like temporary files (of an earlier build's form, or of the program's
// form but another account's) outlive an export run; the run's user's stale temporaries go.
TEST_F(SharedFolderRunTest, LookAlikesAndOtherUsersTemporariesOutliveARun)
{
    const std::string pid = std::to_string(kesto_test::GonePid());
    const std::vector<std::string> kept = {".budget.2024-03.tmp",   ".holiday.2023-12.part",
                                           ".report.dwq." + pid + "-1.tmp", ".front.pdf." + pid + "-2.part",
                                           ".notes.kesto-" + pid + "-aaaaaaaaaaaaa.tmp"};
    // The module writes exchange files (".tmp") into the target folder, the host PDFs (".part")
    // into the PDF folder, and both save the source document.
    const std::map<std::string, std::vector<std::string>> stales = {
        {"in", {".report.qxp.kesto-" + pid + "-abcdefghijklm.tmp", ".report.qxp.kesto-" + pid + "-mlkjihgfedcb2.part"}},
        {"out", {".report.dwq.kesto-" + pid + "-abcdefghijklm.tmp"}},
        {"pdf", {".report.pdf.kesto-" + pid + "-mlkjihgfedcb2.part"}}};
    GiveAll(kRunner, kRunner);
    for (const auto& [folder, stale] : stales) {
        for (const auto& names : {kept, stale})
            for (const std::string& name : names) {
                std::ofstream(app / folder / name) << name;
                Own(app / folder / name, kRunner, kRunner, 0600);
            }
        Own(app / folder / kept.back(), kColleague, kColleague, 0600);
    }
    ASSERT_TRUE(RunJob({kRunner, {}})) << Log();
    EXPECT_EQ(Head("out/report.dwq"), kMagic) << Log();
    for (const auto& [folder, stale] : stales) {
        for (const std::string& name : kept)
            EXPECT_EQ(ReadText(app / folder / name), name) << folder << "/" << name;
        for (const std::string& name : stale)
            EXPECT_FALSE(fs::exists(app / folder / name)) << folder << "/" << name;
    }
}

// A member exports (in batch jobs and from the menu) and imports over a colleague's 0664 files,
// and the status file of a controller of the colleague's, in a setgid team folder: each replaced
// file keeps the team's group and its mode and takes the member as owner; the jobs are archived.
TEST_F(SharedFolderRunTest, AMemberReplacesAColleaguesFilesInATeamFolder)
{
    fs::copy_file(fs::path(KESTO_SOURCE_DIR) / "examples/batch/earlier-run/report.dwq", app / "out/report.dwq");
    fs::copy_file(app / "out/report.dwq", app / "in/a.b.dwq");
    fs::copy_file(app / "in/report.qxp", app / "back/report.qxp");
    GiveAll(kRunner, kRunner);
    for (const char* folder : {"in", "out", "back", "Batch"}) {
        Own(app / folder, kColleague, kTeam, 02775);
        for (const auto& entry : fs::recursive_directory_iterator(app / folder))
            Own(entry.path(), kColleague, kTeam, entry.is_directory() ? 02775 : 0664);
    }
    const std::string earlier = ReadText(app / "back/report.qxp");
    const Account member{kRunner, {kRunner, kTeam}};
    const auto job = [&](const std::string& mode, const fs::path& source, const fs::path& target) {
        WriteJob(mode, source, target);
        Own(BatchFile(), kColleague, kTeam, 0664);
        ASSERT_TRUE(RunJob(member)) << Log();
        EXPECT_FALSE(fs::exists(BatchFile())) << Log();
        EXPECT_TRUE(fs::remove(BatchFile() + "_20061205083007")) << Log();
        EXPECT_EQ(Log().find("cannot be saved"), std::string::npos) << Log();
        EXPECT_EQ(Log().find("Write-protected"), std::string::npos) << Log();
    };
    job("Export", app / "in", app / "out");
    job("Import", app / "out", app / "back");
    ASSERT_TRUE(RunJob(member, false,
                       "start\nopen-document in/a.b.qxp\nmenu \"Export current document\"\nsave * default\n"
                       "dialog 101\n  press 1\nquit\n"))
        << "the menu export failed: " << Log();
    EXPECT_EQ(Head("out/report.dwq"), kMagic);
    EXPECT_EQ(Head("in/a.b.dwq"), kMagic);
    EXPECT_NE(ReadText(app / "back/report.qxp"), earlier);
    for (const char* file : {"out/report.dwq", "back/report.qxp", "in/report.qxp", "in/a.b.dwq", "in/a.b.qxp"}) {
        const struct stat st = StatOf(app / file);
        EXPECT_EQ(st.st_gid, kTeam) << file;
        EXPECT_EQ(st.st_mode & 07777, 0664u) << file;
        EXPECT_TRUE(st.st_uid == kRunner || st.st_uid == kColleague) << file;
    }
    EXPECT_EQ(StatOf(app / "out/report.dwq").st_uid, kRunner);
}

// Where /proc tells nothing, a new result gets 0666 less the umask, as anywhere else.
TEST_F(SharedFolderRunTest, NewResultsGetTheUmasksModeWhereProcTellsNothing)
{
    ASSERT_TRUE(RunJob({}, true)) << Log();
    for (const char* file : {"out/report.dwq", "out/News/front.dwq", "pdf/report.pdf"})
        EXPECT_EQ(StatOf(app / file).st_mode & 07777, 0644u) << file;
}

} // namespace
