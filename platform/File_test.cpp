#include "platform/File.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/SysError.h"

namespace platform {
namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/rbfileXXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string dir_;
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

TEST_F(FileTest, CodePagePathsAreStoredAsUtf8) {
  const std::string ansi = dir_ + "/M\xFCller.txt";
  File f = File::Open(ansi, FileAccess::kWrite, FileShare::kExclusive, FileCreate::kCreateAlways);
  ASSERT_TRUE(f.IsOpen());
  EXPECT_EQ(::access((dir_ + "/M\xC3\xBCller.txt").c_str(), F_OK), 0);
  EXPECT_EQ(AnsiPathFromNative(NativePath(ansi)), ansi);
  EXPECT_EQ(AnsiPathFromNative("bad\xFF"), "bad\xFF");
}

}  // namespace
}  // namespace platform
