#include "json/ULinked.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "json/ULinkedTesting.h"
#include "util/Errors.h"

namespace rb {
namespace {

using Bytes = std::string;

// ORG_ID and LineName of every line, in collection order.
std::vector<std::pair<int32_t, std::string>> Keys(const TAddInfoLines& lines) {
  std::vector<std::pair<int32_t, std::string>> keys;
  for (int32_t i = 0; i < lines.Count(); ++i) {
    keys.emplace_back(lines.Items(i).ORG_ID, lines.Items(i).LineName);
  }
  return keys;
}

// ---- The component-stream form, built as the host writes it --------------------------------

Bytes Written(const std::function<void(TXWriter&)>& write) {
  TMemoryStream stream;
  TXWriter writer(stream, 64);
  write(writer);
  writer.FlushBuffer();
  return Bytes(stream.View());
}
Bytes Short(const std::string& s) {
  return Bytes(1, static_cast<char>(s.size())) + s;
}
Bytes Int(int32_t n) {
  return Written([n](TXWriter& w) { w.WriteInteger(n); });
}
Bytes Text(const std::string& s) {
  return Written([&s](TXWriter& w) { w.WriteString(s); });
}
Bytes Item(const Bytes& properties) {
  return "\x01" + properties + Bytes(1, '\0');
}
Bytes Collection(const Bytes& items) {
  return "\x0E" + items + Bytes(1, '\0');
}
Bytes Wrapper(const Bytes& properties, const Bytes& prefix = "") {
  return "TPF0" + prefix + Short("TAddInfoLinesWrapper") + Short("Wrapper") + properties +
         Bytes(2, '\0');
}

Bytes ValidComponentStream() {
  return Wrapper(Short("Info1") + Text("Kopf") + Short("Info2") + Int(2) + Short("AddInfoLines") +
                 Collection(Item(Short("ORG_ID") + Int(7) + Short("_1") + Text("sieben") +
                                 Short("Forcedelete") + "\x07" + Short("True")) +
                            Int(1) +  // an item's order value, read and ignored
                            Item(Short("ORG_ID") + Int(3) + Short("_2") + Text("dr\xE8i") +
                                 Short("Forcedelete") + "\x08") +
                            Item(Short("ORG_ID") + Int(70000) + Short("_8") +
                                 Text(std::string(300, 'x')) + Short("forcedelete") + "\x09")));
}

TEST(AddInfoLines, LoadsTheComponentStreamSorted) {
  TAddInfoLines lines;
  ASSERT_TRUE(lines.LoadFromText(ValidComponentStream()));
  ASSERT_EQ(lines.Count(), 3);
  EXPECT_EQ(lines.Info1, "Kopf");
  EXPECT_EQ(lines.Info2, 2);
  const TAddInfoLine& first = lines.Items(0);
  EXPECT_EQ(first.ORG_ID, 3);
  EXPECT_EQ(first._2, "dr\xE8i");
  EXPECT_FALSE(first.Forcedelete);
  EXPECT_EQ(lines.Items(1).ORG_ID, 7);
  EXPECT_EQ(lines.Items(1)._1, "sieben");
  EXPECT_TRUE(lines.Items(1).Forcedelete);
  EXPECT_EQ(lines.Items(2).ORG_ID, 70000);
  EXPECT_EQ(lines.Items(2)._8.size(), 300u);
  EXPECT_TRUE(lines.Items(2).Forcedelete);
  EXPECT_EQ(lines.Items(2).LineName, "");
}

// A collection is emptied before its first item; an empty one has none, so a second
// "AddInfoLines" property without items once wiped the lines of the first.
TEST(AddInfoLines, RepeatedCollectionPropertyReplacesOnlyWithItems) {
  const Bytes item7 = Item(Short("ORG_ID") + Int(7));
  const Bytes item3 = Item(Short("ORG_ID") + Int(3));
  struct Case {
    const char* name;
    Bytes properties;
    std::vector<int32_t> ids;
  } cases[] = {
      {"second collection empty",
       Short("AddInfoLines") + Collection(item7 + item3) + Short("AddInfoLines") + Collection(""),
       {3, 7}},
      {"first collection empty",
       Short("AddInfoLines") + Collection("") + Short("AddInfoLines") + Collection(item7),
       {7}},
      {"second collection replaces the first",
       Short("AddInfoLines") + Collection(item7) + Short("AddInfoLines") + Collection(item3),
       {3}},
      {"only an empty collection", Short("AddInfoLines") + Collection(""), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TAddInfoLines lines;
    ASSERT_TRUE(lines.LoadFromText(Wrapper(c.properties)));
    std::vector<int32_t> ids;
    for (int32_t i = 0; i < lines.Count(); ++i)
      ids.push_back(lines.Items(i).ORG_ID);
    EXPECT_EQ(ids, c.ids);
  }
}

TEST(AddInfoLines, ComponentStreamThatDoesNotFitLoadsNothing) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Bytes item7 = Item(Short("ORG_ID") + Int(7));
  const std::vector<Case> cases = {
      {"unknown wrapper property",
       Wrapper(Short("Info3") + Int(1) + Short("AddInfoLines") + Collection(item7))},
      {"unknown line property",
       Wrapper(Short("AddInfoLines") + Collection(item7 + Item(Short("ORG") + Int(1))))},
      {"text where an integer belongs",
       Wrapper(Short("AddInfoLines") + Collection(item7 + Item(Short("ORG_ID") + Text("1"))))},
      {"integer where a text belongs",
       Wrapper(Short("AddInfoLines") + Collection(item7 + Item(Short("_1") + Int(1))))},
      {"other identifier for Forcedelete",
       Wrapper(Short("AddInfoLines") +
               Collection(item7 + Item(Short("Forcedelete") + "\x07" + Short("Yes"))))},
      {"lines not a collection", Wrapper(Short("AddInfoLines") + Int(4))},
      {"a child component", "TPF0" + Short("TAddInfoLinesWrapper") + Short("W") +
                                Short("AddInfoLines") + Collection(item7) + Bytes(1, '\0') +
                                Short("TButton") + Short("B") + Bytes(2, '\0') + Bytes(1, '\0')},
      {"signature only with a newline", "TPF0\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TAddInfoLines lines;
    lines.Add().ORG_ID = 99;
    EXPECT_TRUE(lines.LoadFromText(c.bytes));
    EXPECT_EQ(lines.Count(), 0);
    EXPECT_EQ(lines.Info1, "");
  }
}

// Every failure of a load goes through one point that keeps the failing reader's message and
// the stream's position; a load that fits reports none.
TEST(AddInfoLines, LoadFailuresSayWhy) {
  const Bytes item7 = Item(Short("ORG_ID") + Int(7));
  struct Case {
    const char* name;
    Bytes bytes;
    std::string reason;  // a part of the message; empty: no failure
  } cases[] = {
      {"unknown wrapper property", Wrapper(Short("Info3") + Int(1)),
       "Property Info3 does not exist"},
      {"unknown line property",
       Wrapper(Short("AddInfoLines") + Collection(Item(Short("ORG") + Int(1)))),
       "Property ORG does not exist"},
      {"other identifier for Forcedelete",
       Wrapper(Short("AddInfoLines") +
               Collection(item7 + Item(Short("Forcedelete") + "\x07" + Short("Yes")))),
       "Invalid property value Yes"},
      {"lines not a collection", Wrapper(Short("AddInfoLines") + Int(4)),
       "Invalid property value AddInfoLines"},
      {"truncated", ValidComponentStream().substr(0, 40), "SReadError"},
      {"valid component stream", ValidComponentStream(), ""},
      {"csv", "a,7\r\nb,3\r\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TAddInfoLines lines;
    TMemoryStream stream(c.bytes);
    TInfoLinesFailure why;
    json_testing::LoadInfoLinesExplained(lines, stream, why);
    if (c.reason.empty()) {
      EXPECT_EQ(why.reason, "");
      EXPECT_GT(lines.Count(), 0);
      continue;
    }
    EXPECT_NE(why.reason.find(c.reason), std::string::npos) << why.reason;
    EXPECT_GT(why.offset, 4) << "past the signature";
    EXPECT_LE(why.offset, static_cast<int64_t>(c.bytes.size()));
    EXPECT_EQ(lines.Count(), 0);
  }
}

TEST(AddInfoLines, WrapperTakesPrefixNameAndTag) {
  const Bytes bytes = Wrapper(Short("Tag") + Int(-5) + Short("Name") + Text("Renamed") +
                                  Short("AddInfoLines") + Collection(""),
                              Bytes("\xF2\x02\x03", 3));
  TMemoryStream stream(bytes);
  TAddInfoLinesWrapper wrapper;
  {
    TXReader reader(stream, 16);
    wrapper.ReadComponent(reader);
  }
  EXPECT_EQ(wrapper.Tag(), -5);
  EXPECT_EQ(wrapper.Name(), "Renamed");
  EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(AddInfoLines, EveryTruncatedOrCorruptComponentStreamEndsQuietly) {
  const Bytes bytes = ValidComponentStream();
  for (size_t n = 1; n < bytes.size(); ++n) {
    SCOPED_TRACE(n);
    TAddInfoLines lines;
    EXPECT_TRUE(lines.LoadFromText(bytes.substr(0, n)));
    EXPECT_EQ(lines.Count(), 0);  // the copy comes last, so nothing partial shows
  }
  for (size_t i = 4; i < bytes.size(); ++i) {
    for (int v : {0x00, 0x01, 0x06, 0x07, 0x0C, 0x0E, 0x12, 0x14, 0x80, 0xF2, 0xFF}) {
      Bytes corrupt = bytes;
      corrupt[i] = static_cast<char>(v);
      TAddInfoLines lines;
      EXPECT_NO_THROW(lines.LoadFromText(corrupt));
      EXPECT_LE(lines.Count(), 3);
    }
  }
}

// ---- The CSV form ---------------------------------------------------------------------------

TEST(AddInfoLines, CsvRowsBecomeSortedLines) {
  TAddInfoLines lines;
  ASSERT_TRUE(lines.LoadFromText("a,7\r\nb,3\r\n"));
  EXPECT_EQ(Keys(lines), (decltype(Keys(lines)){{3, "b"}, {7, "a"}}));
}

TEST(AddInfoLines, CsvFieldsAreDecodedAndTrimmed) {
  TAddInfoLines lines;
  ASSERT_TRUE(
      lines.LoadFromText(" Info1 , Kopf %c%nzwei %n\r\n"
                         "Info2,17\r\n"
                         "R1, 42 ,eins,zwei,drei,vier,f\xFCnf,sechs,sieben,100%%,1\r\n"
                         "R2,x,a,,,,,,,,true\r\n"
                         "\tR3\t,-5,,,,,,,,, 1 \r\n"
                         "Info2,nope\r\n"
                         "R4,9"));          // no line break after it: not used
  EXPECT_EQ(lines.Info1, "Kopf \r\nzwei");  // decoded first, then trimmed
  EXPECT_EQ(lines.Info2, 0);                // the last Info2 wins, and is not a number
  ASSERT_EQ(lines.Count(), 3);
  const TAddInfoLine& r3 = lines.Items(0);
  EXPECT_EQ(r3.LineName, "R3");
  EXPECT_EQ(r3.ORG_ID, -5);
  EXPECT_TRUE(r3.Forcedelete);
  const TAddInfoLine& r2 = lines.Items(1);
  EXPECT_EQ(r2.LineName, "R2");
  EXPECT_EQ(r2.ORG_ID, 0);
  EXPECT_EQ(r2._1, "a");
  EXPECT_FALSE(r2.Forcedelete);
  const TAddInfoLine& r1 = lines.Items(2);
  EXPECT_EQ(r1.ORG_ID, 42);
  const std::vector<std::string> texts = {r1._1, r1._2, r1._3, r1._4, r1._5, r1._6, r1._7, r1._8};
  EXPECT_EQ(texts, (std::vector<std::string>{"eins", "zwei", "drei", "vier", "f\xFCnf", "sechs",
                                             "sieben", "100%"}));
  EXPECT_TRUE(r1.Forcedelete);
}

TEST(AddInfoLines, ShortRowsLeaveLaterColumnsEmpty) {
  TAddInfoLines lines;
  lines.LoadFromText("a,1,x,x,x,x,x,x,x,x,1\r\nb,2\r\n");
  ASSERT_EQ(lines.Count(), 2);
  EXPECT_EQ(lines.Items(1)._1, "");
  EXPECT_EQ(lines.Items(1)._8, "");
  EXPECT_FALSE(lines.Items(1).Forcedelete);
}

TEST(AddInfoLines, TagsCompareExactly) {
  TAddInfoLines lines;
  lines.LoadFromText("info1,x\r\nINFO2,5\r\n");
  EXPECT_EQ(lines.Info1, "");
  EXPECT_EQ(lines.Info2, 0);
  EXPECT_EQ(lines.Count(), 2);
}

TEST(AddInfoLines, EmptyAndShortTexts) {
  struct Case {
    const char* name;
    Bytes text;
    bool result;
  };
  const std::vector<Case> cases = {
      {"empty", "", false},
      {"signature alone is CSV", "TPF0", true},
      {"one row without line break", "a,1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TAddInfoLines lines;
    lines.Add();
    lines.Info1 = "old";
    EXPECT_EQ(lines.LoadFromText(c.text), c.result);
    EXPECT_EQ(lines.Count(), 0);
    EXPECT_EQ(lines.Info1, "");
  }
}

TEST(AddInfoLines, IntegerColumnAcceptsOnlyWholeDecimalNumbers) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const std::vector<Case> cases = {
      {"0", 0},
      {"+12", 12},
      {"-2147483648", INT32_MIN},
      {"2147483647", INT32_MAX},
      {"2147483648", 0},
      {"-2147483649", 0},
      {"12a", 0},
      {"-", 0},
      {"1 2", 0},
      {"99999999999999999999", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TAddInfoLines lines;
    lines.LoadFromText(std::string("Info2,") + c.text + "\r\n");
    EXPECT_EQ(lines.Info2, c.value);
  }
}

TEST(AddInfoLines, LoadFromStreamReadsFromTheStart) {
  TMemoryStream stream("x,5\r\n");
  stream.SetPosition(3);
  TAddInfoLines lines;
  lines.LoadFromStream(stream);
  EXPECT_EQ(Keys(lines), (decltype(Keys(lines)){{5, "x"}}));
}

TEST(DecodePercentEscapes, DecodesTheFourEscapes) {
  struct Case {
    Bytes in;
    Bytes out;
  };
  const std::vector<Case> cases = {
      {"%c%n", "\r\n"}, {"100%%", "100%"}, {"a%0b", Bytes("a\0b", 3)},
      {"abc%", "abc"},  {"%", ""},         {"%%%", "%"},
      {"%x", "%x"},     {"%C%N", "%C%N"},  {"plain", "plain"},
      {"%%c", "%c"},    {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(DecodePercentEscapes(c.in), c.out);
  }
}

// ---- Sorting and copying --------------------------------------------------------------------

TAddInfoLines& Fill(TAddInfoLines& lines,
                    const std::vector<std::pair<int32_t, std::string>>& keys) {
  lines.ClearLines();
  for (const auto& [id, name] : keys) {
    TAddInfoLine& line = lines.Add();
    line.ORG_ID = id;
    line.LineName = name;
    line._5 = name + "5";
  }
  return lines;
}

TEST(AddInfoLines, SortOrderOfEqualKeysIsTheQuicksorts) {
  struct Case {
    const char* name;
    std::vector<std::pair<int32_t, std::string>> in, out;
  };
  const std::vector<Case> cases = {
      {"two equal keys swap", {{1, "a"}, {1, "b"}}, {{1, "b"}, {1, "a"}}},
      {"three equal keys reverse", {{1, "a"}, {1, "b"}, {1, "c"}}, {{1, "c"}, {1, "b"}, {1, "a"}}},
      {"equal keys behind a larger one",
       {{2, "x"}, {1, "a"}, {1, "b"}},
       {{1, "b"}, {1, "a"}, {2, "x"}}},
      {"mixed",
       {{5, "p"}, {3, "q"}, {5, "r"}, {1, "s"}, {3, "t"}},
       {{1, "s"}, {3, "q"}, {3, "t"}, {5, "p"}, {5, "r"}}},
      {"single", {{4, "a"}}, {{4, "a"}}},
      {"empty", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TAddInfoLines lines;
    Fill(lines, c.in).SortByOrgId();
    EXPECT_EQ(Keys(lines), c.out);
    for (int32_t i = 0; i < lines.Count(); ++i) {
      EXPECT_EQ(lines.Items(i)._5, lines.Items(i).LineName + "5");  // whole lines move
    }
  }
}

// The quicksort as the host's lists are sorted, written plainly with recursion: the order it
// leaves equal keys in is the one the program must reproduce.
void ReferenceQuickSort(std::vector<std::pair<int32_t, std::string>>& v, int lo, int hi) {
  int i;
  do {
    i = lo;
    int j = hi;
    const int32_t pivot = v[static_cast<size_t>((lo + hi) / 2)].first;
    do {
      while (v[static_cast<size_t>(i)].first < pivot)
        ++i;
      while (pivot < v[static_cast<size_t>(j)].first)
        --j;
      if (i <= j) {
        std::swap(v[static_cast<size_t>(i)], v[static_cast<size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (lo < j) ReferenceQuickSort(v, lo, j);
    lo = i;
  } while (i < hi);
}

TEST(AddInfoLines, SortMatchesTheReferenceQuicksortOnRandomKeys) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    const int size = 1 + static_cast<int>(random() % 60);
    const int32_t spread = 1 + static_cast<int32_t>(random() % 8);  // many equal keys
    std::vector<std::pair<int32_t, std::string>> input;
    for (int i = 0; i < size; ++i)
      input.emplace_back(static_cast<int32_t>(random() % spread), std::to_string(i));
    auto expected = input;
    ReferenceQuickSort(expected, 0, size - 1);
    TAddInfoLines lines;
    Fill(lines, input).SortByOrgId();
    ASSERT_EQ(Keys(lines), expected) << "round " << round;
  }
}

TEST(AddInfoLines, SortsLargeAndAdversarialInputs) {
  std::mt19937 random(42);
  std::vector<std::vector<std::pair<int32_t, std::string>>> inputs(3);
  for (int32_t i = 0; i < 100000; ++i) {
    inputs[0].emplace_back(static_cast<int32_t>(random() % 1000) - 500, std::to_string(i));
    inputs[1].emplace_back(100000 - i, std::to_string(i));
    inputs[2].emplace_back(i % 2 == 0 ? INT32_MIN : INT32_MAX, std::to_string(i));
  }
  for (const auto& input : inputs) {
    TAddInfoLines lines;
    Fill(lines, input).SortByOrgId();
    auto keys = Keys(lines);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end(),
                               [](const auto& a, const auto& b) { return a.first < b.first; }));
    auto expected = input;
    std::sort(expected.begin(), expected.end());
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, expected);  // nothing lost or duplicated
  }
}

TEST(AddInfoLines, CopyFromReplacesLinesAndHeader) {
  TAddInfoLines source;
  source.Info1 = "Kopf";
  source.Info2 = 9;
  TAddInfoLine& line = source.Add();
  line.ORG_ID = 11;
  line._1 = "eins";
  line._8 = "acht";
  line.Forcedelete = true;
  line.LineName = "R";
  TAddInfoLines target;
  target.Add().ORG_ID = 1;
  target.Add().ORG_ID = 2;
  target.CopyFrom(source);
  ASSERT_EQ(target.Count(), 1);
  const TAddInfoLine& copy = target.Items(0);
  EXPECT_EQ(copy.ORG_ID, 11);
  EXPECT_EQ(copy._1, "eins");
  EXPECT_EQ(copy._8, "acht");
  EXPECT_TRUE(copy.Forcedelete);
  EXPECT_EQ(copy.LineName, "R");
  EXPECT_EQ(target.Info1, "Kopf");
  EXPECT_EQ(target.Info2, 9);
  source.Items(0)._1 = "changed";
  EXPECT_EQ(target.Items(0)._1, "eins");  // a copy, not shared
}

TEST(AddInfoLines, ItemOutOfRangeRaisesListError) {
  TAddInfoLines lines;
  lines.Add();
  EXPECT_THROW(lines.Items(1), EListError);
  EXPECT_THROW(lines.Items(-1), EListError);
  try {
    lines.Items(3);
    FAIL() << "an index past the end must raise";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (3)");
  }
}

}  // namespace
}  // namespace rb
