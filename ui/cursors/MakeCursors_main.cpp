// Paints the four frames of the busy cursor, a wheel of eight dots whose dark head moves a
// quarter turn per frame, and writes them as crCursor_ajax01.png ... crCursor_ajax04.png
// (32 x 32, transparent) into the folder given as the only argument.
// Usage: ui_make_cursors ui/cursors
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr int kSize = 32;
constexpr int kDots = 8;
constexpr int kFrames = 4;

QImage PaintFrame(int frame) {
  QImage image(kSize, kSize, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  // A white rim keeps the dots visible on dark backgrounds.
  painter.setPen(QPen(Qt::white, 1.0));
  const int head = frame * kDots / kFrames;
  for (int dot = 0; dot < kDots; ++dot) {
    const int age = (head - dot + kDots) % kDots;  // 0: the head, 7: the faintest
    const double angle = 2 * std::numbers::pi * dot / kDots - std::numbers::pi / 2;
    const QPointF centre(kSize / 2.0 + 10.5 * std::cos(angle),
                         kSize / 2.0 + 10.5 * std::sin(angle));
    const int grey = 20 + age * 25;
    painter.setBrush(QColor(grey, grey, grey));
    painter.drawEllipse(centre, 3.2 - age * 0.15, 3.2 - age * 0.15);
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  for (int frame = 0; frame < kFrames; ++frame) {
    const QString file =
        QString::fromLocal8Bit(argv[1]) + QStringLiteral("/crCursor_ajax0%1.png").arg(frame + 1);
    if (!PaintFrame(frame).save(file, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
