#include "platform/Process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

namespace platform {
namespace {

ChildProcess Shell(const std::string& script,
                   const std::vector<std::pair<std::string, std::string>>& env = {}) {
  return ChildProcess::Start("/bin/sh", {"-c", script}, env);
}

TEST(ChildProcess, ReportsHowTheChildEnded) {
  struct Case {
    const char* name;
    std::string script;
    int code;
  } cases[] = {
      {"exit code", "exit 3", 3},
      {"success", "true", 0},
      {"ended by a signal", "kill -KILL $$", 128 + SIGKILL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChildProcess child = Shell(c.script);
    ASSERT_TRUE(child.Running());
    EXPECT_EQ(child.Wait(5000), c.code);
    EXPECT_FALSE(child.Running());
  }
}

TEST(ChildProcess, EnvironmentIsSetOnTopOfOurs) {
  ::setenv("RB_PROCESS_TEST_KEPT", "kept", 1);
  ::setenv("RB_PROCESS_TEST_SET", "old", 1);
  ChildProcess child =
      Shell("test \"$RB_PROCESS_TEST_KEPT\" = kept && test \"$RB_PROCESS_TEST_SET\" = new",
            {{"RB_PROCESS_TEST_SET", "new"}});
  EXPECT_EQ(child.Wait(5000), 0);
}

TEST(ChildProcess, WaitGivesUpInTimeAndStopEndsTheChild) {
  ChildProcess child = ChildProcess::Start("/bin/sleep", {"30"});
  ASSERT_TRUE(child.Running());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(child.Wait(50), -1);
  // Far below the child's 30 s, with room for a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(child.Running());
  ASSERT_TRUE(child.RequestStop());
  EXPECT_EQ(child.Wait(5000), 128 + SIGTERM);
  EXPECT_FALSE(child.RequestStop());
}

TEST(ChildProcess, MissingProgramDoesNotRun) {
  ChildProcess child = ChildProcess::Start("/no/such/program", {});
  EXPECT_FALSE(child.Running());
  EXPECT_EQ(child.Wait(10), -1);
}

TEST(ChildProcess, MovedChildIsOwnedOnce) {
  ChildProcess first = ChildProcess::Start("/bin/sleep", {"30"});
  ChildProcess second = std::move(first);
  EXPECT_FALSE(first.Running());  // NOLINT: checking the moved-from state
  EXPECT_TRUE(second.Running());
  second.Kill();
  EXPECT_FALSE(second.Running());
}

}  // namespace
}  // namespace platform
