// The program's icon, painted in code so that the window needs no image file: a sheet with a
// rising column chart and a red check mark, the progress billing it shows.
#pragma once

#include <QIcon>

namespace rb::app {

QIcon AppIcon();

}  // namespace rb::app
