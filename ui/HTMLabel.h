// THTMLabel: a label for the window's short HTML texts, in which bold tags (<B>, <b>) and line
// breaks (<br>) render; grey Tahoma 11 px on whatever lies behind it. The text is 8-bit
// (Windows-1252) and taken as HTML, so "<" and "&" in it are markup. The label sizes itself to
// its text.
#pragma once

#include <QLabel>
#include <string>

namespace rb::ui {

class THTMLabel : public QLabel {
 public:
  explicit THTMLabel(QWidget* parent = nullptr);
  THTMLabel(const std::string& html, QWidget* parent);

  void SetHTMLText(const std::string& html);
};

}  // namespace rb::ui
