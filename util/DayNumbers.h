// Day numbers, the program's dates: days counted from 30 December 1899 (day 0), the fraction
// being the time of day. The whole part is the date, taken toward zero, and the time is the
// fraction's magnitude, so a date before day 0 keeps a positive time:
//   36526.75  = 1 January 2000, 18:00
//   -1.25     = 29 December 1899, 06:00 (not 28 December, 18:00)
// The calendar is the proleptic Gregorian one of <chrono>. Every conversion between day numbers
// and calendar dates in the program goes through here. Pure functions; safe on any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace rb {

inline constexpr int64_t kDayNumberOfUnixEpoch = 25569;  // 1 January 1970
inline constexpr int64_t kMillisecondsPerDay = 86400000;
// Beyond this many days from day 0 (about the year 10113) a number is no calendar date.
inline constexpr double kMaxCalendarDays = 3e6;

// The calendar date of a whole day number. REQUIRES: |day| <= kMaxCalendarDays.
std::chrono::year_month_day DateOfDay(int64_t day);
// The whole day number of a date; none for an impossible date (31 February, month 13).
std::optional<int64_t> DayOfDate(const std::chrono::year_month_day& date);

// A day number taken apart: the date (toward zero) and the time of day in whole units of
// unit_ms (1 for milliseconds, 1000 for seconds), rounded to the nearest unit; a time that
// rounds to a whole day moves the date one day further from day 0. None for a number that is
// not finite or lies beyond kMaxCalendarDays.
struct TDayAndTime {
  int64_t day = 0;
  int64_t time = 0;  // units since midnight, 0 <= time < one day
  friend bool operator==(const TDayAndTime&, const TDayAndTime&) = default;
};
std::optional<TDayAndTime> SplitDayNumber(double value, int64_t unit_ms = 1);

// The day number of a date and a time of day in milliseconds (0 <= ms < one day).
double DayNumberOf(int64_t day, int64_t ms_of_day);
// The day number of a local wall-clock time.
double DayNumberOf(std::chrono::local_time<std::chrono::milliseconds> local);
// The local date and time now as a day number (platform::LocalNow).
double Now();

}  // namespace rb
