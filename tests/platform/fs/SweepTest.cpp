#include "platform/fs/Sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Foundation/TestSupport.h"

namespace {

namespace stdfs = std::filesystem;
using platform::fs::NameForm;
using platform::fs::OwnedKind;

TEST(Sweep, OneParserReadsTheProcessIdOfEachForm)
{
    const std::string job = "OMRA_20261208010203_QWERTYUI" + platform::fs::JobOwnerLetters("20261208010203", 4242);
    std::string forged = job;
    forged.back() = forged.back() == 'A' ? 'B' : 'A';
    const struct {
        std::string name;
        NameForm form;
        pid_t owner;   // 0: not of the form
    } cases[] = {
        {".report.dwq.4242-7.tmp", {OwnedKind::Temporary, ".tmp"}, 4242},
        {".a.b-c.d.1-1.part", {OwnedKind::Temporary, ".part"}, 1},
        {".report.dwq.4242-7.tmp", {OwnedKind::Temporary, ".part"}, 0},
        {"report.dwq.4242-7.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {".report.dwq.4242-.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {".report.dwq.0-1.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {".report.dwq.1234567890-1.tmp", {OwnedKind::Temporary, ".tmp"}, 0},
        {"KS_PdfProbe_1_123_0", {OwnedKind::ProbeFolder, ""}, 1},
        {"KS_PdfProbe_77_123", {OwnedKind::ProbeFolder, ""}, 0},
        {"KS_PdfProbe_x7_1_0", {OwnedKind::ProbeFolder, ""}, 0},
        {"KS_PdfStyle_1_2_3", {OwnedKind::ProbeFolder, ""}, 0},
        {job, {OwnedKind::JobFolder, ""}, 4242},
        {forged, {OwnedKind::JobFolder, ""}, 0},
        {job + "A", {OwnedKind::JobFolder, ""}, 0},
        {job, {OwnedKind::ProbeFolder, ""}, 0},
    };
    for (const auto& c : cases) {
        pid_t owner = 0;
        EXPECT_EQ(platform::fs::ParseOwnedName(c.name, c.form, owner), c.owner != 0) << c.name;
        if (c.owner != 0) {
            EXPECT_EQ(owner, c.owner) << c.name;
        }
    }
}

// A folder goes when nobody holds its lock file, whatever process id its name carries; one that
// is held stays, also when its name carries the id of no process here. A folder without a lock
// file (an earlier build's) goes only when no process of its id runs here. A link to a folder
// stays, and so does what it points to; a folder's name is never taken twice.
TEST(Sweep, FoldersGoWhenNobodyHoldsThem)
{
    TempDir scratch;
    const stdfs::path dir = scratch.Path();
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string gone = std::to_string(child);
    const auto folder = [&](const std::string& owner, const char* rest) { return "KS_PdfProbe_" + owner + rest; };
    platform::fs::OwnedLock held;
    ASSERT_EQ(platform::fs::MakeOwnedFolder((dir / folder(gone, "_1_0")).string(), held), 0);
    platform::fs::OwnedLock again;
    EXPECT_EQ(platform::fs::MakeOwnedFolder((dir / folder(gone, "_1_0")).string(), again), EEXIST);
    EXPECT_FALSE(again.Held());
    for (const std::string& name : {folder("1", "_1_0"), folder(std::to_string(::getpid()), "_1_0"), folder(gone, "_2_0")}) {
        platform::fs::OwnedLock lock;
        ASSERT_EQ(platform::fs::MakeOwnedFolder((dir / name).string(), lock), 0);
        WriteFile(dir / name / "dummy.qxp", "left");
    }
    stdfs::create_directories(dir / folder("1", "_3_0") / "inner");   // no lock, process 1 runs
    stdfs::create_directories(dir / folder(gone, "_3_0") / "inner");  // no lock, nobody runs
    stdfs::create_directory_symlink(dir / folder("1", "_3_0"), dir / folder(gone, "_4_0"));

    const auto swept = platform::fs::SweepOwned(dir, NameForm{OwnedKind::ProbeFolder, ""});
    std::vector<std::string> left;
    for (const auto& entry : stdfs::directory_iterator(dir))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected{folder(gone, "_1_0"), folder("1", "_3_0"), folder(gone, "_4_0")};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
    EXPECT_EQ(swept.size(), 4u);
    for (const auto& entry : swept)
        EXPECT_EQ(entry.error, "") << entry.path;
    EXPECT_TRUE(stdfs::exists(dir / folder("1", "_3_0") / "inner"));
}

} // namespace
