#include "platform/Number.h"

namespace platform {

std::from_chars_result ParseLongDouble(const char* first, const char* last, long double& value) {
  // from_chars also reads "inf" and "nan", which are no decimal numbers.
  const char* p = first != last && *first == '-' ? first + 1 : first;
  if (p == last || !((*p >= '0' && *p <= '9') || *p == '.')) {
    return {first, std::errc::invalid_argument};
  }
  return std::from_chars(first, last, value);
}

}  // namespace platform
