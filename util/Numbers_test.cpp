#include "util/Numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>

#include "platform/System.h"
#include "util/IniFile.h"

namespace rb {
namespace {

// Puts settings in force for one test and restores the previous ones.
class SettingsScope {
 public:
  explicit SettingsScope(const TNumberSettings& s) : saved_(NumberSettings()) {
    SetNumberSettings(s);
  }
  ~SettingsScope() { SetNumberSettings(saved_); }

 private:
  TNumberSettings saved_;
};

TNumberSettings Swiss() {
  return NumberSettingsFromIni(TIniFile::FromText("[COUNTRY]\nEURO=0\n"));
}

TEST(NumberSettings, Defaults) {
  const TNumberSettings s;
  EXPECT_EQ(s.DecimalSeparator, ',');
  EXPECT_EQ(s.ThousandSeparator, '.');
  EXPECT_EQ(s.DateSeparator, '.');
  EXPECT_EQ(s.CurrencyDecimals, 2);
  EXPECT_EQ(s.CurrencyString, " \x80");
  EXPECT_FALSE(s.FiveHundredthsRounding);
  EXPECT_FALSE(s.SingleAmountsFiveRappen);
  EXPECT_EQ(s.ThirdDecimalMode, 0);
}

TEST(NumberSettings, FromIni) {
  struct Row {
    const char* name;
    std::string ini;
    char decimal;
    char thousands;
    const char* symbol;
    bool five_hundredths;
    int third;
  } rows[] = {
      {"no file", "", ',', '.', " \x80", false, 0},
      {"euro explicitly", "[COUNTRY]\nEURO=1\n", ',', '.', " \x80", false, 0},
      {"any non-zero is true", "[COUNTRY]\nEURO=-3\n", ',', '.', " \x80", false, 0},
      {"Swiss", "[COUNTRY]\nEURO=0\n", '.', '\'', " CHF", true, 0},
      {"Swiss symbol gets a blank", "[COUNTRY]\nEURO=0\n[CH-CHAR]\nVALUE=Fr.\n", '.', '\'', " Fr.",
       true, 0},
      {"euro symbol", "[EUCHAR]\nVALUE=EUR\n", ',', '.', " EUR", false, 0},
      {"euro symbol with blank kept", "[EUCHAR]\nVALUE=\" EUR\"\n", ',', '.', " EUR", false, 0},
      {"no euro symbol", "[EUCHAR]\nVALUE=EUR\nNULL=1\n", ',', '.', "", false, 0},
      {"euro symbol unused by Swiss", "[EUCHAR]\nVALUE=EUR\n[COUNTRY]\nEURO=0", '.', '\'', " CHF",
       true, 0},
      {"third decimal 4", "[COUNTRY]\nNACHKOMMA3=4\n", ',', '.', " \x80", false, 4},
      {"third decimal 1", "[COUNTRY]\nNACHKOMMA3=1\n", ',', '.', " \x80", false, 1},
      {"third decimal 2 is 0", "[COUNTRY]\nNACHKOMMA3=2\n", ',', '.', " \x80", false, 0},
      {"garbage keeps defaults", "[COUNTRY]\nEURO=nein\nNACHKOMMA3=x4\n[EUCHAR]\nNULL=ja\n", ',',
       '.', " \x80", false, 0},
      {"binary garbage", std::string("\x01\xFF[\0=\n==\n[COUNTRY\nEURO", 20), ',', '.', " \x80",
       false, 0},
      {"names ignore case", "[country]\neuro = 0\n", '.', '\'', " CHF", true, 0},
  };
  for (const Row& row : rows) {
    const TNumberSettings s = NumberSettingsFromIni(TIniFile::FromText(row.ini));
    EXPECT_EQ(s.DecimalSeparator, row.decimal) << row.name;
    EXPECT_EQ(s.ThousandSeparator, row.thousands) << row.name;
    EXPECT_EQ(s.CurrencyString, row.symbol) << row.name;
    EXPECT_EQ(s.FiveHundredthsRounding, row.five_hundredths) << row.name;
    EXPECT_EQ(s.ThirdDecimalMode, row.third) << row.name;
  }
  EXPECT_TRUE(NumberSettingsFromIni(TIniFile::FromText("[COUNTRY]\nEINZELNOT5RAPPEN=1"))
                  .SingleAmountsFiveRappen);
}

TEST(NumberSettings, InitReadsTheFileBesideTheProgram) {
  const std::string path = platform::ProgramFolder() + "RUZEVED.INI";
  SettingsScope scope{TNumberSettings()};
  std::ofstream(path) << "[COUNTRY]\r\nEURO=0\r\n";
  InitNumberSettings();
  std::remove(path.c_str());
  EXPECT_EQ(NumberSettings().DecimalSeparator, '.');
  EXPECT_TRUE(NumberSettings().FiveHundredthsRounding);
  InitNumberSettings();  // no file: defaults again
  EXPECT_EQ(NumberSettings().DecimalSeparator, ',');
}

TEST(TextToNumber, ReadsTheProgramsNotation) {
  SettingsScope scope{TNumberSettings()};
  struct Row {
    const char* text;
    long double value;
  } rows[] = {
      {"1234,50", 1234.5L},
      {"1.234,50", 0},  // thousands separators are not accepted
      {"12.5", 0},
      {"", 0},
      {"   ", 0},
      {"  -12,5  ", -12.5L},
      {"+7", 7},
      {",5", 0.5L},
      {"5,", 5},
      {",", 0},
      {"-", 0},
      {"1,2,3", 0},
      {"1 2", 0},
      {"12a", 0},
      {"1e3", 1000},
      {"1,5E-2", 0.015L},
      {"2e+2", 200},
      {"1e", 0},
      {"1e+", 0},
      {"e5", 0},
      {"\t5", 0},
      {"1e99999", 0},  // beyond any amount
      {"0,1", 0.1L},
  };
  for (const Row& row : rows)
    EXPECT_EQ(TextToNumber(row.text), row.value) << row.text;
}

TEST(TextToNumber, FollowsTheSwissSettings) {
  SettingsScope scope{Swiss()};
  EXPECT_EQ(TextToNumber("12.5"), 12.5L);
  EXPECT_EQ(TextToNumber("12,5"), 0);
  EXPECT_EQ(TextToNumber("1'234.5"), 0);
}

TEST(TextToNumber, KeepsExtendedPrecision) {
  SettingsScope scope{TNumberSettings()};
  // 2^64 + 1 needs the 64-bit mantissa of the extended type, not the 53 bits of a double.
  if (std::numeric_limits<long double>::digits < 64) GTEST_SKIP();
  EXPECT_EQ(TextToNumber("18446744073709551617"), 18446744073709551617.0L);
}

TEST(NetGross, EuroSettingsKeepTheCents) {
  SettingsScope scope{TNumberSettings()};
  EXPECT_DOUBLE_EQ(NetToGross(100, 19), 119);
  EXPECT_DOUBLE_EQ(GrossToNet(119, 19), 100);
  EXPECT_DOUBLE_EQ(NetToGross(10.01, 7.7), 10.78077);
  EXPECT_DOUBLE_EQ(NetToGross(-100, 19), -119);
  EXPECT_DOUBLE_EQ(NetToGross(50, 0), 50);
  EXPECT_EQ(GrossToNet(119, -100), 0) << "no net amount for -100 %";
}

TEST(NetGross, SwissSettingsRoundToFiveRappen) {
  SettingsScope scope{Swiss()};
  EXPECT_DOUBLE_EQ(NetToGross(10.01, 7.7), 10.80);
  EXPECT_DOUBLE_EQ(GrossToNet(10.80, 7.7), 10.05);  // 10.0278 rounds to 10.05
  EXPECT_DOUBLE_EQ(NetToGross(100, 19), 119);
}

TEST(RoundToFiveHundredths, RoundsOnlyWhenSwitchedOn) {
  struct Row {
    double in;
    double out;
  } rows[] = {
      {10.78, 10.80}, {10.77, 10.75}, {-10.78, -10.80}, {-10.77, -10.75}, {10.725, 10.75},
      {0.02, 0.0},    {0.03, 0.05},   {-0.02, 0.0},     {0, 0},           {10.80, 10.80},
  };
  {
    SettingsScope scope{Swiss()};
    for (const Row& row : rows)
      EXPECT_DOUBLE_EQ(RoundToFiveHundredths(row.in), row.out) << row.in;
  }
  SettingsScope scope{TNumberSettings()};
  for (const Row& row : rows)
    EXPECT_EQ(RoundToFiveHundredths(row.in), row.in) << row.in;
}

TEST(SplitText, CutsAtTheSeparator) {
  using V = std::vector<std::string>;
  struct Row {
    const char* name;
    const char* sep;
    const char* text;
    int max;
    int final_length;
    V expected;
  } rows[] = {
      {"rest in the last piece", ",", "a,b,c,d,e", 4, 4, {"a", "b", "c", "d,e"}},
      {"trailing separator, padded", ",", "a,", 4, 4, {"a", "", "", ""}},
      {"no limits", ",", "a,b,c,d,e", 0, 0, {"a", "b", "c", "d", "e"}},
      {"two separators in a row", ",", "a,,b", 0, 0, {"a", "", "b"}},
      {"leading separator", ",", ",a", 0, 0, {"", "a"}},
      {"only a separator", ",", ",", 0, 0, {""}},
      {"two trailing separators", ",", "a,,", 0, 0, {"a", ""}},
      {"rest keeps a trailing separator", ",", "a,b,c,", 3, 0, {"a", "b", "c,"}},
      {"one piece", ",", "a,b", 1, 0, {"a,b"}},
      {"cut to final length", ",", "a,b,c", 0, 2, {"a", "b"}},
      {"padded", ",", "a", 0, 3, {"a", "", ""}},
      {"empty text", ",", "", 4, 4, {}},
      {"negative max", ",", "a,b", -1, 4, {}},
      {"empty separator", "", "a,b", 4, 0, {"a,b"}},
      {"empty separator, padded", "", "a,b", 4, 2, {"a,b", ""}},
      {"long separator", "::", "a::b:c::", 0, 0, {"a", "b:c"}},
      {"case-sensitive", "X", "axbXc", 0, 0, {"axb", "c"}},
      {"negative final length is ignored", ",", "a,b", 0, -2, {"a", "b"}},
      {"fewer pieces than the maximum", ",", "a,b", 4, 0, {"a", "b"}},
      {"separators do not overlap", "aa", "aaa", 0, 0, {"", "a"}},
      {"the rest may be empty of separators", ",", "a,b,c", 3, 0, {"a", "b", "c"}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(SplitText(row.sep, row.text, row.max, row.final_length), row.expected) << row.name;
  }
}

TEST(FormatAmount, GroupsAndRounds) {
  SettingsScope scope{TNumberSettings()};
  struct Row {
    double value;
    const char* grouped;
    const char* plain;
  } rows[] = {
      {1234.5, "1.234,50", "1234,50"},
      {0, "0,00", ",00"},
      {-0.0, "0,00", ",00"},
      {0.5, "0,50", ",50"},
      {-0.5, "-0,50", "-,50"},
      {-1234567.891, "-1.234.567,89", "-1234567,89"},
      {999.995, "1.000,00", "1000,00"},  // carry into a new group
      {100, "100,00", "100,00"},
      {123456, "123.456,00", "123456,00"},
      {1e15, "1.000.000.000.000.000,00", "1000000000000000,00"},
      // Halves round away from zero on the written decimals, not on the binary value:
      {0.125, "0,13", ",13"},
      {2.675, "2,68", "2,68"},  // binary 2.67499999999999982236431605997495353221893310546875
      {1.005, "1,01", "1,01"},
      {-2.675, "-2,68", "-2,68"},
      {0.994999, "0,99", ",99"},
      {-0.004, "0,00", ",00"},  // rounds to zero: no sign
      {-0.005, "-0,01", "-,01"},
      {1e-300, "0,00", ",00"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FormatAmount(row.value), row.grouped) << row.value;
    EXPECT_EQ(FormatAmountPlain(row.value), row.plain) << row.value;
  }
  EXPECT_EQ(FormatAmount(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FormatAmount(-std::numeric_limits<double>::infinity()), "-INF");
  EXPECT_EQ(FormatAmountPlain(std::nan("")), "NAN");
  EXPECT_EQ(FormatAmount(1.7976931348623157e308).size(), 309u + 102u + 3u);
}

// Sums and products carry binary noise; the cents follow the value's shortest decimal form
// whether or not the noise puts it near a half.
TEST(FormatAmount, RoundsComputedAmountsOnTheirShortestForm) {
  SettingsScope scope{TNumberSettings()};
  struct Row {
    double value;
    const char* grouped;
  } rows[] = {
      {0.1 + 0.2, "0,30"},        // 0.30000000000000004
      {4.35 * 3, "13,05"},        // 13.049999999999999
      {1.1 * 1.1, "1,21"},        // 1.2100000000000002
      {0.015 + 0.03, "0,05"},     // shortest form 0.045
      {0.0025 + 0.0025, "0,01"},  // shortest form 0.005
      {1.115, "1,12"},            // binary just below the half
      {1.445, "1,45"},
      {8.325, "8,33"},
      {-8.325, "-8,33"},
      {0.285, "0,29"},
      {9.995, "10,00"},
      {99999999999.995, "100.000.000.000,00"},
      {1234567890.125, "1.234.567.890,13"},
      {1234567890123.455, "1.234.567.890.123,46"},
      {999999999999999.9, "999.999.999.999.999,90"},  // past the exact range of cents * 100
  };
  for (const Row& row : rows)
    EXPECT_EQ(FormatAmount(row.value), row.grouped) << row.value;
}

TEST(FormatAmount, UsesTheProgramSeparators) {
  SettingsScope scope{Swiss()};
  EXPECT_EQ(FormatAmount(1234567.5), "1'234'567.50");
  EXPECT_EQ(FormatAmountPlain(1234567.5), "1234567.50");
  EXPECT_EQ(FormatAmountPlain(0.05), ".05");
}

}  // namespace
}  // namespace rb
