#include "platform/registry/Registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Foundation/TestSupport.h"

namespace {

namespace reg = platform::registry;

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        reg::SetRoot(m_dir / "Registry");
        ASSERT_EQ(reg::OpenHive(reg::kLocalMachine, m_hive), reg::kSuccess);
    }
    void TearDown() override { reg::SetRoot(""); }

    TempDir m_dir;
    reg::Key m_hive;
};

TEST_F(RegistryTest, KeysAreFoldersAndStringValuesFilesWithTheBareText)
{
    reg::Key key;
    ASSERT_EQ(reg::CreateKey(m_hive, "SOFTWARE\\OMRA Translation Technology/Sub", reg::kAllAccess, key), 0);
    ASSERT_EQ(reg::SetString(key, "Kesto", "Started"), 0);
    const std::string folder = m_dir / "Registry/HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology/Sub";
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(ReadFile(folder + "/Kesto"), "Started");

    ASSERT_EQ(reg::SetString(key, "Kesto", "Done"), 0);   // replaced whole, no leftovers
    EXPECT_EQ(ReadFile(folder + "/Kesto"), "Done");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);
    std::string text;
    ASSERT_EQ(reg::QueryString(key, "Kesto", text), 0);
    EXPECT_EQ(text, "Done");
    EXPECT_EQ(reg::CloseKey(key), 0);
    EXPECT_EQ(reg::CloseKey(key), reg::kInvalidHandle);
    EXPECT_EQ(reg::QueryString(key, "Kesto", text), reg::kInvalidHandle);
}

TEST_F(RegistryTest, NamesAreFoundIgnoringCaseAndKeepTheirFirstSpelling)
{
    reg::Key key, again;
    ASSERT_EQ(reg::CreateKey(m_hive, "Software\\Maker", reg::kAllAccess, key), 0);
    ASSERT_EQ(reg::SetString(key, "Value", "one"), 0);
    ASSERT_EQ(reg::CreateKey(m_hive, "SOFTWARE\\MAKER", reg::kAllAccess, again), 0);
    EXPECT_EQ(again.folder, key.folder);
    ASSERT_EQ(reg::SetString(again, "VALUE", "two"), 0);
    std::string text;
    ASSERT_EQ(reg::QueryString(key, "value", text), 0);
    EXPECT_EQ(text, "two");
    EXPECT_TRUE(std::filesystem::exists(key.folder + "/Value"));
    EXPECT_FALSE(std::filesystem::exists(key.folder + "/VALUE"));
}

TEST_F(RegistryTest, MissingKeysAndValuesAnswerFileNotFound)
{
    reg::Key key;
    EXPECT_EQ(reg::OpenKey(m_hive, "SOFTWARE\\Nothing", reg::kRead, key), reg::kFileNotFound);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(m_dir / "Registry/HKEY_LOCAL_MACHINE/SOFTWARE"));
    ASSERT_EQ(reg::CreateKey(m_hive, "SOFTWARE", reg::kAllAccess, key), 0);
    std::string text = "kept";
    EXPECT_EQ(reg::QueryString(key, "Kesto", text), reg::kFileNotFound);
    EXPECT_EQ(text, "kept");
}

TEST_F(RegistryTest, RightsOfTheOpenKeyAreEnforced)
{
    reg::Key all, read;
    ASSERT_EQ(reg::CreateKey(m_hive, "K", reg::kAllAccess, all), 0);
    ASSERT_EQ(reg::OpenKey(m_hive, "K", reg::kRead, read), 0);
    EXPECT_EQ(reg::SetString(read, "v", "x"), reg::kAccessDenied);
    EXPECT_EQ(reg::CreateStringExclusive(read, "v", "x"), reg::kAccessDenied);
    reg::Key child;
    EXPECT_EQ(reg::CreateKey(read, "Child", reg::kAllAccess, child), reg::kAccessDenied);
    EXPECT_EQ(reg::OpenKey(read, "", reg::kRead | reg::kSetValue, child), 0);   // the key itself
    EXPECT_EQ(reg::SetString(child, "v", "x"), 0);
}

TEST_F(RegistryTest, ExclusiveCreateSucceedsOnceWhateverTheCase)
{
    reg::Key key;
    ASSERT_EQ(reg::CreateKey(m_hive, "K", reg::kAllAccess, key), 0);
    EXPECT_EQ(reg::CreateStringExclusive(key, "Kesto", "Started"), 0);
    EXPECT_EQ(reg::CreateStringExclusive(key, "Kesto", "Other"), reg::kAlreadyExists);
    EXPECT_EQ(reg::CreateStringExclusive(key, "KESTO", "Other"), reg::kAlreadyExists);
    EXPECT_EQ(ReadFile(key.folder + "/Kesto"), "Started");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(key.folder), std::filesystem::directory_iterator()), 1);
}

TEST_F(RegistryTest, EnumerationAndDeletionFollowTheRegistry)
{
    reg::Key top, sub;
    ASSERT_EQ(reg::CreateKey(m_hive, "Top\\B\\Deep", reg::kAllAccess, sub), 0);
    ASSERT_EQ(reg::CreateKey(m_hive, "Top\\A", reg::kAllAccess, sub), 0);
    ASSERT_EQ(reg::SetString(sub, "v", "x"), 0);
    ASSERT_EQ(reg::OpenKey(m_hive, "Top", reg::kRead, top), 0);
    ASSERT_EQ(reg::SetString(top, "", "x"), reg::kBadKey);
    std::string name;
    EXPECT_EQ(reg::EnumKey(top, 0, name), 0);
    EXPECT_EQ(name, "A");
    EXPECT_EQ(reg::EnumKey(top, 1, name), 0);
    EXPECT_EQ(name, "B");
    EXPECT_EQ(reg::EnumKey(top, 2, name), reg::kNoMoreItems);

    EXPECT_EQ(reg::DeleteKey(top, "B"), reg::kAccessDenied);   // it still has a subkey
    EXPECT_EQ(reg::DeleteKey(top, "a"), 0);                    // values go with it
    EXPECT_EQ(reg::QueryString(sub, "v", name), reg::kKeyDeleted);
    EXPECT_EQ(reg::DeleteKey(top, "A"), reg::kFileNotFound);
    EXPECT_EQ(reg::DeleteKey(top, "B\\Deep"), 0);
    EXPECT_EQ(reg::DeleteKey(top, "B"), 0);
    EXPECT_EQ(reg::EnumKey(top, 0, name), reg::kNoMoreItems);
}

TEST_F(RegistryTest, NamesTheStoreCannotHoldAreRefused)
{
    reg::Key key;
    EXPECT_EQ(reg::CreateKey(m_hive, "SOFTWARE\\..\\x", reg::kAllAccess, key), reg::kBadKey);
    ASSERT_EQ(reg::CreateKey(m_hive, "K", reg::kAllAccess, key), 0);
    EXPECT_EQ(reg::SetString(key, "a/b", "x"), reg::kBadKey);
    EXPECT_EQ(reg::SetString(key, "..", "x"), reg::kBadKey);
    EXPECT_EQ(reg::SetString(key, std::string(300, 'n'), "x"), reg::kBadKey);
}

TEST(RegistryStore, AStoreThatCannotBeMadeCannotBeOpened)
{
    TempDir dir;
    WriteFile(dir / "Registry", "a file where the store should be");
    reg::SetRoot(dir / "Registry");
    reg::Key hive;
    EXPECT_EQ(reg::OpenHive(reg::kLocalMachine, hive), reg::kCantOpen);
    reg::SetRoot("");
    EXPECT_EQ(reg::OpenHive(reg::kLocalMachine, hive), reg::kCantOpen);
    EXPECT_FALSE(hive.IsOpen());
}

} // namespace
