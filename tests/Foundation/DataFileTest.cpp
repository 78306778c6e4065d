#include "Foundation/DataFile.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <sstream>

#include <sys/stat.h>

#include "Foundation/TestSupport.h"
#include "platform/fs/NativeFS.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class DataFileTest : public ::testing::Test {
protected:
    // Loads the text as a file and answers what the load reported.
    std::string LoadText(CDataFile& data, const std::string& text)
    {
        WriteFile(m_path, text);
        CaptureStdout();
        EXPECT_TRUE(data.Load(m_path));
        return GetCapturedStdout();
    }

    TempDir m_dir;
    std::string m_path = m_dir / "data.ini";
};

TEST_F(DataFileTest, SavesTheDocumentedExampleByteForByte)
{
    CDataFile data;
    data.SetFileName(m_path);
    ASSERT_TRUE(data.SetValue("a", "1", "", ""));
    ASSERT_TRUE(data.SetValue("b", "x", "note", "Server"));
    ASSERT_TRUE(data.Save());
    EXPECT_EQ(ReadFile(m_path), "a=1\n\n[Server]\n\n; note\nb=x\n");
    EXPECT_FALSE(data.IsDirty());
}

// How lines read: a key line splits at its first separator and is trimmed, though a blank
// after the separator stays; names compare without case; a section line without its closing
// bracket takes the rest; CR LF ends a line as LF does; a zero byte ends a line.
TEST_F(DataFileTest, LinesReadByTheirRules)
{
    const struct {
        std::string text;
        // key, section, value, and the key's comment where it is checked
        std::vector<std::array<const char*, 4>> seen;
    } cases[] = {
        {"key = value\nother=value  \na:b=c\n",
         {{"key", "", " value"}, {"other", "", "value"}, {"a", "", "b=c"}, {"KEY", "", " value"}}},
        {"[abc\nk=v\n", {{"k", "abc", "v"}}},
        {"[Options]\r\nkey=value\r\n; c\r\nother=2\r\n", {{"key", "Options", "value"}, {"other", "Options", "2", "\n; c"}}},
        {std::string("k=v\0junk\nn=1\n", 13), {{"k", "", "v"}, {"n", "", "1"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CDataFile data;
        LoadText(data, c.text);
        for (const auto& [key, section, value, comment] : c.seen) {
            EXPECT_EQ(data.GetValue(key, section), value) << key;
            if (comment) {
                ASSERT_NE(data.GetKey(key, section), nullptr) << key;
                EXPECT_EQ(data.GetKey(key, section)->m_comment, comment) << key;
            }
        }
    }
}

TEST_F(DataFileTest, KeyWithoutValueIsDroppedAndItsCommentWaits)
{
    CDataFile data;
    LoadText(data, "; waiting\nkey=\n=value\nreal=1\n");
    EXPECT_FALSE(data.HasKey("key", ""));
    EXPECT_FALSE(data.HasKey("value", ""));
    ASSERT_NE(data.GetKey("real", ""), nullptr);
    EXPECT_EQ(data.GetKey("real", "")->m_comment, "\n; waiting");
    EXPECT_EQ(data.KeyCount(), 1);
}

TEST_F(DataFileTest, SectionNamesKeepInnerTextAndRepeatsJoinTheFirst)
{
    CDataFile data;
    const std::string report = LoadText(data, "[ Name ] x\nk1=1\n[NAME]\n[other]\n[ name  x]\nk2=2\n");
    ASSERT_NE(data.GetSection(" Name  x"), nullptr);
    EXPECT_EQ(data.GetSection(" Name  x")->m_keys.size(), 2u);
    EXPECT_EQ(data.SectionCount(), 4);   // unnamed, " Name  x", "NAME", "other"
    EXPECT_NE(report.find("<info> [CDataFile::CreateSection] Section < name  x> allready exists. Aborting.\n"),
              std::string::npos);
}

TEST_F(DataFileTest, MultiLineCommentsAreKeptAndSavedBeforeTheirKey)
{
    CDataFile data;
    LoadText(data, ";one\n;two\n# three\nk=v\n; Note:\n[S]\n");
    EXPECT_EQ(data.GetKey("k", "")->m_comment, "\n;one\n;two\n# three");
    EXPECT_EQ(data.GetSection("S")->m_comment, "\n; Note");   // the trailing ':' is trimmed
    ASSERT_TRUE(data.Save());
    EXPECT_EQ(ReadFile(m_path), "\n;one\n;two\n# three\nk=v\n\n; Note\n[S]\n");
}

TEST_F(DataFileTest, BooleansFollowTheirTextRules)
{
    CDataFile data;
    LoadText(data, "a=10\nb=-1\nc=0.1\nd=TRUE\ne=Yes\nf=0\ng=no\nh=on\n");
    for (const char* key : {"a", "b", "c", "d", "e"})
        EXPECT_TRUE(data.GetBool(key, "")) << key;
    for (const char* key : {"f", "g", "h", "absent"})
        EXPECT_FALSE(data.GetBool(key, "")) << key;
}

TEST_F(DataFileTest, FreshFileSavesEmptyAndClearedFileHasNothingToSave)
{
    CDataFile data;
    data.SetFileName(m_path);
    EXPECT_TRUE(data.Save());
    EXPECT_EQ(ReadFile(m_path), "");

    data.Clear();
    data.SetFileName(m_path);
    CaptureStdout();
    EXPECT_FALSE(data.Save());
    EXPECT_EQ(GetCapturedStdout(), "<info> [CDataFile::Save] Nothing to save.\n");
}

TEST_F(DataFileTest, EmptyValueIsAcceptedButNotSaved)
{
    CDataFile data;
    data.SetFileName(m_path);
    ASSERT_TRUE(data.SetValue("k", "v", "", "S"));
    EXPECT_TRUE(data.SetValue("k", "", "", "S"));
    EXPECT_FALSE(data.SetValue("new", "", "", "S"));   // a missing key needs a value
    ASSERT_TRUE(data.Save());
    EXPECT_EQ(ReadFile(m_path), "\n[S]\n");
}

TEST_F(DataFileTest, AutoCreateFlagsGuardNewSectionsAndKeys)
{
    CDataFile data;
    data.m_flags = 0;
    EXPECT_FALSE(data.SetValue("k", "v", "", "S"));
    data.m_flags = CDataFile::AutoCreateSections;
    EXPECT_FALSE(data.SetValue("k", "v", "", "S"));
    EXPECT_NE(data.GetSection("S"), nullptr);   // the section was made before the key was refused
    data.m_flags = CDataFile::AutoCreateKeys;
    EXPECT_TRUE(data.SetValue("k", "v", "", "S"));
}

TEST_F(DataFileTest, MissingFileFailsAndKeepsTheFileName)
{
    CDataFile data;
    data.SetFileName("kept.ini");
    CaptureStdout();
    EXPECT_FALSE(data.Load(m_dir / "missing.ini"));
    EXPECT_FALSE(data.Load(m_dir.Path()));   // a folder is no data file
    EXPECT_EQ(GetCapturedStdout(),
              "<info> [CDataFile::Load] Unable to open file. Does it exist?\n"
              "<info> [CDataFile::Load] Unable to open file. Does it exist?\n");
    EXPECT_EQ(data.GetFileName(), "kept.ini");
}

TEST_F(DataFileTest, SaveReportsMissingNameAndUnwritableFile)
{
    CDataFile data;
    ASSERT_TRUE(data.SetValue("k", "v", "", ""));
    CaptureStdout();
    EXPECT_FALSE(data.Save());
    data.SetFileName(m_dir / "no-such-folder/data.ini");
    EXPECT_FALSE(data.Save());
    EXPECT_EQ(GetCapturedStdout(),
              "<error> [CDataFile::Save] No filename has been set.\n"
              "<error> [CDataFile::Save] Unable to save file.\n");
    data.Clear();   // nothing left to write at destruction
}

// A save writes a new file and renames it over the old one: a write that fails leaves the
// old file whole, and no temporary file stays behind either way.
TEST_F(DataFileTest, FailedSaveLeavesTheOldFileWholeAndNoTemporaryFile)
{
    WriteFile(m_path, "[S]\nk=old\n");
    ::chmod(m_path.c_str(), 0640);
    CDataFile data;
    CaptureStdout();
    ASSERT_TRUE(data.Load(m_path));
    ASSERT_TRUE(data.SetValue("k", "new", "", "S"));

    platform::fs::SetFaultHook([](platform::fs::Operation op, const std::string&) {
        return op == platform::fs::Operation::ReplaceFile ? ENOSPC : 0;
    });
    EXPECT_FALSE(data.Save());
    platform::fs::SetFaultHook({});
    EXPECT_EQ(GetCapturedStdout(), "<error> [CDataFile::Save] Unable to save file.\n");
    EXPECT_EQ(ReadFile(m_path), "[S]\nk=old\n");
    EXPECT_TRUE(data.IsDirty());

    ASSERT_TRUE(data.Save());
    EXPECT_EQ(ReadFile(m_path), "\n[S]\nk=new\n");
    struct stat st {};
    ASSERT_EQ(::stat(m_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);   // the file keeps its permissions
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path()),
                            std::filesystem::directory_iterator()), 1);
}

// Running out of room part-way (here: a file size limit) keeps the old text too.
TEST_F(DataFileTest, SaveCutShortByTheSystemKeepsTheOldFile)
{
    WriteFile(m_path, "[S]\nk=old\n");
    CDataFile data;
    CaptureStdout();
    ASSERT_TRUE(data.Load(m_path));
    ASSERT_TRUE(data.SetValue("k", std::string(4096, 'x'), "", "S"));

    const bool saved_ok = WithFileSizeLimit(100, [&] { return data.Save(); });
    GetCapturedStdout();

    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(ReadFile(m_path), "[S]\nk=old\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path()),
                            std::filesystem::directory_iterator()), 1);
    data.Clear();
}

TEST_F(DataFileTest, ChangingTheFileNameMarksTheDataChanged)
{
    CDataFile data;
    data.SetFileName("one.ini");
    EXPECT_FALSE(data.IsDirty());
    data.SetFileName("ONE.ini");   // the same name ignoring case: taken over silently
    EXPECT_FALSE(data.IsDirty());
    CaptureStdout();
    data.SetFileName("two.ini");
    EXPECT_EQ(GetCapturedStdout(),
              "<warn> [CDataFile::SetFileName] The filename has changed from <ONE.ini> to <two.ini>.\n");
    EXPECT_TRUE(data.IsDirty());
    data.Clear();
}

// A loaded file is written back at destruction only when its data changed: another program may
// have edited the file meanwhile, and a stale copy must not overwrite that.
TEST_F(DataFileTest, OnlyChangedDataIsSavedAtDestruction)
{
    for (const bool change : {false, true}) {
        SCOPED_TRACE(change ? "changed" : "loaded alone");
        WriteFile(m_path, "[S]\nk=v\n\nunknown line\n");
        {
            CDataFile data;
            ASSERT_TRUE(data.Load(m_path));
            EXPECT_FALSE(data.IsDirty());
            if (change)
                ASSERT_TRUE(data.SetValue("k", "w", "", "S"));
            else
                WriteFile(m_path, "[S]\nk=edited\n");
        }
        EXPECT_EQ(ReadFile(m_path), change ? "\n[S]\nk=w\n" : "[S]\nk=edited\n");
    }
}

TEST_F(DataFileTest, ReloadReplacesTheOldContents)
{
    CDataFile data;
    LoadText(data, "[S]\nold=1\nk=1\n");
    const std::string report = LoadText(data, "[S]\nk=2\n");
    EXPECT_FALSE(data.HasKey("old", "S"));
    EXPECT_EQ(data.GetValue("k", "S"), "2");
    EXPECT_EQ(data.KeyCount(), 1);
    EXPECT_EQ(report, "");
}

TEST_F(DataFileTest, LinesOfAnyLengthLoadAndSaveWhole)
{
    const std::string longValue(5000, 'v');
    const std::string longComment = "; " + std::string(3000, 'c');
    CDataFile data;
    LoadText(data, "[S]\n" + longComment + "\nlong=" + longValue + "\nafter=1\n");
    EXPECT_EQ(data.GetValue("long", "S"), longValue);
    EXPECT_EQ(data.GetValue("after", "S"), "1");   // nothing after the long line is lost
    ASSERT_TRUE(data.Save());
    EXPECT_EQ(ReadFile(m_path), "\n[S]\n\n" + longComment + "\nlong=" + longValue + "\nafter=1\n");
}

// Windows editors begin a file with a byte-order mark, or write UTF-16 without one: the keys
// read as in plain text, and a save writes the file back in the form it came in.
TEST_F(DataFileTest, AFileWithAByteOrderMarkReadsAndSavesInItsOwnForm)
{
    const std::string text = "[General]\r\nMode=Export\r\n[Path]\r\nSource=/in/Bücher\r\n";
    std::string le;
    std::string be;
    for (const char16_t unit : std::u16string(u"[General]\r\nMode=Export\r\n[Path]\r\nSource=/in/Bücher\r\n")) {
        le += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        be += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
    }
    using E = CDataFile::Encoding;
    const struct {
        std::string bytes;
        E encoding;
        std::string start;   // of the saved file
    } cases[] = {
        {text, E::Plain, "\n[General]"},
        {"\xEF\xBB\xBF" + text, E::Utf8Bom, "\xEF\xBB\xBF"},
        {"\xFF\xFE" + le, E::Utf16LE, "\xFF\xFE"},
        {"\xFE\xFF" + be, E::Utf16BE, "\xFE\xFF"},
        {le, E::Utf16LEUnmarked, std::string("\n\0[\0", 4)},
        {be, E::Utf16BEUnmarked, std::string("\0\n\0[", 4)},
    };
    for (const auto& c : cases) {
        CDataFile data;
        LoadText(data, c.bytes);
        EXPECT_EQ(data.GetEncoding(), c.encoding) << c.start;
        EXPECT_EQ(data.GetValue("Mode", "General"), "Export") << c.start;
        ASSERT_TRUE(data.SetValue("Count", "3", "", "Status"));
        ASSERT_TRUE(data.Save());
        const std::string saved = ReadFile(m_path);
        EXPECT_EQ(saved.substr(0, c.start.size()), c.start);
        CDataFile again;
        LoadText(again, saved);
        EXPECT_EQ(again.GetValue("Source", "Path"), "/in/Bücher") << c.start;
        EXPECT_EQ(again.GetValue("Count", "Status"), "3") << c.start;
    }
    // Unmarked UTF-16 whose text would no longer read as such, and plain text that would begin
    // with bytes that read as a mark, get a mark of their own.
    CDataFile unmarked;
    LoadText(unmarked, std::string("k\0=\0""1\0\n\0", 8));
    ASSERT_TRUE(unmarked.SetValue("\xE4\xB8\xAD", "2", "", ""));
    ASSERT_TRUE(unmarked.SetValue("k", "", "", ""));
    CDataFile reread;
    LoadText(reread, unmarked.FileBytes());
    EXPECT_EQ(reread.GetValue("\xE4\xB8\xAD", ""), "2");
    CDataFile markLike;
    LoadText(markLike, "x\n\xFF\xFE=1\n");
    ASSERT_TRUE(markLike.Save());
    CDataFile back;
    LoadText(back, ReadFile(m_path));
    EXPECT_EQ(back.GetValue("\xFF\xFE", ""), "1");
}

TEST(DataFileText, CommentStrPrefixesTheCommentMark)
{
    EXPECT_EQ(CDataFile::CommentStr("  "), "");
    EXPECT_EQ(CDataFile::CommentStr(" help text: "), "; help text");
    EXPECT_EQ(CDataFile::CommentStr("# already"), "# already");
    EXPECT_EQ(CDataFile::CommentStr("\n; two\n; lines"), "; two\n; lines");
}

TEST(DataFileText, WriteLnEndsEveryLineOnceAndKeepsLongLines)
{
    std::ostringstream out;
    EXPECT_EQ(CDataFile::WriteLn(out, "%s", "a"), 2);
    EXPECT_EQ(CDataFile::WriteLn(out, "%s", "b\n"), 2);
    EXPECT_EQ(CDataFile::WriteLn(out, "%s", "c\r"), 2);
    const std::string longText(2000, 'x');
    EXPECT_EQ(CDataFile::WriteLn(out, "%s", longText.c_str()), 2001);
    EXPECT_EQ(out.str(), "a\nb\nc\r" + longText + "\n");
}

TEST(DataFileText, ReportTagsEachLevel)
{
    CaptureStdout();
    for (int level = 0; level <= 6; ++level)
        CDataFile::Report(level, "m%d", level);
    CDataFile::Report(1, "%s", "%s stays");
    EXPECT_EQ(GetCapturedStdout(),
              "<debug> m0\n<info> m1\n<warn> m2\n<error> m3\n<fatal> m4\n<critical> m5\nm6\n"
              "<info> %s stays\n");
}

} // namespace
