// Batch runs through xthost with the module as a shared object: the controller's status file
// and its request in the key store, as an outside controller would leave them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Plugin/Shell/AppFolderTest.h"

namespace {

namespace fs = std::filesystem;
using kesto_test::ReadText;

const char kMakerKey[] = "Registry/HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology";
const char kRequestKey[] = "Registry/HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology/Kesto 50 Batch Mode";

class BatchModeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        app = fs::path(KESTO_BINARY_DIR) / "test-tmp" / "batch-mode" / info->name();
        fs::remove_all(app);
        fs::create_directories(app / "XTensions");
        fs::create_directories(app / "Batch");
        std::ofstream(app / "XTensions" / "kesto.ini") << "[Path]\nBatchFilePath=" << BatchFile() << "\n";
    }

    std::string BatchFile() const { return (app / "Batch" / "batch.ini").string(); }

    // Runs the script; true for exit 0.
    bool Run(const std::string& script)
    {
        std::ofstream(app / "run.xts") << script;
        const std::string command = "cd " + app.string() + " && " + XTHOST_PROGRAM + " --app . --module " +
                                    KESTO_MODULE + " --script run.xts --transcript " +
                                    (app / "run.transcript").string() + " 2>/dev/null >/dev/null";
        return std::system(command.c_str()) == 0;
    }
    std::string Transcript() const { return ReadText(app / "run.transcript"); }

    fs::path app;
};

TEST_F(BatchModeTest, ActiveExportJobEndsArchivedAndRemoved)
{
    std::ofstream(BatchFile()) << "[General]\nMode=Export\n[Path]\nSource=" << (app / "in").string()
                               << "\nTarget=" << (app / "out").string() << "\n[Status]\nActive=True\n";
    ASSERT_TRUE(Run("clock 2006-12-05 08:30:07\nstart\nidle 3\nquit\n")) << Transcript();
    EXPECT_FALSE(fs::exists(BatchFile()));
    const std::string archive = ReadText(BatchFile() + "_20061205083007");
    EXPECT_NE(archive.find("Mode=Export\n"), std::string::npos) << archive;
    EXPECT_NE(archive.find("Active=False\n"), std::string::npos) << archive;
    EXPECT_EQ(archive.find('\r'), std::string::npos);
    // The export step itself is not there yet; it was fired once.
    const std::string log = ReadText(app / "KestoLogfile.txt");
    EXPECT_NE(log.find("Batch export step: not available"), std::string::npos) << log;
}

TEST_F(BatchModeTest, RequestPresentAtStartIsClaimedAndGoneAfterUnload)
{
    fs::create_directories(app / kRequestKey / "Sub");
    ASSERT_TRUE(Run("start\nidle\nquit\n")) << Transcript();
    EXPECT_TRUE(fs::is_directory(app / kMakerKey));
    EXPECT_FALSE(fs::exists(app / kRequestKey));
}

TEST_F(BatchModeTest, RequestClaimedByAnotherProcessIsLeftAlone)
{
    fs::create_directories(app / kRequestKey);
    std::ofstream(app / kRequestKey / "Kesto") << "Started";
    ASSERT_TRUE(Run("start\nidle\nquit\n")) << Transcript();
    EXPECT_EQ(ReadText(app / kRequestKey / "Kesto"), "Started");
    EXPECT_EQ(std::distance(fs::directory_iterator(app / kRequestKey), fs::directory_iterator()), 1);
}

TEST_F(BatchModeTest, WithoutARequestOnlyTheMakerKeyIsMade)
{
    ASSERT_TRUE(Run("start\nidle\nquit\n")) << Transcript();
    EXPECT_TRUE(fs::is_directory(app / kMakerKey));
    EXPECT_EQ(std::distance(fs::directory_iterator(app / kMakerKey), fs::directory_iterator()), 0);
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(app / "Registry"), fs::recursive_directory_iterator()), 3);
}

} // namespace
