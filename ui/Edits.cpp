#include "ui/Edits.h"

#include "ui/Palette.h"

namespace rb::ui {

TEdit::TEdit(QWidget* parent, TEditOptions options) : QLineEdit(parent) {
  SetBlackOnWhite(*this);
  setReadOnly(options.read_only);
  if (options.bold) {
    // Only the weight is set here; family and size still come from the window.
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
  }
}

TComboBox::TComboBox(QWidget* parent) : QComboBox(parent) {
  SetBlackOnWhite(*this);
}

}  // namespace rb::ui
