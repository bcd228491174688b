#include "json/Utf8.h"

#include "platform/CodePage.h"

namespace rb {

bool DecodeUtf8(std::string_view bytes, char16_t* out, size_t& length) {
  const size_t n = bytes.size();
  auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  auto trailing = [&](size_t i) { return i < n && (byte(i) & 0xC0) == 0x80; };
  size_t o = 0;
  for (size_t i = 0; i < n;) {
    const unsigned lead = byte(i);
    if (lead < 0x80) {
      out[o++] = static_cast<char16_t>(lead);
      i += 1;
    } else if (lead & 0x20) {
      if (!trailing(i + 1) || !trailing(i + 2)) return false;
      // The lead's top bits overflow 16 bits and are cut off, which leaves its low nibble.
      out[o++] =
          static_cast<char16_t>(lead * 4096 + (byte(i + 1) & 0x3F) * 64 + (byte(i + 2) & 0x3F));
      i += 3;
    } else {
      if (!trailing(i + 1)) return false;
      out[o++] = static_cast<char16_t>((lead & 0x3F) * 64 + (byte(i + 1) & 0x3F));
      i += 2;
    }
  }
  length = o;
  return true;
}

std::u16string Utf8ToWide(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  size_t length = 0;
  if (!DecodeUtf8(bytes, out.data(), length)) return {};
  out.resize(length);
  return out;
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (char16_t u : text) {
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 + (u >> 6));
      out += static_cast<char>(0x80 + (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 + (u >> 12));
      out += static_cast<char>(0x80 + ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 + (u & 0x3F));
    }
  }
  return out;
}

std::string CodePageToUtf8(std::string_view text) {
  return WideToUtf8(platform::AnsiToWide(text));
}

}  // namespace rb
