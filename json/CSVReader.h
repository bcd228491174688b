// Separated-value text, row by row, without copying fields: the whole input is loaded once into
// a buffer (followed by a carriage return and a 0x00 byte), and each row only records where its
// fields start and how long they are. Field turns one into text on demand.
//
//   TCSVReader csv(stream, ',');
//   for (csv.First(); !csv.Eof(); csv.Next()) Use(csv.Field(0), csv.Field(1));
//
// A row ends at CR LF, at a carriage return alone or at a line feed alone, and the last row needs
// no line break after it. So "a,b\r\nc,d\r\n", "a,b\nc,d" and "a,b\rc,d" all give the rows
// (a, b) and (c, d), then Eof. Every line break ends a row, so "\r\n" alone is one empty row (no
// fields); after the last line break a row follows only if some text does. A 0x00 byte ends the
// input, like the end of the stream.
//
// A field opening with a double quote may hold separators and line breaks; "" inside it reads
// as one quote. A quote that is never closed runs to the end of the input: that row is not
// given (Eof), the rows before it are.
//
// Ownership: the stream is read to its end by the constructor and not kept; the reader
// owns its buffer. Failure: Next once Eof has been reached at the end of the input raises
// EReadError "Try to read past eof".
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

  std::string buffer_;  // input (up to any 0x00) + '\r' + '\0'
  size_t row_start_ = 0;
  size_t buffer_end_ = 0;  // the final 0x00, the only one in the buffer
  const char quote_ = '"';
  char separator_;
  bool last_row_read_ = false;  // the scan has reached the carriage return appended
  bool eof_ = false;
  int32_t field_count_ = 0;
  int32_t row_number_ = -1;
  std::vector<FieldPos> fields_;
};

}  // namespace rb
