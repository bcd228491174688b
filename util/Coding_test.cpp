#include "util/Coding.h"

#include <gtest/gtest.h>

#include <string>

namespace rb {
namespace {

TEST(Coding, Fixed64RoundTripsAndMatchesLiteralBytes) {
  struct Case {
    const char* name;
    int64_t value;
    std::string bytes;
  } cases[] = {
      {"zero", 0, std::string(8, '\0')},
      {"one", 1, std::string("\x01\0\0\0\0\0\0\0", 8)},
      {"end marker", -1, std::string(8, '\xFF')},
      {"97", 97, std::string("\x61\0\0\0\0\0\0\0", 8)},
      {"high byte", int64_t{1} << 56, std::string("\0\0\0\0\0\0\0\x01", 8)},
      {"largest", INT64_MAX, std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 8)},
      {"smallest", INT64_MIN, std::string("\0\0\0\0\0\0\0\x80", 8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    PutFixed64(out, c.value);
    EXPECT_EQ(out, c.bytes);
    EXPECT_EQ(DecodeFixed64(c.bytes.data()), c.value);
    EXPECT_EQ(DecodeFixed64(reinterpret_cast<const unsigned char*>(c.bytes.data())), c.value);
  }
}

TEST(Coding, Fixed32And16MatchLiteralBytes) {
  struct Case {
    uint32_t value;
    std::string bytes;
  } cases[] = {
      {0, std::string(4, '\0')},
      {14, std::string("\x0E\0\0\0", 4)},
      {0xFFFFFFFF, std::string(4, '\xFF')},
      {0x12345678, "\x78\x56\x34\x12"},
  };
  for (const Case& c : cases) {
    std::string out;
    PutFixed32(out, c.value);
    EXPECT_EQ(out, c.bytes) << c.value;
    EXPECT_EQ(DecodeFixed32(c.bytes.data()), c.value);
  }
  unsigned char b[2];
  EncodeFixed16(b, 0xBEEF);
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(b[1], 0xBE);
  EXPECT_EQ(DecodeFixed16(b), 0xBEEF);
}

TEST(Coding, WritesNoByteBeyondTheWidth) {
  std::string buffer(12, '#');
  EncodeFixed64(buffer.data() + 2, -2);
  EXPECT_EQ(buffer.substr(0, 2), "##");
  EXPECT_EQ(buffer.substr(10), "##");
  EncodeFixed32(buffer.data(), 0);
  EXPECT_EQ(buffer[4], '\xFF');
}

}  // namespace
}  // namespace rb
