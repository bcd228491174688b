#include "util/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/SysError.h"
#include "platform/System.h"
#include "platform/TestFolder.h"
#include "util/Errors.h"

namespace rb {
namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A policy that never waits but counts the pauses, and may act on the n-th pause.
struct CountingPolicy {
  int pauses = 0;
  std::function<void(int)> on_pause;
  RetryPolicy Make(int attempts = 100) {
    RetryPolicy p;
    p.attempts = attempts;
    p.sleep = [this](uint32_t ms) {
      EXPECT_EQ(ms, 100u);
      ++pauses;
      if (on_pause) on_pause(pauses);
    };
    return p;
  }
};

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
    // Every test gets its own private temporary folder.
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", dir_.c_str(), 1);
  }
  EnvGuard runtime_{"XDG_RUNTIME_DIR"};
  EnvGuard tmp_{"TMPDIR"};
  platform::TTestFolder folder_{"rbfiles"};
  const std::string dir_ = folder_.Path();
};

TEST(ElfHash, MatchesTheSymbolTableHash) {
  struct Row {
    const char* text;
    uint32_t hash;
  } rows[] = {
      {"", 0},
      {"a", 97},
      {"ab", 97 * 16 + 98},
      {"printf", 0x077905A6},  // the classic ELF example value
      {"exit", 0x0006CF04},
      {"ABCDEFGHIJ", 0x089EEAAA},  // long enough for the top bits to fold back
      {"12345678-9ABC-4DEF-8123-456789ABCDEF", 0x08954506},
      // Bytes above 0x7F count unsigned.
      {"\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 0x00010FEF},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ElfHash(row.text), row.hash) << row.text;
}

TEST(IncludePathDelimiter, AppendsTheDelimiterOnce) {
  struct Row {
    const char* in;
    const char* out;
  } rows[] = {
      {"", ""},        {"/", "/"}, {"/data", "/data/"}, {"/data/", "/data/"},
      {"C", "C/"},  // no drive letters here
      {"rel", "rel/"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(IncludePathDelimiter(row.in), row.out) << row.in;
}

TEST(FileExistsFromAttributes, FollowsTheErrorRules) {
  using namespace platform;
  struct Row {
    const char* name;
    uint32_t attributes;
    uint32_t error;
    bool search_result;
    bool expected;
    bool searched;
  } rows[] = {
      {"plain file", kAttrNormal, 0, false, true, false},
      {"read-only file", kAttrReadOnly, 0, false, true, false},
      {"folder", kAttrDirectory, 0, true, false, false},
      {"file not found", kInvalidFileAttributes, kErrorFileNotFound, true, false, false},
      {"path not found", kInvalidFileAttributes, kErrorPathNotFound, true, false, false},
      {"invalid name", kInvalidFileAttributes, kErrorInvalidName, true, false, false},
      {"sharing violation", kInvalidFileAttributes, kErrorSharingViolation, false, true, false},
      {"access denied, found", kInvalidFileAttributes, kErrorAccessDenied, true, true, true},
      {"access denied, not found", kInvalidFileAttributes, kErrorAccessDenied, false, false, true},
  };
  for (const Row& row : rows) {
    bool searched = false;
    const bool result = FileExistsFromAttributes(row.attributes, row.error, [&] {
      searched = true;
      return row.search_result;
    });
    EXPECT_EQ(result, row.expected) << row.name;
    EXPECT_EQ(searched, row.searched) << row.name;
  }
}

TEST_F(FilesTest, FileAndFolderExistence) {
  WriteBytes(dir_ + "/f", "x");
  EXPECT_TRUE(FileExists(dir_ + "/f"));
  EXPECT_FALSE(FileExists(dir_));
  EXPECT_FALSE(FileExists(dir_ + "/none"));
  EXPECT_FALSE(FileExists(dir_ + "/none/f"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_TRUE(DirectoryExists(dir_));
  EXPECT_TRUE(DirectoryExists(dir_ + "/"));
  EXPECT_FALSE(DirectoryExists(dir_ + "/f"));
  EXPECT_FALSE(DirectoryExists(dir_ + "/none"));
}

TEST_F(FilesTest, ForceDirectoriesMakesAllParents) {
  EXPECT_TRUE(ForceDirectories(dir_ + "/a/b/c/"));
  EXPECT_TRUE(DirectoryExists(dir_ + "/a/b/c"));
  EXPECT_TRUE(ForceDirectories(dir_ + "/a/b//"));
  EXPECT_TRUE(ForceDirectories("/"));
  WriteBytes(dir_ + "/file", "x");
  EXPECT_FALSE(ForceDirectories(dir_ + "/file/sub"));
  EXPECT_FALSE(DirectoryExists(dir_ + "/file/sub"));
}

TEST_F(FilesTest, ForceDirectoriesOfNothingRaisesCode3) {
  try {
    ForceDirectories("");
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 3);
    EXPECT_STREQ(e.what(), "Verzeichnis kann nicht erstellt werden");
  }
}

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

TEST_F(FilesTest, UniqueTempFileNamesAreHashedGuids) {
  const std::string folder = TempFolder();
  const std::string a = UniqueTempFileName();
  const std::string b = UniqueTempFileName();
  EXPECT_NE(a, b);
  for (const std::string& name : {a, b}) {
    ASSERT_EQ(name.compare(0, folder.size(), folder), 0) << name;
    const std::string tail = name.substr(folder.size());
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.find_first_not_of("0123456789"), std::string::npos) << tail;
    // The ELF hash clears its top four bits, so the number stays below 2^28.
    EXPECT_LT(std::stoull(tail), 1ull << 28) << tail;
    EXPECT_FALSE(FileExists(name)) << "the file must not be created";
  }
}

TEST_F(FilesTest, DeleteFileRetry) {
  CountingPolicy counting;
  EXPECT_TRUE(DeleteFileRetry(dir_ + "/none", counting.Make()));
  EXPECT_EQ(counting.pauses, 0) << "a missing file is gone at once";

  WriteBytes(dir_ + "/f", "x");
  EXPECT_TRUE(DeleteFileRetry(dir_ + "/f", counting.Make()));
  EXPECT_FALSE(FileExists(dir_ + "/f"));
  EXPECT_EQ(counting.pauses, 0);
}

TEST_F(FilesTest, DeleteFileRetryWaitsForALockedFileThenGivesUp) {
  // No user, not even root, may delete a file of /proc: a lock that never ends.
  ASSERT_TRUE(FileExists("/proc/self/status"));
  CountingPolicy counting;
  EXPECT_FALSE(DeleteFileRetry("/proc/self/status", counting.Make()));
  EXPECT_EQ(counting.pauses, 99) << "the attempts must span the whole waiting time";
}

TEST_F(FilesTest, SaveAndLoadListRoundTrip) {
  const std::vector<std::string> lines = {"PN=1234,5", "", "PB=\xFC\x80", "last"};
  const std::string path = dir_ + "/new/folder/notes.txt";
  SaveListRetry(lines, path);
  EXPECT_EQ(ReadBytes(path), "PN=1234,5\r\n\r\nPB=\xFC\x80\r\nlast\r\n");
  std::vector<std::string> loaded = {"old"};
  LoadListRetry(loaded, path);
  EXPECT_EQ(loaded, lines);

  SaveListRetry({}, path);
  EXPECT_EQ(ReadBytes(path), "");
  LoadListRetry(loaded, path);
  EXPECT_TRUE(loaded.empty());
}

TEST_F(FilesTest, LoadListReadsAnyLineBreak) {
  struct Row {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
  } rows[] = {
      {"CR LF", "a\r\nb\r\n", {"a", "b"}},
      {"LF", "a\nb", {"a", "b"}},
      {"CR", "a\rb\r", {"a", "b"}},
      {"empty lines kept", "a\n\n\nb\n", {"a", "", "", "b"}},
      {"LF CR is two breaks", "a\n\rb", {"a", "", "b"}},
      {"UTF-8 byte order mark",
       "\xEF\xBB\xBFgr\xC3\xBC\xC3\x9F\r\n\xE2\x82\xAC",
       {"gr\xFC\xDF", "\x80"}},
      {"UTF-8 outside the code page", "\xEF\xBB\xBF\xC5\x81\xF0\x9F\x98\x80.", {"??."}},
      // Not UTF-8 (a lone byte, an overlong NUL, a surrogate half): the bytes as they are.
      {"UTF-8 with bytes that are not",
       "\xEF\xBB\xBF\xFC\xE0\x80\x80\xED\xA0\x80",
       {"\xFC\xE0\x80\x80\xED\xA0\x80"}},
      {"no byte order mark: the code page", "gr\xC3\xBC", {"gr\xC3\xBC"}},
      {"UTF-16 as Notepad saves it",
       std::string("\xFF\xFE"
                   "P\0N\0\r\0\n\0\xFC\0",
                   12),
       {"PN", "\xFC"}},
  };
  for (const Row& row : rows) {
    WriteBytes(dir_ + "/l.txt", row.bytes);
    std::vector<std::string> lines;
    LoadListRetry(lines, dir_ + "/l.txt");
    EXPECT_EQ(lines, row.lines) << row.name;
  }
}

TEST(FileTextToAnsi, DecodesWhatTheByteOrderMarkNames) {
  struct Row {
    const char* name;
    std::string bytes;
    std::string text;
  } rows[] = {
      {"no mark: code page already", "Gr\xFC\xDF \x80", "Gr\xFC\xDF \x80"},
      {"no mark: UTF-8 stays bytes", "\xC3\xBC", "\xC3\xBC"},
      {"UTF-8", "\xEF\xBB\xBF\xC3\xBC\xE2\x82\xAC", "\xFC\x80"},
      {"UTF-8 mark only", "\xEF\xBB\xBF", ""},
      {"UTF-16 LE",
       std::string("\xFF\xFE"
                   "a\0\xFC\0\xAC\x20\x41\x01",
                   10),
       "a\xFC\x80?"},
      {"UTF-16 BE",
       std::string("\xFE\xFF"
                   "\0a\0\xFC\x20\xAC",
                   8),
       "a\xFC\x80"},
      {"UTF-16 pair is one character",
       std::string("\xFF\xFE"
                   "\x3D\xD8\x00\xDE!\0",
                   8),
       "?!"},
      {"UTF-16 lone surrogate",
       std::string("\xFF\xFE"
                   "\x3D\xD8!\0",
                   6),
       "?!"},
      {"UTF-16 odd last byte dropped",
       std::string("\xFF\xFE"
                   "a\0b",
                   5),
       "a"},
      {"UTF-16 line breaks",
       std::string("\xFF\xFE"
                   "a\0\r\0\n\0",
                   8),
       "a\r\n"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(FileTextToAnsi(row.bytes), row.text) << row.name;
}

TEST_F(FilesTest, LoadListOfAMissingFileKeepsTheLines) {
  std::vector<std::string> lines = {"keep", "me"};
  CountingPolicy counting;
  LoadListRetry(lines, dir_ + "/none.txt", counting.Make());
  EXPECT_EQ(lines, (std::vector<std::string>{"keep", "me"}));
  EXPECT_EQ(counting.pauses, 0);
}

TEST_F(FilesTest, LoadListRetriesWhileTheFileIsLocked) {
  const std::string path = dir_ + "/locked.txt";
  WriteBytes(path, "fresh\r\n");
  auto holder =
      platform::File::Open(path, platform::FileAccess::kReadWrite, platform::FileShare::kExclusive,
                           platform::FileCreate::kOpenExisting);
  ASSERT_TRUE(holder.IsOpen());
  CountingPolicy counting;
  counting.on_pause = [&](int n) {
    if (n == 4) holder.Close();
  };
  std::vector<std::string> lines;
  LoadListRetry(lines, path, counting.Make());
  EXPECT_EQ(lines, std::vector<std::string>{"fresh"});
  EXPECT_EQ(counting.pauses, 4);
}

TEST_F(FilesTest, SaveListRaisesTheLastErrorAfterAllAttempts) {
  WriteBytes(dir_ + "/blocker", "x");  // a file where the folder should be
  CountingPolicy counting;
  EXPECT_THROW(SaveListRetry({"a"}, dir_ + "/blocker/notes.txt", counting.Make()), EFCreateError);
  EXPECT_EQ(counting.pauses, 99);
  EXPECT_EQ(ReadBytes(dir_ + "/blocker"), "x");
}

TEST_F(FilesTest, SaveListRetriesUntilTheFileCanBeWritten) {
  const std::string path = dir_ + "/busy.txt";
  WriteBytes(path, "old");
  auto holder =
      platform::File::Open(path, platform::FileAccess::kRead, platform::FileShare::kDenyWrite,
                           platform::FileCreate::kOpenExisting);
  ASSERT_TRUE(holder.IsOpen());
  CountingPolicy counting;
  counting.on_pause = [&](int n) {
    if (n == 2) holder.Close();
  };
  SaveListRetry({"new"}, path, counting.Make());
  EXPECT_EQ(ReadBytes(path), "new\r\n");
  EXPECT_EQ(counting.pauses, 2);
}

TEST_F(FilesTest, SaveListOfABareNameWritesToTheCurrentFolder) {
  // Regression: the empty folder part of a bare name must not count as a folder to create.
  char* cwd = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(dir_.c_str()), 0);
  CountingPolicy counting;
  EXPECT_NO_THROW(SaveListRetry({"x"}, "bare.txt", counting.Make()));
  EXPECT_EQ(counting.pauses, 0);
  EXPECT_EQ(ReadBytes(dir_ + "/bare.txt"), "x\r\n");
  ASSERT_EQ(::chdir(cwd), 0);
  std::free(cwd);
}

TEST_F(FilesTest, ExpandUNCFileNameGivesTheFullName) {
  char* cwd = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(dir_.c_str()), 0);
  char* here = ::getcwd(nullptr, 0);
  EXPECT_EQ(ExpandUNCFileName("daten/../Daten/"), std::string(here) + "/Daten/");
  EXPECT_EQ(ExpandUNCFileName("/srv/kontorix/./db"), "/srv/kontorix/db");
  EXPECT_EQ(ExpandUNCFileName(""), "") << "nothing to expand stays nothing";
  std::free(here);
  ASSERT_EQ(::chdir(cwd), 0);
  std::free(cwd);
}

TEST(RetryCall, PassesOnTheLastErrorOnly) {
  CountingPolicy counting;
  int calls = 0;
  try {
    RetryCall(counting.Make(5), [&] {
      ++calls;
      throw EFOpenError("attempt " + std::to_string(calls));
    });
    FAIL() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), "attempt 5");
  }
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(counting.pauses, 4);

  calls = 0;
  RetryCall(counting.Make(5), [&] {
    if (++calls < 3) throw EFOpenError("busy");
  });
  EXPECT_EQ(calls, 3);
}

TEST(RetryPolicy, DefaultIsAHundredTimesAHundredMilliseconds) {
  const RetryPolicy policy;
  EXPECT_EQ(policy.attempts, 100);
  EXPECT_EQ(policy.pause_ms, 100u);
  const uint64_t start = platform::GetTickCount64();
  policy.Pause();
  EXPECT_GE(platform::GetTickCount64() - start, 100u);
}

class UserModeTest : public FilesTest {
 protected:
  void TearDown() override {
    ::unlink(program_ini_.c_str());
    FilesTest::TearDown();
  }
  const std::string program_ini_ = platform::ProgramFolder() + "UserMode.INI";
};

TEST_F(UserModeTest, ChoosingAFolderCopiesThePlacementFileOnce) {
  EXPECT_EQ(UserModeFile(), program_ini_) << "before any choice: beside the program";
  WriteBytes(program_ini_, "[Pos]\r\nLeft=10\r\n");

  SetUserModeFolder(dir_);
  EXPECT_EQ(UserModeFile(), dir_ + "/UserMode.INI");
  EXPECT_EQ(ReadBytes(dir_ + "/UserMode.INI"), "[Pos]\r\nLeft=10\r\n");

  // A folder that has its own file keeps it.
  ASSERT_TRUE(ForceDirectories(dir_ + "/other"));
  WriteBytes(dir_ + "/other/UserMode.INI", "mine");
  SetUserModeFolder(dir_ + "/other/");
  EXPECT_EQ(UserModeFile(), dir_ + "/other/UserMode.INI");
  EXPECT_EQ(ReadBytes(dir_ + "/other/UserMode.INI"), "mine");

  // A copy that fails (no such folder) is ignored; the choice is still made.
  EXPECT_NO_THROW(SetUserModeFolder(dir_ + "/missing"));
  EXPECT_EQ(UserModeFile(), dir_ + "/missing/UserMode.INI");

  SetUserModeFolder(platform::ProgramFolder());
  EXPECT_EQ(UserModeFile(), program_ini_);
}

// The empty folder once copied the file into the current folder but went on naming the
// program folder's file, so the copy was never read.
TEST_F(UserModeTest, EmptyFolderIsTheCurrentFolderForTheCopyAndTheFile) {
  WriteBytes(program_ini_, "[Pos]\r\nLeft=20\r\n");
  const std::string here = dir_ + "/cwd";
  ASSERT_TRUE(ForceDirectories(here));
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(::chdir(here.c_str()), 0);
  SetUserModeFolder("");
  const std::string file = UserModeFile();
  const std::string copied = ReadBytes(here + "/UserMode.INI");
  const std::string named = ReadBytes(file);
  ASSERT_EQ(::chdir(previous), 0);
  EXPECT_EQ(copied, "[Pos]\r\nLeft=20\r\n");
  EXPECT_EQ(named, copied) << file << " is not the copy";
  EXPECT_NE(file, program_ini_);
  SetUserModeFolder(platform::ProgramFolder());
  EXPECT_EQ(UserModeFile(), program_ini_);
}

}  // namespace
}  // namespace rb
