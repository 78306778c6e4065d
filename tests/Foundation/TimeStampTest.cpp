#include "Foundation/TimeStamp.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sstream>

namespace {

TimeStamp FifthOfMarch()
{
    TimeStamp stamp;
    stamp.m_year = 2026;
    stamp.m_month = 3;
    stamp.m_day = 5;
    stamp.m_hour = 7;
    stamp.m_minute = 8;
    stamp.m_second = 9;
    return stamp;
}

template <class Writer>
std::string Written(Writer write, const TimeStamp& stamp)
{
    std::ostringstream out;
    write(out, stamp);
    return out.str();
}

TEST(TimeStamp, TextFormsPadEveryFieldButTheYear)
{
    const TimeStamp stamp = FifthOfMarch();
    EXPECT_EQ(Written(WriteDate, stamp), "2026-03-05");
    EXPECT_EQ(Written(WriteTime, stamp), "07:08:09");
    EXPECT_EQ(Written(WriteTimeStamp, stamp), "2026-03-05 07:08:09");

    TimeStamp early = stamp;
    early.m_year = 987;
    EXPECT_EQ(Written(WriteDate, early), "987-03-05");
    EXPECT_EQ(FormatCompactDate(early, false), "09870305");
}

TEST(TimeStamp, CompactFormsHaveNoSeparators)
{
    const TimeStamp stamp = FifthOfMarch();
    EXPECT_EQ(FormatCompactDate(stamp, false), "20260305");
    EXPECT_EQ(FormatCompactDate(stamp, true), "260305");
    EXPECT_EQ(FormatCompactTime(stamp), "070809");
    EXPECT_EQ(FormatCompactTimeStamp(stamp, false), "20260305070809");
    EXPECT_EQ(FormatCompactTimeStamp(stamp, true), "260305070809");
}

TEST(TimeStamp, SetNowReadsOneLocalTime)
{
    // Both parts come from one reading, so the stamp is one instant between two clock reads.
    const std::time_t before = std::time(nullptr);
    TimeStamp stamp;
    stamp.SetNow();
    const std::time_t after = std::time(nullptr);

    std::tm local{};
    local.tm_year = stamp.m_year - 1900;
    local.tm_mon = stamp.m_month - 1;
    local.tm_mday = stamp.m_day;
    local.tm_hour = stamp.m_hour;
    local.tm_min = stamp.m_minute;
    local.tm_sec = stamp.m_second;
    local.tm_isdst = -1;
    const std::time_t instant = std::mktime(&local);
    EXPECT_LE(before, instant);
    EXPECT_GE(after, instant);
}

} // namespace
