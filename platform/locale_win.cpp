#include "platform/Locale.h"
#include "platform/Win32.h"

namespace platform {

namespace {

std::optional<LocaleSeparators>& Override() {
  static std::optional<LocaleSeparators> value;
  return value;
}

// The first character of one of the user locale's texts, or fallback when it has none.
char LocaleChar(LCTYPE what, char fallback) {
  char text[8] = {};
  if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, what, text, sizeof text) <= 1) return fallback;
  return text[0];
}

LocaleSeparators FromSystem() {
  return {LocaleChar(LOCALE_SDECIMAL, '.'), LocaleChar(LOCALE_SLIST, ',')};
}

}  // namespace

LocaleSeparators UserLocale() {
  if (Override()) return *Override();
  static const LocaleSeparators from_system = FromSystem();
  return from_system;
}

void SetUserLocaleForTesting(std::optional<LocaleSeparators> locale) {
  Override() = locale;
}

}  // namespace platform
