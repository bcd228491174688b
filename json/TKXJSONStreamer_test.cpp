#include "json/TKXJSONStreamer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "json/TKXJSONStreamerTesting.h"
#include "platform/Locale.h"
#include "platform/TestFolder.h"
#include "util/Errors.h"
#include "util/Files.h"
#include "util/Streams.h"

namespace rb {
namespace {

TKXJSONPtr Read(std::string_view text) {
  return TKXJSONStreamer::ReadText(text);
}

// The only string in a document: the root, or the first element of an array root.
std::u16string StringOf(std::string_view text) {
  TKXJSONPtr root = Read(text);
  if (!root) return u"<none>";
  TKXCustomJSON* value = root->GetKind() == ValueKind::js_List ? root->GetItem(0) : root.get();
  auto* s = dynamic_cast<TKXJSONstring*>(value);
  return s != nullptr ? std::u16string(s->Text()) : u"<not a string>";
}

long double NumberOf(std::string_view text) {
  TKXJSONPtr root = Read(text);
  auto* n = dynamic_cast<TKXJSONnumber*>(root.get());
  return n != nullptr ? n->Value() : -12345.0L;
}

TEST(Reader, MalformedTextGivesNoDocument) {
  const char* cases[] = {
      "",
      " \t\r\n ",
      "\xEF\xBB\xBF",
      "\xEF\xBB\xBF  ",
      "{a:1}",
      "{'a':1}",
      "True",
      "NULL",
      "False",
      "nul",
      "tru",
      "1.",
      ".5",
      "-",
      "+",
      "1e",
      "1e+",
      "[1.]",
      "[1,,2]",
      "[,1]",
      "[1 2",
      "[",
      "]",
      "{",
      "{\"a\" 1}",
      "{\"a\":}",
      "{\"a\":1,,\"b\":2}",
      "{,}",
      "{\"a\":1",
      "\"abc",
      "\"abc\\\"",
      "\"\\u12G4\"",
      "\"\\u\"",
      "[\"ok\", \"\\uZZZZ\"]",
      "1e5000",
      "[1, 2e5000]",
      "{\"a\":[1,{\"b\":1e99999}]}",
      "[\"x\" \"y\" tru]",
      "[1}",
      "{\"a\":1]",
  };
  for (const char* text : cases) {
    EXPECT_EQ(Read(text), nullptr) << "'" << text << "'";
  }
}

// Every failure goes through one point that names it; a programming error inside the reader
// would not land here but propagate.
TEST(Reader, FailuresSayWhyAndWhere) {
  struct Case {
    const char* text;
    const char* reason;
    size_t offset;
  } cases[] = {
      {"", "empty text", 0},
      {"\xEF\xBB\xBF", "empty text", 3},
      {"  ", "value expected at the end of the text", 2},
      {"tru", "unknown word", 0},
      {"[1, nul]", "unknown word", 4},
      {"[1, NULL]", "value expected", 4},
      {"{a:1}", "member name expected", 1},
      {"-", "digit expected after the sign", 1},
      {"1.", "digit expected after the point", 2},
      {".5", "value expected", 0},
      {"1e+", "digit expected in the exponent", 3},
      {"[1,,2]", "value expected", 3},
      {"[,1]", "value expected", 1},
      {"[1 2", "array not closed", 0},
      {"{\"a\":1", "object not closed", 0},
      {"[1}", "value expected", 2},
      {"{\"a\" 1}", "':' expected after the member name", 5},
      {"{\"a\":}", "value expected", 5},
      {" \"abc", "string not closed", 1},
      {"\"\\u12G4\"", "hexadecimal digit expected after \\u", 5},
      {"\"\\u\"", "hexadecimal digits expected after \\u", 2},
      {"[1, 2e5000]", "number out of range", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TJSONReadFailure why;
    EXPECT_EQ(json_testing::ReadTextExplained(c.text, why), nullptr);
    EXPECT_EQ(why.reason, c.reason);
    EXPECT_EQ(why.offset, c.offset);
  }
  TJSONReadFailure none;
  EXPECT_NE(json_testing::ReadTextExplained("[1,2,]", none), nullptr);
  EXPECT_EQ(none.reason, "");
}

TEST(Reader, TooDeepNestingSaysSo) {
  TJSONReadFailure why;
  const std::string deep(TKXJSONStreamer::kMaxDepth + 1, '[');
  EXPECT_EQ(json_testing::ReadTextExplained(deep, why), nullptr);
  EXPECT_EQ(why.reason, "nested too deeply");
  EXPECT_EQ(why.offset, static_cast<size_t>(TKXJSONStreamer::kMaxDepth));
}

TEST(Reader, EveryTruncationOfADocumentGivesNoDocument) {
  const std::string doc =
      "{\"Order\":[{\"LINKUID\":\"4711\",\"Parts\":[{\"Row\":1,\"Price\":-2.5e+1,"
      "\"Description1\":\"Gr\xC3\xBC\\u00DFe \\\"x\\\"\",\"ok\":true,\"no\":null}],"
      "\"Adress\":[]}]}";
  ASSERT_NE(Read(doc), nullptr);
  for (size_t n = 0; n < doc.size(); ++n) {
    EXPECT_EQ(Read(doc.substr(0, n)), nullptr) << n;
  }
}

TEST(Reader, CorruptedBytesNeverBreakTheReader) {
  // Each byte replaced in turn by bytes that start or end structures: the read gives a document
  // or none, and whatever it gives is whole: no missing element or member value, only pairs in
  // objects, and every name found at or before its own position.
  const std::string doc =
      "{\"a\":[1,\"x\\u00e4\\\"\",{\"b\":null,\"c\":true}],\"d\":-1.5e3,\"e\":\"\xC3\xA4\"}";
  ASSERT_NE(Read(doc), nullptr);
  std::function<int(TKXCustomJSON*)> walk = [&](TKXCustomJSON* v) {
    if (v == nullptr) return -1000;
    int n = 1;
    auto* object = dynamic_cast<TKXJSON*>(v);
    for (int i = 0; i < v->ItemCount(); ++i) {
      if (object == nullptr) {
        n += walk(v->GetItem(i));
        continue;
      }
      auto* pair = dynamic_cast<TKXJSONobjectmethod*>(v->GetItem(i));
      if (pair == nullptr) return -1000;
      const int32_t found = object->MemberIndex(pair->Name());
      if (found < 0 || found > i || object->MemberName(found) != pair->Name()) return -1000;
      n += 1 + walk(pair->Value());
    }
    return n;
  };
  int documents = 0;
  for (size_t i = 0; i < doc.size(); ++i) {
    for (char c : {'"', '\\', '[', ']', '{', '}', ',', ':', ' ', '\x80', '\0', 'e'}) {
      std::string bad = doc;
      bad[i] = c;
      if (TKXJSONPtr root = Read(bad)) {
        ++documents;
        EXPECT_GT(walk(root.get()), 0);
      }
    }
  }
  EXPECT_GT(documents, 0);
}

TEST(Reader, DeepNestingFailsInsteadOfOverflowingTheStack) {
  EXPECT_EQ(Read(std::string(1000000, '[')), nullptr);
  std::string closed = std::string(1000000, '[') + std::string(1000000, ']');
  EXPECT_EQ(Read(closed), nullptr);
  std::string objects;
  for (int i = 0; i < 200000; ++i)
    objects += "{\"a\":";
  EXPECT_EQ(Read(objects), nullptr);

  const int limit = TKXJSONStreamer::kMaxDepth;
  EXPECT_NE(Read(std::string(limit, '[') + std::string(limit, ']')), nullptr);
  EXPECT_EQ(Read(std::string(limit + 1, '[') + std::string(limit + 1, ']')), nullptr);
}

TEST(Reader, ArraysAndObjectsWithLenientCommas) {
  struct Row {
    const char* text;
    int count;
  };
  for (Row r : {Row{"[1 2]", 2},
                {"[1,2,]", 2},
                {"[ ]", 0},
                {"[]", 0},
                {"[1,2 ,\n]", 2},
                {"[\"a\"\"b\"[][]{}]", 5},
                {"[true false null]", 3},
                {"[-1-2]", 2},
                {"{\"a\":1 \"b\":2}", 2},
                {"{\"a\":1,\"b\":2,}", 2},
                {"{ }", 0},
                {"{\"a\" : 1 , \"a\" : 2}", 2},
                {"\x01[\x1F"
                 "1\x20]",
                 1}}) {
    TKXJSONPtr root = Read(r.text);
    ASSERT_NE(root, nullptr) << r.text;
    EXPECT_EQ(root->ItemCount(), r.count) << r.text;
  }
  TKXJSONPtr root = Read("[-1-2]");
  EXPECT_EQ(root->GetItem(1)->GetValue().ToDouble(), -2);
}

TEST(Reader, TextAfterTheFirstValueIsIgnored) {
  TKXJSONPtr root = Read("{} x");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->GetKind(), ValueKind::js_Object);
  EXPECT_EQ(root->ItemCount(), 0);
  ASSERT_NE(Read("truex"), nullptr);
  EXPECT_EQ(Read("truex")->GetKind(), ValueKind::js_Boolean);
  EXPECT_EQ(NumberOf("1.2.3"), 1.2L);
  EXPECT_EQ(NumberOf("7]"), 7);
  EXPECT_EQ(Read("nullnull")->GetKind(), ValueKind::js_Null);
}

TEST(Reader, RootsOfEveryKind) {
  struct Row {
    const char* text;
    ValueKind kind;
  };
  for (Row r : {Row{"1", ValueKind::js_Number},
                {" \"s\" ", ValueKind::js_String},
                {"true", ValueKind::js_Boolean},
                {"false", ValueKind::js_Boolean},
                {"null", ValueKind::js_Null},
                {"[]", ValueKind::js_List},
                {"{}", ValueKind::js_Object},
                {"\xEF\xBB\xBF{}", ValueKind::js_Object},
                {"\xEF\xBB\xBF 5", ValueKind::js_Number}}) {
    TKXJSONPtr root = Read(r.text);
    ASSERT_NE(root, nullptr) << r.text;
    EXPECT_EQ(root->GetKind(), r.kind) << r.text;
  }
  EXPECT_FALSE(Read("false")->GetValue().ToBoolean());
  EXPECT_TRUE(Read("true")->GetValue().ToBoolean());
  EXPECT_EQ(StringOf("\"x\\u00E4\""), u"x\u00E4");
}

TEST(Reader, Numbers) {
  struct Row {
    const char* text;
    long double value;
  };
  for (Row r : {Row{"0", 0},
                {"-0", 0},
                {"+007", 7},
                {"00.50", 0.5L},
                {"1E2", 100},
                {"1e2", 100},
                {"-2.5e+1", -25},
                {"25e-1", 2.5L},
                {"0.1", 0.1L},
                {"1e-5000", 0},
                {"123456789012345678", 123456789012345678.0L},
                {"1.7976931348623157e308", 1.7976931348623157e308L},
                {"1e4000", 1e4000L},
                {"3.14159265358979323846264338327950288", 3.14159265358979323846L},
                {"12345678901234567890123", 12345678901234567890123.0L},
                {"0.000000000000000000000000000001", 1e-30L}}) {
    EXPECT_EQ(NumberOf(r.text), r.value) << r.text;
  }
}

TEST(Reader, NumbersUseThePointWhateverTheLocale) {
  platform::SetUserLocaleForTesting({{',', ';'}});
  EXPECT_EQ(NumberOf("2.5"), 2.5L);
  EXPECT_EQ(Read("2,5")->GetValue().ToDouble(), 2);  // the comma ends the number
  platform::SetUserLocaleForTesting(std::nullopt);
}

TEST(Reader, StringEscapes) {
  struct Row {
    const char* name;
    const char* text;
    std::u16string value;
  };
  const Row rows[] = {
      {"plain", R"("abc")", u"abc"},
      {"empty", R"("")", u""},
      {"quote", R"("a\"b")", u"a\"b"},
      {"single quote", R"("a\'b")", u"a'b"},
      {"slash and backslash", R"("\/\\")", u"/\\"},
      {"backslash before the closing quote", R"(["a\\", 1])", u"a\\"},
      {"controls", R"("\b\f\n\r\t")", u"\b\f\n\r\t"},
      {"unknown escape drops both", R"("a\qb\xc")", u"abc"},
      {"u escape", R"("\u00E4\u00e4")", u"\u00E4\u00E4"},
      {"u escape ascii", R"("\u0041")", u"A"},
      {"u escape nul", R"("a\u0000b")", std::u16string(u"a\0b", 3)},
      {"euro alone", R"("\u20AC")", u"\u20AC"},
      {"euro then ascii", R"("\u20ACx")", u"\u20ACx"},
      {"euro beside utf-8 reads through the code page", "\"\\u20AC\xC3\xA4\"",
       u"\u20AC\u00C3\u00A4"},
      {"short u escape at the end", R"("\u41")", u"A"},
      {"surrogate pair", R"("\uD83D\uDE00")", u"\U0001F600"},
      {"bmp", R"("\u4E00")", u"\u4E00"},
      {"utf-8", "\"\xC3\xA4\"", u"\u00E4"},
      {"utf-8 three bytes", "\"\xE2\x82\xAC\"", u"\u20AC"},
      {"code page byte", "\"\xE4\"", u"\u00E4"},
      {"code page mixed with utf-8", "\"\xE4\xC3\xA4\"", u"\u00E4\u00C3\u00A4"},
      {"control bytes taken as they are", "\"a\x01\tb\"", u"a\x01\tb"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(StringOf(r.text), r.value) << r.name;
  }
}

TEST(Reader, StringScanLooksAtWordsAndAgreesWithTheByteWiseScan) {
  // The closing quote, backslashes and high bytes at every place in and across the eight-byte
  // words that the scan takes at once.
  using json_testing::ScanString;
  using json_testing::ScanStringPlain;
  using json_testing::TStringScan;
  struct Case {
    const char* name;
    std::string text;  // the content starts at 0
    TStringScan expected;
  };
  const std::vector<Case> cases = {
      {"empty string", "\"", {0, false, false}},
      {"quote in the first word", "abc\"def", {3, false, false}},
      {"quote in a later word", "abcdefghijklm\"xyz", {13, false, false}},
      {"quote right after a word", "abcdefgh\"", {8, false, false}},
      {"escaped quote across a word end", "abcdefg\\\"hij\"", {12, true, false}},
      {"escaped backslash before the quote", "abcdefghij\\\\\"", {12, true, false}},
      {"high byte in a clean word",
       "abc\xC3\xA4"
       "defgh\"",
       {10, false, true}},
      {"high byte escaped is not counted",
       "ab\\\xE4"
       "cd\"",
       {6, true, false}},
      {"not closed", "abcdefghijklmnopq", {17, false, false}},
      {"backslash at the very end", "abcdefghij\\", {11, true, false}},
      {"high byte after the quote is not counted", "abcdefgh\"\xE4", {8, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TStringScan fast = ScanString(c.text, 0);
    const TStringScan plain = ScanStringPlain(c.text, 0);
    EXPECT_EQ(plain.end, c.expected.end);
    EXPECT_EQ(plain.escapes, c.expected.escapes);
    EXPECT_EQ(plain.high, c.expected.high);
    EXPECT_TRUE(fast == plain) << fast.end << " " << fast.escapes << " " << fast.high;
  }
  // Random content of quotes, backslashes, high bytes and letters from every start.
  std::mt19937 random(11);
  const char alphabet[] = {'a', 'b', '"', '\\', '\xC3', '\xA4', ' ', 'z'};
  for (int i = 0; i < 2000; ++i) {
    std::string text(random() % 30, ' ');
    for (char& ch : text)
      ch = alphabet[random() % (random() % 4 == 0 ? 8 : 2)];
    const size_t start = text.empty() ? 0 : random() % text.size();
    SCOPED_TRACE(testing::PrintToString(text) + " from " + std::to_string(start));
    EXPECT_TRUE(ScanString(text, start) == ScanStringPlain(text, start));
  }
}

TEST(Reader, MembersKeepOrderAndTheFirstOfAName) {
  TKXJSONPtr root = Read(R"({"b":1,"a":2,"b":3,"\u00E4":4,"gr\u00fc":5})");
  ASSERT_NE(root, nullptr);
  auto* object = static_cast<TKXJSON*>(root.get());
  EXPECT_TRUE(object->IndexMemberNames());
  ASSERT_EQ(object->ItemCount(), 5);
  EXPECT_EQ(object->MemberName(0), u"b");
  EXPECT_EQ(object->MemberName(2), u"b");
  EXPECT_EQ(object->MemberValue(u"b")->GetValue().ToDouble(), 1);
  EXPECT_EQ(object->MemberValue(u"\u00E4")->GetValue().ToDouble(), 4);
  EXPECT_EQ(object->MemberValue(u"gr\u00FC")->GetValue().ToDouble(), 5);
  EXPECT_EQ(object->MemberValue(u"B"), nullptr);
}

TEST(Reader, NamesAreDecodedLikeStringsWhateverTheirSpelling) {
  // "a" and "\u0061" are one name spelled twice; "\xE4" (code page) and C3 A4 (UTF-8) another.
  TKXJSONPtr root = Read(
      "[{\"a\":1,\"\\u0061\":2,\"\xE4\":3,\"\xC3\xA4\":4},"
      "{\"\\u0061\":5,\"a\":6,\"\xC3\xA4\":7,\"\xE4\":8}]");
  ASSERT_NE(root, nullptr);
  for (int i = 0; i < 2; ++i) {
    auto* object = static_cast<TKXJSON*>(root->GetItem(i));
    ASSERT_EQ(object->ItemCount(), 4) << i;
    EXPECT_EQ(object->MemberName(1), u"a") << i;
    EXPECT_EQ(object->MemberName(3), u"\u00E4") << i;
    EXPECT_EQ(object->MemberValue(u"a")->GetValue().ToDouble(), 1 + 4 * i) << i;
    EXPECT_EQ(object->MemberValue(u"\u00E4")->GetValue().ToDouble(), 3 + 4 * i) << i;
  }
}

TEST(Reader, NestedObjectsShareNamesButNotValues) {
  TKXJSONPtr root = Read(R"([{"n":"a","m":1},{"n":"b","m":2},{"m":3,"n":"c"}])");
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(root->ItemCount(), 3);
  const char* expected[] = {"a", "b", "c"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(root->ItemAt(i)->MemberAsText("n"), expected[i]);
    EXPECT_EQ(root->ItemAt(i)->MemberAsText("m"), std::to_string(i + 1));
  }
}

TEST(Reader, Streams) {
  EXPECT_EQ(TKXJSONStreamer::ReadStream(nullptr), nullptr);
  TMemoryStream stream(R"(xx{"a":1})");
  stream.SetPosition(2);
  TKXJSONPtr root = TKXJSONStreamer::ReadStream(&stream);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->MemberAsText("a"), "1");
  TMemoryStream empty("");
  EXPECT_EQ(TKXJSONStreamer::ReadStream(&empty), nullptr);
}

TEST(Reader, Files) {
  platform::TTestFolder test_folder("rb_json");
  const std::string folder = test_folder.Path();
  const std::string path = folder + "/doc.json";
  EXPECT_EQ(TKXJSONStreamer::ReadFile(path), nullptr);    // missing
  EXPECT_EQ(TKXJSONStreamer::ReadFile(folder), nullptr);  // a folder
  {
    std::ofstream out(path, std::ios::binary);
    out << "\xEF\xBB\xBF{\"Order\":[{\"LINKUID\":\"L1\"}]}";
  }
  TKXJSONPtr root = TKXJSONStreamer::ReadFile(path);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->FindMember("Order")->ItemAt(0)->MemberAsText("LINKUID"), "L1");
  {
    // The host may still hold the file open for writing: reading must not deny it that.
    TFileStream writer(path, fmOpenReadWrite | fmShareDenyNone);
    TKXJSONPtr again = TKXJSONStreamer::ReadFile(path);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->FindMember("Order")->ItemAt(0)->MemberAsText("LINKUID"), "L1");
  }
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "{broken";
  }
  EXPECT_EQ(TKXJSONStreamer::ReadFile(path), nullptr);
}

// A document that another process holds open exclusively cannot be read: ReadFile tries as
// often as its policy says and then raises the open's error, never gives "no document".
TEST(Reader, FileHeldExclusivelyRaisesAfterItsTries) {
  platform::TTestFolder folder("rb_json");
  const std::string path = folder.Path() + "/held.json";
  std::ofstream(path, std::ios::binary) << "{\"a\":1}";
  struct Case {
    const char* name;
    int attempts;
  } cases[] = {{"one attempt", 1}, {"the program's hundred", 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int pauses = 0;
    RetryPolicy retry;
    retry.attempts = c.attempts;
    retry.sleep = [&](uint32_t ms) {
      EXPECT_EQ(ms, 100u);
      ++pauses;
    };
    {
      TFileStream holder(path, fmOpenReadWrite | fmShareExclusive);
      EXPECT_THROW(TKXJSONStreamer::ReadFile(path, retry), EFOpenError);
    }
    EXPECT_EQ(pauses, c.attempts - 1);
  }
  // Released, it reads at once.
  int pauses = 0;
  RetryPolicy retry;
  retry.sleep = [&](uint32_t) { ++pauses; };
  TKXJSONPtr root = TKXJSONStreamer::ReadFile(path, retry);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->MemberAsText("a"), "1");
  EXPECT_EQ(pauses, 0);
}

}  // namespace
}  // namespace rb
