#include "ui/DataGridModel.h"

#include <QBrush>
#include <algorithm>
#include <stdexcept>
#include <utility>

#include "ui/QtText.h"

namespace rb::ui {
namespace {

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

}  // namespace

TDataGridModel::TDataGridModel(QObject* parent) : QAbstractTableModel(parent) {}

int TDataGridModel::AddColumn(const TDataGridColumn& column) {
  const int col = ColumnCount();
  beginInsertColumns({}, col, col);
  // Rows that exist get an empty cell at their end.
  std::vector<TCellText> cells(static_cast<size_t>(data_rows_) * (columns_.size() + 1));
  for (size_t row = 0; row < static_cast<size_t>(data_rows_); ++row) {
    std::copy_n(cells_.begin() + static_cast<ptrdiff_t>(row * columns_.size()), columns_.size(),
                cells.begin() + static_cast<ptrdiff_t>(row * (columns_.size() + 1)));
  }
  cells_ = std::move(cells);
  columns_.push_back(column);
  endInsertColumns();
  return col;
}

void TDataGridModel::RemoveAllColumns() {
  if (columns_.empty()) return;
  beginRemoveColumns({}, 0, ColumnCount() - 1);
  columns_.clear();
  cells_.clear();
  text_.clear();
  stale_bytes_ = 0;
  endRemoveColumns();
}

const TDataGridColumn& TDataGridModel::Column(int col) const {
  return columns_.at(static_cast<size_t>(col));
}

int TDataGridModel::ColumnIndex(std::string_view field_name) const {
  for (int col = 0; col < ColumnCount(); ++col) {
    if (SameName(columns_[static_cast<size_t>(col)].field_name, field_name)) return col;
  }
  return -1;
}

void TDataGridModel::SetRowCount(int rows) {
  const int data_rows = std::max(rows, 1) - 1;
  if (data_rows == 0) {
    // The buffer keeps its storage for the next fill.
    text_.clear();
    stale_bytes_ = 0;
  } else {
    for (size_t i = static_cast<size_t>(data_rows) * columns_.size(); i < cells_.size(); ++i)
      stale_bytes_ += cells_[i].size;
  }
  cells_.resize(static_cast<size_t>(data_rows) * columns_.size());
  data_rows_ = data_rows;
  PackTextsIfStale();
  if (!Updating()) AnnounceRowCount();
}

// Brings the views from shown_rows_ to the present row count.
void TDataGridModel::AnnounceRowCount() {
  const int rows = RowCount() - 1;
  if (rows > shown_rows_) {
    beginInsertRows({}, shown_rows_, rows - 1);
    shown_rows_ = rows;
    endInsertRows();
  } else if (rows < shown_rows_) {
    beginRemoveRows({}, rows, shown_rows_ - 1);
    shown_rows_ = rows;
    endRemoveRows();
  }
}

std::string_view TDataGridModel::CellView(int col, int row) const {
  if (!ValidColumn(col) || row < 0 || row >= RowCount()) return {};
  if (row == 0) return columns_[static_cast<size_t>(col)].caption;
  const TCellText cell =
      cells_[static_cast<size_t>(row - 1) * columns_.size() + static_cast<size_t>(col)];
  return std::string_view(text_).substr(cell.offset, cell.size);
}

void TDataGridModel::SetCell(int col, int row, std::string_view text) {
  if (!ValidColumn(col) || row < 0 || row >= RowCount()) return;
  // Unchanged texts announce nothing: a cell painter may store what it shows on every paint.
  if (row == 0) {
    std::string& caption = columns_[static_cast<size_t>(col)].caption;
    if (caption == text) return;
    caption = text;
    if (Updating())
      captions_changed_ = true;
    else
      emit headerDataChanged(Qt::Horizontal, col, col);
    return;
  }
  TCellText* cell = &CellAt(col, row - 1);
  if (std::string_view(text_).substr(cell->offset, cell->size) == text) return;
  // A text taken from this very buffer would move when the buffer grows.
  std::string own;
  if (!text.empty() && text.data() >= text_.data() && text.data() < text_.data() + text_.size())
    text = own.assign(text);
  if (text.size() > UINT32_MAX - text_.size()) {
    PackTexts();
    if (text.size() > UINT32_MAX - text_.size()) throw std::length_error("grid texts too long");
  }
  if (text.size() <= cell->size) {
    text.copy(text_.data() + cell->offset, text.size());
    stale_bytes_ += cell->size - text.size();
  } else {
    stale_bytes_ += cell->size;
    cell->offset = static_cast<uint32_t>(text_.size());
    text_.append(text);
  }
  cell->size = static_cast<uint32_t>(text.size());
  PackTextsIfStale();
  if (Updating()) {
    cells_changed_ = true;
  } else {
    const QModelIndex cell = index(row - 1, col);
    emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::EditRole});
  }
}

void TDataGridModel::PackTextsIfStale() {
  if (stale_bytes_ > 4096 && stale_bytes_ > text_.size() / 2) PackTexts();
}

void TDataGridModel::PackTexts() {
  std::string packed;
  packed.reserve(text_.size() - stale_bytes_);
  for (TCellText& cell : cells_) {
    const uint32_t offset = static_cast<uint32_t>(packed.size());
    packed.append(text_, cell.offset, cell.size);
    cell.offset = offset;
  }
  text_ = std::move(packed);
  stale_bytes_ = 0;
}

void TDataGridModel::BeginUpdate() {
  ++update_depth_;
}

void TDataGridModel::EndUpdate() {
  if (update_depth_ == 0 || --update_depth_ > 0) return;
  const int kept_rows = std::min(shown_rows_, RowCount() - 1);
  AnnounceRowCount();
  if (std::exchange(cells_changed_, false) && kept_rows > 0 && ColumnCount() > 0)
    emit dataChanged(index(0, 0), index(kept_rows - 1, ColumnCount() - 1),
                     {Qt::DisplayRole, Qt::EditRole});
  if (std::exchange(captions_changed_, false) && ColumnCount() > 0)
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount() - 1);
}

void TDataGridModel::SetEditable(bool editable) {
  editable_ = editable;
}

bool TDataGridModel::CellEditable(int col, int row) const {
  return editable_ && ValidColumn(col) && row >= 1 && row < RowCount() &&
         !columns_[static_cast<size_t>(col)].read_only;
}

int TDataGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shown_rows_;
}

int TDataGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount();
}

QVariant TDataGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !ValidColumn(index.column())) return {};
  const TDataGridColumn& column = columns_[static_cast<size_t>(index.column())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return ToQString(CellView(index.column(), index.row() + 1));
    case Qt::FontRole:
      return column.font ? QVariant(*column.font) : QVariant();
    case Qt::ForegroundRole:
      return QBrush(column.color);
    default:
      return {};
  }
}

QVariant TDataGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || !ValidColumn(section))
    return QAbstractTableModel::headerData(section, orientation, role);
  const TDataGridColumn& column = columns_[static_cast<size_t>(section)];
  switch (role) {
    case Qt::DisplayRole:
      return ToQString(column.caption);
    case Qt::FontRole:
      return column.title_font ? QVariant(*column.title_font) : QVariant();
    case Qt::ForegroundRole:
      return QBrush(column.title_color);
    default:
      return {};
  }
}

Qt::ItemFlags TDataGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (CellEditable(index.column(), index.row() + 1)) flags |= Qt::ItemIsEditable;
  return flags;
}

bool TDataGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || !CellEditable(index.column(), index.row() + 1))
    return false;
  SetCell(index.column(), index.row() + 1, FromQString(value.toString()));
  return true;
}

}  // namespace rb::ui
