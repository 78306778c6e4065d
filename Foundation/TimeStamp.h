// Local date and time, and their text forms for logs, folder names and the heartbeat file.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

struct TimeStamp {
    int32_t m_year = 0;     // full year, e.g. 2026
    int32_t m_month = 0;    // 1 to 12
    int32_t m_day = 0;      // 1 to 31
    int32_t m_hour = 0;     // 0 to 23
    int32_t m_minute = 0;
    int32_t m_second = 0;

    // Fills both parts from one reading of the local clock.
    void SetNow();
};

// YYYY-MM-DD, hh:mm:ss and "YYYY-MM-DD hh:mm:ss".
std::ostream& WriteDate(std::ostream& out, const TimeStamp& stamp);
std::ostream& WriteTime(std::ostream& out, const TimeStamp& stamp);
std::ostream& WriteTimeStamp(std::ostream& out, const TimeStamp& stamp);

// YYYYMMDD (YYMMDD with twoDigitYear), hhmmss, and the two joined.
std::string FormatCompactDate(const TimeStamp& stamp, bool twoDigitYear);
std::string FormatCompactTime(const TimeStamp& stamp);
std::string FormatCompactTimeStamp(const TimeStamp& stamp, bool twoDigitYear);
