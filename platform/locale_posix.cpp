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

LocaleSeparators LocaleFromName(std::string_view name) {
  // de_DE, de_AT, de_LU, de (with any encoding or modifier) count as German. Switzerland and
  // Liechtenstein write amounts with a decimal point but still list with ';'.
  if (name.size() >= 2 && name.substr(0, 2) == "de" &&
      (name.size() == 2 || name[2] == '_' || name[2] == '.' || name[2] == '@')) {
    const std::string_view country = name.size() >= 5 && name[2] == '_' ? name.substr(3, 2) : "";
    if (country == "CH" || country == "LI") return {'.', ';'};
    return {',', ';'};
  }
  return {'.', ','};
}

LocaleSeparators UserLocale() {
  if (Override()) return *Override();
  static const LocaleSeparators from_env = FromEnvironment();
  return from_env;
}

void SetUserLocaleForTesting(std::optional<LocaleSeparators> locale) {
  Override() = locale;
}

}  // namespace platform
