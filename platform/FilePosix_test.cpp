// Files on POSIX against what other programs there do: advisory locks, FIFOs, and names that the
// file system keeps as UTF-8 bytes. POSIX only: Windows has none of these (its locks are the
// sharing modes that File_test checks, and it stores names as UTF-16).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "platform/File.h"
#include "platform/SysError.h"
#include "platform/TestFolder.h"

namespace platform {
namespace {

class FileTest : public ::testing::Test {
 protected:
  TTestFolder folder_{"rbfile"};
  const std::string dir_ = folder_.Path();
};

TEST_F(FileTest, ForeignFlockDoesNotHangAnOpen) {
  // Regression: a program that keeps an flock() on the file must not block our open forever.
  const std::string path = dir_ + "/flocked.txt";
  File(File::Open(path, FileAccess::kWrite, FileShare::kDenyNone, FileCreate::kCreateAlways));
  const int foreign = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(foreign, 0);
  ASSERT_EQ(::flock(foreign, LOCK_EX), 0);
  File f = File::Open(path, FileAccess::kRead, FileShare::kDenyWrite, FileCreate::kOpenExisting);
  EXPECT_TRUE(f.IsOpen());
  ::close(foreign);
}

TEST_F(FileTest, AFifoDoesNotHoldTheOpenUp) {
  // Regression: a FIFO where a file was expected made the open wait for a writer forever.
  const std::string path = dir_ + "/fifo";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  for (const FileAccess access : {FileAccess::kRead, FileAccess::kWrite}) {
    auto opened = std::async(std::launch::async, [&] {
      File f = File::Open(path, access, FileShare::kDenyNone, FileCreate::kOpenExisting);
      char byte;
      return f.IsOpen() ? f.Read(&byte, 1) : int64_t{-2};
    });
    if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      // Free the waiting open with a partner that comes and goes, so that the test ends.
      ::close(
          ::open(path.c_str(), (access == FileAccess::kRead ? O_WRONLY : O_RDONLY) | O_NONBLOCK));
      opened.wait();
      FAIL() << "the open waited for the other side";
    }
    // Reading without a writer is the end of the data; writing without a reader fails.
    EXPECT_EQ(opened.get(), access == FileAccess::kRead ? 0 : -2);
  }
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
