#include "platform/fs/NativeFS.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "Foundation/TestSupport.h"

namespace {

namespace fs = platform::fs;
namespace stdfs = std::filesystem;

TEST(NativeFS, BackslashesAreSeparators)
{
    EXPECT_EQ(fs::NativePath("a\\b/c\\"), "a/b/c/");
    TempDir dir;
    WriteFile(dir / "f", "1234");
    fs::Status status;
    ASSERT_TRUE(fs::GetStatus(dir.Path() + "\\f", status));
    EXPECT_FALSE(status.isDirectory);
    EXPECT_EQ(status.size, 4u);
    ASSERT_TRUE(fs::GetStatus(dir.Path(), status));
    EXPECT_TRUE(status.isDirectory);
    EXPECT_FALSE(fs::GetStatus(dir / "none", status));
}

TEST(NativeFS, FolderOperationsWorkOneLevelAtATime)
{
    TempDir dir;
    EXPECT_EQ(fs::MakeFolder(dir / "a/b"), ENOENT);
    EXPECT_EQ(fs::MakeFolder(dir / "a"), 0);
    EXPECT_EQ(fs::MakeFolder(dir / "a"), EEXIST);
    WriteFile(dir / "a/f", "x");
    EXPECT_NE(fs::RemoveFolder(dir / "a"), 0);   // not empty
    EXPECT_NE(fs::RemoveFile(dir / "a"), 0);     // never removes a folder
    EXPECT_EQ(fs::RemoveFile(dir / "a/f"), 0);
    EXPECT_EQ(fs::RemoveFolder(dir / "a"), 0);
    EXPECT_FALSE(stdfs::exists(dir / "a"));
    EXPECT_FALSE(fs::ErrorText(ENOENT).empty());
}

// A move that fails leaves the source as it was, its mode too: a folder cannot replace a file.
TEST(NativeFS, AFailedMoveOverKeepsTheSourceMode)
{
    TempDir dir;
    ASSERT_EQ(fs::MakeFolder(dir / "from"), 0);
    stdfs::permissions(dir / "from", stdfs::perms::owner_all);
    WriteFile(dir / "to", "x");
    stdfs::permissions(dir / "to", stdfs::perms::owner_read);
    EXPECT_NE(fs::MoveOver(dir / "from", dir / "to"), 0);
    EXPECT_EQ(stdfs::status(dir / "from").permissions(), stdfs::perms::owner_all);
    EXPECT_TRUE(stdfs::is_regular_file(dir / "to"));
}

TEST(NativeFS, FaultHookFailsChosenOperationsWithoutTouchingTheDisk)
{
    TempDir dir;
    WriteFile(dir / "f", "x");
    std::vector<std::string> seen;
    fs::SetFaultHook([&](fs::Operation op, const std::string& path) {
        seen.push_back(path);
        return op == fs::Operation::RemoveFile ? EACCES : 0;
    });
    EXPECT_EQ(fs::RemoveFile(dir / "f"), EACCES);
    EXPECT_EQ(fs::MakeFolder(dir / "d"), 0);
    fs::SetFaultHook(nullptr);
    EXPECT_TRUE(stdfs::exists(dir / "f"));
    EXPECT_TRUE(stdfs::is_directory(dir / "d"));
    EXPECT_EQ(seen, (std::vector<std::string>{dir / "f", dir / "d"}));
    EXPECT_EQ(fs::RemoveFile(dir / "f"), 0);
}

TEST(NativeFS, PauseHookReplacesTheSleep)
{
    std::vector<unsigned> pauses;
    fs::SetPauseHook([&](unsigned ms) { pauses.push_back(ms); });
    fs::Pause(fs::kRetryPauseMs);
    fs::SetPauseHook(nullptr);
    EXPECT_EQ(pauses, std::vector<unsigned>{20});
}

TEST(NativeFS, TempFolderEndsWithOneSlash)
{
    const std::string folder = fs::TempFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    fs::Status status;
    EXPECT_TRUE(fs::GetStatus(folder, status) && status.isDirectory);
}

// A replace through symbolic links: relative, absolute, chained and dangling links lead to the
// file that gets the bytes, and every link stays; a loop of links is refused and nothing is
// written.
TEST(NativeFS, AReplaceWritesThroughLinksAndKeepsThem)
{
    TempDir dir;
    ASSERT_EQ(fs::MakeFolder(dir / "real"), 0);
    WriteFile(dir / "real/file", "old");
    stdfs::create_symlink("real/file", dir / "relative");
    stdfs::create_symlink(dir / "relative", dir / "chained");
    stdfs::create_symlink("real/new", dir / "dangling");
    stdfs::create_symlink("loop-b", dir / "loop-a");
    stdfs::create_symlink("loop-a", dir / "loop-b");
    const struct {
        const char* link;
        const char* file;
    } cases[] = {{"relative", "real/file"}, {"chained", "real/file"}, {"dangling", "real/new"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        EXPECT_EQ(fs::ReplaceFile(dir / c.link, c.link), 0);
        EXPECT_TRUE(stdfs::is_symlink(dir / c.link));
        EXPECT_EQ(ReadFile(dir / c.file), c.link);
    }
    EXPECT_EQ(fs::ReplaceFile(dir / "loop-a", "x"), ELOOP);
    EXPECT_TRUE(stdfs::is_symlink(dir / "loop-a"));
    EXPECT_EQ(std::distance(stdfs::directory_iterator(dir / "real"), stdfs::directory_iterator()), 2);
}

} // namespace
