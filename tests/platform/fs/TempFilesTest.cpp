#include "platform/fs/TempFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Foundation/TestSupport.h"
#include "platform/fs/NativeFS.h"

namespace {

namespace fs = platform::fs;
namespace stdfs = std::filesystem;

// The pid of a process that has ended.
pid_t GonePid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Restores the umask a test changed.
struct Umask {
    explicit Umask(mode_t mask) : old(::umask(mask)) {}
    ~Umask() { ::umask(old); }
    mode_t old;
};

// Names of 249 to 255 bytes, plain or ending in characters of several bytes: every temporary
// name fits the system's limit, stays in the target's folder, parses back to its owner, and
// never ends in half a character.
TEST(TempFiles, NamesFitWhateverTheTargetsNameIs)
{
    const std::string euro = "\xE2\x82\xAC";
    std::vector<std::string> names = {"d08.dwq", std::string(249, 'a'), std::string(255, 'b')};
    for (size_t extra = 0; extra < 3; ++extra)
        names.push_back(std::string(252 - 3 * 80 + extra, 'c') + [&] {
            std::string s;
            for (int i = 0; i < 80; ++i)
                s += euro;
            return s;
        }());
    for (const std::string& name : names) {
        const std::string temp = fs::TempNameBeside("/some/folder/" + name, 4194303, 123456789, ".tmp");
        ASSERT_EQ(temp.rfind("/some/folder/.", 0), 0u) << temp;
        const std::string base = temp.substr(std::string("/some/folder/").size());
        EXPECT_LE(base.size(), fs::kNameMax) << name.size();
        pid_t owner = 0;
        EXPECT_TRUE(fs::ParseTempName(base, ".tmp", owner)) << base;
        EXPECT_EQ(owner, 4194303);
        const std::string stem = base.substr(1, base.rfind(".4194303-") - 1);
        EXPECT_EQ(name.compare(0, stem.size(), stem), 0);
        if (name.size() + 1 + std::string(".4194303-123456789.tmp").size() <= fs::kNameMax) {
            EXPECT_EQ(stem, name);
        }
        // A cut never ends inside a character of several bytes.
        EXPECT_EQ(stem.size() < name.size() && (static_cast<unsigned char>(name[stem.size()]) & 0xC0) == 0x80, false)
            << name.size();
    }
}

TEST(TempFiles, ParsesOnlyItsOwnForm)
{
    struct Case {
        const char* name;
        const char* suffix;
        bool parses;
    } cases[] = {
        {".d08.dwq.1234-5.tmp", ".tmp", true},   {".d08.dwq.1234-5.part", ".part", true},
        {".d08.dwq.1234-5.part", ".tmp", false}, {"d08.dwq.1234-5.tmp", ".tmp", false},
        {"..1234-5.tmp", ".tmp", false},          {".d08.dwq.1234.tmp", ".tmp", false},
        {".d08.dwq.12a4-5.tmp", ".tmp", false},   {".d08.dwq.1234-.tmp", ".tmp", false},
        {".d08.dwq.-5.tmp", ".tmp", false},       {".notes.tmp", ".tmp", false},
        {".x.0-1.tmp", ".tmp", false},            {".x.12345678901-1.tmp", ".tmp", false},
    };
    for (const Case& c : cases) {
        pid_t owner = 0;
        EXPECT_EQ(fs::ParseTempName(c.name, c.suffix, owner), c.parses) << c.name << " " << c.suffix;
    }
}

// The sweep takes only files of its own form and suffix whose owner is gone and unlocked: never
// a live process's file, a user's file, another writer's file, a folder or a link.
TEST(TempFiles, SweepRemovesOnlyTheFilesOfGoneOwners)
{
    TempDir dir;
    const std::string gone = std::to_string(GonePid());
    const std::string mine = std::to_string(::getpid());
    const std::string stale = ".d08.dwq." + gone + "-1.tmp";
    WriteFile(dir / stale, "partial");
    WriteFile(dir / (".d08.dwq." + mine + "-2.tmp"), "being written");
    WriteFile(dir / (".d08.dwq." + gone + "-3.part"), "another writer's");
    WriteFile(dir / ("d08.dwq." + gone + "-4.tmp"), "a user's");
    WriteFile(dir / ".notes.tmp", "a user's");
    WriteFile(dir / "d08.dwq", "result");
    stdfs::create_directory(dir / (".folder." + gone + "-5.tmp"));
    stdfs::create_symlink(dir / "d08.dwq", dir / (".link." + gone + "-6.tmp"));
    // A process elsewhere that shares the folder holds its file's lock while it writes.
    const std::string held = ".held." + gone + "-7.tmp";
    WriteFile(dir / held, "held");
    const int holder = ::open((dir / held).c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    EXPECT_EQ(fs::SweepStaleTemps(dir.Path(), ".tmp"), 1);
    ::close(holder);
    std::vector<std::string> left;
    for (const auto& entry : stdfs::directory_iterator(dir.Path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left.size(), 8u);
    EXPECT_FALSE(stdfs::exists(dir / stale));
    EXPECT_EQ(fs::SweepStaleTemps(dir.Path(), ".tmp"), 1);   // the lock is gone now
}

// A temporary file is made with the mode of the file it will replace, and a new one with the
// process's default; the next temporary file in the folder removes the one a killed writer left.
TEST(TempFiles, CreateKeepsTheTargetsModeAndSweepsTheFolder)
{
    TempDir dir;
    const Umask mask(027);
    WriteFile(dir / "private.qxp", "doc");
    ::chmod((dir / "private.qxp").c_str(), 0600);
    const std::string stale = dir / (".private.qxp." + std::to_string(GonePid()) + "-1.tmp");
    WriteFile(stale, "partial");

    struct Case {
        std::string target;
        mode_t mode;
    } cases[] = {{dir / "private.qxp", 0600}, {dir / "new.qxp", 0640}};
    for (const Case& c : cases) {
        int fd = -1;
        std::string path;
        ASSERT_EQ(fs::CreateTempBeside(c.target, ".tmp", fd, path), 0);
        EXPECT_EQ(ModeOf(path), c.mode) << c.target;
        EXPECT_EQ(stdfs::path(path).parent_path(), stdfs::path(dir.Path()));
        ::close(fd);
        ::unlink(path.c_str());
    }
    EXPECT_FALSE(stdfs::exists(stale));
}

// A replaced file keeps its mode; a new one gets the process's default, never a fixed mode.
TEST(TempFiles, ReplaceFileKeepsModes)
{
    TempDir dir;
    const Umask mask(077);
    WriteFile(dir / "kept", "old");
    ::chmod((dir / "kept").c_str(), 0640);
    ASSERT_EQ(fs::ReplaceFile(dir / "kept", "new"), 0);
    EXPECT_EQ(ModeOf(dir / "kept"), 0640u);
    ASSERT_EQ(fs::ReplaceFile(dir / "fresh", "new"), 0);
    EXPECT_EQ(ModeOf(dir / "fresh"), 0600u);
    ASSERT_EQ(fs::ReplaceFile(dir / std::string(255, 'n'), "long"), 0);
    EXPECT_EQ(std::distance(stdfs::directory_iterator(dir.Path()), stdfs::directory_iterator()), 3);
}

} // namespace
