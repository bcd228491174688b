#include "json/ULinked.h"

#include <array>
#include <cstring>
#include <memory>
#include <utility>

#include "json/CSVReader.h"
#include "json/ULinkedTesting.h"
#include "platform/Ascii.h"
#include "util/Errors.h"

namespace rb {

namespace {

constexpr int32_t kReaderBufferSize = 4096;

// The component-stream form's own faults, as the wrapper's contract raises them; the load turns
// them into a failure like the typed value reader's (see Load).
[[noreturn]] void StreamError(const std::string& message) {
  throw EReadError(message);
}

// The loader's own error: why and where (byte offset in the stream) a load stopped. Every
// failure of a load is raised through Fail and caught only in Load, so a programming error is
// never mistaken for host data that does not fit.
struct LoadFailure {
  std::string reason;
  int64_t offset;
};

[[noreturn]] void Fail(std::string reason, int64_t offset) {
  throw LoadFailure{std::move(reason), offset};
}

bool SameName(std::string_view a, std::string_view b) {
  return platform::EqualsIgnoringAsciiCase(a, b);
}

// Every byte up to 0x20 counts as blank.
std::string Trim(const std::string& text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && blank(text[begin]))
    ++begin;
  while (end > begin && blank(text[end - 1]))
    --end;
  return text.substr(begin, end - begin);
}

// A decimal integer with an optional sign that fits 32 bits, else the default.
int32_t StrToIntDef(const std::string& text, int32_t fallback) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return fallback;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return fallback;
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT32_MAX} + 1) return fallback;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return fallback;
  return static_cast<int32_t>(value);
}

std::array<std::string*, 8> TextColumns(TAddInfoLine& line) {
  return {&line._1, &line._2, &line._3, &line._4, &line._5, &line._6, &line._7, &line._8};
}

// _1 to _8
std::string* TextColumn(TAddInfoLine& line, std::string_view name) {
  if (name.size() != 2 || name[0] != '_' || name[1] < '1' || name[1] > '8') return nullptr;
  return TextColumns(line)[static_cast<size_t>(name[1] - '1')];
}

// Forcedelete: an identifier True/False, or the Boolean tags.
bool ReadBooleanProperty(TXReader& reader) {
  if (reader.NextValue() != vaIdent) return reader.ReadBoolean();
  reader.ReadValue();
  const std::string ident = reader.ReadShortName();
  if (SameName(ident, "True")) return true;
  if (SameName(ident, "False")) return false;
  StreamError("Invalid property value " + ident);
}

void ReadLineProperty(TXReader& reader, TAddInfoLine& line) {
  const std::string name = reader.ReadShortName();
  if (SameName(name, "ORG_ID")) {
    line.ORG_ID = reader.ReadInteger();
  } else if (SameName(name, "Forcedelete")) {
    line.Forcedelete = ReadBooleanProperty(reader);
  } else if (std::string* column = TextColumn(line, name)) {
    *column = reader.ReadString();
  } else {
    StreamError("Property " + name + " does not exist");
  }
}

void ReadCollection(TXReader& reader, TAddInfoLines& lines) {
  if (reader.ReadValue() != vaCollection) StreamError("Invalid property value AddInfoLines");
  // Emptied before the first item only: a later, empty collection property adds nothing and
  // takes nothing away.
  bool first_item = true;
  while (!reader.EndOfList()) {
    if (first_item) lines.ClearLines();
    first_item = false;
    const TValueType next = reader.NextValue();
    if (next == vaInt8 || next == vaInt16 || next == vaInt32) reader.ReadInteger();
    TAddInfoLine& line = lines.Add();
    reader.ReadListBegin();
    while (!reader.EndOfList())
      ReadLineProperty(reader, line);
    reader.ReadListEnd();
  }
  reader.ReadListEnd();
}

}  // namespace

std::string DecodePercentEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 1 == text.size()) break;  // a trailing percent sign is dropped
    const char next = text[++i];
    switch (next) {
      case '0':
        out.push_back('\0');
        break;
      case 'c':
        out.push_back('\r');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case '%':
        out.push_back('%');
        break;
      default:  // not an escape: keep both bytes rather than lose the user's text
        out.push_back('%');
        out.push_back(next);
        break;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------

TAddInfoLine& TAddInfoLines::Items(int32_t index) {
  if (index < 0 || index >= Count()) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
  return lines_[static_cast<size_t>(index)];
}

const TAddInfoLine& TAddInfoLines::Items(int32_t index) const {
  return const_cast<TAddInfoLines*>(this)->Items(index);
}

TAddInfoLine& TAddInfoLines::Add() {
  return lines_.emplace_back();
}

void TAddInfoLines::ClearLines() {
  Info1.clear();
  Info2 = 0;
  lines_.clear();
}

void TAddInfoLines::CopyFrom(const TAddInfoLines& other) {
  if (&other == this) return;
  lines_ = other.lines_;
  Info1 = other.Info1;
  Info2 = other.Info2;
}

bool TAddInfoLines::LoadFromText(const std::string& text) {
  ClearLines();
  if (text.empty()) return false;
  std::unique_ptr<TMemoryStream> stream;
  try {
    stream = std::make_unique<TMemoryStream>(text);
  } catch (const std::exception&) {
    return false;
  }
  LoadFromStream(*stream);
  return true;
}

void TAddInfoLines::LoadFromStream(TStream& stream) {
  TInfoLinesFailure ignored;
  json_testing::LoadInfoLinesExplained(*this, stream, ignored);
}

namespace json_testing {

void LoadInfoLinesExplained(TAddInfoLines& lines, TStream& stream, TInfoLinesFailure& failure) {
  try {
    lines.Load(stream);
  } catch (const LoadFailure& e) {
    // Host data that does not fit gives what was read so far; nothing is shown.
    failure.reason = e.reason;
    failure.offset = e.offset;
  }
}

}  // namespace json_testing

void TAddInfoLines::Load(TStream& stream) {
  ClearLines();
  bool component = false;
  stream.SetPosition(0);
  if (stream.Size() >= 5) {
    char head[4];
    stream.ReadBuffer(head, 4);
    component = std::memcmp(head, "TPF0", 4) == 0;
  }
  stream.SetPosition(0);
  // Both readers below raise EReadError for input they cannot read (and only for that): it is
  // where the load fails, at the stream's position.
  try {
    if (component) {
      LoadComponentStream(stream);
    } else {
      LoadCsv(stream);
    }
  } catch (const EReadError& e) {
    Fail(e.what(), stream.Position());
  }
}

void TAddInfoLines::LoadComponentStream(TStream& stream) {
  TAddInfoLinesWrapper wrapper;
  {
    TXReader reader(stream, kReaderBufferSize);
    wrapper.ReadComponent(reader);
  }
  CopyFrom(wrapper.AddInfoLines);
  SortByOrgId();
  Info1 = wrapper.Info1;
  Info2 = wrapper.Info2;
}

void TAddInfoLines::LoadCsv(TStream& stream) {
  TCSVReader csv(stream, ',');
  for (csv.First(); !csv.Eof(); csv.Next()) {
    auto field = [&csv](int32_t index) { return Trim(DecodePercentEscapes(csv.Field(index))); };
    const std::string tag = field(0);
    if (tag == "Info1") {
      Info1 = field(1);
    } else if (tag == "Info2") {
      Info2 = StrToIntDef(field(1), 0);
    } else {
      TAddInfoLine& line = Add();
      line.LineName = tag;
      line.ORG_ID = StrToIntDef(field(1), 0);
      const auto columns = TextColumns(line);
      for (size_t k = 0; k < columns.size(); ++k)
        *columns[k] = field(2 + static_cast<int32_t>(k));
      line.Forcedelete = field(10) == "1";
    }
  }
  SortByOrgId();
}

// Hoare's quicksort with the middle element as pivot. The two halves of a partition are
// disjoint, so sorting them in any order gives the same result; they wait on an explicit stack
// instead of the call stack, which an adversarial order could otherwise exhaust.
void TAddInfoLines::SortByOrgId() {
  if (lines_.empty()) return;
  std::vector<std::pair<int32_t, int32_t>> ranges{{0, Count() - 1}};
  while (!ranges.empty()) {
    auto [lo, hi] = ranges.back();
    ranges.pop_back();
    int32_t i;
    do {
      i = lo;
      int32_t j = hi;
      const int32_t pivot = lines_[static_cast<size_t>(lo + (hi - lo) / 2)].ORG_ID;
      do {
        while (lines_[static_cast<size_t>(i)].ORG_ID < pivot)
          ++i;
        while (pivot < lines_[static_cast<size_t>(j)].ORG_ID)
          --j;
        if (i <= j) {
          std::swap(lines_[static_cast<size_t>(i)], lines_[static_cast<size_t>(j)]);
          ++i;
          --j;
        }
      } while (i <= j);
      if (lo < j) ranges.emplace_back(lo, j);
      lo = i;
    } while (i < hi);
  }
}

// ---------------------------------------------------------------------------------------------

void TAddInfoLinesWrapper::ReadComponent(TXReader& reader) {
  reader.SetRoot(this);
  reader.ReadSignature();
  int32_t flags = 0;
  int32_t child_position = 0;
  reader.ReadPrefix(flags, child_position);
  reader.ReadShortName();  // the class name; the form is known
  reader.SetComponentName(*this, reader.ReadShortName());
  while (!reader.EndOfList())
    ReadProperty(reader);
  reader.ReadListEnd();
  if (!reader.EndOfList()) StreamError("Child components are not expected");
  reader.ReadListEnd();
}

void TAddInfoLinesWrapper::ReadProperty(TXReader& reader) {
  const std::string name = reader.ReadShortName();
  if (SameName(name, "Info1")) {
    Info1 = reader.ReadString();
  } else if (SameName(name, "Info2")) {
    Info2 = reader.ReadInteger();
  } else if (SameName(name, "AddInfoLines")) {
    ReadCollection(reader, AddInfoLines);
  } else if (SameName(name, "Name")) {
    reader.SetComponentName(*this, reader.ReadString());
  } else if (SameName(name, "Tag")) {
    SetTag(reader.ReadInteger());
  } else {
    StreamError("Property " + name + " does not exist");
  }
}

}  // namespace rb
