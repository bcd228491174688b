#include "json/CSVReader.h"

#include <algorithm>

#include "platform/Locale.h"
#include "util/Errors.h"

namespace rb {

TCSVReader::TCSVReader(TStream& stream, char separator)
    : buffer_(stream.ReadRest()),
      separator_(separator != 0 ? separator : platform::UserLocale().list),
      fields_(100) {
  // A 0x00 byte ends the input. Cutting there keeps the scan's one stop mark at the very end,
  // so the row before it is read like any last row.
  buffer_.resize(std::min(buffer_.find('\0'), buffer_.size()));
  buffer_.push_back('\r');
  buffer_.push_back('\0');
  buffer_end_ = buffer_.size() - 1;
  Reset();
}

void TCSVReader::Reset() {
  row_start_ = 0;
  last_row_read_ = false;
  eof_ = false;
  field_count_ = 0;
  row_number_ = -1;
}

void TCSVReader::First() {
  Reset();
  Next();
}

// Every byte read below lies at or before buffer_end_, which holds 0x00: the scan stops there,
// and a look one byte ahead is taken only from a byte that is not 0x00.
bool TCSVReader::SkipQuoted(size_t& pos) {
  ++pos;
  while (true) {
    const char c = buffer_[pos];
    if (c == '\0') {
      eof_ = true;
      return false;
    }
    if (c == quote_) {
      if (buffer_[pos + 1] != quote_) {
        ++pos;
        return true;
      }
      pos += 2;
    } else {
      ++pos;
    }
  }
}

void TCSVReader::Record(size_t start, size_t end, bool grow_by_doubling) {
  if (static_cast<size_t>(field_count_) == fields_.size()) {
    fields_.resize(grow_by_doubling ? fields_.size() * 2 : fields_.size() + 1);
  }
  fields_[static_cast<size_t>(field_count_)] = {start, end - start};
  ++field_count_;
}

// Rows may end in CR LF, CR or LF: text that passed through other hands often carries one of
// the others, and treating only CR LF as the end would fuse rows or eat the byte after a lone CR.
// The last row needs no line break either, or a text that simply stops would lose its last row.
void TCSVReader::Next() {
  field_count_ = 0;
  if (last_row_read_) {
    if (eof_) throw EReadError("Try to read past eof");
    eof_ = true;
    return;
  }
  size_t pos = row_start_;
  size_t field_start = row_start_;
  if (buffer_[pos] == quote_ && !SkipQuoted(pos)) return;
  // The carriage return appended to the input ends every row, so this scan never passes it;
  // only SkipQuoted can meet the 0x00 behind it.
  while (true) {
    const char c = buffer_[pos];
    // A separator that is a line feed still separates; a carriage return always ends the row.
    const bool row_end = c == '\r' || (c == '\n' && separator_ != '\n');
    if (row_end) {
      const bool closing = pos + 1 == buffer_end_;  // the carriage return appended to the input
      if (closing && pos == row_start_) {
        // Nothing after the last line break (or no input at all): no further row.
        last_row_read_ = true;
        eof_ = true;
        return;
      }
      if (pos != row_start_) Record(field_start, pos, false);
      ++row_number_;
      if (closing) {
        last_row_read_ = true;
      } else {
        row_start_ = pos + (c == '\r' && buffer_[pos + 1] == '\n' ? 2 : 1);
      }
      return;
    }
    if (c == separator_) {
      Record(field_start, pos, true);
      ++pos;
      field_start = pos;
      if (buffer_[pos] == quote_ && !SkipQuoted(pos)) return;
    } else {
      ++pos;
    }
  }
}

std::string TCSVReader::Field(int32_t index) const {
  if (index < 0 || index >= field_count_) return {};
  const FieldPos& f = fields_[static_cast<size_t>(index)];
  if (f.length == 0) return {};
  const char* p = buffer_.data() + f.start;
  if (p[0] != quote_) return std::string(p, f.length);
  std::string text;
  if (f.length < 2) return text;
  const char* end = p + f.length - 1;  // drops the closing byte
  for (++p; p < end; ++p) {
    text.push_back(*p);
    if (*p == quote_ && p + 1 < end && p[1] == quote_) ++p;
  }
  return text;
}

}  // namespace rb
