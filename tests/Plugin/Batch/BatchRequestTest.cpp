#include "Plugin/Batch/BatchRequest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include <sys/wait.h>
#include <unistd.h>

#include "Foundation/TestSupport.h"
#include "platform/fs/NativeFS.h"
#include "platform/registry/Registry.h"

namespace {

namespace fs = std::filesystem;

const char kMaker[] = "HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology";
const char kRequest[] = "HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology/Kesto 50 Batch Mode";

class BatchRequestTest : public ::testing::Test {
protected:
    void SetUp() override { platform::registry::SetRoot(Store()); }
    void TearDown() override { platform::registry::SetRoot(""); }

    std::string Store() const { return m_dir / "Registry"; }
    std::string Key(const char* path) const { return Store() + "/" + path; }

    TempDir m_dir;
};

TEST_F(BatchRequestTest, WithoutARequestOnlyTheMakerKeyIsMade)
{
    platform::fs::OwnerClaim claim;
    EXPECT_FALSE(ClaimBatchRequest(claim));
    EXPECT_TRUE(fs::is_directory(Key(kMaker)));
    EXPECT_TRUE(fs::is_empty(Key(kMaker)));
}

TEST_F(BatchRequestTest, ARequestIsClaimedOnce)
{
    fs::create_directories(Key(kRequest));
    platform::fs::OwnerClaim first;
    platform::fs::OwnerClaim second;
    EXPECT_TRUE(ClaimBatchRequest(first));
    EXPECT_EQ(ReadFile(Key(kRequest) + "/Kesto"), "Started");
    EXPECT_FALSE(ClaimBatchRequest(second));   // another claimant finds it held
    EXPECT_EQ(ReadFile(Key(kRequest) + "/Kesto"), "Started");
}

TEST_F(BatchRequestTest, ARequestClaimedBeforeIsLeftAsItIs)
{
    fs::create_directories(Key(kRequest));
    WriteFile(Key(kRequest) + "/KESTO", "by someone else");
    platform::fs::OwnerClaim claim;
    EXPECT_FALSE(ClaimBatchRequest(claim));
    EXPECT_EQ(ReadFile(Key(kRequest) + "/KESTO"), "by someone else");
    EXPECT_FALSE(fs::exists(Key(kRequest) + "/Kesto"));
}

TEST_F(BatchRequestTest, NamesOfTheKeysIgnoreCase)
{
    fs::create_directories(Store() + "/HKEY_LOCAL_MACHINE/software/omra translation technology/KESTO 50 BATCH MODE");
    platform::fs::OwnerClaim claim;
    EXPECT_TRUE(ClaimBatchRequest(claim));
    EXPECT_FALSE(fs::exists(Key(kMaker)));   // found in the spelling it had
}

TEST_F(BatchRequestTest, AStoreThatCannotBeWrittenAnswersFalse)
{
    WriteFile(Store(), "not a folder");
    platform::fs::OwnerClaim claim;
    EXPECT_FALSE(ClaimBatchRequest(claim));

    // A request whose claim cannot be written is not taken either.
    fs::remove(Store());
    fs::create_directories(Key(kRequest));
    platform::fs::SetFaultHook([](platform::fs::Operation op, const std::string&) {
        return op == platform::fs::Operation::ReplaceFile ? ENOSPC : 0;
    });
    EXPECT_FALSE(ClaimBatchRequest(claim));
    platform::fs::SetFaultHook({});
    EXPECT_TRUE(fs::is_empty(Key(kRequest)));
}

// Without a host to name the store nothing is claimed, and nothing is decided for later.
TEST_F(BatchRequestTest, WithoutTheHostNothingIsDecided)
{
    fs::create_directories(Key(kRequest));
    ResetBatchRequest();
    EXPECT_FALSE(IsBatchRequested());
    EXPECT_TRUE(fs::is_empty(Key(kRequest)));
    DeleteBatchRequestKey();
    EXPECT_TRUE(fs::exists(Key(kRequest)));
}

// Two host processes started together on one request: exactly one of them runs the batch.
// Both live until both have tried, as two hosts running side by side do.
TEST_F(BatchRequestTest, OfTwoRacingProcessesExactlyOneClaims)
{
    for (int race = 0; race < 50; ++race) {
        const std::string store = m_dir / ("race" + std::to_string(race));
        fs::create_directories(store + "/" + kRequest);
        platform::registry::SetRoot(store);
        int go[2];
        int tried[2];
        int done[2];
        ASSERT_EQ(::pipe(go), 0);
        ASSERT_EQ(::pipe(tried), 0);
        ASSERT_EQ(::pipe(done), 0);
        pid_t children[2];
        for (pid_t& child : children) {
            child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                ::close(go[1]);
                ::close(done[1]);
                char byte;
                while (::read(go[0], &byte, 1) < 0) {
                }
                platform::fs::OwnerClaim claim;
                const bool claimed = ClaimBatchRequest(claim);
                (void)!::write(tried[1], "", 1);
                while (::read(done[0], &byte, 1) < 0) {
                }
                ::_exit(claimed ? 1 : 0);
            }
        }
        ::close(go[0]);
        ::close(go[1]);   // both start now
        char byte;
        for (int child = 0; child < 2; ++child)
            ASSERT_EQ(::read(tried[0], &byte, 1), 1);
        ::close(done[1]);   // both end now
        int claims = 0;
        for (const pid_t child : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status));
            claims += WEXITSTATUS(status);
        }
        for (const int fd : {tried[0], tried[1], done[0]})
            ::close(fd);
        EXPECT_EQ(claims, 1) << "race " << race;
        EXPECT_EQ(ReadFile(store + "/" + kRequest + "/Kesto"), "Started");
    }
}

} // namespace
