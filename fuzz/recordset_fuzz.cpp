// A query result as the program loads one: field definitions as CSV text, then the binary
// record-set stream. The input is the definitions, a 0x00 byte, and the stream (the CSV reader
// ends its input at a 0x00 byte anyway, so the definitions lose nothing by the split). Every
// field of every loaded record is read, and the records are saved and loaded again.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "recordset/UVirtualDataset.h"
#include "util/Errors.h"

namespace {

// Every field of every record as text ("<null>" for null), also read as a number.
std::vector<std::vector<std::string>> Rows(rb::TVirtualDataSet& dataset) {
  std::vector<std::vector<std::string>> rows;
  for (dataset.First(); !dataset.Eof(); dataset.Next()) {
    std::vector<std::string>& row = rows.emplace_back();
    for (int i = 0; i < dataset.FieldCount(); ++i) {
      rb::TField& field = dataset.Fields(i);
      // A date or time of day number 0 (a midnight time) is written as 0.0, which reads as null.
      const rb::TFieldType type = field.DataType();
      const bool dated = type == rb::ftDate || type == rb::ftTime || type == rb::ftDateTime;
      const bool null = field.IsNull() || (dated && field.AsDateTime() == 0);
      row.push_back(null ? "<null>" : field.AsString());
      try {
        (void)field.AsFloat();
      } catch (const rb::EConvertError&) {  // a text field whose text is not a number
      }
    }
  }
  return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const void* nul = std::memchr(bytes, 0, size);
  const size_t defs_size = nul != nullptr ? static_cast<const char*>(nul) - bytes : size;
  const std::string defs(bytes, defs_size);
  const std::string records =
      defs_size < size ? std::string(bytes + defs_size + 1, size - defs_size - 1) : "";
  rb::TVirtualDataSet dataset;
  try {
    dataset.LoadFieldDefsFromText(defs, true);
  } catch (const rb::EDatabaseError&) {  // a missing, repeated or unknown definition
    return 0;
  }
  rb::TMemoryStream stream(records);
  rb::TBinaryStreamFormat format;
  try {
    dataset.LoadFromStream(stream, format);
  } catch (const rb::EReadError&) {      // a malformed stream; the records before it stay
  } catch (const rb::EDatabaseError&) {  // a value the field cannot hold, e.g. 1e4000 as currency
  }
  const auto rows = Rows(dataset);
  if (static_cast<int>(rows.size()) != dataset.RecordCount()) __builtin_trap();
  // What was loaded saves and loads again unchanged.
  rb::TMemoryStream saved;
  dataset.SaveToStream(saved, format);
  rb::TVirtualDataSet again;
  again.LoadFieldDefsFromText(defs, true);
  again.LoadFromStream(saved, format);
  if (Rows(again) != rows) __builtin_trap();
  return 0;
}
