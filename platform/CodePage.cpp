#include "platform/CodePage.h"

namespace platform {

void WideToAnsi(std::u16string_view text, std::string& out) {
  out.resize(text.size());
  // One pass without an early exit, over pointers that cannot overlap, so that the compiler
  // takes whole vectors of characters at a time.
  const char16_t* __restrict from = text.data();
  char* __restrict to = out.data();
  unsigned foreign = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned c = from[i];
    foreign |= (c >> 8) | static_cast<unsigned>((c & 0xE0) == 0x80);
    to[i] = static_cast<char>(c);
  }
  if (foreign != 0) out = WideToAnsi(text);
}

}  // namespace platform
