#include "ui/Fonts.h"

#include <QFontDatabase>
#include <QString>
#include <QStringList>

namespace rb::ui {
namespace {

const QString kTahoma = QStringLiteral("Tahoma");

// The family name under which Tahoma is available in this run. Only Wine's regular face is
// loaded: its tahomabd.ttf has the bold face's wider spacing but strokes of regular weight, so
// bold text would not stand out; without it Qt emboldens the regular face, which does.
QString TahomaFamily() {
  if (QFontDatabase::hasFamily(kTahoma)) return kTahoma;
  const int id =
      QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
  const QStringList families = QFontDatabase::applicationFontFamilies(id);
  return id >= 0 && !families.isEmpty() ? families.first() : kTahoma;
}

}  // namespace

QFont TahomaFont(int pixel_size, bool bold) {
  static const QString family = TahomaFamily();
  QFont font(family);
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixel_size);
  font.setBold(bold);
  return font;
}

}  // namespace rb::ui
