#include "platform/System.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>

#include "platform/SysError.h"
#include "platform/TestFolder.h"

namespace platform {
namespace {

TEST(Guid, TextFormsHaveTheWindowsLayout) {
  Guid g;
  g.data1 = 0x0123ABCD;
  g.data2 = 0x00EF;
  g.data3 = 0x4A5B;
  g.data4 = {0x8C, 0x0D, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
  EXPECT_EQ(g.ToString(), "{0123ABCD-00EF-4A5B-8C0D-0123456789AB}");
  EXPECT_EQ(g.ToText36(), "0123ABCD-00EF-4A5B-8C0D-0123456789AB");
}

TEST(Guid, NewGuidsAreRandomVersionFour) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const Guid g = NewGuid();
    const std::string text = g.ToText36();
    ASSERT_EQ(text.size(), 36u);
    for (size_t k = 0; k < text.size(); ++k) {
      if (k == 8 || k == 13 || k == 18 || k == 23) {
        EXPECT_EQ(text[k], '-');
      } else {
        EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(text[k])) &&
                    !std::islower(static_cast<unsigned char>(text[k])))
            << text;
      }
    }
    EXPECT_EQ(text[14], '4') << text;
    EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(Clock, SleepWaitsAndTicksAdvance) {
  // Windows' tick count moves in steps of the system timer, about 16 ms; the sleep itself is
  // measured with the finer steady clock.
  const uint32_t step = kOnWindows ? 16 : 0;
  const auto steady = std::chrono::steady_clock::now();
  const uint64_t start = GetTickCount64();
  const uint32_t start32 = GetTickCount();
  Sleep(30);
  EXPECT_GE(std::chrono::steady_clock::now() - steady, std::chrono::milliseconds(30));
  const uint64_t elapsed = GetTickCount64() - start;
  EXPECT_GE(elapsed, 30u - step);
  EXPECT_LT(elapsed, 2000u);
  EXPECT_GE(static_cast<uint32_t>(GetTickCount() - start32), 30u - step);
}

TEST(Clock, LocalNowIsTheWallClockInTheTimeZone) {
  using namespace std::chrono;
  // Independent route: the C library's broken-down local time of this second.
  const time_t t = std::time(nullptr);
  const tm local = *std::localtime(&t);
  const local_days date{year{local.tm_year + 1900} / month{unsigned(local.tm_mon + 1)} /
                        day{unsigned(local.tm_mday)}};
  const local_time<seconds> expected =
      date + hours{local.tm_hour} + minutes{local.tm_min} + seconds{local.tm_sec};
  EXPECT_LT(abs(LocalNow() - expected), seconds(3));
}

TEST(ProgramFolder, IsTheFolderOfThisExecutable) {
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), kPathDelim);
  EXPECT_TRUE(std::filesystem::exists(folder + (kOnWindows ? "System_test.exe" : "System_test")))
      << folder;
}

TEST(PresenceMarker, IsVisibleWhileHeld) {
  TTestFolder folder("rbmarker");
  const TScopedEnv temp(TempPathVariable(), folder.Path());
  EXPECT_FALSE(PresenceMarker::IsPresent(kPresenceMarkerName));
  {
    PresenceMarker first(kPresenceMarkerName);
    ASSERT_TRUE(first.Held());
    EXPECT_TRUE(PresenceMarker::IsPresent(kPresenceMarkerName));
    {
      PresenceMarker second(kPresenceMarkerName);  // a second copy of the program
      EXPECT_TRUE(second.Held());
    }
    EXPECT_TRUE(PresenceMarker::IsPresent(kPresenceMarkerName)) << "first copy still runs";
    EXPECT_FALSE(PresenceMarker::IsPresent("Global\\other"));
  }
  EXPECT_FALSE(PresenceMarker::IsPresent(kPresenceMarkerName));
}

}  // namespace
}  // namespace platform
