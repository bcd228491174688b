// The order's additional info lines: records that link the order to other documents of the
// host, each with an integer key ORG_ID, eight free text columns and a deletion mark, plus two
// header values Info1 and Info2 for the list as a whole.
//
// The host writes them in one of two forms, told apart by the first bytes:
//   - a component stream, "TPF0" followed by a TAddInfoLinesWrapper with its Info1, Info2 and
//     AddInfoLines collection (read through TXReader);
//   - comma-separated rows, each ended by CR LF:
//       Info1,Rechnungen
//       Info2,2
//       R1, 4711 ,first,,,,,,,,1        -> LineName "R1", ORG_ID 4711, _1 "first", Forcedelete
//     Fields are percent-decoded ("%c" CR, "%n" LF, "%0" NUL, "%%" percent) and trimmed.
// Either way the lines end up sorted by ORG_ID with a quicksort that fixes the order of equal
// keys (see SortByOrgId).
//
// Ownership: a collection owns its lines; loading reads the stream from its start and does not
// keep it. One thread at a time.
//
// Failure: input that does not fit never raises. It ends the load silently; a component stream
// then leaves no lines, CSV keeps the rows read before the fault, unsorted (tests can learn why:
// json/ULinkedTesting.h). Anything else (memory running out) is raised as it is. Item access
// out of range raises EListError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "recordset/TXFiler.h"
#include "util/Streams.h"

namespace rb {

class TAddInfoLines;
struct TInfoLinesFailure;
namespace json_testing {
void LoadInfoLinesExplained(TAddInfoLines& lines, TStream& stream, TInfoLinesFailure& failure);
}

class TAddInfoLine {
 public:
  void CopyFrom(const TAddInfoLine& other) { *this = other; }

  int32_t ORG_ID = 0;
  std::string _1, _2, _3, _4, _5, _6, _7, _8;
  bool Forcedelete = false;
  std::string LineName;  // the CSV row's first column; not part of the component stream
};

class TAddInfoLines {
 public:
  TAddInfoLines() = default;
  TAddInfoLines(const TAddInfoLines&) = delete;
  TAddInfoLines& operator=(const TAddInfoLines&) = delete;

  int32_t Count() const { return static_cast<int32_t>(lines_.size()); }
  TAddInfoLine& Items(int32_t index);
  const TAddInfoLine& Items(int32_t index) const;
  // A new line with ORG_ID 0, empty texts and Forcedelete false, appended.
  TAddInfoLine& Add();

  // Clears, then loads the text in either form; false only for an empty text (or when the text
  // cannot even be copied), true also when loading stopped early.
  bool LoadFromText(const std::string& text);
  // Clears, then loads from the start of the stream in either form.
  void LoadFromStream(TStream& stream);
  void ClearLines();
  void CopyFrom(const TAddInfoLines& other);
  // Ascending ORG_ID. Lines with equal keys come out in the order this quicksort leaves them,
  // not a stable sort's: two lines with equal keys swap places.
  void SortByOrgId();

  std::string Info1;
  int32_t Info2 = 0;

 private:
  friend void json_testing::LoadInfoLinesExplained(TAddInfoLines&, TStream&, TInfoLinesFailure&);
  // The load itself; input that does not fit raises the loader's own error.
  void Load(TStream& stream);
  void LoadCsv(TStream& stream);
  void LoadComponentStream(TStream& stream);

  std::vector<TAddInfoLine> lines_;
};

// The component that the component-stream form describes; used only while reading it.
class TAddInfoLinesWrapper : public TXComponent {
 public:
  // Reads one whole component (signature, prefix, class and component name, properties,
  // children) into this wrapper; raises EReadError for anything it does not fit.
  void ReadComponent(TXReader& reader);

  std::string Info1;
  int32_t Info2 = 0;
  TAddInfoLines AddInfoLines;

 private:
  void ReadProperty(TXReader& reader);
};

// "%0" -> 0x00, "%c" -> CR, "%n" -> LF, "%%" -> "%"; a percent sign before any other byte is
// kept with it, a percent sign at the very end is dropped.
std::string DecodePercentEscapes(std::string_view text);

}  // namespace rb
