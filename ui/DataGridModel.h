// The storage behind TDataGrid: its columns and the 8-bit texts of its cells, offered to Qt's
// views as a table model. No object per cell: the texts lie one after another in one buffer and
// a cell is a place in it, so a row costs its texts and eight bytes per column, and filling the
// grid allocates nothing per cell. A changed text goes to the end of the buffer (or over the old
// one where it fits); the buffer is packed again once most of it is stale.
//
// Rows are addressed as the user sees them (grid rows): row 0 is the header, whose cells are
// the column captions; rows 1 .. RowCount()-1 hold data and are the model's rows 0 ... Columns
// are found by field name without regard to ASCII case. Cells outside the grid read as "" and
// ignore writes.
//
// Batching: between BeginUpdate and EndUpdate (calls nest; only the outermost pair counts) the
// model emits nothing for cell or row-count changes and keeps reporting its earlier row count
// to the views; the outermost EndUpdate then announces the rows added or removed and one
// dataChanged over the rows that stayed. Outside a batch every change is announced at once.
//
// Texts go to Qt through ToQString; edits come back through FromQString. GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rb::ui {

struct TDataGridColumn {
  std::string field_name{};
  std::string caption{};
  int width = 64;                     // pixels, as added; -1 adds a hidden column
  std::optional<QFont> font{};        // of the cells; none: the grid's font
  std::optional<QFont> title_font{};  // of the header cell; none: the grid's font
  QColor color = Qt::black;           // text of the cells
  QColor title_color = Qt::black;     // text of the header cell
  bool read_only = false;
  bool internal = false;  // a column of the grid's own, not one of the data's fields
  bool limited_to_list = false;
};

class TDataGridModel : public QAbstractTableModel {
 public:
  explicit TDataGridModel(QObject* parent = nullptr);

  int AddColumn(const TDataGridColumn& column);
  void RemoveAllColumns();
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  // REQUIRES: 0 <= col < ColumnCount().
  const TDataGridColumn& Column(int col) const;
  int ColumnIndex(std::string_view field_name) const;  // -1 when none

  int RowCount() const { return data_rows_ + 1; }
  void SetRowCount(int rows);  // below 1 counts as 1; rows that stay keep their cells
  std::string Cell(int col, int row) const { return std::string(CellView(col, row)); }
  // Valid until the next change of cells, rows or columns.
  std::string_view CellView(int col, int row) const;
  void SetCell(int col, int row, std::string_view text);

  void BeginUpdate();
  void EndUpdate();
  bool Updating() const { return update_depth_ > 0; }

  // Whether cells of columns that are not read-only may be edited.
  void SetEditable(bool editable);
  bool CellEditable(int col, int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 private:
  // A cell's text: size bytes of text_ from offset.
  struct TCellText {
    uint32_t offset = 0;
    uint32_t size = 0;
  };

  bool ValidColumn(int col) const { return col >= 0 && col < ColumnCount(); }
  void AnnounceRowCount();
  TCellText& CellAt(int col, int data_row) {
    return cells_[static_cast<size_t>(data_row) * columns_.size() + static_cast<size_t>(col)];
  }
  // Drops what no cell refers to once it is more than half of text_.
  void PackTextsIfStale();
  void PackTexts();

  std::vector<TDataGridColumn> columns_;
  int data_rows_ = 0;
  std::vector<TCellText> cells_;  // data_rows_ rows of ColumnCount() cells each
  std::string text_;              // the cells' texts
  size_t stale_bytes_ = 0;        // bytes of text_ that no cell refers to
  int shown_rows_ = 0;            // the data rows the views know of
  int update_depth_ = 0;
  bool cells_changed_ = false;
  bool captions_changed_ = false;
  bool editable_ = true;
};

}  // namespace rb::ui
