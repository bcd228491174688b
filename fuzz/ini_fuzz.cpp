// The settings file on arbitrary text: reading never fails, and the number settings taken from
// it stay usable for formatting and reading amounts.
#include <cstdint>
#include <string>
#include <string_view>

#include "util/IniFile.h"
#include "util/Numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const rb::TIniFile ini = rb::TIniFile::FromText(text);
  for (const char* section : {"EUCHAR", "CH-CHAR", "COUNTRY", ""}) {
    (void)ini.SectionExists(section);
    (void)ini.ReadString(section, "VALUE", "x");
    (void)ini.ReadInteger(section, "NACHKOMMA3", 2);
    (void)ini.ReadBool(section, "EURO", false);
  }
  const rb::TNumberSettings old = rb::NumberSettings();
  rb::SetNumberSettings(rb::NumberSettingsFromIni(ini));
  // The text itself as amounts and as a reply to split, under those settings.
  const long double number = rb::TextToNumber(text);
  (void)rb::FormatAmount(static_cast<double>(number));
  (void)rb::FormatAmountPlain(static_cast<double>(number));
  (void)rb::NetToGross(static_cast<double>(number), 19);
  (void)rb::GrossToNet(static_cast<double>(number), 19);
  const auto pieces = rb::SplitText(";", text, size % 7, size % 5);
  if (size % 5 != 0 && pieces.size() != size % 5 && !text.empty()) __builtin_trap();
  rb::SetNumberSettings(old);
  return 0;
}
