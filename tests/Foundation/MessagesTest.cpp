#include <gtest/gtest.h>

#include <cstring>

#include "Foundation/ErrorCodes.h"
#include "Foundation/MsgString.h"
#include "Foundation/TraceHooks.h"

namespace {

TEST(ErrorCodes, NamesTheTableAndNothingElse)
{
    EXPECT_STREQ(ErrorCodeName(1000), "Wrong Parameter");
    EXPECT_STREQ(ErrorCodeName(1004), "DWX Error");
    EXPECT_STREQ(ErrorCodeName(1007), "Reserved 1007");
    EXPECT_STREQ(ErrorCodeName(1021), "Quark Assert");
    EXPECT_EQ(ErrorCodeName(999), nullptr);
    EXPECT_EQ(ErrorCodeName(1022), nullptr);
    EXPECT_STREQ(ErrorCodeNameOrUnknown(1022), "Unknown");
    EXPECT_STREQ(ErrorCodeNameOrUnknown(ErrorCode::Unexpected), "Unexpected");
}

TEST(MsgString, KeepsAtMost255Characters)
{
    const std::string text(300, 'm');
    const MsgString message(text.c_str());
    EXPECT_EQ(message.Length(), 255);
    EXPECT_EQ(std::string(message.Text()), text.substr(0, 255));

    EXPECT_EQ(MsgString(nullptr).Length(), 0);
    EXPECT_STREQ(MsgString(std::string("ab\0cd", 5)).Text(), "ab");
}

TEST(MsgString, CopiesShareOneText)
{
    MsgString a("shared");
    MsgString b = a;
    EXPECT_EQ(a.Text(), b.Text());
    b = MsgString("other");
    EXPECT_STREQ(a.Text(), "shared");
    EXPECT_STREQ(b.Text(), "other");
}

TEST(TraceHooks, AnswerTheirArgumentsAndChangeNothing)
{
    EXPECT_EQ(ReportInternalError("file.cpp", 42), 42);
    EXPECT_EQ(ReportInternalError(nullptr, 7), 7);
    EXPECT_EQ(ReportError(1004), 1004);
    ReportCallBackFailed();
    EXPECT_EQ(debug_check(-43), -43);
    EXPECT_EQ(debug_check(0, "Close project error!"), 0);
    EXPECT_EQ(debug_check(12, nullptr), 12);
}

} // namespace
