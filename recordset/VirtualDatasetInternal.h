// Private to recordset/: the helpers that the field code, the record set and the stream format
// share (value ranges, number and date texts, the editing error text). Not part of the record
// set's interface; include only from recordset/*.cpp.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "platform/Locale.h"
#include "recordset/UVirtualDataset.h"
#include "util/DayNumbers.h"

namespace rb::dataset_internal {

inline std::string NotEditingText() {
  return "Datenmenge weder im Editier- noch im Einf\xFCgemodus";
}

[[noreturn]] inline void RangeError(const std::string& value, const TField& field) {
  throw EDatabaseError(value + " ist kein g\xFCltiger Wert f\xFCr das Feld '" +
                       field.DisplayName() + "'");
}

// A value that is already an integer only needs its range checked: no rounding, no trip
// through extended precision. The error text is the one ToIntegral gives for the same value.
template <typename T>
T IntegerInRange(int64_t value, const TField& field) {
  if constexpr (sizeof(T) < sizeof(int64_t)) {
    if (value < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
        value > static_cast<int64_t>(std::numeric_limits<T>::max())) {
      char text[64];
      std::snprintf(text, sizeof text, "%Lg", static_cast<long double>(value));
      RangeError(text, field);
    }
  }
  return static_cast<T>(value);
}

template <typename T>
T ToIntegral(long double value, const TField& field) {
  long double r = std::nearbyint(value);  // ties to even, like the platform's Round
  if (!(r >= static_cast<long double>(std::numeric_limits<T>::min()) &&
        r <= static_cast<long double>(std::numeric_limits<T>::max()))) {
    char text[64];
    std::snprintf(text, sizeof text, "%Lg", value);
    RangeError(text, field);
  }
  return static_cast<T>(r);
}

// A time field's value: the milliseconds of the day number's fraction. A time field holds one
// day at most: a fraction that rounds to midnight stays 23:59:59.999. REQUIRES: value finite.
inline int32_t TimeOfDayMilliseconds(double value) {
  const double frac = std::fabs(value - std::trunc(value));
  const int64_t ms = std::llround(frac * static_cast<double>(kMillisecondsPerDay));
  return static_cast<int32_t>(std::min<int64_t>(ms, kMillisecondsPerDay - 1));
}

inline bool IsTextType(TFieldType t) {
  return ValueClassOf(t) == TValueClass::kText;
}

inline std::string FloatText(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", value);
  char decimal = platform::UserLocale().decimal;
  for (char* p = text; *p; ++p)
    if (*p == '.') *p = decimal;
  return text;
}

inline bool ParseFloat(const std::string& text, long double& out) {
  if (text.empty()) return false;
  std::string t = text;
  char decimal = platform::UserLocale().decimal;
  for (char& c : t)
    if (c == decimal) c = '.';
  char* end = nullptr;
  out = std::strtold(t.c_str(), &end);
  while (end && *end == ' ')
    ++end;
  return end && *end == '\0' && end != t.c_str();
}

inline bool ParseInteger(const std::string& text, int64_t& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  out = v;
  return true;
}

// Day numbers as "dd.mm.yyyy" and "hh:nn:ss" (util/DayNumbers.h); the time is taken to the
// millisecond and shown to the second.
inline std::string DateTimeText(TFieldType type, double value) {
  char text[48] = "";
  const std::optional<TDayAndTime> split = SplitDayNumber(value);
  if (!split) return FloatText(value);
  const std::chrono::year_month_day date = DateOfDay(split->day);
  const int d = static_cast<int>(static_cast<unsigned>(date.day()));
  const int m = static_cast<int>(static_cast<unsigned>(date.month()));
  const int y = static_cast<int>(date.year());
  const int64_t ms = split->time;
  int hh = static_cast<int>(ms / 3600000), nn = static_cast<int>(ms / 60000 % 60),
      ss = static_cast<int>(ms / 1000 % 60);
  if (type == ftDate) {
    std::snprintf(text, sizeof text, "%02d.%02d.%04d", d, m, y);
  } else if (type == ftTime) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hh, nn, ss);
  } else {
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", d, m, y, hh, nn, ss);
  }
  return text;
}

}  // namespace rb::dataset_internal
