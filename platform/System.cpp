// The parts of System.h that are the same on every platform.
#include "platform/System.h"

namespace platform {

namespace {

void AppendHex(std::string& out, uint64_t value, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i)
    out += kHex[(value >> (4 * i)) & 0xF];
}

}  // namespace

std::string Guid::ToText36() const {
  std::string out;
  out.reserve(36);
  AppendHex(out, data1, 8);
  out += '-';
  AppendHex(out, data2, 4);
  out += '-';
  AppendHex(out, data3, 4);
  out += '-';
  AppendHex(out, data4[0], 2);
  AppendHex(out, data4[1], 2);
  out += '-';
  for (size_t i = 2; i < 8; ++i)
    AppendHex(out, data4[i], 2);
  return out;
}

std::string Guid::ToString() const {
  // Built in place: g++ 12 warns falsely (-Wrestrict) on "{" + text + "}" in Release builds.
  std::string text(1, '{');
  text += ToText36();
  text += '}';
  return text;
}

}  // namespace platform
