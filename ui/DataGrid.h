// TDataGrid: the positions grid. A QTableView over its own TDataGridModel, shown the way the
// window's rules expect: grid row 0 is the header (the horizontal header; the vertical one is
// hidden), grid rows 1 .. RowCount()-1 are the data rows; cells are 8-bit texts.
//
// Defaults: rows and the header 19 pixels high (18 of cell and the grid line), no frame, at
// least 100 pixels high, Tahoma 12 px, grid lines, black text on white whatever the desktop
// theme. Cells of columns that are not read-only can be edited until SetFixedMode.
//
// Painting: with a cell painter set (SetDrawCellHook), every data cell outside column 0 and
// every header cell of column 1 or later is painted by it alone; column 0 and everything
// without a painter is Qt's own drawing. The hook gets a QPainter set to the column's font and
// text colour (the title font and colour for a header cell), the column, the grid row, the
// cell rectangle (in the viewport's or the header's coordinates, without the grid line) and the
// cell's state. Grid lines are drawn before the cells, so a hook may draw over them (a fill one
// pixel past the cell, a frame). It may store a text with SetCell while painting: an unchanged
// text announces nothing, so that does not paint again without end.
//
// GUI thread only. The grid owns its model, delegate and header.
#pragma once

#include <QColor>
#include <QTableView>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "ui/DataGridModel.h"

class QPainter;

namespace rb::ui {

struct TDrawCellState {
  bool selected = false;
  bool focused = false;
  bool fixed = false;  // a header cell
};

using TDrawCellHook = std::function<void(QPainter& painter, int col, int row, const QRect& rect,
                                         const TDrawCellState& state)>;

class TDataGrid : public QTableView {
  Q_OBJECT

 public:
  static constexpr int kDefaultRowHeight = 19;

  explicit TDataGrid(QWidget* parent = nullptr);

  // Columns. A width of -1 hides a column (ColumnWidth then gives -1). Column(col).width is
  // the width the column was added with, ColumnWidth(col) the present one. Column REQUIRES
  // 0 <= col < ColumnCount(); the others ignore other columns (ColumnWidth gives 0).
  int AddColumn(const TDataGridColumn& column);
  void RemoveAllColumns();
  int ColumnCount() const { return model_->ColumnCount(); }
  int ColumnIndex(std::string_view field_name) const { return model_->ColumnIndex(field_name); }
  const TDataGridColumn& Column(int col) const { return model_->Column(col); }
  int ColumnWidth(int col) const;
  void SetColumnWidth(int col, int width);

  // Rows and cells, in grid rows. A cell outside the grid or of an unknown field name reads ""
  // and ignores writes.
  int RowCount() const { return model_->RowCount(); }
  void SetRowCount(int rows) { model_->SetRowCount(rows); }
  void ClearRows() { model_->SetRowCount(1); }
  std::string Cell(int col, int row) const { return model_->Cell(col, row); }
  void SetCell(int col, int row, std::string_view text) { model_->SetCell(col, row, text); }
  std::string Cell(std::string_view field_name, int row) const;
  void SetCell(std::string_view field_name, int row, std::string_view text);

  // Batches cell and row changes (calls nest); painting is suspended meanwhile.
  void BeginUpdate();
  void EndUpdate();

  // After loading: an open editor is committed and closed, editing is off, rows cannot be
  // moved nor columns sized; rows can still be sized.
  void SetFixedMode();
  bool FixedMode() const { return fixed_mode_; }
  // A cell editor is open.
  bool Editing() const { return state() == QAbstractItemView::EditingState; }

  // The current cell in grid rows; -1, -1 when there is none.
  int CurrentColumn() const;
  int CurrentRow() const;
  void SetCurrentCell(int col, int row);
  bool CellEditable(int col, int row) const { return model_->CellEditable(col, row); }
  // The texts of the selected cells, a tab between columns and a line feed between rows.
  std::string SelectedText() const;

  // What the window's plain code needs to fit the columns: the width inside the frame less a
  // vertical scroll bar, whether the rows need one at the present size, and its width.
  int ClientWidth() const;
  bool VerticalScrollBarShown() const;
  int ScrollBarWidth() const;

  void SetDrawCellHook(TDrawCellHook hook);
  const TDrawCellHook& DrawCellHook() const { return draw_cell_; }
  // Called after every resize of the grid.
  void SetResizeHandler(std::function<void()> handler) { on_resize_ = std::move(handler); }

  static QColor GridLineColor() { return QColor(192, 192, 192); }

 signals:
  // The current cell changed (grid row); every cell may be selected.
  void CellSelected(int col, int row);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PaintGridLines(const QRect& area);
  void OnCurrentChanged(const QModelIndex& current);

  TDataGridModel* model_;  // owned by this widget
  TDrawCellHook draw_cell_;
  std::function<void()> on_resize_;
  class TDelegate;
  TDelegate* delegate_;  // owned by this widget
  int update_depth_ = 0;
  bool fixed_mode_ = false;
};

}  // namespace rb::ui
