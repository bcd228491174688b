// ASCII case, the one place the program folds it: names and keywords that are ASCII by
// definition (property names, "true"/"false", the "pipe" of a pipe path). Bytes outside A-Z are
// left alone, so 8-bit letters never fold here (the code page's own case lives in CodePage.h).
//   EqualsIgnoringAsciiCase("PIPE", "pipe") == true;  AsciiLower('\xC4') == '\xC4'
#pragma once

#include <string>
#include <string_view>

namespace platform {

constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

inline std::string AsciiLowerCopy(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = AsciiLower(c);
  return out;
}

static_assert(EqualsIgnoringAsciiCase("Forcedelete", "FORCEDELETE"));
static_assert(!EqualsIgnoringAsciiCase("\xC4", "\xE4"));

}  // namespace platform
