#include "platform/File.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/SysError.h"
#include "platform/TestFolder.h"

namespace platform {
namespace {

class FileTest : public ::testing::Test {
 protected:
  TTestFolder folder_{"rbfile"};
  const std::string dir_ = folder_.Path();
};

TEST_F(FileTest, MissingFileAndMissingFolderGiveDifferentCodes) {
  File f = File::Open(dir_ + "/none", FileAccess::kRead, FileShare::kDenyNone,
                      FileCreate::kOpenExisting);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  f = File::Open(dir_ + "/nodir/none", FileAccess::kRead, FileShare::kDenyNone,
                 FileCreate::kOpenExisting);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
}

TEST_F(FileTest, WriteSeekReadTruncate) {
  const std::string path = dir_ + "/a.bin";
  {
    File f =
        File::Open(path, FileAccess::kReadWrite, FileShare::kExclusive, FileCreate::kCreateAlways);
    ASSERT_TRUE(f.IsOpen());
    EXPECT_EQ(f.Write("hello world", 11), 11);
    EXPECT_EQ(f.Size(), 11);
    EXPECT_EQ(f.Seek(5, SeekOrigin::kBegin), 5);
    EXPECT_TRUE(f.SetEnd());
    EXPECT_EQ(f.Size(), 5);
    EXPECT_EQ(f.Seek(-10, SeekOrigin::kCurrent), -1);
  }
  File f = File::Open(path, FileAccess::kRead, FileShare::kDenyWrite, FileCreate::kOpenExisting);
  char buf[16] = {};
  EXPECT_EQ(f.Read(buf, sizeof buf), 5);
  EXPECT_EQ(std::string(buf), "hello");
  EXPECT_EQ(f.Read(buf, sizeof buf), 0);
}

TEST_F(FileTest, SharingModesConflictLikeWindows) {
  const std::string path = dir_ + "/s.txt";
  File owner =
      File::Open(path, FileAccess::kReadWrite, FileShare::kExclusive, FileCreate::kCreateAlways);
  ASSERT_TRUE(owner.IsOpen());
  File other =
      File::Open(path, FileAccess::kRead, FileShare::kDenyWrite, FileCreate::kOpenExisting);
  EXPECT_FALSE(other.IsOpen());
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  owner.Close();
  File r1 = File::Open(path, FileAccess::kRead, FileShare::kDenyWrite, FileCreate::kOpenExisting);
  File r2 = File::Open(path, FileAccess::kRead, FileShare::kDenyWrite, FileCreate::kOpenExisting);
  EXPECT_TRUE(r1.IsOpen());
  EXPECT_TRUE(r2.IsOpen());
}

TEST_F(FileTest, SharingFollowsTheWindowsConflictRules) {
  using A = FileAccess;
  using S = FileShare;
  struct Row {
    const char* name;
    A first_access;
    S first_share;
    A second_access;
    S second_share;
    bool second_opens;
  } rows[] = {
      {"exclusive keeps a deny-none reader out", A::kReadWrite, S::kExclusive, A::kRead,
       S::kDenyNone, false},
      {"deny-write reader keeps a writer out", A::kRead, S::kDenyWrite, A::kWrite, S::kDenyNone,
       false},
      {"writer keeps a deny-write reader out", A::kWrite, S::kDenyNone, A::kRead, S::kDenyWrite,
       false},
      {"deny-read holder keeps a reader out", A::kRead, S::kDenyRead, A::kRead, S::kDenyNone,
       false},
      {"deny-none readers share", A::kRead, S::kDenyNone, A::kRead, S::kDenyNone, true},
      {"deny-write readers share", A::kRead, S::kDenyWrite, A::kRead, S::kDenyWrite, true},
      {"deny-none writers share", A::kReadWrite, S::kDenyNone, A::kWrite, S::kDenyNone, true},
      {"reader lets a deny-write writer in", A::kRead, S::kDenyNone, A::kWrite, S::kDenyWrite,
       true},
      {"deny-read writers share writing", A::kWrite, S::kDenyRead, A::kWrite, S::kDenyNone, true},
      {"exclusive after a reader fails", A::kRead, S::kDenyNone, A::kRead, S::kExclusive, false},
  };
  const std::string path = dir_ + "/share.txt";
  File(File::Open(path, A::kWrite, S::kDenyNone, FileCreate::kCreateAlways));
  for (const Row& row : rows) {
    File first = File::Open(path, row.first_access, row.first_share, FileCreate::kOpenExisting);
    ASSERT_TRUE(first.IsOpen()) << row.name;
    File second = File::Open(path, row.second_access, row.second_share, FileCreate::kOpenExisting);
    EXPECT_EQ(second.IsOpen(), row.second_opens) << row.name;
    if (!row.second_opens) {
      EXPECT_EQ(GetLastError(), kErrorSharingViolation) << row.name;
    }
    second.Close();
    first.Close();
    // Closing releases everything: an exclusive open succeeds again.
    EXPECT_TRUE(File::Open(path, A::kReadWrite, S::kExclusive, FileCreate::kOpenExisting).IsOpen())
        << row.name;
  }
}

TEST_F(FileTest, CreateAlwaysDoesNotTruncateALockedFile) {
  const std::string path = dir_ + "/keep.txt";
  File owner =
      File::Open(path, FileAccess::kReadWrite, FileShare::kDenyWrite, FileCreate::kCreateAlways);
  ASSERT_EQ(owner.Write("data", 4), 4);
  File second =
      File::Open(path, FileAccess::kReadWrite, FileShare::kExclusive, FileCreate::kCreateAlways);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(owner.Size(), 4);
}

TEST_F(FileTest, OpenFailsOnAFolder) {
  const File f =
      File::Open(dir_, FileAccess::kRead, FileShare::kDenyNone, FileCreate::kOpenExisting);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
}

TEST_F(FileTest, CodePagePathsNameTheSameFileOnDisk) {
  // The 8-bit name reaches the file system as its character, whatever the system stores.
  const std::string ansi = dir_ + "/M\xFCller.txt";
  File f = File::Open(ansi, FileAccess::kWrite, FileShare::kExclusive, FileCreate::kCreateAlways);
  ASSERT_TRUE(f.IsOpen());
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir_) /
                                      std::filesystem::path(u8"M\u00FCller.txt")));
  EXPECT_EQ(AnsiPathFromNative(NativePath(ansi)), ansi);
}

}  // namespace
}  // namespace platform
