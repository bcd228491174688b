// The window's typeface. Every control is drawn in Tahoma at a pixel size (a Windows font
// height of -12 is 12 pixels), so that the designed layout fits at any screen resolution.
//
// Where fontconfig does not know Tahoma, the copy in Debian's fonts-wine package
// (/usr/share/wine/fonts/tahoma.ttf) is loaded once into the application, and bold is that face
// made bold by Qt; where the file is missing too, Qt's matching picks the closest sans-serif
// face.
// REQUIRES: a QGuiApplication exists; call on the GUI thread.
#pragma once

#include <QFont>

namespace rb::ui {

QFont TahomaFont(int pixel_size, bool bold = false);

}  // namespace rb::ui
