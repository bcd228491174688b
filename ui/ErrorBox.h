// The general error display: a modal message box with the error icon, the caption, the text
// (plain, not HTML) and one OK button. Returns when the box is closed. GUI thread only.
#pragma once

#include <QString>

class QWidget;

namespace rb::ui {

void ShowErrorBox(QWidget* parent, const QString& caption, const QString& text);

}  // namespace rb::ui
