#include "platform/Locale.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Locale, GermanSpeakingLocalesUseCommaAndSemicolon) {
  for (const char* name : {"de_DE.UTF-8", "de_AT", "de", "de_DE@euro", "de_LU.ISO-8859-1"}) {
    LocaleSeparators s = LocaleFromName(name);
    EXPECT_EQ(s.decimal, ',') << name;
    EXPECT_EQ(s.list, ';') << name;
  }
  // Swiss German writes 1'234.50: a comma here would turn amounts into text Swiss users misread.
  for (const char* name : {"de_CH.UTF-8", "de_CH", "de_LI.UTF-8"}) {
    LocaleSeparators s = LocaleFromName(name);
    EXPECT_EQ(s.decimal, '.') << name;
    EXPECT_EQ(s.list, ';') << name;
  }
  for (const char* name : {"C", "POSIX", "en_US.UTF-8", "C.UTF-8", "dev", "fr"}) {
    LocaleSeparators s = LocaleFromName(name);
    EXPECT_EQ(s.decimal, '.') << name;
    EXPECT_EQ(s.list, ',') << name;
  }
}

TEST(Locale, TestsCanReplaceTheUserLocale) {
  SetUserLocaleForTesting(LocaleSeparators{',', ';'});
  EXPECT_EQ(UserLocale().decimal, ',');
  SetUserLocaleForTesting(std::nullopt);
}

}  // namespace
}  // namespace platform
