#include "app/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace rb::app {
namespace {

QPixmap PaintIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  p.setPen(QPen(QColor(60, 60, 60), 2));
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(8, 4, 44, 56), 4, 4);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 225, 121));
  p.drawRect(QRectF(12, 44, 36, 10));
  const QColor bar(40, 90, 160);
  p.setBrush(bar);
  const double heights[] = {10, 18, 26, 34};
  for (int i = 0; i < 4; ++i)
    p.drawRect(QRectF(14 + i * 9, 42 - heights[i], 6, heights[i]));
  p.setPen(QPen(QColor(220, 0, 0), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  QPainterPath check;
  check.moveTo(34, 50);
  check.lineTo(42, 58);
  check.lineTo(58, 36);
  p.drawPath(check);
  return pixmap;
}

}  // namespace

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128})
    icon.addPixmap(PaintIcon(size));
  return icon;
}

}  // namespace rb::app
