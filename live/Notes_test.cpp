#include "live/Notes.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/File.h"

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
  const std::string d(1, platform::kPathDelim);
  EXPECT_EQ(NotesFileName(d + "daten" + d, "{1}"), d + "daten" + d + "Rechenmappe" + d + "{1}.txt");
  for (const char* uid : {"", ".", "..", "a/b", "a\\b"})
    EXPECT_FALSE(IsUsableLinkUid(uid)) << uid;
  EXPECT_FALSE(IsUsableLinkUid(std::string("a\0b", 3)));
  EXPECT_TRUE(IsUsableLinkUid("{6F1C2A9E-3B4D-4E7A-9C15-2D8B7E0F4A21}"));
  EXPECT_TRUE(IsUsableLinkUid("..."));
}

}  // namespace
}  // namespace rb::live
