#include "platform/fs/TempFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Foundation/TestSupport.h"

namespace {

namespace stdfs = std::filesystem;

// Two hosts may write into one folder: the sweep takes only files of its own form and suffix
// that nobody holds, whatever process id the name carries (its own, too: a process of another
// pid namespace may have had it), never a held file, a user's, another writer's, a folder or a
// link.
TEST(TempFiles, SweepRemovesOnlyTheFilesThatNobodyHolds)
{
    TempDir dir;
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string gone = std::to_string(child);
    const std::string stale = ".d08.dwq." + gone + "-1.tmp";
    const std::string held = ".held." + gone + "-2.tmp";   // locked by a process elsewhere
    const std::string mine = ".d08.dwq." + std::to_string(::getpid()) + "-3.tmp";
    for (const std::string& name : {stale, held, mine, ".d08.dwq." + gone + "-4.part", "d08.dwq." + gone + "-5.tmp",
                                    std::string(".notes.tmp")})
        WriteFile(dir / name, "partial");
    stdfs::create_directory(dir / (".folder." + gone + "-6.tmp"));
    stdfs::create_symlink(dir / held, dir / (".link." + gone + "-7.tmp"));
    const int holder = ::open((dir / held).c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    EXPECT_EQ(platform::fs::SweepStaleTemps(dir.Path(), ".tmp"), 2);
    EXPECT_FALSE(stdfs::exists(dir / stale));
    EXPECT_FALSE(stdfs::exists(dir / mine));
    EXPECT_EQ(std::distance(stdfs::directory_iterator(dir.Path()), stdfs::directory_iterator()), 6);
    ::close(holder);
    EXPECT_EQ(platform::fs::SweepStaleTemps(dir.Path(), ".tmp"), 1);   // the lock is gone now
}

} // namespace
