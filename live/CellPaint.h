// How one cell of the positions grid looks, decided without a canvas: DGDrawCell takes the
// cell's place and content and returns what to paint, and the window's painter carries it out
// in this order: fill, text, focus rectangle or cell lines, red frame.
//
// Rows count as the user sees them (row 0 the header, N rows in all, C columns). The last two
// rows are the ones being checked: they are highlighted, and the last cell of the last row
// shows whether the deduction line's price is what the deduction should be.
//
//   header (row 0, column >= 1)   tooltip background, black caption 2 px in, word wrap,
//                                 a line one pixel above the bottom edge
//   data row                      white; rows N-2 and N-1 yellow (255, 225, 121), filled one
//                                 pixel further down; the text 2 px in, one line, cut with an
//                                 ellipsis; a focus rectangle round the text, or else three
//                                 cell lines in the current pen
//   status (row N-1, column C-1)  "OK" when the row's "PRICE" text is FormatAmount of the
//                                 negated DeductionTarget, else "Fehler!" white on pure red;
//                                 the status is stored into the cell when the cell differs
//   red frame (pen 5 px)          round rows N-2 and N-1, or only round row N-1 (without its
//                                 top edge) when earlier invoices were found
//   column 0, top-left cell       left to the grid's own drawing
//
// Example: N = 5, C = 5, DeductionTarget 300, row 4's PRICE "-300,00", column 4, rect
// 300, 80, 364, 99 -> yellow fill 300, 80, 364, 100; text "OK" at 302, 82, 364, 99; cell lines;
// frame: bottom 10, 98 -> 362, 98 and right 362, 80 -> 362, 99 (client left 0, column 0 10 px).
//
// Coordinates are the grid's client pixels. Rectangles are half-open (live/Geometry.h). A line
// runs from its first point to its second, the second point itself not drawn (MoveTo/LineTo).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "live/Geometry.h"

namespace rb::live {

struct TRgb {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  friend bool operator==(const TRgb&, const TRgb&) = default;
};

inline constexpr TRgb kWhite{255, 255, 255};
inline constexpr TRgb kBlack{0, 0, 0};
inline constexpr TRgb kPureRed{255, 0, 0};
inline constexpr TRgb kCheckedRowYellow{255, 225, 121};

struct TLine {
  int x1 = 0;
  int y1 = 0;
  int x2 = 0;
  int y2 = 0;
  friend bool operator==(const TLine&, const TLine&) = default;
};

struct TCellPaintInput {
  int col = 0;
  int row = 0;
  int row_count = 0;  // N, the header row included
  int col_count = 0;  // C, column 0 included
  TRect rect;         // the cell's rectangle as the grid gives it
  bool focused = false;
  int client_left = 0;    // the grid's client area's left edge
  int column0_width = 0;  // the width of column 0
  int default_row_height = 19;
  std::string cell_text;   // the text stored in this cell
  std::string price_text;  // the text of row N-1's "PRICE" cell
  std::string caption;     // the column's caption, for header cells
  double deduction_target = 0;
  double previous_invoices_sum = 0;
};

struct TCellPaint {
  // Column 0 and the top-left cell: the grid draws them itself and nothing below applies.
  bool leave_to_grid = false;

  // Fill fill_rect with the system's tooltip background when tooltip_background is set, else
  // with background.
  bool tooltip_background = false;
  TRgb background = kWhite;
  TRect fill_rect;

  // The text colour; none keeps the colour of the column's font (the canvas arrives with it).
  std::optional<TRgb> text_color;
  std::string text;
  TRect text_rect;
  bool word_wrap = false;  // else one line, cut with an ellipsis at the end when too long
  // Drawn transparently and without ampersand processing in either case.

  // The text to store into the cell before painting, when it differs from the stored one.
  std::optional<std::string> store_text;

  // Either a focus rectangle round text_rect, or these lines in the current pen.
  bool focus_rect = false;
  std::vector<TLine> lines;

  // In a red pen 5 pixels wide; afterwards the pen's colour is restored and its width set to 1.
  std::vector<TLine> frame;
};

TCellPaint DGDrawCell(const TCellPaintInput& cell);

}  // namespace rb::live
