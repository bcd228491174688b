#include "util/DayNumbers.h"

#include <cmath>

#include "platform/System.h"

namespace rb {

using namespace std::chrono;

year_month_day DateOfDay(int64_t day) {
  return year_month_day{sys_days{days{day - kDayNumberOfUnixEpoch}}};
}

std::optional<int64_t> DayOfDate(const year_month_day& date) {
  if (!date.ok()) return std::nullopt;
  return sys_days{date}.time_since_epoch().count() + kDayNumberOfUnixEpoch;
}

std::optional<TDayAndTime> SplitDayNumber(double value, int64_t unit_ms) {
  if (!std::isfinite(value) || std::fabs(value) > kMaxCalendarDays) return std::nullopt;
  const double whole = std::trunc(value);
  const int64_t units_per_day = kMillisecondsPerDay / unit_ms;
  TDayAndTime out{static_cast<int64_t>(whole),
                  std::llround(std::fabs(value - whole) * static_cast<double>(units_per_day))};
  if (out.time >= units_per_day) {
    out.day += value < 0 ? -1 : 1;
    out.time = 0;
  }
  return out;
}

double DayNumberOf(int64_t day, int64_t ms_of_day) {
  const double time = static_cast<double>(ms_of_day) / static_cast<double>(kMillisecondsPerDay);
  return static_cast<double>(day) + (day < 0 ? -time : time);
}

double DayNumberOf(local_time<milliseconds> local) {
  const local_days date = floor<days>(local);
  const int64_t ms = (local - date).count();
  return DayNumberOf(date.time_since_epoch().count() + kDayNumberOfUnixEpoch, ms);
}

double Now() {
  return DayNumberOf(platform::LocalNow());
}

}  // namespace rb
