// The QApplication of a ui test program (not linked into the product). Tests run without a
// display: the offscreen platform is chosen unless QT_QPA_PLATFORM names another one.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

namespace rb::ui {

// Created on first use and kept until the program ends, so that every test sees the same one.
inline QApplication& TestApp() {
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "ui_test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

// Processes events until the condition holds or the time is up. (QTest's QTRY macros report to
// QTest's own log and return silently under GoogleTest, so they must not be used in our tests.)
template <class F>
bool WaitFor(F condition, int timeout_ms) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeout_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

}  // namespace rb::ui

// Readable QString values in test failures.
#include <ostream>
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
