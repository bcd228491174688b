#include "ui/Palette.h"

#include <QWidget>

namespace rb::ui {

QPalette BlackOnWhite(QPalette palette) {
  const QColor white(Qt::white);
  const QColor black(Qt::black);
  const QColor grey(120, 120, 120);
  const QColor button(240, 240, 240);
  const QColor tooltip(255, 255, 225);
  for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    const bool disabled = group == QPalette::Disabled;
    for (const auto role : {QPalette::Window, QPalette::Base, QPalette::AlternateBase})
      palette.setColor(group, role, white);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
      palette.setColor(group, role, disabled ? grey : black);
    palette.setColor(group, QPalette::Button, button);
    palette.setColor(group, QPalette::PlaceholderText, grey);
    palette.setColor(group, QPalette::ToolTipBase, tooltip);
    palette.setColor(group, QPalette::ToolTipText, black);
  }
  return palette;
}

void SetBlackOnWhite(QWidget& widget, bool fill_background) {
  widget.setPalette(BlackOnWhite(widget.palette()));
  if (fill_background) widget.setAutoFillBackground(true);
}

}  // namespace rb::ui
