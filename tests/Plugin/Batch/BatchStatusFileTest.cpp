#include "Plugin/Batch/BatchStatusFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "Foundation/Settings.h"
#include "Foundation/TestSupport.h"
#include "platform/fs/NativeFS.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// A file written from nothing: the keys at their defaults with their comments.
const char kDefaults[] =
    "\n[General]\n"
    "\n; Batch Mode                                        [ None | Export | Import | Done ]\nMode=None\n"
    "\n; Source directory: scan recursively                [ True | False ]\nRecursive=False\n"
    "\n; Wait for next batch file on idle                  [ True | False ]\nWaitOnIdle=False\n"
    "\n[Path]\n"
    "\n; Full path to source ( Export: QXP | Import: DWQ ) [ file | directory ]\nSource= \n"
    "\n; Full path to target                               [ directory ]\nTarget= \n"
    "\n; Full path to PDF target                           [ directory ]\nPdfDir= \n"
    "\n[Status]\n"
    "\n; Number of files already converted\nCount=0\n"
    "\n; Total number of files to be converted\nTotal=0\n"
    "\n; Is batch currently active?\nActive=False\n";

bool FixedClock(TimeStamp& now)
{
    now = TimeStamp{2006, 12, 5, 8, 30, 7};
    return true;
}

class BatchStatusFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(m_dir / "kesto.ini", "[Path]\nBatchFilePath=" + m_path + "\n");
        Settings.Build(false);
        CaptureStdout();
        ASSERT_TRUE(Settings->Load(m_dir / "kesto.ini", false));
        GetCapturedStdout();
        SetBatchClock(&FixedClock);
    }
    void TearDown() override
    {
        SetBatchClock(nullptr);
        platform::fs::SetFaultHook({});
        Settings.Destroy();
    }

    // Writes the controller's file and loads it into a fresh object.
    void Load(BatchStatusFile& status, const std::string& text, bool expected = true)
    {
        WriteFile(m_path, text);
        CaptureStdout();
        EXPECT_EQ(status.Load(false), expected);
        GetCapturedStdout();
    }

    // Counts the saves of the status file from now on.
    void CountSaves()
    {
        platform::fs::SetFaultHook([this](platform::fs::Operation op, const std::string&) {
            m_saves += op == platform::fs::Operation::ReplaceFile;
            return 0;
        });
    }

    TempDir m_dir;
    std::string m_path = m_dir / "batch.ini";
    int m_saves = 0;
};

TEST_F(BatchStatusFileTest, DefaultsWrittenFromNothingAreTheDocumentedText)
{
    BatchStatusFile status;
    Load(status, "");
    CaptureStdout();
    EXPECT_TRUE(status.WriteDefaults());
    GetCapturedStdout();
    EXPECT_EQ(ReadFile(m_path), kDefaults);

    // Load with reset writes them too, whatever the file held.
    BatchStatusFile again;
    WriteFile(m_path, "");
    CaptureStdout();
    EXPECT_TRUE(again.Load(true));
    GetCapturedStdout();
    EXPECT_TRUE(BatchFileLoaded);
    EXPECT_EQ(ReadFile(m_path), kDefaults);
}

TEST_F(BatchStatusFileTest, FinishedBatchIsArchivedUnderItsStampAndRemoved)
{
    BatchStatusFile status;
    Load(status, "[General]\nMode=Export\n[Path]\nSource=/in\nTarget=/out\n[Status]\nActive=True\n");
    ASSERT_TRUE(status.Claim());
    ASSERT_TRUE(status.IsActiveJob());
    ASSERT_TRUE(status.MarkStarted());
    CaptureStdout();
    EXPECT_TRUE(status.OnIdle(true));
    GetCapturedStdout();
    EXPECT_FALSE(std::filesystem::exists(m_path));
    const std::string archive = ReadFile(m_path + "_20061205083007");
    EXPECT_NE(archive.find("Mode=Export\n"), std::string::npos) << archive;
    EXPECT_NE(archive.find("\n; Is batch currently active?\nActive=False\n"), std::string::npos) << archive;
    EXPECT_EQ(status.GetMode(), BatchMode::Done);
    EXPECT_FALSE(status.IsStarted());   // WaitOnIdle was not set
    EXPECT_EQ(BatchArchiveStamp(TimeStamp{2006, 12, 5, 8, 30, 7}), "_20061205083007");
}

TEST_F(BatchStatusFileTest, IdleWithoutFinishingKeepsTheFileAndClearsTheFlags)
{
    BatchStatusFile status;
    Load(status, "[General]\nMode=Import\nWaitOnIdle=yes\n[Path]\nSource=/in\nTarget=/out\n[Status]\nActive=1\n");
    ASSERT_TRUE(status.Claim());
    ASSERT_TRUE(status.MarkStarted());
    EXPECT_FALSE(status.OnIdle(false));
    EXPECT_FALSE(status.IsStarted());
    EXPECT_TRUE(std::filesystem::exists(m_path));
    CaptureStdout();
    EXPECT_TRUE(status.OnIdle(true));
    GetCapturedStdout();
    EXPECT_TRUE(status.IsStarted());   // WaitOnIdle: the next file is awaited
    EXPECT_TRUE(status.IsWaiting());
    // Nothing pending any more: the check answers false.
    EXPECT_FALSE(status.OnIdle(true));
}

// A controller that writes its next job while this host's job runs: its file stays as it wrote
// it, for the job to run next, and the running job's progress goes to its archive.
TEST_F(BatchStatusFileTest, AFileTheControllerRewritesDuringTheJobIsLeftToIt)
{
    const std::string next = "[General]\nMode=Import\n[Path]\nSource=/next\nTarget=/back\n";
    BatchStatusFile status;
    Load(status, "[General]\nMode=Export\n[Path]\nSource=/in\nTarget=/out\n");
    ASSERT_TRUE(status.Claim());
    CaptureStdout();
    ASSERT_TRUE(status.SetActive(true, true, true));
    EXPECT_TRUE(status.SetCount(1, true, true));
    WriteFile(m_path, next);
    status.SetCount(2, true, true);
    EXPECT_TRUE(status.OnIdle(true));
    GetCapturedStdout();
    EXPECT_EQ(ReadFile(m_path), next);
    const std::string archive = ReadFile(status.LastArchive());
    EXPECT_NE(archive.find("Source=/in\n"), std::string::npos) << archive;
    EXPECT_NE(archive.find("Count=2\n"), std::string::npos) << archive;
}

TEST_F(BatchStatusFileTest, SameValueTwiceIsSavedOnce)
{
    BatchStatusFile status;
    Load(status, "[General]\nMode=Export\n");
    CountSaves();
    CaptureStdout();
    EXPECT_TRUE(status.SetCount(3, true, true));
    EXPECT_TRUE(status.SetCount(3, true, true));
    EXPECT_TRUE(status.SetMode(BatchMode::Export, true, true));   // already there
    GetCapturedStdout();
    EXPECT_EQ(m_saves, 1);
    EXPECT_NE(ReadFile(m_path).find("\n; Number of files already converted\nCount=3\n"), std::string::npos);

    // Without auto-create a missing key is not added.
    EXPECT_FALSE(status.SetTotal(7, false, true));
    EXPECT_EQ(m_saves, 1);
}

TEST_F(BatchStatusFileTest, ModeIsReadExactly)
{
    BatchStatusFile status;
    for (const auto& [text, mode] : std::vector<std::pair<std::string, BatchMode>>{
             {"Export", BatchMode::Export}, {"Import", BatchMode::Import}, {"Done", BatchMode::Done},
             {"export", BatchMode::None}, {"EXPORT", BatchMode::None}, {"Exports", BatchMode::None}}) {
        Load(status, "[General]\nMode=" + text + "\n");
        EXPECT_EQ(status.GetMode(), mode) << text;
    }
    Load(status, "[General]\nRecursive=TRUE\n");
    EXPECT_EQ(status.GetMode(), BatchMode::None);
    EXPECT_TRUE(status.IsRecursive());
    EXPECT_FALSE(status.HasPendingJob());
}

TEST_F(BatchStatusFileTest, NextFileStartsFromNothing)
{
    BatchStatusFile status;
    Load(status, "[General]\nMode=Export\nRecursive=True\n[Path]\nSource=/in\nPdfDir=/old-pdf\n");
    EXPECT_EQ(status.GetPath(kBatchPdfDir), "/old-pdf");
    Load(status, "[General]\nMode=Export\n[Path]\nSource=/in2\nTarget=/out\n");
    std::string source, target, pdf = "x";
    status.GetPaths(source, target, pdf);
    EXPECT_EQ(source, "/in2");
    EXPECT_EQ(target, "/out");
    EXPECT_EQ(pdf, "");
    EXPECT_FALSE(status.IsRecursive());
}

TEST_F(BatchStatusFileTest, ValidityOfEachMode)
{
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"Mode=Export\n[Path]\nSource=/in\nTarget= \nPdfDir=/pdf\n", true},
        {"Mode=Export\n[Path]\nSource=/in\nTarget= \nPdfDir= \n", false},
        {"Mode=Export\n[Path]\nSource= \nTarget=/out\n", false},
        {"Mode=Export\n[Path]\nSource=/in\nTarget=/out\n", true},
        {"Mode=Import\n[Path]\nSource=/in\nPdfDir=/pdf\n", false},
        {"Mode=Import\n[Path]\nSource=/in\nTarget=/out\n", true},
        {"Mode=Done\n", true},
        {"Mode=None\n", true},
        // A blank after "=" is no part of the path.
        {"Mode=Import\n[Path]\nSource = /in\nTarget = /out\n", true},
    };
    for (const Case& c : cases) {
        BatchStatusFile status;
        Load(status, std::string("[General]\n") + c.text);
        EXPECT_EQ(status.IsValid(), c.valid) << c.text;
    }
    BatchStatusFile status;
    Load(status, "[General]\nMode=Import\n[Path]\nSource = /in\nTarget = /out\n");
    EXPECT_EQ(status.GetPath(kBatchSource), "/in");
    EXPECT_EQ(status.GetPath(kBatchCount), "");
    EXPECT_EQ(status.GetPath(42), "");
}

TEST_F(BatchStatusFileTest, MissingFileIsNotLoadedAndHoldsNoJob)
{
    BatchStatusFile status;
    CaptureStdout();
    EXPECT_FALSE(status.Load(false));
    GetCapturedStdout();
    EXPECT_FALSE(BatchFileLoaded);
    EXPECT_FALSE(status.IsLoaded());
    EXPECT_EQ(status.GetFilePath(), m_path);
    EXPECT_TRUE(status.IsValid());   // mode None
    EXPECT_FALSE(status.MarkStarted());
    EXPECT_FALSE(status.OnIdle(true));
}

TEST(BatchKeys, TableRowsAndTheRowOfNoKey)
{
    const BatchKey mode = BatchKeyRow(kBatchMode);
    EXPECT_EQ(mode.section, 0);
    EXPECT_EQ(mode.type, kBatchModeValue);
    EXPECT_STREQ(BatchKeyName(kBatchPdfDir), "PdfDir");
    EXPECT_STREQ(BatchSectionName(kBatchActive), "Status");
    EXPECT_STREQ(BatchKeyDefault(kBatchSource), " ");
    const BatchKey none = BatchKeyRow(42);
    EXPECT_EQ(none.key, 9);
    EXPECT_EQ(none.section, 3);
    EXPECT_EQ(none.type, 6);
    EXPECT_EQ(none.comment, "");
    EXPECT_STREQ(BatchSectionName(-1), "");
    EXPECT_STREQ(BatchKeyDefault(9), "");
}

// Without the global settings a settings object of its own names the file.
TEST(BatchStatusFileSettings, TemporarySettingsNameTheFileWhenTheGlobalOnesAreNotLoaded)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "XTensions");
    WriteFile(dir / "XTensions/kesto.ini", "[Path]\nBatchFilePath=" + (dir / "b.ini") + "\n");
    WriteFile(dir / "b.ini", "[General]\nMode=Import\n");
    FakeHostServices host;
    host.applicationFolder = dir.Path();
    BatchStatusFile status;
    CaptureStdout();
    EXPECT_TRUE(status.Load(false));
    GetCapturedStdout();
    EXPECT_EQ(status.GetFilePath(), dir / "b.ini");
    EXPECT_EQ(status.GetMode(), BatchMode::Import);
}

} // namespace
