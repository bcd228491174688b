#include "ui/HTMLabel.h"

#include "ui/Fonts.h"
#include "ui/QtText.h"

namespace rb::ui {

THTMLabel::THTMLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::RichText);
  setFont(TahomaFont(11));
  QPalette grey = palette();
  for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    grey.setColor(group, QPalette::WindowText, QColor(128, 128, 128));
  setPalette(grey);
}

THTMLabel::THTMLabel(const std::string& html, QWidget* parent) : THTMLabel(parent) {
  SetHTMLText(html);
}

void THTMLabel::SetHTMLText(const std::string& html) {
  setText(ToQString(html));
  adjustSize();
}

}  // namespace rb::ui
