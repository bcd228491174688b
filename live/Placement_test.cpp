#include "live/Placement.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

#include "platform/TestFolder.h"
#include "util/Files.h"

namespace rb::live {
namespace {

// Screens as the window system lists them. The primary has a task bar at the bottom.
const TMonitor kPrimary{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true};
const TMonitor kLeftOfPrimary{{-1280, 0, 0, 1024}, {-1280, 0, 0, 1024}, false};
const TMonitor kRightOfPrimary{{1920, 0, 3200, 1024}, {1920, 0, 3200, 984}, false};
const TMonitor kAbovePrimary{{-200, -1080, 1720, 0}, {-200, -1080, 1720, 0}, false};

const TMonitorList kOneScreen{kPrimary};
const TMonitorList kTwoScreensLeft{kPrimary, kLeftOfPrimary};
const TMonitorList kTwoScreensRight{kPrimary, kRightOfPrimary};
const TMonitorList kThreeScreens{kPrimary, kRightOfPrimary, kAbovePrimary};
// The system does not always list the primary first.
const TMonitorList kLeftListedFirst{kLeftOfPrimary, kPrimary};

TDesktop Desktop(const TMonitorList& monitors, std::optional<TRect> active = std::nullopt) {
  return {monitors, active, 2, 2};
}

// Somewhere well inside a monitor: the host window the user works in.
TRect On(const TMonitor& m) {
  return TRect::FromSize(m.work.left + 10, m.work.top + 10, 400, 300);
}

// The window as designed: 595 x 326 at 282, 133.
TWindowState Designed() {
  TWindowState w;
  w.rect = TRect::FromSize(282, 133, 595, 326);
  return w;
}

TEST(Placement, RestorePlacement) {
  TWindowState bounded = Designed();
  bounded.min_width = 400;
  bounded.max_height = 350;
  TWindowState borderless = Designed();
  borderless.has_border = false;
  TWindowState centred = Designed();
  centred.position = TWindowPosition::ScreenCenter;
  const char* k600x300 = "dgdview.Width=600\ndgdview.Height=300\n";

  struct Row {
    const char* name;
    TDesktop desktop;
    std::string file;
    TRestoreMode mode;
    TWindowState window;
    TRect expected;
    int expected_extra;
  } rows[] = {
      {"nothing stored: the work area's corner",
       Desktop(kOneScreen),
       "",
       TRestoreMode::TopLeft,
       Designed(),
       {0, 0, 595, 326},
       -1},
      {"stored size and position",
       Desktop(kOneScreen),
       "dgdview.Width=700\ndgdview.Height=400\ndgdview.Left=100\ndgdview.Top=50\ndgdview.Add0=7",
       TRestoreMode::TopLeft,
       Designed(),
       {100, 50, 800, 450},
       7},
      {"nonsense falls back line by line",
       Desktop(kOneScreen),
       "dgdview.Width=abc\ndgdview.Height=300\ndgdview.Left=1e3\ndgdview.Top=50\n"
       "dgdview.Add0=x",
       TRestoreMode::TopLeft,
       Designed(),
       {0, 50, 595, 350},
       -1},
      {"sizes below one pixel and far-off positions are nonsense",
       Desktop(kOneScreen),
       "dgdview.Width=0\ndgdview.Height=-300\ndgdview.Left=2000000000\ndgdview.Top=-5000000",
       TRestoreMode::TopLeft,
       Designed(),
       {0, 0, 595, 326},
       -1},
      {"a window left of a screen that is gone",
       Desktop(kOneScreen),
       std::string(k600x300) + "dgdview.Left=-1000\ndgdview.Top=200",
       TRestoreMode::TopLeft,
       Designed(),
       {0, 200, 600, 500},
       -1},
      {"a window right of a screen that is gone",
       Desktop(kOneScreen),
       std::string(k600x300) + "dgdview.Left=2500\ndgdview.Top=100",
       TRestoreMode::TopLeft,
       Designed(),
       {1320, 100, 1920, 400},
       -1},
      {"below the task bar",
       Desktop(kOneScreen),
       std::string(k600x300) + "dgdview.Left=10\ndgdview.Top=2000",
       TRestoreMode::TopLeft,
       Designed(),
       {10, 740, 610, 1040},
       -1},
      {"larger than the work area: its top-left corner",
       Desktop(kOneScreen),
       "dgdview.Width=2500\ndgdview.Height=1200\ndgdview.Left=300\ndgdview.Top=300",
       TRestoreMode::TopLeft,
       Designed(),
       {0, 0, 2500, 1200},
       -1},
      {"relative position onto the active window's screen at the left",
       Desktop(kTwoScreensLeft, On(kLeftOfPrimary)),
       std::string(k600x300) + "dgdview.Left=100\ndgdview.Top=100",
       TRestoreMode::TopLeft,
       Designed(),
       {-1180, 100, -580, 400},
       -1},
      {"no active window: the primary screen",
       Desktop(kTwoScreensLeft),
       std::string(k600x300) + "dgdview.Left=100\ndgdview.Top=100",
       TRestoreMode::TopLeft,
       Designed(),
       {100, 100, 700, 400},
       -1},
      {"onto the right screen, pushed into its work area",
       Desktop(kThreeScreens, On(kRightOfPrimary)),
       std::string(k600x300) + "dgdview.Left=1000\ndgdview.Top=800",
       TRestoreMode::TopLeft,
       Designed(),
       {2600, 684, 3200, 984},
       -1},
      {"onto the screen above, at negative coordinates",
       Desktop(kThreeScreens, On(kAbovePrimary)),
       std::string(k600x300) + "dgdview.Left=100\ndgdview.Top=100",
       TRestoreMode::TopLeft,
       Designed(),
       {-100, -980, 500, -680},
       -1},
      {"active window mostly on no screen: the one sharing most of it",
       Desktop(kTwoScreensLeft, TRect{-400, 700, 200, 1500}),
       std::string(k600x300) + "dgdview.Left=100\ndgdview.Top=100",
       TRestoreMode::TopLeft,
       Designed(),
       {-1180, 100, -580, 400},
       -1},
      {"active window on no screen at all: the nearest one",
       Desktop(kTwoScreensLeft, TRect{-3000, 100, -2600, 400}),
       std::string(k600x300) + "dgdview.Left=100\ndgdview.Top=100",
       TRestoreMode::TopLeft,
       Designed(),
       {-1180, 100, -580, 400},
       -1},
      {"centred by the work area's right and bottom edges",
       Desktop(kOneScreen),
       "",
       TRestoreMode::Centered,
       Designed(),
       {663, 357, 1258, 683},
       -1},
      {"top-right corner",
       Desktop(kOneScreen),
       "",
       TRestoreMode::TopRight,
       Designed(),
       {1325, 0, 1920, 326},
       -1},
      {"bottom-right corner",
       Desktop(kOneScreen),
       "",
       TRestoreMode::BottomRight,
       Designed(),
       {1325, 714, 1920, 1040},
       -1},
      {"keep position: only the size is read",
       Desktop(kOneScreen),
       "dgdview.Width=700\ndgdview.Left=5\ndgdview.Top=5",
       TRestoreMode::KeepPosition,
       Designed(),
       {282, 133, 982, 459},
       -1},
      {"size constraints",
       Desktop(kOneScreen),
       "dgdview.Width=300\ndgdview.Height=500\ndgdview.Left=10\ndgdview.Top=10",
       TRestoreMode::TopLeft,
       bounded,
       {10, 10, 410, 360},
       -1},
      {"a window without a border is not fitted",
       Desktop(kOneScreen),
       std::string(k600x300) + "dgdview.Left=5000\ndgdview.Top=10",
       TRestoreMode::TopLeft,
       borderless,
       {5000, 10, 5600, 310},
       -1},
      {"a screen-centred window is centred on the target screen",
       Desktop(kTwoScreensLeft, On(kLeftOfPrimary)),
       k600x300,
       TRestoreMode::TopLeft,
       centred,
       {-940, 362, -340, 662},
       -1},
      {"no monitors at all: read, not fitted",
       Desktop({}),
       std::string(k600x300) + "dgdview.Left=5000",
       TRestoreMode::TopLeft,
       Designed(),
       {5000, 0, 5600, 300},
       -1},
      {"another prefix is another window",
       Desktop(kOneScreen),
       "other.Width=700\nother.Left=100",
       TRestoreMode::TopLeft,
       Designed(),
       {0, 0, 595, 326},
       -1},
  };
  for (const Row& row : rows) {
    const TFastIniFile ini = TFastIniFile::FromText("[MODE]\n" + row.file);
    TWindowState window = row.window;
    const int extra = RestorePlacement(ini, kPlacementPrefix, -1, row.mode, window, row.desktop);
    EXPECT_EQ(window.rect, row.expected) << row.name;
    EXPECT_EQ(extra, row.expected_extra) << row.name;
    EXPECT_EQ(window.position, TWindowPosition::Designed) << row.name;
  }
}

TEST(Placement, SavePlacement) {
  TWindowState maximized;
  maximized.rect = {-8, -8, 1928, 1048};
  maximized.maximized = true;
  const auto at = [](int left, int top) {
    TWindowState w;
    w.rect = TRect::FromSize(left, top, 600, 300);
    return w;
  };
  struct Row {
    const char* name;
    TMonitorList monitors;
    TWindowState window;
    TRestoreMode mode;
    int extra;
    const char* expected;  // Width, Height, Left, Top, Add0 ("" when not written)
  } rows[] = {
      {"plain", kOneScreen, at(100, 50), TRestoreMode::Centered, -1, "600 300 100 50 "},
      {"maximised: less the edges, at 0, 0", kThreeScreens, maximized, TRestoreMode::Centered, -1,
       "1928 1048 0 0 "},
      {"on the second screen: relative", kTwoScreensRight, at(2020, 100), TRestoreMode::Centered,
       -1, "600 300 100 100 "},
      {"on the screen at the left: relative", kTwoScreensLeft, at(-1180, 100),
       TRestoreMode::Centered, -1, "600 300 100 100 "},
      {"on the screen above: relative", kThreeScreens, at(-100, -980), TRestoreMode::Centered, -1,
       "600 300 100 100 "},
      {"half on each screen: as it is", kTwoScreensRight, at(1620, 100), TRestoreMode::Centered, -1,
       "600 300 1620 100 "},
      {"on the first listed screen: as it is", kLeftListedFirst, at(-1180, 100),
       TRestoreMode::Centered, -1, "600 300 -1180 100 "},
      {"on a later listed primary: relative to it", kLeftListedFirst, at(100, 100),
       TRestoreMode::Centered, -1, "600 300 100 100 "},
      {"top-left mode adds 50, then relative", kTwoScreensRight, at(2020, 100),
       TRestoreMode::TopLeft, -1, "600 300 150 150 "},
      {"top-left mode: maximised too", kOneScreen, maximized, TRestoreMode::TopLeft, -1,
       "1928 1048 42 42 "},
      {"an extra value", kOneScreen, at(100, 50), TRestoreMode::Centered, 7, "600 300 100 50 7"},
  };
  for (const Row& row : rows) {
    TFastIniFile ini;
    EXPECT_FALSE(SavePlacement(ini, kPlacementPrefix, row.extra, row.mode, row.window,
                               Desktop(row.monitors)))
        << row.name << ": a nameless file cannot be written";
    std::string stored;
    for (const char* suffix : {".Width", ".Height", ".Left", ".Top", ".Add0"}) {
      if (stored.size()) stored += ' ';
      stored += ini.ReadString(kPlacementSection, std::string("dgdview") + suffix, "");
    }
    EXPECT_EQ(stored, row.expected) << row.name;
  }
}

TEST(Placement, SavedOnASecondScreenComesBackThere) {
  for (const TMonitorList& monitors : {kTwoScreensLeft, kTwoScreensRight, kThreeScreens}) {
    const TMonitor& second = monitors[1];
    TWindowState window;
    window.rect = TRect::FromSize(second.work.left + 120, second.work.top + 80, 595, 326);
    TFastIniFile ini;
    SavePlacement(ini, kPlacementPrefix, -1, TRestoreMode::Centered, window, Desktop(monitors));

    TWindowState restored = Designed();
    RestorePlacement(ini, kPlacementPrefix, -1, TRestoreMode::TopLeft, restored,
                     Desktop(monitors, On(second)));
    EXPECT_EQ(restored.rect, window.rect) << second.bounds.left;
  }
}

TEST(Placement, ValuesThatCannotBeWrittenAreSkipped) {
  TFastIniFile ini = TFastIniFile::FromText("[MODE]\nkeep=1\n");
  TWindowState window = Designed();
  SavePlacement(ini, "bad=prefix", 5, TRestoreMode::Centered, window, Desktop(kOneScreen));
  EXPECT_EQ(ini.Text(), "[MODE]\r\nkeep=1\r\n");
}

class PlacementFileTest : public ::testing::Test {
 protected:
  platform::TTestFolder folder_{"rbplacement"};
  std::string dir_ = folder_.Path();
  platform::TScopedEnv temp_{platform::TempPathVariable(), dir_};
};

TEST_F(PlacementFileTest, TheViewsFileInTheTempFolder) {
  SetUserModeFolder(TempFolder());
  const std::string file = UserModeFile();
  EXPECT_EQ(file, TempFolder() + "UserMode.INI");
  std::ofstream(file, std::ios::binary) << "[Other]\r\nx=1\r\n";

  TFastIniFile ini(file);
  TWindowState window;
  window.rect = TRect::FromSize(100, 50, 600, 300);
  EXPECT_TRUE(SavePlacement(ini, kPlacementPrefix, -1, TRestoreMode::Centered, window,
                            Desktop(kOneScreen)));
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            "[Other]\r\nx=1\r\n[MODE]\r\ndgdview.Width=600\r\ndgdview.Height=300\r\n"
            "dgdview.Left=100\r\ndgdview.Top=50\r\n");

  TWindowState restored = Designed();
  RestorePlacement(TFastIniFile(file), kPlacementPrefix, -1, TRestoreMode::TopLeft, restored,
                   Desktop(kOneScreen));
  EXPECT_EQ(restored.rect, window.rect);
}

}  // namespace
}  // namespace rb::live
