#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/Number.h"

namespace platform {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The end of the longest decimal number at first, or first when none:
// [-]digits[.digits][e[+-]digits], also .digits and digits. as std::from_chars takes them.
const char* NumberEnd(const char* first, const char* last) {
  const char* p = first;
  if (p != last && *p == '-') ++p;
  const char* digits_start = p;
  while (p != last && IsDigit(*p))
    ++p;
  size_t digits = static_cast<size_t>(p - digits_start);
  if (p != last && *p == '.') {
    const char* fraction = ++p;
    while (p != last && IsDigit(*p))
      ++p;
    digits += static_cast<size_t>(p - fraction);
    if (digits == 0) return first;
  }
  if (digits == 0) return first;
  if (p != last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    if (q != last && (*q == '+' || *q == '-')) ++q;
    if (q != last && IsDigit(*q)) {
      while (q != last && IsDigit(*q))
        ++q;
      p = q;
    }
  }
  return p;
}

}  // namespace

std::from_chars_result ParseLongDouble(const char* first, const char* last, long double& value) {
  const char* end = NumberEnd(first, last);
  if (end == first) return {first, std::errc::invalid_argument};
  std::string text(first, end);
  // strtold follows the C locale's decimal point, which the program may have changed.
  const char point = *std::localeconv()->decimal_point;
  if (point != '.') {
    for (char& c : text)
      if (c == '.') c = point;
  }
  errno = 0;
  char* stop = nullptr;
  const long double v = std::strtold(text.c_str(), &stop);
  if (stop != text.c_str() + text.size()) return {first, std::errc::invalid_argument};
  // ERANGE also for results that are merely subnormal: from_chars calls only 0 and infinity
  // out of range.
  if (errno == ERANGE && (v == 0 || std::isinf(v))) return {end, std::errc::result_out_of_range};
  value = v;
  return {end, std::errc()};
}

}  // namespace platform
