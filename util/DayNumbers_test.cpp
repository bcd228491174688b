#include "util/DayNumbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace rb {
namespace {

using namespace std::chrono;

// The edge cases of day numbers, once for the whole program: day 0, before it, leap years,
// fractions and their rounding.
TEST(DayNumbers, DatesOfDayNumbers) {
  struct Case {
    const char* name;
    int64_t day;
    year_month_day date;
  } cases[] = {
      {"day 0", 0, 1899y / December / 30},
      {"day 1", 1, 1899y / December / 31},
      {"before day 0", -1, 1899y / December / 29},
      {"one year before", -365, 1898y / December / 30},
      {"1900 is no leap year", 60, 1900y / February / 28},
      {"the day after", 61, 1900y / March / 1},
      {"2000 is a leap year", 36585, 2000y / February / 29},
      {"2024 leap day", 45351, 2024y / February / 29},
      {"the Unix epoch", kDayNumberOfUnixEpoch, 1970y / January / 1},
      {"1 January 2000", 36526, 2000y / January / 1},
      {"year 1", -693593, 1y / January / 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DateOfDay(c.day), c.date);
    EXPECT_EQ(DayOfDate(c.date), c.day);
  }
  EXPECT_EQ(DayOfDate(2023y / February / 29), std::nullopt);
  EXPECT_EQ(DayOfDate(2024y / month{13} / 1), std::nullopt);
  EXPECT_EQ(DayOfDate(2024y / April / 31), std::nullopt);
}

TEST(DayNumbers, SplitTakesTheDateTowardZeroAndTheTimeAsMagnitude) {
  struct Case {
    const char* name;
    double value;
    int64_t unit_ms;
    std::optional<TDayAndTime> split;
  } cases[] = {
      {"1 January 2000, 18:00", 36526.75, 1, TDayAndTime{36526, 64800000}},
      {"day 0, noon", 0.5, 1, TDayAndTime{0, 43200000}},
      {"29 December 1899, 06:00", -1.25, 1, TDayAndTime{-1, 21600000}},
      {"before day 0 but the same day", -0.25, 1, TDayAndTime{0, 21600000}},
      {"in seconds", 36526.75, 1000, TDayAndTime{36526, 64800}},
      {"rounds to the next second", 0.5 + 0.6 / 86400, 1000, TDayAndTime{0, 43201}},
      {"rounds into the next day", 1 - 0.1 / 86400, 1000, TDayAndTime{1, 0}},
      {"rounds into the previous day before day 0", -1 - (1 - 0.1 / 86400), 1000,
       TDayAndTime{-2, 0}},
      {"a millisecond", 1 + 1.0 / 86400000, 1, TDayAndTime{1, 1}},
      {"beyond the calendar", 3.1e6, 1, std::nullopt},
      {"not a number", std::numeric_limits<double>::quiet_NaN(), 1, std::nullopt},
      {"infinite", -std::numeric_limits<double>::infinity(), 1, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SplitDayNumber(c.value, c.unit_ms), c.split);
  }
}

TEST(DayNumbers, DayNumbersOfDatesAndTimes) {
  EXPECT_DOUBLE_EQ(DayNumberOf(36526, 64800000), 36526.75);
  EXPECT_DOUBLE_EQ(DayNumberOf(-1, 21600000), -1.25);
  EXPECT_DOUBLE_EQ(DayNumberOf(0, 21600000), 0.25);
  const local_time<milliseconds> local = local_days{2000y / January / 1} + 18h;
  EXPECT_DOUBLE_EQ(DayNumberOf(local), 36526.75);
  const local_time<milliseconds> early = local_days{1899y / December / 29} + 6h;
  EXPECT_DOUBLE_EQ(DayNumberOf(early), -1.25);
  // The round trip through SplitDayNumber.
  for (double value : {36526.75, -1.25, 0.0, 45351.999, -700.5}) {
    const auto split = SplitDayNumber(value);
    ASSERT_TRUE(split);
    EXPECT_NEAR(DayNumberOf(split->day, split->time), value, 1e-9) << value;
  }
}

}  // namespace
}  // namespace rb
