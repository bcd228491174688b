// The parts of the system layer that exist on POSIX only: the time zone from TZ, and the
// private temporary folder the program makes and checks itself (owner, mode 0700, no symbolic
// link), with the presence marker that lives in it. Windows has its own time-zone settings and
// gives every account a temporary folder behind its access list; its marker is a named mutex.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <set>

#include "platform/SysError.h"
#include "platform/System.h"
#include "platform/TempPath_posix.h"
#include "platform/TestFolder.h"

namespace platform {
namespace {
TEST(Clock, LocalNowFollowsTheTimeZone) {
  using namespace std::chrono;
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
  const auto utc = LocalNow();
  ::setenv("TZ", "XYZ-5", 1);  // five hours east of UTC
  ::tzset();
  const auto east = LocalNow();
  if (old) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  EXPECT_LT(abs(east - utc - hours(5)), seconds(2));
}

class PrivateFolderTest : public ::testing::Test {
 protected:
  TTestFolder folder_{"rbsys"};
  const std::string base_ = folder_.Path();
  const uint32_t uid_ = static_cast<uint32_t>(::geteuid());
};

TEST(ChoosePrivateTempFolder, PrefersTheRuntimeFolderThenTmpDir) {
  struct Row {
    const char* name;
    const char* runtime_dir;
    const char* tmp_dir;
    std::string expected;
  } rows[] = {
      {"runtime folder", "/run/user/7", "/var/tmp", "/run/user/7/"},
      {"runtime folder with slash", "/run/user/7/", nullptr, "/run/user/7/"},
      {"empty runtime folder", "", "/var/tmp", "/var/tmp/ratenblick-7/"},
      {"relative runtime folder is ignored", "run", "/var/tmp/", "/var/tmp/ratenblick-7/"},
      {"nothing set", nullptr, nullptr, "/tmp/ratenblick-7/"},
      {"empty tmpdir", nullptr, "", "/tmp/ratenblick-7/"},
      {"relative tmpdir is ignored", nullptr, "tmp", "/tmp/ratenblick-7/"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ChoosePrivateTempFolder(row.runtime_dir, row.tmp_dir, 7), row.expected) << row.name;
  }
}

TEST_F(PrivateFolderTest, MissingFolderIsCreatedPrivate) {
  const std::string dir = base_ + "/ratenblick-x/";
  EXPECT_EQ(EnsurePrivateFolder(dir, uid_), kErrorSuccess);
  struct stat st {};
  ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A second call accepts what the first made.
  EXPECT_EQ(EnsurePrivateFolder(dir, uid_), kErrorSuccess);
}

TEST_F(PrivateFolderTest, UntrustedFoldersAreRefused) {
  // Each is a place where another local user could plant or swap our files.
  const std::string open_dir = base_ + "/open";
  ASSERT_EQ(::mkdir(open_dir.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(open_dir.c_str(), 0777), 0);
  EXPECT_EQ(EnsurePrivateFolder(open_dir, uid_), kErrorAccessDenied) << "world-writable";

  const std::string group_dir = base_ + "/group";
  ASSERT_EQ(::mkdir(group_dir.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(group_dir.c_str(), 0770), 0);
  EXPECT_EQ(EnsurePrivateFolder(group_dir + "/", uid_), kErrorAccessDenied) << "group-writable";

  const std::string good = base_ + "/good";
  ASSERT_EQ(::mkdir(good.c_str(), 0700), 0);
  const std::string link = base_ + "/link";
  ASSERT_EQ(::symlink(good.c_str(), link.c_str()), 0);
  EXPECT_EQ(EnsurePrivateFolder(link + "/", uid_), kErrorAccessDenied) << "symbolic link";

  EXPECT_EQ(EnsurePrivateFolder(good, uid_ + 1), kErrorAccessDenied) << "owned by another user";
  EXPECT_EQ(EnsurePrivateFolder(good, uid_), kErrorSuccess);

  const std::string file = base_ + "/file";
  ASSERT_EQ(std::system(("touch '" + file + "'").c_str()), 0);
  EXPECT_EQ(EnsurePrivateFolder(file, uid_), kErrorDirectory) << "not a folder";
  EXPECT_EQ(EnsurePrivateFolder(file + "/sub", uid_), kErrorPathNotFound) << "parent is a file";

  // Made by a generic folder creation (mkdir -p, mode 0755): readable by all, never private.
  const std::string generic = base_ + "/generic";
  ASSERT_EQ(::mkdir(generic.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(generic.c_str(), 0755), 0);
  EXPECT_EQ(EnsurePrivateFolder(generic, uid_), kErrorAccessDenied) << "readable by others";
}

// A private folder whose parents were missing was once left uncreated; a later generic folder
// creation made the chain with mode 0755, which was then taken as private.
TEST_F(PrivateFolderTest, MissingParentsAreCreatedAndTheFolderIsPrivate) {
  struct Case {
    const char* name;
    std::string folder;
  } cases[] = {
      {"one missing parent", base_ + "/none/sub/"},
      {"three missing parents", base_ + "/a/b/c/private"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EnsurePrivateFolder(c.folder, uid_), kErrorSuccess);
    struct stat st {};
    ASSERT_EQ(::lstat(c.folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
}

TEST_F(PrivateFolderTest, ForeignOwnerIsRefusedWhenOwnershipCanBeGiven) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the folder away";
  const std::string dir = base_ + "/foreign";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(::chown(dir.c_str(), 12345, 12345), 0);
  EXPECT_EQ(EnsurePrivateFolder(dir, 0), kErrorAccessDenied);
}

class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    const char* v = std::getenv(name);
    had_ = v != nullptr;
    if (had_) value_ = v;
  }
  ~EnvGuard() {
    if (had_) {
      ::setenv(name_, value_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string value_;
};

TEST_F(PrivateFolderTest, GetTempPathUsesAndChecksTheEnvironment) {
  EnvGuard runtime("XDG_RUNTIME_DIR"), tmp("TMPDIR");
  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("TMPDIR", base_.c_str(), 1);
  std::string path;
  ASSERT_TRUE(GetTempPath(path));
  EXPECT_EQ(path, base_ + "/ratenblick-" + std::to_string(uid_) + "/");

  const std::string runtime_dir = base_ + "/run";
  ASSERT_EQ(::mkdir(runtime_dir.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(runtime_dir.c_str(), 0777), 0);
  ::setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
  EXPECT_FALSE(GetTempPath(path));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(path, runtime_dir + "/") << "the refused folder is named for the message";

  ASSERT_EQ(::chmod(runtime_dir.c_str(), 0700), 0);
  EXPECT_TRUE(GetTempPath(path));
  EXPECT_EQ(path, runtime_dir + "/");
}

TEST_F(PrivateFolderTest, PresenceMarkerIsSeenByAnotherProcess) {
  EnvGuard runtime("XDG_RUNTIME_DIR");
  ::setenv("XDG_RUNTIME_DIR", base_.c_str(), 1);
  ASSERT_EQ(::chmod(base_.c_str(), 0700), 0);
  auto child_sees_marker = [] {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(PresenceMarker::IsPresent(kPresenceMarkerName) ? 1 : 0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
  };
  EXPECT_FALSE(child_sees_marker());
  PresenceMarker marker(kPresenceMarkerName);
  ASSERT_TRUE(marker.Held());
  EXPECT_TRUE(child_sees_marker());
}

TEST_F(PrivateFolderTest, PresenceMarkerIsNotHeldInAnUntrustedFolder) {
  EnvGuard runtime("XDG_RUNTIME_DIR");
  ::setenv("XDG_RUNTIME_DIR", base_.c_str(), 1);
  ASSERT_EQ(::chmod(base_.c_str(), 0777), 0);
  PresenceMarker marker(kPresenceMarkerName);
  EXPECT_FALSE(marker.Held());
}

}  // namespace
}  // namespace platform
