#include "ui/FlatButton.h"

#include "ui/QtText.h"

namespace rb::ui {
namespace {

const char kFlatStyle[] =
    "QPushButton { background: white; color: black; border: 1px solid #a0a0a0; padding: 0 4px; }"
    "QPushButton:hover { background: #e5f1fb; border-color: #3c7fb1; }"
    "QPushButton:pressed { background: #cce4f7; border-color: #2c628b; }"
    "QPushButton:focus { border-color: #3c7fb1; }"
    "QPushButton:disabled { color: #a0a0a0; }";

// "&" in a caption is a character, not a mnemonic marker.
QString Caption(const std::string& caption) {
  return ToQString(caption).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

TFlatButton::TFlatButton(const std::string& caption, QWidget* parent)
    : QPushButton(Caption(caption), parent) {
  setFlat(true);
  setStyleSheet(QString::fromLatin1(kFlatStyle));
  setFocusPolicy(Qt::StrongFocus);
}

void TFlatButton::SetCaption(const std::string& caption) {
  setText(Caption(caption));
}

TFlatSpeedButton::TFlatSpeedButton(const std::string& caption, QWidget* parent)
    : TFlatButton(caption, parent) {
  setFocusPolicy(Qt::NoFocus);
}

}  // namespace rb::ui
