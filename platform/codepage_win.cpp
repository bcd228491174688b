#include "platform/CodePage.h"
#include "platform/Win32.h"

namespace platform {

namespace {

constexpr UINT kCodePage = 1252;

}  // namespace

std::u16string AnsiToWide(std::string_view text) {
  std::u16string out;
  if (text.empty()) return out;
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(kCodePage, 0, text.data(), size, nullptr, 0);
  out.resize(static_cast<size_t>(n));
  ::MultiByteToWideChar(kCodePage, 0, text.data(), size, reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string WideToAnsi(std::u16string_view text) {
  std::string out;
  if (text.empty()) return out;
  const int size = static_cast<int>(text.size());
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  // No best fit: a character without its own byte becomes '?', never a look-alike.
  const int n =
      ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0, "?", nullptr);
  out.resize(static_cast<size_t>(n));
  ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, size, out.data(), n, "?", nullptr);
  return out;
}

char16_t AnsiCharToWide(unsigned char c) {
  const char byte = static_cast<char>(c);
  const std::u16string wide = AnsiToWide(std::string_view(&byte, 1));
  return wide.size() == 1 ? wide[0] : u'?';
}

char WideCharToAnsi(char16_t u) {
  const std::string narrow = WideToAnsi(std::u16string_view(&u, 1));
  return narrow.size() == 1 ? narrow[0] : '?';
}

unsigned char AnsiUpper(unsigned char c) {
  char byte = static_cast<char>(c);
  ::CharUpperBuffA(&byte, 1);
  return static_cast<unsigned char>(byte);
}

unsigned char AnsiLower(unsigned char c) {
  char byte = static_cast<char>(c);
  ::CharLowerBuffA(&byte, 1);
  return static_cast<unsigned char>(byte);
}

}  // namespace platform
