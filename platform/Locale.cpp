// Locale names, the same on every platform (tests and the POSIX environment use them).
#include "platform/Locale.h"

namespace platform {

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

}  // namespace platform
