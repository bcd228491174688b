#include "platform/Process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/System.h"
#include "platform/TestFolder.h"

namespace platform {
namespace {

// The system's command interpreter running one command line.
ChildProcess Shell(const std::string& script,
                   const std::vector<std::pair<std::string, std::string>>& env = {}) {
  if (kOnWindows) return ChildProcess::Start("C:\\windows\\system32\\cmd.exe", {"/c", script}, env);
  return ChildProcess::Start("/bin/sh", {"-c", script}, env);
}

// This test program again, running only the helper below: a child that runs for 30 s unless it
// is asked to stop, and then ends with 3, the same on every system.
ChildProcess Sleeper() {
  return ChildProcess::Start(ProgramFolder() + (kOnWindows ? "Process_test.exe" : "Process_test"),
                             {"--gtest_filter=ChildProcessHelper.SleepsWhenAsked"},
                             {{"RB_PROCESS_TEST_SLEEP", "1"}});
}

TEST(ChildProcessHelper, SleepsWhenAsked) {
  if (std::getenv("RB_PROCESS_TEST_SLEEP") == nullptr) return;  // only as a child
  InstallStopHandler();
  for (int i = 0; i < 3000 && !StopRequested(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (StopRequested()) std::exit(3);
}

// As a child: ends with 0 when the arguments after the filter are exactly those listed in
// RB_PROCESS_TEST_ARGS (separated by '|'), else with 4.
TEST(ChildProcessHelper, ChecksItsArguments) {
  const char* expected_text = std::getenv("RB_PROCESS_TEST_ARGS");
  if (expected_text == nullptr) return;  // only as a child
  std::vector<std::string> expected;
  std::string piece;
  for (const char* p = expected_text;; ++p) {
    if (*p == '|' || *p == '\0') {
      expected.push_back(piece);
      piece.clear();
      if (*p == '\0') break;
    } else {
      piece += *p;
    }
  }
  const std::vector<std::string> argv = ::testing::internal::GetArgvs();
  const std::vector<std::string> got(argv.size() > 2 ? argv.begin() + 2 : argv.end(), argv.end());
  std::exit(got == expected ? 0 : 4);
}

// Every argument reaches the child as it was given: on Windows the command line is one text
// that the child's runtime splits again, so blanks, quotes and backslashes must be quoted.
TEST(ChildProcess, ArgumentsArriveUnchanged) {
  const std::vector<std::string> args = {"plain",  "two words", "q\"uote",  "trail\\",
                                         "a\\\"b", "x\\ y\\",   "tab\there"};
  std::string joined;
  for (const std::string& a : args)
    joined += (joined.empty() ? "" : "|") + a;
  std::vector<std::string> command = {"--gtest_filter=ChildProcessHelper.ChecksItsArguments"};
  command.insert(command.end(), args.begin(), args.end());
  ChildProcess child =
      ChildProcess::Start(ProgramFolder() + (kOnWindows ? "Process_test.exe" : "Process_test"),
                          command, {{"RB_PROCESS_TEST_ARGS", joined}});
  ASSERT_TRUE(child.Running());
  EXPECT_EQ(child.Wait(10000), 0);
}

TEST(ChildProcess, ReportsHowTheChildEnded) {
  struct Case {
    const char* name;
    std::string script;
    int code;
  };
  const Case cases[] = {
      {"exit code", "exit 3", 3},
      {"success", "exit 0", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChildProcess child = Shell(c.script);
    ASSERT_TRUE(child.Running());
    EXPECT_EQ(child.Wait(5000), c.code);
    EXPECT_FALSE(child.Running());
  }
  if (!kOnWindows) {  // signals are POSIX's own
    ChildProcess child = Shell("kill -KILL $$");
    EXPECT_EQ(child.Wait(5000), 128 + 9);
  }
}

TEST(ChildProcess, EnvironmentIsSetOnTopOfOurs) {
  const TScopedEnv kept("RB_PROCESS_TEST_KEPT", "1");
  const TScopedEnv set("RB_PROCESS_TEST_SET", "9");
  // The exit code is made of both values: 21 when the one is kept and the other replaced.
  ChildProcess child = Shell(kOnWindows ? "exit %RB_PROCESS_TEST_SET%%RB_PROCESS_TEST_KEPT%"
                                        : "exit $RB_PROCESS_TEST_SET$RB_PROCESS_TEST_KEPT",
                             {{"RB_PROCESS_TEST_SET", "2"}});
  ASSERT_TRUE(child.Running());
  EXPECT_EQ(child.Wait(5000), 21);
}

TEST(ChildProcess, WaitGivesUpInTimeAndStopEndsTheChild) {
  ChildProcess child = Sleeper();
  ASSERT_TRUE(child.Running());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(child.Wait(50), -1);
  // Far below the child's 30 s, with room for a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(child.Running());
  // On Windows the request waits for the child to have set up its stop event; a child under
  // Wine may take longer than the 50 ms above to start.
  bool asked = false;
  for (int i = 0; i < 500 && !(asked = child.RequestStop()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(asked);
  EXPECT_EQ(child.Wait(10000), 3) << "the child saw the request and ended by itself";
  EXPECT_FALSE(child.RequestStop());
}

TEST(ChildProcess, MissingProgramDoesNotRun) {
  ChildProcess child =
      ChildProcess::Start(kOnWindows ? "C:\\no\\such\\program.exe" : "/no/such/program", {});
  EXPECT_FALSE(child.Running());
  EXPECT_EQ(child.Wait(10), -1);
}

TEST(ChildProcess, MovedChildIsOwnedOnce) {
  ChildProcess first = Sleeper();
  ChildProcess second = std::move(first);
  EXPECT_FALSE(first.Running());  // NOLINT: checking the moved-from state
  EXPECT_TRUE(second.Running());
  second.Kill();
  EXPECT_FALSE(second.Running());
}

}  // namespace
}  // namespace platform
