#include "SHARED/Server/CnvTools/NodeFS.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <filesystem>
#include <regex>


#include "Foundation/AllocTracker.h"
#include "Foundation/Log.h"
#include "Foundation/TestSupport.h"
#include "SHARED/Server/CnvTools/PathUtils.h"
#include "platform/fs/NativeFS.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
namespace stdfs = std::filesystem;

class NodeTest : public ::testing::Test {
protected:
    // The scratch folder as a node built from its path.
    t_Folder Root() { return t_Folder(RootName(), RootParent(), false, false); }
    std::string RootName() const { return stdfs::path(m_dir.Path()).filename().string(); }
    std::string RootParent() const { return stdfs::path(m_dir.Path()).parent_path().string(); }

    TempDir m_dir;
};

TEST_F(NodeTest, CreatedFileHoldsItsCreationTimeAndIsNeverOverwritten)
{
    t_Folder root(RootName(), RootParent(), false, false);
    t_File file("a.txt", &root, true);
    EXPECT_EQ(file.GetFullPath(), m_dir / "a.txt");
    const std::string content = ReadFile(m_dir / "a.txt");
    EXPECT_TRUE(std::regex_match(content, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n"))) << content;

    WriteFile(m_dir / "a.txt", "mine");
    CaptureStderr();
    t_File again("a.txt", &root, true);
    const std::string log = GetCapturedStderr();
    EXPECT_NE(log.find("ct_File::ct_File():\nWarning: file already exists!"), std::string::npos);
    EXPECT_NE(log.find("ct_Folder::AddFile():\nWarning: duplicate file!"), std::string::npos);
    EXPECT_EQ(ReadFile(m_dir / "a.txt"), "mine");
    EXPECT_FALSE(again.Create());

    // The duplicate stays unlisted but keeps its parent.
    EXPECT_EQ(root.GetFiles().at("a.txt"), &file);
    EXPECT_EQ(again.GetParent(), &root);
}

// A placeholder whose time-stamp line could not be written is reported as not made.
TEST_F(NodeTest, CreateFailsWhenTheTimeStampCannotBeWritten)
{
    t_Folder root(RootName(), RootParent(), false, false);
    t_File file("b.txt", &root, false);

    const bool created = WithFileSizeLimit(0, [&] { return file.Create(); });
    // The error line could not reach the standard error stream under that limit either.
    std::cerr.clear();
    std::clearerr(stderr);

    EXPECT_FALSE(created);
}

TEST_F(NodeTest, FileUnderAMissingFolderIsListedButNotCreated)
{
    t_Folder root(RootName(), RootParent(), false, false);
    t_Folder missing("missing", &root, false);
    CaptureStderr();
    t_File file("f", &missing, true);
    EXPECT_NE(GetCapturedStderr().find("Error: parent folder doesn't exist!"), std::string::npos);
    EXPECT_FALSE(stdfs::exists(m_dir / "missing"));
    EXPECT_EQ(missing.GetFiles().count("f"), 1u);
}

TEST_F(NodeTest, FolderChildFormCreatesAndWarnsOnExisting)
{
    t_Folder root(RootName(), RootParent(), false, false);
    t_Folder sub("sub", &root, true);
    EXPECT_TRUE(stdfs::is_directory(m_dir / "sub"));
    EXPECT_EQ(root.FindFolder("sub"), &sub);
    CaptureStderr();
    t_Folder twin("sub", &root, true);
    const std::string log = GetCapturedStderr();
    EXPECT_NE(log.find("Warning: folder already exists!"), std::string::npos);
    EXPECT_NE(log.find("Warning: duplicate folder!"), std::string::npos);
}

TEST_F(NodeTest, RemoveStopsAtKeptNodesAndEmptiesTheMaps)
{
    t_Folder root(RootName(), RootParent(), false, false);
    t_Folder job("job", &root, true);
    t_Folder incoming("incoming", &job, true);
    t_File source("source.qxp", &incoming, true);
    t_File result("result.dwq", &job, true);
    t_File kept("kept.log", &job, true);
    kept.SetFlag(true);

    EXPECT_FALSE(job.Remove());
    EXPECT_FALSE(stdfs::exists(m_dir / "job/incoming"));
    EXPECT_FALSE(stdfs::exists(m_dir / "job/result.dwq"));
    EXPECT_TRUE(stdfs::exists(m_dir / "job/kept.log"));
    EXPECT_TRUE(job.GetFiles().empty());
    EXPECT_TRUE(job.GetFolders().empty());
}

TEST_F(NodeTest, KeepFlagSpreadsDownAndToLaterChildren)
{
    t_Folder root(RootName(), RootParent(), false, false);
    t_Folder job("job", &root, true);
    t_File file("f", &job, true);
    EXPECT_TRUE(job.SetFlag(true));
    EXPECT_TRUE(file.GetFlag());
    t_File later("later", &job, true);
    EXPECT_TRUE(later.GetFlag());
    EXPECT_FALSE(file.Remove());
    EXPECT_FALSE(job.Remove());
    EXPECT_TRUE(stdfs::exists(m_dir / "job/f"));
    EXPECT_EQ(job.GetFiles().size(), 2u);   // a refused removal leaves the maps alone

    job.SetFlag(false);
    EXPECT_TRUE(job.Remove());
    EXPECT_FALSE(stdfs::exists(m_dir / "job"));
    EXPECT_FALSE(file.Remove());   // no longer on disk
}

TEST_F(NodeTest, FolderRemovalRetriesABoundedNumberOfTimes)
{
    t_Folder root(RootName(), RootParent(), false, false);
    t_Folder job("job", &root, true);
    int tries = 0;
    platform::fs::SetFaultHook([&](platform::fs::Operation op, const std::string&) {
        return op == platform::fs::Operation::RemoveFolder ? (++tries, EBUSY) : 0;
    });
    platform::fs::SetPauseHook([](unsigned) {});
    CaptureStderr();
    EXPECT_FALSE(job.Remove());
    GetCapturedStderr();
    platform::fs::SetFaultHook(nullptr);
    platform::fs::SetPauseHook(nullptr);
    EXPECT_EQ(tries, 4);
    EXPECT_TRUE(stdfs::exists(m_dir / "job"));
}

TEST_F(NodeTest, StrictExistenceTellsFilesFromFolders)
{
    t_Folder root(RootName(), RootParent(), false, false);
    stdfs::create_directory(m_dir / "dir");
    WriteFile(m_dir / "file", "x");
    t_File fileOnFolder("dir", &root, false);
    t_Folder folderOnFile("file", &root, false);
    EXPECT_TRUE(fileOnFolder.Exists(false));
    EXPECT_FALSE(fileOnFolder.Exists(true));
    EXPECT_TRUE(folderOnFile.Exists(false));
    EXPECT_FALSE(folderOnFile.Exists(true));
}

TEST_F(NodeTest, NodesCompareByTheirPathComponents)
{
    t_Folder a("a", "C:\\Temp", false, false);
    t_Folder same("a", "C:/Temp", false, false);
    t_Folder longer("b", "C:\\Temp\\a", false, false);
    t_Folder sibling("b", "C:\\Temp", false, false);
    t_Folder otherCase("A", "C:\\Temp", false, false);
    EXPECT_TRUE(a == same);
    EXPECT_FALSE(a != same);
    EXPECT_TRUE(a < longer);
    EXPECT_TRUE(a < sibling);
    EXPECT_TRUE(sibling > a);
    EXPECT_FALSE(a == otherCase);
    EXPECT_TRUE(otherCase < a);
}

TEST_F(NodeTest, PathFormBuildsAndOwnsTheFolderChain)
{
    Allocations.Build();
    GeneralLog.Build(m_dir / "general.log");
    CaptureStderr();
    {
        t_Folder node("x", "C:\\Work\\Logs", false, false);
        EXPECT_EQ(node.GetFullPath(), "C:/Work/Logs/x");
        EXPECT_EQ(node.GetFolderPath(), "C:/Work/Logs");
        ASSERT_EQ(node.GetChain().size(), 3u);
        EXPECT_EQ(node.GetChain()[0]->GetName(), "Logs");
        EXPECT_EQ(node.GetChain()[1]->GetName(), "Work");
        EXPECT_EQ(node.GetChain()[2]->GetName(), "C:");
        EXPECT_TRUE(node.GetChain()[0]->GetFolders().empty());   // the node is not listed
        EXPECT_EQ(node.GetChain()[1]->FindFolder("Logs"), node.GetChain()[0]);
        EXPECT_EQ(Allocations->GetCount("t_Folder<TStr>"), 3);
    }
    // The reports are for the record, not for the terminal.
    EXPECT_EQ(GetCapturedStderr(), "");
    GeneralLog.Destroy();
    const std::string log = ReadFile(m_dir / "general.log");
    EXPECT_EQ(Allocations->GetCount("t_Folder<TStr>"), 0);
    EXPECT_EQ(Allocations->Dump(), "");
    std::size_t reports = 0;
    for (std::size_t at = log.find("\nMemory"); at != std::string::npos; at = log.find("\nMemory", at + 1))
        ++reports;
    EXPECT_EQ(reports, 12u);   // two when each chain folder is made, two when it goes
    Allocations.Destroy();
}

TEST_F(NodeTest, PathFormAcceptsAbsoluteAndUntidyPaths)
{
    t_Folder absolute("x", "/var/tmp/", false, false);
    EXPECT_EQ(absolute.GetFullPath(), "/var/tmp/x");
    t_Folder doubled("x", "a//b", false, false);
    EXPECT_EQ(doubled.GetFullPath(), "a/b/x");
    t_Folder root("x", "/", false, false);
    EXPECT_EQ(root.GetFullPath(), "/x");
    t_Folder drive("x", "C:", false, false);
    EXPECT_EQ(drive.GetFullPath(), "C:/x");
}

TEST_F(NodeTest, EmptyFolderPathMeansTheTemporaryFolder)
{
    t_Folder node("x", "", false, false);
    EXPECT_EQ(node.GetFullPath(), SystemTempPath() + "/x");
}

TEST_F(NodeTest, CreateWithParentsMakesEachMissingFolderOnce)
{
    stdfs::create_directory(m_dir / "Work");
    t_Folder node("Sub", m_dir.Path() + "\\Work\\New", false, false);
    EXPECT_TRUE(node.CreateWithParents());
    EXPECT_TRUE(stdfs::is_directory(m_dir / "Work/New/Sub"));
    EXPECT_FALSE(node.CreateWithParents());

    ct_Folder<ustring> wide(ToUString("deep"), ToUString(m_dir / "a/b/c"), false, false);
    EXPECT_TRUE(wide.CreateWithParents());
    EXPECT_TRUE(stdfs::is_directory(m_dir / "a/b/c/deep"));

    t_Folder unnamed("", m_dir.Path(), false, false);
    EXPECT_FALSE(unnamed.CreateWithParents());
    t_Folder nowhere("x", "no-such-root-folder/y", false, false);
    EXPECT_FALSE(nowhere.CreateWithParents());
}

TEST_F(NodeTest, PathFormCreateLogsAMissingParent)
{
    t_Folder ok("made", m_dir.Path(), true, false);
    EXPECT_TRUE(stdfs::is_directory(m_dir / "made"));
    CaptureStderr();
    t_Folder failed("x", m_dir / "missing", true, true);
    const std::string log = GetCapturedStderr();
    EXPECT_NE(log.find("createDirectory():\nError: "), std::string::npos);
    EXPECT_NE(log.find("Error: create failed!"), std::string::npos);
    EXPECT_TRUE(failed.GetFlag());
}

TEST_F(NodeTest, DeletedNodesNeverLeaveDanglingLinks)
{
    t_Folder root(RootName(), RootParent(), false, false);
    auto* job = new t_Folder("job", &root, true);
    auto* file = new t_File("f", job, true);
    auto* duplicate = new t_File("f", job, false);

    delete file;                               // unlists itself
    EXPECT_TRUE(job->GetFiles().empty());
    delete job;                                // leaves its remaining child without parent
    EXPECT_EQ(duplicate->GetParent(), nullptr);
    EXPECT_EQ(duplicate->GetFullPath(), "f");
    EXPECT_TRUE(root.GetFolders().empty());
    delete duplicate;
}

TEST_F(NodeTest, FolderCannotBeListedBelowItself)
{
    t_Folder top("top", nullptr, false);
    t_Folder sub("sub", &top, false);
    EXPECT_FALSE(top.AddFolder(&top));
    EXPECT_FALSE(sub.AddFolder(&top));
    EXPECT_EQ(top.GetParent(), nullptr);
    EXPECT_EQ(sub.GetFullPath(), "top/sub");
}

TEST_F(NodeTest, LogFileTruncatesAndStaysOnDisk)
{
    t_Folder root(RootName(), RootParent(), false, false);
    WriteFile(m_dir / "KS7_srv.log", "old");
    {
        t_LogFile log("KS7_srv.log", &root);
        ASSERT_TRUE(log.GetStream().good());
        log.GetStream() << "line\n";
        EXPECT_EQ(root.GetFiles().count("KS7_srv.log"), 1u);
    }
    EXPECT_EQ(ReadFile(m_dir / "KS7_srv.log"), "line\n");
}

} // namespace
