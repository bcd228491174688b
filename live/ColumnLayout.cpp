#include "live/ColumnLayout.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "platform/CodePage.h"
#include "util/Errors.h"
#include "util/Files.h"
#include "util/Text.h"

namespace rb::live {

namespace {

constexpr int kHidden = -1;
constexpr int kNotANumberWidth = 20;
constexpr int kMinLoadedWidth = 10;
constexpr int kMinFittedWidth = 15;
constexpr int64_t kChunk = 4096;

int WidthFromText(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+') return kNotANumberWidth;
  int value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
  if (ec != std::errc() || end != s.data() + s.size()) return kNotANumberWidth;
  return value;
}

void ApplyLine(std::string_view line, std::vector<TGridColumn>& columns) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return;
  const std::string_view name = TrimBlanks(line.substr(0, eq));
  // Column 0 is the grid's narrow leading column; its width is not the user's to keep.
  for (size_t i = 1; i < columns.size(); ++i) {
    TGridColumn& column = columns[i];
    if (!platform::SameTextIgnoringCase(column.field_name, name)) continue;
    if (column.width == kHidden) return;
    column.width = WidthFromText(TrimBlanks(line.substr(eq + 1)));
    if (column.width < kMinLoadedWidth && column.width != kHidden) column.width = kMinLoadedWidth;
    return;
  }
}

// Applies every complete line in pending and keeps the unfinished rest there.
void ApplyCompleteLines(std::string& pending, std::vector<TGridColumn>& columns) {
  size_t start = 0;
  for (;;) {
    const size_t end = pending.find_first_of("\r\n", start);
    if (end == std::string::npos) break;
    ApplyLine(std::string_view(pending).substr(start, end - start), columns);
    start = end + 1;
  }
  pending.erase(0, start);
}

}  // namespace

std::string ColumnLayoutFileName() {
  return TempFolder() + "dgdview.COL";
}

std::vector<TGridColumn> DesignedGridColumns() {
  return {
      {"TColumn-1", 10}, {"Position", 74}, {"Description1", 62}, {"PRICE", 93}, {"KUMPRICE", 64}};
}

void ApplyColumnLayout(TStream& source, std::vector<TGridColumn>& columns) {
  std::string pending;
  char buffer[kChunk];
  try {
    for (;;) {
      const int64_t n = source.Read(buffer, kChunk);
      if (n < 0) return;  // a failed read: the unfinished line may be cut short
      if (n == 0) break;
      pending.append(buffer, static_cast<size_t>(n));
      ApplyCompleteLines(pending, columns);
    }
  } catch (const Exception&) {
    // A read error ends the loading; the lines applied so far stay.
    return;
  }
  ApplyLine(pending, columns);
}

void ApplyColumnLayoutText(std::string_view text, std::vector<TGridColumn>& columns) {
  TMemoryStream source(text);
  ApplyColumnLayout(source, columns);
}

void LoadColumnLayout(const std::string& path, std::vector<TGridColumn>& columns) {
  try {
    TFileStream file(path, fmOpenRead | fmShareDenyNone);
    ApplyColumnLayout(file, columns);
  } catch (const Exception&) {
    // Missing or locked: the present widths stay.
  }
}

std::string ColumnLayoutText(const std::vector<TGridColumn>& columns) {
  std::string text;
  for (const TGridColumn& column : columns)
    text += column.field_name + "=" + std::to_string(column.width) + "\r\n";
  return text;
}

void WriteColumnLayout(const std::string& path, const std::vector<TGridColumn>& columns) {
  TFileStream file(path, fmCreate);
  const std::string text = ColumnLayoutText(columns);
  try {
    file.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  } catch (const Exception&) {
    // The file exists; a short one only means fewer widths next time.
  }
}

std::vector<int> FitColumnWidths(const std::vector<int>& widths, int client_width,
                                 bool scroll_bar_shown, int scroll_bar_width) {
  std::vector<int> fitted = widths;
  int64_t room = int64_t{client_width} - (scroll_bar_shown ? 0 : std::max(0, scroll_bar_width));
  for (size_t i = 0; i < std::min<size_t>(2, widths.size()); ++i)
    room -= std::max(0, widths[i]);

  std::vector<size_t> sharing;  // the columns that still share the room
  for (size_t i = 2; i < widths.size(); ++i) {
    if (widths[i] != kHidden) sharing.push_back(i);
  }
  // Pin every column whose share falls below the minimum, until the shares of the rest hold.
  for (;;) {
    if (sharing.empty()) return fitted;
    int64_t total = 0;
    for (size_t i : sharing)
      total += std::max(0, widths[i]);
    const auto weight = [&](size_t i) -> int64_t { return total > 0 ? std::max(0, widths[i]) : 1; };
    const int64_t weights = total > 0 ? total : static_cast<int64_t>(sharing.size());
    const int64_t share_room = std::max<int64_t>(0, room);
    std::vector<size_t> kept;
    for (size_t i : sharing) {
      if (share_room * weight(i) < int64_t{kMinFittedWidth} * weights) {
        fitted[i] = kMinFittedWidth;
        room -= kMinFittedWidth;
      } else {
        kept.push_back(i);
      }
    }
    if (kept.size() < sharing.size()) {
      sharing = std::move(kept);
      continue;
    }
    // Every share holds: round down, then hand out the spare pixels by largest remainder.
    std::vector<int64_t> remainder(widths.size(), 0);
    int64_t spare = share_room;
    for (size_t i : sharing) {
      const int64_t scaled = share_room * weight(i);
      fitted[i] = static_cast<int>(scaled / weights);
      remainder[i] = scaled % weights;
      spare -= fitted[i];
    }
    std::vector<size_t> order = sharing;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return remainder[a] > remainder[b]; });
    for (size_t k = 0; k < order.size() && spare > 0; ++k, --spare)
      ++fitted[order[k]];
    return fitted;
  }
}

}  // namespace rb::live
