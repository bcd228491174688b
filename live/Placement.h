// Where the window goes: its size and position kept in the placement file between runs, and
// the fit that brings it back onto a monitor that is present. Plain values in, plain values out;
// the window in app/ reads its state and monitors from the window system and applies the result.
//
// The placement file is "UserMode.INI" in the folder chosen with SetUserModeFolder (the view
// chooses TempFolder()), so its name is UserModeFile(). Section "MODE"; each key is a prefix
// followed by a suffix, each value a decimal integer:
//
//   [MODE]
//   dgdview.Width=595        window width
//   dgdview.Height=326       window height
//   dgdview.Left=1000        left edge, relative to the monitor the window was on
//   dgdview.Top=80           top edge, likewise
//   dgdview.Add0=7           a value of the caller's; only written when it is not -1
//
// Relative positions: SavePlacement subtracts the origin of the monitor the window is on
// (unless that is the first monitor), and RestorePlacement reads the numbers back as screen
// positions; FitToMonitor then moves the window onto the monitor of the active window, so a
// window closed at 100, 50 on some monitor comes back at 100, 50 on the monitor the user now
// works on (give or take the difference between the monitors' work areas).
//
// Nothing here raises. Values that are missing or nonsense fall back to their defaults one by
// one; a file that cannot be written is reported by SavePlacement's result.
#pragma once

#include <optional>
#include <string>

#include "live/FastIniFile.h"
#include "live/Geometry.h"

namespace rb::live {

inline constexpr const char* kPlacementSection = "MODE";
// The key prefix of the live view's window.
inline constexpr const char* kPlacementPrefix = "dgdview";

// How the window system places a window when it is shown: where it was designed, or centred.
enum class TWindowPosition { Designed, ScreenCenter };

struct TWindowState {
  TRect rect;  // the outer rectangle on the screen
  bool maximized = false;
  bool has_border = true;  // a window without a border is never fitted
  // Size constraints; 0 means none.
  int min_width = 0;
  int max_width = 0;
  int min_height = 0;
  int max_height = 0;
  TWindowPosition position = TWindowPosition::Designed;
  friend bool operator==(const TWindowState&, const TWindowState&) = default;
};

// What the window system tells about the screens at the moment of the call.
struct TDesktop {
  TMonitorList monitors;  // in the system's order; may be empty
  // The active window's outer rectangle, or the application's main window's when none is
  // active; none when there is neither.
  std::optional<TRect> active_window;
  // The system's horizontal and vertical edge widths (SM_CXEDGE, SM_CYEDGE).
  int edge_width = 0;
  int edge_height = 0;
};

// Where RestorePlacement puts a window that has no stored position. The numbers are the ones
// callers pass around.
enum class TRestoreMode {
  Centered = 0,     // centred on the primary monitor's work area (from its right/bottom edges)
  TopLeft = 1,      // the work area's top-left corner
  TopRight = 2,     // the work area's top-right corner
  BottomRight = 3,  // the work area's bottom-right corner
  KeepPosition = 4  // no position is read at all
};

// Reads the size and, unless mode is KeepPosition, the position of window from the section
// "MODE" under keys prefix + ".Width" etc., then fits the window onto a monitor (FitToMonitor).
// A size falls back to the window's present one, then obeys the window's min/max constraints
// (the minimum is checked first); a position falls back to the mode's default on the primary
// monitor's work area. A size below 1 pixel, and a size or position beyond 1,000,000 pixels,
// counts as unreadable (no screen is that large; such a value must not become a rectangle
// whose edges overflow). Returns prefix + ".Add0", or extra_default when that is unreadable.
//   window 595 x 326 at 282, 133; file Width=700, Height=abc, Left=10; mode TopLeft on a
//   primary work area of 0, 0, 1920, 1040 -> 700 x 326 at 10, 0
int RestorePlacement(const TFastIniFile& ini, const std::string& prefix, int extra_default,
                     TRestoreMode mode, TWindowState& window, const TDesktop& desktop);

// Stores window's size and position under prefix in ini and writes the file (UpdateFile). A
// maximised window stores its size less four edge widths each way. The position stored is the
// window's left and top plus 50 each in mode TopLeft, else 0, 0 for a maximised window, else
// its left and top; all but that 0, 0 are made relative to the first monitor after the first
// one (in the system's order) that overlaps the window by more than half its width and half
// its height, by subtracting that monitor's left and top. extra is stored only when it is not
// -1. Each value is written on its own: one that cannot be written is skipped. Returns false
// when the file could not be written (the values are then only in ini); never raises.
//   window 2020, 100, 2620, 400 on the second of the monitors 0..1920 and 1920..3200
//   -> Width=600, Height=300, Left=100, Top=100
bool SavePlacement(TFastIniFile& ini, const std::string& prefix, int extra, TRestoreMode mode,
                   const TWindowState& window, const TDesktop& desktop);

// Brings window into a monitor's work area and returns the new state (only rect and position
// change). A window without a border, or a desktop without monitors, is left as it is.
//  1. Target: the first monitor that overlaps the active window by more than half its width
//     and half its height; else the monitor nearest the active window; else the monitor marked
//     primary; else the first one.
//  2. A screen-centred window becomes Designed and is centred in the target's work area.
//  3. Otherwise the monitor nearest the window's centre point is taken; when its work area
//     differs from the target's, the window moves by the difference of the two work areas'
//     top-left corners; then it is pushed left to end at the work area's right edge, right to
//     start at its left edge, and likewise up from the bottom and down to the top -- so a
//     window larger than the work area ends up at its left and top edges.
// "Nearest" is the window system's rule: the monitor containing the point (or sharing the
// largest area with the rectangle); failing that, the one at the smallest distance; the first
// in order on a tie.
TWindowState FitToMonitor(TWindowState window, const TDesktop& desktop);

}  // namespace rb::live
