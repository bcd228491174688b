// The user's temporary folder on POSIX, where the program itself makes it private (owner,
// mode 0700, no symbolic link). POSIX only: on Windows the system gives every account a
// temporary folder of its own behind its access list, and there are no modes to check.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "platform/TestFolder.h"
#include "util/Errors.h"
#include "util/Files.h"

namespace rb {
namespace {

using platform::ReadBytes;
using platform::WriteBytes;

class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    if (const char* v = std::getenv(name)) value_ = v;
  }
  ~EnvGuard() {
    if (value_) {
      ::setenv(name_, value_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> value_;
};

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", dir_.c_str(), 1);
  }
  EnvGuard runtime_{"XDG_RUNTIME_DIR"};
  EnvGuard tmp_{"TMPDIR"};
  platform::TTestFolder folder_{"rbfiles"};
  const std::string dir_ = folder_.Path();
};

TEST_F(FilesTest, TempFolderIsMadeInThePrivateFolder) {
  const std::string expected = dir_ + "/ratenblick-" + std::to_string(::geteuid()) + "/KXTempDir/";
  EXPECT_EQ(TempFolder(), expected);
  EXPECT_TRUE(DirectoryExists(expected));
  EXPECT_EQ(TempFolder("XCURSOR"), expected + "XCURSOR/");
  EXPECT_TRUE(DirectoryExists(expected + "XCURSOR"));
  EXPECT_EQ(TempFolder("XCURSOR/"), expected + "XCURSOR/");
}

TEST_F(FilesTest, UntrustedTempFolderIsRefusedWithItsName) {
  const std::string runtime_dir = dir_ + "/run";
  ASSERT_EQ(::mkdir(runtime_dir.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(runtime_dir.c_str(), 0757), 0);
  ::setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
  try {
    TempFolder();
    FAIL() << "an other-writable temporary folder was used";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 5u);
    EXPECT_NE(std::string(e.what()).find(runtime_dir + "/"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(DirectoryExists(runtime_dir + "/KXTempDir"));
  EXPECT_THROW(UniqueTempFileName(), EOSError);
}

TEST_F(FilesTest, TempFolderThatIsAFileIsRefused) {
  const std::string file = dir_ + "/not-a-folder";
  WriteBytes(file, "x");
  ::setenv("XDG_RUNTIME_DIR", file.c_str(), 1);
  try {
    TempFolder();
    FAIL() << "a file was taken as the temporary folder";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 267u);
  }
  EXPECT_EQ(ReadBytes(file), "x");
}

// A private folder whose parents were missing was once left uncreated while TempFolder still
// returned its name; SaveListRetry then made the chain with ordinary rights (0755), and the next
// TempFolder took that for private.
TEST_F(FilesTest, TempFolderWithMissingParentsIsMadePrivate) {
  const std::string uid = std::to_string(::geteuid());
  struct Case {
    const char* name;
    const char* variable;
    std::string value;
    std::string private_folder;
  } cases[] = {
      {"TMPDIR with a missing parent", "TMPDIR", dir_ + "/missing/tmp",
       dir_ + "/missing/tmp/ratenblick-" + uid},
      {"runtime folder with missing parents", "XDG_RUNTIME_DIR", dir_ + "/run/a/b",
       dir_ + "/run/a/b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EnvGuard runtime("XDG_RUNTIME_DIR");
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv(c.variable, c.value.c_str(), 1);
    const std::string folder = TempFolder();
    EXPECT_EQ(folder, c.private_folder + "/KXTempDir/");
    struct stat st {};
    ASSERT_EQ(::stat(c.private_folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(DirectoryExists(folder));
    SaveListRetry({"x"}, folder + "probe.txt");
    EXPECT_EQ(TempFolder(), folder);
  }
}

TEST_F(FilesTest, FolderMadeByTheGenericCreationIsNeverTakenAsPrivate) {
  const mode_t old_mask = ::umask(022);
  const std::string runtime_dir = dir_ + "/generic/run";
  ASSERT_TRUE(ForceDirectories(runtime_dir));  // 0755, as SaveListRetry would make it
  ::umask(old_mask);
  EnvGuard runtime("XDG_RUNTIME_DIR");
  ::setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
  try {
    TempFolder();
    FAIL() << "a folder readable by others was taken as private";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 5u);
  }
  EXPECT_FALSE(DirectoryExists(runtime_dir + "/KXTempDir"));
}

}  // namespace
}  // namespace rb
