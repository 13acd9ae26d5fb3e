// Dates as VBScript keeps them: a Double counting days since 30 December
// 1899, the fraction being the time of day; shown as US English text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarv::vbs {

struct DateParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  int weekday = 7;  // 1 = Sunday
};

// Valid serials lie between 1 January 100 and 31 December 9999.
inline constexpr double kMinDate = -657434.0;
inline constexpr double kMaxDate = 2958465.0;  // its last day; times run up to the next

// Month and day may run over (month 13 is January of the next year, day 0
// the last day of the month before), as DateSerial allows; throws Overflow
// outside the valid range.
double SerialFromDate(std::int64_t year, std::int64_t month, std::int64_t day);
double SerialFromTime(std::int64_t hour, std::int64_t minute, std::int64_t second);
DateParts PartsOf(double serial);

// "12/6/2026 11:57:14 PM", without the date part on day 0 and without the
// time at midnight.
std::string FormatDate(double serial);
std::string FormatDatePart(const DateParts& p);  // "12/6/2026"
std::string FormatTimePart(const DateParts& p);  // "11:57:14 PM"

// Dates and times as scripts write them: "2026-12-06", "12/6/2026",
// "6 Dec 2026", "December 6, 2026", each optionally followed by a time
// "23:57", "11:57:14 PM"; or a time alone.
std::optional<double> ParseDate(std::string_view text);

// Now in local time as a serial, and seconds since midnight.
double NowSerial();
double SecondsSinceMidnight();

std::string_view MonthNameOf(int month, bool abbreviate);    // 1..12
std::string_view WeekdayNameOf(int weekday, bool abbreviate);  // 1 = Sunday

}  // namespace tarv::vbs
