#include "json/CSVReader.h"

#include "platform/Locale.h"
#include "util/Errors.h"

namespace rb {

TCSVReader::TCSVReader(TStream& stream, char separator)
    : buffer_(stream.ReadRest()),
      separator_(separator != 0 ? separator : platform::UserLocale().list),
      fields_(100) {
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

void TCSVReader::Next() {
  field_count_ = 0;
  size_t pos = row_start_;
  size_t field_start = row_start_;
  if (last_row_read_) {
    if (eof_) throw EReadError("Try to read past eof");
    eof_ = true;
    return;
  }
  if (buffer_[pos] == quote_ && !SkipQuoted(pos)) return;
  while (true) {
    const char c = buffer_[pos];
    if (c == '\0') {
      eof_ = true;
      return;
    }
    if (c == row_terminator_) {
      if (pos != row_start_) Record(field_start, pos, false);
      row_start_ = pos;
      if (buffer_[pos + 1] == '\0') {
        last_row_read_ = true;
        eof_ = true;
      } else {
        row_start_ += line_break_length_;
      }
      ++row_number_;
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
