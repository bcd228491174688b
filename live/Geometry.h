// Rectangles and monitors in screen pixels, as the window system reports them. A rectangle is
// half-open like a Windows RECT: it covers left <= x < right and top <= y < bottom, so its width
// is right - left. Monitors may lie at negative coordinates (a second screen left of or above
// the primary one).
#pragma once

#include <vector>

namespace rb::live {

struct TRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  static TRect FromSize(int left, int top, int width, int height) {
    return {left, top, left + width, top + height};
  }
  friend bool operator==(const TRect&, const TRect&) = default;
};

struct TMonitor {
  TRect bounds;  // the whole screen
  TRect work;    // the screen less task bars and docks
  bool primary = false;
  friend bool operator==(const TMonitor&, const TMonitor&) = default;
};

using TMonitorList = std::vector<TMonitor>;

}  // namespace rb::live
