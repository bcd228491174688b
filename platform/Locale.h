// The user's default locale, as far as the program asks it anything: the decimal separator
// and the list separator. Variant coercion and the CSV reader's default separator follow it;
// the program-wide number settings never do.
//
// Taken once from the environment (LC_ALL, then LC_NUMERIC, then LANG, the first that is set
// and not empty): German-speaking locales give ";" as the list separator and "," as the decimal
// separator, except Swiss and Liechtenstein German (de_CH, de_LI), which keep "."; everything
// else (C, POSIX, English, unset) gives "." and ",". Tests may replace it.
#pragma once

#include <optional>
#include <string_view>

namespace platform {

struct LocaleSeparators {
  char decimal = '.';
  char list = ',';
};

LocaleSeparators UserLocale();

// Derives the separators from a locale name such as "de_DE.UTF-8" or "en_US".
LocaleSeparators LocaleFromName(std::string_view name);

// Replaces the user locale for the rest of the process (or until reset with nullopt).
void SetUserLocaleForTesting(std::optional<LocaleSeparators> locale);

}  // namespace platform
