// The QApplication of a ui test program (not linked into the product). Tests run without a
// display: the offscreen platform is chosen unless QT_QPA_PLATFORM names another one.
#pragma once

#include <QApplication>

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

}  // namespace rb::ui

// Readable QString values in test failures.
#include <ostream>
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
