// Ratenblick: the program start. Number settings and the search table first, then the presence
// marker, then the one window and its event loop. Takes no arguments of its own (Qt's platform
// options such as -platform pass through to Qt).
#include <QApplication>
#include <exception>

#include "app/LiveImportWindow.h"
#include "live/Messages.h"
#include "platform/System.h"
#include "recordset/UVirtualDataset.h"
#include "ui/ErrorBox.h"
#include "ui/QtText.h"
#include "util/Numbers.h"

namespace {

// An error that no handler caught reaches the general error display, and the program goes on.
class TApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
      ShowError(error.what());
    }
    return false;
  }
  static void ShowError(const std::string& message) {
    rb::ui::ShowErrorBox(QApplication::activeWindow(),
                         rb::ui::ToQString(rb::app::kApplicationTitle),
                         rb::ui::ToQString(rb::live::ErrorDisplayText(message)));
  }
};

}  // namespace

int main(int argc, char** argv) {
  rb::InitNumberSettings();
  // On X11 a clipboard target needs no registration: the "HTML Format" target is announced by
  // name each time the listing goes to the clipboard.
  rb::InitUpperCaseTable();
  const platform::PresenceMarker presence(platform::kPresenceMarkerName);

  TApplication application(argc, argv);
  QApplication::setApplicationName("Ratenblick");
  QApplication::setDesktopFileName("ratenblick");
  rb::TVirtualDataSet::SetErrorReporter(
      [](const std::exception& error) { TApplication::ShowError(error.what()); });

  rb::app::TLiveImportWindow window;
  window.show();
  return QApplication::exec();
}
