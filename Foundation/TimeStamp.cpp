#include "Foundation/TimeStamp.h"

#include <cstdio>
#include <ctime>

namespace {

// Two digits with a leading zero (more when the value needs them).
void AppendTwoDigits(std::string& out, int32_t value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", static_cast<int>(value));
    out += buffer;
}

} // namespace

void TimeStamp::SetNow()
{
    // One reading of the clock for both parts, so a stamp taken at midnight cannot combine
    // the date of one day with the time of the next.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    m_year = local.tm_year + 1900;
    m_month = local.tm_mon + 1;
    m_day = local.tm_mday;
    m_hour = local.tm_hour;
    m_minute = local.tm_min;
    m_second = local.tm_sec;
}

std::ostream& WriteDate(std::ostream& out, const TimeStamp& stamp)
{
    std::string text = std::to_string(stamp.m_year);
    text += '-';
    AppendTwoDigits(text, stamp.m_month);
    text += '-';
    AppendTwoDigits(text, stamp.m_day);
    return out << text;
}

std::ostream& WriteTime(std::ostream& out, const TimeStamp& stamp)
{
    std::string text;
    AppendTwoDigits(text, stamp.m_hour);
    text += ':';
    AppendTwoDigits(text, stamp.m_minute);
    text += ':';
    AppendTwoDigits(text, stamp.m_second);
    return out << text;
}

std::ostream& WriteTimeStamp(std::ostream& out, const TimeStamp& stamp)
{
    WriteDate(out, stamp);
    out << ' ';
    return WriteTime(out, stamp);
}

std::string FormatCompactDate(const TimeStamp& stamp, bool twoDigitYear)
{
    char year[16];
    std::snprintf(year, sizeof year, "%04d", static_cast<int>(stamp.m_year));
    std::string text = twoDigitYear ? std::string(year).substr(2) : std::string(year);
    AppendTwoDigits(text, stamp.m_month);
    AppendTwoDigits(text, stamp.m_day);
    return text;
}

std::string FormatCompactTime(const TimeStamp& stamp)
{
    std::string text;
    AppendTwoDigits(text, stamp.m_hour);
    AppendTwoDigits(text, stamp.m_minute);
    AppendTwoDigits(text, stamp.m_second);
    return text;
}

std::string FormatCompactTimeStamp(const TimeStamp& stamp, bool twoDigitYear)
{
    return FormatCompactDate(stamp, twoDigitYear) + FormatCompactTime(stamp);
}
