#include "ui/ErrorBox.h"

#include <QMessageBox>

namespace rb::ui {

void ShowErrorBox(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace rb::ui
