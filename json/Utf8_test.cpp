#include "json/Utf8.h"

#include <gtest/gtest.h>

namespace rb {
namespace {

TEST(Utf8, DecodesTwoAndThreeByteSequences) {
  EXPECT_EQ(Utf8ToWide("\xC3\xA4"), u"\u00E4");
  EXPECT_EQ(Utf8ToWide("\xE2\x82\xAC"), u"\u20AC");
  EXPECT_EQ(Utf8ToWide("a\xC3\xA4z"), u"a\u00E4z");
  EXPECT_EQ(Utf8ToWide(""), u"");
}

TEST(Utf8, MalformedInputGivesEmptyText) {
  EXPECT_EQ(Utf8ToWide("\xE4"), u"");         // code-page byte, not UTF-8
  EXPECT_EQ(Utf8ToWide("abc\xE2\x82"), u"");  // cut off by the end
  EXPECT_EQ(Utf8ToWide("\xC3\x41"), u"");     // follower outside 0x80..0xBF
  EXPECT_EQ(Utf8ToWide("\xE2\xC2\xAC"), u"");
}

TEST(Utf8, FourByteLeadIsReadAsThreeBytesTruncatedTo16Bits) {
  // F0 9F 98 80 (U+1F600) is not expected: the lead has bit 0x20, so three bytes are taken
  // and the fourth starts a two-byte sequence that is cut off.
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98"), std::u16string(1, char16_t(0x07D8)));
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), u"");
}

TEST(Utf8, LeadBytesAreNotCheckedBeyondBit0x20) {
  // A follower byte in the lead's place still starts a sequence: 80 80 is U+0000, A0 80 80
  // (bit 0x20 set) a three-byte one.
  EXPECT_EQ(Utf8ToWide("\x80\x80"), std::u16string(1, u'\0'));
  EXPECT_EQ(Utf8ToWide("\xA0\x80\x81"), std::u16string(1, char16_t(0x0001)));
  EXPECT_EQ(Utf8ToWide("\xC0\xBF"), u"?");  // an overlong form is decoded, not refused
}

TEST(Utf8, DecodeReportsMalformedInputWithoutTouchingTheLength) {
  char16_t out[8] = {};
  size_t length = 99;
  EXPECT_FALSE(DecodeUtf8("ab\xE2\x82", out, length));
  EXPECT_EQ(length, 99u);
  ASSERT_TRUE(DecodeUtf8("\xE2\x82\xACz", out, length));
  EXPECT_EQ(std::u16string(out, length), u"\u20ACz");
  ASSERT_TRUE(DecodeUtf8("", out, length));
  EXPECT_EQ(length, 0u);
}

TEST(Utf8, EncodesEachUnitOnItsOwn) {
  EXPECT_EQ(WideToUtf8(u"\u20AC"), "\xE2\x82\xAC");
  EXPECT_EQ(WideToUtf8(u"plain ASCII 123"), "plain ASCII 123");
  EXPECT_EQ(WideToUtf8(u"\u00FC\u07FF\u0800"), "\xC3\xBC\xDF\xBF\xE0\xA0\x80");
  // A surrogate pair becomes two three-byte sequences.
  EXPECT_EQ(WideToUtf8(u"\U0001F600"), "\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(WideToUtf8(u""), "");
}

TEST(Utf8, CodePageTextGoesThroughTheCodePage) {
  EXPECT_EQ(CodePageToUtf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(CodePageToUtf8("M\xFCller"), "M\xC3\xBCller");
  EXPECT_EQ(Utf8ToWide(CodePageToUtf8("\x8A\x9F\xFF")), u"\u0160\u0178\u00FF");
}

}  // namespace
}  // namespace rb
