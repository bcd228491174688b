// For tests only: why the JSON reader gave no document. The program never asks; its contract
// is "no document, no reason" (json/TKXJSONStreamer.h).
//
//   TJSONReadFailure why;
//   json_testing::ReadTextExplained("[1,,2]", why);   // nullptr; why = {"value expected", 3}
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "json/TKXJSONStreamer.h"

namespace rb {

struct TJSONReadFailure {
  std::string reason;  // empty while nothing failed
  size_t offset = 0;   // byte offset in the text where the failure was found
};

namespace json_testing {

// ReadText, telling why it gave no document.
TKXJSONPtr ReadTextExplained(std::string_view text, TJSONReadFailure& failure);

// The reader's search for the closing quote of a string whose content starts at start: the
// offset of that quote (text.size() when there is none), whether a backslash came first, and
// whether any byte of 0x80 or above did. The escaped byte after a backslash never closes the
// string. ScanString looks at eight bytes at a time and must always agree with
// ScanStringPlain, which looks at one.
struct TStringScan {
  size_t end = 0;
  bool escapes = false;
  bool high = false;
  bool operator==(const TStringScan&) const = default;
};
TStringScan ScanStringPlain(std::string_view text, size_t start);
TStringScan ScanString(std::string_view text, size_t start);

}  // namespace json_testing
}  // namespace rb
