// Flat push buttons: white with a thin grey border, a light blue highlight under the mouse and
// a darker one while pressed, black caption whatever the desktop theme. The caption is 8-bit
// (Windows-1252) text taken as it is (no mnemonic: "&" shows). Clicks arrive through
// QPushButton::clicked.
//
// TFlatButton takes the focus like any button; TFlatSpeedButton never takes it, so clicking it
// leaves the focus where it was.
#pragma once

#include <QPushButton>
#include <string>

namespace rb::ui {

class TFlatButton : public QPushButton {
 public:
  explicit TFlatButton(const std::string& caption = {}, QWidget* parent = nullptr);

  void SetCaption(const std::string& caption);
};

class TFlatSpeedButton : public TFlatButton {
 public:
  explicit TFlatSpeedButton(const std::string& caption = {}, QWidget* parent = nullptr);
};

}  // namespace rb::ui
