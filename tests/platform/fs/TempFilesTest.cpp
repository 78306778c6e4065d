#include "platform/fs/TempFiles.h"
#include "platform/fs/NativeFS.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>

#include <fcntl.h>
#include <sys/file.h>

#include "Foundation/TestSupport.h"
#include "platform/fs/Accounts.h"

namespace {

namespace stdfs = std::filesystem;
using platform::fs::TempNameBeside;
using kesto_test::AsAccount;
using kesto_test::Own;

constexpr uid_t kRunner = 4201;
constexpr uid_t kOther = 4202;
constexpr gid_t kTeam = 4200;

// Makes the folders in dir, each of its owner and group with its mode, below a folder all may enter.
void Folders(const TempDir& dir, std::initializer_list<std::tuple<const char*, uid_t, gid_t, mode_t>> folders)
{
    ::chmod(dir.Path().c_str(), 0755);
    for (const auto& [name, owner, group, mode] : folders) {
        stdfs::create_directory(dir / name);
        Own(dir / name, owner, group, mode);
    }
}

// A link, at the end of a path or on the way, is followed only when its owner is the process's or
// its folder's owner, and so is the file or folder it leads to (or the folder a new one goes
// into). The planted links of a shared folder are the host run's cases (SharedFolderRunTest);
// these are the rest.
TEST(TempFiles, ALinkIsFollowedOnlyWhenNoOtherUserCanHavePlantedIt)
{
    KESTO_SKIP_UNLESS_ROOT();
    struct Link { const char *name, *to; bool others; };   // others: planted by the other user
    // via: a link that link names; below: the rest of the path when link is a folder on the way
    const struct { Link link, via; bool followed; const char* below = ""; } cases[] = {
        {{"shared/own", "../mine/file", false}, {}, true},
        {{"theirs/theirs", "file", true}, {}, true},
        {{"theirs/to-mine", "../mine/file", true}, {}, false},
        {{"shared/chain", "../theirs/hop", false}, {"theirs/hop", "../mine/file", true}, false},
        {{"mine/new", "made", false}, {}, true},
        {{"shared/planted-new", "../mine/made", true}, {}, false},
        {{"shared/own-folder", "../mine", false}, {}, true, "/file"},
        {{"theirs/their-folder", ".", true}, {}, true, "/file"},
        {{"theirs/to-my-folder", "../mine", true}, {}, false, "/file"},
        {{"shared/own-to-theirs", "../theirs", false}, {}, false, "/new"},
        {{"shared/folder-chain", "../theirs/folder-hop", false}, {"theirs/folder-hop", "../mine", true}, false, "/x/y"},
        {{"shared/own-to-theirs-slash", "../theirs/", false}, {}, false},
        {{"theirs/to-my-folder-dot", "../mine/.", true}, {}, false},
    };
    for (const uid_t runner : {kRunner, uid_t(0)}) {
        TempDir dir;
        Folders(dir, {{"shared", 0, 0, 01777}, {"mine", runner, runner, 0755}, {"theirs", kOther, kOther, 0755}});
        WriteFile(dir / "mine/file", "the runner's");
        Own(dir / "mine/file", runner, runner, 0644);
        WriteFile(dir / "theirs/file", "the other's");
        Own(dir / "theirs/file", kOther, kOther, 0666);
        std::string expected;
        for (const auto& c : cases) {
            for (const Link& link : {c.via, c.link})
                if (link.name) {
                    stdfs::create_symlink(link.to, dir / link.name);
                    Own(dir / link.name, link.others ? kOther : runner, link.others ? kOther : runner, 0);
                }
            expected += std::string(c.link.name) + (c.followed ? " followed\n" : " refused\n");
        }
        const std::string seen = AsAccount({runner, {}}, [&] {
            std::string out;
            for (const auto& c : cases) {
                std::string resolved;
                const std::string path = dir / c.link.name + c.below;
                const int error = platform::fs::ResolveLinks(path, resolved);
                const bool refused = !platform::fs::ReplaceRefusal(path).empty();
                out += std::string(c.link.name) +
                       (error == 0 && !refused ? " followed\n" : error == EACCES && refused ? " refused\n" : " ?\n");
            }
            return out;
        });
        EXPECT_EQ(seen, expected) << "as " << runner;
        EXPECT_EQ(ReadFile(dir / "mine/file"), "the runner's");
    }
}

// A team member replaces what it may write never with a wider mode: where the group cannot be
// kept, the new group and others get only what both had; the rest is refused with the reason.
// A colleague's 0664 file in a team folder is the host run's case (SharedFolderRunTest).
TEST(TempFiles, AFileTheProcessMayWriteIsReplacedInItsGroupAndNoWider)
{
    KESTO_SKIP_UNLESS_ROOT();
    // result: the reason of the refusal, or the new file's owner, group and mode
    const struct { const char* name; uid_t owner; gid_t group; mode_t mode; const char* result; } cases[] = {
        {"team/colleague-private", kOther, kTeam, 0644, "this user may not write it"},
        {"team/own-read-only", kRunner, kTeam, 0444, "it is read-only"},
        {"open/everyones", 0, 0, 0662, "4201 4201 622"},
        {"open/not-the-groups", 0, 0, 0646, "4201 4201 644"},
        {"sticky/sticky", 0, 0, 0666, "its folder lets only the file's owner replace it"},
    };
    TempDir dir;
    Folders(dir, {{"team", 0, kTeam, 02775}, {"open", 0, 0, 0777}, {"sticky", 0, 0, 01777}});
    std::string expected;
    for (const auto& c : cases) {
        WriteFile(dir / c.name, "old");
        Own(dir / c.name, c.owner, c.group, c.mode);
        expected += std::string(c.name) + ": " + c.result + "\n";
    }
    const std::string seen = AsAccount({kRunner, {kRunner, kTeam}}, [&] {
        std::string out;
        for (const auto& c : cases) {
            const std::string path = dir / c.name;
            std::string result = platform::fs::ReplaceRefusal(path);
            struct stat st {};
            char made[64] = "";
            if (result.empty() && platform::fs::ReplaceFile(path, "new") == 0 && ::stat(path.c_str(), &st) == 0)
                std::snprintf(made, sizeof made, "%u %u %o", st.st_uid, st.st_gid, st.st_mode & 07777);
            out += std::string(c.name) + ": " + (result.empty() ? made : result) + "\n";
        }
        return out;
    });
    EXPECT_EQ(seen, expected);
}

// The sweep takes only its user's files of the program's form and suffix that nobody holds,
// whatever pid the name carries (its own too: another pid namespace may have had it); never a
// held file, a look-alike, an earlier build's form, another user's, a folder or a link.
TEST(TempFiles, SweepRemovesOnlyItsUsersFilesThatNobodyHolds)
{
    TempDir dir;
    const pid_t child = kesto_test::GonePid();
    const auto name = [&](const char* stem, pid_t pid, unsigned long random, const char* suffix) {
        return stdfs::path(TempNameBeside(dir / stem, pid, random, suffix)).filename().string();
    };
    const std::string stale = name("d08.dwq", child, 1, ".tmp");
    const std::string held = name("held", child, 2, ".tmp");   // locked by a process elsewhere
    const std::string mine = name("d08.dwq", ::getpid(), 3, ".tmp");
    const std::string others = name("theirs", child, 4, ".tmp");
    for (const std::string& file :
         {stale, held, mine, others, name("d08.dwq", child, 5, ".part"), std::string(".budget.2024-03.tmp"),
          ".d08.dwq." + std::to_string(child) + "-6.tmp", std::string(".notes.tmp")})
        WriteFile(dir / file, "partial");
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown((dir / others).c_str(), kOther, kOther), 0);
    }
    stdfs::create_directory(dir / name("folder", child, 7, ".tmp"));
    stdfs::create_symlink(dir / held, dir / name("link", child, 8, ".tmp"));
    const int holder = ::open((dir / held).c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    EXPECT_EQ(platform::fs::SweepStaleTemps(dir.Path(), ".tmp"), ::geteuid() == 0 ? 2 : 3);
    EXPECT_FALSE(stdfs::exists(dir / stale));
    EXPECT_FALSE(stdfs::exists(dir / mine));
    ::close(holder);
    EXPECT_EQ(platform::fs::SweepStaleTemps(dir.Path(), ".tmp"), 1);   // the lock is gone now
    EXPECT_EQ(std::distance(stdfs::directory_iterator(dir.Path()), stdfs::directory_iterator()),
              ::geteuid() == 0 ? 7 : 6);
}

} // namespace
