// Black text on white, whatever the desktop theme. The window's panels, edits, grid, menu and
// information box are white by design; a dark theme would otherwise put its light text on them.
//
// BlackOnWhite fixes, in every colour group, the backgrounds (window, base, alternate base) to
// white, the texts (window text, text, button text) to black, disabled text to grey, buttons to
// a light grey and tool tips to black on the pale yellow of classic tool tips (the grid's
// header cells use that colour). Selection colours stay the theme's.
#pragma once

#include <QPalette>

class QWidget;

namespace rb::ui {

QPalette BlackOnWhite(QPalette palette);

// Gives the widget that palette; with fill_background, the widget paints its own white
// background instead of showing its parent's.
void SetBlackOnWhite(QWidget& widget, bool fill_background = false);

}  // namespace rb::ui
