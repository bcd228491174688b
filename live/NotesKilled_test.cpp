// Saving the notes against a program killed mid-save. POSIX only: the test kills a forked copy
// of itself, and Windows has no fork.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "exchange/TestPipeFolder.h"
#include "live/Notes.h"

namespace rb::live {
namespace {

// A program that dies while saving must leave the old notes or the new ones, never a part.
TEST(Notes, SavingSurvivesBeingKilledAtAnyMoment) {
  const std::string path = TTestPipeFolder::Folder() + "/kill/Rechenmappe/x.txt";
  TNotes a, b;
  for (int i = 0; i < 2000; ++i) {
    a.SetValue("A" + std::to_string(i), std::string(40, 'a'));
    b.SetValue("B" + std::to_string(i), std::string(40, 'b'));
  }
  a.Save(path);
  const auto text_of = [](const TNotes& notes) {
    std::string text;
    for (const auto& line : notes.Lines())
      text += line + "\r\n";
    return text;
  };
  for (int round = 0; round < 20; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) {
        b.Save(path);
        a.Save(path);
      }
    }
    usleep(1000 + 1500 * round);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_TRUE(text == text_of(a) || text == text_of(b)) << "round " << round;
  }
}

}  // namespace
}  // namespace rb::live
