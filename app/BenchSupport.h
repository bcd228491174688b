// Shared by the window's benchmarks (not linked into the product): the offscreen application and
// the positions of a large invoice as the host writes them.
#pragma once

#include <QApplication>
#include <cstdio>
#include <string>

namespace rb::app {

// Created on first use and kept to the end of the process: destroying it after the benchmarks'
// windows crashed at exit.
inline QApplication& BenchApp() {
  static int argc = 1;
  static char name[] = "bench";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// The "Parts" array's members for count positions, UTF-8, every tenth a text line ("t").
inline std::string BenchPositions(int count) {
  std::string s;
  char buf[512];
  for (int i = 0; i < count; ++i) {
    std::snprintf(buf, sizeof buf,
                  "%s{\"Row\":\"%d\",\"TypLine\":\"%s\",\"Position\":\"%d.%d\","
                  "\"Description1\":\"Stahlbetonw\xC3\xA4nde C25/30, Dicke %d cm, einschl. "
                  "Schalung\",\"Price\":%.2f,\"Quantity\":%d,\"Unit\":\"m\xC2\xB2\"}",
                  i ? "," : "", i + 1, i % 10 == 0 ? "t" : "", i / 100 + 1, i % 100 + 1,
                  10 + i % 30, (i % 97) * 13.37, i % 50 + 1);
    s += buf;
  }
  return s;
}

}  // namespace rb::app
