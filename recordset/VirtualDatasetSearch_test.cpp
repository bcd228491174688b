#include "recordset/VirtualDatasetSearch.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Locale.h"
#include "util/TestSupport.h"

namespace rb {
namespace {

// Sets the user locale's separators for one test and restores the environment's afterwards.
class LocaleScope {
 public:
  explicit LocaleScope(char decimal) {
    platform::SetUserLocaleForTesting(
        platform::LocaleSeparators{decimal, decimal == ',' ? ';' : ','});
  }
  ~LocaleScope() { platform::SetUserLocaleForTesting(std::nullopt); }
};

constexpr double kDay = 45356;  // 05.03.2024
constexpr double kHalfPastTen = 10.5 / 24;

// One row per record; absent values stay null.
struct Row {
  int id;
  std::string name;
  std::string memo;
  std::optional<bool> flag;
  std::optional<double> amount;  // F (float) and C (currency)
  std::optional<double> day;     // D; T and DT get the time of day 10:30 with it
};

// Fields of every searchable kind and some that never match.
const char kDefs[] =
    "ID,3,0\r\nNAME,1,20\r\nMEMO,16,0\r\nB,5,0\r\nF,6,0\r\nC,7,0\r\nBCD,8,0\r\nD,9,0\r\n"
    "T,10,0\r\nDT,11,0\r\nS,2,0\r\nW,4,0\r\nL,25,0\r\nFC,23,4\r\nBY,12,2\r\nAI,14,0\r\n"
    "BL,15,0\r\nGR,17,0\r\nVB,13,4\r\n";

void Fill(TVirtualDataSet& ds, const std::vector<Row>& rows) {
  ds.LoadFieldDefsFromText(kDefs, true);
  for (const Row& r : rows) {
    ds.Append();
    ds.FieldByName("ID")->SetAsInteger(r.id);
    ds.FieldByName("NAME")->SetAsString(r.name);
    ds.FieldByName("MEMO")->SetAsString(r.memo);
    if (r.flag) ds.FieldByName("B")->SetAsBoolean(*r.flag);
    if (r.amount) {
      ds.FieldByName("F")->SetAsFloat(*r.amount);
      ds.FieldByName("C")->SetAsCurrency(*r.amount);
      ds.FieldByName("BCD")->SetAsFloat(*r.amount);
    }
    if (r.day) {
      ds.FieldByName("D")->SetAsDateTime(*r.day);
      ds.FieldByName("T")->SetAsDateTime(kHalfPastTen);
      ds.FieldByName("DT")->SetAsDateTime(*r.day + kHalfPastTen);
    }
    ds.FieldByName("S")->SetAsInteger(-r.id);
    ds.FieldByName("W")->SetAsInteger(60000 + r.id);
    ds.FieldByName("L")->SetAsLargeInt(5000000000LL + r.id);
    ds.FieldByName("FC")->SetAsString("K" + std::to_string(r.id));
    ds.FieldByName("BY")->SetAsString("b" + std::to_string(r.id % 10));
    ds.FieldByName("AI")->SetAsInteger(100 + r.id);
    ds.FieldByName("BL")->SetAsString("blob " + r.name);
    ds.FieldByName("GR")->SetAsString(r.name);
    ds.FieldByName("VB")->SetAsString(r.name.substr(0, 4));
    ds.Post();
  }
  ds.First();
}

const std::vector<Row> kRows = {
    {1,
     "M\xFC"
     "ller",
     "Rechnung f\xFCr Bauabschnitt 2", true, 1.5, kDay},
    {2, "M\xDCLLER", "Abschlag", false, 12.34, kDay + 1},
    {3, "\xC4rger", "", std::nullopt, std::nullopt, std::nullopt},
    {12, "Bad T\xF6lz", "Schlussrechnung", false, 0, kDay},
    {13, "", "leer", true, -7, std::nullopt},
};

int CurrentId(TVirtualDataSet& ds) {
  return ds.FieldByName("ID")->AsInteger();
}

// ---------------------------------------------------------------------------------------------

TEST(SearchWords, SplitAtCommasAndBlanksKeepingQuotedParts) {
  struct Case {
    const char* name;
    const char* text;
    std::vector<std::string> words;
  } cases[] = {
      {"commas and blanks", "a, b  c,d", {"a", "b", "c", "d"}},
      {"quoted part joins", "x \"c d\"e", {"x", "c de"}},
      {"quoted comma", "\"1,5\" 2", {"1,5", "2"}},
      {"empty quotes are a word", "\"\"", {""}},
      {"only separators", " ,, , ", {}},
      {"empty text", "", {}},
      {"unclosed quote runs to the end", "a \"b, c", {"a", "b, c"}},
      {"8-bit letters untouched", "M\xFCller \xC4rger", {"M\xFCller", "\xC4rger"}},
      {"tab is a blank", "a\tb", {"a", "b"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SplitSearchWords(c.text), c.words) << c.name;
}

TEST(SearchUpperCase, FollowsTheCodePageWithOrWithoutInit) {
  // Correct whether or not InitUpperCaseTable ran before (other tests may have searched).
  EXPECT_EQ(SearchUpperCase(0xE4), 0xC4);  // a umlaut
  InitUpperCaseTable();
  InitUpperCaseTable();  // a second call changes nothing
  EXPECT_EQ(SearchUpperCase('a'), 'A');
  EXPECT_EQ(SearchUpperCase(0xFC), 0xDC);  // u umlaut
  EXPECT_EQ(SearchUpperCase(0xF6), 0xD6);  // o umlaut
  EXPECT_EQ(SearchUpperCase(0xFF), 0x9F);  // y diaeresis lives among 0x80..0x9F
  EXPECT_EQ(SearchUpperCase(0xDF), 0xDF);  // sharp s has no capital
  EXPECT_EQ(SearchUpperCase(0xF7), 0xF7);  // division sign
  EXPECT_EQ(SearchUpperCase('1'), '1');
  EXPECT_TRUE(SameTextIgnoringCase("\xE4rger", "\xC4RGER"));
  EXPECT_FALSE(SameTextIgnoringCase("\xE4rger", "arger"));
  EXPECT_TRUE(
      ContainsIgnoringCase("Stra\xDF"
                           "e M\xDCLLER",
                           "m\xFCll"));
  EXPECT_FALSE(ContainsIgnoringCase("abc", ""));
  EXPECT_FALSE(ContainsIgnoringCase("", "a"));
}

TEST(SearchWords, NumbersFollowTheLocaleDecimalSeparator) {
  struct Case {
    const char* word;
    std::optional<long double> point, comma;
  } cases[] = {
      {"12", 12, 12},
      {" -1.5 ", -1.5L, std::nullopt},
      {"1,5", std::nullopt, 1.5L},
      {"1e3", 1000, 1000},
      {"", std::nullopt, std::nullopt},
      {"abc", std::nullopt, std::nullopt},
      {"1.234,5", std::nullopt, std::nullopt},
      {"0x10", std::nullopt, std::nullopt},
      {"inf", std::nullopt, std::nullopt},
      {"--1", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    {
      LocaleScope locale('.');
      EXPECT_EQ(ReadSearchNumber(c.word), c.point) << "'" << c.word << "' with a point";
    }
    LocaleScope locale(',');
    EXPECT_EQ(ReadSearchNumber(c.word), c.comma) << "'" << c.word << "' with a comma";
  }
}

TEST(SearchWords, DatesTimesAndBothAsTheRecordSetWritesThem) {
  struct Case {
    const char* word;
    std::optional<double> value;
  } cases[] = {
      {"05.03.2024", kDay},
      {"5.3.2024", kDay},
      {"29.02.2024", kDay - 5},
      {"30.12.1899", 0},
      {"10:30:00", kHalfPastTen},
      {"10:30", kHalfPastTen},
      {"05.03.2024 10:30:00", kDay + kHalfPastTen},
      {" 05.03.2024   10:30 ", kDay + kHalfPastTen},
      {"31.02.2024", std::nullopt},
      {"29.02.2023", std::nullopt},
      {"24:00:00", std::nullopt},
      {"10:60", std::nullopt},
      {"1.2.24", std::nullopt},
      {"05.03.2024x", std::nullopt},
      {"05.03.202410:30", std::nullopt},
      {"", std::nullopt},
      {"heute", std::nullopt},
      {"12", std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<double> got = ReadSearchDateTime(c.word);
    ASSERT_EQ(got.has_value(), c.value.has_value()) << c.word;
    if (got) {
      EXPECT_NEAR(*got, *c.value, 1e-9) << c.word;
    }
  }
}

TEST(SearchWords, Booleans) {
  EXPECT_EQ(ReadSearchBoolean("TRUE"), true);
  EXPECT_EQ(ReadSearchBoolean("False"), false);
  EXPECT_EQ(ReadSearchBoolean(""), false);
  EXPECT_EQ(ReadSearchBoolean("1"), true);
  EXPECT_EQ(ReadSearchBoolean("0"), false);
  EXPECT_EQ(ReadSearchBoolean("ja"), std::nullopt);
}

// ---------------------------------------------------------------------------------------------

class LocateTest : public ::testing::Test {
 protected:
  void SetUp() override { Fill(ds, kRows); }
  LocaleScope locale{'.'};
  TVirtualDataSet ds;
};

TEST_F(LocateTest, MatchRulesPerFieldType) {
  const TLocateOptions ci = loCaseInsensitive, pk = loPartialKey;
  struct Case {
    const char* name;
    const char* fields;
    const char* key;
    TLocateOptions options;
    int id;  // 0: not found
  } cases[] = {
      // Text: exact, ignoring case through the code page, partial (always ignoring case).
      {"text exact", "NAME", "M\xDCLLER", 0, 2},
      {"text exact is case-sensitive", "NAME", "m\xFCller", 0, 0},
      {"umlaut ignoring case", "NAME", "m\xFCller", ci, 1},
      {"a umlaut meets A umlaut", "NAME", "\xE4rger", ci, 3},
      {"partial text", "NAME", "LL", pk, 1},
      {"partial memo", "MEMO", "BAUABSCHNITT", pk, 1},
      {"partial without an occurrence", "MEMO", "x", pk, 0},
      {"fixed char", "FC", "k12", ci, 12},
      {"blob", "BL", "\"blob \xC4rger\"", 0, 3},
      {"quoted word with a blank", "NAME", "\"bad t\xF6lz\"", ci, 12},
      {"unquoted words must each match", "NAME", "bad t\xF6lz", ci, 0},
      {"unquoted words, partial", "NAME", "bad t\xF6lz", pk, 12},
      // Integer-like: the field's text, cut to the word's length for a partial key.
      {"integer", "ID", "12", 0, 12},
      {"integer partial", "ID", "1", pk, 1},
      {"integer partial longer word", "ID", "123", pk, 0},
      {"smallint", "S", "-3", 0, 3},
      {"word", "W", "60013", 0, 13},
      {"largeint", "L", "5000000002", 0, 2},
      {"autoinc", "AI", "112", 0, 12},
      {"bytes", "BY", "b2", 0, 2},
      {"bytes partial over the second match", "BY", "B2", ci | pk, 2},
      {"integer and a word that is no number", "ID", "zw\xF6lf", 0, 0},
      // Booleans: null counts as false.
      {"boolean true", "B", "true", 0, 1},
      {"boolean false", "B", "FALSE", 0, 2},
      {"boolean from a number", "B", "0", 0, 2},
      {"boolean null is false", "B;ID", "false 3", 0, 3},
      {"boolean bad word", "B", "ja", 0, 0},
      // Numbers.
      {"float", "F", "1.5", 0, 1},
      {"float exponent", "F", "-7e0", 0, 13},
      {"float zero is not null", "F", "0", 0, 12},
      {"currency", "C", "12.34", 0, 2},
      {"bcd never", "BCD", "1.5", 0, 0},
      // Dates.
      {"date", "D", "05.03.2024", 0, 1},
      {"date without leading zeros", "D", "6.3.2024", 0, 2},
      {"time", "T", "10:30:00", 0, 1},
      {"date-time", "DT", "\"06.03.2024 10:30\"", 0, 2},
      {"date-time needs its time", "DT", "06.03.2024", 0, 0},
      {"impossible date", "D", "31.02.2024", 0, 0},
      // Types that never match.
      {"graphic never", "GR", "M\xFCller", 0, 0},
      {"varbytes never", "VB", "M\xFC", 0, 0},
      // Several words over several fields: each word somewhere in the record.
      {"words over fields", "*", "m\xFCller 1.5", ci, 1},
      {"every word must match", "*", "m\xFCller Abschlag", ci, 2},
      {"a word matching nowhere", "*", "m\xFCller Schmidt", ci, 0},
      {"field list with blanks", " NAME ; MEMO ", "abschlag", ci, 2},
  };
  for (const Case& c : cases) {
    ds.SetRecNo(5);
    bool found = ds.Locate(c.fields, c.key, c.options);
    EXPECT_EQ(found, c.id != 0) << c.name;
    EXPECT_EQ(CurrentId(ds), c.id != 0 ? c.id : 13) << c.name;
  }
}

TEST_F(LocateTest, WordsThatAreNoNumbersOrDatesNeverMatchAndRaiseNothing) {
  // Record 3 has null amounts and dates, record 12 an amount of 0: neither reads as a match
  // for words that are not numbers or dates.
  for (const char* word : {"abc", "\xC4rger", "1.2.3", "", "\"\"", "--", "31.13.2024", "12:99"}) {
    ds.SetRecNo(2);
    bool found = true;
    EXPECT_NO_THROW(found = ds.Locate("F;C;D;T;DT;B", word, 0)) << word;
    if (std::string(word).empty() || std::string(word) == "\"\"") {
      EXPECT_TRUE(found) << "the empty word is a false Boolean";
      continue;
    }
    EXPECT_FALSE(found) << word;
    EXPECT_EQ(CurrentId(ds), 2) << word;
  }
}

// A currency field keeps a double: the word must equal it, not merely round to the same
// ten-thousandths (0.10001 is not 0.1).
TEST(LocateNumbers, CurrencyEqualsTheWordReadAsANumber) {
  LocaleScope locale('.');
  struct Case {
    const char* name;
    double value;
    const char* word;
    bool found;
  } cases[] = {
      {"the same value", 0.10001, "0.10001", true},
      {"rounds to the word but differs", 0.10001, "0.1", false},
      {"rounds alike but differs", 0.10001, "0.10004", false},
      {"a plain amount", 12.34, "12.34", true},
      {"a plain amount with an exponent", 12.34, "1234e-2", true},
      {"a negative amount", -0.5, "-0.5", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TVirtualDataSet ds;
    ds.LoadFieldDefsFromText("C,7,0\r\n", true);
    ds.Append();
    ds.FieldByName("C")->SetAsFloat(c.value);
    ds.Post();
    EXPECT_EQ(ds.Locate("C", c.word, 0), c.found);
  }
}

// A null number field holds no number: it matches no word, the empty one included, whatever its
// type (a null Boolean is false, which is a value).
TEST(LocateNumbers, NullNumberFieldsMatchNoWord) {
  LocaleScope locale('.');
  struct Case {
    const char* field;
    const char* word;
    TLocateOptions options;
  } cases[] = {
      {"I", "", 0},     {"I", "", loPartialKey},
      {"I", "\"\"", 0}, {"S", "", 0},
      {"W", "", 0},     {"L", "", loCaseInsensitive},
      {"AI", "", 0},    {"F", "", 0},
      {"F", "0", 0},    {"C", "0", 0},
      {"D", "", 0},     {"I", "0", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " '" + c.word + "' " + std::to_string(c.options));
    TVirtualDataSet ds;
    ds.LoadFieldDefsFromText(
        "N,1,5\r\nI,3,0\r\nS,2,0\r\nW,4,0\r\nL,25,0\r\nAI,14,0\r\nF,6,0\r\nC,7,0\r\n"
        "D,9,0\r\n",
        true);
    ds.Append();
    ds.FieldByName("N")->SetAsString("leer");
    ds.Post();
    ASSERT_TRUE(ds.FieldByName(c.field)->IsNull());
    EXPECT_FALSE(ds.Locate(c.field, c.word, c.options));
  }
}

// Before day 0 the date counts toward zero and the time forward from midnight: -1.25 is
// 29 December 1899, 06:00. The search once compared raw milliseconds and the field text took
// the date downward, so such a date-time was shown as 28.12.1899 18:00 and matched no word.
TEST(LocateDates, DatesBeforeDayZeroReadAndMatchLikeOthers) {
  struct Case {
    const char* name;
    double value;
    const char* text;
    const char* word;
  } cases[] = {
      {"before day 0 with a time", -1.25, "29.12.1899 06:00:00", "\"29.12.1899 06:00\""},
      {"day 0 at noon", 0.5, "30.12.1899 12:00:00", "\"30.12.1899 12:00\""},
      {"the same day before day 0", -0.25, "30.12.1899 06:00:00", "\"30.12.1899 06:00\""},
      {"a leap day", 45351.75, "29.02.2024 18:00:00", "\"29.02.2024 18:00\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TVirtualDataSet ds;
    ds.LoadFieldDefsFromText("DT,11,0\r\n", true);
    ds.Append();
    ds.FieldByName("DT")->SetAsDateTime(c.value);
    ds.Post();
    EXPECT_EQ(ds.FieldByName("DT")->AsString(), c.text);
    EXPECT_TRUE(ds.Locate("DT", c.word, 0));
  }
}

TEST_F(LocateTest, NumbersWithACommaLocaleNeedQuotes) {
  LocaleScope comma(',');
  EXPECT_TRUE(ds.Locate("F", "\"1,5\"", 0));
  EXPECT_EQ(CurrentId(ds), 1);
  EXPECT_FALSE(ds.Locate("F", "1.5", 0));
  EXPECT_TRUE(ds.Locate("C", "\"12,34\"", 0));
  EXPECT_EQ(CurrentId(ds), 2);
  // Unquoted, the comma splits the number into the words 1 and 5.
  EXPECT_FALSE(ds.Locate("F", "1,5", 0));
}

TEST_F(LocateTest, NoWordsSearchForTheEmptyText) {
  EXPECT_TRUE(ds.Locate("NAME", "", 0));
  EXPECT_EQ(CurrentId(ds), 13);
  EXPECT_TRUE(ds.Locate("MEMO", " , ", 0));
  EXPECT_EQ(CurrentId(ds), 3);
  EXPECT_FALSE(ds.Locate("NAME", "", loPartialKey));  // a partial key needs both texts
  EXPECT_TRUE(ds.Locate("ID", "", loPartialKey));     // every integer text starts with ""
  EXPECT_EQ(CurrentId(ds), 1);
}

TEST_F(LocateTest, TransformAppliesToWordsAndToTextFieldsForPartialKeys) {
  auto fold = [](const std::string& in) {
    std::string out;
    for (char c : in) {
      if (c == '\xFC' || c == '\xDC') {
        out += c == '\xFC' ? "ue" : "UE";
      } else {
        out += c;
      }
    }
    return out;
  };
  std::vector<std::string> seen;
  ds.OnTransformText = [&](const std::string& in) {
    seen.push_back(in);
    return fold(in);
  };
  EXPECT_TRUE(ds.Locate("NAME", "m\xFCll", loPartialKey));
  EXPECT_EQ(CurrentId(ds), 1);
  EXPECT_EQ(seen.front(), "m\xFCll");  // the word is transformed too
  // The field is transformed only for a partial key.
  EXPECT_FALSE(ds.Locate("NAME", "Mueller", loCaseInsensitive));
  EXPECT_TRUE(ds.Locate("NAME", "Mueller", loCaseInsensitive | loPartialKey));
  // Without words the transformed key text is the one word.
  ds.OnTransformText = [](const std::string&) { return std::string("Abschlag"); };
  EXPECT_TRUE(ds.Locate("MEMO", "", 0));
  EXPECT_EQ(CurrentId(ds), 2);
}

TEST_F(LocateTest, UnknownFieldRaisesAndLeavesTheCursor) {
  ds.SetRecNo(3);
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { ds.Locate("NAME;NOPE", "x", 0); }),
            "Das Feld 'NOPE' wurde nicht gefunden");
  EXPECT_EQ(CurrentId(ds), 3);
}

TEST_F(LocateTest, EventsAndNotifications) {
  int before = 0, after = 0, changes = 0;
  ds.BeforeScroll = [&](TVirtualDataSet&) { ++before; };
  ds.AfterScroll = [&](TVirtualDataSet&) { ++after; };
  ds.OnDataChange = [&](TVirtualDataSet&, TField*) { ++changes; };
  EXPECT_TRUE(ds.Locate("ID", "12", 0));
  // One before-scroll; after-scroll from the search and again for the find; the search's
  // change notification when it resumes and one for the find.
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 2);
  EXPECT_EQ(changes, 2);
  before = after = changes = 0;
  EXPECT_FALSE(ds.Locate("ID", "99", 0));
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 1);
  EXPECT_EQ(changes, 1);
}

TEST_F(LocateTest, PendingEditIsPostedFirst) {
  ds.SetRecNo(2);
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("Neu");
  EXPECT_TRUE(ds.Locate("NAME", "neu", loCaseInsensitive));
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(CurrentId(ds), 2);
}

TEST_F(LocateTest, VariantKeys) {
  EXPECT_TRUE(ds.Locate("ID", TVariant::FromInteger(12), 0));
  EXPECT_EQ(CurrentId(ds), 12);
  EXPECT_TRUE(ds.Locate("NAME", TVariant::Null(), 0));
  EXPECT_EQ(CurrentId(ds), 13);
}

TEST(Locate, EmptyOrClosedRecordSet) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("ID,3,0\r\n", true);
  EXPECT_FALSE(ds.Locate("ID", "1", 0));
  EXPECT_FALSE(ds.Locate("NOPE", "1", 0));  // nothing to search: names are not looked at
  ds.Close();
  EXPECT_THROW(ds.Locate("ID", "1", 0), EDatabaseError);
}

TEST(Locate, SingleRecordAfterWalkingPastItsEnd) {
  // First then Next on one record once left both end flags set ("no records") while a record
  // was shown; only the end flag holds there.
  TVirtualDataSet ds;
  Fill(ds, {kRows[0]});
  ds.First();
  ds.Next();
  ASSERT_FALSE(ds.Bof());
  ASSERT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Locate("ID", "1", 0));
  EXPECT_FALSE(ds.Eof());
}

// ---------------------------------------------------------------------------------------------

TEST_F(LocateTest, SearchIntoTargetUpToMaximum) {
  TVirtualDataSet hits;
  hits.LoadFieldDefsFromText("NR,3,0\r\nWHO,1,20\r\n", true);  // copied by position
  ds.SetRecNo(2);
  EXPECT_TRUE(ds.SearchRecords("B", "true", 0, &hits, nullptr, 0));
  std::vector<std::pair<int, std::string>> got;
  for (hits.First(); !hits.Eof(); hits.Next())
    got.emplace_back(hits.Fields(0).AsInteger(), hits.Fields(1).AsString());
  EXPECT_EQ(got, (std::vector<std::pair<int, std::string>>{{1, "M\xFCller"}, {13, ""}}));
  // The last record matched: the cursor stays there.
  EXPECT_EQ(CurrentId(ds), 13);

  TVirtualDataSet two;
  two.LoadFieldDefsFromText("NR,3,0\r\n", true);
  ds.SetRecNo(1);
  EXPECT_TRUE(
      ds.SearchRecords("*", "m\xFCller", 2, &two, nullptr, loCaseInsensitive | loPartialKey));
  EXPECT_EQ(two.RecordCount(), 2);
  EXPECT_EQ(CurrentId(ds), 2);  // stopped at the maximum, on the second match

  // Matches were copied although the last record examined did not match: found, and the
  // cursor goes back.
  TVirtualDataSet some;
  some.LoadFieldDefsFromText("NR,3,0\r\n", true);
  ds.SetRecNo(3);
  EXPECT_TRUE(ds.SearchRecords("D", "05.03.2024", 0, &some, nullptr, 0));
  EXPECT_EQ(some.RecordCount(), 2);
  EXPECT_EQ(CurrentId(ds), 3);
}

TEST_F(LocateTest, SearchIntoItselfOrAFailingTarget) {
  ds.SetRecNo(2);
  EXPECT_THROW(ds.SearchRecords("ID", "1", 0, &ds, nullptr, 0), EDatabaseError);
  EXPECT_EQ(ds.RecordCount(), 5);

  TVirtualDataSet bad;
  bad.LoadFieldDefsFromText("NR,3,0\r\nN,3,0\r\n", true);  // NAME text into an integer
  EXPECT_THROW(ds.SearchRecords("ID", "1", 0, &bad, nullptr, 0), EConvertError);
  EXPECT_EQ(bad.RecordCount(), 0);
  EXPECT_EQ(bad.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(CurrentId(ds), 2);
  EXPECT_FALSE(ds.ControlsDisabled());
}

}  // namespace
}  // namespace rb
