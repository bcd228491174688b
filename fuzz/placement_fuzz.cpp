// The placement file on arbitrary bytes: reading never fails, and RestorePlacement on a few
// monitor layouts, with and without an active window and in every mode, gives a window of a
// positive size that lies inside a monitor's work area whenever it is small enough to fit there
// (and, in the unfitted case of a desktop without monitors, stays within the bounds on
// coordinates). Storing the result and reading the file's text again gives the stored values
// back, and an entry written with the first two lines as key and value reads back as written.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "live/Placement.h"
#include "util/Errors.h"
#include "util/Text.h"

namespace {

using rb::live::TDesktop;
using rb::live::TMonitor;
using rb::live::TMonitorList;
using rb::live::TRect;
using rb::live::TRestoreMode;
using rb::live::TWindowState;

const TMonitor kPrimary{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true};
const TMonitor kLeft{{-1280, 0, 0, 1024}, {-1280, 0, 0, 1024}, false};
const TMonitor kRight{{1920, 0, 3200, 1024}, {1920, 0, 3200, 984}, false};
const TMonitor kAbove{{-200, -1080, 1720, 0}, {-200, -1080, 1720, 0}, false};

bool Inside(const TRect& r, const TRect& area) {
  return r.left >= area.left && r.top >= area.top && r.right <= area.right &&
         r.bottom <= area.bottom;
}

void CheckRestored(const TWindowState& window, const TMonitorList& monitors) {
  const TRect& r = window.rect;
  if (r.Width() < 1 || r.Height() < 1) __builtin_trap();
  if (monitors.empty()) {
    if (r.left < -1000000 || r.left > 1000000 || r.top < -1000000 || r.top > 1000000)
      __builtin_trap();
    return;
  }
  bool fits_everywhere = true;
  for (const TMonitor& m : monitors) {
    fits_everywhere =
        fits_everywhere && r.Width() <= m.work.Width() && r.Height() <= m.work.Height();
  }
  if (!fits_everywhere) return;
  for (const TMonitor& m : monitors) {
    if (Inside(r, m.work)) return;
  }
  __builtin_trap();
}

bool LooksLikeByteOrderMark(const std::string& text) {
  return text.rfind("\xEF\xBB\xBF", 0) == 0 || text.rfind("\xFF\xFE", 0) == 0 ||
         text.rfind("\xFE\xFF", 0) == 0;
}

std::string_view Line(std::string_view& text) {
  const size_t end = text.find('\n');
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const rb::live::TFastIniFile ini = rb::live::TFastIniFile::FromText(text);

  const std::vector<TMonitorList> layouts = {
      {}, {kPrimary}, {kPrimary, kLeft}, {kLeft, kPrimary}, {kPrimary, kRight, kAbove}};
  for (const TMonitorList& monitors : layouts) {
    std::vector<std::optional<TRect>> actives = {std::nullopt};
    for (const TMonitor& m : monitors)
      actives.push_back(TRect::FromSize(m.work.left + 5, m.work.top + 5, 300, 200));
    actives.push_back(TRect{-5000, -5000, -4000, -4500});
    TWindowState window;
    TDesktop desktop;
    for (const std::optional<TRect>& active : actives) {
      for (int mode = 0; mode <= 4; ++mode) {
        desktop = TDesktop{monitors, active, 2, 2};
        window = TWindowState();
        window.rect = TRect::FromSize(282, 133, 595, 326);
        window.min_width = mode == 2 ? 200 : 0;
        window.max_height = mode == 3 ? 900 : 0;
        window.position = mode == 0 ? rb::live::TWindowPosition::ScreenCenter
                                    : rb::live::TWindowPosition::Designed;
        (void)rb::live::RestorePlacement(ini, rb::live::kPlacementPrefix, -1,
                                         static_cast<TRestoreMode>(mode), window, desktop);
        CheckRestored(window, monitors);
      }
    }

    // The last window restored, stored again (maximised on every other layout).
    rb::live::TFastIniFile saved = ini;
    window.maximized = monitors.size() % 2 == 1;
    rb::live::SavePlacement(saved, rb::live::kPlacementPrefix, static_cast<int>(monitors.size()),
                            TRestoreMode::Centered, window, desktop);
    // A first line that looks like a byte order mark is read as one: not a round trip.
    const std::string written = saved.Text();
    if (LooksLikeByteOrderMark(written)) continue;
    const rb::live::TFastIniFile reread = rb::live::TFastIniFile::FromText(written);
    for (const char* suffix : {".Width", ".Height", ".Left", ".Top", ".Add0"}) {
      const std::string key = std::string(rb::live::kPlacementPrefix) + suffix;
      if (saved.ReadString("MODE", key, "?") != reread.ReadString("MODE", key, "?"))
        __builtin_trap();
    }
  }

  std::string_view rest = text;
  const std::string key(Line(rest));
  const std::string value(Line(rest));
  rb::live::TFastIniFile changed = ini;
  try {
    changed.WriteString("MODE", key, value);
  } catch (const rb::Exception&) {
    return 0;
  }
  const std::string expected(rb::TrimBlanks(value));
  if (changed.ReadString("MODE", key, "?") != expected) __builtin_trap();
  const std::string written = changed.Text();
  if (LooksLikeByteOrderMark(written)) return 0;
  if (rb::live::TFastIniFile::FromText(written).ReadString("MODE", key, "?") != expected)
    __builtin_trap();
  return 0;
}
