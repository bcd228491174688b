#include "platform/CodePage.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(CodePage, HighBytesMapLikeWindows1252) {
  struct Row {
    unsigned char byte;
    char16_t unit;
  };
  const Row rows[] = {{0x80, 0x20AC}, {0x8A, 0x0160}, {0x9F, 0x0178},
                      {0x96, 0x2013}, {0xA0, 0x00A0}, {0xE4, 0x00E4},
                      {0xFF, 0x00FF}, {0x41, 0x0041}, {0x00, 0x0000}};
  for (const Row& r : rows) {
    EXPECT_EQ(AnsiCharToWide(r.byte), r.unit) << int(r.byte);
    EXPECT_EQ(static_cast<unsigned char>(WideCharToAnsi(r.unit)), r.byte) << int(r.byte);
  }
}

TEST(CodePage, UnassignedBytesRoundTripThroughC1) {
  for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    EXPECT_EQ(AnsiCharToWide(b), char16_t(b));
    EXPECT_EQ(static_cast<unsigned char>(WideCharToAnsi(char16_t(b))), b);
  }
}

TEST(CodePage, EveryByteRoundTrips) {
  std::string all;
  for (int i = 0; i < 256; ++i)
    all += static_cast<char>(i);
  EXPECT_EQ(WideToAnsi(AnsiToWide(all)), all);
}

TEST(CodePage, UnitsWithoutAByteBecomeQuestionMark) {
  // C1 points that Windows-1252 assigns elsewhere, letters outside it, and surrogate halves.
  EXPECT_EQ(WideToAnsi(u"\u0080\u0100\u4E2D\U0001F600x"), "?????x");
}

TEST(CodePage, UpperCase) {
  EXPECT_EQ(AnsiUpper('a'), 'A');
  EXPECT_EQ(AnsiUpper(0xE4), 0xC4);  // ä
  EXPECT_EQ(AnsiUpper(0xFC), 0xDC);  // ü
  EXPECT_EQ(AnsiUpper(0x9A), 0x8A);  // š
  EXPECT_EQ(AnsiUpper(0xFF), 0x9F);  // ÿ
  EXPECT_EQ(AnsiUpper(0xDF), 0xDF);  // ß has no capital in the code page
  EXPECT_EQ(AnsiUpper(0xF7), 0xF7);  // ÷
  EXPECT_EQ(AnsiUpper('1'), '1');
}

TEST(CodePage, LowerCaseUndoesUpperCaseForEveryCapital) {
  for (int c = 0; c < 256; ++c) {
    const auto lower = AnsiLower(static_cast<unsigned char>(c));
    if (lower != c) {
      EXPECT_EQ(AnsiUpper(lower), c) << c;
    }
  }
  EXPECT_EQ(AnsiLower(0xD7), 0xD7);  // ×
  EXPECT_EQ(AnsiLower(0xDF), 0xDF);  // ß
  EXPECT_EQ(AnsiLower(0xC4), 0xE4);  // Ä
}

// The buffer form copies Latin-1 straight: it must agree with the general conversion on every
// unit, alone and inside a text, also where the buffer held a longer text before.
TEST(CodePage, BufferFormAgreesWithTheGeneralConversion) {
  std::string out(40, 'x');
  for (int u = 0; u < 0x10000; ++u) {
    const std::u16string text = u"ab" + std::u16string(1, static_cast<char16_t>(u)) + u"cd";
    WideToAnsi(text, out);
    ASSERT_EQ(out, WideToAnsi(text)) << u;
  }
  WideToAnsi(u"", out);
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace platform
