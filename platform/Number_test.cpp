#include "platform/Number.h"

#include <gtest/gtest.h>

#include <string_view>

namespace platform {
namespace {

TEST(ParseLongDouble, ReadsWithTheWholePrecisionAndRangeOfTheType) {
  struct Row {
    const char* name;
    std::string_view text;
    std::errc ec;
    size_t used;
  };
  const Row rows[] = {
      {"plain", "-12.5e3", std::errc(), 7},
      {"beyond double", "1e4000", std::errc(), 6},
      {"beyond long double", "1e5000", std::errc::result_out_of_range, 6},
      {"below long double", "1e-5000", std::errc::result_out_of_range, 7},
      {"stops at the first non-number", "12x", std::errc(), 2},
      {"an exponent without digits is not one", "3e+", std::errc(), 1},
      {"no number", "x1", std::errc::invalid_argument, 0},
      {"no plus sign", "+1", std::errc::invalid_argument, 0},
      {"no infinity", "inf", std::errc::invalid_argument, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    long double value = -7;
    const auto r = ParseLongDouble(row.text.data(), row.text.data() + row.text.size(), value);
    EXPECT_EQ(r.ec, row.ec);
    if (row.ec == std::errc::invalid_argument) {
      EXPECT_EQ(r.ptr, row.text.data());
      EXPECT_EQ(value, -7) << "unchanged";
    } else {
      EXPECT_EQ(r.ptr, row.text.data() + row.used);
    }
  }
  // Digits a double cannot hold: 0.1 as a long double is not 0.1 as a double.
  long double value = 0;
  const std::string_view tenth = "0.1";
  ParseLongDouble(tenth.data(), tenth.data() + tenth.size(), value);
  EXPECT_EQ(value, 0.1L);
  EXPECT_NE(value, static_cast<long double>(0.1));
  const std::string_view huge = "1e4000";
  ParseLongDouble(huge.data(), huge.data() + huge.size(), value);
  EXPECT_GT(value, 1e3999L);
}

}  // namespace
}  // namespace platform
