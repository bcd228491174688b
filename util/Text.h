// Small helpers on 8-bit text that several readers share.
#pragma once

#include <string_view>

namespace rb {

// The text without leading and trailing blanks and tabs (line breaks and other control bytes
// stay: the readers that use this have already split at them).
inline std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

}  // namespace rb
