#include "ui/QtText.h"

#include <QFile>
#include <QStringView>

#include "platform/CodePage.h"
#include "platform/File.h"

namespace rb::ui {

QString ToQString(std::string_view cp1252) {
  const std::u16string wide = platform::AnsiToWide(cp1252);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

std::string FromQString(const QString& text) {
  const QStringView view(text);
  return platform::WideToAnsi(std::u16string_view(view.utf16(), static_cast<size_t>(view.size())));
}

QString PathToQString(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(platform::NativePath(path)));
}

}  // namespace rb::ui
