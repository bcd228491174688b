// For tests only: why loading the info lines stopped. The program never asks; its contract is
// "what was read so far, no reason" (json/ULinked.h).
//
//   TInfoLinesFailure why;
//   json_testing::LoadInfoLinesExplained(lines, stream, why);  // why.reason empty: no failure
#pragma once

#include <cstdint>
#include <string>

#include "json/ULinked.h"

namespace rb {

struct TInfoLinesFailure {
  std::string reason;  // the failing reader's message; empty while nothing failed
  int64_t offset = 0;  // the stream's position when the load stopped
};

namespace json_testing {

// LoadFromStream, telling why it stopped.
void LoadInfoLinesExplained(TAddInfoLines& lines, TStream& stream, TInfoLinesFailure& failure);

}  // namespace json_testing
}  // namespace rb
