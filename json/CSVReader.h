// Separated-value text, row by row, without copying fields: the whole input is loaded once into
// a buffer (followed by a carriage return and a 0x00 byte), and each row only records where its
// fields start and how long they are. Field turns one into text on demand.
//
//   TCSVReader csv(stream, ',');
//   for (csv.First(); !csv.Eof(); csv.Next()) Use(csv.Field(0), csv.Field(1));
//
// Rows end at a carriage return; the next row starts two bytes later (past CR LF). So
//   - "a,b\r\nc,d\r\n" gives the rows (a, b) and (c, d), then Eof;
//   - the last row of input that does not end in CR LF is read together with Eof, and the loop
//     above does not use it;
//   - after a carriage return alone the next row loses its first byte;
//   - line feeds alone do not end rows.
// A field opening with a double quote may hold separators and line breaks; "" inside it reads
// as one quote. A 0x00 byte ends the input.
//
// Ownership: the stream is read to its end by the constructor and not kept; the reader owns its
// buffer. Failure: Next after the last row raises EReadError "Try to read past eof".
//
// The host writes its texts with CR LF after every row, the final one included; the reading rules
// above are what callers and stored texts rely on, quirks included, so they stay as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/Streams.h"

namespace rb {

class TCSVReader {
 public:
  // Reads everything from the stream's position to its end. A separator of 0 means the user
  // locale's list separator. Does not read a row.
  TCSVReader(TStream& stream, char separator);
  TCSVReader(const TCSVReader&) = delete;
  TCSVReader& operator=(const TCSVReader&) = delete;

  void Reset();
  void First();
  void Next();
  bool Eof() const { return eof_; }

  // The field's text; an index outside the current row gives the empty text.
  std::string Field(int32_t index) const;
  int32_t FieldCount() const { return field_count_; }
  // -1 before the first row, then the number of rows read.
  int32_t RowNumber() const { return row_number_; }

 private:
  struct FieldPos {
    size_t start = 0;
    size_t length = 0;
  };

  // From the opening quote at pos to just past the closing one; false when the input ends first.
  bool SkipQuoted(size_t& pos);
  void Record(size_t start, size_t end, bool grow_by_doubling);

  std::string buffer_;  // input + '\r' + '\0'
  size_t row_start_ = 0;
  size_t buffer_end_ = 0;  // the final 0x00
  const char quote_ = '"';
  char separator_;
  bool last_row_read_ = false;
  bool eof_ = false;
  int32_t field_count_ = 0;
  const char row_terminator_ = '\r';
  const size_t line_break_length_ = 2;
  int32_t row_number_ = -1;
  std::vector<FieldPos> fields_;
};

}  // namespace rb
