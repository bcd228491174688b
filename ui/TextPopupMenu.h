// TTextoxPopupMenu: the "Text bearbeiten" context menu of the grid (and of any edit it is
// attached to): a bold banner, "Ausschneiden", "Kopieren", "Einfügen", a separator,
// "Alles markieren" and the hidden "Symbol einfügen". Tahoma 9 pt, black on white.
//
// The items act on the control chosen when the menu opens: the focused edit (a QLineEdit, the
// edit of an editable QComboBox, or an open cell editor of the grid) or grid; failing that, the
// control the menu was opened for. On an edit they cut, copy, paste and select as the edit's own
// commands do, respecting read-only. On the grid "Kopieren" copies the selected cells (the
// current cell when none is selected); "Ausschneiden" and "Einfügen" work on the current cell
// and only where it may be edited, otherwise they are disabled; "Alles markieren" selects the
// whole grid. Items that cannot act are disabled. GUI thread only.
#pragma once

#include <QMenu>
#include <QPointer>

namespace rb::ui {

class TTextoxPopupMenu : public QMenu {
 public:
  explicit TTextoxPopupMenu(QWidget* parent = nullptr);

  // Shows this menu on the widget's context-menu requests (right click, menu key).
  // REQUIRES: widget outlives its requests (a child of the window, like the menu).
  void AttachTo(QWidget& widget);

  // Chooses the control the items act on and enables what can act on it; runs again when the
  // menu shows, with the same opened_for. Returns the control, or nullptr when there is none.
  QWidget* Prepare(QWidget* opened_for);

  QAction& CutAction() const { return *cut_; }
  QAction& CopyAction() const { return *copy_; }
  QAction& PasteAction() const { return *paste_; }
  QAction& SelectAllAction() const { return *select_all_; }
  QAction& SymbolAction() const { return *symbol_; }

 private:
  void Cut();
  void Copy();
  void Paste();
  void SelectAll();

  QAction* cut_;
  QAction* copy_;
  QAction* paste_;
  QAction* select_all_;
  QAction* symbol_;
  QPointer<QWidget> opened_for_;
  QPointer<QWidget> target_;
};

}  // namespace rb::ui
