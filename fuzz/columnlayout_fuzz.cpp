// The column layout file on arbitrary bytes: loading never raises, leaves column 0 alone and
// no visible column below 10 pixels; what is written for the result loads back to the same
// widths; and fitting the loaded widths to a grid keeps its promises (columns 0 and 1 and the
// hidden ones unchanged, none of the others below 15, the client width filled exactly whenever
// the minimum leaves room for it).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "live/ColumnLayout.h"

namespace {

std::vector<rb::live::TGridColumn> StartColumns(bool hide_price) {
  std::vector<rb::live::TGridColumn> columns = rb::live::DesignedGridColumns();
  if (hide_price) columns[3].width = -1;
  return columns;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const bool hide_price = size > 0 && (data[0] & 1) != 0;
  std::vector<rb::live::TGridColumn> columns = StartColumns(hide_price);
  rb::live::ApplyColumnLayoutText(text, columns);

  const std::vector<rb::live::TGridColumn> designed = rb::live::DesignedGridColumns();
  if (columns.size() != designed.size() || columns[0] != designed[0]) __builtin_trap();
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].field_name != designed[i].field_name) __builtin_trap();
    if (columns[i].width != -1 && columns[i].width < 10) __builtin_trap();
  }
  if (hide_price && columns[3].width != -1) __builtin_trap();

  std::vector<rb::live::TGridColumn> again = StartColumns(hide_price);
  rb::live::ApplyColumnLayoutText(rb::live::ColumnLayoutText(columns), again);
  if (again != columns) __builtin_trap();

  std::vector<int> widths;
  for (const rb::live::TGridColumn& c : columns)
    widths.push_back(c.width);
  const int client = size >= 3 ? (data[1] << 8 | data[2]) - 1000 : 500;
  const bool scroll_bar_shown = size > 0 && (data[0] & 2) != 0;
  const std::vector<int> fitted = rb::live::FitColumnWidths(widths, client, scroll_bar_shown, 17);
  if (fitted.size() != widths.size() || fitted[0] != widths[0] || fitted[1] != widths[1])
    __builtin_trap();
  int64_t room = int64_t{client} - (scroll_bar_shown ? 0 : 17);
  int64_t sum = 0;
  int64_t sharing = 0;
  for (size_t i = 0; i < fitted.size(); ++i) {
    if (widths[i] == -1) {
      if (fitted[i] != -1) __builtin_trap();
      continue;
    }
    if (i < 2) {
      room -= widths[i];
      continue;
    }
    if (fitted[i] < 15) __builtin_trap();
    sum += fitted[i];
    ++sharing;
  }
  if (room >= 15 * sharing && sum != room) __builtin_trap();
  return 0;
}
