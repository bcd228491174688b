#include "platform/Locale.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Locale, GermanSpeakingLocalesUseCommaAndSemicolon) {
  for (const char* name : {"de_DE.UTF-8", "de_AT", "de_CH.UTF-8", "de", "de_DE@euro"}) {
    LocaleSeparators s = LocaleFromName(name);
    EXPECT_EQ(s.decimal, ',') << name;
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
