// Copying on POSIX against what its file systems allow: symbolic links and FIFOs. POSIX only:
// neither is something a Windows user's folders hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "platform/FileSystem.h"
#include "platform/SysError.h"
#include "platform/TestFolder.h"

namespace platform {
namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  TTestFolder folder_{"rbfs"};
  const std::string dir_ = folder_.Path();
};

TEST_F(FileSystemTest, CopyOntoItselfKeepsTheFile) {
  // Regression: truncating the target first would empty a source that is the same file.
  WriteBytes(dir_ + "/same", "keep me");
  ASSERT_EQ(::symlink((dir_ + "/same").c_str(), (dir_ + "/alias").c_str()), 0);
  EXPECT_FALSE(CopyFile(dir_ + "/same", dir_ + "/same", false));
  EXPECT_FALSE(CopyFile(dir_ + "/same", dir_ + "/alias", false));
  EXPECT_EQ(ReadBytes(dir_ + "/same"), "keep me");
}

TEST_F(FileSystemTest, CopyFromAFifoDoesNotWaitForAWriter) {
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto copied = std::async(std::launch::async, [&] { return CopyFile(fifo, dir_ + "/dst", true); });
  if (copied.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // frees the waiting open
    copied.wait();
    FAIL() << "the copy waited for a writer";
  }
  EXPECT_TRUE(copied.get());
  EXPECT_EQ(ReadBytes(dir_ + "/dst"), "");
}

}  // namespace
}  // namespace platform
