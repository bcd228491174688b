#include "ui/TextPopupMenu.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QWidgetAction>

#include "ui/DataGrid.h"
#include "ui/Fonts.h"
#include "ui/Palette.h"
#include "ui/QtText.h"

namespace rb::ui {
namespace {

// The edit a widget stands for: itself, or the edit of an editable combo box.
QLineEdit* AsEdit(QWidget* widget) {
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit;
  if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->lineEdit();
  return nullptr;
}

bool CanTarget(QWidget* widget) {
  return AsEdit(widget) != nullptr || qobject_cast<TDataGrid*>(widget) != nullptr;
}

bool ClipboardHasText() {
  const QClipboard* clipboard = QGuiApplication::clipboard();
  return clipboard != nullptr && !clipboard->text().isEmpty();
}

QWidgetAction* Banner(QMenu& menu) {
  auto* label = new QLabel(QStringLiteral("Text bearbeiten"));
  QFont bold = menu.font();
  bold.setBold(true);
  label->setFont(bold);
  label->setContentsMargins(6, 3, 6, 3);
  label->setAutoFillBackground(true);
  QPalette palette = BlackOnWhite(label->palette());
  palette.setColor(QPalette::Window, QColor(225, 225, 225));
  label->setPalette(palette);
  auto* banner = new QWidgetAction(&menu);
  banner->setDefaultWidget(label);  // the action owns the label
  return banner;
}

}  // namespace

TTextoxPopupMenu::TTextoxPopupMenu(QWidget* parent) : QMenu(parent) {
  SetBlackOnWhite(*this);
  QFont font = TahomaFont(12);
  font.setPointSize(9);
  setFont(font);

  addAction(Banner(*this));
  cut_ = addAction(QStringLiteral("Ausschneiden"), this, &TTextoxPopupMenu::Cut);
  copy_ = addAction(QStringLiteral("Kopieren"), this, &TTextoxPopupMenu::Copy);
  paste_ = addAction(QString::fromUtf8("Einfügen"), this, &TTextoxPopupMenu::Paste);
  addSeparator();
  select_all_ = addAction(QStringLiteral("Alles markieren"), this, &TTextoxPopupMenu::SelectAll);
  symbol_ = addAction(QString::fromUtf8("Symbol einfügen"));
  symbol_->setVisible(false);

  connect(this, &QMenu::aboutToShow, this, [this] { Prepare(opened_for_); });
}

void TTextoxPopupMenu::AttachTo(QWidget& widget) {
  widget.setContextMenuPolicy(Qt::CustomContextMenu);
  connect(&widget, &QWidget::customContextMenuRequested, this, [this, &widget](QPoint pos) {
    // A scroll area reports the position in its viewport.
    const auto* area = qobject_cast<QAbstractScrollArea*>(&widget);
    const QWidget* origin = area != nullptr ? area->viewport() : &widget;
    opened_for_ = &widget;
    popup(origin->mapToGlobal(pos));
  });
}

QWidget* TTextoxPopupMenu::Prepare(QWidget* opened_for) {
  opened_for_ = opened_for;  // kept for the menu's own call when it shows
  QWidget* focus = QApplication::focusWidget();
  target_ = CanTarget(focus) ? focus : CanTarget(opened_for) ? opened_for : nullptr;
  bool can_cut = false, can_copy = false, can_paste = false, can_select = false;
  if (QLineEdit* edit = AsEdit(target_)) {
    const bool writable = !edit->isReadOnly();
    const bool visible_text = edit->echoMode() == QLineEdit::Normal;
    can_cut = writable && visible_text && edit->hasSelectedText();
    can_copy = visible_text && edit->hasSelectedText();
    can_paste = writable && ClipboardHasText();
    can_select = !edit->text().isEmpty();
  } else if (auto* grid = qobject_cast<TDataGrid*>(target_)) {
    const bool editable = grid->CellEditable(grid->CurrentColumn(), grid->CurrentRow());
    can_copy = grid->CurrentRow() >= 1 || grid->selectionModel()->hasSelection();
    can_cut = editable && !grid->Cell(grid->CurrentColumn(), grid->CurrentRow()).empty();
    can_paste = editable && ClipboardHasText();
    can_select = grid->RowCount() > 1;
  }
  cut_->setEnabled(can_cut);
  copy_->setEnabled(can_copy);
  paste_->setEnabled(can_paste);
  select_all_->setEnabled(can_select);
  return target_;
}

void TTextoxPopupMenu::Cut() {
  if (QLineEdit* edit = AsEdit(target_)) {
    edit->cut();
  } else if (auto* grid = qobject_cast<TDataGrid*>(target_)) {
    const int col = grid->CurrentColumn();
    const int row = grid->CurrentRow();
    if (!grid->CellEditable(col, row)) return;
    QGuiApplication::clipboard()->setText(ToQString(grid->Cell(col, row)));
    grid->SetCell(col, row, "");
  }
}

void TTextoxPopupMenu::Copy() {
  if (QLineEdit* edit = AsEdit(target_)) {
    edit->copy();
  } else if (auto* grid = qobject_cast<TDataGrid*>(target_)) {
    QGuiApplication::clipboard()->setText(ToQString(grid->SelectedText()));
  }
}

void TTextoxPopupMenu::Paste() {
  if (QLineEdit* edit = AsEdit(target_)) {
    edit->paste();
  } else if (auto* grid = qobject_cast<TDataGrid*>(target_)) {
    const int col = grid->CurrentColumn();
    const int row = grid->CurrentRow();
    if (!grid->CellEditable(col, row)) return;
    grid->SetCell(col, row, FromQString(QGuiApplication::clipboard()->text()));
  }
}

void TTextoxPopupMenu::SelectAll() {
  if (QLineEdit* edit = AsEdit(target_)) {
    edit->selectAll();
  } else if (auto* grid = qobject_cast<TDataGrid*>(target_)) {
    grid->selectAll();
  }
}

}  // namespace rb::ui
