// The grid's column widths: kept between runs in the column layout file, and fitted to the
// grid's width.
//
// The file is TempFolder() + "dgdview.COL", 8-bit text, one line per column in column order,
// the column's field name, '=', its width in pixels (-1 for a hidden column), CR LF. An untouched
// window writes
//   TColumn-1=10\r\nPosition=74\r\nDescription1=62\r\nPRICE=93\r\nKUMPRICE=64\r\n
//
// Reading applies the lines one by one as they arrive (breaks CR LF, LF or CR; blanks around
// name and value dropped): the column whose field name equals the name, ignoring case, takes
// the value as its width. Column 0 and unknown names are skipped, and a hidden column stays
// hidden. A value that is not a decimal integer gives 20; a width below 10, other than -1
// (hidden), is raised to 10. So "KUMPRICE=3" gives 10, "KUMPRICE=x" 20, "TColumn-1=200" and
// "Foo=5" nothing. Reading never raises: an error ends it quietly, keeping what was applied.
//
// Writing raises the create error (EFCreateError) when the file cannot be created -- the window
// shows it and refuses to close; an error while writing the lines is ignored, as the file has
// then been created and the next run reads what made it there.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "live/LiveScreen.h"
#include "util/Streams.h"

namespace rb::live {

// TempFolder() + "dgdview.COL". Raises what TempFolder raises.
std::string ColumnLayoutFileName();

// The grid's five columns with the widths the window was designed with.
std::vector<TGridColumn> DesignedGridColumns();

// Applies the layout lines read from source's position on to columns (see above).
void ApplyColumnLayout(TStream& source, std::vector<TGridColumn>& columns);
// The same on text in memory.
void ApplyColumnLayoutText(std::string_view text, std::vector<TGridColumn>& columns);
// Opens the file for reading with other readers and writers allowed and applies it; a file
// that is missing or cannot be opened changes nothing.
void LoadColumnLayout(const std::string& path, std::vector<TGridColumn>& columns);

// The file's text for columns.
std::string ColumnLayoutText(const std::vector<TGridColumn>& columns);
// Creates or overwrites the file with ColumnLayoutText(columns); see above for failures.
void WriteColumnLayout(const std::string& path, const std::vector<TGridColumn>& columns);

// The column widths after fitting the columns to the grid's client width. Columns 0 and 1 keep
// their widths, and so do hidden columns (-1). The visible columns from index 2 on share what
// is left of client_width -- less scroll_bar_width when no vertical scroll bar is shown, so that
// the columns still fit when one appears -- in proportion to their present widths (equally when
// those are all 0), none narrower than 15: a column whose share would be smaller gets 15 and the
// rest is shared again among the others. When even that does not fit, every such column gets
// 15 and the columns run past the client width. Rounding: each share is rounded down and the
// pixels left over go one each to the columns with the largest remainders (the leftmost first
// on a tie), so that the widths add up to the client width exactly whenever they can.
//   widths 10, 74, 62, 93, 64; client width 500, scroll bar shown: 416 pixels to share, exact
//   shares 117.77, 176.66, 121.57 -> 117, 176, 121 and 2 spare pixels for the two largest
//   remainders -> 10, 74, 118, 177, 121
// client_width is the room for the widths themselves; the caller takes off grid lines.
std::vector<int> FitColumnWidths(const std::vector<int>& widths, int client_width,
                                 bool scroll_bar_shown, int scroll_bar_width);

}  // namespace rb::live
