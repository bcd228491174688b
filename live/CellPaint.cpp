#include "live/CellPaint.h"

#include "util/Numbers.h"

namespace rb::live {

namespace {

constexpr int kTextInset = 2;

TRect TextRect(const TRect& cell) {
  return {cell.left + kTextInset, cell.top + kTextInset, cell.right, cell.bottom};
}

TCellPaint HeaderCell(const TCellPaintInput& in) {
  TCellPaint paint;
  paint.tooltip_background = true;
  paint.fill_rect = in.rect;
  paint.text_color = kBlack;
  paint.text = in.caption;
  paint.text_rect = TextRect(in.rect);
  paint.word_wrap = true;
  paint.lines.push_back({in.rect.left, in.rect.bottom - 1, in.rect.right, in.rect.bottom - 1});
  return paint;
}

// The red frame round the checked rows. Each cell draws only its own pieces, but the pieces
// of the last column start at the band's left end, so that the edges run unbroken across the
// middle columns once the row has been painted from left to right.
void AddFrame(const TCellPaintInput& in, const TRect& cell, TCellPaint& paint) {
  const int n = in.row_count;
  const int last_col = in.col_count - 1;
  const int left = in.client_left + in.column0_width;
  const int right = cell.right - 2;
  const int top = cell.top;
  const int bottom = cell.top + in.default_row_height;
  const TLine left_edge{left, top, left, bottom};
  const TLine right_edge{right, top, right, bottom};

  // With earlier invoices the deduction comes from them, and the row before the deduction line
  // is not part of the check.
  if (in.row == n - 2 && in.previous_invoices_sum == 0) {
    if (in.col == 1) {
      paint.frame.push_back(left_edge);
      paint.frame.push_back({left, top, right, top});
    }
    if (in.col == last_col) {
      paint.frame.push_back({left, top, right, top});
      paint.frame.push_back(right_edge);
    }
  }
  if (in.row == n - 1) {
    if (in.col == 1) {
      paint.frame.push_back(left_edge);
      paint.frame.push_back({left, bottom, right, bottom});
    }
    if (in.col == last_col) {
      paint.frame.push_back({left, bottom - 1, right, bottom - 1});
      paint.frame.push_back(right_edge);
    }
  }
}

TCellPaint DataCell(const TCellPaintInput& in) {
  TCellPaint paint;
  // Rows that the grid has made taller (row sizing is on) are drawn at the default height.
  TRect cell = in.rect;
  cell.bottom = cell.top + in.default_row_height;

  const bool checked_row = in.row >= in.row_count - 2;
  paint.background = checked_row ? kCheckedRowYellow : kWhite;
  paint.fill_rect = cell;
  if (checked_row) ++paint.fill_rect.bottom;

  paint.text = in.cell_text;
  if (in.row == in.row_count - 1 && in.col == in.col_count - 1) {
    const bool ok = in.price_text == FormatAmount(-in.deduction_target);
    const std::string status = ok ? "OK" : "Fehler!";
    if (!ok) {
      paint.background = kPureRed;
      paint.text_color = kWhite;
    }
    if (in.cell_text != status) paint.store_text = status;
    paint.text = status;
  }
  paint.text_rect = TextRect(cell);

  if (in.focused) {
    paint.focus_rect = true;
  } else {
    paint.lines.push_back({cell.left, cell.bottom - 1, cell.right, cell.bottom - 1});
    paint.lines.push_back({cell.left - 2, cell.top, cell.left - 2, cell.bottom});
    paint.lines.push_back({cell.right, cell.top, cell.right, cell.bottom});
  }
  AddFrame(in, cell, paint);
  return paint;
}

}  // namespace

TCellPaint DGDrawCell(const TCellPaintInput& cell) {
  if (cell.col < 1 || cell.row < 0) {
    TCellPaint paint;
    paint.leave_to_grid = true;
    return paint;
  }
  return cell.row == 0 ? HeaderCell(cell) : DataCell(cell);
}

}  // namespace rb::live
