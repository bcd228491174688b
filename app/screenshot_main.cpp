// rb-screenshot FILE.png: saves the whole X screen of $DISPLAY as a PNG. The demo uses it under
// Xvfb, where no desktop tool is there to take one; not installed with the program.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: rb-screenshot FILE.png\n");
    return 2;
  }
  QGuiApplication application(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "rb-screenshot: cannot grab the screen into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
