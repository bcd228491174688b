#include "live/Placement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "util/Errors.h"

namespace rb::live {

namespace {

// Beyond any real desktop; keeps every sum of edges and sizes far inside int.
constexpr int kMaxCoordinate = 1000000;

const TRect kNoArea{};

const TRect& PrimaryWorkArea(const TMonitorList& monitors) {
  for (const TMonitor& m : monitors) {
    if (m.primary) return m.work;
  }
  return monitors.empty() ? kNoArea : monitors.front().work;
}

int64_t Overlap(int a_from, int a_to, int b_from, int b_to) {
  return std::max<int64_t>(0, int64_t{std::min(a_to, b_to)} - std::max(a_from, b_from));
}

// Whether more than half of the window's width and more than half of its height lie inside
// the monitor.
bool HoldsMostOf(const TRect& monitor, const TRect& window) {
  const int64_t w = Overlap(monitor.left, monitor.right, window.left, window.right);
  const int64_t h = Overlap(monitor.top, monitor.bottom, window.top, window.bottom);
  return 2 * w > window.Width() && 2 * h > window.Height();
}

// Distance from a to b along one axis: 0 when the ranges overlap or touch.
int64_t Gap(int a_from, int a_to, int b_from, int b_to) {
  if (a_to <= b_from) return int64_t{b_from} - a_to;
  if (b_to <= a_from) return int64_t{a_from} - b_to;
  return 0;
}

int64_t SquaredDistance(const TRect& a, const TRect& b) {
  const int64_t dx = Gap(a.left, a.right, b.left, b.right);
  const int64_t dy = Gap(a.top, a.bottom, b.top, b.bottom);
  return dx * dx + dy * dy;
}

// MonitorFromRect with MONITOR_DEFAULTTONEAREST. REQUIRES: monitors not empty.
const TMonitor& NearestToRect(const TMonitorList& monitors, const TRect& rect) {
  const TMonitor* best = nullptr;
  int64_t best_area = 0;
  for (const TMonitor& m : monitors) {
    const int64_t area = Overlap(m.bounds.left, m.bounds.right, rect.left, rect.right) *
                         Overlap(m.bounds.top, m.bounds.bottom, rect.top, rect.bottom);
    if (area > best_area) {
      best = &m;
      best_area = area;
    }
  }
  if (best) return *best;
  best = &monitors.front();
  int64_t best_distance = std::numeric_limits<int64_t>::max();
  for (const TMonitor& m : monitors) {
    const int64_t distance = SquaredDistance(m.bounds, rect);
    if (distance < best_distance) {
      best = &m;
      best_distance = distance;
    }
  }
  return *best;
}

// MonitorFromPoint with MONITOR_DEFAULTTONEAREST: a point is the one-pixel rectangle at it.
const TMonitor& NearestToPoint(const TMonitorList& monitors, int x, int y) {
  return NearestToRect(monitors, TRect{x, y, x + 1, y + 1});
}

const TMonitor& TargetMonitor(const TDesktop& desktop) {
  const TMonitorList& monitors = desktop.monitors;
  if (desktop.active_window) {
    for (const TMonitor& m : monitors) {
      if (HoldsMostOf(m.bounds, *desktop.active_window)) return m;
    }
    return NearestToRect(monitors, *desktop.active_window);
  }
  for (const TMonitor& m : monitors) {
    if (m.primary) return m;
  }
  return monitors.front();
}

int ReadSize(const TFastIniFile& ini, const std::string& key, int fallback) {
  const int value = ini.ReadInteger(kPlacementSection, key, fallback);
  return value < 1 || value > kMaxCoordinate ? fallback : value;
}

int ReadPosition(const TFastIniFile& ini, const std::string& key, int fallback) {
  const int value = ini.ReadInteger(kPlacementSection, key, fallback);
  return value < -kMaxCoordinate || value > kMaxCoordinate ? fallback : value;
}

int Constrained(int value, int minimum, int maximum) {
  if (minimum > 0 && value < minimum) return minimum;
  if (maximum > 0 && value > maximum) return maximum;
  return value;
}

}  // namespace

int RestorePlacement(const TFastIniFile& ini, const std::string& prefix, int extra_default,
                     TRestoreMode mode, TWindowState& window, const TDesktop& desktop) {
  const TRect& work = PrimaryWorkArea(desktop.monitors);
  const int present_width = window.rect.Width();
  const int present_height = window.rect.Height();
  int left = window.rect.left;
  int top = window.rect.top;
  switch (mode) {
    case TRestoreMode::Centered:
      left = work.right / 2 - present_width / 2;
      top = work.bottom / 2 - present_height / 2;
      break;
    case TRestoreMode::TopLeft:
      left = work.left;
      top = work.top;
      break;
    case TRestoreMode::TopRight:
      left = work.right - present_width;
      top = work.top;
      break;
    case TRestoreMode::BottomRight:
      left = work.right - present_width;
      top = work.bottom - present_height;
      break;
    case TRestoreMode::KeepPosition:
      break;
  }
  const int width = Constrained(ReadSize(ini, prefix + ".Width", present_width), window.min_width,
                                window.max_width);
  const int height = Constrained(ReadSize(ini, prefix + ".Height", present_height),
                                 window.min_height, window.max_height);
  if (mode != TRestoreMode::KeepPosition) {
    left = ReadPosition(ini, prefix + ".Left", left);
    top = ReadPosition(ini, prefix + ".Top", top);
  }
  const int extra = ini.ReadInteger(kPlacementSection, prefix + ".Add0", extra_default);
  window.rect = TRect::FromSize(left, top, width, height);
  window = FitToMonitor(window, desktop);
  return extra;
}

bool SavePlacement(TFastIniFile& ini, const std::string& prefix, int extra, TRestoreMode mode,
                   const TWindowState& window, const TDesktop& desktop) {
  const TRect& rect = window.rect;
  int width = rect.Width();
  int height = rect.Height();
  if (window.maximized) {
    width -= 4 * desktop.edge_width;
    height -= 4 * desktop.edge_height;
  }
  int left = rect.left;
  int top = rect.top;
  bool relative = true;
  if (mode == TRestoreMode::TopLeft) {
    left += 50;
    top += 50;
  } else if (window.maximized) {
    left = 0;
    top = 0;
    relative = false;
  }
  if (relative) {
    // The first monitor is left out: positions on it are stored as they are.
    for (size_t i = 1; i < desktop.monitors.size(); ++i) {
      const TRect& bounds = desktop.monitors[i].bounds;
      if (HoldsMostOf(bounds, rect)) {
        left -= bounds.left;
        top -= bounds.top;
        break;
      }
    }
  }

  const auto write = [&](const char* suffix, int value) {
    try {
      ini.WriteInteger(kPlacementSection, prefix + suffix, value);
    } catch (const Exception&) {
      // A value that cannot be stored is skipped; the others still are.
    }
  };
  write(".Width", width);
  write(".Height", height);
  write(".Left", left);
  write(".Top", top);
  if (extra != -1) write(".Add0", extra);
  try {
    ini.UpdateFile();
    return true;
  } catch (const Exception&) {
    return false;
  }
}

TWindowState FitToMonitor(TWindowState window, const TDesktop& desktop) {
  if (!window.has_border || desktop.monitors.empty()) return window;
  const TMonitor& target = TargetMonitor(desktop);
  const TRect& work = target.work;
  TRect& r = window.rect;
  const int width = r.Width();
  const int height = r.Height();

  if (window.position == TWindowPosition::ScreenCenter) {
    window.position = TWindowPosition::Designed;
    r = TRect::FromSize(work.left + (work.Width() - width) / 2,
                        work.top + (work.Height() - height) / 2, width, height);
    return window;
  }

  const int cx = static_cast<int>((int64_t{r.left} + r.right) / 2);
  const int cy = static_cast<int>((int64_t{r.top} + r.bottom) / 2);
  const TMonitor& nearest = NearestToPoint(desktop.monitors, cx, cy);
  int left = r.left;
  int top = r.top;
  if (nearest.work != work) {
    left += work.left - nearest.work.left;
    top += work.top - nearest.work.top;
  }
  if (left + width > work.right) left = work.right - width;
  if (left < work.left) left = work.left;
  if (top + height > work.bottom) top = work.bottom - height;
  if (top < work.top) top = work.top;
  r = TRect::FromSize(left, top, width, height);
  return window;
}

}  // namespace rb::live
