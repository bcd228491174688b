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

}  // namespace json_testing
}  // namespace rb
