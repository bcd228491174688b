#include "util/IniFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/TestFolder.h"

namespace rb {
namespace {

TEST(IniFile, ReadsLikeTheProfileFunctions) {
  const TIniFile ini = TIniFile::FromText(
      "\xEF\xBB\xBF"
      "top=ignored outside a section\r\n"
      "[Main]\r\n"
      "  Name =  Wert mit Blanks  \r\n"
      "Quoted=\"  kept  \"\n"
      "Single='x'\n"
      "Half=\"open\n"
      "; Name=comment\n"
      "Empty=\n"
      "Name=second\n"
      "no equals sign\n"
      "Eq=a=b\r"
      "[ Other ]\n"
      "Name=other\n"
      "[main]\n"
      "Late=found\n"
      "Umlaut\xE4=\xFC\n");
  struct Row {
    const char* section;
    const char* key;
    const char* expected;
  } rows[] = {
      {"Main", "Name", "Wert mit Blanks"},  // the first occurrence wins
      {"MAIN", "name", "Wert mit Blanks"},
      {"Main", "Quoted", "  kept  "},
      {"Main", "Single", "x"},
      {"Main", "Half", "\"open"},
      {"Main", "Empty", ""},
      {"Main", "Eq", "a=b"},
      {"Other", "Name", "other"},
      {"Main", "Late", "found"},
      {"Main", "UMLAUT\xC4", "\xFC"},
      {"Main", "top", "default"},
      {"Main", "missing", "default"},
      {"None", "Name", "default"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ini.ReadString(row.section, row.key, "default"), row.expected)
        << row.section << "/" << row.key;
  }
  EXPECT_TRUE(ini.ValueExists("Main", "Empty"));
  EXPECT_FALSE(ini.ValueExists("Main", "; Name"));
  EXPECT_TRUE(ini.SectionExists("OTHER"));
  EXPECT_FALSE(ini.SectionExists("Nope"));
}

TEST(IniFile, IntegersAndBooleans) {
  const TIniFile ini = TIniFile::FromText(
      "[N]\nA=42\nB=-7\nC=$1F\nD=0x10\nE=12a\nF=\nG=99999999999\nH= 5 \nI=+3\nJ=--1\nK=$\n"
      "T=2\nZ=0\n");
  struct Row {
    const char* key;
    int expected;
  } rows[] = {
      {"A", 42}, {"B", -7}, {"C", 31}, {"D", 16}, {"E", -1}, {"F", -1},
      {"G", -1}, {"H", 5},  {"I", 3},  {"J", -1}, {"K", -1}, {"X", -1},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ini.ReadInteger("N", row.key, -1), row.expected) << row.key;
  EXPECT_TRUE(ini.ReadBool("N", "T", false));
  EXPECT_FALSE(ini.ReadBool("N", "Z", true));
  EXPECT_TRUE(ini.ReadBool("N", "E", true)) << "garbage keeps the default";
  EXPECT_FALSE(ini.ReadBool("N", "E", false));
}

TEST(IniFile, FilesSavedAsUnicodeAreReadInTheCodePage) {
  // An edited RUZEVED.INI with "VALUE=\u20ac" must give the euro byte, not its UTF-8 bytes.
  const std::string utf8 = "\xEF\xBB\xBF[EUCHAR]\r\nVALUE=\xE2\x82\xAC\r\n";
  EXPECT_EQ(TIniFile::FromText(utf8).ReadString("EUCHAR", "VALUE", ""), "\x80");
  std::string utf16 = "\xFF\xFE";
  for (const char c : std::string("[S]\r\nK=\xFC\r\n")) {
    utf16 += c;
    utf16 += '\0';
  }
  EXPECT_EQ(TIniFile::FromText(utf16).ReadString("S", "K", ""), "\xFC");
}

TEST(IniFile, ReadsAFileAndToleratesAMissingOne) {
  platform::TTestFolder folder("rbini");
  const std::string dir = folder.Path();
  std::ofstream(dir + "/a.ini") << "[S]\r\nK=V\r\n";
  EXPECT_EQ(TIniFile(dir + "/a.ini").ReadString("S", "K", ""), "V");
  EXPECT_EQ(TIniFile(dir + "/none.ini").ReadString("S", "K", "d"), "d");
  EXPECT_EQ(TIniFile(dir).ReadString("S", "K", "d"), "d") << "a folder is no INI file";
}

}  // namespace
}  // namespace rb
