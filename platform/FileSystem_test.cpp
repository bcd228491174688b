#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <span>

#include "platform/SysError.h"
#include "platform/TestFolder.h"

namespace platform {
namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  TTestFolder folder_{"rbfs"};
  const std::string dir_ = folder_.Path();
};

TEST_F(FileSystemTest, AttributesAndTheirErrors) {
  WriteBytes(dir_ + "/f.txt", "x");
  const uint32_t file = GetFileAttributes(dir_ + "/f.txt");
  ASSERT_NE(file, kInvalidFileAttributes);
  EXPECT_EQ(file & kAttrDirectory, 0u);
  EXPECT_NE(GetFileAttributes(dir_) & kAttrDirectory, 0u);
  EXPECT_NE(GetFileAttributes(dir_ + "/") & kAttrDirectory, 0u);

  struct Row {
    const char* name;
    std::string path;
    uint32_t error;
  } rows[] = {
      {"missing file", dir_ + "/none", kErrorFileNotFound},
      {"missing folder on the way", dir_ + "/nodir/none", kErrorPathNotFound},
      {"file used as a folder", dir_ + "/f.txt/x", kErrorPathNotFound},
      {"file named as a folder", dir_ + "/f.txt/", kErrorPathNotFound},
      {"empty name", "", kErrorPathNotFound},
      {"embedded zero", dir_ + std::string("/a\0b", 4), kErrorInvalidName},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(GetFileAttributes(row.path), kInvalidFileAttributes) << row.name;
    EXPECT_EQ(GetLastError(), row.error) << row.name;
  }
}

TEST_F(FileSystemTest, CodePageNamesReachTheFileSystemAsTheirCharacters) {
  // "ü.txt" as the file system spells it (UTF-8 on Linux, UTF-16 on Windows).
  std::ofstream(std::filesystem::path(dir_) / std::filesystem::path(u8"\u00FC.txt")) << "x";
  EXPECT_NE(GetFileAttributes(dir_ + "/\xFC.txt"), kInvalidFileAttributes);
  FoundFile found;
  ASSERT_TRUE(FindFirstFile(dir_ + "/*.txt", found));
  EXPECT_EQ(found.name, "\xFC.txt");
}

TEST_F(FileSystemTest, DeleteFileButNotAFolder) {
  WriteBytes(dir_ + "/f", "x");
  EXPECT_TRUE(DeleteFile(dir_ + "/f"));
  EXPECT_EQ(GetFileAttributes(dir_ + "/f"), kInvalidFileAttributes);
  EXPECT_FALSE(DeleteFile(dir_ + "/f"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(DeleteFile(dir_));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_NE(GetFileAttributes(dir_), kInvalidFileAttributes);
}

TEST_F(FileSystemTest, CreateAndRemoveFolders) {
  EXPECT_TRUE(CreateDirectory(dir_ + "/a/"));
  EXPECT_FALSE(CreateDirectory(dir_ + "/a"));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_FALSE(CreateDirectory(dir_ + "/x/y"));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  WriteBytes(dir_ + "/a/f", "x");
  EXPECT_FALSE(RemoveDirectory(dir_ + "/a"));
  EXPECT_EQ(GetLastError(), kErrorDirNotEmpty);
  ASSERT_TRUE(DeleteFile(dir_ + "/a/f"));
  EXPECT_TRUE(RemoveDirectory(dir_ + "/a"));
}

TEST_F(FileSystemTest, CopyFileCopiesBytes) {
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(i * 7);
  WriteBytes(dir_ + "/src", bytes);
  ASSERT_TRUE(CopyFile(dir_ + "/src", dir_ + "/dst", true));
  EXPECT_EQ(ReadBytes(dir_ + "/dst"), bytes);

  WriteBytes(dir_ + "/small", "abc");
  EXPECT_FALSE(CopyFile(dir_ + "/small", dir_ + "/dst", true));
  EXPECT_EQ(GetLastError(), kErrorFileExists);
  EXPECT_EQ(ReadBytes(dir_ + "/dst"), bytes) << "fail_if_exists must not touch the target";
  EXPECT_TRUE(CopyFile(dir_ + "/small", dir_ + "/dst", false));
  EXPECT_EQ(ReadBytes(dir_ + "/dst"), "abc");

  EXPECT_FALSE(CopyFile(dir_ + "/none", dir_ + "/dst2", false));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(CopyFile(dir_ + "/small", dir_ + "/nodir/dst", false));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
}

TEST_F(FileSystemTest, FindFirstFileMatchesWildcards) {
  WriteBytes(dir_ + "/report.csv", "");
  ASSERT_TRUE(CreateDirectory(dir_ + "/sub"));
  struct Row {
    const char* pattern;
    bool found;
    const char* name;
  };
  const Row rows[] = {
      {"report.csv", true, "report.csv"},
      {"*.csv", true, "report.csv"},
      {"rep?rt.*", true, "report.csv"},
      {"*", true, nullptr},
      {"Report.csv", kOnWindows, "report.csv"},  // Windows names ignore case
      {"report.cs", false, nullptr},
      {"*.txt", false, nullptr},
      {"s*b", true, "sub"},
      {"**t.c*v", true, "report.csv"},
  };
  for (const Row& row : rows) {
    FoundFile found;
    EXPECT_EQ(FindFirstFile(dir_ + "/" + row.pattern, found), row.found) << row.pattern;
    if (row.found && row.name) {
      EXPECT_EQ(found.name, row.name) << row.pattern;
    }
    if (!row.found) {
      EXPECT_EQ(GetLastError(), kErrorFileNotFound) << row.pattern;
    }
  }
  FoundFile found;
  // A '?' at the end of a pattern may match nothing on Windows, as on MS-DOS (Wine differs);
  // elsewhere it is one character.
  if (!kOnWindows) {
    EXPECT_FALSE(FindFirstFile(dir_ + "/report.csv?", found));
  }
  ASSERT_TRUE(FindFirstFile(dir_ + "/sub", found));
  EXPECT_NE(found.attributes & kAttrDirectory, 0u);
  EXPECT_FALSE(FindFirstFile(dir_ + "/nodir/*", found));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
}

TEST_F(FileSystemTest, FullPathNamesAreResolvedByText) {
  namespace fs = std::filesystem;
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_);
  const std::string here = fs::current_path().string();  // dir_ with any link in it resolved
  const std::string parent = here.substr(0, here.find_last_of(kPathDelim));
  struct Row {
    const char* in;
    std::string out;
  };
  const Row posix[] = {
      {"/a/b/c", "/a/b/c"},
      {"/a/./b/../c/", "/a/c/"},
      {"//a///b", "/a/b"},
      {"/a/b/..", "/a"},
      {"/..", "/"},
      {"/../../x", "/x"},
      {"/", "/"},
      {"x", here + "/x"},
      {"x/", here + "/x/"},
      {".", here},
      {"./", here + "/"},
      {"..", parent},
      {"sub/../y/./z", here + "/y/z"},
      {"missing/../../x", parent + "/x"},
      {"...", here + "/..."},  // a name, not a step up
  };
  // A rooted name without a drive is on the current folder's drive.
  const std::string drive = fs::current_path().root_name().string();
  const Row windows[] = {
      {"C:\\a\\b\\c", "C:\\a\\b\\c"},
      {"C:\\a\\.\\b\\..\\c\\", "C:\\a\\c\\"},
      {"C:\\a\\b\\..", "C:\\a"},
      {"C:\\..\\..\\x", "C:\\x"},
      {"C:/a/b", "C:\\a\\b"},
      {"\\a\\b", drive + "\\a\\b"},
      {"x", here + "\\x"},
      {"x\\", here + "\\x\\"},
      {".", here},
      {"..", parent},
      {"sub\\..\\y\\.\\z", here + "\\y\\z"},
      {"missing\\..\\..\\x", parent + "\\x"},
  };
  for (const Row& row : kOnWindows ? std::span<const Row>(windows) : std::span<const Row>(posix))
    EXPECT_EQ(GetFullPathName(row.in), row.out) << row.in;
  EXPECT_EQ(GetFullPathName("M\xFCller"), here + kPathDelim + "M\xFCller")
      << "code-page text stays";
  EXPECT_EQ(GetFullPathName(""), "");
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  fs::current_path(cwd);
}

TEST(UniversalName, NoDriveIsMappedHere) {
  std::string universal = "unchanged";
  EXPECT_FALSE(GetUniversalName(kOnWindows ? "C:\\share\\x" : "/mnt/share/x", universal));
  EXPECT_EQ(GetLastError(), kErrorNotConnected);
  EXPECT_EQ(universal, "unchanged");
}

}  // namespace
}  // namespace platform
