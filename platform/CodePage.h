// Conversions between 8-bit text in the system code page (Windows-1252 on every platform we
// run on) and UTF-16, as MultiByteToWideChar / WideCharToMultiByte do for code page 1252
// without best-fit mapping:
//   - every byte maps to one UTF-16 unit; the five unassigned bytes 0x81, 0x8D, 0x8F, 0x90
//     and 0x9D map to the C1 control points of the same value;
//   - a UTF-16 unit without a byte in the code page (a surrogate half included) becomes the
//     default character '?'.
// Pure functions, safe on any thread.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);
// The same into out, whose storage is kept: for converting many texts in a row. Latin-1
// without the C1 controls is the code page's own bytes and is copied straight.
void WideToAnsi(std::u16string_view text, std::string& out);

// One unit each way; WideCharToAnsi gives '?' where the code page has no byte.
char16_t AnsiCharToWide(unsigned char c);
char WideCharToAnsi(char16_t u);

// The code page's upper-case mapping of one byte (CharUpperBuffA): a-z, the accented
// lower-case letters 0xE0..0xFE except 0xF7, and the four letters whose capitals live in
// 0x80..0x9F (š œ ž ÿ). Other bytes, ß and µ among them, are unchanged.
unsigned char AnsiUpper(unsigned char c);

// The inverse mapping (CharLowerBuffA): A-Z, 0xC0..0xDE except 0xD7, and Š Œ Ž Ÿ.
unsigned char AnsiLower(unsigned char c);

// Two texts equal but for the code page's letter case ("MÜLLER" and "müller"); the one place
// names of columns, keys and notes lines are compared.
inline bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AnsiUpper(static_cast<unsigned char>(a[i])) != AnsiUpper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The text in the code page's lower case (CharLowerBuffA on a copy).
inline std::string AnsiLowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    c = static_cast<char>(AnsiLower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace platform
