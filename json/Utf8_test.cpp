#include "json/Utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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

TEST(Utf8, RunWiseDecodingAgreesWithTheByteWiseOne) {
  // Runs of ASCII are widened eight bytes at a time; the sequences between them, the ends of
  // runs at every offset and malformed input must come out as the byte-wise decoder has them.
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases = {
      {"empty", ""},
      {"ASCII shorter than a word", "abcdefg"},
      {"ASCII of exactly a word", "abcdefgh"},
      {"ASCII over several words", "Stahlbetonwaende C25/30, Dicke 24 cm"},
      {"a letter after a word", "abcdefgh\xC3\xA4"},
      {"a letter inside a word",
       "abc\xC3\xA4"
       "defghijk"},
      {"three-byte sequence across a word end", "abcdef\xE2\x82\xACxyz12345"},
      {"cut off at the end after a long run", "abcdefghijklmnop\xE2\x82"},
      {"bad follower after a run", "abcdefghij\xC3\x41"},
      {"code-page byte after a run", "Gr\xF6\xDF"},
      {"only high bytes", "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F"},
  };
  std::mt19937 random(7);
  for (int i = 0; i < 400; ++i) {
    std::string bytes(random() % 40, ' ');
    for (char& c : bytes) {
      const unsigned r = random() % 10;
      c = static_cast<char>(r < 7 ? 'a' + random() % 26 : r < 8 ? 0xC3 : r < 9 ? 0xA4 : 0xE2);
    }
    cases.push_back({"random", bytes});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + testing::PrintToString(c.bytes));
    std::u16string plain(c.bytes.size(), u'?'), runs(c.bytes.size(), u'?');
    size_t plain_length = 99, runs_length = 99;
    const bool plain_ok = DecodeUtf8Plain(c.bytes, plain.data(), plain_length);
    const bool runs_ok = DecodeUtf8(c.bytes, runs.data(), runs_length);
    ASSERT_EQ(runs_ok, plain_ok);
    EXPECT_EQ(runs_length, plain_length);
    if (plain_ok) {
      EXPECT_EQ(runs.substr(0, runs_length), plain.substr(0, plain_length));
    }
  }
  EXPECT_EQ(AsciiRunLength("abcdefghij\x80xyz"), 10u);
  EXPECT_EQ(AsciiRunLength("\xFF"), 0u);
  EXPECT_EQ(AsciiRunLength("abcdefgh"), 8u);
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
