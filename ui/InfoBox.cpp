#include "ui/InfoBox.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ui/Fonts.h"
#include "ui/Palette.h"

namespace rb::ui {

void ShowInfoBox(QWidget* parent, const QString& caption, const QString& html) {
  TInfoBox box(parent, caption, html);
  box.exec();
}

TInfoBox::TInfoBox(QWidget* parent, const QString& caption, const QString& html)
    : QDialog(parent),
      text_(new QLabel(html)),
      close_(new QPushButton(QString::fromUtf8("Schließen"))) {
  setWindowTitle(caption);
  setModal(true);
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  SetBlackOnWhite(*this, true);
  setFont(TahomaFont(12));

  text_->setTextFormat(Qt::RichText);
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* scroll = new QScrollArea;
  scroll->setWidget(text_);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);

  close_->setDefault(true);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(close_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(scroll);
  layout->addLayout(buttons);

  PlaceOnMonitor();
}

void TInfoBox::PlaceOnMonitor() {
  QScreen* screen = parentWidget() != nullptr ? parentWidget()->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  // The window frame is not known before the box is shown; leave room for a usual one.
  const QSize frame(16, 40);
  const QRect place = CentredInside(sizeHint() + frame, area);
  resize(place.size() - frame);
  move(place.topLeft());
}

QRect CentredInside(QSize size, const QRect& area) {
  size = size.boundedTo(area.size());
  return QRect(area.left() + (area.width() - size.width()) / 2,
               area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
}

}  // namespace rb::ui
