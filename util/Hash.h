// The PJW hash of ELF symbol tables over the bytes of a text: for each byte,
// h = (h << 4) + byte; the top four bits g, when set, are folded in (h ^= g >> 24) and cleared.
// The result stays below 2^28. Used for temporary file names and the message storage's name
// index, which must agree with what the host computes.
//   ElfHash("printf") == 0x077905A6
#pragma once

#include <cstdint>
#include <string_view>

namespace rb {

constexpr uint32_t ElfHash(std::string_view text) {
  uint32_t h = 0;
  for (char ch : text) {
    h = (h << 4) + static_cast<unsigned char>(ch);
    const uint32_t g = h & 0xF0000000u;
    if (g != 0) h ^= g >> 24;
    h &= ~g;
  }
  return h;
}

static_assert(ElfHash("printf") == 0x077905A6);

}  // namespace rb
