#include "live/FastIniFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/TestFolder.h"
#include "util/Errors.h"
#include "util/Streams.h"
#include "util/TestSupport.h"

namespace rb::live {
namespace {

using platform::ReadBytes;

class FastIniFileTest : public ::testing::Test {
 protected:
  platform::TTestFolder folder_{"rbfastini"};
  const std::string dir_ = folder_.Path();

  static void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
};

TEST(FastIniFile, ReadsSectionsAndKeysWithoutRegardToCase) {
  const TFastIniFile ini = TFastIniFile::FromText(
      "top=outside any section\n"
      "[MODE]\r\n"
      "  dgdview.Width = 700 \r\n"
      "; dgdview.Height=1\r\n"
      "dgdview.Height=abc\n"
      "dgdview.Left=-20\r"
      "dgdview.Top=+5\n"
      "dgdview.Width=800\n"
      "Big=2147483648\n"
      "Hex=$10\n"
      "Sign=--1\n"
      "Empty=\n"
      "\xC4nderung=\xFC\n"
      "[mode]\n"
      "late=found\n");
  struct Row {
    const char* key;
    int expected;
  } integers[] = {
      {"DGDVIEW.WIDTH", 700},  // the first occurrence counts
      {"dgdview.height", -1}, {"dgdview.Left", -20}, {"dgdview.Top", 5}, {"Big", -1},  {"Hex", -1},
      {"Sign", -1},           {"Empty", -1},         {"missing", -1},    {"late", -1},
  };
  for (const Row& row : integers)
    EXPECT_EQ(ini.ReadInteger("Mode", row.key, -1), row.expected) << row.key;
  EXPECT_EQ(ini.ReadString("MODE", "\xE4nderung", "-"), "\xFC");
  EXPECT_EQ(ini.ReadString("mode", "LATE", "-"), "found") << "a repeated section is searched too";
  EXPECT_EQ(ini.ReadString("", "top", "-"), "-");
  EXPECT_EQ(ini.ReadString("MODE", "; dgdview.Height", "-"), "-");
}

TEST(FastIniFile, WritingKeepsEverythingElseInPlace) {
  TFastIniFile ini = TFastIniFile::FromText(
      "; placement of several windows\n"
      "[Other]\n"
      "A = 1\n"
      "\n"
      "[MODE]\n"
      "DGDVIEW.Width=9\n"
      "stray line\n"
      "\n"
      "[Last]\n"
      "Z=26");
  ini.WriteInteger("mode", "dgdview.width", 600);
  ini.WriteInteger("MODE", "dgdview.Height", -5);
  ini.WriteString("New", "Key", "  value  ");
  EXPECT_EQ(ini.Text(),
            "; placement of several windows\r\n"
            "[Other]\r\n"
            "A = 1\r\n"
            "\r\n"
            "[MODE]\r\n"
            "DGDVIEW.Width=600\r\n"
            "stray line\r\n"
            "dgdview.Height=-5\r\n"
            "\r\n"
            "[Last]\r\n"
            "Z=26\r\n"
            "[New]\r\n"
            "Key=value\r\n");
  EXPECT_EQ(ini.ReadInteger("MODE", "DGDVIEW.HEIGHT", 0), -5);
}

TEST(FastIniFile, RefusesEntriesThatWouldNotReadBack) {
  struct Row {
    const char* name;
    const char* section;
    const char* key;
    const char* value;
  } rows[] = {
      {"line break in value", "MODE", "k", "1\r\n[Other]"},
      {"line feed in key", "MODE", "k\nx", "1"},
      {"equals sign in key", "MODE", "a=b", "1"},
      {"empty key", "MODE", "", "1"},
      {"key like a section", "MODE", "[x", "1"},
      {"key like a comment", "MODE", ";x", "1"},
      {"key with blanks around", "MODE", " k", "1"},
      {"bracket in section", "MO]DE", "k", "1"},
      {"empty section", "", "k", "1"},
  };
  for (const Row& row : rows) {
    TFastIniFile ini = TFastIniFile::FromText("[MODE]\nk=0\n");
    EXPECT_THROW(ini.WriteString(row.section, row.key, row.value), Exception) << row.name;
    EXPECT_EQ(ini.Text(), "[MODE]\r\nk=0\r\n") << row.name;
  }
}

TEST_F(FastIniFileTest, RoundTripThroughTheFile) {
  const std::string path = dir_ + "/UserMode.INI";
  WriteBytes(path, "\xEF\xBB\xBF[MODE]\nx.Width=5\n[Keep]\nb=\xC3\xA4\n");
  TFastIniFile ini(path);
  EXPECT_EQ(ini.FileName(), path);
  EXPECT_EQ(ini.ReadInteger("MODE", "x.Width", 0), 5);
  ini.WriteInteger("MODE", "x.Width", 6);
  ini.UpdateFile();
  EXPECT_EQ(ReadBytes(path), "[MODE]\r\nx.Width=6\r\n[Keep]\r\nb=\xE4\r\n")
      << "UTF-8 with a byte order mark is read into the code page and written in it";
}

TEST_F(FastIniFileTest, MissingFileIsEmptyAndIsCreated) {
  const std::string path = dir_ + "/UserMode.INI";
  TFastIniFile ini(path);
  EXPECT_EQ(ini.Text(), "");
  ini.WriteInteger("MODE", "dgdview.Top", 3);
  ini.UpdateFile();
  EXPECT_EQ(ReadBytes(path), "[MODE]\r\ndgdview.Top=3\r\n");
}

TEST_F(FastIniFileTest, UnreadableFileIsEmptyButNotOverwritten) {
  // Writing back only our own keys would wipe out every entry we could not read.
  const std::string path = dir_ + "/UserMode.INI";
  WriteBytes(path, "[Other]\r\nA=1\r\n");
  TFastIniFile ini = [&] {
    TFileStream holder(path, fmOpenRead | fmShareExclusive);
    return TFastIniFile(path);
  }();
  EXPECT_EQ(ini.ReadString("Other", "A", "-"), "-");
  ini.WriteInteger("MODE", "x", 1);
  const std::string error = ErrorText<EFOpenError>([&] { ini.UpdateFile(); });
  EXPECT_NE(error.find("Cannot open file"), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(path), "[Other]\r\nA=1\r\n");
}

TEST_F(FastIniFileTest, FileThatCannotBeCreatedRaises) {
  TFastIniFile in_missing_folder(dir_ + "/missing/UserMode.INI");
  const std::string error = ErrorText<EFCreateError>([&] { in_missing_folder.UpdateFile(); });
  EXPECT_NE(error.find("Cannot create file \"" + dir_ + "/missing/UserMode.INI\""),
            std::string::npos)
      << error;
  EXPECT_THROW(TFastIniFile().UpdateFile(), EFCreateError) << "no name, nothing to create";
}

}  // namespace
}  // namespace rb::live
