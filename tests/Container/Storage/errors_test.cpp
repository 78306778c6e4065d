#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "Container/Storage/Errors.h"
#include "Container/Storage/OLEObject.h"

namespace {

struct AbortProbe : OLEObject {
  using OLEObject::Abort;
};

int RaisedCode(int32_t result) {
  try {
    AbortProbe::Abort(result, u"item");
  } catch (const FilterException& e) {
    EXPECT_EQ(e.Type(), sh_Error);
    return e.Code();
  }
  return -1;
}

TEST(StorageResultMapping, EveryListedResultHasItsCode) {
  const std::vector<std::pair<uint32_t, int>> table = {
      {0x800300FC, 33000}, {0x80030057, 33001}, {0x80070057, 33001}, {0x80030009, 33003},
      {0x80030001, 33004}, {0x800300FF, 33004}, {0x80030104, 33005}, {0x80030105, 33005},
      {0x80030002, 33006}, {0x80030003, 33006}, {0x80030005, 33007}, {0x80030020, 33007},
      {0x80030021, 33007}, {0x80030050, 33008}, {0x80030102, 33009}, {0x00000001, 33010},
      {0x80030103, 33011}, {0x80030070, 33012}, {0x8003001D, 33013}, {0x80030004, 33014},
      {0x8000FFFF, 33015}, {0x80030008, 32773}, {0x8007000E, 32773}, {0x80030109, 33016},
  };
  for (const auto& [result, code] : table) {
    SCOPED_TRACE(result);
    EXPECT_EQ(RaisedCode(static_cast<int32_t>(result)), code);
  }
}

TEST(StorageResultMapping, UnlistedResultsAndSuccessAreTheCatchAll) {
  EXPECT_EQ(RaisedCode(0), 32769);                                     // S_OK
  EXPECT_EQ(RaisedCode(static_cast<int32_t>(0x8003001E)), 32769);      // read fault
  EXPECT_EQ(RaisedCode(static_cast<int32_t>(0x80004005)), 32769);      // E_FAIL
}

TEST(StorageResultMapping, MediumFullIsRaisedEveryTime) {
  // A full medium must not silence the errors that follow it.
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(RaisedCode(static_cast<int32_t>(0x80030070)), 33012);
  EXPECT_EQ(RaisedCode(static_cast<int32_t>(0x80030002)), 33006);
}

std::vector<FilterException> g_seen;
void Record(FilterException& e) { g_seen.push_back(e); }

class Messengers : public ::testing::Test {
 protected:
  void SetUp() override { g_seen.clear(); }
  void TearDown() override {
    SetWarningMessenger(nullptr);
    SetLogEventMessenger(nullptr);
  }
};

TEST_F(Messengers, ErrorsThrowWithTheirPosition) {
  try {
    Error(34001);
    FAIL();
  } catch (const FilterException& e) {
    EXPECT_EQ(e.Code(), 34001);
    EXPECT_EQ(e.Type(), sh_Error);
    EXPECT_EQ(e.Position().first, 0u);
    EXPECT_EQ(e.Text(), nullptr);  // the module carries no texts for library codes
  }
  try {
    LocalizedError(44006, FE_Position(7, 9));
    FAIL();
  } catch (const FilterException& e) {
    EXPECT_EQ(e.Position().first, 7u);
    EXPECT_EQ(e.Position().second, 9u);
  }
}

TEST_F(Messengers, WarningsAndLogEventsGoToTheirMessengers) {
  SetWarningMessenger(Record);
  SetLogEventMessenger(Record);
  Warning(1);
  LocalizedWarning(2, FE_Position(3, 4));
  LogEvent(5);
  LocalizedLogEvent(6, FE_Position(1, 2));
  ASSERT_EQ(g_seen.size(), 4u);
  EXPECT_EQ(g_seen[0].Type(), sh_Warning);
  EXPECT_EQ(g_seen[1].Position().second, 4u);
  EXPECT_EQ(g_seen[2].Type(), sh_LogEvent);
  EXPECT_EQ(g_seen[3].Code(), 6);
}

TEST_F(Messengers, WarningOfACaughtErrorChangesItsType) {
  SetWarningMessenger(Record);
  try {
    Error(33007);
  } catch (FilterException& e) {
    Warning(e);
    EXPECT_EQ(e.Type(), sh_Warning);
  }
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].Code(), 33007);
  EXPECT_EQ(g_seen[0].Type(), sh_Warning);
}

TEST_F(Messengers, NullReinstallsTheNonBlockingDefaults) {
  SetWarningMessenger(Record);
  SetWarningMessenger(nullptr);
  SetLogEventMessenger(nullptr);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  Warning(33012);
  LogEvent(44001);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "(44001) \n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning\t33012\n\n\n");
  EXPECT_TRUE(g_seen.empty());
}

TEST_F(Messengers, CurrentExceptionIsReportedAsAWarning) {
  SetWarningMessenger(Record);
  try {
    Error(44003);
  } catch (...) {
    WarnAboutCurrentException();
  }
  try {
    throw std::bad_alloc();
  } catch (...) {
    WarnAboutCurrentException();
  }
  try {
    throw 5;
  } catch (...) {
    WarnAboutCurrentException();
  }
  ASSERT_EQ(g_seen.size(), 3u);
  EXPECT_EQ(g_seen[0].Code(), 44003);
  EXPECT_EQ(g_seen[1].Code(), 32773);
  EXPECT_EQ(g_seen[2].Code(), 32769);
}

TEST(AssertFail, ReportsTheFileNameAndGoesOn) {
  testing::internal::CaptureStderr();
  AssertFail("a/b/c", 12, "theLen < mMaxLen");
  AssertFail("x\\y/z", 3, "0");
  AssertFail("plain.cpp", 459, "mPrivateBox.get()");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unexpected error at c 12\ntheLen < mMaxLen\n"
            "Unexpected error at y/z 3\n0\n"
            "Unexpected error at plain.cpp 459\nmPrivateBox.get()\n");
}

}  // namespace
