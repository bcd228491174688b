#include "json/Utf8.h"

#include <cstdint>
#include <cstring>

#include "platform/CodePage.h"

namespace rb {

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080u;

uint64_t Load8(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// One multi-byte sequence at i (lead >= 0x80) by the tolerant rule; false when it is cut off or
// a following byte is not 0x80..0xBF.
bool DecodeSequence(std::string_view bytes, size_t& i, char16_t& unit) {
  const size_t n = bytes.size();
  auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  auto trailing = [&](size_t k) { return k < n && (byte(k) & 0xC0) == 0x80; };
  const unsigned lead = byte(i);
  if (lead & 0x20) {
    if (!trailing(i + 1) || !trailing(i + 2)) return false;
    // The lead's top bits overflow 16 bits and are cut off, which leaves its low nibble.
    unit = static_cast<char16_t>(lead * 4096 + (byte(i + 1) & 0x3F) * 64 + (byte(i + 2) & 0x3F));
    i += 3;
  } else {
    if (!trailing(i + 1)) return false;
    unit = static_cast<char16_t>((lead & 0x3F) * 64 + (byte(i + 1) & 0x3F));
    i += 2;
  }
  return true;
}

}  // namespace

size_t AsciiRunLength(std::string_view bytes) {
  const size_t n = bytes.size();
  size_t i = 0;
  while (i + 8 <= n && (Load8(bytes.data() + i) & kHighBits) == 0)
    i += 8;
  while (i < n && static_cast<unsigned char>(bytes[i]) < 0x80)
    ++i;
  return i;
}

bool DecodeUtf8Plain(std::string_view bytes, char16_t* out, size_t& length) {
  const size_t n = bytes.size();
  size_t o = 0;
  for (size_t i = 0; i < n;) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      out[o++] = static_cast<char16_t>(lead);
      i += 1;
    } else if (!DecodeSequence(bytes, i, out[o++])) {
      return false;
    }
  }
  length = o;
  return true;
}

bool DecodeUtf8(std::string_view bytes, char16_t* out, size_t& length) {
  // Text in documents is mostly ASCII with a letter here and there: each run of ASCII bytes is
  // found eight bytes at a time and widened without a decision per byte.
  const size_t n = bytes.size();
  size_t o = 0;
  for (size_t i = 0; i < n;) {
    const size_t run = AsciiRunLength(bytes.substr(i));
    const char* in = bytes.data() + i;
    for (size_t k = 0; k < run; ++k)
      out[o + k] = static_cast<char16_t>(static_cast<unsigned char>(in[k]));
    o += run;
    i += run;
    if (i < n && !DecodeSequence(bytes, i, out[o++])) return false;
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
