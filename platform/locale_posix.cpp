#include <cstdlib>

#include "platform/Locale.h"

namespace platform {

namespace {

std::optional<LocaleSeparators>& Override() {
  static std::optional<LocaleSeparators> value;
  return value;
}

LocaleSeparators FromEnvironment() {
  for (const char* var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != '\0') return LocaleFromName(value);
  }
  return {};
}

}  // namespace

LocaleSeparators UserLocale() {
  if (Override()) return *Override();
  static const LocaleSeparators from_env = FromEnvironment();
  return from_env;
}

void SetUserLocaleForTesting(std::optional<LocaleSeparators> locale) {
  Override() = locale;
}

}  // namespace platform
