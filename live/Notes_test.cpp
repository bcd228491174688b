#include "live/Notes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "exchange/TestPipeFolder.h"

namespace rb::live {
namespace {

TEST(Notes, ValuesByName) {
  TNotes notes;
  notes.SetValue("PN", "100");
  notes.SetValue("Kommentar", "a=b");
  notes.SetValue("pn", "200");  // the same name: replaced in place, spelt as given
  EXPECT_EQ(notes.Lines(), (std::vector<std::string>{"pn=200", "Kommentar=a=b"}));
  EXPECT_EQ(notes.Value("KOMMENTAR"), "a=b");
  EXPECT_EQ(notes.Value("P"), "");
  notes.SetValue("PN", "");
  notes.SetValue("PB", "");  // removing a missing name does nothing
  EXPECT_EQ(notes.Lines(), (std::vector<std::string>{"Kommentar=a=b"}));
}

TEST(Notes, FileName) {
  EXPECT_EQ(NotesFileName("/daten/", "{1}"), "/daten/Rechenmappe/{1}.txt");
  for (const char* uid : {"", ".", "..", "a/b", "a\\b"})
    EXPECT_FALSE(IsUsableLinkUid(uid)) << uid;
  EXPECT_FALSE(IsUsableLinkUid(std::string("a\0b", 3)));
  EXPECT_TRUE(IsUsableLinkUid("{6F1C2A9E-3B4D-4E7A-9C15-2D8B7E0F4A21}"));
  EXPECT_TRUE(IsUsableLinkUid("..."));
}

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
