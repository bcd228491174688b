#include "util/Variant.h"

#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "platform/Locale.h"
#include "util/Errors.h"

namespace rb {
namespace {

class VariantTest : public ::testing::Test {
 protected:
  void UseLocale(char decimal) { platform::SetUserLocaleForTesting({{decimal, ';'}}); }
  void TearDown() override { platform::SetUserLocaleForTesting(std::nullopt); }
};

TEST_F(VariantTest, NumbersBecomeTextWithFifteenDigitsAndTheLocaleSeparator) {
  struct Row {
    const char* name;
    TVariant value;
    char decimal;
    const char* text;
  };
  const Row rows[] = {
      {"german fraction", TVariant::FromDouble(2.5), ',', "2,5"},
      {"english fraction", TVariant::FromDouble(1234.5), '.', "1234.5"},
      {"no grouping", TVariant::FromDouble(1234567.25), ',', "1234567,25"},
      {"fifteen digits", TVariant::FromDouble(0.1 + 0.2), '.', "0.3"},
      {"whole", TVariant::FromDouble(100), '.', "100"},
      {"negative zero", TVariant::FromDouble(-0.0), '.', "0"},
      {"large", TVariant::FromDouble(1e20), '.', "1E+20"},
      {"small", TVariant::FromDouble(1e-10), ',', "1E-10"},
      {"fifteen-digit whole", TVariant::FromDouble(123456789012345), '.', "123456789012345"},
      {"single", TVariant::FromSingle(0.1f), ',', "0,1"},
      {"true", TVariant::FromBoolean(true), '.', "-1"},
      {"false", TVariant::FromBoolean(false), '.', "0"},
      {"integer", TVariant::FromInteger(-42), '.', "-42"},
      {"byte", TVariant::FromByte(255), '.', "255"},
      {"currency", TVariant::FromCurrency(-12345), ',', "-1,2345"},
      {"currency whole", TVariant::FromCurrency(50000), ',', "5"},
      {"currency trailing zeros", TVariant::FromCurrency(12500), '.', "1.25"},
      {"date german", TVariant::FromDate(45000.5), ',', "15.03.2023 12:00:00"},
      {"date english", TVariant::FromDate(2), '.', "1/1/1900"},
      {"date before day 0", TVariant::FromDate(-1.25), ',', "29.12.1899 06:00:00"},
      {"date just inside day 0", TVariant::FromDate(-0.5), ',', "30.12.1899 12:00:00"},
      {"time rounding to midnight", TVariant::FromDate(1.999999999), ',', "01.01.1900"},
      {"negative time rounding to midnight", TVariant::FromDate(-1.999999999), ',', "28.12.1899"},
      {"empty", TVariant(), '.', ""},
  };
  for (const Row& r : rows) {
    UseLocale(r.decimal);
    EXPECT_EQ(r.value.ToString(), r.text) << r.name;
    EXPECT_EQ(r.value.ToWide(), platform::AnsiToWide(r.text)) << r.name;
  }
}

TEST_F(VariantTest, TextBecomesANumberWithTheLocaleSeparator) {
  UseLocale(',');
  EXPECT_DOUBLE_EQ(TVariant::FromString(" 2,5 ").ToDouble(), 2.5);
  EXPECT_DOUBLE_EQ(TVariant::FromWide(u"-1E3").ToDouble(), -1000);
  EXPECT_THROW(TVariant::FromString("2.5").ToDouble(), EVariantTypeCastError);
  UseLocale('.');
  EXPECT_DOUBLE_EQ(TVariant::FromString("2.5").ToDouble(), 2.5);
  EXPECT_EQ(TVariant::FromString("2.5").ToInteger(), 2);
  EXPECT_EQ(TVariant::FromString("3.5").ToInteger(), 4);
  EXPECT_EQ(TVariant::FromString("1.5").ToCurrency(), 15000);
  for (const char* bad : {"", "abc", "1,5", "1.", ".5", "1e", "--1", "1 2"}) {
    EXPECT_THROW(TVariant::FromString(bad).ToDouble(), EVariantTypeCastError) << bad;
  }
  EXPECT_THROW(TVariant::FromString("1e400").ToDouble(), EVariantOverflowError);
  EXPECT_EQ(TVariant::FromString("1e-400").ToDouble(), 0);
}

TEST_F(VariantTest, ToIntegerRoundsHalfToEvenAndChecksTheRange) {
  struct Row {
    double in;
    int32_t out;
  };
  for (Row r : {Row{0.5, 0},
                {1.5, 2},
                {2.5, 2},
                {-2.5, -2},
                {-3.5, -4},
                {2.4999, 2},
                {-0.6, -1},
                Row{2147483647.0, 2147483647},
                {-2147483648.0, INT32_MIN}}) {
    EXPECT_EQ(TVariant::FromDouble(r.in).ToInteger(), r.out) << r.in;
  }
  EXPECT_EQ(TVariant::FromCurrency(25000).ToInteger(), 2);
  EXPECT_EQ(TVariant::FromCurrency(35000).ToInteger(), 4);
  EXPECT_EQ(TVariant::FromCurrency(-15001).ToInteger(), -2);
  EXPECT_EQ(TVariant::FromBoolean(true).ToInteger(), -1);
  for (double bad : {2147483648.0, -2147483649.0, 1e20}) {
    EXPECT_THROW(TVariant::FromDouble(bad).ToInteger(), EVariantOverflowError) << bad;
  }
  try {
    TVariant::FromDouble(1e10).ChangeType(VarType::kSmallint);
    FAIL();
  } catch (const EVariantOverflowError& e) {
    EXPECT_STREQ(e.what(),
                 "Range check error while converting variant of type (Double) into type "
                 "(Smallint)");
  }
  EXPECT_THROW(TVariant::FromInteger(256).ChangeType(VarType::kByte), EVariantOverflowError);
  EXPECT_THROW(TVariant::FromDouble(1e300).ChangeType(VarType::kSingle), EVariantOverflowError);
  EXPECT_THROW(TVariant::FromDouble(1e16).ToCurrency(), EVariantOverflowError);
}

TEST_F(VariantTest, BooleansFromTextAndNumbers) {
  UseLocale('.');
  for (const char* t : {"True", "true", "TRUE", "-1", "2.5", " 1 "}) {
    EXPECT_TRUE(TVariant::FromString(t).ToBoolean()) << t;
  }
  for (const char* t : {"False", "false", "0", "0.0"}) {
    EXPECT_FALSE(TVariant::FromString(t).ToBoolean()) << t;
  }
  EXPECT_THROW(TVariant::FromString("yes").ToBoolean(), EVariantTypeCastError);
  EXPECT_TRUE(TVariant::FromDouble(0.1).ToBoolean());
  EXPECT_FALSE(TVariant::FromCurrency(0).ToBoolean());
  EXPECT_FALSE(TVariant().ToBoolean());
}

TEST_F(VariantTest, NullConvertsOnlyToNullOrEmpty) {
  const TVariant null = TVariant::Null();
  try {
    null.ToDouble();
    FAIL();
  } catch (const EVariantTypeCastError& e) {
    EXPECT_STREQ(e.what(), "Could not convert variant of type (Null) into type (Double)");
  }
  EXPECT_THROW(null.ToString(), EVariantTypeCastError);
  EXPECT_THROW(null.ToBoolean(), EVariantTypeCastError);
  EXPECT_TRUE(null.ChangeType(VarType::kNull).IsNull());
  EXPECT_TRUE(null.ChangeType(VarType::kEmpty).IsEmpty());
  EXPECT_THROW(TVariant::FromInteger(1).ChangeType(VarType::kNull), EVariantTypeCastError);
  EXPECT_THROW(TVariant::FromString("1.1.2000").ChangeType(VarType::kDate), EVariantTypeCastError);
}

TEST_F(VariantTest, ByReferenceIsFollowedBeforeTheKindIsTested) {
  const TVariant target = TVariant::FromWide(u"x\u00FC");
  const TVariant ref = TVariant::ByRef(target);
  const TVariant ref2 = TVariant::ByRef(ref);
  EXPECT_TRUE(ref2.IsByRef());
  EXPECT_EQ(ref2.Type(), VarType::kOleStr);
  EXPECT_TRUE(ref2.IsText());
  EXPECT_FALSE(ref2.IsNumeric());
  EXPECT_EQ(ref2.ToString(), "x\xFC");
  const TVariant num = TVariant::FromCurrency(10000);
  EXPECT_TRUE(TVariant::ByRef(num).IsNumeric());
  EXPECT_EQ(TVariant::ByRef(num).ChangeType(VarType::kDouble).ToDouble(), 1.0);
  EXPECT_FALSE(TVariant::ByRef(num).ChangeType(VarType::kDouble).IsByRef());
}

TEST_F(VariantTest, TextKindsConvertThroughTheCodePage) {
  EXPECT_EQ(TVariant::FromWide(u"\u20AC\u4E00").ToString(), "\x80?");
  EXPECT_EQ(TVariant::FromString("\x80").ToWide(), u"\u20AC");
  EXPECT_EQ(TVariant::FromString("ab").ChangeType(VarType::kOleStr).Type(), VarType::kOleStr);
}

TEST(DecimalNumber, ReadsPlainDecimalsAndTellsOverflowFromUnderflow) {
  long double v = -1;
  ASSERT_TRUE(ParseDecimalNumber("+007.25e+2", v));
  EXPECT_EQ(v, 725.0L);
  ASSERT_TRUE(ParseDecimalNumber("-1E-5000", v));
  EXPECT_EQ(v, 0.0L);
  ASSERT_TRUE(ParseDecimalNumber("0.00000e99999999999", v));
  EXPECT_EQ(v, 0.0L);
  ASSERT_TRUE(ParseDecimalNumber("1e4932", v));
  EXPECT_GT(v, 1e4931L);
  EXPECT_FALSE(ParseDecimalNumber("1e5000", v));
  EXPECT_FALSE(ParseDecimalNumber("0.001e4936", v));
  EXPECT_TRUE(ParseDecimalNumber("0.001e4934", v));
  for (const char* bad : {"", "+", "-", ".5", "5.", "1e", "1e+", "1x", "0x10", "inf", "nan"}) {
    EXPECT_FALSE(ParseDecimalNumber(bad, v)) << bad;
  }
}

}  // namespace
}  // namespace rb
