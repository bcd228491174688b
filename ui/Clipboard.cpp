#include "ui/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include "platform/SysError.h"
#include "ui/QtText.h"
#include "util/Errors.h"

namespace rb::ui {

std::unique_ptr<QMimeData> ListingMimeData(const std::string& clipboard_html,
                                           const std::string& fragment, const std::string& plain) {
  auto data = std::make_unique<QMimeData>();
  const auto put = [&](const QString& format, const QByteArray& bytes) {
    if (!bytes.isEmpty()) data->setData(format, bytes);
  };
  put(QString::fromLatin1(kHtmlClipboardFormat), QByteArray::fromStdString(clipboard_html));
  put(QStringLiteral("text/html"), ToQString(fragment).toUtf8());
  put(QStringLiteral("text/plain"), ToQString(plain.empty() ? fragment : plain).toUtf8());
  return data;
}

void PutListingOnClipboard(const std::string& clipboard_html, const std::string& fragment,
                           const std::string& plain) {
  // QGuiApplication::clipboard() needs a GUI application; a plain QCoreApplication has none.
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
    RaiseOSError(platform::kErrorAccessDenied);
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard == nullptr) RaiseOSError(platform::kErrorAccessDenied);
  QMimeData* data = ListingMimeData(clipboard_html, fragment, plain).release();
  clipboard->setMimeData(data);  // the clipboard owns data from here on
  // Where the window system refuses the entry (another client keeps the selection), the
  // clipboard reports what it held before instead of our entry.
  if (clipboard->mimeData() != data) RaiseOSError(platform::kErrorAccessDenied);
}

}  // namespace rb::ui
