#include "ui/DataGrid.h"

#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <map>
#include <utility>

#include "ui/Fonts.h"
#include "ui/Palette.h"

namespace rb::ui {
namespace {

// The cell without the grid line along its right and bottom edges.
QRect WithoutGridLine(const QRect& rect) {
  return rect.adjusted(0, 0, -1, -1);
}

// Header cells of column 1 on are the cell painter's; column 0 is Qt's.
class THeader : public QHeaderView {
 public:
  explicit THeader(TDataGrid& grid) : QHeaderView(Qt::Horizontal, &grid), grid_(grid) {}

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int section) const override {
    const TDrawCellHook& hook = grid_.DrawCellHook();
    if (!hook || section < 1 || section >= grid_.ColumnCount()) {
      QHeaderView::paintSection(painter, rect, section);
      return;
    }
    painter->save();
    painter->setPen(TDataGrid::GridLineColor());
    painter->drawLine(rect.topRight(), rect.bottomRight());
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());
    const TDataGridColumn& column = grid_.Column(section);
    painter->setFont(column.title_font.value_or(font()));
    painter->setPen(column.title_color);
    hook(*painter, section, 0, WithoutGridLine(rect), TDrawCellState{false, false, true});
    painter->restore();
  }

 private:
  const TDataGrid& grid_;
};

}  // namespace

// Data cells outside column 0 are the cell painter's; the rest is Qt's. Remembers the editor it
// made, so that fixed mode can commit and close it.
class TDataGrid::TDelegate : public QStyledItemDelegate {
 public:
  explicit TDelegate(TDataGrid& grid) : QStyledItemDelegate(&grid), grid_(grid) {}

  QWidget* ActiveEditor() const { return editor_; }

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    editor_ = QStyledItemDelegate::createEditor(parent, option, index);
    return editor_;
  }

  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const override {
    QStyleOptionViewItem cell(option);
    cell.rect = WithoutGridLine(option.rect);
    QStyledItemDelegate::updateEditorGeometry(editor, cell, index);
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem cell(option);
    cell.rect = WithoutGridLine(option.rect);
    const TDrawCellHook& hook = grid_.DrawCellHook();
    if (!hook || index.column() < 1) {
      QStyledItemDelegate::paint(painter, cell, index);
      return;
    }
    const TDataGridColumn& column = grid_.Column(index.column());
    const TDrawCellState state{option.state.testFlag(QStyle::State_Selected),
                               option.state.testFlag(QStyle::State_HasFocus), false};
    painter->save();
    painter->setFont(column.font.value_or(grid_.font()));
    painter->setPen(column.color);
    hook(*painter, index.column(), index.row() + 1, cell.rect, state);
    painter->restore();
  }

 private:
  const TDataGrid& grid_;
  mutable QPointer<QWidget> editor_;
};

TDataGrid::TDataGrid(QWidget* parent)
    : QTableView(parent), model_(new TDataGridModel(this)), delegate_(new TDelegate(*this)) {
  setHorizontalHeader(new THeader(*this));
  setModel(model_);
  setItemDelegate(delegate_);

  SetBlackOnWhite(*this);
  setFont(TahomaFont(12));
  setFrameShape(QFrame::NoFrame);
  setMinimumHeight(100);
  // Our own grid lines, drawn before the cells (see paintEvent); the cells leave room for them.
  setShowGrid(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);

  QHeaderView* rows = verticalHeader();
  rows->hide();
  rows->setMinimumSectionSize(1);
  rows->setDefaultSectionSize(kDefaultRowHeight);
  rows->setSectionResizeMode(QHeaderView::Interactive);

  QHeaderView* header = horizontalHeader();
  header->setMinimumSectionSize(1);
  header->setFixedHeight(kDefaultRowHeight);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setSectionsClickable(false);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setSectionResizeMode(QHeaderView::Interactive);

  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          &TDataGrid::OnCurrentChanged);
}

int TDataGrid::AddColumn(const TDataGridColumn& column) {
  const int col = model_->AddColumn(column);
  SetColumnWidth(col, column.width);
  return col;
}

void TDataGrid::RemoveAllColumns() {
  model_->RemoveAllColumns();
}

int TDataGrid::ColumnWidth(int col) const {
  if (col < 0 || col >= ColumnCount()) return 0;
  return isColumnHidden(col) ? -1 : columnWidth(col);
}

void TDataGrid::SetColumnWidth(int col, int width) {
  if (col < 0 || col >= ColumnCount()) return;
  if (width < 0) {
    setColumnHidden(col, true);
    return;
  }
  setColumnHidden(col, false);
  setColumnWidth(col, width);
}

std::string TDataGrid::Cell(std::string_view field_name, int row) const {
  const int col = ColumnIndex(field_name);
  return col < 0 ? std::string() : Cell(col, row);
}

void TDataGrid::SetCell(std::string_view field_name, int row, std::string_view text) {
  const int col = ColumnIndex(field_name);
  if (col >= 0) SetCell(col, row, text);
}

void TDataGrid::BeginUpdate() {
  if (update_depth_++ == 0) setUpdatesEnabled(false);
  model_->BeginUpdate();
}

void TDataGrid::EndUpdate() {
  if (update_depth_ == 0) return;
  model_->EndUpdate();
  if (--update_depth_ == 0) setUpdatesEnabled(true);
}

void TDataGrid::SetFixedMode() {
  if (state() == QAbstractItemView::EditingState) {
    if (QWidget* editor = delegate_->ActiveEditor()) {
      commitData(editor);
      closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
  }
  model_->SetEditable(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setDragDropMode(QAbstractItemView::NoDragDrop);
  verticalHeader()->setSectionsMovable(false);
  horizontalHeader()->setSectionsMovable(false);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  fixed_mode_ = true;
}

int TDataGrid::CurrentColumn() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? current.column() : -1;
}

int TDataGrid::CurrentRow() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? current.row() + 1 : -1;
}

void TDataGrid::SetCurrentCell(int col, int row) {
  const QModelIndex cell = model_->index(row - 1, col);
  if (cell.isValid()) setCurrentIndex(cell);
}

std::string TDataGrid::SelectedText() const {
  std::map<int, std::map<int, std::string>> rows;  // sorted by row, then column
  for (const QModelIndex& cell : selectionModel()->selectedIndexes())
    rows[cell.row()][cell.column()] = Cell(cell.column(), cell.row() + 1);
  if (rows.empty()) return Cell(CurrentColumn(), CurrentRow());
  std::string text;
  for (const auto& [row, cells] : rows) {
    if (!text.empty()) text += '\n';
    bool first = true;
    for (const auto& [col, cell] : cells) {
      if (!std::exchange(first, false)) text += '\t';
      text += cell;
    }
  }
  return text;
}

// Worked out from the sizes rather than read from the scroll bar, which Qt shows or hides
// only once the event loop has run after a change of rows or size.
int TDataGrid::ClientWidth() const {
  return width() - 2 * frameWidth() - (VerticalScrollBarShown() ? ScrollBarWidth() : 0);
}

bool TDataGrid::VerticalScrollBarShown() const {
  if (verticalScrollBarPolicy() != Qt::ScrollBarAsNeeded)
    return verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn;
  const int header = horizontalHeader()->isHidden() ? 0 : horizontalHeader()->height();
  const int rows_height = verticalHeader()->length();
  const int room_height = height() - 2 * frameWidth() - header;
  if (rows_height > room_height) return true;
  // A horizontal scroll bar takes room from the rows too.
  const bool horizontal = horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn ||
                          (horizontalScrollBarPolicy() == Qt::ScrollBarAsNeeded &&
                           horizontalHeader()->length() > width() - 2 * frameWidth());
  return horizontal && rows_height > room_height - ScrollBarWidth();
}

int TDataGrid::ScrollBarWidth() const {
  return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
}

void TDataGrid::SetDrawCellHook(TDrawCellHook hook) {
  draw_cell_ = std::move(hook);
  viewport()->update();
  horizontalHeader()->viewport()->update();
}

void TDataGrid::paintEvent(QPaintEvent* event) {
  PaintGridLines(event->rect());
  QTableView::paintEvent(event);
}

void TDataGrid::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  if (on_resize_) on_resize_();
}

// A line along the right edge of every column and the bottom edge of every row, as far as the
// cells reach.
void TDataGrid::PaintGridLines(const QRect& area) {
  const int rows = model_->rowCount();
  const int cols = model_->columnCount();
  if (rows == 0 || cols == 0) return;
  const int cells_right = horizontalHeader()->length() - horizontalOffset() - 1;
  const int cells_bottom = verticalHeader()->length() - verticalOffset() - 1;
  const int right = std::min(area.right(), cells_right);
  const int bottom = std::min(area.bottom(), cells_bottom);
  if (right < area.left() || bottom < area.top()) return;

  QPainter painter(viewport());
  painter.setPen(GridLineColor());
  const int first_row = std::max(rowAt(area.top()), 0);
  const int last_row = rowAt(bottom) < 0 ? rows - 1 : rowAt(bottom);
  for (int row = first_row; row <= last_row; ++row) {
    const int y = rowViewportPosition(row) + rowHeight(row) - 1;
    painter.drawLine(area.left(), y, right, y);
  }
  const int first_col = std::max(columnAt(area.left()), 0);
  const int last_col = columnAt(right) < 0 ? cols - 1 : columnAt(right);
  for (int col = first_col; col <= last_col; ++col) {
    if (isColumnHidden(col)) continue;
    const int x = columnViewportPosition(col) + columnWidth(col) - 1;
    painter.drawLine(x, area.top(), x, bottom);
  }
}

void TDataGrid::OnCurrentChanged(const QModelIndex& current) {
  if (current.isValid()) emit CellSelected(current.column(), current.row() + 1);
}

}  // namespace rb::ui
