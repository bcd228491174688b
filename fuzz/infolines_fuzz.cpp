// The order's info lines in either form: loading never raises, whatever the text; the lines
// that come out are read in full, copied and sorted again.
#include <cstdint>
#include <string>

#include "json/ULinked.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  rb::TAddInfoLines lines;
  const bool loaded = lines.LoadFromText(text);
  if (loaded == text.empty()) __builtin_trap();
  size_t bytes = lines.Info1.size();
  for (int32_t i = 0; i < lines.Count(); ++i) {
    const rb::TAddInfoLine& line = lines.Items(i);
    for (const std::string* column : {&line._1, &line._2, &line._3, &line._4, &line._5, &line._6,
                                      &line._7, &line._8, &line.LineName}) {
      bytes += column->size();
    }
  }
  // Nothing read can be longer than the text it came from.
  if (bytes > text.size()) __builtin_trap();
  rb::TAddInfoLines copy;
  copy.CopyFrom(lines);
  copy.SortByOrgId();
  for (int32_t i = 1; i < copy.Count(); ++i) {
    if (copy.Items(i - 1).ORG_ID > copy.Items(i).ORG_ID) __builtin_trap();
  }
  return 0;
}
