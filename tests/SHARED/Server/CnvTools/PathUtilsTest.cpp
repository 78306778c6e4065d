#include "SHARED/Server/CnvTools/PathUtils.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "Foundation/TestSupport.h"
#include "platform/fs/NativeFS.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
namespace fs = platform::fs;

// Counts the file-system calls and pauses of a test, and fails the calls it is told to fail.
class FaultScope {
public:
    FaultScope()
    {
        fs::SetFaultHook([this](fs::Operation op, const std::string&) {
            ++calls;
            if (op != failOp || failures == 0)
                return 0;
            --failures;
            return EBUSY;
        });
        fs::SetPauseHook([this](unsigned ms) { pauses.push_back(ms); });
    }
    ~FaultScope()
    {
        fs::SetFaultHook(nullptr);
        fs::SetPauseHook(nullptr);
    }

    // The next `count` calls of `op` fail.
    void Fail(fs::Operation op, int count)
    {
        failOp = op;
        failures = count;
    }

    int calls = 0;
    int failures = 0;
    fs::Operation failOp = fs::Operation::RemoveFile;
    std::vector<unsigned> pauses;
};

// Every case is written with backslashes and runs once as written and once with slashes.
template <class TStr>
class PathFunctions : public ::testing::Test {
protected:
    template <class Body>
    void ForBothSeparators(Body body)
    {
        for (char separator : {'\\', '/'}) {
            SCOPED_TRACE(std::string("separator ") + separator);
            body([separator](const std::string& text) {
                std::string converted = text;
                for (char& c : converted)
                    if (c == '\\')
                        c = separator;
                return MakeStr<TStr>(converted);
            });
        }
    }

    static TStr S(const std::string& text) { return MakeStr<TStr>(text); }
};

using StringTypes = ::testing::Types<std::string, ustring>;
TYPED_TEST_SUITE(PathFunctions, StringTypes);

TYPED_TEST(PathFunctions, StripTrailingNeverRemovesTheFirstCharacter)
{
    using TStr = TypeParam;
    TStr text = this->S("\\\\");
    EXPECT_EQ(StripTrailing(text, '\\'), 1u);
    EXPECT_EQ(text, this->S("\\"));
    text = this->S("abc\\");
    EXPECT_EQ(StripTrailing(text, '\\'), 1u);
    EXPECT_EQ(text, this->S("abc"));
    text = TStr();
    EXPECT_EQ(StripTrailing(text, '\\'), 0u);
    text = this->S("a\\//");
    EXPECT_EQ(StripTrailing(text, '/'), 2u);
    EXPECT_EQ(StripTrailingSeparators(text), 1u);
    EXPECT_EQ(text, this->S("a"));
}

TYPED_TEST(PathFunctions, GetExtensionIgnoresDotsOutsideTheLastName)
{
    this->ForBothSeparators([&](auto P) {
        using TStr = TypeParam;
        EXPECT_EQ(GetExtension(P("C:\\dir.old\\file"), false), TStr());
        EXPECT_EQ(GetExtension(P("a.TXT"), true), P(".TXT"));
        EXPECT_EQ(GetExtension(P("a.TXT"), false), P("TXT"));
        EXPECT_EQ(GetExtension(P(".txt"), false), TStr());
        EXPECT_EQ(GetExtension(P("file."), false), TStr());
        EXPECT_EQ(GetExtension(P("file."), true), P("."));
        EXPECT_EQ(GetExtension(P("a..b"), false), TStr());
        EXPECT_EQ(GetExtension(P("dir\\.profile"), false), TStr());
        EXPECT_EQ(GetExtension(P("C:.x"), false), TStr());
        EXPECT_EQ(GetExtension(P("C:\\a\\file.txt"), false), P("txt"));
    });
}

TYPED_TEST(PathFunctions, GetFileNameNeedsASeparator)
{
    this->ForBothSeparators([&](auto P) {
        using TStr = TypeParam;
        EXPECT_EQ(GetFileName(P("file.txt"), true), TStr());
        EXPECT_EQ(GetFileName(P("C:\\a\\file.txt"), false), P("file"));
        EXPECT_EQ(GetFileName(P("C:\\a\\file.txt"), true), P("file.txt"));
        EXPECT_EQ(GetFileName(P("C:\\dir.old\\file"), false), P("file"));
        EXPECT_EQ(GetFileName(P("C:\\a\\"), false), TStr());
    });
    EXPECT_EQ(GetFileName(this->S("C:\\a/b\\c.d"), true), this->S("c.d"));
    EXPECT_EQ(GetFileName(this->S("C:/a\\b/c.d"), true), this->S("c.d"));
}

TYPED_TEST(PathFunctions, SplitAssignsOnlyOnceASeparatorIsFound)
{
    this->ForBothSeparators([&](auto P) {
        using TStr = TypeParam;
        TStr folder, name, extension;
        EXPECT_TRUE(SplitPathAtBackslash(P("C:\\x"), folder, name, &extension, false));
        EXPECT_EQ(folder, P("C:"));
        EXPECT_EQ(name, P("x"));
        EXPECT_EQ(extension, TStr());

        EXPECT_FALSE(SplitPathAtBackslash(P("C:\\"), folder, name, nullptr, false));
        EXPECT_EQ(folder, P("C:"));
        EXPECT_EQ(name, TStr());

        EXPECT_FALSE(SplitPathAtBackslash(P("\\x"), folder, name, nullptr, false));
        EXPECT_EQ(folder, TStr());
        EXPECT_EQ(name, P("x"));

        folder = P("kept");
        name = P("kept");
        EXPECT_FALSE(SplitPathAtBackslash(P("plain.ext"), folder, name, &extension, false));
        EXPECT_EQ(folder, P("kept"));
        EXPECT_EQ(name, P("kept"));
        EXPECT_EQ(extension, P("ext"));

        EXPECT_TRUE(SplitPathAtBackslash(P("C:\\my.dir\\f.txt"), folder, name, &extension, false));
        EXPECT_EQ(folder, P("C:\\my.dir"));
        EXPECT_EQ(name, P("f"));
        EXPECT_EQ(extension, P("txt"));
        EXPECT_TRUE(SplitPathAtBackslash(P("C:\\my.dir"), folder, name, nullptr, true));
        EXPECT_EQ(name, P("my.dir"));
    });
}

TYPED_TEST(PathFunctions, ChangeExtensionActsOnTheLastNameOnly)
{
    this->ForBothSeparators([&](auto P) {
        auto path = P("C:\\a\\b.qxp");
        EXPECT_TRUE(ChangeExtension(path, P("pdf"), false, false));
        EXPECT_EQ(path, P("C:\\a\\b.pdf"));

        path = P("C:\\a\\b.pdf");
        EXPECT_TRUE(ChangeExtension(path, P(".PDF"), false, false));
        EXPECT_EQ(path, P("C:\\a\\b.pdf"));   // equal ignoring case: the path keeps its case

        path = P("C:\\a\\b.html");
        EXPECT_FALSE(ChangeExtension(path, P("pdf"), true, false));
        EXPECT_EQ(path, P("C:\\a\\b.html"));

        path = P("C:\\a\\b");
        EXPECT_FALSE(ChangeExtension(path, P("pdf"), false, false));
        EXPECT_TRUE(ChangeExtension(path, P("pdf"), false, true));
        EXPECT_EQ(path, P("C:\\a\\b.pdf"));

        // A dot in a folder name is no extension: the file keeps its folder and name.
        path = P("C:\\my.dir\\b");
        EXPECT_FALSE(ChangeExtension(path, P("pdf"), false, false));
        EXPECT_EQ(path, P("C:\\my.dir\\b"));
        EXPECT_TRUE(ChangeExtension(path, P("qxp"), true, true));
        EXPECT_EQ(path, P("C:\\my.dir\\b.qxp"));
    });
}

TYPED_TEST(PathFunctions, CompareStringsFoldsOnlyWhenNotExact)
{
    EXPECT_TRUE(CompareStrings(this->S("ABC"), this->S("abc"), false));
    EXPECT_FALSE(CompareStrings(this->S("ABC"), this->S("abc"), true));
    EXPECT_FALSE(CompareStrings(this->S("ab"), this->S("abc"), false));
    EXPECT_FALSE(CompareStrings(this->S("\xC4"), this->S("\xE4"), false));
    EXPECT_TRUE(CompareStrings(this->S("a\\B"), this->S("A\\b"), false));
}

TYPED_TEST(PathFunctions, JoinWritesOneSlash)
{
    EXPECT_EQ(JoinPath(this->S("a"), this->S("b")), this->S("a/b"));
    EXPECT_EQ(JoinPath(this->S("a\\"), this->S("b")), this->S("a\\b"));
    EXPECT_EQ(JoinPath(this->S("/"), this->S("b")), this->S("/b"));
    EXPECT_EQ(JoinPath(this->S(""), this->S("b")), this->S("b"));
}

TYPED_TEST(PathFunctions, ExistenceAndSizeOnDisk)
{
    TempDir dir;
    WriteFile(dir / "five", "12345");
    this->ForBothSeparators([&](auto P) {
        bool isDirectory = false;
        EXPECT_TRUE(PathExists(P(dir.Path() + "\\"), &isDirectory));
        EXPECT_TRUE(isDirectory);
        EXPECT_TRUE(PathExists(P(dir.Path() + "\\five"), &isDirectory));
        EXPECT_FALSE(isDirectory);
        isDirectory = true;
        EXPECT_FALSE(PathExists(P(dir.Path() + "\\none"), &isDirectory));
        EXPECT_TRUE(isDirectory);   // untouched on failure
        EXPECT_FALSE(PathExists(P("")));

        EXPECT_EQ(FileSizeOf(P(dir.Path() + "\\five")), 5u);
        EXPECT_EQ(FileSizeOf(P(dir.Path() + "\\five\\")), 5u);
        EXPECT_EQ(FileSizeOf(P(dir.Path())), 0u);
        EXPECT_EQ(FileSizeOf(P(dir.Path() + "\\none")), 0u);
        EXPECT_EQ(FileSizeOf(P("")), 0u);
    });
}

TYPED_TEST(PathFunctions, RemoveFileTriesAtMostOneMoreTimePerRetry)
{
    TempDir dir;
    const auto path = this->S(dir / "locked");
    FaultScope faults;
    EXPECT_FALSE(RemoveFile(this->S(dir / "missing"), 3));
    EXPECT_EQ(faults.calls, 0);   // nothing is tried for a missing file

    WriteFile(dir / "locked", "x");
    faults.Fail(fs::Operation::RemoveFile, 1000);
    EXPECT_FALSE(RemoveFile(path, 3));
    EXPECT_EQ(faults.calls, 4);
    EXPECT_EQ(faults.pauses, (std::vector<unsigned>{20, 20, 20}));
    EXPECT_TRUE(PathExists(path));

    // Released before the fourth try.
    faults.calls = 0;
    faults.pauses.clear();
    faults.Fail(fs::Operation::RemoveFile, 3);
    EXPECT_TRUE(RemoveFile(path, 3));
    EXPECT_EQ(faults.calls, 4);
    EXPECT_FALSE(PathExists(path));
}

TYPED_TEST(PathFunctions, RemoveFileNeverRemovesAFolder)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "sub");
    EXPECT_FALSE(RemoveFile(this->S(dir / "sub"), 0));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "sub"));
}

TYPED_TEST(PathFunctions, CreateDirectoryMakesOneLevelAndLogsFailures)
{
    TempDir dir;
    this->ForBothSeparators([&](auto P) {
        CaptureStderr();
        EXPECT_FALSE(createDirectory(P(dir.Path())));
        EXPECT_EQ(GetCapturedStderr(), "");   // an existing path is refused silently

        CaptureStderr();
        EXPECT_FALSE(createDirectory(P(dir.Path() + "\\missing\\sub")));
        const std::string log = GetCapturedStderr();
        EXPECT_NE(log.find("PathUtils.cpp["), std::string::npos);
        EXPECT_NE(log.find("]:createDirectory():\nError: "), std::string::npos);
    });
    EXPECT_TRUE(createDirectory(this->S(dir / "made")));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "made"));
    EXPECT_FALSE(createDirectory(this->S("")));

    FaultScope faults;
    faults.Fail(fs::Operation::MakeFolder, 1);
    CaptureStderr();
    EXPECT_FALSE(createDirectory(this->S(dir / "refused")));
    EXPECT_NE(GetCapturedStderr().find("Error: " + fs::ErrorText(EBUSY)), std::string::npos);
}

TYPED_TEST(PathFunctions, RemoveDirectoryRetriesAndLogsAllButTheLastFailure)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "full");
    WriteFile(dir / "full/f", "x");
    FaultScope faults;
    CaptureStderr();
    EXPECT_FALSE(removeDirectory(this->S(dir / "full"), 3));
    const std::string log = GetCapturedStderr();
    std::size_t errors = 0;
    for (std::size_t at = log.find("Error: "); at != std::string::npos; at = log.find("Error: ", at + 1))
        ++errors;
    EXPECT_EQ(errors, 3u);
    EXPECT_EQ(faults.calls, 4);
    EXPECT_EQ(faults.pauses.size(), 3u);

    std::filesystem::remove(dir / "full/f");
    EXPECT_TRUE(removeDirectory(this->S(dir / "full"), 3));
    EXPECT_FALSE(removeDirectory(this->S(dir / "full"), 3));
    WriteFile(dir / "file", "x");
    EXPECT_FALSE(removeDirectory(this->S(dir / "file"), 3));
}

// TMPDIR for the length of a test.
class TempDirVariable {
public:
    explicit TempDirVariable(const std::string& value)
    {
        if (const char* old = std::getenv("TMPDIR")) {
            m_had = true;
            m_old = old;
        }
        ::setenv("TMPDIR", value.c_str(), 1);
    }
    ~TempDirVariable()
    {
        if (m_had)
            ::setenv("TMPDIR", m_old.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

private:
    bool m_had = false;
    std::string m_old;
};

TYPED_TEST(PathFunctions, SystemTempPathHasNoTrailingSeparator)
{
    TempDir dir;
    {
        TempDirVariable variable(dir.Path() + "//");
        TypeParam path;
        EXPECT_TRUE(GetSystemTempPath(path));
        EXPECT_EQ(path, this->S(dir.Path()));
        EXPECT_EQ(SystemTempPath<TypeParam>(), this->S(dir.Path()));
    }
    {
        TempDirVariable variable(dir / "missing");
        EXPECT_EQ(SystemTempPath<TypeParam>(), TypeParam());
    }
    {
        TempDirVariable variable("/" + std::string(kLongestPath, 'x'));
        TypeParam path = this->S("kept");
        EXPECT_FALSE(GetSystemTempPath(path));
    }
}

// Paths work up to the system's limit, well past the 259 bytes of old buffers.
TYPED_TEST(PathFunctions, PathsLongerThanThreeHundredBytesComeWhole)
{
    TempDir dir;
    const std::filesystem::path deep =
        std::filesystem::path(dir.Path()) / std::string(120, 'a') / std::string(120, 'b') / std::string(120, 'c');
    std::filesystem::create_directories(deep);
    {
        TempDirVariable variable(deep.string());
        EXPECT_EQ(SystemTempPath<TypeParam>(), this->S(deep.string()));
    }
    FakeHostServices host;
    const std::string longest = "/" + std::string(kLongestPath - 1, 'p');
    for (const std::string& full : {deep.string() + "/doc.qxp", longest}) {
        TypeParam path;
        EXPECT_EQ(FileSpecToPath(path, host.MakeSpec(full, "doc.qxp"), false), 0);
        EXPECT_EQ(path, this->S(full));
    }
}

TEST(HostFileSpecs, PathAndNameComeFromTheHost)
{
    FakeHostServices host;
    const HostFileSpec spec = host.MakeSpec("/docs/LONGNA~1.qxp", "long name.qxp");
    ustring name;
    EXPECT_EQ(GetFileSpecName(spec, name), 0);
    EXPECT_EQ(name, ToUString("long name.qxp"));

    std::string path;
    EXPECT_EQ(FileSpecToPath(path, spec, false), 0);
    EXPECT_EQ(path, "/docs/LONGNA~1.qxp");
    ustring wide;
    EXPECT_EQ(FileSpecToPath(wide, spec, true), 0);
    EXPECT_EQ(wide, ToUString("/docs/long name.qxp"));

    // Only a three-character extension takes the file spec's name.
    const HostFileSpec other = host.MakeSpec("/docs/SHORT.html", "short name.html");
    EXPECT_EQ(FileSpecToPath(path, other, true), 0);
    EXPECT_EQ(path, "/docs/SHORT.html");
    const HostFileSpec backslashed = host.MakeSpec("C:\\docs\\A.qxp", "b.qxp");
    EXPECT_EQ(FileSpecToPath(path, backslashed, true), 0);
    EXPECT_EQ(path, "C:\\docs\\b.qxp");
}

TEST(HostFileSpecs, FailuresAnswerTheHostsCode)
{
    HostFileSpec unknown{};
    SetFileSpecName(unknown, "x.qxp");
    std::string path = "old";
    EXPECT_EQ(FileSpecToPath(path, unknown, true), 12);   // no host installed
    EXPECT_EQ(path, "");
    {
        FakeHostServices host;
        unknown.parentId = 999;
        EXPECT_EQ(FileSpecToPath(path, unknown, false), XT_ERR_FILE_NOT_FOUND);
        EXPECT_EQ(path, "");
        const HostFileSpec tooLong = host.MakeSpec("/" + std::string(kLongestPath, 'p'), "p");
        EXPECT_EQ(FileSpecToPath(path, tooLong, false), XT_ERR_BAD_NAME);
    }
}

TEST(HostFileSpecs, NameFieldIsBoundedByTheRecord)
{
    HostFileSpec spec{};
    SetFileSpecName(spec, std::string(400, 'n'));
    EXPECT_EQ(FileSpecName(spec).size(), 255u);
    std::memset(spec.name, 'z', sizeof spec.name);   // no terminator at all
    EXPECT_EQ(FileSpecName(spec).size(), 256u);
}

TEST(HostFileSpecs, HostTempFolder)
{
    EXPECT_EQ(GetHostTempPath(), "");   // no host
    FakeHostServices host;
    host.tempFolder = "/var/host-temp";
    EXPECT_EQ(GetHostTempFolder(), ToUString("/var/host-temp"));
    EXPECT_EQ(GetHostTempPath(), "/var/host-temp");
    host.tempFolderResult = XT_ERR_DIR_NOT_FOUND;
    EXPECT_EQ(GetHostTempPath(), "");
    EXPECT_EQ(host.OpenHandles(), 0);
}

} // namespace
