// UTF-8 conversions, code unit by code unit: four-byte sequences are neither produced nor
// expected, so a surrogate pair travels as two three-byte sequences.
//
//   Utf8ToWide("\xC3\xA4") == u"\u00E4"     Utf8ToWide("\xE4") == u""   (malformed: empty)
//   WideToUtf8(u"\u20AC") == "\xE2\x82\xAC"  CodePageToUtf8("\x80") == "\xE2\x82\xAC"
#pragma once

#include <string>
#include <string_view>

namespace rb {

// Malformed input (a sequence cut off by the end, a following byte outside 0x80..0xBF) gives the
// empty text as a whole; the lead byte itself is not checked further.
std::u16string Utf8ToWide(std::string_view bytes);
// The same decoding for callers that handle malformed input themselves (the JSON reader falls
// back to the code page): writes at most bytes.size() code units to out and sets length. False
// for malformed input; out then holds a partial result and length is unchanged.
bool DecodeUtf8(std::string_view bytes, char16_t* out, size_t& length);
// The same, one byte at a time: the reference that DecodeUtf8 (which widens runs of ASCII bytes
// eight at a time) must always agree with.
bool DecodeUtf8Plain(std::string_view bytes, char16_t* out, size_t& length);
// The number of bytes below 0x80 at the start of bytes.
size_t AsciiRunLength(std::string_view bytes);
std::string WideToUtf8(std::u16string_view text);
// 8-bit text in the system code page to UTF-8 bytes.
std::string CodePageToUtf8(std::string_view text);

}  // namespace rb
