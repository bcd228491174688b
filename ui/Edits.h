// The window's edits and combo box: plain Qt controls whose white field keeps black text under
// any desktop theme, read-only ones included.
#pragma once

#include <QComboBox>
#include <QLineEdit>

namespace rb::ui {

struct TEditOptions {
  bool read_only = false;
  bool bold = false;
};

class TEdit : public QLineEdit {
 public:
  explicit TEdit(QWidget* parent = nullptr, TEditOptions options = {});
};

class TComboBox : public QComboBox {
 public:
  explicit TComboBox(QWidget* parent = nullptr);
};

}  // namespace rb::ui
