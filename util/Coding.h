// Little-endian two's-complement integers in byte buffers: the one coding of every stream and
// frame in the program (the pipe frame, the message entries, the typed value stream).
//
//   char b[8];
//   EncodeFixed64(b, -1);          // FF FF FF FF FF FF FF FF
//   DecodeFixed32("\x05\0\0\0")    // 5
//
// REQUIRES: the buffer holds at least the integer's width (2, 4 or 8 bytes). The functions
// take char or unsigned char buffers and never read or write beyond that width.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

namespace rb {

// Bytes of an unsigned integer type T, least significant first.
template <typename T, typename Byte>
inline void EncodeFixed(Byte* out, T value) {
  static_assert(std::is_integral_v<T> && sizeof(Byte) == 1);
  using U = std::make_unsigned_t<T>;
  const U u = static_cast<U>(value);
  for (size_t i = 0; i < sizeof(T); ++i)
    out[i] = static_cast<Byte>(static_cast<unsigned char>((u >> (8 * i)) & 0xFF));
}

template <typename T, typename Byte>
inline T DecodeFixed(const Byte* in) {
  static_assert(std::is_integral_v<T> && sizeof(Byte) == 1);
  using U = std::make_unsigned_t<T>;
  U u = 0;
  for (size_t i = 0; i < sizeof(T); ++i)
    u = static_cast<U>(u | static_cast<U>(static_cast<unsigned char>(in[i])) << (8 * i));
  return static_cast<T>(u);
}

template <typename Byte>
inline void EncodeFixed16(Byte* out, uint16_t value) {
  EncodeFixed<uint16_t>(out, value);
}
template <typename Byte>
inline void EncodeFixed32(Byte* out, uint32_t value) {
  EncodeFixed<uint32_t>(out, value);
}
template <typename Byte>
inline void EncodeFixed64(Byte* out, int64_t value) {
  EncodeFixed<int64_t>(out, value);
}
template <typename Byte>
inline uint16_t DecodeFixed16(const Byte* in) {
  return DecodeFixed<uint16_t>(in);
}
template <typename Byte>
inline uint32_t DecodeFixed32(const Byte* in) {
  return DecodeFixed<uint32_t>(in);
}
template <typename Byte>
inline int64_t DecodeFixed64(const Byte* in) {
  return DecodeFixed<int64_t>(in);
}

// Appends the 4 or 8 bytes of value to out.
inline void PutFixed32(std::string& out, uint32_t value) {
  char b[4];
  EncodeFixed32(b, value);
  out.append(b, 4);
}
inline void PutFixed64(std::string& out, int64_t value) {
  char b[8];
  EncodeFixed64(b, value);
  out.append(b, 8);
}

}  // namespace rb
