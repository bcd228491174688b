// The information box: a modal dialog, black text on white whatever the desktop theme, kept on
// top of other windows, with a caption, an HTML text (bold tags, line breaks) and one button
// "Schließen". It opens centred on the monitor of its parent (the primary monitor without one)
// and lies fully inside that monitor's available area; a text too large for it scrolls.
//
// The HTML comes prepared (line breaks as <br>, long texts already cut). ShowInfoBox returns
// when the box is closed. GUI thread only.
#pragma once

#include <QDialog>
#include <QRect>
#include <QSize>
#include <QString>

class QLabel;
class QPushButton;

namespace rb::ui {

void ShowInfoBox(QWidget* parent, const QString& caption, const QString& html);

class TInfoBox : public QDialog {
 public:
  TInfoBox(QWidget* parent, const QString& caption, const QString& html);

  QLabel& Text() const { return *text_; }
  QPushButton& CloseButton() const { return *close_; }

 private:
  void PlaceOnMonitor();

  QLabel* text_;
  QPushButton* close_;
};

// The rectangle of the given size centred in area; a size larger than area is cut to it.
QRect CentredInside(QSize size, const QRect& area);

}  // namespace rb::ui
