// The CSV reader on arbitrary text: every row and every field is read, then the reader is
// reset and read again, which must give the same rows.
#include <cstdint>
#include <string>
#include <vector>

#include "json/CSVReader.h"
#include "util/Errors.h"

namespace {

std::vector<std::vector<std::string>> Rows(rb::TCSVReader& csv) {
  std::vector<std::vector<std::string>> rows;
  for (csv.First(); !csv.Eof(); csv.Next()) {
    std::vector<std::string>& row = rows.emplace_back();
    for (int32_t i = -1; i <= csv.FieldCount(); ++i)
      row.push_back(csv.Field(i));
  }
  // The row read together with Eof is there too; one more Next is the documented error when
  // the input ended with the last row, a quiet stop when a 0x00 byte ended it.
  for (int32_t i = 0; i < csv.FieldCount(); ++i)
    (void)csv.Field(i);
  try {
    csv.Next();
  } catch (const rb::EReadError&) {
  }
  return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte is the separator (0: the locale's list separator).
  rb::TMemoryStream stream(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  rb::TCSVReader csv(stream, static_cast<char>(data[0]));
  const auto first = Rows(csv);
  csv.Reset();
  if (Rows(csv) != first) __builtin_trap();
  return 0;
}
